#include "runtime/VProgressIndicator.h"

#include <algorithm>
#include <vector>

#include "files/VStream.h"
#include "json/VJSONObject.h"
#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VWord.h"
#include "runtime/IProgressInfoCollector.h"
#include "runtime/VProgressManager.h"
#include "runtime/VProgressSessionInfo.h"
#include "runtime/VRefCountedSessionInfo.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "values/StBagKey.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

const StBagKeyNoDefault<VString, VString> kUserInfo("UserInfo");
const StBagKeyNoDefault<int32_t, VLong> kSessionCount("SessionCount");
const StBagKeyNoDefault<VString, VString> kTitle("Title");
const StBagKeyNoDefault<bool, VBoolean> kCanInterruptKey("CanInterrupt");
const StPackedDictionaryKey kSessionInfo("SessionInfo");

void AddRecordElement(VValueBag& bag, const VProgressIndicatorInfo& record)
{
    VValueBag* child = new VValueBag();
    VString kind;
    record.SaveToBag(*child, kind, nullptr);
    bag.AddElement(kSessionInfo, child);
    child->Release();
}

}  // namespace

VProgressIndicator::VProgressIndicator() : fUUID(static_cast<unsigned char>(1)) { _Construct(); }

VProgressIndicator::VProgressIndicator(const VUUID& uuid, int sessionVersion)
    : fUUID(uuid), fSessionVersion(sessionVersion)
{
    _Construct();
}

void VProgressIndicator::_Construct() { VProgressManager::RegisterProgress(this); }

VProgressIndicator::~VProgressIndicator()
{
    VProgressManager::UnregisterProgress(this);
    ReleaseRefCountable(fSnapshot);
}

bool VProgressIndicator::_TryRetain() const
{
    int32_t count = fRefCount.load(std::memory_order_relaxed);
    while (count > 0) {
        if (fRefCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel))
            return true;
    }
    return false;
}

// --- sessions ----------------------------------------------------------------

bool VProgressIndicator::BeginSession(long long max, const VString& msg)
{
    return BeginSession(max, 0, msg, fCanInterrupt, fDefaultCollector);
}

bool VProgressIndicator::BeginSession(long long max, const VString& msg, IProgressInfoCollector* collector)
{
    return BeginSession(max, 0, msg, fCanInterrupt, collector);
}

bool VProgressIndicator::BeginSession(long long max, const VString& msg, bool interruptible,
                                      IProgressInfoCollector* collector)
{
    return BeginSession(max, 0, msg, interruptible, collector);
}

bool VProgressIndicator::BeginUndeterminedSession(const VString& msg)
{
    return BeginSession(-1, 0, msg, fCanInterrupt, fDefaultCollector);
}

bool VProgressIndicator::BeginUndeterminedSession(const VString& msg, bool interruptible,
                                                  IProgressInfoCollector* collector)
{
    return BeginSession(-1, 0, msg, interruptible, collector);
}

bool VProgressIndicator::BeginSession(long long max, long long value, const VString& msg, bool interruptible,
                                      IProgressInfoCollector* collector)
{
    if (fSessionCount == 0)
        fOwnerTaskID = VTaskMgr::GetCurrentTaskID();
    StLocker locker(&fLock);
    ++fChangesCounter;
    if (fSessionCount == 0) {
        ++fSessionVersion;
        if (collector == nullptr)
            collector = fDefaultCollector;
    } else {
        fStack.push_back(fCurrent);
    }
    fCurrent.fMessage = msg;
    fCurrent.fValue = value;
    fCurrent.fMax = max;
    fCurrent.fCanInterrupt = interruptible;
    fCurrent.fCollector = collector;
    fCurrent._ResetStartTime();
    fCurrent.SetCollectedInfo(nullptr);
    ++fSessionCount;
    DoBeginSession(fSessionCount);
    return true;
}

void VProgressIndicator::_CloseOneSession()
{
    StLocker locker(&fLock);
    if (fSessionCount == 0)
        return;
    _CheckCollectInfo();
    ++fChangesCounter;
    if (!fStack.empty()) {
        fCurrent = fStack.back();
        fStack.pop_back();
    }
    DoEndSession(fSessionCount);
    if (--fSessionCount == 0)
        ++fSessionVersion;
    DoMetrics();
}

