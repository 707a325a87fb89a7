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

namespace {

// Takes the spin word: at once when it is free (the common, uncontended
// case, without a call through the strategy pointer), else by the strategy.
inline void TakeSpin(uint32_t* ioWord)
{
    if (!SpinLock::TryOnce(ioWord))
        SpinLock::Lock(ioWord);
}

}  // namespace

bool VCriticalSection::Lock()
{
    const VTaskID me = VTaskMgr::GetCurrentTaskID();
    TakeSpin(&fSpin);
    while (true) {
        // Free, or already ours: take one more level.
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
    TakeSpin(&fSpin);
    --fCount;
    if (fCount == 0) {
        fOwner = 0;
        VSyncEvent* event = fEvent;
        fEvent = nullptr;
        SpinLock::Unlock(&fSpin);
        if (event != nullptr) {
            // Every waiter wakes and competes again; the event is never reset.
            event->Unlock();
            event->Release();
        }
    } else {
        SpinLock::Unlock(&fSpin);
    }
    return true;
}

}  // namespace qelt
