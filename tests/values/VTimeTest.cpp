// The time value: fields, validation, calendar arithmetic, local fields,
// RFC 3339 text and the legacy text forms.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "TestSupport.h"
#include "files/VPtrStream.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "json/VJSONWriter.h"
#include "kernel/VSystem.h"
#include "values/VTime.h"

using namespace qelt;

namespace {

std::string Text(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out += static_cast<char>(s.GetCPointer()[i]);
    return out;
}

VTime Make(short y, short mo, short d, short h = 0, short mi = 0, short s = 0, short ms = 0)
{
    VTime t;
    t.FromUTCTime(y, mo, d, h, mi, s, ms);
    return t;
}

std::string Rfc(const VTime& t, unsigned int options)
{
    VString s;
    t.GetRfc3339String(s, options);
    return Text(s);
}


}  // namespace

TEST(VTimeTest, ValidationOfFields)
{
    struct Case {
        short y, mo, d, h;
        bool valid;
    } cases[] = {
        {2024, 2, 29, 0, true}, {2023, 2, 29, 0, false}, {1900, 2, 29, 0, false}, {2000, 2, 29, 0, true},
        {2024, 1, 1, 24, false}, {2024, 4, 31, 0, false}, {2024, 13, 1, 0, false}, {-1, 1, 1, 0, false},
    };
    for (const Case& c : cases) {
        VTime t = Make(c.y, c.mo, c.d, c.h);
        EXPECT_EQ(!t.IsNull(), c.valid) << c.y << "-" << c.mo << "-" << c.d << " " << c.h;
        if (!c.valid) {
            EXPECT_EQ(t.GetStamp(), 0u);
        }
    }
    VTime zero = Make(0, 0, 0, 30);
    EXPECT_FALSE(zero.IsNull());
    EXPECT_EQ(zero.GetStamp() & 0xFFFFFFFFu, 108000000u);
}

TEST(VTimeTest, StampAndMillisecondCount)
{
    VTime t = Make(2026, 12, 8, 21, 53, 42, 123);
    EXPECT_EQ(t.GetStamp(), (2026ull << 48) | (12ull << 40) | (8ull << 32) | 78822123ull);
    EXPECT_EQ(VTime(t.GetStamp()), t);
    EXPECT_EQ(Make(1970, 1, 1).GetMilliseconds(), 210866716800000LL);
    EXPECT_EQ(Make(0, 0, 0, 5).GetMilliseconds(), 0);
    VTime null;
    null.SetNull(true);
    EXPECT_EQ(null.GetMilliseconds(), -1);
    EXPECT_EQ(null.GetWeekDay(), -1);

    VTime back;
    back.FromMilliseconds(t.GetMilliseconds());
    EXPECT_EQ(back, t);
    back.FromMilliseconds(-1);
    EXPECT_TRUE(back.IsNull());
    back.FromMilliseconds(0);
    EXPECT_FALSE(back.IsNull());
    EXPECT_EQ(back.GetStamp(), 0u);
}

TEST(VTimeTest, RoundTripOfDayNumbersOverTheYears)
{
    for (short y = 1; y < 10000; y += 7) {
        for (short m = 1; m <= 12; m += 5) {
            VTime t = Make(y, m, 28, 13, 14, 15, 16);
            VTime back;
            back.FromMilliseconds(t.GetMilliseconds());
            ASSERT_EQ(back, t) << y << "-" << m;
        }
    }
}

TEST(VTimeTest, WeekAndYearDays)
{
    EXPECT_EQ(Make(1970, 1, 1).GetWeekDay(), 4);
    EXPECT_EQ(Make(2000, 1, 1).GetWeekDay(), 6);
    EXPECT_EQ(Make(2000, 1, 1).GetJulianDay(), 2451544);
    EXPECT_EQ(Make(2024, 12, 31).GetYearDay(), 366);
    EXPECT_EQ(Make(2023, 12, 31).GetYearDay(), 365);
    EXPECT_EQ(VTime::ComputeWeekDay(1970, 1, 1), 4);
}

