// JSON text throughput: the toolbox's importer and writer (flags 0x1)
// against RapidJSON (parse and write) and simdjson (parse only), on seeded
// look-alikes of canada.json, citm_catalog.json and twitter.json made by
// tools/json_lookalikes.py into QELT_BENCH_JSON_DATA. Bytes per second are
// of the file's UTF-8 size; the toolbox reads from a VString already made,
// as its callers do.
#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include "json/json.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VString.h"

using namespace qelt;

namespace {

void EnsureMemoryManager()
{
    if (VObject::sCppMemMgr == nullptr)
        VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
}

const std::string& Bytes(const char* inName)
{
    static std::map<std::string, std::string> sFiles;
    auto found = sFiles.find(inName);
    if (found != sFiles.end())
        return found->second;
    std::ifstream in(std::string(QELT_BENCH_JSON_DATA) + "/" + inName, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return sFiles[inName] = buffer.str();
}

bool Ready(benchmark::State& state, const std::string& inBytes)
{
    if (inBytes.empty()) {
        state.SkipWithError("no data: run tools/json_lookalikes.py into QELT_BENCH_JSON_DATA");
        return false;
    }
    return true;
}

void QeltImport(benchmark::State& state, const char* inName)
{
    EnsureMemoryManager();
    const std::string& bytes = Bytes(inName);
    if (!Ready(state, bytes))
        return;
    VString text(bytes.data(), static_cast<unsigned long>(bytes.size()), VTC_UTF_8);
    for (auto _ : state) {
        VJSONValue value(JSON_undefined);
        VError error = VJSONImporter::ParseString(text, value, 0);
        benchmark::DoNotOptimize(error);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void QeltStringify(benchmark::State& state, const char* inName)
{
    EnsureMemoryManager();
    const std::string& bytes = Bytes(inName);
    if (!Ready(state, bytes))
        return;
    VString text(bytes.data(), static_cast<unsigned long>(bytes.size()), VTC_UTF_8);
    VJSONValue value(JSON_undefined);
    VJSONImporter::ParseString(text, value, 0);
    for (auto _ : state) {
        VString out;
        VError error = value.Stringify(out, 0x1);
        benchmark::DoNotOptimize(error);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void RapidImport(benchmark::State& state, const char* inName)
{
    const std::string& bytes = Bytes(inName);
    if (!Ready(state, bytes))
        return;
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(document.HasParseError());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void RapidStringify(benchmark::State& state, const char* inName)
{
    const std::string& bytes = Bytes(inName);
    if (!Ready(state, bytes))
        return;
    rapidjson::Document document;
    document.Parse(bytes.data(), bytes.size());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        document.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetSize());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void SimdImport(benchmark::State& state, const char* inName)
{
    const std::string& bytes = Bytes(inName);
    if (!Ready(state, bytes))
        return;
    simdjson::dom::parser parser;
    simdjson::padded_string padded(bytes);
    for (auto _ : state) {
        auto result = parser.parse(padded);
        benchmark::DoNotOptimize(result.error());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

}  // namespace

#define QELT_JSON_BENCH(file)                                                 \
    BENCHMARK_CAPTURE(QeltImport, file, #file ".json");                       \
    BENCHMARK_CAPTURE(RapidImport, file, #file ".json");                      \
    BENCHMARK_CAPTURE(SimdImport, file, #file ".json");                       \
    BENCHMARK_CAPTURE(QeltStringify, file, #file ".json");                    \
    BENCHMARK_CAPTURE(RapidStringify, file, #file ".json");

QELT_JSON_BENCH(canada)
QELT_JSON_BENCH(citm_catalog)
QELT_JSON_BENCH(twitter)
