#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "kernel/VTextConverters.h"
#include "runtime/VTask.h"
#include "TestSupport.h"

namespace qelt {

namespace {

std::string Utf8(const VString& inString) { return to_string(inString); }

}  // namespace

TEST(CharSetRegistry, FindsSetsByName)
{
    struct Case {
        const char* name;
        int charSet;
        int mib;
    };
    const Case cases[] = {
        {"UTF-8", 7, 106},
        {"utf-8", 7, 106},
        {"UTF-16", 2, 1015},
        {"utf-16be", 1, 1013},
        {"x-mac-ce", 102, 1250},
        {"x-mac-chinesesimp", 1016, 2025},
        {"UCS4", 4, 1017},
        {"latin1", 1005, 4},
        {"ISO_8859-1:1987", 1005, 4},
        {"gbk", 117, 113},
        {"unknown-set", 0, 0},
        {"", 0, 0},
        {"UTF-8 ", 0, 0},
        {"UTF", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VString name(c.name);
        EXPECT_EQ(VTextConverters::GetCharSetFromName(name), c.charSet);
        EXPECT_EQ(VTextConverters::GetMIBEnumFromName(name), c.mib);
    }
}

TEST(CharSetRegistry, FindsNamesAndNumbersBySetAndMIB)
{
    struct Case {
        int charSet;
        const char* name;
        int mib;
    };
    const Case cases[] = {
        {4, "UCS4", 1017}, {3, "UCS4BE", 1018}, {2, "UTF-16", 1015}, {7, "UTF-8", 106},
        {114, "x-mac-ce", 1257}, {9, "US-ASCII", 3}, {6, "", 0}, {-2, "", 0}, {118, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charSet);
        VString name("previous");
        VTextConverters::GetNameFromCharSet(static_cast<CharSet>(c.charSet), name);
        EXPECT_EQ(Utf8(name), c.name);
        EXPECT_EQ(VTextConverters::GetMIBEnumFromCharSet(static_cast<CharSet>(c.charSet)), c.mib);
    }
    EXPECT_EQ(VTextConverters::GetCharSetFromMIBEnum(2025), 1016);
    EXPECT_EQ(VTextConverters::GetCharSetFromMIBEnum(106), 7);
    EXPECT_EQ(VTextConverters::GetCharSetFromMIBEnum(424242), 0);
    VString name;
    VTextConverters::GetNameFromMIBEnum(2025, name);
    EXPECT_EQ(Utf8(name), "GB2312");
    VTextConverters::GetNameFromMIBEnum(-1, name);
    EXPECT_TRUE(name.IsEmpty());
}

TEST(CharSetRegistry, ListsSets)
{
    std::vector<VString> names = {VString("stale")};
    std::vector<CharSet> sets = {VTC_UTF_8};
    VTextConverters::EnumWebCharsets(names, sets);
    ASSERT_EQ(names.size(), 21u);
    ASSERT_EQ(sets.size(), 21u);
    EXPECT_EQ(Utf8(names.front()), "UTF-8");
    EXPECT_EQ(Utf8(names.back()), "GBK");
    EXPECT_EQ(std::count(sets.begin(), sets.end(), VTC_UTF_7), 2);

    VTextConverters::EnumCharsets(names, sets);
    ASSERT_EQ(names.size(), sets.size());
    std::vector<std::string> texts;
    for (const VString& n : names)
        texts.push_back(Utf8(n));
    auto has = [&](const char* s) { return std::find(texts.begin(), texts.end(), s) != texts.end(); };
    EXPECT_TRUE(has("UTF-7"));
    EXPECT_FALSE(has("UNICODE-1-1-UTF-7"));
    EXPECT_TRUE(has("US-ASCII"));
    EXPECT_FALSE(has("ASCII"));
    EXPECT_FALSE(has("csASCII"));
    // sorted by the collation of the current manager (here the fallback
    // without one: A-Z folded), the two vectors parallel
    for (size_t i = 1; i < names.size(); ++i)
        EXPECT_NE(names[i - 1].CompareToString(names[i], false), CR_BIGGER) << texts[i - 1] << " " << texts[i];
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(VTextConverters::GetCharSetFromName(names[i]) == sets[i] || texts[i] == "x-mac-ce" ||
                      texts[i] == "x-mac-chinesesimp",
                  true)
            << texts[i];
}

// With a process (and so an international manager) the names are ordered by
// its collator, in which punctuation sorts before digits and letters: an
// ASCII comparison would put "GB2312" before "GB_2312-80".
TEST(CharSetRegistry, ListsSetsInCollationOrder)
{
    test::StStartedProcess process;
    ASSERT_NE(VTask::GetCurrentIntlManager(), nullptr);
    std::vector<VString> names;
    std::vector<CharSet> sets;
    VTextConverters::EnumCharsets(names, sets);
    ASSERT_EQ(names.size(), sets.size());
    std::vector<std::string> texts;
    for (size_t i = 0; i < names.size(); ++i) {
        texts.push_back(Utf8(names[i]));
        if (i > 0) {
            EXPECT_NE(names[i - 1].CompareToString(names[i], false), CR_BIGGER) << texts[i - 1] << " " << texts[i];
        }
    }
    auto at = [&](const char* s) { return std::find(texts.begin(), texts.end(), s) - texts.begin(); };
    EXPECT_LT(at("GB_2312-80"), at("GB2312"));
    EXPECT_LT(at("UCS_4BE"), at("UCS4LE"));
    EXPECT_EQ(sets[static_cast<size_t>(at("GB_2312-80"))], VTC_GB2312_80);

    // Look-ups go through the same collator: letter case does not count.
    EXPECT_EQ(VTextConverters::GetCharSetFromName(VString("gb_2312-80")), VTC_GB2312_80);
    EXPECT_EQ(VTextConverters::GetMIBEnumFromName(VString("Shift_jis")), 17);
    EXPECT_EQ(VTextConverters::GetCharSetFromName(VString("GB2312-80")), VTC_UNKNOWN);
    // Blanks and punctuation still count.
    EXPECT_EQ(VTextConverters::GetCharSetFromName(VString("UTF-8 ")), VTC_UNKNOWN);
    EXPECT_EQ(VTextConverters::GetCharSetFromName(VString("UTF8")), VTC_UNKNOWN);
}

TEST(CharSetBOM, DetectsTheMarks)
{
    struct Case {
        std::vector<unsigned char> bytes;
        bool found;
        int charSet;
        unsigned long length;
    };
    const Case cases[] = {
        {{0xEF, 0xBB, 0xBF, 0x41}, true, 7, 3},
        {{0xEF, 0xBB, 0xBF}, true, 7, 3},
        {{0xFF, 0xFE, 0x41, 0x00}, true, 2, 2},
        {{0xFF, 0xFE, 0x00, 0x00}, true, 4, 4},
        {{0xFF, 0xFE, 0x00}, true, 2, 2},
        {{0x00, 0x00, 0xFE, 0xFF}, true, 3, 4},
        {{0xFE, 0xFF, 0x00, 0x41}, true, 1, 2},
        {{0x00, 0x41, 0xFE, 0xFF}, false, 0, 0},
        {{0xFE}, false, 0, 0},
        {{}, false, 0, 0},
        {{0xEF, 0xBB}, false, 0, 0},
    };
    for (const Case& c : cases) {
        unsigned long length = 99;
        CharSet charSet = VTC_UTF_8;
        EXPECT_EQ(VTextConverters::ParseBOM(c.bytes.data(), c.bytes.size(), &length, &charSet), c.found);
        EXPECT_EQ(charSet, c.charSet);
        EXPECT_EQ(length, c.length);
        // both outputs are optional
        EXPECT_EQ(VTextConverters::ParseBOM(c.bytes.data(), c.bytes.size(), nullptr, nullptr), c.found);
    }

    for (int cs : {1, 2, 3, 4, 7}) {
        unsigned long length = 0;
        const unsigned char* bom = VTextConverters::GetBOMForCharSet(static_cast<CharSet>(cs), &length);
        ASSERT_NE(bom, nullptr);
        unsigned long parsedLength = 0;
        CharSet parsed = VTC_UNKNOWN;
        EXPECT_TRUE(VTextConverters::ParseBOM(bom, length, &parsedLength, &parsed));
        EXPECT_EQ(parsed, cs);
        EXPECT_EQ(parsedLength, length);
    }
    unsigned long length = 7;
    EXPECT_EQ(VTextConverters::GetBOMForCharSet(VTC_US_ASCII, &length), nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(CharSetConverters, HandsOutSharedAndNewConverters)
{
    VTextConverters* converters = VTextConverters::Get();
    ASSERT_NE(converters, nullptr);
    EXPECT_EQ(VTextConverters::Get(), converters);
    EXPECT_EQ(VTextConverters::sInstance, converters);

    // Shared ones come back as the same object.
    for (int cs : {-2, 1, 2, 4, 6, 7}) {
        VToUnicodeConverter* a = converters->RetainToUnicodeConverter(static_cast<CharSet>(cs));
        VToUnicodeConverter* b = converters->RetainToUnicodeConverter(static_cast<CharSet>(cs));
        EXPECT_EQ(a, b) << cs;
        a->Release();
        b->Release();
        VFromUnicodeConverter* c = converters->RetainFromUnicodeConverter(static_cast<CharSet>(cs));
        VFromUnicodeConverter* d = converters->RetainFromUnicodeConverter(static_cast<CharSet>(cs));
        EXPECT_EQ(c, d) << cs;
        c->Release();
        d->Release();
    }
    EXPECT_EQ(converters->GetStdLibToUnicodeConverter(), converters->RetainToUnicodeConverter(VTC_UTF_8));
    converters->GetStdLibToUnicodeConverter()->Release();

    // New ones carry exactly the caller's reference.
    VToUnicodeConverter* to3 = converters->RetainToUnicodeConverter(VTC_UTF_32_BIGENDIAN);
    EXPECT_EQ(to3->Retain(), 2);
    EXPECT_EQ(to3->Release(), 1);
    EXPECT_EQ(to3->Release(), 0);
    VFromUnicodeConverter* from3 = converters->RetainFromUnicodeConverter(VTC_UTF_32_BIGENDIAN);
    EXPECT_EQ(from3->Retain(), 2);
    from3->Release();
    from3->Release();

    for (int cs : {-1, 0, 12, 999, 5000}) {
        VToUnicodeConverter* to = converters->RetainToUnicodeConverter(static_cast<CharSet>(cs));
        VFromUnicodeConverter* from = converters->RetainFromUnicodeConverter(static_cast<CharSet>(cs));
        ASSERT_NE(to, nullptr);
        ASSERT_NE(from, nullptr);
        EXPECT_FALSE(to->IsValid()) << cs;
        EXPECT_FALSE(from->IsValid()) << cs;
        to->Release();
        from->Release();
    }
}

TEST(CharSetConverters, ConvertsToAndFromStrings)
{
    VTextConverters* converters = VTextConverters::Get();
    VString s("old text");
    const unsigned char utf16be[] = {0x00, 0x48, 0x00, 0xE9};
    EXPECT_TRUE(converters->ConvertToVString(utf16be, sizeof(utf16be), VTC_UTF_16_BIGENDIAN, s));
    EXPECT_EQ(Utf8(s), "H\xC3\xA9");

    const unsigned char utf16le[] = {0x48, 0x00, 0x49};
    EXPECT_FALSE(converters->ConvertToVString(utf16le, sizeof(utf16le), VTC_UTF_16_SMALLENDIAN, s));
    EXPECT_EQ(Utf8(s), "H");

    const unsigned char utf32be[] = {0x00, 0x01, 0xF6, 0x00};
    EXPECT_TRUE(converters->ConvertToVString(utf32be, sizeof(utf32be), VTC_UTF_32_BIGENDIAN, s));
    EXPECT_EQ(s.GetLength(), 2);
    EXPECT_EQ(s.GetUniChar(1), 0xD83D);

    EXPECT_TRUE(converters->ConvertToVString("abc", 3, VTC_UNKNOWN, s));
    EXPECT_TRUE(s.IsEmpty());

    VString text("A\xC3\xA9");
    unsigned char out[8] = {};
    int consumed = 0;
    unsigned long produced = 0;
    EXPECT_TRUE(converters->ConvertFromVString(text, &consumed, out, sizeof(out), &produced, VTC_UTF_32_BIGENDIAN));
    EXPECT_EQ(consumed, 2);
    EXPECT_EQ(produced, 8u);
    EXPECT_EQ(out[3], 0x41);
    EXPECT_EQ(out[7], 0xE9);
    EXPECT_TRUE(converters->ConvertFromVString(text, &consumed, out, sizeof(out), &produced, VTC_UTF_8));
    EXPECT_EQ(produced, 3u);
    EXPECT_EQ(std::memcmp(out, "A\xC3\xA9", 3), 0);
}

TEST(CharSetConverters, SharedConvertersServeManyThreadsAtOnce)
{
    VTextConverters* converters = VTextConverters::Get();
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                for (CharSet cs : {VTC_UTF_8, VTC_SYSTEM, VTC_UTF_16_BIGENDIAN}) {
                    VFromUnicodeConverter* enc = converters->RetainFromUnicodeConverter(cs);
                    VToUnicodeConverter* dec = converters->RetainToUnicodeConverter(cs);
                    const UniChar text[] = {'t', static_cast<UniChar>('0' + t), 0xE9, 0x2020, 'z'};
                    unsigned char bytes[32];
                    int consumed = 0;
                    unsigned long produced = 0;
                    enc->Convert(text, 5, &consumed, bytes, sizeof(bytes), &produced);
                    UniChar back[16];
                    unsigned long used = 0;
                    int units = 0;
                    dec->Convert(bytes, produced, &used, back, 16, &units);
                    if (consumed != 5 || units != 5 || std::memcmp(back, text, sizeof(text)) != 0)
                        ++failures[static_cast<size_t>(t)];
                    enc->Release();
                    dec->Release();
                }
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);
}

}  // namespace qelt
