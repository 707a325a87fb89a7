#include "platform/PlatTextEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace qelt::plat {

TextEncoding MakeTextEncoding(uint32_t inBase, uint32_t inVariant, uint32_t inFormat)
{
    return (inBase & 0xFFFFu) | ((inVariant & 0x3FFu) << 16) | ((inFormat & 0x3Fu) << 26);
}

uint32_t GetTextEncodingBase(TextEncoding inEncoding) { return inEncoding & 0xFFFFu; }

uint32_t GetTextEncodingFormat(TextEncoding inEncoding) { return (inEncoding >> 26) & 0x3Fu; }

namespace {

constexpr uint32_t kBaseMacRoman = 0x0000;

// ---------------------------------------------------------------------------
// Mac Roman: a constant table, no state, usable by any number of threads.

// Bytes 0x80 to 0xFF; bytes below 0x80 are ASCII.
constexpr uint16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

struct ReverseEntry {
    uint16_t fUnit;
    uint8_t fByte;
};

// The upper half sorted by unit, for encoding.
constexpr std::array<ReverseEntry, 128> MakeMacRomanReverse()
{
    std::array<ReverseEntry, 128> table{};
    for (int i = 0; i < 128; ++i)
        table[static_cast<size_t>(i)] = {kMacRomanHigh[i], static_cast<uint8_t>(0x80 + i)};
    for (size_t i = 1; i < table.size(); ++i)
        for (size_t j = i; j > 0 && table[j - 1].fUnit > table[j].fUnit; --j)
            std::swap(table[j - 1], table[j]);
    return table;
}

constexpr std::array<ReverseEntry, 128> kMacRomanReverse = MakeMacRomanReverse();

class MacRomanCodec final : public TextCodec {
public:
    explicit MacRomanCodec(bool inDecode) : fDecode(inDecode) {}

    int Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesRead, void* outTarget,
                size_t inTargetBytes, size_t* outBytesWritten) override
    {
        return fDecode ? Decode(inSource, inSourceBytes, outBytesRead, outTarget, inTargetBytes, outBytesWritten)
                       : Encode(inSource, inSourceBytes, outBytesRead, outTarget, inTargetBytes, outBytesWritten);
    }

private:
    static int Decode(const void* inSource, size_t inSourceBytes, size_t* outBytesRead, void* outTarget,
                      size_t inTargetBytes, size_t* outBytesWritten)
    {
        const unsigned char* source = static_cast<const unsigned char*>(inSource);
        unsigned char* target = static_cast<unsigned char*>(outTarget);
        const size_t n = std::min(inSourceBytes, inTargetBytes / 2);
        for (size_t i = 0; i < n; ++i) {
            const unsigned char b = source[i];
            const uint16_t unit = b < 0x80 ? b : kMacRomanHigh[b - 0x80];
            std::memcpy(target + 2 * i, &unit, 2);
        }
        *outBytesRead = n;
        *outBytesWritten = 2 * n;
        return n < inSourceBytes ? kTextStatusOutputFull : kTextStatusOK;
    }

    static int Encode(const void* inSource, size_t inSourceBytes, size_t* outBytesRead, void* outTarget,
                      size_t inTargetBytes, size_t* outBytesWritten)
    {
        const unsigned char* source = static_cast<const unsigned char*>(inSource);
        unsigned char* target = static_cast<unsigned char*>(outTarget);
        const size_t units = inSourceBytes / 2;
        size_t i = 0;
        int status = kTextStatusOK;
        for (; i < units; ++i) {
            if (i >= inTargetBytes) {
                status = kTextStatusOutputFull;
                break;
            }
            uint16_t unit;
            std::memcpy(&unit, source + 2 * i, 2);
            if (unit < 0x80) {
                target[i] = static_cast<unsigned char>(unit);
                continue;
            }
            auto it = std::lower_bound(kMacRomanReverse.begin(), kMacRomanReverse.end(), unit,
                                       [](const ReverseEntry& e, uint16_t u) { return e.fUnit < u; });
            if (it == kMacRomanReverse.end() || it->fUnit != unit) {
                status = kTextStatusUnmappable;
                break;
            }
            target[i] = it->fByte;
        }
        *outBytesRead = 2 * i;
        *outBytesWritten = i;
        return status;
    }

    bool fDecode;
};

// ---------------------------------------------------------------------------
// Every other encoding: an ICU converter owned by the codec.