TEST(VTimeTest, JulianCalendar)
{
    short y, m, d;
    Make(2000, 1, 1).GetJulianDate(y, m, d);
    EXPECT_EQ(y, 1999);
    EXPECT_EQ(m, 12);
    EXPECT_EQ(d, 19);
    Make(1582, 10, 15).GetJulianDate(y, m, d);
    EXPECT_EQ(d, 5);
    VTime t;
    t.FromJulianDate(1999, 12, 19);
    EXPECT_EQ(t, Make(2000, 1, 1));
    t.FromJulianDate(1999, 2, 29);
    EXPECT_TRUE(t.IsNull());
}

TEST(VTimeTest, Arithmetic)
{
    VTime t = Make(2024, 2, 28, 23);
    t.AddDays(1);
    EXPECT_EQ(t, Make(2024, 2, 29, 23));
    t = Make(2023, 12, 31, 23, 30);
    t.AddHours(2);
    EXPECT_EQ(t, Make(2024, 1, 1, 1, 30));
    t = Make(2024, 12, 15);
    t.AddMonths(1);
    EXPECT_EQ(t, Make(2025, 1, 15));
    t = Make(2024, 1, 15);
    t.AddMonths(14);
    EXPECT_EQ(t, Make(2025, 3, 15));
    // Below January of the starting year, and onto a day the month lacks.
    t = Make(2024, 1, 31);
    t.AddMonths(-11);
    EXPECT_EQ(t, Make(2023, 2, 28));
    t = Make(2024, 2, 29);
    t.AddYears(1);
    EXPECT_EQ(t, Make(2025, 2, 28));
    t = Make(32767, 12, 1);
    t.AddMonths(1);
    EXPECT_TRUE(t.IsNull());

    VDuration d;
    VTime a = Make(2024, 1, 2);
    a.Substract(Make(2024, 1, 1), d);
    EXPECT_EQ(d.ConvertToMilliseconds(), 86400000);
    VTime null;
    null.SetNull(true);
    a.Substract(null, d);
    EXPECT_EQ(d.ConvertToMilliseconds(), a.GetMilliseconds() + 1);
    // Adding to a null time, or beyond the years the fields hold, stays null.
    null.AddDays(1);
    EXPECT_TRUE(null.IsNull());
    VTime far = Make(32767, 12, 31);
    far.AddDays(1);
    EXPECT_TRUE(far.IsNull());
    far = Make(2024, 1, 1);
    far.AddMilliseconds(LLONG_MAX);
    EXPECT_TRUE(far.IsNull());
}

TEST(VTimeTest, ComparisonIgnoresNull)
{
    EXPECT_LT(Make(2025, 12, 31), Make(2026, 1, 1));
    VTime a = Make(2026, 1, 1);
    VTime b = a;
    b.SetNull(true);
    EXPECT_EQ(a.GetStamp(), b.GetStamp());
    EXPECT_EQ(Make(2026, 1, 1, 0, 0, 0, 1).CompareTo(a), CR_BIGGER);
}

TEST(VTimeTest, Rfc3339Writer)
{
    VTime t = Make(2026, 12, 8, 21, 53, 42, 123);
    EXPECT_EQ(Rfc(t, 1), "2026-12-08T21:53:42.123Z");
    EXPECT_EQ(Rfc(t, 33), "2026-12-08T21:53:42Z");
    EXPECT_EQ(Rfc(t, 9), "2026-12-08");
    EXPECT_EQ(Rfc(t, 5), "21:53:42Z");
    EXPECT_EQ(Rfc(t, 17), "0000-00-00T21:53:42.123Z");
    VTime null;
    null.SetNull(true);
    EXPECT_EQ(Rfc(null, 0), "0000-00-00T00:00:00Z");
    EXPECT_EQ(Rfc(null, 2), "0000-00-00T00:00:00Z");
}

TEST(VTimeTest, Rfc3339WriterWithOffsets)
{
    VTime t = Make(2026, 12, 8, 21, 53, 42, 123);
    {
        REQUIRE_ZONE("America/Bogota");
        EXPECT_EQ(Rfc(t, 0), "2026-12-08T16:53:42-05:00");
    }
    {
        REQUIRE_ZONE("Asia/Kolkata");
        EXPECT_EQ(Rfc(t, 0), "2026-12-09T03:23:42+05:30");
        EXPECT_EQ(Rfc(t, 2), "2026-12-09T03:23:42.123");
    }
    {
        REQUIRE_ZONE("UTC");
        EXPECT_EQ(Rfc(t, 0), "2026-12-08T21:53:42+00:00");
    }
}

