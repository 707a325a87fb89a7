#include <gtest/gtest.h>

#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/VSystem.h"
#include "platform/PlatThreads.h"
#include "runtime/IIdleable.h"
#include "runtime/VFunctionMessage.h"
#include "runtime/VMessage.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {
namespace {

using test::WaitFor;

// A target that records the tags of the messages it receives.
class Target : public IMessageable {
public:
    Target() = default;
    explicit Target(VTask* task) { SetMessagingTask(task->GetID()); }

    void DoMessage(VMessage& message) override;

    std::vector<int> Tags()
    {
        std::lock_guard<std::mutex> guard(fLock);
        return fTags;
    }

    std::mutex fLock;
    std::vector<int> fTags;
    std::atomic<VTaskID> fLastTask{0};
};

class TagMessage : public VMessage {
public:
    explicit TagMessage(int tag, uint32_t signature = 0, int sleepMs = 0)
        : fTag(tag), fSignature(signature), fSleepMs(sleepMs)
    {
    }
    uint32_t GetCoalescingSignature() const override { return fSignature; }
    bool DoCoalesce(const VMessage&) override { return false; }

    int fTag;
    uint32_t fSignature;
    int fSleepMs;
};

void Target::DoMessage(VMessage& message)
{
    auto& tagged = static_cast<TagMessage&>(message);
    if (tagged.fSleepMs > 0)
        plat::ThreadSleep(tagged.fSleepMs);
    fLastTask = VTask::GetCurrentID();
    std::lock_guard<std::mutex> guard(fLock);
    fTags.push_back(tagged.fTag);
}

VRefPtr<TagMessage> Tag(int tag, uint32_t signature = 0, int sleepMs = 0)
{
    return AdoptRef(new TagMessage(tag, signature, sleepMs));
}

// A task that serves its messages until it is killed.
VRefPtr<VTask> StartServingTask()
{
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, []() {
        while (VTask::GetCurrent()->GetState() < TaskState_Dying)
            VTask::WaitAndExecuteMessages();
    }));
    EXPECT_TRUE(task->Run());
    EXPECT_TRUE(WaitFor([&] { return task->GetState() == TaskState_Running; }));
    return task;
}

// A task that never executes a message.
VRefPtr<VTask> StartDeafTask()
{
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, []() {
        while (VTask::GetCurrent()->GetState() < TaskState_Dying)
            VTask::Sleep(5);
    }));
    EXPECT_TRUE(task->Run());
    EXPECT_TRUE(WaitFor([&] { return task->GetState() == TaskState_Running; }));
    return task;
}

void Stop(VTask* task)
{
    task->Kill();
    task->SetMessageQueueEvent();
    task->WakeUp();
    EXPECT_TRUE(task->WaitForDeath(5000));
}

// Empties the main task's queue before and after a test.
void Drain()
{
    while (VTask::ExecuteMessages(false)) {
    }
}

