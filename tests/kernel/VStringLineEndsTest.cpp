#include <gtest/gtest.h>

#include "TestSupport.h"

#include <cstring>
#include <string>
#include <vector>

#include "kernel/VString.h"
#include "values/VMemoryBuffer.h"

namespace qelt {
namespace {

using test::S;
using test::Units;

// Converts units of type T given as a byte-valued list, with room for
// `extra` more units; returns the converted units and the units needed.
template <class T>
std::vector<T> Convert(std::vector<T> units, unsigned long extra, ECarriageReturnMode mode, unsigned long* needed)
{
    unsigned long length = units.size();
    units.resize(length + extra, T(0xEE));
    unsigned long result = _ConvertCarriageReturns<T>(units.data(), length, length + extra, mode, needed);
    units.resize(result);
    return units;
}

template <class T>
class LineEnds : public ::testing::Test {};
using UnitTypes = ::testing::Types<unsigned char, unsigned short, unsigned int>;
TYPED_TEST_SUITE(LineEnds, UnitTypes);

TYPED_TEST(LineEnds, EveryModeAtEveryWidth)
{
    using T = TypeParam;
    const T CR = 13, LF = 10;
    struct Case {
        std::vector<T> text;
        ECarriageReturnMode mode;
        std::vector<T> result;
    } cases[] = {
        {{LF, CR, CR, LF, CR}, eCRM_CRLF, {CR, LF, CR, LF, CR, LF, CR, LF}},
        {{'a', CR, LF, 'b', CR, LF}, eCRM_CRLF, {'a', CR, LF, 'b', CR, LF}},
        {{LF, LF}, eCRM_CR, {CR, CR}},
        {{CR, LF}, eCRM_CR, {CR}},
        {{CR, CR, LF}, eCRM_LF, {LF, LF}},
        {{'a', CR}, eCRM_LF, {'a', LF}},
        {{'a', CR, LF, 'b'}, eCRM_NONE, {'a', CR, LF, 'b'}},
        {{'a', CR, LF, 'b'}, static_cast<ECarriageReturnMode>(9), {'a', CR, LF, 'b'}},
        {{0, T(~T(0)), 'x'}, eCRM_CRLF, {0, T(~T(0)), 'x'}},
        {{}, eCRM_CRLF, {}},
    };
    for (const Case& c : cases) {
        unsigned long needed = 99;
        EXPECT_EQ(Convert<T>(c.text, 8, c.mode, &needed), c.result) << int(c.mode);
        if (c.mode == eCRM_CRLF)
            EXPECT_EQ(needed, c.result.size());
        else
            EXPECT_EQ(needed, c.text.size());
    }
}

TYPED_TEST(LineEnds, CRLFWithTooLittleRoomConvertsInTwoSteps)
{
    using T = TypeParam;
    const T CR = 13, LF = 10;
    std::vector<T> units = {'a', LF, 'b', LF, 'c', 0, 0};
    unsigned long needed = 0;
    unsigned long length = _ConvertCarriageReturns<T>(units.data(), 5, 6, eCRM_CRLF, &needed);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(needed, 7u);
    EXPECT_EQ(std::vector<T>(units.begin(), units.begin() + 6), (std::vector<T>{'a', CR, LF, 'b', LF, 'c'}));
    unsigned long again = 0;
    length = _ConvertCarriageReturns<T>(units.data(), length, 7, eCRM_CRLF, &again);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(again, 7u);
    EXPECT_EQ(units, (std::vector<T>{'a', CR, LF, 'b', CR, LF, 'c'}));
}

TEST(VStringLineEnds, StringConversionGrows)
{
    VString s = S(u"a\nb\rc\r\nd\n");
    VString shared(s);
    s.ConvertCarriageReturns(eCRM_CRLF);
    EXPECT_EQ(Units(s), u"a\r\nb\r\nc\r\nd\r\n");
    EXPECT_EQ(Units(shared), u"a\nb\rc\r\nd\n");

    s.ConvertCarriageReturns(eCRM_LF);
    EXPECT_EQ(Units(s), u"a\nb\nc\nd\n");
    s.ConvertCarriageReturns(eCRM_CR);
    EXPECT_EQ(Units(s), u"a\rb\rc\rd\r");
    s.ConvertCarriageReturns(eCRM_NONE);
    EXPECT_EQ(Units(s), u"a\rb\rc\rd\r");

    // Many lone line ends in a string on its inline buffer.
    VStr<15> small;
    small.FromUniString(reinterpret_cast<const UniChar*>(u"\n\n\n\n\n\n\n\n\n\n"), 10);
    small.ConvertCarriageReturns(eCRM_CRLF);
    EXPECT_EQ(small.GetLength(), 20);
    EXPECT_EQ(small.GetUniChar(19), 13);
    EXPECT_EQ(small.GetUniChar(20), 10);
}

TEST(VStringLineEnds, BufferConversionByCharSet)
{
    VMemoryBuffer<1024ul, 2ul, 1048576ul> buffer;
    const char bytes[] = "a\nb\nc";
    ASSERT_TRUE(buffer.AppendData(bytes, 5));
    ASSERT_TRUE(buffer.SetCapacityExact(5));
    VString::ConvertCarriageReturns(buffer, VTC_UTF_8, eCRM_CRLF);
    ASSERT_EQ(buffer.GetDataSize(), 7u);
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "a\r\nb\r\nc", 7), 0);

