// The process's one task manager: adopts the initialising thread as the main
// task, keeps the list of started tasks, hands out task ids (also to threads
// without a task), finds the current task of a thread, owns the process-wide
// recursive lock under which task state changes, the data keys of per-task
// slots, the stack-size defaults, and the fiber scheduler.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace qelt {

class VProcess;
class IFiberScheduler;

// The manager's lock: recursive per thread, made of a mutex, a condition, the
// owning thread and a count. The mutex is held only inside Lock and Unlock.
class VTaskMgrLock {
public:
    VTaskMgrLock();
    ~VTaskMgrLock();
    VTaskMgrLock(const VTaskMgrLock&) = delete;
    VTaskMgrLock& operator=(const VTaskMgrLock&) = delete;

    void Lock();
    void Unlock();

private:
    struct Impl;
    Impl* fImpl;
};

class VTaskMgr : public VObject {
public:
    VTaskMgr();
    ~VTaskMgr() override;

    VTaskMgr(const VTaskMgr&) = delete;
    VTaskMgr& operator=(const VTaskMgr&) = delete;

    // The one manager (built on first use, destroyed at process exit).
    // Inline: every lock asks for the current task through it.
    static VTaskMgr* Get()
    {
        static VTaskMgr sInstance;
        return &sInstance;
    }

    // True between a successful Init and DeInit.
    static std::atomic<bool> sInstanceInited;

    // Makes the manager usable and adopts the calling thread as the main
    // task, then configures the spin locks. Returns sInstanceInited.
    static bool Init(VProcess* process);
    // Marks the main task dead and tears the manager down; the other tasks
    // are ended first, so that no toolbox thread outlives the manager.
    static void DeInit();

    // Current task and ids. Static so that callers may reach them either as
    // VTaskMgr::F() or VTaskMgr::Get()->F().
    // Inline reads of the thread's slot: every lock and every progress
    // report asks for them. Only a thread without a task that asks for its
    // id the first time goes out of line.
    static VTaskID GetCurrentTaskID()
    {
        if (VTaskID id = XMacTaskMgr::GetCurrentIDInService(); id != 0)
            return id;
        if (!sInstanceInited.load(std::memory_order_acquire))
            return 0;
        const XMacTaskMgr& platform = Get()->fPlatform;
        if (VTaskID id = platform.GetCurrentID(); id != 0)
            return id;
        if (VTask* task = platform.GetCurrentTask())
            return platform.CacheCurrentID(task);
        return Get()->_NewForeignID();
    }
    static VTask* GetCurrentTask()
    {
        if (!sInstanceInited.load(std::memory_order_acquire))
            return nullptr;
        return Get()->fPlatform.GetCurrentTask();
    }
    VTask* GetMainTask() const { return fMainTask; }
    VTaskID GetNewTaskID(VTask* task);

    void RegisterTask(VTask* task);
    void PurgeDeadTasks();
    void _TaskStarted(VTask* task);
    void _TaskStopped(VTask* task);

    // Queries (under the lock).
    int32_t GetTaskCount(bool beforeDying) const;
    VTask* RetainTaskByID(VTaskID id);
    VRefPtr<VTask> GetTaskByID(VTaskID id);
    void GetTasks(std::vector<VRefPtr<VTask>>& outTasks) const;
    uint32_t GetListStamp() const { return fListStamp.load(); }

    // From the main task only: kills the other tasks and waits for them at
    // most `milliseconds`. True when the main task is the only one left.
    bool KillAllTasks(int milliseconds);

    // Delayed messages: kept (retained) until `delayMs` have passed, then
    // reposted by an idle pass. True, also for a null message.
    bool RegisterDelayedMessage(VMessage* message, int delayMs);
    void _CheckDelayedMessages();
    // Aborts the delayed messages for the target and cancels its queued ones
    // in every task; counts them in the whole process.
    void CancelMessages(IMessageable* target);
    int32_t CountMessagesFor(IMessageable* target);
    // 64-bit ticks (1/60 s) of the monotonic clock; never wraps.
    static int64_t GetCurrentTicks64();
    // The tick after which a message delayed by `delayMs` from `now` is due.
    static int64_t DueTicks(int64_t now, int delayMs);

