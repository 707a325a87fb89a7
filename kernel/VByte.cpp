#include "kernel/VByte.h"

namespace qelt {

VByte::VByte() = default;

VByte::VByte(signed char inValue) : VIntegerValue(inValue)
{
}

VByte::VByte(const signed char* inDataPtr, bool inClear) : VIntegerValue(inDataPtr, inClear)
{
}

VByte::VByte(const VByte& inOther) = default;
VByte& VByte::operator=(const VByte& inOther) = default;
VByte::~VByte() = default;

}  // namespace qelt
