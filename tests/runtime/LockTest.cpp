#include <gtest/gtest.h>

#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "platform/PlatThreads.h"
#include "runtime/VConditionVariable.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VSpinLock.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

using test::WaitFor;

// Runs `body` on `count` preemptive tasks and waits for all of them.
template <class Body>
void RunOnTasks(int count, Body body)
{
    std::vector<VTask*> tasks;
    for (int i = 0; i < count; ++i) {
        VTask* task = new VTask(0, eTaskStylePreemptive, [body, i]() { body(i); });
        tasks.push_back(task);
    }
    for (VTask* task : tasks)
        ASSERT_TRUE(task->Run());
    for (VTask* task : tasks) {
        EXPECT_TRUE(task->WaitForDeath(30000));
        task->Release();
    }
}

// Restores the built-in spin-lock settings after each test.
class SpinLockSettingsTest : public ::testing::Test {
protected:
    void TearDown() override { SpinLock::ResetSettings(); }
};

TEST(CriticalSection, CountsUnderContentionFromTasksAndThreads)
{
    constexpr int kWorkers = 8;
    constexpr int kIncrements = 2000;
    VCriticalSection section;
    long long counter = 0;  // deliberately not atomic: the section guards it
    auto work = [&](int) {
        for (int i = 0; i < kIncrements; ++i) {
            section.Lock();
            long long v = counter;
            if (i % 97 == 0)
                VTaskMgr::YieldNow();
            counter = v + 1;
            section.Unlock();
        }
    };
    RunOnTasks(kWorkers, work);
    EXPECT_EQ(counter, static_cast<long long>(kWorkers) * kIncrements);

    // Threads without a task own the section by their own negative ids.
    counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kWorkers; ++t)
        threads.emplace_back(work, t);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, static_cast<long long>(kWorkers) * kIncrements);
    EXPECT_EQ(section.GetOwnerTaskID(), 0);
    EXPECT_EQ(section.GetUseCount(), 0);
}

TEST(CriticalSection, WaiterEntersOnlyAfterTheLastUnlock)
{
    VCriticalSection section;
    std::atomic<int> step{0};
    std::atomic<bool> entered{false};
    std::atomic<int> unlocksBeforeEntry{-1};
    std::atomic<int> unlocks{0};

    VTask* holder = new VTask(0, eTaskStylePreemptive, [&]() {
        section.Lock();
        section.Lock();
        section.Lock();
        EXPECT_EQ(section.GetUseCount(), 3);
        step = 1;
        WaitFor([&] { return step.load() == 2; });
        for (int i = 0; i < 3; ++i) {
            plat::ThreadSleep(20);
            EXPECT_FALSE(entered.load());
            unlocks = i + 1;
            section.Unlock();
        }
    });
    VTask* waiter = new VTask(0, eTaskStylePreemptive, [&]() {
        WaitFor([&] { return step.load() == 1; });
        EXPECT_FALSE(section.TryToLock());  // held by the other task
        step = 2;
        section.Lock();
        unlocksBeforeEntry = unlocks.load();
        entered = true;
        section.Unlock();
    });
    ASSERT_TRUE(holder->Run());
    ASSERT_TRUE(waiter->Run());
    EXPECT_TRUE(holder->WaitForDeath(10000));
    EXPECT_TRUE(waiter->WaitForDeath(10000));
    EXPECT_EQ(unlocksBeforeEntry.load(), 3);
    EXPECT_EQ(section.GetOwnerTaskID(), 0);
    holder->Release();
    waiter->Release();
}

TEST(CriticalSection, TryToLockByTheHolderNeedsItsOwnUnlock)
{
    VCriticalSection section;
    ASSERT_TRUE(section.TryToLock());
    EXPECT_EQ(section.GetOwnerTaskID(), VTaskMgr::GetCurrentTaskID());
    EXPECT_TRUE(section.TryToLock());
    EXPECT_TRUE(section.Lock());
    EXPECT_EQ(section.GetUseCount(), 3);
    bool other = true;
    std::thread([&]() { other = section.TryToLock(); }).join();
    EXPECT_FALSE(other);
    section.Unlock();
    section.Unlock();
    EXPECT_EQ(section.GetUseCount(), 1);
    section.Unlock();
    EXPECT_EQ(section.GetOwnerTaskID(), 0);
    std::thread([&]() {
        other = section.TryToLock();
        section.Unlock();
    }).join();
    EXPECT_TRUE(other);
}

