#include <gtest/gtest.h>

#include "TestSupport.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacFiber.h"
#include "runtime/mac/XMacTask.h"

namespace qelt {
namespace {

struct PingPong {
    void* mainFiber = nullptr;
    void* self = nullptr;
    std::string log;
    bool dataSeen = false;
    std::atomic<bool> unwound{false};
};

struct Unwinder {
    std::atomic<bool>* flag;
    ~Unwinder() { *flag = true; }
};

void PingPongEntry(void* data)
{
    PingPong* p = static_cast<PingPong*>(data);
    Unwinder unwinder{&p->unwound};
    p->dataSeen = GetFiberData() == data && GetCurrentFiber() == p->self;
    p->log += "f1 ";
    SwitchToFiber(p->self);  // to itself: returns at once
    DeleteFiber(p->self);    // its own current fiber: nothing happens
    SwitchToFiber(p->mainFiber);
    p->log += "f2 ";
    SwitchToFiber(p->mainFiber);
    p->log += "never ";
}

TEST(Fiber, ThreadsWithoutConversionHaveNoFiber)
{
    void* fiber = reinterpret_cast<void*>(1);
    std::thread([&]() { fiber = GetCurrentFiber(); }).join();
    EXPECT_EQ(fiber, nullptr);
    _FiberData none(nullptr);
    EXPECT_EQ(none.fTask, nullptr);
    EXPECT_EQ(none.fID, 0);
    _FiberData main(VTask::GetCurrent());
    EXPECT_EQ(main.fID, VTaskMgr::GetCurrentTaskID());
}

TEST(Fiber, SwitchingRunsExactlyOneFiberAtATime)
{
    PingPong p;
    std::thread([&]() {
        int mainData = 7;
        p.mainFiber = ConvertThreadToFiber(&mainData);
        ASSERT_NE(p.mainFiber, nullptr);
        EXPECT_EQ(GetCurrentFiber(), p.mainFiber);
        EXPECT_EQ(GetFiberData(), &mainData);

        p.self = CreateFiberEx(0, 64 * 1024, 1, &PingPongEntry, &p);
        ASSERT_NE(p.self, nullptr);
        p.log += "m1 ";
        SwitchToFiber(p.self);
        p.log += "m2 ";
        SwitchToFiber(p.self);
        p.log += "m3 ";
        // The fiber waits for a switch that never comes: deleting it ends its
        // thread, unwinding its frames.
        DeleteFiber(p.self);
        DeleteFiber(p.mainFiber);
        EXPECT_EQ(GetCurrentFiber(), nullptr);
        DeleteFiber(nullptr);
    }).join();
    EXPECT_EQ(p.log, "m1 f1 m2 f2 m3 ");
    EXPECT_TRUE(p.dataSeen);
    EXPECT_TRUE(p.unwound.load());
}

TEST(Fiber, NeverSwitchedFiberCanBeDeleted)
{
    std::thread([]() {
        void* main = ConvertThreadToFiber(nullptr);
        void* fiber = CreateFiberEx(0, 16 * 1024, 1, [](void*) {}, nullptr);
        ASSERT_NE(fiber, nullptr);
        DeleteFiber(fiber);
        DeleteFiber(main);
    }).join();
}

// A fiber task of the virtual run loop that counts its hooks.
class CountingFiberTask : public VTask {
public:
    explicit CountingFiberTask(int runs) : VTask(nullptr, 0, eTaskStyleFiber, nullptr), fRunsLeft(runs) {}

    void DoInit() override { ++fInits; }
    void DoDeInit() override { ++fDeInits; }
    bool DoRun() override
    {
        ++fRuns;
        fOnItself = fOnItself && VTask::GetCurrent() == this;
        return --fRunsLeft > 0;
    }

    int fInits = 0, fDeInits = 0, fRuns = 0, fRunsLeft;
    bool fOnItself = true;
};

bool OnlyToken(const char* inName)
{
    std::vector<VString> names = VProcess::sInstance->GetActivityTokenNames();
    return names.size() == 1 && names[0].EqualToStringRaw(VString(inName));
}

// Runs in a program of its own (a death-test child): the test program's
// process object is shut down and one with the fibers option started.
[[noreturn]] void FiberTasksChild()
{
    delete VProcess::sInstance;
    VProcess* process = new VProcess;
    test::ChildChecks check;
    check(process->Init(kInitFibers), "the start-up with the fibers option");
    VTask* main = VTask::GetCurrent();
    check(main != nullptr && main->IsFiber() && !main->IsPreemptive(), "the main task is a fiber");

    // A fiber task with a run function runs on its own fiber, holding its
    // token, while the main task waits; it is dead when Run returns.
    VRefPtr<VTask> fiber;
    bool onItself = false, tokenMeanwhile = false;
    VTaskID idMeanwhile = 0;
    fiber = AdoptRef(new VTask(0, eTaskStyleFiber, [&] {
        VTask* self = VTask::GetCurrent();
        onItself = self == fiber.Get() && self->IsFiber() && self->GetState() == TaskState_Running;
        idMeanwhile = VTaskMgr::GetCurrentTaskID();
        tokenMeanwhile = OnlyToken("Running task Fiber");
        VTask::Sleep(10);
        VTask::Sleep(0);
    }));
    fiber->SetName(VString("Fiber"));
    check(fiber->GetPlatformTask() != nullptr && fiber->GetID() != 0, "a fiber task has a platform task");
    check(fiber->GetState() == TaskState_New, "a fiber task starts new");
    check(fiber->Run(), "Run starts the fiber task");
    check(onItself, "the run function runs on the fiber task");
    check(idMeanwhile == fiber->GetID(), "the fiber's id is its task's");
    check(tokenMeanwhile, "the fiber task holds its token while it runs");
    check(fiber->WaitForDeath(10000) && fiber->GetState() == TaskState_Dead, "the fiber task ends");
    check(VTask::GetCurrent() == main, "the main task is current again");
    check(VProcess::sInstance->GetActivityTokenNames().empty(), "no token is left");
    check(!fiber->Run(), "a dead fiber task does not run again");
    fiber = nullptr;

    // A fiber task of the virtual run loop goes through its hooks.
    VRefPtr<CountingFiberTask> looping = AdoptRef(new CountingFiberTask(3));
    check(looping->Run(), "Run starts the looping fiber task");
    check(looping->WaitForDeath(10000), "the looping fiber task ends");
    check(looping->fInits == 1 && looping->fRuns == 3 && looping->fDeInits == 1, "its hooks run in turn");
    check(looping->fOnItself, "its hooks run on the fiber task");
    looping = nullptr;

    // Preemptive tasks still run beside them.
    std::atomic<bool> ran{false};
    VRefPtr<VTask> thread = AdoptRef(new VTask(0, eTaskStylePreemptive, [&] { ran = true; }));
    check(thread->Run() && thread->WaitForDeath(10000) && ran.load(), "a preemptive task runs and ends");
    thread = nullptr;

    // A fiber task never run goes with its last reference.
    VRefPtr<VTask> idle = AdoptRef(new VTask(0, eTaskStyleFiber, [] {}));
    idle = nullptr;

    delete process;
    std::_Exit(check.Passed() ? 0 : 1);
}

using FiberProcessTest = test::FreshProgramTest;

TEST_F(FiberProcessTest, AFiberTaskRunsOnItsFiberAndEnds)
{
    EXPECT_EXIT(FiberTasksChild(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qelt
