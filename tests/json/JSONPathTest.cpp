#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <string>
#include <vector>

#include "json/json.h"
#include "kernel/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;




TEST(JSONPaths, ExtractPathCutsNamesAndIndexes)
{
    struct Case {
        const char* path;
        int code;
        const char* parts;
    };
    const Case cases[] = {
        {"a.b[2].c", 0, "a|b|2|c|"}, {"a[0][1]", 0, "a|0|1|"}, {" a . b ", 0, "a|b|"},
        {"a[ x]", 0, "a|x|"},        {"a[1]x", 901, nullptr},   {"a[1", 901, nullptr},
        {"a..b", 902, nullptr},       {"a.", 902, nullptr},      {"a[]", 902, nullptr},
        {"[0]", 902, nullptr},        {"", 902, nullptr},        {" ", 902, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        StErrorContextInstaller errors(false);
        std::vector<VString> parts;
        VError error = VJSONObject::ExtractPath(VString(c.path), parts);
        EXPECT_EQ(error, c.code == 0 ? VE_OK : QeltError(c.code));
        EXPECT_EQ(errors.GetLastError(), c.code == 0 ? VE_OK : QeltError(c.code));
        if (c.parts != nullptr) {
            std::string joined;
            for (const VString& part : parts)
                joined += ToStd(part) + "|";
            EXPECT_EQ(joined, c.parts);
        }
    }
}

TEST(JSONPaths, ReadingFollowsObjectsAndArrays)
{
    VJSONValue root = Parse("{\"list\":[10,20],\"o\":{\"t\":true,\"n\":1,\"r\":-3.9,\"s\":\"x\",\"big\":1e12}}");
    const VJSONObject* object = root.GetObject();
    struct Case {
        const char* path;
        const char* value;
    };
    const Case cases[] = {
        {"list[1]", "20"},         {"list.1", "20"},           {"list.length", "2"},
        {"list[5]", "undefined"},  {"list[-1]", "undefined"},  {"list[x]", "10"},
        {"list.0.z", "undefined"}, {"o.s", "\"x\""},           {"missing.deeper", "undefined"},
        {"a..b", "undefined"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        StErrorContextInstaller errors(false);
        EXPECT_EQ(Write(object->GetPropertyWithPath(VString(c.path))), c.value);
    }
    EXPECT_EQ(Write(object->GetPropertyWithPath(std::vector<VString>{})), Write(root));

    StErrorContextInstaller errors(false);
    EXPECT_TRUE(VJSONValue::GetBoolByPath(root, VString("o.t")));
    EXPECT_FALSE(VJSONValue::GetBoolByPath(root, VString("o.n")));
    EXPECT_FALSE(VJSONValue::GetBoolByPath(VJSONValue(true), VString("o.t")));
    EXPECT_EQ(VJSONValue::GetLongByPath(root, VString("o.r")), -3);
    EXPECT_EQ(VJSONValue::GetLongByPath(root, VString("o.big")), -2147483647 - 1);
    EXPECT_EQ(VJSONValue::GetLongByPath(root, VString("o.s")), 0);
    VString text("kept");
    EXPECT_FALSE(VJSONValue::GetStringByPath(root, VString("o.n"), text));
    EXPECT_EQ(ToStd(text), "kept");
    EXPECT_TRUE(VJSONValue::GetStringByPath(root, VString("o.s"), text));
    EXPECT_EQ(ToStd(text), "x");
}

TEST(JSONPaths, WritingCreatesWhatThePathNeeds)
{
    struct Case {
        const char* start;
        const char* path;
        bool answer;
        const char* result;
        int code;
        const char* p1;
    };
    const Case cases[] = {
        {"{}", "a.b[2].c", true, "{\"a\":{\"b\":[null,null,{\"c\":7}]}}", 0, nullptr},
        {"{}", "a.0.b", true, "{\"a\":[{\"b\":7}]}", 0, nullptr},
        {"{\"n\":5}", "n.x", false, "{\"n\":5}", 904, "n"},
        {"{\"n\":5}", "n.3", false, "{\"n\":5}", 903, "n"},
        {"{\"n\":5}", "n", true, "{\"n\":7}", 0, nullptr},
        {"{\"a\":[1]}", "a[-1]", true, "{\"a\":[1]}", 0, nullptr},
        {"{\"a\":[1]}", "a[-1].b", true, "{\"a\":[1]}", 0, nullptr},
        {"{\"x\":1,\"a\":{\"k\":0},\"z\":2}", "a.k", true, "{\"x\":1,\"a\":{\"k\":7},\"z\":2}", 0, nullptr},
        {"{\"a\":[]}", "a[1048575]", true, nullptr, 0, nullptr},
        {"{\"a\":[]}", "a[1048576]", false, "{\"a\":[]}", 100, nullptr},
        {"{\"a\":[]}", "a[2000000000].b", false, "{\"a\":[]}", 100, nullptr},
        // An index beyond 32 bits reads as 0.
        {"{\"a\":[]}", "a[999999999999]", true, "{\"a\":[7]}", 0, nullptr},
        {"{}", "a[", false, "{}", 901, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " " + c.path);
        StErrorContextInstaller errors(false);
        VJSONValue root = Parse(c.start);
        EXPECT_EQ(root.GetObject()->SetPropertyWithPath(VString(c.path), VJSONValue(7.0)), c.answer);
        if (c.result != nullptr) {
            EXPECT_EQ(Write(root), c.result);
        }
        EXPECT_EQ(errors.GetLastError(), c.code == 0 ? VE_OK : QeltError(c.code));
        if (c.p1 != nullptr) {
            VString p1;
            errors.GetContext()->GetLast()->GetBag()->GetAttribute(StPackedDictionaryKey("p1"), p1);
            EXPECT_EQ(ToStd(p1), c.p1);
        }
    }

    VJSONValue root(JSON_object);
    EXPECT_TRUE(root.GetObject()->SetPropertiesWithPaths({}));
    StErrorContextInstaller errors(false);
    EXPECT_FALSE(root.GetObject()->SetPropertiesWithPaths(
        {{VString("a"), VJSONValue(1.0)}, {VString("a.b"), VJSONValue(2.0)}, {VString("c"), VJSONValue(3.0)}}));
    EXPECT_EQ(Write(root), "{\"a\":1}");
}

TEST(JSONPaths, StampsTellWhetherAPropertyWasSetAgain)
{
    VJSONValue root = Parse("{\"p\":1,\"list\":[1,2],\"o\":{\"q\":2}}");
    VJSONObject* object = root.GetObject();
    const uint32_t first = object->GetPropertyStamp(VString("p"));
    EXPECT_NE(first, 0u);
    object->SetProperty(VString("p"), VJSONValue(1.0));
    const uint32_t second = object->GetPropertyStamp(VString("p"));
    EXPECT_NE(second, first);
    object->TouchPropertyStamp(VString("p"));
    EXPECT_NE(object->GetPropertyStamp(VString("p")), second);
    EXPECT_EQ(Write(object->GetProperty(VString("p"))), "1");
    EXPECT_EQ(object->GetPropertyStamp(VString("nothing")), 0u);

    EXPECT_EQ(object->GetPropertyStampWithPath(VString("list.length")), 2u);
    const uint32_t element = object->GetPropertyStampWithPath(VString("list[1]"));
    EXPECT_NE(element, 0u);
    object->TouchPropertyStampWithPath(VString("list[1]"));
    EXPECT_NE(object->GetPropertyStampWithPath(VString("list[1]")), element);
    EXPECT_EQ(object->GetPropertyStampWithPath(VString("list[7]")), 0u);
    const uint32_t nested = object->GetPropertyStampWithPath(VString("o.q"));
    object->TouchPropertyStampWithPath(VString("o.q"));
    EXPECT_NE(object->GetPropertyStampWithPath(VString("o.q")), nested);

    VJSONStamp* stamp = new VJSONStamp();
    object->SetJSONStamp(stamp);
    const uint32_t counter = stamp->GetCounter();
    object->TouchPropertyStamp(VString("absent"));
    EXPECT_EQ(stamp->GetCounter(), counter + 1);
    object->SetJSONStamp(nullptr);
    stamp->Release();
}

}  // namespace
}  // namespace qelt
