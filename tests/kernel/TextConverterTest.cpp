#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kernel/VCppMemMgr.h"
#include "kernel/VMemory.h"
#include "kernel/VString.h"
#include "kernel/VTextConverter.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

namespace {

using Bytes = std::vector<unsigned char>;
using Units = std::vector<UniChar>;

struct DecodeResult {
    bool ok;
    unsigned long consumed;
    Units units;
};

DecodeResult Decode(VToUnicodeConverter& inConverter, const Bytes& inBytes, int inCapacity)
{
    Units target(static_cast<size_t>(inCapacity) + 1, 0xBEEF);
    DecodeResult r{};
    int produced = -1;
    r.ok = inConverter.Convert(inBytes.data(), inBytes.size(), &r.consumed, target.data(), inCapacity, &produced);
    EXPECT_GE(produced, 0);
    EXPECT_LE(produced, inCapacity);
    EXPECT_EQ(target[static_cast<size_t>(inCapacity)], 0xBEEF) << "wrote beyond the capacity";
    r.units.assign(target.begin(), target.begin() + produced);
    return r;
}

struct EncodeResult {
    bool ok;
    int consumed;
    Bytes bytes;
};

EncodeResult Encode(VFromUnicodeConverter& inConverter, const Units& inUnits, unsigned long inCapacity)
{
    Bytes target(inCapacity + 1, 0xEE);
    EncodeResult r{};
    unsigned long produced = 0;
    r.ok = inConverter.Convert(inUnits.data(), static_cast<int>(inUnits.size()), &r.consumed, target.data(),
                               inCapacity, &produced);
    EXPECT_LE(produced, inCapacity);
    EXPECT_EQ(target[inCapacity], 0xEE) << "wrote beyond the capacity";
    r.bytes.assign(target.begin(), target.begin() + static_cast<long>(produced));
    return r;
}

Units UnitsOf(const VString& inString)
{
    return Units(inString.GetCPointer(), inString.GetCPointer() + inString.GetLength());
}

// A straightforward UTF-8 decoder by the rules of the toolbox, one unit
// at a time: the reference the fast decoder is checked against.
DecodeResult ReferenceDecodeUTF8(const Bytes& inBytes, int inCapacity)
{
    static const uint32_t offsets[6] = {0, 0x3080, 0xE2080, 0x3C82080, 0xFA082080u, 0x82082080u};
    DecodeResult r{true, 0, {}};
    size_t i = 0;
    const size_t n = inBytes.size();
    if (n == 0 || inCapacity <= 0)
        return r;
    while (i < n && static_cast<int>(r.units.size()) < inCapacity) {
        const unsigned c = inBytes[i];
        int trail = c < 0x80 ? 0 : c < 0xC0 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF8 ? 3 : c < 0xFC ? 4 : 5;
        bool formed = true;
        for (int k = 1; k <= trail && i + k < n; ++k)
            if ((inBytes[i + k] & 0xC0) != 0x80)
                formed = false;
        if (!formed) {
            r.units.push_back(static_cast<UniChar>(c));
            ++i;
            continue;
        }
        if (i + trail >= n)
            break;
        uint32_t v = 0;
        for (int k = 0; k <= trail; ++k)
            v = (v << 6) + inBytes[i + k];
        v -= offsets[trail];
        const int room = inCapacity - static_cast<int>(r.units.size());
        static const uint32_t minimums[6] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
        const bool overlong = v < minimums[trail] && !(trail == 1 && v == 0);
        const bool refused = overlong || (v >= 0xD800 && v <= 0xDFFF) || v > 0x10FFFF;
        if (refused) {
            r.ok = false;
            if (room < 2)
                break;
            r.units.push_back('?');
        } else if (v < 0x10000) {
            r.units.push_back(static_cast<UniChar>(v));
        } else {
            if (room < 2)
                break;
            r.units.push_back(static_cast<UniChar>(((v - 0x10000) >> 10) + 0xD800));
            r.units.push_back(static_cast<UniChar>((v & 0x3FF) | 0xDC00));
        }
        i += trail + 1;
    }
    r.consumed = i;
    return r;
}

// The UTF-8 encoder by the rules of the toolbox, one unit at a time.
EncodeResult ReferenceEncodeUTF8(const Units& inUnits, unsigned long inCapacity)
{
    EncodeResult r{true, 0, {}};
    size_t i = 0;
    while (i < inUnits.size()) {
        uint32_t v = inUnits[i];
        size_t used = 1;
        if (v >= 0xD800 && v <= 0xDBFF) {
            if (i + 1 >= inUnits.size())
                break;
            if (inUnits[i + 1] >= 0xDC00 && inUnits[i + 1] <= 0xDFFF) {
                v = (v << 10) + inUnits[i + 1] - 0x35FDC00;
                used = 2;
            }
        }
        Bytes bytes;
        if (v < 0x80) {
            bytes = {static_cast<unsigned char>(v)};
        } else if (v < 0x800) {
            bytes = {static_cast<unsigned char>(0xC0 | (v >> 6)), static_cast<unsigned char>(0x80 | (v & 0x3F))};
        } else if (v < 0x10000) {
            bytes = {static_cast<unsigned char>(0xE0 | (v >> 12)), static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F)),
                     static_cast<unsigned char>(0x80 | (v & 0x3F))};
        } else {
            bytes = {static_cast<unsigned char>(0xF0 | (v >> 18)), static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F)),
                     static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F)), static_cast<unsigned char>(0x80 | (v & 0x3F))};
        }
        if (r.bytes.size() + bytes.size() > inCapacity)
            break;
        r.bytes.insert(r.bytes.end(), bytes.begin(), bytes.end());
        i += used;
    }
    r.consumed = static_cast<int>(i);
    return r;
}

