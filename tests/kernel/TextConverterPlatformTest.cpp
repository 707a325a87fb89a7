#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "kernel/VMemory.h"
#include "kernel/VString.h"
#include "kernel/VTextConverters.h"
#include "kernel/mac/XMacFromUnicodeConverter.h"
#include "kernel/mac/XMacToUnicodeConverter.h"
#include "platform/PlatTextEncoding.h"
#include "runtime/VErrorContext.h"
#include "TestSupport.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

namespace {

using Bytes = std::vector<unsigned char>;
using UnitVector = std::vector<UniChar>;

// Encodes all units through repeated calls with at most inChunk bytes of
// room each, as a caller with a small buffer does.
Bytes EncodeInPieces(VFromUnicodeConverter& inConverter, const UnitVector& inUnits, unsigned long inChunk)
{
    Bytes out;
    size_t at = 0;
    int guard = 0;
    while (at < inUnits.size() && ++guard < 10000) {
        std::vector<unsigned char> piece(inChunk);
        int consumed = 0;
        unsigned long produced = 0;
        EXPECT_TRUE(inConverter.Convert(inUnits.data() + at, static_cast<int>(inUnits.size() - at), &consumed,
                                        piece.data(), inChunk, &produced));
        EXPECT_LE(produced, inChunk);
        if (consumed == 0 && produced == 0)
            break;
        out.insert(out.end(), piece.begin(), piece.begin() + static_cast<long>(produced));
        at += static_cast<size_t>(consumed);
    }
    EXPECT_EQ(at, inUnits.size());
    return out;
}

UnitVector DecodeInPieces(VToUnicodeConverter& inConverter, const Bytes& inBytes, int inChunk)
{
    UnitVector out;
    size_t at = 0;
    int guard = 0;
    while (at < inBytes.size() && ++guard < 10000) {
        UnitVector piece(static_cast<size_t>(inChunk));
        unsigned long consumed = 0;
        int produced = 0;
        EXPECT_TRUE(inConverter.Convert(inBytes.data() + at, inBytes.size() - at, &consumed, piece.data(), inChunk,
                                        &produced));
        if (consumed == 0)
            break;
        out.insert(out.end(), piece.begin(), piece.begin() + produced);
        at += consumed;
    }
    EXPECT_EQ(at, inBytes.size());
    return out;
}

}  // namespace

TEST(TextConverterPlatform, MapsSetsToPlatformEncodings)
{
    struct Case {
        int charSet;
        uint32_t base;
        uint32_t format;
    };
    const Case cases[] = {
        {-2, 0x0000, 0}, {100, 0x0000, 0}, {7, 0x0100, 2}, {8, 0x0100, 1}, {4, 0x0100, 3}, {2, 0x0100, 0},
        {10, 0x0C02, 0}, {114, 0x001D, 0}, {1016, 0x0421, 0}, {1015, 0x020D, 0}, {1019, 0x0420, 0},
    };
    for (const Case& c : cases) {
        const uint32_t encoding = XMacToUnicodeConverter::CharSetToTextEncoding(static_cast<CharSet>(c.charSet));
        EXPECT_EQ(plat::GetTextEncodingBase(encoding), c.base) << c.charSet;
        EXPECT_EQ(plat::GetTextEncodingFormat(encoding), c.format) << c.charSet;
    }
    for (int cs : {-1, 0, 1, 3, 5, 6, 12, 99, 121, 999, 1020})
        EXPECT_EQ(XMacToUnicodeConverter::CharSetToTextEncoding(static_cast<CharSet>(cs)), 0xFFFFu) << cs;
}

