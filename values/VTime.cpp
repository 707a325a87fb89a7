#include "values/VTime.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "platform/PlatTime.h"
#include "kernel/VTaskServices.h"

namespace qelt {

namespace {

constexpr long long kMsPerDay = 86400000;
constexpr long long kMsPerHour = 3600000;
constexpr long long kMsPerMinute = 60000;
constexpr int kDayNumberBase = 1721118;      // day number of the March-based year 0 origin
constexpr int kDayNumberOf1970 = 2440587;    // day number of 1970-01-01
constexpr int kMaxYear = 32767;

// Days per month, February with 29 (the leap rule is applied separately).
constexpr int kDaysPerMonth[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
// Day offset of each month within the March-based year.
constexpr int kMonthOffset[13] = {0, 306, 337, 0, 31, 61, 92, 122, 153, 184, 214, 245, 275};

const char* const kWeekDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

long long FloorDiv(long long a, long long b)
{
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// Table entries of months that stored data may hold outside 1-12 count as 0.
int MonthOffset(int month) { return (month >= 0 && month <= 12) ? kMonthOffset[month] : 0; }
int DaysInMonthTable(int month) { return (month >= 1 && month <= 12) ? kDaysPerMonth[month] : 0; }

long long DayNumber(long long y, int m, int d)
{
    long long yp = (m < 3) ? y - 1 : y;
    return 365 * yp + FloorDiv(yp, 4) - FloorDiv(yp, 100) + FloorDiv(yp, 400) + MonthOffset(m) + d + kDayNumberBase;
}

int DaysInMonth(long long year, int month)
{
    if (month == 2)
        return VTime::IsLeapYear(static_cast<short>(year)) ? 29 : 28;
    return DaysInMonthTable(month);
}

short ClampShort(long long v)
{
    if (v > SHRT_MAX)
        return SHRT_MAX;
    if (v < SHRT_MIN)
        return SHRT_MIN;
    return static_cast<short>(v);
}

bool ValidTimeOfDay(long long h, long long m, long long s, long long ms)
{
    return h >= 0 && h <= 23 && m >= 0 && m <= 59 && s >= 0 && s <= 59 && ms >= 0 && ms <= 999;
}

bool IsASCIIDigit(UniChar c) { return c >= '0' && c <= '9'; }
bool IsASCIILetter(UniChar c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// ---- A small scanner with the rules of the C library's formatted input for
// the few conversions the time texts use, reading in the C locale.

// "%Nd": blanks, then an optional sign and digits, at most width characters
// in all (0: no limit); false when no digit is there.
bool ScanInt(const char*& p, int width, long long& out)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
        ++p;
    const char* q = p;
    int used = 0;
    bool negative = false;
    if ((*q == '+' || *q == '-') && (width == 0 || used < width)) {
        negative = (*q == '-');
        ++q;
        ++used;
    }
    long long value = 0;
    int digits = 0;
    while (*q >= '0' && *q <= '9' && (width == 0 || used < width)) {
        if (value < 100000000000000LL)
            value = value * 10 + (*q - '0');
        ++q;
        ++used;
        ++digits;
    }
    if (digits == 0)
        return false;
    out = negative ? -value : value;
    p = q;
    return true;
}

// "%lf" for seconds: blanks, an optional sign, digits and an optional
// fraction; the fraction is kept as whole milliseconds (truncated) read from
// its digits, so that no binary rounding loses a millisecond.
bool ScanSeconds(const char*& p, long long& outWhole, long long& outFraction)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
        ++p;
    const char* q = p;
    bool negative = false;
    if (*q == '+' || *q == '-') {
        negative = (*q == '-');
        ++q;
    }
    long long whole = 0;
    int digits = 0;
    while (*q >= '0' && *q <= '9') {
        if (whole < 100000000000000LL)
            whole = whole * 10 + (*q - '0');
        ++q;
        ++digits;
    }
    long long fraction = 0;
    if (*q == '.') {
        const char* r = q + 1;
        int fracDigits = 0;
        while (*r >= '0' && *r <= '9') {
            if (fracDigits < 3)
                fraction = fraction * 10 + (*r - '0');
            ++fracDigits;
            ++r;
        }
        if (digits > 0 || fracDigits > 0) {
            for (int i = fracDigits; i < 3; ++i)
                fraction *= 10;
            digits += fracDigits;
            q = r;
        }
    }
    if (digits == 0)
        return false;
    outWhole = negative ? -whole : whole;
    outFraction = negative ? -fraction : fraction;
    p = q;
    return true;
}

bool ScanLiteral(const char*& p, char c)
{
    if (*p != c)
        return false;
    ++p;
    return true;
}

// 1-based position of the first c in the text, 0 when absent.
size_t FindFirst(const std::string& text, char c)
{
    size_t pos = text.find(c);
    return pos == std::string::npos ? 0 : pos + 1;
}

size_t FindLast(const std::string& text, char c)
{
    size_t pos = text.rfind(c);
    return pos == std::string::npos ? 0 : pos + 1;
}

void SetASCII(VString& outText, const char* inText) { outText.FromCString(inText); }

}  // namespace

// ---------------------------------------------------------------------------
// Construction and setting

VTime::VTime() : fYear(0), fMonth(0), fDay(0), fMilliseconds(0) {}

VTime::VTime(VTimeInitParam inParam) : fYear(0), fMonth(0), fDay(0), fMilliseconds(0)
{
    if (inParam == eInitWithCurrentTime) {
        short date[7];
        VSystem::GetSystemUTCTime(date);
        FromUTCTime(date[0], date[1], date[2], date[3], date[4], date[5], date[6]);
    }
}

VTime::VTime(unsigned long long inStamp) : fYear(0), fMonth(0), fDay(0), fMilliseconds(0) { FromStamp(inStamp); }

VTime::VTime(const unsigned long long* inStamp, bool inInitWithZero) : fYear(0), fMonth(0), fDay(0), fMilliseconds(0)
{
    if (!inInitWithZero && inStamp != nullptr)
        FromStamp(ReadRawScalar<unsigned long long>(inStamp));
}

VTime::VTime(const VTime& inOther)
    : VValueSingle(), fYear(inOther.fYear), fMonth(inOther.fMonth), fDay(inOther.fDay),
      fMilliseconds(inOther.fMilliseconds)
{
    _SetFlags(static_cast<unsigned char>((inOther._GetFlags() & kFlagNull) | kFlagDirty));
}

VTime& VTime::operator=(const VTime& inOther)
{
    FromTime(inOther);
    return *this;
}

VTime::~VTime() = default;

void VTime::_Touch()
{
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

void VTime::FromTime(const VTime& inOther)
{
    if (&inOther == this)
        return;
    fYear = inOther.fYear;
    fMonth = inOther.fMonth;
    fDay = inOther.fDay;
    fMilliseconds = inOther.fMilliseconds;
    SetNull(inOther.IsNull());
}

void VTime::FromStamp(unsigned long long inStamp)
{
    fYear = static_cast<short>(static_cast<unsigned short>(inStamp >> 48));
    fMonth = static_cast<unsigned char>(inStamp >> 40);
    fDay = static_cast<unsigned char>(inStamp >> 32);
    fMilliseconds = static_cast<int>(static_cast<unsigned int>(inStamp & 0xFFFFFFFFu));
    _Touch();
}

void VTime::Clear()
{
    fYear = 0;
    fMonth = 0;
    fDay = 0;
    fMilliseconds = 0;
    _Touch();
}

void VTime::NullIfZero()
{
    if (fYear == 0 && fMonth == 0 && fDay == 0)
        SetNull(true);
}

void VTime::FromUTCTime(short inYear, short inMonth, short inDay, short inHour, short inMinute, short inSecond,
                        short inMillisecond)
{
    long long ms = inHour * kMsPerHour + inMinute * kMsPerMinute + inSecond * 1000LL + inMillisecond;
    if (inYear == 0 && inMonth == 0 && inDay == 0) {
        // A time of day without a date: the fields are not checked.
        fYear = 0;
        fMonth = 0;
        fDay = 0;
        fMilliseconds = static_cast<int>(ms);
        _Touch();
        return;
    }
    if (!CheckDate(inYear, inMonth, inDay) || !ValidTimeOfDay(inHour, inMinute, inSecond, inMillisecond)) {
        Clear();
        SetNull(true);
        return;
    }
    fYear = inYear;
    fMonth = static_cast<unsigned char>(inMonth);
    fDay = static_cast<unsigned char>(inDay);
    fMilliseconds = static_cast<int>(ms);
    _Touch();
}

void VTime::Now(VTime& outTime)
{
    short date[7];
    VSystem::GetSystemUTCTime(date);
    outTime.FromUTCTime(date[0], date[1], date[2], date[3], date[4], date[5], date[6]);
}

void VTime::FromSystemTime()
{
    short date[7];
    VSystem::GetSystemUTCTime(date);
    fYear = date[0];
    fMonth = static_cast<unsigned char>(date[1]);
    fDay = static_cast<unsigned char>(date[2]);
    fMilliseconds = static_cast<int>(date[3] * kMsPerHour + date[4] * kMsPerMinute + date[5] * 1000LL + date[6]);
    _Touch();
}

void VTime::_StoreDayNumber(long long inDayNumber, long long inMillisecondsOfDay)
{
    int64_t year = 0;
    int month = 0, day = 0;
    plat::CivilFromDays(inDayNumber - kDayNumberOf1970, year, month, day);
    if (year < 0 || year > kMaxYear || inMillisecondsOfDay < 0 || inMillisecondsOfDay >= kMsPerDay) {
        // Beyond what the fields can hold: no meaningful date.
        SetNull(true);
        _SetFlags(_GetFlags() | kFlagDirty);
        return;
    }
    fYear = static_cast<short>(year);
    fMonth = static_cast<unsigned char>(month);
    fDay = static_cast<unsigned char>(day);
    fMilliseconds = static_cast<int>(inMillisecondsOfDay);
    _Touch();
}

void VTime::FromMilliseconds(long long inCount)
{
    if (inCount == -1) {
        SetNull(true);
        _SetFlags(_GetFlags() | kFlagDirty);
        return;
    }
    if (inCount == 0) {
        Clear();
        return;
    }
    long long q = inCount / kMsPerDay;
    _StoreDayNumber(q, inCount - q * kMsPerDay);
}

void VTime::FromJulianDay(int inDayNumber)
{
    const bool wasDirty = IsDirty();
    const bool wasNull = IsNull();
    _StoreDayNumber(inDayNumber, 0);
    // Only a change of the null flag makes the time dirty.
    if (!wasDirty && wasNull == IsNull())
        _SetFlags(_GetFlags() & static_cast<unsigned char>(~kFlagDirty));
}

void VTime::FromJulianDate(short inYear, short inMonth, short inDay)
{
    bool valid = inMonth >= 1 && inMonth <= 12 && inDay >= 1 && inDay <= kDaysPerMonth[inMonth] &&
                 !(inMonth == 2 && inDay == 29 && (inYear % 4) != 0);
    if (!valid) {
        SetNull(true);
        return;
    }
    long long yp = (inMonth < 3) ? inYear - 1 : inYear;
    long long n = 365 * yp + FloorDiv(yp, 4) + kMonthOffset[inMonth] + inDay + 1721116;
    _StoreDayNumber(n, 0);
}

// ---------------------------------------------------------------------------
// Reading

void VTime::GetUTCTime(short& outYear, short& outMonth, short& outDay, short& outHour, short& outMinute,
                       short& outSecond, short& outMillisecond) const
{
    short date[7];
    _GetUTCFields(date);
    outYear = date[0];
    outMonth = date[1];
    outDay = date[2];
    outHour = date[3];
    outMinute = date[4];
    outSecond = date[5];
    outMillisecond = date[6];
}

void VTime::_GetUTCFields(short* outDate) const
{
    if (IsNull()) {
        for (int i = 0; i < 7; ++i)
            outDate[i] = 0;
        return;
    }
    outDate[0] = fYear;
    outDate[1] = fMonth;
    outDate[2] = fDay;
    outDate[3] = static_cast<short>(fMilliseconds / kMsPerHour);
    outDate[4] = static_cast<short>((fMilliseconds % kMsPerHour) / kMsPerMinute);
    outDate[5] = static_cast<short>((fMilliseconds % kMsPerMinute) / 1000);
    outDate[6] = static_cast<short>(fMilliseconds % 1000);
}

unsigned long long VTime::GetStamp() const
{
    return (static_cast<unsigned long long>(static_cast<unsigned short>(fYear)) << 48) |
           (static_cast<unsigned long long>(fMonth) << 40) | (static_cast<unsigned long long>(fDay) << 32) |
           static_cast<unsigned long long>(static_cast<unsigned int>(fMilliseconds));
}

long long VTime::GetMilliseconds() const
{
    if (IsNull())
        return -1;
    if (fYear == 0 && fMonth == 0 && fDay == 0)
        return 0;
    return DayNumber(fYear, fMonth, fDay) * kMsPerDay + fMilliseconds;
}

int VTime::GetJulianDay() const
{
    if (IsNull())
        return -1;
    return static_cast<int>(DayNumber(fYear, fMonth, fDay));
}

int VTime::GetWeekDay() const
{
    if (IsNull())
        return -1;
    long long r = (DayNumber(fYear, fMonth, fDay) + 2) % 7;
    return static_cast<int>(r < 0 ? r + 7 : r);
}

int VTime::GetYearDay() const
{
    if (IsNull())
        return -1;
    return static_cast<int>(DayNumber(fYear, fMonth, fDay) - DayNumber(fYear, 1, 1) + 1);
}

void VTime::GetJulianDate(short& outYear, short& outMonth, short& outDay) const
{
    if (IsNull()) {
        outYear = outMonth = outDay = 0;
        return;
    }
    long long n = DayNumber(fYear, fMonth, fDay);
    long long y = FloorDiv((n - 1721116) * 100 - 25, 36525);
    long long e = n - 1721116 - 365 * y - FloorDiv(y, 4);
    long long m = (5 * e + 456) / 153;
    long long d = e - (153 * m - 457) / 5;
    if (m >= 13) {
        y += 1;
        m -= 12;
    }
    outYear = static_cast<short>(y);
    outMonth = static_cast<short>(m);
    outDay = static_cast<short>(d);
}

void VTime::GetTime(VTime& outTime) const { outTime.FromTime(*this); }

// ---------------------------------------------------------------------------
// Calendar functions

int VTime::ComputeJulianDay(short inYear, short inMonth, short inDay)
{
    return static_cast<int>(DayNumber(inYear, inMonth, inDay));
}

int VTime::ComputeWeekDay(short inYear, short inMonth, short inDay)
{
    long long r = (DayNumber(inYear, inMonth, inDay) + 2) % 7;
    return static_cast<int>(r < 0 ? r + 7 : r);
}

int VTime::ComputeYearDay(short inYear, short inMonth, short inDay)
{
    return static_cast<int>(DayNumber(inYear, inMonth, inDay) - DayNumber(inYear, 1, 1) + 1);
}

bool VTime::IsLeapYear(short inYear) { return (inYear % 4 == 0 && inYear % 100 != 0) || inYear % 400 == 0; }

bool VTime::CheckDate(short inYear, short inMonth, short inDay)
{
    if (inYear < 0 || inMonth < 1 || inMonth > 12 || inDay < 1 || inDay > kDaysPerMonth[inMonth])
        return false;
    if (inMonth == 2 && inDay == 29 && !IsLeapYear(inYear))
        return false;
    return true;
}

// ---------------------------------------------------------------------------
// Arithmetic

void VTime::AddMilliseconds(long long inCount)
{
    long long count = GetMilliseconds();
    long long result;
    if (__builtin_add_overflow(count, inCount, &result)) {
        SetNull(true);
        return;
    }
    FromMilliseconds(result);
}

void VTime::AddSeconds(int inCount) { AddMilliseconds(inCount * 1000LL); }
void VTime::AddMinutes(int inCount) { AddMilliseconds(inCount * kMsPerMinute); }
void VTime::AddHours(int inCount) { AddMilliseconds(inCount * kMsPerHour); }
void VTime::AddDays(int inCount) { AddMilliseconds(inCount * kMsPerDay); }
void VTime::Add(const VDuration& inDuration) { AddMilliseconds(inDuration.ConvertToMilliseconds()); }

void VTime::Substract(const VDuration& inDuration)
{
    long long n = inDuration.ConvertToMilliseconds();
    if (n == LLONG_MIN) {
        SetNull(true);
        return;
    }
    AddMilliseconds(-n);
}

void VTime::Substract(const VTime& inOther, VDuration& outDuration) const
{
    outDuration.FromNbMilliseconds(GetMilliseconds() - inOther.GetMilliseconds());
}

void VTime::AddYears(int inCount)
{
    if (IsNull() || (fMonth == 0 && fDay == 0 && fYear == 0))
        return;
    long long year = static_cast<long long>(fYear) + inCount;
    if (year < 0 || year > kMaxYear) {
        SetNull(true);
        return;
    }
    fYear = static_cast<short>(year);
    // 29 February of a common year becomes the 28th.
    int last = DaysInMonth(fYear, fMonth);
    if (last > 0 && fDay > last)
        fDay = static_cast<unsigned char>(last);
}

void VTime::AddMonths(int inCount)
{
    if (IsNull() || fMonth < 1 || fMonth > 12)
        return;
    long long t = static_cast<long long>(fMonth) - 1 + inCount;
    long long year = fYear + FloorDiv(t, 12);
    long long month = t - FloorDiv(t, 12) * 12 + 1;
    if (year < 0 || year > kMaxYear) {
        SetNull(true);
        return;
    }
    fYear = static_cast<short>(year);
    fMonth = static_cast<unsigned char>(month);
    // A day the new month lacks becomes its last day.
    int last = DaysInMonth(fYear, fMonth);
    if (fDay > last)
        fDay = static_cast<unsigned char>(last);
}

CompareResult VTime::CompareTo(const VTime& inOther) const
{
    if (fYear != inOther.fYear)
        return fYear < inOther.fYear ? CR_SMALLER : CR_BIGGER;
    if (fMonth != inOther.fMonth)
        return fMonth < inOther.fMonth ? CR_SMALLER : CR_BIGGER;
    if (fDay != inOther.fDay)
        return fDay < inOther.fDay ? CR_SMALLER : CR_BIGGER;
    if (fMilliseconds != inOther.fMilliseconds)
        return fMilliseconds < inOther.fMilliseconds ? CR_SMALLER : CR_BIGGER;
    return CR_EQUAL;
}

// ---------------------------------------------------------------------------
// Local time fields

void VTime::_GetLocalFields(short* outDate) const
{
    _GetUTCFields(outDate);
    VSystem::UTCToLocalTime(outDate);
}

void VTime::GetLocalTime(short& outYear, short& outMonth, short& outDay, short& outHour, short& outMinute,
                         short& outSecond, short& outMillisecond) const
{
    short date[7];
    _GetLocalFields(date);
    outYear = date[0];
    outMonth = date[1];
    outDay = date[2];
    outHour = date[3];
    outMinute = date[4];
    outSecond = date[5];
    outMillisecond = date[6];
}

int VTime::_GetLocalField(int inIndex) const
{
    short d[7];
    _GetLocalFields(d);
    return d[inIndex];
}

int VTime::GetLocalYear() const { return _GetLocalField(0); }

int VTime::GetLocalMonth() const { return _GetLocalField(1); }

int VTime::GetLocalDay() const { return _GetLocalField(2); }

int VTime::GetLocalHour() const { return _GetLocalField(3); }

int VTime::GetLocalMinute() const { return _GetLocalField(4); }

int VTime::GetLocalSecond() const { return _GetLocalField(5); }

int VTime::GetLocalMillisecond() const { return _GetLocalField(6); }

VDuration VTime::GetLocalDurationSinceMidnight() const
{
    short d[7];
    _GetLocalFields(d);
    return VDuration(d[3] * kMsPerHour + d[4] * kMsPerMinute + d[5] * 1000LL + d[6]);
}

void VTime::_FromLocalFields(short* ioDate)
{
    // Fields that form no valid local date or time are refused here, before
    // the conversion could carry them into a valid one.
    bool zeroDate = ioDate[0] == 0 && ioDate[1] == 0 && ioDate[2] == 0;
    if (!zeroDate &&
        (!CheckDate(ioDate[0], ioDate[1], ioDate[2]) || !ValidTimeOfDay(ioDate[3], ioDate[4], ioDate[5], ioDate[6]))) {
        Clear();
        SetNull(true);
        return;
    }
    VSystem::LocalToUTCTime(ioDate);
    FromUTCTime(ioDate[0], ioDate[1], ioDate[2], ioDate[3], ioDate[4], ioDate[5], ioDate[6]);
}

void VTime::FromLocalTime(short inYear, short inMonth, short inDay, short inHour, short inMinute, short inSecond,
                          short inMillisecond)
{
    short date[7] = {inYear, inMonth, inDay, inHour, inMinute, inSecond, inMillisecond};
    _FromLocalFields(date);
}

void VTime::SetLocalYear(int inYear)
{
    short date[7];
    _GetLocalFields(date);
    if (inYear < 0 || inYear > kMaxYear) {
        Clear();
        SetNull(true);
        return;
    }
    date[0] = static_cast<short>(inYear);
    _FromLocalFields(date);
}

void VTime::SetLocalMonth(int inMonth)
{
    short date[7];
    _GetLocalFields(date);
    long long q = (static_cast<long long>(inMonth) - 1) / 12;
    long long year = date[0] + q;
    long long month = inMonth - 12 * q;
    if (year < 0 || year > kMaxYear || month < 1 || month > 12) {
        Clear();
        SetNull(true);
        return;
    }
    date[0] = static_cast<short>(year);
    date[1] = static_cast<short>(month);
    _FromLocalFields(date);
}

void VTime::SetLocalDay(int inDay)
{
    short date[7];
    _GetLocalFields(date);
    VTime scratch;
    scratch.FromUTCTime(date[0], date[1], date[2], 0, 0, 0, 0);
    if (IsNull() || scratch.IsNull() || (date[0] == 0 && date[1] == 0 && date[2] == 0)) {
        // No date to move from.
        Clear();
        SetNull(true);
        return;
    }
    long long dayNumber = scratch.GetJulianDay() + (static_cast<long long>(inDay) - date[2]);
    scratch._StoreDayNumber(dayNumber, 0);
    if (scratch.IsNull()) {
        Clear();
        SetNull(true);
        return;
    }
    date[0] = scratch.fYear;
    date[1] = scratch.fMonth;
    date[2] = scratch.fDay;
    _FromLocalFields(date);
}

void VTime::_SetLocalField(int inField, long long inValue, long long inUnit)
{
    short date[7];
    _GetLocalFields(date);
    if (IsNull() || (date[0] == 0 && date[1] == 0 && date[2] == 0)) {
        Clear();
        SetNull(true);
        return;
    }
    date[inField] = 0;
    VTime scratch;
    scratch.FromUTCTime(date[0], date[1], date[2], date[3], date[4], date[5], date[6]);
    long long count = scratch.GetMilliseconds();
    long long delta, result;
    if (scratch.IsNull() || __builtin_mul_overflow(inValue, inUnit, &delta) ||
        __builtin_add_overflow(count, delta, &result)) {
        Clear();
        SetNull(true);
        return;
    }
    scratch.FromMilliseconds(result);
    scratch._GetUTCFields(date);
    if (scratch.IsNull()) {
        Clear();
        SetNull(true);
        return;
    }
    _FromLocalFields(date);
}

void VTime::SetLocalHour(int inHour) { _SetLocalField(3, inHour, kMsPerHour); }
void VTime::SetLocalMinute(int inMinute) { _SetLocalField(4, inMinute, kMsPerMinute); }
void VTime::SetLocalSecond(int inSecond) { _SetLocalField(5, inSecond, 1000); }
void VTime::SetLocalMillisecond(int inMillisecond) { _SetLocalField(6, inMillisecond, 1); }

void VTime::FromToday(int inMilliseconds)
{
    short date[7];
    VSystem::GetSystemLocalTime(date);
    date[3] = date[4] = date[5] = date[6] = 0;
    VSystem::LocalToUTCTime(date);
    FromUTCTime(date[0], date[1], date[2], date[3], date[4], date[5], date[6]);
    FromMilliseconds(GetMilliseconds() + inMilliseconds);
}

long long VTime::GetLocalUnixTime(bool inWithMilliseconds) const
{
    short date[7];
    _GetLocalFields(date);
    if (IsNull() || (date[0] == 0 && date[1] == 0 && date[2] == 0))
        return 0;
    plat::CivilTime local;
    local.year = date[0];
    local.month = date[1];
    local.day = date[2];
    local.hour = date[3];
    local.minute = date[4];
    local.second = date[5];
    int64_t seconds = 0;
    if (!plat::LocalToUnixSeconds(local, seconds))
        return 0;
    return inWithMilliseconds ? seconds * 1000 + date[6] : seconds;
}

// ---------------------------------------------------------------------------
// RFC 3339, XML and JSON text

void VTime::GetRfc3339String(VString& outText, unsigned int inOptions) const
{
    if (IsNull()) {
        SetASCII(outText, "0000-00-00T00:00:00Z");
        return;
    }
    short f[7];
    const bool utc = (inOptions & kRfc3339UTC) != 0;
    const bool noZone = !utc && (inOptions & kRfc3339LocalWithoutZone) != 0;
    if (utc)
        _GetUTCFields(f);
    else
        _GetLocalFields(f);

    char sign = '+';
    long offsetHours = 0, offsetMinutes = 0;
    if (!utc && !noZone) {
        // The offset in force at this time's own date (the one the local
        // fields were made with); a time of day without a date takes today's.
        long offset;
        if (fYear == 0 && fMonth == 0 && fDay == 0) {
            offset = VSystem::GetGMTOffset(true);
        } else {
            plat::CivilTime civil;
            civil.year = fYear;
            civil.month = fMonth;
            civil.day = fDay;
            civil.hour = static_cast<int>(fMilliseconds / kMsPerHour);
            civil.minute = static_cast<int>((fMilliseconds % kMsPerHour) / kMsPerMinute);
            civil.second = static_cast<int>((fMilliseconds % kMsPerMinute) / 1000);
            offset = plat::LocalOffsetAt(plat::UnixSecondsFromUTC(civil));
        }
        if (offset < 0) {
            sign = '-';
            offset = -offset;
        }
        offsetHours = offset / 3600;
        offsetMinutes = (offset % 3600) / 60;
    }

    int y = f[0], mo = f[1], d = f[2];
    if ((inOptions & kRfc3339ZeroDate) != 0 && (inOptions & (kRfc3339TimeOnly | kRfc3339DateOnly)) == 0)
        y = mo = d = 0;
    const bool withMs = (inOptions & kRfc3339NoMilliseconds) == 0;
    char text[255];
    if ((inOptions & kRfc3339TimeOnly) != 0) {
        if (utc)
            std::snprintf(text, sizeof(text), "%02d:%02d:%02dZ", f[3], f[4], f[5]);
        else if (noZone)
            std::snprintf(text, sizeof(text), "%02d:%02d:%02d", f[3], f[4], f[5]);
        else
            std::snprintf(text, sizeof(text), "%02d:%02d:%02d%c%02ld:%02ld", f[3], f[4], f[5], sign, offsetHours,
                          offsetMinutes);
    } else if ((inOptions & kRfc3339DateOnly) != 0) {
        if (utc || noZone)
            std::snprintf(text, sizeof(text), "%04d-%02d-%02d", y, mo, d);
        else
            std::snprintf(text, sizeof(text), "%04d-%02d-%02d%c%02ld:%02ld", y, mo, d, sign, offsetHours,
                          offsetMinutes);
    } else if (utc) {
        if (withMs)
            std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", y, mo, d, f[3], f[4], f[5], f[6]);
        else
            std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02dZ", y, mo, d, f[3], f[4], f[5]);
    } else if (noZone) {
        if (withMs)
            std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, mo, d, f[3], f[4], f[5], f[6]);
        else
            std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, f[3], f[4], f[5]);
    } else {
        std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", y, mo, d, f[3], f[4], f[5],
                      sign, offsetHours, offsetMinutes);
    }
    SetASCII(outText, text);
}

