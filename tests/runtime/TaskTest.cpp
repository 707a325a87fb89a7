#include <gtest/gtest.h>

#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "kernel/VString.h"
#include "platform/PlatThreads.h"
#include "runtime/VErrorBase.h"
#include "runtime/IIdleable.h"
#include "runtime/VErrorContext.h"
#include "runtime/VFunctionMessage.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacTask.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

using test::WaitFor;

// A task of the virtual run loop that counts its hooks.
class CountingTask : public VTask {
public:
    explicit CountingTask(int runs) : VTask(nullptr, 0, eTaskStylePreemptive, nullptr), fRunsLeft(runs) {}

    void DoInit() override { ++fInits; }
    void DoDeInit() override { ++fDeInits; }
    bool DoRun() override
    {
        ++fRuns;
        return --fRunsLeft > 0;
    }
    void DoPrepareToDie() override { ++fPrepares; }

    std::atomic<int> fInits{0}, fDeInits{0}, fRuns{0}, fPrepares{0};
    int fRunsLeft;
};

TEST(Task, RunFunctionGoesThroughEveryState)
{
    std::vector<int32_t> seen;
    std::atomic<bool> release{false};
    size_t freeStack = 0;
    VTask* task = nullptr;
    task = new VTask(0, eTaskStylePreemptive, [&]() {
        seen.push_back(VTask::GetCurrent()->GetState());
        freeStack = VTaskMgr::Get()->GetCurrentFreeStackSize();
        EXPECT_EQ(VTask::GetCurrent(), task);
        EXPECT_EQ(VTaskMgr::GetCurrentTaskID(), task->GetID());
        EXPECT_EQ(task->GetID(), plat::CurrentThreadSystemID());
        while (!release.load())
            plat::ThreadSleep(1);
    });
    EXPECT_EQ(task->GetState(), TaskState_New);
    EXPECT_GT(task->GetID(), 0);
    ASSERT_TRUE(task->Run());
    EXPECT_FALSE(task->Run());  // not new any more
    ASSERT_TRUE(WaitFor([&] { return task->GetState() == TaskState_Running; }));
    double system = -1, user = -1;
    EXPECT_TRUE(task->GetCPUTimes(system, user));
    EXPECT_GE(system, 0);
    EXPECT_GE(user, 0);
    release = true;
    EXPECT_TRUE(task->WaitForDeath(5000));
    EXPECT_EQ(task->GetState(), TaskState_Dead);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], TaskState_Running);
    EXPECT_GT(freeStack, 0u);
    EXPECT_LT(freeStack, task->GetStackSize());
    int ticks = -1;
    EXPECT_TRUE(task->IsDying(&ticks));
    task->Release();
}

TEST(Task, VirtualRunLoopCallsItsHooks)
{
    CountingTask* task = new CountingTask(3);
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(5000));
    EXPECT_EQ(task->fInits, 1);
    EXPECT_EQ(task->fRuns, 3);
    EXPECT_EQ(task->fDeInits, 1);
    EXPECT_EQ(task->fPrepares, 1);  // Kill after the last DoRun
    task->Release();
}

TEST(Task, NeverRunTaskEndsItsParkedThread)
{
    XMacTaskMgr& platform = VTaskMgr::Get()->GetPlatformManager();
    const int before = platform.GetLiveThreadCount();
    std::atomic<bool> ran{false};
    CountingTask* counting = new CountingTask(1);
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() { ran = true; });
    EXPECT_GE(platform.GetLiveThreadCount(), 2);
    task->Release();
    counting->Release();
    // Joined by the release (threads of earlier tasks may still be ending).
    EXPECT_LE(platform.GetLiveThreadCount(), before);
    EXPECT_FALSE(ran.load());
}

TEST(Task, KillBeforeRunKeepsTheTaskNew)
{
    CountingTask* task = new CountingTask(1);
    task->WakeUp();  // does not release the parked thread either
    task->Kill();
    EXPECT_EQ(task->fPrepares, 1);
    EXPECT_EQ(task->GetState(), TaskState_New);
    EXPECT_FALSE(task->IsDying());
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(5000));
    EXPECT_EQ(task->fRuns, 1);
    task->Release();
}