// Random text made of whole pieces (ASCII runs, two-, three- and four-byte
// characters) with broken bytes here and there, long enough for the block
// paths of the converters.
Bytes RandomUTF8(std::mt19937& ioRng, size_t inPieces)
{
    static const Bytes broken[] = {{0x80},       {0xC3}, {0xE2, 0x82},       {0xF0, 0x9F},
                                   {0xFF},       {0xF4, 0x90, 0x80, 0x80},   {0xC0, 0xAF},
                                   {0xC0, 0x80}, {0xE0, 0x80, 0xAF},         {0xF0, 0x80, 0x80, 0xAF},
                                   {0xED, 0xB0, 0x80}};
    constexpr size_t kBroken = sizeof(broken) / sizeof(broken[0]);
    Bytes out;
    for (size_t p = 0; p < inPieces; ++p) {
        const unsigned kind = ioRng() % 16;
        if (kind < 4) {
            const size_t run = ioRng() % 40;
            for (size_t k = 0; k < run; ++k)
                out.push_back(static_cast<unsigned char>(0x20 + ioRng() % 0x5F));
        } else if (kind < 7) {
            const uint32_t v = 0x80 + ioRng() % 0x780;
            out.push_back(static_cast<unsigned char>(0xC0 | (v >> 6)));
            out.push_back(static_cast<unsigned char>(0x80 | (v & 0x3F)));
        } else if (kind < 14) {
            const size_t run = 1 + ioRng() % 12;
            for (size_t k = 0; k < run; ++k) {
                const uint32_t v = 0x800 + ioRng() % 0xF800;
                out.push_back(static_cast<unsigned char>(0xE0 | (v >> 12)));
                out.push_back(static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F)));
                out.push_back(static_cast<unsigned char>(0x80 | (v & 0x3F)));
            }
        } else if (kind < 15) {
            const uint32_t v = 0x10000 + ioRng() % 0x100000;
            out.push_back(static_cast<unsigned char>(0xF0 | (v >> 18)));
            out.push_back(static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F)));
            out.push_back(static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F)));
            out.push_back(static_cast<unsigned char>(0x80 | (v & 0x3F)));
        } else {
            const Bytes& b = broken[ioRng() % kBroken];
            out.insert(out.end(), b.begin(), b.end());
        }
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// UTF-8 decoding

