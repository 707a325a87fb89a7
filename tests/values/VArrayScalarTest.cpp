// The typed scalar arrays: searches, halving search, extrema, statistics,
// number sorts, the packed Boolean array, durations and times, and the
// streams of each element form.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <type_traits>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"
#include "values/VArrayBoolean.h"
#include "values/VArrayByte.h"
#include "values/VArrayDuration.h"
#include "values/VArrayLong.h"
#include "values/VArrayLong8.h"
#include "values/VArrayReal.h"
#include "values/VArrayTime.h"
#include "values/VArrayWord.h"
#include "values/VDuration.h"
#include "values/VTime.h"

namespace qelt {
namespace {

template <class A, class T>
void Fill(A& a, const std::vector<T>& values)
{
    a.SetCount(static_cast<int>(values.size()));
    int p = 1;
    for (T v : values) {
        if constexpr (std::is_same_v<A, VArrayLong>)
            a.FromLong(v, p++);
        else if constexpr (std::is_same_v<A, VArrayReal>)
            a.FromReal(v, p++);
        else if constexpr (std::is_same_v<A, VArrayWord>)
            a.FromWord(v, p++);
        else if constexpr (std::is_same_v<A, VArrayByte>)
            a.FromByte(v, p++);
        else if constexpr (std::is_same_v<A, VArrayLong8>)
            a.FromLong8(v, p++);
    }
}

std::vector<int> Longs(const VArrayLong& a)
{
    std::vector<int> r;
    for (int p = 1; p <= a.GetCount(); ++p)
        r.push_back(a.GetLong(p));
    return r;
}

std::vector<bool> Bools(const VArrayBoolean& a)
{
    std::vector<bool> r;
    for (int p = 1; p <= a.GetCount(); ++p)
        r.push_back(a.GetBoolean(p));
    return r;
}

template <class A>
void RoundTrip(const A& source, A& target, bool bigEndian, unsigned long long* outSize = nullptr)
{
    VPtrStream out;
    out.SetNeedSwap(bigEndian);
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    ASSERT_EQ(source.WriteToStream(&out, 0), VE_OK);
    out.CloseWriting();
    if (outSize != nullptr)
        *outSize = out.GetDataSize();
    VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
    in.SetNeedSwap(bigEndian);
    ASSERT_EQ(in.OpenReading(), VE_OK);
    ASSERT_EQ(target.ReadFromStream(&in, 0), VE_OK);
    EXPECT_EQ(in.GetPos(), static_cast<long long>(out.GetDataSize()));
}

TEST(VArrayScalar, ConstructionAndAccessOutsideTheArray)
{
    VArrayLong three(3);
    EXPECT_EQ(Longs(three), (std::vector<int>{0, 0, 0}));
    VArrayLong none(-2);
    EXPECT_EQ(none.GetCount(), 0);
    EXPECT_EQ(three.GetLong(0), 0);
    EXPECT_EQ(three.GetLong(4), 0);
    three.FromLong(9, 4);
    three.FromLong(9, 0);
    EXPECT_EQ(Longs(three), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(three.GetElemValueKind(), 4);
    EXPECT_TRUE(three.CanBeEvaluated());
}

TEST(VArrayScalar, FindWalksAndTests)
{
    VArrayLong a;
    Fill(a, std::vector<int>{1, 5, 5});
    struct Case {
        int value, start;
        unsigned char forward;
        int method, expected;
    };
    const Case cases[] = {
        {5, 1, 1, CM_EQUAL, 2},
        {5, 3, 0, CM_EQUAL, 3},
        {9, 1, 1, CM_EQUAL, -1},
        {5, 4, 1, CM_EQUAL, -1},
        {5, 0, 1, CM_EQUAL, -1},
        {1, 1, 1, CM_GREATER, 2},
        {5, 1, 1, CM_GREATER_OR_EQUAL, 2},
        {5, 3, 0, CM_LESS, 1},
        {1, 3, 0, CM_LESS_OR_EQUAL, 1},
        {5, 2, 1, 7, 2},  // a method outside the range answers the start
    };
    for (const Case& c : cases)
        EXPECT_EQ(a.Find(c.value, c.start, c.forward, static_cast<CompareMethod>(c.method)), c.expected)
            << c.value << " from " << c.start << " method " << c.method;
    EXPECT_EQ(a.Find(VLong(5), 1, 1, CM_EQUAL), 2);
    VArrayLong empty;
    EXPECT_EQ(empty.Find(0, 1, 1, CM_EQUAL), -1);

    VArrayByte bytes;
    Fill(bytes, std::vector<signed char>{1, -1});
    EXPECT_EQ(bytes.Find(VLong(0x1FF), 1, 1, CM_EQUAL), 2);  // low 8 bits of the word
}

TEST(VArrayScalar, QuickFindMaxMinAndStatistics)
{
    VArrayLong a;
    Fill(a, std::vector<int>{1, 3, 5});
    EXPECT_EQ(a.QuickFind(4), -1);
    EXPECT_EQ(a.QuickFind(5), 3);
    EXPECT_EQ(a.QuickFind(1), 1);
    EXPECT_EQ(a.GetMax(), 5);
    EXPECT_EQ(a.GetMin(), 1);
    VArrayLong empty;
    EXPECT_EQ(empty.QuickFind(1), -1);
    EXPECT_EQ(empty.GetMax(), INT_MIN);
    EXPECT_EQ(empty.GetMin(), INT_MAX);
    VArrayByte noBytes;
    EXPECT_EQ(noBytes.GetMax(), -128);
    VArrayWord noWords;
    EXPECT_EQ(noWords.GetMin(), 32767);

    VArrayReal r;
    Fill(r, std::vector<double>{1.0, 3.0});
    EXPECT_DOUBLE_EQ(r.GetSum(), 4.0);
    EXPECT_DOUBLE_EQ(r.GetAverage(), 2.0);
    EXPECT_DOUBLE_EQ(r.GetSquareSum(), 2.0);
    EXPECT_DOUBLE_EQ(r.GetStdDev(), 1.0);
    VArrayReal noReals;
    EXPECT_EQ(noReals.GetAverage(), 0.0);
    EXPECT_EQ(noReals.GetStdDev(), 0.0);
}

TEST(VArrayScalar, NumberSortsOfNineAndTenElementsAgree)
{
    for (int n : {9, 10, 100}) {
        std::vector<int> values;
        for (int i = 0; i < n; ++i)
            values.push_back((i * 37 + 11) % (n / 3 + 1) - 2);
        for (bool descending : {false, true}) {
            VArrayLong a;
            Fill(a, values);
            a.Sort(1, n, descending);
            std::vector<int> expected = values;
            std::sort(expected.begin(), expected.end());
            if (descending)
                std::reverse(expected.begin(), expected.end());
            EXPECT_EQ(Longs(a), expected) << n;
        }
    }
    VArrayLong a;
    Fill(a, std::vector<int>{5, 4, 3, 2, 1});
    a.Sort(2, 4, false);
    EXPECT_EQ(Longs(a), (std::vector<int>{5, 2, 3, 4, 1}));
    a.Sort(2, 2, false);
    a.Sort(0, 3, false);
    a.Sort(3, 9, false);
    EXPECT_EQ(Longs(a), (std::vector<int>{5, 2, 3, 4, 1}));

    VArrayReal r;
    Fill(r, std::vector<double>{2.5, -1.0, 2.25, 0.0, 9.0, 1e-9, -3.5, 4.0, 4.0, 7.0, 1.0});
    r.Sort(1, r.GetCount(), false);
    for (int p = 2; p <= r.GetCount(); ++p)
        EXPECT_LE(r.GetReal(p - 1), r.GetReal(p));
}

TEST(VArrayScalar, SettersKeepTheirDefaults)
{
    VArrayReal r;
    EXPECT_EQ(r.AppendLong(3), 1);
    EXPECT_DOUBLE_EQ(r.GetReal(1), 3.0);
    VArrayLong l;
    l.AppendReal(2.0);  // a long array ignores reals
    EXPECT_EQ(Longs(l), (std::vector<int>{0}));
    VLong value;
    l.FromLong(42, 1);
    l.GetValue(value, 1);
    EXPECT_EQ(value.GetLong(), 42);
    VValueSingle* clone = l.CloneValue(1);
    ASSERT_NE(dynamic_cast<VLong*>(clone), nullptr);
    EXPECT_EQ(clone->GetLong(), 42);
    delete clone;
    EXPECT_EQ(l.CompareTo(VLong(41), false, 1), CR_BIGGER);
    EXPECT_EQ(l.CompareTo(VLong(1), false, 5), CR_SMALLER);  // outside reads as 0
}

TEST(VArrayScalar, NumberStreamsRoundTripInBothByteOrders)
{
    for (bool big : {false, true}) {
        VArrayWord w;
        Fill(w, std::vector<short>{1, -2, 300});
        VArrayWord w2;
        RoundTrip(w, w2, big);
        EXPECT_EQ(w2.GetCount(), 3);
        EXPECT_EQ(w2.GetWord(3), 300);
        VArrayLong8 l8;
        Fill(l8, std::vector<long long>{-5, 1LL << 40});
        VArrayLong8 l82;
        RoundTrip(l8, l82, big);
        EXPECT_EQ(l82.GetLong8(2), 1LL << 40);
        VArrayReal r;
        Fill(r, std::vector<double>{1.5});
        VArrayReal r2;
        RoundTrip(r, r2, big);
        EXPECT_DOUBLE_EQ(r2.GetReal(1), 1.5);
        VArrayByte b;
        Fill(b, std::vector<signed char>{-1, 7});
        VArrayByte b2;
        unsigned long long size = 0;
        RoundTrip(b, b2, big, &size);
        EXPECT_EQ(size, 6u);
        EXPECT_EQ(b2.GetByte(1), -1);
    }
}

TEST(VArrayBoolean, BitsBlockSizesAndGrowth)
{
    VArrayBoolean eight(8);
    EXPECT_EQ(eight.GetDataSize(), 2);
    VArrayBoolean seven(7);
    EXPECT_EQ(seven.GetDataSize(), 1);

    VArrayBoolean a(4);
    a.FromBoolean(1, 1);
    a.FromBoolean(1, 3);
    a.FromBoolean(1, 9);  // outside: ignored
    EXPECT_EQ(Bools(a), (std::vector<bool>{true, false, true, false}));
    // A whole-array sort may leave ones past the count; growing must not
    // bring them back as true elements.
    a.Sort(1, 4, false);
    EXPECT_EQ(Bools(a), (std::vector<bool>{false, false, true, true}));
    EXPECT_TRUE(a.SetCount(2));
    EXPECT_TRUE(a.SetCount(6));
    EXPECT_EQ(Bools(a), (std::vector<bool>{false, false, false, false, false, false}));

    VArrayBoolean b(2);
    b.FromBoolean(1, 2);
    EXPECT_TRUE(b.Insert(1, 2));
    EXPECT_EQ(Bools(b), (std::vector<bool>{false, false, false, true}));
    b.Delete(1, 3);
    EXPECT_EQ(Bools(b), (std::vector<bool>{true}));
    EXPECT_EQ(b.AppendBoolean(true), 2);
    EXPECT_EQ(b.AppendBoolean(false), 3);
    EXPECT_EQ(Bools(b), (std::vector<bool>{true, true, false}));
}

TEST(VArrayBoolean, SortsFindAndOrder)
{
    auto make = [](std::vector<bool> v) {
        VArrayBoolean a(static_cast<int>(v.size()));
        for (size_t i = 0; i < v.size(); ++i)
            a.FromBoolean(v[i] ? 1 : 0, static_cast<int>(i) + 1);
        return a;
    };
    VArrayBoolean d = make({true, false, true, false});
    d.Sort(1, 4, true);
    EXPECT_EQ(Bools(d), (std::vector<bool>{true, true, false, false}));
    VArrayBoolean up = make({true, false, true, false});
    up.Sort(1, 4, false);
    EXPECT_EQ(Bools(up), (std::vector<bool>{false, false, true, true}));
    // A part sorts through the general sort, where true ranks first.
    VArrayBoolean part = make({false, false, true, false, true});
    part.Sort(2, 5, false);
    EXPECT_EQ(Bools(part), (std::vector<bool>{false, true, true, false, false}));
    // Whole-array rewrite over many bytes.
    std::vector<bool> many;
    for (int i = 0; i < 29; ++i)
        many.push_back(i % 3 == 0);
    VArrayBoolean m = make(many);
    m.Sort(1, 29, true);
    for (int p = 1; p <= 29; ++p)
        EXPECT_EQ(m.GetBoolean(p), p <= 10) << p;

    VArrayBoolean f = make({false, true, false});
    EXPECT_EQ(f.Find(1, 1, 1, CM_LESS), 2);  // the method is not used
    EXPECT_EQ(f.Find(0, 3, 0, CM_EQUAL), 3);
    EXPECT_EQ(f.Find(0, 4, 1, CM_EQUAL), -1);
    EXPECT_EQ(f.CompareTo(VBoolean(true), false, 1), CR_BIGGER);
    EXPECT_EQ(f.CompareTo(VBoolean(false), false, 2), CR_SMALLER);
    f.Unsort();
    EXPECT_EQ(Bools(f), (std::vector<bool>{false, true, false}));
}

TEST(VArrayBoolean, Streams)
{
    VArrayBoolean empty;
    VArrayBoolean back(3);
    unsigned long long size = 0;
    RoundTrip(empty, back, false, &size);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(back.GetCount(), 0);

    VArrayBoolean nine(9);
    nine.FromBoolean(1, 9);
    nine.FromBoolean(1, 1);
    VArrayBoolean nineBack;
    RoundTrip(nine, nineBack, true, &size);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(Bools(nineBack), (std::vector<bool>{true, false, false, false, false, false, false, false, true}));

    const unsigned char truncated[] = {9, 0, 0, 0, 0xFF};
    VConstPtrStream in(truncated, sizeof(truncated));
    ASSERT_EQ(in.OpenReading(), VE_OK);
    EXPECT_EQ(nineBack.ReadFromStream(&in, 0), QeltError(200));
    EXPECT_EQ(nineBack.GetCount(), 9);
}

TEST(VArrayDurationTime, AccessSortFindAndStream)
{
    VArrayDuration d(3);
    VDuration ms;
    ms.FromNbMilliseconds(-5);
    d.FromDuration(ms, 1);
    ms.FromNbMilliseconds(7);
    d.FromDuration(ms, 3);
    d.VArrayValue::Sort(1, 3, false);
    VDuration out;
    d.GetDuration(out, 1);
    EXPECT_EQ(out.ConvertToMilliseconds(), -5);
    d.GetDuration(out, 4);
    EXPECT_EQ(out.ConvertToMilliseconds(), 0);
    EXPECT_EQ(d.QuickFind(ms), 3);
    EXPECT_EQ(d.Find(ms, 1, 1, CM_EQUAL), 3);
    EXPECT_EQ(d.GetElemValueKind(), 9);
    VArrayDuration d2;
    RoundTrip(d, d2, true);
    d2.GetDuration(out, 3);
    EXPECT_EQ(out.ConvertToMilliseconds(), 7);

    VArrayTime t(3);
    VTime early(0x07E0000100000000ULL);
    VTime late(0x07E9000C1F000000ULL);
    t.FromTime(late, 1);
    t.FromTime(early, 2);
    t.VArrayValue::Sort(1, 3, false);  // unsigned stamps: the zero stamp first
    VTime got;
    t.GetTime(got, 3);
    EXPECT_EQ(got.GetStamp(), late.GetStamp());
    VTime unchanged(late);
    t.GetTime(unchanged, 0);
    EXPECT_EQ(unchanged.GetStamp(), late.GetStamp());
    EXPECT_EQ(t.Find(early, 1, 1, CM_EQUAL), 2);
    EXPECT_EQ(t.Find(static_cast<const VValueSingle&>(late), 1, 1, CM_EQUAL), 3);
    EXPECT_EQ(t.Find(early, 1, 1, CM_GREATER), 3);
    EXPECT_EQ(t.GetElemValueKind(), 8);
    VArrayTime t2;
    RoundTrip(t, t2, false);
    t2.GetTime(got, 2);
    EXPECT_EQ(got.GetStamp(), early.GetStamp());
}

}  // namespace
}  // namespace qelt
