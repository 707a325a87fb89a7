#include "platform/PlatSync.h"

#include "platform/PlatClock.h"

#include <errno.h>
#include <sched.h>
#include <time.h>

namespace qelt::plat {

Mutex::Mutex() { ::pthread_mutex_init(&fMutex, nullptr); }

Mutex::~Mutex() { ::pthread_mutex_destroy(&fMutex); }

RecursiveMutex::RecursiveMutex()
{
    pthread_mutexattr_t attr;
    ::pthread_mutexattr_init(&attr);
    ::pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    ::pthread_mutex_init(&fMutex, &attr);
    ::pthread_mutexattr_destroy(&attr);
}

RecursiveMutex::~RecursiveMutex() { ::pthread_mutex_destroy(&fMutex); }

Condition::Condition()
{
    pthread_condattr_t attr;
    ::pthread_condattr_init(&attr);
    ::pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    ::pthread_cond_init(&fCond, &attr);
    ::pthread_condattr_destroy(&attr);
}

Condition::~Condition()
{
    // Waiters that are still blocked are woken first, so that destruction
    // never waits for a wake-up that no one will send.
    ::pthread_cond_broadcast(&fCond);
    while (::pthread_cond_destroy(&fCond) == EBUSY) {
        ::pthread_cond_broadcast(&fCond);
        YieldThread();
    }
}

bool Condition::WaitUntil(Mutex& m, uint64_t deadlineNs)
{
    if (MonotonicNanoseconds() >= deadlineNs)
        return false;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(deadlineNs / 1000000000ull);
    ts.tv_nsec = static_cast<long>(deadlineNs % 1000000000ull);
    int err = ::pthread_cond_timedwait(&fCond, &m.fMutex, &ts);
    if (err == ETIMEDOUT)
        return false;
    return MonotonicNanoseconds() < deadlineNs;
}

void YieldThread() { ::sched_yield(); }

uint64_t DeadlineAfterMilliseconds(int64_t ms)
{
    uint64_t now = MonotonicNanoseconds();
    if (ms <= 0)
        return now;
    return now + static_cast<uint64_t>(ms) * 1000000ull;
}

}  // namespace qelt::plat
