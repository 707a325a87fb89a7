#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "platform/PlatThreads.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/VScheduler_void.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacTask.h"

namespace qelt {
namespace {

// Starts the task manager for the runtime tests, unless the process start-up
// of another environment has done so already (then that one ends it too).
class TaskManagerEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!VTaskMgr::sInstanceInited)
            fDidInit = VTaskMgr::Init(nullptr);
    }
    void TearDown() override
    {
        if (fDidInit)
            VTaskMgr::DeInit();
        fDidInit = false;
    }

private:
    bool fDidInit = false;
};

[[maybe_unused]] ::testing::Environment* const gTaskEnvironment =
    ::testing::AddGlobalTestEnvironment(new TaskManagerEnvironment);

// A task with a run function that waits until released.
struct GatedTask {
    std::atomic<bool> release{false};
    std::atomic<bool> running{false};
    VTask* task = nullptr;

    GatedTask()
    {
        task = new VTask(0, eTaskStylePreemptive, [this]() {
            running = true;
            while (!release.load())
                plat::ThreadSleep(1);
        });
    }
    ~GatedTask()
    {
        release = true;
        if (task->GetState() != TaskState_New)
            task->WaitForDeath(5000);
        task->Release();
    }
    void WaitRunning()
    {
        for (int i = 0; i < 5000 && !running.load(); ++i)
            plat::ThreadSleep(1);
    }
};

bool InGuardPage(const void* address)
{
    // The guard page is mapped without any access: "---p" in the process map.
    std::ifstream maps("/proc/self/maps");
    std::string line;
    uintptr_t a = reinterpret_cast<uintptr_t>(address);
    while (std::getline(maps, line)) {
        unsigned long lo = 0, hi = 0;
        char perms[5] = {};
        if (sscanf(line.c_str(), "%lx-%lx %4s", &lo, &hi, perms) == 3 && a >= lo && a < hi)
            return std::string(perms) == "---p";
    }
    return false;
}

TEST(TaskMgr, InitAdoptsTheMainThread)
{
    ASSERT_TRUE(VTaskMgr::sInstanceInited);
    VTaskMgr* manager = VTaskMgr::Get();
    VTask* main = manager->GetMainTask();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(VTask::GetCurrent(), main);
    EXPECT_TRUE(VTask::IsCurrentMain());
    EXPECT_EQ(main->GetState(), TaskState_Running);
    EXPECT_TRUE(main->IsPreemptive());
    EXPECT_FALSE(main->IsFiber());
    // The main task's id is its thread's system id, and the process's first
    // thread keeps the process's own name.
    EXPECT_EQ(main->GetID(), plat::CurrentThreadSystemID());
    EXPECT_EQ(VTaskMgr::GetCurrentTaskID(), main->GetID());
    EXPECT_EQ(VTask::GetCurrentID(), main->GetID());
    EXPECT_EQ(plat::GetCurrentThreadName().find("(id ="), std::string::npos);
    EXPECT_GE(manager->GetTaskCount(false), 1);
    // Initialising again changes nothing.
    EXPECT_TRUE(VTaskMgr::Init(nullptr));
    EXPECT_EQ(manager->GetMainTask(), main);
}

TEST(TaskMgr, ThreadsWithoutTaskGetDistinctStableNegativeIds)
{
    constexpr int kThreads = 16;
    std::vector<int> first(kThreads), second(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i]() {
            while (!go.load()) {
            }
            first[i] = VTaskMgr::GetCurrentTaskID();
            second[i] = VTaskMgr::GetCurrentTaskID();
            EXPECT_EQ(VTask::GetCurrent(), nullptr);
            // A thread's own negative id is no task's id.
            EXPECT_EQ(VTask::GetCurrentID(), 0);
        });
    }
    go = true;
    for (auto& t : threads)
        t.join();
    std::set<int> ids;
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_LT(first[i], 0);
        EXPECT_EQ(first[i], second[i]);
        ids.insert(first[i]);
    }
    EXPECT_EQ(ids.size(), static_cast<size_t>(kThreads));
}

// Run in a program of their own (death-test children), then exit with 0 on
// success.
[[noreturn]] void FreshIdsChild()
{
    int a1 = 0, a2 = 0, b1 = 0, b2 = 0;
    std::thread ta([&]() {
        a1 = VTaskMgr::GetCurrentTaskID();
        a2 = VTaskMgr::GetCurrentTaskID();
    });
    ta.join();
    std::thread tb([&]() {
        b1 = VTaskMgr::GetCurrentTaskID();
        b2 = VTaskMgr::GetCurrentTaskID();
    });
    tb.join();
    _exit(a1 == -1 && a2 == -1 && b1 == -2 && b2 == -2 ? 0 : 1);
}

