#include "runtime/VMetricsManager.h"

#include "json/VJSONArray.h"
#include "json/VJSONCloner.h"
#include "runtime/VProgressIndicator.h"
#include "values/VValueBag.h"

namespace qelt {

VMetricsManager& VMetricsManager::Get()
{
    static VMetricsManager sMetricsSingleton;
    return sMetricsSingleton;
}

VMetricsManager::~VMetricsManager()
{
    for (VJSONObject* record : fRecords)
        record->Release();
}

bool VMetricsManager::StartSession(unsigned long long minDuration, bool progresses, bool kind0, bool kind1)
{
    StLocker locker(&fLock);
    fMinDuration = minDuration;
    fKindMask = (progresses ? 4u : 0u) | (kind0 ? 1u : 0u) | (kind1 ? 2u : 0u);
    return true;
}

VJSONObject* VMetricsManager::CreateBind(EMetricsKindBit kind, unsigned long long duration)
{
    if (duration < fMinDuration.load() || (fKindMask.load() & (1u << kind)) == 0)
        return nullptr;
    VJSONObject* record = new VJSONObject();
    record->SetProperty("activityKind", VJSONValue(static_cast<double>(1u << kind)));
    record->SetProperty("activityDuration", VJSONValue(static_cast<double>(duration) / 1000.0));
    return record;
}

void VMetricsManager::BindDatas(VJSONObject* record, VJSONObject* data)
{
    record->SetProperty("activityData", VJSONValue(data));
    StLocker locker(&fLock);
    record->Retain();
    fRecords.push_back(record);
}

bool VMetricsManager::EndSession()
{
    StLocker locker(&fLock);
    fKindMask = 0;
    for (VJSONObject* record : fRecords)
        record->Release();
    fRecords.clear();
    return true;
}

VJSONArray* VMetricsManager::CreateCollection()
{
    VJSONArray* array = new VJSONArray();
    StLocker locker(&fLock);
    for (VJSONObject* record : fRecords) {
        VJSONValue copy(record);
        VJSONCloner cloner;
        if (cloner.CloneValue(copy) == VE_OK)
            array->Push(copy);
    }
    return array;
}

bool VMetricsManager::IsProgressesCollected()
{
    StLocker locker(&fLock);
    return (fKindMask.load() & 4u) != 0;
}

void VProgressIndicator::DoMetrics()
{
    uint32_t elapsed = fCurrent.GetElapsed();
    VMetricsManager& metrics = VMetricsManager::Get();
    VRefPtr<VJSONObject> record = AdoptRef(metrics.CreateBind(kMetricsKindProgress, elapsed));
    if (!record)
        return;
    VRefPtr<VJSONObject> data = AdoptRef(new VJSONObject());
    fCurrent.GetJSONObject(*data);
    VString message;
    fCurrent.GetMessage(message);
    data->SetProperty("title", VJSONValue(fTitle));
    data->SetProperty("infoMessage", VJSONValue(message));
    if (fCurrent.fExtraInfoBag != nullptr) {
        VError err = VE_OK;
        VRefPtr<VJSONObject> extra = AdoptRef(fCurrent.fExtraInfoBag->BuildJSONObject(err));
        if (extra && err == VE_OK)
            data->SetProperty("extraInfo", VJSONValue(extra.Get()));
    }
    if (fCurrent.fCollectedInfo != nullptr) {
        VJSONValue copy;
        VJSONCloner cloner;
        if (cloner.CloneObject(fCurrent.fCollectedInfo, copy) == VE_OK)
            data->SetProperty("subOperations", copy);
    }
    metrics.BindDatas(record.Get(), data.Get());
}

}  // namespace qelt
