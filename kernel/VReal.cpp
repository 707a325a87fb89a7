#include "kernel/VReal.h"


#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VString.h"
#include "values/VDuration.h"
#include "platform/PlatNumbers.h"
#include "platform/PlatUTF8.h"

namespace qelt {

namespace {

CompareResult CompareWithTolerance(double inA, double inB, double inEpsilon)
{
    if (std::fabs(inA - inB) < inEpsilon)
        return CR_EQUAL;
    return inA > inB ? CR_BIGGER : CR_SMALLER;
}

CompareResult CompareExact(double inA, double inB)
{
    if (inA == inB)
        return CR_EQUAL;
    return inA > inB ? CR_BIGGER : CR_SMALLER;
}

// Writes the text of a double that is not integral in the 2^53 range and not
// NaN or infinite.
void PrintReal(double inValue, VString& outString)
{
    char buffer[255];
    plat::WriteCDouble(inValue, 14, 'G', buffer, sizeof(buffer));
    outString.FromCString(buffer);
}

// Encodes the text as UTF-8 into buffer (at most capacity bytes, no
// terminator); lone surrogates become U+FFFD. Returns the bytes the whole
// text needs, which may exceed capacity (then the buffer holds nothing to
// rely on).
unsigned long ToUTF8(const VString& inText, char* outBuffer, unsigned long inCapacity)
{
    const size_t count = inText.GetLength() > 0 ? static_cast<size_t>(inText.GetLength()) : 0;
    const plat::UTF8Result needed =
        plat::EncodeUTF8(inText.GetCPointer(), count, nullptr, 0, plat::UTF8Mode::kReplace, true);
    if (needed.produced <= inCapacity)
        plat::EncodeUTF8(inText.GetCPointer(), count, outBuffer, inCapacity, plat::UTF8Mode::kReplace, true);
    return static_cast<unsigned long>(needed.produced);
}

}  // namespace

// --- value ------------------------------------------------------------------

VReal::VReal() : fValue(0.0)
{
}

VReal::VReal(double inValue) : fValue(inValue)
{
}

VReal::VReal(const double* inDataPtr, bool inClear) : fValue(0.0)
{
    if (!inClear)
        fValue = ReadRawScalar<double>(inDataPtr);
}

VReal::VReal(const VReal& inOther) = default;
VReal& VReal::operator=(const VReal& inOther) = default;
VReal::~VReal() = default;

void VReal::_Touch()
{
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

const VValueInfo* VReal::GetValueInfo() const
{
    return &sInfo;
}

VValue* VReal::Clone() const
{
    VReal* copy = new VReal(fValue);
    copy->_SetFlags(static_cast<unsigned char>((_GetFlags() & kFlagNull) | kFlagDirty));
    return copy;
}

void VReal::Clear()
{
    fValue = 0.0;
    _Touch();
}

bool VReal::CanBeEvaluated() const
{
    return true;
}

bool VReal::GetBoolean() const { return fValue != 0.0; }
signed char VReal::GetByte() const { return static_cast<signed char>(TruncateRealToLong(fValue)); }
short VReal::GetWord() const { return static_cast<short>(TruncateRealToLong(fValue)); }
int VReal::GetLong() const { return TruncateRealToLong(fValue); }
long long VReal::GetLong8() const { return TruncateRealToLong8(fValue); }
double VReal::GetReal() const { return fValue; }

void VReal::GetDuration(VDuration& outValue) const
{
    VValueSingle& target = outValue;
    target.FromReal(fValue);
}

void VReal::GetString(VString& outValue) const
{
    outValue.FromReal(fValue);
}

void VReal::GetValue(VValueSingle& outValue) const
{
    outValue.FromReal(fValue);
}

void VReal::FromBoolean(unsigned char inValue)
{
    fValue = inValue;
    _Touch();
}

void VReal::FromByte(signed char inValue)
{
    fValue = inValue;
    _Touch();
}

void VReal::FromWord(short inValue)
{
    fValue = inValue;
    _Touch();
}

void VReal::FromLong(int inValue)
{
    fValue = inValue;
    _Touch();
}

void VReal::FromLong8(long long inValue)
{
    fValue = static_cast<double>(inValue);
    _Touch();
}

void VReal::FromReal(double inValue)
{
    fValue = inValue;
    _Touch();
}

void VReal::FromDuration(const VDuration& inValue)
{
    const VValueSingle& source = inValue;
    fValue = source.GetReal();
    SetNull(source.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

void VReal::FromString(const VString& inValue)
{
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    if (!inValue.IsNull())
        fValue = inValue.GetReal();
}

void VReal::FromValue(const VValueSingle& inValue)
{
    fValue = inValue.GetReal();
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

bool VReal::FromValueSameKind(const VValue* inValue)
{
    const VReal* other = static_cast<const VReal*>(inValue);
    fValue = other->fValue;
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

const void* VReal::LoadFromPtr(const void* inData, bool)
{
    fValue = ReadRawScalar<double>(inData);
    _Touch();
    return static_cast<const char*>(inData) + sizeof(double);
}

void* VReal::WriteToPtr(void* inData, bool, unsigned long) const
{
    std::memcpy(inData, &fValue, sizeof(double));
    return static_cast<char*>(inData) + sizeof(double);
}

unsigned long VReal::GetSpace(unsigned long long&, unsigned long) const
{
    return sizeof(double);
}

unsigned long VReal::GetStreamSpace() const
{
    return sizeof(double);
}

VError VReal::ReadFromStream(VStream* ioStream, int)
{
    double number = 0.0;
    int count = 1;
    ioStream->GetReals(&number, &count);
    if (count == 1)
        fValue = number;
    return ioStream->GetLastError();
}

VError VReal::WriteToStream(VStream* ioStream, int) const
{
    return ioStream->PutReals(&fValue, 1);
}

// --- comparisons ------------------------------------------------------------

CompareResult VReal::CompareTo(const VValueSingle& inValue, bool) const
{
    return CompareWithTolerance(fValue, inValue.GetReal(), kEpsilon);
}

CompareResult VReal::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareWithTolerance(fValue, static_cast<const VReal*>(inValue)->fValue, kEpsilon);
}

bool VReal::EqualToSameKind(const VValue* inValue, bool) const
{
    return std::fabs(fValue - static_cast<const VReal*>(inValue)->fValue) < kEpsilon;
}

CompareResult VReal::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareWithTolerance(fValue, ReadRawScalar<double>(inPtrToValueData), kEpsilon);
}

bool VReal::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return std::fabs(fValue - ReadRawScalar<double>(inPtrToValueData)) < kEpsilon;
}

CompareResult VReal::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    return CompareWithTolerance(fValue, static_cast<const VReal*>(inValue)->fValue, inOptions.GetEpsilon());
}

bool VReal::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    return std::fabs(fValue - static_cast<const VReal*>(inValue)->fValue) < inOptions.GetEpsilon();
}

CompareResult VReal::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                     const VCompareOptions& inOptions) const
{
    return CompareWithTolerance(fValue, ReadRawScalar<double>(inPtrToValueData), inOptions.GetEpsilon());
}

