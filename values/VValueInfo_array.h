// The descriptor of an array value kind: makes empty arrays of its class.
// Arrays have no raw form, so loading from raw bytes reads nothing and
// byte-swapping swaps nothing. The element type E selects no behaviour.
#pragma once

#include "kernel/VValueInfo.h"

namespace qelt {

template <class C, unsigned short KIND, class E>
class VValueInfo_array : public VValueInfo_default<C, KIND> {
public:
    VValueInfo_array() = default;
    ~VValueInfo_array() override = default;

    VValue* Generate() const override { return new C(); }
    VValue* Generate(VBlob*) const override { return new C(); }
    VValue* LoadFromPtr(const void*, bool = false) const override { return new C(); }
    void* ByteSwapPtr(void* inPtr, bool) const override { return inPtr; }
};

}  // namespace qelt
