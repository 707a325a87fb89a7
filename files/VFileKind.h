// A kind of document: an identifier (a uniform type identifier for the
// public kinds), a description, the filename extensions and platform type
// codes that mark it and the identifiers of the kinds it belongs to. A kind
// never changes after creation, so it may be shared freely.
#pragma once

#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VFileKind : public VObject, public IRefCountable {
public:
    // A new kind (one reference for the caller) holding copies of the arguments.
    static VFileKind* Create(const VString& inID, const std::vector<VString>& inOsKinds,
                             const VString& inDescription, const std::vector<VString>& inExtensions,
                             const std::vector<VString>& inParentIDs, bool inIsPublic);

    const VString& GetID() const { return fID; }
    const VString& GetDescription() const { return fDescription; }
    const std::vector<VString>& GetExtensions() const { return fExtensions; }
    const std::vector<VString>& GetOsKinds() const { return fOsKinds; }
    bool IsPublic() const { return fIsPublic; }

    // Some extension equals inExtension (diacritics ignored).
    bool MatchExtension(const VString& inExtension) const;
    // Some platform type code equals inOsKind exactly.
    bool MatchOsKind(const VString& inOsKind) const;

    // The first extension (or type code); out is cleared when there is none.
    bool GetPreferredExtension(VString& outExtension) const;
    bool GetPreferredOsKind(VString& outOsKind) const;
    // Copies of the parent identifiers; false when there are none.
    bool GetParentIDs(std::vector<VString>& outIDs) const;

    bool ConformsTo(const VFileKind& inOther) const;
    // False when the manager knows no kind of that identifier.
    bool ConformsTo(const VString& inOtherID) const;

private:
    VFileKind() = default;
    ~VFileKind() override = default;

    VString fDescription;
    VString fID;
    std::vector<VString> fOsKinds;
    std::vector<VString> fExtensions;
    std::vector<VString> fParentIDs;
    bool fIsPublic = false;
};

}  // namespace qelt