const char* IcuNameFor(TextEncoding inEncoding)
{
    const uint32_t base = GetTextEncodingBase(inEncoding);
    const uint32_t format = GetTextEncodingFormat(inEncoding);
    const uint32_t variant = (inEncoding >> 16) & 0x3FFu;
    if (variant != 0)
        return nullptr;
    if (base == kTextEncodingBaseUnicode) {
        switch (format) {
            case kTextFormatUTF16:
                return "UTF-16LE";
            case kTextFormatUTF7:
                return "UTF-7";
            case kTextFormatUTF8:
                return "UTF-8";
            case kTextFormatUTF32:
                return "UTF-32LE";
            default:
                return nullptr;
        }
    }
    if (format != 0)
        return nullptr;
    struct Row {
        uint32_t fBase;
        const char* fName;
    };
    // Mac Arabic (0x0004), Mac Hebrew (0x0005), Mac Chinese Simplified
    // (0x0019), Mac Chinese Traditional (0x0002) and Mac Japanese (0x0001)
    // are not available here.
    static const Row kRows[] = {
        {0x0600, "US-ASCII"},
        {0x0C02, "ibm-37_P100-1995"},
        {0x0400, "ibm-437_P100-1995"},
        {0x0500, "windows-1252"},
        {0x0501, "windows-1250"},
        {0x0502, "windows-1251"},
        {0x0503, "windows-1253"},
        {0x0504, "windows-1254"},
        {0x0505, "windows-1255"},
        {0x0506, "windows-1256"},
        {0x0507, "windows-1257"},
        {0x001D, "x-mac-centraleurroman"},
        {0x0007, "x-mac-cyrillic"},
        {0x0006, "x-mac-greek"},
        {0x0023, "x-mac-turkish"},
        {0x0421, "windows-936-2000"},
        {0x0423, "windows-950-2000"},
        {0x0A01, "ibm-943_P130-1999"},
        {0x0820, "ISO_2022,locale=ja,version=0"},
        {0x0A03, "Big5"},
        {0x0940, "EUC-KR"},
        {0x0A02, "KOI8-R"},
        {0x0201, "ISO-8859-1"},
        {0x0202, "ISO-8859-2"},
        {0x0203, "ISO-8859-3"},
        {0x0204, "ISO-8859-4"},
        {0x0205, "ISO-8859-5"},
        {0x0206, "ISO-8859-6"},
        {0x0207, "ISO-8859-7"},
        {0x0208, "ISO-8859-8"},
        {0x0209, "ISO-8859-9"},
        {0x020A, "ISO-8859-10"},
        {0x020D, "ISO-8859-13"},
        {0x020F, "ISO-8859-15"},
        {0x0630, "GB_2312-80"},
        {0x0420, "ibm-943_P15A-2003"},
    };
    for (const Row& row : kRows)
        if (row.fBase == base)
            return row.fName;
    return nullptr;
}

// Decoding: malformed input becomes the substitution character, but a
// character cut off by the end of the source stops the conversion so that
// its bytes can be offered again.
void DecodeCallback(const void*, UConverterToUnicodeArgs* ioArgs, const char* inCodeUnits, int32_t inLength,
                    UConverterCallbackReason inReason, UErrorCode* ioError)
{
    if (inReason > UCNV_IRREGULAR)
        return;  // reset, close, clone: nothing to do
    if (*ioError == U_TRUNCATED_CHAR_FOUND)
        return;
    if (inReason == UCNV_IRREGULAR && *ioError == U_ILLEGAL_ESCAPE_SEQUENCE) {
        // A shift sequence right after another one (an empty segment, as
        // where two separately converted pieces of text meet): the shift
        // has been made; nothing is lost.
        *ioError = U_ZERO_ERROR;
        return;
    }
    UCNV_TO_U_CALLBACK_SUBSTITUTE(nullptr, ioArgs, inCodeUnits, inLength, inReason, ioError);
}

// Number of target units (or bytes) that hold only whole characters when the
// output is cut at inCut: units of one source character share its offset.
size_t CutAtCharacter(const int32_t* inOffsets, size_t inProduced, size_t inCut)
{
    if (inCut >= inProduced)
        return inProduced;
    size_t k = inCut;
    while (k > 0 && inOffsets[k] == inOffsets[k - 1])
        --k;
    return k;
}

// The source position of the first output element at or after inIndex that
// belongs to a source character (-1 offsets belong to none).
long SourceOffsetAt(const int32_t* inOffsets, size_t inProduced, size_t inIndex, long inDefault)
{
    for (size_t i = inIndex; i < inProduced; ++i)
        if (inOffsets[i] >= 0)
            return inOffsets[i];
    return inDefault;
}

