#include "runtime/VTaskMgr.h"

#include <algorithm>

#include "kernel/VSystem.h"
#include "platform/PlatClock.h"
#include "platform/PlatSync.h"
#include "platform/PlatThreads.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VScheduler_void.h"
#include "runtime/VSpinLock.h"
#include "runtime/mac/XMacTask.h"

namespace qelt {

std::atomic<bool> VTaskMgr::sInstanceInited{false};

// ---------------------------------------------------------------------------
// The manager's recursive lock.

struct VTaskMgrLock::Impl {
    plat::Mutex mutex;
    plat::Condition condition;
    plat::ThreadHandle owner = 0;
    bool owned = false;
    int32_t count = 0;
    int32_t waiters = 0;  // threads blocked in Lock: only they need a signal
};

VTaskMgrLock::VTaskMgrLock() : fImpl(new Impl) {}

VTaskMgrLock::~VTaskMgrLock()
{
    delete fImpl;
}

void VTaskMgrLock::Lock()
{
    const plat::ThreadHandle me = plat::CurrentThread();
    fImpl->mutex.Lock();
    while (fImpl->owned && !plat::SameThread(fImpl->owner, me)) {
        ++fImpl->waiters;
        fImpl->condition.Wait(fImpl->mutex);
        --fImpl->waiters;
    }
    ++fImpl->count;
    fImpl->owner = me;
    fImpl->owned = true;
    fImpl->mutex.Unlock();
}

void VTaskMgrLock::Unlock()
{
    fImpl->mutex.Lock();
    if (--fImpl->count <= 0) {
        fImpl->count = 0;
        fImpl->owned = false;
        fImpl->owner = 0;
        if (fImpl->waiters > 0)
            fImpl->condition.Signal();
    }
    fImpl->mutex.Unlock();
}

// ---------------------------------------------------------------------------

VTaskMgr::VTaskMgr() : fLock(new VTaskMgrLock) {}

VTaskMgr::~VTaskMgr()
{
    // From here on every thread is treated as having no task.
    fPlatform.SetInService(false);
    sInstanceInited = false;
    IFiberScheduler* scheduler = fScheduler.exchange(nullptr);
    if (scheduler != nullptr)
        scheduler->Release();
    delete fLock;
    fLock = nullptr;
}

bool VTaskMgr::Init(VProcess* process)
{
    if (sInstanceInited)
        return true;
    sInstanceInited = Get()->_Init(process);
    Get()->fPlatform.SetInService(sInstanceInited);
    SpinLock::Configure();
    return sInstanceInited;
}

void VTaskMgr::DeInit()
{
    if (!sInstanceInited)
        return;
    Get()->_DeInit();
    Get()->fPlatform.SetInService(false);
    sInstanceInited = false;
}

bool VTaskMgr::_Init(VProcess* process)
{
    IFiberScheduler* scheduler = new VScheduler_void();
    SetFiberScheduler(scheduler);
    scheduler->Release();

    fPlatform.Init(process);

    // Adopt the calling thread; the main task becomes its current task.
    fMainTask = new VTask(this);
    _TaskStarted(fMainTask);
    return true;
}

void VTaskMgr::_DeInit()
{
    // No toolbox thread outlives the manager: end the other tasks first.
    _EndOtherTasks();

    if (fMainTask != nullptr) {
        VTask* main = fMainTask;
        main->DisposeAllData();
        main->fState.store(TaskState_Dead);
        fPlatform.SetCurrentTask(nullptr);
        fMainTask = nullptr;
        main->Release();
    }

    // Delayed messages are freed, never executed.
    std::vector<VMessage*> delayed;
    {
        StTaskMgrLocker locker(this);
        delayed.swap(fDelayedMessages);
        fDelayedDueTicks.clear();
    }
    for (VMessage* message : delayed)
        message->Release();

    fFreeIDs.clear();
    IFiberScheduler* scheduler = fScheduler.exchange(nullptr);
    if (scheduler != nullptr)
        scheduler->Release();
    fPlatform.Deinit();
}

bool VTaskMgr::_OnlyMainTaskLeft() const
{
    StTaskMgrLocker locker(this);
    return fMainTask == nullptr || fMainTask->fNext == nullptr;
}

void VTaskMgr::_EndOtherTasks()
{
    fDeadTaskFlag.store(true);
    while (true) {
        {
            StTaskMgrLocker locker(this);
            for (VTask* task = fMainTask != nullptr ? fMainTask->fNext : nullptr; task != nullptr; task = task->fNext) {
                if (task->GetState() < TaskState_Dead) {
                    task->Kill();
                    task->WakeUp();
                }
            }
        }
        fDeadTaskFlag.store(true);
        PurgeDeadTasks();
        if (_OnlyMainTaskLeft())
            break;
        plat::ThreadSleep(1);
    }
    // Threads of tasks never run are still parked; let them end, and wait for
    // every created thread to have returned.
    fPlatform._EndAllThreads();
}

// ---------------------------------------------------------------------------
// Current task and ids

VTaskID VTaskMgr::_NewForeignID()
{
    // A thread without a task: the next negative id, taken atomically so that
    // two threads asking at once never share one.
    const VTaskID id = fLastNegativeID.fetch_sub(1) - 1;
    fPlatform.SetForeignID(id);
    return id;
}

VTaskID VTaskMgr::GetNewTaskID(VTask* task)
{
    if (task == nullptr || task->GetPlatformTask() == nullptr)
        return 0;
    int proposal = task->GetPlatformTask()->GetValueForVTaskID();
    if (proposal != 0)
        return proposal;
    StTaskMgrLocker locker(this);
    if (!fFreeIDs.empty()) {
        VTaskID id = fFreeIDs.back();
        fFreeIDs.pop_back();
        return id;
    }
    return fLastNegativeID.fetch_sub(1) - 1;
}

void VTaskMgr::RegisterTask(VTask* task)
{
    PurgeDeadTasks();
    if (task == nullptr)
        return;
    StTaskMgrLocker locker(this);
    if (fMainTask == nullptr)
        return;  // the manager has ended: the list is gone
    task->Retain();
    task->fNext = fMainTask->fNext;
    fMainTask->fNext = task;
    fListStamp.fetch_add(1);
}

void VTaskMgr::PurgeDeadTasks()
{
    if (!fDeadTaskFlag.load())
        return;
    std::vector<VTask*> dead;
    {
        StTaskMgrLocker locker(this);
        if (fMainTask != nullptr) {
            // Nothing done during the purge reaches the debug manager's reports.
            VDebugMgr::Get()->StartLowLevelMode();
            VTask* previous = fMainTask;
            VTask* task = fMainTask->fNext;
            while (task != nullptr) {
                VTask* next = task->fNext;
                if (task->GetState() == TaskState_Dead) {
                    previous->fNext = next;
                    task->fNext = nullptr;
                    XMacTask* platform = task->GetPlatformTask();
                    if (platform != nullptr && task->GetID() != platform->GetValueForVTaskID())
                        fFreeIDs.push_back(task->GetID());
                    dead.push_back(task);
                    fListStamp.fetch_add(1);
                } else {
                    previous = task;
                }
                task = next;
            }
            VDebugMgr::Get()->StopLowLevelMode();
        }
        fDeadTaskFlag.store(false);
    }
    for (VTask* task : dead)
        task->Release();
}

void VTaskMgr::_TaskStarted(VTask* task)
{
    fPlatform.TaskStarted(task);
    if (task != nullptr)
        task->_SetThreadName();
}

void VTaskMgr::_TaskStopped(VTask* task)
{
    fPlatform.TaskStopped(task);
}

// ---------------------------------------------------------------------------
// Queries

int32_t VTaskMgr::GetTaskCount(bool beforeDying) const
{
    StTaskMgrLocker locker(this);
    int32_t count = 0;
    for (VTask* task = fMainTask; task != nullptr; task = task->fNext) {
        int32_t state = task->GetState();
        if (beforeDying ? state < TaskState_Dying : (state == TaskState_Running || state == TaskState_Dying))
            ++count;
    }
    return count;
}

VTask* VTaskMgr::RetainTaskByID(VTaskID id)
{
    StTaskMgrLocker locker(this);
    for (VTask* task = fMainTask; task != nullptr; task = task->fNext) {
        if (task->GetID() == id && task->GetState() != TaskState_Dead) {
            task->Retain();
            return task;
        }
    }
    return nullptr;
}

VRefPtr<VTask> VTaskMgr::GetTaskByID(VTaskID id)
{
    return AdoptRef(RetainTaskByID(id));
}

void VTaskMgr::GetTasks(std::vector<VRefPtr<VTask>>& outTasks) const
{
    StTaskMgrLocker locker(this);
    for (VTask* task = fMainTask; task != nullptr; task = task->fNext)
        outTasks.push_back(VRefPtr<VTask>(task));
}

bool VTaskMgr::KillAllTasks(int milliseconds)
{
    VTask* current = GetCurrentTask();
    if (current == nullptr || current != fMainTask)
        return _OnlyMainTaskLeft();

    const uint32_t deadline = VSystem::GetCurrentTime() + static_cast<uint32_t>(milliseconds);
    while (true) {
        {
            StTaskMgrLocker locker(this);
            for (VTask* task = fMainTask->fNext; task != nullptr; task = task->fNext) {
                if (task->GetState() >= TaskState_Running)
                    task->Kill();
            }
        }
        PurgeDeadTasks();
        YieldNow();
        VTask::ExecuteMessages(false);
        if (_OnlyMainTaskLeft())
            break;
        uint32_t now = VSystem::GetCurrentTime();
        if (static_cast<int32_t>(deadline - now) <= 0)
            break;
    }
    return _OnlyMainTaskLeft();
}

// ---------------------------------------------------------------------------
// Stack sizes

size_t VTaskMgr::GetStackSizeForMainTask() const
{
    if (fMainStackSize == 0) {
        size_t size = fPlatform.ComputeMainTaskStackSize();
        fMainStackSize = size != 0 ? size : 0x10000;
    }
    return fMainStackSize;
}

size_t VTaskMgr::GetDefaultStackSize() const
{
    StTaskMgrLocker locker(this);
    if (fDefaultStackSize == 0)
        fDefaultStackSize = std::min<size_t>(GetStackSizeForMainTask(), 0x100000);
    return fDefaultStackSize;
}

void VTaskMgr::SetDefaultStackSize(size_t size)
{
    StTaskMgrLocker locker(this);
    fDefaultStackSize = size;
}

size_t VTaskMgr::GetCurrentFreeStackSize() const
{
    return fPlatform.GetCurrentFreeStackSize();
}

// ---------------------------------------------------------------------------
// Data keys

unsigned long VTaskMgr::CreateDataKey(void (*destructor)(void*))
{
    StTaskMgrLocker locker(this);
    for (size_t i = 0; i < fDataKeys.size(); ++i) {
        if (fDataKeys[i].deleted) {
            fDataKeys[i].destructor = destructor;
            fDataKeys[i].deleted = false;
            return static_cast<unsigned long>(i + 1);
        }
    }
    fDataKeys.push_back(DataKey{destructor, false});
    return static_cast<unsigned long>(fDataKeys.size());
}

void VTaskMgr::DeleteDataKey(unsigned long key)
{
    if (!sInstanceInited || key == 0)
        return;
    StTaskMgrLocker locker(this);
    if (key <= fDataKeys.size() && !fDataKeys[key - 1].deleted)
        fDataKeys[key - 1].deleted = true;
}

bool VTaskMgr::CheckDataKey(unsigned long key) const
{
    StTaskMgrLocker locker(this);
    return key >= 1 && key <= fDataKeys.size() && !fDataKeys[key - 1].deleted;
}

void VTaskMgr::DisposeData(void* const* slots, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        void* value = slots[i];
        if (value == nullptr)
            continue;
        void (*destructor)(void*) = nullptr;
        {
            StTaskMgrLocker locker(this);
            if (i < fDataKeys.size() && !fDataKeys[i].deleted)
                destructor = fDataKeys[i].destructor;
        }
        if (destructor != nullptr)
            destructor(value);
    }
}

