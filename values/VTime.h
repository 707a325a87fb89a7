// A point in time, held in UTC with millisecond resolution: the value kind 8.
// Fields: a Gregorian year, month and day, and the milliseconds since
// midnight. A time whose year, month and day are all 0 (the zero date) is a
// time of day without a date; it is distinct from a null time.
#pragma once

#include "kernel/VValue.h"
#include "kernel/VValueInfo_scalar.h"
#include "values/VDuration.h"

namespace qelt {

class VJSONValue;

class VString;

enum VTimeInitParam { eInitWithZero = 0, eInitWithCurrentTime = 1 };

class VTime : public VValueSingle {
public:
    using InfoType = VValueInfo_scalar<VTime, 8, unsigned long long>;

    // Option bits of GetRfc3339String and GetXMLString.
    static constexpr unsigned int kRfc3339UTC = 1;
    static constexpr unsigned int kRfc3339LocalWithoutZone = 2;
    static constexpr unsigned int kRfc3339TimeOnly = 4;
    static constexpr unsigned int kRfc3339DateOnly = 8;
    static constexpr unsigned int kRfc3339ZeroDate = 16;
    static constexpr unsigned int kRfc3339NoMilliseconds = 32;

    // The zero stamp, not null.
    VTime();
    // 1: the current UTC time; anything else: the zero stamp. Not null.
    explicit VTime(VTimeInitParam inParam);
    explicit VTime(unsigned long long inStamp);
    // With inInitWithZero set the pointer is not read: the zero stamp.
    VTime(const unsigned long long* inStamp, bool inInitWithZero);
    VTime(const VTime& inOther);
    // FromTime; the assigned time keeps its own dirty flag unless its null
    // flag changes.
    VTime& operator=(const VTime& inOther);
    ~VTime() override;

    // ---- Setting
    void FromTime(const VTime& inOther) override;
    void FromStamp(unsigned long long inStamp);
    void Clear() override;
    // Makes the time null when its date is the zero date.
    void NullIfZero();
    // Validated setting; invalid fields leave a null time.
    void FromUTCTime(short inYear, short inMonth, short inDay, short inHour, short inMinute, short inSecond,
                     short inMillisecond);
    static void Now(VTime& outTime);
    void FromSystemTime();
    // -1 makes the time null; 0 the zero stamp; a count whose date falls
    // outside the years 0 to 32767 makes it null.
    void FromMilliseconds(long long inCount);
    void FromJulianDay(int inDayNumber);
    void FromJulianDate(short inYear, short inMonth, short inDay);

    // ---- Reading
    void GetUTCTime(short& outYear, short& outMonth, short& outDay, short& outHour, short& outMinute,
                    short& outSecond, short& outMillisecond) const;
    unsigned long long GetStamp() const;
    long long GetMilliseconds() const;
    int GetJulianDay() const;
    int GetWeekDay() const;
    int GetYearDay() const;
    void GetJulianDate(short& outYear, short& outMonth, short& outDay) const;
    void GetTime(VTime& outTime) const override;

    // ---- Calendar functions
    static int ComputeJulianDay(short inYear, short inMonth, short inDay);
    static int ComputeWeekDay(short inYear, short inMonth, short inDay);
    static int ComputeYearDay(short inYear, short inMonth, short inDay);
    static bool IsLeapYear(short inYear);
    static bool CheckDate(short inYear, short inMonth, short inDay);

    // ---- Arithmetic (through the millisecond count)
    void AddMilliseconds(long long inCount);
    void AddSeconds(int inCount);
    void AddMinutes(int inCount);
    void AddHours(int inCount);
    void AddDays(int inCount);
    void Add(const VDuration& inDuration);
    void Substract(const VDuration& inDuration);
    void Substract(const VTime& inOther, VDuration& outDuration) const;
    // Calendar moves; a day the new month lacks becomes its last day, a year
    // outside 0 to 32767 makes the time null. A null time or a time without
    // a date is left as it is.
    void AddYears(int inCount);
    void AddMonths(int inCount);

    // ---- Comparison (null flags are not looked at)
    bool operator==(const VTime& inOther) const { return CompareTo(inOther) == CR_EQUAL; }
    bool operator!=(const VTime& inOther) const { return CompareTo(inOther) != CR_EQUAL; }
    bool operator<(const VTime& inOther) const { return CompareTo(inOther) == CR_SMALLER; }
    bool operator<=(const VTime& inOther) const { return CompareTo(inOther) != CR_BIGGER; }
    bool operator>(const VTime& inOther) const { return CompareTo(inOther) == CR_BIGGER; }
    bool operator>=(const VTime& inOther) const { return CompareTo(inOther) != CR_SMALLER; }
    CompareResult CompareTo(const VTime& inOther) const;

