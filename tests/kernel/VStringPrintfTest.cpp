#include <gtest/gtest.h>

#include "TestSupport.h"

#include <clocale>
#include <cstdint>
#include <string>

#include "kernel/VCompareOptions.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

using test::S;
using test::Units;

TEST(VStringPrintf, OrdinaryDirectives)
{
    VString s;
    s.Printf("%d%%", 5);
    EXPECT_EQ(Units(s), u"5%");

    VString unit = S(u"s");
    s.Printf("%.2f %S", 1.5, &unit);
    EXPECT_EQ(Units(s), u"1.50 s");

    s.Printf("[%5s|%-3d|%03u|%x|%X|%c|%o]", "ab", 7, 9u, 255u, 255u, 'q', 8);
    EXPECT_EQ(Units(s), u"[   ab|7  |009|ff|FF|q|10]");

    s.Printf("no directive");
    EXPECT_EQ(Units(s), u"no directive");
    s.Printf("");
    EXPECT_EQ(Units(s), u"");
}

TEST(VStringPrintf, ArgumentsOfEveryWidthStayInStep)
{
    // Reals travel apart from integers and pointers in the argument list:
    // each directive must take exactly its own type.
    VString name = S(u"N");
    VLong number(42);
    VString s;
    s.Printf("%hhd %hd %ld %lld %zu %jd %g %S %Lg %*d|%.*f|%-*s| %A %p", static_cast<signed char>(-1),
             static_cast<short>(-2), -3L, -4LL, static_cast<size_t>(5), static_cast<intmax_t>(6), 0.5, &name, 2.5L, 4,
             7, 1, 3.14159, 3, "x", &number, static_cast<void*>(nullptr));
    EXPECT_EQ(Units(s), u"-1 -2 -3 -4 5 6 0.5 N 2.5    7|3.1|x  | 42 (nil)");

    s.Printf("%e %S %d %S", 1e3, &name, 9, &name);
    EXPECT_EQ(Units(s), u"1.000000e+03 N 9 N");
}

// Every sequence of three directives of different argument kinds, with
// matching arguments, prints each argument in its place.
struct DirectiveKind {
    const char* directive;
    const char16_t* text;
};
const DirectiveKind kKinds[] = {{"%d", u"7"},   {"%lld", u"-8"}, {"%.1f", u"0.5"}, {"%s", u"s"},
                                {"%S", u"V"},   {"%A", u"3"},    {"%*d", u" 5"}};
const VString kStringArg = VString("V");
const VLong kValueArg(3);

template <int Depth, class... Args>
std::u16string PrintWithKinds(const std::string& inFormat, const int* inKinds, Args... inArgs)
{
    if constexpr (Depth == 0) {
        VString s;
        s.Printf(inFormat.c_str(), inArgs...);
        return Units(s);
    } else {
        switch (inKinds[0]) {
            case 0:
                return PrintWithKinds<Depth - 1>(inFormat, inKinds + 1, inArgs..., 7);
            case 1:
                return PrintWithKinds<Depth - 1>(inFormat, inKinds + 1, inArgs..., -8LL);
            case 2:
                return PrintWithKinds<Depth - 1>(inFormat, inKinds + 1, inArgs..., 0.5);
            case 3:
                return PrintWithKinds<Depth - 1>(inFormat, inKinds + 1, inArgs..., "s");
            case 4:
                return PrintWithKinds<Depth - 1>(inFormat, inKinds + 1, inArgs..., &kStringArg);
            case 5:
                return PrintWithKinds<Depth - 1>(inFormat, inKinds + 1, inArgs..., &kValueArg);
            default:
                return PrintWithKinds<Depth - 1>(inFormat, inKinds + 1, inArgs..., 2, 5);
        }
    }
}

TEST(VStringPrintf, EverySequenceOfArgumentKinds)
{
    const int count = static_cast<int>(sizeof(kKinds) / sizeof(kKinds[0]));
    for (int a = 0; a < count; ++a) {
        for (int b = 0; b < count; ++b) {
            for (int c = 0; c < count; ++c) {
                const int kinds[3] = {a, b, c};
                std::string format = std::string(kKinds[a].directive) + "|" + kKinds[b].directive + "|" +
                                     kKinds[c].directive;
                std::u16string expected =
                    std::u16string(kKinds[a].text) + u"|" + kKinds[b].text + u"|" + kKinds[c].text;
                EXPECT_EQ(PrintWithKinds<3>(format, kinds), expected) << format;
            }
        }
    }
}

TEST(VStringPrintf, ObjectDirectives)
{
    VString text = S(u"t\u00E9xt");
    VLong value(-8);
    VCompareOptions notAValue;
    VString s;

    s.Printf("<%S>", static_cast<VString*>(nullptr));
    EXPECT_EQ(Units(s), u"<@@invalid VObject@@>");
    s.Printf("<%S>", &value);
    EXPECT_EQ(Units(s), u"<@@invalid VString@@>");
    s.Printf("<%A>", &notAValue);
    EXPECT_EQ(Units(s), u"<@@invalid VValueSingle@@>");
    s.Printf("<%A>", &text);
    EXPECT_EQ(Units(s), u"<t\u00E9xt>");
    s.Printf("<%A>", &value);
    EXPECT_EQ(Units(s), u"<-8>");
    s.Printf("<%V>", &text);
    EXPECT_EQ(Units(s), u"<t\u00E9xt>");

    VString first = S(u"one");
    VString second = S(u"two");
    s.Printf("a %S b %S c", &first, &second);
    EXPECT_EQ(Units(s), u"a one b two c");

    // An escaped percent sign followed by a letter, then a string.
    s.Printf("%%S%S", &first);
    EXPECT_EQ(Units(s), u"%Sone");

    // A null string prints as empty text.
    VString null(true);
    s.Printf("[%S]", &null);
    EXPECT_EQ(Units(s), u"[]");
}

