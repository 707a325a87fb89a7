// The toolbox's own registry of uniform type identifiers: it learns type
// declarations from property lists, links each type to the types it
// conforms to, registers each as a private file kind, and answers which
// types a tag denotes and whether a file conforms to a type. It is made once,
// on first use, and is used by one task at a time.
#pragma once

#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "xml/VUTI.h"

namespace qelt {

class VFile;
class VLocalizationManager;
class VUTIManagerXMLHandler;
class VXMLParser;

extern const char kUTTagClassFilenameExtension[];  // "public.filename-extension"
extern const char kUTTagClassMIMEType[];           // "public.mime-type"
extern const char kUTTagClassOSType[];             // "com.apple.ostype"

class VUTIManager : public VObject, public IRefCountable {
public:
    // The singleton, made on the first call, and made again by the first
    // call after DeInit; the making is guarded, whatever the threads.
    static VUTIManager* GetUTIManager();
    static bool Init() { return true; }
    static bool DeInit();
    static void Delete() { DeInit(); }

    VUTIManager();
    VUTIManager(const VUTIManager&) = delete;
    VUTIManager& operator=(const VUTIManager&) = delete;
    ~VUTIManager() override;

    // Reads the declarations of a property list (false only for a null or
    // missing file), then links and registers them.
    bool LoadXMLFile(VFile* inFile);
    VError AnalyzeXMLFile(const VFile* inFile);
    // LoadXMLFile on a property list already in memory.
    bool _LoadXMLText(const VString& inText);
    // Replaces placeholder parents by the registered types of their
    // identifiers (never making a type its own ancestor) and registers every
    // type as a private file kind.
    VError ProcessExtractedUTIs();

    static bool UTTypeEqual(const VString& inA, const VString& inB) { return inA.EqualToString(inB, false); }

    // Registers the type (retained) unless its identifier is empty or taken.
    bool AddNewUTI(VUTI* inUTI);
    size_t GetUTIsCount() const { return fUTIs.size(); }

    // Not retained; its .strings table localises the descriptions.
    void SetLocalizationManager(VLocalizationManager* inManager) { fLocalizationManager = inManager; }
    VLocalizationManager* GetLocalizationManager() const { return fLocalizationManager; }

    // Every registered type that declares or inherits the tag, each retained,
    // in a new vector the caller deletes; null for an empty class or tag.
    std::vector<VUTI*>* UTTypeCreateAllIdentifiersForTag(const VString& inTagClass, const VString& inTag,
                                                         const VString& inConformingTo);
    // The preferred type for the tag (public ones first), retained, or null.
    VUTI* UTTypeCreatePreferredIdentifierForTag(const VString& inTagClass, const VString& inTag,
                                                const VString& inConformingTo);
    // Whether the file's type (from its extension) conforms to the
    // identifier; false for a null or missing file. Raises nothing.
    bool UTTypeConformsTo(VFile* inFile, const VString& inIdentifier);

    const VUTIMap& GetUTIs() const { return fUTIs; }

    static VUTIManager* fSingleton;

private:
    bool _Parse(VFile* inFile, const VString* inText);

    VUTIMap fUTIs;
    VXMLParser* fParser = nullptr;
    VUTIManagerXMLHandler* fHandler = nullptr;
    VLocalizationManager* fLocalizationManager = nullptr;
};

}  // namespace qelt
