#include <gtest/gtest.h>

#include <clocale>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "kernel/VString.h"
#include "values/VMemoryBuffer.h"

namespace qelt {
namespace {

using test::S;
using test::Units;

TEST(VStringNumbers, IntegerWriters)
{
    VString s;
    s.FromLong(0);
    EXPECT_EQ(Units(s), u"0");
    s.FromLong(-7);
    EXPECT_EQ(Units(s), u"-7");
    s.FromLong(INT_MIN);
    EXPECT_EQ(Units(s), u"-2147483648");
    s.FromLong8(LLONG_MIN);
    EXPECT_EQ(Units(s), u"-9223372036854775808");
    s.FromLong8(1234567890123LL);
    EXPECT_EQ(Units(s), u"1234567890123");
    s.FromULong8(ULLONG_MAX);
    EXPECT_EQ(Units(s), u"18446744073709551615");
    s.FromByte(static_cast<signed char>(0xFF));
    EXPECT_EQ(Units(s), u"-1");
    s.FromWord(-32768);
    EXPECT_EQ(Units(s), u"-32768");

    VString a = S(u"n=");
    a.AppendLong(42).AppendUniChar(' ').AppendLong8(-5).AppendUniChar(' ').AppendULong8(7);
    EXPECT_EQ(Units(a), u"n=42 -5 7");
}

TEST(VStringNumbers, FromReplacesSharedAndNullText)
{
    VString original = S(u"a rather long text that lives in a heap block of its own");
    VString copy(original);
    copy.FromLong(12);
    EXPECT_EQ(Units(copy), u"12");
    EXPECT_EQ(Units(original), u"a rather long text that lives in a heap block of its own");

    VString null(true);
    null.FromLong(3);
    EXPECT_FALSE(null.IsNull());
    EXPECT_EQ(Units(null), u"3");
}

TEST(VStringNumbers, RealWriter)
{
    struct Case {
        double value;
        const char16_t* text;
    } cases[] = {{0.1, u"0.1"}, {1e20, u"1E+20"}, {1.0 / 3.0, u"0.33333333333333"}, {-2.5, u"-2.5"}, {0, u"0"}};
    for (const Case& c : cases) {
        VString s;
        s.FromReal(c.value);
        EXPECT_EQ(Units(s), c.text) << c.value;
    }
}

TEST(VStringNumbers, RealsUseTheCLocaleWhateverTheProcessLocale)
{
    EXPECT_TRUE(test::RunUnderCommaLocale([] {
        test::ChildChecks check;
        VString s;
        s.FromReal(1.5);
        check(Units(s) == u"1.5", "1.5 is written with a point");
        check(S(u"2.25").GetReal() == 2.25, "2.25 reads with a point");
        s.Printf("%.1f|%g", 2.5, 0.25);
        check(Units(s) == u"2.5|0.25", "Printf writes numbers with a point");
        return check.Passed();
    }));
}

TEST(VStringNumbers, LenientIntegerReader)
{
    struct Case {
        const char16_t* text;
        long long value;
    } cases[] = {
        {u"", 0},         {u"-12", -12},          {u"3-4", 34},   {u"0-5", -5}, {u"abc", 0},
        {u"12.9", 12},    {u"1,234", 1234},       {u" +42 ", 42}, {u"-", 0},    {u"9223372036854775807", LLONG_MAX},
        {u"x1y2z3", 123}, {u"99999999999999999999", 7766279631452241919LL},
    };
    for (const Case& c : cases)
        EXPECT_EQ(S(c.text).GetLong8(), c.value) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
}

TEST(VStringNumbers, NarrowReadersAnswerZeroWhenTheValueDoesNotFit)
{
    EXPECT_EQ(S(u"3000000000").GetLong(), 0);
    EXPECT_EQ(S(u"-2147483648").GetLong(), INT_MIN);
    EXPECT_EQ(S(u"40000").GetWord(), 0);
    EXPECT_EQ(S(u"-32768").GetWord(), -32768);
    EXPECT_EQ(S(u"123").GetWord(), 123);
}

TEST(VStringNumbers, RealReaderReportsOverflow)
{
    bool overflow = false;
    double v = S(u"1e999").GetRealCheckOverflow(&overflow);
    EXPECT_TRUE(std::isinf(v));
    EXPECT_TRUE(overflow);

    v = S(u"2.5").GetRealCheckOverflow(&overflow);
    EXPECT_DOUBLE_EQ(v, 2.5);
    EXPECT_FALSE(overflow);

    v = S(u"abc").GetRealCheckOverflow(&overflow);
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(overflow);

    EXPECT_DOUBLE_EQ(S(u"  -1.25e2xyz").GetReal(), -125);
    EXPECT_EQ(VString().GetReal(), 0);
    EXPECT_EQ(VString(true).GetReal(), 0);
}

TEST(VStringNumbers, Boolean)
{
    VString s;
    s.FromBoolean(7);
    EXPECT_EQ(Units(s), u"true");
    s.FromBoolean(0);
    EXPECT_EQ(Units(s), u"false");
    EXPECT_TRUE(S(u"true").GetBoolean());
    EXPECT_TRUE(S(u"TRUE").GetBoolean());
    EXPECT_FALSE(S(u"1").GetBoolean());
    EXPECT_FALSE(S(u"truth").GetBoolean());
    EXPECT_FALSE(VString().GetBoolean());
}

TEST(VStringNumbers, FourCharacterCodes)
{
    EXPECT_EQ(S(u"ab").GetOsType(), 0x61622020u);
    EXPECT_EQ(VString().GetOsType(), 0x20202020u);
    EXPECT_EQ(S(u"abcdef").GetOsType(), FourCC("abcd"));
    // A character whose UTF-8 form does not fit whole is left out.
    EXPECT_EQ(S(u"abc\u00E9").GetOsType(), FourCC("abc "));

    VString s;
    s.FromOsType(0x54455854);
    EXPECT_EQ(Units(s), u"TEXT");
    VOsTypeString code(FourCC("qelt"));
    EXPECT_EQ(Units(code), u"qelt");
    VString a = S(u"<");
    a.AppendOsType(FourCC("abcd")).AppendUniChar('>');
    EXPECT_EQ(Units(a), u"<abcd>");
}

TEST(VStringNumbers, ToBlockWithPrefixAndTerminator)
{
    unsigned char buffer[10];
    std::memset(buffer, 0xEE, sizeof(buffer));
    EXPECT_EQ(S(u"abc").ToBlock(buffer, 10, VTC_UTF_8, true, true), 3u);
    const unsigned char expected[] = {3, 'a', 'b', 'c', 0, 0xEE};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof(expected)), 0);

