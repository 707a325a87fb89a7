#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "kernel/StStringConverter.h"
#include "kernel/VString.h"

namespace qelt {

namespace {

VString Repeat(UniChar inUnit, int inCount)
{
    VString s;
    for (int i = 0; i < inCount; ++i)
        s.AppendUniChar(inUnit);
    return s;
}

}  // namespace

TEST(StStringConverter, ShortTextStaysInlineAndLongTextGoesToTheHeap)
{
    VString fits = Repeat('a', 511);
    StStringConverter<char> inlineConverter(fits, VTC_UTF_8, eCRM_NONE);
    EXPECT_TRUE(inlineConverter.fOK);
    EXPECT_EQ(inlineConverter.fSize, 511u);
    EXPECT_EQ(inlineConverter.fOutput, inlineConverter.fInlineBuffer);
    EXPECT_EQ(inlineConverter.GetCPointer()[511], '\0');
    EXPECT_EQ(std::string(inlineConverter.GetCPointer()), std::string(511, 'a'));

    VString tooLong = Repeat('b', 512);
    StStringConverter<char> heapConverter(tooLong, VTC_UTF_8, eCRM_NONE);
    EXPECT_TRUE(heapConverter.fOK);
    EXPECT_EQ(heapConverter.fSize, 512u);
    EXPECT_NE(heapConverter.fOutput, heapConverter.fInlineBuffer);
    EXPECT_EQ(heapConverter.GetCPointer()[512], '\0');
    EXPECT_EQ(std::string(heapConverter.GetCPointer()), std::string(512, 'b'));

    // Multi-byte text that outgrows the inline buffer.
    VString wide = Repeat(0x20AC, 400);
    StStringConverter<char> euros(wide, VTC_UTF_8);
    EXPECT_TRUE(euros.fOK);
    ASSERT_EQ(euros.fSize, 1200u);
    EXPECT_EQ(std::memcmp(euros.GetCPointer() + 1197, "\xE2\x82\xAC", 4), 0);  // the terminator included
}

TEST(StStringConverter, EmptyNullAndUnconvertibleTextGiveAnEmptyCString)
{
    VString empty;
    StStringConverter<char> a(empty, VTC_UTF_8);
    EXPECT_EQ(a.fSize, 0u);
    EXPECT_EQ(a.GetCPointer()[0], '\0');

    VString null(true);
    StStringConverter<char> b(null, VTC_UTF_8);
    EXPECT_EQ(b.fSize, 0u);
    EXPECT_EQ(b.GetCPointer()[0], '\0');

    VString text("abc");
    StStringConverter<char> none(text, VTC_UNKNOWN);
    EXPECT_FALSE(none.fOK);
    EXPECT_EQ(none.fSize, 0u);
    EXPECT_EQ(none.GetCPointer()[0], '\0');
}

TEST(StStringConverter, AppliesLineEndsToACopy)
{
    VString text("one\ntwo\r\nthree\r");
    StStringConverter<char> crlf(text, VTC_UTF_8, eCRM_CRLF);
    EXPECT_EQ(std::string(crlf.GetCPointer(), crlf.fSize), "one\r\ntwo\r\nthree\r\n");
    StStringConverter<char> lf(text, VTC_UTF_8, eCRM_LF);
    EXPECT_EQ(std::string(lf.GetCPointer(), lf.fSize), "one\ntwo\nthree\n");
    EXPECT_EQ(to_string(text), "one\ntwo\r\nthree\r");  // the string itself is unchanged
}

TEST(StStringConverter, CopiesAndMovesOwnTheirBytes)
{
    VString longText = Repeat('x', 700);
    StStringConverter<char> original(longText, VTC_UTF_8);
    ASSERT_NE(original.fOutput, original.fInlineBuffer);
    {
        StStringConverter<char> copy(original);
        EXPECT_NE(copy.fOutput, original.fOutput);
        EXPECT_EQ(copy.fSize, 700u);
        EXPECT_EQ(std::string(copy.GetCPointer()), std::string(700, 'x'));
        EXPECT_TRUE(copy.fOK);
    }
    EXPECT_EQ(std::string(original.GetCPointer()), std::string(700, 'x'));

    StStringConverter<char> moved(std::move(original));
    EXPECT_EQ(moved.fSize, 700u);
    EXPECT_EQ(std::string(moved.GetCPointer()), std::string(700, 'x'));
    EXPECT_EQ(original.fSize, 0u);
    EXPECT_EQ(original.GetCPointer()[0], '\0');

    VString shortText("short");
    StStringConverter<char> small(shortText, VTC_UTF_8);
    StStringConverter<char> smallCopy(small);
    StStringConverter<char> smallMoved(std::move(small));
    EXPECT_EQ(std::string(smallCopy.GetCPointer()), "short");
    EXPECT_EQ(std::string(smallMoved.GetCPointer()), "short");
    EXPECT_EQ(smallMoved.fOutput, smallMoved.fInlineBuffer);
    // both still convert with their own reference to the encoder
    EXPECT_EQ(std::string(small.ConvertString(VString("again"))), "again");
    EXPECT_EQ(std::string(smallMoved.ConvertString(VString("more"))), "more");
}

TEST(StStringConverter, ConvertsAgainIntoTheSameObject)
{
    StStringConverter<char> converter(Repeat('a', 600), VTC_UTF_8);
    EXPECT_EQ(converter.fSize, 600u);
    converter.ConvertString(Repeat('b', 900));
    EXPECT_EQ(converter.fSize, 900u);
    EXPECT_EQ(std::string(converter.GetCPointer()), std::string(900, 'b'));
    converter.ConvertString(VString("c"));
    EXPECT_EQ(std::string(converter.GetCPointer()), "c");
}

TEST(StStringConverterToString, CountingPathMatchesOnePass)
{
    VString shortText("caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(to_string(shortText), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(to_string(VString()), "");

    VString longText;
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        longText.AppendUniChar(i % 3 == 0 ? 0x00E9 : static_cast<UniChar>('a' + i % 26));
        expected += i % 3 == 0 ? "\xC3\xA9" : std::string(1, static_cast<char>('a' + i % 26));
    }
    EXPECT_EQ(to_string(longText), expected);

    // Fewer than 256 units but more than 512 bytes.
    VString wide = Repeat(0x4E2D, 200);
    EXPECT_EQ(to_string(wide).size(), 600u);
}

}  // namespace qelt
