#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/VCharClassTables.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"

namespace qelt {

namespace {

VString V(const char16_t* inText)
{
    VString s;
    s.FromUniString(reinterpret_cast<const UniChar*>(inText),
                    static_cast<int>(std::char_traits<char16_t>::length(inText)));
    return s;
}

class CharClassTest : public ::testing::Test {
protected:
    void SetUp() override { fManager = VIntlMgr::Create(1033, 1033, 1); ASSERT_NE(fManager, nullptr); }
    void TearDown() override
    {
        if (fManager != nullptr)
            fManager->Release();
    }
    VIntlMgr* fManager = nullptr;
};

// Checks a range table's shape: sorted, disjoint ranges and a split value
// that starts one of them.
void CheckTable(const unsigned short* inTable, int inCount)
{
    ASSERT_EQ(inTable[0], inCount);
    bool splitStartsRange = false;
    for (int i = 0; i < inCount; ++i) {
        unsigned short first = inTable[2 + 2 * i], last = inTable[3 + 2 * i];
        EXPECT_LE(first, last);
        if (i > 0) {
            EXPECT_LT(inTable[1 + 2 * i], first) << "range " << i;
        }
        splitStartsRange = splitStartsRange || first == inTable[1];
    }
    EXPECT_TRUE(splitStartsRange);
}

}  // namespace

TEST(CharClassTables, Shape)
{
    CheckTable(kDigitTable, 32);
    CheckTable(kPunctuationTable, 67);
    CheckTable(kLetterTable, kLetterTable[0]);
    EXPECT_EQ(kDigitTable[1], 0x0D66);
    EXPECT_EQ(kPunctuationTable[1], 0x0E5A);
    EXPECT_EQ(kLetterTable[1], 0x0C8E);
}

TEST_F(CharClassTest, Classes)
{
    for (UniChar c : {0x0041, 0x007A, 0x00E9, 0x0416, 0x3042, 0x4E00, 0x9FA5, 0xAC00, 0xD7A3, 0xFF21, 0x0241, 0x05D0,
                      0x0627, 0x0E01, 0x1100, 0x3105, 0xFFDC})
        EXPECT_TRUE(fManager->IsAlpha(c)) << std::hex << c;
    for (UniChar c : {0x4E01, 0x9FA4, 0xAC01, 0x0030, 0x00D7, 0x00F7, 0x0040, 0x0000, 0x3095, 0xFFFF, 0x0242})
        EXPECT_FALSE(fManager->IsAlpha(c)) << std::hex << c;

    for (UniChar c : {0x0030, 0x0039, 0x00B2, 0x2155, 0x2460, 0x0667, 0xFF19})
        EXPECT_TRUE(fManager->IsDigit(c)) << std::hex << c;
    for (UniChar c : {0x0041, 0x002F, 0x003A, 0xFF1A})
        EXPECT_FALSE(fManager->IsDigit(c)) << std::hex << c;

    for (UniChar c : {0x0040, 0x005F, 0x0021, 0x3001, 0xFF65})
        EXPECT_TRUE(fManager->IsPunctuation(c)) << std::hex << c;
    for (UniChar c : {0x0024, 0x0041, 0x002B})
        EXPECT_FALSE(fManager->IsPunctuation(c)) << std::hex << c;

    EXPECT_FALSE(fManager->IsSpace(0x09));
    EXPECT_FALSE(fManager->IsSpace(0x0A));
    EXPECT_FALSE(fManager->IsSpace(0x00));
    EXPECT_TRUE(fManager->IsSpace(0x20));
    EXPECT_TRUE(fManager->IsSpace(0xA0));
    EXPECT_TRUE(fManager->IsSpace(0x200B));
    EXPECT_FALSE(fManager->IsSpace(0x200C));
    EXPECT_TRUE(fManager->IsSpace(0x3000));

    EXPECT_EQ(fManager->CharDigitValue('7'), 7);
    EXPECT_EQ(fManager->CharDigitValue(0x0667), -1);
    EXPECT_FALSE(fManager->IsUpper('A'));
    EXPECT_EQ(VIntlMgr::CharType('A'), 0);
}

TEST(CharClass, MacRomanBytes)
{
    EXPECT_TRUE(VIntlMgr::IsAMacCharacter(0xCE, 1));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter(0xCE, 3));
    EXPECT_TRUE(VIntlMgr::IsAMacCharacter(9, 0));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter(10, 0));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter(127, 0));
    EXPECT_TRUE(VIntlMgr::IsAMacCharacter('_', 4));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter('5', 4));
    EXPECT_TRUE(VIntlMgr::IsAMacCharacter('5', 5));
    EXPECT_TRUE(VIntlMgr::IsAMacCharacter(174, 2));
    EXPECT_FALSE(VIntlMgr::IsAMacCharacter('a', 6));
}

TEST_F(CharClassTest, WordBoundaries)
{
    VWordBoundaries words{{9, 9}};
    EXPECT_TRUE(fManager->GetWordBoundariesWithOptions(V(u"l'amico"), words, 1));
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0], std::make_pair(1, 1));
    EXPECT_EQ(words[1], std::make_pair(3, 5));
    EXPECT_FALSE(fManager->GetWordBoundariesWithOptions(V(u"l'amico"), words, 0));
    EXPECT_TRUE(words.empty());
    EXPECT_TRUE(fManager->GetWordBoundariesWithOptions(VString(), words, 0));
    EXPECT_TRUE(words.empty());
    // A word that runs to the very end of the text, and digits inside words.
    EXPECT_TRUE(fManager->GetWordBoundariesWithOptions(V(u"  route 66a"), words, 1));
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[1], std::make_pair(9, 3));
    EXPECT_TRUE(fManager->GetWordBoundariesWithOptions(V(u"\u00E9t\u00E9\t!"), words, 1));
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0], std::make_pair(1, 3));
}

