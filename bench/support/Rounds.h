// Paired benchmarks registered in rounds (QELT_BENCH_ROUNDS, 3 by default),
// the peer first in each. Google Benchmark runs them in registration order,
// so on a shared machine the peer and ours alternate under the same load.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace qelt::bench {

inline int Rounds()
{
    const char* rounds = std::getenv("QELT_BENCH_ROUNDS");
    return rounds != nullptr && std::atoi(rounds) > 0 ? std::atoi(rounds) : 3;
}

// Registers the function as "name/round:N".
inline benchmark::internal::Benchmark* RegisterRound(const char* name, int round, void (*function)(benchmark::State&))
{
    return benchmark::RegisterBenchmark((std::string(name) + "/round:" + std::to_string(round)).c_str(), function);
}

}  // namespace qelt::bench
