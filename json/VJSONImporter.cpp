#include "json/VJSONImporter.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "json/VDecimalToDouble.h"
#include "json/VJSONArray.h"
#include "json/VJSONBinaryImporter.h"
#include "json/VJSONGraph.h"
#include "json/VJSONObject.h"
#include "json/VJSONRegion.h"
#include "json/VStorageLocker.h"
#include "kernel/VLong.h"
#include "kernel/VStringBlock.h"
#include "platform/PlatNumbers.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "values/VTime.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

const UniChar kSymbolsUnits[] = {'_', '_', 's', 'y', 'm', 'b', 'o', 'l', 's', 0};

constexpr VError kErrorMalformed = QeltError(550);
constexpr VError kErrorInvalidToken = QeltError(551);
constexpr VError kErrorUnterminated = QeltError(552);
constexpr VError kErrorExtraComma = QeltError(553);
constexpr VError kErrorNothingFound = QeltError(554);
constexpr VError kErrorTooDeep = QeltError(555);

// The expected-token lists the reports name.
const char kExpectValue[] = "\" 0-9 null true false { [";
const char kExpectFirstElement[] = "\" 0-9 null true false { [ ]";
const char kExpectFirstKey[] = "\" }";
const char kExpectKey[] = "\"";
const char kExpectColon[] = ":";
const char kExpectAfterMember[] = "} ,";
const char kExpectAfterElement[] = "] ,";
const char kExpectNumber[] = "+- 0-9 eE";

inline bool IsDigit(UniChar c) { return c >= '0' && c <= '9'; }

}  // namespace

bool VJSONImporter::_IsNumberWord(const UniChar* p, int n)
{
    int i = 0;
    if (i < n && p[i] == '-')
        ++i;
    if (i < n && p[i] == '0') {
        ++i;
    } else {
        while (i < n && IsDigit(p[i]))
            ++i;
    }
    if (i < n && p[i] == '.') {
        int start = ++i;
        while (i < n && IsDigit(p[i]))
            ++i;
        if (i == start)
            return false;
    }
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        ++i;
        if (i < n && (p[i] == '+' || p[i] == '-' || p[i] == 0x2212))
            ++i;
        int start = i;
        while (i < n && IsDigit(p[i]))
            ++i;
        if (i == start)
            return false;
    }
    return i == n;
}

bool VJSONImporter::_IsWord(const VString& inText, const char* inWord)
{
    const UniChar* p = inText.GetCPointer();
    const int n = inText.GetLength();
    int i = 0;
    for (; inWord[i] != 0; ++i) {
        if (i >= n || p[i] != static_cast<UniChar>(inWord[i]))
            return false;
    }
    return i == n;
}

namespace {

// Pushes an error whose parameters the caller fills.
template <class Fill>
void PushReport(VError inError, Fill&& inFill)
{
    try {
        VRefPtr<VErrorBase> error = AdoptRef(new VErrorBase(inError));
        inFill(*error->GetBag());
        VTask::PushError(error.Get());
    } catch (const std::bad_alloc&) {
    }
}

// One {"line": n, "offset": m} entry of the paths-and-lines side object.
VJSONValue LineEntry(int inLine, int inOffset)
{
    VJSONValue entry(JSON_object);
    static const VString sLine("line");
    static const VString sOffset("offset");
    entry.SetProperty(sLine, VJSONValue(static_cast<double>(inLine)));
    entry.SetProperty(sOffset, VJSONValue(static_cast<double>(inOffset)));
    return entry;
}

}  // namespace

const VString VJSONImporter::sBinaryObjectName("__PRIVATE_BINARY_OBJECT");

const VString VJSONImporter::sNameOfThePropertyWithPathsAndLines(const_cast<UniChar*>(kSymbolsUnits), 9,
                                                                 sizeof(kSymbolsUnits));

VJSONImporter::VJSONImporter(const VString& inText, uint32_t inOptions)
    : fText(inText), fOptions(inOptions), fStrictDates((inOptions & kJSONImportStrictDates) != 0),
      fConnectLater((inOptions & kJSONImportShared) == 0)
{
    fUnits = fText.GetCPointer();
    fLength = fUnits != nullptr ? fText.GetLength() : 0;
    if ((fOptions & kJSONImportPathsAndLines) != 0)
        fPathsLines = new VJSONObject();
}

VJSONImporter::~VJSONImporter()
{
    if (fPathsLines != nullptr)
        fPathsLines->Release();
    if (fLocker != nullptr)
        fLocker->Release();
}

// ---------------------------------------------------------------------------
// Scanner

namespace {

// The ASCII units that end a bare word: blanks and control units, the
// double quote and the structural characters.
constexpr auto kEndsWord = [] {
    std::array<bool, 0x80> ends{};
    for (int c = 0; c <= 0x20; ++c)
        ends[static_cast<size_t>(c)] = true;
    for (char c : {'"', ',', ':', '[', ']', '{', '}'})
        ends[static_cast<size_t>(c)] = true;
    return ends;
}();

// The position of the first unit at or after inPos that a quoted string
// must look at: a double quote, a backslash or a unit up to CR (a zero unit
// or a line end among them). Eight units at a time where the processor allows.
inline int PlainStringRun(const UniChar* inUnits, int inPos, int inEnd)
{
    int p = inPos;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi16('"');
    const __m128i backslash = _mm_set1_epi16('\\');
    const __m128i upToCR = _mm_set1_epi16('\r');
    for (; p + 8 <= inEnd; p += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnits + p));
        __m128i hit = _mm_cmpeq_epi16(_mm_subs_epu16(units, upToCR), _mm_setzero_si128());
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, quote));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, backslash));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return p + (__builtin_ctz(static_cast<unsigned>(mask)) >> 1);
    }
#endif
    while (p < inEnd && inUnits[p] != '"' && inUnits[p] != '\\' && inUnits[p] > '\r')
        ++p;
    return p;
}

// The position of the first unit at or after inPos that ends a bare word
// (kEndsWord), or inEnd. Eight units at a time where the processor allows.
inline int BareWordRun(const UniChar* inUnits, int inPos, int inEnd)
{
    int p = inPos;
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi16(0x20);
    const __m128i quote = _mm_set1_epi16('"');
    const __m128i comma = _mm_set1_epi16(',');
    const __m128i colon = _mm_set1_epi16(':');
    // '[' ']' '{' '}' are 0x5B 0x5D 0x7B 0x7D: with bit 0x20 set, two values.
    const __m128i lowerCase = _mm_set1_epi16(0x20);
    const __m128i openBrace = _mm_set1_epi16('{');
    const __m128i closeBrace = _mm_set1_epi16('}');
    for (; p + 8 <= inEnd; p += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnits + p));
        __m128i hit = _mm_cmpeq_epi16(_mm_subs_epu16(units, space), _mm_setzero_si128());
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, quote));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, comma));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, colon));
        const __m128i folded = _mm_or_si128(units, lowerCase);
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(folded, openBrace));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(folded, closeBrace));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return p + (__builtin_ctz(static_cast<unsigned>(mask)) >> 1);
    }
