// Messages between two tasks: messages posted to a target of a serving task
// and executed by its message loop, functions posted to that task, and a
// SendTo round trip, each against a plain queue of std::function guarded by
// a mutex and a condition variable and served by a thread, in the same run.
// A post iteration hands over a batch of messages and waits until the other
// side has executed them all; the "per_msg" counter is the time per message.
// The same batch posted and then executed on one task (against the plain
// queue on one thread) gives the bookkeeping cost alone, without the waits
// and wake-ups of two threads.
// The pairs run in rounds (bench/support/Rounds.h).
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "bench/support/Rounds.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "runtime/VFunctionMessage.h"
#include "runtime/VMessage.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

using namespace qelt;

namespace {

constexpr int kBatch = 1000;

// The peer: a first-in first-out queue of functions, one mutex, one
// condition variable, one serving thread.
class PlainQueue {
public:
    PlainQueue()
        : fThread([this] {
              std::unique_lock<std::mutex> lock(fMutex);
              while (true) {
                  fReady.wait(lock, [this] { return fStop || !fFunctions.empty(); });
                  if (fFunctions.empty())
                      return;
                  std::function<void()> function = std::move(fFunctions.front());
                  fFunctions.pop_front();
                  lock.unlock();
                  function();
                  lock.lock();
              }
          })
    {
    }

    ~PlainQueue()
    {
        {
            std::lock_guard<std::mutex> guard(fMutex);
            fStop = true;
        }
        fReady.notify_one();
        fThread.join();
    }

    void Post(std::function<void()>&& function)
    {
        {
            std::lock_guard<std::mutex> guard(fMutex);
            fFunctions.push_back(std::move(function));
        }
        fReady.notify_one();
    }

    // Runs the function on the serving thread and waits for it.
    void Send(std::function<void()>&& function)
    {
        std::mutex mutex;
        std::condition_variable doneCondition;
        bool done = false;
        Post([&] {
            function();
            std::lock_guard<std::mutex> guard(mutex);
            done = true;
            doneCondition.notify_one();
        });
        std::unique_lock<std::mutex> lock(mutex);
        doneCondition.wait(lock, [&] { return done; });
    }

private:
    std::mutex fMutex;
    std::condition_variable fReady;
    std::deque<std::function<void()>> fFunctions;
    bool fStop = false;
    std::thread fThread;  // last: starts once the rest is built
};

// The task manager, with the benchmark's thread as its main task.
void EnsureTaskManager()
{
    static bool sReady = [] {
        if (VObject::sCppMemMgr == nullptr)
            VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
        return VTaskMgr::Init(nullptr);
    }();
    (void)sReady;
}

// A task that serves its messages until it is killed.
VTask* ServingTask()
{
    static VTask* task = [] {
        EnsureTaskManager();
        VTask* serving = new VTask(0, eTaskStylePreemptive, [] {
            while (VTask::GetCurrent()->GetState() < TaskState_Dying)
                VTask::WaitAndExecuteMessages();
        });
        serving->Run();
        while (serving->GetState() != TaskState_Running)
            std::this_thread::yield();
        // No toolbox thread outlives the run.
        std::atexit([] {
            VTask* ending = ServingTask();
            ending->Kill();
            ending->SetMessageQueueEvent();
            ending->WakeUp();
            ending->WaitForDeath(5000);
            ending->Release();
            VTaskMgr::DeInit();
        });
        return serving;
    }();
    return task;
}

// A target of the serving task that counts the messages it executes. The
// count has a cache line of its own, as the peer's counter (a variable of its
// own) has: the serving task writes it while the poster reads the target.
class CountingTarget : public IMessageable {
public:
    explicit CountingTarget(VTask* task) { SetMessagingTask(task->GetID()); }
    void DoMessage(VMessage&) override { fCount.fetch_add(1, std::memory_order_release); }
    alignas(64) std::atomic<int64_t> fCount{0};
};

// A target of the current task whose count is a plain variable, as the
// one-thread peer's is: poster and executor are one thread.
class LocalCountingTarget : public IMessageable {
public:
    LocalCountingTarget() { SetMessagingTask(VTask::GetCurrentID()); }
    void DoMessage(VMessage&) override { ++fCount; }
    int64_t fCount = 0;
};

void WaitForCount(const std::atomic<int64_t>& count, int64_t expected)
{
    while (count.load(std::memory_order_acquire) < expected)
        std::this_thread::yield();
}

void PerMessage(benchmark::State& state, int perIteration)
{
    state.SetItemsProcessed(state.iterations() * perIteration);
    state.counters["per_msg"] =
        benchmark::Counter(static_cast<double>(state.iterations() * perIteration),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PlainQueue_Post(benchmark::State& state)
{
    PlainQueue queue;
    std::atomic<int64_t> count{0};
    int64_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            queue.Post([&count] { count.fetch_add(1, std::memory_order_release); });
        expected += kBatch;
        WaitForCount(count, expected);
    }
    PerMessage(state, kBatch);
}

void BM_VMessage_PostTo(benchmark::State& state)
{
    CountingTarget target(ServingTask());
    int64_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            VRefPtr<VMessage> message = AdoptRef(new VMessage());
            if (!message->PostTo(&target))
                state.SkipWithError("post refused");
        }
        expected += kBatch;
        WaitForCount(target.fCount, expected);
    }
    PerMessage(state, kBatch);
}

