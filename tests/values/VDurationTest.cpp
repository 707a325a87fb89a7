// The duration value: breakdown, arithmetic, text forms and value kind.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "TestSupport.h"
#include "files/VPtrStream.h"
#include "kernel/VString.h"
#include "values/VDuration.h"

using namespace qelt;

namespace {

std::string Text(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out += static_cast<char>(s.GetCPointer()[i]);
    return out;
}

std::string Iso(long long ms)
{
    VString s;
    VDuration(ms).GetXMLString(s, 1);
    return Text(s);
}

long long ReadIso(const char* text)
{
    VDuration d(77);
    EXPECT_TRUE(d.FromXMLString(VString(text)));
    EXPECT_FALSE(d.IsNull());
    return d.ConvertToMilliseconds();
}

}  // namespace

TEST(VDurationTest, Breakdown)
{
    int d, h, m, s, ms;
    VDuration(90061001).GetDuration(d, h, m, s, ms);
    EXPECT_EQ(d, 1);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(m, 1);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(ms, 1);
    VDuration(-90061001).GetDuration(d, h, m, s, ms);
    EXPECT_EQ(d, -1);
    EXPECT_EQ(ms, -1);
    VDuration null;
    null.SetNull(true);
    null.GetDuration(d, h, m, s, ms);
    EXPECT_EQ(d + h + m + s + ms, -5);

    VString text("x");
    VDuration(90061001).GetFormattedString(text);
    EXPECT_EQ(Text(text), "x1:1:1:1:1");
    text.Clear();
    null.GetFormattedString(text);
    EXPECT_EQ(Text(text), "-1:-1:-1:-1:-1");
}

TEST(VDurationTest, IsoWriter)
{
    EXPECT_EQ(Iso(90061001), "P1DT1H1M1.00100004673004S");
    EXPECT_EQ(Iso(3723000), "PT1H2M3S");
    EXPECT_EQ(Iso(-1500), "PT0H0M-1.50000000000000S");
    VString s;
    VDuration(3723000).GetXMLString(s, 0);
    EXPECT_EQ(Text(s), "3723");
    VDuration null;
    null.SetNull(true);
    null.GetXMLString(s, 1);
    EXPECT_EQ(Text(s), "P-1DT-1H-1M-1.00100004673004S");
}

TEST(VDurationTest, IsoReader)
{
    EXPECT_EQ(ReadIso("P1Y2M3DT4H5M6.5S"), 36561906500LL);
    EXPECT_EQ(ReadIso("PT36H"), 129600000LL);
    EXPECT_EQ(ReadIso("90"), 90000);
    EXPECT_EQ(ReadIso("1:30"), 90000);
    EXPECT_EQ(ReadIso("P"), 0);
    EXPECT_EQ(ReadIso("PT1.5S"), 1500);
    EXPECT_EQ(ReadIso("PTinfS"), 0);
    EXPECT_EQ(ReadIso("P99999999999Y"), LLONG_MAX);  // saturates, never overflows
}

// Milliseconds survive the single-precision seconds of the written text.
TEST(VDurationTest, IsoRoundTripKeepsMilliseconds)
{
    for (long long ms : {5LL, 42123LL, 1LL, 999LL, 59999LL, 90061001LL, -5LL, -42123LL, 86399999LL}) {
        VDuration back;
        VString text;
        VDuration(ms).GetXMLString(text, 1);
        back.FromXMLString(text);
        EXPECT_EQ(back.ConvertToMilliseconds(), ms) << Text(text);
    }
    for (long long ms = 0; ms < 60000; ms += 7) {
        VDuration back;
        VString text;
        VDuration(ms).GetXMLString(text, 1);
        back.FromXMLString(text);
        ASSERT_EQ(back.ConvertToMilliseconds(), ms) << Text(text);
    }
}

TEST(VDurationTest, ColonReader)
{
    struct Case {
        const char* text;
        long long ms;
    } cases[] = {
        {"1:2:3", 3723000}, {"1:2:3:4", 3723004}, {"1:2:3:4:5", 3723004}, {"1:30", 90000},
        {"45", 45000},      {" 1 : 2 ", 62000},   {"::", 0},              {"abc", 0},
    };
    for (const Case& c : cases) {
        VDuration d;
        d.SetNull(true);
        d.FromString(VString(c.text));
        EXPECT_EQ(d.ConvertToMilliseconds(), c.ms) << c.text;
        EXPECT_FALSE(d.IsNull());
    }
}

