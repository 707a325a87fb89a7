#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "values/VArrayString.h"

namespace qelt {

namespace {

constexpr VError kEndOfData = QeltError(200);

std::string Utf8(const VString& s)
{
    return to_string(s);
}

VString FromUtf8(const std::string& s)
{
    return VString(s.data(), s.size(), VTC_UTF_8);
}

std::string Contents(const VPtrStream& stream)
{
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

// A straightforward UTF-8 validator: shortest forms, no surrogates, at most
// U+10FFFF, no character cut at the end.
bool ReferenceUTF8(const unsigned char* p, size_t n)
{
    size_t i = 0;
    while (i < n) {
        unsigned char b = p[i];
        size_t more;
        unsigned int c;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            c = b & 0x07;
        } else {
            return false;
        }
        if (i + more >= n)
            return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if ((more == 2 && c < 0x800) || (more == 3 && c < 0x10000) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

struct Reader {
    explicit Reader(const std::string& bytes, CharSet charSet = VTC_UTF_8)
        : data(bytes), stream(data.data(), data.size())
    {
        stream.SetCharSet(charSet);
        EXPECT_EQ(stream.OpenReading(), VE_OK);
    }
    std::string data;
    VConstPtrStream stream;
};

}  // namespace

TEST(VStreamText, DetectUTF8MatchesAPlainValidator)
{
    unsigned char bytes[4];
    for (int a = 0; a < 256; ++a) {
        bytes[0] = static_cast<unsigned char>(a);
        ASSERT_EQ(DetectUTF8(bytes, 1), ReferenceUTF8(bytes, 1)) << a;
        for (int b = 0; b < 256; ++b) {
            bytes[1] = static_cast<unsigned char>(b);
            ASSERT_EQ(DetectUTF8(bytes, 2), ReferenceUTF8(bytes, 2)) << a << " " << b;
        }
    }
    for (int a = 0xC0; a < 256; ++a) {
        for (int b = 0x70; b < 0xD0; ++b) {
            for (int c = 0x70; c < 0xD0; ++c) {
                bytes[0] = static_cast<unsigned char>(a);
                bytes[1] = static_cast<unsigned char>(b);
                bytes[2] = static_cast<unsigned char>(c);
                ASSERT_EQ(DetectUTF8(bytes, 3), ReferenceUTF8(bytes, 3)) << a << " " << b << " " << c;
                bytes[3] = 0x80;
                ASSERT_EQ(DetectUTF8(bytes, 4), ReferenceUTF8(bytes, 4)) << a << " " << b << " " << c;
                bytes[3] = 0x41;
                ASSERT_EQ(DetectUTF8(bytes, 4), ReferenceUTF8(bytes, 4)) << a << " " << b << " " << c;
            }
        }
    }
    EXPECT_TRUE(DetectUTF8(nullptr, 0));
    EXPECT_TRUE(DetectUTF8("x", -1));
}

TEST(VStreamText, GuessFromLeadingBytes)
{
    struct Case {
        std::string bytes;
        CharSet defaultSet;
        bool analyse;
        CharSet expected;
        bool bom;
        long long pos;
    };
    std::string cutWindow = std::string(2046, 'a') + "\xE2\x82\xAC";  // the window ends inside the euro sign
    std::string wholeWindow = std::string(2045, 'a') + "\xE2\x82\xAC";
    const Case cases[] = {
        {"\xEF\xBB\xBF", VTC_ISO_8859_1, false, VTC_UTF_8, true, 3},
        {"\xEF\xBB\xBF" "A", VTC_ISO_8859_1, false, VTC_UTF_8, true, 3},
        {std::string("\xFF\xFE\x41\x00", 4), VTC_ISO_8859_1, false, VTC_UTF_16_SMALLENDIAN, true, 2},
        {std::string("\xFE\xFF\x00\x41", 4), VTC_ISO_8859_1, false, VTC_UTF_16_BIGENDIAN, true, 2},
        {std::string("\x00\x00\xFE\xFF", 4), VTC_ISO_8859_1, false, VTC_UTF_32_BIGENDIAN, true, 4},
        {std::string("\xFF\xFE\x00\x00", 4), VTC_ISO_8859_1, false, VTC_UTF_32_SMALLENDIAN, true, 4},
        {std::string("\x00\x41\x00\x42", 4), VTC_ISO_8859_1, false, VTC_UTF_16_BIGENDIAN, false, 0},
        {std::string("\x00\x41\x00\x42", 4), VTC_ISO_8859_1, true, VTC_UTF_8, false, 0},
        {std::string("\x41\x00\x42\x00", 4), VTC_ISO_8859_1, false, VTC_UTF_16_SMALLENDIAN, false, 0},
        {"ABCD", VTC_UTF_16_BIGENDIAN, false, VTC_UTF_8, false, 0},
        {"ABCD", VTC_US_ASCII, false, VTC_US_ASCII, false, 0},
        {"AB", VTC_UTF_16_BIGENDIAN, false, VTC_UTF_16_BIGENDIAN, false, 0},
        {"", VTC_ISO_8859_1, true, VTC_UTF_8, false, 0},
        {"", VTC_ISO_8859_1, false, VTC_ISO_8859_1, false, 0},
        {cutWindow, VTC_ISO_8859_1, true, VTC_ISO_8859_1, false, 0},
        {wholeWindow, VTC_ISO_8859_1, true, VTC_UTF_8, false, 0},
        {"caf\xE9 au lait", VTC_ISO_8859_1, true, VTC_ISO_8859_1, false, 0},
    };
    int index = 0;
    for (const Case& c : cases) {
        VConstPtrStream s(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(s.OpenReading(), VE_OK);
        bool bom = !c.bom;
        EXPECT_EQ(s.GuessCharSetFromLeadingBytes(c.defaultSet, c.analyse, &bom), VE_OK) << index;
        EXPECT_EQ(s.GetCharSet(), c.expected) << index;
        EXPECT_EQ(bom, c.bom) << index;
        EXPECT_EQ(s.GetPos(), c.pos) << index;
        EXPECT_EQ(s.GetLastError(), VE_OK) << index;
        ++index;
    }

    // Another stored error changes nothing.
    VPtrStream closed;
    closed.SetCharSet(VTC_UTF_8);
    EXPECT_EQ(closed.GuessCharSetFromLeadingBytes(VTC_UTF_16_BIGENDIAN), QeltError(203));
    EXPECT_EQ(closed.GetCharSet(), VTC_UTF_8);
}

TEST(VStreamText, LinesEndAtCRLFOrCROrLF)
{
    const std::string text = "a\r\nb\rc\nd";
    for (bool keep : {false, true}) {
        Reader r(text);
        VString line;
        for (const char* expected : {"a", "b", "c", "d"}) {
            EXPECT_EQ(r.stream.GetTextLine(line, keep), VE_OK);
            EXPECT_EQ(Utf8(line), std::string(expected) + (keep ? "\r" : ""));
        }
        EXPECT_EQ(r.stream.GetTextLine(line, keep), kEndOfData);
        EXPECT_EQ(Utf8(line), keep ? "\r" : "");
        EXPECT_EQ(r.stream.GetTextLine(line, keep), kEndOfData);
    }

    // The same text in both UTF-16 forms.
    for (CharSet cs : {VTC_UTF_16_SMALLENDIAN, VTC_UTF_16_BIGENDIAN}) {
        std::string bytes;
        for (char ch : text) {
            if (cs == VTC_UTF_16_BIGENDIAN)
                bytes.push_back('\0');
            bytes.push_back(ch);
            if (cs == VTC_UTF_16_SMALLENDIAN)
                bytes.push_back('\0');
        }
        for (bool keep : {false, true}) {
            Reader r(bytes, cs);
            VString line;
            for (const char* expected : {"a", "b", "c", "d"}) {
                EXPECT_EQ(r.stream.GetTextLine(line, keep), VE_OK) << cs;
                EXPECT_EQ(Utf8(line), std::string(expected) + (keep ? "\r" : "")) << cs;
            }
            EXPECT_EQ(r.stream.GetTextLine(line, keep), kEndOfData) << cs;
        }
    }
}

TEST(VStreamText, LinesAcrossChunks)
{
    // CR at the end of a 256-byte chunk, its LF in the next one.
    std::string first(255, 'x');
    Reader r(first + "\r\ny");
    VString line;
    EXPECT_EQ(r.stream.GetTextLine(line, false), VE_OK);
    EXPECT_EQ(Utf8(line), first);
    EXPECT_EQ(r.stream.GetTextLine(line, false), VE_OK);
    EXPECT_EQ(Utf8(line), "y");

    // A CR ending a chunk and followed by another character.
    Reader r2(first + "\rz");
    EXPECT_EQ(r2.stream.GetTextLine(line, false), VE_OK);
    EXPECT_EQ(Utf8(line), first);
    EXPECT_EQ(r2.stream.GetTextLine(line, false), VE_OK);
    EXPECT_EQ(Utf8(line), "z");

    // A long line without line end comes back whole.
    std::string longLine(1000, 'q');
    longLine[500] = 'Q';
    Reader r3(longLine);
    EXPECT_EQ(r3.stream.GetTextLine(line, false), VE_OK);
    EXPECT_EQ(Utf8(line), longLine);
    EXPECT_EQ(r3.stream.GetTextLine(line, false), kEndOfData);

    // UTF-16: CR as the last unit of a 512-byte chunk.
    std::string wide;
    for (int i = 0; i < 255; ++i)
        wide.append("w\0", 2);
    wide.append("\r\0\n\0v\0", 6);
    Reader r4(wide, VTC_UTF_16_SMALLENDIAN);
    EXPECT_EQ(r4.stream.GetTextLine(line, false), VE_OK);
    EXPECT_EQ(line.GetLength(), 255);
    EXPECT_EQ(r4.stream.GetTextLine(line, false), VE_OK);
    EXPECT_EQ(Utf8(line), "v");

    // A half unit at the end of UTF-16 data is dropped, not read forever.
    Reader r5(std::string("a\0b", 3), VTC_UTF_16_SMALLENDIAN);
    EXPECT_EQ(r5.stream.GetTextLine(line, false), VE_OK);
    EXPECT_EQ(Utf8(line), "a");
    EXPECT_EQ(r5.stream.GetTextLine(line, false), kEndOfData);
}

TEST(VStreamText, LineEndUnitReplacesCRAndLF)
{
    const UniChar semicolon = ';';
    Reader r("a;b\nc");
    VString line;
    EXPECT_EQ(r.stream.GetTextLine(line, false, &semicolon), VE_OK);
    EXPECT_EQ(Utf8(line), "a");
    EXPECT_EQ(r.stream.GetTextLine(line, true, &semicolon), VE_OK);
    EXPECT_EQ(Utf8(line), "b\nc\r");

    // UTF-16: the unit and LF end the line; CR does not.
    std::string wide = std::string("x\0;\0y\0\r\0z\0\n\0w\0", 14);
    Reader r2(wide, VTC_UTF_16_SMALLENDIAN);
    EXPECT_EQ(r2.stream.GetTextLine(line, true, &semicolon), VE_OK);
    EXPECT_EQ(Utf8(line), "x;");
    EXPECT_EQ(r2.stream.GetTextLine(line, true, &semicolon), VE_OK);
    EXPECT_EQ(Utf8(line), "y\rz\r");
    EXPECT_EQ(r2.stream.GetTextLine(line, false, &semicolon), VE_OK);
    EXPECT_EQ(Utf8(line), "w");
}

TEST(VStreamText, TabSeparatedRecords)
{
    Reader r("x\t\ty\r\n\tlast\t");
    VArrayString fields;
    auto piece = [&fields](int position) {
        VString s;
        fields.GetString(s, position);
        return Utf8(s);
    };
    EXPECT_EQ(r.stream.GetTTRLine(fields), VE_OK);
    ASSERT_EQ(fields.GetCount(), 3);
    EXPECT_EQ(piece(1), "x");
    EXPECT_EQ(piece(2), "");
    EXPECT_EQ(piece(3), "y");
    EXPECT_EQ(r.stream.GetTTRLine(fields), VE_OK);
    ASSERT_EQ(fields.GetCount(), 3);
    EXPECT_EQ(piece(2), "last");
    EXPECT_EQ(r.stream.GetTTRLine(fields), kEndOfData);
    ASSERT_EQ(fields.GetCount(), 1);
    EXPECT_EQ(piece(1), "");
}

TEST(VStreamText, WholeText)
{
    std::string text = "h\xC3\xA9llo \xE2\x82\xAC";
    std::string big;
    while (big.size() < 10000)
        big += text;  // crosses the 4096-byte buffer, characters cut at its edges
    Reader r(big);
    VString result("prefix:");
    EXPECT_EQ(r.stream.GetText(result), VE_OK);
    EXPECT_EQ(Utf8(result), "prefix:" + big);

    // Ending inside a character: 210, the text before it is kept.
    Reader cut("ab\xE2\x82");
    VString partial;
    EXPECT_EQ(cut.stream.GetText(partial), QeltError(210));
    EXPECT_EQ(Utf8(partial), "ab");
    EXPECT_EQ(cut.stream.GetLastError(), QeltError(210));
}

TEST(VStreamText, TextWithAMaximum)
{
    Reader r("abcd\xC3\xA9");
    VString text;
    EXPECT_EQ(r.stream.GetText(text, 3), VE_OK);
    EXPECT_EQ(Utf8(text), "abc");
    EXPECT_EQ(r.stream.GetPos(), 3);
    text.Clear();
    EXPECT_EQ(r.stream.GetText(text, 10), kEndOfData);
    EXPECT_EQ(Utf8(text), "d\xC3\xA9");

    Reader r2("x\xC3\xA9yz");
    text.Clear();
    EXPECT_EQ(r2.stream.GetText(text, 2), VE_OK);
    EXPECT_EQ(Utf8(text), "x\xC3\xA9");
    EXPECT_EQ(r2.stream.GetPos(), 3);

    Reader wide(std::string("a\0b\0c\0", 6), VTC_UTF_16_SMALLENDIAN);
    text.Clear();
    EXPECT_EQ(wide.stream.GetText(text, 2), VE_OK);
    EXPECT_EQ(Utf8(text), "ab");
    EXPECT_EQ(wide.stream.GetPos(), 4);
    EXPECT_EQ(wide.stream.GetText(text, 5), kEndOfData);
    EXPECT_EQ(Utf8(text), "abc");

    // A huge maximum on a short stream reads what is there.
    Reader shortText("xy");
    text.Clear();
    EXPECT_EQ(shortText.stream.GetText(text, 0x7FFFFFFF), kEndOfData);
    EXPECT_EQ(Utf8(text), "xy");
    Reader shortWide(std::string("x\0y\0z", 5), VTC_UTF_16_SMALLENDIAN);
    text.Clear();
    EXPECT_EQ(shortWide.stream.GetText(text, 0x7FFFFFFF), kEndOfData);
    EXPECT_EQ(Utf8(text), "xy");

    Reader big(std::string("\0a\0b", 4), VTC_UTF_16_BIGENDIAN);
    text.Clear();
    EXPECT_EQ(big.stream.GetText(text, 2), VE_OK);
    EXPECT_EQ(Utf8(text), "ab");
}

TEST(VStreamText, WritingText)
{
    VPtrStream s;
    s.SetCharSet(VTC_UTF_8);
    ASSERT_EQ(s.OpenWriting(), VE_OK);
    ASSERT_EQ(s.WriteBOM(), VE_OK);
    s.SetCarriageReturnMode(eCRM_CRLF);
    ASSERT_EQ(s.PutText(FromUtf8("a\rb\xC3\xA9")), VE_OK);
    EXPECT_EQ(Contents(s), "\xEF\xBB\xBF" "a\r\nb\xC3\xA9");

    VPtrStream wide;
    wide.SetCharSet(VTC_UTF_16_BIGENDIAN);
    wide.SetCarriageReturnMode(eCRM_NONE);
    ASSERT_EQ(wide.OpenWriting(), VE_OK);
    ASSERT_EQ(wide.WriteBOM(), VE_OK);
    ASSERT_EQ(wide.PutText(VString("hi")), VE_OK);
    EXPECT_EQ(Contents(wide), std::string("\xFE\xFF\0h\0i", 6));

    // A set without a mark writes none.
    VPtrStream plain;
    plain.SetCharSet(VTC_ISO_8859_1);
    ASSERT_EQ(plain.OpenWriting(), VE_OK);
    ASSERT_EQ(plain.WriteBOM(), VE_OK);
    EXPECT_EQ(plain.GetDataSize(), 0u);

    VPtrStream formatted;
    formatted.SetCharSet(VTC_UTF_8);
    ASSERT_EQ(formatted.OpenWriting(), VE_OK);
    VString name("caf\xC3\xA9");
    ASSERT_EQ(formatted.PutPrintf("%d-%S-%s", 42, &name, "x"), VE_OK);
    EXPECT_EQ(Contents(formatted), "42-caf\xC3\xA9-x");

    VPtrStream closed;
    EXPECT_EQ(closed.PutText(VString("x")), QeltError(204));
    EXPECT_EQ(closed.PutPrintf("%d", 1), QeltError(204));
}

TEST(VStreamText, CharSetsWithoutConverterAreRefused)
{
    const char data[] = "abc";
    VConstPtrStream s(data, 3);
    s.SetCharSet(VTC_UNKNOWN);
    EXPECT_EQ(s.OpenReading(), QeltError(208));
    EXPECT_FALSE(s.IsReading());

    s.SetCharSet(VTC_UTF_8);
    ASSERT_EQ(s.OpenReading(), VE_OK);
    EXPECT_EQ(s.SetCharSet(VTC_UNKNOWN), QeltError(208));
    EXPECT_EQ(s.GetLastError(), QeltError(208));
    VString line;
    EXPECT_EQ(s.GetTextLine(line, false), QeltError(208));
}

}  // namespace qelt
