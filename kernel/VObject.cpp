#include "kernel/VObject.h"

#include "kernel/VString.h"

namespace qelt {

VCppMemMgr* VObject::sCppMemMgr = nullptr;

CharSet VObject::DebugDump(char* /*buffer*/, int& size) const
{
    size = 0;
    return VTC_UTF_8;
}

void VObject::DebugDump(VString& outDump) const
{
    constexpr int kBufferSize = 1024;
    char buffer[kBufferSize];
    int size = kBufferSize;
    CharSet charSet = DebugDump(buffer, size);
    // An override that reports more than the buffer holds is cut to it.
    if (size < 0)
        size = 0;
    if (size > kBufferSize)
        size = kBufferSize;
    outDump.FromBlock(buffer, static_cast<unsigned long>(size), charSet);
}

void VObject::DebugGetClassName(VString& outName) const { outName.Clear(); }

}  // namespace qelt
