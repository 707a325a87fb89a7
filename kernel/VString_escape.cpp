// Escaping: the XML and JSON text forms of strings.
#include "kernel/VString.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <type_traits>
#include <vector>
#include <sys/types.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "json/VJSONValue.h"
#include "kernel/Base64Coder.h"
#include "kernel/StStringConverter.h"
#include "kernel/VCollator.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VObject.h"
#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"
#include "platform/PlatNumbers.h"
#include "platform/PlatString.h"
#include "kernel/VThrowError.h"
#include "kernel/VString_internal.h"

namespace qelt {

using namespace stringimpl;

// ===========================================================================
// XML and JSON text forms

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool MatchesASCII(const UniChar* inUnits, int inAvailable, const char* inText)
{
    int n = static_cast<int>(std::strlen(inText));
    if (n > inAvailable)
        return false;
    for (int i = 0; i < n; ++i) {
        if (inUnits[i] != static_cast<unsigned char>(inText[i]))
            return false;
    }
    return true;
}

}  // namespace

void VString::TranscodeToXML(bool inEscapeControlChars)
{
    if (fLength == 0)
        return;
    VString* result = nullptr;
    int runStart = 0;
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        const char* replacement = nullptr;
        char numeric[8];
        switch (c) {
            case '&':
                replacement = "&amp;";
                break;
            case '<':
                replacement = "&lt;";
                break;
            case '>':
                replacement = "&gt;";
                break;
            case '"':
                replacement = "&quot;";
                break;
            case '\'':
                replacement = "&apos;";
                break;
            default:
                if (inEscapeControlChars && ((c < 32 && c != 9 && c != 10 && c != 13) || c == 127)) {
                    numeric[0] = '&';
                    numeric[1] = '#';
                    numeric[2] = 'x';
                    numeric[3] = kHexDigits[(c >> 4) & 0xF];
                    numeric[4] = kHexDigits[c & 0xF];
                    numeric[5] = ';';
                    numeric[6] = 0;
                    replacement = numeric;
                }
                break;
        }
        if (replacement == nullptr)
            continue;
        if (result == nullptr)
            result = new VString;
        result->AppendUniChars(fString + runStart, i - runStart);
        result->AppendCString(replacement);
        runStart = i + 1;
    }
    if (result == nullptr)
        return;
    result->AppendUniChars(fString + runStart, fLength - runStart);
    FromString(*result);
    delete result;
}

void VString::TranscodeFromXML()
{
    VString* result = nullptr;
    int runStart = 0;
    int i = 0;
    while (i < fLength) {
        if (fString[i] != '&') {
            ++i;
            continue;
        }
        const UniChar* p = fString + i;
        int available = fLength - i;
        UniChar decoded[2] = {0, 0};
        int decodedUnits = 1;
        int consumed = 0;
        if (MatchesASCII(p, available, "&amp;")) {
            decoded[0] = '&';
            consumed = 5;
        } else if (MatchesASCII(p, available, "&lt;")) {
            decoded[0] = '<';
            consumed = 4;
        } else if (MatchesASCII(p, available, "&gt;")) {
            decoded[0] = '>';
            consumed = 4;
        } else if (MatchesASCII(p, available, "&quot;")) {
            decoded[0] = '"';
            consumed = 6;
        } else if (MatchesASCII(p, available, "&apos;")) {
            decoded[0] = '\'';
            consumed = 6;
        } else if (MatchesASCII(p, available, "&#x")) {
            // A character beyond U+FFFF becomes its surrogate pair; zero,
            // surrogates and values beyond U+10FFFF stay as text.
            int j = 3;
            unsigned value = 0;
            while (j < available && plat::HexDigitValue(p[j]) >= 0) {
                if (value <= 0x10FFFF)
                    value = (value << 4) | static_cast<unsigned>(plat::HexDigitValue(p[j]));
                ++j;
            }
            const bool character = value != 0 && value <= 0x10FFFF && (value & 0xFFFFF800u) != 0xD800u;
            if (j > 3 && j < available && p[j] == ';' && character) {
                if (value >= 0x10000) {
                    decoded[0] = static_cast<UniChar>(0xD800 + ((value - 0x10000) >> 10));
                    decoded[1] = static_cast<UniChar>(0xDC00 + (value & 0x3FF));
                    decodedUnits = 2;
                } else {
                    decoded[0] = static_cast<UniChar>(value);
                }
                consumed = j + 1;
            }
        }
        if (consumed == 0) {
            ++i;
            continue;
        }
        if (result == nullptr)
            result = new VString;
        result->AppendUniChars(fString + runStart, i - runStart);
        result->AppendUniChars(decoded, decodedUnits);
        i += consumed;
        runStart = i;
    }
    if (result == nullptr)
        return;
    result->AppendUniChars(fString + runStart, fLength - runStart);
    FromString(*result);
    delete result;
}