#endif
    while (p < inEnd && (inUnits[p] >= 0x80 || !kEndsWord[inUnits[p]]))
        ++p;
    return p;
}

// Counts the line ends among the units whose bits are set in inMask (bit i
// for the unit at inPos + i, each an LF or a CR), as _CountLineEnd does: a
// CR counts only when no LF follows it.
inline void CountLineEnds(const UniChar* inUnits, int inLength, int inPos, unsigned inMask, int& ioLine,
                          int& ioLineStart)
{
    for (; inMask != 0; inMask &= inMask - 1u) {
        const int at = inPos + __builtin_ctz(inMask);
        if (inUnits[at] == '\n' || at + 1 >= inLength || inUnits[at + 1] != '\n') {
            ++ioLine;
            ioLineStart = at + 1;
        }
    }
}

#if defined(__SSE2__)
// Passes blank units sixteen at a time from inPos on, counting line ends;
// answers the position of the first unit above U+0020, or the first
// position from which fewer than sixteen units remain.
inline int SkipBlanks16(const UniChar* inUnits, int inLength, int inPos, int& ioLine, int& ioLineStart)
{
    const __m128i space = _mm_set1_epi16(0x20);
    const __m128i lf = _mm_set1_epi16('\n');
    const __m128i cr = _mm_set1_epi16('\r');
    int p = inPos;
    while (p + 16 <= inLength) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnits + p));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnits + p + 8));
        const __m128i blankLow = _mm_cmpeq_epi16(_mm_subs_epu16(low, space), _mm_setzero_si128());
        const __m128i blankHigh = _mm_cmpeq_epi16(_mm_subs_epu16(high, space), _mm_setzero_si128());
        // Each 16-bit lane is all ones or zero: packing keeps one byte of it.
        const unsigned blanks = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(blankLow, blankHigh)));
        unsigned lfs = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(low, lf), _mm_cmpeq_epi16(high, lf))));
        unsigned crs = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(low, cr), _mm_cmpeq_epi16(high, cr))));
        const unsigned others = ~blanks & 0xFFFFu;
        const int count = others != 0 ? __builtin_ctz(others) : 16;
        if (count < 16) {
            lfs &= (1u << count) - 1u;
            crs &= (1u << count) - 1u;
        }
        if (crs == 0 && (lfs & (lfs - 1u)) == 0) {
            // No CR and at most one LF, as in indented text: the LF, if
            // any, counts, without a look back at the units.
            if (lfs != 0) {
                ++ioLine;
                ioLineStart = p + __builtin_ctz(lfs) + 1;
            }
        } else {
            CountLineEnds(inUnits, inLength, p, lfs | crs, ioLine, ioLineStart);
        }
        p += count;
        if (count < 16)
            return p;
    }
    return p;
}
#endif

}  // namespace

int VJSONImporter::_SkipBlanks(int inPos)
{
    const UniChar* u = fUnits;
    const int n = fLength;
    int p = inPos;
    if (p < n && u[p] > 0x20)
        return p;  // most tokens follow the one before without a blank
#if defined(__SSE2__)
    // The line ends of a run are few (one, as a rule) and counted one by
    // one, exactly as the unit loop below counts them.
    p = SkipBlanks16(u, n, p, fLine, fLineStart);
    if (p + 16 <= n)
        return p;
#endif
    while (p < n && u[p] <= 0x20) {
        if (u[p] == '\n' || u[p] == '\r')
            _CountLineEnd(u[p], p);
        ++p;
    }
    return p;
}

template <VJSONImporter::ScanMode kMode>
VJSONImporter::JsonToken VJSONImporter::_Scan(VString* outText, bool* outIsString, VError* outError)
{
    constexpr bool kWithText = kMode != kScanNoText;
    if constexpr (kMode == kScanText)
        outText->Clear();
    if constexpr (kMode == kScanSpan) {
        fSpanDecoded = false;
        fSpanLength = 0;
    }
    if (outIsString != nullptr)
        *outIsString = false;
    fStartToken = fPos;
    const UniChar* u = fUnits;
    const int n = fLength;
    int p = fPos;
    if (p < n && u[p] <= 0x20)
        p = _PassBlanks(p);
    if (p >= n) {
        fPos = p;
        return jsonNone;
    }
    const UniChar first = u[p++];
    switch (first) {
        case '{': fPos = p; return jsonBeginObject;
        case '}': fPos = p; return jsonEndObject;
        case '[': fPos = p; return jsonBeginArray;
        case ']': fPos = p; return jsonEndArray;
        case ',': fPos = p; return jsonSeparator;
        case ':': fPos = p; return jsonAssigne;
        default: break;
    }
    if (first == '"') {
        if (outIsString != nullptr)
            *outIsString = true;
        bool closed = false;
        const int contentStart = p;
        int run = p;
        // Span mode builds the text only from the first escape or zero unit on.
        bool decoding = kMode == kScanText;
        auto startDecoding = [&] {
            if constexpr (kMode == kScanSpan) {
                if (!decoding) {
                    decoding = true;
                    fSpanDecoded = true;
                    outText->Clear();
                }
            }
        };
        auto flush = [&](int inEnd) {
            if constexpr (kWithText) {
                if (decoding && inEnd > run)
                    outText->AppendUniChars(u + run, inEnd - run);
            }
        };
        while (p < n) {
            p = PlainStringRun(u, p, n);
            if (p >= n)
                break;
            const UniChar c = u[p];
            if (c == '"') {
                flush(p);
                ++p;
                closed = true;
                break;
            }
            if (c == '\\') {
                startDecoding();
                flush(p);
                ++p;
                if (p >= n) {
                    run = p;  // a backslash ends the text: the string stays open
                    break;
                }
                const UniChar e = u[p];
                if (e == 'u' && kWithText) {
                    if (p + 4 >= n) {
                        p = n;  // the four digits are not all there: open
                        run = p;
                        break;
                    }
                    int value = plat::HexDigitValue(u[p + 1]);
                    if (value < 0)
                        value = 0;
                    for (int k = 2; k <= 4; ++k) {
                        int digit = plat::HexDigitValue(u[p + k]);
                        if (digit >= 0)
                            value = value * 16 + digit;
                    }
                    if (value != 0)
                        outText->AppendUniChar(static_cast<UniChar>(value));
                    p += 5;
                } else {
                    if constexpr (kWithText) {
                        UniChar mapped = e;
                        switch (e) {
                            case 'b': mapped = 0x08; break;
                            case 'f': mapped = 0x0C; break;
                            case 'n': mapped = 0x0A; break;
                            case 'r': mapped = 0x0D; break;
                            case 't': mapped = 0x09; break;
                            default: break;
                        }
                        if (mapped != 0)
                            outText->AppendUniChar(mapped);
                    }
                    _CountLineEnd(e, p);
                    ++p;
                }
                run = p;
                continue;
            }
            if (c <= '\r') {
                if (c == 0) {
                    startDecoding();
                    flush(p);
                    run = p + 1;
                } else {
                    _CountLineEnd(c, p);
                }
            }
            ++p;
        }
        if constexpr (kMode == kScanSpan) {
            if (!decoding) {
                fSpanBegin = contentStart;
                fSpanLength = (closed ? p - 1 : p) - contentStart;
            }
        }
        if (!closed) {
            flush(p);
            fPos = p;
            if ((fOptions & kJSONImportStrict) != 0) {
                if (outError != nullptr) {
                    static const VString sQuote("\"");
                    *outError = _ThrowErrorUnterminated(sQuote);
                }
                return jsonNone;
            }
            return jsonString;
        }
        fPos = p;
        return jsonString;
    }
    // A bare word, up to a blank (consumed) or a structural character.
    const int start = p - 1;
    p = BareWordRun(u, p, n);
    if (p < n) {
        const UniChar c = u[p];
        if (c <= 0x20) {
            if constexpr (kMode == kScanText)
                outText->AppendUniChars(u + start, p - start);
            if constexpr (kMode == kScanSpan) {
                fSpanBegin = start;
                fSpanLength = p - start;
            }
            _CountLineEnd(c, p);
            fPos = p + 1;
            return jsonString;
        }
    }
    if constexpr (kMode == kScanText)
        outText->AppendUniChars(u + start, p - start);
    if constexpr (kMode == kScanSpan) {
        fSpanBegin = start;
        fSpanLength = p - start;
    }
    fPos = p;
    return jsonString;
}

