#include "kernel/VLong8.h"

#include "kernel/VString.h"

namespace qelt {

VLong8::VLong8() = default;

VLong8::VLong8(long long inValue) : VIntegerValue(inValue)
{
}

VLong8::VLong8(const long long* inDataPtr, bool inClear) : VIntegerValue(inDataPtr, inClear)
{
}

VLong8::VLong8(const VLong8& inOther) = default;
VLong8& VLong8::operator=(const VLong8& inOther) = default;
VLong8::~VLong8() = default;

void VLong8::FromString(const VString& inValue)
{
    if (inValue.IsNull()) {
        SetNull(true);
        _SetFlags(_GetFlags() | kFlagDirty);
    } else {
        VIntegerValue::FromString(inValue);
    }
}

}  // namespace qelt
