#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"
#include "TestSupport.h"

#include <sys/stat.h>

namespace qelt {

namespace {

std::string Str(const VString& inText)
{
    std::string out;
    for (int i = 0; i < inText.GetLength(); ++i)
        out.push_back(static_cast<char>(inText.GetCPointer()[i]));
    return out;
}

struct CodeCase {
    const char* fText;
    bool fPrimary;
    bool fOk;
    unsigned int fDialect;
};

}  // namespace

TEST(DialectTable, LanguageCodeToDialect)
{
    const CodeCase cases[] = {
        {"ar", true, true, 1025},       {"ar", false, true, 1},         {"es", true, true, 1034},
        {"es", false, true, 3082},      {"fr_CA", true, true, 3084},    {"EN-gb", true, true, 2057},
        {"en-US", true, true, 1033},    {"pt-PT", true, true, 1046},    {"zh-TW", true, false, 0xFFFFFFFE},
        {"zh-Hant", true, true, 1028},  {"zh-Hans", true, true, 2052},  {"zh-Hans-CN", true, false, 0xFFFFFFFE},
        {"xx", true, false, 0xFFFFFFFE}, {"en-", true, false, 0xFFFFFFFE}, {"", true, false, 0xFFFFFFFE},
        {"sr-Latn", true, true, 2074},  {"nb-no", true, true, 1044},
    };
    for (const CodeCase& c : cases) {
        unsigned int dialect = 12345;
        bool ok = VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(VString(c.fText), dialect, true, c.fPrimary);
        EXPECT_EQ(ok, c.fOk) << c.fText;
        EXPECT_EQ(dialect, c.fDialect) << c.fText;
    }
}

TEST(DialectTable, TwoTextFormMatchesOnlyTheSubTag)
{
    unsigned int dialect = 0;
    EXPECT_TRUE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode("en", "GB", dialect, false, false));
    EXPECT_EQ(dialect, 2057u);
    // "US" is the region column of 1033, never its subtag.
    EXPECT_FALSE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode("en", "US", dialect, false, false));
    EXPECT_EQ(dialect, 0xFFFFFFFEu);
    EXPECT_TRUE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode("en", "US", dialect, true, false));
    EXPECT_EQ(dialect, 1033u);
    EXPECT_TRUE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode("zh", "Hant", dialect, true, true));
    EXPECT_EQ(dialect, 1028u);
    EXPECT_FALSE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(nullptr, nullptr, dialect, true, true));
}

TEST(DialectTable, CodesOfADialect)
{
    VString s;
    EXPECT_TRUE(VIntlMgr::GetBCP47LanguageCode(1033, s));
    EXPECT_EQ(Str(s), "en-US");
    EXPECT_TRUE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(1033, s, '-'));
    EXPECT_EQ(Str(s), "en");
    EXPECT_TRUE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(2057, s, '-'));
    EXPECT_EQ(Str(s), "en-gb");
    EXPECT_TRUE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(1028, s, '_'));
    EXPECT_EQ(Str(s), "zh_Hant");
    EXPECT_TRUE(VIntlMgr::GetBCP47LanguageCode(94, s) );  // amharic: no region
    EXPECT_EQ(Str(s), "am");

    // Unknown codes clear the text.
    s.FromCString("stale");
    EXPECT_FALSE(VIntlMgr::GetBCP47LanguageCode(1024, s));
    EXPECT_TRUE(s.IsEmpty());
    s.FromCString("stale");
    EXPECT_FALSE(VIntlMgr::GetISOLanguageName(0x7777, s));
    EXPECT_TRUE(s.IsEmpty());

    EXPECT_TRUE(VIntlMgr::GetISO6392LanguageCode(1031, s));
    EXPECT_EQ(Str(s), "ger");
    EXPECT_FALSE(VIntlMgr::GetISO3166RegionCode(94, s));
    EXPECT_STREQ(VIntlMgr::GetISO6391LanguageCode(1050), "hr");
    EXPECT_STREQ(VIntlMgr::GetISO6391LanguageCode(1044), "no");
    EXPECT_EQ(VIntlMgr::GetISO6391LanguageCode(1024), nullptr);
}