inline bool VJSONImporter::_ScanPlainString()
{
    int p = fPos;
    if (p < fLength && fUnits[p] <= 0x20) {
        p = _PassBlanks(p);
        fPos = p;
    }
    if (p >= fLength || fUnits[p] != '"')
        return false;
    const int end = PlainStringRun(fUnits, p + 1, fLength);
    if (end >= fLength || fUnits[end] != '"')
        return false;
    fSpanBegin = p + 1;
    fSpanLength = end - (p + 1);
    fSpanDecoded = false;
    fPos = end + 1;
    return true;
}

VJSONImporter::JsonToken VJSONImporter::GetNextJSONToken(VString& outText, bool* outIsString, VError* outError)
{
    return _Scan<kScanText>(&outText, outIsString, outError);
}

VJSONImporter::JsonToken VJSONImporter::GetNextJSONToken(VError* outError)
{
    return _Scan<kScanNoText>(nullptr, nullptr, outError);
}

UniChar VJSONImporter::_GetNextChar(bool& outAtEnd)
{
    if (fPos >= fLength) {
        outAtEnd = true;
        return 0;
    }
    outAtEnd = false;
    UniChar c = fUnits[fPos];
    _CountLineEnd(c, fPos);
    ++fPos;
    return c;
}

VString VJSONImporter::_TokenToString(JsonToken inToken)
{
    static const char* const kTexts[] = {"", "{", "}", "[", "]", ",", ":", "\"", "!"};
    VString text;
    if (inToken >= jsonNone && inToken <= jsonOther)
        text.FromCString(kTexts[inToken]);
    return text;
}

VString VJSONImporter::_GetStartTokenFirstChar() const
{
    VString text;
    for (int p = fStartToken; p < fLength; ++p) {
        if (fUnits[p] > 0x20) {
            text.FromUniChar(fUnits[p]);
            break;
        }
    }
    return text;
}

// ---------------------------------------------------------------------------
// Reports

VError VJSONImporter::_ThrowErrorMalformed()
{
    int at = fStartToken;
    while (at < fLength && fUnits[at] <= 0x20)
        ++at;
    int crs = 0, lfs = 0, lastCR = -1, lastLF = -1;
    for (int p = 0; p < at && p < fLength; ++p) {
        if (fUnits[p] == '\r') {
            ++crs;
            lastCR = p;
        } else if (fUnits[p] == '\n') {
            ++lfs;
            lastLF = p;
        }
    }
    const int line = 1 + (lfs > crs ? lfs : crs);
    const int lineStart = lfs > crs ? lastLF + 1 : lastCR + 1;
    const int position = 1 + (at - lineStart);
    VString source;
    if (!fSource.IsEmpty()) {
        source.FromString(fSource);
        source.AppendCString(", ");
    }
    PushReport(kErrorMalformed, [&](VValueBag& bag) {
        bag.SetAttribute(StPackedDictionaryKey("source"), source);
        bag.SetAttribute(StPackedDictionaryKey("line"), VLong(line));
        bag.SetAttribute(StPackedDictionaryKey("position"), VLong(position));
    });
    return kErrorMalformed;
}

VError VJSONImporter::_ThrowErrorInvalidToken(const VString& inFound, const char* inExpected)
{
    if ((fOptions & kJSONImportQuietTokens) != 0)
        return kErrorMalformed;
    const VError code = (inFound.IsNull() || inFound.IsEmpty()) ? kErrorNothingFound : kErrorInvalidToken;
    PushReport(code, [&](VValueBag& bag) {
        bag.SetAttribute(StPackedDictionaryKey("found"), inFound.IsNull() ? VString() : inFound);
        bag.SetAttribute(StPackedDictionaryKey("expected"), VString(inExpected));
    });
    return _ThrowErrorMalformed();
}

VError VJSONImporter::_ThrowErrorUnterminated(const VString& inToken)
{
    PushReport(kErrorUnterminated,
               [&](VValueBag& bag) { bag.SetAttribute(StPackedDictionaryKey("token"), inToken); });
    return _ThrowErrorMalformed();
}

VError VJSONImporter::_ThrowErrorExtraComma(const VString& inToken)
{
    PushReport(kErrorExtraComma, [&](VValueBag& bag) { bag.SetAttribute(StPackedDictionaryKey("token"), inToken); });
    return _ThrowErrorMalformed();
}

VError VJSONImporter::_ThrowErrorTooDeep()
{
    PushReport(kErrorTooDeep, [](VValueBag&) {});
    return _ThrowErrorMalformed();
}

// ---------------------------------------------------------------------------
// Values