TEST(Task, FiberStyleWithoutFibersHasNoPlatformTask)
{
    VTask* task = new VTask(0, eTaskStyleFiber, []() {});
    EXPECT_EQ(task->GetPlatformTask(), nullptr);
    EXPECT_EQ(task->GetID(), 0);
    EXPECT_FALSE(task->Run());
    EXPECT_EQ(task->GetState(), TaskState_New);
    task->Release();
}

TEST(Task, SleepsAndWakeUps)
{
    // Zero and negative only yield; without a task nothing sleeps.
    auto start = Clock::now();
    VTask::Sleep(0);
    VTask::Sleep(-5);
    std::thread([]() { VTask::Sleep(2000); }).join();
    EXPECT_LT(MillisecondsSince(start), 1000);

    // The main task sleeps the time asked.
    start = Clock::now();
    VTask::Sleep(150);
    EXPECT_GE(MillisecondsSince(start), 145);

    // Wake-ups given before a sleep end it at once, and they count.
    std::atomic<bool> woken{false};
    std::atomic<long long> firstSleep{-1}, secondSleep{-1};
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
        while (!woken.load())
            plat::ThreadSleep(1);
        auto s = Clock::now();
        VTask::Sleep(3000);
        firstSleep = MillisecondsSince(s);
        s = Clock::now();
        VTask::Sleep(3000);
        secondSleep = MillisecondsSince(s);
    });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitFor([&] { return task->GetState() == TaskState_Running; }));
    task->WakeUp();
    task->WakeUp();
    woken = true;
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_LT(firstSleep.load(), 1500);
    EXPECT_LT(secondSleep.load(), 1500);
    task->Release();
}

TEST(Task, SleepWithoutSemaphoreStillWaits)
{
    // A platform task whose semaphore could not be made sleeps plainly.
    XMacTask_preemptive bare(VTask::GetCurrent());
    ASSERT_FALSE(bare.HasSemaphore());
    auto start = Clock::now();
    bare.Sleep(120);
    EXPECT_GE(MillisecondsSince(start), 115);
    bare.WakeUp();  // no effect, no failure
}

TEST(Task, WakeUpEndsASleepInProgress)
{
    std::atomic<int> reason{0};
    VTask* task = new VTask(0, eTaskStylePreemptive, []() { VTask::Sleep(10000); });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitFor([&] { return task->GetWaitReason() == TaskWaitReason_Sleep; }));
    reason = task->GetWaitReason();
    auto start = Clock::now();
    task->WakeUp();
    EXPECT_TRUE(task->WaitForDeath(5000));
    EXPECT_LT(MillisecondsSince(start), 5000);
    EXPECT_EQ(reason.load(), TaskWaitReason_Sleep);
    task->Release();
}

TEST(Task, WaitForDeathReturnsWhenTheTaskDies)
{
    VTask* task = new VTask(0, eTaskStylePreemptive, []() { VTask::Sleep(100); });
    auto start = Clock::now();
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(3000));
    long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 90);
    EXPECT_LT(elapsed, 2500);
    EXPECT_EQ(VTask::GetCurrent()->GetWaitReason(), TaskWaitReason_None);
    // Already dead: at once.
    start = Clock::now();
    EXPECT_TRUE(task->WaitForDeath(3000));
    EXPECT_LT(MillisecondsSince(start), 100);
    task->Release();
}

