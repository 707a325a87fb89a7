// The process memory manager: every block of memory that the toolbox asks
// for by size and tag goes through it. It works in one of two modes chosen
// at construction: malloc mode hands every request to the C library's
// allocator; pooled mode serves requests from four pools of the toolbox's own
// block allocator and, when they all fail, runs a purge protocol with a
// client-supplied purge handler before trying again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/VLeaksChecker.h"
#include "kernel/VMemCppImpl_stdlib.h"
#include "platform/PlatSync.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class VMemCppImpl;
class VMemStats;
class VSyncEvent;
class VArrayString;
class VArrayLong;
class IMemoryWalker;
struct DebugBlockHeader;

// Allocation tags of the toolbox (kept with pooled blocks).
constexpr int kMemTag_String = static_cast<int>(FourCC("str "));
constexpr int kMemTag_StringRetained = static_cast<int>(FourCC("strX"));
constexpr int kMemTag_MemBuffer = static_cast<int>(FourCC("memb"));
constexpr int kMemTag_ValueArray = static_cast<int>(FourCC("varr"));
constexpr int kMemTag_Sort = static_cast<int>(FourCC("sort"));
constexpr int kMemTag_Stream = static_cast<int>(FourCC("stm "));
constexpr int kMemTag_FileStream = static_cast<int>(FourCC("stmf"));
constexpr int kMemTag_StringRanges = static_cast<int>(FourCC("strU"));
constexpr int kMemTag_Intl = static_cast<int>(FourCC("intl"));
constexpr int kMemTag_UpperLower = static_cast<int>(FourCC("tupc"));
constexpr int kMemTag_Grow = static_cast<int>(FourCC("grow"));

// A record handed out by RegisterMemHog: a critical section and the id of
// the task that registered it.
class VMemoryHog {
public:
    explicit VMemoryHog(int32_t inTaskID) : fTaskID(inTaskID) {}

    VCriticalSection& GetMutex() { return fMutex; }
    int32_t GetTaskID() const { return fTaskID; }

private:
    VCriticalSection fMutex;
    int32_t fTaskID;
};

// Called to make room in a pool: (pool, size wanted, first call of this request).
using VPurgeHandlerProc = size_t (*)(int inPool, size_t inSize, bool inFirstCall);

class VCppMemMgr {
public:
    // How the manager chooses its mode.
    enum EAllocatorKind : int {
        eAllocatorFromBundle = 0,  // the main bundle's Info.plist "MemoryAllocator" decides
        eAllocatorMalloc = 1,
        eAllocatorPooled = 2
    };

    // The manager's own memory comes from virtual memory, never from malloc.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* p) noexcept;

    explicit VCppMemMgr(EAllocatorKind inKind = eAllocatorFromBundle);
    VCppMemMgr(EAllocatorKind inKind, bool inFlag1, bool inFlag2);
    virtual ~VCppMemMgr();

    VCppMemMgr(const VCppMemMgr&) = delete;
    VCppMemMgr& operator=(const VCppMemMgr&) = delete;

    // The mode the main bundle's settings ask for: the value of
    // "MemoryAllocator" in the property list file at infoPlistPath; pooled
    // only for "qelt" in any letter case. An empty path or a missing key
    // gives malloc mode.
    static EAllocatorKind ChooseAllocatorKind(const std::string& inInfoPlistPath);

    // The mode for a "MemoryAllocator" value (null: absent).
    static EAllocatorKind KindFromSetting(const char* inValue);

    bool IsMallocMode() const { return fMallocMode; }

    // ---- Allocation. All results are null on failure; no error is raised.

    void* Malloc(size_t inSize, bool inObjectFlag, int inTag, int inPreferredPool = -1)
    {
        if (fMallocMode)
            return fMallocImpl->Malloc(inSize, 0, inObjectFlag, inTag);
        return _PooledMalloc(inSize, inObjectFlag, inTag, inPreferredPool);
    }

    // count * size zero-filled bytes; null for a negative count or a product
    // that does not fit.
    void* Calloc(int inCount, size_t inSize, int inTag);

    // Null is ignored.
    void Free(void* p)
    {
        if (fMallocMode)
            fMallocImpl->Free(p);
        else if (p != nullptr)
            _PooledFree(p);
    }

    // Null p: a new block (tag 0). Size 0: frees p, returns null. Otherwise
    // the block moves to a new block holding the old bytes up to the smaller
    // size; when no new block can be had, null, and p stays valid.
    void* Realloc(void* p, size_t inSize);