void VProgressIndicator::_CloseDownToBaseLevel()
{
    StLocker locker(&fLock);
    while (fSessionCount > fBaseLevel && fSessionCount > 0)
        _CloseOneSession();
}

bool VProgressIndicator::EndSession()
{
    if (fSessionCount == 0)
        return false;
    if (fMirroring != 0) {
        StLocker locker(&fLock);
        _CloseDownToBaseLevel();
        fMirroring = 0;
        if (fSessionCount == 0)
            return true;
    }
    _CloseOneSession();
    return true;
}

// --- reports -----------------------------------------------------------------

bool VProgressIndicator::DoProgress()
{
    VTaskMgr::Yield();
    return fUserAbort != 1;
}

// Inlined into the three reports: it runs on every one of them.
[[gnu::always_inline]] inline bool VProgressIndicator::_AnswerReport()
{
    bool goOn = DoProgress();
    if (fCanInterrupt) {
        VTask* task = VTaskMgr::GetCurrentTask();
        if (task != nullptr && task->GetState() >= TaskState_Dying)
            return false;
    }
    return goOn;
}

bool VProgressIndicator::Progress(long long value)
{
    _CheckCollectInfo();
    if (fSessionCount == 0)
        return true;
    ++fChangesCounter;
    fCurrent.fValue = value;
    return _AnswerReport();
}

bool VProgressIndicator::Increment(long long delta)
{
    _CheckCollectInfo();
    if (fSessionCount == 0)
        return true;
    ++fChangesCounter;
    fCurrent.fValue += delta;
    return _AnswerReport();
}

bool VProgressIndicator::Decrement(long long delta)
{
    _CheckCollectInfo();
    if (fSessionCount == 0)
        return true;
    ++fChangesCounter;
    fCurrent.fValue -= delta;
    return _AnswerReport();
}

// --- values, messages and attributes ------------------------------------------

void VProgressIndicator::SetMaxValue(long long max)
{
    if (fSessionCount == 0)
        return;
    ++fChangesCounter;
    fCurrent.fMax = max;
}

long long VProgressIndicator::GetMaxValue() const { return fSessionCount == 0 ? 0 : fCurrent.fMax; }

void VProgressIndicator::SetMessage(const VString& msg)
{
    if (fSessionCount == 0)
        return;
    _CheckCollectInfo();
    ++fChangesCounter;
    fCurrent.fMessage = msg;
}

void VProgressIndicator::SetMessageAndValue(const VString& msg, long long value)
{
    if (fSessionCount == 0)
        return;
    _CheckCollectInfo();
    ++fChangesCounter;
    fCurrent.fMessage = msg;
    fCurrent.fValue = value;
}

void VProgressIndicator::SetMessageAndIncrementValue(const VString& msg, long long delta)
{
    if (fSessionCount == 0)
        return;
    _CheckCollectInfo();
    ++fChangesCounter;
    fCurrent.fMessage = msg;
    fCurrent.fValue += delta;
}

void VProgressIndicator::GetMessage(VString& out) const
{
    if (fSessionCount > 0)
        fCurrent.GetMessage(out);
}

void VProgressIndicator::SetAttribute(const VString& name, const VValueSingle& value)
{
    if (fSessionCount == 0)
        return;
    ++fChangesCounter;
    fCurrent.SetAttribute(name, value);
}

void VProgressIndicator::RemoveAttribute(const VString& name)
{
    if (fSessionCount == 0)
        return;
    ++fChangesCounter;
    fCurrent.RemoveAttribute(name);
}

void VProgressIndicator::SetCanInterrupt(bool value, bool forCurrentSession)
{
    if (!forCurrentSession) {
        fCanInterrupt = value;
        return;
    }
    if (fSessionCount == 0)
        return;
    ++fChangesCounter;
    fCurrent.fCanInterrupt = value;
}

void VProgressIndicator::SetProgressInfoCollector(IProgressInfoCollector* collector, IProgressInfoCollector** old)
{
    if (fSessionCount == 0)
        return;
    if (old != nullptr)
        *old = fCurrent.fCollector;
    fCurrent.fCollector = collector;
}

