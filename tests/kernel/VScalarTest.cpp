#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "files/VPtrStream.h"
#include "kernel/VBoolean.h"
#include "kernel/VByte.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VEmpty.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"
#include "kernel/VWord.h"
#include "values/VDuration.h"

namespace qelt {

namespace {

std::string Ascii(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out.push_back(static_cast<char>(s.GetCPointer()[i]));
    return out;
}

// Writes the value's stream body and answers its bytes.
std::string StreamBody(const VValue& value, bool bigEndian)
{
    VPtrStream s;
    s.SetNeedSwap(bigEndian);
    EXPECT_EQ(s.OpenWriting(), VE_OK);
    EXPECT_EQ(value.WriteToStream(&s), VE_OK);
    return std::string(static_cast<const char*>(s.GetDataPtr()), s.GetDataSize());
}

// Reads a value's stream body from the bytes.
VError ReadBody(VValue& value, const std::string& bytes, bool bigEndian)
{
    VPtrStream s;
    EXPECT_EQ(s.OpenWriting(), VE_OK);
    EXPECT_EQ(s.PutData(bytes.data(), bytes.size()), VE_OK);
    EXPECT_EQ(s.CloseWriting(), VE_OK);
    s.SetNeedSwap(bigEndian);
    EXPECT_EQ(s.OpenReading(), VE_OK);
    return value.ReadFromStream(&s);
}

}  // namespace

TEST(VScalar, SettersKeepTheLowOrderBitsOfTheirWidth)
{
    VByte b;
    b.FromLong(300);
    EXPECT_EQ(b.GetByte(), 44);
    b.FromReal(-1.9);
    EXPECT_EQ(b.GetByte(), -1);
    b.FromLong(-2);
    EXPECT_EQ(b.GetLong(), -2);  // widening getters sign-extend
    EXPECT_EQ(b.GetLong8(), -2);

    VWord w;
    w.FromLong8(65537);
    EXPECT_EQ(w.GetWord(), 1);
    w.FromLong(0x12345678);
    EXPECT_EQ(w.GetByte(), 0x78);

    VLong l;
    l.FromLong8(0x100000002LL);
    EXPECT_EQ(l.GetLong(), 2);
    l.FromReal(-7.99);
    EXPECT_EQ(l.GetLong(), -7);

    VLong8 l8;
    l8.FromReal(-1e15 - 0.5);
    EXPECT_EQ(l8.GetLong8(), -1000000000000000LL);
    l8.FromLong8(0x123456789LL);
    EXPECT_EQ(l8.GetLong(), 0x23456789);
    EXPECT_EQ(l8.GetReal(), static_cast<double>(0x123456789LL));
}

TEST(VScalar, RealsOutsideTheIntegerRangeStayBounded)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    VLong l;
    l.FromReal(nan);
    EXPECT_EQ(l.GetLong(), 0);
    l.FromReal(1e300);
    EXPECT_EQ(l.GetLong(), 2147483647);
    l.FromReal(-1e300);
    EXPECT_EQ(l.GetLong(), -2147483647 - 1);
    VLong8 l8;
    l8.FromReal(std::numeric_limits<double>::infinity());
    EXPECT_EQ(l8.GetLong8(), std::numeric_limits<long long>::max());
    l8.FromReal(nan);
    EXPECT_EQ(l8.GetLong8(), 0);
    VReal r(-1e30);
    EXPECT_EQ(r.GetLong8(), std::numeric_limits<long long>::min());
    EXPECT_EQ(VReal(nan).GetLong(), 0);
    EXPECT_TRUE(VReal(nan).GetBoolean());
}

