// VString against std::u16string on the same texts: appending short pieces,
// copying, equality and raw (unit-order) comparison.
#include <benchmark/benchmark.h>

#include <string>

#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "bench/support/Memory.h"
#include "bench/support/Rounds.h"

using namespace qelt;

namespace {

// A text of n units, the same for both string kinds.
std::u16string MakeText(long n, char16_t last = u'z')
{
    std::u16string text;
    for (long i = 0; i < n; ++i)
        text += static_cast<char16_t>(u'a' + i % 23);
    if (n > 0)
        text.back() = last;
    return text;
}

VString ToVString(const std::u16string& text)
{
    VString s;
    s.FromUniString(reinterpret_cast<const UniChar*>(text.data()), static_cast<int>(text.size()));
    return s;
}

// ---- Append: 1000 pieces of 3 units onto an empty string.
constexpr int kPieces = 1000;
const char16_t kPiece[] = u"abc";

void BM_U16String_AppendPieces(benchmark::State& state)
{
    for (auto _ : state) {
        std::u16string s;
        for (int i = 0; i < kPieces; ++i)
            s.append(kPiece, 3);
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}

void BM_VString_AppendPieces(benchmark::State& state)
{
    EnsureManager();
    const UniChar* piece = reinterpret_cast<const UniChar*>(kPiece);
    for (auto _ : state) {
        VString s;
        for (int i = 0; i < kPieces; ++i)
            s.AppendUniChars(piece, 3);
        benchmark::DoNotOptimize(s.GetCPointer());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}

// ---- The same onto strings already sized for the result: the cost of
// one append without the growth of the buffer.
void BM_U16String_AppendPiecesReserved(benchmark::State& state)
{
    for (auto _ : state) {
        std::u16string s;
        s.reserve(3 * kPieces);
        for (int i = 0; i < kPieces; ++i)
            s.append(kPiece, 3);
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}

void BM_VString_AppendPiecesReserved(benchmark::State& state)
{
    EnsureManager();
    const UniChar* piece = reinterpret_cast<const UniChar*>(kPiece);
    for (auto _ : state) {
        VString s;
        s._ReallocBuffer(3 * kPieces, false);
        for (int i = 0; i < kPieces; ++i)
            s.AppendUniChars(piece, 3);
        benchmark::DoNotOptimize(s.GetCPointer());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}

// ---- Append of single units.
void BM_U16String_AppendUnits(benchmark::State& state)
{
    for (auto _ : state) {
        std::u16string s;
        for (int i = 0; i < kPieces; ++i)
            s.push_back(u'x');
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}

void BM_VString_AppendUnits(benchmark::State& state)
{
    EnsureManager();
    for (auto _ : state) {
        VString s;
        for (int i = 0; i < kPieces; ++i)
            s.AppendUniChar('x');
        benchmark::DoNotOptimize(s.GetCPointer());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}

// ---- Copy of a text of n units.
void BM_U16String_Copy(benchmark::State& state)
{
    std::u16string source = MakeText(state.range(0));
    for (auto _ : state) {
        std::u16string copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
}

void BM_VString_Copy(benchmark::State& state)
{
    EnsureManager();
    VString source = ToVString(MakeText(state.range(0)));
    for (auto _ : state) {
        VString copy(source);
        benchmark::DoNotOptimize(copy.GetCPointer());
    }
}

// ---- Equality of two distinct buffers holding the same n units.
void BM_U16String_Equal(benchmark::State& state)
{
    std::u16string a = MakeText(state.range(0));
    std::u16string b = MakeText(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(a == b);
    }
}

void BM_VString_Equal(benchmark::State& state)
{
    EnsureManager();
    VString a = ToVString(MakeText(state.range(0)));
    VString b = ToVString(MakeText(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(a.EqualToStringRaw(b));
    }
}

// ---- Order of two n-unit texts that differ in their last unit.
void BM_U16String_RawCompare(benchmark::State& state)
{
    std::u16string a = MakeText(state.range(0), u'y');
    std::u16string b = MakeText(state.range(0), u'z');
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(a.compare(b));
    }
}

void BM_VString_RawCompare(benchmark::State& state)
{
    EnsureManager();
    VString a = ToVString(MakeText(state.range(0), u'y'));
    VString b = ToVString(MakeText(state.range(0), u'z'));
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(a.CompareToStringRaw(b));
    }
}

// The pairs run in rounds (bench/support/Rounds.h), std::u16string first in each.
const bool sRegistered = [] {
    for (int round = 1; round <= bench::Rounds(); ++round) {
        bench::RegisterRound("BM_U16String_AppendPieces", round, BM_U16String_AppendPieces);
        bench::RegisterRound("BM_VString_AppendPieces", round, BM_VString_AppendPieces);
        bench::RegisterRound("BM_U16String_AppendPiecesReserved", round, BM_U16String_AppendPiecesReserved);
        bench::RegisterRound("BM_VString_AppendPiecesReserved", round, BM_VString_AppendPiecesReserved);
        bench::RegisterRound("BM_U16String_AppendUnits", round, BM_U16String_AppendUnits);
        bench::RegisterRound("BM_VString_AppendUnits", round, BM_VString_AppendUnits);
        for (long n : {16L, 256L, 4096L}) {
            bench::RegisterRound("BM_U16String_Copy", n, round, BM_U16String_Copy);
            bench::RegisterRound("BM_VString_Copy", n, round, BM_VString_Copy);
            bench::RegisterRound("BM_U16String_Equal", n, round, BM_U16String_Equal);
            bench::RegisterRound("BM_VString_Equal", n, round, BM_VString_Equal);
            bench::RegisterRound("BM_U16String_RawCompare", n, round, BM_U16String_RawCompare);
            bench::RegisterRound("BM_VString_RawCompare", n, round, BM_VString_RawCompare);
        }
    }
    return true;
}();

}  // namespace
