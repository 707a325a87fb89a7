#include "kernel/VMemory.h"

#include <cstring>

#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"

namespace qelt {

void* VMemory::NewPtr(size_t inSize, int inTag)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (manager == nullptr)
        return nullptr;
    return manager->Malloc(inSize, false, inTag, -1);
}

void* VMemory::NewPtrClear(size_t inSize, int inTag)
{
    void* p = NewPtr(inSize, inTag);
    if (p != nullptr)
        std::memset(p, 0, inSize);
    return p;
}

void VMemory::DisposePtr(void* p)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (p != nullptr && manager != nullptr)
        manager->Free(p);
}

void* VMemory::SetPtrSize(void* p, size_t inSize)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (manager == nullptr)
        return nullptr;
    return manager->Realloc(p, inSize);
}

}  // namespace qelt
