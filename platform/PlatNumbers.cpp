#include "platform/PlatNumbers.h"

#include <cerrno>
#include <charconv>
#include <cfloat>
#include <clocale>
#include <cmath>
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

}  // namespace

int WriteCRoundTrip(double inValue, char* outBuffer)
{
    if (!std::isfinite(inValue))
        return WriteCDouble(inValue, 14, 'G', outBuffer, kCRoundTripSize);
    // The 14-digit grid is far coarser than a double's spacing, so at most
    // one of its points reads back to the value: when the shortest text has
    // at most 14 digits, it is that point, and "%.14G" writes it.
    return WriteGeneral(inValue, ShortestDigits(inValue) <= 14 ? 14 : 17, outBuffer);
}

}  // namespace qelt::plat
