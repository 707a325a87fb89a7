// The platform half of a task: XMacTask is the common part, and
// XMacTask_preemptive runs a task on a thread of its own (created with the
// task on a guarded stack and parked on a semaphore until the task is run),
// or adopts the process's first thread for the main task. The same semaphore
// serves the task's Sleep and WakeUp.
#pragma once

#include <atomic>
#include <cstddef>

#include "kernel/VObject.h"
#include "platform/PlatThreads.h"

namespace qelt {

class VTask;
class XMacTaskMgr;
class XMacFiber;

class XMacTask : public VObject {
public:
    XMacTask(VTask* task, bool adopted);
    ~XMacTask() override;

    XMacTask(const XMacTask&) = delete;
    XMacTask& operator=(const XMacTask&) = delete;

    virtual bool Run() = 0;
    virtual void WakeUp() = 0;
    virtual void Freeze() = 0;
    virtual void Sleep(int milliseconds) = 0;
    virtual bool CheckSystemMessages() = 0;
    // Marks the task dead and ends its thread or fiber (see the subclasses).
    virtual void Exit(VTask* switchTo) = 0;
    // The id this platform task proposes for its task; 0 for none.
    virtual int GetValueForVTaskID() const { return 0; }
    virtual bool GetCPUUsage(double& outUsage) const;
    virtual bool GetCPUTimes(double& outSystemSeconds, double& outUserSeconds) const;

    XMacTaskMgr* GetManager() const;

    // Bytes of stack left below the caller's frame.
    size_t GetCurrentFreeStackSize() const;

    // The common run body (stack top, thread, current task, VTask::_Run, Exit).
    void _Run();

    VTask* GetTask() const { return fTask; }
    VTask* GetHomeTask() const { return fHomeTask; }
    void SetHomeTask(VTask* task) { fHomeTask = task; }
    XMacFiber* GetFiber() const { return fFiber; }
    void SetFiber(XMacFiber* fiber) { fFiber = fiber; }
    plat::ThreadHandle GetThread() const { return fThread; }
    int GetSystemThreadID() const { return fSystemThreadID.load(std::memory_order_acquire); }
    size_t GetStackSize() const { return fStackSize; }
    bool IsAdopted() const { return fAdopted; }

protected:
    // Records the calling thread as the task's thread and makes the task its
    // current task.
    void _BindToCurrentThread(const void* stackTop);

    plat::ThreadHandle fThread = 0;
    std::atomic<int> fSystemThreadID{0};
    XMacFiber* fFiber = nullptr;
    VTask* fTask = nullptr;
    VTask* fHomeTask = nullptr;
    size_t fStackSize = 0;
    const void* fStackTop = nullptr;
    bool fAdopted = false;
};

class XMacTask_preemptive : public XMacTask {
public:
    // Adopts the calling thread for the main task.
    XMacTask_preemptive(VTask* task, bool unused);
    // Empty, for a task whose thread Create makes.
    explicit XMacTask_preemptive(VTask* task);
    ~XMacTask_preemptive() override;

    // A new platform task with a parked thread; null (error raised) when the
    // stack, the semaphore or the thread cannot be made.
    static XMacTask_preemptive* Create(VTask* task);

    bool Run() override;
    void WakeUp() override;
    void Freeze() override;
    void Sleep(int milliseconds) override;
    bool CheckSystemMessages() override { return false; }
    void Exit(VTask* switchTo) override;
    int GetValueForVTaskID() const override { return GetSystemThreadID(); }

    // Wakes a thread that is still parked so that it ends without running
    // anything. Used when the task manager ends.
    void _ReleaseParkedThread();

    const plat::GuardedStack& GetStackRegion() const { return fStack; }
    bool HasSemaphore() const { return fSemaphore.IsValid(); }

private:
    bool _CreateThread();
    static void* _ThreadProc(void* object);
    void _EndThread();
    void _DeleteCurrentFiberData();

    plat::GuardedStack fStack;
    plat::Semaphore fSemaphore;
    // Posted by a new thread once it has recorded its id.
    plat::Semaphore* fStartedSignal = nullptr;
    std::atomic<bool> fParked{false};
    std::atomic<bool> fReleased{false};
    bool fJoined = false;
};

}  // namespace qelt
