#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <unordered_set>

#include "TestSupport.h"
#include "json/json.h"
#include "kernel/VBoolean.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"
#include "values/VTime.h"

namespace qelt {
namespace {

using test::ToStd;

VJSONValue Str(const char* inText) { return VJSONValue(VString(inText)); }

std::string TextOf(const VJSONValue& inValue)
{
    VString text;
    EXPECT_EQ(inValue.GetString(text), VE_OK);
    EXPECT_FALSE(text.IsNull());
    return ToStd(text);
}

std::string JSONOf(const VJSONValue& inValue, unsigned int inFlags = 0x1)
{
    VString text;
    EXPECT_EQ(inValue.Stringify(text, inFlags), VE_OK);
    return ToStd(text);
}

TEST(JSONValue, StampsAreFreshForCopiesAndKeptByMovesAndSetters)
{
    VJSONValue a(1.0);
    VJSONValue b(2.0);
    EXPECT_NE(a.GetStamp(), b.GetStamp());
    EXPECT_GT(b.GetStamp(), a.GetStamp());

    VJSONValue copy(a);
    EXPECT_NE(copy.GetStamp(), a.GetStamp());
    const uint32_t before = copy.GetStamp();
    copy = b;
    EXPECT_NE(copy.GetStamp(), before);
    EXPECT_NE(copy.GetStamp(), b.GetStamp());

    const uint32_t stampA = a.GetStamp();
    VJSONValue moved(std::move(a));
    EXPECT_EQ(moved.GetStamp(), stampA);
    VJSONValue target(JSON_null);
    target = std::move(moved);
    EXPECT_EQ(target.GetStamp(), stampA);

    // No setter and no Clear changes the stamp.
    target.SetString(VString("x"));
    target.SetBool(true);
    target.SetObject(nullptr);
    target.SetDate(2024, 3, 5);
    target.Clear();
    target.SetNumber(4);
    EXPECT_EQ(target.GetStamp(), stampA);
}

TEST(JSONValue, MovedFromSourcesHoldNothing)
{
    VJSONValue text = Str("hello");
    VJSONValue taken(std::move(text));
    EXPECT_EQ(TextOf(taken), "hello");
    EXPECT_TRUE(text.IsString());
    EXPECT_EQ(TextOf(text), "");
    const UniChar* left = text.GetInlineString().fString;
    EXPECT_EQ(left, nullptr);

    VJSONValue object(JSON_object);
    VJSONObject* raw = object.GetObject();
    VJSONValue holder(std::move(object));
    EXPECT_EQ(holder.GetObject(), raw);
    EXPECT_EQ(object.RetainObject(), nullptr);
    EXPECT_EQ(raw->GetRefCount(), 1);
}

TEST(JSONValue, StringsShareTheirBlockAndKeepTheirTag)
{
    VString source("some text long enough for a heap block");
    VJSONValue value(source);
    ASSERT_TRUE(value.IsString());
    const UniChar* block = value.GetInlineString().fString;
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(TextOf(value), "some text long enough for a heap block");

    // The text view shares the same block.
    VString view;
    value.GetString(view);
    EXPECT_EQ(view.GetCPointer(), block);

    // Setting the string it already shares changes nothing; another text
    // keeps the tag.
    const uint32_t tag = value.GetStringTag();
    value.SetString(view);
    const UniChar* after = value.GetInlineString().fString;
    EXPECT_EQ(after, block);
    value.SetString(VString("other"));
    EXPECT_EQ(value.GetStringTag(), tag);
    EXPECT_EQ(TextOf(value), "other");
    value.SetString(value.GetInlineString());
    EXPECT_EQ(value.GetStringTag(), tag);

    // A copy shares the block and takes a new tag.
    VJSONValue copy(value);
    const UniChar* copyBlock = copy.GetInlineString().fString;
    const UniChar* valueBlock = value.GetInlineString().fString;
    EXPECT_EQ(copyBlock, valueBlock);
    EXPECT_NE(copy.GetStringTag(), value.GetStringTag());

    // An empty text holds no block; a null string gives null.
    VJSONValue empty{VString("")};
    EXPECT_TRUE(empty.IsString());
    const UniChar* emptyBlock = empty.GetInlineString().fString;
    const int emptyCapacity = empty.GetInlineString().fCapacity;
    EXPECT_EQ(emptyBlock, nullptr);
    EXPECT_EQ(emptyCapacity, 0);
    EXPECT_TRUE(VJSONValue(VString(true)).IsNull());
    value.SetString(VString(true));
    EXPECT_TRUE(value.IsNull());
}

TEST(JSONValue, ClearEmptiesWithinTheType)
{
    VJSONValue t(JSON_true);
    t.Clear();
    EXPECT_EQ(t.GetType(), JSON_false);
    VJSONValue s = Str("abc");
    const uint32_t tag = s.GetStringTag();
    s.Clear();
    EXPECT_TRUE(s.IsString());
    EXPECT_EQ(TextOf(s), "");
    EXPECT_NE(s.GetStringTag(), tag);
    VJSONValue n(3.5);
    n.Clear();
    EXPECT_EQ(n.GetNumber(), 0);
    VJSONValue d(JSON_null);
    d.SetDate(2024, 3, 5);
    d.Clear();
    EXPECT_TRUE(d.IsDate());
    EXPECT_FALSE(d.GetBool());
    VJSONValue o(JSON_object);
    o.Clear();
    EXPECT_TRUE(o.IsNull());
    VJSONValue a(JSON_array);
    a.Clear();
    EXPECT_TRUE(a.IsNull());
    VJSONValue u(JSON_undefined);
    u.Clear();
    EXPECT_TRUE(u.IsUndefined());
}

TEST(JSONValue, NumberView)
{
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"0x1F", 31},  {"0X1f", 31}, {"0x10", 16}, {"0X10", 16}, {"0x", 0},     {"0x-2", 2},   {"0x1G2", 18},
        {"12.5", 12.5}, {"  -3e2", -300}, {"7abc", 7},   {"abc", 0},   {"", 0},  {"1,5", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Str(c.text).GetNumber(), c.expected) << c.text;
    EXPECT_EQ(Str("0xFFFFFFFFFFFFFFFF").GetNumber(), 18446744073709551616.0);