// ---------------------------------------------------------------------------
// Fiber scheduler and forwarding

void VTaskMgr::SetFiberScheduler(IFiberScheduler* scheduler)
{
    StTaskMgrLocker locker(this);
    IFiberScheduler* old = fScheduler.load();
    if (scheduler == nullptr || scheduler == old)
        return;
    scheduler->Retain();
    fScheduler.store(scheduler);
    if (old != nullptr)
        old->Release();
}

IFiberScheduler* VTaskMgr::RetainFiberScheduler() const
{
    StTaskMgrLocker locker(this);
    IFiberScheduler* scheduler = fScheduler.load();
    if (scheduler != nullptr)
        scheduler->Retain();
    return scheduler;
}

namespace {

// The forwarding operations read the scheduler without the lock: it is only
// replaced by SetFiberScheduler, during start-up.
IFiberScheduler* InstalledScheduler()
{
    return VTaskMgr::sInstanceInited ? VTaskMgr::Get()->_GetScheduler() : nullptr;
}

bool CurrentIsFiber()
{
    VTask* task = VTaskMgr::GetCurrentTask();
    return task != nullptr && task->IsFiber();
}

}  // namespace

void VTaskMgr::_YieldFiber()
{
    if (IFiberScheduler* scheduler = InstalledScheduler())
        scheduler->Yield();
}

