#include "kernel/VLong.h"

namespace qelt {

VLong::VLong() = default;

VLong::VLong(int inValue) : VIntegerValue(inValue)
{
}

VLong::VLong(const int* inDataPtr, bool inClear) : VIntegerValue(inDataPtr, inClear)
{
}

VLong::VLong(const VLong& inOther) = default;
VLong& VLong::operator=(const VLong& inOther) = default;
VLong::~VLong() = default;

}  // namespace qelt
