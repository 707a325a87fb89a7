#include "values/VDuration.h"

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "platform/PlatNumbers.h"

namespace qelt {

// ---------------------------------------------------------------------------
// Text helpers

namespace valuetext {

std::string ToASCII(const VString& inText, size_t inMax, bool* outNonASCII)
{
    std::string out;
    if (outNonASCII != nullptr)
        *outNonASCII = false;
    const UniChar* units = inText.GetCPointer();
    int length = inText.GetLength();
    if (units == nullptr || length <= 0)
        return out;
    size_t n = static_cast<size_t>(length) < inMax ? static_cast<size_t>(length) : inMax;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        UniChar c = units[i];
        if (c >= 0x80 || c == 0) {
            if (outNonASCII != nullptr)
                *outNonASCII = true;
            out += '?';
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

long long ReadLong8(const char* inText)
{
    if (inText == nullptr)
        return 0;
    const char* p = inText;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    unsigned long long value = 0;
    bool overflow = false;
    while (*p >= '0' && *p <= '9') {
        unsigned digit = static_cast<unsigned>(*p - '0');
        if (value > (9223372036854775808ull - digit) / 10)
            overflow = true;
        else
            value = value * 10 + digit;
        ++p;
    }
    if (overflow || value > 9223372036854775807ull)
        return negative ? LLONG_MIN : LLONG_MAX;
    return negative ? -static_cast<long long>(value) : static_cast<long long>(value);
}

bool ReadCDouble(const char* inText, double& outValue, const char** outEnd)
{
    outValue = 0.0;
    if (outEnd != nullptr)
        *outEnd = inText;
    if (inText == nullptr)
        return false;
    // Only plain decimal texts: no hexadecimal forms, infinities or NaNs.
    const char* p = inText;
    while (*p == ' ' || *p == '\t')
        ++p;
    const char* q = p;
    if (*q == '+' || *q == '-')
        ++q;
    if (!((*q >= '0' && *q <= '9') || (*q == '.' && q[1] >= '0' && q[1] <= '9')))
        return false;
    if (q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) {
        outValue = 0.0;
        if (outEnd != nullptr)
            *outEnd = q + 1;
        return true;
    }
    const char* end = nullptr;
    double value = plat::ReadCDouble(p, &end);
    if (end == p || !std::isfinite(value))
        return false;
    outValue = value;
    if (outEnd != nullptr)
        *outEnd = end;
    return true;
}

long long SaturatedAdd(long long a, long long b)
{
    long long r;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? LLONG_MAX : LLONG_MIN;
    return r;
}

long long SaturatedMul(long long a, long long b)
{
    long long r;
    if (__builtin_mul_overflow(a, b, &r))
        return ((a < 0) != (b < 0)) ? LLONG_MIN : LLONG_MAX;
    return r;
}

}  // namespace valuetext

using valuetext::SaturatedAdd;
using valuetext::SaturatedMul;

namespace {

constexpr long long kMsPerSecond = 1000;
constexpr long long kMsPerMinute = 60000;
constexpr long long kMsPerHour = 3600000;
constexpr long long kMsPerDay = 86400000;

long long SumOfParts(long long d, long long h, long long m, long long s, long long ms)
{
    long long total = SaturatedMul(d, kMsPerDay);
    total = SaturatedAdd(total, SaturatedMul(h, kMsPerHour));
    total = SaturatedAdd(total, SaturatedMul(m, kMsPerMinute));
    total = SaturatedAdd(total, SaturatedMul(s, kMsPerSecond));
    return SaturatedAdd(total, ms);
}

// Whole seconds and the rest in milliseconds of a number of seconds, the
// rest rounded to the nearest millisecond so that texts written with a
// fraction (even one printed through single precision) read back exactly.
long long SecondsToMilliseconds(double inSeconds)
{
    long long whole = TruncateRealToLong8(inSeconds);
    double rest = (inSeconds - static_cast<double>(whole)) * 1000.0;
    return SaturatedAdd(SaturatedMul(whole, kMsPerSecond), static_cast<long long>(std::llround(rest)));
}

void SetASCII(VString& outText, const char* inText) { outText.FromCString(inText); }

void AppendASCII(VString& ioText, const char* inText) { ioText.AppendCString(inText); }

}  // namespace

// ---------------------------------------------------------------------------
// Construction

VDuration::VDuration() : fMilliseconds(0) {}

VDuration::VDuration(long long inMilliseconds) : fMilliseconds(inMilliseconds) {}

VDuration::VDuration(const long long* inDataPtr, bool inClear) : fMilliseconds(0)
{
    if (!inClear && inDataPtr != nullptr)
        fMilliseconds = ReadRawScalar<long long>(inDataPtr);
}

VDuration::VDuration(const VDuration& inOther) : VValueSingle(), fMilliseconds(inOther.fMilliseconds) {}

VDuration& VDuration::operator=(const VDuration& inOther)
{
    _Set(inOther.fMilliseconds);
    return *this;
}

VDuration::~VDuration() = default;

void VDuration::_Set(long long inMilliseconds)
{
    fMilliseconds = inMilliseconds;
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

// ---------------------------------------------------------------------------
// Setting

void VDuration::Clear() { _Set(0); }
void VDuration::FromNbMilliseconds(long long inCount) { _Set(inCount); }
void VDuration::FromNbSeconds(long long inCount) { _Set(SaturatedMul(inCount, kMsPerSecond)); }
void VDuration::FromNbMinutes(long long inCount) { _Set(SaturatedMul(inCount, kMsPerMinute)); }
void VDuration::FromNbHours(long long inCount) { _Set(SaturatedMul(inCount, kMsPerHour)); }
void VDuration::FromNbDays(long long inCount) { _Set(SaturatedMul(inCount, kMsPerDay)); }

void VDuration::SetDuration(int inDays, int inHours, int inMinutes, int inSeconds, int inMilliseconds)
{
    _Set(SumOfParts(inDays, inHours, inMinutes, inSeconds, inMilliseconds));
}

void VDuration::FromDecimalHour(double inHours) { _Set(TruncateRealToLong8(inHours * 3600000.0)); }

// ---------------------------------------------------------------------------
// Reading

void VDuration::GetDuration(int& outDays, int& outHours, int& outMinutes, int& outSeconds,
                            int& outMilliseconds) const
{
    if (IsNull()) {
        outDays = outHours = outMinutes = outSeconds = outMilliseconds = -1;
        return;
    }
    outDays = GetDay();
    outHours = GetHour();
    outMinutes = GetMinute();
    outSeconds = GetSecond();
    outMilliseconds = GetMillisecond();
}

int VDuration::GetDay() const { return static_cast<int>(fMilliseconds / kMsPerDay); }
int VDuration::GetHour() const { return static_cast<int>((fMilliseconds % kMsPerDay) / kMsPerHour); }
int VDuration::GetMinute() const { return static_cast<int>((fMilliseconds % kMsPerHour) / kMsPerMinute); }
int VDuration::GetSecond() const { return static_cast<int>((fMilliseconds % kMsPerMinute) / kMsPerSecond); }
int VDuration::GetMillisecond() const { return static_cast<int>(fMilliseconds % kMsPerSecond); }

// ---------------------------------------------------------------------------
// Arithmetic

void VDuration::Add(const VDuration& inOther) { fMilliseconds = SaturatedAdd(fMilliseconds, inOther.fMilliseconds); }

void VDuration::Substract(const VDuration& inOther)
{
    long long r;
    if (__builtin_sub_overflow(fMilliseconds, inOther.fMilliseconds, &r))
        r = inOther.fMilliseconds < 0 ? LLONG_MAX : LLONG_MIN;
    fMilliseconds = r;
}

void VDuration::Multiply(double inFactor)
{
    fMilliseconds = TruncateRealToLong8(static_cast<double>(fMilliseconds) * inFactor);
}

void VDuration::Divide(double inDivisor)
{
    fMilliseconds = TruncateRealToLong8(static_cast<double>(fMilliseconds) / inDivisor);
}

double VDuration::Divide(const VDuration& inOther) const
{
    return static_cast<double>(fMilliseconds) / static_cast<double>(inOther.fMilliseconds);
}

void VDuration::Remainder(const VDuration& inOther)
{
    // No remainder of a division by zero; the smallest count by -1 leaves 0.
    if (inOther.fMilliseconds == 0)
        return;
    if (inOther.fMilliseconds == -1) {
        fMilliseconds = 0;
        return;
    }
    fMilliseconds %= inOther.fMilliseconds;
}

void VDuration::AddMilliseconds(long long inCount) { _Set(SaturatedAdd(fMilliseconds, inCount)); }
void VDuration::AddSeconds(int inCount) { _Set(SaturatedAdd(fMilliseconds, inCount * kMsPerSecond)); }
void VDuration::AddMinutes(int inCount) { _Set(SaturatedAdd(fMilliseconds, inCount * kMsPerMinute)); }
void VDuration::AddHours(int inCount) { _Set(SaturatedAdd(fMilliseconds, inCount * kMsPerHour)); }
void VDuration::AddDays(int inCount) { _Set(SaturatedAdd(fMilliseconds, inCount * kMsPerDay)); }

void VDuration::AddDuration(int inDays, int inHours, int inMinutes, int inSeconds, int inMilliseconds)
{
    _Set(SaturatedAdd(fMilliseconds, SumOfParts(inDays, inHours, inMinutes, inSeconds, inMilliseconds)));
}

void VDuration::AddDecimalHour(double inHours)
{
    _Set(SaturatedAdd(fMilliseconds, TruncateRealToLong8(inHours * 3600000.0)));
}

void VDuration::AdjustDay(int inDay) { _Set(SaturatedAdd(inDay * kMsPerDay, fMilliseconds % kMsPerDay)); }

void VDuration::AdjustHour(int inHour)
{
    _Set(SaturatedAdd(fMilliseconds, (static_cast<long long>(inHour) - GetHour()) * kMsPerHour));
}

void VDuration::AdjustMinute(int inMinute)
{
    _Set(SaturatedAdd(fMilliseconds, (static_cast<long long>(inMinute) - GetMinute()) * kMsPerMinute));
}

void VDuration::AdjustSecond(int inSecond)
{
    _Set(SaturatedAdd(fMilliseconds, (static_cast<long long>(inSecond) - GetSecond()) * kMsPerSecond));
}

void VDuration::AdjustMillisecond(int inMillisecond)
{
    _Set(SaturatedAdd((fMilliseconds / kMsPerSecond) * kMsPerSecond, inMillisecond));
}

CompareResult VDuration::CompareTo(const VDuration& inOther) const
{
    return CompareRawScalars<long long>(fMilliseconds, inOther.fMilliseconds);
}

// ---------------------------------------------------------------------------
// Text

void VDuration::GetString(VString& outValue) const
{
    outValue.Clear();
    if (IsNull())
        return;
    char text[32];
    std::snprintf(text, sizeof(text), "%lld", fMilliseconds);
    SetASCII(outValue, text);
}

void VDuration::FromString(const VString& inValue)
{
    std::string text = valuetext::ToASCII(inValue, 4096);
    if (text.find(':') == std::string::npos) {
        _Set(SaturatedMul(valuetext::ReadLong8(text.c_str()), kMsPerSecond));
        return;
    }
    // Split at ':' keeping empty parts, each part trimmed of spaces.
    std::vector<long long> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(':', start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        parts.push_back(valuetext::ReadLong8(part.c_str()));
        if (end == std::string::npos || parts.size() >= 4)
            break;
        start = end + 1;
    }
    long long h = 0, m = 0, s = 0, ms = 0;
    if (parts.size() >= 4) {
        h = parts[0];
        m = parts[1];
        s = parts[2];
        ms = parts[3];
    } else if (parts.size() == 3) {
        h = parts[0];
        m = parts[1];
        s = parts[2];
    } else {
        m = parts[0];
        s = parts[1];
    }
    _Set(SumOfParts(0, h, m, s, ms));
}

void VDuration::GetFormattedString(VString& ioValue) const
{
    int d, h, m, s, ms;
    GetDuration(d, h, m, s, ms);
    char text[80];
    std::snprintf(text, sizeof(text), "%d:%d:%d:%d:%d", d, h, m, s, ms);
    AppendASCII(ioValue, text);
}

void VDuration::GetXMLString(VString& outValue, unsigned int inOptions) const
{
    char text[256];
    if ((inOptions & 1) == 0) {
        std::snprintf(text, sizeof(text), "%lld", fMilliseconds / kMsPerSecond);
        SetASCII(outValue, text);
        return;
    }
    int d, h, m, s, f;
    GetDuration(d, h, m, s, f);
    // The seconds go through single precision, as the stored texts have it.
    float seconds = static_cast<float>(f / 1000.0) + static_cast<float>(s);
    if (d == 0 && f == 0)
        std::snprintf(text, sizeof(text), "PT%dH%dM%dS", h, m, s);
    else if (d == 0)
        plat::FormatC(text, sizeof(text), "PT%dH%dM%.14fS", h, m, static_cast<double>(seconds));
    else if (f == 0)
        std::snprintf(text, sizeof(text), "P%dDT%dH%dM%dS", d, h, m, s);
    else
        plat::FormatC(text, sizeof(text), "P%dDT%dH%dM%.14fS", d, h, m, static_cast<double>(seconds));
    SetASCII(outValue, text);
}

bool VDuration::FromXMLString(const VString& inValue)
{
    std::string text = valuetext::ToASCII(inValue, 4096);
    if (text.empty() || text[0] != 'P') {
        if (text.find(':') == std::string::npos)
            _Set(SaturatedMul(valuetext::ReadLong8(text.c_str()), kMsPerSecond));
        else
            FromString(inValue);
        return true;
    }
    long long years = 0, months = 0, days = 0, hours = 0, minutes = 0;
    double seconds = 0.0;
    bool timePart = false;
    std::string buffer;
    for (size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == 'T') {
            timePart = true;
            buffer.clear();
            continue;
        }
        if (!timePart && c == 'Y') {
            years = static_cast<int>(valuetext::ReadLong8(buffer.c_str()));
            buffer.clear();
        } else if (!timePart && c == 'M') {
            months = static_cast<int>(valuetext::ReadLong8(buffer.c_str()));
            buffer.clear();
        } else if (!timePart && c == 'D') {
            days = static_cast<int>(valuetext::ReadLong8(buffer.c_str()));
            buffer.clear();
        } else if (timePart && c == 'H') {
            hours = static_cast<int>(valuetext::ReadLong8(buffer.c_str()));
            buffer.clear();
        } else if (timePart && c == 'M') {
            minutes = static_cast<int>(valuetext::ReadLong8(buffer.c_str()));
            buffer.clear();
        } else if (timePart && c == 'S') {
            valuetext::ReadCDouble(buffer.c_str(), seconds);
        } else if (buffer.size() < 256) {
            buffer += c;
        }
    }
    // A year counts 360 days and a month 30.
    long long totalDays = SaturatedAdd(SaturatedAdd(SaturatedMul(years, 360), SaturatedMul(months, 30)), days);
    long long total = SumOfParts(totalDays, hours, minutes, 0, 0);
    _Set(SaturatedAdd(total, SecondsToMilliseconds(seconds)));
    return true;
}

VError VDuration::GetJSONString(VString& outValue, unsigned int) const
{
    char text[32];
    std::snprintf(text, sizeof(text), "%lld", fMilliseconds);
    SetASCII(outValue, text);
    return VE_OK;
}

VError VDuration::FromJSONString(const VString& inValue, unsigned int)
{
    _Set(valuetext::ReadLong8(valuetext::ToASCII(inValue, 4096).c_str()));
    return VE_OK;
}

VError VDuration::GetJSONValue(VJSONValue& outValue, unsigned int inOptions) const
{
    if (IsNull()) {
        outValue.SetNull();
    } else if ((inOptions & 4) != 0) {
        // Hours, minutes and seconds of the magnitude; a negative duration
        // carries one leading minus sign rather than one per part.
        const bool negative = fMilliseconds < 0;
        const unsigned long long ms = negative ? 0ULL - static_cast<unsigned long long>(fMilliseconds)
                                               : static_cast<unsigned long long>(fMilliseconds);
        char text[48];
        std::snprintf(text, sizeof(text), "%s%llu:%02llu:%02llu", negative ? "-" : "", ms / 3600000ULL,
                      (ms / 60000ULL) % 60ULL, (ms / 1000ULL) % 60ULL);
        VString json;
        SetASCII(json, text);
        outValue.SetString(json);
    } else if ((inOptions & 2) != 0) {
        outValue.SetNumber(static_cast<double>(fMilliseconds));
    } else {
        outValue.SetNumber(static_cast<double>(fMilliseconds) / 1000.0);
    }
    return VE_OK;
}

VError VDuration::FromJSONValue(const VJSONValue& inValue)
{
    if (inValue.GetType() == JSON_null) {
        SetNull(true);
        return VE_OK;
    }
    // Seconds to milliseconds, truncated; NaN reads as 0 and counts beyond
    // the 64-bit range stop at its limits instead of an undefined conversion.
    const double ms = std::trunc(inValue.GetNumber() * 1000.0);
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    long long count = 0;
    if (std::isnan(ms))
        count = 0;
    else if (ms >= kLimit)
        count = LLONG_MAX;
    else if (ms < -kLimit)
        count = LLONG_MIN;
    else
        count = static_cast<long long>(ms);
    _Set(count);
    return VE_OK;
}

// ---------------------------------------------------------------------------
// Value kind

const VDuration::InfoType VDuration::sInfo;

const VValueInfo* VDuration::GetValueInfo() const { return &sInfo; }

VValue* VDuration::Clone() const { return new VDuration(fMilliseconds); }

bool VDuration::CanBeEvaluated() const { return true; }

bool VDuration::GetBoolean() const { return fMilliseconds != 0; }
signed char VDuration::GetByte() const { return static_cast<signed char>(fMilliseconds / kMsPerSecond); }
short VDuration::GetWord() const { return static_cast<short>(fMilliseconds / kMsPerSecond); }
int VDuration::GetLong() const { return static_cast<int>(fMilliseconds / kMsPerSecond); }
long long VDuration::GetLong8() const { return fMilliseconds / kMsPerSecond; }
long long VDuration::GetLong8OrMilliSeconds() const { return fMilliseconds; }
double VDuration::GetReal() const { return static_cast<double>(fMilliseconds) / 1000.0; }

void VDuration::GetDuration(VDuration& outValue) const { outValue.fMilliseconds = fMilliseconds; }

void VDuration::GetValue(VValueSingle& outValue) const { outValue.FromDuration(*this); }

void VDuration::FromBoolean(unsigned char inValue) { _Set(inValue != 0 ? kMsPerSecond : 0); }
void VDuration::FromByte(signed char inValue) { _Set(inValue * kMsPerSecond); }
void VDuration::FromWord(short inValue) { _Set(inValue * kMsPerSecond); }
void VDuration::FromLong(int inValue) { _Set(inValue * kMsPerSecond); }
void VDuration::FromLong8(long long inValue) { _Set(SaturatedMul(inValue, kMsPerSecond)); }
void VDuration::FromReal(double inValue) { _Set(TruncateRealToLong8(inValue * 1000.0)); }
void VDuration::FromDuration(const VDuration& inValue) { _Set(inValue.fMilliseconds); }

void VDuration::FromValue(const VValueSingle& inValue)
{
    if (&inValue != this)
        inValue.GetDuration(*this);
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

bool VDuration::FromValueSameKind(const VValue* inValue)
{
    const VDuration* other = static_cast<const VDuration*>(inValue);
    fMilliseconds = other->fMilliseconds;
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

const void* VDuration::LoadFromPtr(const void* inData, bool)
{
    _Set(ReadRawScalar<long long>(inData));
    return static_cast<const char*>(inData) + sizeof(long long);
}

void* VDuration::WriteToPtr(void* inData, bool, unsigned long) const
{
    std::memcpy(inData, &fMilliseconds, sizeof(long long));
    return static_cast<char*>(inData) + sizeof(long long);
}

unsigned long VDuration::GetSpace(unsigned long long&, unsigned long) const { return sizeof(long long); }

unsigned long VDuration::GetStreamSpace() const { return 8; }

VError VDuration::ReadFromStream(VStream* ioStream, int)
{
    long long number = 0;
    int count = 1;
    ioStream->GetLong8s(&number, &count);
    if (count == 1)
        fMilliseconds = number;
    return ioStream->GetLastError();
}

VError VDuration::WriteToStream(VStream* ioStream, int) const { return ioStream->PutLong8s(&fMilliseconds, 1); }

CompareResult VDuration::CompareTo(const VValueSingle& inValue, bool) const
{
    VDuration scratch;
    inValue.GetDuration(scratch);
    scratch.SetNull(inValue.IsNull());
    return CompareToSameKind(&scratch, false);
}

CompareResult VDuration::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareRawScalars<long long>(fMilliseconds, static_cast<const VDuration*>(inValue)->fMilliseconds);
}

bool VDuration::EqualToSameKind(const VValue* inValue, bool) const
{
    return fMilliseconds == static_cast<const VDuration*>(inValue)->fMilliseconds;
}

CompareResult VDuration::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareRawScalars<long long>(fMilliseconds, ReadRawScalar<long long>(inPtrToValueData));
}

bool VDuration::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return fMilliseconds == ReadRawScalar<long long>(inPtrToValueData);
}

CompareResult VDuration::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue, false);
}

bool VDuration::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

CompareResult VDuration::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                         const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData, false);
}

bool VDuration::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

}  // namespace qelt