TEST(TextConverterPlatform, SetsWithoutPlatformSupportGetVoidConverters)
{
    EXPECT_EQ(XMacToUnicodeConverter::NewToUnicodeConverter(static_cast<CharSet>(-1)), nullptr);
    EXPECT_EQ(XMacFromUnicodeConverter::NewFromUnicodeConverter(static_cast<CharSet>(-1)), nullptr);
    // Mac Arabic is not available here: the singleton answers with Void.
    VToUnicodeConverter* arabic = VTextConverters::Get()->RetainToUnicodeConverter(VTC_MacArabic);
    EXPECT_FALSE(arabic->IsValid());
    arabic->Release();
    VToUnicodeConverter* none = VTextConverters::Get()->RetainToUnicodeConverter(static_cast<CharSet>(-1));
    EXPECT_FALSE(none->IsValid());
    none->Release();
}

TEST(TextConverterPlatform, SystemSetRoundTripsEveryByte)
{
    VToUnicodeConverter* decoder = VTextConverters::Get()->RetainToUnicodeConverter(VTC_SYSTEM);
    VFromUnicodeConverter* encoder = VTextConverters::Get()->RetainFromUnicodeConverter(VTC_SYSTEM);
    ASSERT_TRUE(decoder->IsValid());
    ASSERT_TRUE(encoder->IsValid());
    EXPECT_EQ(encoder->GetCharSize(), 2u);

    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
    UnitVector units(256);
    unsigned long consumed = 0;
    int produced = 0;
    EXPECT_TRUE(decoder->Convert(all.data(), all.size(), &consumed, units.data(), 256, &produced));
    EXPECT_EQ(consumed, 256u);
    ASSERT_EQ(produced, 256);
    EXPECT_EQ(units[0x41], 'A');
    EXPECT_EQ(units[0x8E], 0x00E9);  // e acute
    EXPECT_EQ(units[0xDB], 0x20AC);  // euro sign
    EXPECT_EQ(units[0xF0], 0xF8FF);

    Bytes back(256);
    int unitsConsumed = 0;
    unsigned long bytes = 0;
    EXPECT_TRUE(encoder->Convert(units.data(), 256, &unitsConsumed, back.data(), back.size(), &bytes));
    EXPECT_EQ(unitsConsumed, 256);
    EXPECT_EQ(bytes, 256u);
    EXPECT_EQ(back, all);

    // A small target: decoding stops when full, and goes on afterwards.
    EXPECT_EQ(DecodeInPieces(*decoder, all, 7), units);
    decoder->Release();
    encoder->Release();
}

