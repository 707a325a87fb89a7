// The signed 64-bit integer value (kind 5).
#pragma once

#include "kernel/VIntegerValue.h"
#include "kernel/VValueInfo_scalar.h"

namespace qelt {

class VLong8 : public VIntegerValue<VLong8, long long> {
public:
    using InfoType = VValueInfo_scalar<VLong8, 5, long long>;

    // 0, not null, dirty.
    VLong8();
    explicit VLong8(long long inValue);
    // With inClear false, loads the raw value at inDataPtr (not null, dirty);
    // otherwise the pointer is not read and the value is cleared.
    VLong8(const long long* inDataPtr, bool inClear);
    VLong8(const VLong8& inOther);
    VLong8& operator=(const VLong8& inOther);
    ~VLong8() override;

    // Unlike the narrower kinds, a null string leaves the number as it was.
    void FromString(const VString& inValue) override;

    static const InfoType sInfo;
};

}  // namespace qelt
