#include "kernel/VEmpty.h"

namespace qelt {

VValue* VEmpty_info::Generate() const { return new VEmpty(); }
VValue* VEmpty_info::Generate(VBlob*) const { return new VEmpty(); }
VValue* VEmpty_info::LoadFromPtr(const void*, bool) const { return new VEmpty(); }
void* VEmpty_info::ByteSwapPtr(void* inPtr, bool) const { return inPtr; }

VEmpty::VEmpty()
{
    _SetFlags(kFlagNull | kFlagDirty);
}

VEmpty::~VEmpty() = default;

const VValueInfo* VEmpty::GetValueInfo() const
{
    return &sInfo;
}

VValue* VEmpty::Clone() const
{
    return new VEmpty();
}

bool VEmpty::CanBeEvaluated() const
{
    return false;
}

CompareResult VEmpty::CompareTo(const VValueSingle&, bool) const
{
    return CR_UNRELEVANT;
}

}  // namespace qelt
