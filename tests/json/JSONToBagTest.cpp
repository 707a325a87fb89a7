#include <gtest/gtest.h>

#include "JSONTextTestSupport.h"

#include <string>
#include <vector>

#include "json/json.h"
#include "kernel/VLong8.h"
#include "kernel/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

using test::Parse;
using test::ToStd;
using test::Write;


using BagPtr = VRefPtr<VValueBag>;
BagPtr NewBag() { return AdoptRef(new VValueBag()); }

// The n-th child of a list (1-based), as text of its attributes.
std::string Child(VBagArray* inList, int inIndex);

// The bag's attributes as "name:kind=text" in order.
std::string Attributes(const VValueBag& inBag)
{
    std::string out;
    for (int i = 1; i <= inBag.GetAttributesCount(); ++i) {
        VString name;
        const VValueSingle* value = inBag.GetNthAttribute(i, &name);
        VString text;
        if (value != nullptr && value->GetValueInfo()->GetKind() == VK_TIME)
            value->GetJSONString(text, 0);
        else if (value != nullptr)
            value->GetString(text);
        out += ToStd(name) + ":" + std::to_string(value != nullptr ? value->GetValueInfo()->GetKind() : -1) + "=" +
               (value != nullptr && value->IsNull() ? std::string("<null>") : ToStd(text)) + " ";
    }
    return out;
}

std::string Child(VBagArray* inList, int inIndex)
{
    VValueBag* child = inList->RetainNth(inIndex);
    std::string text = Attributes(*child);
    child->Release();
    return text;
}

VError Read(VValueBag& ioBag, const char* inText, unsigned int inOptions = 0)
{
    return ioBag.FromJSONString(VString(inText), inOptions);
}

