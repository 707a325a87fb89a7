// The memory manager's pooled mode against its malloc mode and the C
// library's allocator: batches of blocks of one size allocated then freed,
// on one thread and on four threads sharing the manager.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "kernel/VCppMemMgr.h"

using namespace qelt;

namespace {

constexpr int kBatch = 64;
constexpr size_t kMiB = 1048576;

VCppMemMgr* PooledManager()
{
    static VCppMemMgr* sManager = [] {
        VCppMemMgr* manager = new VCppMemMgr(eAllocatorPooled);
        // Four pools of 64 MiB each: far more than the batches need.
        if (manager != nullptr && !manager->AddVirtualAllocation(256 * kMiB, nullptr, false))
            std::abort();
        return manager;
    }();
    return sManager;
}

VCppMemMgr* MallocManager()
{
    static VCppMemMgr* sManager = new VCppMemMgr(eAllocatorMalloc);
    return sManager;
}

void RunManager(benchmark::State& state, VCppMemMgr* manager)
{
    size_t size = static_cast<size_t>(state.range(0));
    void* blocks[kBatch];
    for (auto _ : state) {
        for (void*& p : blocks) {
            p = manager->Malloc(size, false, 0);
            benchmark::DoNotOptimize(p);
        }
        for (void* p : blocks)
            manager->Free(p);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_Pooled(benchmark::State& state) { RunManager(state, PooledManager()); }

void BM_MallocMode(benchmark::State& state) { RunManager(state, MallocManager()); }

void BM_Glibc(benchmark::State& state)
{
    size_t size = static_cast<size_t>(state.range(0));
    void* blocks[kBatch];
    for (auto _ : state) {
        for (void*& p : blocks) {
            p = std::malloc(size);
            benchmark::DoNotOptimize(p);
        }
        for (void* p : blocks)
            std::free(p);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void Sizes(benchmark::internal::Benchmark* b)
{
    for (int size : {16, 64, 256, 1024, 4096})
        b->Arg(size);
    b->Threads(1)->Threads(4)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_Pooled)->Apply(Sizes);
BENCHMARK(BM_MallocMode)->Apply(Sizes);
BENCHMARK(BM_Glibc)->Apply(Sizes);
