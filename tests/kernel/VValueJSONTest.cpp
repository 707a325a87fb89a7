#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VBoolean.h"
#include "kernel/VByte.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VEmpty.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"
#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"
#include "kernel/VWord.h"
#include "process/VProcess.h"
#include "runtime/VErrorContext.h"
#include "values/VDuration.h"
#include "values/VTime.h"
#include "values/VUUID.h"

namespace qelt {
namespace {

constexpr VError kNotSupported = QeltError(2);

std::string Narrow(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i) {
        UniChar c = s.GetCPointer()[i];
        out.push_back(c < 128 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::string Stringified(const VJSONValue& value)
{
    VString text;
    EXPECT_EQ(value.Stringify(text, 1), VE_OK);
    return Narrow(text);
}

// A multi-valued value that keeps every VValue JSON default.
class PlainMultiple : public VValueMultiple {
public:
    int GetCount() const override { return 0; }
};

TEST(ValueJSONDefaults, BaseRaisesNotSupported)
{
    // Raised errors are collected only under a started process object.
    std::unique_ptr<VProcess> process(new VProcess);
    ASSERT_TRUE(process->Init(0));
    PlainMultiple value;
    VJSONValue json(1.0);
    {
        StErrorContextInstaller errors;
        EXPECT_EQ(value.GetJSONValue(json, 0), kNotSupported);
        EXPECT_EQ(json.GetType(), JSON_undefined);
        EXPECT_EQ(errors.GetLastError(), kNotSupported);
    }
    {
        StErrorContextInstaller errors;
        EXPECT_EQ(value.FromJSONValue(VJSONValue(2.0)), kNotSupported);
        EXPECT_EQ(errors.GetLastError(), kNotSupported);
    }
}

TEST(ValueJSONDefaults, SingleValueAnswersQuietly)
{
    // The empty value keeps the single-value defaults.
    std::unique_ptr<VProcess> process(new VProcess);
    ASSERT_TRUE(process->Init(0));
    VEmpty empty;
    VJSONValue json(3.0);
    StErrorContextInstaller errors;
    EXPECT_EQ(empty.GetJSONValue(json, 0), kNotSupported);
    EXPECT_EQ(json.GetType(), JSON_null);
    EXPECT_EQ(empty.FromJSONValue(VJSONValue(4.0)), kNotSupported);
    EXPECT_TRUE(empty.IsNull());
    EXPECT_EQ(errors.GetLastError(), VE_OK);
}

TEST(ScalarJSON, IntegersFloorAndRefuseWhatDoesNotFit)
{
    struct Case {
        double number;
        long long expected;
    };
    const Case longCases[] = {{2.5, 2},       {-2.5, -3},         {3e10, 0},
                              {7.0, 7},       {-0.5, -1},         {2147483647.9, 2147483647},
                              {2147483648.0, 0}, {-2147483648.0, -2147483647LL - 1}, {-2147483649.0, 0}};
    for (const Case& c : longCases) {
        VLong value(99);
        EXPECT_EQ(value.FromJSONValue(VJSONValue(c.number)), VE_OK);
        EXPECT_EQ(value.GetLong8(), c.expected) << c.number;
        EXPECT_FALSE(value.IsNull());
        EXPECT_TRUE(value.IsDirty());
    }

    VByte byte;
    byte.FromJSONValue(VJSONValue(127.9));
    EXPECT_EQ(byte.GetLong(), 127);
    byte.FromJSONValue(VJSONValue(128.0));
    EXPECT_EQ(byte.GetLong(), 0);
    byte.FromJSONValue(VJSONValue(-128.0));
    EXPECT_EQ(byte.GetLong(), -128);

    VWord word;
    word.FromJSONValue(VJSONValue(32767.0));
    EXPECT_EQ(word.GetLong(), 32767);
    word.FromJSONValue(VJSONValue(-32769.0));
    EXPECT_EQ(word.GetLong(), 0);

    VLong8 big;
    big.FromJSONValue(VJSONValue(-9223372036854775808.0));
    EXPECT_EQ(big.GetLong8(), std::numeric_limits<long long>::min());
    big.FromJSONValue(VJSONValue(9223372036854775808.0));
    EXPECT_EQ(big.GetLong8(), 0);
    big.FromJSONValue(VJSONValue(1e300));
    EXPECT_EQ(big.GetLong8(), 0);
    big.FromJSONValue(VJSONValue(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(big.GetLong8(), 0);
    big.FromJSONValue(VJSONValue(VString("0x10")));
    EXPECT_EQ(big.GetLong8(), 16);
    big.FromJSONValue(VJSONValue(JSON_true));
    EXPECT_EQ(big.GetLong8(), 1);
}

TEST(ScalarJSON, NullInAndOut)
{
    VLong value(5);
    EXPECT_EQ(value.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(value.IsNull());
    EXPECT_EQ(value.FromJSONValue(VJSONValue(6.0)), VE_OK);
    EXPECT_FALSE(value.IsNull());

    std::unique_ptr<VValueSingle> values[] = {std::make_unique<VBoolean>(), std::make_unique<VByte>(),
                                              std::make_unique<VWord>(),    std::make_unique<VLong>(),
                                              std::make_unique<VLong8>(),   std::make_unique<VReal>()};
    for (auto& v : values) {
        v->SetNull(true);
        VJSONValue json(1.0);
        EXPECT_EQ(v->GetJSONValue(json, 0), VE_OK);
        EXPECT_EQ(json.GetType(), JSON_null);
    }
}

TEST(ScalarJSON, ValuesOut)
{
    VJSONValue json;
    VBoolean yes(true);
    EXPECT_EQ(yes.GetJSONValue(json, 0), VE_OK);
    EXPECT_EQ(json.GetType(), JSON_true);
    VBoolean no(false);
    no.GetJSONValue(json, 0);
    EXPECT_EQ(json.GetType(), JSON_false);

    VLong8 big(-12345678901LL);
    big.GetJSONValue(json, 0);
    ASSERT_TRUE(json.IsNumber());
    EXPECT_EQ(json.GetNumber(), -12345678901.0);

    VWord word(-7);
    word.GetJSONValue(json, 0);
    EXPECT_EQ(json.GetNumber(), -7.0);

    VReal real(2.25);
    real.GetJSONValue(json, 0);
    EXPECT_EQ(json.GetNumber(), 2.25);
    // A real JSON cannot write (NaN, infinity) stays a number and becomes
    // null in the JSON text.
    VReal nan(std::numeric_limits<double>::quiet_NaN());
    nan.GetJSONValue(json, 0);
    EXPECT_TRUE(json.IsNumber());
    EXPECT_EQ(Stringified(json), "null");
}

TEST(ScalarJSON, BooleanIn)
{
    VBoolean value;
    value.FromJSONValue(VJSONValue(JSON_true));
    EXPECT_TRUE(value.GetBoolean());
    value.FromJSONValue(VJSONValue(0.0));
    EXPECT_FALSE(value.GetBoolean());
    value.FromJSONValue(VJSONValue(2.0));
    EXPECT_TRUE(value.GetBoolean());
    value.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(value.IsNull());
    EXPECT_FALSE(value.GetBoolean());
}

TEST(ScalarJSON, RealIn)
{
    VReal value(4.5);
    value.SetDirty(false);
    EXPECT_EQ(value.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(value.IsNull());
    EXPECT_EQ(value.GetReal(), 4.5);  // the member is kept
    EXPECT_EQ(value.FromJSONValue(VJSONValue(VString("1.5"))), VE_OK);
    EXPECT_FALSE(value.IsNull());
    EXPECT_TRUE(value.IsDirty());
    EXPECT_EQ(value.GetReal(), 1.5);
}

TEST(StringJSON, ThroughTheValueBase)
{
    VString text("a\"b");
    const VValue& asValue = text;
    VJSONValue json;
    EXPECT_EQ(asValue.GetJSONValue(json, 0), VE_OK);
    ASSERT_TRUE(json.IsString());
    EXPECT_EQ(Stringified(json), "\"a\\\"b\"");

    VString target("x");
    VValue& targetValue = target;
    EXPECT_EQ(targetValue.FromJSONValue(VJSONValue(12.5)), VE_OK);
    EXPECT_EQ(Narrow(target), "12.5");
    EXPECT_EQ(targetValue.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(target.IsNull());

    VString null(true);
    json.SetNumber(1);
    null.GetJSONValue(json, 0);
    EXPECT_EQ(json.GetType(), JSON_null);
}

TEST(CompareOptionsJSON, DiacriticalRoundTrip)
{
    VJSONValue holder(JSON_object);
    VJSONObject* object = holder.GetObject();
    ASSERT_NE(object, nullptr);

    VCompareOptions options;
    options.SetDiacritical(true);
    options.SetLike(true);
    EXPECT_EQ(options.ToJSON(object), VE_OK);
    EXPECT_EQ(Stringified(holder), "{\"diacritical\":true}");

    VCompareOptions read;
    EXPECT_EQ(read.FromJSON(object), VE_OK);
    EXPECT_TRUE(read.IsDiacritical());
    EXPECT_FALSE(read.IsLike());

    // Only booleans are read; anything else leaves the flag as it was.
    const VJSONValue others[] = {VJSONValue(1.0), VJSONValue(VString("false")), VJSONValue(JSON_null)};
    for (const VJSONValue& other : others) {
        object->SetProperty(VString("diacritical"), other, nullptr);
        EXPECT_EQ(read.FromJSON(object), VE_OK);
        EXPECT_TRUE(read.IsDiacritical());
    }
    object->SetProperty(VString("diacritical"), VJSONValue(JSON_false), nullptr);
    read.FromJSON(object);
    EXPECT_FALSE(read.IsDiacritical());

    // A missing property and a null object change nothing.
    VJSONValue empty(JSON_object);
    read.SetDiacritical(true);
    EXPECT_EQ(read.FromJSON(empty.GetObject()), VE_OK);
    EXPECT_EQ(read.FromJSON(nullptr), VE_OK);
    EXPECT_EQ(read.ToJSON(nullptr), VE_OK);
    EXPECT_TRUE(read.IsDiacritical());
}

TEST(JSONScalarMapping, ConvertVValueToJSONScalar)
{
    auto convert = [](const VValueSingle& v, bool ms) {
        return std::unique_ptr<VValueSingle>(VValueSingle::ConvertVValueToJSONScalar(v, ms));
    };
    auto kindOf = [](const VValueSingle& v) { return v.GetValueInfo()->GetKind(); };

    auto fromLong = convert(VLong(7), false);
    ASSERT_NE(fromLong, nullptr);
    EXPECT_EQ(kindOf(*fromLong), VK_REAL);
    EXPECT_EQ(fromLong->GetReal(), 7.0);
    EXPECT_TRUE(fromLong->IsDirty());

    VWord nullWord(3);
    nullWord.SetNull(true);
    auto fromWord = convert(nullWord, false);
    EXPECT_EQ(kindOf(*fromWord), VK_REAL);
    EXPECT_TRUE(fromWord->IsNull());

    EXPECT_EQ(convert(VByte(-4), false)->GetReal(), -4.0);
    EXPECT_EQ(convert(VLong8(1LL << 40), false)->GetReal(), 1099511627776.0);

    VDuration duration(1500);
    auto seconds = convert(duration, false);
    EXPECT_EQ(kindOf(*seconds), VK_REAL);
    EXPECT_EQ(seconds->GetReal(), 1.5);
    EXPECT_EQ(convert(duration, true)->GetReal(), 1500.0);
    VDuration nullDuration(1500);
    nullDuration.SetNull(true);
    EXPECT_TRUE(convert(nullDuration, false)->IsNull());

    VString text("abc");
    auto fromString = convert(text, false);
    EXPECT_EQ(kindOf(*fromString), VK_STRING);
    EXPECT_EQ(Narrow(static_cast<VString&>(*fromString)), "abc");

    VBoolean flag(true);
    auto fromBoolean = convert(flag, false);
    EXPECT_EQ(kindOf(*fromBoolean), VK_BOOLEAN);
    EXPECT_TRUE(fromBoolean->GetBoolean());

    VUUID uuid("000102030405060708090A0B0C0D0E0F");
    auto fromUUID = convert(uuid, false);
    EXPECT_EQ(kindOf(*fromUUID), VK_STRING);
    EXPECT_EQ(Narrow(static_cast<VString&>(*fromUUID)), "000102030405060708090A0B0C0D0E0F");

    auto fromReal = convert(VReal(0.25), false);
    EXPECT_EQ(kindOf(*fromReal), VK_REAL);
    EXPECT_EQ(fromReal->GetReal(), 0.25);
    EXPECT_EQ(kindOf(*convert(VTime(), false)), VK_TIME);
    EXPECT_EQ(kindOf(*convert(VEmpty(), false)), VK_EMPTY);
}

TEST(JSONScalarMapping, ValueKindToJsonType)
{
    const struct {
        unsigned short kind;
        JSONType type;
    } cases[] = {{0, JSON_null},   {1, JSON_true},   {2, JSON_null},     {4, JSON_null},  {5, JSON_null},
                 {6, JSON_number}, {7, JSON_null},   {8, JSON_date},     {9, JSON_null},  {10, JSON_string},
                 {11, JSON_null},  {13, JSON_null},  {200, JSON_null},   {65535, JSON_null}};
    for (const auto& c : cases)
        EXPECT_EQ(VValueSingle::ValueKindToJsonType(c.kind), c.type) << c.kind;
}

}  // namespace
}  // namespace qelt
