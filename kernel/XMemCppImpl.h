// The allocator interface of the process memory manager, implemented by the
// malloc allocator (VMemCppImpl_stdlib) and by the pooled block allocator
// (VMemCppImpl).
#pragma once

#include <cstddef>

namespace qelt {

class VCppMemMgr;
class VMemStats;

class XMemCppImpl {
public:
    virtual ~XMemCppImpl() = default;

    // Called once, right after construction, with the owning manager.
    virtual void Init(VCppMemMgr* inManager) = 0;

    // A block of at least size bytes, or null. The page flag marks a page of
    // small blocks (pooled allocator only); the object flag marks a block
    // that holds an object. The tag is kept with pooled blocks.
    virtual void* Malloc(size_t size, unsigned char pageFlag, unsigned char objectFlag, int tag) = 0;

    virtual void Free(void* p) = 0;

    virtual void* Realloc(void* p, size_t size) = 0;

    // The usable size of a block.
    virtual size_t GetPtrSize(const void* p) = 0;

    // Consistency test of one block.
    virtual bool CheckPtr(const void* p) = 0;

    // Consistency test of the whole allocator.
    virtual bool Check(void* p) = 0;

    // Takes a new chunk from the system.
    virtual bool AddAllocation(size_t size, const void* address, unsigned char physical) = 0;

    // Number of chunks.
    virtual int CountAllocations() = 0;

    // Allows or forbids taking chunks on demand.
    virtual void SetAutoAllocationState(bool inAuto) = 0;

    // Adds the allocator's figures to a statistics record.
    virtual void GetStats(VMemStats& ioStats, short inPool) = 0;

    // Bytes taken from the system.
    virtual size_t GetTotalAllocation() const = 0;

    // Bytes taken from the system and bytes in use.
    virtual void GetMemUsageInfo(size_t& outAllocated, size_t& outUsed) = 0;
};

}  // namespace qelt
