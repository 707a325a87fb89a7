#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kernel/VCollator.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"

namespace qelt {

namespace {

const UniChar* U(const char16_t* inText)
{
    return reinterpret_cast<const UniChar*>(inText);
}

int Len(const char16_t* inText)
{
    return static_cast<int>(std::char_traits<char16_t>::length(inText));
}

class CollatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fManager = VIntlMgr::Create(1033, 1033, 1);
        ASSERT_NE(fManager, nullptr);
        fCollator = fManager->GetCollator();
        ASSERT_NE(fCollator, nullptr);
    }
    void TearDown() override
    {
        if (fManager != nullptr)
            fManager->Release();
    }

    int Like(const char16_t* inText, const char16_t* inPattern, bool inDiacritical = false)
    {
        return fCollator->CompareString_Like(U(inText), Len(inText), U(inPattern), Len(inPattern), inDiacritical);
    }
    bool EqualLike(const char16_t* inText, const char16_t* inPattern, bool inDiacritical)
    {
        return fCollator->EqualString_Like(U(inText), Len(inText), U(inPattern), Len(inPattern), inDiacritical);
    }

    VIntlMgr* fManager = nullptr;
    VCollator* fCollator = nullptr;
};

}  // namespace

TEST_F(CollatorTest, LikeComparison)
{
    struct {
        const char16_t* text;
        const char16_t* pattern;
        int result;
    } cases[] = {
        {u"Bonjour", u"B@r", 0},   {u"Bonjour", u"B@x", -1},  {u"Bonjour", u"Bon", 1},
        {u"Bonjour", u"@jour@", 0}, {u"Bonjour", u"@", 0},    {u"abcabc", u"@bc", 0},
        {u"abcabx", u"@bc", -1},   {u"Bonjour", u"b@J@R", 0}, {u"", u"@", 0},
        {u"", u"a@", -1},          {u"abc", u"", 1},          {u"", u"", 0},
        {u"Bonjour", u"x@", -1},    {u"Bonjour", u"@@ur", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Like(c.text, c.pattern), c.result)
            << std::string(c.text, c.text + Len(c.text)) << " / " << std::string(c.pattern, c.pattern + Len(c.pattern));
    }
}

TEST_F(CollatorTest, LikeEquality)
{
    EXPECT_TRUE(EqualLike(u"abc", u"ABC", false));
    EXPECT_FALSE(EqualLike(u"abc", u"ABC", true));
    EXPECT_TRUE(EqualLike(u"abc", u"a@", false));
    EXPECT_TRUE(EqualLike(u"abc", u"@c", false));
    EXPECT_FALSE(EqualLike(u"abc", u"ab", false));
    EXPECT_FALSE(EqualLike(u"ab", u"abc", false));
    EXPECT_TRUE(EqualLike(u"ab", u"ab@@", false));
    // Skipped controls on both sides.
    EXPECT_TRUE(EqualLike(u"a\u0001bc", u"ab\u001Fc", false));
    // A unit above 127 goes to the collation: accents do not count here.
    EXPECT_TRUE(EqualLike(u"caf\u00E9", u"CAFE", false));
    EXPECT_FALSE(EqualLike(u"caf\u00E9", u"cafe", true));
    EXPECT_TRUE(EqualLike(u"r\u00E9sum\u00E9", u"R\u00C9@", false));
}

TEST_F(CollatorTest, WildcardChangesAndResets)
{
    fCollator->SetWildChar('*');
    EXPECT_EQ(Like(u"Bonjour", u"B*r"), 0);
    EXPECT_NE(Like(u"Bonjour", u"B@r"), 0);
    EXPECT_EQ(fManager->GetWildChar(), '*');
    fManager->Reset();
    EXPECT_EQ(fCollator->GetWildChar(), '@');
    EXPECT_EQ(Like(u"Bonjour", u"B@r"), 0);
}

TEST_F(CollatorTest, CompareAndEmptyTexts)
{
    EXPECT_EQ(fCollator->CompareString(U(u"abc"), 3, U(u"ABC"), 3, false), CR_EQUAL);
    EXPECT_NE(fCollator->CompareString(U(u"abc"), 3, U(u"ABC"), 3, true), CR_EQUAL);
    EXPECT_EQ(fCollator->CompareString(U(u"a"), 1, U(u"b"), 1, true), CR_SMALLER);
    EXPECT_EQ(fCollator->CompareString(U(u""), 0, U(u"b"), 1, true), CR_SMALLER);
    EXPECT_EQ(fCollator->CompareString(U(u"b"), 1, U(u""), 0, true), CR_BIGGER);
    EXPECT_EQ(fCollator->CompareString(nullptr, 0, nullptr, 0, true), CR_EQUAL);
    EXPECT_TRUE(fCollator->EqualString(U(u"\u00E9t\u00E9"), 3, U(u"ETE"), 3, false));
    EXPECT_FALSE(fCollator->EqualString(U(u"\u00E9t\u00E9"), 3, U(u"ETE"), 3, true));
}