TEST(Message, OnTheCurrentTaskSendRunsAtOnceAndPostWaitsForTheLoopUnlessAskedToRun)
{
    Drain();
    Target target;
    VRefPtr<TagMessage> sent = Tag(1);
    EXPECT_TRUE(sent->SendTo(&target, 0));
    EXPECT_TRUE(sent->Answered());

    VRefPtr<TagMessage> runNow = Tag(2);
    EXPECT_TRUE(runNow->PostTo(&target, true));
    EXPECT_EQ(target.Tags(), (std::vector<int>{1, 2}));

    VRefPtr<TagMessage> queued = Tag(3);
    EXPECT_TRUE(queued->PostTo(&target));
    EXPECT_TRUE(queued->PostTo(&target));  // already pending: nothing more
    EXPECT_EQ(VTaskMgr::Get()->CountMessagesFor(&target), 1);
    EXPECT_EQ(target.Tags().size(), 2u);
    EXPECT_TRUE(VTask::ExecuteMessages(false));
    EXPECT_EQ(target.Tags(), (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(queued->IsPending());
}

TEST(Message, PostingIsRefusedForANullStoppedOrDeadTarget)
{
    Drain();
    Target target;
    VRefPtr<TagMessage> message = Tag(1);
    EXPECT_FALSE(message->PostTo(nullptr));
    target.StopMessaging();
    EXPECT_FALSE(message->PostTo(&target));
    EXPECT_FALSE(message->SendTo(&target, 10));
    target.StartMessaging();
    EXPECT_TRUE(message->PostTo(&target));
    Drain();

    VRefPtr<VTask> task = StartServingTask();
    Target remote(task.Get());
    Stop(task.Get());
    EXPECT_FALSE(message->PostTo(&remote));
    EXPECT_FALSE(message->PostTo(&remote, false, 50));
}

TEST(Message, ATargetFollowsTheTaskItIsMovedToAndReachesNoneOnceItsTaskHasEnded)
{
    VRefPtr<VTask> first = StartServingTask();
    VRefPtr<VTask> second = StartServingTask();
    Target target(first.Get());
    // Posts after the first one reach the task without looking it up.
    for (int tag = 1; tag <= 3; ++tag)
        EXPECT_TRUE(Tag(tag)->PostTo(&target));
    ASSERT_TRUE(WaitFor([&] { return target.Tags().size() == 3; }));
    EXPECT_EQ(target.fLastTask.load(), first->GetID());

    target.SetMessagingTask(second->GetID());
    for (int tag = 4; tag <= 5; ++tag)
        EXPECT_TRUE(Tag(tag)->PostTo(&target));
    ASSERT_TRUE(WaitFor([&] { return target.Tags().size() == 5; }));
    EXPECT_EQ(target.fLastTask.load(), second->GetID());

    target.SetMessagingTask(first->GetID());
    EXPECT_TRUE(Tag(6)->PostTo(&target));
    ASSERT_TRUE(WaitFor([&] { return target.Tags().size() == 6; }));
    EXPECT_EQ(target.fLastTask.load(), first->GetID());
    Stop(first.Get());
    VRefPtr<TagMessage> late = Tag(7);
    EXPECT_FALSE(late->PostTo(&target));
    EXPECT_FALSE(late->IsPending());
    EXPECT_FALSE(Tag(8)->SendTo(&target));
    EXPECT_EQ(target.Tags(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    Stop(second.Get());
}

// Holds a task in its end, after its loop, until the test lets it go.
std::atomic<int> sTaskEndGate{0};  // 1: the task is held, 2: let it go

void HoldTaskEnd(void*)
{
    sTaskEndGate = 1;
    while (sTaskEndGate.load() != 2)
        plat::ThreadSleep(1);
}

TEST(Message, ATaskThatHasLeftItsLoopRefusesMessagesInsteadOfKeepingThemUnrun)
{
    sTaskEndGate = 0;
    const unsigned long key = VTaskMgr::Get()->CreateDataKey(HoldTaskEnd);
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, [key]() {
        VTask::SetCurrentData(key, &sTaskEndGate);
    }));
    Target target(task.Get());
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitFor([] { return sTaskEndGate.load() == 1; }));
    EXPECT_EQ(task->GetState(), TaskState_Dying);
    VRefPtr<TagMessage> posted = Tag(1);
    EXPECT_FALSE(posted->PostTo(&target));
    EXPECT_FALSE(posted->IsPending());
    VFunctionMessage::PostFunctionTo(task.Get(), [] {});
    EXPECT_EQ(task->CountMessagesFor(task.Get()), 0);
    // Without a time limit: a queued message would never be answered.
    EXPECT_FALSE(Tag(2)->SendTo(&target));
    sTaskEndGate = 2;
    EXPECT_TRUE(task->WaitForDeath(5000));
    VTaskMgr::Get()->DeleteDataKey(key);
    EXPECT_TRUE(target.Tags().empty());
}

TEST(Message, ACoalescedMessageIsNotQueuedAndItsPostFails)
{
    Drain();
    Target target;
    VRefPtr<TagMessage> first = Tag(1, 0x636f616cu);
    VRefPtr<TagMessage> second = Tag(2, 0x636f616cu);
    VRefPtr<TagMessage> other = Tag(3, 0x6f746872u);
    EXPECT_TRUE(first->PostTo(&target));
    EXPECT_FALSE(second->PostTo(&target));
    EXPECT_TRUE(other->PostTo(&target));
    Drain();
    EXPECT_EQ(target.Tags(), (std::vector<int>{1, 3}));
}

TEST(Message, SendToAnotherTaskRunsThereOrAbortsOnTimeOut)
{
    VRefPtr<VTask> task = StartServingTask();
    Target target(task.Get());
    VRefPtr<TagMessage> message = Tag(1);
    EXPECT_TRUE(message->SendTo(&target, 5000));
    EXPECT_EQ(target.fLastTask.load(), task->GetID());
    EXPECT_TRUE(message->SendTo(&target));

    // A sender timing out while the receiver takes the message: exactly one
    // of executed and aborted, and true only when it ran.
    for (int i = 0; i < 200; ++i) {
        VRefPtr<TagMessage> racing = Tag(i, 0, i % 3 == 0 ? 1 : 0);
        bool result = racing->SendTo(&target, i % 4);
        EXPECT_NE(racing->Answered(), racing->IsAborted()) << i;
        EXPECT_EQ(result, racing->Answered()) << i;
    }
    Stop(task.Get());

    VRefPtr<VTask> deaf = StartDeafTask();
    Target unserved(deaf.Get());
    VRefPtr<TagMessage> zero = Tag(9);
    EXPECT_FALSE(zero->SendTo(&unserved, 0));
    EXPECT_TRUE(zero->IsAborted());
    EXPECT_FALSE(zero->Answered());
    Stop(deaf.Get());
    EXPECT_TRUE(unserved.Tags().empty());
}

TEST(Message, CancellingATargetAbortsItsDelayedAndQueuedMessagesAndKeepsTheOthersInOrder)
{
    Drain();
    Target target, other;
    VRefPtr<TagMessage> delayed = Tag(1);
    ASSERT_TRUE(delayed->PostTo(&target, false, 60000));
    std::vector<VRefPtr<TagMessage>> messages;
    for (int i = 0; i < 6; ++i) {
        messages.push_back(Tag(10 + i));
        ASSERT_TRUE(messages.back()->PostTo(i % 2 == 0 ? &other : &target));
    }
    EXPECT_EQ(VTaskMgr::Get()->CountMessagesFor(&target), 4);
    EXPECT_EQ(VTaskMgr::Get()->CountMessagesFor(&other), 3);
    VTaskMgr::Get()->CancelMessages(&target);
    EXPECT_TRUE(delayed->IsAborted());
    EXPECT_TRUE(messages[1]->IsAborted());
    EXPECT_EQ(VTaskMgr::Get()->CountMessagesFor(&target), 0);
    Drain();
    EXPECT_EQ(other.Tags(), (std::vector<int>{10, 12, 14}));
    EXPECT_TRUE(target.Tags().empty());

    // A sender waiting for a cancelled message is answered false.
    VRefPtr<VTask> deaf = StartDeafTask();
    Target unserved(deaf.Get());
    std::atomic<int> result{-1};
    VRefPtr<TagMessage> waiting = Tag(2);
    VRefPtr<VTask> sender = AdoptRef(new VTask(0, eTaskStylePreemptive, [&]() { result = waiting->SendTo(&unserved) ? 1 : 0; }));
    ASSERT_TRUE(sender->Run());
    ASSERT_TRUE(WaitFor([&] { return deaf->CountMessagesFor(&unserved) == 1; }));
    VTaskMgr::Get()->CancelMessages(&unserved);
    ASSERT_TRUE(WaitFor([&] { return result.load() != -1; }));
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(sender->WaitForDeath(5000));
    Stop(deaf.Get());
}

TEST(Message, TwoTasksCancellingOnEachOthersQueuesDoNotDeadlock)
{
    VRefPtr<VTask> a = StartDeafTask();
    VRefPtr<VTask> b = StartDeafTask();
    Target onA(a.Get()), onB(b.Get());
    std::atomic<int> done{0};
    auto churn = [&](Target* mine, Target* theirs) {
        return [&done, mine, theirs]() {
            for (int i = 0; i < 300; ++i) {
                VRefPtr<TagMessage> m = Tag(i);
                m->PostTo(theirs);
                VRefPtr<TagMessage> n = Tag(i);
                n->PostTo(mine);
                VTaskMgr::Get()->CancelMessages(theirs);
            }
            ++done;
        };
    };
    VRefPtr<VTask> x = AdoptRef(new VTask(0, eTaskStylePreemptive, churn(&onA, &onB)));
    VRefPtr<VTask> y = AdoptRef(new VTask(0, eTaskStylePreemptive, churn(&onB, &onA)));
    ASSERT_TRUE(x->Run());
    ASSERT_TRUE(y->Run());
    EXPECT_TRUE(WaitFor([&] { return done.load() == 2; }));
    EXPECT_TRUE(x->WaitForDeath(5000));
    EXPECT_TRUE(y->WaitForDeath(5000));
    Stop(a.Get());
    Stop(b.Get());
}

TEST(Message, QueueWakeUpWithoutMessageIsNotATimeOut)
{
    VRefPtr<VMessageQueue> queue = AdoptRef(new VMessageQueue());
    queue->SetEvent();
    bool timedOut = true;
    EXPECT_EQ(queue->RetainMessageWithTimeout(5000, &timedOut), nullptr);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(queue->RetainMessageWithTimeout(1, &timedOut), nullptr);
    EXPECT_TRUE(timedOut);
}

TEST(Message, AQueueHandsOverWhatIsPendingBeforeWaitingAndAWakeUpBeforeMessages)
{
    // Each row: what is done to a fresh queue, then what one wait of 5 s
    // returns at once.
    struct Case {
        const char* name;
        bool message;
        bool wakeUp;
        bool answer;
        bool expectMessage;
        bool expectTimedOut;
    };
    const Case cases[] = {
        {"a queued message", true, false, false, true, false},
        {"a wake-up", false, true, false, false, false},
        {"a wake-up and a message: the wake-up first", true, true, false, false, false},
        {"an answer: an empty pass, like a time-out", false, false, true, false, true},
        {"an answer and a message: the message first", true, false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VRefPtr<VMessageQueue> queue = AdoptRef(new VMessageQueue());
        VRefPtr<TagMessage> message = Tag(1);
        if (c.message) {
            EXPECT_TRUE(queue->AddMessage(message.Get()));
        }
        if (c.wakeUp)
            queue->SetEvent();
        if (c.answer)
            queue->WakeForAnswer();
        const uint32_t start = VSystem::GetCurrentTime();
        bool timedOut = !c.expectTimedOut;
        VMessage* got = queue->RetainMessageWithTimeout(5000, &timedOut);
        EXPECT_LT(VSystem::GetCurrentTime() - start, 2500u);
        EXPECT_EQ(got != nullptr, c.expectMessage);
        EXPECT_EQ(timedOut, c.expectTimedOut);
        ReleaseRefCountable(got);
    }
}

TEST(Message, AnAnswerThatCameWhileTheCallerWasBusyDoesNotCutItsNextWaitShort)
{
    Drain();
    VRefPtr<VTask> server = StartServingTask();
    Target remote(server.Get());
    VRefPtr<TagMessage> awaited = Tag(1);

    // A message of the caller's own that runs while the awaited one is
    // answered, so that the answer's wake-up finds the caller busy.
    class BusyUntilAnswered : public IMessageable {
    public:
        explicit BusyUntilAnswered(VMessage* awaited) : fAwaited(awaited) {}
        void DoMessage(VMessage&) override
        {
            EXPECT_TRUE(WaitFor([&] { return fAwaited->Answered(); }));
        }
        VMessage* fAwaited;
    } busy(awaited.Get());
    VRefPtr<VMessage> own = AdoptRef(new VMessage());
    ASSERT_TRUE(own->PostTo(&busy));

    for (bool timed : {true, false}) {
        SCOPED_TRACE(timed ? "with a time limit" : "without a time limit");
        if (!timed) {
            ASSERT_TRUE(own->PostTo(&busy));
        }
        EXPECT_TRUE(timed ? awaited->PostToAndWaitExecutingMessages(&remote, 5000)
                          : awaited->PostToAndWaitExecutingMessages(&remote));
        // The caller's next wait runs its whole time.
        bool wholeTime = false;
        VTask::WaitAndExecuteMessages(150, &wholeTime);
        EXPECT_TRUE(wholeTime);
    }
    Stop(server.Get());
}

TEST(Message, MessagesFromTwoPostersArriveEachOnceAndInEachPostersOrder)
{
    Drain();
    VRefPtr<VTask> server = StartServingTask();
    constexpr int kPerPoster = 3000;

    class SequenceTarget : public IMessageable {
    public:
        explicit SequenceTarget(VTask* task) { SetMessagingTask(task->GetID()); }
        void DoMessage(VMessage& message) override
        {
            int value = static_cast<TagMessage&>(message).fTag;
            std::lock_guard<std::mutex> guard(fLock);
            fSeen.push_back(value);
        }
        std::mutex fLock;
        std::vector<int> fSeen;
    } target(server.Get());

    // The second poster is a thread of its own; a counter of queue scans runs
    // beside them, reading the targets of queued messages while they execute.
    // Each scan holds the queue's lock over thousands of messages, so the
    // scanner pauses between scans: back to back, they would starve the
    // serving task of the lock and measure that instead of delivery.
    std::atomic<bool> posting{true};
    std::thread scanner([&] {
        while (posting.load()) {
            (void)server->CountMessagesFor(&target);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::thread other([&] {
        for (int i = 0; i < kPerPoster; ++i)
            EXPECT_TRUE(Tag(kPerPoster + i)->PostTo(&target));
    });
    for (int i = 0; i < kPerPoster; ++i)
        EXPECT_TRUE(Tag(i)->PostTo(&target));
    other.join();
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> guard(target.fLock);
        return target.fSeen.size() >= 2 * kPerPoster;
    }));
    posting = false;
    scanner.join();

    std::lock_guard<std::mutex> guard(target.fLock);
    ASSERT_EQ(target.fSeen.size(), 2u * kPerPoster);
    int next[2] = {0, kPerPoster};
    for (int value : target.fSeen) {
        int& expected = next[value < kPerPoster ? 0 : 1];
        ASSERT_EQ(value, expected) << "out of order or twice";
        ++expected;
    }
    Stop(server.Get());
}

TEST(MessageLoop, AMessageSeesTheMessagesBehindItAsPendingCancelsThemAndRunsTheRestInOrderFromANestedLoop)
{
    Drain();
    VTask* main = VTask::GetCurrent();
    Target target;
    Target other;
    VRefPtr<TagMessage> cancelled = Tag(2);
    bool firstRan = false;
    bool lastRanAfterThree = false;
    VFunctionMessage::PostFunctionTo(main, [&] {
        firstRan = true;
        EXPECT_TRUE(main->IsAnyMessagePending());
        EXPECT_EQ(main->CountMessagesFor(&other), 2);
        EXPECT_EQ(main->CountMessagesFor(&target), 1);
        VTaskMgr::Get()->CancelMessages(&other);
        EXPECT_EQ(main->CountMessagesFor(&other), 0);
        while (VTask::ExecuteMessages(false)) {
        }
        EXPECT_FALSE(main->IsAnyMessagePending());
    });
    EXPECT_TRUE(cancelled->PostTo(&other));
    EXPECT_TRUE(Tag(3)->PostTo(&target));
    EXPECT_TRUE(Tag(4)->PostTo(&other));
    VFunctionMessage::PostFunctionTo(main, [&] { lastRanAfterThree = target.Tags() == std::vector<int>{3}; });
    Drain();
    EXPECT_TRUE(firstRan);
    EXPECT_TRUE(lastRanAfterThree);
    EXPECT_TRUE(cancelled->IsAborted());
    EXPECT_TRUE(other.Tags().empty());
    EXPECT_EQ(target.Tags(), (std::vector<int>{3}));
}

TEST(MessageLoop, MessagesATaskHasTakenButNotRunAreSeenCountedAndCancelledFromOtherThreads)
{
    // The serving task runs a gate message, then takes what queued up behind
    // it at once and holds there in the first of those, a blocker, while the
    // test thread looks at the rest: four messages for a target and a last
    // one for another.
    struct Case {
        const char* name;
        // Takes the target's messages out of the task's reach; `aborted`
        // tells whether their senders see them aborted.
        std::function<void(VTask*, Target*, std::vector<VRefPtr<TagMessage>>&)> take;
        bool aborted;
    };
    const Case cases[] = {
        {"the task's cancel", [](VTask* task, Target* target, auto&) { task->CancelMessages(target); }, true},
        {"the manager's cancel", [](VTask*, Target* target, auto&) { VTaskMgr::Get()->CancelMessages(target); }, true},
        {"removal one by one",
         [](VTask* task, Target*, std::vector<VRefPtr<TagMessage>>& messages) {
             VRefPtr<VMessageQueue> queue = AdoptRef(task->RetainMessageQueue());
             for (VRefPtr<TagMessage>& message : messages)
                 EXPECT_TRUE(queue->RemoveMessage(message.Get()));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VRefPtr<VTask> server = StartServingTask();
        std::atomic<bool> gateOpen{false}, blockerRunning{false}, blockerOpen{false};
        VFunctionMessage::PostFunctionTo(server.Get(), [&] { EXPECT_TRUE(WaitFor([&] { return gateOpen.load(); })); });
        VFunctionMessage::PostFunctionTo(server.Get(), [&] {
            blockerRunning = true;
            EXPECT_TRUE(WaitFor([&] { return blockerOpen.load(); }));
        });
        Target target(server.Get()), other(server.Get());
        std::vector<VRefPtr<TagMessage>> messages;
        for (int i = 0; i < 4; ++i) {
            messages.push_back(Tag(i));
            ASSERT_TRUE(messages.back()->PostTo(&target));
        }
        ASSERT_TRUE(Tag(9)->PostTo(&other));
        gateOpen = true;
        ASSERT_TRUE(WaitFor([&] { return blockerRunning.load(); }));

        EXPECT_TRUE(server->IsAnyMessagePending());
        EXPECT_EQ(server->CountMessagesFor(&target), 4);
        EXPECT_EQ(VTaskMgr::Get()->CountMessagesFor(&target), 4);
        c.take(server.Get(), &target, messages);
        EXPECT_EQ(server->CountMessagesFor(&target), 0);
        EXPECT_EQ(server->CountMessagesFor(&other), 1);
        for (VRefPtr<TagMessage>& message : messages)
            EXPECT_EQ(message->IsAborted(), c.aborted);

        blockerOpen = true;
        EXPECT_TRUE(WaitFor([&] { return other.Tags().size() == 1; }));
        EXPECT_FALSE(server->IsAnyMessagePending());
        EXPECT_TRUE(target.Tags().empty());
        Stop(server.Get());
    }
}

TEST(MessageLoop, DueTimesOfDelayedMessagesAre64BitTicks)
{
    struct Case {
        int64_t now;
        int delayMs;
        int64_t due;
    };
    const Case cases[] = {
        {0, 1000, 60},
        {0, 36000000, 2160000},
        {100, 10, 100},
        {0, INT_MAX, int64_t(INT_MAX) * 60 / 1000},
        {(int64_t(1) << 32) - 5, 1000, (int64_t(1) << 32) + 55},  // past 32 bits, no wrap
    };
    for (const Case& c : cases)
        EXPECT_EQ(VTaskMgr::DueTicks(c.now, c.delayMs), c.due) << c.delayMs;
}

class CountingIdler : public IIdleable {
public:
    void DoIdle() override { ++fCalls; }
    std::atomic<int> fCalls{0};
};

TEST(MessageLoop, WaitAndExecuteMessagesIdlesWhileItWaitsAndRunsDelayedMessagesWhenDue)
{
    Drain();
    bool whole = false;
    VTask::WaitAndExecuteMessages(0, &whole);
    EXPECT_TRUE(whole);

    CountingIdler idler;
    idler.StartIdling();
    idler.StartIdling(VTask::GetCurrent());  // registered once
    Target target;
    VRefPtr<TagMessage> delayed = Tag(7);
    ASSERT_TRUE(delayed->PostTo(&target, false, 50));
    VTask::ExecuteMessages(true);
    EXPECT_TRUE(target.Tags().empty());
    // Each wait that times out ends with an idle pass, which reposts what
    // has come due; the next wait executes it.
    for (int i = 0; i < 10; ++i) {
        whole = false;
        VTask::WaitAndExecuteMessages(30, &whole);
        EXPECT_TRUE(whole);
    }
    EXPECT_GE(idler.fCalls.load(), 5);
    EXPECT_EQ(target.Tags(), (std::vector<int>{7}));
    idler.StopIdling();

    // A woken wait ends at once, not timed out.
    VTask::GetCurrent()->SetMessageQueueEvent();
    whole = true;
    VTask::WaitAndExecuteMessages(5000, &whole);
    EXPECT_FALSE(whole);

    // A dying task does not wait.
    std::atomic<int> dying{-1};
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, [&]() {
        VTask::GetCurrent()->Kill();
        bool flag = true;
        VTask::WaitAndExecuteMessages(2500, &flag);
        dying = flag ? 1 : 0;
    }));
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->WaitForDeath(2000));
    EXPECT_EQ(dying.load(), 0);
}

TEST(MessageLoop, AnIdlerDestroyedOnAnotherThreadLeavesItsTasksList)
{
    Drain();
    VTask* main = VTask::GetCurrent();
    std::atomic<bool> destroyed{false};
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, [&]() {
        auto* idler = new CountingIdler();
        idler->StartIdling(main);
        delete idler;
        destroyed = true;
    }));
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitFor([&] { return destroyed.load(); }));
    main->CallIdlers();  // would reach freed memory
    EXPECT_TRUE(task->WaitForDeath(5000));
}

