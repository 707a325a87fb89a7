// The real value (kind 6): one IEEE 754 double. Reals compare with a
// tolerance, have their own XML and JSON texts (written and read in the C
// locale whatever the process locale is), and their descriptor orders NaN
// before every number and honours comparison options.
#pragma once

#include "kernel/VValue.h"
#include "kernel/VValueInfo_scalar.h"

namespace qelt {

class VJSONValue;

class VReal : public VValueSingle {
public:
    class VValueInfo_real;

    // The tolerance of the value's own comparisons.
    static constexpr double kEpsilon = 1e-6;

    // 0.0, not null, dirty.
    VReal();
    explicit VReal(double inValue);
    // With inClear false, loads the raw double at inDataPtr (not null,
    // dirty); otherwise the pointer is not read and the value is cleared.
    VReal(const double* inDataPtr, bool inClear);
    VReal(const VReal& inOther);
    VReal& operator=(const VReal& inOther);
    ~VReal() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    void Clear() override;
    bool CanBeEvaluated() const override;

    bool GetBoolean() const override;
    signed char GetByte() const override;
    short GetWord() const override;
    int GetLong() const override;
    long long GetLong8() const override;
    double GetReal() const override;
    void GetDuration(VDuration& outValue) const override;
    void GetString(VString& outValue) const override;
    void GetValue(VValueSingle& outValue) const override;

    void FromBoolean(unsigned char inValue) override;
    void FromByte(signed char inValue) override;
    void FromWord(short inValue) override;
    void FromLong(int inValue) override;
    void FromLong8(long long inValue) override;
    void FromReal(double inValue) override;
    void FromDuration(const VDuration& inValue) override;
    void FromString(const VString& inValue) override;
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

    // Text forms. Integral doubles up to 2^53 - 1 in magnitude are written as
    // integers, NaN as "NaN" and the infinities as "INF" and "-INF", any other
    // double with "%.14G"; the decimal point is always '.'.
    static void RealToXMLString(double inValue, VString& outString);
    // The same, except that NaN and both infinities give "null".
    static void RealToJSONString(double inValue, VString& outString);
    // The same JSON text as ASCII into a buffer of at least kJSONCharsSize
    // bytes, terminated; returns its length.
    static constexpr size_t kJSONCharsSize = 32;
    static int RealToJSONChars(double inValue, char* outBuffer);

    void GetXMLString(VString& outValue, unsigned int inOptions) const override;
    // Reads the whole text as a number ('.' or ',' as decimal point); false,
    // with nothing changed, when the text is not a number or longer than 254
    // UTF-8 bytes.
    bool FromXMLString(const VString& inValue) override;
    VError GetJSONString(VString& outJSONString, unsigned int inOptions) const override;
    // As FromXMLString; text it cannot read makes the value 0.0.
    VError FromJSONString(const VString& inJSONString, unsigned int inOptions) override;
    // JSON values: null for a null value, else a JSON number (a NaN or an
    // infinity is written as null when the JSON value becomes text).
    VError GetJSONValue(VJSONValue& outJSONValue, unsigned int inOptions) const override;
    // A JSON null only sets the null flag (the member is kept); any other JSON
    // value stores its number reading.
    VError FromJSONValue(const VJSONValue& inJSONValue) override;

    static const VValueInfo_real sInfo;

private:
    void _Touch();

    double fValue;
};

// The descriptor of kind 6.
class VReal::VValueInfo_real : public VValueInfo_scalar<VReal, 6, double> {
public:
    // With inExact set the comparison is exact; otherwise doubles closer
    // than 1e-6 are equal.
    CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                      bool inExact = false) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                              bool inExact = false) const override;
    // NaN sorts before every number and two NaNs are equal; the options'
    // diacritical flag asks for an exact comparison, else their tolerance counts.
    CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                 const VCompareOptions& inOptions) const override;
};

// Turns a packed decimal record into a double: a 4-byte exponent e, a sign
// byte (0 zero, 0xFF negative, else positive), a 4-byte digit count n and
// (n + 1) / 2 bytes of two digits each; the number is 0.d1d2...dn x 10^e.
// A record with no digits, more than 1024 digits or a digit byte above 99
// gives NaN.
double MAPM_FloatToReal(const void* inRecord);

}  // namespace qelt
