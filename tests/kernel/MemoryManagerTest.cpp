#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VMemStats.h"
#include "kernel/VMemory.h"
#include "kernel/VObject.h"
#include "kernel/VSystem.h"

using namespace qelt;

namespace {

constexpr size_t kMiB = 1048576;

std::string WriteInfoPlist(const std::string& body)
{
    std::string folder = test::MakeTempFolder("plist");
    std::string path = folder + "/Info.plist";
    std::ofstream out(path);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
        << body << "</dict>\n</plist>\n";
    return path;
}

// A manager in pooled mode, destroyed at the end of the test. A request of
// exactly the chunk size passes the manager's size test but no pool can hold
// it (each chunk also carries its own header), so it exercises the purge
// protocol.
struct PooledManager {
    PooledManager() : mgr(new VCppMemMgr(eAllocatorPooled)) {}
    ~PooledManager() { delete mgr; }
    VCppMemMgr* mgr;
};

}  // namespace

TEST(MemoryManager, ModeFromSettingValue)
{
    struct Case {
        const char* value;
        EAllocatorKind kind;
    };
    const Case cases[] = {
        {nullptr, eAllocatorMalloc}, {"stdlib", eAllocatorMalloc}, {"STDLIB", eAllocatorMalloc},
        {"StdLib", eAllocatorMalloc}, {"foo", eAllocatorMalloc},    {"", eAllocatorMalloc},
        {"qelt ", eAllocatorMalloc},  {"qelt", eAllocatorPooled},   {"QeLt", eAllocatorPooled},
        {"QELT", eAllocatorPooled},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VCppMemMgr::KindFromSetting(c.value), c.kind) << (c.value ? c.value : "(absent)");
}

TEST(MemoryManager, ModeFromInfoPlist)
{
    EXPECT_EQ(VCppMemMgr::ChooseAllocatorKind(""), eAllocatorMalloc);
    EXPECT_EQ(VCppMemMgr::ChooseAllocatorKind(test::TempRoot() + "/missing/Info.plist"), eAllocatorMalloc);
    EXPECT_EQ(VCppMemMgr::ChooseAllocatorKind(WriteInfoPlist("<key>CFBundleName</key><string>Tool</string>\n")),
              eAllocatorMalloc);
    EXPECT_EQ(VCppMemMgr::ChooseAllocatorKind(WriteInfoPlist("<key>MemoryAllocator</key><string>STDLIB</string>\n")),
              eAllocatorMalloc);
    EXPECT_EQ(VCppMemMgr::ChooseAllocatorKind(WriteInfoPlist("<key>MemoryAllocator</key><string>foo</string>\n")),
              eAllocatorMalloc);
    EXPECT_EQ(VCppMemMgr::ChooseAllocatorKind(WriteInfoPlist("<key>Other</key><array><string>qelt</string></array>"
                                                             "<key>MemoryAllocator</key><string>QeLt</string>\n")),
              eAllocatorPooled);
    // A value nested in another dictionary is not the bundle's setting.
    EXPECT_EQ(VCppMemMgr::ChooseAllocatorKind(
                  WriteInfoPlist("<key>Sub</key><dict><key>MemoryAllocator</key><string>qelt</string></dict>\n")),
              eAllocatorMalloc);
}

TEST(MemoryManager, ProgramOutsideABundleRunsInMallocMode)
{
    VCppMemMgr* mgr = new VCppMemMgr(eAllocatorFromBundle);
    ASSERT_NE(mgr, nullptr);
    EXPECT_TRUE(mgr->IsMallocMode());
    delete mgr;
    // The test set-up's manager.
    ASSERT_NE(VObject::sCppMemMgr, nullptr);
    EXPECT_TRUE(VObject::sCppMemMgr->IsMallocMode());
}

