// The array of picture values (element kind 12, array kind 111). Its
// elements live in a list of their own, not in the block of the base: each
// is an owned value of kind 12 or null (absent). No kind 12 is registered by
// the toolbox itself; elements can only be made through a descriptor that
// another component registers.
#pragma once

#include <vector>

#include "values/VArrayValue.h"
#include "values/VValueInfo_array.h"

namespace qelt {

class VArrayImage : public VArrayValue {
public:
    using InfoType = VValueInfo_array<VArrayImage, 111, char>;

    explicit VArrayImage(int inCount = 0);
    ~VArrayImage() override;

    const VValueInfo* GetValueInfo() const override;
    unsigned short GetElemValueKind() const override;

    // The list holds exactly that many elements: new ones absent, dropped
    // ones deleted.
    bool SetCount(int inCount) override;
    // Deep copy of another image array's list.
    bool Copy(const VArrayValue& inSource) override;

    // Stores a clone of a kind-12 value at a position inside the array.
    void FromValue(const VValueSingle& inValue, int inPosition) override;
    // Copies the element's null and dirty flags onto the value.
    void GetValue(VValueSingle& outValue, int inPosition) const override;
    // The element's clone; null outside the array or for an absent element.
    VValueSingle* CloneValue(int inPosition) const override;
    int Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod) override;
    void SwapElements(unsigned char* inData, int i, int j) override;
    CompareResult CompareElements(unsigned char* inData, int i, int j) override;
    // Deletes the elements at 1-based positions from..from + number - 1.
    void DeleteElements(int inFrom, int inNumber) override;
    void DeleteAllElements();

    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    static const InfoType sInfo;

    static constexpr unsigned short kImageKind = 12;

private:
    std::vector<VValueSingle*> fImages;
};

}  // namespace qelt
