#include "platform/PlatNumbers.h"

#include <cerrno>
#include <charconv>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace qelt::plat {

namespace {

// The C locale, made once; null only when it cannot be made.
locale_t CLocale()
{
    static const locale_t sLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return sLocale;
}

// Makes the C locale the calling thread's for the time of a formatting call.
class StCLocale {
public:
    StCLocale()
    {
        locale_t c = CLocale();
        if (c != static_cast<locale_t>(nullptr))
            fPrevious = ::uselocale(c);
    }
    ~StCLocale()
    {
        if (fPrevious != static_cast<locale_t>(nullptr))
            ::uselocale(fPrevious);
    }
    StCLocale(const StCLocale&) = delete;
    StCLocale& operator=(const StCLocale&) = delete;

private:
    locale_t fPrevious = static_cast<locale_t>(nullptr);
};

// Longest number text read over units; longer runs of digits add nothing a
// double can hold but are still consumed as the C library would.
constexpr size_t kStackDigits = 128;

// The plain decimal form read without the C library: an optional '-', then
// a digit (or a point and a digit), and no hexadecimal prefix. Anything else
// (blanks, '+', "inf", "nan", "0x") is left to strtod.
bool IsPlainDecimal(const char* inText)
{
    const char* p = inText;
    if (*p == '-')
        ++p;
    if (*p == '.')
        return p[1] >= '0' && p[1] <= '9';
    if (*p < '0' || *p > '9')
        return false;
    return !(p[0] == '0' && (p[1] == 'x' || p[1] == 'X'));
}

// Whether the mantissa digits of a plain decimal text (up to its exponent)
// are all zeros, so that a zero result is exact and not an underflow.
bool MantissaIsZero(const char* inText, const char* inEnd)
{
    for (const char* p = inText; p < inEnd && *p != 'e' && *p != 'E'; ++p) {
        if (*p >= '1' && *p <= '9')
            return false;
    }
    return true;
}

// Reads a plain decimal with the standard library's exact conversion, which
// rounds as strtod does; false (nothing read) when the result is out of the
// normal range, which strtod then reads and reports.
bool ReadPlainDecimal(const char* inText, const char* inLimit, double& outValue, const char** outEnd)
{
    double value = 0.0;
    std::from_chars_result result = std::from_chars(inText, inLimit, value, std::chars_format::general);
    if (result.ec != std::errc())
        return false;
    const double magnitude = std::fabs(value);
    if (!(magnitude <= DBL_MAX))
        return false;
    if (magnitude < DBL_MIN && !(value == 0.0 && MantissaIsZero(inText, result.ptr)))
        return false;
    outValue = value;
    *outEnd = result.ptr;
    return true;
}

}  // namespace

double ReadCDouble(const char* inText, const char** outEnd, bool* outOutOfRange)
{
    if (outOutOfRange != nullptr)
        *outOutOfRange = false;
    if (inText == nullptr) {
        if (outEnd != nullptr)
            *outEnd = inText;
        return 0.0;
    }
    if (IsPlainDecimal(inText)) {
        double value = 0.0;
        const char* end = nullptr;
        if (ReadPlainDecimal(inText, inText + std::strlen(inText), value, &end)) {
            if (outEnd != nullptr)
                *outEnd = end;
            return value;
        }
    }
    char* end = nullptr;
    const int savedErrno = errno;
    errno = 0;
    locale_t c = CLocale();
    const double value = c != static_cast<locale_t>(nullptr) ? ::strtod_l(inText, &end, c) : std::strtod(inText, &end);
    if (outOutOfRange != nullptr)
        *outOutOfRange = errno == ERANGE;
    errno = savedErrno;
    if (outEnd != nullptr)
        *outEnd = end;
    return value;
}

