#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/PlatLocale.h"

namespace qelt::plat {

namespace {

struct LocaleHolder {
    explicit LocaleHolder(PlatLocale* inLocale) : fLocale(inLocale) {}
    ~LocaleHolder()
    {
        if (fLocale != nullptr)
            fLocale->Release();
    }
    PlatLocale* fLocale;
};

}  // namespace

TEST(PlatLocale, PreferredLanguagesInEnvironmentOrder)
{
    std::vector<std::string> list = PreferredLanguagesFromValues("fr_CA:de", "C", "it_IT.UTF-8", "es_ES@euro");
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0], "fr_CA");
    EXPECT_EQ(list[1], "de");
    EXPECT_EQ(list[2], "it_IT");
    EXPECT_EQ(list[3], "es_ES");

    EXPECT_TRUE(PreferredLanguagesFromValues(nullptr, "POSIX", "", "C.UTF-8").empty());
    list = PreferredLanguagesFromValues("::", nullptr, nullptr, "pt_BR.UTF-8");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], "pt_BR");
}

TEST(PlatLocale, CanonicalLanguageIdentifiers)
{
    struct {
        const char* in;
        const char* out;
    } cases[] = {{"fr_CA", "fr-CA"},        {"fr-ca", "fr-CA"},     {"en", "en"},
                 {"zh_CN", "zh-Hans"},      {"zh_TW", "zh-Hant"},   {"zh_HK", "zh-HK"},
                 {"zh-Hans-CN", "zh-Hans-CN"}, {"de_DE.UTF-8", "de-DE"}, {"C", ""},
                 {"", ""},                  {"!!", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(CanonicalLanguageIdentifier(c.in), c.out) << c.in;
}

TEST(PlatLocale, NumberSymbolsAndDatePatterns)
{
    LocaleHolder fr(PlatLocale::Create("fr-FR"));
    ASSERT_NE(fr.fLocale, nullptr);
    EXPECT_EQ(fr.fLocale->GetLanguageCode(), "fr");
    std::u16string decimal, grouping, currency;
    ASSERT_TRUE(fr.fLocale->GetNumberSymbols(decimal, grouping, currency));
    EXPECT_EQ(decimal, u",");
    EXPECT_EQ(currency, u"\u20AC");

    std::unique_ptr<PlatDateFormatter> date(PlatDateFormatter::Create(fr.fLocale, 1, 0));
    ASSERT_TRUE(date);
    EXPECT_EQ(date->GetPattern(), u"dd/MM/y");
    date->SetGMT(true);
    // 2024-03-05 07:08:09 UTC
    const double instant = 1709622489000.0;
    EXPECT_EQ(date->Format(instant), u"05/03/2024");

    std::unique_ptr<PlatDateFormatter> none(PlatDateFormatter::Create(fr.fLocale, 0, 0));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->GetPattern().empty());
    EXPECT_TRUE(none->Format(instant).empty());
    ASSERT_TRUE(none->SetPattern(u"yyyy-MM-dd HH:mm"));
    none->SetGMT(true);
    EXPECT_EQ(none->Format(instant), u"2024-03-05 07:08");

    std::vector<std::u16string> names;
    ASSERT_TRUE(none->GetWeekdayNames(false, names));
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names[0], u"dimanche");
    ASSERT_TRUE(none->GetMonthNames(false, names));
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names[2], u"mars");

    LocaleHolder en(PlatLocale::Create("en-US"));
    std::unique_ptr<PlatDateFormatter> skeleton(PlatDateFormatter::Create(en.fLocale, 0, 0));
    ASSERT_TRUE(skeleton->SetPatternFromSkeleton(u"yMd"));
    skeleton->SetGMT(true);
    EXPECT_EQ(skeleton->Format(instant), u"3/5/2024");
    std::u16string am, pm;
    ASSERT_TRUE(skeleton->GetAMPMSymbols(am, pm));
    EXPECT_EQ(am, u"AM");
    EXPECT_EQ(pm, u"PM");
}

