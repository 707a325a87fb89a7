#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "json/VDecimalToDouble.h"
#include "json/json.h"
#include "kernel/VString.h"

namespace qelt {
namespace {

using Wide = unsigned __int128;

Wide Entry(int inExponent)
{
    const VDecimalToDouble::PowerOfFive& power = VDecimalToDouble::GetPowerOfFive(inExponent);
    return (Wide{power.fHigh} << 64) | power.fLow;
}

int BitLength(Wide inValue)
{
    const uint64_t high = static_cast<uint64_t>(inValue >> 64);
    if (high != 0)
        return 128 - std::countl_zero(high);
    return 64 - std::countl_zero(static_cast<uint64_t>(inValue));
}

// The exact reader's answer for a decimal word: the standard library's
// conversion, or strtod's (infinity, zero or a number below the normal
// range) where that one reports the result out of range.
double ExactReading(const std::string& inWord)
{
    double value = 0.0;
    const std::from_chars_result result =
        std::from_chars(inWord.data(), inWord.data() + inWord.size(), value, std::chars_format::general);
    if (result.ec != std::errc())
        value = std::strtod(inWord.c_str(), nullptr);
    return value;
}

std::string Word(uint64_t inDigits, int inExponent, bool inNegative)
{
    char buffer[48];
    std::snprintf(buffer, sizeof(buffer), "%s%llue%d", inNegative ? "-" : "",
                  static_cast<unsigned long long>(inDigits), inExponent);
    return buffer;
}

TEST(DecimalToDouble, ThePowersOfFiveAreTheTopBitsOfTheExactPowers)
{
    // Up to 5^55 the entry is the power itself, shifted up to the top bit.
    Wide power = 1;
    for (int e = 0; e <= 55; ++e) {
        SCOPED_TRACE(e);
        const int length = BitLength(power);
        EXPECT_EQ(Entry(e), power << (128 - length));
        EXPECT_EQ(VDecimalToDouble::BinaryExponent(e), length - 128);
        power *= 5;
    }
    // Down to 5^-27 (5^27 < 2^63): the entry T and its exponent b satisfy
    // T x 5^n <= 2^-b < (T + 1) x 5^n, checked in 192-bit arithmetic.
    uint64_t five = 1;
    for (int n = 1; n <= 27; ++n) {
        SCOPED_TRACE(-n);
        five *= 5;
        const Wide entry = Entry(-n);
        const int scale = -VDecimalToDouble::BinaryExponent(-n);  // 2^scale / 5^n lies in [2^127, 2^128)
        ASSERT_GE(scale, 128);
        ASSERT_LT(scale, 192);
        // entry x five = top:bottom (64 + 128 bits)
        const Wide low = static_cast<Wide>(static_cast<uint64_t>(entry)) * five;
        const Wide high = static_cast<Wide>(static_cast<uint64_t>(entry >> 64)) * five + (low >> 64);
        const Wide bottom = (high << 64) | static_cast<uint64_t>(low);
        const uint64_t top = static_cast<uint64_t>(high >> 64);
        // 2^scale - entry x five must lie in [0, five).
        const uint64_t target = uint64_t{1} << (scale - 128);
        if (top != target || bottom != 0) {
            ASSERT_EQ(top + 1, target);
            EXPECT_LT(static_cast<Wide>(-bottom), static_cast<Wide>(five));
        }
    }
    // Every entry is its neighbour below times 5, brought back to 128 bits:
    // with T(e) = floor(m) and T(e + 1) = floor(5m / 2^s), s >= 2, the two
    // sides differ by less than 5 / 4 plus the truncations, at most 2.
    for (int e = VDecimalToDouble::kMinExponent; e < VDecimalToDouble::kMaxExponent; ++e) {
        SCOPED_TRACE(e);
        const Wide entry = Entry(e);
        ASSERT_EQ(BitLength(entry), 128);
        // entry x 5 / 2^shift with shift = 2 or 3, taken in two halves to stay within 128 bits
        const int shift = VDecimalToDouble::BinaryExponent(e + 1) - VDecimalToDouble::BinaryExponent(e);
        ASSERT_TRUE(shift == 2 || shift == 3);
        const Wide times5 = (entry >> shift) * 5 + (((entry & ((Wide{1} << shift) - 1)) * 5) >> shift);
        const Wide next = Entry(e + 1);
        const Wide difference = next > times5 ? next - times5 : times5 - next;
        EXPECT_LE(difference, 2u);
    }
}

TEST(DecimalToDouble, EdgeCasesReadAsTheExactReaderReadsThem)
{
    // Through the importer, which leaves what the conversion declines to
    // the exact reader: every word must give the same bits as the general
    // reader of the toolbox.
    const char* words[] = {
        // 2^53 and its neighbours; the first integers that do not fit
        "9007199254740991", "9007199254740992", "9007199254740993", "9007199254740994", "9007199254740995",
        "-9007199254740993", "18014398509481987", "9223372036854775807", "9223372036854775808",
        "18446744073709551615", "9999999999999999999",
        // halfway between two doubles, by the integer and with a fraction
        "4503599627370496.5", "4503599627370497.5", "1e23", "8e23", "2.5", "0.5", "1.5e-1",
        "1.00000000000000011102230246251565404236316680908203125",
        "1.000000000000000111022302462515654042363166809082031251",
        // the largest double, the halfway above it and beyond
        "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308", "-1.8e308",
        "179769313486231570000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000",
        "1e308", "1e309", "9.999999999999999e307",
        // the smallest normal, subnormals, the smallest subnormal and below
        "2.2250738585072014e-308", "2.2250738585072011e-308", "2.2250738585072009e-308", "1e-310",
        "4.9406564584124654e-324", "5e-324", "2.4703282292062328e-324", "2.4703282292062327e-324",
        "3e-324", "1e-324", "1e-400", "-1e-400",
        // zeros, with and without sign and exponent
        "0", "-0", "0.0", "-0.0e10", "0e-999", "-0e999", "0.00000000000000000000000000000",
        // long mantissas, leading and trailing zeros
        "3.141592653589793238462643383279502884197", "0.1000000000000000055511151231257827",
        "0.000000000000000000000000000000000012345678901234567", "123456789012345678900000000000",
        "1.2345678901234567890123e5", "-65.613616999999977", "-65.61361699999997",
        // exponents with many digits, written with and without sign
        "1e0000000000000000000000000022", "1e+022", "1E-0000000000022", "1e99999999999999999999",
        "1e-99999999999999999999", "123e-00000000000000000000000000000000000000000000000000000000000000000000000001",
        // the ends of the table and just past them
        "1e-342", "9999999999999999999e-342", "1e-343", "9999999999999999999e-343", "1e308", "1e-326",
        "17976931348623157e292", "17976931348623159e292"};
    for (const char* word : words) {
        SCOPED_TRACE(word);
        VJSONValue value(JSON_undefined);
        ASSERT_EQ(VJSONImporter::ParseString(VString(word), value, 0), VE_OK);
        ASSERT_TRUE(value.IsNumber());
        const double expected = VString(word).GetReal();
        EXPECT_EQ(std::bit_cast<uint64_t>(value.GetNumber()), std::bit_cast<uint64_t>(expected));
        // The same word inside an array, ended by a comma and by a blank.
        const std::string inArray = std::string("[") + word + ", " + word + "\n]";
        VJSONValue array(JSON_undefined);
        ASSERT_EQ(VJSONImporter::ParseString(VString(inArray.c_str()), array, 0), VE_OK);
        ASSERT_NE(array.GetArray(), nullptr);
        ASSERT_EQ(array.GetArray()->GetCount(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            VJSONValue element(JSON_undefined);
            ASSERT_TRUE(array.GetArray()->GetAt(i, element));
            EXPECT_EQ(std::bit_cast<uint64_t>(element.GetNumber()), std::bit_cast<uint64_t>(expected));
        }
    }
}

TEST(DecimalToDouble, DigitRunsOfEveryLengthReadAsTheGeneralReaderReadsThem)
{
    // The importer reads a number's digits eight units at a time while
    // eight units remain in the text, and the rest one by one: integer and
    // fraction parts of every length from 1 to 21 digits (0 to 21 for the
    // fraction), with and without sign, exponent and leading zeros after
    // the point, each read where the text ends with it, followed by more
    // than eight units in an array and as a member's value.
    uint64_t state = 0x13198A2E03707344ull;
    auto digitRun = [&state](int inLength, bool inNonZeroFirst) {
        std::string run;
        for (int d = 0; d < inLength; ++d) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            run += static_cast<char>('0' + state % 10);
        }
        if (inNonZeroFirst && !run.empty() && run[0] == '0')
            run[0] = '7';
        return run;
    };
    std::vector<std::string> words;
    for (int integer = 1; integer <= 21; ++integer) {
        for (int fraction = 0; fraction <= 21; ++fraction) {
            std::string word;
            if ((integer + fraction) % 2 == 0)
                word += '-';
            word += digitRun(integer, true);
            if (fraction > 0) {
                word += '.';
                word += digitRun(fraction, false);
            }
            if ((integer + fraction) % 5 == 0)
                word += "e-7";
            words.push_back(word);
        }
    }
    for (int zeros = 0; zeros <= 20; ++zeros) {
        for (int fraction : {1, 7, 8, 9, 16, 17, 19, 20}) {
            std::string word = zeros % 2 == 0 ? "-0." : "0.";
            word.append(static_cast<size_t>(zeros), '0');
            word += digitRun(fraction, true);
            words.push_back(word);
        }
    }
    for (const std::string& word : words) {
        SCOPED_TRACE(word);
        const uint64_t expected = std::bit_cast<uint64_t>(VString(word.c_str()).GetReal());
        VJSONValue alone(JSON_undefined);
        ASSERT_EQ(VJSONImporter::ParseString(VString(word.c_str()), alone, 0), VE_OK);
        ASSERT_TRUE(alone.IsNumber());
        EXPECT_EQ(std::bit_cast<uint64_t>(alone.GetNumber()), expected);
        VJSONValue array(JSON_undefined);
        std::string inArray = "[";
        inArray += word;
        inArray += ',';
        inArray += word;
        inArray += ", \"padding of sixteen\"]";
        ASSERT_EQ(VJSONImporter::ParseString(VString(inArray.c_str()), array, 0), VE_OK);
        ASSERT_NE(array.GetArray(), nullptr);
        for (size_t i = 0; i < 2; ++i) {
            VJSONValue element(JSON_undefined);
            ASSERT_TRUE(array.GetArray()->GetAt(i, element));
            EXPECT_EQ(std::bit_cast<uint64_t>(element.GetNumber()), expected);
        }
        VJSONValue object(JSON_undefined);
        std::string inObject = "{\"a\":";
        inObject += word;
        inObject += ",\"b\":\"padding of sixteen\"}";
        ASSERT_EQ(VJSONImporter::ParseString(VString(inObject.c_str()), object, 0), VE_OK);
        ASSERT_NE(object.GetObject(), nullptr);
        EXPECT_EQ(std::bit_cast<uint64_t>(object.GetObject()->GetOwnProperty(VString("a")).GetNumber()), expected);
    }
}

TEST(DecimalToDouble, GeneratedDecimalsGiveTheExactReadersBits)
{
    // Mantissas of 1 to 19 digits (a third of them with their last digits
    // forced to the 2^53 region or to runs of nines and zeros) and powers
    // of ten over the whole table and past it: every conversion that is
    // not declined gives the exact reader's bits, and in the normal range
    // hardly any is declined.
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    int declined = 0;
    int normal = 0;
    for (int i = 0; i < 300000; ++i) {
        const int length = 1 + static_cast<int>(next() % 19);
        uint64_t digits = 0;
        for (int d = 0; d < length; ++d)
            digits = digits * 10 + next() % 10;
        switch (next() % 6) {
            case 0: digits = (uint64_t{1} << 53) + (next() % 64) - 32; break;
            case 1: digits = digits / 1000 * 1000 + 999; break;
            case 2: digits = digits / 1000 * 1000 + 500; break;
            default: break;
        }
        int exponent;
        if (next() % 2 == 0)
            exponent = static_cast<int>(next() % 700) - 360;  // the whole table and beyond
        else
            exponent = static_cast<int>(next() % 80) - 40;    // where the data of most texts lies
        const bool negative = (next() & 1) != 0;
        const std::string word = Word(digits, exponent, negative);
        const double expected = ExactReading(word);
        double got = 0.0;
        const bool isNormal = std::fabs(expected) >= DBL_MIN && std::fabs(expected) <= DBL_MAX;
        normal += isNormal ? 1 : 0;
        if (!VDecimalToDouble::Convert(digits, exponent, negative, got)) {
            declined += isNormal ? 1 : 0;
            continue;
        }
        ASSERT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(expected)) << word;
    }
    EXPECT_GT(normal, 200000);
    EXPECT_LT(declined, normal / 1000);
}

}  // namespace
}  // namespace qelt
