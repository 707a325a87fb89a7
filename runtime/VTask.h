// The toolbox's unit of execution: the main task made of the process's first
// thread, a preemptive task with a thread of its own, or a fiber task. All
// per-thread state of the toolbox hangs off the current task.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "runtime/VDebugContext.h"
#include "runtime/VMessage.h"
#include "runtime/mac/XMacThreadSlot.h"

namespace qelt {

class VString;
class VTaskMgr;
class VIntlMgr;
class VErrorBase;
class VErrorContext;
class VErrorTaskContext;
class XMacTask;
class VVqTask;
class VValueBag;
class VMessageQueue;
class IIdleable;
class VActivityToken;
class VJSONObject;

using VTaskID = int32_t;

// How a task runs. No other value gets a platform task.
enum ETaskStyle : int {
    eTaskStylePreemptive = 1,  // a thread of its own (also the main task)
    eTaskStyleFiber = 3        // a fiber, only when the process enabled fibers
};

// Task states; changed only by atomic compare-and-swap or exchange.
enum ETaskState : int32_t {
    TaskState_New = 0,
    TaskState_Starting = 1,
    TaskState_Running = 2,
    TaskState_Dying = 3,
    TaskState_Dead = 4
};

// Why a task is blocked; set by the task on itself only when it was 0.
enum ETaskWaitReason : int32_t {
    TaskWaitReason_None = 0,
    TaskWaitReason_Sleep = 1,
    TaskWaitReason_Message = 4,
    TaskWaitReason_SentMessage = 5,
    TaskWaitReason_Death = 8
};

class VTask : public VObject, public IMessageable, public IRefCountable {
public:
    // A new task in state new, with its thread created now and parked until
    // Run. A stack size of 0 leaves the size to GetStackSize.
    VTask(unsigned long stackSize, ETaskStyle style, std::function<void()>&& runFunction);

    // The same with a procedure called with the task itself; its result is
    // ignored. A null procedure leaves the task to its virtual run loop.
    VTask(VObject* owner, unsigned long stackSize, ETaskStyle style, int (*procedure)(VTask*));

    // The main task; made only by the task manager's initialisation.
    explicit VTask(VTaskMgr* manager);

    VTask(const VTask&) = delete;
    VTask& operator=(const VTask&) = delete;

    // Hooks of the virtual run loop (tasks without run function).
    virtual void DoInit() {}
    virtual void DoDeInit() {}
    virtual bool DoRun() { return true; }
    virtual void DoIdle() {}
    virtual void DoPrepareToDie() {}

    // Starts a task in state new on its own thread or fiber.
    bool Run();

    // Asks the task to end.
    void Kill();

    // The current task ends itself at once (the argument is the task to
    // switch to when the current task is a fiber). Nothing happens on a
    // thread without a task.
    static void Exit(VTask* switchTo);

    // Waits until this task is dead or `milliseconds` have passed; true when
    // it is dead. False at once when called by the task on itself.
    bool WaitForDeath(int milliseconds);

    // True when dying or dead; `outTicks` receives the ticks since the task
    // started dying (0 when it is not).
    bool IsDying(int* outTicks = nullptr) const;

    ETaskState GetState() const { return static_cast<ETaskState>(fState.load(std::memory_order_acquire)); }
    static bool IsCurrentMain();

    // Sleeps the current task; 0 or less only yields.
    static void Sleep(int milliseconds);

    // Ends a current or the next Sleep of this task early.
    void WakeUp();

    // Identity.
    VTaskID GetID() const { return fID; }
    ETaskStyle GetStyle() const { return fStyle; }
    bool IsPreemptive() const { return fIsPreemptive; }
    bool IsFiber() const { return fIsFiber; }
    VTaskMgr* GetManager() const { return fManager; }
    int32_t GetWaitReason() const { return fWaitReason.load(std::memory_order_relaxed); }
    OsType GetKind() const { return fKind; }
    void SetKind(OsType kind) { fKind = kind; }

