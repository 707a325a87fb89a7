#include "runtime/VProgressIndicatorInfo.h"

#include <cmath>
#include <limits>

#include "json/VJSONCloner.h"
#include "json/VJSONObject.h"
#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VSystem.h"
#include "runtime/VTaskMgr.h"
#include "values/StBagKey.h"
#include "values/VBagArray.h"
#include "values/VDuration.h"
#include "values/VTime.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

const StBagKeyNoDefault<uint32_t, VLong> kUpdateFlags("fUpdateFlags");
const StBagKeyNoDefault<VString, VString> kMessage("fMessage");
const StBagKeyNoDefault<long long, VLong8> kValue("fValue");
const StBagKeyNoDefault<long long, VLong8> kMax("fMax");
const StBagKeyNoDefault<uint32_t, VLong> kStartTime("fStartTime");
const StBagKeyNoDefault<bool, VBoolean> kCanInterrupt("fCanInterrupt");
const StBagKeyNoDefault<uint32_t, VLong> kExtraInfoBagVersion("fExtraInfoBagVersion");
const StPackedDictionaryKey kExtraInfo("ExtraInfo");

// The single bag of the element, retained, or null when it holds none or
// several.
VValueBag* RetainUniqueBag(const VValueBag& bag, const StPackedDictionaryKey& name)
{
    VBagArray* list = bag.GetElements(name);
    if (list == nullptr || list->GetCount() != 1)
        return nullptr;
    return list->RetainNth(1);
}

}  // namespace

VProgressIndicatorInfo::VProgressIndicatorInfo()
    : fTaskID(VTaskMgr::GetCurrentTaskID()), fUUID(static_cast<unsigned char>(1)),
      fStartTime(VSystem::GetCurrentTime())
{
}

VProgressIndicatorInfo::VProgressIndicatorInfo(const VProgressIndicatorInfo& other)
    : VObject(), fTaskID(other.fTaskID), fUUID(other.fUUID), fMessage(other.fMessage), fValue(other.fValue),
      fMax(other.fMax), fStartTime(other.fStartTime), fCanInterrupt(other.fCanInterrupt), fRemote(other.fRemote),
      fExtraInfoBagVersion(other.fExtraInfoBagVersion), fCollector(other.fCollector)
{
    _SetExtraBag(other.fExtraInfoBag);
    SetCollectedInfo(other.fCollectedInfo);
}

VProgressIndicatorInfo& VProgressIndicatorInfo::operator=(const VProgressIndicatorInfo& other)
{
    if (this == &other)
        return *this;
    fTaskID = other.fTaskID;
    fUUID = other.fUUID;
    fMessage = other.fMessage;
    fValue = other.fValue;
    fMax = other.fMax;
    fStartTime = other.fStartTime;
    fCanInterrupt = other.fCanInterrupt;
    fRemote = other.fRemote;
    _SetExtraBag(other.fExtraInfoBag);
    fExtraInfoBagVersion = other.fExtraInfoBagVersion;
    fCollector = other.fCollector;
    SetCollectedInfo(other.fCollectedInfo);
    return *this;
}

VProgressIndicatorInfo& VProgressIndicatorInfo::operator=(const VProgressIndicatorInfo* other)
{
    if (other != nullptr)
        return *this = *other;
    fMessage.Clear();
    fValue = 0;
    fMax = 0;
    fStartTime = 0;
    fCanInterrupt = true;
    _SetExtraBag(nullptr);
    fExtraInfoBagVersion = 0;
    fCollector = nullptr;
    SetCollectedInfo(nullptr);
    return *this;
}

VProgressIndicatorInfo::~VProgressIndicatorInfo()
{
    ReleaseRefCountable(fExtraInfoBag);
    ReleaseRefCountable(fCollectedInfo);
}

void VProgressIndicatorInfo::_SetExtraBag(const VValueBag* source)
{
    VValueBag* copy = source != nullptr ? source->Clone() : nullptr;
    ReleaseRefCountable(fExtraInfoBag);
    fExtraInfoBag = copy;
}