VError VJSONImporter::_StringToValue(const VString& inText, bool inIsString, VJSONValue& outValue,
                                     const char* inExpected)
{
    if (inIsString) {
        const int n = inText.GetLength();
        const UniChar* p = inText.GetCPointer();
        bool isDate = false;
        VString dateText;
        if ((fOptions & kJSONImportBangDates) != 0) {
            if (fStrictDates) {
                if (inText.IsNonAmbigousDate()) {
                    isDate = true;
                    dateText.FromString(inText);
                }
            } else if (n >= 4 && p[0] == '!' && p[1] == '!' && p[n - 2] == '!' && p[n - 1] == '!') {
                isDate = true;
                dateText.FromUniString(p + 2, n - 4);
            }
        }
        if (!isDate && (fOptions & kJSONImportISODates) != 0 && inText.IsISODate()) {
            isDate = true;
            dateText.FromString(inText);
        }
        if (isDate) {
            VTime time;
            if (!time.FromXMLString(dateText))
                time.SetNull(true);
            outValue.SetTime(time);
        } else {
            outValue.SetString(inText);
        }
        return VE_OK;
    }
    if (_IsWord(inText, "true")) {
        outValue.SetBool(true);
        return VE_OK;
    }
    if (_IsWord(inText, "false")) {
        outValue.SetBool(false);
        return VE_OK;
    }
    if (_IsWord(inText, "null")) {
        outValue.SetNull();
        return VE_OK;
    }
    const UniChar* p = inText.GetCPointer();
    const int n = inText.GetLength();
    if (n > 0 && (p[0] == '-' || IsDigit(p[0]))) {
        if (!_IsNumberWord(p, n))
            return _ThrowErrorInvalidToken(inText, kExpectNumber);
        // The platform's C-locale reader; U+2212 may stand for the exponent's
        // '-', and "-" alone reads as 0.
        double number = 0.0;
        plat::ReadCNumber(p, static_cast<size_t>(n), number, plat::kCNumberMinusSign);
        outValue.SetNumber(number);
        return VE_OK;
    }
    if ((fOptions & kJSONImportStrict) != 0)
        return _ThrowErrorInvalidToken(inText, inExpected);
    outValue.SetString(inText);
    return VE_OK;
}

const VString& VJSONImporter::_SpanText()
{
    if (!fSpanDecoded) {
        fToken.FromUniString(fUnits + fSpanBegin, fSpanLength);
        fSpanDecoded = true;
    }
    return fToken;
}

namespace {

// A string value of the units, in a counted block of exactly their size.
// False when there is no memory for it.
bool SetStringUnits(VJSONValue& ioValue, const UniChar* inUnits, int inLength)
{
    if (inLength == 0) {
        ioValue.SetString(VInlineString{0, nullptr, 0});
        return true;
    }
    UniChar* block = VStringBlock::Allocate(VStringBlock::ExactUnits(inLength), VStringBlock::kTagString);
    if (block == nullptr)
        return false;
    std::memcpy(block, inUnits, static_cast<size_t>(inLength) * sizeof(UniChar));
    block[inLength] = 0;
    VStringBlock::InitCount(block, inLength);
    // The value takes the new block's only count.
    ioValue._AdoptString(VInlineString{inLength, block, inLength});
    return true;
}

// Reads the run of decimal digits from inPos on into ioDigits (the earlier
// digits shifted up), counting them in ioCount; answers the position after
// the run. Eight digits at a time where the processor allows; the total may
// wrap when the run is long, which the caller's count tells.
inline int ReadDigits(const UniChar* inUnits, int inPos, int inEnd, uint64_t& ioDigits, int& ioCount)
{
    int i = inPos;
    uint64_t digits = ioDigits;
#if defined(__SSE2__)
    const __m128i zero = _mm_set1_epi16('0');
    const __m128i nine = _mm_set1_epi16(9);
    const __m128i tens = _mm_setr_epi16(10, 1, 10, 1, 10, 1, 10, 1);
    const __m128i hundreds = _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1);
    while (i + 8 <= inEnd) {
        const __m128i values =
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnits + i)), zero);
        // A unit below '0' wraps above 9, as one above '9' lies.
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(values, nine), _mm_setzero_si128())) != 0xFFFF) {
            // A unit of the block ends the run: the digits before it are
            // read one by one without testing for the text's end.
            for (unsigned d; (d = static_cast<unsigned>(inUnits[i]) - '0') <= 9u; ++i)
                digits = digits * 10 + d;
            ioCount += i - inPos;
            ioDigits = digits;
            return i;
        }
        const __m128i pairs = _mm_madd_epi16(values, tens);  // four two-digit numbers
        const __m128i quads = _mm_madd_epi16(_mm_packs_epi32(pairs, pairs), hundreds);
        const uint32_t high = static_cast<uint32_t>(_mm_cvtsi128_si32(quads));
        const uint32_t low = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(quads, 4)));
        digits = digits * 100000000u + high * 10000u + low;
        i += 8;
    }
#endif
    for (; i < inEnd && IsDigit(inUnits[i]); ++i)
        digits = digits * 10 + static_cast<unsigned>(inUnits[i] - '0');
    ioCount += i - inPos;
    ioDigits = digits;
    return i;
}

// Reads the common number word in one pass: a plain decimal of at most 19
// significant digits, read as one integer and joined to its power of ten
// by VDecimalToDouble, which gives the same double as the exact reader.
// False, having stored nothing, for any other word and for the rare number
// the conversion declines (the exact reader's). The word runs from the
// start of the units up to the first unit that is not part of the number,
// whose position is stored in outEnd. Always inlined: as a call it costs
// about 27 more instructions a number.
[[gnu::always_inline]] inline bool ReadShortNumberPrefix(const UniChar* inUnits, int inLength, double& outValue,
                                                         int& outEnd)
{
    const UniChar* p = inUnits;
    const int n = inLength;
    int i = 0;
    const bool negative = n > 0 && p[0] == '-';
    if (negative)
        i = 1;
    uint64_t digits = 0;
    int count = 0;  // digits read into 'digits' (at most 19 fit)
    if (i < n && p[i] == '0') {
        ++i;  // adds nothing to 'digits'
    } else {
        i = ReadDigits(p, i, n, digits, count);
        if (count == 0)
            return false;
    }
    int exponent = 0;
    if (i < n && p[i] == '.') {
        const int start = ++i;
        if (digits == 0) {
            // Zeros before the first significant digit only move the point.
            while (i < n && p[i] == '0')
                ++i;
        }
        i = ReadDigits(p, i, n, digits, count);
        if (i == start)
            return false;
        exponent = start - i;
    }
    if (count > 19)
        return false;
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        ++i;
        bool below = false;
        if (i < n && (p[i] == '+' || p[i] == '-')) {
            below = p[i] == '-';
            ++i;
        }
        const int start = i;
        int written = 0;
        for (; i < n && IsDigit(p[i]); ++i) {
            if (written < 100000)
                written = written * 10 + static_cast<int>(p[i] - '0');
        }
        if (i == start)
            return false;
        exponent += below ? -written : written;
    }
    if (!VDecimalToDouble::Convert(digits, exponent, negative, outValue))
        return false;
    outEnd = i;
    return true;
}