TEST(TextConverterUTF8, DecodesTheListedByteSequences)
{
    VToUnicodeConverter_UTF8 converter;
    struct Case {
        const char* what;
        Bytes bytes;
        Units units;
        unsigned long consumed;
        bool ok;
    };
    const Case cases[] = {
        {"ascii", {'a', 'b'}, {'a', 'b'}, 2, true},
        {"lead byte not followed by a trailing byte", {0xC3, 0x41}, {0x00C3, 'A'}, 2, true},
        {"three-byte lead followed by one trailing byte and ASCII", {0xE2, 0x82, 0x41}, {0x00E2, 0x0082, 'A'}, 3, true},
        {"four-byte lead broken in its last byte", {0xF0, 0x9F, 0x98, 0x41}, {0xF0, 0x9F, 0x98, 'A'}, 4, true},
        {"lone trailing byte", {0xA9}, {0x00A9}, 1, true},
        {"overlong zero", {0xC0, 0x80}, {0x0000}, 2, true},
        {"beyond Unicode", {0xF4, 0x90, 0x80, 0x80}, {'?'}, 4, false},
        {"two-byte form", {0xC3, 0xA9}, {0x00E9}, 2, true},
        {"three-byte form", {0xE2, 0x82, 0xAC}, {0x20AC}, 3, true},
        {"encoded high surrogate", {0xED, 0xA0, 0x80}, {'?'}, 3, false},
        {"encoded low surrogate", {0xED, 0xBF, 0xBF}, {'?'}, 3, false},
        {"last unit before the surrogates", {0xED, 0x9F, 0xBF}, {0xD7FF}, 3, true},
        {"overlong slash in two bytes", {0xC0, 0xAF, 'x'}, {'?', 'x'}, 3, false},
        {"overlong C1 form", {0xC1, 0xBF}, {'?'}, 2, false},
        {"overlong dot in three bytes", {0xE0, 0x80, 0xAE}, {'?'}, 3, false},
        {"overlong in four bytes", {0xF0, 0x8F, 0xBF, 0xBF}, {'?'}, 4, false},
        {"smallest three-byte value", {0xE0, 0xA0, 0x80}, {0x0800}, 3, true},
        {"smallest four-byte value", {0xF0, 0x90, 0x80, 0x80}, {0xD800, 0xDC00}, 4, true},
        {"largest value", {0xF4, 0x8F, 0xBF, 0xBF}, {0xDBFF, 0xDFFF}, 4, true},
        {"four-byte form", {0xF0, 0x9F, 0x98, 0x80}, {0xD83D, 0xDE00}, 4, true},
        {"incomplete sequence at the end", {'x', 0xE2, 0x82}, {'x'}, 1, true},
        {"five-byte form", {0xF8, 0x88, 0x80, 0x80, 0x80}, {'?'}, 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DecodeResult r = Decode(converter, c.bytes, 16);
        EXPECT_EQ(r.units, c.units);
        EXPECT_EQ(r.consumed, c.consumed);
        EXPECT_EQ(r.ok, c.ok);
    }
}

TEST(TextConverterUTF8, StopsBeforeASequenceThatNeedsMoreRoom)
{
    VToUnicodeConverter_UTF8 converter;
    const Bytes smiley = {0xF0, 0x9F, 0x98, 0x80};
    DecodeResult one = Decode(converter, smiley, 1);
    EXPECT_TRUE(one.ok);
    EXPECT_EQ(one.consumed, 0u);
    EXPECT_TRUE(one.units.empty());
    DecodeResult two = Decode(converter, smiley, 2);
    EXPECT_EQ(two.units, (Units{0xD83D, 0xDE00}));
    EXPECT_EQ(two.consumed, 4u);

    // "?" for a value beyond Unicode needs two units of room as well.
    DecodeResult beyond = Decode(converter, {'a', 0xF4, 0x90, 0x80, 0x80}, 2);
    EXPECT_EQ(beyond.units, (Units{'a'}));
    EXPECT_EQ(beyond.consumed, 1u);
    EXPECT_FALSE(beyond.ok);

    DecodeResult empty = Decode(converter, {'a'}, 0);
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.consumed, 0u);
}

TEST(TextConverterUTF8, FastPathsAgreeWithTheReferenceOnRandomInput)
{
    VToUnicodeConverter_UTF8 converter;
    std::mt19937 rng(12345);
    // Byte pools that favour long ASCII runs, valid sequences and broken ones.
    const Bytes pool = {'a', 'b', ' ', 'Z', 0x7F, 0x00, 0xC3, 0xA9, 0x80, 0xBF, 0xE2, 0x82, 0xAC, 0xF0,
                        0x9F, 0x98, 0x80, 0xF4, 0x90, 0xF8, 0xFC, 0xFF, 0xC0, 0xED, 0xA0};
    for (int round = 0; round < 3000; ++round) {
        const size_t length = rng() % 80;
        Bytes bytes;
        for (size_t i = 0; i < length; ++i) {
            if (rng() % 3 == 0) {
                const size_t run = rng() % 40;
                for (size_t k = 0; k < run; ++k)
                    bytes.push_back(static_cast<unsigned char>('A' + rng() % 26));
            }
            bytes.push_back(pool[rng() % pool.size()]);
        }
        const int capacity = static_cast<int>(rng() % (bytes.size() + 3));
        DecodeResult expected = ReferenceDecodeUTF8(bytes, capacity);
        DecodeResult actual = Decode(converter, bytes, capacity);
        ASSERT_EQ(actual.units, expected.units) << "round " << round;
        ASSERT_EQ(actual.consumed, expected.consumed) << "round " << round;
        ASSERT_EQ(actual.ok, expected.ok) << "round " << round;
    }
}