TEST(MemoryManager, ManagerLivesInPagesOfItsOwn)
{
    VCppMemMgr* mgr = new VCppMemMgr(eAllocatorMalloc);
    ASSERT_NE(mgr, nullptr);
    // The object follows the 8-byte size at the start of its pages.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mgr) % VSystem::GetVMPageSize(), 8u);
    size_t size = 0;
    unsigned state = 9;
    const void* base = nullptr;
    EXPECT_TRUE(VSystem::VirtualQuery(mgr, &size, &state, &base));
    EXPECT_EQ(state, 0u);
    EXPECT_LE(static_cast<const char*>(base), reinterpret_cast<char*>(mgr) - 8);
    delete mgr;
}

// The child runs out of address space before it asks for the manager: the
// manager's own operator new must answer null, and throw nothing, so that the
// entry point can end with its exit status instead of an uncaught exception.
void ManagerWithoutAddressSpaceChild()
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
    if (pages <= 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
        ::_exit(2);
    VCppMemMgr* manager = nullptr;
    try {
        manager = new VCppMemMgr(eAllocatorMalloc);
    } catch (...) {
        ::_exit(3);
    }
    ::_exit(manager == nullptr ? 0 : 4);
}

TEST(MemoryManager, AManagerWithoutMemoryIsNullNotAnException)
{
    EXPECT_EXIT(ManagerWithoutAddressSpaceChild(), ::testing::ExitedWithCode(0), "");
}

TEST(MemoryManager, MallocModeBlocksAndFigures)
{
    VCppMemMgr* mgr = VObject::sCppMemMgr;
    void* p = mgr->Malloc(10, false, kMemTag_MemBuffer);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(mgr->GetPtrSize(p), 10u);
    std::memset(p, 0xAB, 10);
    mgr->Free(p);
    mgr->Free(nullptr);
    EXPECT_EQ(mgr->GetPtrSize(nullptr), 0u);

    size_t allocated = 0;
    size_t used = 7;
    mgr->GetMemUsageInfo(allocated, used);
    EXPECT_EQ(allocated, 1048576u);
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(mgr->GetAllocatedMem(), 1048576u);
    EXPECT_EQ(mgr->CountVirtualAllocations(), 1);
    EXPECT_FALSE(mgr->AddVirtualAllocation(40 * kMiB, nullptr, false));
    EXPECT_EQ(mgr->GetAllocationBlockNumber(&allocated), 0);
    mgr->PurgeMem(0);  // nothing in malloc mode

    VMemStats stats;
    stats.fUsedMem = 5;
    stats.fNbObjects = 3;
    mgr->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fUsedMem, 0);
    EXPECT_EQ(stats.fNbObjects, 0);
}

TEST(MemoryManager, CallocZeroFillsAndRefusesBadCounts)
{
    VCppMemMgr* mgr = VObject::sCppMemMgr;
    unsigned char* p = static_cast<unsigned char*>(mgr->Calloc(3, 4, kMemTag_MemBuffer));
    ASSERT_NE(p, nullptr);
    EXPECT_GE(mgr->GetPtrSize(p), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(p[i], 0) << i;
    mgr->Free(p);

    // Overflowing products and negative counts give null and allocate nothing.
    EXPECT_EQ(mgr->Calloc(-1, 16, 0), nullptr);
    EXPECT_EQ(mgr->Calloc(2, SIZE_MAX / 2 + 1, 0), nullptr);
    EXPECT_EQ(mgr->Calloc(0x7fffffff, SIZE_MAX / 0x10000, 0), nullptr);
}

TEST(MemoryManager, ReallocMovesKeepsAndFrees)
{
    VCppMemMgr* mgr = VObject::sCppMemMgr;
    char* p = static_cast<char*>(mgr->Realloc(nullptr, 8));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcdefgh", 8);

    char* grown = static_cast<char*>(mgr->Realloc(p, 4096));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "abcdefgh", 8), 0);

    char* shrunk = static_cast<char*>(mgr->Realloc(grown, 3));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(std::memcmp(shrunk, "abc", 3), 0);

    // Size 0 frees the block and answers null (the sanitizer checks the free).
    EXPECT_EQ(mgr->Realloc(shrunk, 0), nullptr);

    // A failed resize leaves the block valid and unchanged.
    char* q = static_cast<char*>(mgr->Malloc(16, false, 0));
    ASSERT_NE(q, nullptr);
    std::memcpy(q, "0123456789abcdef", 16);
    EXPECT_EQ(mgr->Realloc(q, SIZE_MAX - 4096), nullptr);
    EXPECT_EQ(std::memcmp(q, "0123456789abcdef", 16), 0);
    mgr->Free(q);
}