inline bool ReadShortNumber(const UniChar* inUnits, int inLength, double& outValue)
{
    int end = 0;
    double value = 0.0;
    if (!ReadShortNumberPrefix(inUnits, inLength, value, end) || end != inLength)
        return false;
    outValue = value;
    return true;
}

// Reads a number word of ASCII units the way plat::ReadCNumber does for the
// plain decimal form: the standard library's exact conversion, kept only
// when the result is a normal number or an exact zero. The number rule
// (_IsNumberWord) is checked in the same pass that narrows the units. False
// when the word breaks the rule or needs the general reader (longer than
// the buffer, no digit before the point or the end, U+2212 for the
// exponent's sign, out of range, below the normal range).
bool ReadPlainNumber(const UniChar* inUnits, int inLength, double& outValue)
{
    char bytes[64];
    if (inLength <= 0 || inLength >= static_cast<int>(sizeof(bytes)))
        return false;
    const UniChar* p = inUnits;
    const int n = inLength;
    int i = 0;
    auto copyDigits = [&] {
        const int start = i;
        while (i < n && IsDigit(p[i])) {
            bytes[i] = static_cast<char>(p[i]);
            ++i;
        }
        return i > start;
    };
    if (p[0] == '-') {
        bytes[0] = '-';
        i = 1;
    }
    if (i < n && p[i] == '0') {
        bytes[i] = '0';
        ++i;
    } else if (!copyDigits()) {
        return false;
    }
    if (i < n && p[i] == '.') {
        bytes[i++] = '.';
        if (!copyDigits())
            return false;
    }
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        bytes[i] = static_cast<char>(p[i]);
        ++i;
        if (i < n && (p[i] == '+' || p[i] == '-')) {
            bytes[i] = static_cast<char>(p[i]);
            ++i;
        }
        if (!copyDigits())
            return false;
    }
    if (i != n)
        return false;
    const char* begin = bytes;
    const char* end = bytes + n;
    double value = 0.0;
    const std::from_chars_result result = std::from_chars(begin, end, value, std::chars_format::general);
    if (result.ec != std::errc())
        return false;
    const double magnitude = std::fabs(value);
    if (!(magnitude <= DBL_MAX))
        return false;
    if (magnitude < DBL_MIN) {
        if (value != 0.0)
            return false;
        for (const char* q = begin; q < result.ptr && *q != 'e' && *q != 'E'; ++q) {
            if (*q >= '1' && *q <= '9')
                return false;
        }
    }
    outValue = value;
    return true;
}

bool SameWord(const UniChar* inUnits, int inLength, const char* inWord, int inWordLength)
{
    if (inLength != inWordLength)
        return false;
    for (int i = 0; i < inLength; ++i) {
        if (inUnits[i] != static_cast<UniChar>(inWord[i]))
            return false;
    }
    return true;
}

}  // namespace

VError VJSONImporter::_SpanToValue(bool inIsString, VJSONValue& outValue, const char* inExpected)
{
    constexpr uint32_t kDates = kJSONImportBangDates | kJSONImportISODates;
    if (fSpanDecoded || (inIsString && (fOptions & kDates) != 0))
        return _StringToValue(_SpanText(), inIsString, outValue, inExpected);
    const UniChar* p = fUnits + fSpanBegin;
    const int n = fSpanLength;
    if (inIsString) {
        if (!SetStringUnits(outValue, p, n))
            return _StringToValue(_SpanText(), inIsString, outValue, inExpected);
        return VE_OK;
    }
    if (n > 0 && (p[0] == '-' || IsDigit(p[0]))) {
        double number = 0.0;
        if (ReadShortNumber(p, n, number) || ReadPlainNumber(p, n, number)) {
            outValue.SetNumber(number);
            return VE_OK;
        }
        return _StringToValue(_SpanText(), inIsString, outValue, inExpected);
    }
    if (SameWord(p, n, "true", 4)) {
        outValue.SetBool(true);
        return VE_OK;
    }
    if (SameWord(p, n, "false", 5)) {
        outValue.SetBool(false);
        return VE_OK;
    }
    if (SameWord(p, n, "null", 4)) {
        outValue.SetNull();
        return VE_OK;
    }
    return _StringToValue(_SpanText(), inIsString, outValue, inExpected);
}

bool VJSONImporter::_ReadShortNumberAt(int inPos, double& outNumber)
{
    double number = 0.0;
    int length = 0;
    if (!ReadShortNumberPrefix(fUnits + inPos, fLength - inPos, number, length))
        return false;
    // The number is the whole bare word only when a unit that ends words
    // (or the end of the text) follows it.
    const int end = inPos + length;
    if (end < fLength) {
        const UniChar c = fUnits[end];
        if (c >= 0x80 || !kEndsWord[c])
            return false;
        if (c <= 0x20) {
            _CountLineEnd(c, end);
            fPos = end + 1;  // a blank that ends a word is consumed with it
        } else {
            fPos = end;
        }
    } else {
        fPos = end;
    }
    fSpanBegin = inPos;
    fSpanLength = length;
    fSpanDecoded = false;
    outNumber = number;
    return true;
}

VError VJSONImporter::_ParseValue(VJSONValue& ioValue, const char* inExpected, JsonToken inFirst, bool inIsString)
{
    VError error;
    fBinaryNameMet = false;
    switch (inFirst) {
        case jsonBeginObject:
            error = _ParseObject(ioValue);
            break;
        case jsonBeginArray:
            error = _ParseArray(ioValue);
            break;
        case jsonString:
            error = _SpanToValue(inIsString, ioValue, inExpected);
            break;
        default:
            error = _ThrowErrorInvalidToken(_TokenToString(inFirst), inExpected);
            break;
    }
    // An object carrying a value's binary form stands for that value (only
    // an object that has a member of that name is looked into).
    if (error == VE_OK && fBinaryNameMet && ioValue.IsObject()) {
        const VJSONValue binary = ioValue.GetObject()->GetOwnProperty(sBinaryObjectName);
        if (binary.IsString()) {
            VString base64;
            binary.GetString(base64);
            VJSONValue expanded(JSON_undefined);
            error = VJSONBinaryImporter::GetValueFromBase64(base64, expanded);
            if (error == VE_OK)
                ioValue = std::move(expanded);
        }
    }
    if (error != VE_OK && (fOptions & kJSONImportUndefinedOnError) != 0)
        ioValue.SetUndefined();
    return error;
}

