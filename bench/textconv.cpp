// UTF-8 to UTF-16 and back through the toolbox's converters, compared in the
// same run with the Unicode library's u_strFromUTF8 / u_strToUTF8, on 64 KiB
// of ASCII, of mixed European text and of CJK text.
#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <string>
#include <vector>

#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"

namespace {

constexpr size_t kCorpusBytes = 64 * 1024;

enum Corpus { kASCII = 0, kEuropean = 1, kCJK = 2 };

// Repeats the sample up to 64 KiB of UTF-8, cut at a character boundary.
std::string MakeCorpus(Corpus inCorpus)
{
    const char* sample = nullptr;
    switch (inCorpus) {
        case kASCII:
            sample =
                "The quick brown fox jumps over the lazy dog while the updater waits for the caller to quit. "
                "Logs are written line by line, 0123456789, with punctuation: (a), [b], {c}; done!\n";
            break;
        case kEuropean:
            sample =
                "Le c\xC5\x93ur a ses raisons que la raison ne conna\xC3\xAEt point. "
                "Fr\xC3\xBChst\xC3\xBC\x63k mit M\xC3\xBCsli und K\xC3\xA4se f\xC3\xBCr die Gro\xC3\x9F" "eltern. "
                "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84. "
                "El ni\xC3\xB1o comi\xC3\xB3 una pi\xC3\xB1" "a en el a\xC3\xB1o nuevo. "
                "\xC3\x85ngstr\xC3\xB6m m\xC3\xA4tte v\xC3\xA5gen \xE2\x82\xAC 12,50.\n";
            break;
        case kCJK:
            sample =
                "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87\xE7\xAB\xA0\xE3\x82\x92"
                "\xE6\x9B\xB8\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x99\xE3\x80\x82\xE4\xB8\xAD\xE6\x96\x87"
                "\xE7\x9A\x84\xE6\x96\x87\xE6\x9C\xAC\xE6\xB5\x8B\xE8\xAF\x95\xEF\xBC\x8C\xED\x95\x9C"
                "\xEA\xB5\xAD\xEC\x96\xB4\xE3\x80\x82\n";
            break;
    }
    std::string corpus;
    while (corpus.size() < kCorpusBytes)
        corpus += sample;
    size_t cut = kCorpusBytes;
    while (cut > 0 && (static_cast<unsigned char>(corpus[cut]) & 0xC0) == 0x80)
        --cut;
    corpus.resize(cut);
    return corpus;
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
    return inCorpus == kASCII ? "ascii" : inCorpus == kEuropean ? "european" : "cjk";
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

BENCHMARK(DecodeToolbox)->DenseRange(0, 2);
BENCHMARK(DecodeICU)->DenseRange(0, 2);
BENCHMARK(EncodeToolbox)->DenseRange(0, 2);
BENCHMARK(EncodeICU)->DenseRange(0, 2);
