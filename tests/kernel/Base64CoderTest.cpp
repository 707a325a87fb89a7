// Base64 coder: both alphabets, padding and leftover-bit rules, line breaks,
// white space, partial decoding, the digest writers and the string side.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <string>
#include <vector>

#include "kernel/Base64Coder.h"
#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

using Buffer = Base64Coder::Buffer;

std::string Text(const Buffer& b)
{
    return std::string(static_cast<const char*>(b.GetDataPtr()), static_cast<size_t>(b.GetDataSize()));
}

std::string Encode(const std::string& bytes, bool url, int lineLength = 0)
{
    Buffer out;
    EXPECT_TRUE(Base64Coder::_Encode(bytes.data(), bytes.size(), out, lineLength, url));
    return Text(out);
}

// Decoded bytes, or "<fail>" when the text does not decode.
std::string Decode(const std::string& text, bool url)
{
    Buffer out;
    if (!Base64Coder::Decode(text.data(), text.size(), out, url, false)) {
        EXPECT_EQ(out.GetDataSize(), 0u);
        return "<fail>";
    }
    return Text(out);
}

std::string Narrow(const VString& s)
{
    std::string r;
    for (int i = 0; i < s.GetLength(); ++i)
        r.push_back(static_cast<char>(s.GetCPointer()[i]));
    return r;
}

using test::Units;

TEST(Base64Coder, EncodesLastGroupWithAndWithoutPadding)
{
    struct Case {
        std::string bytes;
        const char* standard;
        const char* url;
    };
    const Case cases[] = {
        {std::string(1, '\0'), "AA==", "AA"},
        {"f", "Zg==", "Zg"},
        {"fo", "Zm8=", "Zm8"},
        {"foo", "Zm9v", "Zm9v"},
        {"foob", "Zm9vYg==", "Zm9vYg"},
        {"fooba", "Zm9vYmE=", "Zm9vYmE"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        {"\xfb\xff\xbf", "+/+/", "-_-_"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Encode(c.bytes, false), c.standard);
        EXPECT_EQ(Encode(c.bytes, true), c.url);
        EXPECT_EQ(Decode(c.standard, false), c.bytes) << c.standard;
        EXPECT_EQ(Decode(c.url, true), c.bytes) << c.url;
    }
}

TEST(Base64Coder, EmptyAndNullInputs)
{
    Buffer out;
    EXPECT_TRUE(Base64Coder::_Encode(nullptr, 0, out, 0, false));
    EXPECT_EQ(out.GetDataSize(), 0u);
    EXPECT_FALSE(Base64Coder::_Encode(nullptr, 3, out, 0, false));
    EXPECT_TRUE(Base64Coder::Decode(nullptr, 0, out, false, false));
    EXPECT_FALSE(Base64Coder::Decode(nullptr, 4, out, true, false));
}

TEST(Base64Coder, LineBreaksCountGroupsAndOnlyApplyToStandardAlphabet)
{
    EXPECT_EQ(Encode("abcdefghi", false, 1), "YWJj\r\nZGVm\r\nZ2hp");
    EXPECT_EQ(Encode("abcdefghi", true, 1), "YWJjZGVmZ2hp");
    EXPECT_EQ(Encode("abcdefghij", false, 2), "YWJjZGVm\r\nZ2hpag==");
    EXPECT_EQ(Encode("abcdef", false, 2), "YWJjZGVm");  // no break after the last group
    EXPECT_EQ(Decode("YWJj\r\nZGVm\r\nZ2hp", false), "abcdefghi");
}

TEST(Base64Coder, RejectsMalformedText)
{
    struct Case {
        const char* text;
        bool url;
        const char* result;
    };
    const Case cases[] = {
        {" Zm 9v\tYm\nFy\r", false, "foobar"},  // white space is ignored in the standard form
        {"Zm9 v", true, "<fail>"},              // but not in the URL form
        {"Zm9vY", false, "<fail>"},             // not a multiple of four
        {"Zm9vY", true, "<fail>"},              // 4k + 1
        {"Zm9vYg", true, "foob"},               // 4k + 2
        {"Zm9vYmE", true, "fooba"},             // 4k + 3
        {"Zm=v", false, "<fail>"},              // "=" third but not fourth
        {"Zg==Zm9v", false, "<fail>"},          // padding in an earlier group
        {"QR==", false, "<fail>"},              // leftover low bits not zero
        {"Zm9=", false, "<fail>"},              // '9' leaves a low bit set
        {"Zm8=", false, "fo"},
        {"Zn==", false, "<fail>"},
        {"QR", true, "<fail>"},
        {"Zm9", true, "<fail>"},
        {"Zm8", true, "fo"},
        {"Zm-", true, "<fail>"},                // low two bits set
        {"Zg==", true, "<fail>"},               // no padding in the URL form
        {"Zm+v", true, "<fail>"},               // standard characters are outside the URL alphabet
        {"Zm-v", false, "<fail>"},
        {"", false, ""},
        {"  \r\n", false, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(c.text, c.url), c.result) << '"' << c.text << "\" url " << c.url;
}

TEST(Base64Coder, KeepPartialHoldsOnlyTheDecodedBytes)
{
    // Two good groups, then a bad one: six bytes, none beyond.
    const std::string text = "Zm9vYmFy*m9v";
    Buffer out;
    EXPECT_FALSE(Base64Coder::Decode(text.data(), text.size(), out, false, true));
    EXPECT_EQ(Text(out), "foobar");
    EXPECT_FALSE(Base64Coder::Decode(text.data(), text.size(), out, true, true));
    EXPECT_EQ(Text(out), "foobar");
    // A bad last group keeps the groups before it.
    const std::string tail = "Zm9vQR==";
    EXPECT_FALSE(Base64Coder::Decode(tail.data(), tail.size(), out, false, true));
    EXPECT_EQ(Text(out), "foo");
    // Without keep-partial the buffer is emptied.
    EXPECT_FALSE(Base64Coder::Decode(text.data(), text.size(), out, false, false));
    EXPECT_EQ(out.GetDataSize(), 0u);
    EXPECT_EQ(out.GetDataPtr(), nullptr);
}

TEST(Base64Coder, DecodeQuadsAdvancesIndices)
{
    const unsigned char text[] = "Zm9vYm*y";
    unsigned char out[6] = {};
    unsigned long textIndex = 0;
    unsigned long outIndex = 0;
    EXPECT_TRUE(Base64Coder::_DecodeQuads(Base64Coder::sBase64Inverse, text, 0, out, textIndex, outIndex));
    EXPECT_FALSE(Base64Coder::_DecodeQuads(Base64Coder::sBase64Inverse, text, 2, out, textIndex, outIndex));
    EXPECT_EQ(textIndex, 7u);  // just past the "*"
    EXPECT_EQ(outIndex, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "foo");
}

TEST(Base64Coder, TablesAreInverse)
{
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(Base64Coder::sBase64Inverse[static_cast<unsigned char>(Base64Coder::sBase64Alphabet[i])], i);
        EXPECT_EQ(Base64Coder::sBase64URLInverse[static_cast<unsigned char>(Base64Coder::sBase64URLAlphabet[i])], i);
    }
    EXPECT_EQ(Base64Coder::sBase64Inverse['='], 255);
    EXPECT_EQ(Base64Coder::sBase64URLInverse['+'], 255);
    EXPECT_EQ(Base64Coder::sBase64Inverse['-'], 255);
}

TEST(Base64Coder, RoundTripsEveryLengthAndByte)
{
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
        for (bool url : {false, true}) {
            std::string text = Encode(bytes, url);
            EXPECT_EQ(Decode(text, url), bytes) << "length " << i;
        }
        bytes.push_back(static_cast<char>((i * 151 + 7) & 0xFF));
    }
}