bool VTime::FromRfc3339String(const VString& inText)
{
    if (inText.IsNull() || inText.IsEmpty()) {
        SetNull(true);
        return false;
    }
    bool nonASCII = false;
    std::string text = valuetext::ToASCII(inText, 255, &nonASCII);
    if (nonASCII) {
        // Positions and digits of a time text are plain ASCII.
        SetNull(true);
        return false;
    }

    enum Form { kFull, kTime, kDate, kNumber, kZeroT };
    Form form;
    long long year = 0, month = 0, day = 0, hour = 0, minute = 0, seconds = 0, fraction = 0;
    int fields = 0;
    const char* p = text.c_str();
    size_t posT = FindFirst(text, 'T');
    size_t posColon = FindFirst(text, ':');
    size_t posDash = FindFirst(text, '-');
    if (posT == 11) {
        form = kFull;
        if (ScanInt(p, 4, year) && ++fields && ScanLiteral(p, '-') && ScanInt(p, 2, month) && ++fields &&
            ScanLiteral(p, '-') && ScanInt(p, 2, day) && ++fields && ScanLiteral(p, 'T') && ScanInt(p, 2, hour) &&
            ++fields && ScanLiteral(p, ':') && ScanInt(p, 2, minute) && ++fields && ScanLiteral(p, ':') &&
            ScanSeconds(p, seconds, fraction))
            ++fields;
        if (year == 0 && month == 0 && day == 0 && fields < 6)
            form = kZeroT;
    } else if (posColon >= 3 && posColon <= 5) {
        form = kTime;
        if (ScanInt(p, 0, hour) && ++fields && ScanLiteral(p, ':') && ScanInt(p, 2, minute) && ++fields &&
            ScanLiteral(p, ':') && ScanSeconds(p, seconds, fraction))
            ++fields;
    } else if (posDash == 5) {
        form = kDate;
        if (ScanInt(p, 4, year) && ++fields && ScanLiteral(p, '-') && ScanInt(p, 2, month) && ++fields &&
            ScanLiteral(p, '-') && ScanInt(p, 2, day))
            ++fields;
    } else {
        form = kNumber;
        long long count = 0;
        if (ScanInt(p, 0, count)) {
            if (count > INT_MAX)
                count = INT_MAX;
            if (count < INT_MIN)
                count = INT_MIN;
            hour = count / 3600;
            minute = (count % 3600) / 60;
            fields = 3;
        }
    }

    const bool isUTC = text.size() < 11 || text.find('Z') != std::string::npos;
    char sign = 0;
    size_t signPos = FindLast(text, '+');
    if (signPos != 0) {
        sign = '+';
    } else {
        signPos = FindLast(text, '-');
        if (signPos != 0 && ((form != kFull && form != kDate) || signPos >= 11))
            sign = '-';
    }

    // A date that is there must be valid; a wrong one zeroes every field.
    bool dateFailed = false;
    if (!(year == 0 && month == 0 && day == 0) &&
        !CheckDate(ClampShort(year), ClampShort(month), ClampShort(day))) {
        dateFailed = true;
        year = month = day = hour = minute = seconds = fraction = 0;
    }

    bool accepted = false;
    switch (form) {
        case kFull:
            accepted = fields == 6 || (dateFailed && fields == 3);
            break;
        case kDate:
            accepted = fields == 3;
            break;
        default:
            accepted = fields == 2 || fields == 3;
            break;
    }
    if (!accepted) {
        SetNull(true);
        return false;
    }

    const bool zeroDate = year == 0 && month == 0 && day == 0;
    if (form == kFull && zeroDate && hour == 0 && minute == 0 && seconds == 0 && fraction == 0) {
        SetNull(true);
        return true;
    }
    if (zeroDate) {
        long long ms = ClampShort(hour) * kMsPerHour + ClampShort(minute) * kMsPerMinute +
                       ClampShort(seconds) * 1000LL + ClampShort(fraction);
        fYear = 0;
        fMonth = 0;
        fDay = 0;
        fMilliseconds = static_cast<int>(ms);
        _Touch();
        return true;
    }

    const short sy = ClampShort(year), smo = ClampShort(month), sd = ClampShort(day);
    const short sh = ClampShort(hour), smi = ClampShort(minute), ss = ClampShort(seconds);
    if (isUTC) {
        if (form == kFull)
            FromUTCTime(sy, smo, sd, sh, smi, ss, 0);
        else
            FromUTCTime(sy, smo, sd, 0, 0, 0, 0);
    } else if (sign != 0) {
        long long offsetHours = 0, offsetMinutes = 0;
        const char* q = text.c_str() + signPos;  // just past the sign
        if (!(ScanInt(q, 2, offsetHours) && ScanLiteral(q, ':') && ScanInt(q, 2, offsetMinutes)) || form != kFull) {
            SetNull(true);
            return false;
        }
        if (sign == '-') {
            offsetHours = -offsetHours;
            offsetMinutes = -offsetMinutes;
        }
        // The fields are the local time of the given offset: the instant is
        // those fields read as UTC, less the offset.
        FromUTCTime(sy, smo, sd, sh, smi, ss, 0);
        if (!IsNull())
            FromMilliseconds(GetMilliseconds() - (offsetHours * 60 + offsetMinutes) * 60 * 1000);
    } else {
        if (form == kFull)
            FromLocalTime(sy, smo, sd, sh, smi, ss, 0);
        else
            FromLocalTime(sy, smo, sd, 0, 0, 0, 0);
    }
    if (fraction != 0 && !IsNull())
        FromMilliseconds(GetMilliseconds() + fraction);
    return true;
}