void VString::GetXMLString(VString& outValue, unsigned int) const
{
    outValue.FromString(*this);
    outValue.TranscodeToXML(false);
}

bool VString::FromXMLString(const VString& inValue)
{
    FromString(inValue);
    TranscodeFromXML();
    return true;
}

namespace {

// Writes the JSON form of the units into out, which has room for 6 units
// per unit and two quotes; returns the number of units written.
// Whether the unit may need more than itself in the JSON form: a control
// unit, '"', '\\', DEL, and '&' and the apostrophe (escaped under 0x400).
inline bool MayNeedEscape(UniChar c)
{
    return c < 0x20 || c == '"' || c == '\\' || c == 127 || c == '&' || c == '\'';
}

// The length of the run of units from the start that stand for themselves
// whatever the options (eight units at a time where the processor allows).
int PlainRun(const UniChar* inUnits, int inLength)
{
    int i = 0;
#if defined(__SSE2__)
    const __m128i below = _mm_set1_epi16(0x1F);
    const __m128i quote = _mm_set1_epi16('"');
    const __m128i backslash = _mm_set1_epi16('\\');
    const __m128i del = _mm_set1_epi16(127);
    const __m128i amp = _mm_set1_epi16('&');
    const __m128i apos = _mm_set1_epi16('\'');
    for (; i + 8 <= inLength; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnits + i));
        // Unsigned c <= 0x1F exactly when the saturating c - 0x1F is 0.
        __m128i hit = _mm_cmpeq_epi16(_mm_subs_epu16(units, below), _mm_setzero_si128());
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, quote));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, backslash));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, del));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, amp));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, apos));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return i + (__builtin_ctz(static_cast<unsigned>(mask)) >> 1);
    }
#endif
    while (i < inLength && !MayNeedEscape(inUnits[i]))
        ++i;
    return i;
}

int EscapeJSONUnits(const UniChar* inUnits, int inLength, UniChar* out, bool quoted, bool escapeAmpApos)
{
    int n = 0;
    if (quoted)
        out[n++] = '"';
    for (int i = 0; i < inLength; ++i) {
        // Most units stand for themselves: runs of them are copied at once.
        const int run = PlainRun(inUnits + i, inLength - i);
        if (run > 0) {
            std::memcpy(out + n, inUnits + i, static_cast<size_t>(run) * sizeof(UniChar));
            n += run;
            i += run;
            if (i >= inLength)
                break;
        }
        UniChar c = inUnits[i];
        UniChar escape = 0;
        switch (c) {
            case '"':
                escape = '"';
                break;
            case '\\':
                escape = '\\';
                break;
            case 8:
                escape = 'b';
                break;
            case 9:
                escape = 't';
                break;
            case 10:
                escape = 'n';
                break;
            case 12:
                escape = 'f';
                break;
            case 13:
                escape = 'r';
                break;
            default:
                break;
        }
        if (escape != 0) {
            out[n++] = '\\';
            out[n++] = escape;
        } else if (c < 32 || c == 127 || (escapeAmpApos && (c == '&' || c == '\''))) {
            out[n++] = '\\';
            out[n++] = 'u';
            out[n++] = '0';
            out[n++] = '0';
            out[n++] = static_cast<UniChar>(kHexDigits[(c >> 4) & 0xF]);
            out[n++] = static_cast<UniChar>(kHexDigits[c & 0xF]);
        } else {
            out[n++] = c;
        }
    }
    if (quoted)
        out[n++] = '"';
    return n;
}

}  // namespace

VError VString::GetJSONString(VString& outJSONString, unsigned int inOptions) const
{
    const bool quoted = (inOptions & 0x1) != 0;
    if ((inOptions & 0x10) != 0) {
        if (quoted) {
            outJSONString.Clear();
            outJSONString.AppendUniChar('"');
            outJSONString.AppendString(*this);
            outJSONString.AppendUniChar('"');
        } else {
            outJSONString.FromString(*this);
        }
        return VE_OK;
    }
    const long long worst = 6LL * fLength + 4;
    if (worst > 0x7FFFFFFF) {
        _ThrowError(kErrorStringSize);
        return kErrorStringSize;
    }
    if (&outJSONString == this) {
        // The destination is the source: escape a copy.
        VString copy(*this);
        return copy.GetJSONString(outJSONString, inOptions);
    }
    if (!outJSONString._ReallocBuffer(static_cast<int>(worst), false)) {
        _ThrowError(kErrorStringSize);
        return kErrorStringSize;
    }
    UniChar* out = outJSONString.fString;
    const int n = EscapeJSONUnits(fString, fLength, out, quoted, (inOptions & 0x400) != 0);
    outJSONString.fLength = n;
    out[n] = 0;
    outJSONString._SetTextWritten();
    return VE_OK;
}

