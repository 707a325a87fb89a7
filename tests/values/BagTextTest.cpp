#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

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

void AddEmptyChildren(VValueBag* bag, const char* name, int count)
{
    for (int i = 0; i < count; ++i) {
        VValueBag* child = new VValueBag();
        bag->AddElement(name, child);
        child->Release();
    }
}

std::string JSON(const VValueBag* bag, unsigned int options = 0)
{
    VString text;
    EXPECT_EQ(bag->GetJSONString(text, options), VE_OK);
    return Narrow(text);
}

std::string XML(const VValueBag* bag, const char* name, bool indented)
{
    VString text;
    bag->DumpXML(text, VString(name), indented);
    return Narrow(text);
}

}  // namespace

TEST(BagJSON, CompactAndPrettyForms)
{
    VValueBag* bag = new VValueBag();
    bag->SetAttribute("a", VLong(1));
    AddEmptyChildren(bag, "b", 2);
    EXPECT_EQ(JSON(bag), "{\"a\":1,\"b\":[{},{}]}");
    EXPECT_EQ(JSON(bag, 0x8), "\n{\n\t\"a\" : 1,\n\t\"b\" : \n\t[\n\t\t{\n\t\t},\n\t\t{\n\t\t}\n\t]\n}");
    bag->Release();
}

TEST(BagJSON, SingleChildrenAndReservedNames)
{
    VValueBag* bag = new VValueBag();
    AddEmptyChildren(bag, "b", 1);
    EXPECT_EQ(JSON(bag), "{\"b\":[{}]}");
    EXPECT_EQ(JSON(bag, 0x20), "{\"b\":{}}");
    VValueBag* child = bag->GetElements("b")->RetainNth(1);
    child->SetAttribute("____objectunic", VLong(1));
    child->Release();
    EXPECT_EQ(JSON(bag), "{\"b\":{}}");
    bag->Release();

    VValueBag* text = new VValueBag();
    text->SetAttribute(VValueBag::CDataAttributeName(), VString("t\"q"));
    text->SetAttribute("____property_name_in_jsarray", VLong(2));
    EXPECT_EQ(JSON(text), "{\"__CDATA\":\"t\\\"q\"}");
    text->Release();

    VValueBag* fake = new VValueBag();
    fake->SetAttribute("x", VLong(9));
    fake->SetAttribute("____FakeArrayElement", VLong(3));
    EXPECT_EQ(JSON(fake), "3");
    fake->Release();

    VValueBag* nulls = new VValueBag();
    // The packed record has no null flag; a value of another size is kept
    // as an object, with its null flag, until the next pack.
    VLong nullLong;
    nullLong.SetNull(true);
    nulls->SetAttribute("n", VString("longer text"));
    nulls->SetAttribute("n", nullLong);
    EXPECT_EQ(JSON(nulls), "{\"n\":null}");
    nulls->Destroy();
    EXPECT_EQ(JSON(nulls), "{}");
    nulls->Release();
}

// The layout steps of bag JSON text, compact and pretty, and the levels
// they leave.
TEST(BagJSON, LayoutHelpersWriteTheWritersSteps)
{
    struct Case {
        const char* what;
        void (*step)(VString&, int&, bool);
        int level;
        const char* compact;
        const char* pretty;
        int levelAfter;
    };
    const Case cases[] = {
        {"newline", [](VString& t, int&, bool p) { AppendJSONNewline(t, p); }, 2, "", "\n", 2},
        {"tabs", AjustJSONTab, 2, "", "\t\t", 2},
        {"begin object", AppendBeginJSONObject, 1, "{", "\n\t{", 2},
        {"begin array", AppendBeginJSONArray, 0, "[", "\n[", 1},
        {"end object", AppendEndJSONObject, 2, "}", "\n\t}", 1},
        {"end array", AppendEndJSONArray, 1, "]", "\n]", 0},
        {"property name",
         [](VString& t, int& l, bool p) { AppendJSONPropertyName(t, l, p, VString("n\"m")); }, 1,
         "\"n\\\"m\":", "\n\t\"n\\\"m\" : ", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool pretty : {false, true}) {
            VString text("x");
            int level = c.level;
            c.step(text, level, pretty);
            EXPECT_EQ(Narrow(text), std::string("x") + (pretty ? c.pretty : c.compact));
            EXPECT_EQ(level, c.levelAfter);
        }
    }
}

TEST(BagXML, ElementsAttributesAndIndentation)
{
    VValueBag* bag = new VValueBag();
    bag->SetAttribute("a", VLong(1));
    VValueBag* item = new VValueBag();
    item->SetAttribute("id", VLong(2));
    bag->AddElement("item", item);
    item->Release();
    EXPECT_EQ(XML(bag, "root", true), "<root a=\"1\">\n\t<item id=\"2\"/>\n</root>");
    EXPECT_EQ(XML(bag, "root", false), "<root a=\"1\">\n<item id=\"2\"/></root>");
    bag->Release();

    VValueBag* empty = new VValueBag();
    EXPECT_EQ(XML(empty, "x", true), "<x/>");
    empty->SetAttribute("s", VString("a<b&\"c\""));
    empty->SetAttribute("____objectunic", VLong(1));
    EXPECT_EQ(XML(empty, "x", true), "<x s=\"a&lt;b&amp;&quot;c&quot;\"/>");
    empty->Release();
}

