// Virtual memory: pages, mappings and the process's size.
#include "kernel/VSystem.h"

#include "platform/PlatMemory.h"

#include <atomic>
#include <cstdint>

namespace qelt {

namespace {
std::atomic<size_t> sVMPageSize{0};
}

size_t VSystem::GetVMPageSize()
{
    size_t page = sVMPageSize.load(std::memory_order_relaxed);
    if (page == 0) {
        page = plat::PageSize();
        sVMPageSize.store(page, std::memory_order_relaxed);
    }
    return page;
}

size_t VSystem::RoundUpVMPageSize(size_t size)
{
    size_t page = GetVMPageSize();
    if (size > SIZE_MAX - (page - 1))
        return SIZE_MAX - (SIZE_MAX % page);
    return ((size + page - 1) / page) * page;
}

void* VSystem::VirtualAlloc(size_t size, const void* address)
{
    return plat::MapPages(size, address);
}

void* VSystem::VirtualAllocPhysicalMemory(size_t size, const void* address, bool* outFirstTry)
{
    void* p = plat::MapPages(size, address);
    if (outFirstTry != nullptr)
        *outFirstTry = (p != nullptr);
    if (p == nullptr)
        p = plat::MapPages(size, address);
    return p;
}

void VSystem::VirtualFree(void* address, size_t size, bool /*physical*/)
{
    if (address != nullptr)
        plat::UnmapPages(address, size);
}

bool VSystem::VirtualQuery(const void* address, size_t* outSize, unsigned* outState, const void** outBase)
{
    size_t size = 0;
    unsigned state = 0;
    const void* base = nullptr;
    if (!plat::QueryRegion(address, size, state, base)) {
        size = 0;
        state = 0;
        base = nullptr;
    }
    if (outSize != nullptr)
        *outSize = size;
    if (outState != nullptr)
        *outState = state;
    if (outBase != nullptr)
        *outBase = base;
    return size != 0;
}

size_t VSystem::VirtualMemoryUsedSize() { return plat::ProcessVirtualSize(); }

}  // namespace qelt
