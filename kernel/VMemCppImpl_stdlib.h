// The malloc allocator: serves the memory manager's malloc mode directly from
// the C library's allocator. Flags and tags are ignored.
#pragma once

#include <malloc.h>

#include <cstdlib>

#include "kernel/XMemCppImpl.h"

namespace qelt {

class VMemCppImpl_stdlib final : public XMemCppImpl {
public:
    // The figure reported as "taken from the system".
    static constexpr size_t kReportedAllocation = 1048576;

    VMemCppImpl_stdlib() = default;
    ~VMemCppImpl_stdlib() override;

    void Init(VCppMemMgr*) override {}
    void* Malloc(size_t size, unsigned char, unsigned char, int) override { return std::malloc(size); }
    void Free(void* p) override { std::free(p); }
    void* Realloc(void* p, size_t size) override { return std::realloc(p, size); }
    size_t GetPtrSize(const void* p) override { return ::malloc_usable_size(const_cast<void*>(p)); }
    bool CheckPtr(const void*) override { return true; }
    bool Check(void*) override { return true; }
    bool AddAllocation(size_t, const void*, unsigned char) override { return false; }
    int CountAllocations() override { return 1; }
    void SetAutoAllocationState(bool) override {}
    void GetStats(VMemStats&, short) override {}
    size_t GetTotalAllocation() const override { return kReportedAllocation; }
    void GetMemUsageInfo(size_t& outAllocated, size_t& outUsed) override
    {
        outAllocated = kReportedAllocation;
        outUsed = 0;
    }
};

}  // namespace qelt
