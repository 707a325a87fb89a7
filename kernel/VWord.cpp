#include "kernel/VWord.h"

namespace qelt {

VWord::VWord() = default;

VWord::VWord(short inValue) : VIntegerValue(inValue)
{
}

VWord::VWord(const short* inDataPtr, bool inClear) : VIntegerValue(inDataPtr, inClear)
{
}

VWord::VWord(const VWord& inOther) = default;
VWord& VWord::operator=(const VWord& inOther) = default;
VWord::~VWord() = default;

}  // namespace qelt
