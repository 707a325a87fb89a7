#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <random>
#include <string>
#include <vector>

#include "platform/PlatNumbers.h"

namespace qelt::plat {

TEST(PlatNumbers, ReadsTheLongestNumberPrefixOfUnitsAndCountsWhatItRead)
{
    struct Case {
        std::u16string text;
        unsigned int options;
        double value;
        size_t read;
    };
    const Case cases[] = {
        {u"12.5e3xyz", 0, 12500.0, 6},
        {u"  -0.25", 0, -0.25, 7},
        {u"1e\u22122", 0, 1.0, 1},
        {u"1e\u22122", kCNumberMinusSign, 0.01, 4},
        {u"\u22123", kCNumberMinusSign, -3.0, 2},
        {u"7\u00E9", 0, 7.0, 1},
        {u"abc", 0, 0.0, 0},
        {u"", 0, 0.0, 0},
        {std::u16string(u"4") + char16_t(0) + u"2", 0, 4.0, 1},
    };
    for (const Case& c : cases) {
        double value = -99;
        size_t read = ReadCNumber(reinterpret_cast<const unsigned short*>(c.text.data()), c.text.size(), value,
                                  c.options);
        EXPECT_EQ(read, c.read) << std::string(c.text.begin(), c.text.end());
        EXPECT_DOUBLE_EQ(value, c.value) << std::string(c.text.begin(), c.text.end());
    }
}

TEST(PlatNumbers, LongDigitRunsAreReadWhole)
{
    std::u16string digits(400, u'1');
    double value = 0;
    EXPECT_EQ(ReadCNumber(reinterpret_cast<const unsigned short*>(digits.data()), digits.size(), value), 400u);
    EXPECT_TRUE(std::isinf(value));
}

TEST(PlatNumbers, ReportsValuesOutOfRange)
{
    bool outOfRange = false;
    const char* end = nullptr;
    EXPECT_TRUE(std::isinf(ReadCDouble("1e999", &end, &outOfRange)));
    EXPECT_TRUE(outOfRange);
    EXPECT_STREQ(end, "");
    ReadCDouble("1.5", &end, &outOfRange);
    EXPECT_FALSE(outOfRange);
    const char* text = "x";
    ReadCDouble(text, &end, &outOfRange);
    EXPECT_EQ(end, text);
}

TEST(PlatNumbers, WritesWithThePrecisionAndConversionAsked)
{
    struct Case {
        double value;
        int precision;
        char conversion;
        const char* text;
    };
    const Case cases[] = {
        {0.1, 14, 'G', "0.1"},
        {0.1, 17, 'G', "0.10000000000000001"},
        {1e-5, 14, 'G', "1E-05"},
        {2.5, 2, 'f', "2.50"},
        {1234.5, 3, 'e', "1.234e+03"},
        {2.5, -1, 'f', "2.500000"},
        {2.5, 3, 'x', "2.5"},
    };
    for (const Case& c : cases) {
        char buffer[64];
        int n = WriteCDouble(c.value, c.precision, c.conversion, buffer, sizeof(buffer));
        EXPECT_STREQ(buffer, c.text);
        EXPECT_EQ(n, static_cast<int>(std::string(c.text).size()));
    }
    char small[4];
    EXPECT_EQ(WriteCDouble(0.125, 14, 'G', small, sizeof(small)), 5);
    EXPECT_STREQ(small, "0.1");
}

namespace {

// The C library's reading in the C locale: value, end and range, as the
// reader answered before it had a fast path of its own.
struct Reading {
    double value;
    size_t read;
    bool outOfRange;
};

Reading ReferenceRead(const char* inText)
{
    static const locale_t sC = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char* end = nullptr;
    errno = 0;
    const double value = ::strtod_l(inText, &end, sC);
    return {value, static_cast<size_t>(end - inText), errno == ERANGE};
}

// "%.14G" when it reads back, else "%.17G", as the writer did through printf.
std::string ReferenceRoundTrip(double inValue)
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.14G", inValue);
    if (ReferenceRead(buffer).value != inValue)
        std::snprintf(buffer, sizeof(buffer), "%.17G", inValue);
    return buffer;
}

bool SameBits(double inA, double inB) { return std::memcmp(&inA, &inB, sizeof(double)) == 0; }

}  // namespace

