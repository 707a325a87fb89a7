#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <string>
#include <vector>

#include "json/json.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"
#include "values/VTime.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;




TEST(JSONTools, AlterEditsByPath)
{
    VJSONValue value(JSON_undefined);
    VJSONAlter(value, VString("a.b"), 3);
    EXPECT_EQ(Write(value), "{\"a\":{\"b\":3}}");
    VJSONAlter(value, VString("t"), true);
    VJSONAlter(value, VString("s"), "text");
    VJSONAlter(value, VString("n"), VString(true));
    VJSONAlter(value, VString("r"), 2.5);
    VJSONArray* list = nullptr;
    VJSONAlter(value, VString("l"), JSON_array, &list);
    ASSERT_NE(list, nullptr);
    list->Push(VJSONValue(1.0));
    VTime time;
    time.FromUTCTime(2024, 2, 29, 10, 0, 0, 0);
    VJSONAlter(value, VString("when"), time);
    EXPECT_EQ(Write(value),
              "{\"a\":{\"b\":3},\"t\":true,\"s\":\"text\",\"n\":null,\"r\":2.5,\"l\":[1],"
              "\"when\":\"2024-02-29T10:00:00.000Z\"}");
    EXPECT_TRUE(value.GetProperty(VString("when")).IsString());

    // Removing takes the whole path as one name.
    VJSONValue dotted = Parse("{\"a.b\":1,\"a\":{\"b\":2}}");
    VJSONAlter(dotted, VString("a.b"));
    EXPECT_EQ(Write(dotted), "{\"a\":{\"b\":2}}");
    VJSONValue number(4.0);
    VJSONAlter(number, VString("x"));
    EXPECT_EQ(Write(number), "4");
    VJSONAlter make(number);
    EXPECT_EQ(Write(number), "{}");
}

TEST(JSONTools, IterGivesNamesOrARangeOfElements)
{
    VJSONValue array = Parse("[10,20,30,40]");
    struct Case {
        int start;
        int end;
        bool toEnd;
        const char* items;
    };
    const Case cases[] = {{-2, 0, true, "30 40 "}, {1, 3, false, "20 30 "}, {5, 9, false, ""},
                          {0, -1, false, "10 20 30 "}, {-9, 99, false, "10 20 30 40 "}};
    for (const Case& c : cases) {
        VJSONIter* iter = new VJSONIter(array.GetArray(), c.start, c.end, c.toEnd);
        std::string items;
        VJSONValue item;
        while (iter->NextValue(item))
            items += Write(item) + " ";
        EXPECT_EQ(items, c.items) << c.start << " " << c.end;
        EXPECT_TRUE(item.IsUndefined());
        iter->Release();
    }
    VJSONValue object = Parse("{\"x\":1,\"y\":2}");
    VJSONIter* iter = new VJSONIter(object.GetObject(), 0, 0, false);
    std::string names;
    VJSONValue name;
    while (iter->NextValue(name))
        names += Write(name) + " ";
    EXPECT_EQ(names, "\"x\" \"y\" ");
    iter->Release();
}

TEST(JSONTools, ArrayAndObjectWritersBuildText)
{
    VJSONArrayWriter writer;
    VString text;
    writer.GetArray(text, true);
    EXPECT_EQ(ToStd(text), "[]");
    writer.AddLong(1);
    writer.AddBool(true);
    writer.AddReal(2.5);
    writer.GetArray(text, true);
    EXPECT_EQ(ToStd(text), "[1,true,2.5]");
    VJSONArrayWriter nested;
    const int numbers[] = {2, 3};
    nested.AddLongs(numbers, 2);
    writer.AddJSONArray(nested);
    writer.AddReal(0.1 + 0.2);
    writer.AddString(VString("q\""), 0x1);
    writer.AddString(static_cast<const char*>(nullptr), 0x1);
    writer.AddLongs(nullptr, 3);
    writer.GetArray(text, false);
    EXPECT_EQ(ToStd(text), "[1,true,2.5,[2,3],0.30000000000000004,\"q\\\"\"]");
    nested.GetArray(text, true);
    EXPECT_EQ(ToStd(text), "[]");
    writer.GetArray(text, true);
    EXPECT_EQ(ToStd(text), "[]");

    VJSONSingleObjectWriter object;
    EXPECT_FALSE(object.AddMember(VString(""), VLong(1), 0x1));
    EXPECT_TRUE(object.AddMember(VString("a\"b"), VLong(1), 0x1));
    object.GetObject(text);
    EXPECT_TRUE(object.AddMember(VString("s"), VString("x"), 0x1));
    object.GetObject(text);
    EXPECT_EQ(ToStd(text), "{\"a\\\"b\":1,\"s\":\"x\"}");
    VJSONValue back(JSON_undefined);
    EXPECT_EQ(VJSONImporter::ParseString(text, back, 0x2), VE_OK);
}

TEST(JSONTools, ArrayReaderTakesScalarItems)
{
    struct Case {
        const char* text;
        bool ok;
        const char* items;
    };
    const Case cases[] = {
        {"[1,true,null]", true, "1|true|null|"}, {"[1,[2,[3]],4]", true, "1|4|"},
        {"x [\"a,b\",{\"k\":2}]", true, "a,b|k|2|"}, {"1,2", false, ""},
        {"", false, ""}, {"[1,[2", false, ""}, {"[1,2", false, ""}, {"[]", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VJSONArrayReader reader(VString(c.text));
        VError error = 1;
        const int32_t count = reader.GetCountOfElements(&error);
        EXPECT_EQ(error, c.ok ? VE_OK : QeltError(550));
        std::vector<VString> items{VString("kept")};
        EXPECT_EQ(reader.ToArrayString(items, false), error);
        std::string joined;
        for (const VString& item : items)
            joined += ToStd(item) + "|";
        EXPECT_EQ(joined, c.items);
        EXPECT_EQ(count, static_cast<int32_t>(items.size()));
    }
    VJSONArrayReader reader(VString("[\"7\",-3,2.5,true,TRUE,0]"));
    int longs[6] = {};
    double reals[6] = {};
    char bools[6] = {};
    short words[6] = {};
    ASSERT_EQ(reader.ToArrayLong(longs), VE_OK);
    ASSERT_EQ(reader.ToArrayReal(reals), VE_OK);
    ASSERT_EQ(reader.ToArrayBool(bools), VE_OK);
    ASSERT_EQ(reader.ToArrayShort(words), VE_OK);
    EXPECT_EQ(longs[0] + longs[1], 4);
    EXPECT_EQ(reals[2], 2.5);
    EXPECT_EQ(bools[3] + bools[4] + bools[5], 2);
    EXPECT_EQ(words[1], -3);
    reader.FromJSONString(VString("nothing"));
    EXPECT_EQ(reader.ToArrayLong(longs), QeltError(550));
    EXPECT_EQ(reader.ToArrayLong(nullptr), QeltError(550));
}

}  // namespace
}  // namespace qelt
