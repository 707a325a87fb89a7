#include <gtest/gtest.h>

#include "TestSupport.h"

#include <string>
#include <vector>

#include "kernel/VCompareOptions.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"

namespace qelt {
namespace {

using test::S;
using test::Units;

// The raw form of a text: 32-bit length, then the units.
std::vector<char> Raw(const std::u16string& s)
{
    VString text = S(s);
    unsigned long long unused = 0;
    std::vector<char> raw(text.GetSpace(unused));
    text.WriteToPtr(raw.data());
    return raw;
}

TEST(VStringRaw, Comparisons)
{
    EXPECT_TRUE(S(u"abc").EqualToStringRaw(S(u"abc")));
    EXPECT_FALSE(S(u"abc").EqualToStringRaw(S(u"abC")));
    EXPECT_FALSE(S(u"abc").EqualToStringRaw(S(u"abcd")));
    EXPECT_TRUE(VString().EqualToStringRaw(VString(true)));

    EXPECT_EQ(S(u"abc").CompareToStringRaw(S(u"abcd")), CR_SMALLER);
    EXPECT_EQ(S(u"abd").CompareToStringRaw(S(u"abc")), CR_BIGGER);
    EXPECT_EQ(S(std::u16string(u"ab\0x", 4)).CompareToStringRaw(S(std::u16string(u"ab\0y", 4))), CR_EQUAL);
    EXPECT_EQ(VString().CompareToStringRaw(VString()), CR_EQUAL);

    // Long texts are skipped four units at a time: differences and 0 units
    // at every offset around those steps must still decide as unit order.
    for (int length = 1; length <= 13; ++length) {
        for (int at = 0; at < length; ++at) {
            std::u16string base(static_cast<size_t>(length), u'm');
            std::u16string lower = base, higher = base, zeroA = base, zeroB = base;
            lower[static_cast<size_t>(at)] = u'a';
            higher[static_cast<size_t>(at)] = u'\uFFFF';  // above every ASCII unit
            zeroA[static_cast<size_t>(at)] = 0;
            zeroB[static_cast<size_t>(at)] = 0;
            if (at + 1 < length)
                zeroB[static_cast<size_t>(at + 1)] = u'z';  // differs only after the 0
            EXPECT_EQ(S(lower).CompareToStringRaw(S(base)), CR_SMALLER) << length << " " << at;
            EXPECT_EQ(S(higher).CompareToStringRaw(S(base)), CR_BIGGER) << length << " " << at;
            EXPECT_EQ(S(zeroA).CompareToStringRaw(S(zeroB)), CR_EQUAL) << length << " " << at;
            EXPECT_EQ(S(zeroA).CompareToStringRaw(S(base)), CR_SMALLER) << length << " " << at;
        }
        std::u16string text(static_cast<size_t>(length), u'q');
        EXPECT_EQ(S(text).CompareToStringRaw(S(text + u"r")), CR_SMALLER);
        EXPECT_EQ(S(text + u"r").CompareToStringRaw(S(text)), CR_BIGGER);
    }

    EXPECT_EQ(S(u"ABC").CompareToStringRawCase(S(u"abc")), CR_EQUAL);
    EXPECT_EQ(S(u"Z").CompareToStringRawCase(S(u"\u005B")), CR_BIGGER);
    EXPECT_NE(S(u"\u00C9").CompareToStringRawCase(S(u"\u00E9")), CR_EQUAL);
}

TEST(VStringRaw, USASCIICString)
{
    EXPECT_TRUE(S(u"abc").EqualToUSASCIICString("abc"));
    EXPECT_FALSE(S(u"abc").EqualToUSASCIICString("ab"));
    EXPECT_FALSE(S(u"abc").EqualToUSASCIICString("abcd"));
    EXPECT_TRUE(VString().EqualToUSASCIICString(""));
    // Bytes from 0x80 are sign-extended.
    EXPECT_TRUE(S(u"\uFFE9").EqualToUSASCIICString("\xE9"));
    EXPECT_FALSE(S(u"\u00E9").EqualToUSASCIICString("\xE9"));
}

TEST(VStringRaw, BeginsEnds)
{
    EXPECT_TRUE(S(u"abcd").BeginsWithRawString(S(u"ab")));
    EXPECT_TRUE(S(u"abcd").BeginsWithRawString(VString()));
    EXPECT_TRUE(S(u"abcd").BeginsWithRawString(S(u"abcd")));  // an equal string
    EXPECT_TRUE(S(u"abcd").EndsWithRawString(S(u"abcd")));
    EXPECT_FALSE(S(u"ab").BeginsWithRawString(S(u"abc")));
    EXPECT_FALSE(S(u"abcd").BeginsWithRawString(S(u"AB")));
    EXPECT_TRUE(S(u"abcd").EndsWithRawString(S(u"cd")));
    EXPECT_FALSE(S(u"abcd").EndsWithRawString(S(u"bc")));
    EXPECT_FALSE(S(u"cd").EndsWithRawString(S(u"abcd")));
}

TEST(VStringRaw, Find)
{
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
        int start;
        int result;
    } cases[] = {
        {u"abcde", u"", 3, 3},      {u"abcde", u"", 7, 0},     {u"", u"", 1, 1},          {u"", u"a", 1, 0},
        {u"abcabd", u"abd", 1, 4},  {u"abcabd", u"abc", 2, 0}, {u"aaab", u"aab", 1, 2},   {u"abc", u"c", 3, 3},
        {u"abc", u"c", 4, 0},       {u"abc", u"a", 0, 0},      {u"abababc", u"ababc", 1, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(S(c.text).FindRawString(S(c.pattern), c.start), c.result) << c.start;

    // Patterns of 256 units and more use a table off the stack.
    std::u16string longText(1000, u'a');
    std::u16string pattern(300, u'a');
    pattern.back() = u'b';
    EXPECT_EQ(S(longText + u"b").FindRawString(S(pattern), 1), 1001 - 299 + 1 - 1);
    EXPECT_EQ(S(longText).FindRawString(S(pattern), 1), 0);
}

TEST(VStringRaw, FindUniChar)
{
    VString s = S(u"abcabc");
    EXPECT_EQ(s.FindUniChar('c', 1, false), 3);
    EXPECT_EQ(s.FindUniChar('c', 4, false), 6);
    EXPECT_EQ(s.FindUniChar('c', 5, true), 3);
    EXPECT_EQ(s.FindUniChar('a', 0, true), 1);
    EXPECT_EQ(s.FindUniChar('b', 0, true), 0);
    EXPECT_EQ(s.FindUniChar('a', 7, false), 0);
    EXPECT_EQ(VString().FindUniChar('a', 1, false), 0);
}

TEST(VStringRaw, Exchange)
{
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
        const char16_t* replacement;
        int start;
        int count;
        const char16_t* result;
        int replaced;
    } cases[] = {
        {u"aaaa", u"aa", u"b", 1, 5, u"bb", 2},
        {u"aXa", u"a", u"bb", 1, 9, u"bbXbb", 2},
        {u"abcabc", u"bc", u"XY", 1, 9, u"aXYaXY", 2},
        {u"abcabc", u"bc", u"XY", 3, 9, u"abcaXY", 1},
        {u"abcabcabc", u"abc", u"", 1, 2, u"abc", 2},
        {u"xabcyabcz", u"abc", u"-", 1, 9, u"x-y-z", 2},
        {u"xabcyabcz", u"abc", u"[long]", 1, 1, u"x[long]yabcz", 1},
        {u"xabcyabcz", u"abc", u"[long]", 1, 9, u"x[long]y[long]z", 2},
        {u"abc", u"zz", u"y", 1, 9, u"abc", 0},
        {u"abc", u"b", u"y", 1, 0, u"abc", 0},
    };
    for (const Case& c : cases) {
        VString s = S(c.text);
        VString shared(s);
        EXPECT_EQ(s.ExchangeRawString(S(c.pattern), S(c.replacement), c.start, c.count), c.replaced) << Units(S(c.text)).size();
        EXPECT_EQ(Units(s), std::u16string(c.result));
        EXPECT_EQ(Units(shared), std::u16string(c.text));
    }
}

TEST(VStringRaw, ExchangeManyOccurrences)
{
    // More occurrences than the first list of offsets holds.
    std::u16string text;
    for (int i = 0; i < 3000; ++i)
        text += u"a.";
    VString s = S(text);
    EXPECT_EQ(s.ExchangeRawString(S(u"."), S(u"--"), 1, 0x7FFFFFFF), 3000);
    EXPECT_EQ(s.GetLength(), 9000);
    EXPECT_EQ(Units(s).substr(0, 6), u"a--a--");
}

TEST(VStringRaw, ExchangeWithItsOwnText)
{
    VString s = S(u"abab");
    VString pattern = s;  // shares the buffer
    EXPECT_EQ(s.ExchangeRawString(pattern, S(u"x"), 1, 5), 1);
    EXPECT_EQ(Units(s), u"x");
}

// Without an international manager the collation members answer as the raw
// ones, with A-Z folded when diacritical marks do not count.
TEST(VStringCollation, EqualityAndOrder)
{
    EXPECT_TRUE(S(u"abc").EqualToString(S(u"ABC"), false));
    EXPECT_FALSE(S(u"abc").EqualToString(S(u"ABC"), true));
    EXPECT_FALSE(S(u"abc").EqualToString(S(u"abcd"), false));
    EXPECT_EQ(S(u"abc").CompareToString(S(u"abd")), CR_SMALLER);
    EXPECT_EQ(S(u"b").CompareToString(S(u"A")), CR_BIGGER);
    EXPECT_EQ(S(u"abc").CompareToString(S(u"ABC"), false), CR_EQUAL);
    EXPECT_EQ(VString().CompareToString(S(u"a")), CR_SMALLER);
    EXPECT_EQ(S(u"a").CompareToString(VString()), CR_BIGGER);
    EXPECT_EQ(VString().CompareToString(VString()), CR_EQUAL);
}

TEST(VStringCollation, Like)
{
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
        bool equal;
    } cases[] = {
        {u"Bonjour", u"B@r", true},   {u"Bonjour", u"B@x", false}, {u"Bonjour", u"@jour@", true},
        {u"Bonjour", u"@", true},     {u"Bonjour", u"Bon", false}, {u"abc", u"a@", true},
        {u"abc", u"ABC", true},       {u"", u"@", true},           {u"aaaaaaaaaaaaaaaaaaab", u"@a@a@a@a@a@b", true},
        {u"aaaaaaaaaaaaaaaaaaaa", u"@a@a@a@a@a@b", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(S(c.text).EqualToString_Like(S(c.pattern), false), c.equal) << Units(S(c.pattern)).size();
        EXPECT_EQ(S(c.text).CompareToString_Like(S(c.pattern), false) == CR_EQUAL, c.equal);
    }
    EXPECT_FALSE(S(u"abc").EqualToString_Like(S(u"ABC"), true));
    EXPECT_EQ(S(u"Bonjour").CompareToString_Like(S(u"Bon"), false), CR_BIGGER);
}

TEST(VStringCollation, SearchAndEnds)
{
    VString s = S(u"Report.TXT");
    EXPECT_TRUE(s.BeginsWith(S(u"rep")));
    EXPECT_FALSE(s.BeginsWith(S(u"rep"), true));
    EXPECT_TRUE(s.EndsWith(S(u".txt")));
    EXPECT_FALSE(s.EndsWith(S(u"Report.TXT!")));
    EXPECT_TRUE(s.BeginsWith(VString()));
    EXPECT_TRUE(s.BeginsWith(s));  // an equal string
    EXPECT_TRUE(s.BeginsWith(VString(s), true));
    EXPECT_EQ(s.Find(S(u"t"), 1), 6);
    EXPECT_EQ(s.Find(S(u"t"), 7), 8);
    EXPECT_EQ(s.Find(S(u"t"), 7, true), 0);
    EXPECT_EQ(s.Find(S(u"zz"), 1), 0);
    EXPECT_EQ(s.Find(S(u"t"), 99), 0);
}

TEST(VStringCollation, Exchange)
{
    VString s = S(u"One one ONE two");
    VString shared(s);
    s.Exchange(S(u"one"), S(u"1"), 1, 0x7FFFFFFF, false, nullptr);
    EXPECT_EQ(Units(s), u"1 1 1 two");
    EXPECT_EQ(Units(shared), u"One one ONE two");

    s = S(u"one one one");
    s.Exchange(S(u"one"), S(u"[x]"), 2, 1, false, nullptr);
    EXPECT_EQ(Units(s), u"one [x] one");

    s = S(u"abc");
    s.Exchange(S(u"zz"), S(u"y"), 1, 9, false, nullptr);
    EXPECT_EQ(Units(s), u"abc");
}

TEST(VStringCollation, ValueComparisons)
{
    VString a = S(u"abc"), b = S(u"ABD"), prefix = S(u"ab");
    EXPECT_EQ(a.CompareToSameKind(&b, false), CR_SMALLER);
    EXPECT_TRUE(a.EqualToSameKind(&a, true));
    EXPECT_EQ(a.CompareBeginingToSameKind(&prefix, false), CR_EQUAL);
    EXPECT_EQ(prefix.CompareBeginingToSameKind(&a, false), CR_SMALLER);

    std::vector<char> raw = Raw(u"abd");
    EXPECT_EQ(a.CompareToSameKindPtr(raw.data(), false), CR_SMALLER);
    EXPECT_EQ(a.Swap_CompareToSameKindPtr(raw.data(), false), CR_BIGGER);
    EXPECT_FALSE(a.EqualToSameKindPtr(raw.data(), false));
    std::vector<char> rawPrefix = Raw(u"AB");
    EXPECT_EQ(a.CompareBeginingToSameKindPtr(rawPrefix.data(), false), CR_EQUAL);
    EXPECT_EQ(prefix.IsTheBeginingToSameKindPtr(raw.data(), false), CR_EQUAL);

    std::vector<char> pattern = Raw(u"a@");
    EXPECT_TRUE(a.EqualToSameKindPtr_Like(pattern.data(), false));
    EXPECT_EQ(a.CompareToSameKindPtr_Like(pattern.data(), false), CR_EQUAL);
    VString star = S(u"@c");
    EXPECT_TRUE(a.EqualToSameKind_Like(&star, false));

    VCompareOptions options;
    options.SetIntlMgr(nullptr);
    options.SetBeginsWith(true);
    EXPECT_EQ(a.CompareToSameKindWithOptions(&prefix, options), CR_EQUAL);
    options.SetBeginsWith(false);
    EXPECT_EQ(a.CompareToSameKindWithOptions(&prefix, options), CR_BIGGER);
    options.SetLike(true);
    EXPECT_TRUE(a.EqualToSameKindWithOptions(&star, options));
    options.SetDiacritical(true);
    EXPECT_FALSE(a.EqualToSameKindPtrWithOptions(Raw(u"A@").data(), options));

    EXPECT_EQ(VString::sInfo.CompareTwoPtrToData(raw.data(), rawPrefix.data(), false), CR_BIGGER);
    EXPECT_EQ(VString::sInfo.CompareTwoPtrToDataBegining(Raw(u"ABc").data(), rawPrefix.data(), false), CR_EQUAL);
    EXPECT_EQ(VString::sInfo.CompareTwoPtrToData_Like(raw.data(), pattern.data(), false), CR_EQUAL);
}

// With a manager given through the options the collator decides: accents
// do not count without diacritical sensitivity.
TEST(VStringCollation, OptionsWithAManagerUseItsCollator)
{
    VIntlMgr* intl = VIntlMgr::Create(1033, 1033, 1);
    ASSERT_NE(intl, nullptr);
    VString accented = S(u"\u00E9t\u00E9"), plain = S(u"ete");
    VCompareOptions options;
    options.SetIntlMgr(intl);
    EXPECT_TRUE(accented.EqualToSameKindWithOptions(&plain, options));
    EXPECT_EQ(accented.CompareToSameKindWithOptions(&plain, options), CR_EQUAL);
    options.SetDiacritical(true);
    EXPECT_FALSE(accented.EqualToSameKindWithOptions(&plain, options));
    options.SetDiacritical(false);
    options.SetLike(true);
    VString pattern = S(u"E@");
    EXPECT_TRUE(accented.EqualToSameKindWithOptions(&pattern, options));
    intl->Release();
}

TEST(VStringCollation, CompareToOtherKinds)
{
    VString a = S(u"10");
    VString b = S(u"9");
    EXPECT_EQ(a.CompareTo(b), CR_SMALLER);
    EXPECT_TRUE(a.EqualTo(S(u"10")));
}

TEST(VStringHash, Values)
{
    EXPECT_EQ(VString().GetHashValue(), 0u);
    // "ab": h = 2, then 2*257+'a', then *257+'b'; plus h << 2.
    unsigned int h = 2;
    h = h * 257 + 'a';
    h = h * 257 + 'b';
    EXPECT_EQ(S(u"ab").GetHashValue(), h + (h << 2));

    // Only the first and the last 8 units of a longer text count.
    std::u16string a(17, u'x'), b(17, u'x'), c(17, u'x');
    b[8] = u'y';
    c[7] = u'y';
    EXPECT_EQ(S(a).GetHashValue(), S(b).GetHashValue());
    EXPECT_NE(S(a).GetHashValue(), S(c).GetHashValue());
}

TEST(VStringHash, Similarity)
{
    EXPECT_DOUBLE_EQ(S(u"abcd").SimilarToString(S(u"acd")), 0.75);
    EXPECT_EQ(S(u"abc").SimilarToString(VString()), 0);
    EXPECT_EQ(VString().SimilarToString(S(u"abc")), 0);
    EXPECT_DOUBLE_EQ(S(u"abc").SimilarToString(S(u"abc")), 1.0);
    EXPECT_DOUBLE_EQ(S(u"ab").SimilarToString(S(u"xaxbx")), 1.0);
}

}  // namespace
}  // namespace qelt
