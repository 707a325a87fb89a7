#include "runtime/VRemoteProgressSessionInfo.h"

#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "values/StBagKey.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

const StBagKeyNoDefault<uint32_t, VLong> kFlags("fFlags");
const StBagKeyNoDefault<int32_t, VLong> kSessionCount("fSessionCount");
const StBagKeyNoDefault<int32_t, VLong> kChangesVersion("fChangesVersion");
const StBagKeyNoDefault<int32_t, VLong> kSessionVersion("fSessionVersion");
const StBagKeyNoDefault<int32_t, VLong> kMasterSessionVersion("fMasterSessionVersion");
const StBagKeyNoDefault<bool, VBoolean> kUserAbort("fUserAbort");
const StBagKeyNoDefault<bool, VBoolean> kCanInterrupt("fCanInterrupt");
const StBagKeyNoDefault<uint32_t, VLong> kUpdateFlags("fUpdateFlags");
const StPackedDictionaryKey kCurrent("fCurrent");
const StPackedDictionaryKey kStack("fSessionStack");

void AddRecord(VValueBag& bag, const StPackedDictionaryKey& name, const VProgressIndicatorInfo& record,
               const VProgressIndicatorInfo* reference)
{
    VValueBag* child = new VValueBag();
    VString kind;
    record.SaveToBag(*child, kind, reference);
    bag.AddElement(name, child);
    child->Release();
}

}  // namespace

VRemoteProgressSessionInfo::VRemoteProgressSessionInfo(const VRemoteProgressSessionInfo* other)
{
    if (other != nullptr)
        *this = *other;
}

VRemoteProgressSessionInfo& VRemoteProgressSessionInfo::operator=(const VRemoteProgressSessionInfo& other)
{
    if (this == &other)
        return *this;
    fSessionCount = other.fSessionCount;
    fSessionStack = other.fSessionStack;
    fChangesVersion = other.fChangesVersion;
    fMasterSessionVersion = other.fMasterSessionVersion;
    fSessionVersion = other.fSessionVersion;
    fUserAbort = other.fUserAbort;
    fCanInterrupt = other.fCanInterrupt;
    fFlags = other.fFlags;
    return *this;
}

void VRemoteProgressSessionInfo::Reset()
{
    fFlags = 0;
    fSessionCount = 0;
    fChangesVersion = 0;
    fMasterSessionVersion = 0;
    fSessionVersion = 0;
    fUserAbort = false;
    fCanInterrupt = false;
    fSessionStack.clear();
}

VError VRemoteProgressSessionInfo::SaveToBag(VValueBag& bag, VString& kind,
                                             const VRemoteProgressSessionInfo* reference) const
{
    kind = "DistantSessionInfo";
    kFlags.Set(bag, fFlags);
    if (fFlags & kRemoteSessionCount)
        kSessionCount.Set(bag, fSessionCount);
    if (fFlags & kRemoteChangesVersion)
        kChangesVersion.Set(bag, fChangesVersion);
    if (fFlags & kRemoteSessionVersion)
        kSessionVersion.Set(bag, fSessionVersion);
    if (fFlags & kRemoteMasterVersion)
        kMasterSessionVersion.Set(bag, fMasterSessionVersion);
    if (fFlags & kRemoteUserAbort)
        kUserAbort.Set(bag, fUserAbort);
    if (fFlags & kRemoteCanInterrupt)
        kCanInterrupt.Set(bag, fCanInterrupt);
    if (fFlags & kRemoteCurrentOnly) {
        if (fSessionStack.empty())
            return VE_OK;
        const VProgressIndicatorInfo* base = nullptr;
        if (reference != nullptr && reference->fSessionCount >= 0 && reference->fSessionCount == fSessionCount &&
            !reference->fSessionStack.empty())
            base = &reference->fSessionStack.back();
        AddRecord(bag, kCurrent, fSessionStack.back(), base);
    } else if (fFlags & kRemoteWholeChain) {
        for (const VProgressIndicatorInfo& record : fSessionStack)
            AddRecord(bag, kStack, record, nullptr);
    }
    return VE_OK;
}

VError VRemoteProgressSessionInfo::LoadFromBag(const VValueBag& bag)
{
    fSessionStack.clear();
    fCurrentUpdateFlags = 0;
    fFlags = 0;
    kFlags.Get(bag, fFlags);
    fSessionCount = (fFlags & kRemoteSessionCount) ? kSessionCount.Get(bag) : 0;
    fChangesVersion = (fFlags & kRemoteChangesVersion) ? kChangesVersion.Get(bag) : 0;
    fSessionVersion = (fFlags & kRemoteSessionVersion) ? kSessionVersion.Get(bag) : 0;
    fMasterSessionVersion = (fFlags & kRemoteMasterVersion) ? kMasterSessionVersion.Get(bag) : 0;
    fUserAbort = (fFlags & kRemoteUserAbort) ? kUserAbort.Get(bag) : false;
    fCanInterrupt = (fFlags & kRemoteCanInterrupt) ? kCanInterrupt.Get(bag) : false;
    if (fFlags & kRemoteCurrentOnly) {
        VBagArray* list = bag.GetElements(kCurrent);
        if (list == nullptr || list->GetCount() != 1)
            return VE_OK;
        VRefPtr<VValueBag> child = AdoptRef(list->RetainNth(1));
        fSessionStack.emplace_back();
        fSessionStack.back().LoadFromBag(*child);
        kUpdateFlags.Get(*child, fCurrentUpdateFlags);
    } else if (fFlags & kRemoteWholeChain) {
        // One record per bag of the list, never more.
        VBagArray* list = bag.GetElements(kStack);
        int count = list != nullptr ? list->GetCount() : 0;
        for (int i = 1; i <= count; ++i) {
            VRefPtr<VValueBag> child = AdoptRef(list->RetainNth(i));
            fSessionStack.emplace_back();
            fSessionStack.back().LoadFromBag(*child);
        }
    }
    return VE_OK;
}

void VRemoteProgressSessionInfo::FromProgressInfo(const VProgressIndicatorInfo* current,
                                                  const std::deque<VProgressIndicatorInfo>* stack, int sessionCount,
                                                  unsigned int changes, unsigned int sessionVersion,
                                                  unsigned int masterVersion)
{
    fFlags |= kRemoteSessionCount | kRemoteChangesVersion | kRemoteSessionVersion | kRemoteMasterVersion;
    fSessionCount = sessionCount;
    fChangesVersion = static_cast<int32_t>(changes);
    fSessionVersion = static_cast<int32_t>(sessionVersion);
    fMasterSessionVersion = static_cast<int32_t>(masterVersion);
    if (stack == nullptr) {
        if (sessionCount > 0 && current != nullptr) {
            fSessionStack.push_back(*current);
            fFlags |= kRemoteCurrentOnly;
        }
        return;
    }
    fFlags |= kRemoteWholeChain;
    fSessionStack = *stack;
    if (current != nullptr)
        fSessionStack.push_back(*current);
}

}  // namespace qelt
