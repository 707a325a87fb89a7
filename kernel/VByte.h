// The signed 8-bit integer value (kind 2). Its stream body is a 16-bit number:
// the value sign-extended on writing, its low-order byte on reading.
#pragma once

#include "kernel/VIntegerValue.h"
#include "kernel/VValueInfo_scalar.h"

namespace qelt {

class VByte : public VIntegerValue<VByte, signed char> {
public:
    using InfoType = VValueInfo_scalar<VByte, 2, signed char>;

    // 0, not null, dirty.
    VByte();
    explicit VByte(signed char inValue);
    // With inClear false, loads the raw value at inDataPtr (not null, dirty);
    // otherwise the pointer is not read and the value is cleared.
    VByte(const signed char* inDataPtr, bool inClear);
    VByte(const VByte& inOther);
    VByte& operator=(const VByte& inOther);
    ~VByte() override;

    static const InfoType sInfo;
};

}  // namespace qelt