void VJSONImporter::_Share(const VJSONValue& inContainer)
{
    if ((fOptions & kJSONImportShared) == 0)
        return;
    if (fLocker == nullptr) {
        fLocker = new VStorageLocker(false, true);
        fLocker->SetFresh(false);
    }
    if (VJSONObject* object = inContainer.GetObject())
        object->SetStorageLocker(fLocker);
    else if (VJSONArray* array = inContainer.GetArray())
        array->SetStorageLocker(fLocker);
}

void VJSONImporter::_StoreMember(VJSONValue& ioObject, const VString& inName, VJSONValue& ioMember)
{
    VJSONObject* object = ioObject.GetObject();
    if (!fConnectLater) {
        object->SetProperty(inName, ioMember);
        return;
    }
    if (object->_StoreUnconnected(inName, std::move(ioMember)))
        return;
    // What was built so far on both sides is connected first, then the
    // member is stored the ordinary way.
    VJSONGraph::ConnectTree(ioObject);
    VJSONGraph::ConnectTree(ioMember);
    object->SetProperty(inName, ioMember);
}

const VString& VJSONImporter::_SharedName(const VString& inName)
{
    const int length = inName.GetLength();
    if (length == 0 || length > kLongestSharedName)
        return inName;
    return _SharedName(inName.GetCPointer(), length);
}

namespace {

// The hash of a property name's units: the length mixed with the first and
// the last four units (all of a shorter name). Cheap, and names that differ
// elsewhere only share a pair of slots.
inline uint32_t NameHash(const UniChar* inUnits, int inLength)
{
    uint64_t head = 0;
    uint64_t tail = 0;
    if (inLength >= 4) {
        std::memcpy(&head, inUnits, sizeof(head));
        std::memcpy(&tail, inUnits + inLength - 4, sizeof(tail));
    } else {
        for (int i = 0; i < inLength; ++i)
            head = (head << 16) | inUnits[i];
    }
    const uint64_t mixed =
        (head * 0x9E3779B97F4A7C15ull) ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ static_cast<uint64_t>(inLength);
    return static_cast<uint32_t>(mixed >> 40);
}

// Whether the kept name has exactly these units. Names are short: four
// units at a time, the last four overlapping the ones before, instead of a
// library call.
inline bool SameUnits(const VString& inName, const UniChar* inUnits, int inLength)
{
    if (inName.GetLength() != inLength)
        return false;
    const UniChar* kept = inName.GetCPointer();
    if (inLength < 4) {
        for (int i = 0; i < inLength; ++i) {
            if (kept[i] != inUnits[i])
                return false;
        }
        return true;
    }
    auto sameFour = [&](int inAt) {
        uint64_t a;
        uint64_t b;
        std::memcpy(&a, kept + inAt, sizeof(a));
        std::memcpy(&b, inUnits + inAt, sizeof(b));
        return a == b;
    };
    for (int i = 0; i + 4 < inLength; i += 4) {
        if (!sameFour(i))
            return false;
    }
    return sameFour(inLength - 4);
}

}  // namespace

const VString& VJSONImporter::_SharedName(const UniChar* units, int length)
{
    // A name met before is found in its pair of slots; the rest, rarely
    // taken, is a call of its own.
    if (length > 0 && length <= kLongestSharedName && !fNames.empty()) {
        const size_t first = NameHash(units, length) & (fNames.size() - 1);
        if (SameUnits(fNames[first], units, length))
            return fNames[first];
        if (SameUnits(fNames[first ^ 1], units, length))
            return fNames[first ^ 1];
    }
    return _NewSharedName(units, length);
}

const VString& VJSONImporter::_NewSharedName(const UniChar* units, int length)
{
    // The table starts small, for the many texts with few names, and grows
    // while names keep missing, up to a size that holds the names of texts
    // with a few hundred distinct ones. Each name may stand in either slot
    // of a pair, so that two names met in turn do not drive each other out.
    constexpr size_t kFirstSlots = 64;
    constexpr size_t kMostSlots = 1024;
    if (length == 0 || length > kLongestSharedName) {
        fName.FromUniString(units, length);
        return fName;
    }
    const uint32_t hash = NameHash(units, length);
    if (fNames.empty())
        fNames.resize(kFirstSlots);
    size_t first = hash & (fNames.size() - 1);
    if (SameUnits(fNames[first], units, length))
        return fNames[first];
    if (SameUnits(fNames[first ^ 1], units, length))
        return fNames[first ^ 1];
    if (++fNameMisses > fNames.size() / 2 && fNames.size() < kMostSlots) {
        try {
            std::vector<VString> larger(fNames.size() * 4);
            for (VString& name : fNames) {
                if (name.IsEmpty())
                    continue;
                const size_t at = NameHash(name.GetCPointer(), name.GetLength()) & (larger.size() - 1);
                VString& slot = larger[at].IsEmpty() ? larger[at] : larger[at ^ 1];
                if (slot.IsEmpty())
                    slot = std::move(name);
            }
            fNames.swap(larger);
            fNameMisses = 0;
            first = hash & (fNames.size() - 1);
        } catch (const std::bad_alloc&) {
            // The table keeps its size.
        }
    }
    // An empty slot of the pair, else the second (the first keeps the name
    // that came there first). A slot whose text objects share is not
    // written over: it gets a new block.
    VString& slot = fNames[first].IsEmpty() ? fNames[first] : fNames[first ^ 1];
    slot.FromUniString(units, length);
    return slot;
}

void VJSONImporter::_StoreElement(VJSONValue& ioArray, VJSONValue& ioElement)
{
    VJSONArray* array = ioArray.GetArray();
    if (!fConnectLater) {
        array->Push(ioElement);
        return;
    }
    if (array->_PushUnconnected(std::move(ioElement)))
        return;
    VJSONGraph::ConnectTree(ioArray);
    VJSONGraph::ConnectTree(ioElement);
    array->Push(ioElement);
}

void VJSONImporter::_StackElement(VJSONValue& ioElement)
{
    try {
        fElements.push_back(std::move(ioElement));
    } catch (const std::bad_alloc&) {
        // Dropped, as a store that runs out of memory drops it.
    }
}

void VJSONImporter::_UnstackElements(VJSONValue& ioArray, size_t inBase)
{
    VJSONValue* first = fElements.data() + inBase;
    const size_t count = fElements.size() - inBase;
    if (count > 0 && !ioArray.GetArray()->_PushAllUnconnected(first, count)) {
        for (size_t i = 0; i < count; ++i)
            _StoreElement(ioArray, first[i]);
    }
    fElements.erase(fElements.begin() + static_cast<std::ptrdiff_t>(inBase), fElements.end());
}

void VJSONImporter::_StackMember(const VString& inName, VJSONValue& ioMember)
{
    try {
        // Made in place, without a temporary entry to move and destroy.
        if (_IsKeptName(inName))
            fMembers.emplace_back(inName, VString::LocalShareTag{}, std::move(ioMember));
        else
            fMembers.emplace_back(inName, std::move(ioMember));
    } catch (const std::bad_alloc&) {
        // Dropped, as a store that runs out of memory drops it.
    }
}

