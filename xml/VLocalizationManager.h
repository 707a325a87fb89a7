// The localisation manager: for one language (a dialect code) it loads a
// bundle's XLIFF and .strings files into tables and answers look-ups by key,
// by numbered string list, by group and by error code. It is the toolbox's
// ILocalizer: the error machinery and LocalizeString reach it through that
// interface. Loading is done before the manager is shared; look-ups take its
// lock and are safe from any thread afterwards.
#pragma once

#include <map>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/VString.h"
#include "runtime/ILocalizer.h"
#include "runtime/VCriticalSection.h"
#include "values/VTime.h"

namespace qelt {

class VFile;
class VFolder;
class VLocalizationXMLHandler;
class VStream;
class VValueBag;
class VXMLParser;

// The key of a numbered string list: list id, then index.
struct STRSharpCodes {
    int fID = 0;
    unsigned int fIndex = 0;

    STRSharpCodes() = default;
    STRSharpCodes(int inID, unsigned int inIndex) : fID(inID), fIndex(inIndex) {}
};

// Orders list ids (signed), then indexes (unsigned).
struct CompareTwoSTRSharpCodes {
    bool operator()(const STRSharpCodes& inA, const STRSharpCodes& inB) const
    {
        return inA.fID != inB.fID ? inA.fID < inB.fID : inA.fIndex < inB.fIndex;
    }
};

// Unit-by-unit order of strings, without collation: keys are exact.
struct CompareTwoVStrings {
    bool operator()(const VString& inA, const VString& inB) const { return inA.CompareToStringRaw(inB) < 0; }
};

// Paths through collation of their texts, diacritics not significant.
struct CompareTwoVFilePaths {
    bool operator()(const VFilePath& inA, const VFilePath& inB) const
    {
        VString a, b;
        inA.GetPath(a);
        inB.GetPath(b);
        return a.CompareToString(b, false) < 0;
    }
};

// The order of group-bag names and types: through collation, diacritics not
// significant.
struct CompareTwoVStringsCollated {
    bool operator()(const VString& inA, const VString& inB) const { return inA.CompareToString(inB, false) < 0; }
};

class VLocalizationManager : public VObject, public IRefCountable, public ILocalizer {
public:
    explicit VLocalizationManager(unsigned int inDialect);
    VLocalizationManager(const VLocalizationManager&) = delete;
    VLocalizationManager& operator=(const VLocalizationManager&) = delete;

    // Leaves every error signature it serves and the process object before
    // anything is destroyed, so no caller can reach a dying manager.
    ~VLocalizationManager() override;

    // ILocalizer, and the look-ups of the tables; each takes the lock.
    bool LocalizeStringWithKey(const VString& inKey, VString& outText) override;
    bool LocalizeStringWithDotStringsKey(const VString& inKey, VString& outText) override;
    // Looks up "ERR_" + the four signature characters + "_" + the number
    // (signed), cut at 15 characters.
    bool LocalizeErrorMessage(VError inErrorCode, VString& outText) override;
    unsigned int GetLocalizationLanguage() override;
    const VValueBag* RetainGroupBag(const VString& inName) override;

    bool LocalizeStringWithSTRSharpCodes(const STRSharpCodes& inCodes, VString& outText);
    // The texts of (id, 1), (id, 2), ... up to the first missing index.
    bool LocalizeGroupOfStringsWithAStrSharpID(int inID, std::vector<VString>& outTexts);
    // Every text of the named group, by ascending id.
    bool GetOrderedStringsOfGroup(const VString& inGroupName, std::vector<VString>& outTexts);
    // Appends every bag filed under the type, retained. Not locked.
    void RetainGroupBagsByRestype(const VString& inRestype, std::vector<VRefPtr<const VValueBag>>& outBags);

    // Empties every table of texts and bags.
    bool ClearLocalizations();

    // The key under which the error's text is looked up.
    static VString ErrorKey(VError inErrorCode);

    // Loading; none of it takes the lock, so a manager is loaded before it
    // is shared. The bundle's Contents/Resources folder, then:
    bool LoadDefaultLocalizationFoldersForComponentOrPlugin(VFolder* inBundleFolder);
    // Every file directly in the resources folder (no language check), then
    // the language folders of the manager's language, most specific first.
    bool LoadDefaultLocalizationFolders(VFolder* inResourcesFolder);
    // Every ".xlf" and ".strings" file directly in the folder.
    VError ScanAndLoadFolder(VFolder* inFolder, bool inAvoidLanguageCheck);
    // One file: 0 for an XLIFF file (its read or parse errors stay on the
    // task's error stack) and for a .strings file, 'qelt' 613 for another
    // extension, 'qelt' 3 for null, 'qelt' 600 for a missing file.
    VError LoadFile(VFile* inFile, bool inAvoidLanguageCheck);
    VError AnalyzeXLIFFFile(VFile* inFile, bool inAvoidLanguageCheck);
    VError AnalyzeDotStringsFile(VFile* inFile);

    // Whether an XLIFF file loaded before changed or went, or a new one
    // lies in a loaded folder (.strings files are not watched).
    bool DoesNeedAnUpdate();
    // Reloads every loaded folder and file when DoesNeedAnUpdate says so.
    bool UpdateIfNeeded();

    // Loading from contents already read: an XLIFF text (its declaration
    // does not choose its encoding), and the lines of a .strings stream
    // (read until its first error or its end; the answer is 0).
    VError _AnalyzeXLIFFContent(const VString& inText, bool inAvoidLanguageCheck);
    VError _AnalyzeDotStringsStream(VStream* inStream);

    // Filing, used by the XLIFF handlers; an existing entry is replaced only
    // with inReplace. Not locked; each answers true.
    bool _InsertSTRSharpCodeAndString(STRSharpCodes inCodes, const VString& inText, bool inReplace);
    bool _InsertObjectURLAndString(const VString& inKey, const VString& inText, bool inReplace);
    bool _InsertDotStringsKeyAndString(const VString& inKey, const VString& inText, bool inReplace);
    bool _InsertIDAndStringInAGroup(unsigned int inID, const VString& inText, const VString& inGroupName,
                                    bool inReplace);
    // The first bag of a name stays; every bag is kept under its type.
    bool _InsertGroupBag(const VString& inName, const VString& inRestype, const VValueBag* inBag);

private:
    VError _LoadFile(VFile* inFile, bool inAvoidLanguageCheck, bool inFromScan);

    using StringTable = std::map<VString, VString, CompareTwoVStrings>;

    VCriticalSection fLock;
    unsigned int fLanguage;
    std::map<STRSharpCodes, VString, CompareTwoSTRSharpCodes> fSTRSharpTable;
    StringTable fKeyTable;
    std::map<VString, std::map<unsigned int, VString>, CompareTwoVStrings> fGroupTables;
    StringTable fDotStringsTable;
    VXMLParser* fParser = nullptr;
    VLocalizationXMLHandler* fXLIFFHandler = nullptr;
    std::vector<VFilePath> fLoadedPaths;
    std::map<VFilePath, VTime, CompareTwoVFilePaths> fFileStamps;
    std::map<VString, VRefPtr<const VValueBag>, CompareTwoVStringsCollated> fGroupBagsByName;
    std::multimap<VString, VRefPtr<const VValueBag>, CompareTwoVStringsCollated> fGroupBagsByType;
    std::vector<VRefPtr<VFolder>> fLanguageFolders;
};

// The process localiser's text for the key, else the fallback (ASCII, or
// UTF-8 when it has a byte of 0x80 or more); empty for a null fallback.
VString LocalizeString(const VString& inKey, const char* inFallback);

}  // namespace qelt
