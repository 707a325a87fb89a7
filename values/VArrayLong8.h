// The array of 64-bit integers (element kind 5, array kind 104).
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayLong8 : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayLong8, 104, long long>;

    // An array of that many zero elements (empty for a negative count or
    // when the block cannot be had).
    explicit VArrayLong8(int inCount = 0);
    VArrayLong8(const VArrayLong8& inSource);
    ~VArrayLong8() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // The element at the position; 0 outside the array.
    long long GetLong8(int inPosition) const;
    // Nothing happens outside the array.
    void FromLong8(long long inValue, int inPosition) override;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    int Find(long long inValue, int inStart, unsigned char inForward, CompareMethod inMethod);
    // Search by halving of an ascending array.
    int QuickFind(long long inValue) const;

    void Sort(int inFrom, int inTo, bool inDescending = false) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    long long* _Elems() const { return reinterpret_cast<long long*>(fData); }
};

}  // namespace qelt
