#include "runtime/VConditionVariable.h"

#include "kernel/VSyncEvent.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VSpinLock.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

VConditionVariable::~VConditionVariable()
{
    if (fEvent != nullptr)
        fEvent->Release();
}

bool VConditionVariable::_Wait(VCriticalSection* section, bool timed, int milliseconds)
{
    if (section == nullptr)
        return false;

    SpinLock::Lock(&fSpin);
    uint16_t before = fWaiters;
    ++fWaiters;
    if (before > 0 && fSection != section) {
        fWaiters = before;
        SpinLock::Unlock(&fSpin);
        return false;
    }
    if (before == 0) {
        if (fEvent == nullptr)
            fEvent = new VSyncEvent();
        fSection = section;
    }
    VSyncEvent* event = fEvent;
    SpinLock::Unlock(&fSpin);

    section->Unlock();

    bool result;
    if (!timed) {
        result = event->Lock();
    } else {
        // Both kinds of task wait through the event: a fiber task through the
        // fiber scheduler, a thread on the event's condition.
        result = event->Lock(milliseconds);
    }

    SpinLock::Lock(&fSpin);
    --fWaiters;
    if (fWaiters == 0) {
        if (fBroadcasts == 0)
            event->ResetEvent();
        fSection = nullptr;
    }
    SpinLock::Unlock(&fSpin);

    section->Lock();
    return result;
}

bool VConditionVariable::Broadcast()
{
    SpinLock::Lock(&fSpin);
    if (fEvent != nullptr) {
        VSyncEvent* event = fEvent;
        ++fBroadcasts;
        SpinLock::Unlock(&fSpin);
        event->Unlock();
        SpinLock::Lock(&fSpin);
        --fBroadcasts;
        if (fBroadcasts == 0 && fWaiters == 0)
            event->ResetEvent();
    }
    SpinLock::Unlock(&fSpin);
    return true;
}

}  // namespace qelt
