// Numbers and four-character codes: writing and reading integers and reals, hexadecimal and
// decimal number texts.
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
#include "kernel/VString_internal.h"

namespace qelt {

using namespace stringimpl;

// ===========================================================================
// Numbers and four-character codes

namespace {

// Decimal digits of a magnitude, written backwards into a stack buffer.
VString& AppendDecimal(VString& ioString, unsigned long long inMagnitude, bool inNegative)
{
    UniChar buffer[24];
    int i = 23;
    buffer[i] = 0;
    do {
        buffer[--i] = static_cast<UniChar>('0' + inMagnitude % 10);
        inMagnitude /= 10;
    } while (inMagnitude != 0);
    if (inNegative)
        buffer[--i] = '-';
    return ioString.AppendUniCString(buffer + i);
}

}  // namespace

VString& VString::AppendLong(int inValue)
{
    if (inValue == 0)
        return AppendUniChar('0');
    if (inValue == INT_MIN)
        return AppendCString("-2147483648");
    return AppendDecimal(*this, static_cast<unsigned long long>(inValue < 0 ? -inValue : inValue), inValue < 0);
}

VString& VString::AppendLong8(long long inValue)
{
    if (inValue == 0)
        return AppendUniChar('0');
    if (inValue == LLONG_MIN)
        return AppendCString("-9223372036854775808");
    return AppendDecimal(*this, static_cast<unsigned long long>(inValue < 0 ? -inValue : inValue), inValue < 0);
}

VString& VString::AppendULong8(unsigned long long inValue)
{
    if (inValue == 0)
        return AppendUniChar('0');
    return AppendDecimal(*this, inValue, false);
}

VString& VString::AppendReal(double inValue)
{
    char buffer[255];
    plat::WriteCDouble(inValue, 14, 'G', buffer, sizeof(buffer));
    return AppendCString(buffer);
}

VString& VString::AppendOsType(OsType inCode)
{
    unsigned char bytes[4] = {static_cast<unsigned char>(inCode >> 24), static_cast<unsigned char>(inCode >> 16),
                              static_cast<unsigned char>(inCode >> 8), static_cast<unsigned char>(inCode)};
    VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(VTC_UTF_8);
    if (converter != nullptr) {
        converter->ConvertString(bytes, 4, nullptr, *this);
        converter->Release();
    }
    return *this;
}

void VString::FromBoolean(unsigned char inValue)
{
    static const UniChar sTrue[] = {'t', 'r', 'u', 'e', 0};
    static const UniChar sFalse[] = {'f', 'a', 'l', 's', 'e', 0};
    if (inValue != 0)
        FromUniString(sTrue, 4);
    else
        FromUniString(sFalse, 5);
}

void VString::FromByte(signed char inValue)
{
    Truncate(0, false);
    AppendLong(inValue);
}

void VString::FromWord(short inValue)
{
    Truncate(0, false);
    AppendLong(inValue);
}

void VString::FromLong(int inValue)
{
    Truncate(0, false);
    AppendLong(inValue);
}

void VString::FromLong8(long long inValue)
{
    Truncate(0, false);
    AppendLong8(inValue);
}

void VString::FromULong8(unsigned long long inValue)
{
    Truncate(0, false);
    AppendULong8(inValue);
}

void VString::FromReal(double inValue)
{
    Truncate(0, false);
    AppendReal(inValue);
}

void VString::FromOsType(OsType inCode)
{
    unsigned char bytes[4] = {static_cast<unsigned char>(inCode >> 24), static_cast<unsigned char>(inCode >> 16),
                              static_cast<unsigned char>(inCode >> 8), static_cast<unsigned char>(inCode)};
    FromBlock(bytes, 4, VTC_UTF_8);
}

long long VString::GetLong8() const
{
    unsigned long long value = 0;
    bool negative = false;
    bool haveSeparator = false;
    UniChar separator = 0;
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned long long>(c - '0');
        } else if (c == '-') {
            if (value == 0)
                negative = true;
        } else {
            if (!haveSeparator) {
                separator = Intl::DecimalSeparator(CurrentIntl());
                haveSeparator = true;
            }
            if (c == separator)
                break;
        }
    }
    // Unsigned arithmetic: a magnitude beyond 64 bits wraps, it never traps.
    return negative ? static_cast<long long>(0ULL - value) : static_cast<long long>(value);
}

int VString::GetLong() const
{
    long long value = GetLong8();
    return (value >= INT_MIN && value <= INT_MAX) ? static_cast<int>(value) : 0;
}

short VString::GetWord() const
{
    long long value = GetLong8();
    return (value >= SHRT_MIN && value <= SHRT_MAX) ? static_cast<short>(value) : 0;
}

