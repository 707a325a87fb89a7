// The clocks, date conversions and GMT offset of the system facade.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "platform/PlatTime.h"

using namespace qelt;

namespace {

}  // namespace

TEST(VSystemTimeTest, ConversionsOfSevenFieldDates)
{
    REQUIRE_ZONE("Europe/Paris");
    short timeOfDay[7] = {0, 0, 0, 10, 0, 0, 0};
    VSystem::UTCToLocalTime(timeOfDay);
    EXPECT_EQ(timeOfDay[3], 10);
    EXPECT_EQ(timeOfDay[0], 0);

    short date[7] = {2026, 7, 1, 22, 30, 15, 777};
    VSystem::UTCToLocalTime(date);
    short expected[7] = {2026, 7, 2, 0, 30, 15, 777};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(date[i], expected[i]) << i;
    date[6] = 5;
    VSystem::LocalToUTCTime(date);
    short back[7] = {2026, 7, 1, 22, 30, 15, 5};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(date[i], back[i]) << i;
}

TEST(VSystemTimeTest, GMTOffsetInForceAndStandard)
{
    {
        REQUIRE_ZONE("Australia/Lord_Howe");
        EXPECT_EQ(VSystem::GetGMTOffset(false), 37800);
        int64_t now = plat::RealtimeMilliseconds() / 1000;
        EXPECT_EQ(VSystem::GetGMTOffset(true), plat::LocalOffsetAt(now));
    }
    {
        REQUIRE_ZONE("Europe/Paris");
        EXPECT_EQ(VSystem::GetGMTOffset(false), 3600);
        int withDayLight = VSystem::GetGMTOffset(true);
        EXPECT_TRUE(withDayLight == 3600 || withDayLight == 7200);
    }
    {
        REQUIRE_ZONE("UTC");
        EXPECT_EQ(VSystem::GetGMTOffset(true), 0);
        EXPECT_EQ(VSystem::GetGMTOffset(false), 0);
    }
}

TEST(VSystemTimeTest, CurrentDates)
{
    REQUIRE_ZONE("UTC");
    short utc[7], local[7];
    VSystem::GetSystemUTCTime(utc);
    VSystem::GetSystemLocalTime(local);
    EXPECT_GE(utc[0], 2024);
    EXPECT_GE(utc[1], 1);
    EXPECT_LE(utc[6], 999);
    EXPECT_EQ(utc[0], local[0]);
}

TEST(VSystemTimeTest, ClocksAndDelays)
{
    uint32_t before = VSystem::GetCurrentTime();
    VSystem::Delay(-1000);  // returns at once
    VSystem::Delay(0);
    EXPECT_LT(VSystem::GetCurrentTime() - before, 500u);
    VSystem::Delay(20);
    EXPECT_GE(VSystem::GetCurrentTime() - before, 20u);

    uint32_t ticks = VSystem::GetCurrentTicks();
    // The same distance on both sides of now (a tick or two may pass).
    uint32_t before100 = VSystem::GetCurrentDeltaTicks(ticks - 100);
    uint32_t after100 = VSystem::GetCurrentDeltaTicks(ticks + 100);
    EXPECT_GE(before100, 100u);
    EXPECT_LE(before100, 110u);
    EXPECT_LE(after100, 100u);
    EXPECT_GE(after100, 90u);
    EXPECT_EQ(VSystem::GetDoubleClicTicks(), 30u);
    long long counter = 0;
    long long returned = VSystem::GetProfilingCounter(counter);
    EXPECT_EQ(returned, counter);
    EXPECT_GT(VSystem::GetProfilingFrequency(), 0);
}

TEST(VSystemTimeTest, VersionsAndOthers)
{
    EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(VSystem::MAC_OSX_10_12));
    EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(static_cast<VSystem::SystemVersion>(99)));
    EXPECT_GT(VSystem::MAC_GetSystemVersionDecimal(), 0);
    VString text;
    VSystem::GetOSVersionString(text);
    EXPECT_FALSE(text.IsEmpty());
    VSystem::GetFullOSName(text);
    EXPECT_FALSE(text.IsEmpty());
    EXPECT_TRUE(VSystem::Init());
    EXPECT_GE(VSystem::Random(false), 0);
    VSystem::SetCenturyPivotYear(30);
    EXPECT_EQ(VSystem::GetCenturyPivotYear(), 30);
    VSystem::SetCenturyPivotYear(0);
}