TEST(PlatNumbers, ReadingAgreesWithTheCLibraryOnTrickyTexts)
{
    const char* const texts[] = {
        "0", "-0", "0.0", "0e0", "0e-999", "-0.0e5", "00012", "1.", "1.e5", ".5", "-.5", ".", ".e5", "-", "1e",
        "1e+", "1e-", "1.5e3x", "123abc", "9007199254740993", "9007199254740995", "0.1", "0.3", "1e23",
        "8.98846567431158e307", "1.7976931348623157e308", "1.7976931348623159e308", "1e400", "-1e400",
        "2.2250738585072014e-308", "2.2250738585072011e-308", "4.9e-324", "2.4703282292062327e-324", "1e-400",
        "0.000000000000000000000000000000000000000000001", "123456789012345678901234567890",
        "505874924095815681", "-122.39411544799805", "0x10", "0X1p4", "inf", "-nan", " 1", "+1", "1,5",
        "3.14159265358979323846264338327950288419716939937510"};
    for (const char* text : texts) {
        const Reading expected = ReferenceRead(text);
        const char* end = nullptr;
        bool outOfRange = false;
        const double value = ReadCDouble(text, &end, &outOfRange);
        EXPECT_TRUE(SameBits(value, expected.value) || (std::isnan(value) && std::isnan(expected.value))) << text;
        EXPECT_EQ(static_cast<size_t>(end - text), expected.read) << text;
        EXPECT_EQ(outOfRange, expected.outOfRange) << text;

        std::u16string units(text, text + std::strlen(text));
        double unitValue = -99;
        const size_t read =
            ReadCNumber(reinterpret_cast<const unsigned short*>(units.data()), units.size(), unitValue);
        EXPECT_EQ(read, expected.read) << text;
        EXPECT_TRUE(SameBits(unitValue, expected.value) || (std::isnan(unitValue) && std::isnan(expected.value)))
            << text;
    }
}

TEST(PlatNumbers, RoundTripTextIsTheFourteenDigitFormWhenItReadsBackElseSeventeen)
{
    std::vector<double> values = {0.1, 0.3, 1.0 / 3, 2.0 / 3, 1e20, 1e21, 1e-5, 1e-4, 123456789012345.6,
                                  9007199254740993.0, 0.30000000000000004, 5e-324, 2.2250738585072014e-308,
                                  1.7976931348623157e308, -122.39411544799805, 47.651292000000005,
                                  99999999999999.99, 999999999999999.9, 0.000099999999999999991, -0.0,
                                  // Exact halfway cases at seventeen digits: ties go to the even digit.
                                  12345678901234.0625, 12345678901234.1875, -12345678901234.5,
                                  // Next to the decimal and binary exponents where the digits change scale.
                                  99999.999999999985, 9.9999999999999991e-05, 1.52587890625e-05, 1.5258789062499998e-05,
                                  17592186044415.998, 17592186044416.0, 9999999999999.998, 0.00099999999999999999};
    // Powers of two (a closer neighbour below) and their neighbours.
    for (int exponent = -24; exponent <= 50; ++exponent) {
        const double power = std::ldexp(1.0, exponent);
        values.insert(values.end(), {power, std::nextafter(power, 0.0), std::nextafter(power, 1e300), -power});
    }
    // Seeded doubles of every magnitude, short decimals, and plain bit patterns.
    std::mt19937_64 random(20261210);
    for (int i = 0; i < 20000; ++i) {
        values.push_back(std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 120) - 90));
        values.push_back(static_cast<double>(random() % 100000000) / std::pow(10.0, static_cast<double>(random() % 14)));
        const unsigned long long bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        if (std::isfinite(value))
            values.push_back(value);
        // Integers with a short binary fraction: decimals that end exactly on a tie.
        const int fractionBits = static_cast<int>(random() % 11);
        values.push_back(static_cast<double>(random() % (1ULL << (43 - fractionBits))) +
                         static_cast<double>(random() % (1ULL << fractionBits)) / std::ldexp(1.0, fractionBits));
    }
    for (double value : values) {
        char buffer[kCRoundTripSize];
        const int length = WriteCRoundTrip(value, buffer);
        const std::string expected = ReferenceRoundTrip(value);
        ASSERT_EQ(std::string(buffer), expected) << "bits of " << expected;
        EXPECT_EQ(length, static_cast<int>(expected.size()));
        EXPECT_TRUE(SameBits(ReadCDouble(buffer, nullptr), value) || value == 0.0) << expected;
    }
}

}  // namespace qelt::plat
