#include <gtest/gtest.h>

#include <locale.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "TestSupport.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VLong.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"

namespace qelt {

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::string Ascii(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out.push_back(static_cast<char>(s.GetCPointer()[i]));
    return out;
}

std::string XML(double d)
{
    VString s;
    VReal::RealToXMLString(d, s);
    return Ascii(s);
}

std::string JSON(double d)
{
    VString s;
    VReal::RealToJSONString(d, s);
    return Ascii(s);
}

// A packed decimal record: exponent, sign byte, digit count, digit bytes.
std::string Record(int exponent, unsigned char sign, int count, std::initializer_list<unsigned char> digits)
{
    std::string r(reinterpret_cast<const char*>(&exponent), 4);
    r.push_back(static_cast<char>(sign));
    r.append(reinterpret_cast<const char*>(&count), 4);
    for (unsigned char d : digits)
        r.push_back(static_cast<char>(d));
    return r;
}

}  // namespace

TEST(VReal, XMLAndJSONTexts)
{
    struct Case {
        double value;
        const char* xml;
        const char* json;
    };
    const Case cases[] = {
        {3.0, "3", "3"},
        {-0.0, "0", "0"},
        {-42.0, "-42", "-42"},
        {9007199254740991.0, "9007199254740991", "9007199254740991"},
        {-9007199254740991.0, "-9007199254740991", "-9007199254740991"},
        {-0.5, "-0.5", "-0.5"},
        // JSON keeps the value: 17 digits when 14 do not read back.
        {9007199254740992.0, "9.007199254741E+15", "9007199254740992"},
        {0.1 + 0.2, "0.3", "0.30000000000000004"},
        {123456789012345678.0, "1.2345678901235E+17", "1.2345678901234568E+17"},
        {0.1, "0.1", "0.1"},
        {1e-5, "1E-05", "1E-05"},
        {2.5, "2.5", "2.5"},
        {1e20, "1E+20", "1E+20"},
        {kNaN, "NaN", "null"},
        {kInf, "INF", "null"},
        {-kInf, "-INF", "null"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XML(c.value), c.xml) << c.xml;
        EXPECT_EQ(JSON(c.value), c.json) << c.xml;
    }
    VReal r(2.5);
    r.SetNull(true);
    VString text;
    r.GetXMLString(text, 0);
    EXPECT_EQ(Ascii(text), "2.5");  // the null flag is not consulted
}

TEST(VReal, FromXMLStringReadsTheWholeText)
{
    struct Case {
        const char* text;
        bool accepted;
        double value;
    };
    const Case cases[] = {
        {"2,5", true, 2.5},   {"2.5", true, 2.5},     {"-1E-05", true, -1e-5}, {"", true, 0.0},
        {" 7", true, 7.0},    {"7 ", false, 0},       {"12abc", false, 0},     {"abc", false, 0},
        {"1,5,0", false, 0},  {"INF", true, kInf},    {"-INF", true, -kInf},
    };
    for (const Case& c : cases) {
        VReal r(99.0);
        r.SetNull(true);
        EXPECT_EQ(r.FromXMLString(VString(c.text)), c.accepted) << c.text;
        if (c.accepted) {
            EXPECT_EQ(r.GetReal(), c.value) << c.text;
            EXPECT_FALSE(r.IsNull()) << c.text;
        } else {
            EXPECT_EQ(r.GetReal(), 99.0) << c.text;
            EXPECT_TRUE(r.IsNull()) << c.text;
        }
    }
    VReal r;
    EXPECT_TRUE(r.FromXMLString(VString("NaN")));
    EXPECT_TRUE(std::isnan(r.GetReal()));

    // At most 254 UTF-8 bytes.
    std::string longest(254, '1');
    longest[0] = '0';
    longest[1] = '.';
    EXPECT_TRUE(r.FromXMLString(VString(longest.c_str())));
    std::string tooLong = longest + "1";
    r.FromReal(5.0);
    EXPECT_FALSE(r.FromXMLString(VString(tooLong.c_str())));
    EXPECT_EQ(r.GetReal(), 5.0);

    // A zero unit inside the text does not let a prefix pass for the whole.
    const UniChar withZero[] = {'1', 0, '2'};
    VString zeroText;
    zeroText.FromUniString(withZero, 3);
    EXPECT_FALSE(r.FromXMLString(zeroText));
    EXPECT_EQ(r.GetReal(), 5.0);
}

TEST(VReal, FromJSONStringFallsBackToZero)
{
    VReal r(3.0);
    r.SetNull(true);
    EXPECT_EQ(r.FromJSONString(VString("abc"), 0), VE_OK);
    EXPECT_EQ(r.GetReal(), 0.0);
    EXPECT_FALSE(r.IsNull());
    EXPECT_EQ(r.FromJSONString(VString("-0.25"), 0), VE_OK);
    EXPECT_EQ(r.GetReal(), -0.25);
    VString text;
    EXPECT_EQ(VReal(kNaN).GetJSONString(text, 0), VE_OK);
    EXPECT_EQ(Ascii(text), "null");
}