void VProgressIndicatorInfo::SetCollectedInfo(VJSONObject* info)
{
    RetainRefCountable(info);
    ReleaseRefCountable(fCollectedInfo);
    fCollectedInfo = info;
}

void VProgressIndicatorInfo::Reset()
{
    fMessage.Clear();
    fValue = 0;
    fMax = 0;
    _ResetStartTime();
    _SetExtraBag(nullptr);
    ++fExtraInfoBagVersion;
    fCollector = nullptr;
    SetCollectedInfo(nullptr);
}

void VProgressIndicatorInfo::_ResetStartTime() { fStartTime = VSystem::GetCurrentTime(); }

void VProgressIndicatorInfo::SetAttribute(const VString& name, const VValueSingle& value)
{
    if (fExtraInfoBag == nullptr)
        fExtraInfoBag = new VValueBag();
    fExtraInfoBag->SetAttribute(StPackedDictionaryKey(name), value);
    ++fExtraInfoBagVersion;
}

void VProgressIndicatorInfo::RemoveAttribute(const VString& name)
{
    if (fExtraInfoBag == nullptr)
        return;
    fExtraInfoBag->RemoveAttribute(StPackedDictionaryKey(name));
    ++fExtraInfoBagVersion;
}

VValueBag* VProgressIndicatorInfo::RetainExtraInfoBag() const { return RetainRefCountable(fExtraInfoBag); }

uint32_t VProgressIndicatorInfo::GetElapsed() const { return VSystem::GetCurrentTime() - fStartTime; }

long long VProgressIndicatorInfo::GetRate() const
{
    double rate = static_cast<double>(fValue) / static_cast<double>(fMax) * 100.0;
    if (!std::isfinite(rate) || rate < 0)
        return 0;
    if (rate >= 9223372036854775807.0)
        return std::numeric_limits<long long>::max();
    return static_cast<long long>(rate);
}

void VProgressIndicatorInfo::GetMessage(VString& out) const
{
    if (fMessage.IsEmpty())
        return;
    out = fMessage;
    uint32_t elapsed = GetElapsed();
    VTime start;
    VTime::Now(start);
    start.AddMilliseconds(-static_cast<long long>(elapsed));
    VValueBag* values = new VValueBag();
    values->SetAttribute("maxValue", VLong8(fMax));
    values->SetAttribute("curValue", VLong8(fValue));
    values->SetAttribute("rateValue", VLong8(GetRate()));
    values->SetAttribute("startTime", start);
    values->SetAttribute("duration", VDuration(static_cast<long long>(elapsed)));
    out.Format(values, true);
    values->Release();
}

void VProgressIndicatorInfo::GetJSONObject(VJSONObject& json) const
{
    json.Clear();
    uint32_t elapsed = GetElapsed();
    VString message;
    GetMessage(message);
    VString uuid;
    fUUID.GetString(uuid);
    VTime start;
    VTime::Now(start);
    start.AddMilliseconds(-static_cast<long long>(elapsed));
    VString startText;
    start.GetStringLocalTime(startText);
    json.SetProperty("message", VJSONValue(message));
    json.SetProperty("maxValue", VJSONValue(static_cast<double>(fMax)));
    json.SetProperty("currentValue", VJSONValue(static_cast<double>(fValue)));
    json.SetProperty("interruptible", VJSONValue(fCanInterrupt ? JSON_true : JSON_false));
    json.SetProperty("remote", VJSONValue(fRemote ? JSON_true : JSON_false));
    json.SetProperty("uuid", VJSONValue(uuid));
    json.SetProperty("taskId", VJSONValue(static_cast<double>(fTaskID)));
    json.SetProperty("startTime", VJSONValue(startText));
    json.SetProperty("duration", VJSONValue(static_cast<double>(elapsed)));
    if (fCollectedInfo != nullptr) {
        VJSONValue copy;
        VJSONCloner cloner;
        if (cloner.CloneObject(fCollectedInfo, copy) == VE_OK && copy.GetObject() != nullptr)
            json.MergeWith(copy.GetObject(), false);
    }
}