TEST(JSONToBag, ScalarMembersBecomeTypedAttributes)
{
    struct Case {
        const char* text;
        unsigned int options;
        const char* attributes;
    };
    const Case cases[] = {
        {"{\"a\":\"x\",\"b\":2,\"c\":2.5,\"d\":true,\"e\":null}", 0,
         "a:10=x b:5=2 c:6=2.5 d:1=true e:10=<null> "},
        {"{\"t\":\"2024-02-29\"}", 0, "t:8=2024-02-29T00:00:00.000Z "},
        {"{\"t\":\"2024-02-29\"}", 0x1000, "t:10=2024-02-29 "},
        {"{\"t\":\"!!2024-02-29!!\"}", 0x1000, "t:8=2024-02-29T00:00:00.000Z "},
        {"{\"big\":1E+20,\"small\":2e\xE2\x88\x92" "3,\"plain\":1e5x}", 0, "big:6=1E+20 small:6=0.002 plain:5=15 "},
        {"{\"w\":abc,\"n\":-12}", 0, "w:5=0 n:5=-12 "},
        {"{\"__CDATA\":\"text\"}", 0, "<>:10=text "},
        {"{\"a\":1 \"b\":2}", 0, "a:5=1 b:5=2 "},
        {"{\"a\":1,}", 0, "a:5=1 "},
        {"{\"a\":1,\"a\":2}", 0, "a:5=2 "},
        {"{}", 0, ""},
        {"{\"a\":1", 0, "a:5=1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        BagPtr bag = NewBag();
        VString text(c.text, static_cast<unsigned long>(std::char_traits<char>::length(c.text)), VTC_UTF_8);
        EXPECT_EQ(bag->FromJSONString(text, c.options), VE_OK);
        EXPECT_EQ(Attributes(*bag), c.attributes);
    }
}

TEST(JSONToBag, ObjectsAndArraysBecomeChildBags)
{
    BagPtr bag = NewBag();
    ASSERT_EQ(Read(*bag, "{\"o\":{\"k\":1},\"l\":[{\"k\":1},2,\"s\",null]}"), VE_OK);
    VBagArray* single = bag->GetElements(StPackedDictionaryKey("o"));
    ASSERT_NE(single, nullptr);
    ASSERT_EQ(single->GetCount(), 1);
    EXPECT_EQ(Child(single, 1), "____objectunic:1=true k:5=1 ");
    VBagArray* list = bag->GetElements(StPackedDictionaryKey("l"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->GetCount(), 4);
    EXPECT_EQ(Child(list, 1), "k:5=1 ");
    EXPECT_EQ(Child(list, 2), "____FakeArrayElement:5=2 ");
    EXPECT_EQ(Child(list, 3), "____FakeArrayElement:10=s ");
    EXPECT_EQ(Child(list, 4), "____FakeArrayElement:10=<null> ");

    // Written back, the bag gives the same shape, null included.
    VString text;
    bag->GetJSONString(text, 0);
    EXPECT_EQ(ToStd(text), "{\"o\":{\"k\":1},\"l\":[{\"k\":1},2,\"s\",null]}");
}

TEST(JSONToBag, FailuresReportAndKeepWhatWasRead)
{
    struct Case {
        const char* text;
        std::vector<int> codes;
        const char* found;
        const char* expected;
        const char* attributes;
    };
    const Case cases[] = {
        {"", {554, 550}, "", "{", "old:5=1 "},
        {"[1]", {551, 550}, "[", "{", "old:5=1 "},
        {"{\"a\" 1}", {551, 550}, "1", ":", "old:5=1 "},
        {"{\"a\":1,\"b\":}", {551, 550}, "}", "\" 0-9 null true false { [", "old:5=1 a:5=1 "},
        {"{\"a\":1,[", {551, 550}, "[", "\"", "old:5=1 a:5=1 "},
        {"{\"a\":1,\"o\":{\"x\":[1,2],\"y\" 2}}", {551, 550}, "2", ":", "old:5=1 a:5=1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        StErrorContextInstaller errors(false);
        BagPtr bag = NewBag();
        bag->SetAttribute("old", VLong8(1));
        EXPECT_EQ(Read(*bag, c.text), QeltError(550));
        EXPECT_EQ(Attributes(*bag), c.attributes);
        std::vector<int> codes;
        for (const VErrorBase* error : errors.GetContext()->GetErrors())
            codes.push_back(static_cast<int>(error->GetError() & 0xFFFF));
        EXPECT_EQ(codes, c.codes);
        VString found, expected;
        errors.GetContext()->GetFirst()->GetBag()->GetAttribute(StPackedDictionaryKey("found"), found);
        errors.GetContext()->GetFirst()->GetBag()->GetAttribute(StPackedDictionaryKey("expected"), expected);
        EXPECT_EQ(ToStd(found), c.found);
        EXPECT_EQ(ToStd(expected), c.expected);
    }
}

TEST(JSONToBag, NestingBeyondTheBagLimitFails)
{
    StErrorContextInstaller errors(false);
    std::string text;
    for (int i = 0; i < VValueBag::kMaxDepth + 10; ++i)
        text += "{\"a\":";
    BagPtr bag = NewBag();
    EXPECT_EQ(Read(*bag, text.c_str()), QeltError(550));
    EXPECT_NE(errors.GetContext()->Find(QeltError(555)), nullptr);
}

TEST(JSONToBag, BagsReadFromJSONValuesAndBuildJSONObjects)
{
    VJSONValue value(JSON_undefined);
    ASSERT_EQ(VJSONImporter::ParseString(VString("{\"n\":3,\"d\":\"2024-02-29\",\"l\":[1,2]}"), value, 0), VE_OK);
    BagPtr bag = NewBag();
    ASSERT_EQ(bag->FromJSONValue(value), VE_OK);
    EXPECT_EQ(Attributes(*bag), "n:5=3 d:8=2024-02-29T00:00:00.000Z ");

    // The bag's JSON object reads its text with dates.
    VError error = 1;
    VJSONObject* object = bag->BuildJSONObject(error);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(error, VE_OK);
    EXPECT_TRUE(object->GetProperty(VString("d")).IsDate());
    EXPECT_EQ(object->GetProperty(VString("l")).GetArray()->GetCount(), 2u);
    object->Release();
}

}  // namespace
}  // namespace qelt