TEST(TextConverterUTF8, BlockPathsAgreeWithTheReferenceOnLongRandomText)
{
    VToUnicodeConverter_UTF8 decoder;
    VFromUnicodeConverter_UTF8 encoder;
    std::mt19937 rng(4242);
    for (int round = 0; round < 400; ++round) {
        const Bytes bytes = RandomUTF8(rng, 1 + rng() % 120);
        // room for everything, and a random shortfall
        for (int capacity : {static_cast<int>(bytes.size()) + 16, static_cast<int>(rng() % (bytes.size() + 1))}) {
            DecodeResult expected = ReferenceDecodeUTF8(bytes, capacity);
            DecodeResult actual = Decode(decoder, bytes, capacity);
            ASSERT_EQ(actual.units, expected.units) << "round " << round << " capacity " << capacity;
            ASSERT_EQ(actual.consumed, expected.consumed);
            ASSERT_EQ(actual.ok, expected.ok);
        }
        // Encoding the decoded units, lone surrogates and all.
        Units units = ReferenceDecodeUTF8(bytes, static_cast<int>(bytes.size()) + 1).units;
        if (rng() % 4 == 0 && !units.empty())
            units[rng() % units.size()] = static_cast<UniChar>(0xD800 + rng() % 0x800);
        for (unsigned long capacity : {units.size() * 3 + 8, static_cast<unsigned long>(rng() % (units.size() * 3 + 1)),
                                       static_cast<unsigned long>(units.size())}) {
            EncodeResult expected = ReferenceEncodeUTF8(units, capacity);
            EncodeResult actual = Encode(encoder, units, capacity);
            ASSERT_EQ(actual.bytes, expected.bytes) << "round " << round << " capacity " << capacity;
            ASSERT_EQ(actual.consumed, expected.consumed);
            ASSERT_TRUE(actual.ok);
        }
    }
}

TEST(TextConverterUTF8, ValidTextDecodesAsTheUnicodeLibraryDoes)
{
    VToUnicodeConverter_UTF8 decoder;
    VFromUnicodeConverter_UTF8 encoder;
    std::mt19937 rng(777);
    for (int round = 0; round < 500; ++round) {
        std::u16string text;
        const size_t length = rng() % 200;
        for (size_t i = 0; i < length; ++i) {
            switch (rng() % 5) {
                case 0:
                case 1:
                    text.push_back(static_cast<char16_t>(0x20 + rng() % 0x5F));
                    break;
                case 2:
                    text.push_back(static_cast<char16_t>(0xA0 + rng() % 0x700));
                    break;
                case 3:
                    text.push_back(static_cast<char16_t>(0x3000 + rng() % 0x6000));
                    break;
                default: {
                    const uint32_t cp = 0x10000 + rng() % 0xFFFFF;
                    text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                    text.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
                }
            }
        }
        std::string utf8(text.size() * 3 + 1, '\0');
        int32_t utf8Length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strToUTF8(utf8.data(), static_cast<int32_t>(utf8.size()), &utf8Length, text.data(),
                    static_cast<int32_t>(text.size()), &error);
        ASSERT_TRUE(U_SUCCESS(error));
        utf8.resize(static_cast<size_t>(utf8Length));

        const Bytes bytes(utf8.begin(), utf8.end());
        DecodeResult decoded = Decode(decoder, bytes, static_cast<int>(bytes.size()) + 1);
        EXPECT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.consumed, bytes.size());
        EXPECT_EQ(std::u16string(decoded.units.begin(), decoded.units.end()), text);

        const Units units(text.begin(), text.end());
        EncodeResult encoded = Encode(encoder, units, bytes.size() + 8);
        EXPECT_TRUE(encoded.ok);
        EXPECT_EQ(encoded.consumed, static_cast<int>(units.size()));
        EXPECT_EQ(encoded.bytes, bytes);

        // Any smaller target gets a prefix of whole characters.
        const unsigned long small = rng() % (bytes.size() + 1);
        EncodeResult part = Encode(encoder, units, small);
        EXPECT_TRUE(part.ok);
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(part.bytes.size())), part.bytes);
        EXPECT_GT(part.bytes.size() + 4, small);
    }
}

// ---------------------------------------------------------------------------
// UTF-8 encoding

