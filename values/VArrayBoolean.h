// The array of booleans (element kind 1, array kind 100), packed as bits:
// element i (0-based) is bit i mod 8 of byte i / 8, least significant bit
// first. The block holds count / 8 + 1 bytes. True ranks before false.
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayBoolean : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayBoolean, 100, unsigned char>;

    // An array of that many false elements (empty for a negative count or
    // when the block cannot be had).
    explicit VArrayBoolean(int inCount = 0);
    VArrayBoolean(const VArrayBoolean& inSource);
    ~VArrayBoolean() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // Every new element is false, also in the last partly used byte.
    bool SetCount(int inCount) override;

    // The element at the position; false outside the array.
    bool GetBoolean(int inPosition) const;
    // Nothing happens outside the array.
    void FromBoolean(unsigned char inValue, int inPosition) override;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    // Looks for a bit equal to the value (0 or 1); the method is not used.
    int Find(unsigned char inValue, int inStart, unsigned char inForward, CompareMethod inMethod);

    // The whole array is rewritten from its count of true elements; a part
    // is sorted through the general sort (true first when ascending).
    void Sort(int inFrom, int inTo, bool inDescending = false) override;
    // The bits stay as they are.
    void Unsort() override;

    void MoveElements(int inFrom, int inTo, int inNumber) override;
    void InitElements(int inFrom, int inNumber) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

protected:
    long long _BlockSizeFor(int inCount) const override;

private:
    static bool _GetBit(const unsigned char* inData, int i) { return (inData[i >> 3] >> (i & 7)) & 1; }
    static void _SetBit(unsigned char* inData, int i, bool inValue)
    {
        unsigned char mask = static_cast<unsigned char>(1u << (i & 7));
        if (inValue)
            inData[i >> 3] = static_cast<unsigned char>(inData[i >> 3] | mask);
        else
            inData[i >> 3] = static_cast<unsigned char>(inData[i >> 3] & ~mask);
    }
};

}  // namespace qelt