size_t ReadCNumber(const unsigned short* inUnits, size_t inCount, double& outValue, unsigned int inOptions,
                   bool* outOutOfRange)
{
    outValue = 0.0;
    if (outOutOfRange != nullptr)
        *outOutOfRange = false;
    if (inUnits == nullptr || inCount == 0)
        return 0;
    // Every unit that may belong to a number becomes one byte, so the bytes
    // read count the units read.
    size_t length = 0;
    while (length < inCount) {
        const unsigned short u = inUnits[length];
        if ((u == 0 || u > 0x7F) && !(u == 0x2212 && (inOptions & kCNumberMinusSign) != 0))
            break;
        ++length;
    }
    char stackBytes[kStackDigits + 1];
    char* bytes = stackBytes;
    if (length > kStackDigits) {
        bytes = static_cast<char*>(std::malloc(length + 1));
        if (bytes == nullptr)
            return 0;
    }
    for (size_t i = 0; i < length; ++i)
        bytes[i] = inUnits[i] == 0x2212 ? '-' : static_cast<char>(inUnits[i]);
    bytes[length] = 0;
    const char* end = bytes;
    if (IsPlainDecimal(bytes) && ReadPlainDecimal(bytes, bytes + length, outValue, &end)) {
        if (bytes != stackBytes)
            std::free(bytes);
        return static_cast<size_t>(end - bytes);
    }
    outValue = ReadCDouble(bytes, &end, outOutOfRange);
    const size_t read = static_cast<size_t>(end - bytes);
    if (bytes != stackBytes)
        std::free(bytes);
    return read;
}

int FormatCV(char* outBuffer, size_t inSize, const char* inFormat, va_list inArgs)
{
    StCLocale c;
    return std::vsnprintf(outBuffer, inSize, inFormat, inArgs);
}

int FormatC(char* outBuffer, size_t inSize, const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    const int n = FormatCV(outBuffer, inSize, inFormat, args);
    va_end(args);
    return n;
}

int WriteCDouble(double inValue, int inPrecision, char inConversion, char* outBuffer, size_t inSize)
{
    const int p = inPrecision < 0 ? -1 : inPrecision;  // printf takes a negative precision as none
    switch (inConversion) {
        case 'e':
            return FormatC(outBuffer, inSize, "%.*e", p, inValue);
        case 'E':
            return FormatC(outBuffer, inSize, "%.*E", p, inValue);
        case 'f':
            return FormatC(outBuffer, inSize, "%.*f", p, inValue);
        case 'F':
            return FormatC(outBuffer, inSize, "%.*F", p, inValue);
        case 'g':
            return FormatC(outBuffer, inSize, "%.*g", p, inValue);
        default:
            return FormatC(outBuffer, inSize, "%.*G", p, inValue);
    }
}

namespace {

// printf's "%.<precision>G" of a finite double: the standard library's
// conversion is specified as printf's "%.<precision>g" in the C locale; only
// the exponent letter differs.
int WriteGeneral(double inValue, int inPrecision, char* outBuffer)
{
    std::to_chars_result result =
        std::to_chars(outBuffer, outBuffer + kCRoundTripSize - 1, inValue, std::chars_format::general, inPrecision);
    if (result.ec != std::errc())
        return WriteCDouble(inValue, inPrecision, 'G', outBuffer, kCRoundTripSize);
    for (char* p = outBuffer; p < result.ptr; ++p) {
        if (*p == 'e')
            *p = 'E';
    }
    *result.ptr = 0;
    return static_cast<int>(result.ptr - outBuffer);
}

// The number of significant digits of the shortest text that reads back.
int ShortestDigits(double inValue)
{
    char buffer[kCRoundTripSize];
    std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof(buffer), inValue, std::chars_format::scientific);
    if (result.ec != std::errc())
        return 17;
    int digits = 0;
    for (const char* p = buffer; p < result.ptr && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            ++digits;
    }
    return digits;
}

// The exact "%.14G" / "%.17G" choice and text for the magnitudes most
// numbers have, computed in integers. A double there is m * 2^e with m below
// 2^53 and e between -68 and -7, so m * 10^s for the scales s needed
// (at most 21) and the remainders of the division by 2^-e all fit in 128
// bits, and both the rounding and the read-back test are exact. A double
// outside them goes through the standard library's conversions below.
using Wide = unsigned __int128;

constexpr uint64_t kPowersOfTen[] = {1ULL,
                                     10ULL,
                                     100ULL,
                                     1000ULL,
                                     10000ULL,
                                     100000ULL,
                                     1000000ULL,
                                     10000000ULL,
                                     100000000ULL,
                                     1000000000ULL,
                                     10000000000ULL,
                                     100000000000ULL,
                                     1000000000000ULL,
                                     10000000000000ULL,
                                     100000000000000ULL,
                                     1000000000000000ULL,
                                     10000000000000000ULL,
                                     100000000000000000ULL,
                                     1000000000000000000ULL,
                                     10000000000000000000ULL};

Wide WidePowerOfTen(int inExponent)
{
    if (inExponent <= 19)
        return kPowersOfTen[inExponent];
    return static_cast<Wide>(kPowersOfTen[19]) * kPowersOfTen[inExponent - 19];
}

