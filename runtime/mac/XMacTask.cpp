#include "runtime/mac/XMacTask.h"

#include <cerrno>

#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacFiber.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace qelt {

namespace {

// Thrown by VTask::Exit on a task's own thread and caught by the thread's
// procedure, so that the thread ends by returning from it, its frames unwound.
struct XTaskExitSignal {};

}  // namespace

// ---------------------------------------------------------------------------
// XMacTask

XMacTask::XMacTask(VTask* task, bool adopted) : fTask(task), fAdopted(adopted)
{
    if (adopted) {
        fStackSize = plat::CurrentThreadStackSize();
        fStackTop = plat::CurrentThreadStackTop();
    }
}

XMacTask::~XMacTask()
{
    if (fFiber != nullptr) {
        if (fAdopted) {
            delete static_cast<_FiberData*>(GetFiberData());
            fFiber->SetData(nullptr);
        }
        DeleteFiber(fFiber);
        fFiber = nullptr;
    }
}

XMacTaskMgr* XMacTask::GetManager() const
{
    return &VTaskMgr::Get()->GetPlatformManager();
}

size_t XMacTask::GetCurrentFreeStackSize() const
{
    char here = 0;
    const char* top = static_cast<const char*>(fStackTop);
    if (top == nullptr)
        return 0;
    // (address of a local) + stack size - stack top: the bytes below the frame.
    intptr_t free = reinterpret_cast<intptr_t>(&here) + static_cast<intptr_t>(fStackSize) - reinterpret_cast<intptr_t>(top);
    return free > 0 ? static_cast<size_t>(free) : 0;
}

void XMacTask::_BindToCurrentThread(const void* stackTop)
{
    fStackTop = stackTop;
    fThread = plat::CurrentThread();
    fSystemThreadID.store(plat::CurrentThreadSystemID(), std::memory_order_release);
    GetManager()->SetCurrentTask(fTask);
}

void XMacTask::_Run()
{
    char frame = 0;
    _BindToCurrentThread(&frame);
    fTask->_Run();
    Exit(fHomeTask == fTask ? nullptr : fHomeTask);
}

bool XMacTask::GetCPUTimes(double& outSystemSeconds, double& outUserSeconds) const
{
    return plat::GetThreadCPUTimes(GetSystemThreadID(), outSystemSeconds, outUserSeconds);
}

bool XMacTask::GetCPUUsage(double& outUsage) const
{
    return plat::GetThreadCPUUsage(GetSystemThreadID(), outUsage);
}

// ---------------------------------------------------------------------------
// XMacTask_preemptive

XMacTask_preemptive::XMacTask_preemptive(VTask* task, bool /*unused*/) : XMacTask(task, true)
{
    fThread = plat::CurrentThread();
    fSystemThreadID.store(plat::CurrentThreadSystemID());
    // Without a semaphore the main task still sleeps (plainly) and WakeUp
    // has no effect.
    fSemaphore.Create(0);
}

XMacTask_preemptive::XMacTask_preemptive(VTask* task) : XMacTask(task, false) {}

XMacTask_preemptive* XMacTask_preemptive::Create(VTask* task)
{
    XMacTask_preemptive* platform = new XMacTask_preemptive(task);
    if (!platform->_CreateThread()) {
        delete platform;
        return nullptr;
    }
    return platform;
}

bool XMacTask_preemptive::_CreateThread()
{
    int err = plat::AllocateGuardedStack(fTask->GetStackSize(), fStack);
    if (err == 0)
        err = fSemaphore.Create(0);
    if (err != 0) {
        _ThrowError(PosixError(err));
        return false;
    }
    fStackSize = fStack.stackSize;
    fTask->fStackSize = fStack.stackSize;

    plat::Semaphore started;
    err = started.Create(0);
    if (err != 0) {
        _ThrowError(PosixError(err));
        return false;
    }
    fStartedSignal = &started;
    fParked.store(true);

    XMacTaskMgr* manager = GetManager();
    manager->_ThreadStarted();
    err = plat::StartThread(fThread, &fStack, &_ThreadProc, this);
    if (err != 0) {
        manager->_ThreadEnded();
        fParked.store(false);
        fStartedSignal = nullptr;
        fThread = 0;
        _ThrowError(PosixError(err));
        return false;
    }
    // The new thread records its id (the task takes it as its own) before it parks.
    started.Wait();
    fStartedSignal = nullptr;
    manager->_RegisterThreadTask(this);
    return true;
}