    EXPECT_EQ(VJSONValue(JSON_true).GetNumber(), 1);
    EXPECT_EQ(VJSONValue(JSON_false).GetNumber(), 0);
    EXPECT_EQ(VJSONValue(JSON_null).GetNumber(), 0);
    EXPECT_EQ(VJSONValue(JSON_object).GetNumber(), 0);
    EXPECT_EQ(VJSONValue(JSON_array).GetNumber(), 0);
    VJSONValue date(JSON_null);
    date.SetDate(2024, 3, 5);
    EXPECT_EQ(date.GetNumber(), 0);
    EXPECT_EQ(VJSONValue(2.25).GetNumber(), 2.25);
}

TEST(JSONValue, NumberViewIgnoresTheProcessLocale)
{
    EXPECT_TRUE(test::RunUnderCommaLocale([] {
        test::ChildChecks check;
        check(Str("2.5").GetNumber() == 2.5, "2.5 reads with a point");
        check(TextOf(VJSONValue(0.5)) == "0.5", "0.5 is written with a point");
        return check.Passed();
    }));
}

TEST(JSONValue, BoolView)
{
    EXPECT_FALSE(Str("").GetBool());
    EXPECT_TRUE(Str("0").GetBool());
    EXPECT_TRUE(Str("false").GetBool());
    EXPECT_TRUE(VJSONValue(std::nan("")).GetBool());
    EXPECT_FALSE(VJSONValue(0.0).GetBool());
    EXPECT_TRUE(VJSONValue(-1.0).GetBool());
    EXPECT_TRUE(VJSONValue(JSON_object).GetBool());
    EXPECT_TRUE(VJSONValue(JSON_array).GetBool());
    EXPECT_FALSE(VJSONValue(JSON_null).GetBool());
    EXPECT_FALSE(VJSONValue(JSON_undefined).GetBool());
    VJSONValue date(JSON_date);
    EXPECT_FALSE(date.GetBool());
    date.SetDate(2000, 1, 1);
    EXPECT_TRUE(date.GetBool());
}

TEST(JSONValue, TextView)
{
    EXPECT_EQ(TextOf(VJSONValue(0.5)), "0.5");
    EXPECT_EQ(TextOf(VJSONValue(3.0)), "3");
    EXPECT_EQ(TextOf(VJSONValue(std::nan(""))), "null");
    EXPECT_EQ(TextOf(VJSONValue(JSON_true)), "true");
    EXPECT_EQ(TextOf(VJSONValue(JSON_false)), "false");
    EXPECT_EQ(TextOf(VJSONValue(JSON_object)), "[object Object]");
    EXPECT_EQ(TextOf(VJSONValue(JSON_null)), "");
    EXPECT_EQ(TextOf(VJSONValue(JSON_undefined)), "");
    VJSONValue date(JSON_null);
    date.SetDate(2024, 3, 5);
    EXPECT_EQ(TextOf(date), "2024-03-05");

    // Null and undefined give an empty string that is not null, whatever the
    // string held before.
    VString text(true);
    EXPECT_EQ(VJSONValue(JSON_undefined).GetString(text), VE_OK);
    EXPECT_FALSE(text.IsNull());
    EXPECT_TRUE(text.IsEmpty());
}

TEST(JSONValue, DatesPackAndUnpack)
{
    VJSONValue date(JSON_null);
    date.SetDate(2024, 3, 5);
    short y = -1, m = -1, d = -1;
    EXPECT_TRUE(date.GetDate(&y, &m, &d));
    EXPECT_EQ(y, 2024);
    EXPECT_EQ(m, 3);
    EXPECT_EQ(d, 5);
    EXPECT_FALSE(Str("2024-03-05").GetDate(&y, &m, &d));
    EXPECT_EQ(y, 0);
    EXPECT_EQ(m, 0);
    EXPECT_EQ(d, 0);

    // Dates order by year, then month, then day.
    VJSONValue later(JSON_null);
    later.SetDate(2024, 4, 1);
    VCompareOptions options;
    EXPECT_EQ(date.CompareTo(later, options), CR_SMALLER);
    EXPECT_EQ(later.CompareTo(date, options), CR_BIGGER);
}

TEST(JSONValue, TimesBecomeUTCDates)
{
    VTime time;
    time.FromUTCTime(2024, 3, 5, 23, 59, 59, 999);
    VJSONValue value(time);
    ASSERT_TRUE(value.IsDate());
    short y, m, d;
    EXPECT_TRUE(value.GetDate(&y, &m, &d));
    EXPECT_EQ(y, 2024);
    EXPECT_EQ(m, 3);
    EXPECT_EQ(d, 5);

    VTime back;
    value.GetTime(back);
    short h, mi, s, ms;
    back.GetUTCTime(y, m, d, h, mi, s, ms);
    EXPECT_FALSE(back.IsNull());
    EXPECT_EQ(y, 2024);
    EXPECT_EQ(d, 5);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(mi, 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(ms, 0);

    std::unique_ptr<VValueSingle> typed(value.CreateVValue(false));
    VTime* asTime = dynamic_cast<VTime*>(typed.get());
    ASSERT_NE(asTime, nullptr);
    EXPECT_EQ(asTime->GetMilliseconds(), back.GetMilliseconds());

    // An impossible date reads back as a null time; so does a number.
    VJSONValue impossible(JSON_null);
    impossible.SetDate(2023, 2, 29);
    impossible.GetTime(back);
    EXPECT_TRUE(back.IsNull());
    VJSONValue(1.0).GetTime(back);
    EXPECT_TRUE(back.IsNull());

    VTime null;
    null.SetNull(true);
    EXPECT_TRUE(VJSONValue(null).IsNull());
    value.SetTime(null);
    EXPECT_TRUE(value.IsNull());
}

TEST(JSONValue, CompareToOrdersByTypeThenPayload)
{
    VCompareOptions options;
    EXPECT_EQ(VJSONValue(JSON_undefined).CompareTo(VJSONValue(JSON_null), options), CR_EQUAL);
    EXPECT_EQ(VJSONValue(JSON_null).CompareTo(VJSONValue(JSON_undefined), options), CR_EQUAL);
    EXPECT_FALSE(VJSONValue(JSON_undefined).DeepEqualTo(VJSONValue(JSON_null), options));
    EXPECT_EQ(VJSONValue(1.0).CompareTo(Str("a"), options), CR_BIGGER);
    EXPECT_EQ(Str("a").CompareTo(VJSONValue(1.0), options), CR_SMALLER);
    EXPECT_EQ(Str("abc").CompareTo(Str("abd"), options), CR_SMALLER);
    EXPECT_EQ(Str("abc").CompareTo(Str("abc"), options), CR_EQUAL);
    EXPECT_EQ(VJSONValue(1.0).CompareTo(VJSONValue(1.0 + 1e-9), options), CR_EQUAL);
    EXPECT_EQ(VJSONValue(std::nan("")).CompareTo(VJSONValue(-1e300), options), CR_SMALLER);
    EXPECT_EQ(VJSONValue(std::nan("")).CompareTo(VJSONValue(std::nan("")), options), CR_EQUAL);
    VCompareOptions exact;
    exact.SetDiacritical(true);
    EXPECT_EQ(VJSONValue(1.0).CompareTo(VJSONValue(1.0 + 1e-9), exact), CR_SMALLER);
    EXPECT_EQ(VJSONValue(JSON_last).CompareTo(VJSONValue(JSON_last), options), CR_UNRELEVANT);

    // Containers compare by identity; deep equality looks inside.
    VJSONValue a(JSON_object);
    VJSONValue b(JSON_object);
    EXPECT_NE(a.CompareTo(b, options), CR_EQUAL);
    EXPECT_TRUE(a.DeepEqualTo(b, options));
    EXPECT_EQ(a.CompareTo(a, options), CR_EQUAL);
    EXPECT_TRUE(a.DeepEqualTo(a, options));
}

TEST(JSONValue, StringsCompareWithTheOptionsCollationWildcardAndBeginning)
{
    // The collation is that of the options' manager, not the task's: "ö"
    // sorts after "z" in Swedish and before it in English.
    VRefPtr<VIntlMgr> swedish = AdoptRef(VIntlMgr::Create(1053, 1053, 1));
    VRefPtr<VIntlMgr> english = AdoptRef(VIntlMgr::Create(1033, 1033, 1));
    ASSERT_NE(swedish.Get(), nullptr);
    ASSERT_NE(english.Get(), nullptr);
    VString oUmlaut;
    const UniChar unit = 0x00F6;
    oUmlaut.FromUniString(&unit, 1);
    VCompareOptions options;
    options.SetIntlMgr(swedish.Get());
    EXPECT_EQ(VJSONValue(oUmlaut).CompareTo(Str("z"), options), CR_BIGGER);
    options.SetIntlMgr(english.Get());
    EXPECT_EQ(VJSONValue(oUmlaut).CompareTo(Str("z"), options), CR_SMALLER);

    const struct {
        const char* fText;
        const char* fOther;
        bool fLike;
        bool fBeginning;
        CompareResult fResult;
    } cases[] = {
        {"abcdef", "abc@", false, false, CR_BIGGER},
        {"abcdef", "abc@", true, false, CR_EQUAL},
        {"abcdef", "a@f", true, false, CR_EQUAL},
        {"abcdef", "abc", false, false, CR_BIGGER},
        {"abcdef", "abc", false, true, CR_EQUAL},
        {"abc", "abd", false, true, CR_SMALLER},
    };
    for (const auto& c : cases) {
        VCompareOptions each;
        each.SetIntlMgr(english.Get());
        each.SetLike(c.fLike);
        each.SetBeginsWith(c.fBeginning);
        EXPECT_EQ(Str(c.fText).CompareTo(Str(c.fOther), each), c.fResult)
            << c.fText << " against " << c.fOther << (c.fLike ? " like" : "") << (c.fBeginning ? " beginning" : "");
    }
}

TEST(JSONValue, CreateVValueGivesTheMatchingKind)
{
    std::unique_ptr<VValueSingle> b(VJSONValue(JSON_true).CreateVValue(false));
    ASSERT_NE(dynamic_cast<VBoolean*>(b.get()), nullptr);
    EXPECT_TRUE(b->GetBoolean());
    std::unique_ptr<VValueSingle> r(VJSONValue(2.5).CreateVValue(false));
    ASSERT_NE(dynamic_cast<VReal*>(r.get()), nullptr);
    EXPECT_EQ(r->GetReal(), 2.5);
    std::unique_ptr<VValueSingle> s(Str("text").CreateVValue(false));
    VString* str = dynamic_cast<VString*>(s.get());
    ASSERT_NE(str, nullptr);
    EXPECT_EQ(ToStd(*str), "text");

    std::unique_ptr<VValueSingle> marked(VJSONValue(JSON_array).CreateVValue(true));
    VString* marker = dynamic_cast<VString*>(marked.get());
    ASSERT_NE(marker, nullptr);
    ASSERT_EQ(marker->GetLength(), 4);
    EXPECT_EQ(marker->GetCPointer()[0], 1);
    EXPECT_EQ(marker->GetCPointer()[1], 2);
    EXPECT_EQ(marker->GetCPointer()[2], 3);
    EXPECT_EQ(marker->GetCPointer()[3], 2);
    std::unique_ptr<VValueSingle> unmarked(VJSONValue(JSON_array).CreateVValue(false));
    EXPECT_TRUE(unmarked->IsNull());
    std::unique_ptr<VValueSingle> objectMarker(VJSONValue(JSON_object).CreateVValue(true));
    EXPECT_EQ(static_cast<VString*>(objectMarker.get())->GetCPointer()[3], 1);
    std::unique_ptr<VValueSingle> none(VJSONValue(JSON_null).CreateVValue(true));
    EXPECT_TRUE(none->IsNull());
}

TEST(JSONValue, StampPropagationReachesEveryContainerOnce)
{
    VJSONValue::CheckAndUpdateJsonStamp(VJSONValue(1.0), nullptr);  // nothing

    VJSONStamp* stamp = new VJSONStamp();
    VJSONValue::CheckAndUpdateJsonStamp(VJSONValue(1.0), stamp);
    EXPECT_EQ(stamp->GetCounter(), 1u);

    // A cycle: o.self = o, o.list = [o].
    VJSONValue root(JSON_object);
    VJSONObject* object = root.GetObject();
    VJSONValue list(JSON_array);
    list.GetArray()->Push(root);
    object->SetProperty(VString("self"), root);
    object->SetProperty(VString("list"), list);
    VJSONValue::CheckAndUpdateJsonStamp(root, stamp);
    EXPECT_EQ(stamp->GetCounter(), 2u);
    EXPECT_EQ(object->GetJSONStamp(), stamp);
    EXPECT_EQ(list.GetArray()->GetJSONStamp(), stamp);

    // Stored values now raise the counter once each.
    object->SetProperty(VString("n"), VJSONValue(3.0));
    EXPECT_EQ(stamp->GetCounter(), 3u);
    list.GetArray()->Push(VJSONValue(4.0));
    EXPECT_EQ(stamp->GetCounter(), 4u);
    stamp->Release();
}

TEST(JSONValue, StringifyWritesStandardText)
{
    VJSONValue root(JSON_object);
    VJSONValue list(JSON_array);
    list.GetArray()->Push(VJSONValue(1.0));
    list.GetArray()->Push(Str("x"));
    list.GetArray()->Push(VJSONValue(JSON_null));
    list.GetArray()->Push(VJSONValue(JSON_true));
    root.SetProperty(VString("a"), list);
    EXPECT_EQ(JSONOf(root, 0x1), "{\"a\":[1,\"x\",null,true]}");
    EXPECT_EQ(JSONOf(root, 0), "{a:[1,x,null,true]}");

    VJSONValue pretty(JSON_object);
    pretty.SetProperty(VString("a"), VJSONValue(1.0));
    pretty.SetProperty(VString("b"), VJSONValue(JSON_array));
    EXPECT_EQ(JSONOf(pretty, 0x9), "{\n\t\"a\": 1,\n\t\"b\": []\n}");

    EXPECT_EQ(JSONOf(VJSONValue(0.1)), "0.1");
    EXPECT_EQ(JSONOf(VJSONValue(0.5)), "0.5");
    EXPECT_EQ(JSONOf(VJSONValue(1e20)), "1E+20");
    EXPECT_EQ(JSONOf(VJSONValue(9007199254740991.0)), "9007199254740991");
    EXPECT_EQ(JSONOf(VJSONValue(-0.0)), "0");
    EXPECT_EQ(JSONOf(VJSONValue(std::numeric_limits<double>::infinity())), "null");
    EXPECT_EQ(JSONOf(VJSONValue(JSON_undefined)), "null");

    const UniChar special[] = {'"', '\\', '/', 0x08, 0x0C, 0x0A, 0x0D, 0x09, 0x01, 0x7F, '&'};
    VString text;
    text.FromUniString(special, 11);
    EXPECT_EQ(JSONOf(VJSONValue(text)), "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u007F&\"");
    EXPECT_EQ(JSONOf(VJSONValue(text), 0x401), "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u007F\\u0026\"");

    VJSONValue date(JSON_null);
    date.SetDate(2024, 2, 29);
    EXPECT_EQ(JSONOf(date, 0x1), "\"2024-02-29T00:00:00.000Z\"");
    EXPECT_EQ(JSONOf(date, 0x201), "\"2024-02-29\"");
    EXPECT_EQ(JSONOf(date, 0x1001), "\"!!2024-02-29T00:00:00.000Z!!\"");
}

TEST(JSONValue, StringifyRefusesCycles)
{
    StErrorContextInstaller errors(false);
    VJSONValue root(JSON_object);
    root.SetProperty(VString("me"), root);
    VString text("unchanged");
    EXPECT_EQ(root.Stringify(text, kJSONWriteQuoted), QeltError(900));
    EXPECT_EQ(ToStd(text), "unchanged");
    EXPECT_EQ(root.Stringify(text, kJSONWriteQuoted | kJSONWriteCircular), VE_OK);
    EXPECT_EQ(ToStd(text), "{\"me\":\"[circular]\"}");

    VJSONValue list(JSON_array);
    list.GetArray()->Push(list);
    EXPECT_EQ(list.Stringify(text, kJSONWriteQuoted | kJSONWriteCircular), QeltError(900));

    // An object met twice, side by side.
    VJSONValue twice(JSON_array);
    VJSONValue shared(JSON_object);
    twice.GetArray()->Push(shared);
    twice.GetArray()->Push(shared);
    EXPECT_EQ(twice.Stringify(text, kJSONWriteQuoted), VE_OK);
    EXPECT_EQ(ToStd(text), "[{},{}]");
    EXPECT_EQ(twice.Stringify(text, kJSONWriteQuoted | kJSONWriteOnce), QeltError(916));
}

TEST(JSONValue, StringifyPreviewStopsOnce)
{
    VJSONValue list(JSON_array);
    for (int i = 0; i < 200; ++i)
        list.GetArray()->Push(VJSONValue(100.0 + i));
    VString text;
    ASSERT_EQ(list.Stringify(text, kJSONWriteQuoted | kJSONWritePreview), VE_OK);
    std::string expected = "[";
    for (int i = 0; i < 172; ++i) {
        if (i > 0)
            expected += ",";
        expected += std::to_string(100 + i);
    }
    expected += "...";
    EXPECT_EQ(ToStd(text), expected);
}

// The self-check builds two objects (one shared inside the other through an
// array), writes both as text and parses a nested array: nothing in it may
// raise an error, and the same structure and text give what is expected.
TEST(JSONValue, SelfCheckRaisesNothingAndItsStructureWritesAsText)
{
    StErrorContextInstaller errors(true, true);
    VJSONValue::test();
    EXPECT_EQ(errors.GetLastError(), VError(0));

    VJSONValue object(JSON_object);
    object.SetProperty(VString("name"), VJSONValue(VString("value")));
    object.SetProperty(VString("number"), VJSONValue(42.0));
    VJSONValue children(JSON_array);
    children.GetArray()->Push(VJSONValue(1.0));
    children.GetArray()->Push(object);
    children.GetArray()->Push(object);
    VJSONValue second(JSON_object);
    second.SetProperty(VString("children"), children);
    VString text;
    EXPECT_EQ(second.Stringify(text, kJSONWriteQuoted), VError(0));
    EXPECT_EQ(ToStd(text), "{\"children\":[1,{\"name\":\"value\",\"number\":42},{\"name\":\"value\",\"number\":42}]}");

    VJSONValue parsed;
    EXPECT_EQ(parsed.ParseFromString(VString("[1,2,3,[4,5],6]")), VError(0));
    ASSERT_TRUE(parsed.IsArray());
    EXPECT_EQ(parsed.GetArray()->GetCount(), 5u);
    EXPECT_EQ(JSONOf(parsed), "[1,2,3,[4,5],6]");
    EXPECT_EQ(errors.GetLastError(), VError(0));
}

}  // namespace
}  // namespace qelt