TEST_F(CollatorTest, SearchFamily)
{
    int length = -1;
    EXPECT_EQ(fCollator->FindString(U(u"abcabc"), 6, U(u"BC"), 2, false, &length), 2);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(fCollator->ReversedFindString(U(u"abcabc"), 6, U(u"bc"), 2, true, &length), 5);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(fCollator->FindString(U(u"abc"), 3, U(u""), 0, true, &length), 1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(fCollator->FindString(U(u""), 0, U(u"x"), 1, true, &length), 0);
    EXPECT_EQ(fCollator->FindString(U(u""), 0, U(u""), 0, true, &length), 0);
    EXPECT_EQ(fCollator->FindString(U(u"abc"), 3, U(u"x"), 1, true, &length), 0);
    EXPECT_EQ(length, 0);

    EXPECT_TRUE(fCollator->EndsWithString(U(u"report.txt"), 10, U(u".TXT"), 4, false, &length));
    EXPECT_EQ(length, 4);
    EXPECT_FALSE(fCollator->EndsWithString(U(u"report.txt"), 10, U(u".TXT"), 4, true, &length));
    EXPECT_EQ(length, 0);
    EXPECT_FALSE(fCollator->EndsWithString(U(u"a.txt.bak"), 9, U(u".txt"), 4, true, &length));
    EXPECT_TRUE(fCollator->EndsWithString(U(u"abc"), 3, U(u""), 0, true, &length));
    EXPECT_TRUE(fCollator->BeginsWithString(U(u"Report"), 6, U(u"rep"), 3, false, &length));
    EXPECT_EQ(length, 3);
    EXPECT_FALSE(fCollator->BeginsWithString(U(u"a report"), 8, U(u"rep"), 3, false, &length));
    // The matched length is the text's: a decomposed letter is two units.
    EXPECT_TRUE(fCollator->BeginsWithString(U(u"e\u0301t\u00E9"), 4, U(u"\u00C9"), 1, false, &length));
    EXPECT_EQ(length, 2);
}

TEST_F(CollatorTest, IgnoreWildCharInMiddleVariant)
{
    struct {
        const char16_t* text;
        const char16_t* pattern;
        int result;
    } cases[] = {{u"Bonjour", u"@jou@", 0}, {u"Bonjour", u"@xy@", 1},  {u"Bo", u"@xyz@", -1},
                 {u"Bonjour", u"Bon@", 0},  {u"Bonjour", u"Bonx@", -1}, {u"Bonjour", u"@jour", 0},
                 {u"Bonjour", u"@x", 1},    {u"Bonjour", u"@@", 0},     {u"Bonjour", u"B@r", 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(fCollator->_CompareString_Like_IgnoreWildCharInMiddle(U(c.text), Len(c.text), U(c.pattern),
                                                                         Len(c.pattern), false),
                  c.result)
            << std::string(c.pattern, c.pattern + Len(c.pattern));
    }
}

TEST_F(CollatorTest, CloneKeepsWildcardAndDialect)
{
    fCollator->SetWildChar('*');
    VCollator* copy = fCollator->Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetWildChar(), '*');
    EXPECT_EQ(copy->GetDialectCode(), 1033u);
    EXPECT_EQ(copy->GetOptions(), 1);
    EXPECT_EQ(copy->CompareString_Like(U(u"Bonjour"), 7, U(u"B*r"), 3, false), 0);
    copy->Release();
    VString signature;
    fCollator->GetStringComparisonAlgorithmSignature(signature);
    ASSERT_GE(signature.GetLength(), 7);
    EXPECT_EQ(signature.GetCPointer()[6], ':');
}

TEST_F(CollatorTest, SharedBetweenThreads)
{
    // One manager serves several tasks at once: searches and comparisons
    // from many threads give the answers one thread gets.
    std::vector<std::thread> threads;
    std::vector<int> failures(6, 0);
    for (size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([this, t, &failures] {
            for (int i = 0; i < 200; ++i) {
                int length = 0;
                if (fManager->FindString(U(u"le caf\u00E9 noir"), 12, U(u"CAFE"), 4, false, &length) != 4 ||
                    length != 4)
                    ++failures[t];
                if (fManager->CompareString(U(u"\u00E9t\u00E9"), 3, U(u"ETE"), 3, false) != CR_EQUAL)
                    ++failures[t];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int count : failures)
        EXPECT_EQ(count, 0);
}

TEST(Collator, DichotomyPatterns)
{
    EXPECT_TRUE(VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(U(u""), 0));
    EXPECT_TRUE(VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(U(u"abc"), 3));
    EXPECT_TRUE(VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(U(u"abc@"), 4));
    EXPECT_FALSE(VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(U(u"a@c"), 3));
    EXPECT_FALSE(VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(U(u"\u3042@"), 2));
    EXPECT_FALSE(VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(U(u"\uFF76@"), 2));
}

}  // namespace qelt
