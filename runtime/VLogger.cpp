#include "runtime/VLogger.h"

#include <algorithm>
#include <utility>

#include "kernel/VString.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VTask.h"
#include "values/VValueBag.h"

namespace qelt {

VLogger::VLogger() = default;

VLogger::~VLogger()
{
    // The task reads the ring and the listeners until it is dead: nothing is
    // released before that, however long it takes.
    _KillTaskAndWait(0);
    for (ILogListener* listener : fListeners)
        listener->Release();
    fListeners.clear();
    const int filled = fWrapped ? kRingSize : fRingCount;
    for (int i = 0; i < filled; ++i) {
        if (fRing[i] != nullptr)
            fRing[i]->Release();
        fRing[i] = nullptr;
    }
    ReleaseRefCountable(fTask);
    fTask = nullptr;
}

void VLogger::_KillTaskAndWait(int inMilliseconds)
{
    VTask* task = nullptr;
    {
        StLocker locker(fListenerLock);
        task = RetainRefCountable(fTask);
    }
    if (task == nullptr)
        return;
    task->Kill();
    task->WakeUp();
    // A task that never started cannot die; the task cannot wait for itself.
    if (task->GetState() >= TaskState_Starting && VTask::GetCurrent() != task) {
        if (inMilliseconds > 0) {
            task->WaitForDeath(inMilliseconds);
        } else {
            while (!task->WaitForDeath(1000)) {
            }
        }
    }
    task->Release();
}

void VLogger::Start()
{
    fStarted.store(true, std::memory_order_release);
}

void VLogger::Stop()
{
    _KillTaskAndWait(3000);
}

bool VLogger::IsStarted() const
{
    return fStarted.load(std::memory_order_acquire);
}

bool VLogger::ShouldLog(EMessageLevel inLevel) const
{
    if (!IsStarted())
        return false;
    const uint32_t bit = 1u << (static_cast<unsigned int>(inLevel) % 32);
    return (fLevelMask.load(std::memory_order_relaxed) & bit) != 0;
}

bool VLogger::WithTag(unsigned int inLevel, bool inOn)
{
    const uint32_t bit = 1u << (inLevel % 32);
    const uint32_t previous = inOn ? fLevelMask.fetch_or(bit) : fLevelMask.fetch_and(~bit);
    return (previous & bit) != 0;
}

void VLogger::LogBag(const VValueBag* inRecord)
{
    // A null record is never stored: the ring holds records only.
    if (inRecord == nullptr)
        return;
    if (!ShouldLog(ILoggerBagKeys::level.Get(*inRecord)))
        return;
    bool wake = false;
    {
        StLocker locker(fRingLock);
        AddLogBag(inRecord);
        wake = std::exchange(fWakeOnNextRecord, false);
    }
    // The flag is set only once the task is made: fTask is set, and stays
    // until the destructor.
    if (wake)
        fTask->WakeUp();
}

void VLogger::AddLogBag(const VValueBag* inRecord)
{
    if (fRingCount >= kRingSize) {
        fWrapped = true;
        fRingCount = 0;
    }
    const VValueBag*& slot = fRing[fRingCount];
    if (slot != nullptr)
        slot->Release();  // the oldest record is dropped
    inRecord->Retain();
    slot = inRecord;
    ++fRingCount;
}

void VLogger::LogMessage(EMessageLevel inLevel, const VString& inMessage, const VString& inSource)
{
    if (!ShouldLog(inLevel))
        return;
    VRefPtr<VValueBag> record = AdoptRef(new VValueBag);
    if (!inSource.IsNull() && !inSource.IsEmpty()) {
        ILoggerBagKeys::source.Set(*record, inSource);
    } else {
        VString source;
        GetLogSourceOfCurrentTask(source);
        ILoggerBagKeys::source.Set(*record, source);
    }
    ILoggerBagKeys::level.Set(*record, inLevel);
    ILoggerBagKeys::message.Set(*record, inMessage);
    LogBag(record.Get());
}

void VLogger::_TakeRecords(std::vector<const VValueBag*>& outRecords)
{
    if (fRingCount <= 0)
        return;
    if (fWrapped) {
        outRecords.reserve(kRingSize);
        outRecords.insert(outRecords.end(), fRing + fRingCount, fRing + kRingSize);
        fWrapped = false;
        std::fill(fRing + fRingCount, fRing + kRingSize, nullptr);
    }
    outRecords.insert(outRecords.end(), fRing, fRing + fRingCount);
    std::fill(fRing, fRing + fRingCount, nullptr);
    fRingCount = 0;
}

std::vector<const VValueBag*> VLogger::Read()
{
    std::vector<const VValueBag*> records;
    _TakeRecords(records);
    return records;
}

void VLogger::Flush()
{
    _Deliver(false);
}

void VLogger::_Deliver(bool inByLoggerTask)
{
    // The listener lock is taken before the records: a flush that finds the
    // ring empty because the logger's task has just taken the records waits
    // until that task has delivered them, so every record logged before a
    // flush has reached the listeners when it returns.
    StLocker locker(fListenerLock);
    std::vector<const VValueBag*> records;
    {
        StLocker ringLocker(fRingLock);
        _TakeRecords(records);
        if (inByLoggerTask && records.empty())
            fWakeOnNextRecord = true;
    }
    if (records.empty())
        return;
    for (ILogListener* listener : fListeners)
        listener->Put(records);
    for (const VValueBag* record : records)
        record->Release();
}

bool VLogger::AddLogListener(ILogListener* inListener)
{
    if (inListener == nullptr)
        return false;
    StLocker locker(fListenerLock);
    if (fTask == nullptr) {
        fTask = new VTask(kTaskStackSize, eTaskStylePreemptive, [this]() { LogReaderTaskProc(); });
        fTask->SetName(VString("Logger"));
        fTask->SetKind(FourCC("LOGG"));
        fTask->Run();
    }
    if (std::find(fListeners.begin(), fListeners.end(), inListener) != fListeners.end())
        return false;
    // The most recently added listener receives records first.
    fListeners.insert(fListeners.begin(), inListener);
    inListener->Retain();
    // Its first record is delivered at once.
    if (!fTask->IsDying()) {
        StLocker ringLocker(fRingLock);
        fWakeOnNextRecord = true;
    }
    return true;
}

bool VLogger::RemoveLogListener(ILogListener* inListener)
{
    Flush();
    if (inListener == nullptr)
        return false;
    StLocker locker(fListenerLock);
    auto it = std::find(fListeners.begin(), fListeners.end(), inListener);
    if (it == fListeners.end())
        return false;
    fListeners.erase(it);
    inListener->Release();
    return true;
}

void VLogger::LogReaderTaskProc()
{
    // A background task for the whole life of the logger: it does not keep
    // the process marked busy.
    VTask::ReleaseCurrentActivityToken();
    VTask* self = VTask::GetCurrent();
    while (self != nullptr && !self->IsDying()) {
        _Deliver(true);
        VTask::Sleep(kFlushPeriodMs);
    }
    // A dying task is woken no more; what comes later reaches the listeners
    // through Flush.
    StLocker locker(fRingLock);
    fWakeOnNextRecord = false;
}

}  // namespace qelt
