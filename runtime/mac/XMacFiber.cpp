#include "runtime/mac/XMacFiber.h"

#include <mutex>

#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace qelt {

namespace {

// Thrown on a fiber's thread when its fiber is deleted while it waits for a
// switch; caught by the thread's procedure, which then returns.
struct XFiberAbortSignal {};

std::once_flag sKeyOnce;
std::once_flag sCarbonOnce;

void EnsureKey()
{
    std::call_once(sKeyOnce, [] {
        int err = plat::CreateThreadKey(XMacFiber::sKey);
        if (err != 0)
            _ThrowError(PosixError(err));
        else
            XMacFiber::sKeyCreated = true;
    });
}

}  // namespace

plat::ThreadKey XMacFiber::sKey = 0;
bool XMacFiber::sKeyCreated = false;
unsigned int XMacFiber::sKey_CarbonEventQueue = 0;
unsigned int XMacFiber::sKey_CarbonEventLoop = 0;
void* (*XMacFiber::sGetCurrentEventQueue)() = nullptr;
void* (*XMacFiber::sGetMainEventQueue)() = nullptr;
void* (*XMacFiber::sGetCurrentEventLoop)() = nullptr;
void* (*XMacFiber::sGetMainEventLoop)() = nullptr;

// ---------------------------------------------------------------------------

_FiberData::_FiberData(VTask* task)
{
    SetTask(task);
}

void _FiberData::SetTask(VTask* task)
{
    fTask = task;
    fID = task != nullptr ? task->GetID() : 0;
}

// ---------------------------------------------------------------------------

XMacFiber::XMacFiber(void (*entry)(void*), void* data, plat::Semaphore* semaphore, const plat::GuardedStack& stack)
    : fEntry(entry), fData(data), fSemaphore(semaphore), fStack(stack)
{
}

XMacFiber::XMacFiber(void* data, plat::Semaphore* semaphore)
    : fData(data), fSemaphore(semaphore), fThread(plat::CurrentThread())
{
}

XMacFiber::~XMacFiber()
{
    delete fSemaphore;
    plat::FreeGuardedStack(fStack);
}

XMacFiber* XMacFiber::GetCurrent()
{
    if (!sKeyCreated)
        return nullptr;
    return static_cast<XMacFiber*>(plat::GetThreadKeyValue(sKey));
}

XMacFiber* XMacFiber::Create(unsigned long stackSize, void (*entry)(void*), void* data)
{
    EnsureKey();
    plat::GuardedStack stack;
    int err = plat::AllocateGuardedStack(stackSize, stack);
    plat::Semaphore* semaphore = nullptr;
    if (err == 0) {
        semaphore = new plat::Semaphore();
        err = semaphore->Create(0);
    }
    if (err != 0) {
        delete semaphore;
        plat::FreeGuardedStack(stack);
        _ThrowError(PosixError(err));
        return nullptr;
    }
    XMacFiber* fiber = new XMacFiber(entry, data, semaphore, stack);
    plat::ThreadHandle thread = 0;
    err = plat::StartThread(thread, &fiber->fStack, &ThreadProc, fiber);
    if (err != 0) {
        delete fiber;  // destroys the semaphore and frees the stack
        _ThrowError(PosixError(err));
        return nullptr;
    }
    fiber->fThread = thread;
    return fiber;
}

void* XMacFiber::ThreadProc(void* object)
{
    XMacFiber* fiber = static_cast<XMacFiber*>(object);
    std::call_once(sCarbonOnce, &XMacFiber::_GetCarbonKeys);
    // The event toolbox's keys would be pointed at the main thread's event
    // queue and loop here; without that toolbox they stay unknown.
    plat::SetThreadKeyValue(sKey, fiber);
    fiber->fSemaphore->Wait();
    if (!fiber->fAbort) {
        try {
            fiber->fEntry(fiber->fData);
        } catch (const XFiberAbortSignal&) {
        }
    }
    _ClearEventKeys();
    plat::SetThreadKeyValue(sKey, nullptr);
    return nullptr;
}

void XMacFiber::_GetCarbonKeys()
{
    if (sGetCurrentEventQueue == nullptr && sGetCurrentEventLoop == nullptr)
        return;  // nothing to look for
    plat::ThreadHandle thread = 0;
    if (plat::StartThread(thread, nullptr, &_GetCarbonKeysProc, nullptr) == 0)
        plat::JoinThread(thread);
}

void* XMacFiber::_GetCarbonKeysProc(void*)
{
    // The event toolbox's entry points are null on this system, so no key is
    // ever found and both stay 0.
    return nullptr;
}

void XMacFiber::_ClearEventKeys()
{
    // Only a known key would be cleared; none is known here.
}

XMacFiber* XMacFiber::CreateFiberForThread(void* data)
{
    EnsureKey();
    plat::Semaphore* semaphore = new plat::Semaphore();
    int err = semaphore->Create(0);
    if (err != 0) {
        delete semaphore;
        _ThrowError(PosixError(err));
        return nullptr;
    }
    XMacFiber* fiber = new XMacFiber(data, semaphore);
    if (sKeyCreated)
        plat::SetThreadKeyValue(sKey, fiber);
    return fiber;
}

void XMacFiber::Abort()
{
    fAbort = true;
    fSemaphore->Signal();
    if (fThread != 0 && !fJoined) {
        plat::JoinThread(fThread);
        fJoined = true;
    }
}

void XMacFiber::Run()
{
    SwitchToFiber(this);
}

// ---------------------------------------------------------------------------

void* ConvertThreadToFiber(void* data)
{
    return XMacFiber::CreateFiberForThread(data);
}

void* CreateFiberEx(unsigned long /*commitSize*/, unsigned long stackSize, unsigned int /*flags*/,
                    void (*entry)(void*), void* data)
{
    return XMacFiber::Create(stackSize, entry, data);
}

void* GetCurrentFiber()
{
    return XMacFiber::GetCurrent();
}

void* GetFiberData()
{
    XMacFiber* fiber = XMacFiber::GetCurrent();
    return fiber != nullptr ? fiber->GetData() : nullptr;
}

void SwitchToFiber(void* target)
{
    XMacFiber* current = XMacFiber::GetCurrent();
    XMacFiber* next = static_cast<XMacFiber*>(target);
    if (next == nullptr || current == next)
        return;
    next->fSemaphore->Signal();
    if (current == nullptr)
        return;  // callers switch only from a fiber
    current->fSemaphore->Wait();
    if (current->fAbort)
        throw XFiberAbortSignal();  // the fiber was deleted: its thread ends
}

void DeleteFiber(void* object)
{
    XMacFiber* fiber = static_cast<XMacFiber*>(object);
    if (fiber == nullptr)
        return;
    if (fiber->HasEntry()) {
        if (fiber == XMacFiber::GetCurrent())
            return;
        fiber->Abort();
    } else if (fiber == XMacFiber::GetCurrent()) {
        plat::SetThreadKeyValue(XMacFiber::sKey, nullptr);  // no dangling current fiber
    }
    delete fiber;
}

}  // namespace qelt