TEST(Task, WaitForDeathTimesOutAndRefusesItself)
{
    std::atomic<bool> release{false};
    std::atomic<int> selfWait{-1};
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
        selfWait = VTask::GetCurrent()->WaitForDeath(1000) ? 1 : 0;
        while (!release.load())
            plat::ThreadSleep(1);
    });
    ASSERT_TRUE(task->Run());
    auto start = Clock::now();
    EXPECT_FALSE(task->WaitForDeath(100));
    EXPECT_GE(MillisecondsSince(start), 95);
    EXPECT_EQ(selfWait.load(), 0);

    // From a thread without a task: polls until the task is dead.
    bool died = false;
    std::thread waiter([&]() { died = task->WaitForDeath(5000); });
    plat::ThreadSleep(20);
    release = true;
    waiter.join();
    EXPECT_TRUE(died);
    task->Release();
}

// An idler that counts its calls.
class CountingIdler : public IIdleable {
public:
    void DoIdle() override { ++fCalls; }
    std::atomic<int> fCalls{0};
};

TEST(Task, WaitForDeathServesTheCallersMessagesSoADyingTaskThatSendsToItEnds)
{
    // The dying task's last act waits for its waiter to run a function: the
    // waiter runs it from inside WaitForDeath, and the task ends at once
    // instead of giving up when its own wait times out.
    VTask* main = VTask::GetCurrent();
    std::atomic<VTaskID> ranOn{0};
    std::atomic<int32_t> reasonMeanwhile{-1};
    std::atomic<int> answered{-1};
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, [&]() {
        VTask::Sleep(50);
        bool ran = VFunctionMessage::PostToAndWait(
            main,
            [&] {
                ranOn = VTask::GetCurrentID();
                reasonMeanwhile = main->GetWaitReason();
            },
            20000);
        answered = ran ? 1 : 0;
    }));
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(20000));
    EXPECT_EQ(answered.load(), 1);
    EXPECT_EQ(ranOn.load(), main->GetID());
    EXPECT_EQ(reasonMeanwhile.load(), TaskWaitReason_Death);
    EXPECT_EQ(main->GetWaitReason(), TaskWaitReason_None);

    // The death notice that came while the waiter was busy with the function
    // does not end the waiter's next wait.
    bool whole = false;
    VTask::WaitAndExecuteMessages(20, &whole);
    EXPECT_TRUE(whole);
}

TEST(Task, WaitForDeathIdlesWhenItsWaitEnds)
{
    CountingIdler idler;
    idler.StartIdling();
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, []() { VTask::Sleep(100); }));
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(20000));
    idler.StopIdling();
    EXPECT_GE(idler.fCalls.load(), 1);
}

TEST(Task, ExitEndsTheTaskThroughItsOwnFrames)
{
    struct Marker {
        std::atomic<bool>* flag;
        ~Marker() { *flag = true; }
    };
    std::atomic<bool> unwound{false}, after{false};
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
        Marker m{&unwound};
        VTask::Exit(nullptr);
        after = true;
    });
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(5000));
    EXPECT_TRUE(unwound.load());
    EXPECT_FALSE(after.load());
    task->Release();
    // On a thread without a task nothing happens.
    std::thread([]() { VTask::Exit(nullptr); }).join();
}

std::atomic<int> gDisposed{0};
void CountDispose(void* value)
{
    gDisposed += *static_cast<int*>(value);
}

TEST(Task, DataSlotsGrowAndAreDisposedAtExit)
{
    VTaskMgr* manager = VTaskMgr::Get();
    unsigned long key = manager->CreateDataKey(&CountDispose);
    int one = 1, ten = 10;
    std::atomic<bool> checked{false};
    gDisposed = 0;
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
        VTask::SetCurrentData(key + 2, &ten);
        VTask::SetCurrentData(key, &one);
        VTask::SetCurrentData(0, &ten);  // ignored
        checked = VTask::GetCurrentData(key + 1) == nullptr && VTask::GetCurrentData(key + 3) == nullptr &&
                  VTask::GetCurrentData(key) == &one && VTask::GetCurrentData(key + 2) == &ten &&
                  VTask::GetCurrentData(0) == nullptr;
    });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(5000));
    EXPECT_TRUE(checked.load());
    // Only the slot of a live key with a destructor is disposed of.
    EXPECT_EQ(gDisposed.load(), 1);
    task->Release();
    manager->DeleteDataKey(key);
    // Without a task nothing is stored.
    std::thread([&]() {
        VTask::SetCurrentData(key, &one);
        EXPECT_EQ(VTask::GetCurrentData(key), nullptr);
    }).join();
}