TEST(TextConverterUTF8, EncodesSurrogatesAndStopsAtTheEnd)
{
    VFromUnicodeConverter_UTF8 converter;
    struct Case {
        const char* what;
        Units units;
        Bytes bytes;
        int consumed;
    };
    const Case cases[] = {
        {"surrogate pair", {0xD83D, 0xDE00}, {0xF0, 0x9F, 0x98, 0x80}, 2},
        {"high surrogate last is left for the next call", {'a', 0xD83D}, {'a'}, 1},
        {"high surrogate followed by a letter keeps the letter", {0xDBFF, 'A'}, {0xED, 0xAF, 0xBF, 'A'}, 2},
        {"lone low surrogate is its own value", {0xDC00}, {0xED, 0xB0, 0x80}, 1},
        {"two and three bytes", {0xE9, 0x20AC}, {0xC3, 0xA9, 0xE2, 0x82, 0xAC}, 2},
        {"nothing", {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EncodeResult r = Encode(converter, c.units, 32);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.bytes, c.bytes);
        EXPECT_EQ(r.consumed, c.consumed);
    }
}

TEST(TextConverterUTF8, StopsBeforeAUnitThatDoesNotFitAndCountsWithoutATarget)
{
    VFromUnicodeConverter_UTF8 converter;
    const Units text = {'a', 0x20AC, 'b'};
    EncodeResult r = Encode(converter, text, 3);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.consumed, 1);
    EXPECT_EQ(r.bytes, (Bytes{'a'}));

    int consumed = 0;
    unsigned long produced = 0;
    const Units mixed = {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xD800};
    EXPECT_TRUE(converter.Convert(mixed.data(), static_cast<int>(mixed.size()), &consumed, nullptr, 0, &produced));
    EXPECT_EQ(produced, 1u + 2 + 3 + 4);
    EXPECT_EQ(consumed, 5);
}

TEST(TextConverterUTF8, EncodesWideCharacters)
{
    VFromUnicodeConverter_UTF8 converter;
    struct Case {
        std::vector<wchar_t> units;
        Bytes bytes;
        int consumed;
        bool ok;
    };
    const Case cases[] = {
        {{L'a', 0x1F600}, {'a', 0xF0, 0x9F, 0x98, 0x80}, 2, true},
        {{0xD83D, 0xDE00}, {0xF0, 0x9F, 0x98, 0x80}, 2, true},
        {{0x4000000}, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, 1, true},
        {{0x200000}, {0xF8, 0x88, 0x80, 0x80, 0x80}, 1, true},
        {{L'a', static_cast<wchar_t>(-5), L'b'}, {'a'}, 1, false},
        {{L'a', 0xD800}, {'a'}, 1, true},
    };
    for (const Case& c : cases) {
        Bytes target(32, 0);
        int consumed = 0;
        unsigned long produced = 0;
        const bool ok = converter.ConvertFrom_wchar(c.units.data(), static_cast<int>(c.units.size()), &consumed,
                                                    target.data(), target.size(), &produced);
        target.resize(produced);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(target, c.bytes);
        // counting alone gives the same figures
        unsigned long counted = 0;
        converter.ConvertFrom_wchar(c.units.data(), static_cast<int>(c.units.size()), &consumed, nullptr, 0, &counted);
        EXPECT_EQ(counted, produced);
    }
}

// ---------------------------------------------------------------------------
// UTF-32, raw 32-bit units, UTF-16 in both orders

TEST(TextConverterUTF32, DecodesBothByteOrders)
{
    VToUnicodeConverter_UTF32 little(false);
    VToUnicodeConverter_UTF32 big(true);
    DecodeResult r = Decode(little, {0x41, 0, 0, 0, 0x00, 0xF6, 0x01, 0x00, 0x42}, 8);
    EXPECT_EQ(r.units, (Units{'A', 0xD83D, 0xDE00}));
    EXPECT_EQ(r.consumed, 8u);  // the stray last byte is not a whole unit
    EXPECT_TRUE(r.ok);

    r = Decode(big, {0, 0, 0, 0x41, 0x00, 0x01, 0xF6, 0x00}, 8);
    EXPECT_EQ(r.units, (Units{'A', 0xD83D, 0xDE00}));

    // The last character there is, in both byte orders.
    r = Decode(little, {0xFF, 0xFF, 0x10, 0x00}, 8);
    EXPECT_EQ(r.units, (Units{0xDBFF, 0xDFFF}));
    EXPECT_TRUE(r.ok);
    r = Decode(big, {0x00, 0x10, 0xFF, 0xFF}, 8);
    EXPECT_EQ(r.units, (Units{0xDBFF, 0xDFFF}));
    EXPECT_TRUE(r.ok);

    r = Decode(little, {0x41, 0, 0, 0, 0x00, 0xD8, 0, 0, 0x42, 0, 0, 0}, 8);
    EXPECT_EQ(r.units, (Units{'A'}));
    EXPECT_EQ(r.consumed, 4u);
    EXPECT_FALSE(r.ok);

    r = Decode(little, {0x00, 0x00, 0x11, 0x00, 0x42, 0, 0, 0}, 8);
    EXPECT_EQ(r.units, (Units{'B'}));
    EXPECT_EQ(r.consumed, 8u);
    EXPECT_FALSE(r.ok);

    r = Decode(little, {0x41, 0, 0, 0, 0x00, 0xF6, 0x01, 0x00}, 2);
    EXPECT_EQ(r.units, (Units{'A'}));
    EXPECT_EQ(r.consumed, 4u);
    EXPECT_FALSE(r.ok);
}