    // The usable size of a block (0 for null).
    size_t GetPtrSize(const void* p);

    // One pass over the pools, without lock, size test or purge (pooled mode);
    // in malloc mode the same as Malloc.
    void* TryToMalloc(size_t inSize, bool inObjectFlag, int inTag, int inPreferredPool = -1);

    // The string formatter's check of an object pointer: p unchanged.
    const void* CheckVObject(const void* p) const { return p; }

    // ---- Purging, chunks and statistics.

    // Installs the purge handler and returns the previous one.
    VPurgeHandlerProc SetPurgeHandlerProc(VPurgeHandlerProc inProc);

    // Runs one purge of a pool (nothing in malloc mode).
    void PurgeMem(int inPool);

    // Gives every pool a chunk of size / pool count bytes (pooled mode).
    bool AddVirtualAllocation(size_t inSize, const void* inAddress, bool inPhysical);

    int CountVirtualAllocations();
    size_t GetAllocatedMem();
    void GetMemUsageInfo(size_t& outAllocated, size_t& outUsed);
    void GetMemStatistics(size_t& outA, size_t& outB, size_t& outAllocated, size_t& outD, size_t& outE,
                          size_t& outF, size_t& outG, size_t& outH, size_t& outI);
    size_t GetFreeMemory();
    size_t GetMaxFree();
    size_t GetMaxUsed();
    size_t GetUsedMem();
    void GetStatistics(VMemStats& ioStats, int inPool);
    int GetAllocationBlockNumber(void* p);

    // Bytes of virtual memory that the pools have taken from the system.
    uint64_t GetPooledTotal() const { return fPooledTotal; }
    // Called by a pool when it gains a chunk.
    void AddPooledTotal(size_t inSize) { fPooledTotal += inSize; }

    int GetPoolCount() const { return fPoolCount; }

    VLeaksChecker& GetLeaksChecker() { return fLeaksChecker; }

    // ---- Mem hogs.

    VMemoryHog* RegisterMemHog();
    void UnRegisterMemHog(VMemoryHog* inHog);
    size_t CountMemHogs();

    // ---- Debugging entries that do nothing in this system.

    bool CheckPtr(const void*) { return true; }
    bool Check() { return true; }
    bool CheckNow() { return true; }
    bool IsAPtr(void*, size_t) { return true; }
    int Walk(IMemoryWalker&) { return 0; }
    void RegisterUser(void*) {}
    void UnregisterUser(void*) {}
    void RegisterBlock(DebugBlockHeader*, size_t, bool) {}
    void UnregisterBlock(DebugBlockHeader*) {}
    void DumpLeaks() {}
    void GetUsage(VArrayString&, VArrayLong&, VArrayLong&) {}

private:
    void _Init(EAllocatorKind inKind);
    void* _PooledMalloc(size_t inSize, bool inObjectFlag, int inTag, int inPreferredPool);
    void _PooledFree(void* p);
    // Walks the pools once in ring order from start, skipping the purging
    // pool and skip; the first block found.
    void* _WalkPools(int inStart, int inSkip, size_t inSize, bool inObjectFlag, int inTag);
    // With the pool mutex held: waits for the purge in progress to end.
    void _WaitForPurge();
    // With the pool mutex held: runs the handler on pool (released meanwhile).
    void _RunPurge(int inPoolToRecord, int inPoolForHandler, size_t inSize, bool inFirstCall);

    plat::RecursiveMutex fPoolMutex;
    VMemCppImpl_stdlib* fMallocImpl = nullptr;
    std::vector<VMemCppImpl*> fPools;
    int fPoolCount = 0;
    int fRotationIndex = 0;
    int fPurgingPool = -1;
    size_t fLargestChunk = 0;
    VSyncEvent* fPurgeEvent = nullptr;
    VPurgeHandlerProc fPurgeHandler = nullptr;
    uint64_t fPooledTotal = 0;
    bool fMallocMode = false;
    VLeaksChecker fLeaksChecker;
    VCriticalSection fMemHogLock;
    std::vector<VMemoryHog*> fMemHogs;
};

// The kinds under their namespace-level names too.
using EAllocatorKind = VCppMemMgr::EAllocatorKind;
constexpr EAllocatorKind eAllocatorFromBundle = VCppMemMgr::eAllocatorFromBundle;
constexpr EAllocatorKind eAllocatorMalloc = VCppMemMgr::eAllocatorMalloc;
constexpr EAllocatorKind eAllocatorPooled = VCppMemMgr::eAllocatorPooled;

}  // namespace qelt