TEST(VDurationTest, Arithmetic)
{
    VDuration d;
    d.AddDays(30);
    EXPECT_EQ(d.ConvertToMilliseconds(), 2592000000LL);
    d.SetDuration(1, 2, 30, 0, 0);
    d.AdjustHour(5);
    EXPECT_EQ(d.ConvertToMilliseconds(), 86400000LL + 5 * 3600000LL + 30 * 60000LL);
    VDuration e(1234);
    e.AdjustMillisecond(0);
    EXPECT_EQ(e.ConvertToMilliseconds(), 1000);
    e.Remainder(VDuration(0));  // no answer for a zero divisor: unchanged
    EXPECT_EQ(e.ConvertToMilliseconds(), 1000);
    VDuration smallest(LLONG_MIN);
    smallest.Remainder(VDuration(-1));
    EXPECT_EQ(smallest.ConvertToMilliseconds(), 0);
    VDuration big(LLONG_MAX);
    big.AddDays(1);
    EXPECT_EQ(big.ConvertToMilliseconds(), LLONG_MAX);
    VDuration r(7000);
    r.Remainder(VDuration(-3000));
    EXPECT_EQ(r.ConvertToMilliseconds(), 1000);
    r.Multiply(2.5);
    EXPECT_EQ(r.ConvertToMilliseconds(), 2500);
    EXPECT_DOUBLE_EQ(VDuration(5400000).GetDecimalHour(), 1.5);
}

TEST(VDurationTest, ValueKindConversions)
{
    VDuration d;
    d.FromLong(90);
    EXPECT_EQ(d.ConvertToMilliseconds(), 90000);
    EXPECT_EQ(VDuration(90999).GetLong(), 90);
    d.FromReal(1.5);
    EXPECT_EQ(d.ConvertToMilliseconds(), 1500);
    EXPECT_DOUBLE_EQ(VDuration(1500).GetReal(), 1.5);

    VDuration null(5);
    null.SetNull(true);
    VValue* clone = null.Clone();
    EXPECT_FALSE(clone->IsNull());
    delete clone;
    VDuration copy(null);
    EXPECT_FALSE(copy.IsNull());
    VDuration carried;
    carried.FromValue(null);
    EXPECT_TRUE(carried.IsNull());

    VValue* generated = VValue::NewValueFromValueKind(9);
    ASSERT_NE(generated, nullptr);
    EXPECT_FALSE(generated->IsNull());
    delete generated;

    long long a = -5, b = 3;
    EXPECT_EQ(VDuration::sInfo.CompareTwoPtrToData(&a, &b), CR_SMALLER);

    VString s;
    VDuration(-42).GetString(s);
    EXPECT_EQ(Text(s), "-42");
    VDuration j;
    j.FromJSONString(VString("123456789012"), 0);
    EXPECT_EQ(j.ConvertToMilliseconds(), 123456789012LL);
}

TEST(VDurationTest, StreamBody)
{
    VPtrStream stream;
    stream.SetNeedSwap(true);
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    EXPECT_EQ(VDuration(-123456789).WriteToStream(&stream), VE_OK);
    stream.CloseWriting();
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    VDuration back;
    EXPECT_EQ(back.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(back.ConvertToMilliseconds(), -123456789);
    // A short stream reports its error and leaves the count alone.
    EXPECT_NE(back.ReadFromStream(&stream), VE_OK);
    EXPECT_EQ(back.ConvertToMilliseconds(), -123456789);
    stream.CloseReading();
}

TEST(VDurationTest, ReadersSurviveArbitraryTexts)
{
    const char alphabet[] = "0123456789PYMDTHS.:- 99999999999e";
    unsigned int seed = 777;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        size_t length = next() % 40;
        for (size_t k = 0; k < length; ++k)
            text += alphabet[next() % (sizeof(alphabet) - 1)];
        VDuration d;
        const long long kIntDays = 2147483647LL * 86400000LL;
        if (d.FromXMLString(VString(text.c_str())) && !d.IsNull() && d.ConvertToMilliseconds() < kIntDays &&
            d.ConvertToMilliseconds() > -kIntDays) {
            // What was read writes as a text that reads back the same (within
            // the day count an int holds).
            VString written;
            d.GetXMLString(written, 1);
            VDuration back;
            EXPECT_TRUE(back.FromXMLString(written)) << text;
            EXPECT_NEAR(static_cast<double>(back.ConvertToMilliseconds()),
                        static_cast<double>(d.ConvertToMilliseconds()), 1.0)
                << text;
        }
        d.FromString(VString(text.c_str()));
        d.FromJSONString(VString(text.c_str()), 0);
        VString out;
        d.GetXMLString(out, 1);
        d.AdjustHour(static_cast<int>(next()) * 1000);
        d.Multiply(1e300);
    }
}

// Fractional seconds are written with a point under any process locale.
TEST(VDurationTest, TextFormsIgnoreTheProcessLocale)
{
    EXPECT_TRUE(test::RunUnderCommaLocale([] {
        test::ChildChecks check;
        check(Iso(1500) == "PT0H0M1.50000000000000S", "1.5 s is written with a point");
        check(Iso(86401500) == "P1DT0H0M1.50000000000000S", "a day and 1.5 s");
        VDuration d;
        check(d.FromXMLString(VString("PT1.25S")) && d.ConvertToMilliseconds() == 1250, "1.25 s reads back");
        return check.Passed();
    }));
}
