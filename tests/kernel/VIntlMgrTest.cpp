#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kernel/VCollator.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"
#include "values/VDuration.h"
#include "values/VTime.h"

namespace qelt {

namespace {

std::u16string U16(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

VString V(const char16_t* inText)
{
    VString s;
    s.FromUniString(reinterpret_cast<const UniChar*>(inText),
                    static_cast<int>(std::char_traits<char16_t>::length(inText)));
    return s;
}

// Holds one manager reference.
struct Manager {
    Manager(unsigned int inDialect, unsigned int inCollation) : fManager(VIntlMgr::Create(inDialect, inCollation, 1)) {}
    ~Manager()
    {
        if (fManager != nullptr)
            fManager->Release();
    }
    VIntlMgr* operator->() const { return fManager; }
    VIntlMgr* fManager;
};

}  // namespace

TEST(VIntlMgr, UserDialectFromEnvironmentValues)
{
    struct {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        unsigned int dialect;
    } cases[] = {
        {"fr_CA", nullptr, nullptr, "en_US.UTF-8", 3084},
        {nullptr, nullptr, nullptr, "fr_CA.UTF-8", 3084},
        {"zh_CN", nullptr, nullptr, nullptr, 2052},
        {"zh_TW:en", nullptr, nullptr, nullptr, 1028},
        {"zh-Hans-CN", nullptr, nullptr, nullptr, 1033},
        {nullptr, "C", "de_DE.UTF-8", "fr_FR.UTF-8", 1031},
        {nullptr, "ar_SA", nullptr, nullptr, 1025},
        {"", "POSIX", nullptr, "C.UTF-8", 1033},
        {nullptr, nullptr, nullptr, nullptr, 1033},
        {"tlh_XX", nullptr, nullptr, "fr_FR", 1033},  // the first language decides
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VIntlMgr::ResolveDialectFromEnvironment(c.language, c.lcAll, c.lcMessages, c.lang), c.dialect)
            << (c.language ? c.language : "-") << " " << (c.lang ? c.lang : "-");
    }
}

TEST(VIntlMgr, ResolveDialectCode)
{
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(2057), 2057u);
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0x7777), 0x7777u);  // unknown codes pass unchanged
    unsigned int user = VIntlMgr::ResolveDialectCode(0);
    EXPECT_NE(user, 0u);
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0xFFFFFFFF), user);
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0xFFFFFFFE), user);
}

TEST(VIntlMgr, CreateFallsBackOnUnknownDialects)
{
    struct {
        unsigned int dialect, collation, wantDialect, wantCollation;
    } cases[] = {
        {2058, 1038, 2058, 1033},    // Hungarian collation is not offered
        {1036, 1054, 1036, 1033},    // nor Thai
        {0x0C09, 0x7777, 3081, 1033}, // neither 0x7777 nor 0x0777 exists
        {0x7C0C, 0x7C0C, 1036, 1036}, // primary language with the first sub-language
        {0x7777, 3084, 1033, 3084},
    };
    for (const auto& c : cases) {
        Manager m(c.dialect, c.collation);
        ASSERT_NE(m.fManager, nullptr);
        EXPECT_EQ(m->GetDialectCode(), c.wantDialect) << c.dialect;
        ASSERT_NE(m->GetCollator(), nullptr);
        EXPECT_EQ(m->GetCollator()->GetDialectCode(), c.wantCollation) << c.collation;
        EXPECT_EQ(m->GetCollator()->GetOptions(), 1);
        EXPECT_EQ(m->GetCollatorMode(), 1u);
    }
}