    unsigned short units[6];
    std::memset(units, 0xEE, sizeof(units));
    EXPECT_EQ(S(u"ab").ToBlock(units, sizeof(units), VTC_UTF_16, true, true), 4u);
    EXPECT_EQ(units[0], 2);
    EXPECT_EQ(units[1], 'a');
    EXPECT_EQ(units[2], 'b');
    EXPECT_EQ(units[3], 0);
}

TEST(VStringNumbers, ToBlockNeverWritesBeyondTheBuffer)
{
    unsigned char buffer[8];
    std::memset(buffer, 0xEE, sizeof(buffer));
    // Room for 3 bytes of text and the terminator in 4 bytes.
    EXPECT_EQ(S(u"abcdef").ToBlock(buffer, 4, VTC_UTF_8, true, false), 3u);
    EXPECT_EQ(std::memcmp(buffer, "abc\0", 4), 0);
    EXPECT_EQ(buffer[4], 0xEE);

    // A two-byte character that does not fit whole is left out.
    std::memset(buffer, 0xEE, sizeof(buffer));
    EXPECT_EQ(S(u"a\u00E9").ToBlock(buffer, 2, VTC_UTF_8, false, false), 1u);
    EXPECT_EQ(buffer[1], 0xEE);

    // Too small for the prefix and the terminator: nothing is written.
    std::memset(buffer, 0xEE, sizeof(buffer));
    EXPECT_EQ(S(u"abc").ToBlock(buffer, 1, VTC_UTF_8, true, true), 0u);
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST(VStringNumbers, ToBlockPrefixOverflowGivesZero)
{
    VString s;
    for (int i = 0; i < 300; ++i)
        s.AppendUniChar('x');
    unsigned char buffer[400];
    EXPECT_EQ(s.ToBlock(buffer, sizeof(buffer), VTC_UTF_8, false, true), 0u);
    EXPECT_EQ(buffer[0], 0);
}

TEST(VStringNumbers, ToBufferEncodes)
{
    VMemoryBuffer<1024ul, 2ul, 1048576ul> buffer;
    ASSERT_TRUE(S(u"h\u00E9").ToBuffer(buffer, VTC_UTF_8));
    ASSERT_EQ(buffer.GetDataSize(), 3u);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "h\xC3\xA9", 3), 0);
    // A second conversion replaces the data.
    ASSERT_TRUE(S(u"z").ToBuffer(buffer, VTC_UTF_8));
    EXPECT_EQ(buffer.GetDataSize(), 1u);
}

TEST(VStringNumbers, CarriageReturnMode)
{
    EXPECT_EQ(S(u"a\r\nb").GetCarriageReturnMode(eCRM_NONE), eCRM_CRLF);
    EXPECT_EQ(S(u"a\rb\nc\n").GetCarriageReturnMode(eCRM_NONE), eCRM_CR);
    EXPECT_EQ(S(u"a\nb").GetCarriageReturnMode(eCRM_NONE), eCRM_LF);
    EXPECT_EQ(S(u"a\r").GetCarriageReturnMode(eCRM_NONE), eCRM_CR);
    EXPECT_EQ(S(u"abc").GetCarriageReturnMode(eCRM_LF), eCRM_LF);
    EXPECT_EQ(VString().GetCarriageReturnMode(eCRM_CRLF), eCRM_CRLF);
}

}  // namespace
}  // namespace qelt
