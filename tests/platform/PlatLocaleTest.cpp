#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/PlatLocale.h"

#include <unicode/locid.h>
#include <unicode/ucol.h>
#include <unicode/usearch.h>

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

// Plain ASCII is searched without a search object where the locale keeps
// the root collation for it: the answers must be those of the collation
// search, in locales that keep it and in locales that join letters (Danish
// "aa"), pair "I" with a dotless i (Turkish), order by code (POSIX), read
// digits as numbers or ignore punctuation.
TEST(PlatLocale, SearchInPlainASCIIAnswersAsTheCollationSearch)
{
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
    };
    const Case table[] = {
        {u"Disk:a:Resources:en.lproj:Localizable.strings", u".strings"},
        {u"Disk:a:Resources:en.lproj:Updater.XLF", u".xlf"},
        {u"Disk:a:Resources:en.lproj:", u".xlf:"},
        {u"Disk:a:ftxt", u".txt"},
        {u"FILE.XLF", u".xlf"},
        {u"saab", u"ab"},
        {u"Cache", u"ch"},
        {u"x 10 y", u"010"},
        {u"a-b c", u"ab"},
        {u"a.b", u"A.B"},
    };
    // Texts and patterns drawn from the characters that tailorings touch
    // most, then from all of printable ASCII.
    std::mt19937 random(35);
    std::vector<std::pair<std::u16string, std::u16string>> cases;
    for (const Case& c : table)
        cases.emplace_back(c.text, c.pattern);
    const std::u16string tricky = u"aAiIchCH.: -_01";
    for (int round = 0; round < 400; ++round) {
        const bool wide = round % 2 == 1;
        auto draw = [&](int length) {
            std::u16string text;
            for (int i = 0; i < length; ++i)
                text.push_back(wide ? static_cast<char16_t>(0x20 + random() % 95) : tricky[random() % tricky.size()]);
            return text;
        };
        std::u16string text = draw(1 + static_cast<int>(random() % 8));
        std::u16string pattern = draw(1 + static_cast<int>(random() % 3));
        cases.emplace_back(text, pattern);
    }

    for (const char* tag : {"und", "en-US", "de", "fr-CA", "tr", "da", "en-US-u-va-posix", "en-u-kn", "en-u-ka-shifted"}) {
        LocaleHolder locale(PlatLocale::Create(tag));
        ASSERT_NE(locale.fLocale, nullptr) << tag;
        for (bool diacritical : {false, true}) {
            std::unique_ptr<PlatCollator> collator(PlatCollator::Create(locale.fLocale, diacritical));
            ASSERT_TRUE(collator) << tag;
            // The reference: a collation search of the same locale and strength.
            UErrorCode status = U_ZERO_ERROR;
            const std::string name = icu::Locale::forLanguageTag(tag, status).getName();
            std::unique_ptr<UCollator, void (*)(UCollator*)> held(ucol_open(name.c_str(), &status), ucol_close);
            UCollator* reference = held.get();
            ASSERT_TRUE(U_SUCCESS(status)) << tag;
            ucol_setStrength(reference, diacritical ? UCOL_TERTIARY : UCOL_PRIMARY);
            ucol_setAttribute(reference, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
            ASSERT_TRUE(U_SUCCESS(status)) << tag;
            for (const auto& [text, pattern] : cases) {
                const int textLength = static_cast<int>(text.size()), patternLength = static_cast<int>(pattern.size());
                // A search the library refuses (a pattern of ignored
                // characters only) finds nothing.
                status = U_ZERO_ERROR;
                std::unique_ptr<UStringSearch, void (*)(UStringSearch*)> search(
                    usearch_openFromCollator(pattern.data(), patternLength, text.data(), textLength, reference, nullptr,
                                             &status),
                    usearch_close);
                const int32_t expected = U_SUCCESS(status) ? usearch_first(search.get(), &status) : USEARCH_DONE;
                const int32_t expectedLength =
                    U_SUCCESS(status) && expected != USEARCH_DONE ? usearch_getMatchedLength(search.get()) : 0;
                int start = -1, length = -1;
                const bool found = collator->Find(text.data(), textLength, pattern.data(), patternLength, start, length);
                const std::string where = std::string(tag) + (diacritical ? " strict: \"" : " loose: \"") +
                                          std::string(text.begin(), text.end()) + "\" in \"" +
                                          std::string(pattern.begin(), pattern.end()) + "\"";
                ASSERT_EQ(found, U_SUCCESS(status) && expected != USEARCH_DONE) << where;
                if (found) {
                    EXPECT_EQ(start, expected) << where;
                    EXPECT_EQ(length, expectedLength) << where;
                }
            }
        }
    }
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