void VJSONImporter::_StackScalarMember(const VString& inName, bool inIsString, double inNumber)
{
    const bool kept = _IsKeptName(inName);
    auto stack = [&](VJSONValue&& ioValue) {
        if (kept)
            fMembers.emplace_back(inName, VString::LocalShareTag{}, std::move(ioValue));
        else
            fMembers.emplace_back(inName, std::move(ioValue));
    };
    bool stacked = false;
    try {
        if (inIsString) {
            stack(VJSONValue(JSON_undefined));
            stacked = true;
            // Never fails for a quoted string; only dates make it other
            // than a string.
            _SpanToValue(true, fMembers.back().fValue, kExpectValue);
        } else {
            stack(VJSONValue(inNumber));
        }
    } catch (const std::bad_alloc&) {
        // Dropped whole, as a store that runs out of memory drops it.
        if (stacked)
            fMembers.pop_back();
    }
}

void VJSONImporter::_UnstackMembers(VJSONValue& ioObject, size_t inBase)
{
    const size_t count = fMembers.size() - inBase;
    if (count > 0) {
        try {
            ioObject.GetObject()->_ReserveProperties(count);
        } catch (const std::bad_alloc&) {
            // The members are stored one by one, as far as memory goes.
        }
        // In the order read: a name read again replaces the earlier value
        // in its place, as storing each at once would have done.
        if (!ioObject.GetObject()->_StoreAllUnconnected(fMembers.data() + inBase, count)) {
            for (size_t i = inBase; i < fMembers.size(); ++i)
                _StoreMember(ioObject, fMembers[i].fName, fMembers[i].fValue);
        }
    }
    fMembers.erase(fMembers.begin() + static_cast<std::ptrdiff_t>(inBase), fMembers.end());
}

void VJSONImporter::_RecordPathLine(int inOffset)
{
    if (fPathsLines != nullptr)
        fPathsLines->SetProperty(fCurrentPath, LineEntry(fLine, inOffset));
}

VError VJSONImporter::_ParseObject(VJSONValue& outValue)
{
    if (fDepth >= kMaxDepth)
        return _ThrowErrorTooDeep();
    ++fDepth;
    VJSONValue result(JSON_object);
    // The members wait on the importer's stack, as an array's elements do.
    const size_t base = fMembers.size();
    VError error = VE_OK;
    const bool paths = fPathsLines != nullptr;
    // The path before this object's key (option 0x8 only) and a key with
    // escapes, decoded (a plain one is read from the input once its value
    // has been read): made only when needed, most objects have neither.
    std::optional<VString> savedPath;
    if (paths)
        savedPath.emplace();
    std::optional<VString> decodedKey;
    bool binaryName = false;
    bool first = true;
    for (;;) {
        bool quoted = true;
        VError scanError = VE_OK;
        const int keyStart = fPos;
        JsonToken token = jsonString;
        if (!_ScanPlainString())
            token = _ScanSpan(&quoted, &scanError);
        fStartToken = keyStart;
        if (scanError != VE_OK) {
            error = scanError;
            break;
        }
        if (token == jsonEndObject) {
            if (!first) {
                static const VString sBrace("}");
                error = _ThrowErrorExtraComma(sBrace);
            }
            break;
        }
        if (token != jsonString) {
            error = _ThrowErrorInvalidToken(_TokenToString(token), first ? kExpectFirstKey : kExpectKey);
            break;
        }
        if (!quoted && (fOptions & kJSONImportStrict) != 0) {
            error = _ThrowErrorInvalidToken(_SpanText(), kExpectKey);
            break;
        }
        const bool keyDecoded = fSpanDecoded;
        const int keyBegin = fSpanBegin;
        const int keyLength = keyDecoded ? fToken.GetLength() : fSpanLength;
        if (keyDecoded) {
            if (!decodedKey)
                decodedKey.emplace();
            decodedKey->FromString(fToken);
        }
        if (paths) {
            savedPath->FromString(fCurrentPath);
            const UniChar* keyUnits = keyDecoded ? decodedKey->GetCPointer() : fUnits + keyBegin;
            if (!fCurrentPath.IsEmpty() && !(keyLength > 0 && keyUnits[0] == '['))
                fCurrentPath.AppendUniChar('.');
            fCurrentPath.AppendUniChars(keyUnits, keyLength);
            _RecordPathLine((fPos - fLineStart) - keyLength - 2);
        }
        token = _ScanPunctuation(&scanError);
        if (scanError != VE_OK) {
            error = scanError;
            break;
        }
        if (token != jsonAssigne) {
            error = _ThrowErrorInvalidToken(_GetStartTokenFirstChar(), kExpectColon);
            break;
        }
        // The shared name (read once the value is), noting the member that
        // carries a value's binary form.
        auto memberName = [&]() -> const VString& {
            const VString& name =
                keyDecoded ? _SharedName(*decodedKey) : _SharedName(fUnits + keyBegin, keyLength);
            if (name.GetLength() == sBinaryObjectName.GetLength() &&
                std::memcmp(name.GetCPointer(), sBinaryObjectName.GetCPointer(),
                            static_cast<size_t>(name.GetLength()) * sizeof(UniChar)) == 0)
                binaryName = true;
            return name;
        };
        double number = 0.0;
        const int valueStart = fPos;
        // A short number or a plain string is made in its place on the
        // member stack; any other value is read into a member first.
        bool scalarNumber = false;
        bool scalarString = false;
        if (fConnectLater) {
            scalarNumber = _ScanShortNumber(number);
            if (!scalarNumber)
                scalarString = _ScanPlainString();
        }
        if (scalarNumber || scalarString) {
            fStartToken = valueStart;
            if (paths)
                fCurrentPath.FromString(*savedPath);
            _StackScalarMember(memberName(), scalarString, number);
        } else {
            VJSONValue member(JSON_undefined);
            bool isString = false;
            if (!fConnectLater && _ScanPlainString()) {
                // A plain string is its own value (never an object to expand).
                fStartToken = valueStart;
                error = _SpanToValue(true, member, kExpectValue);
                if (error != VE_OK && (fOptions & kJSONImportUndefinedOnError) != 0)
                    member.SetUndefined();
            } else {
                token = _ScanOpening();
                if (token == jsonNone)
                    token = _ScanSpan(&isString, &scanError);
                fStartToken = valueStart;
                if (scanError != VE_OK) {
                    error = scanError;
                    break;
                }
                error = _ParseValue(member, kExpectValue, token, isString);
            }
            if (paths)
                fCurrentPath.FromString(*savedPath);
            if (error != VE_OK)
                break;
            const VString& name = memberName();
            if (fConnectLater)
                _StackMember(name, member);
            else
                _StoreMember(result, name, member);
        }
        first = false;
        token = _ScanPunctuation(&scanError);
        if (scanError != VE_OK) {
            error = scanError;
            break;
        }
        if (token == jsonEndObject)
            break;
        if (token != jsonSeparator) {
            error = _ThrowErrorInvalidToken(_TokenToString(token), kExpectAfterMember);
            break;
        }
    }
    --fDepth;
    if (fConnectLater)
        _UnstackMembers(result, base);
    _Share(result);
    outValue = std::move(result);
    fBinaryNameMet = binaryName;
    return error;
}

