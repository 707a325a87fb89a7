// Calendar arithmetic and time zones of the platform layer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "TestSupport.h"
#include "platform/PlatClock.h"
#include "platform/PlatTime.h"

using namespace qelt::plat;

namespace {

int64_t Seconds(int64_t y, int mo, int d, int h = 0, int mi = 0)
{
    CivilTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    return UnixSecondsFromUTC(t);
}

}  // namespace

TEST(PlatTimeTest, CivilDaysRoundTrip)
{
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);
    EXPECT_EQ(DaysFromCivil(2024, 13, 1), DaysFromCivil(2025, 1, 1));
    EXPECT_EQ(DaysFromCivil(2024, 0, 1), DaysFromCivil(2023, 12, 1));
    for (int64_t days = -800000; days < 4000000; days += 997) {
        int64_t y;
        int m, d;
        CivilFromDays(days, y, m, d);
        ASSERT_EQ(DaysFromCivil(y, m, d), days);
    }
}

TEST(PlatTimeTest, OffsetsOfTheInstantAsked)
{
    REQUIRE_ZONE("Europe/Paris");
    EXPECT_EQ(LocalOffsetAt(Seconds(2026, 7, 1)), 7200);
    EXPECT_EQ(LocalOffsetAt(Seconds(2026, 1, 1)), 3600);
    EXPECT_EQ(StandardOffsetAt(Seconds(2026, 7, 1)), 3600);
    int64_t change = NextOffsetChange(Seconds(2026, 3, 1));
    EXPECT_EQ(change, Seconds(2026, 3, 29, 1));
}

// A zone whose daylight saving moves the clock by 30 minutes keeps its own
// standard offset, not the saving offset less an hour.
TEST(PlatTimeTest, StandardOffsetOfAHalfHourShift)
{
    REQUIRE_ZONE("Australia/Lord_Howe");
    bool dst = false;
    EXPECT_EQ(LocalOffsetAt(Seconds(2026, 1, 15), &dst), 39600);
    EXPECT_TRUE(dst);
    EXPECT_EQ(StandardOffsetAt(Seconds(2026, 1, 15)), 37800);
    EXPECT_EQ(StandardOffsetAt(Seconds(2026, 6, 15)), 37800);
}

TEST(PlatTimeTest, LocalConversions)
{
    REQUIRE_ZONE("Europe/Paris");
    CivilTime t;
    t.year = 2026;
    t.month = 10;
    t.day = 25;
    t.hour = 1;
    t.minute = 30;
    t.millisecond = 321;
    UTCToLocal(t);  // 02:30 winter time, the second pass of the repeated hour
    EXPECT_EQ(t.hour, 2);
    EXPECT_EQ(t.minute, 30);
    EXPECT_EQ(t.millisecond, 321);

    CivilTime local;
    local.year = 2026;
    local.month = 7;
    local.day = 14;
    local.hour = 9;
    ASSERT_TRUE(LocalToUTC(local));
    EXPECT_EQ(local.hour, 7);
    EXPECT_EQ(local.day, 14);
}

TEST(PlatTimeTest, SleepAndClocks)
{
    uint64_t before = MonotonicMilliseconds();
    SleepMilliseconds(-5);
    SleepMilliseconds(0);
    EXPECT_LT(MonotonicMilliseconds() - before, 500u);
    EXPECT_GT(RealtimeMilliseconds(), 1600000000000LL);
    EXPECT_GE(UptimeSeconds(), 0);
    EXPECT_LE(SecureRandom31(), 0x7FFFFFFFu);
}

TEST(PlatTimeTest, ZoneWithoutChanges)
{
    REQUIRE_ZONE("UTC");
    EXPECT_EQ(NextOffsetChange(Seconds(2026, 1, 1)), INT64_MAX);
    EXPECT_EQ(StandardOffsetAt(Seconds(2026, 1, 1)), 0);
    CivilTime t;
    t.year = 2026;
    t.month = 2;
    t.day = 29;  // carried into March by the conversion
    ASSERT_TRUE(LocalToUTC(t));
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 1);
}