    void SetName(const VString& name);
    void GetName(VString& outName) const;

    // The task's properties: a new reference for the caller, or null.
    VValueBag* RetainProperties() const;
    // Keeps a reference to `properties` (null clears them).
    void SetProperties(const VValueBag* properties);

    // The stored stack size; decided (and stored) on first request.
    size_t GetStackSize() const;

    // The platform thread handle, 0 without platform task.
    unsigned long GetSystemID() const;

    bool GetCPUUsage(double& outUsage) const;
    bool GetCPUTimes(double& outSystemSeconds, double& outUserSeconds) const;

    // The calling thread's task (not retained), or null.
    static VTask* GetCurrent();
    // Its id, or 0 without a task (see VTaskMgr::GetCurrentTaskID for ids of
    // threads without a task). Inline: read from the thread's slot.
    static VTaskID GetCurrentID()
    {
        if (VTaskID id = XMacThreadSlot::GetCurrentTaskIDInService(); id != 0)
            return id;
        return _GetCurrentIDFromTask();
    }

    // The current task's international text manager; on a thread without a
    // task the process's default manager; null without a process object.
    static VIntlMgr* GetCurrentIntlManager();
    // Makes the manager the current task's (retains it); ignored for null,
    // for the manager already installed, or without a current task.
    static void SetCurrentIntlManager(VIntlMgr* manager);
    // Installs a new manager for the dialect (as dialect and collation
    // dialect) with the options byte on the current task.
    static void SetCurrentDialectCode(unsigned int dialect, unsigned char options);
    // The dialect of this task's manager, 0 without one.
    unsigned int GetDialectCode() const;
    // The wildcard of the current manager; '@' when there is none.
    static UniChar GetWildChar();

    // Errors: the task side of the error contexts.
    static VErrorTaskContext* GetErrorContext(bool create);
    static bool PushError(VErrorBase* error);
    static bool PushRetainedError(VErrorBase* error);
    static void PushErrors(const VErrorContext* context);
    static void FlushErrors();
    VError GetLastError() const;
    bool FailedForMemory() const;

    // The task's state for the debug manager; touched by this task only.
    VDebugContext& GetDebugContext() { return fDebugContext; }

    // Data slots (keys from VTaskMgr::CreateDataKey).
    static void* GetCurrentData(unsigned long key);
    static void SetCurrentData(unsigned long key, void* value);
    void DisposeAllData();

    // JSON objects kept alive for the current task until it exits: a
    // registered object is held once however often it is registered, and
    // unregistering releases it. Ignored for null or without a task.
    static void RegisterJSONObject(VJSONObject* object);
    static void UnregisterJSONObject(VJSONObject* object);

    // Gives back the current task's activity token before the task ends, so
    // that a long-lived background task does not keep the process busy.
    static void ReleaseCurrentActivityToken();

    // The opaque engine task and the holder that keeps it alive; neither is
    // retained by the task.
    void SetVqTask(VVqTask* task, IRefCountable* holder);
    VVqTask* RetainVqTask() const;

    // Called on the task's own thread or fiber by the platform layer.
    void _Run();
    void _Exit();
    void _SetStateDead();

    // Message queue (created on first need; any thread).
    bool _AllocateMessageQueueIfNeeded();
    VMessageQueue* RetainMessageQueue();
    bool AddMessage(VMessage* message);
    // Wakes the task from its message wait without a message.
    void SetMessageQueueEvent();
    uint32_t GetMessageQueueStamp() const;
    bool IsAnyMessagePending() const;
    int32_t CountMessagesFor(IMessageable* target) const;
    void CancelMessages(IMessageable* target);
    // Fewer than 1000 ms since the last pass through the message loop.
    bool IsResponding() const;