void* XMacTask_preemptive::_ThreadProc(void* object)
{
    XMacTask_preemptive* self = static_cast<XMacTask_preemptive*>(object);
    XMacTaskMgr* manager = self->GetManager();

    if (manager->AreFibersEnabled()) {
        _FiberData* data = new _FiberData(self->fTask);
        XMacFiber* fiber = static_cast<XMacFiber*>(ConvertThreadToFiber(data));
        if (fiber == nullptr)
            delete data;
        self->fFiber = fiber;
        self->fHomeTask = self->fTask;
    }

    self->fSystemThreadID.store(plat::CurrentThreadSystemID(), std::memory_order_release);
    self->fStartedSignal->Signal();

    // Parked until Run, or until the task goes (or the manager ends). A
    // WakeUp given to the task before it was run does not end the parking.
    VTask* task = self->fTask;
    do {
        self->fSemaphore.Wait();
    } while (task->GetState() == TaskState_New && !self->fReleased.load());
    self->fParked.store(false);

    if (task->GetState() == TaskState_Starting && !self->fReleased.load()) {
        try {
            char frame = 0;
            self->_BindToCurrentThread(&frame);
            task->_Run();
        } catch (const XTaskExitSignal&) {
            // VTask::Exit: the task's frames are unwound; it ends as below.
        }
        self->_EndThread();
    }
    manager->_ThreadEnded();
    return nullptr;
}

void XMacTask_preemptive::_DeleteCurrentFiberData()
{
    if (XMacFiber* fiber = XMacFiber::GetCurrent()) {
        delete static_cast<_FiberData*>(fiber->GetData());
        fiber->SetData(nullptr);
    }
}

void XMacTask_preemptive::_EndThread()
{
    _DeleteCurrentFiberData();
    GetManager()->SetCurrentTask(nullptr);
    // From here on the task (and this object) may be released by another thread.
    fTask->_SetStateDead();
}

bool XMacTask_preemptive::Run()
{
    if (fThread == 0 || fReleased.load())
        return false;
    return fSemaphore.Signal() == 0;
}

void XMacTask_preemptive::WakeUp()
{
    fSemaphore.Signal();
}

void XMacTask_preemptive::Freeze()
{
    if (fSemaphore.IsValid())
        fSemaphore.Wait();
}

void XMacTask_preemptive::Sleep(int milliseconds)
{
    if (fSemaphore.IsValid())
        fSemaphore.WaitFor(milliseconds);
    else
        plat::ThreadSleep(milliseconds);
}

void XMacTask_preemptive::Exit(VTask* /*switchTo*/)
{
    if (fAdopted) {
        // The process's first thread cannot be ended under the program: the
        // task is marked dead and the call returns.
        fTask->_SetStateDead();
        return;
    }
    if (fThread != 0 && plat::SameThread(fThread, plat::CurrentThread())) {
        // Unwinds to the thread's procedure, which marks the task dead once
        // the task's frames are gone and returns.
        throw XTaskExitSignal();
    }
    fTask->_SetStateDead();
}

void XMacTask_preemptive::_ReleaseParkedThread()
{
    if (fThread != 0 && !fAdopted && fParked.load() && !fReleased.exchange(true))
        fSemaphore.Signal();
}

XMacTask_preemptive::~XMacTask_preemptive()
{
    if (fThread != 0 && !fAdopted) {
        GetManager()->_UnregisterThreadTask(this);
        // A thread still parked wakes, finds its task not starting, and ends.
        fReleased.store(true);
        fSemaphore.Signal();
        if (plat::SameThread(fThread, plat::CurrentThread())) {
            // The task's last reference went on its own thread, which still
            // runs on this stack: let the thread go, and leave the stack mapped.
            plat::DetachThread(fThread);
            fStack = plat::GuardedStack();
        } else {
            plat::JoinThread(fThread);
        }
        fThread = 0;
    }
    plat::FreeGuardedStack(fStack);
    fSemaphore.Destroy();
}

}  // namespace qelt
