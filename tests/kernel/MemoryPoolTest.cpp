#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "kernel/VCppMemMgr.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VMemCppImpl.h"
#include "kernel/VMemStats.h"
#include "kernel/VSystem.h"

using namespace qelt;

namespace {

constexpr size_t kMiB = 1048576;

// A pooled-mode manager of the test's own; the chunks it takes are unmapped
// when the test ends (a pool's destructor leaves them mapped).
struct PooledManager {
    PooledManager() : mgr(new VCppMemMgr(eAllocatorPooled)) {}
    ~PooledManager()
    {
        VMemStats stats;
        mgr->GetStatistics(stats, -1);
        std::vector<void*> chunks;
        for (const VMemStats::LayoutRecord& r : stats.fLayout) {
            if (r.fA == VMemStats::kLayoutChunk)
                chunks.push_back(reinterpret_cast<void*>(r.fSizeOrAddress));
        }
        size_t perPool = chunkSize;
        delete mgr;
        for (void* chunk : chunks)
            VSystem::VirtualFree(chunk, perPool, false);
    }
    VCppMemMgr* mgr;
    size_t chunkSize = 10 * kMiB;
};

// Pools driven directly, each on one chunk of its own.
class PoolTest : public ::testing::Test {
protected:
    static constexpr size_t kChunk = 4 * kMiB;

    void SetUp() override
    {
        for (int i = 0; i < 3; ++i) {
            pools[i] = new VMemCppImpl(i);
            pools[i]->Init(nullptr);
            chunks[i] = VSystem::VirtualAlloc(kChunk, nullptr);
            ASSERT_NE(chunks[i], nullptr);
            ASSERT_TRUE(pools[i]->AddAlreadyAllocatedMem(chunks[i], kChunk, false));
        }
    }
    void TearDown() override
    {
        for (int i = 0; i < 3; ++i) {
            delete pools[i];
            VSystem::VirtualFree(chunks[i], kChunk, false);
        }
    }

    size_t Used(int i)
    {
        size_t allocated = 0;
        size_t used = 0;
        pools[i]->GetMemUsageInfo(allocated, used);
        return used;
    }

    VMemStats Stats(int i)
    {
        VMemStats stats;
        pools[i]->GetStats(stats, static_cast<short>(i));
        return stats;
    }

    VMemCppImpl* pools[3] = {};
    void* chunks[3] = {};
};

}  // namespace

TEST(MemoryPool, ManagerServesBlocksOnceChunksAreAdded)
{
    PooledManager pm;
    VCppMemMgr* mgr = pm.mgr;
    EXPECT_EQ(mgr->Malloc(1, false, 0), nullptr);
    ASSERT_TRUE(mgr->AddVirtualAllocation(40 * kMiB, nullptr, false));
    EXPECT_EQ(mgr->CountVirtualAllocations(), 4);
    EXPECT_EQ(mgr->GetAllocatedMem(), 40 * kMiB);

    // Request -> usable size: small blocks (8-byte header, rounded classes),
    // big blocks in 1 KiB classes up to 1 MiB, then rounded to 8 bytes.
    const struct {
        size_t request;
        size_t usable;
    } cases[] = {
        {0, 8},          {1, 8},           {100, 104},          {1016, 1016},       {1017, 1080},
        {5000, 5112},    {8191, 8440},     {8192, 9192},        {10000, 10216},     {1048552, 1048552},
        {1048553, 1048560}, {3 * kMiB, 3 * kMiB},
    };
    std::vector<void*> blocks;
    for (const auto& c : cases) {
        void* p = mgr->Malloc(c.request, false, static_cast<int>(FourCC("test")));
        ASSERT_NE(p, nullptr) << c.request;
        EXPECT_EQ(mgr->GetPtrSize(p), c.usable) << c.request;
        std::memset(p, 0xA5, c.usable);
        blocks.push_back(p);
    }
    // The manager rotates the pool tried first only when purging: every
    // block here came from pool 0.
    for (void* p : blocks)
        EXPECT_EQ(mgr->GetAllocationBlockNumber(p), 0);

    // Realloc moves the block and keeps its bytes.
    char* text = static_cast<char*>(mgr->Malloc(32, false, 0));
    ASSERT_NE(text, nullptr);
    std::strcpy(text, "pooled bytes");
    char* grown = static_cast<char*>(mgr->Realloc(text, 20000));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "pooled bytes");
    EXPECT_EQ(mgr->GetPtrSize(grown), 20456u);
    blocks.push_back(grown);

    size_t allocated = 0;
    size_t used = 0;
    mgr->GetMemUsageInfo(allocated, used);
    EXPECT_EQ(allocated, 40 * kMiB);
    EXPECT_GT(used, 0u);
    for (void* p : blocks)
        mgr->Free(p);
    mgr->GetMemUsageInfo(allocated, used);
    EXPECT_EQ(used, 0u);

    // Everything went back to the chunks' free tails.
    VMemStats stats;
    mgr->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fUsedMem, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
    EXPECT_EQ(stats.fFreeMem, static_cast<int64_t>(4 * (10 * kMiB - 64)));
}

