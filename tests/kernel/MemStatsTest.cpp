#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <typeinfo>

#include "TestSupport.h"
#include "files/VPtrStream.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VLeaksChecker.h"
#include "kernel/VMemCppImpl.h"
#include "kernel/VMemStats.h"
#include "kernel/VSystem.h"
#include "runtime/mac/XMacStackCrawl.h"

using namespace qelt;

namespace {

std::string DumpText(VMemStats& stats)
{
    VPtrStream stream;
    stream.SetCharSet(VTC_UTF_8);
    stream.OpenWriting();
    EXPECT_EQ(stats.DumpToStream(&stream), VE_OK);
    stream.CloseWriting();
    const char* bytes = static_cast<const char*>(stream.GetDataPtr());
    return bytes == nullptr ? std::string() : std::string(bytes, static_cast<size_t>(stream.GetDataSize()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// An object whose class the statistics find through its virtual table.
struct CountedThing {
    virtual ~CountedThing() = default;
    int fValue = 7;
};

// One pool on a chunk of its own.
struct OnePool {
    static constexpr size_t kChunk = 1048576;
    OnePool() : pool(0)
    {
        pool.Init(nullptr);
        chunk = VSystem::VirtualAlloc(kChunk, nullptr);
        pool.AddAlreadyAllocatedMem(chunk, kChunk, false);
    }
    ~OnePool() { VSystem::VirtualFree(chunk, kChunk, false); }
    VMemCppImpl pool;
    void* chunk = nullptr;
};

}  // namespace

TEST(MemStats, ClearedRecordDumpsEmptyFigures)
{
    VMemStats stats;
    stats.fUsedMem = 12;
    stats.fBiggestFreeBlock = 99;
    stats.fTags[1] = {};
    stats.fTags.clear();
    stats.Clear();
    EXPECT_EQ(DumpText(stats),
              "Used Mem = 0\nFree Mem = 0\nBiggest Free Block = 0\n\n\n"
              "Nb Objects = 0\n\n\n"
              "Blocks by Tags\n\n");
    stats.Dump();  // writes nowhere
}

TEST(MemStats, PoolFiguresTagsAndClasses)
{
    OnePool one;
    VMemCppImpl& pool = one.pool;
    const int memb = static_cast<int>(FourCC("memb"));
    const int str = static_cast<int>(FourCC("str "));
    void* a = pool.Malloc(100, 0, 0, memb);    // small, 112 bytes
    void* b = pool.Malloc(20000, 0, 0, memb);  // big, 20480 bytes
    void* c = pool.Malloc(3000, 0, 0, str);    // small, 3008 bytes
    void* gap = pool.Malloc(20000, 0, 0, 0);
    void* end = pool.Malloc(9000, 0, 0, 0);  // big, 9216 bytes
    // Object blocks: one with its virtual table (counted by class), one
    // whose first word is still null (counted by tag).
    void* object = pool.Malloc(sizeof(CountedThing), 0, 1, 0);
    void* rawObject = pool.Malloc(64, 0, 1, str);
    ASSERT_TRUE(a && b && c && gap && end && object && rawObject);
    new (object) CountedThing();
    std::memset(rawObject, 0, 64);
    pool.Free(gap);

    VMemStats stats;
    pool.GetStats(stats, 0);
    EXPECT_EQ(stats.fNbObjects, 2);
    ASSERT_EQ(stats.fClasses.count(&typeid(CountedThing)), 1u);
    EXPECT_EQ(stats.fClasses[&typeid(CountedThing)].fCount, 1);
    EXPECT_EQ(stats.fClasses[&typeid(CountedThing)].fMem, 32);
    EXPECT_EQ(stats.fTags[memb].fCount, 2);
    EXPECT_EQ(stats.fTags[memb].fMem, 112 + 20480);
    EXPECT_EQ(stats.fTags[str].fCount, 2);
    EXPECT_EQ(stats.fTags[str].fMem, 3008 + 80);
    EXPECT_EQ(stats.fNbFreeBigBlocks, 1);
    EXPECT_EQ(stats.fBiggestFreeBlock, static_cast<uint64_t>(stats.fLayout.back().fSizeOrAddress));
    ASSERT_GE(stats.fLayout.size(), 2u);
    EXPECT_EQ(stats.fLayout[0].fSizeOrAddress, reinterpret_cast<uint64_t>(one.chunk));
    EXPECT_EQ(stats.fLayout[0].fA, VMemStats::kLayoutChunk);
    // Everything used or free adds up to the chunk's block area.
    EXPECT_EQ(stats.fUsedMem + stats.fFreeMem, static_cast<int64_t>(OnePool::kChunk - 64));
    size_t allocated = 0;
    size_t used = 0;
    pool.GetMemUsageInfo(allocated, used);
    EXPECT_EQ(allocated, OnePool::kChunk);

    std::string text = DumpText(stats);
    EXPECT_NE(text.find("Nb Objects = 2\n"), std::string::npos);
    EXPECT_NE(text.find(std::string(typeid(CountedThing).name()) + " : 1   ,  mem = 32\n"), std::string::npos);
    EXPECT_NE(text.find("Blocks by Tags\n\n"), std::string::npos);
    EXPECT_NE(text.find("memb : 2   ,  mem = 20592\n"), std::string::npos);
    EXPECT_NE(text.find("str  : 2   ,  mem = 3088\n"), std::string::npos);

    // A second call adds to the record; Clear zeroes only the counters.
    pool.GetStats(stats, 0);
    EXPECT_EQ(stats.fNbObjects, 4);
    stats.Clear();
    EXPECT_EQ(stats.fNbObjects, 0);
    EXPECT_EQ(stats.fTags[memb].fCount, 4);

    static_cast<CountedThing*>(object)->~CountedThing();
    for (void* p : {a, b, c, end, object, rawObject})
        pool.Free(p);
}

TEST(LeaksChecker, ReportPathNextToTheBundle)
{
    const struct {
        const char* bundle;
        const char* name;
        const char* path;
    } cases[] = {
        {"/x/Tool.app", "run", "/x/Tool.run.leaks"},
        {"/x/Tool.app/", "run", "/x/Tool.run.leaks"},
        {"/x.y/Tool", "a", "/x.y/Tool.a.leaks"},
        {"", "run", ""},
        {"/x/Tool.app", nullptr, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VLeaksChecker::GetDumpFilePath(c.bundle, c.name), c.path) << c.bundle;
    EXPECT_EQ(VLeaksChecker::GetDumpFilePath("/" + std::string(5000, 'a') + ".app", "run"), "");
}

TEST(LeaksChecker, CountsRegisteredBlocksAndWritesTheReport)
{
    VLeaksChecker checker;
    // The test program does not run from a bundle: no report.
    EXPECT_EQ(checker.OpenDumpFile("run"), nullptr);

    XMacStackCrawl crawl;
    checker.RegisterBlock(crawl);  // disabled: nothing captured
    EXPECT_EQ(crawl.GetCount(), 0);
    EXPECT_EQ(checker.GetLeaksCount(), 0);
    EXPECT_FALSE(checker.SetLeaksCheck(true));
    EXPECT_TRUE(checker.SetLeaksCheck(true));
    checker.SetStackFramesToSkip(0);

    std::string folder = test::MakeTempFolder("leaks");
    std::string bundle = folder + "/Tool.app";
    auto report = [&](const char* name) {
        FILE* file = checker.OpenDumpFile(bundle, name);
        EXPECT_NE(file, nullptr);
        if (file != nullptr)
            std::fclose(file);
        std::string text = ReadFile(folder + "/Tool." + name + ".leaks");
        size_t firstLine = text.find('\n');
        return firstLine == std::string::npos ? text : text.substr(firstLine + 1);
    };
    EXPECT_EQ(report("none"), "No memory leaks.\n");

    XMacStackCrawl one;
    XMacStackCrawl two;
    checker.RegisterBlock(one);
    EXPECT_GT(one.GetCount(), 0);
    EXPECT_LE(one.GetCount(), 8);
    EXPECT_EQ(report("one"), "You have one leak:\n\n");
    checker.RegisterBlock(two);
    EXPECT_EQ(report("two"), "You have 2 leaks:\n\n");
    checker.UnregisterBlock(two);
    checker.UnregisterBlock(crawl);  // holds no frame: no change
    EXPECT_EQ(checker.GetLeaksCount(), 1);

    // A folder that does not exist: no file.
    EXPECT_EQ(checker.OpenDumpFile(folder + "/missing/Tool.app", "run"), nullptr);
}