TEST(FunctionMessage, MainTaskFunctionsRunAtOnceOrFromTheLoop)
{
    Drain();
    int calls = 0;
    VFunctionMessage::PostToMainTaskAndWait([&] { ++calls; }, false);
    EXPECT_EQ(calls, 1);
    VFunctionMessage::PostToMainTask([&] { ++calls; }, false);
    EXPECT_EQ(calls, 1);
    Drain();
    EXPECT_EQ(calls, 2);

    // From another task: the main task serves it while the caller waits.
    std::atomic<bool> done{false};
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, [&]() {
        VFunctionMessage::PostToMainTaskAndWait([&] { ++calls; }, false);
        done = true;
    }));
    ASSERT_TRUE(task->Run());
    for (int i = 0; i < 500 && !done.load(); ++i)
        VTask::ExecuteMessagesWithTimeout(10, false);
    EXPECT_TRUE(done.load());
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(task->WaitForDeath(5000));
}

TEST(FunctionMessage, AFunctionForATaskThatDoesNotServeItNeverRuns)
{
    std::atomic<int> calls{0};
    VRefPtr<VTask> deaf = StartDeafTask();
    EXPECT_FALSE(VFunctionMessage::PostToAndWait(deaf.Get(), [&] { ++calls; }, 100));
    deaf->StopMessaging();
    VFunctionMessage::PostFunctionTo(deaf.Get(), [&] { ++calls; });
    EXPECT_EQ(deaf->CountMessagesFor(deaf.Get()), 0);
    VFunctionMessage::PostFunctionTo(nullptr, [&] { ++calls; });
    Stop(deaf.Get());
    EXPECT_EQ(calls.load(), 0);

    VRefPtr<VTask> serving = StartServingTask();
    EXPECT_TRUE(VFunctionMessage::PostToAndWait(serving.Get(), [&] { ++calls; }, 5000));
    EXPECT_EQ(calls.load(), 1);
    Stop(serving.Get());
}

TEST(FunctionMessage, IdleMessagesRepeatUntilStoppedAndNeverReachADestroyedIdler)
{
    Drain();
    auto* idler = new CountingIdler();
    idler->StartIdling();
    VRefPtr<XIdleMessage> first = AdoptRef(new XIdleMessage(idler));
    VTask* main = VTask::GetCurrent();
    ASSERT_TRUE(first->PostTo(main));
    bool whole = false;
    for (int i = 0; i < 20; ++i)
        VTask::WaitAndExecuteMessages(20, &whole);
    EXPECT_GE(idler->fCalls.load(), 3);

    // Destroyed while its next message is delayed: the message calls nothing.
    EXPECT_EQ(VTaskMgr::Get()->CountMessagesFor(main), 1);
    delete idler;
    for (int i = 0; i < 5; ++i)
        VTask::WaitAndExecuteMessages(20, &whole);
    EXPECT_EQ(VTaskMgr::Get()->CountMessagesFor(main), 0);
}

}  // namespace
}  // namespace qelt
