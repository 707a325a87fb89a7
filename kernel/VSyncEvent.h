// The toolbox's one-shot event: once signalled it stays signalled, and every
// waiter, present or future, passes. A thread waits on a condition; a fiber
// task waits through the task manager's fiber wait flag, so that other
// fibers keep running.
#pragma once

#include <atomic>
#include <cstdint>

#include "kernel/IRefCountable.h"
#include "platform/PlatSync.h"

namespace qelt {

// The part of a sync object that counts the fiber tasks waiting on it.
class VSyncObject {
public:
    VSyncObject() = default;
    int32_t GetFiberWaiterCount() const { return fFiberWaiters.load(std::memory_order_acquire); }

protected:
    std::atomic<int32_t> fFiberWaiters{0};
};

class VSyncEvent : public IRefCountable, public VSyncObject {
public:
    // Count 1, not signalled.
    VSyncEvent() = default;

    VSyncEvent(const VSyncEvent&) = delete;
    VSyncEvent& operator=(const VSyncEvent&) = delete;

    // Waits until the event is signalled; returns true.
    bool Lock();

    // Waits at most ms milliseconds; true when the event is or becomes
    // signalled within that time, false on time-out. 0 or less only tests.
    bool Lock(int ms);

    // Signals the event: every waiter, present or future, passes.
    void Unlock()
    {
        Retain();
        fMutex.Lock();
        fSignalled.store(true, std::memory_order_seq_cst);
        fCondition.Broadcast();
        fMutex.Unlock();
        std::atomic_ref<int32_t>(fStamp).fetch_add(1, std::memory_order_seq_cst);
        if (fFiberWaiters.load(std::memory_order_seq_cst) > 0)
            _WakeUpFibers();
        Release();
    }

    // Clears the signalled flag (under the event's mutex).
    void ResetEvent()
    {
        fMutex.Lock();
        fSignalled.store(false, std::memory_order_seq_cst);
        fMutex.Unlock();
    }

    bool IsSignalled() const { return fSignalled.load(std::memory_order_seq_cst); }

    // Wakes every waiter still blocked on the condition before it goes.
    ~VSyncEvent() override;

private:
    static void _WakeUpFibers();
    static bool _IsFiberCaller();
    bool _FiberLock();
    bool _FiberLock(int ms);

    plat::Mutex fMutex;
    plat::Condition fCondition;
    std::atomic<bool> fSignalled{false};
    alignas(4) int32_t fStamp = 0;
};

}  // namespace qelt