void BM_VFunctionMessage_PostFunctionTo(benchmark::State& state)
{
    VTask* task = ServingTask();
    std::atomic<int64_t> count{0};
    int64_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            VFunctionMessage::PostFunctionTo(task, [&count] { count.fetch_add(1, std::memory_order_release); });
        expected += kBatch;
        WaitForCount(count, expected);
    }
    PerMessage(state, kBatch);
}

void BM_PlainQueue_PostThenRun_OneThread(benchmark::State& state)
{
    std::mutex mutex;
    std::deque<std::function<void()>> functions;
    int64_t count = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            std::lock_guard<std::mutex> guard(mutex);
            functions.push_back([&count] { ++count; });
        }
        while (true) {
            std::function<void()> function;
            {
                std::lock_guard<std::mutex> guard(mutex);
                if (functions.empty())
                    break;
                function = std::move(functions.front());
                functions.pop_front();
            }
            function();
        }
    }
    if (count != static_cast<int64_t>(state.iterations()) * kBatch)
        state.SkipWithError("lost a call");
    PerMessage(state, kBatch);
}

void BM_VMessage_PostThenExecute_OneTask(benchmark::State& state)
{
    EnsureTaskManager();
    LocalCountingTarget target;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            VRefPtr<VMessage> message = AdoptRef(new VMessage());
            if (!message->PostTo(&target))
                state.SkipWithError("post refused");
        }
        while (VTask::ExecuteMessages(false)) {
        }
    }
    if (target.fCount != static_cast<int64_t>(state.iterations()) * kBatch)
        state.SkipWithError("lost a message");
    PerMessage(state, kBatch);
}

void BM_PlainQueue_SendRoundTrip(benchmark::State& state)
{
    PlainQueue queue;
    int64_t count = 0;
    for (auto _ : state)
        queue.Send([&count] { ++count; });
    if (count != static_cast<int64_t>(state.iterations()))
        state.SkipWithError("lost a call");
    PerMessage(state, 1);
}

void BM_VMessage_SendToRoundTrip(benchmark::State& state)
{
    CountingTarget target(ServingTask());
    for (auto _ : state) {
        VRefPtr<VMessage> message = AdoptRef(new VMessage());
        if (!message->SendTo(&target))
            state.SkipWithError("send failed");
    }
    PerMessage(state, 1);
}

// The plain queue first in each round.
const bool sRegistered = [] {
    for (int round = 1; round <= bench::Rounds(); ++round) {
        bench::RegisterRound("BM_PlainQueue_Post", round, BM_PlainQueue_Post)->UseRealTime();
        bench::RegisterRound("BM_VMessage_PostTo", round, BM_VMessage_PostTo)->UseRealTime();
        bench::RegisterRound("BM_VFunctionMessage_PostFunctionTo", round, BM_VFunctionMessage_PostFunctionTo)
            ->UseRealTime();
        bench::RegisterRound("BM_PlainQueue_PostThenRun_OneThread", round, BM_PlainQueue_PostThenRun_OneThread)
            ->UseRealTime();
        bench::RegisterRound("BM_VMessage_PostThenExecute_OneTask", round, BM_VMessage_PostThenExecute_OneTask)
            ->UseRealTime();
        bench::RegisterRound("BM_PlainQueue_SendRoundTrip", round, BM_PlainQueue_SendRoundTrip)->UseRealTime();
        bench::RegisterRound("BM_VMessage_SendToRoundTrip", round, BM_VMessage_SendToRoundTrip)->UseRealTime();
    }
    return true;
}();

}  // namespace
