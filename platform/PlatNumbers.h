// Numbers as text in the C locale, whatever the process or thread locale
// is: the one reader and writer every subsystem calls, so that a file
// written under one locale reads back under any other. Allocates nothing
// through the toolbox; usable before the memory manager exists.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace qelt::plat {

// Reads the longest prefix of a terminated byte text that is a number in
// the C library's syntax (leading blanks, sign, digits, point, exponent; also
// "inf", "nan" and hexadecimal forms) with '.' as the decimal point. Stores
// the end of what was read in outEnd (the text itself when nothing was) and
// sets outOutOfRange when the value overflowed or underflowed.
double ReadCDouble(const char* inText, const char** outEnd, bool* outOutOfRange = nullptr);

// The value of one hexadecimal digit (0-9, A-F or a-f, as a byte or a
// UTF-16 unit); -1 for anything else.
constexpr int HexDigitValue(unsigned int inUnit)
{
    if (inUnit >= '0' && inUnit <= '9')
        return static_cast<int>(inUnit - '0');
    if (inUnit >= 'A' && inUnit <= 'F')
        return static_cast<int>(inUnit - 'A' + 10);
    if (inUnit >= 'a' && inUnit <= 'f')
        return static_cast<int>(inUnit - 'a' + 10);
    return -1;
}

// Option bits of ReadCNumber.
constexpr unsigned int kCNumberMinusSign = 1;  // U+2212 MINUS SIGN reads as '-'

// The same reading over UTF-16 units, which need not be terminated: a zero
// unit or a unit beyond ASCII (but U+2212 when allowed) ends the number.
// Stores the value (0 when there is none) and returns the number of units
// read (0 when there is no number).
size_t ReadCNumber(const unsigned short* inUnits, size_t inCount, double& outValue, unsigned int inOptions = 0,
                   bool* outOutOfRange = nullptr);

// Writes a double as printf's "%.<precision><conversion>" would in the C
// locale (conversion one of e E f F g G; any other reads as G), into outBuffer of inSize bytes,
// terminated and cut to fit; returns the length of the whole text, as
// snprintf does. A negative precision leaves it to the conversion.
int WriteCDouble(double inValue, int inPrecision, char inConversion, char* outBuffer, size_t inSize);

// Writes a finite double as "%.14G" when that text reads back to the same
// double, else as "%.17G" (which always does), into outBuffer of at least
// kCRoundTripSize bytes, terminated; returns the text's length. The choice
// is made without reading the text back: the shortest text that reads back
// has at most 14 digits exactly when the 14-digit one does.
constexpr size_t kCRoundTripSize = 32;
int WriteCRoundTrip(double inValue, char* outBuffer);

// snprintf in the C locale.
int FormatC(char* outBuffer, size_t inSize, const char* inFormat, ...) __attribute__((format(printf, 3, 4)));
int FormatCV(char* outBuffer, size_t inSize, const char* inFormat, va_list inArgs)
    __attribute__((format(printf, 3, 0)));

}  // namespace qelt::plat