TEST(TextConverterPlatform, UnmappableCharactersBecomeOneQuestionMark)
{
    VFromUnicodeConverter* encoder = VTextConverters::Get()->RetainFromUnicodeConverter(VTC_SYSTEM);
    struct Case {
        const char* what;
        UnitVector units;
        Bytes bytes;
    };
    const Case cases[] = {
        {"middle unit", {'A', 0x0100, 'B'}, {'A', '?', 'B'}},
        {"pair outside the basic plane", {'A', 0xD83D, 0xDE00, 'B'}, {'A', '?', 'B'}},
        {"lone high surrogate keeps the next letter", {0xD83D, 'B'}, {'?', 'B'}},
        {"several", {0x0100, 0x0101, 'c'}, {'?', '?', 'c'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(EncodeInPieces(*encoder, c.units, 16), c.bytes);
        EXPECT_EQ(EncodeInPieces(*encoder, c.units, 1), c.bytes);
    }
    // Through the growing block as well.
    const UnitVector text = {'A', 0x0100, 'B'};
    void* block = nullptr;
    unsigned long used = 0;
    EXPECT_TRUE(encoder->ConvertRealloc(text.data(), 3, block, used, 1));
    ASSERT_EQ(used, 3u);
    EXPECT_EQ(std::string(static_cast<char*>(block), 3), "A?B");
    VMemory::DisposePtr(block);
    encoder->Release();
}

namespace {

// A codec that answers each call with the next scripted status, after
// copying the source's low bytes up to the unit the step says.
class ScriptedCodec final : public plat::TextCodec {
public:
    struct Step {
        int status;
        size_t units;  // units converted before the status
    };
    explicit ScriptedCodec(std::vector<Step> inSteps) : fSteps(std::move(inSteps)) {}

    int Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesRead, void* outTarget,
                size_t inTargetBytes, size_t* outBytesWritten) override
    {
        const Step step = fCall < fSteps.size() ? fSteps[fCall] : Step{plat::kTextStatusOK, inSourceBytes / 2};
        ++fCall;
        const size_t units = std::min({step.units, inSourceBytes / 2, inTargetBytes});
        const auto* source = static_cast<const UniChar*>(inSource);
        for (size_t i = 0; i < units; ++i)
            static_cast<unsigned char*>(outTarget)[i] = static_cast<unsigned char>(source[i]);
        *outBytesRead = units * 2;
        *outBytesWritten = units;
        return step.status;
    }

private:
    std::vector<Step> fSteps;
    size_t fCall = 0;
};

class ScriptedEncoder : public XMacFromUnicodeConverter {
public:
    explicit ScriptedEncoder(std::vector<ScriptedCodec::Step> inSteps)
        : XMacFromUnicodeConverter(VTC_ISO_8859_1, new ScriptedCodec(std::move(inSteps)))
    {
    }
};

}  // namespace

// The platform's answers other than success, a full target and an
// unmappable character fail the whole call: the error 'CARB' with the
// status, nothing reported as converted, false; also when a part of the
// text (here "a" and a "?") was converted in the same call before it.
TEST(TextConverterPlatform, EncoderFailureReportsNothingConverted)
{
    test::StStartedProcess process;
    struct Case {
        const char* what;
        std::vector<ScriptedCodec::Step> steps;
        bool ok;
        int consumed;
        std::string bytes;
    };
    const Case cases[] = {
        {"failure at the start", {{plat::kTextStatusMalformedInput, 0}}, false, 0, ""},
        {"failure after a part", {{plat::kTextStatusMalformedInput, 2}}, false, 0, ""},
        {"failure after an unmappable unit",
         {{plat::kTextStatusUnmappable, 1}, {plat::kTextStatusMalformedInput, 1}}, false, 0, ""},
        {"a partial character is no success for an encoder", {{plat::kTextStatusPartialInput, 2}}, false, 0, ""},
        {"unmappable, then the rest", {{plat::kTextStatusUnmappable, 1}, {plat::kTextStatusOK, 2}}, true, 4,
         "a?cd"},
        {"full target", {{plat::kTextStatusOutputFull, 1}}, true, 1, "a"},
    };
    const UnitVector text = {'a', 0x0100, 'c', 'd'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedEncoder encoder(c.steps);
        StErrorContextInstaller errors(true, true);
        std::vector<unsigned char> out(16, 0xEE);
        int consumed = -1;
        unsigned long produced = 99;
        EXPECT_EQ(encoder.Convert(text.data(), 4, &consumed, out.data(), out.size(), &produced), c.ok);
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), produced), c.bytes);
        if (c.ok) {
            EXPECT_EQ(errors.GetLastError(), VE_OK);
        } else {
            const int status = c.steps.back().status;
            EXPECT_EQ(errors.GetLastError(), MakeVError(kSignatureCARB, status));
        }
    }
}

TEST(TextConverterPlatform, LeavesACharacterCutByTheEndOfTheSource)
{
    VToUnicodeConverter* sjis = VTextConverters::Get()->RetainToUnicodeConverter(VTC_ShiftJIS);
    ASSERT_TRUE(sjis->IsValid());
    const Bytes bytes = {'a', 0x93, 0xFA, 0x96};  // "a", U+65E5, then half of U+672C
    UnitVector units(8);
    unsigned long consumed = 0;
    int produced = 0;
    EXPECT_TRUE(sjis->Convert(bytes.data(), bytes.size(), &consumed, units.data(), 8, &produced));
    EXPECT_EQ(consumed, 3u);
    ASSERT_EQ(produced, 2);
    EXPECT_EQ(units[1], 0x65E5);

    VString s;
    unsigned long used = 0;
    EXPECT_TRUE(sjis->ConvertString(bytes.data(), bytes.size(), &used, s));
    EXPECT_EQ(used, 3u);
    EXPECT_EQ(s.GetLength(), 2);
    sjis->Release();
}