[[noreturn]] void DeInitChild()
{
    XMacTaskMgr& platform = VTaskMgr::Get()->GetPlatformManager();
    std::atomic<bool> ran{false};
    // One task that runs until killed, one that is never run.
    VTask* running = new VTask(0, eTaskStylePreemptive, []() {
        while (!VTask::GetCurrent()->IsDying())
            VTask::Sleep(10000);  // ended early by the manager's wake-up
    });
    VTask* parked = new VTask(0, eTaskStylePreemptive, [&]() { ran = true; });
    bool ok = running->Run();
    while (running->GetState() != TaskState_Running)
        plat::ThreadSleep(1);
    ok = ok && platform.GetLiveThreadCount() == 2;
    VTaskMgr::DeInit();
    ok = ok && platform.GetLiveThreadCount() == 0 && running->GetState() == TaskState_Dead && !ran.load() &&
         !VTaskMgr::sInstanceInited && VTaskMgr::GetCurrentTaskID() == 0 && VTask::GetCurrentID() == 0;
    // The parked task can no longer start.
    ok = ok && !parked->Run() && !ran.load();
    running->Release();
    parked->Release();
    _exit(ok ? 0 : 1);
}

using test::FreshProgramTest;

TEST_F(FreshProgramTest, ThreadsWithoutTaskGetMinusOneThenMinusTwo)
{
    EXPECT_EXIT(FreshIdsChild(), ::testing::ExitedWithCode(0), "");
}

TEST_F(FreshProgramTest, DeInitLeavesNoThreadBehind)
{
    EXPECT_EXIT(DeInitChild(), ::testing::ExitedWithCode(0), "");
}

TEST(TaskMgr, DataKeysAreReusedAfterDeletion)
{
    VTaskMgr* manager = VTaskMgr::Get();
    EXPECT_FALSE(manager->CheckDataKey(0));
    unsigned long k1 = manager->CreateDataKey(nullptr);
    unsigned long k2 = manager->CreateDataKey(nullptr);
    EXPECT_GE(k1, 1u);
    EXPECT_EQ(k2, k1 + 1);
    EXPECT_TRUE(manager->CheckDataKey(k1));
    manager->DeleteDataKey(k1);
    EXPECT_FALSE(manager->CheckDataKey(k1));
    manager->DeleteDataKey(0);  // ignored
    EXPECT_EQ(manager->CreateDataKey(nullptr), k1);
    EXPECT_TRUE(manager->CheckDataKey(k1));
    EXPECT_FALSE(manager->CheckDataKey(k2 + 100));
    manager->DeleteDataKey(k1);
    manager->DeleteDataKey(k2);
}

TEST(TaskMgr, StackSizes)
{
    VTaskMgr* manager = VTaskMgr::Get();
    // The main thread's stack (the stack limit, 8 MiB unless changed) is
    // more than the 1 MiB a task gets by default.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &limit), 0);
    ASSERT_GE(limit.rlim_cur, 0x100000u) << "run the tests with a stack limit of at least 1 MiB";
    EXPECT_GE(manager->GetStackSizeForMainTask(), 0x100000u);
    EXPECT_EQ(manager->GetDefaultStackSize(), 0x100000u);
    manager->SetDefaultStackSize(200000);
    EXPECT_EQ(manager->GetDefaultStackSize(), 200000u);
    manager->SetDefaultStackSize(0);  // computed again on the next request
    EXPECT_EQ(manager->GetDefaultStackSize(), 0x100000u);
    // Without a task, the free stack is the process's stack limit.
    size_t outside = 0;
    std::thread([&]() { outside = manager->GetCurrentFreeStackSize(); }).join();
    EXPECT_EQ(outside, static_cast<size_t>(limit.rlim_cur));
}

TEST(TaskMgr, TaskStackIsRoundedAndGuarded)
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    VRefPtr<VTask> task = AdoptRef(new VTask(64000, eTaskStylePreemptive, []() {}));
    auto* platform = static_cast<XMacTask_preemptive*>(task->GetPlatformTask());
    ASSERT_NE(platform, nullptr);
    const size_t expected = (64000 + page - 1) / page * page;
    EXPECT_EQ(task->GetStackSize(), expected);
    EXPECT_EQ(platform->GetStackRegion().stackSize, expected);
    EXPECT_EQ(platform->GetStackRegion().regionSize, expected + page);
    EXPECT_TRUE(InGuardPage(platform->GetStackRegion().region));
    EXPECT_FALSE(InGuardPage(platform->GetStackRegion().stack));
}