TEST(MemoryManager, StaticAllocationFunctions)
{
    unsigned char* p = static_cast<unsigned char*>(VMemory::NewPtrClear(64, kMemTag_Sort));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(p[i], 0);
    p[63] = 7;
    unsigned char* q = static_cast<unsigned char*>(VMemory::SetPtrSize(p, 128));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q[63], 7);
    VMemory::DisposePtr(q);
    VMemory::DisposePtr(nullptr);

    void* r = VMemory::NewPtr(5, 0);
    ASSERT_NE(r, nullptr);
    VMemory::DisposePtr(r);
}

TEST(MemoryManager, MemHogRegistry)
{
    VCppMemMgr* mgr = VObject::sCppMemMgr;
    size_t before = mgr->CountMemHogs();
    VMemoryHog* hog = mgr->RegisterMemHog();
    ASSERT_NE(hog, nullptr);
    EXPECT_EQ(mgr->CountMemHogs(), before + 1);
    hog->GetMutex().Lock();
    hog->GetMutex().Unlock();

    // A record that was never registered changes nothing.
    VMemoryHog stranger(0);
    mgr->UnRegisterMemHog(&stranger);
    mgr->UnRegisterMemHog(nullptr);
    EXPECT_EQ(mgr->CountMemHogs(), before + 1);

    mgr->UnRegisterMemHog(hog);  // destroys it
    EXPECT_EQ(mgr->CountMemHogs(), before);
}

TEST(MemoryManagerPooled, NothingBeforeTheFirstChunks)
{
    PooledManager pm;
    VCppMemMgr* mgr = pm.mgr;
    EXPECT_FALSE(mgr->IsMallocMode());
    EXPECT_EQ(mgr->GetPoolCount(), 4);
    EXPECT_EQ(mgr->Malloc(1, false, 0), nullptr);
    EXPECT_EQ(mgr->Calloc(1, 1, 0), nullptr);
    EXPECT_EQ(mgr->Realloc(nullptr, 1), nullptr);
    // Under 10 MiB: accepted, nothing added.
    EXPECT_TRUE(mgr->AddVirtualAllocation(10 * kMiB - 1, nullptr, false));
    EXPECT_EQ(mgr->CountVirtualAllocations(), 0);
    EXPECT_EQ(mgr->GetAllocatedMem(), 0u);
    mgr->Free(nullptr);
}

TEST(MemoryManagerPooled, ChunkFailureStopsTheDistribution)
{
    PooledManager pm;
    VCppMemMgr* mgr = pm.mgr;
    // Every pool is asked for its chunk at the same address: the first gets
    // it, the second cannot, and the distribution stops there.
    void* area = VSystem::VirtualAlloc(40 * kMiB, nullptr);
    ASSERT_NE(area, nullptr);
    VSystem::VirtualFree(area, 40 * kMiB, false);
    EXPECT_FALSE(mgr->AddVirtualAllocation(40 * kMiB, area, false));
    EXPECT_EQ(mgr->CountVirtualAllocations(), 1);
    EXPECT_EQ(mgr->GetAllocatedMem(), 10 * kMiB);

    // Chunks of "physical" memory.
    EXPECT_TRUE(mgr->AddVirtualAllocation(20 * kMiB, nullptr, true));
    EXPECT_EQ(mgr->CountVirtualAllocations(), 5);
    EXPECT_EQ(mgr->GetPooledTotal(), 30 * kMiB);
}