TEST(TextConverterPlatform, CodePagesConvertBothWays)
{
    struct Case {
        CharSet charSet;
        Bytes bytes;
        UnitVector units;
    };
    const Case cases[] = {
        {VTC_ISO_8859_1, {'a', 0xE9}, {'a', 0xE9}},
        {VTC_Win32Ansi, {0x80, 'z'}, {0x20AC, 'z'}},
        {VTC_ISO_8859_15, {0xA4}, {0x20AC}},
        {VTC_KOI8R, {0xC1}, {0x0430}},
        {VTC_EBCDIC_037, {0xC1, 0x40}, {'A', ' '}},
        {VTC_MacRoman, {0x8E}, {0xE9}},
        {VTC_ShiftJIS, {0x93, 0xFA, 0x96, 0x7B}, {0x65E5, 0x672C}},
        {VTC_GB2312, {0xD6, 0xD0}, {0x4E2D}},
        {VTC_Korean_EUC, {0xC7, 0xD1}, {0xD55C}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.charSet));
        VToUnicodeConverter* decoder = VTextConverters::Get()->RetainToUnicodeConverter(c.charSet);
        VFromUnicodeConverter* encoder = VTextConverters::Get()->RetainFromUnicodeConverter(c.charSet);
        ASSERT_TRUE(decoder->IsValid());
        ASSERT_TRUE(encoder->IsValid());
        EXPECT_EQ(DecodeInPieces(*decoder, c.bytes, 16), c.units);
        EXPECT_EQ(EncodeInPieces(*encoder, c.units, 16), c.bytes);
        decoder->Release();
        encoder->Release();
    }
}

TEST(TextConverterPlatform, StatefulEncodingSurvivesSmallTargets)
{
    // Each call's output is complete on its own (it ends in the initial
    // state), so that every piece decodes by itself.
    VFromUnicodeConverter* encoder = VTextConverters::Get()->RetainFromUnicodeConverter(VTC_Japanese_ISO2022);
    VToUnicodeConverter* decoder = VTextConverters::Get()->RetainToUnicodeConverter(VTC_Japanese_ISO2022);
    ASSERT_TRUE(encoder->IsValid());
    const UnitVector text = {'a', 0x65E5, 0x672C, 'b', 'c', 0x8A9E, 'd'};
    for (unsigned long chunk : {64ul, 12ul, 8ul}) {
        SCOPED_TRACE(chunk);
        VString back;
        size_t at = 0;
        int calls = 0;
        while (at < text.size() && ++calls < 100) {
            Bytes piece(chunk);
            int consumed = 0;
            unsigned long produced = 0;
            EXPECT_TRUE(encoder->Convert(text.data() + at, static_cast<int>(text.size() - at), &consumed,
                                         piece.data(), chunk, &produced));
            ASSERT_GT(consumed, 0);
            unsigned long used = 0;
            EXPECT_TRUE(decoder->ConvertString(piece.data(), produced, &used, back));
            EXPECT_EQ(used, produced);
            at += static_cast<size_t>(consumed);
        }
        EXPECT_EQ(UnitVector(back.GetCPointer(), back.GetCPointer() + back.GetLength()), text);
    }
    encoder->Release();
    decoder->Release();
}

