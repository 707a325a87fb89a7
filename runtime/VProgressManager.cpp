#include "runtime/VProgressManager.h"

#include "runtime/VProgressIndicator.h"
#include "runtime/VRefCountedSessionInfo.h"
#include "values/VValueBag.h"

namespace qelt {

VProgressManager* VProgressManager::sProgressManager = nullptr;

bool VProgressManager::Init()
{
    if (sProgressManager == nullptr)
        sProgressManager = new VProgressManager();
    return true;
}

bool VProgressManager::Deinit()
{
    delete sProgressManager;
    sProgressManager = nullptr;
    return true;
}

void VProgressManager::RegisterProgress(VProgressIndicator* indicator)
{
    if (sProgressManager != nullptr)
        sProgressManager->_RegisterProgress(indicator);
}

void VProgressManager::UnregisterProgress(VProgressIndicator* indicator)
{
    if (sProgressManager != nullptr)
        sProgressManager->_UnregisterProgress(indicator);
}

void VProgressManager::_RegisterProgress(VProgressIndicator* indicator)
{
    StLocker locker(&fLock);
    fRegistry.emplace(indicator->GetUUID(), indicator);
}

void VProgressManager::_UnregisterProgress(VProgressIndicator* indicator)
{
    StLocker locker(&fLock);
    auto it = fRegistry.find(indicator->GetUUID());
    if (it == fRegistry.end())
        return;
    it->second->DoMetrics();
    fRegistry.erase(it);
}

VProgressIndicator* VProgressManager::RetainProgress(const VUUID& id)
{
    return sProgressManager != nullptr ? sProgressManager->_RetainProgress(id) : nullptr;
}

// The registry holds no reference: an indicator whose count has reached 0
// is being destroyed and waits for this lock to leave; it is never handed out.
VProgressIndicator* VProgressManager::_RetainProgress(const VUUID& id)
{
    StLocker locker(&fLock);
    auto it = fRegistry.find(id);
    if (it == fRegistry.end() || !it->second->_TryRetain())
        return nullptr;
    return it->second;
}

VProgressIndicator* VProgressManager::_RetainProgressIndicator(const VString& name)
{
    StLocker locker(&fLock);
    for (auto& [id, indicator] : fRegistry) {
        if (indicator->GetUserInfo().EqualToString(name, false) && indicator->_TryRetain())
            return indicator;
    }
    return nullptr;
}

VError VProgressManager::GetAllProgressInfo(std::vector<VRefPtr<VRefCountedSessionInfo>>& out)
{
    if (sProgressManager == nullptr)
        return VE_OK;
    StLocker locker(&sProgressManager->fLock);
    for (auto& [id, indicator] : sProgressManager->fRegistry) {
        if (indicator->GetSessionCount() < 1)
            continue;
        indicator->UpdateSessionsInfos();
        VRefCountedSessionInfo* snapshot = indicator->RetainSessionsInfos();
        if (snapshot != nullptr)
            out.push_back(AdoptRef(snapshot));
    }
    return VE_OK;
}

VError VProgressManager::_GetProgressInfo(VValueBag& bag, const VString* name)
{
    StLocker locker(&fLock);
    for (auto& [id, indicator] : fRegistry) {
        if (name == nullptr) {
            _ProgressInfoToBag(bag, indicator);
        } else if (indicator->GetUserInfo().EqualToString(*name, false)) {
            _ProgressInfoToBag(bag, indicator);
            break;
        }
    }
    return VE_OK;
}

VError _ProgressInfoToBag(VValueBag& bag, VProgressIndicator* indicator)
{
    VValueBag* child = new VValueBag();
    bag.AddElement("ProgressInfo", child);
    VError err = indicator->SaveInfoToBag(*child);
    child->Release();
    return err;
}

VProgressIndicator* VProgressManager::CreateStdProgress(int kind, unsigned int flags)
{
    if (sProgressManager == nullptr || !sProgressManager->fFactory)
        return nullptr;
    return sProgressManager->fFactory->Create(kind, flags);
}

}  // namespace qelt
