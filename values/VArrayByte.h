// The array of signed 8-bit integers (element kind 2, array kind 101).
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayByte : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayByte, 101, signed char>;

    // An array of that many zero elements (empty for a negative count or
    // when the block cannot be had).
    explicit VArrayByte(int inCount = 0);
    VArrayByte(const VArrayByte& inSource);
    ~VArrayByte() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // The element at the position; 0 outside the array.
    signed char GetByte(int inPosition) const;
    // Nothing happens outside the array.
    void FromByte(signed char inValue, int inPosition) override;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    int Find(signed char inValue, int inStart, unsigned char inForward, CompareMethod inMethod);
    // Search by halving of an ascending array.
    int QuickFind(signed char inValue) const;
    // The greatest / smallest element (-128 / 127 for an empty array).
    signed char GetMax() const;
    signed char GetMin() const;

    void Sort(int inFrom, int inTo, bool inDescending = false) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    signed char* _Elems() const { return reinterpret_cast<signed char*>(fData); }
};

}  // namespace qelt