double VString::GetRealCheckOverflow(bool* outOverflow) const
{
    StStringConverter<char> bytes(*this, VTC_UTF_8, eCRM_NONE);
    const char* text = bytes.GetCPointer();
    bool outOfRange = false;
    const double result = plat::ReadCDouble(text, nullptr, &outOfRange);
    if (outOverflow != nullptr)
        *outOverflow = (std::isinf(result) || result == 0) && outOfRange;
    return result;
}

double VString::GetReal() const { return GetRealCheckOverflow(nullptr); }

bool VString::GetBoolean() const
{
    static const UniChar sTrue[] = {'t', 'r', 'u', 'e'};
    return Intl::Equal(CurrentIntl(), fString, fLength, sTrue, 4, false);
}

OsType VString::GetOsType() const
{
    unsigned char bytes[4] = {' ', ' ', ' ', ' '};
    int consumed = 0;
    unsigned long produced = 0;
    if (fLength > 0)
        VTextConverters::Get()->ConvertFromVString(*this, &consumed, bytes, 4, &produced, VTC_UTF_8);
    if (produced > 4)
        produced = 4;
    for (unsigned long i = produced; i < 4; ++i)
        bytes[i] = ' ';
    return (static_cast<OsType>(bytes[0]) << 24) | (static_cast<OsType>(bytes[1]) << 16) |
           (static_cast<OsType>(bytes[2]) << 8) | static_cast<OsType>(bytes[3]);
}

// ===========================================================================
// Hexadecimal and decimal number texts

unsigned long long VString::GetHexLong() const
{
    unsigned long long value = 0;
    for (int i = 0; i < fLength; ++i) {
        const int digit = plat::HexDigitValue(fString[i]);
        if (digit < 0)
            continue;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

template <class T>
void StringFromHexLong(VString& outString, T inValue, bool inPrefixed)
{
    static_assert(std::is_unsigned_v<T>);
    constexpr int maxDigits = static_cast<int>(sizeof(T) * 2);
    int digits = 1;
    for (T v = static_cast<T>(inValue >> 4); v != 0; v = static_cast<T>(v >> 4))
        ++digits;
    int width = digits;
    if (inPrefixed) {
        if (maxDigits == 2)
            width = 2;
        else if (digits <= 4)
            width = 4;
        else if (digits <= 8)
            width = 8;
        else
            width = 16;
    }
    UniChar p[20];
    int n = 0;
    if (inPrefixed) {
        p[n++] = '0';
        p[n++] = 'x';
    }
    for (int i = width; i > digits; --i)
        p[n++] = '0';
    for (int i = digits - 1; i >= 0; --i) {
        unsigned nibble = static_cast<unsigned>((inValue >> (4 * i)) & 0xF);
        p[n++] = static_cast<UniChar>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
    }
    outString.FromUniString(p, n);
    // A string that could not grow is left empty, never with its old text.
    if (outString.GetLength() != n || std::memcmp(outString.GetCPointer(), p, static_cast<size_t>(n) * 2) != 0)
        outString.Clear();
}

template void StringFromHexLong<unsigned long long>(VString&, unsigned long long, bool);
template void StringFromHexLong<unsigned int>(VString&, unsigned int, bool);
template void StringFromHexLong<unsigned char>(VString&, unsigned char, bool);

void VString::FromHexLong(unsigned long long inValue, bool inPrefixed) { StringFromHexLong(*this, inValue, inPrefixed); }

void VString::FromHexLong(long long inValue, bool inPrefixed)
{
    StringFromHexLong(*this, static_cast<unsigned long long>(inValue), inPrefixed);
}

void VString::FromHexLong(unsigned int inValue, bool inPrefixed) { StringFromHexLong(*this, inValue, inPrefixed); }

void VString::FromHexLong(int inValue, bool inPrefixed)
{
    StringFromHexLong(*this, static_cast<unsigned int>(inValue), inPrefixed);
}

void VString::FromHexLong(unsigned char inValue, bool inPrefixed) { StringFromHexLong(*this, inValue, inPrefixed); }

void VString::FromHexLong(char inValue, bool inPrefixed)
{
    StringFromHexLong(*this, static_cast<unsigned char>(inValue), inPrefixed);
}

VString ToString(int inValue)
{
    VString result;
    result.AppendLong(inValue);
    return result;
}

VString ToString(long long inValue)
{
    VString result;
    result.AppendLong8(inValue);
    return result;
}

VString ToString(unsigned long long inValue)
{
    VString result;
    result.AppendULong8(inValue);
    return result;
}

VString ToString(unsigned long inValue)
{
    VString result;
    result.AppendULong8(inValue);
    return result;
}

}  // namespace qelt