TEST(VIntlMgr, LocaleVariables)
{
    Manager fr(1036, 1036);
    EXPECT_EQ(U16(fr->GetDecimalSeparator()), u",");
    EXPECT_EQ(U16(fr->GetCurrency()), u"\u20AC");
    EXPECT_EQ(fr->GetDateOrder(), 1u);
    EXPECT_EQ(U16(fr->GetDateSeparator()), u"/");
    EXPECT_EQ(U16(fr->GetTimeSeparator()), u":");
    EXPECT_FALSE(fr->Use12HoursClock());
    EXPECT_EQ(U16(fr->GetShortDatePattern()), u"dd/MM/y");
    EXPECT_FALSE(fr->GetFullDatePattern().IsEmpty());
    EXPECT_FALSE(fr->GetLongTimePattern().IsEmpty());

    Manager de(1031, 1031);
    EXPECT_EQ(de->GetDateOrder(), 1u);
    EXPECT_EQ(U16(de->GetDateSeparator()), u".");

    Manager ja(1041, 1041);
    EXPECT_EQ(ja->GetDateOrder(), 2u);
    EXPECT_EQ(U16(ja->GetDateSeparator()), u"/");

    Manager en(2057, 2057);
    EXPECT_EQ(U16(en->GetDecimalSeparator()), u".");
    EXPECT_EQ(U16(en->GetCurrency()), u"\u00A3");

    Manager us(4105, 4105);  // English of Canada: a 12-hour clock
    EXPECT_TRUE(us->Use12HoursClock());
    EXPECT_FALSE(us->GetAMString().IsEmpty());
    EXPECT_FALSE(us->GetPMString().IsEmpty());

    // A locale without a region has only the generic currency sign: the
    // euro is reported instead.
    Manager am(94, 94);
    EXPECT_EQ(U16(am->GetCurrency()), u"\u20AC");
}

// The locale variables are read when first asked for: a copy made before
// that, asked first, gives what the original gives, and tasks that ask a
// fresh manager at the same moment all get the same values.
TEST(VIntlMgr, LocaleVariablesReadOnFirstUseAreTheSameForCopiesAndConcurrentReaders)
{
    Manager fr(1036, 1036);
    VIntlMgr* copy = fr->Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(U16(copy->GetShortDatePattern()), u"dd/MM/y");
    EXPECT_EQ(U16(copy->GetDecimalSeparator()), u",");
    EXPECT_EQ(U16(fr->GetShortDatePattern()), U16(copy->GetShortDatePattern()));
    EXPECT_EQ(U16(fr->GetTimeSeparator()), U16(copy->GetTimeSeparator()));
    EXPECT_EQ(fr->GetDateOrder(), copy->GetDateOrder());
    copy->Release();

    Manager de(1031, 1031);
    std::vector<std::thread> threads;
    std::vector<std::u16string> patterns(8), separators(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            patterns[static_cast<size_t>(i)] = U16(de->GetShortDatePattern());
            separators[static_cast<size_t>(i)] = U16(de->GetDateSeparator());
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(patterns[static_cast<size_t>(i)], patterns[0]) << i;
        EXPECT_EQ(separators[static_cast<size_t>(i)], u".") << i;
    }
    EXPECT_FALSE(patterns[0].empty());
}

TEST(VIntlMgr, ScanningDateAndTimePatterns)
{
    struct {
        const char16_t* pattern;
        const char16_t* order;
        const char16_t* separator;
        bool ampm;
        unsigned int dateOrder;
    } cases[] = {
        {u"dd.MM.yy", u"dMy", u".", false, 1},       {u"y/M/d", u"yMd", u"/", false, 2},
        {u"h:mm a", u"", u":", true, 0},             {u"HH 'h' mm", u"", u" ", false, 0},
        {u"'a'HH\"x:\"-mm", u"", u"-", false, 0},     {u"M/d/yy", u"Mdy", u"/", false, 0},
        {u"dd-yyyy-MM", u"dyM", u"-", false, 4},     {u"", u"", u"", false, 0},
    };
    for (const auto& c : cases) {
        VString order, separator;
        bool ampm = !c.ampm;
        VIntlMgr::ScanDatePattern(V(c.pattern), order, separator, ampm);
        EXPECT_EQ(U16(order), c.order);
        EXPECT_EQ(U16(separator), c.separator);
        EXPECT_EQ(ampm, c.ampm);
        EXPECT_EQ(VIntlMgr::DateOrderFromOrderText(order), c.dateOrder);
    }
}