TEST(VReal, ComparisonsUseATolerance)
{
    VReal one(1.0);
    VReal close(1.0000005);
    VReal far(1.00001);
    VReal nan(kNaN);
    EXPECT_EQ(one.CompareToSameKind(&close), CR_EQUAL);
    EXPECT_TRUE(one.EqualToSameKind(&close));
    EXPECT_EQ(one.CompareToSameKind(&far), CR_SMALLER);
    EXPECT_EQ(far.CompareToSameKind(&one), CR_BIGGER);
    EXPECT_EQ(nan.CompareToSameKind(&one), CR_SMALLER);
    EXPECT_EQ(one.CompareToSameKind(&nan), CR_SMALLER);
    EXPECT_EQ(one.CompareTo(VLong(1)), CR_EQUAL);
    const double raw = 1.0000005;
    EXPECT_EQ(one.CompareToSameKindPtr(&raw), CR_EQUAL);

    VCompareOptions options;
    EXPECT_EQ(options.GetEpsilon(), 1e-6);
    options.SetEpsilon(0.001);
    EXPECT_EQ(one.CompareToSameKindWithOptions(&far, options), CR_EQUAL);
    EXPECT_TRUE(one.EqualToSameKindPtrWithOptions(&raw, options));
    options.SetDiacritical(true);  // not consulted by the value's own comparisons
    EXPECT_EQ(one.CompareToSameKindWithOptions(&far, options), CR_EQUAL);
}

TEST(VReal, DescriptorOrdersNaNFirstAndHonoursOptions)
{
    const VValueInfo& info = VReal::sInfo;
    const double nan = kNaN, minusInf = -kInf, one = 1.0, close = 1.0000005;
    VCompareOptions options;
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&nan, &minusInf, options), CR_SMALLER);
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&minusInf, &nan, options), CR_BIGGER);
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&nan, &nan, options), CR_EQUAL);
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&one, &close, options), CR_EQUAL);
    options.SetDiacritical(true);
    EXPECT_EQ(info.CompareTwoPtrToDataWithOptions(&one, &close, options), CR_SMALLER);

    EXPECT_EQ(info.CompareTwoPtrToData(&one, &close, false), CR_EQUAL);
    EXPECT_EQ(info.CompareTwoPtrToData(&one, &close, true), CR_SMALLER);
    EXPECT_EQ(info.CompareTwoPtrToDataBegining(&close, &one, true), CR_BIGGER);
    EXPECT_EQ(info.GetSizeOfValueDataPtr(&one), 8u);
    EXPECT_EQ(info.GetKind(), VK_REAL);
}

TEST(VReal, PackedDecimalRecords)
{
    std::string r = Record(2, 1, 3, {12, 30});
    EXPECT_DOUBLE_EQ(MAPM_FloatToReal(r.data()), 12.3);
    r = Record(2, 0xFF, 3, {12, 30});
    EXPECT_DOUBLE_EQ(MAPM_FloatToReal(r.data()), -12.3);
    r = Record(2, 0, 3, {99, 99});
    EXPECT_EQ(MAPM_FloatToReal(r.data()), 0.0);
    r = Record(-2, 1, 1, {50});
    EXPECT_DOUBLE_EQ(MAPM_FloatToReal(r.data()), 0.005);
    r = Record(5, 1, 4, {12, 34});
    EXPECT_DOUBLE_EQ(MAPM_FloatToReal(r.data()), 12340.0);

    // Records whose sizes or digits cannot be right are not read further.
    r = Record(1, 1, 0, {});
    EXPECT_TRUE(std::isnan(MAPM_FloatToReal(r.data())));
    r = Record(1, 1, -5, {});
    EXPECT_TRUE(std::isnan(MAPM_FloatToReal(r.data())));
    r = Record(1, 1, 0x7FFFFFFF, {1});
    EXPECT_TRUE(std::isnan(MAPM_FloatToReal(r.data())));
    r = Record(1, 1, 2, {100});
    EXPECT_TRUE(std::isnan(MAPM_FloatToReal(r.data())));
    r = Record(0x7FFFFFFF, 1, 1, {10});
    EXPECT_EQ(MAPM_FloatToReal(r.data()), kInf);
    r = Record(-0x7FFFFFFF - 1, 1, 1, {10});
    EXPECT_EQ(MAPM_FloatToReal(r.data()), 0.0);
}

TEST(VReal, StringAndValueSetters)
{
    VReal r(4.0);
    VString nullString(true);
    r.FromString(nullString);
    EXPECT_TRUE(r.IsNull());
    EXPECT_EQ(r.GetReal(), 4.0);  // a null string leaves the number

    VLong l(9);
    l.SetNull(true);
    r.FromValue(l);
    EXPECT_EQ(r.GetReal(), 9.0);
    EXPECT_TRUE(r.IsNull());
    r.FromLong8(-3);
    EXPECT_FALSE(r.IsNull());
    EXPECT_EQ(r.GetWord(), -3);
    r.FromReal(70000.7);
    EXPECT_EQ(r.GetWord(), static_cast<short>(70000));
    EXPECT_EQ(r.GetByte(), static_cast<signed char>(70000));
}

// Numbers are written and read in the C locale whatever the process locale
// is.
TEST(VReal, NumbersIgnoreTheProcessLocale)
{
    EXPECT_TRUE(test::RunUnderCommaLocale([] {
        test::ChildChecks check;
        char printed[16];
        std::snprintf(printed, sizeof(printed), "%.1f", 2.5);
        check(std::strcmp(printed, "2,5") == 0, "the locale prints a decimal comma");
        check(XML(2.5) == "2.5", "2.5 is written with a point");
        check(XML(1e-5) == "1E-05", "1e-5 is written with the C exponent form");
        check(JSON(0.125) == "0.125", "JSON text uses a point");
        VReal r;
        check(r.FromXMLString(VString("2.5")) && r.GetReal() == 2.5, "2.5 reads back");
        check(r.FromXMLString(VString("2,5")) && r.GetReal() == 2.5, "2,5 reads back");
        std::string record = Record(2, 1, 3, {12, 30});
        check(std::fabs(MAPM_FloatToReal(record.data()) - 12.3) < 1e-12, "packed decimal 12.3");
        return check.Passed();
    }));
}

}  // namespace qelt