void VTime::GetXMLString(VString& outText, unsigned int inOptions) const { GetRfc3339String(outText, inOptions); }

bool VTime::FromXMLString(const VString& inText)
{
    int length = inText.GetLength();
    const UniChar* units = inText.GetCPointer();
    if (length >= 3 && units != nullptr && units[0] == '!' && units[1] == '!') {
        VString inner;
        if (length > 4)
            inner.FromUniString(units + 2, length - 4);
        return FromRfc3339String(inner);
    }
    for (int i = 0; i < length && units != nullptr; ++i) {
        if (units[i] == '!') {
            FromString(inText);
            return true;
        }
    }
    return FromRfc3339String(inText);
}

VError VTime::GetJSONString(VString& outText, unsigned int inOptions) const
{
    VString text;
    bool dateOnly = (inOptions & 0x200) != 0 && fMilliseconds == 0;
    GetRfc3339String(text, dateOnly ? (kRfc3339UTC | kRfc3339DateOnly) : kRfc3339UTC);
    outText.Clear();
    if ((inOptions & 1) != 0)
        outText.AppendCString("\"");
    if ((inOptions & 0x1000) != 0)
        outText.AppendCString("!!");
    outText.AppendString(text);
    if ((inOptions & 0x1000) != 0)
        outText.AppendCString("!!");
    if ((inOptions & 1) != 0)
        outText.AppendCString("\"");
    return VE_OK;
}

