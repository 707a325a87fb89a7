#include "platform/PlatNumbers.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
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

}  // namespace qelt::plat
