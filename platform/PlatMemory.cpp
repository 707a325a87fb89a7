#include "platform/PlatMemory.h"

#include "platform/PlatFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The leak checker scans the heap, stacks and globals for pointers, not
// pages mapped here. The memory manager lives in such pages and keeps its
// allocator and pools there, so in sanitizer builds every mapping made here
// is handed to the checker as a root region: what only these pages point
// to is still reachable.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QELT_LEAK_ROOT_REGIONS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(QELT_LEAK_ROOT_REGIONS)
#define QELT_LEAK_ROOT_REGIONS 1
#endif
#if defined(QELT_LEAK_ROOT_REGIONS)
#include <sanitizer/lsan_interface.h>
#endif

namespace qelt::plat {

namespace {

size_t RoundUp(size_t size, size_t page)
{
    if (size == 0)
        return page;
    if (size > SIZE_MAX - (page - 1))
        return 0;
    return (size + page - 1) & ~(page - 1);
}

}  // namespace

size_t PageSize()
{
    static std::atomic<size_t> sPageSize{0};
    size_t page = sPageSize.load(std::memory_order_relaxed);
    if (page == 0) {
        long value = ::sysconf(_SC_PAGESIZE);
        page = value > 0 ? static_cast<size_t>(value) : 4096;
        sPageSize.store(page, std::memory_order_relaxed);
    }
    return page;
}

void* MapPages(size_t size, const void* address)
{
    size_t page = PageSize();
    size_t rounded = RoundUp(size, page);
    if (rounded == 0)
        return nullptr;
    if (address != nullptr && (reinterpret_cast<uintptr_t>(address) % page) != 0)
        return nullptr;
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
    if (address != nullptr)
        flags |= MAP_FIXED_NOREPLACE;
    void* p = ::mmap(const_cast<void*>(address), rounded, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    if (address != nullptr && p != address) {
        // A kernel that does not know the flag takes the address as a hint only.
        ::munmap(p, rounded);
        return nullptr;
    }
#if defined(QELT_LEAK_ROOT_REGIONS)
    __lsan_register_root_region(p, rounded);
#endif
    return p;
}

bool UnmapPages(void* address, size_t size)
{
    if (address == nullptr)
        return false;
    size_t rounded = RoundUp(size, PageSize());
    if (rounded == 0)
        return false;
    if (::munmap(address, rounded) != 0)
        return false;
#if defined(QELT_LEAK_ROOT_REGIONS)
    __lsan_unregister_root_region(address, rounded);
#endif
    return true;
}

bool QueryRegion(const void* address, size_t& size, unsigned& state, const void*& base)
{
    size = 0;
    state = 0;
    base = nullptr;
    const std::string maps = ReadWholeFile("/proc/self/maps");
    if (maps.empty())
        return false;

    // Lines are "start-end perms ...", in increasing address order.
    uintptr_t target = reinterpret_cast<uintptr_t>(address);
    size_t pos = 0;
    while (pos < maps.size()) {
        size_t eol = maps.find('\n', pos);
        if (eol == std::string::npos)
            eol = maps.size();
        const char* line = maps.c_str() + pos;
        char* endp = nullptr;
        unsigned long long start = std::strtoull(line, &endp, 16);
        if (endp != nullptr && *endp == '-') {
            unsigned long long end = std::strtoull(endp + 1, &endp, 16);
            if (end > start) {
                if (target >= start && target < end) {
                    size = static_cast<size_t>(end - start);
                    base = reinterpret_cast<const void*>(static_cast<uintptr_t>(start));
                    state = 0;
                    return true;
                }
                if (target < start) {
                    size = static_cast<size_t>(start - target);
                    base = address;
                    state = 1;
                    return true;
                }
            }
        }
        pos = eol + 1;
    }
    return false;
}

size_t ProcessVirtualSize()
{
    int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buffer[256];
    ssize_t n = ::read(fd, buffer, sizeof(buffer) - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    buffer[n] = 0;
    unsigned long long pages = 0;
    if (std::sscanf(buffer, "%llu", &pages) != 1)
        return 0;
    return static_cast<size_t>(pages) * PageSize();
}

}  // namespace qelt::plat
