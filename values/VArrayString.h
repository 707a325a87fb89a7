// The array of owned strings (element kind 10, array kind 109): one pointer
// per element, null for an absent element. The array owns every present
// string; copies clone them, so two arrays never share one.
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayString : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayString, 109, char>;

    // That many absent elements (empty for a negative count or when the
    // block cannot be had).
    explicit VArrayString(int inCount = 0);
    VArrayString(const VArrayString& inSource);
    ~VArrayString() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // Outside the array nothing happens; an absent element becomes a copy.
    void FromString(const VString& inValue, int inPosition) override;
    // Outside the array, or for an absent element, the string is cleared.
    void GetString(VString& outValue, int inPosition) const;

    void GetValue(VValueSingle& outValue, int inPosition) const override;
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    // Compares without diacritical sensitivity; absent elements never match.
    int Find(const VString& inValue, int inStart, unsigned char inForward, CompareMethod inMethod);
    // Search by halving of an array sorted ascending.
    int QuickFind(const VString& inValue) const;

    bool Copy(const VArrayValue& inSource) override;
    void DeleteElements(int inFrom, int inNumber) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    // Absent before present; present strings compare with diacritical marks.
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    VString** _Elems() const { return reinterpret_cast<VString**>(fData); }
    VString* _At(int inPosition) const { return ValidIndex(inPosition) ? _Elems()[inPosition - 1] : nullptr; }
};

}  // namespace qelt
