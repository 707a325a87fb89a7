// The array base, exercised through the long array: counts and block sizes,
// insertion and deletion, copying, range sorts, synchronized sorts, the fixed
// scramble, appending, and the stream frame with its checks on counts.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VString.h"
#include "values/VArrayLong.h"
#include "values/VArrayLong8.h"
#include "values/VArrayString.h"

namespace qelt {
namespace {

std::vector<int> Elems(const VArrayLong& a)
{
    std::vector<int> r;
    for (int p = 1; p <= a.GetCount(); ++p)
        r.push_back(a.GetLong(p));
    return r;
}

VArrayLong Make(const std::vector<int>& values)
{
    VArrayLong a(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        a.FromLong(values[i], static_cast<int>(i) + 1);
    return a;
}

std::string Text(const VString& s)
{
    std::string r;
    for (int i = 0; i < s.GetLength(); ++i)
        r.push_back(static_cast<char>(s.GetCPointer()[i]));
    return r;
}

TEST(VArrayValue, NewArrayState)
{
    VArrayLong a;
    EXPECT_EQ(a.GetCount(), 0);
    EXPECT_EQ(a.GetDataSize(), 0);
    EXPECT_EQ(a.LockAndGetData(), nullptr);
    EXPECT_TRUE(a.IsDirty());
    EXPECT_FALSE(a.IsNull());
    EXPECT_EQ(a.GetValueKind(), 65535);
    EXPECT_FALSE(a.ValidIndex(0));
    int raw = 7;
    EXPECT_EQ(a.LoadFromPtr(&raw), &raw);
    EXPECT_EQ(a.WriteToPtr(&raw), &raw);
    EXPECT_EQ(raw, 7);
}

TEST(VArrayValue, SetCountGrowsWithZerosAndShrinks)
{
    VArrayLong a = Make({1, 2, 3});
    unsigned char* block = a.LockAndGetData();
    EXPECT_TRUE(a.SetCount(3));
    EXPECT_EQ(a.LockAndGetData(), block);  // untouched
    EXPECT_TRUE(a.SetCount(5));
    EXPECT_EQ(Elems(a), (std::vector<int>{1, 2, 3, 0, 0}));
    EXPECT_EQ(a.GetDataSize(), 20);
    EXPECT_TRUE(a.SetCount(2));
    EXPECT_EQ(Elems(a), (std::vector<int>{1, 2}));
    EXPECT_EQ(a.GetDataSize(), 8);
    EXPECT_TRUE(a.SetCount(-5));
    EXPECT_EQ(a.GetCount(), 0);
    EXPECT_EQ(a.GetDataSize(), 0);
}

TEST(VArrayValue, SizesThatDoNotFitAreRefusedWithoutChange)
{
    VArrayLong8 a(2);
    a.FromLong8(9, 1);
    EXPECT_FALSE(a.SetCount(INT_MAX));  // 8 x INT_MAX bytes overflow the block size
    EXPECT_EQ(a.GetCount(), 2);
    EXPECT_EQ(a.GetDataSize(), 16);
    EXPECT_EQ(a.GetLong8(1), 9);
    EXPECT_FALSE(a.Insert(1, INT_MAX));
    EXPECT_EQ(a.GetCount(), 2);
    VArrayLong8 big(INT_MAX);
    EXPECT_EQ(big.GetCount(), 0);
    EXPECT_EQ(big.GetDataSize(), 0);
}

TEST(VArrayValue, InsertAndDelete)
{
    VArrayLong a = Make({1, 2});
    EXPECT_TRUE(a.Insert(1, 2));
    EXPECT_EQ(Elems(a), (std::vector<int>{0, 0, 1, 2}));
    VArrayLong b = Make({1, 2});
    EXPECT_TRUE(b.Insert(3, 1));
    EXPECT_EQ(Elems(b), (std::vector<int>{1, 2, 0}));
    EXPECT_FALSE(b.Insert(5, 1));  // past the end
    EXPECT_FALSE(b.Insert(0, 1));
    EXPECT_EQ(b.GetCount(), 3);

    VArrayLong c = Make({1, 2, 3});
    c.Delete(2, 1);
    EXPECT_EQ(Elems(c), (std::vector<int>{1, 3}));
    EXPECT_EQ(c.GetDataSize(), 8);
    c.Delete(2, 1);
    EXPECT_EQ(Elems(c), (std::vector<int>{1}));
    c.Delete(1, 5);  // outside the array: ignored
    c.Delete(0, 1);
    EXPECT_EQ(Elems(c), (std::vector<int>{1}));
    c.Delete(1, 1);
    EXPECT_EQ(c.GetCount(), 0);
    EXPECT_EQ(c.GetDataSize(), 0);
}

TEST(VArrayValue, MoveElementsIgnoresRequestsOutsideTheArray)
{
    VArrayLong a = Make({1, 2, 3, 4});
    a.MoveElements(0, 1, 3);
    EXPECT_EQ(Elems(a), (std::vector<int>{1, 1, 2, 3}));
    a.MoveElements(1, 0, 3);
    EXPECT_EQ(Elems(a), (std::vector<int>{1, 2, 3, 3}));
    a.MoveElements(2, 3, 2);
    a.MoveElements(-1, 0, 1);
    a.MoveElements(0, 0, 2);
    EXPECT_EQ(Elems(a), (std::vector<int>{1, 2, 3, 3}));
}

TEST(VArrayValue, CopyAndClone)
{
    VArrayLong a = Make({4, 5, 6});
    VArrayLong empty;
    a.Copy(empty);
    EXPECT_EQ(a.GetCount(), 0);
    EXPECT_EQ(a.GetDataSize(), 0);

    VArrayLong source = Make({7, 8});
    EXPECT_TRUE(a.Copy(source));
    EXPECT_EQ(Elems(a), (std::vector<int>{7, 8}));
    a.FromLong(1, 1);
    EXPECT_EQ(source.GetLong(1), 7);

    VValue* clone = source.Clone();
    VArrayLong* typed = dynamic_cast<VArrayLong*>(clone);
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(Elems(*typed), (std::vector<int>{7, 8}));
    delete clone;

    VArrayLong assigned;
    assigned = source;
    EXPECT_EQ(Elems(assigned), (std::vector<int>{7, 8}));

    // Elements of another class are never taken as this class's bytes.
    VArrayString strings(2);
    EXPECT_FALSE(strings.Copy(source));
    EXPECT_EQ(strings.GetCount(), 2);
}

TEST(VArrayValue, SortRangeSynchronizedSortAndUnsort)
{
    VArrayLong a = Make({5, 4, 3, 2, 1});
    a.VArrayValue::Sort(2, 4, false);
    EXPECT_EQ(Elems(a), (std::vector<int>{5, 2, 3, 4, 1}));

    VArrayLong keys = Make({3, 1, 2});
    VArrayString names(3);
    names.FromString(VString("c"), 1);
    names.FromString(VString("a"), 2);
    names.FromString(VString("b"), 3);
    VArrayValue::SynchronizedSort(false, &keys, &names, static_cast<VArrayValue*>(nullptr));
    EXPECT_EQ(Elems(keys), (std::vector<int>{1, 2, 3}));
    VString s;
    std::string joined;
    for (int p = 1; p <= 3; ++p) {
        names.GetString(s, p);
        joined += Text(s);
    }
    EXPECT_EQ(joined, "abc");

    // A passenger shorter than the key array would be overrun: nothing moves.
    VArrayLong shortOne = Make({1});
    VArrayLong longKeys = Make({2, 1});
    VArrayValue::SynchronizedSort(false, &longKeys, &shortOne, static_cast<VArrayValue*>(nullptr));
    EXPECT_EQ(Elems(longKeys), (std::vector<int>{2, 1}));

    struct Case {
        std::vector<int> in;
        std::vector<int> out;
    };
    const Case cases[] = {
        {{1, 2, 3, 4, 5}, {5, 3, 2, 4, 1}},
        {{1, 2, 3, 4}, {3, 2, 4, 1}},
        {{1, 2}, {2, 1}},
        {{1}, {1}},
    };
    for (const Case& c : cases) {
        VArrayLong u = Make(c.in);
        u.Unsort();
        EXPECT_EQ(Elems(u), c.out);
    }
}

TEST(VArrayValue, AppendThroughTheTypedSetters)
{
    VArrayLong a;
    EXPECT_EQ(a.AppendLong(7), 1);
    EXPECT_EQ(a.GetLong(1), 7);
    EXPECT_EQ(a.AppendWord(-3), 2);  // passed on as a long
    EXPECT_EQ(a.GetLong(2), -3);
    EXPECT_EQ(a.AppendString(VString("12")), 3);  // not a long: a zero element
    EXPECT_EQ(Elems(a), (std::vector<int>{7, -3, 0}));
}

TEST(VArrayValue, StreamFrameWithAndWithoutKindWord)
{
    VArrayLong a = Make({10, -20});
    VPtrStream out;
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    EXPECT_EQ(a.WriteToStream(&out, static_cast<int>(FourCC("VVAL"))), VE_OK);
    out.CloseWriting();
    ASSERT_EQ(out.GetDataSize(), 16u);
    const unsigned char* bytes = static_cast<const unsigned char*>(out.GetDataPtr());
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[4], 2);

    // Read back, the kind word is taken as a count of 65535 elements that the
    // stream cannot hold: a bad stream, the array left as it was.
    VArrayLong b = Make({1});
    VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
    ASSERT_EQ(in.OpenReading(), VE_OK);
    EXPECT_EQ(b.ReadFromStream(&in, 0), QeltError(200));
    EXPECT_EQ(Elems(b), (std::vector<int>{1}));

    // Big-endian round trip.
    VPtrStream swapped;
    swapped.SetBigEndian();
    ASSERT_EQ(swapped.OpenWriting(), VE_OK);
    EXPECT_EQ(a.WriteToStream(&swapped, 0), VE_OK);
    swapped.CloseWriting();
    const unsigned char* be = static_cast<const unsigned char*>(swapped.GetDataPtr());
    EXPECT_EQ(be[3], 2);
    VConstPtrStream back(swapped.GetDataPtr(), swapped.GetDataSize());
    back.SetBigEndian();
    ASSERT_EQ(back.OpenReading(), VE_OK);
    VArrayLong c;
    EXPECT_EQ(c.ReadFromStream(&back, 0), VE_OK);
    EXPECT_EQ(Elems(c), (std::vector<int>{10, -20}));
}

TEST(VArrayValue, BadStreamCountsAreErrors)
{
    struct Case {
        std::vector<unsigned char> bytes;
        VError expected;
    };
    const Case cases[] = {
        {{0xFF, 0xFF, 0xFF, 0xFF}, QeltError(200)},                    // negative count
        {{0x00, 0x00, 0x00, 0x40}, QeltError(200)},                    // a billion elements, no bytes
        {{0x03, 0x00, 0x00, 0x00, 1, 0, 0, 0, 2, 0, 0, 0}, QeltError(200)},  // one element short
        {{0x01, 0x00}, QeltError(200)},                                // count cut short
    };
    for (const Case& c : cases) {
        VArrayLong a = Make({5, 6});
        VConstPtrStream in(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(in.OpenReading(), VE_OK);
        EXPECT_EQ(a.ReadFromStream(&in, 0), c.expected);
        EXPECT_EQ(Elems(a), (std::vector<int>{5, 6}));
    }
}

}  // namespace
}  // namespace qelt