TEST(TextConverterUTF32, EncodesPairsAsOneUnitAndStopsAtLoneSurrogates)
{
    VFromUnicodeConverter_UTF32 little(false);
    VFromUnicodeConverter_UTF32 big(true);
    EncodeResult r = Encode(little, {'A', 0xD83D, 0xDE00}, 16);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, (Bytes{0x41, 0, 0, 0, 0x00, 0xF6, 0x01, 0x00}));
    r = Encode(big, {'A', 0xD83D, 0xDE00}, 16);
    EXPECT_EQ(r.bytes, (Bytes{0, 0, 0, 0x41, 0x00, 0x01, 0xF6, 0x00}));

    r = Encode(little, {'A', 0xDC00, 'B'}, 16);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.consumed, 1);
    r = Encode(little, {'A', 0xD800}, 16);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.consumed, 1);
    r = Encode(little, {'A', 'B'}, 7);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.consumed, 1);
    EXPECT_EQ(r.bytes.size(), 4u);
}

TEST(TextConverterUTF32Raw, OneUnitPerUTF16Unit)
{
    VFromUnicodeConverter_UTF32_Raw little(false);
    VFromUnicodeConverter_UTF32_Raw swapped(true);
    EncodeResult r = Encode(little, {0xD83D, 0xDE00}, 11);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, (Bytes{0x3D, 0xD8, 0, 0, 0x00, 0xDE, 0, 0}));
    r = Encode(swapped, {0xD83D}, 8);
    EXPECT_EQ(r.bytes, (Bytes{0, 0, 0xD8, 0x3D}));

    VToUnicodeConverter_UTF32_Raw decoder(false);
    DecodeResult d = Decode(decoder, {0x41, 0, 0, 0, 0x00, 0xF6, 0x01, 0x00, 0x42, 0, 0, 0}, 2);
    EXPECT_EQ(d.units, (Units{'A', 0xF600}));  // low 16 bits only
    EXPECT_EQ(d.consumed, 8u);

    VString s("x");
    unsigned long consumed = 0;
    const Bytes raw = {0x42, 0, 0, 0, 0x43, 0, 0, 0, 0x44};
    VToUnicodeConverter_UTF32_Raw swappedDecoder(true);
    EXPECT_TRUE(decoder.ConvertString(raw.data(), raw.size(), &consumed, s));
    EXPECT_EQ(UnitsOf(s), (Units{'x', 'B', 'C'}));
    EXPECT_EQ(consumed, 8u);
    const Bytes rawBig = {0, 0, 0, 0x45};
    EXPECT_TRUE(swappedDecoder.ConvertString(rawBig.data(), rawBig.size(), &consumed, s));
    EXPECT_EQ(UnitsOf(s), (Units{'x', 'B', 'C', 'E'}));
}