void VTaskMgr::YieldNow()
{
    if (CurrentIsFiber()) {
        if (IFiberScheduler* scheduler = InstalledScheduler()) {
            scheduler->YieldNow();
            return;
        }
    }
    plat::YieldThread();
}

void VTaskMgr::YieldToFiber(VTask* task)
{
    fPlatform.YieldToFiber(task);
}

void VTaskMgr::CurrentFiberWaitFlag(int* flag, int value)
{
    if (IFiberScheduler* scheduler = InstalledScheduler()) {
        scheduler->WaitFlag(flag, value);
    }
}

void VTaskMgr::CurrentFiberWaitFlagWithTimeout(int* flag, int value, int milliseconds)
{
    if (IFiberScheduler* scheduler = InstalledScheduler()) {
        scheduler->WaitFlagWithTimeout(flag, value, milliseconds);
    }
}

void VTaskMgr::SetSystemEventPolling(bool polling)
{
    if (IFiberScheduler* scheduler = InstalledScheduler()) {
        scheduler->SetSystemEventPolling(polling);
    }
}

void VTaskMgr::WakeUpSystemEventPolling()
{
    if (IFiberScheduler* scheduler = InstalledScheduler()) {
        scheduler->WakeUpSystemEventPolling();
    }
}

void VTaskMgr::PollAndExecuteUpdateEvent()
{
    if (IFiberScheduler* scheduler = InstalledScheduler()) {
        scheduler->PollAndExecuteUpdateEvent();
    }
}