// The offset written is the one in force at the time's own date, and the
// text reads back to the same instant, whatever today's offset is.
TEST(VTimeTest, Rfc3339OffsetOfTheTimesOwnDate)
{
    REQUIRE_ZONE("Europe/Paris");
    VTime summer = Make(2026, 7, 1, 10, 0, 0);
    VTime winter = Make(2026, 1, 1, 10, 0, 0);
    EXPECT_EQ(Rfc(summer, 0), "2026-07-01T12:00:00+02:00");
    EXPECT_EQ(Rfc(winter, 0), "2026-01-01T11:00:00+01:00");
    for (const VTime& t : {summer, winter}) {
        VString text;
        t.GetRfc3339String(text, 0);
        VTime back;
        EXPECT_TRUE(back.FromRfc3339String(text));
        EXPECT_EQ(back, t) << Text(text);
    }
    VTime back;
    EXPECT_TRUE(back.FromRfc3339String(VString("2026-12-08T21:53:42-05:00")));
    EXPECT_EQ(back, Make(2026, 12, 9, 2, 53, 42));
    // Offsets with minutes, both ways.
    EXPECT_TRUE(back.FromRfc3339String(VString("2026-12-08T21:53:42-05:30")));
    EXPECT_EQ(back, Make(2026, 12, 9, 3, 23, 42));
    EXPECT_TRUE(back.FromRfc3339String(VString("2026-12-08T21:53:42+05:45")));
    EXPECT_EQ(back, Make(2026, 12, 8, 16, 8, 42));
}

TEST(VTimeTest, Rfc3339ReaderForms)
{
    struct Case {
        const char* text;
        bool result;
        bool null;
        unsigned long long stamp;  // checked when not null
    } cases[] = {
        {"2026-12-08T21:53:42.123Z", true, false, Make(2026, 12, 8, 21, 53, 42, 123).GetStamp()},
        {"2026-12-08T21:53:42.999Z", true, false, Make(2026, 12, 8, 21, 53, 42, 999).GetStamp()},
        {"2026-12-08T21:53Z", false, true, 0},
        {"2026-12-08", true, false, Make(2026, 12, 8).GetStamp()},
        {"2026-02-30T00:00:00Z", true, true, 0},
        {"2026-02-30", true, false, 0},
        {"-001-01-01T00:00:00Z", true, true, 0},
        {"10:20", true, false, 37200000ull},
        {"3660", true, false, 3660000ull},
        {"3661", true, false, 3660000ull},
        {"0000-00-00T00:00:00Z", true, true, 0},
        {"0000-00-00T10:00:00Z", true, false, 36000000ull},
        {"0000-00-00T", true, false, 0},
        {"0000-00-00T10:20Z", false, true, 0},
        {"2026-12-08T24:00:00Z", true, true, 0},
        {"2026-12-08+05:00", false, true, 0},
        {"2026-12-08T21:53:42+05", false, true, 0},
        {"", false, true, 0},
    };
    for (const Case& c : cases) {
        VTime t = Make(2000, 1, 1);
        EXPECT_EQ(t.FromRfc3339String(VString(c.text)), c.result) << c.text;
        EXPECT_EQ(t.IsNull(), c.null) << c.text;
        if (!c.null) {
            EXPECT_EQ(t.GetStamp(), c.stamp) << c.text;
        }
    }
}

TEST(VTimeTest, Rfc3339MillisecondsSurviveRoundTrips)
{
    for (int ms = 0; ms < 1000; ++ms) {
        VTime t = Make(2026, 3, 4, 5, 6, 42, static_cast<short>(ms));
        VString text;
        t.GetRfc3339String(text, 1);
        VTime back;
        ASSERT_TRUE(back.FromRfc3339String(text));
        ASSERT_EQ(back, t) << Text(text);
    }
}

