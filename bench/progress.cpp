// 16-byte writes to the in-memory stream with a progress indicator attached
// (without an observer, then with one asking for a snapshot every
// millisecond) against the same stream without an indicator.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "files/VPtrStream.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "runtime/VProgressIndicator.h"
#include "bench/support/Memory.h"

using namespace qelt;

namespace {

// 0: no indicator, 1: indicator, 2: indicator and an observer.
void RunPutData(benchmark::State& state, int mode)
{
    EnsureManager();
    const char bytes[16] = "0123456789abcde";
    VPtrStream stream;
    VRefPtr<VProgressIndicator> indicator;
    if (mode > 0) {
        indicator = AdoptRef(new VProgressIndicator());
        stream.SetProgressIndicator(indicator.Get());
    }
    stream.OpenWriting();
    std::atomic<bool> stop{false};
    std::thread observer;
    if (mode == 2) {
        observer = std::thread([&] {
            while (!stop.load()) {
                indicator->UpdateSessionsInfos();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    int n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(stream.PutData(bytes, 16));
        if (++n == 4096) {
            n = 0;
            stream.SetPos(0);
        }
    }
    stop = true;
    if (observer.joinable())
        observer.join();
    stream.CloseWriting();
    state.SetBytesProcessed(state.iterations() * 16);
}

void BM_PtrStream_PutData16_NoIndicator(benchmark::State& state) { RunPutData(state, 0); }
void BM_PtrStream_PutData16_Indicator(benchmark::State& state) { RunPutData(state, 1); }
void BM_PtrStream_PutData16_IndicatorObserved(benchmark::State& state) { RunPutData(state, 2); }

}  // namespace

BENCHMARK(BM_PtrStream_PutData16_NoIndicator);
BENCHMARK(BM_PtrStream_PutData16_Indicator);
BENCHMARK(BM_PtrStream_PutData16_IndicatorObserved);