// Source characters are converted in chunks of bounded size, so that the
// scratch space stays small whatever the length of the text; the state of a
// stateful encoding carries from one chunk to the next within a call.
constexpr size_t kDecodeChunkBytes = 16384;
constexpr size_t kEncodeChunkUnits = 8192;

struct ConverterCloser {
    void operator()(UConverter* inConverter) const { ucnv_close(inConverter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

class IcuCodec final : public TextCodec {
public:
    IcuCodec(UConverter* inConverter, bool inDecode) : fConverter(inConverter), fDecode(inDecode) {}
    ~IcuCodec() override { ucnv_close(fConverter); }

    int Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesRead, void* outTarget,
                size_t inTargetBytes, size_t* outBytesWritten) override
    {
        *outBytesRead = 0;
        *outBytesWritten = 0;
        int status;
        try {
            status = fDecode ? Decode(static_cast<const char*>(inSource), inSourceBytes, outBytesRead,
                                      static_cast<UChar*>(outTarget), inTargetBytes / 2, outBytesWritten)
                             : Encode(static_cast<const UChar*>(inSource), inSourceBytes / 2, outBytesRead,
                                      static_cast<unsigned char*>(outTarget), inTargetBytes, outBytesWritten);
        } catch (const std::bad_alloc&) {
            *outBytesRead = 0;
            *outBytesWritten = 0;
            status = kTextStatusMalformedInput;
        }
        if (fDecode)
            ucnv_resetToUnicode(fConverter);
        else
            ucnv_resetFromUnicode(fConverter);
        return status;
    }

private:
    int Decode(const char* inSource, size_t inSourceBytes, size_t* outBytesRead, UChar* outTarget, size_t inCapacity,
               size_t* outBytesWritten)
    {
        if (inSourceBytes == 0)
            return kTextStatusOK;
        if (inCapacity == 0)
            return kTextStatusOutputFull;
        ucnv_resetToUnicode(fConverter);

        size_t written = 0;   // units in the target
        size_t consumed = 0;  // source bytes whose characters are all in the target
        size_t chunkStart = 0;
        int status = kTextStatusOK;
        while (chunkStart < inSourceBytes) {
            const size_t length = std::min(kDecodeChunkBytes, inSourceBytes - chunkStart);
            const bool last = chunkStart + length == inSourceBytes;
            UErrorCode ignored = U_ZERO_ERROR;
            const int32_t pendingBefore = std::max<int32_t>(0, ucnv_toUCountPending(fConverter, &ignored));

            const size_t room = 2 * (length + static_cast<size_t>(pendingBefore)) + 16;
            fUnits.resize(room);
            fOffsets.resize(room);
            const char* source = inSource + chunkStart;
            UChar* target = fUnits.data();
            UErrorCode error = U_ZERO_ERROR;
            ucnv_toUnicode(fConverter, &target, fUnits.data() + room, &source, inSource + chunkStart + length,
                           fOffsets.data(), last, &error);
            size_t produced = static_cast<size_t>(target - fUnits.data());

            // Source position of output unit i: units of a character begun
            // in the previous chunk carry no offset.
            auto sourceAt = [&](size_t i) -> size_t {
                bool onlyCarried = true;
                for (size_t k = 0; k <= i && k < produced; ++k)
                    if (fOffsets[k] >= 0)
                        onlyCarried = false;
                if (onlyCarried)
                    return chunkStart - static_cast<size_t>(pendingBefore);
                for (size_t k = i; k < produced; ++k)
                    if (fOffsets[k] >= 0)
                        return chunkStart + static_cast<size_t>(fOffsets[k]);
                return chunkStart + static_cast<size_t>(source - (inSource + chunkStart));
            };

            size_t chunkConsumed = chunkStart + length;
            if (error == U_TRUNCATED_CHAR_FOUND) {
                char bad[64];
                int8_t badLength = sizeof(bad);
                ignored = U_ZERO_ERROR;
                ucnv_getInvalidChars(fConverter, bad, &badLength, &ignored);
                chunkConsumed -= std::min(chunkConsumed, static_cast<size_t>(badLength));
                status = kTextStatusPartialInput;
            } else if (error == U_BUFFER_OVERFLOW_ERROR) {
                // More output than the scratch holds: keep whole characters.
                const size_t keep = CutAtCharacter(fOffsets.data(), produced, produced > 0 ? produced - 1 : 0);
                chunkConsumed = sourceAt(keep);
                produced = keep;
                status = kTextStatusOutputFull;
            } else if (U_FAILURE(error)) {
                status = (written != 0 || consumed != 0) ? kTextStatusOutputFull : kTextStatusMalformedInput;
                break;
            } else if (!last) {
                ignored = U_ZERO_ERROR;
                const int32_t pending = ucnv_toUCountPending(fConverter, &ignored);
                if (pending > 0)
                    chunkConsumed -= std::min(chunkConsumed, static_cast<size_t>(pending));
            }

            if (produced > inCapacity - written) {
                const size_t keep = CutAtCharacter(fOffsets.data(), produced, inCapacity - written);
                chunkConsumed = sourceAt(keep);
                produced = keep;
                status = kTextStatusOutputFull;
            }
            std::memcpy(outTarget + written, fUnits.data(), produced * 2);
            written += produced;
            consumed = std::max(consumed, chunkConsumed);
            if (status != kTextStatusOK)
                break;
            chunkStart += length;
        }
        *outBytesRead = consumed;
        *outBytesWritten = written * 2;
        return status;
    }

    // Converts units with the state of inState and returns to the initial
    // state at the end; false on an unmappable unit (its index in
    // outBadAt) or another failure (outBadAt = -1).
    bool EncodeFlushed(const UConverter* inState, const UChar* inUnits, size_t inCount, size_t& outProduced,
                       long& outBadAt)
    {
        UErrorCode error = U_ZERO_ERROR;
        ConverterPtr converter(ucnv_clone(inState, &error));
        if (U_FAILURE(error) || !converter)
            throw std::bad_alloc();
        const size_t room = (inCount + 10) * static_cast<size_t>(ucnv_getMaxCharSize(converter.get())) + 16;
        fBytes.resize(room);
        fOffsets.resize(room);
        const UChar* source = inUnits;
        char* target = fBytes.data();
        ucnv_fromUnicode(converter.get(), &target, fBytes.data() + room, &source, inUnits + inCount, fOffsets.data(),
                         true, &error);
        outProduced = static_cast<size_t>(target - fBytes.data());
        outBadAt = -1;
        if (error == U_INVALID_CHAR_FOUND || error == U_ILLEGAL_CHAR_FOUND || error == U_TRUNCATED_CHAR_FOUND) {
            UChar bad[8];
            int8_t badLength = 8;
            UErrorCode ignored = U_ZERO_ERROR;
            ucnv_getInvalidUChars(converter.get(), bad, &badLength, &ignored);
            const size_t at = static_cast<size_t>(source - inUnits);
            outBadAt = static_cast<long>(at - std::min(at, static_cast<size_t>(badLength)));
            return false;
        }
        return U_SUCCESS(error);
    }

    int Encode(const UChar* inSource, size_t inUnits, size_t* outBytesRead, unsigned char* outTarget,
               size_t inCapacity, size_t* outBytesWritten)
    {
        if (inUnits == 0)
            return kTextStatusOK;
        if (inCapacity == 0)
            return kTextStatusOutputFull;
        ucnv_resetFromUnicode(fConverter);

        size_t written = 0;
        size_t chunkStart = 0;
        int status = kTextStatusOK;
        while (chunkStart < inUnits) {
            size_t length = std::min(kEncodeChunkUnits, inUnits - chunkStart);
            if (chunkStart + length < inUnits && U16_IS_LEAD(inSource[chunkStart + length - 1]) && length > 1)
                --length;  // keep a pair within one chunk
            const bool last = chunkStart + length == inUnits;
            UErrorCode error = U_ZERO_ERROR;
            ConverterPtr before(ucnv_clone(fConverter, &error));  // the state at the chunk's start
            if (U_FAILURE(error) || !before)
                throw std::bad_alloc();

            const size_t room = (length + 10) * static_cast<size_t>(ucnv_getMaxCharSize(fConverter)) + 16;
            fBytes.resize(room);
            const UChar* source = inSource + chunkStart;
            char* target = fBytes.data();
            error = U_ZERO_ERROR;
            ucnv_fromUnicode(fConverter, &target, fBytes.data() + room, &source, inSource + chunkStart + length,
                             nullptr, last, &error);
            const size_t produced = static_cast<size_t>(target - fBytes.data());
            const bool stopped = U_FAILURE(error);
            if (!stopped && produced <= inCapacity - written &&
                (last || produced + 16 <= inCapacity - written)) {
                // The whole chunk fits, with room to spare for the closing
                // bytes a later chunk may need.
                std::memcpy(outTarget + written, fBytes.data(), produced);
                written += produced;
                chunkStart += length;
                continue;
            }

            // Convert the longest part of this chunk that fits, completed
            // with the return to the initial state, from the chunk's start.
            size_t count = length;
            bool unmappable = false;
            for (;;) {
                size_t out = 0;
                long badAt = -1;
                if (count == 0) {
                    status = unmappable ? kTextStatusUnmappable : kTextStatusOutputFull;
                    break;
                }
                if (!EncodeFlushed(before.get(), inSource + chunkStart, count, out, badAt)) {
                    if (badAt < 0) {
                        // Not a character the set lacks, not a full target:
                        // a failure, whatever was converted before it.
                        status = kTextStatusMalformedInput;
                        break;
                    }
                    count = static_cast<size_t>(badAt);
                    unmappable = true;
                    continue;
                }
                if (out <= inCapacity - written) {
                    std::memcpy(outTarget + written, fBytes.data(), out);
                    written += out;
                    chunkStart += count;
                    status = unmappable ? kTextStatusUnmappable
                                        : (chunkStart < inUnits ? kTextStatusOutputFull : kTextStatusOK);
                    break;
                }
                const size_t keep = CutAtCharacter(fOffsets.data(), out, inCapacity - written);
                long fallback = 0;
                for (size_t i = keep; i > 0; --i) {
                    if (fOffsets[i - 1] >= 0) {
                        fallback = fOffsets[i - 1];
                        break;
                    }
                }
                size_t next = static_cast<size_t>(SourceOffsetAt(fOffsets.data(), out, keep, fallback));
                if (next >= count)
                    next = count - 1;
                if (next > 0 && U16_IS_LEAD(inSource[chunkStart + next - 1]))
                    --next;
                count = next;
                unmappable = false;
            }
            break;
        }
        *outBytesRead = chunkStart * 2;
        *outBytesWritten = written;
        return status;
    }

    UConverter* fConverter;
    bool fDecode;
    std::vector<UChar> fUnits;
    std::vector<char> fBytes;
    std::vector<int32_t> fOffsets;
};

int CreateCodec(TextEncoding inEncoding, bool inDecode, TextCodec** outCodec)
{
    *outCodec = nullptr;
    if (GetTextEncodingBase(inEncoding) == kBaseMacRoman && GetTextEncodingFormat(inEncoding) == 0 &&
        inEncoding == MakeTextEncoding(kBaseMacRoman, 0, 0)) {
        *outCodec = new (std::nothrow) MacRomanCodec(inDecode);
        return *outCodec != nullptr ? kTextStatusOK : kTextStatusNoConversionPath;
    }
    const char* name = IcuNameFor(inEncoding);
    if (name == nullptr)
        return kTextStatusNoDirectCodec;
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &error);
    if (U_FAILURE(error) || converter == nullptr)
        return kTextStatusNoDirectCodec;
    if (inDecode)
        ucnv_setToUCallBack(converter, DecodeCallback, nullptr, nullptr, nullptr, &error);
    else
        ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    if (U_FAILURE(error)) {
        ucnv_close(converter);
        return kTextStatusNoDirectCodec;
    }
    *outCodec = new (std::nothrow) IcuCodec(converter, inDecode);
    if (*outCodec == nullptr) {
        ucnv_close(converter);
        return kTextStatusNoConversionPath;
    }
    return kTextStatusOK;
}

}  // namespace