TEST(CriticalSection, DestructorReleasesWhatIsStillHeld)
{
    // On a thread of its own, so that a destructor that waits fails the test
    // instead of hanging it.
    auto done = std::make_shared<std::promise<int>>();
    std::future<int> levels = done->get_future();
    std::thread([done] {
        auto* section = new VCriticalSection();
        section->Lock();
        section->Lock();
        const int held = section->GetUseCount();
        delete section;  // unlocks twice: nothing leaks, nothing waits
        StLocker nothing(nullptr);  // a locker without a section does nothing
        done->set_value(held);
    }).detach();
    ASSERT_EQ(levels.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(levels.get(), 2);
}

TEST_F(SpinLockSettingsTest, DefaultsAndFileSettings)
{
    EXPECT_EQ(SpinLock::Lock, &SpinLock::LockMaxSpinsThenLoopYields);
    EXPECT_EQ(SpinLock::Unlock, &SpinLock::Release);
    EXPECT_EQ(SpinLock::GetMaxSpins(), 1);
    EXPECT_FALSE(SpinLock::GetYieldAfterCheckEvent());

    // An unknown mode keeps the strategy; the count is truncated.
    SpinLockSettings settings;
    settings.mode = "spinForever";
    settings.maxSpins = 2.9;
    settings.yieldAfterCheckEvent = true;
    SpinLock::ApplySettings(settings);
    EXPECT_EQ(SpinLock::Lock, &SpinLock::LockMaxSpinsThenLoopYields);
    EXPECT_EQ(SpinLock::GetMaxSpins(), 2);
    EXPECT_TRUE(SpinLock::GetYieldAfterCheckEvent());

    struct ModeCase {
        const char* name;
        SpinLock::LockFunction expected;
    } modes[] = {
        {"alwaysSleep", &SpinLock::LockAlwaysSleep},
        {"loopMaxSpinsAndYields", &SpinLock::LockLoopMaxSpinsAndYields},
        {"maxSpinsThenLoopYields", &SpinLock::LockMaxSpinsThenLoopYields},
        {"ALWAYSSLEEP", &SpinLock::LockAlwaysSleep},
    };
    for (const ModeCase& c : modes) {
        SpinLockSettings m;
        m.mode = c.name;
        SpinLock::ApplySettings(m);
        EXPECT_EQ(SpinLock::Lock, c.expected) << c.name;
        EXPECT_EQ(SpinLock::Unlock, &SpinLock::Release);
    }

    struct SpinCase {
        double value;
        int expected;
    } spins[] = {
        {-2.7, -2},
        {0, 0},
        {1e20, std::numeric_limits<int>::max()},
        {-1e20, std::numeric_limits<int>::min()},
        {std::nan(""), 0},
    };
    for (const SpinCase& c : spins) {
        SpinLockSettings s;
        s.maxSpins = c.value;
        SpinLock::ApplySettings(s);
        EXPECT_EQ(SpinLock::GetMaxSpins(), c.expected) << c.value;
    }
    // Keys that are absent change nothing.
    SpinLock::ApplySettings(SpinLockSettings());
    EXPECT_EQ(SpinLock::GetMaxSpins(), 0);
    EXPECT_TRUE(SpinLock::GetYieldAfterCheckEvent());
}

TEST_F(SpinLockSettingsTest, JSONKeysOfAnotherTypeAreIgnored)
{
    SpinLockSettings settings;
    EXPECT_FALSE(SpinLock::SettingsFromJSON(VJSONValue(), settings));  // undefined
    EXPECT_FALSE(SpinLock::SettingsFromJSON(VJSONValue(2.0), settings));

    VJSONObject* object = new VJSONObject();
    object->SetProperty(VString("mode"), VJSONValue(VString("noSuchMode")));
    object->SetProperty(VString("maxSpins"), VJSONValue(2.9));
    object->SetProperty(VString("yieldAfterCheckEvent"), VJSONValue(JSON_true));
    VJSONValue content(object);
    ASSERT_TRUE(SpinLock::SettingsFromJSON(content, settings));
    ASSERT_TRUE(settings.mode.has_value());
    EXPECT_EQ(*settings.mode, "noSuchMode");
    EXPECT_EQ(settings.maxSpins.value_or(0), 2.9);
    EXPECT_TRUE(settings.yieldAfterCheckEvent.value_or(false));
    SpinLock::ApplySettings(settings);
    EXPECT_EQ(SpinLock::Lock, &SpinLock::LockMaxSpinsThenLoopYields);
    EXPECT_EQ(SpinLock::GetMaxSpins(), 2);
    EXPECT_TRUE(SpinLock::GetYieldAfterCheckEvent());

    object->SetProperty(VString("mode"), VJSONValue(3.0));
    object->SetProperty(VString("maxSpins"), VJSONValue(VString("5")));
    object->SetProperty(VString("yieldAfterCheckEvent"), VJSONValue(1.0));
    ASSERT_TRUE(SpinLock::SettingsFromJSON(content, settings));
    EXPECT_FALSE(settings.mode.has_value());
    EXPECT_FALSE(settings.maxSpins.has_value());
    EXPECT_FALSE(settings.yieldAfterCheckEvent.has_value());
    object->Release();
}

TEST_F(SpinLockSettingsTest, AlwaysSleepMakesZeroSleepsFirst)
{
    EXPECT_EQ(SpinLock::AlwaysSleepZeroSleeps(4), 7);
    EXPECT_EQ(SpinLock::AlwaysSleepZeroSleeps(8), 7);
    EXPECT_EQ(SpinLock::AlwaysSleepZeroSleeps(9), 8);
    EXPECT_EQ(SpinLock::AlwaysSleepZeroSleeps(16), 15);
}

TEST_F(SpinLockSettingsTest, EveryStrategyExcludes)
{
    struct Case {
        const char* mode;
        double spins;
    } cases[] = {
        {"maxSpinsThenLoopYields", 1},
        {"maxSpinsThenLoopYields", -5},  // still one try before each yield
        {"loopMaxSpinsAndYields", 0},
        {"loopMaxSpinsAndYields", 50},
        {"alwaysSleep", 1},
    };
    for (const Case& c : cases) {
        SpinLockSettings settings;
        settings.mode = c.mode;
        settings.maxSpins = c.spins;
        SpinLock::ApplySettings(settings);
        uint32_t word = 0;
        long long counter = 0;
        constexpr int kThreads = 4, kIncrements = 3000;
        RunOnTasks(kThreads, [&](int) {
            for (int i = 0; i < kIncrements; ++i) {
                StSpinLocker locker(&word);
                ++counter;
            }
        });
        EXPECT_EQ(counter, kThreads * kIncrements) << c.mode << " " << c.spins;
        EXPECT_EQ(word, 0u);
    }
}

TEST(SpinLock, TryOnceSetsOnlyTheHeldBit)
{
    uint32_t word = 0;
    EXPECT_TRUE(SpinLock::TryOnce(&word));
    EXPECT_EQ(word, SpinLock::kHeldBit);
    EXPECT_FALSE(SpinLock::TryOnce(&word));
    SpinLock::Release(&word);
    EXPECT_EQ(word, 0u);
}

TEST(ConditionVariable, BroadcastWakesEveryWaiter)
{
    VConditionVariable condition;
    EXPECT_TRUE(condition.Broadcast());  // no waiters, no event: nothing happens

    VCriticalSection section;
    std::atomic<int> waiting{0}, woken{0};
    bool ready = false;  // guarded by the section
    constexpr int kWaiters = 3;
    std::vector<VTask*> tasks;
    for (int i = 0; i < kWaiters; ++i) {
        tasks.push_back(new VTask(0, eTaskStylePreemptive, [&]() {
            section.Lock();
            ++waiting;
            while (!ready) {
                if (!condition.Wait(&section))
                    break;
            }
            if (ready)
                ++woken;
            section.Unlock();
        }));
    }
    for (VTask* t : tasks)
        ASSERT_TRUE(t->Run());
    ASSERT_TRUE(WaitFor([&] { return waiting.load() == kWaiters; }));
    plat::ThreadSleep(20);
    section.Lock();
    ready = true;
    section.Unlock();
    // Keep broadcasting until every waiter is out: a waiter may not have
    // reached its wait when the first broadcast went.
    for (int i = 0; i < 500 && woken.load() < kWaiters; ++i) {
        condition.Broadcast();
        plat::ThreadSleep(2);
    }
    for (VTask* t : tasks) {
        EXPECT_TRUE(t->WaitForDeath(5000));
        t->Release();
    }
    EXPECT_EQ(woken.load(), kWaiters);
}

TEST(ConditionVariable, TimedWaits)
{
    VConditionVariable condition;
    VCriticalSection section;
    section.Lock();
    section.Lock();
    // A time-out of 0 does not wait; the section is released and taken again.
    EXPECT_FALSE(condition.WaitWithTimeout(&section, 0));
    EXPECT_EQ(section.GetUseCount(), 2);
    auto start = Clock::now();
    EXPECT_FALSE(condition.WaitWithTimeout(&section, 60));
    EXPECT_GE(MillisecondsSince(start), 55);
    EXPECT_EQ(section.GetOwnerTaskID(), VTaskMgr::GetCurrentTaskID());
    section.Unlock();
    section.Unlock();

    // While waiters use one section, a wait with another one is refused.
    VCriticalSection other;
    std::atomic<bool> inWait{false};
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
        section.Lock();
        inWait = true;
        condition.WaitWithTimeout(&section, 5000);
        section.Unlock();
    });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitFor([&] { return inWait.load(); }));
    // Getting the section means the task has released it inside its wait.
    section.Lock();
    section.Unlock();
    other.Lock();
    start = Clock::now();
    EXPECT_FALSE(condition.WaitWithTimeout(&other, 3000));
    EXPECT_LT(MillisecondsSince(start), 1500);  // refused, not timed out
    EXPECT_EQ(other.GetUseCount(), 1);
    other.Unlock();
    for (int i = 0; i < 500 && task->GetState() != TaskState_Dead; ++i) {
        condition.Broadcast();
        plat::ThreadSleep(2);
    }
    EXPECT_TRUE(task->WaitForDeath(5000));
    task->Release();
}

}  // namespace
}  // namespace qelt
