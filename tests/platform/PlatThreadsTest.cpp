#include "platform/PlatThreads.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <cstddef>
#include <thread>

#include "TestSupport.h"

namespace qelt::plat {
namespace {

struct Bounds {
    void* top = nullptr;
    size_t size = 0;
};

Bounds ThreadLibraryBounds()
{
    Bounds bounds;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return bounds;
    void* low = nullptr;
    if (pthread_attr_getstack(&attr, &low, &bounds.size) == 0)
        bounds.top = static_cast<char*>(low) + bounds.size;
    pthread_attr_destroy(&attr);
    return bounds;
}

// The first thread's stack is reckoned from the process's mapping table
// without the thread library: it must come out as the library has it, for
// the first thread and (through the library) for any other.
TEST(PlatThreads, StackBoundsAreTheThreadLibrarysOnEveryThread)
{
    ASSERT_TRUE(IsProcessMainThread()) << "the test runs on the process's first thread";
    const Bounds first = ThreadLibraryBounds();
    ASSERT_NE(first.top, nullptr);
    EXPECT_EQ(CurrentThreadStackTop(), first.top);
    EXPECT_EQ(CurrentThreadStackSize(), first.size);
    int local = 0;
    EXPECT_LT(static_cast<void*>(&local), first.top);
    EXPECT_GT(static_cast<void*>(&local), static_cast<char*>(first.top) - first.size);

    std::thread other([] {
        const Bounds own = ThreadLibraryBounds();
        EXPECT_FALSE(IsProcessMainThread());
        EXPECT_EQ(CurrentThreadStackTop(), own.top);
        EXPECT_EQ(CurrentThreadStackSize(), own.size);
    });
    other.join();
}

// The count is the calling thread's affinity, which a program started
// with taskset or in a pinned container has narrowed: a thread pinned to one
// processor counts one, whatever the machine has.
TEST(PlatThreads, UsableProcessorsAreTheCallingThreadsAffinity)
{
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(UsableProcessorCount(), CPU_COUNT(&all));
    int pinned = 0;
    std::thread other([&] {
        const cpu_set_t one = test::FirstUsableProcessorOnly();
        if (::sched_setaffinity(0, sizeof one, &one) == 0)
            pinned = UsableProcessorCount();
    });
    other.join();
    EXPECT_EQ(pinned, 1);
    EXPECT_EQ(UsableProcessorCount(), CPU_COUNT(&all)) << "another thread's affinity changed this one's count";
}

}  // namespace
}  // namespace qelt::plat
