// Locks of the task layer: VCriticalSection against the standard recursive
// mutex (uncontended, then four threads on one lock), the spin word against a
// bare atomic flag, and the current task's id against a thread-local read.
//
// The C library takes its mutexes without any atomic instruction while the
// process has never had a second thread, and with them for good once it has.
// A process of the toolbox has other threads as soon as its logger runs, so
// both locks are measured twice: first while this process is still
// single-threaded (the benchmarks say so in their label, and stop when it is
// not), then after a thread has been started and joined. The benchmarks run
// in the order they are registered here.
#include <benchmark/benchmark.h>
#include <sys/single_threaded.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "bench/support/Rounds.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VSpinLock.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

using namespace qelt;

namespace {

void EnsureTaskManager()
{
    static bool sInited = VTaskMgr::Init(nullptr);
    (void)sInited;
}

// Single-threaded runs must really be single-threaded; multi-threaded runs
// make sure a thread has existed.
bool SetProcessKind(benchmark::State& state, bool singleThreaded)
{
    if (singleThreaded) {
        if (!__libc_single_threaded) {
            state.SkipWithError("the process already had a second thread");
            return false;
        }
        state.SetLabel("single-threaded process");
    } else {
        static bool sStarted = [] {
            std::thread([] {}).join();
            return true;
        }();
        (void)sStarted;
        state.SetLabel("multi-threaded process");
    }
    return true;
}

void RunStdRecursiveMutex(benchmark::State& state, bool singleThreaded)
{
    if (!SetProcessKind(state, singleThreaded))
        return;
    std::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        mutex.unlock();
        benchmark::ClobberMemory();
    }
}

void RunCriticalSection(benchmark::State& state, bool singleThreaded)
{
    EnsureTaskManager();
    if (!SetProcessKind(state, singleThreaded))
        return;
    VCriticalSection section;
    for (auto _ : state) {
        section.Lock();
        section.Unlock();
        benchmark::ClobberMemory();
    }
}

void BM_StdRecursiveMutex_LockUnlock_SingleThreadedProcess(benchmark::State& state)
{
    RunStdRecursiveMutex(state, true);
}
void BM_VCriticalSection_LockUnlock_SingleThreadedProcess(benchmark::State& state)
{
    RunCriticalSection(state, true);
}
void BM_StdRecursiveMutex_LockUnlock(benchmark::State& state) { RunStdRecursiveMutex(state, false); }
void BM_VCriticalSection_LockUnlock(benchmark::State& state) { RunCriticalSection(state, false); }

// Four threads take one lock in turn and count under it; the count is checked
// so that a lock that lets two holders in cannot pass for a fast one.
constexpr int kContendingThreads = 4;

std::recursive_mutex gContendedMutex;
VCriticalSection gContendedSection;
long gContendedCount = 0;
std::atomic<int> gThreadsDone{0};

template <typename LockFn, typename UnlockFn>
void RunContended(benchmark::State& state, LockFn lock, UnlockFn unlock)
{
    if (state.thread_index() == 0) {
        // Before the start barrier: no thread counts yet.
        EnsureTaskManager();
        gContendedCount = 0;
        gThreadsDone = 0;
    }
    long mine = 0;
    for (auto _ : state) {
        lock();
        ++gContendedCount;
        unlock();
        ++mine;
    }
    // Each thread takes back its own increments; the last one finds zero
    // unless an increment was lost to two holders at once.
    lock();
    gContendedCount -= mine;
    bool last = gThreadsDone.fetch_add(1) + 1 == state.threads();
    bool lost = last && gContendedCount != 0;
    unlock();
    if (lost)
        state.SkipWithError("increments were lost: two threads held the lock at once");
}

void BM_StdRecursiveMutex_Contended(benchmark::State& state)
{
    RunContended(state, [] { gContendedMutex.lock(); }, [] { gContendedMutex.unlock(); });
}

void BM_VCriticalSection_Contended(benchmark::State& state)
{
    RunContended(state, [] { gContendedSection.Lock(); }, [] { gContendedSection.Unlock(); });
}

void BM_AtomicFlag_LockUnlock(benchmark::State& state)
{
    std::atomic_flag flag = ATOMIC_FLAG_INIT;
    for (auto _ : state) {
        while (flag.test_and_set(std::memory_order_acquire)) {
        }
        flag.clear(std::memory_order_release);
        benchmark::ClobberMemory();
    }
}

void BM_SpinLock_LockUnlock(benchmark::State& state)
{
    uint32_t word = 0;
    for (auto _ : state) {
        SpinLock::Lock(&word);
        SpinLock::Unlock(&word);
        benchmark::ClobberMemory();
    }
}

thread_local int tCurrentID = 42;

// The value is copied out first: handed over as it is, the variable itself
// may stay in memory unread, and the peer would measure an empty loop.
void BM_ThreadLocal_Read(benchmark::State& state)
{
    for (auto _ : state) {
        int id = tCurrentID;
        benchmark::DoNotOptimize(id);
    }
}

void BM_VTaskMgr_GetCurrentTaskID(benchmark::State& state)
{
    EnsureTaskManager();
    for (auto _ : state) {
        VTaskID id = VTaskMgr::GetCurrentTaskID();
        benchmark::DoNotOptimize(id);
    }
}

void BM_VTask_GetCurrentID(benchmark::State& state)
{
    EnsureTaskManager();
    for (auto _ : state) {
        VTaskID id = VTask::GetCurrentID();
        benchmark::DoNotOptimize(id);
    }
}

}  // namespace

BENCHMARK(BM_StdRecursiveMutex_LockUnlock_SingleThreadedProcess);
BENCHMARK(BM_VCriticalSection_LockUnlock_SingleThreadedProcess);
BENCHMARK(BM_StdRecursiveMutex_LockUnlock);
BENCHMARK(BM_VCriticalSection_LockUnlock);
BENCHMARK(BM_StdRecursiveMutex_Contended)->Threads(kContendingThreads)->UseRealTime();
BENCHMARK(BM_VCriticalSection_Contended)->Threads(kContendingThreads)->UseRealTime();
BENCHMARK(BM_AtomicFlag_LockUnlock);
BENCHMARK(BM_SpinLock_LockUnlock);

// The id reads are a few nanoseconds at most: they run in rounds against the
// thread-local read, the peer first in each.
namespace {
const bool sRegistered = [] {
    for (int round = 1; round <= bench::Rounds(); ++round) {
        bench::RegisterRound("BM_ThreadLocal_Read", round, BM_ThreadLocal_Read);
        bench::RegisterRound("BM_VTaskMgr_GetCurrentTaskID", round, BM_VTaskMgr_GetCurrentTaskID);
        bench::RegisterRound("BM_VTask_GetCurrentID", round, BM_VTask_GetCurrentID);
    }
    return true;
}();
}  // namespace