void VProgressIndicator::Reset(const VString& msg, long long max, long long value)
{
    if (fSessionCount == 0)
        return;
    fCurrent.fMessage = msg;
    fCurrent.fMax = max;
    fCurrent.fValue = value;
    fCurrent.fCanInterrupt = true;
    fCurrent._ResetStartTime();
    fCurrent.fCollector = nullptr;
    fCurrent.SetCollectedInfo(nullptr);
}

void VProgressIndicator::_Init()
{
    fSessionCount = 0;
    fMirroring = 0;
    fMirroredSessionVersion = 0;
    fBaseLevel = 0;
    fCanInterrupt = true;
    fSessionVersion = 0;
    fUserAbort = 0;
    fChangesCounter = 0;
    fDefaultCollector = nullptr;
    fSnapshot = nullptr;
}

float VProgressIndicator::_PercentDone(const VProgressIndicatorInfo* const* records, int count)
{
    if (count <= 0)
        return 0;
    const VProgressIndicatorInfo* last = records[count - 1];
    if (last->fMax <= 0)
        return static_cast<float>(last->fValue);
    float scale = 1;
    float sum = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (records[i]->fMax <= 0)
            return 0;
        scale *= static_cast<float>(records[i]->fMax);
        sum += static_cast<float>(records[i]->fValue) / scale;
    }
    return sum + static_cast<float>(last->fValue) / (static_cast<float>(last->fMax) * scale);
}

float VProgressIndicator::ComputePercentDone() const
{
    if (fSessionCount == 0)
        return 0;
    std::vector<const VProgressIndicatorInfo*> records;
    records.reserve(fStack.size() + 1);
    for (const VProgressIndicatorInfo& record : fStack)
        records.push_back(&record);
    records.push_back(&fCurrent);
    return _PercentDone(records.data(), static_cast<int>(records.size()));
}

bool VProgressIndicator::SetProgressInfo(const VProgressIndicatorInfo& info)
{
    StLocker locker(&fLock);
    if (fSessionCount > 0) {
        ++fChangesCounter;
        fCurrent = info;
    }
    return true;
}

bool VProgressIndicator::GetProgressInfo(const VUUID& id, VProgressIndicatorInfo& out) const
{
    StLocker locker(&fLock);
    if (fMirroring != 0) {
        // The mirrored records change only under this lock.
        if (fCurrent.fUUID == id) {
            out = fCurrent;
            return true;
        }
        bool found = false;
        for (const VProgressIndicatorInfo& record : fStack) {
            if (record.fUUID == id) {
                out = record;
                found = true;
            }
        }
        return found;
    }
    // The working task changes the live records without a lock: read the
    // latest snapshot, whose last record is the innermost session.
    const_cast<VProgressIndicator*>(this)->UpdateSessionsInfos();
    VRefPtr<VRefCountedSessionInfo> snapshot = AdoptRef(RetainSessionsInfos());
    if (!snapshot)
        return false;
    const auto& records = snapshot->GetRecords();
    if (records.empty())
        return false;
    if (records.back()->fUUID == id) {
        out = *records.back();
        return true;
    }
    bool found = false;
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        if (records[i]->fUUID == id) {
            out = *records[i];
            found = true;
        }
    }
    return found;
}

VError VProgressIndicator::SaveInfoToBag(VValueBag& bag)
{
    StLocker locker(&fLock);
    kUserInfo.Set(bag, fUserInfo);
    kSessionCount.Set(bag, fSessionCount);
    kTitle.Set(bag, fTitle);
    kCanInterruptKey.Set(bag, fCanInterrupt);
    if (fSessionCount == 0)
        return VE_OK;
    if (fMirroring != 0) {
        for (const VProgressIndicatorInfo& record : fStack)
            AddRecordElement(bag, record);
        AddRecordElement(bag, fCurrent);
        return VE_OK;
    }
    // Read from the latest snapshot, never from the live records.
    UpdateSessionsInfos();
    VRefPtr<VRefCountedSessionInfo> snapshot = AdoptRef(RetainSessionsInfos());
    if (snapshot) {
        for (const auto& record : snapshot->GetRecords())
            AddRecordElement(bag, *record);
    }
    return VE_OK;
}

