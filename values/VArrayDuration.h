// The array of durations, kept as signed milliseconds (element kind 9, array kind 108).
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayDuration : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayDuration, 108, long long>;

    // An array of that many zero elements (empty for a negative count or
    // when the block cannot be had).
    explicit VArrayDuration(int inCount = 0);
    VArrayDuration(const VArrayDuration& inSource);
    ~VArrayDuration() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    void GetDuration(VDuration& outValue, int inPosition) const;
    // Nothing happens outside the array.
    void FromDuration(const VDuration& inValue, int inPosition) override;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    int Find(const VDuration& inValue, int inStart, unsigned char inForward, CompareMethod inMethod);
    // Search by halving of an ascending array.
    int QuickFind(const VDuration& inValue) const;

    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    long long* _Elems() const { return reinterpret_cast<long long*>(fData); }
};

}  // namespace qelt
