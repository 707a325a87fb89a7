#include "json/VJSONRegion.h"

#include <atomic>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define QELT_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define QELT_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define QELT_POISON(address, size) ((void)(address), (void)(size))
#define QELT_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace qelt {

namespace {

// While a block is carved from, its count holds kCarving instead of the
// objects carved so far: the region counts those without a locked
// operation, and settles the count once, when it stops carving from the
// block. A free meanwhile only lowers kCarving, which no block can reach
// (a block holds at most kLargestBlock / 16 objects).
constexpr int32_t kCarving = int32_t{1} << 30;

// Block sizes are powers of two from kFirstBlock to kLargestBlock; a block
// knows its size by its class (log2 of its size over kFirstBlock).
constexpr size_t kFirstBlock = 2048;
constexpr size_t kLargestBlock = 64 * 1024;
constexpr int kClasses = 6;
static_assert(kFirstBlock << (kClasses - 1) == kLargestBlock);

struct Block {
    std::atomic<int32_t> fHolders{kCarving};  // the live objects (see kCarving)
    uint8_t fClass = 0;
};

// Objects are 8-byte aligned (the containers ask no more), each behind its
// tag (VJSONRegion::kTagSize).
constexpr size_t kHeaderSize = 8;
static_assert(sizeof(Block) <= kHeaderSize);

size_t ClassSize(int inClass) { return kFirstBlock << inClass; }

// ---------------------------------------------------------------------------
// The blocks a thread let go, kept for its next imports. Given back, they
// are merged by the allocator, and a free run at the top of its heap is
// handed back to the system and faulted in again, page by page, by the next
// import (for a tree of a few megabytes that costs more than the import).
// The allocator trims only from the top, so the blocks kept are the highest
// ones let go: below them, the blocks given back stay with the allocator,
// which hands them out again. A thread keeps at most kKeptLargest blocks of
// the largest size and one of each smaller size (the first blocks of every
// import); the rest go back.

constexpr uint32_t kKeptLargest = 32;  // 2 MB
static_assert(kKeptLargest * kLargestBlock + (kLargestBlock - kFirstBlock) == VJSONRegion::kMostKeptBytes);

// Trivially destructible, so that it stays usable after the thread's
// destructors have run; fClosed then sends every block to the allocator.
struct BlockCache {
    void* fSmall[kClasses - 1];     // one of each smaller class, or null
    void* fLargest[kKeptLargest];     // the first fLargestCount are kept
    uint32_t fLargestCount;
    bool fClosed;
};

thread_local BlockCache tCache;

void DeleteBlock(void* inMemory) noexcept { ::operator delete(inMemory); }

// Gives the kept blocks back to the allocator.
void GiveBack(BlockCache& ioCache) noexcept
{
    for (int i = 0; i < kClasses - 1; ++i) {
        if (void* block = ioCache.fSmall[i]) {
            ioCache.fSmall[i] = nullptr;
            QELT_UNPOISON(block, ClassSize(i));
            DeleteBlock(block);
        }
    }
    while (ioCache.fLargestCount > 0) {
        void* block = ioCache.fLargest[--ioCache.fLargestCount];
        QELT_UNPOISON(block, kLargestBlock);
        DeleteBlock(block);
    }
}

// Gives the thread's blocks back when the thread ends.
struct BlockCacheCloser {
    ~BlockCacheCloser()
    {
        tCache.fClosed = true;
        GiveBack(tCache);
    }
};

thread_local BlockCacheCloser tCacheCloser;

// Keeps a block that no object holds any more, or frees it.
void RetireBlock(Block* inBlock) noexcept
{
    const int blockClass = inBlock->fClass;
    inBlock->~Block();
    void* memory = inBlock;
    BlockCache& cache = tCache;
    if (cache.fClosed) {
        DeleteBlock(memory);
        return;
    }
    (void)&tCacheCloser;  // constructed with the thread's first kept block
    if (blockClass < kClasses - 1) {
        if (cache.fSmall[blockClass] != nullptr) {
            DeleteBlock(memory);
            return;
        }
        cache.fSmall[blockClass] = memory;
    } else if (cache.fLargestCount < kKeptLargest) {
        cache.fLargest[cache.fLargestCount++] = memory;
    } else {
        // Full: the lowest of the kept blocks and this one goes back.
        auto address = [](const void* inBlock) { return reinterpret_cast<uintptr_t>(inBlock); };
        uint32_t lowest = 0;
        for (uint32_t i = 1; i < kKeptLargest; ++i) {
            if (address(cache.fLargest[i]) < address(cache.fLargest[lowest]))
                lowest = i;
        }
        if (address(memory) < address(cache.fLargest[lowest])) {
            DeleteBlock(memory);
            return;
        }
        void* given = cache.fLargest[lowest];
        cache.fLargest[lowest] = memory;
        QELT_UNPOISON(given, kLargestBlock);
        DeleteBlock(given);
    }
    QELT_POISON(memory, ClassSize(blockClass));
}

// A block of the class, kept or new; throws std::bad_alloc.
Block* NewBlock(int inClass)
{
    BlockCache& cache = tCache;
    void* memory = nullptr;
    if (inClass < kClasses - 1) {
        memory = cache.fSmall[inClass];
        cache.fSmall[inClass] = nullptr;
    } else if (cache.fLargestCount > 0) {
        memory = cache.fLargest[--cache.fLargestCount];
    }
    if (memory != nullptr)
        QELT_UNPOISON(memory, ClassSize(inClass));
    else
        memory = ::operator new(ClassSize(inClass));
    Block* block = new (memory) Block();
    block->fClass = static_cast<uint8_t>(inClass);
    return block;
}

// Lowers the block's count by inCount; the last holder retires the block.
void Drop(Block* inBlock, int32_t inCount) noexcept
{
    if (inBlock->fHolders.fetch_sub(inCount, std::memory_order_acq_rel) == inCount)
        RetireBlock(inBlock);
}

// The region stops carving from its block: the count becomes the number of
// objects carved from it still alive.
void StopCarving(void*& ioBlock, char*& ioNext, char*& ioEnd, int32_t& ioCarved) noexcept
{
    QELT_POISON(ioNext, static_cast<size_t>(ioEnd - ioNext));
    Drop(static_cast<Block*>(ioBlock), kCarving - ioCarved);
    ioBlock = nullptr;
    ioNext = nullptr;
    ioEnd = nullptr;
    ioCarved = 0;
}

}  // namespace

