#include "runtime/VCriticalSection.h"

#include "kernel/VSyncEvent.h"
#include "platform/PlatSync.h"
#include "runtime/VSpinLock.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

VCriticalSection::~VCriticalSection()
{
    while (fCount > 0)
        Unlock();
}

// The uncontended paths take the spin word with one inline try and release
// it with the release function itself (the pointer designates it in every
// mode), so that they make no indirect call; only a busy word goes through
// the strategy. The waiting and waking stay out of line, so that the common
// paths need no stack frame.

bool VCriticalSection::Lock()
{
    const VTaskID me = VTaskMgr::GetCurrentTaskID();
    if (!SpinLock::TryOnce(&fSpin)) [[unlikely]]
        SpinLock::Lock(&fSpin);
    // Free, or already ours: take one more level.
    const int32_t owner = fOwner;
    if (owner == 0 || owner == me) [[likely]] {
        fOwner = me;
        ++fCount;
        SpinLock::Release(&fSpin);
        return true;
    }
    return _LockHeldByOther(me);
}

// Called with the spin word held, the section held by another task.
bool VCriticalSection::_LockHeldByOther(VTaskID me)
{
    while (true) {
        if (fOwner == 0 || fOwner == me) {
            fOwner = me;
            ++fCount;
            SpinLock::Unlock(&fSpin);
            return true;
        }

        if (fEvent != nullptr) {
            // Held by another task: wait for its final unlock.
            VSyncEvent* event = fEvent;
            event->Retain();
            SpinLock::Unlock(&fSpin);
            event->Lock();
            event->Release();
            SpinLock::Lock(&fSpin);
            continue;
        }

        // First waiter: make the event outside the spin word.
        SpinLock::Unlock(&fSpin);
        VSyncEvent* newEvent = new VSyncEvent();
        SpinLock::Lock(&fSpin);
        if (fOwner == 0) {
            fOwner = me;
            ++fCount;
            SpinLock::Unlock(&fSpin);
            newEvent->Release();
            return true;
        }
        if (fEvent == nullptr) {
            fEvent = newEvent;  // the section keeps this reference
            continue;
        }
        // Another task installed its event first.
        SpinLock::Unlock(&fSpin);
        newEvent->Release();
        if (SpinLock::GetYieldAfterCheckEvent())
            plat::YieldThread();
        SpinLock::Lock(&fSpin);
    }
}

bool VCriticalSection::TryToLock()
{
    const VTaskID me = VTaskMgr::GetCurrentTaskID();
    SpinLock::Lock(&fSpin);
    if (fOwner == 0)
        fOwner = me;
    bool taken = fOwner == me;
    if (taken)
        ++fCount;
    SpinLock::Unlock(&fSpin);
    return taken;
}

bool VCriticalSection::Unlock()
{
    if (!SpinLock::TryOnce(&fSpin)) [[unlikely]]
        SpinLock::Lock(&fSpin);
    if (--fCount != 0) {
        SpinLock::Release(&fSpin);
        return true;
    }
    fOwner = 0;
    VSyncEvent* event = fEvent;
    fEvent = nullptr;
    SpinLock::Release(&fSpin);
    if (event != nullptr) [[unlikely]]
        _WakeWaiters(event);
    return true;
}

// Every waiter wakes and competes again; the event is never reset.
void VCriticalSection::_WakeWaiters(VSyncEvent* event)
{
    event->Unlock();
    event->Release();
}

}  // namespace qelt