TEST(VTimeTest, Rfc3339LocalTextsWithoutZone)
{
    REQUIRE_ZONE("Europe/Paris");
    VTime t;
    EXPECT_TRUE(t.FromRfc3339String(VString("2026-12-08T21:53:42")));
    EXPECT_EQ(t, Make(2026, 12, 8, 20, 53, 42));
    VString text;
    t.GetRfc3339String(text, 2);
    EXPECT_EQ(Text(text), "2026-12-08T21:53:42.000");
}

TEST(VTimeTest, XmlAndJsonTexts)
{
    VTime t;
    EXPECT_TRUE(t.FromXMLString(VString("!!2026-12-08!!")));
    EXPECT_EQ(t, Make(2026, 12, 8));
    EXPECT_TRUE(t.FromXMLString(VString("8!12!2026")));
    EXPECT_EQ(t, Make(2026, 12, 8));
    EXPECT_FALSE(t.FromXMLString(VString("!!!")));

    VString json;
    Make(2026, 12, 8).GetJSONString(json, kJSONWriteQuoted | kJSONWriteDateAlone);
    EXPECT_EQ(Text(json), "\"2026-12-08\"");
    Make(2026, 12, 8, 21, 53, 42, 123).GetJSONString(json, kJSONWriteQuoted | kJSONWriteBangDates);
    EXPECT_EQ(Text(json), "\"!!2026-12-08T21:53:42.123Z!!\"");
    Make(2026, 12, 8, 21, 53, 42, 123).GetJSONString(json, 0);
    EXPECT_EQ(Text(json), "2026-12-08T21:53:42.123Z");
}

TEST(VTimeTest, LocalFields)
{
    REQUIRE_ZONE("Europe/Paris");
    VTime null;
    null.SetNull(true);
    short f[7] = {1, 1, 1, 1, 1, 1, 1};
    null.GetLocalTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
    for (short v : f)
        EXPECT_EQ(v, 0);

    VTime t;
    t.FromLocalTime(2026, 7, 14, 9, 30, 15, 250);
    EXPECT_EQ(t, Make(2026, 7, 14, 7, 30, 15, 250));
    t.GetLocalTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
    EXPECT_EQ(f[3], 9);
    EXPECT_EQ(f[6], 250);

    t.FromLocalTime(2026, 3, 10, 12, 0, 0, 0);
    t.SetLocalDay(0);
    EXPECT_EQ(t.GetLocalMonth(), 2);
    EXPECT_EQ(t.GetLocalDay(), 28);
    t.FromLocalTime(2026, 4, 10, 12, 0, 0, 0);
    t.SetLocalDay(31);
    EXPECT_EQ(t.GetLocalMonth(), 5);
    EXPECT_EQ(t.GetLocalDay(), 1);
    t.SetLocalMonth(13);
    EXPECT_EQ(t.GetLocalYear(), 2027);
    EXPECT_EQ(t.GetLocalMonth(), 1);
    t.SetLocalMonth(0);
    EXPECT_TRUE(t.IsNull());

    t.FromLocalTime(2026, 1, 31, 10, 0, 0, 0);
    t.SetLocalHour(24);
    EXPECT_EQ(t.GetLocalDay(), 1);
    EXPECT_EQ(t.GetLocalMonth(), 2);
    EXPECT_EQ(t.GetLocalHour(), 0);
    t.FromLocalTime(2026, 1, 31, 10, 0, 0, 999);
    t.SetLocalMillisecond(1000);
    EXPECT_EQ(t.GetLocalSecond(), 1);
    EXPECT_EQ(t.GetLocalMillisecond(), 0);
    t.FromLocalTime(2026, 1, 31, 10, 0, 0, 0);
    t.SetLocalMinute(-1);
    EXPECT_EQ(t.GetLocalHour(), 9);
    EXPECT_EQ(t.GetLocalMinute(), 59);

    t.FromLocalTime(2026, 5, 5, 0, 0, 1, 500);
    EXPECT_EQ(t.GetLocalDurationSinceMidnight().ConvertToMilliseconds(), 1500);
    t.FromLocalTime(2026, 2, 30, 0, 0, 0, 0);
    EXPECT_TRUE(t.IsNull());
}

