// JSON text throughput: the toolbox's importer and writer against RapidJSON
// and nlohmann-json, in the same run, on the three well-known files
// (canada.json, citm_catalog.json, twitter.json: read where
// QELT_BENCH_JSON_REAL names them, never copied) and on their seeded
// look-alikes made by tools/json_lookalikes.py into QELT_BENCH_JSON_DATA.
//
// Each case is a group of peers registered in rounds (bench/support/Rounds.h),
// RapidJSON first, so that all peers of a round run under the same load:
//   Import/<set>/<file>/<peer>     text to tree, the tree's destruction included;
//   Stringify/<set>/<file>/<peer>  tree to compact text (ours with flags 0x1);
//   File/<set>/<file>/<peer>       a UTF-8 file to tree (ours: ParseFile,
//                                  LoadFromFile; RapidJSON reads the same bytes);
//   Memory/real/<file>/<peer>      once: how far the resident size's peak
//                                  rises while a tree is made from the text
//                                  (already in memory) and held, reported as
//                                  the counter "peak_per_text" (times the
//                                  text's size in bytes) and "peak_bytes";
//                                  "held_per_text", what the allocator holds
//                                  for the tree once made.
// The toolbox imports from a VString already made, as its callers do.
// simdjson's parse is listed for scale. tools/bench_ratios.py JSON Import/real/citm_catalog/Rapid
// gives the ratios of one case.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define QELT_HAVE_NLOHMANN 1
#endif

#include "bench/support/Memory.h"
#include "bench/support/Rounds.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "json/json.h"
#include "kernel/VString.h"

using namespace qelt;

namespace {

struct Case {
    std::string fPath;   // the file
    std::string fBytes;  // its bytes
};

std::string ReadAll(const std::string& inPath)
{
    std::string bytes;
    if (FILE* file = std::fopen(inPath.c_str(), "rb")) {
        char buffer[1 << 16];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
            bytes.append(buffer, got);
        std::fclose(file);
    }
    return bytes;
}

const Case& Load(const std::string& inFolder, const std::string& inName)
{
    static std::map<std::string, Case> sCases;
    const std::string path = inFolder + "/" + inName;
    auto found = sCases.find(path);
    if (found != sCases.end())
        return found->second;
    return sCases[path] = Case{path, ReadAll(path)};
}

bool Ready(benchmark::State& state, const Case& inCase)
{
    if (inCase.fBytes.empty()) {
        state.SkipWithError(("no data at " + inCase.fPath).c_str());
        return false;
    }
    return true;
}

void Count(benchmark::State& state, const Case& inCase)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(inCase.fBytes.size()));
}

// --- import -----------------------------------------------------------------

void QeltImport(benchmark::State& state, const Case& inCase)
{
    EnsureManager();
    VString text(inCase.fBytes.data(), static_cast<unsigned long>(inCase.fBytes.size()), VTC_UTF_8);
    for (auto _ : state) {
        VJSONValue value(JSON_undefined);
        VError error = VJSONImporter::ParseString(text, value, 0);
        benchmark::DoNotOptimize(error);
    }
}

void RapidImport(benchmark::State& state, const Case& inCase)
{
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(inCase.fBytes.data(), inCase.fBytes.size());
        benchmark::DoNotOptimize(document.HasParseError());
    }
}

#ifdef QELT_HAVE_NLOHMANN
void NlohmannImport(benchmark::State& state, const Case& inCase)
{
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(inCase.fBytes);
        benchmark::DoNotOptimize(document.is_object());
    }
}
#endif

void SimdImport(benchmark::State& state, const Case& inCase)
{
    simdjson::dom::parser parser;
    simdjson::padded_string padded(inCase.fBytes);
    for (auto _ : state) {
        auto result = parser.parse(padded);
        benchmark::DoNotOptimize(result.error());
    }
}

// --- stringify --------------------------------------------------------------

void QeltStringify(benchmark::State& state, const Case& inCase)
{
    EnsureManager();
    VString text(inCase.fBytes.data(), static_cast<unsigned long>(inCase.fBytes.size()), VTC_UTF_8);
    VJSONValue value(JSON_undefined);
    VJSONImporter::ParseString(text, value, 0);
    for (auto _ : state) {
        VString out;
        VError error = value.Stringify(out, 0x1);
        benchmark::DoNotOptimize(error);
    }
}

void RapidStringify(benchmark::State& state, const Case& inCase)
{
    rapidjson::Document document;
    document.Parse(inCase.fBytes.data(), inCase.fBytes.size());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        document.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetSize());
    }
}

#ifdef QELT_HAVE_NLOHMANN
void NlohmannStringify(benchmark::State& state, const Case& inCase)
{
    nlohmann::json document = nlohmann::json::parse(inCase.fBytes);
    for (auto _ : state) {
        std::string out = document.dump();
        benchmark::DoNotOptimize(out.size());
    }
}
#endif

// --- from a file ------------------------------------------------------------

void QeltParseFile(benchmark::State& state, const Case& inCase)
{
    EnsureManager();
    VFile file(VFilePath(VString(inCase.fPath.c_str()), FPS_POSIX));
    for (auto _ : state) {
        VJSONValue value(JSON_undefined);
        VError error = VJSONImporter::ParseFile(&file, value, 0);
        benchmark::DoNotOptimize(error);
    }
}

void QeltLoadFromFile(benchmark::State& state, const Case& inCase)
{
    EnsureManager();
    VFile file(VFilePath(VString(inCase.fPath.c_str()), FPS_POSIX));
    for (auto _ : state) {
        VJSONValue value(JSON_undefined);
        VError error = value.LoadFromFile(&file, false);
        benchmark::DoNotOptimize(error);
    }
}