VError VTime::FromJSONString(const VString& inText, unsigned int)
{
    FromXMLString(inText);
    return VE_OK;
}

VError VTime::GetJSONValue(VJSONValue& outValue, unsigned int inOptions) const
{
    if (IsNull()) {
        outValue.SetNull();
    } else if ((inOptions & 1) != 0) {
        outValue.SetTime(*this);
    } else {
        VString text;
        GetJSONString(text, 0);
        outValue.SetString(text);
    }
    return VE_OK;
}

VError VTime::FromJSONValue(const VJSONValue& inValue)
{
    if (inValue.GetType() == JSON_null) {
        SetNull(true);
        return VE_OK;
    }
    VString text;
    inValue.GetString(text, nullptr);
    FromXMLString(text);
    return VE_OK;
}

// ---------------------------------------------------------------------------
// Display and legacy text forms

void VTime::FormatByOS(VString& outDate, VString& outTime, bool inUTC) const
{
    if (IsNull()) {
        outDate.Clear();
        outTime.Clear();
        return;
    }
    // The system's short formats, through the calling task's international
    // text manager; without one (before the process object exists, or on a
    // thread that is no task) a fixed numeric form stands in for them.
    if (VIntlMgr* intl = GetCurrentTaskIntlMgr()) {
        intl->FormatTime(*this, outTime, eOS_SHORT_FORMAT, inUTC);
        intl->FormatDate(*this, outDate, eOS_SHORT_FORMAT, inUTC);
        return;
    }
    short f[7];
    if (inUTC)
        _GetUTCFields(f);
    else
        _GetLocalFields(f);
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d", f[0], f[1], f[2]);
    SetASCII(outDate, text);
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d", f[3], f[4], f[5]);
    SetASCII(outTime, text);
}

