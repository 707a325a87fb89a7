#include <gtest/gtest.h>

#include "TestSupport.h"

#include <string>
#include <vector>

#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "values/VArrayString.h"

namespace qelt {
namespace {

using test::S;
using test::Units;

std::vector<std::u16string> Texts(const std::vector<VString>& parts)
{
    std::vector<std::u16string> result;
    for (const VString& part : parts)
        result.push_back(Units(part));
    return result;
}

using Parts = std::vector<std::u16string>;

TEST(VStringSplit, AtAUnit)
{
    struct Case {
        std::u16string text;
        bool keepEmpty;
        bool trim;
        Parts parts;
        bool found;
    } cases[] = {
        {u"a,,b,", false, false, {u"a", u"b"}, true},
        {u"a,,b,", true, false, {u"a", u"", u"b", u""}, true},
        {u"abc", false, false, {u"abc"}, false},
        {u"", true, false, {u""}, false},
        {u"", false, false, {}, false},
        {u",", true, false, {u"", u""}, true},
        {u" a , b ,   ,\tc", false, true, {u"a", u"b", u"\tc"}, true},
        {u" a , b ,   ,\tc", true, true, {u"a", u"b", u"", u"\tc"}, true},
    };
    for (const Case& c : cases) {
        std::vector<VString> parts = {S(u"former")};
        EXPECT_EQ(S(c.text).GetSubStrings(u',', parts, c.keepEmpty, c.trim), c.found);
        EXPECT_EQ(Texts(parts), c.parts);
    }
    std::vector<VString> parts;
    EXPECT_FALSE(VString(true).GetSubStrings(u',', parts, false, false));
    EXPECT_TRUE(parts.empty());
}

TEST(VStringSplit, IntoAnArrayOfStrings)
{
    VArrayString array(3);
    EXPECT_TRUE(S(u"x;y").GetSubStrings(u';', array, false, false));
    ASSERT_EQ(array.GetCount(), 2);
    VString part;
    array.GetString(part, 1);
    EXPECT_EQ(Units(part), u"x");
    array.GetString(part, 2);
    EXPECT_EQ(Units(part), u"y");
}

TEST(VStringSplit, AtAString)
{
    struct Case {
        std::u16string text;
        std::u16string separator;
        bool keepEmpty;
        Parts parts;
        bool found;
    } cases[] = {
        {u"a::b::::c::", u"::", false, {u"a", u"b", u"c"}, true},
        {u"a::b::::c::", u"::", true, {u"a", u"b", u"", u"c", u""}, true},
        {u"::a", u"::", true, {u"", u"a"}, true},
        {u"abc", u"::", true, {u"abc"}, false},
        {u"abc", u"", true, {u"abc"}, false},
        {u"", u"::", true, {}, false},
        {u"oneANDtwoandthree", u"and", false, {u"one", u"two", u"three"}, true},
    };
    for (const Case& c : cases) {
        std::vector<VString> parts = {S(u"former")};
        EXPECT_EQ(S(c.text).GetSubStrings(S(c.separator), parts, c.keepEmpty, false, false), c.found);
        EXPECT_EQ(Texts(parts), c.parts);
    }
    std::vector<VString> parts;
    EXPECT_TRUE(S(u" a | | b ").GetSubStrings(S(u"|"), parts, false, true, false));
    EXPECT_EQ(Texts(parts), (Parts{u"a", u"b"}));
}

TEST(VStringJoin, Parts)
{
    VString s = S(u"former");
    EXPECT_TRUE(s.Join({S(u"x"), S(u"y")}, u','));
    EXPECT_EQ(Units(s), u"x,y");
    EXPECT_TRUE(s.Join({S(u"only")}, S(u"--")));
    EXPECT_EQ(Units(s), u"only");
    EXPECT_TRUE(s.Join({S(u"a"), VString(true), S(u"c")}, S(u"--")));
    EXPECT_EQ(Units(s), u"a----c");
    EXPECT_TRUE(s.Join({}, u','));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_FALSE(s.IsNull());

    VString null(true);
    EXPECT_TRUE(null.Join({S(u"p"), S(u"q")}, VString()));
    EXPECT_FALSE(null.IsNull());
    EXPECT_EQ(Units(null), u"pq");
}

TEST(VStringJoin, PartsSharingTheResultsBuffer)
{
    VString s = S(u"some text in a heap block");
    std::vector<VString> parts = {s, s};
    EXPECT_TRUE(s.Join(parts, S(u"+")));
    EXPECT_EQ(Units(s), u"some text in a heap block+some text in a heap block");
}

TEST(VStringJoin, TooLongIsRefused)
{
    // Copies share one block, so the parts cost no memory; their total
    // length passes the limit of a string.
    VString big;
    std::u16string chunk(1 << 20, u'z');
    big.FromUniString(reinterpret_cast<const UniChar*>(chunk.data()), static_cast<int>(chunk.size()));
    std::vector<VString> parts(2100, big);
    VString s = S(u"unchanged");
    EXPECT_FALSE(s.Join(parts, u','));
    EXPECT_EQ(Units(s), u"unchanged");
}

TEST(VStringTrim, Unit)
{
    struct Case {
        std::u16string text;
        std::u16string result;
    } cases[] = {
        {u"---", u""}, {u"-a-b--", u"a-b"}, {u"ab", u"ab"}, {u"", u""}, {u"a-", u"a"}, {u"-a", u"a"},
    };
    for (const Case& c : cases) {
        VString s = S(c.text);
        VString shared(s);
        s.TrimUniChar(u'-');
        EXPECT_EQ(Units(s), c.result);
        EXPECT_FALSE(s.IsNull());
        EXPECT_EQ(Units(shared), c.text);
    }
    VString null(true);
    null.TrimUniChar(u'-');
    EXPECT_TRUE(null.IsNull());
}

TEST(VStringChecks, ValidityAndDates)
{
    EXPECT_TRUE(S(u"abc").IsStringValid());
    EXPECT_TRUE(VString().IsStringValid());
    EXPECT_TRUE(S(std::u16string(100, u'x')).IsStringValid());

    EXPECT_TRUE(S(u"2024-13-45").IsISODate());
    EXPECT_FALSE(S(u"2024-01-02T00:00:00").IsISODate());
    EXPECT_FALSE(S(u"2024/01/02").IsISODate());
    EXPECT_FALSE(S(u"2024-1-002").IsISODate());
    EXPECT_TRUE(S(u"!!2024-01-02!!").IsNonAmbigousDate());
    EXPECT_FALSE(S(u"!!2024-01-02!").IsNonAmbigousDate());
    EXPECT_FALSE(S(u"2024-01-02!!!!").IsNonAmbigousDate());
    EXPECT_FALSE(S(u"!!2024-01-0x!!").IsNonAmbigousDate());
}

TEST(VStringTemplate, FillsFromAnObject)
{
    VJSONObject* object = new VJSONObject;
    object->SetProperty(S(u"name"), VJSONValue(S(u"Ann")), nullptr);
    object->SetProperty(S(u"n"), VJSONValue(2.0), nullptr);
    object->SetProperty(S(u"none"), VJSONValue(JSON_null), nullptr);

    struct Case {
        std::u16string text;
        std::u16string withObject;
        std::u16string withoutObject;
    } cases[] = {
        {u"Hello {{name}}!", u"Hello Ann!", u"Hello !"},
        {u"{{n}}x{{n}}", u"2x2", u"x"},
        {u"[{{none}}][{{missing}}]", u"[][]", u"[][]"},
        {u"no placeholder", u"no placeholder", u"no placeholder"},
        {u"name}}tail", u"Anntail", u"tail"},
        {u"{{open", u"open", u"open"},
    };
    for (const Case& c : cases) {
        VString result = S(u"former");
        S(c.text).FormatWithTemplate(object, result);
        EXPECT_EQ(Units(result), c.withObject);
        S(c.text).FormatWithTemplate(nullptr, result);
        EXPECT_EQ(Units(result), c.withoutObject);
    }
    object->Release();
}

}  // namespace
}  // namespace qelt
