// The process memory manager in malloc mode against the C library's
// allocator, and reference counting against a bare atomic counter.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>

#include "kernel/IRefCountable.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"

using namespace qelt;

namespace {

VCppMemMgr* Manager()
{
    static VCppMemMgr* sManager = [] {
        if (VObject::sCppMemMgr == nullptr)
            VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
        return VObject::sCppMemMgr;
    }();
    return sManager;
}

void BM_Glibc_MallocFree(benchmark::State& state)
{
    size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::free(p);
        benchmark::ClobberMemory();
    }
}

void BM_VCppMemMgr_MallocFree(benchmark::State& state)
{
    size_t size = static_cast<size_t>(state.range(0));
    VCppMemMgr* mgr = Manager();
    for (auto _ : state) {
        void* p = mgr->Malloc(size, false, kMemTag_MemBuffer);
        benchmark::DoNotOptimize(p);
        mgr->Free(p);
        benchmark::ClobberMemory();
    }
}

// 16 blocks alive at once (64 KiB at most, under the C library's trim
// threshold), so that the allocators do more than recycle one block.
void BM_Glibc_MallocFree16(benchmark::State& state)
{
    size_t size = static_cast<size_t>(state.range(0));
    void* blocks[16];
    for (auto _ : state) {
        for (void*& p : blocks) {
            p = std::malloc(size);
            benchmark::DoNotOptimize(p);
        }
        for (void* p : blocks)
            std::free(p);
        benchmark::ClobberMemory();
    }
}

void BM_VCppMemMgr_MallocFree16(benchmark::State& state)
{
    size_t size = static_cast<size_t>(state.range(0));
    VCppMemMgr* mgr = Manager();
    void* blocks[16];
    for (auto _ : state) {
        for (void*& p : blocks) {
            p = mgr->Malloc(size, false, kMemTag_MemBuffer);
            benchmark::DoNotOptimize(p);
        }
        for (void* p : blocks)
            mgr->Free(p);
        benchmark::ClobberMemory();
    }
}

class Counted : public VObject, public IRefCountable {};

void BM_Atomic_IncDec(benchmark::State& state)
{
    std::atomic<int32_t> count{1};
    for (auto _ : state) {
        benchmark::DoNotOptimize(count.fetch_add(1, std::memory_order_seq_cst) + 1);
        benchmark::DoNotOptimize(count.fetch_sub(1, std::memory_order_seq_cst) - 1);
    }
}

void BM_IRefCountable_RetainRelease(benchmark::State& state)
{
    Counted* obj = new Counted();
    IRefCountable* counted = obj;
    benchmark::DoNotOptimize(counted);
    for (auto _ : state) {
        benchmark::DoNotOptimize(counted->Retain());
        benchmark::DoNotOptimize(counted->Release());
    }
    obj->Release();
}

}  // namespace

BENCHMARK(BM_Glibc_MallocFree)->RangeMultiplier(4)->Range(16, 4096);
BENCHMARK(BM_VCppMemMgr_MallocFree)->RangeMultiplier(4)->Range(16, 4096);
BENCHMARK(BM_Glibc_MallocFree16)->RangeMultiplier(4)->Range(16, 4096);
BENCHMARK(BM_VCppMemMgr_MallocFree16)->RangeMultiplier(4)->Range(16, 4096);
BENCHMARK(BM_Atomic_IncDec);
BENCHMARK(BM_IRefCountable_RetainRelease);
