#include "files/VFileKindManager.h"

#include "files/mac/XMacFile.h"

namespace qelt {

VFileKindManager* VFileKindManager::sManager = nullptr;

VFileKindManager::VFileKindManager()
{
    fLocalized[0] = VString("All");
    fLocalized[1] = VString("All readable documents");
}

VFileKindManager::~VFileKindManager() = default;

bool VFileKindManager::Init()
{
    if (sManager == nullptr)
        sManager = new VFileKindManager;
    return sManager != nullptr;
}

void VFileKindManager::DeInit()
{
    VFileKindManager* manager = sManager;
    sManager = nullptr;
    if (manager != nullptr)
        manager->Release();
}

void VFileKindManager::_Store(const VString& inID, VFileKind* inKind)
{
    fKinds[inID] = inKind;
}

VFileKind* VFileKindManager::RetainFileKind(const VString& inID)
{
    {
        StLocker hold(fLock);
        auto it = fKinds.find(inID);
        if (it != fKinds.end()) {
            if (it->second)
                it->second->Retain();
            return it->second.Get();
        }
    }
    // Built outside the lock; a kind stored meanwhile under the same
    // identifier wins, so every caller gets the one stored object.
    VRefPtr<VFileKind> made = AdoptRef(XMacFile::CreatePublicFileKind(inID));
    if (!made)
        return nullptr;
    StLocker hold(fLock);
    auto it = fKinds.find(inID);
    if (it != fKinds.end() && it->second) {
        it->second->Retain();
        return it->second.Get();
    }
    _Store(inID, made.Get());
    return made.Forget();
}

void VFileKindManager::RegisterPrivateFileKind(const VString& inID, const std::vector<VString>& inOsKinds,
                                               const VString& inDescription, const std::vector<VString>& inExtensions,
                                               const std::vector<VString>& inParentIDs)
{
    VRefPtr<VFileKind> kind =
        AdoptRef(VFileKind::Create(inID, inOsKinds, inDescription, inExtensions, inParentIDs, false));
    if (!kind)
        return;
    StLocker hold(fLock);
    _Store(inID, kind.Get());
}

void VFileKindManager::RegisterPrivateFileKind(const VString& inID, const VString& inDescription,
                                               const std::vector<VString>& inExtensions,
                                               const std::vector<VString>& inParentIDs)
{
    RegisterPrivateFileKind(inID, std::vector<VString>(), inDescription, inExtensions, inParentIDs);
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithExtension(const VString& inExtension)
{
    {
        StLocker hold(fLock);
        for (auto& [id, kind] : fKinds) {
            if (kind && kind->MatchExtension(inExtension)) {
                kind->Retain();
                return kind.Get();
            }
        }
    }
    VRefPtr<VFileKind> made = AdoptRef(XMacFile::CreatePublicFileKindFromExtension(inExtension));
    if (!made)
        return nullptr;
    StLocker hold(fLock);
    if (fKinds.find(made->GetID()) == fKinds.end())
        _Store(made->GetID(), made.Get());
    return made.Forget();
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithOsKind(const VString& inOsKind)
{
    {
        StLocker hold(fLock);
        for (auto& [id, kind] : fKinds) {
            if (kind && kind->MatchOsKind(inOsKind)) {
                kind->Retain();
                return kind.Get();
            }
        }
    }
    return XMacFile::CreatePublicFileKindFromOsKind(inOsKind);
}

void VFileKindManager::RegisterLocalizedString(long inIndex, const VString& inText)
{
    if ((inIndex == 0 || inIndex == 1) && !inText.IsEmpty()) {
        StLocker hold(fLock);
        fLocalized[inIndex] = inText;
    }
}

void VFileKindManager::GetLocalizedString(long inIndex, VString& outText) const
{
    if (inIndex == 0 || inIndex == 1) {
        StLocker hold(fLock);
        outText = fLocalized[inIndex];
    }
}

}  // namespace qelt
