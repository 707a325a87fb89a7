#include "kernel/VMemCppImpl.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "kernel/VCppMemMgr.h"
#include "kernel/VMemStats.h"
#include "kernel/VSystem.h"

namespace qelt {

static_assert(sizeof(VMemImplAllocation) == VMemImplAllocation::kHeaderSize);
static_assert(offsetof(VMemImplBlock, fPreviousSize) == 16 && offsetof(VMemImplBlock, fTag) == 20);
static_assert(offsetof(VMemImplBlock, fNextFree) == VMemImplBlock::kHeaderSize);
static_assert(offsetof(VMemImplSmallBlock, fNextFree) == VMemImplSmallBlock::kHeaderSize);
static_assert(sizeof(VPageAllocationImpl) == VPageAllocationImpl::kHeaderSize);

namespace {

// The last bytes of a chunk are never used for blocks.
constexpr size_t kChunkOverhead = 64;
// Below this, a chunk is refused.
constexpr size_t kMinChunk = 65536;
// Requests from this size on are big blocks rounded to 8 bytes (step 1025).
constexpr size_t kLargeRequest = 1048553;
constexpr size_t kExactClassLimit = 1048576;
// The size of a chunk taken on demand.
constexpr size_t kAutoChunk = 20971520;
// A merged block never grows past this.
constexpr size_t kMaxBlockSize = 2147483647;

int32_t SizeWord(size_t size, unsigned char pageFlag, unsigned char objectFlag)
{
    return static_cast<int32_t>(size) + (objectFlag ? 1 : 0) + (pageFlag ? 2 : 0);
}

// The 32-bit word eight bytes before a caller's pointer.
int32_t KindWord(const void* p)
{
    int32_t word;
    std::memcpy(&word, static_cast<const char*>(p) - 8, sizeof(word));
    return word;
}

int32_t TagOf(const void* p)
{
    int32_t tag;
    std::memcpy(&tag, static_cast<const char*>(p) - 4, sizeof(tag));
    return tag;
}

VPageAllocationImpl* PageOfSmallBlock(VMemImplSmallBlock* block)
{
    return reinterpret_cast<VPageAllocationImpl*>(reinterpret_cast<char*>(block) - block->GetPageOffset());
}

}  // namespace

// ---- Chunks.

void VMemImplAllocation::Init(size_t size, bool physical)
{
    fCapacity = size - kChunkOverhead;
    fUsed = 0;
    fLastBlockSize = 0;
    fPhysical = physical ? 1 : 0;
}

VMemImplBlock* VMemImplAllocation::AllocateAtTheEnd(size_t size, uint64_t& ioTotal, unsigned char pageFlag,
                                                    unsigned char objectFlag, int tag)
{
    if (fCapacity - fUsed < size)
        return nullptr;
    VMemImplBlock* block = reinterpret_cast<VMemImplBlock*>(BlockArea() + fUsed);
    block->fChunk = this;
    block->fSizeWord = SizeWord(size, pageFlag, objectFlag);
    block->fPad = 0;
    block->fPreviousSize = static_cast<int32_t>(fLastBlockSize);
    block->fTag = tag;
    fUsed += size;
    fLastBlockSize = size;
    ioTotal += size;
    return block;
}

bool VMemImplAllocation::IsLastBlock(const VMemImplBlock* block)
{
    const char* end = reinterpret_cast<const char*>(block) + block->GetSize();
    return end == BlockArea() + fUsed;
}

bool VMemImplAllocation::Contains(const void* block)
{
    const char* p = static_cast<const char*>(block);
    return p >= BlockArea() && p < BlockArea() + fCapacity;
}

void VMemImplAllocation::ReduceFrom(VMemImplBlock* block)
{
    char* p = reinterpret_cast<char*>(block);
    if (p < BlockArea())
        return;
    fUsed = static_cast<uint64_t>(p - BlockArea());
    fLastBlockSize = static_cast<uint64_t>(block->fPreviousSize);
}

// ---- Pages of small blocks.

VPageAllocationImpl::VPageAllocationImpl(VMemThreadImpl* owner, size_t pageSize, size_t blockSize)
    : fOwner(owner),
      fFreeList(nullptr),
      fNext(nullptr),
      fPrevious(nullptr),
      fPageSize(pageSize),
      fEnd(kHeaderSize),
      fFreeCount(0),
      fUsedCount(0),
      fCapacity(static_cast<uint16_t>((pageSize - kHeaderSize) / blockSize)),
      fBlockSize(static_cast<int16_t>(blockSize))
{
}

bool VPageAllocationImpl::Contains(const void* p) const
{
    const char* c = static_cast<const char*>(p);
    return c >= Base() + kHeaderSize && c < Base() + fEnd;
}

void* VPageAllocationImpl::Malloc(size_t blockSize, unsigned char objectFlag, int tag)
{
    VMemImplSmallBlock* block = nullptr;
    if (fFreeList != nullptr) {
        block = fFreeList;
        fFreeList = block->fNextFree;
        --fFreeCount;
    } else if (fEnd + blockSize <= fPageSize) {
        block = reinterpret_cast<VMemImplSmallBlock*>(Base() + fEnd);
        fEnd += blockSize;
    } else {
        return nullptr;
    }
    size_t offset = static_cast<size_t>(reinterpret_cast<char*>(block) - Base());
    block->fPageOffsetWord = -static_cast<int32_t>(offset + (objectFlag ? 1 : 0));
    block->fTag = tag;
    ++fUsedCount;
    fOwner->GetOwner()->fUsed += GetBlockSize();
    if (fUsedCount >= fCapacity)
        fOwner->MarkPageAsFull(this);
    return block->UserPtr();
}

void VPageAllocationImpl::Free(VMemImplSmallBlock* block)
{
    VMemCppImpl* pool = fOwner->GetOwner();
    bool wasWithoutFree = fFreeCount == 0;
    block->fNextFree = fFreeList;
    fFreeList = block;
    ++fFreeCount;
    --fUsedCount;
    pool->fUsed -= GetBlockSize();
    if (fUsedCount > 0) {
        if (wasWithoutFree)
            fOwner->MarkPageAsNotFull(this);
    } else {
        // An empty page goes back to the pool at once.
        pool->fUsed += static_cast<uint64_t>(fCapacity) * GetBlockSize();
        fOwner->RemovePage(this);
    }
}

bool VPageAllocationImpl::IsBlockFree(const VMemImplSmallBlock* block) const
{
    if (!Contains(block))
        return true;
    int guard = fFreeCount;
    for (const VMemImplSmallBlock* b = fFreeList; b != nullptr && guard >= 0; b = b->fNextFree, --guard) {
        if (b == block)
            return true;
    }
    return false;
}

bool VPageAllocationImpl::Check() const
{
    if (fUsedCount > fCapacity || fFreeCount > fCapacity)
        return false;
    if (fFreeCount == 0)
        return fFreeList == nullptr;
    size_t blockSize = GetBlockSize();
    if (blockSize == 0)
        return false;
    std::vector<bool> seen(fCapacity, false);
    int count = 0;
    for (const VMemImplSmallBlock* b = fFreeList; b != nullptr; b = b->fNextFree) {
        if (!Contains(b))
            return false;
        size_t offset = static_cast<size_t>(reinterpret_cast<const char*>(b) - Base()) - kHeaderSize;
        if (offset % blockSize != 0)
            return false;
        size_t index = offset / blockSize;
        if (index >= seen.size() || seen[index])
            return false;
        seen[index] = true;
        if (++count > fFreeCount)
            return false;
    }
    return count == fFreeCount;
}

// ---- The small-block allocator of a pool.

VMemThreadImpl::VMemThreadImpl(VMemCppImpl* owner) : fOwner(owner)
{
    for (VPageAllocationImpl*& page : fPages)
        page = nullptr;
}

int VMemThreadImpl::GetStepFromSize(size_t size, int* outGranule)
{
    int granule;
    int step;
    if (size <= 1024) {
        granule = 16;
        step = static_cast<int>((size + 15) / 16);
    } else if (size <= 4096) {
        granule = 64;
        step = 65 + static_cast<int>((size - 1024 + 63) / 64);
    } else {
        granule = 256;
        step = 114 + static_cast<int>((size - 4096 + 255) / 256);
    }
    if (outGranule != nullptr)
        *outGranule = granule;
    return step;
}

size_t VMemThreadImpl::GetBlockSizeFromStep(int step)
{
    if (step <= 64)
        return static_cast<size_t>(step) * 16;
    if (step <= 113)
        return 1024 + static_cast<size_t>(step - 65) * 64;
    return 4096 + static_cast<size_t>(step - 114) * 256;
}

size_t VMemThreadImpl::GetPageSizeForBlockSize(size_t blockSize)
{
    if (blockSize < 256)
        return 8168;
    if (blockSize < 1024)
        return 16360;
    if (blockSize < 4096)
        return 65512;
    return 131048;
}

int VMemThreadImpl::_StepOfBlockSize(size_t blockSize) { return GetStepFromSize(blockSize, nullptr); }

void* VMemThreadImpl::Malloc(size_t n, unsigned char objectFlag, int tag)
{
    int step = GetStepFromSize(n, nullptr);
    if (step < 1 || step >= kStepCount)
        return nullptr;
    size_t blockSize = GetBlockSizeFromStep(step);
    if (fPages[step] != nullptr)
        return fPages[step]->Malloc(blockSize, objectFlag, tag);

    size_t pageSize = GetPageSizeForBlockSize(blockSize);
    void* memory = fOwner->Malloc(pageSize, 1, objectFlag, 0);
    if (memory == nullptr)
        return nullptr;
    VPageAllocationImpl* page = new (memory) VPageAllocationImpl(this, pageSize, blockSize);
    // The big block was counted whole; the small blocks count one by one.
    fOwner->fUsed -= static_cast<uint64_t>(page->fCapacity) * blockSize;
    page->fNext = fPages[step];
    page->fPrevious = nullptr;
    if (fPages[step] != nullptr)
        fPages[step]->fPrevious = page;
    fPages[step] = page;
    return page->Malloc(blockSize, objectFlag, tag);
}

void VMemThreadImpl::MarkPageAsFull(VPageAllocationImpl* page)
{
    int step = _StepOfBlockSize(page->GetBlockSize());
    if (page->fPrevious != nullptr)
        page->fPrevious->fNext = page->fNext;
    else if (fPages[step] == page)
        fPages[step] = page->fNext;
    else
        return;  // not linked
    if (page->fNext != nullptr)
        page->fNext->fPrevious = page->fPrevious;
    page->fNext = nullptr;
    page->fPrevious = nullptr;
}

void VMemThreadImpl::MarkPageAsNotFull(VPageAllocationImpl* page)
{
    int step = _StepOfBlockSize(page->GetBlockSize());
    if (fPages[step] == page || page->fPrevious != nullptr)
        return;  // linked already
    page->fNext = fPages[step];
    page->fPrevious = nullptr;
    if (fPages[step] != nullptr)
        fPages[step]->fPrevious = page;
    fPages[step] = page;
}

void VMemThreadImpl::RemovePage(VPageAllocationImpl* page)
{
    MarkPageAsFull(page);
    fOwner->Free(page);
}

bool VMemThreadImpl::Check() const
{
    for (int step = 0; step < kStepCount; ++step) {
        VPageAllocationImpl* first = fPages[step];
        if (first == nullptr)
            continue;
        for (int other = step + 1; other < kStepCount; ++other) {
            if (fPages[other] == first)
                return false;
        }
        for (VPageAllocationImpl* page = first; page != nullptr; page = page->fNext) {
            if (!page->Check())
                return false;
        }
    }
    return true;
}

// ---- The pool.

VMemCppImpl::VMemCppImpl(int inPoolIndex) : fSmall(this), fPoolIndex(inPoolIndex) {}

VMemCppImpl::~VMemCppImpl() = default;

void VMemCppImpl::Init(VCppMemMgr* inManager) { fManager = inManager; }

int VMemCppImpl::GetStepFromSize(size_t size, int* outGranule)
{
    if (size > kExactClassLimit) {
        if (outGranule != nullptr)
            *outGranule = 0;
        return 1025;
    }
    if (outGranule != nullptr)
        *outGranule = 1024;
    return static_cast<int>((size + 1023) / 1024);
}

int VMemCppImpl::GetExactStepFromSize(size_t size)
{
    return size <= kExactClassLimit ? static_cast<int>(size / 1024) : 1025;
}

void VMemCppImpl::RemoveBlockFromChainList(VMemImplBlock* block, VMemImplBlock** head)
{
    if (block->fPreviousFree != nullptr)
        block->fPreviousFree->fNextFree = block->fNextFree;
    else if (*head == block)
        *head = block->fNextFree;
    if (block->fNextFree != nullptr)
        block->fNextFree->fPreviousFree = block->fPreviousFree;
    block->fNextFree = nullptr;
    block->fPreviousFree = nullptr;
}

void VMemCppImpl::_PushFree(VMemImplBlock* block)
{
    VMemImplBlock** head = &fFreeLists[GetExactStepFromSize(block->GetSize())];
    block->fPreviousFree = nullptr;
    block->fNextFree = *head;
    if (*head != nullptr)
        (*head)->fPreviousFree = block;
    *head = block;
}

VMemImplBlock* VMemCppImpl::_TakeFreeBlock(VMemImplBlock* block, VMemImplBlock** head, size_t blockSize,
                                           unsigned char pageFlag, unsigned char objectFlag, int tag)
{
    RemoveBlockFromChainList(block, head);
    size_t size = block->GetSize();
    if (size - blockSize >= kMinSplit) {
        VMemImplBlock* tail = reinterpret_cast<VMemImplBlock*>(reinterpret_cast<char*>(block) + blockSize);
        size_t tailSize = size - blockSize;
        tail->fChunk = block->fChunk;
        tail->fSizeWord = -static_cast<int32_t>(tailSize);
        tail->fPad = 0;
        tail->fPreviousSize = static_cast<int32_t>(blockSize);
        tail->fTag = 0;
        // A free block always has a block after it.
        tail->Next()->fPreviousSize = static_cast<int32_t>(tailSize);
        _PushFree(tail);
        size = blockSize;
    }
    block->fSizeWord = SizeWord(size, pageFlag, objectFlag);
    block->fTag = tag;
    fUsed += size;
    return block;
}

void* VMemCppImpl::Malloc(size_t size, unsigned char pageFlag, unsigned char objectFlag, int tag)
{
    if (size < kSmallBlockLimit && !pageFlag)
        return fSmall.Malloc(size + VMemImplSmallBlock::kHeaderSize, objectFlag, tag);
    if (size > kMaxRequest)
        return nullptr;

    size_t blockSize;
    int step;
    if (size < kLargeRequest) {
        blockSize = (size + VMemImplBlock::kHeaderSize + 1023) & ~size_t(1023);
        step = static_cast<int>(blockSize / 1024);
    } else {
        blockSize = (size + VMemImplBlock::kHeaderSize + 7) & ~size_t(7);
        step = 1025;
    }

    VMemImplBlock* block = nullptr;
    if (step <= 1024 && fFreeLists[step] != nullptr) {
        // An exact class: its first block, whole.
        VMemImplBlock* found = fFreeLists[step];
        RemoveBlockFromChainList(found, &fFreeLists[step]);
        size_t foundSize = found->GetSize();
        found->fSizeWord = SizeWord(foundSize, pageFlag, objectFlag);
        found->fTag = tag;
        fUsed += foundSize;
        block = found;
    } else if (step == 1025 && fFreeLists[1025] != nullptr) {
        // Best fit among the large free blocks.
        VMemImplBlock* best = nullptr;
        for (VMemImplBlock* b = fFreeLists[1025]; b != nullptr; b = b->fNextFree) {
            size_t s = b->GetSize();
            if (s == blockSize) {
                best = b;
                break;
            }
            if (s > blockSize && (best == nullptr || s < best->GetSize()))
                best = b;
        }
        if (best != nullptr)
            block = _TakeFreeBlock(best, &fFreeLists[1025], blockSize, pageFlag, objectFlag, tag);
    }
    if (block == nullptr) {
        for (VMemImplAllocation* chunk = fChunks; chunk != nullptr && block == nullptr; chunk = chunk->fNext)
            block = chunk->AllocateAtTheEnd(blockSize, fUsed, pageFlag, objectFlag, tag);
    }
    if (block == nullptr && step <= 1024) {
        for (int i = 1025; i > step && block == nullptr; --i) {
            if (fFreeLists[i] != nullptr)
                block = _TakeFreeBlock(fFreeLists[i], &fFreeLists[i], blockSize, pageFlag, objectFlag, tag);
        }
    }
    if (block == nullptr && fAutoAllocation) {
        if (AddAllocation(std::max(blockSize + 1088, kAutoChunk), nullptr, 0))
            block = fChunks->AllocateAtTheEnd(blockSize, fUsed, pageFlag, objectFlag, tag);
    }
    return block != nullptr ? block->UserPtr() : nullptr;
}

bool VMemCppImpl::MergeContiguousFreeBlock(VMemImplBlock** ioBlock, VMemImplBlock* other)
{
    VMemImplBlock* block = *ioBlock;
    size_t sum = block->GetSize() + other->GetSize();
    if (sum > kMaxBlockSize)
        return false;
    RemoveBlockFromChainList(other, &fFreeLists[GetExactStepFromSize(other->GetSize())]);
    VMemImplBlock* first = other < block ? other : block;
    first->fSizeWord = -static_cast<int32_t>(sum);
    VMemImplAllocation* chunk = first->fChunk;
    if (!chunk->IsLastBlock(first))
        first->Next()->fPreviousSize = static_cast<int32_t>(sum);
    *ioBlock = first;
    return true;
}

void VMemCppImpl::_FreeBig(VMemImplBlock* block)
{
    VMemImplAllocation* chunk = block->fChunk;
    fUsed -= block->GetSize();
    // The block counts as free from now on (merges rely on it).
    block->fSizeWord = -static_cast<int32_t>(block->GetSize());

    if (block->fPreviousSize != 0) {
        VMemImplBlock* before =
            reinterpret_cast<VMemImplBlock*>(reinterpret_cast<char*>(block) - block->fPreviousSize);
        if (before->IsFree())
            MergeContiguousFreeBlock(&block, before);
    }

    if (chunk->IsLastBlock(block)) {
        // Give the trailing free run back to the chunk's free tail.
        VMemImplBlock* first = block;
        while (first->fPreviousSize != 0) {
            VMemImplBlock* before =
                reinterpret_cast<VMemImplBlock*>(reinterpret_cast<char*>(first) - first->fPreviousSize);
            if (!before->IsFree())
                break;
            RemoveBlockFromChainList(before, &fFreeLists[GetExactStepFromSize(before->GetSize())]);
            first = before;
        }
        chunk->ReduceFrom(first);
        if (chunk->fUsed == 0 && fAutoAllocation) {
            if (chunk->fPrevious != nullptr)
                chunk->fPrevious->fNext = chunk->fNext;
            else
                fChunks = chunk->fNext;
            if (chunk->fNext != nullptr)
                chunk->fNext->fPrevious = chunk->fPrevious;
            size_t size = static_cast<size_t>(chunk->fCapacity) + kChunkOverhead;
            fTotal -= size;
            VSystem::VirtualFree(chunk, size, chunk->fPhysical != 0);
        }
        return;
    }

    VMemImplBlock* after = block->Next();
    if (after->IsFree())
        MergeContiguousFreeBlock(&block, after);
    _PushFree(block);
}

void VMemCppImpl::Free(void* p)
{
    if (p == nullptr)
        return;
    if (KindWord(p) < 0) {
        VMemImplSmallBlock* small = VMemImplSmallBlock::FromUserPtr(p);
        VPageAllocationImpl* page = PageOfSmallBlock(small);
        VMemCppImpl* owner = page->GetOwner()->GetOwner();
        if (owner != this) {
            owner->Free(p);
            return;
        }
        page->Free(small);
        return;
    }
    VMemImplBlock* block = VMemImplBlock::FromUserPtr(p);
    if (block->fChunk == nullptr || block->IsFree())
        return;
    VMemCppImpl* owner = block->fChunk->fOwner;
    if (owner != this) {
        owner->Free(p);
        return;
    }
    _FreeBig(block);
}

void* VMemCppImpl::Realloc(void* p, size_t size)
{
    int tag = p != nullptr ? TagOf(p) : 0;
    void* block = Malloc(size, 0, 0, tag);
    if (block == nullptr)
        return nullptr;
    if (p != nullptr) {
        std::memcpy(block, p, std::min(GetPtrSize(p), size));
        Free(p);
    }
    return block;
}

size_t VMemCppImpl::GetPtrSize(const void* p)
{
    if (p == nullptr)
        return 0;
    if (KindWord(p) < 0) {
        VMemImplSmallBlock* small = VMemImplSmallBlock::FromUserPtr(p);
        return PageOfSmallBlock(small)->GetBlockSize() - VMemImplSmallBlock::kHeaderSize;
    }
    return VMemImplBlock::FromUserPtr(p)->GetSize() - VMemImplBlock::kHeaderSize;
}

bool VMemCppImpl::CheckPtr(const void* p)
{
    if (p == nullptr)
        return false;
    if (KindWord(p) >= 0)
        return VMemImplBlock::FromUserPtr(p)->fSizeWord >= 0;
    VMemImplSmallBlock* small = VMemImplSmallBlock::FromUserPtr(p);
    size_t offset = small->GetPageOffset();
    if (offset < VPageAllocationImpl::kHeaderSize)
        return false;
    VPageAllocationImpl* page = PageOfSmallBlock(small);
    if (offset >= page->GetPageSize() || !page->Contains(small))
        return false;
    int guard = page->GetFreeCount();
    for (const VMemImplSmallBlock* b = page->fFreeList; b != nullptr; b = b->fNextFree) {
        if (b == small || !page->Contains(b) || --guard < 0)
            return false;
    }
    return true;
}

bool VMemCppImpl::Check(void*)
{
    for (VMemImplAllocation* chunk = fChunks; chunk != nullptr; chunk = chunk->fNext) {
        char* p = chunk->BlockArea();
        char* end = p + chunk->fUsed;
        while (p < end) {
            VMemImplBlock* block = reinterpret_cast<VMemImplBlock*>(p);
            size_t size = block->GetSize();
            if (size < VMemImplBlock::kHeaderSize || block->fChunk != chunk)
                return false;
            if (block->HasPageFlag() && !reinterpret_cast<VPageAllocationImpl*>(block->UserPtr())->Check())
                return false;
            p += size;
        }
    }
    return fSmall.Check();
}

void VMemCppImpl::_LinkChunk(VMemImplAllocation* chunk, size_t size, bool physical)
{
    chunk->fOwner = this;
    chunk->fPrevious = nullptr;
    chunk->fNext = fChunks;
    if (fChunks != nullptr)
        fChunks->fPrevious = chunk;
    fChunks = chunk;
    chunk->Init(size, physical);
    fTotal += size;
    if (fManager != nullptr)
        fManager->AddPooledTotal(size);
}

bool VMemCppImpl::AddAllocation(size_t size, const void* address, unsigned char physical)
{
    if (size < kMinChunk)
        return false;
    void* memory;
    bool isPhysical = false;
    if (physical) {
        memory = VSystem::VirtualAllocPhysicalMemory(size, address, &isPhysical);
    } else {
        memory = VSystem::VirtualAlloc(size, address);
    }
    if (memory == nullptr)
        return false;
    _LinkChunk(static_cast<VMemImplAllocation*>(memory), size, isPhysical);
    return true;
}

bool VMemCppImpl::AddAlreadyAllocatedMem(void* memory, size_t size, bool physical)
{
    if (memory == nullptr || size < kChunkOverhead + VMemImplBlock::kHeaderSize)
        return false;
    _LinkChunk(static_cast<VMemImplAllocation*>(memory), size, physical);
    return true;
}

int VMemCppImpl::CountAllocations()
{
    int count = 0;
    for (VMemImplAllocation* chunk = fChunks; chunk != nullptr; chunk = chunk->fNext)
        ++count;
    return count;
}

void VMemCppImpl::SetAutoAllocationState(bool inAuto) { fAutoAllocation = inAuto; }

size_t VMemCppImpl::GetTotalAllocation() const { return static_cast<size_t>(fTotal); }

void VMemCppImpl::GetMemUsageInfo(size_t& outAllocated, size_t& outUsed)
{
    outAllocated = static_cast<size_t>(fTotal);
    outUsed = static_cast<size_t>(fUsed);
}

int VMemCppImpl::GetAllocationBlockNumber(void* p)
{
    if (p == nullptr)
        return fPoolIndex;
    if (KindWord(p) < 0)
        return PageOfSmallBlock(VMemImplSmallBlock::FromUserPtr(p))->GetOwner()->GetOwner()->fPoolIndex;
    VMemImplBlock* block = VMemImplBlock::FromUserPtr(p);
    if (block->fChunk == nullptr)
        return fPoolIndex;
    return block->fChunk->fOwner->fPoolIndex;
}

// ---- Statistics.

void VMemCppImpl::_AddStats(VMemStats& ioStats, void* userPtr, size_t size, bool objectFlag, int tag)
{
    void* vtable = nullptr;
    if (objectFlag) {
        ++ioStats.fNbObjects;
        std::memcpy(&vtable, userPtr, sizeof(vtable));
    }
    if (vtable != nullptr) {
        // The type information sits just before the object's virtual table.
        const std::type_info* info = static_cast<const std::type_info* const*>(vtable)[-1];
        VMemStats::CountAndMem& entry = ioStats.fClasses[info];
        ++entry.fCount;
        entry.fMem += static_cast<int64_t>(size);
        ioStats.fVirtualTables[vtable] = info;
    } else {
        VMemStats::CountAndMem& entry = ioStats.fTags[tag];
        ++entry.fCount;
        entry.fMem += static_cast<int64_t>(size);
    }
}

void VPageAllocationImpl::GetStats(VMemStats& ioStats, bool& outFull)
{
    size_t blockSize = GetBlockSize();
    int64_t whole = static_cast<int64_t>(fCapacity) * static_cast<int64_t>(blockSize);
    ioStats.fUsedMem -= whole;
    ioStats.fFreeMem += whole;
    outFull = fUsedCount == fCapacity;
    VMemStats::UsedAndFree& sizes = ioStats.fSmallBlockSizes[blockSize];
    sizes.fUsed += fUsedCount;
    sizes.fFree += fCapacity - fUsedCount;
    ioStats.fNbSmallBlocks += fCapacity;
    ioStats.fNbUsedSmallBlocks += fUsedCount;
    ioStats.fNbFreeSmallBlocks += fCapacity - fUsedCount;

    // The blocks ever handed out lie between the header and fEnd; those on
    // the free list are free.
    std::vector<bool> isFree(fCapacity, false);
    for (const VMemImplSmallBlock* b = fFreeList; b != nullptr; b = b->fNextFree) {
        size_t index = (static_cast<size_t>(reinterpret_cast<const char*>(b) - Base()) - kHeaderSize) / blockSize;
        if (index < isFree.size())
            isFree[index] = true;
    }
    VMemCppImpl* pool = fOwner->GetOwner();
    size_t index = 0;
    for (size_t offset = kHeaderSize; offset + blockSize <= fEnd; offset += blockSize, ++index) {
        if (index < isFree.size() && isFree[index])
            continue;
        VMemImplSmallBlock* small = reinterpret_cast<VMemImplSmallBlock*>(Base() + offset);
        // A used block is in use memory, not free memory.
        ioStats.fUsedMem += static_cast<int64_t>(blockSize);
        ioStats.fFreeMem -= static_cast<int64_t>(blockSize);
        pool->_AddStats(ioStats, small->UserPtr(), blockSize, small->HasObjectFlag(), small->fTag);
    }
}

void VMemCppImpl::GetStats(VMemStats& ioStats, short inPool)
{
    for (VMemImplAllocation* chunk = fChunks; chunk != nullptr; chunk = chunk->fNext) {
        ioStats.fLayout.push_back({reinterpret_cast<uint64_t>(chunk), VMemStats::kLayoutChunk,
                                   static_cast<uint16_t>(inPool)});
        char* p = chunk->BlockArea();
        char* end = p + chunk->fUsed;
        while (p < end) {
            VMemImplBlock* block = reinterpret_cast<VMemImplBlock*>(p);
            size_t size = block->GetSize();
            if (size == 0)
                break;  // a damaged chunk: stop rather than loop
            ioStats.fBiggestBlock = std::max<uint64_t>(ioStats.fBiggestBlock, size);
            ++ioStats.fNbBigBlocks;
            if (block->IsFree()) {
                ioStats.fBiggestFreeBlock = std::max<uint64_t>(ioStats.fBiggestFreeBlock, size);
                ++ioStats.fNbFreeBigBlocks;
                ioStats.fFreeMem += static_cast<int64_t>(size);
                ++ioStats.fOtherBigBlocks[size].fFree;
                ioStats.fLayout.push_back({size, 0, 0});
            } else {
                ++ioStats.fNbUsedBigBlocks;
                ioStats.fUsedMem += static_cast<int64_t>(size);
                if (block->HasPageFlag()) {
                    VPageAllocationImpl* page = reinterpret_cast<VPageAllocationImpl*>(block->UserPtr());
                    ++ioStats.fNbPages;
                    bool full = false;
                    page->GetStats(ioStats, full);
                    VMemStats::FullAndPartial& pages = ioStats.fPagesBySize[size];
                    if (full)
                        ++pages.fFull;
                    else
                        ++pages.fPartial;
                    ioStats.fLayout.push_back({size, static_cast<uint16_t>(page->GetBlockSize()),
                                               static_cast<uint16_t>(page->GetUsedCount())});
                } else {
                    ++ioStats.fOtherBigBlocks[size].fUsed;
                    ioStats.fLayout.push_back({size, VMemStats::kLayoutUsedBlock, 0});
                    _AddStats(ioStats, block->UserPtr(), size, block->HasObjectFlag(), block->fTag);
                }
            }
            p += size;
        }
        uint64_t tail = chunk->fCapacity - chunk->fUsed;
        if (tail != 0) {
            ioStats.fLayout.push_back({tail, 0, 0});
            ioStats.fBiggestBlock = std::max(ioStats.fBiggestBlock, tail);
            ioStats.fBiggestFreeBlock = std::max(ioStats.fBiggestFreeBlock, tail);
            ioStats.fFreeMem += static_cast<int64_t>(tail);
        }
    }
}

}  // namespace qelt