bool VReal::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions& inOptions) const
{
    return std::fabs(fValue - ReadRawScalar<double>(inPtrToValueData)) < inOptions.GetEpsilon();
}

// --- text -------------------------------------------------------------------

void VReal::RealToXMLString(double inValue, VString& outString)
{
    if (std::isnan(inValue)) {
        outString.FromCString("NaN");
    } else if (std::isinf(inValue)) {
        outString.FromCString(inValue > 0 ? "INF" : "-INF");
    } else if (std::trunc(inValue) == inValue && std::fabs(inValue) <= 9007199254740991.0) {
        // Exactly representable integers are written in decimal without
        // exponent; -0.0 is "0".
        char digits[32];
        *std::to_chars(digits, digits + sizeof(digits) - 1, static_cast<long long>(inValue)).ptr = 0;
        outString.FromCString(digits);
    } else {
        PrintReal(inValue, outString);
    }
}

int VReal::RealToJSONChars(double inValue, char* outBuffer)
{
    static_assert(kJSONCharsSize >= plat::kCRoundTripSize, "room for the longest number text");
    if (std::fabs(inValue) <= 9007199254740991.0) {
        // An integer: decimal digits without exponent; -0.0 is "0". The
        // conversion is exact in this range, so the test is a round trip.
        const long long whole = static_cast<long long>(inValue);
        if (static_cast<double>(whole) == inValue) {
            char* end = std::to_chars(outBuffer, outBuffer + kJSONCharsSize - 1, whole).ptr;
            *end = 0;
            return static_cast<int>(end - outBuffer);
        }
    } else if (std::isnan(inValue) || std::isinf(inValue)) {
        std::memcpy(outBuffer, "null", 5);
        return 4;
    }
    // Fourteen significant digits when they read back to the same number,
    // else seventeen, which always do: a number saved and loaded again keeps
    // its value.
    return plat::WriteCRoundTrip(inValue, outBuffer);
}

void VReal::RealToJSONString(double inValue, VString& outString)
{
    char buffer[kJSONCharsSize];
    RealToJSONChars(inValue, buffer);
    outString.FromCString(buffer);
}