TEST(VIntlMgr, CaseMappingFitsEveryResult)
{
    Manager m(1033, 1033);
    VString empty;
    m->ToUpperLowerCase(empty, false, true);
    EXPECT_TRUE(empty.IsEmpty());

    // Short text through the stack buffer, long text through the heap.
    VString shortText = V(u"stra\u00DFe");
    m->ToUpperLowerCase(shortText, false, true);
    EXPECT_EQ(U16(shortText), u"STRASSE");

    std::u16string source(300, u'a');
    VString longText = V(source.c_str());
    m->ToUpperLowerCase(longText, false, true);
    EXPECT_EQ(U16(longText), std::u16string(300, u'A'));

    // Results longer than the buffers: 200 x U+FB03 gives 600 units (over
    // the 512 of the stack), 300 x U+FB03 gives 900 (over twice the length).
    for (size_t count : {200u, 300u}) {
        VString ligatures = V(std::u16string(count, u'\uFB03').c_str());
        m->ToUpperLowerCase(ligatures, false, true);
        std::u16string expected;
        for (size_t i = 0; i < count; ++i)
            expected += u"FFI";
        EXPECT_EQ(U16(ligatures), expected) << count;
    }

    VString lower = V(u"\u00C9T\u00C9");
    m->ToUpperLowerCase(lower, false, false);
    EXPECT_EQ(U16(lower), u"\u00E9t\u00E9");
}