// In the repeated hour of the autumn change both UTC instants map to their
// own local hour: the offset is that of each instant.
TEST(VTimeTest, LocalFieldsInTheRepeatedHour)
{
    REQUIRE_ZONE("Europe/Paris");
    VTime first = Make(2026, 10, 25, 0, 30);   // 02:30 summer time
    VTime second = Make(2026, 10, 25, 1, 30);  // 02:30 winter time
    EXPECT_EQ(first.GetLocalHour(), 2);
    EXPECT_EQ(second.GetLocalHour(), 2);
    EXPECT_EQ(Rfc(first, 0), "2026-10-25T02:30:00+02:00");
    EXPECT_EQ(Rfc(second, 0), "2026-10-25T02:30:00+01:00");
}

TEST(VTimeTest, LocalUnixTime)
{
    for (const char* zone : {"UTC", "Europe/Paris", "Australia/Lord_Howe"}) {
        if (!test::StTimeZone::Available(zone))
            continue;
        test::StTimeZone scoped(zone);
        VTime epoch = Make(1970, 1, 1, 0, 0, 0, 7);
        EXPECT_EQ(epoch.GetLocalUnixTime(false), 0) << zone;
        EXPECT_EQ(epoch.GetLocalUnixTime(true), 7) << zone;
    }
}

TEST(VTimeTest, LegacyTextForms)
{
    REQUIRE_ZONE("UTC");
    VString s;
    Make(2026, 12, 8, 21, 53, 42, 7).GetStringLocalTime(s);
    EXPECT_EQ(Text(s), "2026-12-08 21:53:42:007");
    VTime null;
    null.SetNull(true);
    null.GetStringLocalTime(s);
    EXPECT_TRUE(s.IsEmpty());

    Make(2026, 3, 4).toSimpleDateString(s);
    EXPECT_EQ(Text(s), "4!3!2026");

    Make(2026, 12, 8, 21, 53, 42).GetRfc822String(s);
    EXPECT_EQ(Text(s), "Tue, 08 Dec 2026 21:53:42 GMT");
    null.GetRfc822String(s);
    EXPECT_EQ(Text(s), ", 00  0000 00:00:00 GMT");

    VTime t;
    t.FromRfc822String(VString("Tue, 08 Dec 2026 21:53:42 GMT"));
    EXPECT_EQ(t, Make(2026, 12, 8, 21, 53, 42));
    t.FromRfc822String(VString("8 Dec 2026"));
    EXPECT_EQ(t, Make(2026, 12, 8));
}

TEST(VTimeTest, NumberReader)
{
    struct Case {
        const char* text;
        bool null;
        unsigned long long stamp;
    } cases[] = {
        {"4!3!2026", false, Make(2026, 3, 4).GetStamp()},
        {"2026-03-04 10:20:30:400", false, Make(2026, 3, 4, 10, 20, 30, 400).GetStamp()},
        {"2026/3/4", false, Make(2026, 3, 4).GetStamp()},
        {"2026-03-04!5", true, 0},
        {"no digits", false, 0},
    };
    for (const Case& c : cases) {
        VTime t;
        t.FromString(VString(c.text));
        EXPECT_EQ(t.IsNull(), c.null) << c.text;
        if (!c.null) {
            EXPECT_EQ(t.GetStamp(), c.stamp) << c.text;
        }
    }
}

TEST(VTimeTest, CompilerDateAndTime)
{
    REQUIRE_ZONE("Europe/Paris");
    VTime t;
    t.FromCompilerDateTime("Feb 29 2024", "12:34:56");
    EXPECT_EQ(t, Make(2024, 2, 29, 11, 34, 56));
    // Overlong input is bounded, never overflows.
    std::string longText(1000, 'x');
    t.FromCompilerDateTime(longText.c_str(), longText.c_str());
    EXPECT_FALSE(t.IsNull());
    EXPECT_EQ(t.GetStamp(), 0u);
    t.FromCompilerDateTime(__DATE__, __TIME__);
    EXPECT_FALSE(t.IsNull());
}