TEST(TaskMgr, CountsAndLookupsFollowTheStates)
{
    VTaskMgr* manager = VTaskMgr::Get();
    manager->PurgeDeadTasks();
    const int32_t running = manager->GetTaskCount(false);
    const int32_t notDying = manager->GetTaskCount(true);

    GatedTask gated;
    EXPECT_EQ(manager->GetTaskCount(false), running);  // constructed, never run: not listed
    ASSERT_TRUE(gated.task->Run());
    gated.WaitRunning();
    EXPECT_EQ(manager->GetTaskCount(false), running + 1);
    EXPECT_EQ(manager->GetTaskCount(true), notDying + 1);

    VTask* found = manager->RetainTaskByID(gated.task->GetID());
    EXPECT_EQ(found, gated.task);
    if (found != nullptr)
        found->Release();

    gated.task->Kill();  // dying: counted by GetTaskCount(false) only
    EXPECT_EQ(gated.task->GetState(), TaskState_Dying);
    EXPECT_EQ(manager->GetTaskCount(false), running + 1);
    EXPECT_EQ(manager->GetTaskCount(true), notDying);

    gated.release = true;
    ASSERT_TRUE(gated.task->WaitForDeath(5000));
    // Dead: still listed until the next purge, but not found by id.
    EXPECT_EQ(manager->RetainTaskByID(gated.task->GetID()), nullptr);
    std::vector<VRefPtr<VTask>> tasks;
    manager->GetTasks(tasks);
    bool listed = false;
    for (auto& t : tasks)
        listed = listed || t.Get() == gated.task;
    EXPECT_TRUE(listed);
    EXPECT_EQ(tasks.front().Get(), manager->GetMainTask());
    tasks.clear();
    manager->PurgeDeadTasks();
    manager->GetTasks(tasks);
    for (auto& t : tasks)
        EXPECT_NE(t.Get(), gated.task);
}

TEST(TaskMgr, KillAllTasksOnlyFromTheMainTask)
{
    VTaskMgr* manager = VTaskMgr::Get();
    std::atomic<int> loops{0};
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() {
        while (!VTask::GetCurrent()->IsDying()) {
            ++loops;
            plat::ThreadSleep(1);
        }
    });
    ASSERT_TRUE(task->Run());
    while (task->GetState() != TaskState_Running)
        plat::ThreadSleep(1);

    // From another thread nothing is killed.
    bool result = true;
    std::thread([&]() { result = manager->KillAllTasks(0); }).join();
    EXPECT_FALSE(result);
    EXPECT_EQ(task->GetState(), TaskState_Running);

    EXPECT_TRUE(manager->KillAllTasks(5000));
    EXPECT_EQ(task->GetState(), TaskState_Dead);
    task->Release();
}

TEST(TaskMgr, VoidSchedulerDoesNothing)
{
    VTaskMgr* manager = VTaskMgr::Get();
    IFiberScheduler* scheduler = manager->RetainFiberScheduler();
    ASSERT_NE(scheduler, nullptr);
    EXPECT_NE(dynamic_cast<VScheduler_void*>(scheduler), nullptr);
    EXPECT_TRUE(scheduler->WithSystemEventPolling());
    bool proceed = true;
    EXPECT_FALSE(scheduler->RunFiber(nullptr, &proceed));
    EXPECT_TRUE(proceed);
    EXPECT_FALSE(scheduler->ExecuteInProcess0());
    scheduler->Release();

    // Flag waits return at once; the callers poll.
    int flag = 0;
    VTaskMgr::CurrentFiberWaitFlag(&flag, 0);
    VTaskMgr::CurrentFiberWaitFlagWithTimeout(&flag, 0, 100000);
    VTaskMgr::WakeUpSystemEventPolling();
    VTaskMgr::Yield();
    VTaskMgr::YieldNow();
    manager->MAC_BeginHandlingUpdateEventsOnly();
    manager->MAC_StopHandlingUpdateEventsOnly();

    // Installing another scheduler replaces it; null is ignored.
    IFiberScheduler* other = new VScheduler_void();
    IFiberScheduler* old = manager->RetainFiberScheduler();
    manager->SetFiberScheduler(other);
    manager->SetFiberScheduler(nullptr);
    IFiberScheduler* now = manager->RetainFiberScheduler();
    EXPECT_EQ(now, other);
    now->Release();
    manager->SetFiberScheduler(old);
    old->Release();
    other->Release();
}

}  // namespace
}  // namespace qelt
