// The array of owned blobs (element kind 11, array kind 110): one pointer
// per element, null for an absent element. The array owns every present
// blob; copies clone them. Blobs have no order: all present blobs rank equal.
#pragma once

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VBlobWithPtr;

class VArrayBlob : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayBlob, 110, char>;

    // That many absent elements (empty for a negative count or when the
    // block cannot be had).
    explicit VArrayBlob(int inCount = 0);
    VArrayBlob(const VArrayBlob& inSource);
    ~VArrayBlob() override;

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    unsigned short GetElemValueKind() const override;

    // Only a blob value is stored; anything else is ignored.
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    // A blob destination takes the element; outside the array, for an
    // absent element or a destination that is no blob, it is cleared.
    void GetValue(VValueSingle& outValue, int inPosition) const override;
    VValueSingle* CloneValue(int inPosition) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const override;
    // There is no search over blobs: nothing is ever found (-1).
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;

    bool Copy(const VArrayValue& inSource) override;
    void DeleteElements(int inFrom, int inNumber) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

private:
    VBlobWithPtr** _Elems() const { return reinterpret_cast<VBlobWithPtr**>(fData); }
    VBlobWithPtr* _At(int inPosition) const { return ValidIndex(inPosition) ? _Elems()[inPosition - 1] : nullptr; }
};

}  // namespace qelt