namespace {

std::atomic<int> gPurgeCalls{0};
std::atomic<int> gPurgesRunning{0};
std::atomic<int> gPurgeOverlap{0};
std::atomic<bool> gHoldFirstPurge{false};
std::mutex gPurgeLogMutex;
std::vector<std::pair<int, bool>> gPurgeLog;

size_t RecordingPurge(int pool, size_t size, bool firstCall)
{
    if (gPurgesRunning.fetch_add(1) != 0)
        gPurgeOverlap.fetch_add(1);
    int call = gPurgeCalls.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(gPurgeLogMutex);
        gPurgeLog.emplace_back(pool, firstCall);
    }
    (void)size;
    while (call == 0 && gHoldFirstPurge.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    gPurgesRunning.fetch_sub(1);
    return 0;
}

void ResetPurgeLog()
{
    gPurgeCalls = 0;
    gPurgesRunning = 0;
    gPurgeOverlap = 0;
    gHoldFirstPurge = false;
    gPurgeLog.clear();
}

}  // namespace

TEST(MemoryManagerPooled, ChunksSizeLimitAndPurgeRing)
{
    PooledManager pm;
    VCppMemMgr* mgr = pm.mgr;
    ResetPurgeLog();
    EXPECT_EQ(mgr->SetPurgeHandlerProc(RecordingPurge), nullptr);

    ASSERT_TRUE(mgr->AddVirtualAllocation(40 * kMiB, nullptr, false));
    EXPECT_EQ(mgr->CountVirtualAllocations(), 4);
    EXPECT_EQ(mgr->GetAllocatedMem(), 40 * kMiB);
    EXPECT_EQ(mgr->GetPooledTotal(), 40 * kMiB);

    // Larger than the largest chunk: refused at once, no purge.
    EXPECT_EQ(mgr->Malloc(10 * kMiB + 1, false, 0), nullptr);
    EXPECT_EQ(gPurgeCalls.load(), 0);

    // The pools refuse: each pool is purged once, in ring order, the first
    // call flagged as such, then the request fails.
    EXPECT_EQ(mgr->Malloc(10 * kMiB, false, 0), nullptr);
    ASSERT_EQ(gPurgeLog.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(gPurgeLog[i].first, i);
        EXPECT_EQ(gPurgeLog[i].second, i == 0);
    }

    // An explicit purge leaves the rotation where it is and flags a first call.
    gPurgeLog.clear();
    mgr->PurgeMem(2);
    mgr->PurgeMem(-1);
    ASSERT_EQ(gPurgeLog.size(), 2u);
    EXPECT_EQ(gPurgeLog[0], std::make_pair(2, true));
    EXPECT_EQ(gPurgeLog[1], std::make_pair(-1, true));

    EXPECT_EQ(mgr->SetPurgeHandlerProc(nullptr), RecordingPurge);
}

TEST(MemoryManagerPooled, SecondRequestWaitsForTheRunningPurge)
{
    PooledManager pm;
    VCppMemMgr* mgr = pm.mgr;
    ResetPurgeLog();
    mgr->SetPurgeHandlerProc(RecordingPurge);
    ASSERT_TRUE(mgr->AddVirtualAllocation(40 * kMiB, nullptr, false));

    gHoldFirstPurge = true;
    void* resultA = reinterpret_cast<void*>(1);
    void* resultB = reinterpret_cast<void*>(1);
    std::thread a([&] { resultA = mgr->Malloc(10 * kMiB, false, 0); });
    while (gPurgeCalls.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::thread b([&] { resultB = mgr->Malloc(10 * kMiB, false, 0); });
    // While the first purge runs, the second request waits instead of
    // starting one of its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(gPurgeCalls.load(), 1);
    gHoldFirstPurge = false;
    a.join();
    b.join();
    EXPECT_EQ(resultA, nullptr);
    EXPECT_EQ(resultB, nullptr);
    EXPECT_EQ(gPurgeOverlap.load(), 0);
    // The ring went round: every pool was purged, one purge at a time.
    int perPool[4] = {0, 0, 0, 0};
    for (auto& entry : gPurgeLog) {
        ASSERT_GE(entry.first, 0);
        ASSERT_LT(entry.first, 4);
        ++perPool[entry.first];
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_GE(perPool[i], 1) << i;
    EXPECT_LE(gPurgeLog.size(), 20u);
    EXPECT_EQ(gPurgeLog[0].first, 0);
}
