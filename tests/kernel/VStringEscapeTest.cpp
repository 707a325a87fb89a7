#include <gtest/gtest.h>

#include "TestSupport.h"

#include <string>

#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "json/VJSONWriter.h"

namespace qelt {
namespace {

using test::S;
using test::Units;

std::u16string ToXML(const std::u16string& text, bool controls)
{
    VString s = S(text);
    s.TranscodeToXML(controls);
    return Units(s);
}

std::u16string FromXML(const std::u16string& text)
{
    VString s = S(text);
    s.TranscodeFromXML();
    return Units(s);
}

TEST(VStringXML, Escaping)
{
    EXPECT_EQ(ToXML(u"a&b<c>d\"e'f", false), u"a&amp;b&lt;c&gt;d&quot;e&apos;f");
    EXPECT_EQ(ToXML(u"plain", false), u"plain");
    EXPECT_EQ(ToXML(u"", true), u"");
    const std::u16string controls{u'\t', u'\n', u'\r', 1, 31, 127, u'x'};
    EXPECT_EQ(ToXML(controls, false), controls);
    EXPECT_EQ(ToXML(controls, true), (std::u16string{u'\t', u'\n', u'\r'} + u"&#x01;&#x1F;&#x7F;x"));
}

TEST(VStringXML, TextWithoutChangesIsNotTouched)
{
    VString s = S(u"nothing to escape here, really nothing at all");
    VString copy(s);  // shares the block
    s.SetDirty(false);
    s.TranscodeToXML(true);
    EXPECT_FALSE(s.IsDirty());
    EXPECT_EQ(s.GetCPointer(), copy.GetCPointer());
    s.TranscodeFromXML();
    EXPECT_FALSE(s.IsDirty());
    EXPECT_EQ(s.GetCPointer(), copy.GetCPointer());
}

TEST(VStringXML, Unescaping)
{
    struct Case {
        std::u16string text;
        std::u16string result;
    } cases[] = {
        {u"&apos;&quot;", u"'\""},
        {u"&amp;&lt;&gt;", u"&<>"},
        {u"&#x41;&#x0041;&#x61;", u"AAa"},
        {u"&#x;", u"&#x;"},
        {u"&#x0;", u"&#x0;"},
        {u"&#x10000;", u"\U00010000"},
        {u"&#x1F600;", u"\U0001F600"},
        {u"&#x10FFFF;", u"\U0010FFFF"},
        {u"&#x110000;", u"&#x110000;"},
        {u"&#x100000000000041;", u"&#x100000000000041;"},
        {u"&#xD800;&#xDFFF;", u"&#xD800;&#xDFFF;"},
        {u"&#x0000;", u"&#x0000;"},
        {u"&#X41;&#65;&AMP;&nbsp;", u"&#X41;&#65;&AMP;&nbsp;"},
        {u"&#x41", u"&#x41"},
        {u"ab&amp", u"ab&amp"},
        {u"&amp;lt;", u"&lt;"},
        {u"&", u"&"},
        {u"x&#x00000000000000000000000041;y", u"xAy"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FromXML(c.text), c.result);
}

TEST(VStringXML, ValueForms)
{
    VString source = S(u"<a href='x'>");
    VString xml;
    source.GetXMLString(xml, 0);
    EXPECT_EQ(Units(xml), u"&lt;a href=&apos;x&apos;&gt;");
    VString back;
    EXPECT_TRUE(back.FromXMLString(xml));
    EXPECT_EQ(Units(back), u"<a href='x'>");
}

std::u16string ToJSON(const std::u16string& text, unsigned int options)
{
    VString out = S(u"former contents");
    EXPECT_EQ(S(text).GetJSONString(out, options), VE_OK);
    return Units(out);
}

std::u16string FromJSON(const std::u16string& text, unsigned int options = 0)
{
    VString s = S(u"former");
    EXPECT_EQ(s.FromJSONString(S(text), options), VE_OK);
    EXPECT_FALSE(s.IsNull());
    return Units(s);
}

TEST(VStringJSON, Escaping)
{
    const std::u16string mixed{u'"', u' ', u'\\', u' ', u'/', u' ', u'\t', u' ', 1};
    EXPECT_EQ(ToJSON(mixed, 0), u"\\\" \\\\ / \\t \\u0001");
    EXPECT_EQ(ToJSON(u"\b\f\n\r\x7F", 0), u"\\b\\f\\n\\r\\u007F");
    EXPECT_EQ(ToJSON(u"it's & co", 0), u"it's & co");
    EXPECT_EQ(ToJSON(u"it's & co", 0x400), u"it\\u0027s \\u0026 co");
    EXPECT_EQ(ToJSON(u"a\"b", 0x1), u"\"a\\\"b\"");
    EXPECT_EQ(ToJSON(u"a\"b", 0x11), u"\"a\"b\"");
    EXPECT_EQ(ToJSON(u"a\"b", 0x10), u"a\"b");
    EXPECT_EQ(ToJSON(u"", 0x1), u"\"\"");
    EXPECT_EQ(ToJSON(u"", 0), u"");
    EXPECT_EQ(ToJSON(u"\u00E9\U0001F600", 0), u"\u00E9\U0001F600");
}

TEST(VStringJSON, EscapingIntoItself)
{
    VString s = S(u"a\"b");
    EXPECT_EQ(s.GetJSONString(s, kJSONWriteQuoted), VE_OK);
    EXPECT_EQ(Units(s), u"\"a\\\"b\"");
}

TEST(VStringJSON, AppendingGivesWhatEscapingGivesAfterTheTextThere)
{
    const std::u16string texts[] = {u"", u"plain", u"a\"b\\c/\t\x01\x7F", u"it's & co", u"\u00E9\U0001F600\n"};
    const unsigned int options[] = {0, 0x1, 0x10, 0x11, 0x400, 0x401};
    for (const std::u16string& text : texts) {
        for (unsigned int option : options) {
            VString out = S(u"before:");
            EXPECT_EQ(S(text).AppendJSONStringTo(out, option), VE_OK);
            EXPECT_TRUE(Units(out) == u"before:" + ToJSON(text, option)) << option;
        }
    }
    // Into itself: the text as it was before the append is what is appended.
    VString self = S(u"x\"");
    EXPECT_EQ(self.AppendJSONStringTo(self, 0x1), VE_OK);
    EXPECT_EQ(Units(self), u"x\"\"x\\\"\"");
}

TEST(VStringJSON, Unescaping)
{
    struct Case {
        std::u16string text;
        std::u16string result;
    } cases[] = {
        {u"\\\" \\\\ \\/ \\t \\u0001", std::u16string{u'"', u' ', u'\\', u' ', u'/', u' ', u'\t', u' ', 1}},
        {u"\\b\\f\\n\\r", u"\b\f\n\r"},
        {u"\\u00e9\\u00E9", u"\u00E9\u00E9"},
        {u"\\ud83d\\ude00", u"\U0001F600"},
        {u"end\\", u"end"},
        {u"\\u123", u"u123"},
        {u"\\uZ041", u"A"},
        {u"\\u0Z41", u"A"},
        {u"\\q", u"q"},
        {u"", u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FromJSON(c.text), c.result);
    EXPECT_EQ(FromJSON(u"\\n", 0x10), u"\\n");
}

TEST(VStringJSON, RoundTrip)
{
    std::u16string all;
    for (char16_t c = 0; c < 0x90; ++c)
        all.push_back(c);
    all += u"\U0001F600\uFFFF";
    VString json;
    ASSERT_EQ(S(all).GetJSONString(json, kJSONWriteEscapeAmpApos), VE_OK);
    VString back;
    back.FromJSONString(json, 0);
    EXPECT_EQ(Units(back), all);
}

TEST(VStringJSON, JSONValues)
{
    VJSONValue value;
    VString(true).GetJSONValue(value, 0);
    EXPECT_TRUE(value.IsNull());
    S(u"abc").GetJSONValue(value, 0);
    EXPECT_EQ(value.GetType(), JSON_string);

    VString s;
    EXPECT_EQ(s.FromJSONValue(value), VE_OK);
    EXPECT_EQ(Units(s), u"abc");
    EXPECT_EQ(s.FromJSONValue(VJSONValue(2.5)), VE_OK);
    EXPECT_EQ(Units(s), u"2.5");
    EXPECT_EQ(s.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(s.IsNull());
}

TEST(VStringJSON, CleanScriptName)
{
    struct Case {
        std::u16string text;
        std::u16string result;
    } cases[] = {
        {u"9lives", u"_9lives"}, {u"my var.name-2", u"myvarname2"}, {u"$el_x", u"$el_x"},
        {u"", u""},              {u"\u00E9t\u00E9", u"t"},          {u"..", u""},
    };
    for (const Case& c : cases) {
        VString out = S(u"former");
        S(c.text).GetCleanJSName(out);
        EXPECT_EQ(Units(out), c.result);
    }
}

}  // namespace
}  // namespace qelt
