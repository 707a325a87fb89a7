// One uniform type identifier of the toolbox's own registry: its identifier,
// description and tags (file-name extensions, four-character types, MIME
// types), and the links to the types it conforms to (parents) and the types
// that conform to it (children). Every walk of the links visits a type once,
// so a graph with cycles still ends.
#pragma once

#include <map>
#include <vector>

#include "files/VFilePath.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VUTI;

// Identifiers ordered as the registry compares them: through collation,
// diacritics not significant.
struct VUTIIdentifierLess {
    bool operator()(const VString& inA, const VString& inB) const { return inA.CompareToString(inB, false) < 0; }
};

using VUTIMap = std::map<VString, VUTI*, VUTIIdentifierLess>;

class VUTI : public VObject, public IRefCountable {
public:
    VUTI() = default;
    VUTI(const VUTI&) = delete;
    VUTI& operator=(const VUTI&) = delete;
    ~VUTI() override;

    const VString& GetIdentifier() const { return fIdentifier; }
    void SetIdentifier(const VString& inIdentifier) { fIdentifier = inIdentifier; }
    // The text a declaration reader appends in pieces.
    VString& GetIdentifierForAppending() { return fIdentifier; }
    const VString& GetDescription() const { return fDescription; }
    void SetDescription(const VString& inDescription) { fDescription = inDescription; }
    VString& GetDescriptionForAppending() { return fDescription; }
    const VString& GetReference() const { return fReference; }
    void SetReference(const VString& inReference) { fReference = inReference; }
    const VFilePath& GetImagePath() const { return fImagePath; }
    void SetImagePath(const VFilePath& inPath) { fImagePath = inPath; }
    bool IsTemporary() const { return fTemporary; }
    void SetTemporary(bool inTemporary) { fTemporary = inTemporary; }
    bool IsDynamic() const { return fDynamic; }
    void SetDynamic(bool inDynamic) { fDynamic = inDynamic; }

    const std::vector<VString>& GetExtensionsVector() const { return fExtensions; }
    void SetExtensionsVector(const std::vector<VString>& inTags) { fExtensions = inTags; }
    const std::vector<VString>& GetOSTypesVector() const { return fOSTypes; }
    void SetOSTypesVector(const std::vector<VString>& inTags) { fOSTypes = inTags; }
    const std::vector<VString>& GetMIMETypesVector() const { return fMIMETypes; }
    void SetMIMETypesVector(const std::vector<VString>& inTags) { fMIMETypes = inTags; }

    // Appends the tag unless an equal one (diacritics not significant) is
    // there.
    void AddExtension(const VString& inTag);
    void AddOSType(const VString& inTag);
    void AddMIMEType(const VString& inTag);

    bool ConformsToExtension(const VString& inTag) const;
    bool ConformsToOSType(const VString& inTag) const;
    bool ConformsToMIMEType(const VString& inTag) const;

    // The nearest type that declares the tag: this one, else its
    // non-temporary ancestors depth first in parent order; retained, or null.
    VUTI* GetHighestParentThatConformsToExtension(const VString& inTag) const;
    VUTI* GetHighestParentThatConformsToOSType(const VString& inTag) const;
    VUTI* GetHighestParentThatConformsToMIMEType(const VString& inTag) const;

    // Appends this type's extensions, then those of its non-temporary
    // ancestors, each once.
    void GetAllExtensionsVector(std::vector<VString>& ioExtensions) const;

    // This type, or a non-temporary ancestor, has the identifier.
    bool ConformsToIdentifier(const VString& inIdentifier) const;
    bool IsPublic() const;

    // Copies of the maps (no reference added); the setters take the given
    // entries and retain each.
    VUTIMap GetParentUTIsMap() const { return fParents; }
    VUTIMap GetChildrenUTIsMap() const { return fChildren; }
    void SetParentUTIsMap(const VUTIMap& inMap);
    void SetChildrenUTIsMap(const VUTIMap& inMap);

    // Adds (and retains) the type unless it is null, has no identifier or
    // its identifier is present already.
    void AddParentUTI(VUTI* inUTI);
    void AddChildUTI(VUTI* inUTI);

    // inUTI is an ancestor (through non-temporary parents); CouldBeAParent
    // also counts temporary direct parents.
    bool IsParent(const VUTI* inUTI) const;
    bool CouldBeAParent(const VUTI* inUTI) const;
    // inUTI is a descendant; CouldBeAChild also counts temporary direct
    // children.
    bool IsChild(const VUTI* inUTI) const;
    bool CouldBeAChild(const VUTI* inUTI) const;
    // inUTI descends from this type or from one of its ancestors.
    bool IsChildOrChildOfAParent(const VUTI* inUTI) const;

    // Removes the temporary parent and child entries of that identifier.
    void RemoveTemporaryUTI(const VString& inIdentifier);

    // Drops both maps, releasing each type: breaks the cycles of links.
    void _Detach();

private:
    enum class Tags { kExtension, kOSType, kMIMEType };
    const std::vector<VString>& _Tags(Tags inKind) const;
    VUTI* _GetHighestParentThatConformsTo(Tags inKind, const VString& inTag) const;
    static void _SetMap(VUTIMap& ioMap, const VUTIMap& inMap);
    static void _ReleaseMap(VUTIMap& ioMap);

    bool fTemporary = false;
    VString fIdentifier;
    VString fDescription;
    VString fReference;
    VFilePath fImagePath;
    bool fDynamic = false;
    std::vector<VString> fOSTypes;
    std::vector<VString> fExtensions;
    std::vector<VString> fMIMETypes;
    VUTIMap fParents;
    VUTIMap fChildren;
};

}  // namespace qelt