constinit thread_local VJSONRegion::Carving VJSONRegion::sCarving{nullptr, nullptr, nullptr, 0, 0, false};
constinit thread_local VJSONRegion::Pending VJSONRegion::sPending{nullptr, 0, 0};

VJSONRegion::StScope::StScope()
{
    Carving& carving = sCarving;
    if (!carving.fOpen) {
        carving.fOpen = true;
        carving.fNextClass = 0;
        fOpened = true;
    }
}

VJSONRegion::StScope::~StScope()
{
    if (!fOpened)
        return;
    Carving& carving = sCarving;
    carving.fOpen = false;
    if (carving.fBlock != nullptr)
        StopCarving(carving.fBlock, carving.fNext, carving.fEnd, carving.fCarved);
}

void* VJSONRegion::_AllocateElsewhere(size_t inSize)
{
    static_assert(kMostCarved + kTagSize == kLargestBlock / 4);
    if (inSize > kLargestBlock * 1024 * 1024)
        throw std::bad_alloc();  // no container asks as much; the sums below stay in range
    const size_t size = _SlotSize(inSize);
    Carving& carving = sCarving;
    if (!carving.fOpen || size > kLargestBlock / 4) {
        char* memory = static_cast<char*>(::operator new(size));
        *reinterpret_cast<Block**>(memory) = nullptr;
        return memory + kTagSize;
    }
    // The block has no room left for the object (or there is none yet): the
    // next size, or larger for a list that would not fit in it.
    int blockClass = carving.fNextClass;
    while (ClassSize(blockClass) < kHeaderSize + size)
        ++blockClass;
    Block* block = NewBlock(blockClass);
    if (carving.fBlock != nullptr)
        StopCarving(carving.fBlock, carving.fNext, carving.fEnd, carving.fCarved);
    carving.fBlock = block;
    carving.fNext = reinterpret_cast<char*>(block) + kHeaderSize;
    carving.fEnd = reinterpret_cast<char*>(block) + ClassSize(blockClass);
    carving.fNextClass = blockClass < kClasses - 1 ? blockClass + 1 : blockClass;
    char* memory = carving.fNext;
    carving.fNext += size;
    ++carving.fCarved;
    *reinterpret_cast<Block**>(memory) = block;
    return memory + kTagSize;
}

size_t VJSONRegion::_KeptBytes() noexcept
{
    const BlockCache& cache = tCache;
    size_t bytes = cache.fLargestCount * kLargestBlock;
    for (int i = 0; i < kClasses - 1; ++i) {
        if (cache.fSmall[i] != nullptr)
            bytes += ClassSize(i);
    }
    return bytes;
}

void VJSONRegion::_GiveBackKept() noexcept { GiveBack(tCache); }

void* VJSONRegion::AllocateOrNull(size_t inSize) noexcept
{
    try {
        return Allocate(inSize);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void VJSONRegion::_FreeElsewhere(void* inObject, size_t inSize) noexcept
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
    Pending& pending = sPending;
    if (pending.fDepth == 0) {
        Drop(block, 1);
        return;
    }
    if (pending.fBlock == block) {
        ++pending.fCount;
        return;
    }
    if (pending.fBlock != nullptr)
        Drop(static_cast<Block*>(pending.fBlock), pending.fCount);
    pending.fBlock = block;
    pending.fCount = 1;
}

void VJSONRegion::_SettlePending() noexcept
{
    Pending& pending = sPending;
    Block* block = static_cast<Block*>(pending.fBlock);
    const int32_t count = pending.fCount;
    pending.fBlock = nullptr;
    pending.fCount = 0;
    Drop(block, count);
}

}  // namespace qelt
