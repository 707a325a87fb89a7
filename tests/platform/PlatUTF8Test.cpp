#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/PlatUTF8.h"

namespace qelt::plat {

namespace {

using Units = std::vector<unsigned short>;

struct Decoded {
    Units units;
    size_t consumed;
    bool ok;
};

Decoded Decode(const std::string& inBytes, UTF8Mode inMode, bool inFinal, size_t inCapacity = 64)
{
    Units units(inCapacity + 1, 0xBEEF);
    UTF8Result r = DecodeUTF8(inBytes.data(), inBytes.size(), units.data(), inCapacity, inMode, inFinal);
    EXPECT_EQ(units[inCapacity], 0xBEEF) << "wrote past the target";
    units.resize(r.produced);
    return {units, r.consumed, r.ok};
}

}  // namespace

// What each mode makes of ill-formed and refused bytes, whole (final) and as
// part of a longer text.
TEST(PlatUTF8, EachModeTreatsIllFormedBytesItsOwnWay)
{
    struct Case {
        const char* what;
        std::string bytes;
        Units converter;
        Units replace;
        bool converterOk;
    };
    const Case cases[] = {
        {"well formed", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00},
         {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00}, true},
        {"lone trailing byte", "\xA9x", {0xA9, 'x'}, {0xFFFD, 'x'}, true},
        {"lead not followed", "\xC3x", {0xC3, 'x'}, {0xFFFD, 'x'}, true},
        {"overlong slash", "\xC0\xAF", {'?'}, {0xFFFD}, false},
        {"two-byte zero kept", std::string("\xC0\x80", 2), {0}, {0}, true},
        {"encoded surrogate", "\xED\xA0\x80", {'?'}, {0xFFFD}, false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", {'?'}, {0xFFFD}, false},
        {"cut off at the end, final", "x\xE2\x82", {'x', 0xE2, 0x82}, {'x', 0xFFFD, 0xFFFD}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Decoded conv = Decode(c.bytes, UTF8Mode::kConverter, true);
        EXPECT_EQ(conv.units, c.converter);
        EXPECT_EQ(conv.consumed, c.bytes.size());
        EXPECT_EQ(conv.ok, c.converterOk);
        Decoded repl = Decode(c.bytes, UTF8Mode::kReplace, true);
        EXPECT_EQ(repl.units, c.replace);
        EXPECT_EQ(repl.consumed, c.bytes.size());
        EXPECT_EQ(repl.ok, c.replace == c.converter && c.converterOk);
    }
}

TEST(PlatUTF8, ACutOffSequenceWaitsForMoreBytesUnlessFinal)
{
    Decoded waiting = Decode("x\xF0\x9F\x98", UTF8Mode::kReplace, false);
    EXPECT_EQ(waiting.units, (Units{'x'}));
    EXPECT_EQ(waiting.consumed, 1u);
    EXPECT_TRUE(waiting.ok);
}

// The block paths of long text see refused sequences as the byte loop does.
TEST(PlatUTF8, RefusedSequencesInsideLongTextAreCaught)
{
    for (const char* bad : {"\xED\xA0\x80", "\xE0\x80\xAE", "\xC0\xAF"}) {
        for (size_t at = 0; at < 20; at += 3) {
            std::string text;
            Units expected;
            for (size_t i = 0; i < 20; ++i) {
                if (i == at) {
                    text += bad;
                    expected.push_back(0xFFFD);
                } else {
                    text += "\xE2\x82\xAC";
                    expected.push_back(0x20AC);
                }
            }
            SCOPED_TRACE(at);
            Decoded r = Decode(text, UTF8Mode::kReplace, true);
            EXPECT_EQ(r.units, expected);
            EXPECT_FALSE(r.ok);
        }
    }
}

TEST(PlatUTF8, EncodingWritesLoneSurrogatesPerModeAndNeverCutsACharacter)
{
    const Units text = {'a', 0xDC00, 0xD83D, 0xDE00, 0xD800};
    EXPECT_EQ(UTF16ToUTF8(text.data(), text.size(), UTF8Mode::kReplace),
              "a\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD");
    EXPECT_EQ(UTF16ToUTF8(text.data(), text.size(), UTF8Mode::kConverter), "a\xED\xB0\x80\xF0\x9F\x98\x80\xED\xA0\x80");

    // Not final: the last high surrogate waits for its other half.
    char bytes[16];
    UTF8Result waiting = EncodeUTF8(text.data(), text.size(), bytes, sizeof(bytes), UTF8Mode::kReplace, false);
    EXPECT_EQ(waiting.consumed, 4u);
    EXPECT_EQ(waiting.produced, 8u);
    EXPECT_FALSE(waiting.ok);

    // Room for 6 bytes: the pair (4 bytes) after 'a' and U+FFFD does not fit.
    UTF8Result cut = EncodeUTF8(text.data(), text.size(), bytes, 6, UTF8Mode::kReplace, true);
    EXPECT_EQ(cut.consumed, 2u);
    EXPECT_EQ(cut.produced, 4u);

    UTF8Result counted = EncodeUTF8(text.data(), text.size(), nullptr, 0, UTF8Mode::kReplace, true);
    EXPECT_EQ(counted.produced, 11u);
    EXPECT_EQ(counted.consumed, text.size());
}

TEST(PlatUTF8, CodePointsEncodeOnlyWhenTheyAreCharacters)
{
    struct Case {
        uint32_t codePoint;
        std::string bytes;
    };
    const Case cases[] = {{0x41, "A"},         {0x7FF, "\xDF\xBF"},        {0xFFFF, "\xEF\xBF\xBF"},
                          {0x1F600, "\xF0\x9F\x98\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"}, {0xD800, ""},
                          {0xDFFF, ""},        {0x110000, ""}};
    for (const Case& c : cases) {
        char bytes[4];
        size_t n = EncodeCodePoint(c.codePoint, bytes);
        EXPECT_EQ(std::string(bytes, n), c.bytes) << std::hex << c.codePoint;
    }
}

}  // namespace qelt::plat

namespace qelt::plat {

// Paths keep every byte that is not well-formed UTF-8 as U+DC00 + the byte,
// so that any name reads in and writes out unchanged, also inside the long
// runs the block paths decode and with exactly the room the text needs.
TEST(PlatUTF8, PathModeKeepsEveryByteOfAName)
{
    struct Case {
        const char* what;
        std::string bytes;
        Units path;
    };
    const Case cases[] = {
        {"well formed", "a\xC3\xA9", {'a', 0xE9}},
        {"latin-1", "caf\xE9", {'c', 'a', 'f', 0xDCE9}},
        {"two-byte zero", std::string("\xC0\x80", 2), {0xDCC0, 0xDC80}},
        {"overlong slash", "\xC0\xAF/", {0xDCC0, 0xDCAF, '/'}},
        {"encoded surrogate", "\xED\xA0\x80", {0xDCED, 0xDCA0, 0xDC80}},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},
        {"six-byte form", "\xFC\x80\x80\x80\x80\x80", {0xDCFC, 0xDC80, 0xDC80, 0xDC80, 0xDC80, 0xDC80}},
        {"cut off", "x\xE2\x82", {'x', 0xDCE2, 0xDC82}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Decoded d = Decode(c.bytes, UTF8Mode::kPath, true);
        EXPECT_EQ(d.units, c.path);
        EXPECT_EQ(d.consumed, c.bytes.size());
        EXPECT_EQ(UTF16ToUTF8(d.units.data(), d.units.size(), UTF8Mode::kPath), c.bytes);
        // Exactly the room the bytes need.
        std::string out(c.bytes.size(), '\0');
        UTF8Result r = EncodeUTF8(d.units.data(), d.units.size(), out.data(), out.size(), UTF8Mode::kPath, true);
        EXPECT_EQ(r.consumed, d.units.size());
        EXPECT_EQ(out, c.bytes);
    }

    std::string longText;
    for (int i = 0; i < 40; ++i)
        longText += (i % 7 == 3) ? std::string("\xED\xA0\x80") : std::string("\xE2\x82\xAC");
    longText += std::string(40, 'a') + "\xE9" + std::string(40, 'b');
    Decoded d = Decode(longText, UTF8Mode::kPath, true, 512);
    EXPECT_EQ(d.consumed, longText.size());
    EXPECT_EQ(UTF16ToUTF8(d.units.data(), d.units.size(), UTF8Mode::kPath), longText);

    // A lone surrogate that stands for no byte goes out as U+FFFD.
    const Units lone = {'a', 0xDC7F, 0xD800, 'b'};
    EXPECT_EQ(UTF16ToUTF8(lone.data(), lone.size(), UTF8Mode::kPath), "a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
}

}  // namespace qelt::plat