// --- snapshots ---------------------------------------------------------------

void VProgressIndicator::UpdateSessionsInfos()
{
    if (fSessionCount > 0)
        fRequestedStamp.fetch_add(1, std::memory_order_acq_rel);
}

VRefCountedSessionInfo* VProgressIndicator::RetainSessionsInfos() const
{
    StLocker locker(&fSnapshotLock);
    return RetainRefCountable(fSnapshot);
}

void VProgressIndicator::_CollectInfo()
{
    if (fSessionCount == 0)
        return;
    VRefCountedSessionInfo::List list;
    list.reserve(fStack.size() + 1);
    bool first = true;
    auto collect = [&](VProgressIndicatorInfo& record) {
        if (record.fCollector != nullptr) {
            VJSONObject* info = record.fCollector->CollectInfo(this, first);
            record.SetCollectedInfo(info);
            ReleaseRefCountable(info);
        }
        first = false;
        list.push_back(std::make_unique<VProgressIndicatorInfo>(record));
    };
    for (VProgressIndicatorInfo& record : fStack)
        collect(record);
    collect(fCurrent);
    VRefCountedSessionInfo* fresh = new VRefCountedSessionInfo(std::move(list));
    VRefCountedSessionInfo* old = nullptr;
    {
        StLocker locker(&fSnapshotLock);
        old = fSnapshot;
        fSnapshot = fresh;
        fCollectedStamp = fRequestedStamp.load(std::memory_order_acquire);
    }
    ReleaseRefCountable(old);
}

namespace {

// Fills the summary from a chain of records, outermost first.
void FillSummary(VProgressSessionInfo& out, const std::vector<const VProgressIndicatorInfo*>& chain)
{
    int n = static_cast<int>(chain.size());
    const VProgressIndicatorInfo* none = nullptr;
    out.fFirst = n >= 1 ? chain[0] : none;
    out.fSecond = n >= 3 ? chain[n - 2] : (n == 2 ? chain[1] : none);
    out.fThird = n >= 3 ? chain[n - 1] : none;
    out.fFilledCount = std::min(n, 3);
}

}  // namespace

bool VProgressIndicator::GetProgressInfo(VProgressSessionInfo& out)
{
    std::vector<const VProgressIndicatorInfo*> chain;
    if (fMirroring != 0) {
        if (!fLock.TryToLock())
            return false;
        if (fSessionCount == 0) {
            fLock.Unlock();
            return false;
        }
        for (const VProgressIndicatorInfo& record : fStack)
            chain.push_back(&record);
        chain.push_back(&fCurrent);
        FillSummary(out, chain);
        out.fSessionCount = fSessionCount;
        out.fPercentDone = _PercentDone(chain.data(), static_cast<int>(chain.size()));
        out.fChangesStamp = fChangesCounter;
        fLock.Unlock();
        return true;
    }
    UpdateSessionsInfos();
    VRefPtr<VRefCountedSessionInfo> snapshot = AdoptRef(RetainSessionsInfos());
    if (!snapshot)
        return false;
    for (const auto& record : snapshot->GetRecords())
        chain.push_back(record.get());
    FillSummary(out, chain);
    out.fSessionCount = static_cast<int32_t>(chain.size());
    // Computed from the snapshot's own records: the live stack may be
    // changing on the working task.
    out.fPercentDone = _PercentDone(chain.data(), static_cast<int>(chain.size()));
    out.fChangesStamp = fChangesCounter;
    return true;
}

// --- identification for a mirroring side ---------------------------------------

VError VProgressIndicator::WriteInfoForRemote(VStream& stream)
{
    VError err = stream.PutValue(VWord(1), false);
    if (err == VE_OK)
        err = stream.PutValue(fUUID, false);
    if (err == VE_OK)
        err = stream.PutValue(VLong(fSessionVersion), false);
    return err;
}

VError VProgressIndicator::WriteInfoForRemote(VValueBag& bag, VString& kind)
{
    bag.SetAttribute("uuid", fUUID);
    bag.SetAttribute("version", VLong(fSessionVersion));
    kind = "VProgressIndicator";
    return VE_OK;
}

}  // namespace qelt