TEST(BagXML, TextAndCData)
{
    struct Case { const char* text; const char* xml; };
    const Case cases[] = {
        {"t", "<x>t</x>"},
        {"a]]>b", "<x><![CDATA[a]]>]]<![CDATA[>b]]></x>"},
        {"a<b", "<x><![CDATA[a<b]]></x>"},
        {"a\nb", "<x><![CDATA[a\nb]]></x>"},
        {" \n ", "<x>  </x>"},  // only the spaces are kept
        {"a\r\nb", "<x><![CDATA[a]]>&#xD;<![CDATA[\nb]]></x>"},  // the CR survives a reader
        {"a\x01z", "<x>az</x>"},            // not an XML character: dropped
    };
    for (const Case& c : cases) {
        VValueBag* bag = new VValueBag();
        bag->SetAttribute(VValueBag::CDataAttributeName(), VString(c.text));
        EXPECT_EQ(XML(bag, "x", true), c.xml) << c.text;
        bag->Release();
    }
    // An empty text with the indented flag gets a line break before the end tag.
    VValueBag* bag = new VValueBag();
    bag->SetAttribute(VValueBag::CDataAttributeName(), VString(""));
    EXPECT_EQ(XML(bag, "x", true), "<x>\n</x>");
    EXPECT_EQ(XML(bag, "x", false), "<x></x>");
    bag->Release();
}

TEST(BagXML, LoneSurrogatesAreDropped)
{
    const UniChar units[] = {'a', 0xD800, 'b', 0xD83D, 0xDE00, 0xDC00, 'c', 0};
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
    bag->SetAttribute(VValueBag::CDataAttributeName(), VString(units));
    VString text;
    bag->DumpXML(text, VString("x"), false);
    const UniChar expected[] = {'<', 'x', '>', 'a', 'b', 0xD83D, 0xDE00, 'c', '<', '/', 'x', '>'};
    ASSERT_EQ(text.GetLength(), 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(text.GetCPointer()[i], expected[i]) << i;
}

TEST(BagXML, IndentationStopsAt100Tabs)
{
    VString text;
    VValueBag::DumpXMLIndentation(text, 150);
    EXPECT_EQ(text.GetLength(), 100);
}

TEST(BagXML, NeedsEscapeSequence)
{
    static const UniChar kSet[] = {'&'};
    EXPECT_FALSE(VValueBag::NeedsEscapeSequence(VString(""), kSet, kSet + 1));
    EXPECT_TRUE(VValueBag::NeedsEscapeSequence(VString("a&b"), kSet, kSet + 1));
    EXPECT_FALSE(VValueBag::NeedsEscapeSequence(VString("a&b"), kSet, kSet));
    EXPECT_TRUE(VValueBag::NeedsEscapeSequence(VString("a\tb"), kSet, kSet));
    EXPECT_FALSE(VValueBag::NeedsEscapeSequence(VString(" \t "), kSet, kSet));
}

}  // namespace qelt

namespace qelt {

TEST(BagXML, ParseXMLValueChoosesTheKind)
{
    struct Case { const char* text; unsigned short kind; };
    const Case cases[] = {
        {"42", VK_LONG},          {" 42 ", VK_LONG},        {"2147483648", VK_LONG8},
        {"-2147483648", VK_LONG8}, {"2147483647", VK_LONG}, {"1.5", VK_REAL},
        {"1E3", VK_REAL},         {"-2.5e-3", VK_REAL},     {"007", VK_LONG},
        {"1.", VK_STRING},        {"1.E3", VK_STRING},      {"+INF", VK_STRING},
        {"True", VK_STRING},      {"12ab", VK_STRING},      {"-INF", VK_REAL},
        {"NaN", VK_REAL},         {"-NaN", VK_STRING},      {"true", VK_BOOLEAN},
        {"false", VK_BOOLEAN},    {"+true", VK_STRING},     {"", VK_STRING},
        {"99999999999999999999", VK_STRING},
    };
    for (const Case& c : cases) {
        VValueSingle* value = ParseXMLValue(VString(c.text));
        ASSERT_NE(value, nullptr) << c.text;
        EXPECT_EQ(value->GetValueInfo()->GetKind(), c.kind) << c.text;
        delete value;
    }
    VValueSingle* value = ParseXMLValue(VString("-INF"));
    EXPECT_LT(value->GetReal(), 0);
    EXPECT_TRUE(std::isinf(value->GetReal()));
    delete value;
    value = ParseXMLValue(VString("-2147483648"));
    EXPECT_EQ(value->GetLong8(), -2147483648LL);
    delete value;
    value = ParseXMLValue(VString(" x "));
    VString text;
    value->GetString(text);
    EXPECT_EQ(text.GetLength(), 3);  // the untrimmed text
    delete value;
}

TEST(BagXML, ParseXMLValueReadsUUIDs)
{
    ASSERT_NE(VValue::ValueInfoFromValueKind(VK_UUID), nullptr);
    struct Case { const char* text; unsigned short kind; };
    const Case cases[] = {
        {"0123456789abcdef0123456789ABCDEF", VK_UUID},
        {"01234567-89ab-cdef-0123-456789ABCDEF", VK_UUID},
        {"f1234567-89ab-cdef-0123-456789ABCDEF", VK_UUID},
        {"{a1234567-89ab-cdef-0123-456789ABCDEF}", VK_UUID},
        {"a1234567-89ab-cdef-0123-456789ABCDEF", VK_STRING},
        {"0123456789abcdef0123456789ABCDE", VK_STRING},
    };
    for (const Case& c : cases) {
        VValueSingle* value = ParseXMLValue(VString(c.text));
        EXPECT_EQ(value->GetValueInfo()->GetKind(), c.kind) << c.text;
        delete value;
    }
}

}  // namespace qelt