TEST(PlatLocale, CollatorStrengths)
{
    LocaleHolder en(PlatLocale::Create("en-US"));
    std::unique_ptr<PlatCollator> strict(PlatCollator::Create(en.fLocale, true));
    std::unique_ptr<PlatCollator> loose(PlatCollator::Create(en.fLocale, false));
    ASSERT_TRUE(strict && loose);
    const std::u16string a = u"resume", b = u"R\u00C9SUM\u00C9", full = u"\uFF52\uFF45\uFF53\uFF55\uFF4D\uFF45";
    EXPECT_EQ(loose->Compare(a.data(), 6, b.data(), 6), 0);
    EXPECT_NE(strict->Compare(a.data(), 6, b.data(), 6), 0);
    // Width never counts.
    EXPECT_EQ(strict->Compare(a.data(), 6, full.data(), 6), 0);
    EXPECT_EQ(loose->Compare(a.data(), 6, full.data(), 6), 0);
    const std::u16string x = u"abc", y = u"abd";
    EXPECT_EQ(strict->Compare(x.data(), 3, y.data(), 3), -1);
    EXPECT_EQ(strict->Compare(y.data(), 3, x.data(), 3), 1);
}

TEST(PlatLocale, SearchGivesStartAndLengthInTheSearchedText)
{
    LocaleHolder en(PlatLocale::Create("en-US"));
    std::unique_ptr<PlatCollator> loose(PlatCollator::Create(en.fLocale, false));
    std::unique_ptr<PlatCollator> strict(PlatCollator::Create(en.fLocale, true));
    // "cafe" + combining acute: the match covers five units of the text.
    const std::u16string text = u"le cafe\u0301 noir", pattern = u"CAF\u00C9";
    int start = -1, length = -1;
    ASSERT_TRUE(loose->Find(text.data(), static_cast<int>(text.size()), pattern.data(), 4, start, length));
    EXPECT_EQ(start, 3);
    EXPECT_EQ(length, 5);
    EXPECT_FALSE(strict->Find(text.data(), static_cast<int>(text.size()), pattern.data(), 4, start, length));
    const std::u16string lower = u"caf\u00E9";
    ASSERT_TRUE(strict->Find(text.data(), static_cast<int>(text.size()), lower.data(), 4, start, length));
    EXPECT_EQ(start, 3);
    EXPECT_EQ(length, 5);
    // Full-width text found by its usual form, at its own position.
    const std::u16string wide = u"x\uFF21\uFF22\uFF23y", abc = u"ABC";
    ASSERT_TRUE(strict->Find(wide.data(), 5, abc.data(), 3, start, length));
    EXPECT_EQ(start, 1);
    EXPECT_EQ(length, 3);
    EXPECT_FALSE(strict->Find(wide.data(), 5, abc.data(), 0, start, length));
    EXPECT_FALSE(strict->Find(wide.data(), 0, abc.data(), 3, start, length));
}

TEST(PlatLocale, CaseMappingNeverOverflows)
{
    // "ß" upper-cases to "SS": the result is longer than the source.
    const std::u16string text = u"stra\u00DFe";
    char16_t small[4] = {u'#', u'#', u'#', u'#'};
    int length = 0;
    ASSERT_TRUE(ChangeCase(text.data(), 6, small, 3, length, true));
    EXPECT_EQ(length, 7);
    EXPECT_EQ(std::u16string(small, 3), u"STR");
    EXPECT_EQ(small[3], u'#');
    char16_t big[16];
    ASSERT_TRUE(ChangeCase(text.data(), 6, big, 16, length, true));
    EXPECT_EQ(std::u16string(big, static_cast<size_t>(length)), u"STRASSE");
    ASSERT_TRUE(ChangeCase(big, length, big, 16, length, false));
    EXPECT_FALSE(ChangeCase(text.data(), 0, big, 16, length, true));
    EXPECT_EQ(length, 0);
    // Preflight with no target at all.
    ASSERT_TRUE(ChangeCase(text.data(), 6, nullptr, 0, length, true));
    EXPECT_EQ(length, 7);
}

TEST(PlatLocale, WidthFolding)
{
    const std::u16string text = u"\uFF21\u3000\uFF76\uFFE5a";
    ASSERT_TRUE(HasWidthVariants(text.data(), 5));
    EXPECT_FALSE(HasWidthVariants(u"abc", 3));
    char16_t out[5];
    FoldWidth(text.data(), 5, out);
    EXPECT_EQ(std::u16string(out, 5), u"A \u30AB\u00A5a");
}

}  // namespace qelt::plat
