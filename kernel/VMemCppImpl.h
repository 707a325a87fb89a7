// The pooled block allocator: one pool of the memory manager's pooled mode.
//
// A pool carves big blocks (in 1 KiB classes) out of large chunks of virtual
// memory and keeps its free big blocks in lists by size class. Requests under
// 8 KiB are served from pages of equal-sized small blocks, each page being a
// big block of the same pool. The pools have no locks of their own: the
// manager calls them under its pool mutex only.
//
// Layouts (native byte order):
// - chunk: a 56-byte header, then the blocks one after another; the chunk's
//   size minus 64 is usable for blocks.
// - big block: a 24-byte header (chunk, size word, previous size, tag); the
//   caller's pointer follows the header. Size word: in use, the block size
//   plus 1 for the object flag plus 2 for the page flag; free, minus the size.
// - small block: an 8-byte header (minus the distance from the page start,
//   minus 1 more for the object flag; then the tag).
// So the 32-bit word eight bytes before any caller's pointer is negative for
// a small block and the previous size (zero or more) for a big one, and the
// word four bytes before it is the tag.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/XMemCppImpl.h"

namespace qelt {

class VMemCppImpl;
class VMemThreadImpl;

// The header of one chunk of virtual memory.
struct VMemImplAllocation {
    VMemCppImpl* fOwner;
    VMemImplAllocation* fNext;
    VMemImplAllocation* fPrevious;
    uint64_t fCapacity;       // chunk size - 64
    uint64_t fUsed;           // bytes of blocks from the block area's start
    uint64_t fLastBlockSize;  // size of the block that ends at fUsed
    uint8_t fPhysical;
    uint8_t fPad[7];

    static constexpr size_t kHeaderSize = 56;

    char* BlockArea() { return reinterpret_cast<char*>(this) + kHeaderSize; }
    void Init(size_t size, bool physical);
    // Carves a block from the free tail; null when the tail is too short.
    struct VMemImplBlock* AllocateAtTheEnd(size_t size, uint64_t& ioTotal, unsigned char pageFlag,
                                           unsigned char objectFlag, int tag);
    bool IsLastBlock(const struct VMemImplBlock* block);
    bool Contains(const void* block);
    // Cuts the used area back to the start of block.
    void ReduceFrom(struct VMemImplBlock* block);
};

// The header of a big block.
struct VMemImplBlock {
    VMemImplAllocation* fChunk;
    int32_t fSizeWord;
    int32_t fPad;
    int32_t fPreviousSize;
    int32_t fTag;
    // Free blocks only, in the first bytes of the user area.
    VMemImplBlock* fNextFree;
    VMemImplBlock* fPreviousFree;

    static constexpr size_t kHeaderSize = 24;

    bool IsFree() const { return fSizeWord < 0; }
    size_t GetSize() const
    {
        return fSizeWord < 0 ? static_cast<size_t>(-static_cast<int64_t>(fSizeWord))
                             : static_cast<size_t>(fSizeWord & ~7);
    }
    bool HasObjectFlag() const { return fSizeWord >= 0 && (fSizeWord & 1) != 0; }
    bool HasPageFlag() const { return fSizeWord >= 0 && (fSizeWord & 2) != 0; }
    void* UserPtr() { return reinterpret_cast<char*>(this) + kHeaderSize; }
    VMemImplBlock* Next() { return reinterpret_cast<VMemImplBlock*>(reinterpret_cast<char*>(this) + GetSize()); }
    static VMemImplBlock* FromUserPtr(const void* p)
    {
        return reinterpret_cast<VMemImplBlock*>(const_cast<char*>(static_cast<const char*>(p)) - kHeaderSize);
    }
};

// The header of a small block.
struct VMemImplSmallBlock {
    int32_t fPageOffsetWord;
    int32_t fTag;
    VMemImplSmallBlock* fNextFree;  // free blocks only

    static constexpr size_t kHeaderSize = 8;

    size_t GetPageOffset() const { return static_cast<size_t>(-static_cast<int64_t>(fPageOffsetWord)) & ~size_t(1); }
    bool HasObjectFlag() const { return ((-static_cast<int64_t>(fPageOffsetWord)) & 1) != 0; }
    void* UserPtr() { return reinterpret_cast<char*>(this) + kHeaderSize; }
    static VMemImplSmallBlock* FromUserPtr(const void* p)
    {
        return reinterpret_cast<VMemImplSmallBlock*>(const_cast<char*>(static_cast<const char*>(p)) - kHeaderSize);
    }
};

// A page of equal-sized small blocks: the user area of a big block that
// carries the page flag.
class VPageAllocationImpl {
public:
    static constexpr size_t kHeaderSize = 56;

    VPageAllocationImpl(VMemThreadImpl* owner, size_t pageSize, size_t blockSize);

    void* Malloc(size_t blockSize, unsigned char objectFlag, int tag);
    void Free(VMemImplSmallBlock* block);
    // True for an address outside the page or on its free list.
    bool IsBlockFree(const VMemImplSmallBlock* block) const;
    bool Check() const;
    void GetStats(class VMemStats& ioStats, bool& outFull);

