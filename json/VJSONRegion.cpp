#include "json/VJSONRegion.h"

#include <atomic>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define QELT_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#else
#define QELT_POISON(address, size) ((void)(address), (void)(size))
#endif

namespace qelt {

namespace {

// While a block is carved from, its count holds kCarving instead of the
// objects carved so far: the region counts those without a locked
// operation, and settles the count once, when it stops carving from the
// block. A free meanwhile only lowers kCarving, which no block can reach
// (a block holds at most kLargestBlock / 16 objects).
constexpr int32_t kCarving = int32_t{1} << 30;

struct Block {
    std::atomic<int32_t> fHolders{kCarving};  // the live objects (see kCarving)
};

// Each object is preceded by its tag; objects are 8-byte aligned (the
// containers ask no more).
constexpr size_t kTagSize = 8;
constexpr size_t kHeaderSize = 8;
static_assert(sizeof(Block) <= kHeaderSize);
// A first block is small, for the many imports of a few containers; each
// next one is twice as large, up to kLargestBlock.
constexpr size_t kFirstBlock = 2048;
constexpr size_t kLargestBlock = 64 * 1024;

struct Region {
    Block* fBlock = nullptr;
    char* fNext = nullptr;
    char* fEnd = nullptr;
    size_t fNextSize = kFirstBlock;
    int32_t fCarved = 0;  // the objects carved from fBlock so far
};

thread_local Region* tRegion = nullptr;

// Lowers the block's count by inCount; the last holder frees the block.
void Drop(Block* inBlock, int32_t inCount) noexcept
{
    if (inBlock->fHolders.fetch_sub(inCount, std::memory_order_acq_rel) == inCount) {
        inBlock->~Block();
        ::operator delete(static_cast<void*>(inBlock));
    }
}

size_t RoundUp(size_t inSize) { return (inSize + 7) & ~static_cast<size_t>(7); }

// The region stops carving from its block: the count becomes the number of
// objects carved from it still alive.
void StopCarving(Region* ioRegion) noexcept
{
    QELT_POISON(ioRegion->fNext, static_cast<size_t>(ioRegion->fEnd - ioRegion->fNext));
    Drop(ioRegion->fBlock, kCarving - ioRegion->fCarved);
    ioRegion->fBlock = nullptr;
    ioRegion->fCarved = 0;
}

}  // namespace

VJSONRegion::StScope::StScope()
{
    if (tRegion == nullptr) {
        tRegion = new Region();
        fOpened = true;
    }
}

VJSONRegion::StScope::~StScope()
{
    if (!fOpened)
        return;
    Region* region = tRegion;
    tRegion = nullptr;
    if (region->fBlock != nullptr)
        StopCarving(region);
    delete region;
}

void* VJSONRegion::Allocate(size_t inSize)
{
    if (inSize > kLargestBlock * 1024 * 1024)
        throw std::bad_alloc();  // no container asks as much; the sums below stay in range
    const size_t size = kTagSize + RoundUp(inSize);
    Region* region = tRegion;
    if (region == nullptr || size > kLargestBlock / 4) {
        char* memory = static_cast<char*>(::operator new(size));
        *reinterpret_cast<Block**>(memory) = nullptr;
        return memory + kTagSize;
    }
    if (region->fBlock == nullptr || static_cast<size_t>(region->fEnd - region->fNext) < size) {
        // The next size, or larger for a list that would not fit in it.
        size_t blockSize = region->fNextSize;
        while (blockSize < kHeaderSize + size)
            blockSize *= 2;
        char* memory = static_cast<char*>(::operator new(blockSize));
        if (region->fBlock != nullptr)
            StopCarving(region);
        region->fBlock = new (memory) Block();
        region->fNext = memory + kHeaderSize;
        region->fEnd = memory + blockSize;
        if (blockSize < kLargestBlock)
            region->fNextSize = blockSize * 2;
    }
    char* memory = region->fNext;
    region->fNext += size;
    ++region->fCarved;
    *reinterpret_cast<Block**>(memory) = region->fBlock;
    return memory + kTagSize;
}

void* VJSONRegion::AllocateOrNull(size_t inSize) noexcept
{
    try {
        return Allocate(inSize);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void VJSONRegion::Free(void* inObject, size_t inSize) noexcept
{
    if (inObject == nullptr)
        return;
    char* memory = static_cast<char*>(inObject) - kTagSize;
    Block* block = *reinterpret_cast<Block**>(memory);
    if (block == nullptr) {
        ::operator delete(static_cast<void*>(memory));
        return;
    }
    // The slot is never given again.
    QELT_POISON(memory, kTagSize + inSize);
    Drop(block, 1);
}

}  // namespace qelt
