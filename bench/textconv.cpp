// UTF-8 to UTF-16 and back through the toolbox's converters, compared in the
// same run with the Unicode library: u_strFromUTF8 (validating) and
// u_strFromUTF8Lenient for decoding, u_strToUTF8 for encoding. The corpora
// (ASCII, European, CJK, four-byte emoji) are drawn character by character
// from a seeded generator, not one sample repeated; each comes as 64 KiB of
// text and as 512 short strings of 16 to 64 bytes.
#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <random>
#include <string>
#include <vector>

#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"

namespace {

constexpr size_t kCorpusBytes = 64 * 1024;
constexpr size_t kShortStrings = 512;

enum Corpus { kASCII = 0, kEuropean = 1, kCJK = 2, kEmoji = 3 };

void AppendUTF8(std::string& ioText, uint32_t inCodePoint)
{
    if (inCodePoint < 0x80) {
        ioText += static_cast<char>(inCodePoint);
    } else if (inCodePoint < 0x800) {
        ioText += static_cast<char>(0xC0 | (inCodePoint >> 6));
        ioText += static_cast<char>(0x80 | (inCodePoint & 0x3F));
    } else if (inCodePoint < 0x10000) {
        ioText += static_cast<char>(0xE0 | (inCodePoint >> 12));
        ioText += static_cast<char>(0x80 | ((inCodePoint >> 6) & 0x3F));
        ioText += static_cast<char>(0x80 | (inCodePoint & 0x3F));
    } else {
        ioText += static_cast<char>(0xF0 | (inCodePoint >> 18));
        ioText += static_cast<char>(0x80 | ((inCodePoint >> 12) & 0x3F));
        ioText += static_cast<char>(0x80 | ((inCodePoint >> 6) & 0x3F));
        ioText += static_cast<char>(0x80 | (inCodePoint & 0x3F));
    }
}

// One character of the corpus kind: mostly what the kind is made of, with
// the spaces and ASCII punctuation that real text of that kind carries.
uint32_t NextCharacter(Corpus inCorpus, std::mt19937& ioRandom)
{
    const uint32_t r = ioRandom();
    switch (inCorpus) {
        case kASCII:
            return r % 8 == 0 ? ' ' : 0x21 + r % 0x5E;
        case kEuropean: {
            static const uint32_t accented[] = {0xE0, 0xE2, 0xE4, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEE, 0xEF, 0xF4,
                                                0xF6, 0xF9, 0xFB, 0xFC, 0xDF, 0xF1, 0xE5, 0x153, 0x142, 0x17C,
                                                0x15B, 0x107, 0x119, 0x105, 0x144, 0x20AC};
            if (r % 7 == 0)
                return accented[(r >> 8) % (sizeof(accented) / sizeof(accented[0]))];
            return r % 6 == 1 ? ' ' : 'a' + (r >> 4) % 26;
        }
        case kCJK:
            return r % 12 == 0 ? 0x3002 : (r % 16 == 1 ? ' ' : 0x4E00 + (r >> 5) % 0x5200);
        case kEmoji:
            return r % 4 == 0 ? ' ' : 0x1F300 + (r >> 3) % 0x350;
    }
    return ' ';
}

std::string MakeText(Corpus inCorpus, size_t inBytes, std::mt19937& ioRandom)
{
    std::string text;
    for (;;) {
        std::string next;
        AppendUTF8(next, NextCharacter(inCorpus, ioRandom));
        if (text.size() + next.size() > inBytes)
            return text;
        text += next;
    }
}

std::string MakeCorpus(Corpus inCorpus)
{
    std::mt19937 random(1234 + static_cast<unsigned>(inCorpus));
    return MakeText(inCorpus, kCorpusBytes, random);
}

// 512 strings of 16 to 64 bytes.
std::vector<std::string> MakeShortStrings(Corpus inCorpus)
{
    std::mt19937 random(99 + static_cast<unsigned>(inCorpus));
    std::vector<std::string> strings;
    for (size_t i = 0; i < kShortStrings; ++i)
        strings.push_back(MakeText(inCorpus, 16 + random() % 49, random));
    return strings;
}

std::u16string ToUTF16(const std::string& inUTF8)
{
    std::u16string units(inUTF8.size(), u'\0');
    int32_t length = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strFromUTF8(units.data(), static_cast<int32_t>(units.size()), &length, inUTF8.data(),
                  static_cast<int32_t>(inUTF8.size()), &error);
    units.resize(static_cast<size_t>(length));
    return units;
}

const char* CorpusName(int64_t inCorpus)
{
    return inCorpus == kASCII ? "ascii" : inCorpus == kEuropean ? "european" : inCorpus == kCJK ? "cjk" : "emoji";
}

void DecodeToolbox(benchmark::State& state)
{
    const std::string corpus = MakeCorpus(static_cast<Corpus>(state.range(0)));
    std::vector<qelt::UniChar> target(corpus.size() + 16);
    qelt::VToUnicodeConverter* converter = qelt::VTextConverters::Get()->GetStdLibToUnicodeConverter();
    for (auto _ : state) {
        unsigned long consumed = 0;
        int produced = 0;
        converter->Convert(corpus.data(), corpus.size(), &consumed, target.data(), static_cast<int>(target.size()),
                           &produced);
        benchmark::DoNotOptimize(produced);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpus.size()));
    state.SetLabel(CorpusName(state.range(0)));
}

