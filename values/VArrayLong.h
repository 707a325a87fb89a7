// The array of 32-bit integers (element kind 4, array kind 103).
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayLong : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayLong, 103, int>;

    // An array of that many zero elements (empty for a negative count or
    // when the block cannot be had).
    explicit VArrayLong(int inCount = 0);
    VArrayLong(const VArrayLong& inSource);
    VArrayLong& operator=(const VArrayLong& inSource);
    ~VArrayLong() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // The element at the position; 0 outside the array.
    int GetLong(int inPosition) const;
    // Nothing happens outside the array.
    void FromLong(int inValue, int inPosition) override;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    int Find(int inValue, int inStart, unsigned char inForward, CompareMethod inMethod);
    // Search by halving of an ascending array.
    int QuickFind(int inValue) const;
    // The greatest / smallest element (INT_MIN / INT_MAX for an empty array).
    int GetMax() const;
    int GetMin() const;

    void Sort(int inFrom, int inTo, bool inDescending = false) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    int* _Elems() const { return reinterpret_cast<int*>(fData); }
};

}  // namespace qelt
