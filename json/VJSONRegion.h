// Where the objects and arrays an import makes live: blocks carved in
// order (a region per import) instead of one heap allocation each.
//
//   block: [holders | tag obj | tag obj | ... | free tail]
//   tag:   the address of the object's block, or null for an object of the
//          ordinary heap
//
// A block counts the objects carved from it that are still alive (while an
// import still carves from it, the region keeps that count itself and the
// block holds a large bias instead); the last to go frees the block. So
// every container keeps its own exact reference count: one that outlives
// the tree it was read in (retained by a caller) keeps its block, and the
// rest of the block is freed with it. Containers made outside an import
// take the ordinary heap, behind a null tag. The lists of an object's
// members and of an array's elements are allocated the same way
// (VJSONRegionAllocator). A block no object holds any more is kept by the
// thread that let it go, up to kMostKeptBytes, for its next imports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace qelt {

class VJSONRegion {
public:
    // While one lives, the containers made on this thread are carved from
    // the region it opens (a region already open on the thread is kept).
    class StScope {
    public:
        StScope();
        ~StScope();
        StScope(const StScope&) = delete;
        StScope& operator=(const StScope&) = delete;

    private:
        bool fOpened = false;
    };

    // While one lives on a thread, the objects the thread frees from region
    // blocks lower their block's count together: once for each run of
    // objects of one block, when an object of another block comes or the
    // outermost one ends. A tree's teardown frees its containers and lists
    // block after block, and a locked operation for each object was the
    // most of its cost. Whoever lowers a count to zero still frees the
    // block, on whatever thread; the block only goes a little later.
    class StTeardown {
    public:
        StTeardown() noexcept { ++sPending.fDepth; }
        ~StTeardown()
        {
            if (--sPending.fDepth == 0 && sPending.fBlock != nullptr)
                _SettlePending();
        }
        StTeardown(const StTeardown&) = delete;
        StTeardown& operator=(const StTeardown&) = delete;
    };

    // The allocation and the release of a container (its operator new and
    // sized delete), for types aligned to at most 8 bytes. Allocate throws
    // std::bad_alloc. The common cases, an object carved from the block a
    // region carves from and a free during a teardown, are written here.
    static void* Allocate(size_t inSize)
    {
        Carving& carving = sCarving;
        if (inSize <= kMostCarved) {
            const size_t size = _SlotSize(inSize);
            if (static_cast<size_t>(carving.fEnd - carving.fNext) >= size) {
                char* memory = carving.fNext;
                carving.fNext = memory + size;
                ++carving.fCarved;
                *reinterpret_cast<void**>(memory) = carving.fBlock;
                return memory + kTagSize;
            }
        }
        return _AllocateElsewhere(inSize);
    }
    // Allocate answering null instead of throwing.
    static void* AllocateOrNull(size_t inSize) noexcept;
    // inSize, the object's, may be 0 when not known.
    static void Free(void* inObject, size_t inSize) noexcept
    {
#if !defined(__SANITIZE_ADDRESS__)  // there, every freed slot is poisoned
        if (inObject != nullptr) {
            void* block = *reinterpret_cast<void**>(static_cast<char*>(inObject) - kTagSize);
            Pending& pending = sPending;
            if (block == pending.fBlock && block != nullptr && pending.fDepth != 0) {
                ++pending.fCount;
                return;
            }
        }
#endif
        _FreeElsewhere(inObject, inSize);
    }

    // The most a thread keeps of the blocks it let go, and what the calling
    // thread keeps now (given back when the thread ends).
    static constexpr size_t kMostKeptBytes = 2 * 1024 * 1024 + 62 * 1024;
    static size_t _KeptBytes() noexcept;
    // Gives what the calling thread keeps back to the allocator now (for
    // measurements of memory).
    static void _GiveBackKept() noexcept;

private:
    // Each object is preceded by its tag; a size above kMostCarved is taken
    // from the ordinary heap even during an import.
    static constexpr size_t kTagSize = 8;
    static constexpr size_t kMostCarved = 16 * 1024 - kTagSize;
    // The room an object of inSize bytes takes in a block: its tag, then the
    // object rounded up to 8 bytes.
    static constexpr size_t _SlotSize(size_t inSize) { return kTagSize + ((inSize + 7) & ~static_cast<size_t>(7)); }

    // The thread's open region: the block it carves from, and the free room
    // left in it (none, fNext and fEnd null, without an open region or
    // before its first block).
    struct Carving {
        char* fNext;
        char* fEnd;
        void* fBlock;
        int32_t fCarved;     // the objects carved from fBlock so far
        int32_t fNextClass;  // the size class of the next block
        bool fOpen;
    };
    static constinit thread_local Carving sCarving;
    // The frees not yet counted in their block (see StTeardown).
    struct Pending {
        void* fBlock;
        int32_t fCount;
        int32_t fDepth;  // the StTeardown scopes open on the thread
    };
    static constinit thread_local Pending sPending;
    // Lowers the pending block's count by the frees pending.
    static void _SettlePending() noexcept;
    // Allocate and Free for the other cases: a new block, the ordinary
    // heap, an object of another block than the pending one.
    static void* _AllocateElsewhere(size_t inSize);
    static void _FreeElsewhere(void* inObject, size_t inSize) noexcept;
};

// The allocator of the lists an imported container keeps (VJSONRegion's
// blocks during an import, the ordinary heap otherwise).
template <class T>
struct VJSONRegionAllocator {
    using value_type = T;
    VJSONRegionAllocator() = default;
    template <class U>
    VJSONRegionAllocator(const VJSONRegionAllocator<U>&) noexcept
    {
    }
    T* allocate(size_t inCount)
    {
        if (inCount > static_cast<size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T*>(VJSONRegion::Allocate(inCount * sizeof(T)));
    }
    void deallocate(T* inItems, size_t inCount) noexcept { VJSONRegion::Free(inItems, inCount * sizeof(T)); }
    template <class U>
    bool operator==(const VJSONRegionAllocator<U>&) const noexcept
    {
        return true;
    }
};

}  // namespace qelt