    // ---- Local time fields
    void GetLocalTime(short& outYear, short& outMonth, short& outDay, short& outHour, short& outMinute,
                      short& outSecond, short& outMillisecond) const;
    int GetLocalYear() const;
    int GetLocalMonth() const;
    int GetLocalDay() const;
    int GetLocalHour() const;
    int GetLocalMinute() const;
    int GetLocalSecond() const;
    int GetLocalMillisecond() const;
    VDuration GetLocalDurationSinceMidnight() const;
    void FromLocalTime(short inYear, short inMonth, short inDay, short inHour, short inMinute, short inSecond,
                       short inMillisecond);
    void SetLocalYear(int inYear);
    void SetLocalMonth(int inMonth);
    void SetLocalDay(int inDay);
    void SetLocalHour(int inHour);
    void SetLocalMinute(int inMinute);
    void SetLocalSecond(int inSecond);
    void SetLocalMillisecond(int inMillisecond);
    void FromToday(int inMilliseconds);
    long long GetLocalUnixTime(bool inWithMilliseconds) const;

    // ---- RFC 3339, XML and JSON text
    void GetRfc3339String(VString& outText, unsigned int inOptions) const;
    bool FromRfc3339String(const VString& inText);
    void GetXMLString(VString& outText, unsigned int inOptions) const override;
    bool FromXMLString(const VString& inText) override;
    VError GetJSONString(VString& outText, unsigned int inOptions) const override;
    VError FromJSONString(const VString& inText, unsigned int inOptions) override;
    // A null time gives JSON null; option 1 a JSON date (the UTC day);
    // otherwise a JSON string of the UTC time with milliseconds.
    VError GetJSONValue(VJSONValue& outValue, unsigned int inOptions) const override;
    // JSON null makes the time null; any other value is read from its text.
    VError FromJSONValue(const VJSONValue& inValue) override;

    // ---- Display and legacy text forms
    void FormatByOS(VString& outDate, VString& outTime, bool inUTC) const;
    void FormatByOS(VString& outText, bool inUTC) const;
    void GetString(VString& outText) const override;
    void GetStringLocalTime(VString& outText) const;
    void toSimpleDateString(VString& outText) const;
    void FromString(const VString& inText) override;
    void GetRfc822String(VString& outText) const;
    void FromRfc822String(const VString& inText);
    void FromCompilerDateTime(const char* inDate, const char* inTime);

    // ---- Value kind
    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    long long GetLong8OrMilliSeconds() const override;
    double GetReal() const override;
    void GetValue(VValueSingle& outValue) const override;
    void FromValue(const VValueSingle& inValue) override;
    bool FromValueSameKind(const VValue* inValue) override;

    const void* LoadFromPtr(const void* inData, bool inRefresh = false) override;
    void* WriteToPtr(void* inData, bool inRefresh = false, unsigned long inMax = 0) const override;
    unsigned long GetSpace(unsigned long long& ioSize, unsigned long inMax = 0) const override;
    unsigned long GetStreamSpace() const override;
    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* inValue,
                                               const VCompareOptions& inOptions) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                  const VCompareOptions& inOptions) const override;
    bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                       const VCompareOptions& inOptions) const override;

    static const InfoType sInfo;

private:
    // The seven UTC fields (zeros when null) and the local ones.
    void _GetUTCFields(short* outDate) const;
    void _GetLocalFields(short* outDate) const;
    // One of the seven local fields (year, month, day, hour, minute, second,
    // millisecond), by index.
    int _GetLocalField(int inIndex) const;
    // Local fields through LocalToUTCTime, then FromUTCTime.
    void _FromLocalFields(short* ioDate);
    // SetLocalHour and its twins: field 3 to 6 of the local date set to n.
    void _SetLocalField(int inField, long long inValue, long long inUnit);
    // Stores the date of a day number and the milliseconds of the day, or
    // makes the time null when the year falls outside 0 to 32767.
    void _StoreDayNumber(long long inDayNumber, long long inMillisecondsOfDay);
    void _Touch();

    short fYear;
    unsigned char fMonth;
    unsigned char fDay;
    int fMilliseconds;
};

}  // namespace qelt
