// Mutexes and condition variables of the platform layer. Conditions wait on
// the monotonic clock, so a change of the wall clock never shortens or
// lengthens a timed wait.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace qelt::plat {

// A plain (non-recursive) mutex.
class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock() { ::pthread_mutex_lock(&fMutex); }
    void Unlock() { ::pthread_mutex_unlock(&fMutex); }
    bool TryLock() { return ::pthread_mutex_trylock(&fMutex) == 0; }

private:
    friend class Condition;
    pthread_mutex_t fMutex;
};

// A mutex that the thread holding it may take again; each Lock needs its Unlock.
class RecursiveMutex {
public:
    RecursiveMutex();
    ~RecursiveMutex();
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void Lock() { ::pthread_mutex_lock(&fMutex); }
    void Unlock() { ::pthread_mutex_unlock(&fMutex); }
    bool TryLock() { return ::pthread_mutex_trylock(&fMutex) == 0; }

private:
    pthread_mutex_t fMutex;
};

// Holds a mutex for the length of a scope.
template <class M>
class ScopedLock {
public:
    explicit ScopedLock(M& m) : fM(m) { fM.Lock(); }
    ~ScopedLock() { fM.Unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    M& fM;
};

// A condition variable on the monotonic clock, used with a Mutex.
class Condition {
public:
    Condition();
    // Destroys the condition; while the system reports it busy, wakes every
    // waiter, yields the processor and tries again.
    ~Condition();
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    // Waits until woken (wake-ups may be spurious: callers test their state again).
    void Wait(Mutex& m) { ::pthread_cond_wait(&fCond, &m.fMutex); }

    // Waits until woken or until the monotonic clock reaches deadlineNs
    // (nanoseconds, see MonotonicNanoseconds). False when the deadline has passed.
    bool WaitUntil(Mutex& m, uint64_t deadlineNs);

    // Waits, looping over early wake-ups, until pred() holds or the monotonic
    // deadline is reached. Returns the last value of pred().
    template <class Pred>
    bool WaitUntil(Mutex& m, uint64_t deadlineNs, Pred pred)
    {
        while (!pred()) {
            if (!WaitUntil(m, deadlineNs))
                return pred();
        }
        return true;
    }

    void Signal() { ::pthread_cond_signal(&fCond); }
    void Broadcast() { ::pthread_cond_broadcast(&fCond); }

private:
    pthread_cond_t fCond;
};

// Gives the rest of the calling thread's time slice to other threads.
void YieldThread();

// The monotonic deadline, in nanoseconds, that lies ms milliseconds from now
// (a negative ms gives now).
uint64_t DeadlineAfterMilliseconds(int64_t ms);

}  // namespace qelt::plat
