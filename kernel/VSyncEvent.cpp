#include "kernel/VSyncEvent.h"

#include "platform/PlatClock.h"

#include "runtime/VTaskMgr.h"

namespace qelt {

VSyncEvent::~VSyncEvent() = default;

void VSyncEvent::_WakeUpFibers()
{
    VTaskMgr::WakeUpSystemEventPolling();
}

bool VSyncEvent::_IsFiberCaller()
{
    if (!VTaskMgr::sInstanceInited)
        return false;
    VTask* task = VTask::GetCurrent();
    return task != nullptr && !task->IsPreemptive();
}

bool VSyncEvent::Lock()
{
    if (fSignalled.load(std::memory_order_seq_cst))
        return true;
    if (_IsFiberCaller())
        return _FiberLock();
    fMutex.Lock();
    while (!fSignalled.load(std::memory_order_seq_cst))
        fCondition.Wait(fMutex);
    fMutex.Unlock();
    return true;
}

bool VSyncEvent::Lock(int ms)
{
    if (fSignalled.load(std::memory_order_seq_cst))
        return true;
    if (ms <= 0)
        return false;
    if (_IsFiberCaller())
        return _FiberLock(ms);
    // An early wake-up of the condition is not a time-out: wait on until the
    // deadline of the monotonic clock.
    uint64_t deadline = plat::DeadlineAfterMilliseconds(ms);
    fMutex.Lock();
    bool signalled = fCondition.WaitUntil(fMutex, deadline,
                                          [this] { return fSignalled.load(std::memory_order_seq_cst); });
    fMutex.Unlock();
    return signalled;
}

bool VSyncEvent::_FiberLock()
{
    std::atomic_ref<int32_t> stamp(fStamp);
    fFiberWaiters.fetch_add(1, std::memory_order_seq_cst);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    int32_t value = stamp.load(std::memory_order_seq_cst);
    while (!fSignalled.load(std::memory_order_seq_cst)) {
        VTaskMgr::CurrentFiberWaitFlag(reinterpret_cast<int*>(&fStamp), value);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        value = stamp.load(std::memory_order_seq_cst);
    }
    fFiberWaiters.fetch_sub(1, std::memory_order_seq_cst);
    return true;
}

bool VSyncEvent::_FiberLock(int ms)
{
    std::atomic_ref<int32_t> stamp(fStamp);
    int32_t remembered = stamp.load(std::memory_order_seq_cst);
    fFiberWaiters.fetch_add(1, std::memory_order_seq_cst);
    uint32_t deadline = static_cast<uint32_t>(plat::MonotonicMilliseconds()) + static_cast<uint32_t>(ms);
    int remaining = ms;
    bool result = false;
    for (;;) {
        if (fSignalled.load(std::memory_order_seq_cst)) {
            result = true;
            break;
        }
        VTaskMgr::CurrentFiberWaitFlagWithTimeout(reinterpret_cast<int*>(&fStamp), remembered, remaining);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        int32_t now_stamp = stamp.load(std::memory_order_seq_cst);
        if (fSignalled.load(std::memory_order_seq_cst)) {
            result = true;
            break;
        }
        uint32_t now = static_cast<uint32_t>(plat::MonotonicMilliseconds());
        // The deadline is reached when it is not later than now (unsigned
        // 32-bit difference, so the wrap of the clock does no harm).
        int32_t left = static_cast<int32_t>(deadline - now);
        if (left <= 0)
            break;
        remaining = left;
        remembered = now_stamp;
    }
    fFiberWaiters.fetch_sub(1, std::memory_order_seq_cst);
    return result;
}

}  // namespace qelt
