// The array of times, kept as 64-bit time stamps (chronological as unsigned numbers) (element kind 8, array kind 107).
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayTime : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayTime, 107, unsigned long long>;

    // An array of that many zero elements (empty for a negative count or
    // when the block cannot be had).
    explicit VArrayTime(int inCount = 0);
    VArrayTime(const VArrayTime& inSource);
    ~VArrayTime() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // Outside the array the time is left unchanged.
    void GetTime(VTime& outValue, int inPosition) const;
    // Nothing happens outside the array.
    void FromTime(const VTime& inValue, int inPosition) override;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    int Find(const VTime& inValue, int inStart, unsigned char inForward, CompareMethod inMethod);

    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    unsigned long long* _Elems() const { return reinterpret_cast<unsigned long long*>(fData); }
};

}  // namespace qelt
