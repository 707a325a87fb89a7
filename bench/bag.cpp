// Value bag benchmarks: the 'VBAG' stream round trip of a large bag, and
// attribute look-up by name as a bag grows (the hash index keeps it flat),
// against the standard library's hash map and ordered map as peers.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "values/VValueBag.h"
#include "bench/support/Memory.h"
#include "bench/support/Rounds.h"

using namespace qelt;

namespace {

std::string Name(int i) { return "attribute_" + std::to_string(i); }

VValueBag* MakeBigBag()
{
    EnsureManager();
    VValueBag* bag = new VValueBag();
    for (int i = 0; i < 10000; ++i) {
        std::string name = Name(i);
        if (i % 2 == 0)
            bag->SetAttribute(StPackedDictionaryKey(name.data(), name.size()), VLong(i));
        else
            bag->SetAttribute(StPackedDictionaryKey(name.data(), name.size()), VString("some text value"));
    }
    for (int i = 0; i < 1000; ++i) {
        VValueBag* child = new VValueBag();
        child->SetAttribute("id", VLong(i));
        child->SetAttribute("name", VString("child"));
        bag->AddElement("child", child);
        child->Release();
    }
    return bag;
}

void BM_BagStreamWrite(benchmark::State& state)
{
    VValueBag* bag = MakeBigBag();
    size_t bytes = 0;
    for (auto _ : state) {
        VPtrStream stream;
        stream.OpenWriting();
        bag->WriteToStream(&stream);
        stream.CloseWriting();
        bytes = stream.GetDataSize();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    bag->Release();
}
BENCHMARK(BM_BagStreamWrite);

void BM_BagStreamRead(benchmark::State& state)
{
    VValueBag* bag = MakeBigBag();
    VPtrStream out;
    out.OpenWriting();
    bag->WriteToStream(&out);
    out.CloseWriting();
    for (auto _ : state) {
        VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
        in.OpenReading();
        VValueBag* back = new VValueBag();
        back->ReadFromStream(&in);
        in.CloseReading();
        back->Release();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.GetDataSize()));
    bag->Release();
}
BENCHMARK(BM_BagStreamRead);

// Look-up of every attribute by name, one per iteration step.
void BM_BagAttributeLookup(benchmark::State& state)
{
    EnsureManager();
    const int count = static_cast<int>(state.range(0));
    VValueBag* bag = new VValueBag();
    std::vector<StPackedDictionaryKey> keys;
    for (int i = 0; i < count; ++i) {
        std::string name = Name(i);
        keys.emplace_back(name.data(), name.size());
        bag->SetAttribute(keys.back(), VLong(i));
    }
    VLong value;
    size_t i = 0;
    for (auto _ : state) {
        bag->GetAttribute(keys[i], value);
        benchmark::DoNotOptimize(value.GetLong());
        if (++i == keys.size())
            i = 0;
    }
    bag->Release();
}

// Peer: a standard hash map from name to number, looked up by name.
void BM_PeerUnorderedMapLookup(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::unordered_map<std::string, int> map;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(Name(i));
        map[names.back()] = i;
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(names[i])->second);
        if (++i == names.size())
            i = 0;
    }
}

// Peer: an ordered map (grows with the logarithm of the size).
void BM_PeerMapLookup(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::map<std::string, int> map;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(Name(i));
        map[names.back()] = i;
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(names[i])->second);
        if (++i == names.size())
            i = 0;
    }
}

// The look-ups run in rounds (bench/support/Rounds.h), the hash map first in
// each, so that the bag and its peers meet the same load.
const bool sRegistered = [] {
    for (int round = 1; round <= bench::Rounds(); ++round) {
        for (long count : {4L, 64L, 4096L}) {
            bench::RegisterRound("BM_PeerUnorderedMapLookup", count, round, BM_PeerUnorderedMapLookup);
            bench::RegisterRound("BM_BagAttributeLookup", count, round, BM_BagAttributeLookup);
            bench::RegisterRound("BM_PeerMapLookup", count, round, BM_PeerMapLookup);
        }
    }
    return true;
}();

}  // namespace
