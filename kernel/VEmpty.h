// The empty value (kind 0): always null, cannot be ordered, has no raw form
// and no stream body.
#pragma once

#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"

namespace qelt {

class VEmpty;

// The descriptor of kind 0.
class VEmpty_info : public VValueInfo {
public:
    VEmpty_info() : VValueInfo(VK_EMPTY) {}
    VValue* Generate() const override;
    VValue* Generate(VBlob* inBlob) const override;
    VValue* LoadFromPtr(const void* inPtr, bool inRefresh = false) const override;
    void* ByteSwapPtr(void* inPtr, bool inFromNative) const override;
};

class VEmpty : public VValueSingle {
public:
    // A new empty value is null and dirty.
    VEmpty();
    ~VEmpty() override;

    const VValueInfo* GetValueInfo() const override;
    // A new empty value, null and dirty (the source's flags are not copied).
    VValue* Clone() const override;
    bool CanBeEvaluated() const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;

    static const VEmpty_info sInfo;
};

}  // namespace qelt