void RapidFile(benchmark::State& state, const Case& inCase)
{
    for (auto _ : state) {
        std::string bytes = ReadAll(inCase.fPath);
        rapidjson::Document document;
        document.Parse(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(document.HasParseError());
    }
}

// --- peak resident size of a tree ---------------------------------------

// The work runs once before it is measured, so that what the first run
// sets up for the whole process (caches, class stores) is not counted.
template <class Make>
void PeakOfTree(benchmark::State& state, const Case& inCase, Make&& inMake)
{
    inMake([] {});
    long peak = 0;
    long held = 0;
    for (auto _ : state) {
        peak = bench::PeakResidentGrowth([&] {
            const long before = bench::HeapInUse();
            inMake([&] { held = bench::HeapInUse() - before; });
        });
    }
    if (peak < 0) {
        state.SkipWithError("the resident peak cannot be reset here");
        return;
    }
    state.counters["peak_bytes"] = static_cast<double>(peak);
    state.counters["peak_per_text"] = static_cast<double>(peak) / static_cast<double>(inCase.fBytes.size());
    state.counters["held_per_text"] = static_cast<double>(held) / static_cast<double>(inCase.fBytes.size());
}

void QeltMemory(benchmark::State& state, const Case& inCase)
{
    EnsureManager();
    VString text(inCase.fBytes.data(), static_cast<unsigned long>(inCase.fBytes.size()), VTC_UTF_8);
    PeakOfTree(state, inCase, [&](auto&& inWhileHeld) {
        {
            VJSONValue value(JSON_undefined);
            VError error = VJSONImporter::ParseString(text, value, 0);
            benchmark::DoNotOptimize(error);
            inWhileHeld();
        }
        // The memory the thread keeps of the tree let go goes back, so that
        // the next tree measured cannot hide in it.
        VJSONRegion::_GiveBackKept();
    });
}

void RapidMemory(benchmark::State& state, const Case& inCase)
{
    PeakOfTree(state, inCase, [&](auto&& inWhileHeld) {
        rapidjson::Document document;
        document.Parse(inCase.fBytes.data(), inCase.fBytes.size());
        benchmark::DoNotOptimize(document.HasParseError());
        inWhileHeld();
    });
}

#ifdef QELT_HAVE_NLOHMANN
void NlohmannMemory(benchmark::State& state, const Case& inCase)
{
    PeakOfTree(state, inCase, [&](auto&& inWhileHeld) {
        nlohmann::json document = nlohmann::json::parse(inCase.fBytes);
        benchmark::DoNotOptimize(document.is_object());
        inWhileHeld();
    });
}
#endif

using Run = void (*)(benchmark::State&, const Case&);

benchmark::internal::Benchmark* Register(const std::string& inName, const std::string& inFolder,
                                         const std::string& inFile, Run inRun, int inRound)
{
    const std::string name = inName + "/round:" + std::to_string(inRound);
    return benchmark::RegisterBenchmark(name.c_str(), [inFolder, inFile, inRun](benchmark::State& state) {
               const Case& test = Load(inFolder, inFile);
               if (!Ready(state, test))
                   return;
               inRun(state, test);
               Count(state, test);
           })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

const int kRegistered = [] {
    struct Set {
        const char* fName;
        std::string fFolder;
    };
    const char* real = std::getenv("QELT_BENCH_JSON_REAL");
    const std::vector<Set> sets = {{"real", real != nullptr ? real : QELT_BENCH_JSON_REAL},
                                   {"lookalike", QELT_BENCH_JSON_DATA}};
    struct Peer {
        const char* fOp;
        const char* fPeer;
        Run fRun;
    };
    const std::vector<Peer> peers = {
        {"Import", "Rapid", RapidImport},
#ifdef QELT_HAVE_NLOHMANN
        {"Import", "Nlohmann", NlohmannImport},
#endif
        {"Import", "Simdjson", SimdImport},
        {"Import", "Qelt", QeltImport},
        {"Stringify", "Rapid", RapidStringify},
#ifdef QELT_HAVE_NLOHMANN
        {"Stringify", "Nlohmann", NlohmannStringify},
#endif
        {"Stringify", "Qelt", QeltStringify},
        {"File", "Rapid", RapidFile},
        {"File", "QeltParseFile", QeltParseFile},
        {"File", "QeltLoadFromFile", QeltLoadFromFile},
    };
    // The peak is the same in every round: measured once, in the first.
    const std::vector<Peer> memory = {
        {"Memory", "Rapid", RapidMemory},
#ifdef QELT_HAVE_NLOHMANN
        {"Memory", "Nlohmann", NlohmannMemory},
#endif
        {"Memory", "Qelt", QeltMemory},
    };
    for (const char* file : {"canada", "citm_catalog", "twitter"}) {
        for (const Set& set : sets) {
            for (int round = 1; round <= bench::Rounds(); ++round) {
                for (const Peer& peer : peers) {
                    // The look-alikes are measured from memory only.
                    if (std::string(peer.fOp) == "File" && std::string(set.fName) != "real")
                        continue;
                    Register(std::string(peer.fOp) + "/" + set.fName + "/" + file + "/" + peer.fPeer, set.fFolder,
                             std::string(file) + ".json", peer.fRun, round);
                }
            }
            if (std::string(set.fName) != "real")
                continue;
            for (const Peer& peer : memory)
                Register(std::string(peer.fOp) + "/" + set.fName + "/" + file + "/" + peer.fPeer, set.fFolder,
                         std::string(file) + ".json", peer.fRun, 1)
                    ->Iterations(1);
        }
    }
    return 0;
}();

}  // namespace