TEST(VStringPrintf, ObjectTextLandsWhereItsDirectiveStands)
{
    // Text of the format that looks like an internal marker is ordinary text.
    VString name = S(u"X");
    VString s;
    s.Printf(";;;0x1;;; %S ;;;", &name);
    EXPECT_EQ(Units(s), u";;;0x1;;; X ;;;");
}

TEST(VStringPrintf, RefusedDirectivesAreCopiedAndStillTakeTheirArgument)
{
    int written = -1;
    VString name = S(u"x");
    VString s;
    s.Printf("%n|%d|%S", &written, 5, &name);
    EXPECT_EQ(Units(s), u"%n|5|x");
    EXPECT_EQ(written, -1);  // %n never writes
    s.Printf("%C|%d|%S", static_cast<wint_t>(0xE9), 6, &name);
    EXPECT_EQ(Units(s), u"%C|6|x");
    s.Printf("%*n|%d", 4, &written, 8);
    EXPECT_EQ(Units(s), u"%*n|8");
    s.Printf("%y%d", 9, 3);
    EXPECT_EQ(Units(s), u"%y3");
    s.Printf("%1$d|%d", 4, 5);
    EXPECT_EQ(Units(s), u"%1$d|5");
    s.Printf("end %");
    EXPECT_EQ(Units(s), u"end %");
}

TEST(VStringPrintf, Utf8TextIsDecoded)
{
    VString s;
    s.Printf("caf\xC3\xA9 %s", "\xE2\x82\xAC");
    EXPECT_EQ(Units(s), u"caf\u00E9 \u20AC");
}

TEST(VStringPrintf, OutputIsBoundedAndWidthsFromArgumentsAreCapped)
{
    std::string big(3000, 'x');
    VString name = S(u"tail");
    VString s;
    s.Printf("%s%S", big.c_str(), &name);
    // The C-library text stops at 1023 bytes; object texts are kept.
    EXPECT_EQ(s.GetLength(), 1023 + 4);
    EXPECT_EQ(Units(s).substr(1023), u"tail");

    s.Printf("%*d", 2000000000, 1);
    EXPECT_EQ(s.GetLength(), 1023);
}

TEST(VStringPrintf, AppendAndSharing)
{
    VString s = S(u"keep:");
    s.AppendPrintf("%d", 1).AppendPrintf("%s", "2");
    EXPECT_EQ(Units(s), u"keep:12");

    VString original = S(u"a text long enough to live in a shared heap block");
    VString copy(original);
    copy.Printf("%d", 3);
    EXPECT_EQ(Units(copy), u"3");
    EXPECT_EQ(Units(original), u"a text long enough to live in a shared heap block");
}

// ---------------------------------------------------------------------------
// Key formatting

class VStringFormat : public ::testing::Test {
protected:
    void SetUp() override
    {
        fBag = new VValueBag;
        fBag->SetAttribute("name", S(u"World"));
        fBag->SetAttribute("n", VLong(7));
        fBag->SetAttribute("empty", VString());
    }
    void TearDown() override { fBag->Release(); }

    std::u16string Formatted(const char16_t* text, bool removeMissing = false)
    {
        VString s = S(text);
        s.Format(fBag, removeMissing);
        return Units(s);
    }

    VValueBag* fBag = nullptr;
};

TEST_F(VStringFormat, Placeholders)
{
    struct Case {
        const char16_t* text;
        bool removeMissing;
        const char16_t* result;
    } cases[] = {
        {u"Hello {name}!", false, u"Hello World!"},
        {u"{{name}}", false, u"{{name}}"},
        {u"{na me}", false, u"{na me}"},
        {u"{}", false, u"{}"},
        {u"{missing}!", false, u"{missing}!"},
        {u"{missing}!", true, u"!"},
        {u"{n}{n}-{name}", false, u"77-World"},
        {u"a{empty}b", false, u"ab"},
        {u"{name", false, u"{name"},
        {u"{{", false, u"{{"},
        {u"{", false, u"{"},
        {u"x{name}", false, u"xWorld"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Formatted(c.text, c.removeMissing), c.result);
}

TEST_F(VStringFormat, KeysTooLongForABagStayAsTheyAre)
{
    std::u16string text = u"{" + std::u16string(400, u'k') + u"}";
    VString s;
    s.FromUniString(reinterpret_cast<const UniChar*>(text.data()), static_cast<int>(text.size()));
    s.Format(fBag, false);
    EXPECT_EQ(Units(s), text);
}

TEST_F(VStringFormat, ReplacedTextIsNotScannedAgain)
{
    fBag->SetAttribute("loop", S(u"{loop}"));
    EXPECT_EQ(Formatted(u"{loop}{name}"), u"{loop}World");
}

TEST(VStringFormatEdge, NothingToDo)
{
    VValueBag* empty = new VValueBag;
    VString s = S(u"{name}");
    s.Format(empty, true);
    EXPECT_EQ(Units(s), u"{name}");
    s.Format(nullptr, true);
    EXPECT_EQ(Units(s), u"{name}");
    empty->Release();
}

}  // namespace
}  // namespace qelt