TEST(VIntlMgr, NormalizationPutsTextInEachForm)
{
    Manager m(1033, 1033);
    struct Case {
        NormalizationMode mode;
        const char16_t* text;
        const char16_t* normalized;
    };
    const Case cases[] = {
        {eNormalizeD, u"caf\u00E9", u"cafe\u0301"},
        {eNormalizeC, u"cafe\u0301", u"caf\u00E9"},
        {eNormalizeC, u"caf\u00E9", u"caf\u00E9"},
        {eNormalizeD, u"plain ascii", u"plain ascii"},
        // Canonical order of marks: below (U+0323) before above (U+0301).
        {eNormalizeD, u"a\u0301\u0323", u"a\u0323\u0301"},
        {eNormalizeC, u"a\u0301\u0323", u"\u1EA1\u0301"},
        // Hangul syllables and jamo.
        {eNormalizeD, u"\uD55C", u"\u1112\u1161\u11AB"},
        {eNormalizeC, u"\u1112\u1161\u11AB", u"\uD55C"},
        // The compatibility forms fold ligatures and circled digits; the
        // canonical ones keep them.
        {eNormalizeKD, u"\uFB01\u00E9", u"fie\u0301"},
        {eNormalizeKC, u"\u2460\uFB01", u"1fi"},
        {eNormalizeC, u"\uFB01", u"\uFB01"},
        {eNormalizeNone, u"e\u0301", u"e\u0301"},
        // A character outside the basic plane with a mark after it.
        {eNormalizeC, u"\U0001D400e\u0301", u"\U0001D400\u00E9"},
        {eNormalizeD, u"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(std::char_traits<char16_t>::length(c.text)));
        VString text = V(c.text);
        m->NormalizeString(text, c.mode);
        EXPECT_EQ(U16(text), c.normalized);
    }

    // A null string stays null; a long text is normalised whole.
    VString null(true);
    m->NormalizeString(null, eNormalizeC);
    EXPECT_TRUE(null.IsNull());
    std::u16string longText;
    for (int i = 0; i < 1000; ++i)
        longText += u"e\u0301";
    VString composed = V(longText.c_str());
    m->NormalizeString(composed, eNormalizeC);
    EXPECT_EQ(U16(composed), std::u16string(1000, u'\u00E9'));
}

TEST(VIntlMgr, PatternFormatting)
{
    Manager m(1033, 1033);
    VTime t;
    t.FromUTCTime(2024, 3, 5, 7, 8, 9, 0);
    struct {
        const char16_t* pattern;
        const char16_t* expected;
    } cases[] = {
        {u"yyyy-MM-dd HH:mm:ss", u"2024-03-05 07:08:09"},
        {u"d/M/y", u"5/3/2024"},
        {u"h a", u"7 AM"},
        {u"kk", u"07"},
        {u"D", u"65"},
        {u"DDD", u"065"},
        {u"yy", u"2024"},
        {u"yyyyyy", u"002024"},
        {u"HHH", u"077"},
        {u"'T'", u"'T'"},
        {u"GGGG G", u"Anno Domini AD"},
        {u"EEEE, MMMM d", u"Tuesday, March 5"},
        {u"EEE MMM", u"Tue Mar"},
        {u"EEEEE EEEEEE MMMMM", u"T Tu M"},
        {u"Aqz", u""},
        {u"#Bb!", u"#Bb!"},
        {u"K:mm", u"7:08"},
    };
    for (const auto& c : cases) {
        VString out;
        m->FormatDateTimeWithPattern(t, V(c.pattern), true, nullptr, out);
        EXPECT_EQ(U16(out), c.expected) << std::string(c.pattern, c.pattern + std::char_traits<char16_t>::length(c.pattern));
    }

    VString monthName = V(u"Germinal");
    VString out;
    m->FormatDateTimeWithPattern(t, V(u"MMMM MMM MMMMM MM M"), true, &monthName, out);
    EXPECT_EQ(U16(out), u"Germinal Germinal G 03 3");

    VTime midnight;
    midnight.FromUTCTime(2024, 3, 5, 0, 0, 0, 0);
    m->FormatDateTimeWithPattern(midnight, V(u"kk hh a K"), true, nullptr, out);
    EXPECT_EQ(U16(out), u"24 12 AM 0");
    VTime evening;
    evening.FromUTCTime(2024, 3, 5, 23, 0, 0, 0);
    m->FormatDateTimeWithPattern(evening, V(u"h a"), true, nullptr, out);
    EXPECT_EQ(U16(out), u"11 PM");
}

TEST(VIntlMgr, PlatformFormatting)
{
    Manager fr(1036, 1036);
    VTime t;
    t.FromUTCTime(2024, 3, 5, 7, 8, 9, 0);
    VString out;
    fr->FormatDate(t, out, eOS_SHORT_FORMAT, true);
    EXPECT_EQ(U16(out), u"05/03/2024");
    out.FromCString("kept");
    fr->FormatDate(t, out, static_cast<EOSFormats>(7), true);
    EXPECT_EQ(U16(out), u"kept");
    fr->FormatTime(t, out, eOS_SHORT_FORMAT, true);
    EXPECT_EQ(U16(out), u"07:08");
    fr->FormatTime(t, out, static_cast<EOSFormats>(7), true);
    EXPECT_TRUE(out.IsEmpty());
    fr->FormatDate(t, out, eOS_LONG_FORMAT, true);
    EXPECT_EQ(U16(out), u"mardi 5 mars 2024");

    fr->GetImpl().FormatVTimeWithTemplate(t, out, VString("yMMMd"), true);
    EXPECT_EQ(U16(out), u"5 mars 2024");

    VDuration d;
    d.SetDuration(0, 1, 30, 0, 0);
    fr->FormatDuration(d, out, eOS_SHORT_FORMAT);
    EXPECT_EQ(U16(out), u"01:30");

    VString name;
    fr->GetMonthName(3, false, name);
    EXPECT_EQ(U16(name), u"mars");
    fr->GetWeekDayName(0, false, name);
    EXPECT_EQ(U16(name), u"dimanche");
    fr->GetMonthName(13, false, name);
    EXPECT_TRUE(name.IsEmpty());
    name.FromCString("x");
    fr->GetWeekDayName(-1, true, name);
    EXPECT_TRUE(name.IsEmpty());
}

// A manager keeps its formatters: the same style pair used for a time in the
// system's zone and for a duration in GMT, and by several threads at once,
// gives each caller its own right text.
TEST(VIntlMgr, KeptFormattersGiveTheSameTexts)
{
    Manager fr(1036, 1036);
    struct Case {
        int day, hour, minute;
        std::u16string date, time;
    } cases[] = {
        {5, 7, 8, u"05/03/2024", u"07:08"},
        {31, 23, 59, u"31/03/2024", u"23:59"},
        {1, 0, 0, u"01/03/2024", u"00:00"},
    };
    VDuration d;
    d.SetDuration(0, 1, 30, 0, 0);
    VString out;
    for (int round = 0; round < 2; ++round) {
        for (const Case& c : cases) {
            VTime t;
            t.FromUTCTime(2024, 3, c.day, c.hour, c.minute, 0, 0);
            fr->FormatTime(t, out, eOS_SHORT_FORMAT, true);
            EXPECT_EQ(U16(out), c.time);
            fr->FormatDuration(d, out, eOS_SHORT_FORMAT);
            EXPECT_EQ(U16(out), u"01:30");
        }
    }

    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&, k] {
            VString text;
            for (int i = 0; i < 300; ++i) {
                const Case& c = cases[(i + k) % 3];
                VTime t;
                t.FromUTCTime(2024, 3, c.day, c.hour, c.minute, 0, 0);
                fr->FormatDate(t, text, eOS_SHORT_FORMAT, true);
                wrong[k] += U16(text) != c.date;
                fr->FormatTime(t, text, eOS_SHORT_FORMAT, true);
                wrong[k] += U16(text) != c.time;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(VIntlMgr, NamesAreMadeOnceUnderConcurrentUse)
{
    Manager m(1031, 1031);
    std::vector<std::thread> threads;
    std::vector<std::u16string> results(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            VString name;
            m->GetMonthName(1 + i % 12, false, name);
            results[static_cast<size_t>(i)] = U16(name);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(results[0], u"Januar");
    EXPECT_EQ(results[2], u"M\u00E4rz");
}

TEST(VIntlMgr, WrappersAndSignatures)
{
    Manager m(1033, 1033);
    VIntlMgr* copy = m->Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->GetCollator(), m->GetCollator());
    EXPECT_EQ(copy->GetDialectCode(), 1033u);
    copy->Release();

    VString text = V(u"report.txt"), suffix = V(u".TXT");
    int length = 0;
    EXPECT_TRUE(m->EndsWithString(text.GetCPointer(), 10, suffix.GetCPointer(), 4, false, &length));
    EXPECT_EQ(length, 4);
    VString bonjour = V(u"Bonjour"), pattern = V(u"B@r");
    EXPECT_EQ(m->CompareString_Like(bonjour.GetCPointer(), 7, pattern.GetCPointer(), 3, false), CR_EQUAL);

    VCompareOptions options;
    options.SetIntlMgr(m.fManager);
    options.SetLike(true);
    EXPECT_EQ(m->CompareString(bonjour.GetCPointer(), 7, pattern.GetCPointer(), 3, options), CR_EQUAL);
    options.SetLike(false);
    EXPECT_NE(m->CompareString(bonjour.GetCPointer(), 7, pattern.GetCPointer(), 3, options), CR_EQUAL);

    VString signature;
    m->GetKewordAlgorithmSignature(signature);
    EXPECT_EQ(U16(signature), u"AlphaNum");

    char source[4] = {'a', 'b', 'c', 'd'};
    char target[3] = {};
    int size = 3;
    EXPECT_FALSE(VIntlMgr::DebugConvertString(source, 4, VTC_UTF_8, target, size, VTC_UTF_16));
    EXPECT_EQ(size, 3);
    EXPECT_TRUE(VIntlMgr::DebugConvertString(source, 4, VTC_UTF_8, target, size, VTC_UTF_8));
    EXPECT_EQ(size, 3);
    EXPECT_EQ(target[2], 'c');
}

}  // namespace qelt
