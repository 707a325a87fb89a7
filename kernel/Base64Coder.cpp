// Base64 coder: RFC 4648 standard and URL-safe alphabets.
#include "kernel/Base64Coder.h"

#include <climits>
#include <cstring>

#include "kernel/StStringConverter.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VMemory.h"
#include "kernel/VString.h"
#include "kernel/VThrowError.h"

namespace qelt {

namespace {

constexpr VError kErrorMemory = QeltError(100);
constexpr VError kErrorNotASCII = QeltError(210);
constexpr unsigned char kInvalid = 255;

inline bool IsBase64WhiteSpace(unsigned char c) { return c == 9 || c == 10 || c == 13 || c == 32; }

// Decodes the last group of a standard text (four characters, padding
// allowed); returns the number of bytes written (1 to 3) or 0 when the group
// is not valid.
unsigned long DecodeLastStandardGroup(const unsigned char* inText, unsigned char* outBytes)
{
    const unsigned char* inv = Base64Coder::sBase64Inverse;
    unsigned char v0 = inv[inText[0]];
    unsigned char v1 = inv[inText[1]];
    if (v0 == kInvalid || v1 == kInvalid)
        return 0;
    unsigned char v2 = inv[inText[2]];
    unsigned char v3 = inv[inText[3]];
    if (v2 != kInvalid && v3 != kInvalid) {
        outBytes[0] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
        outBytes[1] = static_cast<unsigned char>((v1 << 4) | (v2 >> 2));
        outBytes[2] = static_cast<unsigned char>((v2 << 6) | v3);
        return 3;
    }
    if (inText[2] == '=') {
        if (inText[3] != '=' || (v1 & 0x0F) != 0)
            return 0;
        outBytes[0] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
        return 1;
    }
    if (inText[3] != '=' || v2 == kInvalid || (v2 & 0x03) != 0)
        return 0;
    outBytes[0] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
    outBytes[1] = static_cast<unsigned char>((v1 << 4) | (v2 >> 2));
    return 2;
}

// Standard decoding of a text without white space.
bool DecodeStandardBody(const unsigned char* inText, unsigned long inCount, Base64Coder::Buffer& ioBuffer)
{
    if (inCount % 4 != 0)
        return false;
    if (inCount == 0)
        return true;
    unsigned long groups = inCount / 4;
    if (!ioBuffer.SetCapacityExact(3 * groups + 1))
        return false;
    unsigned char* out = static_cast<unsigned char*>(ioBuffer.GetDataPtr());
    unsigned long textIndex = 0;
    unsigned long outIndex = 0;
    // Only whole decoded groups ever count as content, so a failure never
    // exposes bytes that were not written.
    if (!Base64Coder::_DecodeQuads(Base64Coder::sBase64Inverse, inText, groups - 1, out, textIndex, outIndex)) {
        ioBuffer.SetDataSize(outIndex);
        return false;
    }
    unsigned long last = DecodeLastStandardGroup(inText + 4 * (groups - 1), out + outIndex);
    if (last == 0) {
        ioBuffer.SetDataSize(outIndex);
        return false;
    }
    ioBuffer.SetDataSize(outIndex + last);
    return true;
}

}  // namespace

const char Base64Coder::sBase64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char Base64Coder::sBase64URLAlphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

const unsigned char Base64Coder::sBase64Inverse[256] = {
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,  62, 255, 255, 255,  63,
     52,  53,  54,  55,  56,  57,  58,  59,  60,  61, 255, 255, 255, 255, 255, 255,
    255,   0,   1,   2,   3,   4,   5,   6,   7,   8,   9,  10,  11,  12,  13,  14,
     15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25, 255, 255, 255, 255, 255,
    255,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,  40,
     41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
};
const unsigned char Base64Coder::sBase64URLInverse[256] = {
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,  62, 255, 255,
     52,  53,  54,  55,  56,  57,  58,  59,  60,  61, 255, 255, 255, 255, 255, 255,
    255,   0,   1,   2,   3,   4,   5,   6,   7,   8,   9,  10,  11,  12,  13,  14,
     15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25, 255, 255, 255, 255,  63,
    255,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,  40,
     41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
};

bool Base64Coder::_Encode(const void* inBytes, unsigned long inCount, Buffer& outBuffer, int inLineLength, bool inURL)
{
    outBuffer.Clear();
    if (inCount == 0)
        return true;
    if (inBytes == nullptr)
        return false;

    unsigned long groups = inCount / 3 + (inCount % 3 != 0 ? 1 : 0);
    unsigned long lineLength = (!inURL && inLineLength > 0) ? static_cast<unsigned long>(inLineLength) : 0;
    // 4 characters per group plus at most 2 per group for line breaks must
    // fit the size type.
    if (groups > ULONG_MAX / 8)
        return false;
    unsigned long size = 4 * groups;
    if (lineLength > 0)
        size += 2 * (groups / lineLength);
    if (!outBuffer.SetCapacityExact(size))
        return false;

    const char* alphabet = inURL ? sBase64URLAlphabet : sBase64Alphabet;
    const unsigned char* in = static_cast<const unsigned char*>(inBytes);
    unsigned char* out = static_cast<unsigned char*>(outBuffer.GetDataPtr());
    unsigned char* const start = out;

    for (unsigned long g = 1; g < groups; ++g) {
        unsigned int triple = (static_cast<unsigned int>(in[0]) << 16) | (static_cast<unsigned int>(in[1]) << 8) | in[2];
        in += 3;
        out[0] = static_cast<unsigned char>(alphabet[(triple >> 18) & 0x3F]);
        out[1] = static_cast<unsigned char>(alphabet[(triple >> 12) & 0x3F]);
        out[2] = static_cast<unsigned char>(alphabet[(triple >> 6) & 0x3F]);
        out[3] = static_cast<unsigned char>(alphabet[triple & 0x3F]);
        out += 4;
        if (lineLength > 0 && g % lineLength == 0) {
            *out++ = 0x0D;
            *out++ = 0x0A;
        }
    }

    unsigned long rest = inCount - 3 * (groups - 1);
    unsigned int triple = static_cast<unsigned int>(in[0]) << 16;
    if (rest > 1)
        triple |= static_cast<unsigned int>(in[1]) << 8;
    if (rest > 2)
        triple |= in[2];
    *out++ = static_cast<unsigned char>(alphabet[(triple >> 18) & 0x3F]);
    *out++ = static_cast<unsigned char>(alphabet[(triple >> 12) & 0x3F]);
    if (rest > 1)
        *out++ = static_cast<unsigned char>(alphabet[(triple >> 6) & 0x3F]);
    else if (!inURL)
        *out++ = '=';
    if (rest > 2)
        *out++ = static_cast<unsigned char>(alphabet[triple & 0x3F]);
    else if (!inURL)
        *out++ = '=';

    outBuffer.SetDataSize(static_cast<uint64_t>(out - start));
    return true;
}

bool Base64Coder::Decode(const void* inText, unsigned long inCount, Buffer& outBuffer, bool inURL, bool inKeepPartial)
{
    outBuffer.Clear();
    if (inCount == 0)
        return true;
    if (inText == nullptr)
        return false;
    const unsigned char* text = static_cast<const unsigned char*>(inText);
    bool ok = inURL ? _DecodeBase64URL(text, inCount, outBuffer) : _DecodeBase64(text, inCount, outBuffer);
    if (ok)
        return true;
    if (!inKeepPartial)
        outBuffer.Clear();
    return false;
}

bool Base64Coder::_DecodeBase64(const unsigned char* inText, unsigned long inCount, Buffer& outBuffer)
{
    // White space is never in the alphabet, so a text that decodes as it
    // stands holds none; only a failed text is searched for it.
    if (DecodeStandardBody(inText, inCount, outBuffer))
        return true;
    bool hasWhiteSpace = false;
    for (unsigned long i = 0; i < inCount && !hasWhiteSpace; ++i)
        hasWhiteSpace = IsBase64WhiteSpace(inText[i]);
    if (!hasWhiteSpace)
        return false;

    outBuffer.Clear();
    unsigned char* scratch = static_cast<unsigned char*>(VMemory::NewPtr(inCount, kMemTag_MemBuffer));
    if (scratch == nullptr) {
        _ThrowError(kErrorMemory);
        return false;
    }
    unsigned long kept = 0;
    for (unsigned long i = 0; i < inCount; ++i) {
        if (!IsBase64WhiteSpace(inText[i]))
            scratch[kept++] = inText[i];
    }
    bool ok = DecodeStandardBody(scratch, kept, outBuffer);
    VMemory::DisposePtr(scratch);
    return ok;
}

bool Base64Coder::_DecodeBase64URL(const unsigned char* inText, unsigned long inCount, Buffer& outBuffer)
{
    unsigned long groups = inCount / 4;
    unsigned long rest = inCount - 4 * groups;
    if (!outBuffer.SetCapacityExact(3 * groups + 4))
        return false;
    unsigned char* out = static_cast<unsigned char*>(outBuffer.GetDataPtr());
    unsigned long textIndex = 0;
    unsigned long outIndex = 0;
    if (!_DecodeQuads(sBase64URLInverse, inText, groups, out, textIndex, outIndex)) {
        outBuffer.SetDataSize(outIndex);
        return false;
    }
    const unsigned char* tail = inText + 4 * groups;
    const unsigned char* inv = sBase64URLInverse;
    bool ok = true;
    if (rest == 1) {
        ok = false;
    } else if (rest == 2) {
        unsigned char v0 = inv[tail[0]];
        unsigned char v1 = inv[tail[1]];
        ok = v0 != kInvalid && v1 != kInvalid && (v1 & 0x0F) == 0;
        if (ok)
            out[outIndex++] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
    } else if (rest == 3) {
        unsigned char v0 = inv[tail[0]];
        unsigned char v1 = inv[tail[1]];
        unsigned char v2 = inv[tail[2]];
        ok = v0 != kInvalid && v1 != kInvalid && v2 != kInvalid && (v2 & 0x03) == 0;
        if (ok) {
            out[outIndex++] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
            out[outIndex++] = static_cast<unsigned char>((v1 << 4) | (v2 >> 2));
        }
    }
    outBuffer.SetDataSize(outIndex);
    return ok;
}

bool Base64Coder::_DecodeQuads(const unsigned char* inInverse, const unsigned char* inText, unsigned long inGroups,
                               unsigned char* outBytes, unsigned long& ioTextIndex, unsigned long& ioOutIndex)
{
    unsigned long t = ioTextIndex;
    unsigned long o = ioOutIndex;
    for (unsigned long g = 0; g < inGroups; ++g, t += 4, o += 3) {
        unsigned int a = inInverse[inText[t]];
        unsigned int b = inInverse[inText[t + 1]];
        unsigned int c = inInverse[inText[t + 2]];
        unsigned int d = inInverse[inText[t + 3]];
        // Alphabet values fit six bits; the 255 of any other byte shows in
        // the high bit of the combination.
        if (((a | b | c | d) & 0x80) != 0) {
            ioOutIndex = o;
            for (int k = 0; k < 4; ++k) {
                if (inInverse[inText[t + k]] == kInvalid) {
                    ioTextIndex = t + k + 1;
                    return false;
                }
            }
        }
        unsigned int v = (a << 18) | (b << 12) | (c << 6) | d;
        outBytes[o] = static_cast<unsigned char>(v >> 16);
        outBytes[o + 1] = static_cast<unsigned char>(v >> 8);
        outBytes[o + 2] = static_cast<unsigned char>(v);
    }
    ioTextIndex = t;
    ioOutIndex = o;
    return true;
}

void Base64Coder::DO_EncodeChecksumBase64(const unsigned char* inBytes, unsigned long inCount, VString& outResult)
{
    outResult.Clear();
    Buffer encoded;
    if (_Encode(inBytes, inCount, encoded, 0, false) && encoded.GetDataSize() > 0)
        outResult.FromBlock(encoded.GetDataPtr(), static_cast<unsigned long>(encoded.GetDataSize()), VTC_UTF_8);
}

void Base64Coder::DO_EncodeChecksumHexa(const unsigned char* inBytes, unsigned long inCount, VString& outResult)
{
    static const char kDigits[] = "0123456789abcdef";
    if (inCount == 0 || inBytes == nullptr || inCount > static_cast<unsigned long>(INT_MAX / 2)) {
        outResult.Clear();
        return;
    }
    int length = static_cast<int>(2 * inCount);
    if (!outResult._ReallocBuffer(length, false)) {
        outResult.Clear();
        return;
    }
    // The buffer is now the string's own and holds at least `length` units.
    UniChar* units = const_cast<UniChar*>(outResult.GetCPointer());
    for (unsigned long i = 0; i < inCount; ++i) {
        units[2 * i] = static_cast<UniChar>(kDigits[inBytes[i] >> 4]);
        units[2 * i + 1] = static_cast<UniChar>(kDigits[inBytes[i] & 0x0F]);
    }
    if (!outResult.Validate(length))
        outResult.Clear();
}

bool Base64Coder::EncodeBase64(VString& ioString, const void* inBytes, unsigned long inCount, bool inURL)
{
    Buffer encoded;
    if (!_Encode(inBytes, inCount, encoded, 0, inURL))
        return false;
    uint64_t size = encoded.GetDataSize();
    if (size > static_cast<uint64_t>(INT_MAX))
        return false;
    int length = static_cast<int>(size);
    if (!ioString._ReallocBuffer(length, false))
        return false;
    UniChar* units = const_cast<UniChar*>(ioString.GetCPointer());
    const unsigned char* text = static_cast<const unsigned char*>(encoded.GetDataPtr());
    for (int i = 0; i < length; ++i)
        units[i] = text[i];
    return ioString.Validate(length);
}

bool Base64Coder::EncodeBase64(VString& ioString, CharSet inCharSet, bool inURL)
{
    if (ioString.IsNull() || ioString.IsEmpty())
        return true;
    StStringConverter<char> bytes(ioString, inCharSet, eCRM_NONE);
    if (!bytes.IsOK())
        return false;
    return EncodeBase64(ioString, bytes.GetCPointer(), bytes.GetSize(), inURL);
}

bool Base64Coder::DecodeBase64(const VString& inString, Buffer& outBuffer, bool inURL)
{
    int length = inString.GetLength();
    if (length <= 0)
        return Decode(nullptr, 0, outBuffer, inURL, false);
    unsigned char* scratch =
        static_cast<unsigned char*>(VMemory::NewPtr(static_cast<size_t>(length), kMemTag_MemBuffer));
    if (scratch == nullptr) {
        _ThrowError(kErrorMemory);
        return false;
    }
    const UniChar* units = inString.GetCPointer();
    for (int i = 0; i < length; ++i) {
        if (units[i] >= 128) {
            _ThrowError(kErrorNotASCII);
            VMemory::DisposePtr(scratch);
            return false;
        }
        scratch[i] = static_cast<unsigned char>(units[i]);
    }
    bool ok = Decode(scratch, static_cast<unsigned long>(length), outBuffer, inURL, false);
    VMemory::DisposePtr(scratch);
    return ok;
}

bool Base64Coder::DecodeBase64(VString& ioString, CharSet inCharSet, bool inURL)
{
    if (ioString.IsNull() || ioString.IsEmpty())
        return true;
    Buffer decoded;
    bool ok = DecodeBase64(ioString, decoded, inURL);
    if (ok) {
        if (decoded.GetDataSize() == 0)
            ioString.Clear();
        else
            ioString.FromBlock(decoded.GetDataPtr(), static_cast<unsigned long>(decoded.GetDataSize()), inCharSet);
    }
    return ok;
}

}  // namespace qelt
