// What a task holds for others while it runs: the activity token that keeps
// the process busy, and the JSON objects registered with it.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "json/IJSONObject.h"
#include "json/VJSONObject.h"
#include "kernel/VString.h"
#include "platform/PlatThreads.h"
#include "process/VProcess.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {
namespace {

using test::WaitFor;

std::string Text(const VString& inText)
{
    std::string out;
    for (int i = 0; i < inText.GetLength(); ++i)
        out.push_back(static_cast<char>(inText.GetCPointer()[i]));
    return out;
}

std::vector<std::string> TokenNames()
{
    std::vector<std::string> names;
    for (const VString& name : VProcess::sInstance->GetActivityTokenNames())
        names.push_back(Text(name));
    return names;
}

bool Busy() { return VProcess::sInstance->HasSomeActivityTokens(0); }

// A task that runs until released.
class StHeldTask {
public:
    explicit StHeldTask(std::function<void()>&& inFirst = nullptr)
        : fTask(AdoptRef(new VTask(0, eTaskStylePreemptive, [this, first = std::move(inFirst)]() {
              if (first)
                  first();
              fStarted = true;
              while (!fRelease.load())
                  plat::ThreadSleep(1);
          })))
    {
    }
    ~StHeldTask()
    {
        fRelease = true;
        EXPECT_TRUE(fTask->WaitForDeath(10000));
    }
    bool RunAndWait()
    {
        return fTask->Run() && WaitFor([this] { return fStarted.load(); });
    }
    void Release() { fRelease = true; }
    VTask* Get() const { return fTask.Get(); }

private:
    VRefPtr<VTask> fTask;
    std::atomic<bool> fStarted{false};
    std::atomic<bool> fRelease{false};
};

TEST(TaskToken, ARunningTaskHoldsATokenNamedAfterItUntilItIsDead)
{
    struct Case {
        const char* taskName;  // null: never named
        const char* tokenName;
    } cases[] = {
        {"Indexer", "Running task Indexer"},
        {nullptr, "Running task "},
        {"", "Running task "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tokenName);
        ASSERT_FALSE(Busy());
        StHeldTask task;
        if (c.taskName != nullptr)
            task.Get()->SetName(VString(c.taskName));
        // A task not yet run marks nothing.
        EXPECT_FALSE(Busy());
        ASSERT_TRUE(task.RunAndWait());
        EXPECT_EQ(TokenNames(), std::vector<std::string>{c.tokenName});
        EXPECT_TRUE(Busy());
        task.Release();
        ASSERT_TRUE(task.Get()->WaitForDeath(10000));
        EXPECT_TRUE(TokenNames().empty());
        EXPECT_FALSE(Busy());
    }
}

TEST(TaskToken, TheProcessIsBusyWhileAnyTaskHoldsAToken)
{
    ASSERT_FALSE(Busy());
    {
        StHeldTask first;
        StHeldTask second;
        first.Get()->SetName(VString("first"));
        second.Get()->SetName(VString("second"));
        ASSERT_TRUE(first.RunAndWait());
        ASSERT_TRUE(second.RunAndWait());
        std::vector<std::string> names = TokenNames();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Running task first", "Running task second"}));
        first.Release();
        ASSERT_TRUE(first.Get()->WaitForDeath(10000));
        EXPECT_TRUE(Busy());
        EXPECT_EQ(TokenNames(), std::vector<std::string>{"Running task second"});
    }
    EXPECT_FALSE(Busy());
    // A task that never runs takes no token and leaves none behind.
    VRefPtr<VTask> never = AdoptRef(new VTask(0, eTaskStylePreemptive, []() {}));
    never->Kill();
    never = nullptr;
    EXPECT_FALSE(Busy());
}

TEST(TaskToken, ATaskThatGivesItsTokenBackNoLongerKeepsTheProcessBusy)
{
    ASSERT_FALSE(Busy());
    {
        StHeldTask background([] {
            VTask::ReleaseCurrentActivityToken();
            VTask::ReleaseCurrentActivityToken();  // nothing left to give back
        });
        ASSERT_TRUE(background.RunAndWait());
        EXPECT_FALSE(Busy());
        EXPECT_TRUE(TokenNames().empty());
    }
    // The main task holds none; a thread without a task has none to give.
    VTask::ReleaseCurrentActivityToken();
    std::thread([] { VTask::ReleaseCurrentActivityToken(); }).join();
    EXPECT_FALSE(Busy());
}

TEST(TaskToken, TasksRunWithoutAProcessObject)
{
    // A program that started only the task manager: tasks run and end, and
    // take no token.
    VProcess* process = VProcess::sInstance;
    VProcess::sInstance = nullptr;
    std::atomic<bool> ran{false};
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, [&] { ran = true; }));
    bool started = task->Run();
    bool died = task->WaitForDeath(10000);
    task = nullptr;
    VProcess::sInstance = process;
    EXPECT_TRUE(started);
    EXPECT_TRUE(died);
    EXPECT_TRUE(ran.load());
    EXPECT_FALSE(Busy());

    // A token made without a process object marks nothing, and goes quietly.
    VProcess::sInstance = nullptr;
    VRefPtr<VActivityToken> orphan = AdoptRef(new VActivityToken(VString("orphan")));
    VProcess::sInstance = process;
    EXPECT_FALSE(Busy());
    orphan = nullptr;
}

