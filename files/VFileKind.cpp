#include "files/VFileKind.h"

#include "files/VFileKindManager.h"
#include "files/mac/XMacFile.h"

namespace qelt {

VFileKind* VFileKind::Create(const VString& inID, const std::vector<VString>& inOsKinds, const VString& inDescription,
                             const std::vector<VString>& inExtensions, const std::vector<VString>& inParentIDs,
                             bool inIsPublic)
{
    VFileKind* kind = new VFileKind;
    if (kind == nullptr)
        return nullptr;
    kind->fDescription = inDescription;
    kind->fID = inID;
    kind->fOsKinds = inOsKinds;
    kind->fExtensions = inExtensions;
    kind->fParentIDs = inParentIDs;
    kind->fIsPublic = inIsPublic;
    return kind;
}

bool VFileKind::MatchExtension(const VString& inExtension) const
{
    for (const VString& ext : fExtensions)
        if (ext.EqualToString(inExtension, false))
            return true;
    return false;
}

bool VFileKind::MatchOsKind(const VString& inOsKind) const
{
    for (const VString& kind : fOsKinds)
        if (kind.EqualToString(inOsKind, true))
            return true;
    return false;
}

namespace {

bool First(const std::vector<VString>& inList, VString& out)
{
    if (inList.empty()) {
        out.Clear();
        return false;
    }
    out = inList.front();
    return true;
}

}  // namespace

bool VFileKind::GetPreferredExtension(VString& outExtension) const { return First(fExtensions, outExtension); }

bool VFileKind::GetPreferredOsKind(VString& outOsKind) const { return First(fOsKinds, outOsKind); }

bool VFileKind::GetParentIDs(std::vector<VString>& outIDs) const
{
    outIDs = fParentIDs;
    return !outIDs.empty();
}

bool VFileKind::ConformsTo(const VFileKind& inOther) const { return XMacFile::IsFileKindConformsTo(*this, inOther); }

bool VFileKind::ConformsTo(const VString& inOtherID) const
{
    VFileKindManager* manager = VFileKindManager::Get();
    if (manager == nullptr)
        return false;
    VRefPtr<VFileKind> other = AdoptRef(manager->RetainFileKind(inOtherID));
    return other && ConformsTo(*other);
}

}  // namespace qelt
