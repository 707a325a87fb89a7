// The signed 32-bit integer value (kind 4).
#pragma once

#include "kernel/VIntegerValue.h"
#include "kernel/VValueInfo_scalar.h"

namespace qelt {

class VLong : public VIntegerValue<VLong, int> {
public:
    using InfoType = VValueInfo_scalar<VLong, 4, int>;

    // 0, not null, dirty.
    VLong();
    explicit VLong(int inValue);
    // With inClear false, loads the raw value at inDataPtr (not null, dirty);
    // otherwise the pointer is not read and the value is cleared.
    VLong(const int* inDataPtr, bool inClear);
    VLong(const VLong& inOther);
    VLong& operator=(const VLong& inOther);
    ~VLong() override;

    static const InfoType sInfo;
};

}  // namespace qelt
