#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace qelt::plat
