// The behaviour shared by the signed integer values (VByte, VWord, VLong,
// VLong8): one number of type T after the flags byte, converted to and from
// the other kinds by plain casts, stored raw in machine byte order, compared
// as T with a value of the same kind.
//
// DERIVED is the concrete class (it owns the kind descriptor sInfo and is
// what Clone creates). The members are defined in VIntegerValue.cpp and
// instantiated there for the four integer classes only.
#pragma once

#include <type_traits>

#include "kernel/VValue.h"

namespace qelt {

class VJSONValue;

template <class DERIVED, typename T>
class VIntegerValue : public VValueSingle {
public:
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

    // JSON values: null for a null value, else a JSON number.
    VError GetJSONValue(VJSONValue& outJSONValue, unsigned int inOptions) const override;
    // Stores the floor of the JSON number when it fits the width, else 0;
    // the value is null exactly when the JSON value is null.
    VError FromJSONValue(const VJSONValue& inJSONValue) override;

protected:
    // The width at which the number is exchanged with other values, strings
    // and durations (through GetWord/FromWord, GetLong/FromLong or
    // GetLong8/FromLong8) and written to streams: the 8-bit value travels as
    // a 16-bit number, every wider one at its own width.
    using WideType = std::conditional_t<(sizeof(T) < sizeof(short)), short, T>;
    // The width at which the number is compared with a value of another
    // kind: int for the kinds up to 32 bits, long long for the 64-bit one.
    using CompareType = decltype(+T());

    // 0, not null, dirty.
    VIntegerValue() : fValue(0) {}
    explicit VIntegerValue(T inValue) : fValue(inValue) {}
    // With inClear false, loads the raw value at inDataPtr (not null, dirty);
    // otherwise the pointer is not read and the value is cleared.
    VIntegerValue(const T* inDataPtr, bool inClear);
    VIntegerValue(const VIntegerValue& inOther) = default;
    VIntegerValue& operator=(const VIntegerValue& inOther) = default;
    ~VIntegerValue() override = default;

private:
    // Clears the null flag and sets the dirty flag, as every setter does.
    void _Touch();

    T fValue;
};

class VByte;
class VWord;
class VLong;
class VLong8;

// Defined once, in VIntegerValue.cpp.
extern template class VIntegerValue<VByte, signed char>;
extern template class VIntegerValue<VWord, short>;
extern template class VIntegerValue<VLong, int>;
extern template class VIntegerValue<VLong8, long long>;

}  // namespace qelt
