#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "kernel/VSystem.h"

using namespace qelt;

TEST(VirtualMemory, PageSizeAndRounding)
{
    size_t page = VSystem::GetVMPageSize();
    ASSERT_GT(page, 0u);
    EXPECT_EQ(page & (page - 1), 0u);  // a power of two
    EXPECT_EQ(VSystem::RoundUpVMPageSize(0), 0u);
    EXPECT_EQ(VSystem::RoundUpVMPageSize(1), page);
    EXPECT_EQ(VSystem::RoundUpVMPageSize(page), page);
    EXPECT_EQ(VSystem::RoundUpVMPageSize(page + 1), 2 * page);
    // No wrap-around near the top of the range.
    EXPECT_GE(VSystem::RoundUpVMPageSize(SIZE_MAX - 1), page);
}

TEST(VirtualMemory, AllocQueryAndFree)
{
    size_t page = VSystem::GetVMPageSize();
    // Reserve five pages, then place three at a chosen address inside them,
    // with a free page on each side.
    char* area = static_cast<char*>(VSystem::VirtualAlloc(5 * page, nullptr));
    ASSERT_NE(area, nullptr);
    VSystem::VirtualFree(area, 5 * page, false);
    char* block = static_cast<char*>(VSystem::VirtualAlloc(3 * page - 10, area + page));
    ASSERT_EQ(block, area + page);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[3 * page - 1], 0);  // the rounded size is usable
    std::memset(block, 0x5A, 3 * page);

    size_t size = 0;
    unsigned state = 7;
    const void* base = nullptr;
    EXPECT_TRUE(VSystem::VirtualQuery(block + page + 17, &size, &state, &base));
    EXPECT_EQ(size, 3 * page);
    EXPECT_EQ(base, block);
    EXPECT_EQ(state, 0u);

    // Before the region: the distance to it, state 1.
    EXPECT_TRUE(VSystem::VirtualQuery(area + 10, &size, &state, &base));
    EXPECT_EQ(state, 1u);
    EXPECT_EQ(size, page - 10);
    EXPECT_EQ(base, area + 10);
    EXPECT_TRUE(VSystem::VirtualQuery(area, nullptr, nullptr, nullptr));

    // Asking for an address that is taken never replaces the mapping.
    EXPECT_EQ(VSystem::VirtualAlloc(page, block + page), nullptr);
    bool firstTry = true;
    EXPECT_EQ(VSystem::VirtualAllocPhysicalMemory(page, block, &firstTry), nullptr);
    EXPECT_FALSE(firstTry);
    EXPECT_EQ(static_cast<unsigned char>(block[page]), 0x5A);

    VSystem::VirtualFree(block, 3 * page, false);
    EXPECT_TRUE(VSystem::VirtualQuery(block, &size, &state, &base));
    EXPECT_EQ(state, 1u);  // nothing is mapped there any more
}

TEST(VirtualMemory, OneByteMapsAndFreesOnePage)
{
    size_t page = VSystem::GetVMPageSize();
    char* p = static_cast<char*>(VSystem::VirtualAlloc(1, nullptr));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % page, 0u);
    p[page - 1] = 1;
    bool firstTry = false;
    char* q = static_cast<char*>(VSystem::VirtualAllocPhysicalMemory(1, nullptr, &firstTry));
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(firstTry);
    VSystem::VirtualFree(q, 1, true);
    VSystem::VirtualFree(p, 1, false);
    size_t size = 0;
    unsigned state = 0;
    const void* base = nullptr;
    VSystem::VirtualQuery(p, &size, &state, &base);
    EXPECT_FALSE(state == 0 && base <= p && p < static_cast<const char*>(base) + size);
    VSystem::VirtualFree(nullptr, 1, false);  // ignored
}

TEST(VirtualMemory, ProcessSizeAndUnalignedAddress)
{
    EXPECT_GT(VSystem::VirtualMemoryUsedSize(), 0u);
    char* p = static_cast<char*>(VSystem::VirtualAlloc(1, nullptr));
    ASSERT_NE(p, nullptr);
    VSystem::VirtualFree(p, 1, false);
    EXPECT_EQ(VSystem::VirtualAlloc(1, p + 1), nullptr);
}

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

#include <cstdlib>

namespace {

constexpr int kHeldBlocks = 64;

// Fills the page with the only pointers to fresh heap blocks.
__attribute__((noinline)) void HoldHeapBlocksIn(void** ioSlots)
{
    for (int i = 0; i < kHeldBlocks; ++i)
        ioSlots[i] = std::malloc(48);
}

}  // namespace

TEST(VirtualMemory, HeapBlocksThatOnlyMappedPagesHoldAreNoLeaks)
{
    // The memory manager lives in mapped pages and keeps pointers to heap
    // blocks there: the leak checker must see them as reachable.
    void** slots = static_cast<void**>(VSystem::VirtualAlloc(kHeldBlocks * sizeof(void*), nullptr));
    ASSERT_NE(slots, nullptr);
    HoldHeapBlocksIn(slots);
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
    for (int i = 0; i < kHeldBlocks; ++i)
        std::free(slots[i]);
    VSystem::VirtualFree(slots, kHeldBlocks * sizeof(void*), false);
}
#endif
