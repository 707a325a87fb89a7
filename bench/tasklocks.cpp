// Locks of the task layer: an uncontended VCriticalSection against the
// standard recursive mutex, the spin word against a bare atomic flag, and the
// current task's id against a thread-local read.
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>

#include "runtime/VCriticalSection.h"
#include "runtime/VSpinLock.h"
#include "runtime/VTaskMgr.h"

using namespace qelt;

namespace {

void EnsureTaskManager()
{
    static bool sInited = VTaskMgr::Init(nullptr);
    (void)sInited;
}

void BM_StdRecursiveMutex_LockUnlock(benchmark::State& state)
{
    std::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        mutex.unlock();
        benchmark::ClobberMemory();
    }
}

void BM_VCriticalSection_LockUnlock(benchmark::State& state)
{
    EnsureTaskManager();
    VCriticalSection section;
    for (auto _ : state) {
        section.Lock();
        section.Unlock();
        benchmark::ClobberMemory();
    }
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

void BM_ThreadLocal_Read(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(tCurrentID);
}

void BM_VTaskMgr_GetCurrentTaskID(benchmark::State& state)
{
    EnsureTaskManager();
    for (auto _ : state)
        benchmark::DoNotOptimize(VTaskMgr::GetCurrentTaskID());
}

}  // namespace

BENCHMARK(BM_StdRecursiveMutex_LockUnlock);
BENCHMARK(BM_VCriticalSection_LockUnlock);
BENCHMARK(BM_AtomicFlag_LockUnlock);
BENCHMARK(BM_SpinLock_LockUnlock);
BENCHMARK(BM_ThreadLocal_Read);
BENCHMARK(BM_VTaskMgr_GetCurrentTaskID);