TEST(DialectTable, MembershipAndLists)
{
    EXPECT_TRUE(VIntlMgr::IsDialectCode(1078));
    EXPECT_TRUE(VIntlMgr::IsDialectCode(1077));
    EXPECT_FALSE(VIntlMgr::IsDialectCode(1024));

    std::vector<unsigned int> all{7};
    VIntlMgr::GetAllDialects(all);
    ASSERT_EQ(all.size(), 155u);  // appended after the existing entry
    EXPECT_EQ(all[1], 1078u);
    EXPECT_EQ(all.back(), 1077u);

    std::vector<std::pair<VString, unsigned int>> collators;
    VIntlMgr::GetDialectsHavingCollator(collators);
    ASSERT_EQ(collators.size(), 154u);
    int hr1050 = 0;
    for (const auto& entry : collators) {
        if (entry.second == 1050) {
            EXPECT_EQ(Str(entry.first), "hr");
            ++hr1050;
        }
    }
    EXPECT_EQ(hr1050, 2);
}

TEST(DialectTable, ScriptsAndDirection)
{
    EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(1033), 0);
    EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(1041), 1);
    EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(3098), 8);
    EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(1055), 16);
    EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(94), -1);
    EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(1025));
    EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(1037));
    EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(1056));
    EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(1065));
    EXPECT_FALSE(VIntlMgr::IsRightToLeftDialect(1033));
}

TEST(DialectTable, EnglishNames)
{
    unsigned int dialect = 99;
    EXPECT_TRUE(VIntlMgr::GetDialectCodeWithISOLanguageName(VString("Spanish"), dialect));
    EXPECT_EQ(dialect, 1110u);
    EXPECT_TRUE(VIntlMgr::GetDialectCodeWithISOLanguageName(VString("ENGLISH"), dialect));
    EXPECT_EQ(dialect, 1033u);
    dialect = 99;
    EXPECT_FALSE(VIntlMgr::GetDialectCodeWithISOLanguageName(VString("klingon"), dialect));
    EXPECT_EQ(dialect, 99u);  // written only on success
}

TEST(DialectTable, CompareLanguageCodes)
{
    struct {
        const char* a;
        const char* b;
        int score;
    } cases[] = {{"en-us", "en-US", 4}, {"en-us", "en", 3}, {"en", "en-gb", 2},
                 {"en-us", "en-gb", 1}, {"en", "fr", 0},    {"en", "xx", -1}};
    for (const auto& c : cases)
        EXPECT_EQ(VIntlMgr::Compare2RFC3066LanguageCodes(VString(c.a), VString(c.b)), c.score) << c.a << " " << c.b;
}

TEST(DialectTable, LocalizationFolderNames)
{
    std::vector<VString> names;
    VIntlMgr::GetLocalizationFolderNames(1033, names);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(Str(names[0]), "en.lproj");
    EXPECT_EQ(Str(names[1]), "en_US.lproj");
    EXPECT_EQ(Str(names[2]), "English.lproj");

    VIntlMgr::GetLocalizationFolderNames(2057, names);
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(Str(names[0]), "en-gb.lproj");
    EXPECT_EQ(Str(names[1]), "en_gb.lproj");
    EXPECT_EQ(Str(names[2]), "en.lproj");
    EXPECT_EQ(Str(names[3]), "en_GB.lproj");
    EXPECT_EQ(Str(names[4]), "English.lproj");

    VIntlMgr::GetLocalizationFolderNames(0x7777, names);
    EXPECT_TRUE(names.empty());
}

TEST(DialectTable, LocalizationFoldersOnDisk)
{
    std::string root = test::MakeTempFolder("lproj");
    ASSERT_EQ(::mkdir((root + "/en_GB.lproj").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/English.lproj").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/fr.lproj").c_str(), 0755), 0);

    std::vector<VString> folders;
    folders.push_back(VString("kept"));
    EXPECT_FALSE(VIntlMgr::GetLocalizationFolderPathsWithDialect(2057, VString(""), folders));
    ASSERT_EQ(folders.size(), 1u);

    // en_gb (ignoring case) and en_GB (exactly) find the same folder: once.
    EXPECT_TRUE(VIntlMgr::GetLocalizationFolderPathsWithDialect(2057, VString(root.c_str()), folders));
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(Str(folders[1]), root + "/en_GB.lproj");
    EXPECT_EQ(Str(folders[2]), root + "/English.lproj");

    std::vector<VString> none;
    EXPECT_FALSE(VIntlMgr::GetLocalizationFolderPathsWithDialect(1031, VString(root.c_str()), none));
    EXPECT_TRUE(none.empty());
}

}  // namespace qelt