TEST(TaskToken, ATokenOutlivingItsProcessObjectGoesQuietly)
{
    // A process object that is not the running one: its tokens register with
    // it, and one still held when it goes must not reach it afterwards.
    VProcess* running = VProcess::sInstance;
    VProcess* other = new VProcess;
    VProcess::sInstance = other;
    VRefPtr<VActivityToken> token = AdoptRef(new VActivityToken(VString("late")));
    VProcess::sInstance = running;
    EXPECT_TRUE(other->HasSomeActivityTokens(0));
    EXPECT_FALSE(Busy());
    delete other;
    token = nullptr;
    EXPECT_FALSE(Busy());
}

// An implementation whose end tells when its object is destroyed.
class DestructionFlag : public IJSONObject {
public:
    explicit DestructionFlag(std::atomic<bool>* inGone) : fGone(inGone) {}
    ~DestructionFlag() override { *fGone = true; }

private:
    std::atomic<bool>* fGone;
};

// A new object (one reference for the caller) that sets the flag when it is
// destroyed.
VJSONObject* NewWatchedObject(std::atomic<bool>* inGone)
{
    IJSONObject* implementation = new DestructionFlag(inGone);
    VJSONObject* object = new VJSONObject(nullptr, implementation, nullptr);
    implementation->Release();
    return object;
}

TEST(TaskJSONObjects, RegisteredObjectsLiveUntilTheTaskExits)
{
    std::atomic<bool> keptGone{false}, droppedGone{false}, neverGone{false};
    VJSONObject* kept = NewWatchedObject(&keptGone);
    VJSONObject* dropped = NewWatchedObject(&droppedGone);
    VJSONObject* never = NewWatchedObject(&neverGone);
    {
        StHeldTask task([&] {
            VTask::RegisterJSONObject(kept);
            VTask::RegisterJSONObject(kept);  // held once
            VTask::RegisterJSONObject(nullptr);
            VTask::RegisterJSONObject(dropped);
            VTask::UnregisterJSONObject(dropped);
            VTask::UnregisterJSONObject(dropped);  // no longer held: nothing
            VTask::UnregisterJSONObject(never);    // never held: nothing
            VTask::UnregisterJSONObject(nullptr);
        });
        ASSERT_TRUE(task.RunAndWait());
        kept->Release();
        dropped->Release();
        EXPECT_FALSE(keptGone.load());
        EXPECT_TRUE(droppedGone.load());
        // One registration, one reference: the task's exit ends the object.
        task.Release();
        ASSERT_TRUE(task.Get()->WaitForDeath(10000));
        EXPECT_TRUE(keptGone.load());
    }
    // A thread without a task keeps nothing.
    std::thread([&] { VTask::RegisterJSONObject(never); }).join();
    never->Release();
    EXPECT_TRUE(neverGone.load());
}

TEST(TaskJSONObjects, UnregisteringReleasesTheTasksReference)
{
    // On the main task, which does not exit during the tests.
    std::atomic<bool> gone{false};
    VJSONObject* object = NewWatchedObject(&gone);
    VTask::RegisterJSONObject(object);
    object->Release();
    EXPECT_FALSE(gone.load());
    VTask::UnregisterJSONObject(object);
    EXPECT_TRUE(gone.load());
}

}  // namespace
}  // namespace qelt
