// Appending to the growable memory buffer and writing numbers to the
// in-memory stream, against std::vector appends of the same bytes.
//
// The first benchmarks start from an empty container each time, so their
// figures include the growth (the buffer's block always moves when it grows)
// and whatever the C library's allocator does with the freed blocks: whether
// it gives the top of its heap back to the system, and so page faults again,
// depends on its adaptive thresholds and varies from run to run. The
// "Reused" benchmarks keep one container and write the same data again
// (the vector cleared, the buffer's size set back to 0, the stream put back
// at position 0), which measures the cost of each append alone.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "files/VPtrStream.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "values/VMemoryBuffer.h"
#include "bench/support/Memory.h"
#include "bench/support/Rounds.h"

using namespace qelt;

namespace {

void BM_StdVector_AppendBytes(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::vector<unsigned char> v;
        for (int i = 0; i < count; ++i)
            v.push_back(static_cast<unsigned char>(i));
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_VMemoryBuffer_AppendBytes(benchmark::State& state)
{
    EnsureManager();
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        VMemoryBufferDefault buffer;
        for (int i = 0; i < count; ++i) {
            unsigned char b = static_cast<unsigned char>(i);
            buffer.AppendData(&b, 1);
        }
        benchmark::DoNotOptimize(buffer.GetDataPtr());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_StdVector_AppendLongs(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::vector<int> v;
        for (int i = 0; i < count; ++i)
            v.push_back(i);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_VPtrStream_PutLongs(benchmark::State& state)
{
    EnsureManager();
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        VPtrStream stream;
        stream.OpenWriting();
        for (int i = 0; i < count; ++i)
            stream.PutLongs(&i, 1);
        benchmark::DoNotOptimize(stream.GetDataPtr());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_StdVector_AppendBytes_Reused(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::vector<unsigned char> v;
    for (auto _ : state) {
        v.clear();
        for (int i = 0; i < count; ++i)
            v.push_back(static_cast<unsigned char>(i));
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_VMemoryBuffer_AppendBytes_Reused(benchmark::State& state)
{
    EnsureManager();
    const int count = static_cast<int>(state.range(0));
    VMemoryBufferDefault buffer;
    for (auto _ : state) {
        buffer.SetDataSize(0);
        for (int i = 0; i < count; ++i) {
            unsigned char b = static_cast<unsigned char>(i);
            buffer.AppendData(&b, 1);
        }
        benchmark::DoNotOptimize(buffer.GetDataPtr());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_StdVector_AppendLongs_Reused(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::vector<int> v;
    for (auto _ : state) {
        v.clear();
        for (int i = 0; i < count; ++i)
            v.push_back(i);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_VPtrStream_PutLongs_Reused(benchmark::State& state)
{
    EnsureManager();
    const int count = static_cast<int>(state.range(0));
    VPtrStream stream;
    stream.OpenWriting();
    for (auto _ : state) {
        stream.SetPos(0);
        for (int i = 0; i < count; ++i)
            stream.PutLongs(&i, 1);
        benchmark::DoNotOptimize(stream.GetDataPtr());
    }
    if (stream.GetDataSize() != static_cast<unsigned long long>(count) * sizeof(int))
        state.SkipWithError("the stream does not hold the numbers written");
    state.SetItemsProcessed(state.iterations() * count);
}

// The pairs run in rounds (bench/support/Rounds.h), the vector first in each.
const bool sRegistered = [] {
    for (int round = 1; round <= bench::Rounds(); ++round) {
        for (long count : {1L << 10, 1L << 20}) {
            bench::RegisterRound("BM_StdVector_AppendBytes", count, round, BM_StdVector_AppendBytes);
            bench::RegisterRound("BM_VMemoryBuffer_AppendBytes", count, round, BM_VMemoryBuffer_AppendBytes);
        }
        bench::RegisterRound("BM_StdVector_AppendLongs", 1L << 16, round, BM_StdVector_AppendLongs);
        bench::RegisterRound("BM_VPtrStream_PutLongs", 1L << 16, round, BM_VPtrStream_PutLongs);
        for (long count : {1L << 10, 1L << 20}) {
            bench::RegisterRound("BM_StdVector_AppendBytes_Reused", count, round, BM_StdVector_AppendBytes_Reused);
            bench::RegisterRound("BM_VMemoryBuffer_AppendBytes_Reused", count, round, BM_VMemoryBuffer_AppendBytes_Reused);
        }
        bench::RegisterRound("BM_StdVector_AppendLongs_Reused", 1L << 16, round, BM_StdVector_AppendLongs_Reused);
        bench::RegisterRound("BM_VPtrStream_PutLongs_Reused", 1L << 16, round, BM_VPtrStream_PutLongs_Reused);
    }
    return true;
}();

}  // namespace