void DecodeICU(benchmark::State& state)
{
    const std::string corpus = MakeCorpus(static_cast<Corpus>(state.range(0)));
    std::vector<UChar> target(corpus.size() + 16);
    for (auto _ : state) {
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strFromUTF8(target.data(), static_cast<int32_t>(target.size()), &length, corpus.data(),
                      static_cast<int32_t>(corpus.size()), &error);
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpus.size()));
    state.SetLabel(CorpusName(state.range(0)));
}

void DecodeICULenient(benchmark::State& state)
{
    const std::string corpus = MakeCorpus(static_cast<Corpus>(state.range(0)));
    std::vector<UChar> target(corpus.size() + 16);
    for (auto _ : state) {
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strFromUTF8Lenient(target.data(), static_cast<int32_t>(target.size()), &length, corpus.data(),
                             static_cast<int32_t>(corpus.size()), &error);
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpus.size()));
    state.SetLabel(CorpusName(state.range(0)));
}

int64_t TotalBytes(const std::vector<std::string>& inStrings)
{
    int64_t total = 0;
    for (const std::string& s : inStrings)
        total += static_cast<int64_t>(s.size());
    return total;
}

void DecodeShortToolbox(benchmark::State& state)
{
    const std::vector<std::string> strings = MakeShortStrings(static_cast<Corpus>(state.range(0)));
    std::vector<qelt::UniChar> target(80);
    qelt::VToUnicodeConverter* converter = qelt::VTextConverters::Get()->GetStdLibToUnicodeConverter();
    for (auto _ : state) {
        for (const std::string& s : strings) {
            unsigned long consumed = 0;
            int produced = 0;
            converter->Convert(s.data(), s.size(), &consumed, target.data(), static_cast<int>(target.size()),
                               &produced);
            benchmark::DoNotOptimize(produced);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TotalBytes(strings));
    state.SetLabel(CorpusName(state.range(0)));
}

template <bool kLenient>
void DecodeShortICU(benchmark::State& state)
{
    const std::vector<std::string> strings = MakeShortStrings(static_cast<Corpus>(state.range(0)));
    std::vector<UChar> target(80);
    for (auto _ : state) {
        for (const std::string& s : strings) {
            int32_t length = 0;
            UErrorCode error = U_ZERO_ERROR;
            if (kLenient)
                u_strFromUTF8Lenient(target.data(), 80, &length, s.data(), static_cast<int32_t>(s.size()), &error);
            else
                u_strFromUTF8(target.data(), 80, &length, s.data(), static_cast<int32_t>(s.size()), &error);
            benchmark::DoNotOptimize(length);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TotalBytes(strings));
    state.SetLabel(CorpusName(state.range(0)));
}

void EncodeToolbox(benchmark::State& state)
{
    const std::string corpus = MakeCorpus(static_cast<Corpus>(state.range(0)));
    const std::u16string units = ToUTF16(corpus);
    std::vector<char> target(corpus.size() + 16);
    qelt::VFromUnicodeConverter* converter = qelt::VTextConverters::Get()->GetStdLibFromUnicodeConverter();
    for (auto _ : state) {
        int consumed = 0;
        unsigned long produced = 0;
        converter->Convert(reinterpret_cast<const qelt::UniChar*>(units.data()), static_cast<int>(units.size()),
                           &consumed, target.data(), target.size(), &produced);
        benchmark::DoNotOptimize(produced);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpus.size()));
    state.SetLabel(CorpusName(state.range(0)));
}

void EncodeICU(benchmark::State& state)
{
    const std::string corpus = MakeCorpus(static_cast<Corpus>(state.range(0)));
    const std::u16string units = ToUTF16(corpus);
    std::vector<char> target(corpus.size() + 16);
    for (auto _ : state) {
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strToUTF8(target.data(), static_cast<int32_t>(target.size()), &length, units.data(),
                    static_cast<int32_t>(units.size()), &error);
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpus.size()));
    state.SetLabel(CorpusName(state.range(0)));
}

}  // namespace

BENCHMARK(DecodeToolbox)->DenseRange(0, 3);
BENCHMARK(DecodeICU)->DenseRange(0, 3);
BENCHMARK(DecodeICULenient)->DenseRange(0, 3);
BENCHMARK(DecodeShortToolbox)->DenseRange(0, 3);
BENCHMARK_TEMPLATE(DecodeShortICU, false)->DenseRange(0, 3);
BENCHMARK_TEMPLATE(DecodeShortICU, true)->DenseRange(0, 3);
BENCHMARK(EncodeToolbox)->DenseRange(0, 3);
BENCHMARK(EncodeICU)->DenseRange(0, 3);