    VMemThreadImpl* GetOwner() const { return fOwner; }
    size_t GetBlockSize() const { return static_cast<size_t>(static_cast<uint16_t>(fBlockSize)); }
    size_t GetPageSize() const { return fPageSize; }
    int GetUsedCount() const { return fUsedCount; }
    int GetFreeCount() const { return fFreeCount; }
    int GetCapacity() const { return fCapacity; }
    bool Contains(const void* p) const;

private:
    friend class VMemThreadImpl;
    friend class VMemCppImpl;
    char* Base() { return reinterpret_cast<char*>(this); }
    const char* Base() const { return reinterpret_cast<const char*>(this); }

    VMemThreadImpl* fOwner;
    VMemImplSmallBlock* fFreeList;
    VPageAllocationImpl* fNext;
    VPageAllocationImpl* fPrevious;
    uint64_t fPageSize;
    uint64_t fEnd;
    uint16_t fFreeCount;
    uint16_t fUsedCount;
    uint16_t fCapacity;
    int16_t fBlockSize;
};

// The small-block allocator of a pool: one list of pages with room per step.
class VMemThreadImpl {
public:
    static constexpr int kStepCount = 132;

    explicit VMemThreadImpl(VMemCppImpl* owner);

    // n is the request plus the 8-byte small header.
    void* Malloc(size_t n, unsigned char objectFlag, int tag);
    void RemovePage(VPageAllocationImpl* page);
    void MarkPageAsFull(VPageAllocationImpl* page);
    void MarkPageAsNotFull(VPageAllocationImpl* page);
    bool Check() const;

    VMemCppImpl* GetOwner() const { return fOwner; }

    // The step of a small size (request + 8) and its rounding granule.
    static int GetStepFromSize(size_t size, int* outGranule);
    // The rounded block size of a step.
    static size_t GetBlockSizeFromStep(int step);
    // The usable page size for a rounded block size.
    static size_t GetPageSizeForBlockSize(size_t blockSize);

private:
    static int _StepOfBlockSize(size_t blockSize);

    VMemCppImpl* fOwner;
    VPageAllocationImpl* fPages[kStepCount];
};

class VMemCppImpl final : public XMemCppImpl {
public:
    static constexpr int kBigStepCount = 1026;
    // Requests under this size are small blocks.
    static constexpr size_t kSmallBlockLimit = 8192;
    // The largest request served.
    static constexpr size_t kMaxRequest = 2147481598;
    // A free block is split only when at least this much is left over.
    static constexpr size_t kMinSplit = 8192;

    explicit VMemCppImpl(int inPoolIndex);
    // Releases nothing: the pool's chunks stay mapped.
    ~VMemCppImpl() override;

    void Init(VCppMemMgr* inManager) override;
    void* Malloc(size_t size, unsigned char pageFlag, unsigned char objectFlag, int tag) override;
    void Free(void* p) override;
    void* Realloc(void* p, size_t size) override;
    size_t GetPtrSize(const void* p) override;
    bool CheckPtr(const void* p) override;
    bool Check(void* p) override;
    bool AddAllocation(size_t size, const void* address, unsigned char physical) override;
    int CountAllocations() override;
    void SetAutoAllocationState(bool inAuto) override;
    void GetStats(VMemStats& ioStats, short inPool) override;
    size_t GetTotalAllocation() const override;
    void GetMemUsageInfo(size_t& outAllocated, size_t& outUsed) override;

    // Takes memory the caller already obtained as a new chunk.
    bool AddAlreadyAllocatedMem(void* memory, size_t size, bool physical);

    // The index of the pool that owns the block.
    int GetAllocationBlockNumber(void* p);

    int GetPoolIndex() const { return fPoolIndex; }

    // Big-block steps: (size + 1023) / 1024 with granule 1024 up to 1 MiB,
    // else 1025 with granule 0.
    static int GetStepFromSize(size_t size, int* outGranule);
    // The free list of a block size: size / 1024 up to 1 MiB, else 1025.
    static int GetExactStepFromSize(size_t size);

    void RemoveBlockFromChainList(VMemImplBlock* block, VMemImplBlock** head);
    // Merges the free neighbour other into *ioBlock when the sum stays under
    // 2 GiB; the merged block starts at the lower of the two. False when skipped.
    bool MergeContiguousFreeBlock(VMemImplBlock** ioBlock, VMemImplBlock* other);

private:
    friend class VMemThreadImpl;
    friend class VPageAllocationImpl;

    void _LinkChunk(VMemImplAllocation* chunk, size_t size, bool physical);
    void _PushFree(VMemImplBlock* block);
    VMemImplBlock* _TakeFreeBlock(VMemImplBlock* block, VMemImplBlock** head, size_t blockSize,
                                  unsigned char pageFlag, unsigned char objectFlag, int tag);
    void _FreeBig(VMemImplBlock* block);
    void _AddStats(VMemStats& ioStats, void* userPtr, size_t size, bool objectFlag, int tag);

    VMemThreadImpl fSmall;
    VCppMemMgr* fManager = nullptr;
    VMemImplAllocation* fChunks = nullptr;
    VMemImplBlock* fFreeLists[kBigStepCount] = {};
    uint64_t fTotal = 0;
    uint64_t fUsed = 0;
    int32_t fPoolIndex;
    bool fAutoAllocation = false;
};

}  // namespace qelt
