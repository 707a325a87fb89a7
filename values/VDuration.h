// A signed span of time in milliseconds: the value kind 9.
#pragma once

#include <string>

#include "kernel/VValue.h"
#include "kernel/VValueInfo_scalar.h"

namespace qelt {

class VJSONValue;

class VString;

// Text helpers shared by the time and duration values: plain ASCII texts
// and numbers read in the C locale, whatever the process locale is.
namespace valuetext {
// The text's units as bytes, at most inMax of them; a unit beyond ASCII
// becomes '?' and sets *outNonASCII (when given).
std::string ToASCII(const VString& inText, size_t inMax, bool* outNonASCII = nullptr);
// A whole number: leading blanks, an optional sign, then decimal digits up to
// the first other character; 0 when there are none; clamped to 64 bits.
long long ReadLong8(const char* inText);
// A real number in the C locale; false (and 0) when none is there or it is
// not finite. *outEnd (when given) points just past what was read.
bool ReadCDouble(const char* inText, double& outValue, const char** outEnd = nullptr);
// 64-bit sums and products that stop at the bounds instead of overflowing.
long long SaturatedAdd(long long a, long long b);
long long SaturatedMul(long long a, long long b);
}  // namespace valuetext

class VDuration : public VValueSingle {
public:
    using InfoType = VValueInfo_scalar<VDuration, 9, long long>;

    // 0 ms, not null.
    VDuration();
    explicit VDuration(long long inMilliseconds);
    // With inClear set the pointer is not read and the count is 0.
    VDuration(const long long* inDataPtr, bool inClear);
    // A copy is never null.
    VDuration(const VDuration& inOther);
    VDuration& operator=(const VDuration& inOther);
    ~VDuration() override;

    // ---- Setting
    void Clear() override;
    void FromNbMilliseconds(long long inCount);
    void FromNbSeconds(long long inCount);
    void FromNbMinutes(long long inCount);
    void FromNbHours(long long inCount);
    void FromNbDays(long long inCount);
    void SetDuration(int inDays, int inHours, int inMinutes, int inSeconds, int inMilliseconds);
    void FromDecimalHour(double inHours);

    // ---- Reading
    void GetDuration(int& outDays, int& outHours, int& outMinutes, int& outSeconds, int& outMilliseconds) const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetMillisecond() const;
    long long ConvertToMilliseconds() const { return fMilliseconds; }
    long long ConvertToSeconds() const { return fMilliseconds / 1000; }
    long long ConvertToMinutes() const { return fMilliseconds / 60000; }
    long long ConvertToHours() const { return fMilliseconds / 3600000; }
    double GetDecimalHour() const { return static_cast<double>(fMilliseconds) / 3600000.0; }

    // ---- Arithmetic
    void Add(const VDuration& inOther);
    void Substract(const VDuration& inOther);
    void Multiply(double inFactor);
    void Divide(double inDivisor);
    double Divide(const VDuration& inOther) const;
    // A zero divisor leaves the count unchanged.
    void Remainder(const VDuration& inOther);
    void AddMilliseconds(long long inCount);
    void AddSeconds(int inCount);
    void AddMinutes(int inCount);
    void AddHours(int inCount);
    void AddDays(int inCount);
    void AddDuration(int inDays, int inHours, int inMinutes, int inSeconds, int inMilliseconds);
    void AddDecimalHour(double inHours);
    void AdjustDay(int inDay);
    void AdjustHour(int inHour);
    void AdjustMinute(int inMinute);
    void AdjustSecond(int inSecond);
    void AdjustMillisecond(int inMillisecond);

    // ---- Comparison (null flags are not looked at)
    bool operator==(const VDuration& inOther) const { return fMilliseconds == inOther.fMilliseconds; }
    bool operator!=(const VDuration& inOther) const { return fMilliseconds != inOther.fMilliseconds; }
    bool operator<(const VDuration& inOther) const { return fMilliseconds < inOther.fMilliseconds; }
    bool operator<=(const VDuration& inOther) const { return fMilliseconds <= inOther.fMilliseconds; }
    bool operator>(const VDuration& inOther) const { return fMilliseconds > inOther.fMilliseconds; }
    bool operator>=(const VDuration& inOther) const { return fMilliseconds >= inOther.fMilliseconds; }
    CompareResult CompareTo(const VDuration& inOther) const;

    // ---- Text
    void GetString(VString& outValue) const override;
    void FromString(const VString& inValue) override;
    // Appends days:hours:minutes:seconds:milliseconds.
    void GetFormattedString(VString& ioValue) const;
    // Option 1: ISO 8601 ("P1DT1H1M1.00100004673004S"); else whole seconds.
    void GetXMLString(VString& outValue, unsigned int inOptions) const override;
    bool FromXMLString(const VString& inValue) override;
    VError GetJSONString(VString& outValue, unsigned int inOptions) const override;
    VError FromJSONString(const VString& inValue, unsigned int inOptions) override;
    // A null duration gives JSON null; option 4 the text "H:MM:SS" (total
    // hours); option 2 a number of milliseconds; otherwise a number of seconds.
    VError GetJSONValue(VJSONValue& outValue, unsigned int inOptions) const override;
    // JSON null makes the duration null; any other value is read as a number
    // of seconds (truncated to the millisecond, saturated at the count's limits).
    VError FromJSONValue(const VJSONValue& inValue) override;

    // ---- Value kind
    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;

    bool GetBoolean() const override;
    signed char GetByte() const override;
    short GetWord() const override;
    int GetLong() const override;
    long long GetLong8() const override;
    long long GetLong8OrMilliSeconds() const override;
    double GetReal() const override;
    void GetDuration(VDuration& outValue) const override;
    void GetValue(VValueSingle& outValue) const override;

    void FromBoolean(unsigned char inValue) override;
    void FromByte(signed char inValue) override;
    void FromWord(short inValue) override;
    void FromLong(int inValue) override;
    void FromLong8(long long inValue) override;
    void FromReal(double inValue) override;
    void FromDuration(const VDuration& inValue) override;
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
    // Sets the count, clears the null flag and sets the dirty flag.
    void _Set(long long inMilliseconds);

    long long fMilliseconds;
};

}  // namespace qelt
