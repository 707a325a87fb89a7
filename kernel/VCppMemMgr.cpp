#include "kernel/VCppMemMgr.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "kernel/VMemCppImpl.h"
#include "kernel/VMemStats.h"
#include "kernel/VSyncEvent.h"
#include "kernel/VSystem.h"
#include "platform/PlatBundle.h"

#include "kernel/VTaskServices.h"

namespace qelt {

namespace {

// Below this, AddVirtualAllocation adds nothing.
constexpr size_t kMinVirtualAllocation = 10485760;

constexpr int kPooledPoolCount = 4;

// Process-wide lock for memory dumps; nothing else uses it.
VCriticalSection gDumpMemMutex;

int32_t CurrentTaskID()
{
    return GetCurrentTaskID();
}

}  // namespace

// ---- Storage of the manager itself: pages of virtual memory, with the
// total size kept in the first 8 bytes.

void* VCppMemMgr::operator new(size_t size) noexcept
{
    if (size > SIZE_MAX - 8)
        return nullptr;
    size_t total = size + 8;
    void* block = VSystem::VirtualAlloc(total, nullptr);
    if (block == nullptr)
        return nullptr;
    *static_cast<uint64_t*>(block) = total;
    return static_cast<char*>(block) + 8;
}

void VCppMemMgr::operator delete(void* p) noexcept
{
    if (p == nullptr)
        return;
    void* block = static_cast<char*>(p) - 8;
    size_t total = static_cast<size_t>(*static_cast<uint64_t*>(block));
    VSystem::VirtualFree(block, total, false);
}

// ---- Construction.

VCppMemMgr::VCppMemMgr(EAllocatorKind inKind) { _Init(inKind); }

VCppMemMgr::VCppMemMgr(EAllocatorKind inKind, bool, bool) { _Init(inKind); }

VCppMemMgr::~VCppMemMgr()
{
    if (fMallocMode) {
        delete fMallocImpl;
        fMallocImpl = nullptr;
    } else {
        for (VMemCppImpl* pool : fPools)
            delete pool;
        fPools.clear();
    }
    // Records still listed are not destroyed: their owners may still use them.
    fMemHogs.clear();
    fMemHogs.shrink_to_fit();
}

EAllocatorKind VCppMemMgr::KindFromSetting(const char* inValue)
{
    if (inValue != nullptr && ::strcasecmp(inValue, "stdlib") != 0 && ::strcasecmp(inValue, "qelt") == 0)
        return eAllocatorPooled;
    return eAllocatorMalloc;
}

EAllocatorKind VCppMemMgr::ChooseAllocatorKind(const std::string& inInfoPlistPath)
{
    std::string value;
    if (inInfoPlistPath.empty() || !plat::GetPlistFileValue(inInfoPlistPath, "MemoryAllocator", value))
        return KindFromSetting(nullptr);
    return KindFromSetting(value.c_str());
}

void VCppMemMgr::_Init(EAllocatorKind inKind)
{
    fPurgingPool = -1;
    fRotationIndex = 0;
    fLargestChunk = 0;
    fPurgeEvent = nullptr;
    fPurgeHandler = nullptr;

    if (inKind == eAllocatorFromBundle) {
        // The main bundle's Info.plist is read once, and the process object
        // finds it read.
        std::string setting;
        inKind = KindFromSetting(plat::GetMainBundleInfoValue("MemoryAllocator", setting) ? setting.c_str() : nullptr);
    }

    if (inKind == eAllocatorPooled) {
        fPoolCount = kPooledPoolCount;
        fPools.reserve(kPooledPoolCount);
        for (int i = 0; i < kPooledPoolCount; ++i) {
            VMemCppImpl* pool = new VMemCppImpl(i);
            fPools.push_back(pool);
            pool->Init(this);
        }
        fMallocMode = false;
    } else {
        // Malloc mode, also for a kind this manager does not know: the
        // process then still has a working allocator.
        fMallocImpl = new VMemCppImpl_stdlib();
        fMallocImpl->Init(this);
        fMallocMode = true;
    }
}

// ---- Allocation.

void* VCppMemMgr::Calloc(int inCount, size_t inSize, int inTag)
{
    if (inCount < 0)
        return nullptr;
    size_t total = 0;
    if (__builtin_mul_overflow(static_cast<size_t>(inCount), inSize, &total))
        return nullptr;
    void* p = Malloc(total, false, inTag, -1);
    if (p != nullptr)
        std::memset(p, 0, total);
    return p;
}

void* VCppMemMgr::Realloc(void* p, size_t inSize)
{
    if (p == nullptr)
        return Malloc(inSize, false, 0, -1);
    if (inSize == 0) {
        Free(p);
        return nullptr;
    }
    void* block = Malloc(inSize, false, kMemTag_Grow, -1);
    if (block == nullptr)
        return nullptr;
    size_t oldSize = GetPtrSize(p);
    std::memcpy(block, p, std::min(oldSize, inSize));
    Free(p);
    return block;
}

size_t VCppMemMgr::GetPtrSize(const void* p)
{
    if (p == nullptr)
        return 0;
    if (fMallocMode)
        return fMallocImpl->GetPtrSize(p);
    plat::ScopedLock<plat::RecursiveMutex> lock(fPoolMutex);
    return fPools[0]->GetPtrSize(p);
}

void VCppMemMgr::_PooledFree(void* p)
{
    plat::ScopedLock<plat::RecursiveMutex> lock(fPoolMutex);
    fPools[0]->Free(p);
}

void* VCppMemMgr::_WalkPools(int inStart, int inSkip, size_t inSize, bool inObjectFlag, int inTag)
{
    for (int n = 0; n < fPoolCount; ++n) {
        int i = (inStart + n) % fPoolCount;
        if (i == fPurgingPool || i == inSkip)
            continue;
        void* p = fPools[i]->Malloc(inSize, 0, inObjectFlag, inTag);
        if (p != nullptr)
            return p;
    }
    return nullptr;
}

void* VCppMemMgr::TryToMalloc(size_t inSize, bool inObjectFlag, int inTag, int inPreferredPool)
{
    if (fMallocMode)
        return fMallocImpl->Malloc(inSize, 0, inObjectFlag, inTag);
    if (inPreferredPool >= 0 && inPreferredPool < fPoolCount) {
        void* p = fPools[inPreferredPool]->Malloc(inSize, 0, inObjectFlag, inTag);
        if (p != nullptr)
            return p;
    } else {
        inPreferredPool = -1;
    }
    return _WalkPools(fRotationIndex, inPreferredPool, inSize, inObjectFlag, inTag);
}

void VCppMemMgr::_WaitForPurge()
{
    VSyncEvent* event = fPurgeEvent;
    event->Retain();
    fPoolMutex.Unlock();
    event->Lock();
    event->Release();
    fPoolMutex.Lock();
}

void VCppMemMgr::_RunPurge(int inPoolToRecord, int inPoolForHandler, size_t inSize, bool inFirstCall)
{
    fPurgeEvent = new VSyncEvent();
    fPurgingPool = inPoolToRecord;
    VPurgeHandlerProc handler = fPurgeHandler;
    fPoolMutex.Unlock();
    if (handler != nullptr)
        handler(inPoolForHandler, inSize, inFirstCall);
    fPoolMutex.Lock();
    VSyncEvent* event = fPurgeEvent;
    fPurgeEvent = nullptr;
    fPurgingPool = -1;
    event->Unlock();
    event->Release();
}

void* VCppMemMgr::_PooledMalloc(size_t inSize, bool inObjectFlag, int inTag, int inPreferredPool)
{
    fPoolMutex.Lock();
    if (inSize > fLargestChunk || fPoolCount == 0) {
        fPoolMutex.Unlock();
        return nullptr;
    }
    const int startRotation = fRotationIndex;
    bool firstCall = true;
    void* p = nullptr;
    if (inPreferredPool < 0 || inPreferredPool >= fPoolCount)
        inPreferredPool = -1;
    // Every round either waits for another request's purge or runs one of its
    // own, and each purge moves the rotation on. The ring normally ends the
    // request; the bound only keeps a request from circling for ever while
    // other threads keep moving the rotation past its starting point.
    for (int rounds = 0; rounds < 2 * fPoolCount + 2; ++rounds) {
        if (inPreferredPool != -1) {
            p = fPools[inPreferredPool]->Malloc(inSize, 0, inObjectFlag, inTag);
            if (p != nullptr)
                break;
        }
        p = _WalkPools(fRotationIndex, inPreferredPool, inSize, inObjectFlag, inTag);
        if (p != nullptr)
            break;

        if (fPurgingPool != -1) {
            _WaitForPurge();
            if (fRotationIndex == startRotation)
                break;
            inPreferredPool = -1;
            continue;
        }

        _RunPurge(fRotationIndex, fRotationIndex, inSize, firstCall);
        firstCall = false;
        fRotationIndex = (fRotationIndex + 1) % fPoolCount;

        p = _WalkPools(fRotationIndex, -1, inSize, inObjectFlag, inTag);
        if (p != nullptr)
            break;
        if (fRotationIndex == startRotation)
            break;
        inPreferredPool = -1;
    }
    fPoolMutex.Unlock();
    return p;
}

// ---- Purging, chunks and statistics.

VPurgeHandlerProc VCppMemMgr::SetPurgeHandlerProc(VPurgeHandlerProc inProc)
{
    plat::ScopedLock<plat::RecursiveMutex> lock(fPoolMutex);
    VPurgeHandlerProc previous = fPurgeHandler;
    fPurgeHandler = inProc;
    return previous;
}

void VCppMemMgr::PurgeMem(int inPool)
{
    if (fMallocMode)
        return;
    fPoolMutex.Lock();
    while (fPurgingPool != -1)
        _WaitForPurge();
    _RunPurge(inPool == -1 ? 0 : inPool, inPool, 0, true);
    fPoolMutex.Unlock();
}

bool VCppMemMgr::AddVirtualAllocation(size_t inSize, const void* inAddress, bool inPhysical)
{
    if (fMallocMode)
        return false;
    if (inSize < kMinVirtualAllocation)
        return true;
    plat::ScopedLock<plat::RecursiveMutex> lock(fPoolMutex);
    size_t perPool = inSize / static_cast<size_t>(fPoolCount);
    for (VMemCppImpl* pool : fPools) {
        void* memory = nullptr;
        if (inPhysical) {
            bool firstTry = false;
            memory = VSystem::VirtualAllocPhysicalMemory(perPool, inAddress, &firstTry);
        } else {
            memory = VSystem::VirtualAlloc(perPool, inAddress);
        }
        if (memory == nullptr)
            return false;
        pool->AddAlreadyAllocatedMem(memory, perPool, inPhysical);
        if (perPool > fLargestChunk)
            fLargestChunk = perPool;
    }
    return true;
}

int VCppMemMgr::CountVirtualAllocations()
{
    if (fMallocMode)
        return fMallocImpl->CountAllocations();
    plat::ScopedLock<plat::RecursiveMutex> lock(fPoolMutex);
    int count = 0;
    for (VMemCppImpl* pool : fPools)
        count += pool->CountAllocations();
    return count;
}

size_t VCppMemMgr::GetAllocatedMem()
{
    plat::ScopedLock<plat::RecursiveMutex> lock(fPoolMutex);
    if (fMallocMode)
        return fMallocImpl->GetTotalAllocation();
    size_t total = 0;
    for (VMemCppImpl* pool : fPools)
        total += pool->GetTotalAllocation();
    return total;
}

void VCppMemMgr::GetMemUsageInfo(size_t& outAllocated, size_t& outUsed)
{
    if (fMallocMode) {
        fMallocImpl->GetMemUsageInfo(outAllocated, outUsed);
        return;
    }
    outAllocated = 0;
    outUsed = 0;
    for (VMemCppImpl* pool : fPools) {
        size_t allocated = 0;
        size_t used = 0;
        pool->GetMemUsageInfo(allocated, used);
        outAllocated += allocated;
        outUsed += used;
    }
}

void VCppMemMgr::GetMemStatistics(size_t& outA, size_t& outB, size_t& outAllocated, size_t& outD, size_t& outE,
                                  size_t& outF, size_t& outG, size_t& outH, size_t& outI)
{
    outA = outB = outD = outE = outF = outG = outH = outI = 0;
    outAllocated = GetAllocatedMem();
}

size_t VCppMemMgr::GetFreeMemory()
{
    (void)GetAllocatedMem();
    return 0;
}

size_t VCppMemMgr::GetMaxFree()
{
    (void)GetAllocatedMem();
    return 0;
}

size_t VCppMemMgr::GetMaxUsed()
{
    (void)GetAllocatedMem();
    return 0;
}

size_t VCppMemMgr::GetUsedMem()
{
    (void)GetAllocatedMem();
    return 0;
}

void VCppMemMgr::GetStatistics(VMemStats& ioStats, int inPool)
{
    plat::ScopedLock<plat::RecursiveMutex> lock(fPoolMutex);
    ioStats.Clear();
    if (fMallocMode) {
        fMallocImpl->GetStats(ioStats, 0);
        return;
    }
    if (inPool >= 0 && inPool < fPoolCount) {
        fPools[inPool]->GetStats(ioStats, static_cast<short>(inPool));
    } else {
        for (int i = 0; i < fPoolCount; ++i)
            fPools[i]->GetStats(ioStats, static_cast<short>(i));
    }
}

int VCppMemMgr::GetAllocationBlockNumber(void* p)
{
    if (fMallocMode || p == nullptr)
        return 0;
    plat::ScopedLock<plat::RecursiveMutex> lock(fPoolMutex);
    return fPools[0]->GetAllocationBlockNumber(p);
}

// ---- Mem hogs.

VMemoryHog* VCppMemMgr::RegisterMemHog()
{
    VMemoryHog* hog = new VMemoryHog(CurrentTaskID());
    StLocker lock(fMemHogLock);
    fMemHogs.push_back(hog);
    return hog;
}

void VCppMemMgr::UnRegisterMemHog(VMemoryHog* inHog)
{
    StLocker lock(fMemHogLock);
    auto it = std::find(fMemHogs.begin(), fMemHogs.end(), inHog);
    if (it != fMemHogs.end()) {
        fMemHogs.erase(it);
        delete inHog;
    }
}

size_t VCppMemMgr::CountMemHogs()
{
    StLocker lock(fMemHogLock);
    return fMemHogs.size();
}

}  // namespace qelt
