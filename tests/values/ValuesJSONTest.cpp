#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "values/VDuration.h"
#include "values/VTime.h"
#include "values/VUUID.h"

namespace qelt {
namespace {

std::string Narrow(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i) {
        UniChar c = s.GetCPointer()[i];
        out.push_back(c < 128 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::string TextOf(const VJSONValue& value)
{
    VString text;
    value.GetString(text, nullptr);
    return Narrow(text);
}

VTime UTC(short y, short mo, short d, short h, short mi, short s, short ms)
{
    VTime t;
    t.FromUTCTime(y, mo, d, h, mi, s, ms);
    return t;
}

TEST(TimeJSON, ValueOut)
{
    VTime time = UTC(2026, 12, 8, 21, 53, 42, 123);
    VJSONValue json;
    EXPECT_EQ(time.GetJSONValue(json, 0), VE_OK);
    ASSERT_TRUE(json.IsString());
    EXPECT_EQ(TextOf(json), "2026-12-08T21:53:42.123Z");

    // Option 1: a JSON date of the UTC day, the time of day dropped.
    EXPECT_EQ(time.GetJSONValue(json, 1), VE_OK);
    ASSERT_TRUE(json.IsDate());
    short y = 0, m = 0, d = 0;
    ASSERT_TRUE(json.GetDate(&y, &m, &d));
    EXPECT_EQ(y, 2026);
    EXPECT_EQ(m, 12);
    EXPECT_EQ(d, 8);

    // Without option 1 a midnight keeps its full form.
    EXPECT_EQ(UTC(2026, 12, 8, 0, 0, 0, 0).GetJSONValue(json, 0), VE_OK);
    EXPECT_EQ(TextOf(json), "2026-12-08T00:00:00.000Z");

    VTime null;
    null.SetNull(true);
    for (unsigned int options : {0u, 1u}) {
        json.SetNumber(1);
        EXPECT_EQ(null.GetJSONValue(json, options), VE_OK);
        EXPECT_EQ(json.GetType(), JSON_null);
    }
}

TEST(TimeJSON, ValueIn)
{
    VTime time;
    EXPECT_EQ(time.FromJSONValue(VJSONValue(VString("2026-12-08T21:53:42.123Z"))), VE_OK);
    EXPECT_EQ(time.GetMilliseconds(), UTC(2026, 12, 8, 21, 53, 42, 123).GetMilliseconds());

    // A JSON date reads back as its UTC midnight.
    VJSONValue date;
    date.SetDate(2024, 2, 29);
    EXPECT_EQ(time.FromJSONValue(date), VE_OK);
    EXPECT_FALSE(time.IsNull());
    EXPECT_EQ(time.GetMilliseconds(), UTC(2024, 2, 29, 0, 0, 0, 0).GetMilliseconds());

    // "!!" marks are read as XML text does.
    EXPECT_EQ(time.FromJSONValue(VJSONValue(VString("!!2026-12-08!!"))), VE_OK);
    EXPECT_EQ(time.GetMilliseconds(), UTC(2026, 12, 8, 0, 0, 0, 0).GetMilliseconds());

    EXPECT_EQ(time.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(time.IsNull());

    // Text that is no time leaves a null time and still answers 0.
    VTime other = UTC(2020, 1, 1, 0, 0, 0, 0);
    EXPECT_EQ(other.FromJSONValue(VJSONValue(VString("2026-02-30T00:00:00Z"))), VE_OK);
    EXPECT_TRUE(other.IsNull());
}

TEST(DurationJSON, ValueOut)
{
    struct Case {
        long long ms;
        unsigned int options;
        const char* text;  // for option 4
        double number;     // otherwise
    };
    const Case cases[] = {
        {90061001, 4, "25:01:01", 0},    {90061001, 0, nullptr, 90061.001}, {90061001, 2, nullptr, 90061001.0},
        {3723000, 4, "1:02:03", 0},      {59999, 4, "0:00:59", 0},          {-3725000, 4, "-1:02:05", 0},
        {-1500, 0, nullptr, -1.5},       {0, 4, "0:00:00", 0},
        {std::numeric_limits<long long>::min(), 4, "-2562047788015:12:55", 0},
    };
    for (const Case& c : cases) {
        VDuration duration(c.ms);
        VJSONValue json;
        EXPECT_EQ(duration.GetJSONValue(json, c.options), VE_OK);
        if (c.text != nullptr) {
            ASSERT_TRUE(json.IsString()) << c.ms;
            EXPECT_EQ(TextOf(json), c.text) << c.ms;
        } else {
            ASSERT_TRUE(json.IsNumber()) << c.ms;
            EXPECT_DOUBLE_EQ(json.GetNumber(), c.number) << c.ms;
        }
    }

    VDuration null(5);
    null.SetNull(true);
    VJSONValue json(1.0);
    EXPECT_EQ(null.GetJSONValue(json, 4), VE_OK);
    EXPECT_EQ(json.GetType(), JSON_null);
}

TEST(DurationJSON, ValueInIsSeconds)
{
    struct Case {
        VJSONValue json;
        long long ms;
    };
    const Case cases[] = {
        {VJSONValue(1.5), 1500},
        {VJSONValue(-0.0015), -1},
        {VJSONValue(VString("2")), 2000},
        {VJSONValue(JSON_true), 1000},
        {VJSONValue(1e300), std::numeric_limits<long long>::max()},
        {VJSONValue(-1e300), std::numeric_limits<long long>::min()},
        {VJSONValue(std::numeric_limits<double>::quiet_NaN()), 0},
    };
    for (const Case& c : cases) {
        VDuration duration(77);
        duration.SetNull(true);
        duration.SetDirty(false);
        EXPECT_EQ(duration.FromJSONValue(c.json), VE_OK);
        EXPECT_FALSE(duration.IsNull());
        EXPECT_TRUE(duration.IsDirty());
        EXPECT_EQ(duration.ConvertToMilliseconds(), c.ms) << c.json.GetNumber();
    }
    VDuration duration(77);
    EXPECT_EQ(duration.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(duration.IsNull());
}

TEST(UUIDJSON, ValueOutAndIn)
{
    VUUID uuid("000102030405060708090A0B0C0D0E0F");
    VJSONValue json;
    EXPECT_EQ(uuid.GetJSONValue(json, 0), VE_OK);
    ASSERT_TRUE(json.IsString());
    EXPECT_EQ(TextOf(json), "000102030405060708090A0B0C0D0E0F");

    VUUID read;
    EXPECT_EQ(read.FromJSONValue(VJSONValue(VString("0a1b2c3e-5f60-7182-93a5-b5c6e7f80912"))), VE_OK);
    VString text;
    read.GetString(text);
    EXPECT_EQ(Narrow(text), "0A1B2C3E5F60718293A5B5C6E7F80912");
    EXPECT_FALSE(read.IsNull());

    EXPECT_EQ(read.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(read.IsNull());
    json.SetNumber(1);
    EXPECT_EQ(read.GetJSONValue(json, 0), VE_OK);
    EXPECT_EQ(json.GetType(), JSON_null);
}

}  // namespace
}  // namespace qelt