void VTaskMgr::SetDirectUpdate(bool direct)
{
    if (IFiberScheduler* scheduler = InstalledScheduler()) {
        scheduler->SetDirectUpdate(direct);
    }
}

void VTaskMgr::FiberStoppedBeingScheduled(VTask* task)
{
    if (task != nullptr && task->IsFiber() && task != GetCurrentTask() && task->GetState() != TaskState_Dead)
        task->_SetStateDead();
}

void VTaskMgr::MAC_BeginHandlingUpdateEventsOnly()
{
    // There is no system run loop to attach a timer to here: only the
    // scheduler is told that system events are no longer polled.
    bool first;
    {
        StTaskMgrLocker locker(this);
        first = fUpdateEventsNesting++ == 0;
    }
    if (first)
        SetSystemEventPolling(false);
}

void VTaskMgr::MAC_StopHandlingUpdateEventsOnly()
{
    bool last;
    {
        StTaskMgrLocker locker(this);
        if (fUpdateEventsNesting == 0)
            return;
        last = --fUpdateEventsNesting == 0;
    }
    if (last)
        SetSystemEventPolling(true);
}

void VTaskMgr::Lock() const
{
    fLock->Lock();
}

void VTaskMgr::Unlock() const
{
    fLock->Unlock();
}

// ---------------------------------------------------------------------------
// Delayed messages

int64_t VTaskMgr::GetCurrentTicks64()
{
    return static_cast<int64_t>(plat::MonotonicMilliseconds() * 60 / 1000);
}

int64_t VTaskMgr::DueTicks(int64_t now, int delayMs)
{
    // 64-bit: a long delay neither overflows nor lands in the past.
    return now + static_cast<int64_t>(delayMs) * 60 / 1000;
}

bool VTaskMgr::RegisterDelayedMessage(VMessage* message, int delayMs)
{
    if (message == nullptr)
        return true;
    StTaskMgrLocker locker(this);
    message->Retain();
    fDelayedMessages.push_back(message);
    fDelayedDueTicks.push_back(DueTicks(GetCurrentTicks64(), delayMs));
    return true;
}

VMessage* VTaskMgr::_TakeDelayedMessage(const std::function<bool(VMessage*, int64_t)>& match)
{
    StTaskMgrLocker locker(this);
    for (size_t i = 0; i < fDelayedMessages.size(); ++i) {
        if (match(fDelayedMessages[i], fDelayedDueTicks[i])) {
            VMessage* message = fDelayedMessages[i];
            fDelayedMessages.erase(fDelayedMessages.begin() + static_cast<std::ptrdiff_t>(i));
            fDelayedDueTicks.erase(fDelayedDueTicks.begin() + static_cast<std::ptrdiff_t>(i));
            return message;
        }
    }
    return nullptr;
}

void VTaskMgr::_CheckDelayedMessages()
{
    const int64_t now = GetCurrentTicks64();
    while (true) {
        VMessage* due = _TakeDelayedMessage([now](VMessage*, int64_t dueTicks) { return dueTicks < now; });
        if (due == nullptr)
            break;
        due->RePost();
        due->Release();
    }
}

void VTaskMgr::CancelMessages(IMessageable* target)
{
    while (true) {
        VMessage* found = _TakeDelayedMessage([target](VMessage* message, int64_t) { return message->_GetTarget() == target; });
        if (found == nullptr)
            break;
        found->Abort();
        found->Release();
    }
    // The queues are cancelled after the manager's lock is released: aborting
    // wakes other tasks, which may take that lock or cancel on our queue.
    std::vector<VRefPtr<VTask>> tasks;
    GetTasks(tasks);
    for (const VRefPtr<VTask>& task : tasks)
        task->CancelMessages(target);
}

int32_t VTaskMgr::CountMessagesFor(IMessageable* target)
{
    StTaskMgrLocker locker(this);
    int32_t count = 0;
    for (VMessage* message : fDelayedMessages) {
        if (message->_GetTarget() == target)
            ++count;
    }
    for (VTask* task = fMainTask; task != nullptr; task = task->fNext)
        count += task->CountMessagesFor(target);
    return count;
}

}  // namespace qelt