TEST(TextConverterPlatform, LongTextsRoundTripAcrossInternalChunks)
{
    // Long enough that characters straddle the pieces the platform layer
    // converts at a time; a leading letter puts double-byte characters
    // across every boundary.
    UnitVector text = {'x'};
    for (int i = 0; i < 30000; ++i) {
        static const UniChar kanji[] = {0x65E5, 0x672C, 0x8A9E};
        text.push_back(kanji[i % 3]);
        if (i % 7 == 0)
            text.push_back(static_cast<UniChar>('a' + i % 26));
    }
    for (CharSet cs : {VTC_ShiftJIS, VTC_Japanese_ISO2022, VTC_UTF_7, VTC_Korean_EUC}) {
        SCOPED_TRACE(static_cast<int>(cs));
        VFromUnicodeConverter* encoder = VTextConverters::Get()->RetainFromUnicodeConverter(cs);
        VToUnicodeConverter* decoder = VTextConverters::Get()->RetainToUnicodeConverter(cs);
        ASSERT_TRUE(encoder->IsValid());
        void* block = nullptr;
        unsigned long used = 0;
        UnitVector sample = text;
        if (cs == VTC_Korean_EUC)
            for (UniChar& u : sample)
                if (u >= 0x3000)
                    u = 0xD55C;
        EXPECT_TRUE(encoder->ConvertRealloc(sample.data(), static_cast<int>(sample.size()), block, used, 1));
        VString back;
        unsigned long consumed = 0;
        EXPECT_TRUE(decoder->ConvertString(block, used, &consumed, back));
        EXPECT_EQ(consumed, used);
        const UnitVector got(back.GetCPointer(), back.GetCPointer() + back.GetLength());
        size_t firstDiff = 0;
        while (firstDiff < got.size() && firstDiff < sample.size() && got[firstDiff] == sample[firstDiff])
            ++firstDiff;
        EXPECT_EQ(got.size(), sample.size());
        EXPECT_EQ(firstDiff, sample.size()) << "used " << used << " consumed " << consumed;
        VMemory::DisposePtr(block);
        encoder->Release();
        decoder->Release();
    }
}

TEST(TextConverterPlatform, GrowingBlockTakesCharactersLongerThanTheCharSizePromises)
{
    // UTF-7 promises one byte a unit; one CJK character takes five.
    VFromUnicodeConverter* utf7 = VTextConverters::Get()->RetainFromUnicodeConverter(VTC_UTF_7);
    ASSERT_EQ(utf7->GetCharSize(), 1u);
    const UnitVector text = {0x65E5};
    void* block = nullptr;
    unsigned long used = 0;
    EXPECT_TRUE(utf7->ConvertRealloc(text.data(), 1, block, used, 1));
    EXPECT_EQ(std::string(static_cast<char*>(block), used), "+ZeU-");
    VMemory::DisposePtr(block);

    VMemoryBuffer<1024ul, 2ul, 1048576ul> buffer;
    EXPECT_TRUE(utf7->ConvertToBuffer(text.data(), 1, buffer, 0));
    EXPECT_EQ(std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize()), "+ZeU-");
    utf7->Release();
}

TEST(TextConverterPlatform, EncoderCharSizeFollowsTheFormat)
{
    XMacFromUnicodeConverter utf7(VTC_UTF_7);
    ASSERT_TRUE(utf7.IsValid());
    EXPECT_EQ(utf7.GetCharSize(), 1u);
    XMacFromUnicodeConverter latin1(VTC_ISO_8859_1);
    EXPECT_EQ(latin1.GetCharSize(), 2u);
    XMacFromUnicodeConverter utf32(VTC_UTF_32_SMALLENDIAN);
    EXPECT_EQ(utf32.GetCharSize(), 4u);
    XMacFromUnicodeConverter none(static_cast<CharSet>(-1));
    EXPECT_FALSE(none.IsValid());

    // A target of no bytes converts nothing and is no failure.
    const UniChar a = 'a';
    int consumed = 5;
    unsigned long produced = 5;
    EXPECT_TRUE(latin1.Convert(&a, 1, &consumed, nullptr, 0, &produced));
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(produced, 0u);
}

}  // namespace qelt