// Binary exponents (of the leading bit) of the magnitudes written here:
// from 2^-16 (above 1e-5) to below 2^44 (below 1e13 * 2), so that every
// scale tried below is a power of ten from 10^0 to 10^21.
constexpr int kFastLowestExponent = -16;
constexpr int kFastHighestExponent = 43;

// A double's value rounded to some significant decimal digits, ties to even
// as printf rounds: the value is fDigits * 10^(fExponent - digits + 1).
struct Rounded {
    uint64_t fDigits;
    int fExponent;
};

// The double m / 2^shift scaled by 10^scale so that its integer part has
// seventeen digits: integer part, the remainder (below 2^shift) and the
// decimal exponent of the value.
struct Scaled {
    uint64_t fWhole;
    Wide fRemainder;
    Wide fExact;  // m * 10^scale, the value in units of 2^-shift * 10^-scale
    int fShift;
    int fScale;
    int fExponent;
};

Scaled ScaleToSeventeenDigits(uint64_t inMantissa, int inBinaryExponent)
{
    Scaled scaled;
    scaled.fShift = 52 - inBinaryExponent;
    // The decimal exponent is floor(log10(value)): that of 2^exponent or one more.
    scaled.fExponent = ((inBinaryExponent * 78913) >> 18) + 1;
    scaled.fScale = 16 - scaled.fExponent;
    scaled.fExact = static_cast<Wide>(inMantissa) * WidePowerOfTen(scaled.fScale);
    scaled.fWhole = static_cast<uint64_t>(scaled.fExact >> scaled.fShift);
    if (scaled.fWhole < kPowersOfTen[16]) {
        --scaled.fExponent;
        ++scaled.fScale;
        scaled.fExact = static_cast<Wide>(inMantissa) * WidePowerOfTen(scaled.fScale);
        scaled.fWhole = static_cast<uint64_t>(scaled.fExact >> scaled.fShift);
    }
    scaled.fRemainder = scaled.fExact & ((static_cast<Wide>(1) << scaled.fShift) - 1);
    return scaled;
}

// Rounds the scaled value to Digits (at most seventeen) digits: the digits
// dropped from the integer part and the remainder decide, ties to even.
template <int Digits>
Rounded RoundScaled(const Scaled& inScaled)
{
    constexpr uint64_t divisor = kPowersOfTen[17 - Digits];
    uint64_t digits = inScaled.fWhole / divisor;
    const uint64_t dropped = inScaled.fWhole % divisor;
    constexpr uint64_t halfDivisor = divisor / 2;
    bool up;
    if constexpr (divisor == 1) {
        const Wide half = static_cast<Wide>(1) << (inScaled.fShift - 1);
        up = inScaled.fRemainder > half || (inScaled.fRemainder == half && (digits & 1) != 0);
    } else {
        up = dropped > halfDivisor || (dropped == halfDivisor && (inScaled.fRemainder != 0 || (digits & 1) != 0));
    }
    Rounded rounded{digits + (up ? 1 : 0), inScaled.fExponent};
    if (rounded.fDigits == kPowersOfTen[Digits]) {
        rounded.fDigits = kPowersOfTen[Digits - 1];
        ++rounded.fExponent;
    }
    return rounded;
}

