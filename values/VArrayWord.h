// The array of 16-bit integers (element kind 3, array kind 102).
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayWord : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayWord, 102, short>;

    // An array of that many zero elements (empty for a negative count or
    // when the block cannot be had).
    explicit VArrayWord(int inCount = 0);
    VArrayWord(const VArrayWord& inSource);
    ~VArrayWord() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // The element at the position; 0 outside the array.
    short GetWord(int inPosition) const;
    // Nothing happens outside the array.
    void FromWord(short inValue, int inPosition) override;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    int Find(short inValue, int inStart, unsigned char inForward, CompareMethod inMethod);
    // Search by halving of an ascending array.
    int QuickFind(short inValue) const;
    // The greatest / smallest element (-32768 / 32767 for an empty array).
    short GetMax() const;
    short GetMin() const;

    void Sort(int inFrom, int inTo, bool inDescending = false) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    short* _Elems() const { return reinterpret_cast<short*>(fData); }
};

}  // namespace qelt