VError VProgressIndicatorInfo::SaveToBag(VValueBag& bag, VString& kind, const VProgressIndicatorInfo* reference) const
{
    kind = "VProgressIndicatorInfo";
    unsigned int flags = 0;
    if (reference == nullptr) {
        kUpdateFlags.Set(bag, kProgressInfoComplete);
        kMessage.Set(bag, fMessage);
        kValue.Set(bag, fValue);
        kMax.Set(bag, fMax);
        kStartTime.Set(bag, fStartTime);
        kCanInterrupt.Set(bag, fCanInterrupt);
        kExtraInfoBagVersion.Set(bag, fExtraInfoBagVersion);
        if (fExtraInfoBag != nullptr) {
            VValueBag* copy = fExtraInfoBag->Clone();
            bag.AddElement(kExtraInfo, copy);
            copy->Release();
        }
        return VE_OK;
    }
    if (!fMessage.EqualToString(reference->fMessage, false)) {
        kMessage.Set(bag, fMessage);
        flags |= kProgressInfoMessage;
    }
    if (fValue != reference->fValue) {
        kValue.Set(bag, fValue);
        flags |= kProgressInfoValue;
    }
    if (fMax != reference->fMax) {
        kMax.Set(bag, fMax);
        flags |= kProgressInfoMax;
    }
    if (fStartTime != reference->fStartTime) {
        kStartTime.Set(bag, fStartTime);
        flags |= kProgressInfoStartTime;
    }
    if (fCanInterrupt != reference->fCanInterrupt) {
        kCanInterrupt.Set(bag, fCanInterrupt);
        flags |= kProgressInfoCanInterrupt;
    }
    if (fExtraInfoBagVersion != reference->fExtraInfoBagVersion) {
        kExtraInfoBagVersion.Set(bag, fExtraInfoBagVersion);
        flags |= kProgressInfoExtraVersion;
        if (fExtraInfoBag != nullptr) {
            VValueBag* copy = fExtraInfoBag->Clone();
            bag.AddElement(kExtraInfo, copy);
            copy->Release();
            flags |= kProgressInfoExtraBag;
        }
    }
    kUpdateFlags.Set(bag, flags);
    return VE_OK;
}

VError VProgressIndicatorInfo::LoadFromBag(const VValueBag& bag)
{
    uint32_t flags = kProgressInfoComplete;
    kUpdateFlags.Get(bag, flags);
    if (flags & kProgressInfoComplete)
        flags = 0xFFFFFFFF;
    if (flags & kProgressInfoMessage) {
        if (!kMessage.Get(bag, fMessage))
            fMessage.Clear();
    }
    if (flags & kProgressInfoValue)
        kValue.Get(bag, fValue);
    if (flags & kProgressInfoMax)
        kMax.Get(bag, fMax);
    if (flags & kProgressInfoCanInterrupt)
        kCanInterrupt.Get(bag, fCanInterrupt);
    if (flags & kProgressInfoStartTime)
        kStartTime.Get(bag, fStartTime);
    if (flags & kProgressInfoExtraVersion)
        kExtraInfoBagVersion.Get(bag, fExtraInfoBagVersion);
    if (flags & kProgressInfoExtraBag)
    {
        VRefPtr<VValueBag> extra = AdoptRef(RetainUniqueBag(bag, kExtraInfo));
        _SetExtraBag(extra.Get());
    }
    return VE_OK;
}

void VProgressIndicatorInfo::UpdateFromRemoteInfo(const VProgressIndicatorInfo& other, unsigned int updateFlags)
{
    if (updateFlags & kProgressInfoComplete) {
        *this = other;
        return;
    }
    if (updateFlags & kProgressInfoMessage)
        fMessage = other.fMessage;
    if (updateFlags & kProgressInfoValue)
        fValue = other.fValue;
    if (updateFlags & kProgressInfoMax)
        fMax = other.fMax;
    if (updateFlags & kProgressInfoCanInterrupt)
        fCanInterrupt = other.fCanInterrupt;
    if (updateFlags & kProgressInfoExtraVersion)
        fExtraInfoBagVersion = other.fExtraInfoBagVersion;
    if (updateFlags & kProgressInfoExtraBag)
        _SetExtraBag(other.fExtraInfoBag);
}

}  // namespace qelt