void VTime::FormatByOS(VString& outText, bool inUTC) const
{
    if (IsNull()) {
        outText.Clear();
        return;
    }
    VString date, time;
    FormatByOS(date, time, inUTC);
    outText.FromString(date);
    outText.AppendCString(" ");
    outText.AppendString(time);
}

void VTime::GetString(VString& outText) const { FormatByOS(outText, true); }

void VTime::GetStringLocalTime(VString& outText) const
{
    outText.Clear();
    if (IsNull())
        return;
    short f[7];
    _GetLocalFields(f);
    char text[80];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d:%03d", f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
    outText.AppendCString(text);
}

void VTime::toSimpleDateString(VString& outText) const
{
    if (IsNull()) {
        outText.SetNull(true);
        return;
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%d!%d!%d", fDay, fMonth, fYear);
    SetASCII(outText, text);
}

void VTime::FromString(const VString& inText)
{
    short numbers[7] = {0, 0, 0, 0, 0, 0, 0};
    int count = 0;
    bool simpleDate = false;
    std::string pending;
    const UniChar* units = inText.GetCPointer();
    int length = units != nullptr ? inText.GetLength() : 0;
    auto store = [&]() {
        if (!pending.empty() && count < 7)
            numbers[count++] = static_cast<short>(valuetext::ReadLong8(pending.c_str()));
        pending.clear();
    };
    for (int i = 0; i < length && count < 7; ++i) {
        UniChar c = units[i];
        if (IsASCIIDigit(c)) {
            if (pending.size() < 18)
                pending += static_cast<char>(c);
            continue;
        }
        if (c == '!') {
            if (count == 0) {
                simpleDate = true;
            } else if (!simpleDate) {
                pending.clear();  // the pending digits are dropped
                break;
            }
        }
        store();
    }
    store();
    if (simpleDate)
        FromUTCTime(numbers[2], numbers[1], numbers[0], 0, 0, 0, 0);
    else
        FromUTCTime(numbers[0], numbers[1], numbers[2], numbers[3], numbers[4], numbers[5], numbers[6]);
}

void VTime::GetRfc822String(VString& outText) const
{
    outText.Clear();
    short f[7];
    _GetUTCFields(f);
    char text[96];
    if (!IsNull()) {
        int weekDay = GetWeekDay();
        if (weekDay >= 0 && weekDay < 7)
            outText.AppendCString(kWeekDays[weekDay]);
    }
    std::snprintf(text, sizeof(text), ", %02d ", f[2]);
    outText.AppendCString(text);
    if (!IsNull() && f[1] >= 1 && f[1] <= 12)
        outText.AppendCString(kMonths[f[1] - 1]);
    std::snprintf(text, sizeof(text), " %04d %02d:%02d:%02d GMT", f[0], f[3], f[4], f[5]);
    outText.AppendCString(text);
}

void VTime::FromRfc822String(const VString& inText)
{
    const UniChar* units = inText.GetCPointer();
    int length = units != nullptr ? inText.GetLength() : 0;
    int i = 0;
    // The next run of digits after position i, as a number; -1 when none.
    auto nextNumber = [&]() -> long long {
        while (i < length && !IsASCIIDigit(units[i]))
            ++i;
        if (i >= length)
            return -1;
        long long value = 0;
        while (i < length && IsASCIIDigit(units[i])) {
            if (value < 1000000)
                value = value * 10 + (units[i] - '0');
            ++i;
        }
        return value;
    };
    short f[6] = {0, 0, 0, 0, 0, 0};  // day, month, year, hour, minute, second
    long long dayValue = nextNumber();
    if (dayValue >= 0) {
        f[0] = ClampShort(dayValue);
        while (i < length && !IsASCIILetter(units[i]))
            ++i;
        std::string name;
        while (i < length && IsASCIILetter(units[i])) {
            if (name.size() < 16)
                name += static_cast<char>(units[i]);
            ++i;
        }
        for (int m = 0; m < 12; ++m) {
            if (name.size() == 3 && ::strncasecmp(name.c_str(), kMonths[m], 3) == 0) {
                f[1] = static_cast<short>(m + 1);
                break;
            }
        }
        for (int k = 2; k < 6; ++k) {
            long long v = nextNumber();
            f[k] = v < 0 ? 0 : ClampShort(v);
        }
    }
    FromUTCTime(f[2], f[1], f[0], f[3], f[4], f[5], 0);
}

void VTime::FromCompilerDateTime(const char* inDate, const char* inTime)
{
    // The joined text is bounded like the 256-byte buffer it stands for.
    std::string joined = inDate != nullptr ? inDate : "";
    joined += ' ';
    joined += inTime != nullptr ? inTime : "";
    if (joined.size() > 255)
        joined.resize(255);
    std::vector<std::string> tokens;
    std::string token;
    for (char c : joined) {
        if (c == ' ' || c == ',' || c == ':') {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty())
        tokens.push_back(token);

    short date[7] = {0, 0, 0, 0, 0, 0, 0};
    if (!tokens.empty()) {
        static const char* const kLower[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                               "jul", "aug", "sep", "oct", "nov", "dec"};
        for (int m = 0; m < 12; ++m) {
            if (tokens[0] == kLower[m] || tokens[0] == kMonths[m]) {
                date[1] = static_cast<short>(m + 1);
                break;
            }
        }
        // Tokens 2 to 6: day, year, hour, minute, second.
        const int target[5] = {2, 0, 3, 4, 5};
        for (size_t k = 1; k < tokens.size() && k <= 5; ++k) {
            long long v = valuetext::ReadLong8(tokens[k].c_str());
            date[target[k - 1]] = ClampShort(v < INT_MIN ? INT_MIN : (v > INT_MAX ? INT_MAX : v));
        }
    }
    FromLocalTime(date[0], date[1], date[2], date[3], date[4], date[5], date[6]);
}

// ---------------------------------------------------------------------------
// Value kind

const VTime::InfoType VTime::sInfo;

const VValueInfo* VTime::GetValueInfo() const { return &sInfo; }

VValue* VTime::Clone() const { return new VTime(*this); }

bool VTime::CanBeEvaluated() const { return true; }

long long VTime::GetLong8OrMilliSeconds() const { return GetMilliseconds(); }

double VTime::GetReal() const { return static_cast<double>(GetStamp()); }

void VTime::GetValue(VValueSingle& outValue) const { outValue.FromTime(*this); }

void VTime::FromValue(const VValueSingle& inValue)
{
    if (&inValue != this)
        inValue.GetTime(*this);
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

bool VTime::FromValueSameKind(const VValue* inValue)
{
    const VTime* other = static_cast<const VTime*>(inValue);
    FromTime(*other);
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

const void* VTime::LoadFromPtr(const void* inData, bool)
{
    FromStamp(ReadRawScalar<unsigned long long>(inData));
    return static_cast<const char*>(inData) + sizeof(unsigned long long);
}

void* VTime::WriteToPtr(void* inData, bool, unsigned long) const
{
    unsigned long long stamp = GetStamp();
    std::memcpy(inData, &stamp, sizeof(stamp));
    return static_cast<char*>(inData) + sizeof(stamp);
}

unsigned long VTime::GetSpace(unsigned long long&, unsigned long) const { return 8; }

unsigned long VTime::GetStreamSpace() const { return 8; }

VError VTime::ReadFromStream(VStream* ioStream, int)
{
    short year = 0;
    int count = 1;
    ioStream->GetWords(&year, &count);
    unsigned char monthDay[2] = {0, 0};
    ioStream->GetData(monthDay, 2);
    int ms = 0;
    int msCount = 1;
    ioStream->GetLongs(&ms, &msCount);
    VError err = ioStream->GetLastError();
    if (err == VE_OK && count == 1 && msCount == 1) {
        fYear = year;
        fMonth = monthDay[0];
        fDay = monthDay[1];
        fMilliseconds = ms;
    }
    return err;
}

VError VTime::WriteToStream(VStream* ioStream, int) const
{
    short year = fYear;
    ioStream->PutWords(&year, 1);
    unsigned char monthDay[2] = {fMonth, fDay};
    ioStream->PutData(monthDay, 2);
    int ms = fMilliseconds;
    ioStream->PutLongs(&ms, 1);
    return ioStream->GetLastError();
}

CompareResult VTime::CompareTo(const VValueSingle& inValue, bool) const
{
    VTime scratch;
    inValue.GetTime(scratch);
    scratch.SetNull(inValue.IsNull());
    return CompareTo(scratch);
}

CompareResult VTime::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareTo(*static_cast<const VTime*>(inValue));
}

bool VTime::EqualToSameKind(const VValue* inValue, bool) const
{
    return CompareTo(*static_cast<const VTime*>(inValue)) == CR_EQUAL;
}

CompareResult VTime::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    VTime other(ReadRawScalar<unsigned long long>(inPtrToValueData));
    return CompareTo(other);
}

bool VTime::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareToSameKindPtr(inPtrToValueData, false) == CR_EQUAL;
}

CompareResult VTime::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue, false);
}

bool VTime::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

CompareResult VTime::CompareToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData, false);
}

bool VTime::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

}  // namespace qelt