    // Taking and executing messages (the current task).
    VMessage* _RetainMessageWithTimeout(int milliseconds, bool* outTimedOut);
    static VMessage* RetainMessageWithTimeout(int milliseconds);
    bool _ExecuteMessages(VMessage* message, bool idle);
    // The next message the task takes from its queue without waiting, or
    // null.
    VMessage* _TakeNextMessage();
    static bool ExecuteMessages(bool idle);
    static bool ExecuteMessagesWithTimeout(int milliseconds, bool idle);
    // Executes messages as they come for at most `milliseconds`; the flag
    // tells whether the whole time passed.
    static void WaitAndExecuteMessages(int milliseconds, bool* outWholeTime);
    // Executes messages until the task is dying or its queue is woken.
    static void WaitAndExecuteMessages();

    // Idle work.
    void RegisterIdler(IIdleable* idler);
    // Acts only when called by the task itself.
    void UnregisterIdler(IIdleable* idler);
    // Removes the idler from any thread (its destruction).
    void _RemoveIdler(IIdleable* idler);
    void CallIdlers();
    bool _CheckIdleEvents();

    bool _SetWaitReason(int32_t reason);
    void _ClearWaitReason(bool wasSet);

    // The platform half (null when its creation failed).
    XMacTask* GetPlatformTask() const { return fPlatform; }

protected:
    ~VTask() override;

private:
    friend class VTaskMgr;
    friend class XMacTask_preemptive;

    static VTaskID _GetCurrentIDFromTask();
    void _Construct(unsigned long stackSize, ETaskStyle style);
    void _CloneDefaultIntlMgr();
    void _ReleaseErrorContext();
    void _SetThreadName();
    void _IdlePass();
    void _ReleaseActivityToken();
    void _ReleaseJSONObjects();

    XMacTask* fPlatform = nullptr;
    VTaskID fID = 0;
    ETaskStyle fStyle = eTaskStylePreemptive;
    VTaskMgr* fManager = nullptr;
    std::atomic<int32_t> fState{TaskState_New};
    std::atomic<int32_t> fWaitReason{TaskWaitReason_None};
    std::atomic<uint32_t> fDyingTime{0};
    VTask* fNext = nullptr;
    OsType fKind = 0;
    std::function<void()> fRunFunction;
    VString* fName = nullptr;
    VValueBag* fProperties = nullptr;
    mutable size_t fStackSize = 0;
    VErrorTaskContext* fErrorContext = nullptr;
    VDebugContext fDebugContext;
    bool fIsFiber = false;
    bool fIsPreemptive = true;
    bool fIsMainTask = false;
    std::vector<void*> fDataSlots;
    VIntlMgr* fIntlMgr = nullptr;
    // A caller of WaitForDeath: its message queue (one reference), woken
    // when the task is dead, and the flag raised once that is done.
    struct DeathWatcher {
        VMessageQueue* queue;
        std::shared_ptr<std::atomic<bool>> notified;
    };
    std::vector<DeathWatcher>* fDeathWatchers = nullptr;
    int32_t fFiberWakeFlag = 0;
    VVqTask* fVqTask = nullptr;
    IRefCountable* fVqTaskHolder = nullptr;
    std::atomic<VMessageQueue*> fMessageQueue{nullptr};
    std::atomic<uint32_t> fWakeStamp{0};
    uint32_t fLastIdleTime = 0;
    uint32_t fIdlePeriod = 1;
    std::vector<IIdleable*> fIdlers;  // not retained; under the manager's lock
    std::atomic<bool> fIdlersUnchanged{true};
    bool fIdling = false;
    std::atomic<uint32_t> fLastResponseTime{0};
    // "Running task <name>": keeps the process busy from Run until the task
    // is dead (or gives it back early).
    std::atomic<VActivityToken*> fActivityToken{nullptr};
    // Touched by the task itself only (and by its destructor).
    std::set<VRefPtr<VJSONObject>> fJSONObjects;
};

}  // namespace qelt