    // Stack sizes.
    size_t GetStackSizeForMainTask() const;
    size_t GetDefaultStackSize() const;
    void SetDefaultStackSize(size_t size);
    size_t GetCurrentFreeStackSize() const;

    // Data keys of the per-task data slots (keys start at 1).
    unsigned long CreateDataKey(void (*destructor)(void*));
    void DeleteDataKey(unsigned long key);
    bool CheckDataKey(unsigned long key) const;
    // Disposes of slot values (slot k holds key k+1) through their keys'
    // destructors.
    void DisposeData(void* const* slots, size_t count);

    // Fiber scheduler and forwarding.
    void SetFiberScheduler(IFiberScheduler* scheduler);
    IFiberScheduler* RetainFiberScheduler() const;
    IFiberScheduler* _GetScheduler() const { return fScheduler.load(std::memory_order_acquire); }
    // Lets another fiber run when the current task is a fiber; nothing
    // otherwise. Inline: every progress report yields.
    static void Yield()
    {
        VTask* task = GetCurrentTask();
        if (task != nullptr && task->IsFiber())
            _YieldFiber();
    }
    static void YieldNow();
    void YieldToFiber(VTask* task);
    static void CurrentFiberWaitFlag(int* flag, int value);
    static void CurrentFiberWaitFlagWithTimeout(int* flag, int value, int milliseconds);
    static void SetSystemEventPolling(bool polling);
    static void WakeUpSystemEventPolling();
    static void PollAndExecuteUpdateEvent();
    static void SetDirectUpdate(bool direct);
    void FiberStoppedBeingScheduled(VTask* task);
    void MAC_BeginHandlingUpdateEventsOnly();
    void MAC_StopHandlingUpdateEventsOnly();

    // The lock under which task and manager state change.
    void Lock() const;
    void Unlock() const;

    XMacTaskMgr& GetPlatformManager() { return fPlatform; }
    const XMacTaskMgr& GetPlatformManager() const { return fPlatform; }

    // Marks that a task has died since the last purge.
    void _SetDeadTaskFlag() { fDeadTaskFlag.store(true); }

private:
    bool _Init(VProcess* process);
    static void _YieldFiber();
    // Gives the calling thread, which has no task, its negative id.
    VTaskID _NewForeignID();
    void _DeInit();
    void _EndOtherTasks();
    bool _OnlyMainTaskLeft() const;
    // Takes out the first delayed message (registration order) that matches.
    VMessage* _TakeDelayedMessage(const std::function<bool(VMessage*, int64_t)>& match);

    struct DataKey {
        void (*destructor)(void*) = nullptr;
        bool deleted = false;
    };

    VTask* fMainTask = nullptr;
    mutable size_t fMainStackSize = 0;
    mutable size_t fDefaultStackSize = 0;
    VTaskMgrLock* fLock = nullptr;
    XMacTaskMgr fPlatform;
    // Fiber tasks and threads without a task draw their ids from this one
    // counter (-1, -2, ...), so that the two kinds of id never meet.
    std::atomic<int32_t> fLastNegativeID{0};
    std::deque<VTaskID> fFreeIDs;
    std::vector<DataKey> fDataKeys;
    std::atomic<IFiberScheduler*> fScheduler{nullptr};
    std::atomic<bool> fDeadTaskFlag{false};
    std::atomic<uint32_t> fListStamp{0};
    uint32_t fUpdateEventsNesting = 0;
    // The delayed-message registry, in registration order (under the lock).
    std::vector<VMessage*> fDelayedMessages;
    std::vector<int64_t> fDelayedDueTicks;
};

// Holds the task manager's lock for the length of a scope.
class StTaskMgrLocker {
public:
    explicit StTaskMgrLocker(const VTaskMgr* manager) : fManager(manager) { fManager->Lock(); }
    ~StTaskMgrLocker() { fManager->Unlock(); }
    StTaskMgrLocker(const StTaskMgrLocker&) = delete;
    StTaskMgrLocker& operator=(const StTaskMgrLocker&) = delete;

private:
    const VTaskMgr* fManager;
};

}  // namespace qelt