TEST(TextConverterUTF16, CopiesAndSwapsWholeUnits)
{
    VToUnicodeConverter_Null null;
    VToUnicodeConverter_Swap swap;
    DecodeResult r = Decode(null, {0x41, 0x00, 0x42, 0x00, 0x43}, 8);
    EXPECT_EQ(r.units, (Units{'A', 'B'}));
    EXPECT_EQ(r.consumed, 4u);
    r = Decode(swap, {0x00, 0x41, 0x20, 0xAC}, 1);
    EXPECT_EQ(r.units, (Units{'A'}));
    EXPECT_EQ(r.consumed, 2u);

    VFromUnicodeConverter_Null nullOut;
    VFromUnicodeConverter_Swap swapOut;
    EncodeResult e = Encode(nullOut, {'A', 0x20AC}, 3);
    EXPECT_EQ(e.bytes, (Bytes{0x41, 0x00}));
    EXPECT_EQ(e.consumed, 1);
    e = Encode(swapOut, {'A', 0x20AC}, 4);
    EXPECT_EQ(e.bytes, (Bytes{0x00, 0x41, 0x20, 0xAC}));

    VString s("a");
    unsigned long consumed = 0;
    const Bytes big = {0x00, 0x42, 0x20, 0xAC, 0x00};
    EXPECT_TRUE(swap.ConvertString(big.data(), big.size(), &consumed, s));
    EXPECT_EQ(UnitsOf(s), (Units{'a', 'B', 0x20AC}));
    EXPECT_EQ(consumed, big.size());
    const Bytes little = {0x43, 0x00};
    EXPECT_TRUE(null.ConvertString(little.data(), little.size(), &consumed, s));
    EXPECT_EQ(UnitsOf(s), (Units{'a', 'B', 0x20AC, 'C'}));
}

// ---------------------------------------------------------------------------
// Appending to strings

namespace {

// Decodes every byte into three units, so that the output outgrows the
// room first reserved (one unit per byte).
class TripleConverter : public VToUnicodeConverter {
public:
    bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                 UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) override
    {
        const unsigned char* p = static_cast<const unsigned char*>(inSource);
        unsigned long n = 0;
        int produced = 0;
        while (n < inByteCount && inMaxUniChars - produced >= 3) {
            for (int k = 0; k < 3; ++k)
                outTarget[produced++] = p[n];
            ++n;
        }
        *outBytesConsumed = n;
        *outProducedUniChars = produced;
        return true;
    }
};

}  // namespace

TEST(TextConverterConvertString, AppendsAndReportsWhatWasConsumed)
{
    VToUnicodeConverter_UTF8 converter;
    VString s("ab");
    unsigned long consumed = 99;
    const Bytes bytes = {'c', 0xC3, 0xA9, 0xE2, 0x82};
    EXPECT_TRUE(converter.ConvertString(bytes.data(), bytes.size(), &consumed, s));
    EXPECT_EQ(UnitsOf(s), (Units{'a', 'b', 'c', 0xE9}));
    EXPECT_EQ(consumed, 3u);  // the incomplete sequence is left

    EXPECT_TRUE(converter.ConvertString(bytes.data(), 0, &consumed, s));
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(s.GetLength(), 4);

    // Malformed input still ends in true.
    const Bytes beyond = {0xF4, 0x90, 0x80, 0x80};
    EXPECT_TRUE(converter.ConvertString(beyond.data(), beyond.size(), nullptr, s));
    EXPECT_EQ(s.GetUniChar(5), '?');
}

TEST(TextConverterConvertString, RefusesACountBeyondWhatAStringCanHold)
{
    // The count alone exceeds any string: refused before a byte is read.
    const unsigned char bytes[4] = {'a', 'b', 'c', 'd'};
    const unsigned long huge = 0x80000000ul;
    VToUnicodeConverter_UTF8 utf8;
    VToUnicodeConverter_Swap swap;
    VToUnicodeConverter_UTF32_Raw raw(false);
    VToUnicodeConverter* converters[] = {&utf8, &swap, &raw};
    for (VToUnicodeConverter* converter : converters) {
        VString s("keep");
        unsigned long consumed = 7;
        EXPECT_FALSE(converter->ConvertString(bytes, huge * 4, &consumed, s));
        EXPECT_EQ(consumed, 0u);
        EXPECT_EQ(UnitsOf(s), (Units{'k', 'e', 'e', 'p'}));
    }
}

TEST(TextConverterConvertString, NeverWritesIntoASharedBuffer)
{
    VToUnicodeConverter_UTF8 converter;
    VString original;
    for (int i = 0; i < 40; ++i)
        original.AppendUniChar(static_cast<UniChar>('a' + i % 26));
    VString copy(original);
    const Bytes bytes = {'X', 'Y', 'Z'};
    EXPECT_TRUE(converter.ConvertString(bytes.data(), bytes.size(), nullptr, copy));
    EXPECT_EQ(original.GetLength(), 40);
    EXPECT_EQ(copy.GetLength(), 43);
    EXPECT_EQ(copy.GetUniChar(43), 'Z');
    EXPECT_EQ(original.GetUniChar(40), 'n');
}

