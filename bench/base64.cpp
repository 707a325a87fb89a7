// Base64 throughput: the toolbox's coder against a straightforward
// table-driven coder written here, encoding and decoding 1 MiB of bytes.
// Bytes per second are reported by the benchmark library (bytes_per_second).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/Base64Coder.h"
#include "kernel/VCppMemMgr.h"

using namespace qelt;

namespace {

constexpr size_t kInputSize = 1 << 20;

void EnsureMemoryManager()
{
    if (VObject::sCppMemMgr == nullptr)
        VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
}

const std::vector<unsigned char>& Input()
{
    static const std::vector<unsigned char> input = [] {
        std::vector<unsigned char> bytes(kInputSize);
        uint32_t x = 2463534242u;
        for (unsigned char& b : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<unsigned char>(x);
        }
        return bytes;
    }();
    return input;
}

// The peer: one table look-up per character, std::string output.
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string PeerEncode(const unsigned char* in, size_t n)
{
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    if (i < n) {
        uint32_t v = uint32_t(in[i]) << 16;
        if (i + 1 < n)
            v |= uint32_t(in[i + 1]) << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

bool PeerDecode(const std::string& text, std::vector<unsigned char>& out)
{
    static const std::vector<int> table = [] {
        std::vector<int> t(256, -1);
        for (int i = 0; i < 64; ++i)
            t[static_cast<unsigned char>(kAlphabet[i])] = i;
        return t;
    }();
    out.clear();
    if (text.size() % 4 != 0)
        return false;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        int a = table[static_cast<unsigned char>(text[i])];
        int b = table[static_cast<unsigned char>(text[i + 1])];
        if (a < 0 || b < 0)
            return false;
        out.push_back(static_cast<unsigned char>((a << 2) | (b >> 4)));
        if (text[i + 2] == '=')
            break;
        int c = table[static_cast<unsigned char>(text[i + 2])];
        if (c < 0)
            return false;
        out.push_back(static_cast<unsigned char>((b << 4) | (c >> 2)));
        if (text[i + 3] == '=')
            break;
        int d = table[static_cast<unsigned char>(text[i + 3])];
        if (d < 0)
            return false;
        out.push_back(static_cast<unsigned char>((c << 6) | d));
    }
    return true;
}

void BM_CoderEncode(benchmark::State& state)
{
    EnsureMemoryManager();
    const auto& in = Input();
    Base64Coder::Buffer out;
    for (auto _ : state) {
        bool ok = Base64Coder::_Encode(in.data(), in.size(), out, 0, false);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.GetDataPtr());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_CoderEncode);

void BM_PeerEncode(benchmark::State& state)
{
    const auto& in = Input();
    for (auto _ : state) {
        std::string text = PeerEncode(in.data(), in.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_PeerEncode);

void BM_CoderDecode(benchmark::State& state)
{
    EnsureMemoryManager();
    const std::string text = PeerEncode(Input().data(), Input().size());
    Base64Coder::Buffer out;
    for (auto _ : state) {
        bool ok = Base64Coder::Decode(text.data(), text.size(), out, false, false);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.GetDataPtr());
    }
    if (out.GetDataSize() != kInputSize)
        state.SkipWithError("decoded size differs");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kInputSize));
}
BENCHMARK(BM_CoderDecode);

void BM_PeerDecode(benchmark::State& state)
{
    const std::string text = PeerEncode(Input().data(), Input().size());
    std::vector<unsigned char> out;
    for (auto _ : state) {
        bool ok = PeerDecode(text, out);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kInputSize));
}
BENCHMARK(BM_PeerDecode);

}  // namespace