TEST(Task, ThreadIsNamedAfterTheTask)
{
    std::string named, renamed;
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
        named = plat::GetCurrentThreadName();
        VTask::GetCurrent()->SetName(VString("abcdefghijklmn\xC3\xA9"));
        renamed = plat::GetCurrentThreadName();
    });
    task->SetName(VString("Logger"));
    VString name;
    task->GetName(name);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name.GetCPointer()), name.GetLength()), u"Logger");
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(5000));
    std::string full = "Logger (id = " + std::to_string(task->GetID()) + ")";
    EXPECT_EQ(named, full.substr(0, 15));
    // Cut to 15 bytes without splitting the two-byte character.
    EXPECT_EQ(renamed, std::string("abcdefghijklmn"));
    EXPECT_LE(renamed.size(), 15u);
    task->Release();
}

TEST(Task, PropertiesAreRetained)
{
    VTask* task = new VTask(0, eTaskStylePreemptive, []() {});
    EXPECT_EQ(task->RetainProperties(), nullptr);
    VValueBag* bag = new VValueBag();
    task->SetProperties(bag);
    VValueBag* got = task->RetainProperties();
    EXPECT_EQ(got, bag);
    if (got != nullptr)
        got->Release();
    bag->Release();  // the task keeps its own reference
    task->SetProperties(nullptr);
    EXPECT_EQ(task->RetainProperties(), nullptr);
    task->SetProperties(bag = new VValueBag());
    bag->Release();
    task->Release();  // releases the properties with the task
}

TEST(Task, ThreadNameCutKeepsWholeCharacters)
{
    struct Case {
        std::string name;
        size_t fit;
    } cases[] = {
        {"", 0},
        {"short", 5},
        {"exactly15bytes!", 15},
        {"sixteen bytes!!!", 15},
        {"fourteen bytes\xC3\xA9", 14},                  // a 2-byte character across the limit
        {"abcdefghijklm\xE2\x82\xAC", 13},               // a 3-byte character across the limit
        {"abcdefghijk\xF0\x9F\x98\x80xyz", 15},          // a 4-byte character that fits
        {"abcdefghijkl\xF0\x9F\x98\x80", 12},            // one that does not
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::ThreadNameFitLength(c.name.data(), c.name.size()), c.fit) << c.name;
}

TEST(Task, ErrorsGoToTheCurrentTask)
{
    VTask* main = VTask::GetCurrent();
    ASSERT_NE(main, nullptr);
    VError errorOnTask = 0, lastOnTask = 0, afterFlush = 1;
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
        VTask::PushRetainedError(new VErrorBase(QeltError(4241)));
        {
            StErrorContextInstaller context(true, false);
            VTask::PushRetainedError(new VErrorBase(QeltError(4242)));
            errorOnTask = context.GetLastError();
        }
        lastOnTask = VTask::GetCurrent()->GetLastError();
        VTask::FlushErrors();
        afterFlush = VTask::GetCurrent()->GetLastError();
    });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(5000));
    task->Release();
    EXPECT_EQ(errorOnTask, QeltError(4242));
    EXPECT_EQ(lastOnTask, QeltError(4242));  // handed down to the base context
    EXPECT_EQ(afterFlush, 0u);
    EXPECT_NE(main->GetLastError(), QeltError(4242));  // nothing reaches another task
    // A thread without a task drops what it pushes.
    std::thread([]() {
        EXPECT_EQ(VTask::GetErrorContext(true), nullptr);
        EXPECT_FALSE(VTask::PushRetainedError(nullptr));
        EXPECT_FALSE(VTask::PushRetainedError(new VErrorBase(QeltError(1))));  // dropped, not leaked
    }).join();
}

}  // namespace
}  // namespace qelt