// Whether the fourteen-digit rounding reads back to the double: it lies
// within half the gap to each neighbour (the midpoint itself reads back when
// the mantissa is even, as the reader rounds ties to even). In units of
// 2^-shift * 10^-scale the double is fExact, the candidate its digits times
// 1000 shifted, and half the gap to the next double 10^scale / 2 (to the
// previous one a quarter when the mantissa is a power of two).
bool ReadsBack(const Scaled& inScaled, const Rounded& inFourteen, uint64_t inMantissa)
{
    uint64_t digits = inFourteen.fDigits;
    if (inFourteen.fExponent != inScaled.fExponent)
        digits *= 10;  // rounded up to the next power of ten
    const Wide candidate = static_cast<Wide>(digits) * 1000 << inScaled.fShift;
    const Wide unit = WidePowerOfTen(inScaled.fScale);
    const bool even = (inMantissa & 1) == 0;
    if (candidate >= inScaled.fExact) {
        const Wide twice = 2 * (candidate - inScaled.fExact);
        return even ? twice <= unit : twice < unit;
    }
    const Wide gap = inScaled.fExact - candidate;
    const Wide times = inMantissa == (1ULL << 52) ? 4 * gap : 2 * gap;
    return even ? times <= unit : times < unit;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes eight decimal digits of inValue (below 10^8), leading zeros
// included: two halves, then pairs, so that the divisions run side by side.
void WriteEightDigits(uint32_t inValue, char* outText)
{
    const uint32_t high = inValue / 10000;
    const uint32_t low = inValue % 10000;
    std::memcpy(outText, kDigitPairs + 2 * (high / 100), 2);
    std::memcpy(outText + 2, kDigitPairs + 2 * (high % 100), 2);
    std::memcpy(outText + 4, kDigitPairs + 2 * (low / 100), 2);
    std::memcpy(outText + 6, kDigitPairs + 2 * (low % 100), 2);
}

// Writes the inCount (at most eighteen) last decimal digits of inValue,
// leading zeros included.
void WriteFixedDigits(uint64_t inValue, int inCount, char* outText)
{
    char all[24];
    WriteEightDigits(static_cast<uint32_t>(inValue / 10000000000000000ULL), all);
    WriteEightDigits(static_cast<uint32_t>(inValue / 100000000 % 100000000), all + 8);
    WriteEightDigits(static_cast<uint32_t>(inValue % 100000000), all + 16);
    std::memcpy(outText, all + 24 - inCount, static_cast<size_t>(inCount));
}

// Writes the rounded value as printf's "%.<inDigits>G" does: plain notation
// when -4 <= exponent < inDigits, else d.dddE+XX; trailing zeros dropped,
// and the point with them. Returns the end of the text.
char* WriteGeneralDigits(const Rounded& inValue, int inDigits, bool inNegative, char* outText)
{
    char digits[20];
    WriteFixedDigits(inValue.fDigits, inDigits, digits);
    int significant = inDigits;
    while (significant > 1 && digits[significant - 1] == '0')
        --significant;
    char* out = outText;
    if (inNegative)
        *out++ = '-';
    const int exponent = inValue.fExponent;
    if (exponent < -4 || exponent >= inDigits) {
        *out++ = digits[0];
        if (significant > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, static_cast<size_t>(significant - 1));
            out += significant - 1;
        }
        *out++ = 'E';
        *out++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude >= 100)
            *out++ = static_cast<char>('0' + magnitude / 100);
        *out++ = static_cast<char>('0' + magnitude / 10 % 10);
        *out++ = static_cast<char>('0' + magnitude % 10);
    } else if (exponent >= 0) {
        std::memcpy(out, digits, static_cast<size_t>(exponent + 1));
        out += exponent + 1;
        if (significant > exponent + 1) {
            *out++ = '.';
            std::memcpy(out, digits + exponent + 1, static_cast<size_t>(significant - exponent - 1));
            out += significant - exponent - 1;
        }
    } else {
        *out++ = '0';
        *out++ = '.';
        for (int i = exponent + 1; i < 0; ++i)
            *out++ = '0';
        std::memcpy(out, digits, static_cast<size_t>(significant));
        out += significant;
    }
    *out = 0;
    return out;
}

// The round-trip text of a double in the magnitudes above, or -1 when the
// double lies outside them.
int WriteRoundTripInIntegers(double inValue, char* outBuffer)
{
    uint64_t bits;
    std::memcpy(&bits, &inValue, sizeof(bits));
    const int binaryExponent = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
    if (binaryExponent < kFastLowestExponent || binaryExponent > kFastHighestExponent)
        return -1;
    const uint64_t mantissa = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
    const bool negative = (bits >> 63) != 0;
    const Scaled scaled = ScaleToSeventeenDigits(mantissa, binaryExponent);
    Rounded rounded = RoundScaled<14>(scaled);
    int digits = 14;
    if (!ReadsBack(scaled, rounded, mantissa)) {
        rounded = RoundScaled<17>(scaled);
        digits = 17;
    }
    return static_cast<int>(WriteGeneralDigits(rounded, digits, negative, outBuffer) - outBuffer);
}

}  // namespace

int WriteCRoundTrip(double inValue, char* outBuffer)
{
    if (!std::isfinite(inValue))
        return WriteCDouble(inValue, 14, 'G', outBuffer, kCRoundTripSize);
    const int length = WriteRoundTripInIntegers(inValue, outBuffer);
    if (length >= 0)
        return length;
    // The 14-digit grid is far coarser than a double's spacing, so at most
    // one of its points reads back to the value: when the shortest text has
    // at most 14 digits, it is that point, and "%.14G" writes it.
    return WriteGeneral(inValue, ShortestDigits(inValue) <= 14 ? 14 : 17, outBuffer);
}

}  // namespace qelt::plat