TEST(VTimeTest, ValueKind)
{
    VValue* generated = VValue::NewValueFromValueKind(8);
    ASSERT_NE(generated, nullptr);
    VTime* g = static_cast<VTime*>(generated);
    EXPECT_FALSE(g->IsNull());
    EXPECT_EQ(g->GetStamp(), 0u);
    delete generated;

    VTime t = Make(2026, 12, 8, 21, 53, 42, 123);
    unsigned char raw[8];
    EXPECT_EQ(t.WriteToPtr(raw), raw + 8);
    EXPECT_EQ(VTime::sInfo.ByteSwapPtr(raw, true), raw + 8);
    VTime::sInfo.ByteSwapPtr(raw, false);
    VValue* loaded = VTime::sInfo.LoadFromPtr(raw);
    EXPECT_EQ(*static_cast<VTime*>(loaded), t);
    delete loaded;

    unsigned long long a = Make(2025, 12, 31).GetStamp(), b = Make(2026, 1, 1).GetStamp();
    EXPECT_EQ(VTime::sInfo.CompareTwoPtrToData(&a, &b), CR_SMALLER);

    VTime null;
    null.SetNull(true);
    VValue* clone = null.Clone();
    EXPECT_TRUE(clone->IsNull());
    delete clone;

    // A number has no time: it compares as the zero stamp.
    EXPECT_EQ(t.CompareTo(VLong(5)), CR_BIGGER);
}

TEST(VTimeTest, StreamBody)
{
    VTime t = Make(2026, 12, 8, 21, 53, 42, 123);
    for (bool swap : {false, true}) {
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(t.WriteToStream(&stream), VE_OK);
        stream.CloseWriting();
        EXPECT_EQ(stream.GetDataSize(), 8u);
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        VTime back;
        back.SetNull(true);
        EXPECT_EQ(back.ReadFromStream(&stream), VE_OK);
        stream.CloseReading();
        EXPECT_EQ(back.GetStamp(), t.GetStamp());
        EXPECT_TRUE(back.IsNull());  // the reader leaves the flags alone
    }
}

TEST(VTimeTest, TodayAndNow)
{
    REQUIRE_ZONE("Asia/Kolkata");
    short today[7];
    VSystem::GetSystemLocalTime(today);
    VTime t;
    t.FromToday(90 * 60 * 1000);
    EXPECT_EQ(t.GetLocalHour(), 1);
    EXPECT_EQ(t.GetLocalMinute(), 30);
    EXPECT_EQ(t.GetLocalMillisecond(), 0);
    if (t.GetLocalDay() != today[2])
        GTEST_SKIP() << "local midnight passed during the test";
    EXPECT_EQ(t.GetLocalMonth(), today[1]);

    VTime now(eInitWithCurrentTime);
    VTime later;
    VTime::Now(later);
    EXPECT_FALSE(now.IsNull());
    EXPECT_LE(now, later);
    EXPECT_GE(now.GetMilliseconds(), Make(2024, 1, 1).GetMilliseconds());
}

// Texts made of the characters the readers care about, in random order:
// every reader must answer without a crash or an undefined operation.
TEST(VTimeTest, ReadersSurviveArbitraryTexts)
{
    REQUIRE_ZONE("Europe/Paris");
    const char alphabet[] = "0123456789-:T.Z+!, DecJanx9999999";
    unsigned int seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        size_t length = next() % 40;
        for (size_t k = 0; k < length; ++k)
            text += alphabet[next() % (sizeof(alphabet) - 1)];
        VString s(text.c_str());
        VTime t;
        if (t.FromRfc3339String(s) && !t.IsNull() && t.GetStamp() != 0) {
            // What was read writes in UTC as a text that reads back the same
            // (for dated times whose year has the four digits the form holds).
            VString written;
            t.GetRfc3339String(written, VTime::kRfc3339UTC);
            const std::string form = Text(written);
            if (form.size() < 5 || form[4] != '-' || form.compare(0, 4, "0000") == 0)
                continue;
            VTime back;
            EXPECT_TRUE(back.FromRfc3339String(written)) << text << " -> " << Text(written);
            EXPECT_EQ(back.GetMilliseconds(), t.GetMilliseconds()) << text;
        }
        t.FromXMLString(s);
        t.FromString(s);
        t.FromRfc822String(s);
        t.FromCompilerDateTime(text.c_str(), text.c_str());
        VString out;
        t.GetRfc3339String(out, next() % 64);
        t.SetLocalHour(static_cast<int>(next()) - 16000);
        t.AddMonths(static_cast<int>(next()) - 16000);
    }
}
