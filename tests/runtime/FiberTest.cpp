#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacFiber.h"

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

}  // namespace
}  // namespace qelt