int VString::WriteJSONUnits(const UniChar* inUnits, int inLength, UniChar* outUnits, bool inQuoted,
                            bool inEscapeAmpApos)
{
    return EscapeJSONUnits(inUnits, inLength, outUnits, inQuoted, inEscapeAmpApos);
}

VError VString::AppendJSONStringTo(VString& ioText, unsigned int inOptions) const
{
    const bool quoted = (inOptions & 0x1) != 0;
    if (&ioText == this) {
        VString copy(*this);
        return copy.AppendJSONStringTo(ioText, inOptions);
    }
    if ((inOptions & 0x10) != 0) {
        if (quoted)
            ioText.AppendUniChar('"');
        ioText.AppendUniChars(fString, fLength);
        if (quoted)
            ioText.AppendUniChar('"');
        return VE_OK;
    }
    const long long needed = static_cast<long long>(ioText.fLength) + 6LL * fLength + 4;
    if (needed > 0x7FFFFFFF || !ioText._EnsureWritable(static_cast<int>(needed), true)) {
        _ThrowError(kErrorStringSize);
        return kErrorStringSize;
    }
    UniChar* out = ioText.fString + ioText.fLength;
    ioText.fLength += EscapeJSONUnits(fString, fLength, out, quoted, (inOptions & 0x400) != 0);
    ioText.fString[ioText.fLength] = 0;
    ioText._SetTextWritten();
    return VE_OK;
}

VError VString::FromJSONString(const VString& inJSONString, unsigned int inOptions)
{
    if ((inOptions & 0x10) != 0) {
        FromString(inJSONString);
        return VE_OK;
    }
    if (&inJSONString == this) {
        VString copy(inJSONString);
        return FromJSONString(copy, inOptions);
    }
    const int length = inJSONString.IsNull() ? 0 : inJSONString.fLength;
    if (!_EnsureWritable(length, false))
        return VE_OK;
    const UniChar* in = inJSONString.fString;
    UniChar* out = fString;
    int n = 0;
    int i = 0;
    while (i < length) {
        UniChar c = in[i];
        if (c != '\\') {
            out[n++] = c;
            ++i;
            continue;
        }
        if (i + 1 >= length) {
            ++i;  // a backslash that ends the body is dropped
            continue;
        }
        UniChar e = in[i + 1];
        switch (e) {
            case 'b':
                out[n++] = 8;
                i += 2;
                break;
            case 'f':
                out[n++] = 12;
                i += 2;
                break;
            case 'n':
                out[n++] = 10;
                i += 2;
                break;
            case 'r':
                out[n++] = 13;
                i += 2;
                break;
            case 't':
                out[n++] = 9;
                i += 2;
                break;
            case 'u':
                if (i + 5 < length) {
                    unsigned value = 0;
                    for (int k = 0; k < 4; ++k) {
                        int digit = plat::HexDigitValue(in[i + 2 + k]);
                        if (digit >= 0)
                            value = (value << 4) | static_cast<unsigned>(digit);
                        else if (k == 0)
                            value = 0;
                    }
                    out[n++] = static_cast<UniChar>(value);
                    i += 6;
                } else {
                    out[n++] = 'u';
                    i += 2;
                }
                break;
            default:
                out[n++] = e;
                i += 2;
                break;
        }
    }
    fLength = n;
    fString[n] = 0;
    _SetTextWritten();
    return VE_OK;
}

VError VString::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetString(*this);
    return VE_OK;
}

VError VString::FromJSONValue(const VJSONValue& inJSONValue)
{
    if (inJSONValue.GetType() == JSON_null) {
        SetNull(true);
        return VE_OK;
    }
    inJSONValue.GetString(*this, nullptr);
    return VE_OK;
}

void VString::GetCleanJSName(VString& outName) const
{
    outName.Clear();
    if (fLength == 0)
        return;
    if (fString[0] >= '0' && fString[0] <= '9')
        outName.AppendUniChar('_');
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$')
            outName.AppendUniChar(c);
    }
}

}  // namespace qelt