TEST(VScalar, BooleanStoresZeroOrOne)
{
    VBoolean b;
    b.FromByte(5);
    EXPECT_EQ(b.GetLong(), 1);
    VBoolean one(true);
    EXPECT_TRUE(b.EqualToSameKind(&one));
    b.FromLong8(256);
    EXPECT_EQ(b.GetLong(), 1);
    EXPECT_TRUE(b.EqualToSameKind(&one));
    b.FromReal(std::nan(""));
    EXPECT_TRUE(b.GetBoolean());
    b.FromReal(0.0);
    EXPECT_FALSE(b.GetBoolean());

    // Comparisons: equal bytes 0, else by this value's truth.
    VBoolean f(false);
    EXPECT_EQ(one.CompareToSameKind(&f), CR_BIGGER);
    EXPECT_EQ(f.CompareToSameKind(&one), CR_SMALLER);
    EXPECT_EQ(one.CompareTo(VLong(-5)), CR_EQUAL);  // -5 is true
    EXPECT_EQ(f.CompareTo(VLong(0)), CR_EQUAL);
}

TEST(VScalar, BooleanTextIsStrict)
{
    struct Case {
        const char* text;
        bool accepted;
        bool value;
    };
    const Case cases[] = {
        {"TRUE", true, true}, {"true", true, true},   {"FaLsE", true, false}, {"0", true, false},
        {"1", true, true},    {"yes", false, false},  {" true", false, false}, {"", false, false},
        {"true ", false, false}, {"2", false, false}, {"10", false, false},
    };
    for (const Case& c : cases) {
        VBoolean b;
        b.FromBoolean(c.accepted ? !c.value : 1);  // something the text must change
        b.SetNull(true);
        bool accepted = b.FromXMLString(VString(c.text));
        EXPECT_EQ(accepted, c.accepted) << c.text;
        if (c.accepted) {
            EXPECT_EQ(b.GetBoolean(), c.value) << c.text;
            EXPECT_FALSE(b.IsNull()) << c.text;
        } else {
            EXPECT_TRUE(b.IsNull()) << c.text;  // unchanged
            EXPECT_TRUE(b.GetBoolean()) << c.text;
        }
    }

    VBoolean b(true);
    VString text;
    b.GetXMLString(text, 0);
    EXPECT_EQ(Ascii(text), "true");
    b.SetNull(true);
    EXPECT_EQ(b.GetJSONString(text, 0), VE_OK);
    EXPECT_EQ(Ascii(text), "true");  // also for a null value
    EXPECT_EQ(b.FromJSONString(VString("maybe"), 0), VE_OK);
    EXPECT_FALSE(b.GetBoolean());
    EXPECT_FALSE(b.IsNull());
}

