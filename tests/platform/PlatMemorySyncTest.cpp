#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/PlatBacktrace.h"
#include "platform/PlatClock.h"
#include "platform/PlatMemory.h"
#include "platform/PlatSync.h"

using namespace qelt::plat;

TEST(PlatClock, MonotonicUnitsAgree)
{
    uint64_t ms = MonotonicMilliseconds();
    uint64_t us = MonotonicMicroseconds();
    uint64_t ns = MonotonicNanoseconds();
    EXPECT_LE(ms, us / 1000);
    EXPECT_LE(us, ns / 1000);
    uint64_t previous = MonotonicNanoseconds();
    for (int i = 0; i < 1000; ++i) {
        uint64_t now = MonotonicNanoseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(PlatSync, ConditionWaitsUntilTheDeadline)
{
    Mutex mutex;
    Condition condition;
    bool flag = false;
    uint64_t start = MonotonicNanoseconds();
    uint64_t deadline = DeadlineAfterMilliseconds(30);
    mutex.Lock();
    EXPECT_FALSE(condition.WaitUntil(mutex, deadline, [&] { return flag; }));
    mutex.Unlock();
    EXPECT_GE(MonotonicNanoseconds() - start, 30000000u);
    // A deadline in the past returns at once.
    mutex.Lock();
    EXPECT_FALSE(condition.WaitUntil(mutex, DeadlineAfterMilliseconds(-1)));
    mutex.Unlock();

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ScopedLock<Mutex> lock(mutex);
        flag = true;
        condition.Broadcast();
    });
    mutex.Lock();
    EXPECT_TRUE(condition.WaitUntil(mutex, DeadlineAfterMilliseconds(60000), [&] { return flag; }));
    mutex.Unlock();
    setter.join();
}

TEST(PlatSync, RecursiveMutexReentersAndExcludes)
{
    RecursiveMutex mutex;
    mutex.Lock();
    EXPECT_TRUE(mutex.TryLock());
    std::atomic<bool> other{true};
    std::thread t([&] { other = mutex.TryLock(); });
    t.join();
    EXPECT_FALSE(other.load());
    mutex.Unlock();
    mutex.Unlock();
    YieldThread();
}

TEST(PlatMemory, MapsFixedPagesWithoutReplacing)
{
    size_t page = PageSize();
    char* p = static_cast<char*>(MapPages(page + 1, nullptr));
    ASSERT_NE(p, nullptr);
    p[2 * page - 1] = 3;
    EXPECT_EQ(MapPages(page, p), nullptr);  // taken
    EXPECT_EQ(p[2 * page - 1], 3);
    EXPECT_EQ(MapPages(SIZE_MAX, nullptr), nullptr);
    EXPECT_TRUE(UnmapPages(p, page + 1));
    EXPECT_FALSE(UnmapPages(nullptr, page));
    char* again = static_cast<char*>(MapPages(page, p));
    if (again != nullptr) {  // the freed place is usually still free
        EXPECT_EQ(again, p);
        EXPECT_EQ(again[0], 0);
        UnmapPages(again, page);
    }
}

namespace {
[[gnu::noinline]] unsigned CaptureHere(void** frames, unsigned count) { return CaptureBacktrace(frames, 0, count); }
}  // namespace

TEST(PlatBacktrace, FramesSymbolsAndDemangling)
{
    void* frames[8];
    unsigned n = CaptureHere(frames, 8);
    ASSERT_GT(n, 0u);
    EXPECT_LE(n, 8u);
    void* one[1];
    EXPECT_EQ(CaptureBacktrace(one, 0, 1), 1u);
    EXPECT_EQ(CaptureBacktrace(one, 100000, 1), 0u);
    EXPECT_EQ(CaptureBacktrace(nullptr, 0, 4), 0u);

    SymbolInfo info;
    ASSERT_TRUE(DescribeAddress(frames[0], info));
    EXPECT_FALSE(info.imagePath.empty());
    EXPECT_FALSE(DescribeAddress(nullptr, info));

    std::string out;
    ASSERT_TRUE(DemangleSymbol("_ZN4qelt7VObjectD0Ev", out));
    EXPECT_EQ(out, "qelt::VObject::~VObject()");
    out = "unchanged";
    EXPECT_FALSE(DemangleSymbol("main", out));
    EXPECT_FALSE(DemangleSymbol("", out));
    EXPECT_FALSE(DemangleSymbol(nullptr, out));
    EXPECT_EQ(out, "unchanged");
}
