// The signed 16-bit integer value (kind 3).
#pragma once

#include "kernel/VIntegerValue.h"
#include "kernel/VValueInfo_scalar.h"

namespace qelt {

class VWord : public VIntegerValue<VWord, short> {
public:
    using InfoType = VValueInfo_scalar<VWord, 3, short>;

    // 0, not null, dirty.
    VWord();
    explicit VWord(short inValue);
    // With inClear false, loads the raw value at inDataPtr (not null, dirty);
    // otherwise the pointer is not read and the value is cleared.
    VWord(const short* inDataPtr, bool inClear);
    VWord(const VWord& inOther);
    VWord& operator=(const VWord& inOther);
    ~VWord() override;

    static const InfoType sInfo;
};

}  // namespace qelt