int CreateTextDecoder(TextEncoding inEncoding, TextCodec** outCodec) { return CreateCodec(inEncoding, true, outCodec); }

int CreateTextEncoder(TextEncoding inEncoding, TextCodec** outCodec) { return CreateCodec(inEncoding, false, outCodec); }

int CreateTextConverter(TextEncoding inFrom, TextEncoding inTo, TextCodec** outCodec)
{
    *outCodec = nullptr;
    const TextEncoding utf16 = MakeTextEncoding(kTextEncodingBaseUnicode, 0, kTextFormatUTF16);
    int status = kTextStatusNoConversionPath;
    if (inTo == utf16)
        status = CreateCodec(inFrom, true, outCodec);
    else if (inFrom == utf16)
        status = CreateCodec(inTo, false, outCodec);
    return status == kTextStatusOK ? kTextStatusOK : kTextStatusNoConversionPath;
}

void DisposeTextCodec(TextCodec* inCodec) { delete inCodec; }

int ConvertText(TextCodec* inCodec, const void* inSource, size_t inSourceBytes, size_t* outBytesRead,
                void* outTarget, size_t inTargetBytes, size_t* outBytesWritten)
{
    *outBytesRead = 0;
    *outBytesWritten = 0;
    if (inCodec == nullptr)
        return kTextStatusNoConversionPath;
    return inCodec->Convert(inSource, inSourceBytes, outBytesRead, outTarget, inTargetBytes, outBytesWritten);
}

}  // namespace qelt::plat