void VReal::GetXMLString(VString& outValue, unsigned int) const
{
    RealToXMLString(fValue, outValue);
}

VError VReal::GetJSONString(VString& outJSONString, unsigned int) const
{
    RealToJSONString(fValue, outJSONString);
    return VE_OK;
}

bool VReal::FromXMLString(const VString& inValue)
{
    // The text as UTF-8 with a terminating zero in 255 bytes: at most 254.
    char buffer[255];
    // A zero unit would end the C text early and let a prefix pass for the whole.
    const UniChar* units = inValue.GetCPointer();
    for (int i = 0; i < inValue.GetLength(); ++i) {
        if (units[i] == 0)
            return false;
    }
    unsigned long written = ToUTF8(inValue, buffer, sizeof(buffer) - 1);
    if (written > sizeof(buffer) - 1)
        return false;
    buffer[written] = '\0';
    for (unsigned long i = 0; i < written; ++i) {
        if (buffer[i] == ',')
            buffer[i] = '.';
    }
    const char* end = nullptr;
    double number = plat::ReadCDouble(buffer, &end);
    if (end == nullptr || *end != '\0')
        return false;
    fValue = number;
    _Touch();
    return true;
}

VError VReal::FromJSONString(const VString& inJSONString, unsigned int)
{
    if (!FromXMLString(inJSONString)) {
        fValue = 0.0;
        _Touch();
    }
    return VE_OK;
}

VError VReal::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetNumber(fValue);
    return VE_OK;
}

VError VReal::FromJSONValue(const VJSONValue& inJSONValue)
{
    if (inJSONValue.GetType() == JSON_null) {
        SetNull(true);
        return VE_OK;
    }
    fValue = inJSONValue.GetNumber();
    _Touch();
    return VE_OK;
}

// --- descriptor -------------------------------------------------------------

CompareResult VReal::VValueInfo_real::CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                                          bool inExact) const
{
    double a = ReadRawScalar<double>(inPtr1);
    double b = ReadRawScalar<double>(inPtr2);
    return inExact ? CompareExact(a, b) : CompareWithTolerance(a, b, kEpsilon);
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                                                  bool inExact) const
{
    return CompareTwoPtrToData(inPtr1, inPtr2, inExact);
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                                     const VCompareOptions& inOptions) const
{
    double a = ReadRawScalar<double>(inPtr1);
    double b = ReadRawScalar<double>(inPtr2);
    if (std::isnan(a))
        return std::isnan(b) ? CR_EQUAL : CR_SMALLER;
    if (std::isnan(b))
        return CR_BIGGER;
    if (inOptions.IsDiacritical())
        return CompareExact(a, b);
    if (inOptions.GetEpsilon() > std::fabs(a - b))
        return CR_EQUAL;
    return a > b ? CR_BIGGER : CR_SMALLER;
}

// --- packed decimal records -------------------------------------------------

double MAPM_FloatToReal(const void* inRecord)
{
    // Splits a digit byte (0 to 99) into its tens and units digits.
    struct DigitPair {
        char tens;
        char units;
    };
    static const auto* sDigits = [] {
        static DigitPair table[100];
        for (int i = 0; i < 100; ++i)
            table[i] = DigitPair{static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10)};
        return table;
    }();
    constexpr int kMaxDigits = 1024;

    const unsigned char* record = static_cast<const unsigned char*>(inRecord);
    if (record == nullptr)
        return std::nan("");
    int exponent = ReadRawScalar<int>(record);
    unsigned char sign = record[4];
    int count = ReadRawScalar<int>(record + 5);
    if (sign == 0)
        return 0.0;
    if (count < 1 || count > kMaxDigits)
        return std::nan("");
    const unsigned char* digitBytes = record + 9;
    int byteCount = (count + 1) / 2;
    for (int i = 0; i < byteCount; ++i) {
        if (digitBytes[i] > 99)
            return std::nan("");
    }

    std::string text;
    text.reserve(static_cast<size_t>(count) + 24);
    if (sign == 0xFF)
        text += '-';
    for (int i = 0; i < count; ++i) {
        const DigitPair& pair = sDigits[digitBytes[i / 2]];
        text += (i % 2 == 0) ? pair.tens : pair.units;
        if (i == 0)
            text += '.';
    }
    long long shown = static_cast<long long>(exponent) - 1;
    char exponentText[32];
    std::snprintf(exponentText, sizeof(exponentText), shown < 0 ? "E%lld" : "E+%lld", shown);
    text += exponentText;
    return plat::ReadCDouble(text.c_str(), nullptr);
}

}  // namespace qelt
