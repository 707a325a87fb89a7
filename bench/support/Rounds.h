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

// Registers the function with one argument as "name/arg/round:N".
inline benchmark::internal::Benchmark* RegisterRound(const char* name, long arg, int round,
                                                     void (*function)(benchmark::State&))
{
    std::string full(name);
    full += '/';
    full += std::to_string(arg);
    return RegisterRound(full.c_str(), round, function)->Arg(arg);
}

}  // namespace qelt::bench
