// The array of 8-byte reals, compared exactly (element kind 6, array kind 105).
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayReal : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayReal, 105, double>;

    // An array of that many zero elements (empty for a negative count or
    // when the block cannot be had).
    explicit VArrayReal(int inCount = 0);
    VArrayReal(const VArrayReal& inSource);
    ~VArrayReal() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // The element at the position; 0 outside the array.
    double GetReal(int inPosition) const;
    // Nothing happens outside the array.
    void FromReal(double inValue, int inPosition) override;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    int Find(double inValue, int inStart, unsigned char inForward, CompareMethod inMethod);
    // Search by halving of an ascending array.
    int QuickFind(double inValue) const;
    // Statistics in element order; 0.0 for an empty array. The square sum is
    // that of the deviations from the average, the "standard deviation" the
    // population variance (no square root).
    double GetSum() const;
    double GetAverage() const;
    double GetSquareSum() const;
    double GetStdDev() const;

    void Sort(int inFrom, int inTo, bool inDescending = false) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    double* _Elems() const { return reinterpret_cast<double*>(fData); }
};

}  // namespace qelt