TEST_F(CharClassTest, ApostropheAndDots)
{
    EXPECT_TRUE(fManager->_HasApostropheSecondFollowedByVowel(V(u"l'amico"), 1, 4));
    EXPECT_TRUE(fManager->_HasApostropheSecondFollowedByVowel(V(u"L\u2019HOMME"), 1, 5));
    EXPECT_FALSE(fManager->_HasApostropheSecondFollowedByVowel(V(u"l'bici"), 1, 4));
    EXPECT_FALSE(fManager->_HasApostropheSecondFollowedByVowel(V(u"l'amico"), 1, 3));
    EXPECT_FALSE(fManager->_HasApostropheSecondFollowedByVowel(V(u"la"), 1, 4));
    // Positions outside the text never read beyond it.
    EXPECT_FALSE(fManager->_HasApostropheSecondFollowedByVowel(V(u"l'a"), 40, 4));
    EXPECT_FALSE(fManager->_HasApostropheSecondFollowedByVowel(V(u"'abc"), 0, 4));

    VWordBoundaries parts;
    EXPECT_TRUE(fManager->_SplitWordRangeOnDot(V(u"x a.b..c y"), 3, 6, parts, false));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], std::make_pair(3, 1));
    EXPECT_EQ(parts[1], std::make_pair(5, 1));
    EXPECT_EQ(parts[2], std::make_pair(8, 1));
    parts.clear();
    EXPECT_TRUE(fManager->_SplitWordRangeOnDot(V(u".a."), 1, 3, parts, true));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], std::make_pair(1, 1));
    EXPECT_EQ(parts[1], std::make_pair(2, 1));
    EXPECT_EQ(parts[2], std::make_pair(3, 1));
    parts.clear();
    EXPECT_FALSE(fManager->_SplitWordRangeOnDot(V(u"abc"), 1, 3, parts, true));
    // A range longer than the text stops at its end.
    EXPECT_TRUE(fManager->_SplitWordRangeOnDot(V(u"a.c"), 1, 1000, parts, false));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1], std::make_pair(3, 1));
    EXPECT_FALSE(fManager->_SplitWordRangeOnDot(V(u"a.c"), 9, 2, parts, false));
}

TEST_F(CharClassTest, WholeWords)
{
    VCompareOptions options;
    options.SetIntlMgr(fManager);
    EXPECT_FALSE(fManager->FindWord(V(u"concatenate"), V(u"cat"), options));
    EXPECT_TRUE(fManager->FindWord(V(u"the cat sat"), V(u"cat"), options));
    EXPECT_TRUE(fManager->FindWord(V(u"concat, cat"), V(u"CAT"), options));
    EXPECT_TRUE(fManager->FindWord(V(u"cat"), V(u"cat"), options));
    EXPECT_FALSE(fManager->FindWord(V(u""), V(u"cat"), options));
    EXPECT_FALSE(fManager->FindWord(V(u"cat"), V(u""), options));
    options.SetLike(true);
    EXPECT_TRUE(fManager->FindWord(V(u"the caterpillar"), V(u"cat@"), options));
    EXPECT_FALSE(fManager->FindWord(V(u"the concatenation"), V(u"cat@"), options));
}

TEST_F(CharClassTest, FindStringsModes)
{
    VWordBoundaries matches;
    fManager->FindStrings(V(u"banana an"), V(u"an"), eFindStringWholeWord, false, matches, true);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0], std::make_pair(8, 2));

    fManager->FindStrings(V(u"banana an"), V(u"an"), eFindStringContains, false, matches, true);
    ASSERT_EQ(matches.size(), 3u);
    EXPECT_EQ(matches[0].first, 2);
    EXPECT_EQ(matches[1].first, 4);
    EXPECT_EQ(matches[2].first, 8);

    fManager->FindStrings(V(u"banana an"), V(u"an"), eFindStringContains, false, matches, false);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].first, 2);

    fManager->FindStrings(V(u"anan ban"), V(u"an"), eFindStringWordStart, false, matches, true);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].first, 1);

    fManager->FindStrings(V(u"anan ban"), V(u"an"), eFindStringWordEnd, false, matches, true);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].first, 3);
    EXPECT_EQ(matches[1].first, 7);

    fManager->FindStrings(V(u"banana"), V(u""), eFindStringContains, false, matches, true);
    EXPECT_TRUE(matches.empty());
}

TEST_F(CharClassTest, TextDirection)
{
    VString empty, cr = V(u"\r"), text = V(u"abc");
    EXPECT_TRUE(fManager->TextLogicalToVisual(empty, 1));
    EXPECT_TRUE(fManager->TextLogicalToVisual(cr, 1));
    EXPECT_FALSE(fManager->TextLogicalToVisual(text, 1));

    std::vector<VBidiRun> runs(3);
    std::vector<int> order{5, 6};
    VString line = V(u"abc\r");
    EXPECT_TRUE(fManager->GetBidiRuns(line.GetCPointer(), 4, runs, order, 1, true));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].fFirst, 0);
    EXPECT_EQ(runs[0].fLength, 3);
    EXPECT_EQ(runs[0].fRightToLeft, 1);
    ASSERT_EQ(order.size(), 1u);
    EXPECT_FALSE(fManager->GetBidiRuns(line.GetCPointer(), 4, runs, order, 2, false));
    EXPECT_EQ(runs[0].fLength, 4);
    EXPECT_EQ(runs[0].fRightToLeft, 0);
}

}  // namespace qelt