    // CharSet 0 converts nothing.
    VString::ConvertCarriageReturns(buffer, VTC_UNKNOWN, eCRM_LF);
    EXPECT_EQ(buffer.GetDataSize(), 7u);
}

TEST(VStringLineEnds, WideBuffersKeepOtherCharacters)
{
    // UTF-16 big-endian: the character U+0D0A has the bytes of CR LF and must
    // come through, while the real line end is converted.
    VMemoryBuffer<1024ul, 2ul, 1048576ul> buffer;
    const unsigned char be[] = {0x0D, 0x0A, 0x00, 0x0A, 0x00, 'x'};
    ASSERT_TRUE(buffer.AppendData(be, sizeof(be)));
    VString::ConvertCarriageReturns(buffer, VTC_UTF_16_BIGENDIAN, eCRM_CRLF);
    const unsigned char beExpected[] = {0x0D, 0x0A, 0x00, 0x0D, 0x00, 0x0A, 0x00, 'x'};
    ASSERT_EQ(buffer.GetDataSize(), sizeof(beExpected));
    EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), beExpected, sizeof(beExpected)), 0);

    VMemoryBuffer<1024ul, 2ul, 1048576ul> le;
    const unsigned short units[] = {0x0D0A, 13, 10, 13};
    ASSERT_TRUE(le.AppendData(units, sizeof(units)));
    VString::ConvertCarriageReturns(le, VTC_UTF_16, eCRM_LF);
    const unsigned short leExpected[] = {0x0D0A, 10, 10};
    ASSERT_EQ(le.GetDataSize(), sizeof(leExpected));
    EXPECT_EQ(std::memcmp(le.GetDataPtr(), leExpected, sizeof(leExpected)), 0);

    VMemoryBuffer<1024ul, 2ul, 1048576ul> wide;
    const unsigned int utf32[] = {'a', 10, 0x10000 + 13};
    ASSERT_TRUE(wide.AppendData(utf32, sizeof(utf32)));
    VString::ConvertCarriageReturns(wide, VTC_UTF_32, eCRM_CRLF);
    const unsigned int wideExpected[] = {'a', 13, 10, 0x10000 + 13};
    ASSERT_EQ(wide.GetDataSize(), sizeof(wideExpected));
    EXPECT_EQ(std::memcmp(wide.GetDataPtr(), wideExpected, sizeof(wideExpected)), 0);
}

TEST(VStringHex, Reading)
{
    EXPECT_EQ(S(u"0x1F").GetHexLong(), 31u);
    EXPECT_EQ(S(u"ff").GetHexLong(), 255u);
    EXPECT_EQ(S(u"no digits here?").GetHexLong(), 0xDEEu);
    EXPECT_EQ(S(u"zzz").GetHexLong(), 0u);
    EXPECT_EQ(VString().GetHexLong(), 0u);
    EXPECT_EQ(S(u"1 0000 0000 0000 0001").GetHexLong(), 1u);  // modulo 2^64
}

TEST(VStringHex, Writing)
{
    VString s;
    s.FromHexLong(0x1234u, true);
    EXPECT_EQ(Units(s), u"0x1234");
    s.FromHexLong(0x12345u, true);
    EXPECT_EQ(Units(s), u"0x00012345");
    s.FromHexLong(0x123456789ULL, true);
    EXPECT_EQ(Units(s), u"0x0000000123456789");
    s.FromHexLong(0xABCDULL, true);
    EXPECT_EQ(Units(s), u"0xABCD");
    s.FromHexLong(-1, false);
    EXPECT_EQ(Units(s), u"FFFFFFFF");
    s.FromHexLong(-1LL, false);
    EXPECT_EQ(Units(s), u"FFFFFFFFFFFFFFFF");
    s.FromHexLong(0u, false);
    EXPECT_EQ(Units(s), u"0");
    s.FromHexLong(0u, true);
    EXPECT_EQ(Units(s), u"0x0000");
    s.FromHexLong(0ULL, true);
    EXPECT_EQ(Units(s), u"0x0000");
    s.FromHexLong(static_cast<unsigned char>(0), true);
    EXPECT_EQ(Units(s), u"0x00");
    s.FromHexLong(static_cast<char>(-2), true);
    EXPECT_EQ(Units(s), u"0xFE");
    s.FromHexLong(static_cast<unsigned char>(0xA), false);
    EXPECT_EQ(Units(s), u"A");

    VString null(true);
    StringFromHexLong<unsigned int>(null, 0xBEEFu, false);
    EXPECT_FALSE(null.IsNull());
    EXPECT_EQ(Units(null), u"BEEF");
}

TEST(VStringDecimal, ToString)
{
    EXPECT_EQ(Units(ToString(-5)), u"-5");
    EXPECT_EQ(Units(ToString(-9223372036854775807LL - 1)), u"-9223372036854775808");
    EXPECT_EQ(Units(ToString(18446744073709551615ULL)), u"18446744073709551615");
    EXPECT_EQ(Units(ToString(18446744073709551615UL)), u"18446744073709551615");
    EXPECT_FALSE(ToString(0).IsNull());
}

}  // namespace
}  // namespace qelt