TEST(MemoryPool, ThreadsShareThePooledManager)
{
    PooledManager pm;
    VCppMemMgr* mgr = pm.mgr;
    ASSERT_TRUE(mgr->AddVirtualAllocation(40 * kMiB, nullptr, false));
    // Blocks are freed by another thread than the one that made them, half
    // of them through the pool that does not own them.
    std::vector<std::vector<unsigned char*>> made(4);
    bool intact[4] = {true, true, true, true};
    auto work = [&](int index) {
        std::mt19937 random(static_cast<unsigned>(index));
        const size_t sizes[] = {8, 90, 1000, 5000, 9000, 70000};
        for (int i = 0; i < 1500; ++i) {
            size_t size = sizes[random() % std::size(sizes)];
            auto* p = static_cast<unsigned char*>(mgr->Malloc(size, false, index));
            if (p == nullptr)
                continue;
            std::memset(p, index + 1, size);
            if (i % 2 == 0) {
                if (p[size - 1] != index + 1)
                    intact[index] = false;
                mgr->Free(p);
            } else {
                made[index].push_back(p);
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back(work, i);
    for (std::thread& t : threads)
        t.join();
    std::vector<std::thread> freers;
    for (int i = 0; i < 4; ++i) {
        freers.emplace_back([&, i] {
            const std::vector<unsigned char*>& blocks = made[(i + 1) % 4];
            for (unsigned char* p : blocks) {
                if (p[0] != (i + 1) % 4 + 1)
                    intact[i] = false;
                mgr->Free(p);
            }
        });
    }
    for (std::thread& t : freers)
        t.join();
    for (bool ok : intact)
        EXPECT_TRUE(ok);
    size_t allocated = 0;
    size_t used = 0;
    mgr->GetMemUsageInfo(allocated, used);
    EXPECT_EQ(used, 0u);
    VMemStats stats;
    mgr->GetStatistics(stats, -1);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
}

TEST_F(PoolTest, SmallBlockPagesFillAndReturn)
{
    // 8191 bytes: rounded 8448, pages of 131048 bytes holding 15 blocks.
    std::vector<void*> blocks;
    for (int i = 0; i < 16; ++i) {
        void* p = pools[0]->Malloc(8191, 0, 0, 0);
        ASSERT_NE(p, nullptr);
        std::memset(p, i, 8191);
        blocks.push_back(p);
    }
    VMemStats stats = Stats(0);
    EXPECT_EQ(stats.fNbPages, 2);
    EXPECT_EQ(stats.fPagesBySize[131072].fFull, 1);
    EXPECT_EQ(stats.fPagesBySize[131072].fPartial, 1);
    EXPECT_EQ(stats.fSmallBlockSizes[8448].fUsed, 16);
    EXPECT_EQ(stats.fSmallBlockSizes[8448].fFree, 14);
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 16);
    EXPECT_EQ(Used(0), 16u * 8448 + 2 * (131072 - 15 * 8448));
    EXPECT_TRUE(pools[0]->Check(nullptr));

    // A freed slot is reused; a freed block is no valid pointer any more.
    void* reused = blocks[3];
    pools[0]->Free(reused);
    EXPECT_FALSE(pools[0]->CheckPtr(reused));
    EXPECT_TRUE(pools[0]->CheckPtr(blocks[4]));
    EXPECT_EQ(pools[0]->Malloc(8185, 0, 0, 0), reused);

    // Every byte of every block kept its own pattern.
    for (int i = 0; i < 16; ++i) {
        if (blocks[i] == reused)
            continue;
        const unsigned char* bytes = static_cast<const unsigned char*>(blocks[i]);
        EXPECT_EQ(bytes[0], i);
        EXPECT_EQ(bytes[8190], i);
    }

    // Freeing every block returns both pages: the chunk is empty again and
    // the next request builds a new page.
    for (void* p : blocks)
        pools[0]->Free(p);
    EXPECT_EQ(Used(0), 0u);
    stats = Stats(0);
    EXPECT_EQ(stats.fNbPages, 0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
    ASSERT_EQ(stats.fLayout.size(), 2u);  // the chunk and its whole free tail
    EXPECT_EQ(stats.fLayout[1].fSizeOrAddress, kChunk - 64);
    void* again = pools[0]->Malloc(8191, 0, 0, 0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Stats(0).fNbPages, 1);
    pools[0]->Free(again);
    EXPECT_TRUE(pools[0]->Check(nullptr));
}

TEST_F(PoolTest, PageFlagAndLimits)
{
    // The page flag asks for a big block even for a small size.
    void* page = pools[0]->Malloc(100, 1, 0, 0);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(pools[0]->GetPtrSize(page), 1000u);
    pools[0]->Free(page);
    EXPECT_EQ(pools[0]->Malloc(VMemCppImpl::kMaxRequest + 1, 0, 0, 0), nullptr);
    // Larger than the chunk, no automatic allocation: null.
    EXPECT_EQ(pools[0]->Malloc(kChunk, 0, 0, 0), nullptr);
    EXPECT_EQ(pools[0]->GetPtrSize(nullptr), 0u);
    EXPECT_FALSE(pools[0]->AddAllocation(65535, nullptr, 0));
    EXPECT_EQ(pools[0]->CountAllocations(), 1);
}

TEST_F(PoolTest, BigBlocksReuseSplitMergeAndShrink)
{
    VMemCppImpl* pool = pools[0];
    void* a = pool->Malloc(10000, 0, 0, 1);  // 10240-byte blocks
    void* b = pool->Malloc(10000, 0, 0, 2);
    void* c = pool->Malloc(10000, 0, 0, 3);
    ASSERT_TRUE(a && b && c);

    // A freed block in the middle waits in its exact class and is taken whole.
    pool->Free(b);
    VMemStats stats = Stats(0);
    EXPECT_EQ(stats.fNbFreeBigBlocks, 1);
    EXPECT_EQ(stats.fOtherBigBlocks[10240].fFree, 1);
    EXPECT_EQ(pool->Malloc(9500, 0, 0, 4), b);

    // Freeing the last blocks hands the trailing run back to the free tail.
    pool->Free(b);
    pool->Free(c);
    stats = Stats(0);
    EXPECT_EQ(stats.fNbBigBlocks, 1);
    EXPECT_EQ(stats.fNbFreeBigBlocks, 0);
    EXPECT_EQ(stats.fFreeMem, static_cast<int64_t>(kChunk - 64 - 10240));
    EXPECT_EQ(Used(0), 10240u);

    // With the free tail used up, a request is split from a larger class
    // when 8 KiB or more are left over; the rest stays a free block of its
    // own class. Freed again, the pieces merge.
    void* big = pool->Malloc(200000, 0, 0, 5);  // 200704 bytes
    void* guard = pool->Malloc(10000, 0, 0, 6);
    ASSERT_TRUE(big && guard);
    pool->Free(big);
    uint64_t tail = Stats(0).fLayout.back().fSizeOrAddress;
    void* filler = pool->Malloc(tail - 24, 0, 0, 9);
    ASSERT_NE(filler, nullptr);
    void* part = pool->Malloc(50000, 0, 0, 7);  // 50176 bytes
    EXPECT_EQ(part, big);
    stats = Stats(0);
    EXPECT_EQ(stats.fOtherBigBlocks[200704 - 50176].fFree, 1);
    // Less than 8 KiB left over: the whole block is taken.
    void* whole = pool->Malloc(145000, 0, 0, 8);  // 145408 of a 150528 block
    EXPECT_EQ(whole, static_cast<char*>(big) + 50176);
    EXPECT_EQ(pool->GetPtrSize(whole), 150528u - 24);
    EXPECT_EQ(pool->Malloc(100000, 0, 0, 0), nullptr);
    pool->Free(part);
    pool->Free(whole);
    stats = Stats(0);
    EXPECT_EQ(stats.fNbFreeBigBlocks, 1);
    EXPECT_EQ(stats.fOtherBigBlocks[200704].fFree, 1);
    EXPECT_EQ(stats.fBiggestFreeBlock, 200704u);
    EXPECT_TRUE(pool->Check(nullptr));
    pool->Free(filler);

    pool->Free(guard);
    pool->Free(a);
    EXPECT_EQ(Used(0), 0u);
    stats = Stats(0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
    EXPECT_EQ(static_cast<uint64_t>(stats.fFreeMem), kChunk - 64);
}

TEST_F(PoolTest, LargeBlocksBestFit)
{
    VMemCppImpl* pool = pools[0];
    // Free blocks of 1.5 MiB and 1.1 MiB (rounded to 8) between used ones.
    void* x = pool->Malloc(1536 * 1024, 0, 0, 0);
    void* g1 = pool->Malloc(1000, 0, 0, 0 /* small: lives in a page */);
    void* g2 = pool->Malloc(20000, 0, 0, 0);
    void* y = pool->Malloc(1100 * 1024, 0, 0, 0);
    void* g3 = pool->Malloc(20000, 0, 0, 0);
    ASSERT_TRUE(x && g1 && g2 && y && g3);
    pool->Free(x);
    pool->Free(y);
    // The smallest block that holds the request is taken.
    void* fit = pool->Malloc(1050 * 1024, 0, 0, 0);
    EXPECT_EQ(fit, y);
    // The 51200 bytes left over became a free block of their own class.
    void* rest = pool->Malloc(51000, 0, 0, 0);
    EXPECT_EQ(rest, static_cast<char*>(y) + 1075224);
    pool->Free(fit);
    pool->Free(rest);
    for (void* p : {g1, g2, g3})
        pool->Free(p);
    EXPECT_EQ(Used(0), 0u);
    EXPECT_EQ(Stats(0).fNbBigBlocks, 0);
}

TEST_F(PoolTest, FreeThroughAnotherPoolReachesTheOwner)
{
    void* big = pools[2]->Malloc(30000, 0, 0, 0);
    void* keep = pools[2]->Malloc(30000, 0, 0, 0);
    void* small = pools[2]->Malloc(40, 0, 0, 0);
    ASSERT_TRUE(small && big && keep);
    EXPECT_EQ(pools[0]->GetAllocationBlockNumber(small), 2);
    EXPECT_EQ(pools[0]->GetAllocationBlockNumber(big), 2);
    EXPECT_EQ(pools[0]->GetPtrSize(big), 30696u);
    pools[0]->Free(small);
    pools[0]->Free(big);
    // The big block sits in pool 2's free lists: pool 2 reuses it.
    EXPECT_EQ(Stats(2).fOtherBigBlocks[30720].fFree, 1);
    EXPECT_EQ(pools[2]->Malloc(30000, 0, 0, 0), big);
    EXPECT_EQ(Used(0), 0u);
    pools[1]->Free(big);
    pools[1]->Free(keep);
    EXPECT_EQ(Used(2), 0u);
}

TEST_F(PoolTest, ReallocKeepsTagAndBytes)
{
    const int tag = static_cast<int>(FourCC("memb"));
    char* p = static_cast<char*>(pools[0]->Malloc(20, 0, 0, tag));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "0123456789abcdefghij", 20);
    char* q = static_cast<char*>(pools[0]->Realloc(p, 12000));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(std::memcmp(q, "0123456789abcdefghij", 20), 0);
    VMemStats stats = Stats(0);
    EXPECT_EQ(stats.fTags[tag].fCount, 1);
    EXPECT_EQ(stats.fTags[tag].fMem, 12288);
    // Too large: null, the block stays.
    EXPECT_EQ(pools[0]->Realloc(q, kChunk), nullptr);
    EXPECT_EQ(q[19], 'j');
    pools[0]->Free(q);
    EXPECT_EQ(Used(0), 0u);
}

TEST_F(PoolTest, RandomWorkloadStaysConsistent)
{
    VMemCppImpl* pool = pools[0];
    std::mt19937 random(12345);
    struct Live {
        unsigned char* p;
        size_t size;
        unsigned char fill;
    };
    std::vector<Live> live;
    const size_t sizes[] = {1, 24, 100, 700, 1500, 4000, 8191, 8192, 9000, 40000, 300000, 1100000};
    for (int round = 0; round < 3000; ++round) {
        if (live.empty() || random() % 3 != 0) {
            size_t size = sizes[random() % std::size(sizes)] + random() % 64;
            auto* p = static_cast<unsigned char*>(pool->Malloc(size, 0, 0, round));
            if (p == nullptr)
                continue;  // the chunk is full
            ASSERT_GE(pool->GetPtrSize(p), size);
            unsigned char fill = static_cast<unsigned char>(round);
            std::memset(p, fill, size);
            live.push_back({p, size, fill});
        } else {
            size_t i = random() % live.size();
            Live entry = live[i];
            ASSERT_EQ(entry.p[0], entry.fill);
            ASSERT_EQ(entry.p[entry.size - 1], entry.fill);
            ASSERT_TRUE(pool->CheckPtr(entry.p));
            pool->Free(entry.p);
            live[i] = live.back();
            live.pop_back();
        }
        if (round % 250 == 0) {
            ASSERT_TRUE(pool->Check(nullptr)) << round;
        }
    }
    for (const Live& entry : live) {
        ASSERT_EQ(entry.p[entry.size / 2], entry.fill);
        pool->Free(entry.p);
    }
    EXPECT_EQ(Used(0), 0u);
    VMemStats stats = Stats(0);
    EXPECT_EQ(stats.fNbBigBlocks, 0);
    EXPECT_EQ(static_cast<uint64_t>(stats.fFreeMem), kChunk - 64);
}

TEST(MemoryPool, AutomaticAllocationTakesAndReturnsChunks)
{
    VMemCppImpl pool(1);
    pool.Init(nullptr);
    EXPECT_EQ(pool.Malloc(100, 0, 0, 0), nullptr);
    pool.SetAutoAllocationState(true);
    void* p = pool.Malloc(100, 0, 0, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pool.CountAllocations(), 1);
    EXPECT_EQ(pool.GetTotalAllocation(), 20971520u);
    // The chunk empties completely: it goes back to the system.
    pool.Free(p);
    EXPECT_EQ(pool.CountAllocations(), 0);
    EXPECT_EQ(pool.GetTotalAllocation(), 0u);
}