TEST(TextConverterConvertString, GrowsWhenTheOutputExceedsTheFirstReservation)
{
    TripleConverter converter;
    VString s("<");
    std::string source;
    for (int i = 0; i < 300; ++i)
        source.push_back(static_cast<char>('a' + i % 26));
    unsigned long consumed = 0;
    EXPECT_TRUE(converter.ConvertString(source.data(), source.size(), &consumed, s));
    EXPECT_EQ(consumed, source.size());
    ASSERT_EQ(s.GetLength(), 1 + 900);
    for (int i = 0; i < 300; ++i)
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(s.GetUniChar(2 + 3 * i + k), static_cast<UniChar>('a' + i % 26));
}

// ---------------------------------------------------------------------------
// Encoding into blocks and buffers

TEST(TextConverterConvertRealloc, GrowsUntilTheWholeTextIsIn)
{
    VFromUnicodeConverter_UTF8 converter;
    Units text;
    std::string expected = "ab";
    for (int i = 0; i < 500; ++i) {
        text.push_back(0x20AC);  // three bytes each: far more than the first window
        expected += "\xE2\x82\xAC";
    }
    void* block = VMemory::NewPtr(2, 0);
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "ab", 2);
    unsigned long used = 2;
    EXPECT_TRUE(converter.ConvertRealloc(text.data(), static_cast<int>(text.size()), block, used, 4));
    ASSERT_EQ(used, expected.size());
    EXPECT_EQ(std::string(static_cast<char*>(block), used), expected);
    EXPECT_GE(VObject::sCppMemMgr->GetPtrSize(block), used + 4);  // the spare bytes are there
    VMemory::DisposePtr(block);

    void* none = nullptr;
    unsigned long noneUsed = 0;
    const Units bad = {'a', 0xDC00};
    VFromUnicodeConverter_UTF32 utf32(false);
    EXPECT_FALSE(utf32.ConvertRealloc(bad.data(), 2, none, noneUsed, 0));
    EXPECT_EQ(noneUsed, 4u);  // what was added before the failure
    VMemory::DisposePtr(none);
}

TEST(TextConverterConvertToBuffer, AppendsAfterTheDataAndReservesTheSpareBytes)
{
    VFromUnicodeConverter_UTF8 converter;
    VMemoryBuffer<1024ul, 2ul, 1048576ul> buffer;
    ASSERT_TRUE(buffer.AppendData("xy", 2));
    Units text;
    std::string expected = "xy";
    for (int i = 0; i < 300; ++i) {
        text.push_back(static_cast<UniChar>(i % 2 ? 0xE9 : 'q'));
        expected += i % 2 ? "\xC3\xA9" : "q";
    }
    EXPECT_TRUE(converter.ConvertToBuffer(text.data(), static_cast<int>(text.size()), buffer, 1));
    ASSERT_EQ(buffer.GetDataSize(), expected.size() + 1);
    EXPECT_EQ(std::string(static_cast<const char*>(buffer.GetDataPtr()), expected.size()), expected);

    VFromUnicodeConverter_UTF32 utf32(false);
    VMemoryBuffer<1024ul, 2ul, 1048576ul> second;
    const Units bad = {'a', 'b', 0xDC00};
    EXPECT_FALSE(utf32.ConvertToBuffer(bad.data(), 3, second, 0));
    EXPECT_EQ(second.GetDataSize(), 8u);
}

// ---------------------------------------------------------------------------
// Void

TEST(TextConverterVoid, ConvertsNothing)
{
    VToUnicodeConverter_Void decoder;
    VFromUnicodeConverter_Void encoder;
    EXPECT_FALSE(decoder.IsValid());
    EXPECT_FALSE(encoder.IsValid());
    EXPECT_EQ(decoder.GetCharSize(), 1u);
    EXPECT_EQ(encoder.GetCharSize(), 2u);
    DecodeResult d = Decode(decoder, {'a', 'b'}, 4);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.consumed, 0u);
    EXPECT_TRUE(d.units.empty());
    EncodeResult e = Encode(encoder, {'a'}, 4);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.consumed, 0);
    EXPECT_TRUE(e.bytes.empty());

    VString s("keep");
    unsigned long consumed = 5;
    EXPECT_TRUE(decoder.ConvertString("xyz", 3, &consumed, s));
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(s.GetLength(), 4);

    void* block = nullptr;
    unsigned long used = 0;
    const Units units = {'a', 'b'};
    EXPECT_TRUE(encoder.ConvertRealloc(units.data(), 2, block, used, 1));
    EXPECT_EQ(used, 0u);
    VMemory::DisposePtr(block);
}

}  // namespace qelt