VError VJSONImporter::_ParseArray(VJSONValue& outValue)
{
    if (fDepth >= kMaxDepth)
        return _ThrowErrorTooDeep();
    ++fDepth;
    VJSONValue result(JSON_array);
    VJSONArray* array = result.GetArray();
    // The elements wait on the importer's stack, above those of the arrays
    // around this one, and go into the array at once when it ends.
    const size_t base = fElements.size();
    auto count = [&] { return fConnectLater ? fElements.size() - base : array->GetCount(); };
    VError error = VE_OK;
    const bool paths = fPathsLines != nullptr;
    std::optional<VString> savedPath;  // option 0x8 only
    if (paths)
        savedPath.emplace();
    int index = 0;
    for (;;) {
        if (paths) {
            savedPath->FromString(fCurrentPath);
            fCurrentPath.AppendUniChar('[');
            fCurrentPath.AppendLong(index);
            fCurrentPath.AppendUniChar(']');
            ++index;
        }
        bool isString = false;
        VError scanError = VE_OK;
        JsonToken token = jsonNone;
        double number = 0.0;
        const int tokenStart = fPos;
        // Elements that are short numbers are read in the pass that finds
        // their end (where no path is recorded for them).
        const bool numberRead = fConnectLater && !paths && _ScanShortNumber(number);
        if (!numberRead) {
            // A container or a plain string is taken at once; anything else
            // goes to the general scanner after the blanks.
            token = _ScanOpening();
            if (token != jsonNone) {
                // The container is read below.
            } else if (_ScanPlainString()) {
                token = jsonString;
                isString = true;
            } else {
                token = _ScanSpan(&isString, &scanError);
            }
        }
        fStartToken = tokenStart;
        if (numberRead) {
            try {
                fElements.emplace_back(number);
            } catch (const std::bad_alloc&) {
                // Dropped, as a store that runs out of memory drops it.
            }
        } else if (scanError != VE_OK) {
            error = scanError;
        } else if (token == jsonEndArray) {
            if (count() > 0) {
                static const VString sBracket("]");
                error = _ThrowErrorExtraComma(sBracket);
            }
            if (paths)
                fCurrentPath.FromString(*savedPath);
            break;
        } else if (token == jsonBeginObject || token == jsonBeginArray || token == jsonString) {
            if (paths) {
                int offset;
                if (token == jsonString) {
                    offset = (fPos - fLineStart) - (fSpanDecoded ? fToken.GetLength() : fSpanLength);
                    if (fPos > 0 && fUnits[fPos - 1] == '"')
                        offset -= 2;
                } else {
                    offset = (fPos - 1) - fLineStart;
                }
                _RecordPathLine(offset);
            }
            if (token == jsonString && fConnectLater) {
                // A scalar is read straight into its place on the stack
                // (nothing else is stacked meanwhile).
                try {
                    fElements.emplace_back(JSON_undefined);
                    error = _SpanToValue(isString, fElements.back(), kExpectFirstElement);
                    if (error != VE_OK)
                        fElements.pop_back();
                } catch (const std::bad_alloc&) {
                    // Dropped, as a store that runs out of memory drops it.
                }
            } else {
                VJSONValue element(JSON_undefined);
                if (token == jsonBeginObject)
                    error = _ParseObject(element);
                else if (token == jsonBeginArray)
                    error = _ParseArray(element);
                else
                    error = _SpanToValue(isString, element, kExpectFirstElement);
                if (error == VE_OK) {
                    if (fConnectLater)
                        _StackElement(element);
                    else
                        _StoreElement(result, element);
                }
            }
        } else {
            error = _ThrowErrorInvalidToken(_TokenToString(token),
                                            count() == 0 ? kExpectFirstElement : kExpectValue);
        }
        if (paths)
            fCurrentPath.FromString(*savedPath);
        if (error != VE_OK)
            break;
        token = _ScanPunctuation(&scanError);
        if (scanError != VE_OK) {
            error = scanError;
            break;
        }
        if (token == jsonEndArray)
            break;
        if (token != jsonSeparator) {
            error = _ThrowErrorInvalidToken(_GetStartTokenFirstChar(), kExpectAfterElement);
            break;
        }
    }
    --fDepth;
    if (fConnectLater)
        _UnstackElements(result, base);
    _Share(result);
    outValue = std::move(result);
    return error;
}

VError VJSONImporter::Parse(VJSONValue& outValue)
{
    // The containers of the tree come from one region, freed in bulk.
    VJSONRegion::StScope region;
    // The kept names are counted plainly while a tree is read (_IsKeptName):
    // names kept from an earlier parse may be in a tree the caller has
    // handed to another thread since, so they are dropped.
    fNames.clear();
    fNameMisses = 0;
    bool isString = false;
    VError scanError = VE_OK;
    JsonToken token = _ScanSpan(&isString, &scanError);
    VError error;
    if (scanError != VE_OK) {
        error = scanError;
        outValue.SetUndefined();
    } else {
        VJSONValue value(JSON_undefined);
        error = _ParseValue(value, kExpectValue, token, isString);
        outValue = std::move(value);
    }
    if (fConnectLater)
        VJSONGraph::ConnectTree(outValue);
    if (outValue.IsObject())
        SetPathLineForEncompasingObject();
    return error;
}

VError VJSONImporter::ParseString(const VString& inText, VJSONValue& outValue, uint32_t inOptions)
{
    VJSONImporter importer(inText, inOptions);
    return importer.Parse(outValue);
}

void VJSONImporter::SetPathLineForEncompasingObject()
{
    if (fPathsLines == nullptr)
        return;
    static const VString sBrace("}");
    fPathsLines->SetProperty(sBrace, LineEntry(fLine, (fPos - 1) - fLineStart));
}

// ---------------------------------------------------------------------------
// The value's entry points

VError VJSONValue::ParseFromString(const VString& inText, bool inDetectDates, bool inStrictDates)
{
    uint32_t options = 0;
    if (inDetectDates)
        options = inStrictDates ? (kJSONImportBangDates | kJSONImportStrictDates)
                                : (kJSONImportBangDates | kJSONImportISODates);
    return VJSONImporter::ParseString(inText, *this, options);
}

}  // namespace qelt
