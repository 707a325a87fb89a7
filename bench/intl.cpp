// The international text manager's collation against ICU called directly
// on the same texts: comparison with and without diacritical sensitivity,
// and search (start and matched length) in a longer text.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <unicode/ucol.h>
#include <unicode/usearch.h>

#include "kernel/VCppMemMgr.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VObject.h"

using namespace qelt;

namespace {

VIntlMgr* GetManager()
{
    static VIntlMgr* sManager = [] {
        if (VObject::sCppMemMgr == nullptr)
            VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
        return VIntlMgr::Create(1033, 1033, 1);
    }();
    return sManager;
}

// An ICU collator set up as the toolbox's: the same locale and strength,
// normalisation on.
UCollator* MakeICUCollator(bool inDiacritical)
{
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("en_US", &status);
    ucol_setStrength(collator, inDiacritical ? UCOL_TERTIARY : UCOL_PRIMARY);
    ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    return collator;
}

const std::vector<std::u16string>& Words()
{
    static const std::vector<std::u16string> sWords = {
        u"r\u00E9sum\u00E9",     u"resume",           u"Resume",          u"apple",
        u"Apple Pie",            u"\u00C9l\u00E8ve",  u"eleve",           u"Stra\u00DFe",
        u"strasse",              u"Zebra crossing",   u"zebra Crossing",  u"na\u00EFve caf\u00E9",
        u"naive cafe",           u"co-operate",       u"cooperate",       u"The quick brown fox"};
    return sWords;
}

const std::u16string& LongText()
{
    static const std::u16string sText =
        u"Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore "
        u"et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris nisi ut "
        u"aliquip ex ea commodo consequat, le caf\u00E9 du coin et la cr\u00E8me br\u00FBl\u00E9e.";
    return sText;
}

const UniChar* U(const std::u16string& inText)
{
    return reinterpret_cast<const UniChar*>(inText.data());
}

void CompareToolbox(benchmark::State& state, bool inDiacritical)
{
    VIntlMgr* manager = GetManager();
    const auto& words = Words();
    for (auto _ : state) {
        int sum = 0;
        for (size_t i = 0; i < words.size(); ++i) {
            const std::u16string& a = words[i];
            const std::u16string& b = words[(i + 1) % words.size()];
            sum += manager->CompareString(U(a), static_cast<int>(a.size()), U(b), static_cast<int>(b.size()),
                                          inDiacritical);
        }
        benchmark::DoNotOptimize(sum);
    }
}

void CompareICU(benchmark::State& state, bool inDiacritical)
{
    UCollator* collator = MakeICUCollator(inDiacritical);
    const auto& words = Words();
    for (auto _ : state) {
        int sum = 0;
        for (size_t i = 0; i < words.size(); ++i) {
            const std::u16string& a = words[i];
            const std::u16string& b = words[(i + 1) % words.size()];
            sum += ucol_strcoll(collator, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                static_cast<int32_t>(b.size()));
        }
        benchmark::DoNotOptimize(sum);
    }
    ucol_close(collator);
}

const std::vector<std::u16string>& Patterns()
{
    static const std::vector<std::u16string> sPatterns = {u"CAFE", u"consequat", u"brulee", u"missing"};
    return sPatterns;
}

void FindToolbox(benchmark::State& state, bool inDiacritical)
{
    VIntlMgr* manager = GetManager();
    const std::u16string& text = LongText();
    for (auto _ : state) {
        int sum = 0;
        for (const std::u16string& pattern : Patterns()) {
            int length = 0;
            sum += manager->FindString(U(text), static_cast<int>(text.size()), U(pattern),
                                       static_cast<int>(pattern.size()), inDiacritical, &length);
            sum += length;
        }
        benchmark::DoNotOptimize(sum);
    }
}

void FindICU(benchmark::State& state, bool inDiacritical)
{
    UCollator* collator = MakeICUCollator(inDiacritical);
    const std::u16string& text = LongText();
    UErrorCode status = U_ZERO_ERROR;
    const std::u16string& first = Patterns().front();
    UStringSearch* search = usearch_openFromCollator(first.data(), static_cast<int32_t>(first.size()), text.data(),
                                                     static_cast<int32_t>(text.size()), collator, nullptr, &status);
    for (auto _ : state) {
        int sum = 0;
        for (const std::u16string& pattern : Patterns()) {
            status = U_ZERO_ERROR;
            usearch_setText(search, text.data(), static_cast<int32_t>(text.size()), &status);
            usearch_setPattern(search, pattern.data(), static_cast<int32_t>(pattern.size()), &status);
            int32_t position = usearch_first(search, &status);
            if (position != USEARCH_DONE) {
                sum += position + 1;
                sum += usearch_getMatchedLength(search);
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    usearch_close(search);
    ucol_close(collator);
}

}  // namespace

BENCHMARK_CAPTURE(CompareToolbox, diacritical, true);
BENCHMARK_CAPTURE(CompareICU, tertiary, true);
BENCHMARK_CAPTURE(CompareToolbox, plain, false);
BENCHMARK_CAPTURE(CompareICU, primary, false);
BENCHMARK_CAPTURE(FindToolbox, diacritical, true);
BENCHMARK_CAPTURE(FindICU, tertiary, true);
BENCHMARK_CAPTURE(FindToolbox, plain, false);
BENCHMARK_CAPTURE(FindICU, primary, false);