TEST(VScalar, StreamBodies)
{
    VByte b;
    b.FromLong(-2);
    EXPECT_EQ(StreamBody(b, false), std::string("\xFE\xFF", 2));
    EXPECT_EQ(StreamBody(b, true), std::string("\xFF\xFE", 2));
    // The low-order byte of the 16-bit body: 0x01FF reads back as -1.
    EXPECT_EQ(ReadBody(b, std::string("\x01\xFF", 2), true), VE_OK);
    EXPECT_EQ(b.GetByte(), -1);

    VBoolean boolean;
    EXPECT_EQ(ReadBody(boolean, std::string("\x01\x00", 2), true), VE_OK);  // 0x0100
    EXPECT_EQ(boolean.GetLong(), 1);
    EXPECT_EQ(StreamBody(boolean, true), std::string("\x00\x01", 2));

    EXPECT_EQ(StreamBody(VWord(0x0102), true), std::string("\x01\x02", 2));
    EXPECT_EQ(StreamBody(VLong(0x01020304), true), std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(StreamBody(VLong8(0x0102030405060708LL), false), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
    EXPECT_EQ(StreamBody(VEmpty(), false), std::string());

    // A short body changes nothing and reports end of data; flags are left alone.
    VLong l(42);
    l.SetNull(true);
    l.SetDirty(false);
    EXPECT_EQ(ReadBody(l, std::string("\x01\x02", 2), false), QeltError(200));
    EXPECT_EQ(l.GetLong(), 42);
    EXPECT_EQ(ReadBody(l, std::string("\x07\x00\x00\x00", 4), false), VE_OK);
    EXPECT_EQ(l.GetLong(), 7);
    EXPECT_TRUE(l.IsNull());
    EXPECT_FALSE(l.IsDirty());
}

TEST(VScalar, SpacesOfRawFormAndStreamBody)
{
    struct Case {
        std::unique_ptr<VValueSingle> value;
        unsigned long raw;
        unsigned long stream;
    };
    Case cases[] = {
        {std::make_unique<VBoolean>(), 1, 2}, {std::make_unique<VByte>(), 1, 2},  {std::make_unique<VWord>(), 2, 2},
        {std::make_unique<VLong>(), 4, 4},    {std::make_unique<VLong8>(), 8, 8}, {std::make_unique<VReal>(), 8, 8},
    };
    for (Case& c : cases) {
        unsigned long long size = 0;
        EXPECT_EQ(c.value->GetSpace(size), c.raw);
        EXPECT_EQ(c.value->GetStreamSpace(), c.stream);
        EXPECT_EQ(c.value->GetValueInfo()->GetAvgSpace(), c.raw);
    }
}

TEST(VScalar, RegistryCreatesEveryScalarKind)
{
    for (unsigned short kind = VK_EMPTY; kind <= VK_REAL; ++kind) {
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
        ASSERT_NE(value, nullptr) << kind;
        EXPECT_EQ(value->GetValueInfo()->GetKind(), kind);
        EXPECT_TRUE(value->IsDirty());
        EXPECT_EQ(value->IsNull(), kind == VK_EMPTY);
        EXPECT_EQ(value->IsVValueSingle()->GetLong(), 0);
    }
}

TEST(VScalar, RawFormsRoundTripAndSwap)
{
    VLong l(-5);
    unsigned char raw[9] = {};
    // An odd address: raw forms in packed storage need not be aligned.
    EXPECT_EQ(l.WriteToPtr(raw + 1), raw + 5);
    std::unique_ptr<VValue> loaded(VLong::sInfo.LoadFromPtr(raw + 1));
    EXPECT_EQ(loaded->IsVValueSingle()->GetLong(), -5);
    EXPECT_FALSE(loaded->IsNull());
    EXPECT_TRUE(l.EqualToSameKindPtr(raw + 1));

    EXPECT_EQ(VLong::sInfo.ByteSwapPtr(raw + 1, true), raw + 5);
    EXPECT_EQ(raw[1], 0xFF);
    EXPECT_EQ(raw[4], 0xFB);

    // Raw comparisons as the raw type: signed for the integers, unsigned for booleans.
    const signed char minus = -1, plus = 1;
    EXPECT_EQ(VByte::sInfo.CompareTwoPtrToData(&minus, &plus), CR_SMALLER);
    const unsigned char t = 1, f = 0;
    EXPECT_EQ(VBoolean::sInfo.CompareTwoPtrToData(&t, &f), CR_BIGGER);
    const long long big = 1LL << 40, small = -(1LL << 40);
    EXPECT_EQ(VLong8::sInfo.CompareTwoPtrToData(&big, &small), CR_BIGGER);
    VCompareOptions options;
    EXPECT_EQ(VLong8::sInfo.CompareTwoPtrToDataWithOptions(&small, &small, options), CR_EQUAL);

    // The boolean descriptor takes the byte unchanged; the value loader makes it 1.
    const unsigned char five = 5;
    std::unique_ptr<VValue> b(VBoolean::sInfo.LoadFromPtr(&five));
    EXPECT_EQ(b->IsVValueSingle()->GetLong(), 5);
    VBoolean loadedBool;
    loadedBool.LoadFromPtr(&five);
    EXPECT_EQ(loadedBool.GetLong(), 1);
    unsigned char written = 9;
    b->WriteToPtr(&written);
    EXPECT_EQ(written, 1);
}

TEST(VScalar, CloneCopiesNullAndSetsDirty)
{
    VLong8 value(77);
    value.SetNull(true);
    value.SetDirty(false);
    std::unique_ptr<VValue> copy(value.Clone());
    EXPECT_TRUE(copy->IsNull());
    EXPECT_TRUE(copy->IsDirty());
    EXPECT_EQ(copy->IsVValueSingle()->GetLong8(), 77);

    VLong from;
    from.FromValue(value);  // takes the number and the null flag
    EXPECT_EQ(from.GetLong(), 77);
    EXPECT_TRUE(from.IsNull());
    from.FromLong(1);
    EXPECT_FALSE(from.IsNull());
    from.Clear();
    EXPECT_EQ(from.GetLong(), 0);
    EXPECT_FALSE(from.IsNull());
}

TEST(VScalar, NullStringSettersCopyTheNullFlag)
{
    VString nullString(true);
    ASSERT_TRUE(nullString.IsNull());
    VLong8 l8(123);
    l8.FromString(nullString);
    EXPECT_TRUE(l8.IsNull());
    EXPECT_EQ(l8.GetLong8(), 123);  // the number stays

    VLong l(123);
    l.FromString(nullString);
    EXPECT_TRUE(l.IsNull());
    EXPECT_EQ(l.GetLong(), nullString.GetLong());
}

TEST(VScalar, EmptyValueIsAlwaysNullAndUnordered)
{
    VEmpty empty;
    EXPECT_TRUE(empty.IsNull());
    EXPECT_TRUE(empty.IsDirty());
    empty.SetNull(false);
    std::unique_ptr<VValue> copy(empty.Clone());
    EXPECT_TRUE(copy->IsNull());
    EXPECT_EQ(empty.CompareTo(VEmpty()), CR_UNRELEVANT);
    EXPECT_EQ(empty.CompareTo(VLong(1)), CR_UNRELEVANT);
    EXPECT_FALSE(empty.CanBeEvaluated());
    EXPECT_EQ(empty.GetValueInfo()->GetKind(), VK_EMPTY);
}

TEST(VScalar, CompareToReadsTheOtherValueAtTheMemberWidth)
{
    EXPECT_EQ(VByte(-3).CompareTo(VLong(-3)), CR_EQUAL);
    EXPECT_EQ(VWord(5).CompareTo(VReal(4.9)), CR_BIGGER);  // GetLong of 4.9 is 4
    EXPECT_EQ(VLong(1).CompareTo(VLong8(1LL << 32 | 2)), CR_SMALLER);  // GetLong gives 2
    EXPECT_EQ(VLong8(1LL << 33).CompareTo(VLong8(1LL << 32)), CR_BIGGER);
    const int raw = 10;
    EXPECT_EQ(VLong(9).CompareToSameKindPtr(&raw), CR_SMALLER);
}

// Scalars read a duration through its own number getters and hand their
// number to its setters, in whatever unit the duration gives them.
TEST(VScalar, DurationsGoThroughTheirNumberAccessors)
{
    VDuration duration(1500000);  // 1500 s
    VLong8 l8;
    l8.FromDuration(duration);
    EXPECT_EQ(l8.GetLong8(), 1500);
    VByte b;
    b.FromDuration(duration);
    EXPECT_EQ(b.GetByte(), static_cast<signed char>(1500 & 0xFF));
    VReal r;
    r.FromDuration(duration);
    EXPECT_EQ(r.GetReal(), 1500.0);

    // Numbers become durations in seconds.
    VDuration target;
    VLong(-250).GetDuration(target);
    EXPECT_EQ(target.ConvertToMilliseconds(), -250000);
    VLong8(1LL << 30).GetDuration(target);
    EXPECT_EQ(target.ConvertToMilliseconds(), (1LL << 30) * 1000);

    VDuration nullDuration(7);
    nullDuration.SetNull(true);
    VLong l(3);
    l.FromDuration(nullDuration);
    EXPECT_TRUE(l.IsNull());
}

}  // namespace qelt