TEST(Base64Coder, DigestWriters)
{
    const unsigned char digest[] = {0x00, 0xAB, 0xFF};
    VString hex(true);
    Base64Coder::DO_EncodeChecksumHexa(digest, 3, hex);
    EXPECT_EQ(Narrow(hex), "00abff");
    EXPECT_FALSE(hex.IsNull());

    VString empty(true);
    Base64Coder::DO_EncodeChecksumHexa(digest, 0, empty);
    EXPECT_EQ(empty.GetLength(), 0);
    EXPECT_FALSE(empty.IsNull());

    VString b64;
    Base64Coder::DO_EncodeChecksumBase64(reinterpret_cast<const unsigned char*>("foob"), 4, b64);
    EXPECT_EQ(Narrow(b64), "Zm9vYg==");
    Base64Coder::DO_EncodeChecksumBase64(digest, 0, b64);
    EXPECT_EQ(b64.GetLength(), 0);
    EXPECT_FALSE(b64.IsNull());
}

TEST(Base64Coder, StringForms)
{
    VString s("previous");
    EXPECT_TRUE(s.EncodeBase64("\xfb\xff", 2, false));
    EXPECT_EQ(Narrow(s), "+/8=");
    EXPECT_TRUE(s.EncodeBase64("\xfb\xff", 2, true));
    EXPECT_EQ(Narrow(s), "-_8");
    EXPECT_TRUE(s.EncodeBase64(nullptr, 0, false));
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_FALSE(s.IsNull());

    // Text through a character set and back.
    VString text("h\xc3\xa9llo", 6, VTC_UTF_8);
    VString copy(text);
    EXPECT_TRUE(copy.EncodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(Narrow(copy), "aMOpbGxv");
    EXPECT_TRUE(copy.DecodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(Units(copy), Units(text));

    VString none;
    EXPECT_TRUE(none.EncodeBase64(VTC_UTF_8, false));
    EXPECT_TRUE(none.DecodeBase64(VTC_UTF_8, false));
    EXPECT_EQ(none.GetLength(), 0);
    Buffer out;
    EXPECT_TRUE(none.DecodeBase64(out, false));
    EXPECT_EQ(out.GetDataSize(), 0u);

    VString bad("Zm8");
    EXPECT_FALSE(bad.DecodeBase64(out, false));
    EXPECT_TRUE(bad.DecodeBase64(out, true));
    EXPECT_EQ(Text(out), "fo");
}

TEST(Base64Coder, NonASCIITextFailsWithError210)
{
    // Raised errors are collected only under a started process object.
    VProcess* process = new VProcess;
    ASSERT_TRUE(process->Init(0));
    {
        StErrorContextInstaller errors;
        const UniChar units[] = {'Z', 'm', 0x00E9, 'v', 0};
        VString text(units);
        Buffer out;
        const std::string previous = "keep";
        ASSERT_TRUE(out.AppendData(previous.data(), previous.size()));
        EXPECT_FALSE(Base64Coder::DecodeBase64(text, out, false));
        EXPECT_EQ(errors.GetLastError(), QeltError(210));
        EXPECT_EQ(Text(out), "keep");  // left as it was
        VString copy(text);
        EXPECT_FALSE(Base64Coder::DecodeBase64(copy, VTC_UTF_8, false));
        EXPECT_EQ(Units(copy), Units(text));
    }
    delete process;
}

}  // namespace
}  // namespace qelt
