// The signed 8-bit integer value (kind 2). Its stream body is a 16-bit number:
// the value sign-extended on writing, its low-order byte on reading.
#pragma once

#include "kernel/VValue.h"
#include "kernel/VValueInfo_scalar.h"

namespace qelt {

class VJSONValue;

class VByte : public VValueSingle {
public:
    using InfoType = VValueInfo_scalar<VByte, 2, signed char>;

    // 0, not null, dirty.
    VByte();
    explicit VByte(signed char inValue);
    // With inClear false, loads the raw value at inDataPtr (not null, dirty);
    // otherwise the pointer is not read and the value is cleared.
    VByte(const signed char* inDataPtr, bool inClear);
    VByte(const VByte& inOther);
    VByte& operator=(const VByte& inOther);
    ~VByte() override;

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

    static const InfoType sInfo;

private:
    // Clears the null flag and sets the dirty flag, as every setter does.
    void _Touch();

    signed char fValue;
};

}  // namespace qelt
