#include <gtest/gtest.h>

#include "TestSupport.h"

#include <atomic>
#include <functional>

#include "json/json.h"
#include "kernel/VString.h"
#include "platform/PlatThreads.h"
#include "runtime/VErrorContext.h"
#include "runtime/VFunctionMessage.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {
namespace {

constexpr VError VqRT(int inNumber) { return MakeVError(kSignatureVQRT, inNumber); }

// Waits (at most 10 s) until the predicate holds.
template <class Pred>
bool WaitFor(Pred inPred)
{
    return test::WaitFor(inPred, 10000);
}

// A preemptive task running a function; joined and released on destruction.
class StTask {
public:
    explicit StTask(std::function<void()>&& inRun) : fTask(new VTask(0, eTaskStylePreemptive, std::move(inRun)))
    {
        EXPECT_TRUE(fTask->Run());
    }
    ~StTask()
    {
        EXPECT_TRUE(fTask->WaitForDeath(20000));
        fTask->Release();
    }
    bool WaitForDeath() { return fTask->WaitForDeath(20000); }

private:
    VTask* fTask;
};

TEST(StorageLocker, IdsFollowEachOther)
{
    VStorageLocker* first = new VStorageLocker();
    VStorageLocker* second = new VStorageLocker();
    EXPECT_GE(first->GetID(), 1u);
    EXPECT_EQ(second->GetID(), first->GetID() + 1);
    EXPECT_TRUE(first->IsFresh());
    EXPECT_FALSE(first->AcceptsAll());
    first->Release();
    second->Release();
}

TEST(StorageLocker, SharedObjectsChangeOnlyForTheirUser)
{
    StErrorContextInstaller errors(false);
    VJSONObject* object = new VJSONObject(nullptr, nullptr, true);
    const int32_t id = object->GetSharedID();
    EXPECT_LT(id, 0);  // a fresh locker

    EXPECT_FALSE(object->SetProperty(VString("a"), VJSONValue(1.0)));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10719));
    EXPECT_FALSE(object->HasOwnProperty(VString("a")));
    {
        VJSONUser user(object, false);
        EXPECT_TRUE(object->SetProperty(VString("a"), VJSONValue(1.0)));
        errors.GetContext()->Flush();
        EXPECT_FALSE(object->SetProperty(VString("__LockerID"), VJSONValue(5.0)));
        EXPECT_EQ(errors.GetLastError(), VE_OK);
    }
    EXPECT_EQ(object->GetProperty(VString("a")).GetNumber(), 1.0);
    EXPECT_EQ(object->GetProperty(VString("__LockerID")).GetNumber(), static_cast<double>(id));
    EXPECT_TRUE(object->HasOwnProperty(VString("__LockerID")));
    std::vector<std::pair<VString, VJSONValue>> listed;
    object->GetOwnPropertiesInOrder(listed);
    EXPECT_EQ(listed.size(), 1u);

    // Removal and clearing follow the same rule.
    object->RemoveProperty(VString("a"));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10719));
    EXPECT_TRUE(object->HasOwnProperty(VString("a")));
    object->Release();
}

TEST(StorageLocker, SharedArraysChangeOnlyForTheirUser)
{
    StErrorContextInstaller errors(false);
    VJSONArray* array = new VJSONArray(true);
    EXPECT_LT(array->GetSharedID(), 0);
    EXPECT_FALSE(array->Push(VJSONValue(1.0)));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10720));
    EXPECT_EQ(array->GetCount(), 0u);
    EXPECT_FALSE(array->Resize(3));
    {
        VJSONUser user(array, false);
        EXPECT_TRUE(array->Push(VJSONValue(1.0)));
        // An unshared array is refused, and the appended null stays.
        VJSONValue plain(JSON_array);
        EXPECT_FALSE(array->Push(plain));
        EXPECT_EQ(errors.GetLastError(), VqRT(-10721));
        EXPECT_EQ(array->GetCount(), 2u);
        EXPECT_TRUE(array->GetAt(1).IsNull());
    }
    array->Release();
}

TEST(StorageLocker, StoringJoinsOrRefusesByTheOtherStorage)
{
    StErrorContextInstaller errors(false);
    VJSONObject* object = new VJSONObject(nullptr, nullptr, true);
    VJSONUser user(object, false);

    // A plain object is refused.
    VJSONValue plain(JSON_object);
    EXPECT_FALSE(object->SetProperty(VString("plain"), plain));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10721));

    // A fresh, free shared array moves under the object's storage.
    VJSONArray* fresh = new VJSONArray(true);
    EXPECT_TRUE(object->SetProperty(VString("list"), VJSONValue(fresh)));
    EXPECT_EQ(fresh->GetSharedID(), object->GetSharedID());
    EXPECT_GT(object->GetSharedID(), 0);  // no longer fresh
    fresh->Release();

    // Containers of another storage that is not fresh are refused.
    VJSONObject* otherOwner = new VJSONObject(nullptr, nullptr, true);
    VJSONArray* otherArray = new VJSONArray(true);
    VJSONObject* otherObject = new VJSONObject(nullptr, nullptr, true);
    {
        VJSONUser otherUser(otherOwner, false);
        ASSERT_TRUE(otherOwner->SetProperty(VString("a"), VJSONValue(otherArray)));
        ASSERT_TRUE(otherOwner->SetProperty(VString("o"), VJSONValue(otherObject)));
    }
    EXPECT_FALSE(object->SetProperty(VString("x"), VJSONValue(otherArray)));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10725));
    EXPECT_FALSE(object->SetProperty(VString("y"), VJSONValue(otherObject)));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10724));
    EXPECT_FALSE(object->HasOwnProperty(VString("x")));
    otherArray->Release();
    otherObject->Release();
    otherOwner->Release();
    object->Release();
}

TEST(StorageLocker, AFreshStorageInUseElsewhereIsRefused)
{
    StErrorContextInstaller errors(false);
    VJSONObject* object = new VJSONObject(nullptr, nullptr, true);
    VJSONArray* busy = new VJSONArray(true);
    std::atomic<bool> using_{false};
    std::atomic<bool> release{false};
    {
        StTask task([&]() {
            VJSONUser user(busy, false);
            using_ = true;
            while (!release.load())
                plat::ThreadSleep(1);
        });
        ASSERT_TRUE(WaitFor([&] { return using_.load(); }));
        {
            VJSONUser user(object, false);
            EXPECT_FALSE(object->SetProperty(VString("busy"), VJSONValue(busy)));
            EXPECT_EQ(errors.GetLastError(), VqRT(-10753));
            // The other task's storage cannot be changed from here either.
            EXPECT_FALSE(busy->Push(VJSONValue(1.0)));
            EXPECT_EQ(errors.GetLastError(), VqRT(-10720));
        }
        release = true;
    }
    busy->Release();
    object->Release();
}

TEST(StorageLocker, UsesNestAndASecondTaskWaitsForTheLastEnd)
{
    VRefPtr<VStorageLocker> locker = AdoptRef(new VStorageLocker());
    ASSERT_TRUE(locker->Use());
    ASSERT_TRUE(locker->Use());
    EXPECT_EQ(locker->GetUseCount(), 2);
    EXPECT_TRUE(locker->IsUsedByCurrentTask());

    std::atomic<int> tried{-1};
    std::atomic<bool> acquired{false};
    {
        StTask task([&]() {
            tried = locker->TryToUse() ? 1 : 0;
            if (locker->Use()) {
                acquired = true;
                locker->EndUse();
            }
        });
        ASSERT_TRUE(WaitFor([&] { return tried.load() >= 0; }));
        EXPECT_EQ(tried.load(), 0);
        locker->EndUse();
        EXPECT_FALSE(acquired.load());
        EXPECT_TRUE(locker->IsUsedByCurrentTask());
        locker->EndUse();
        EXPECT_TRUE(WaitFor([&] { return acquired.load(); }));
    }
    EXPECT_EQ(locker->GetUseCount(), 0);
    EXPECT_EQ(locker->GetOwnerTaskID(), 0u);
    // An end from a task that does not own the storage changes nothing.
    locker->EndUse();
    EXPECT_EQ(locker->GetUseCount(), 0);
}

TEST(StorageLocker, ADyingTaskGivesUpWaiting)
{
    VRefPtr<VStorageLocker> locker = AdoptRef(new VStorageLocker());
    ASSERT_TRUE(locker->Use());
    std::atomic<int> result{-1};
    VTask* task = new VTask(0, eTaskStylePreemptive, [&]() { result = locker->Use() ? 1 : 0; });
    ASSERT_TRUE(task->Run());
    task->Kill();
    EXPECT_TRUE(task->WaitForDeath(20000));
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(locker->GetUseCount(), 1);
    locker->EndUse();
    task->Release();
}

TEST(StorageLocker, ATaskWaitingForAStorageServesItsMessages)
{
    // While the main task uses the storage, a second task waits for it and
    // still runs what is posted to it; the main task's last end of use
    // hands the storage over.
    VRefPtr<VStorageLocker> locker = AdoptRef(new VStorageLocker());
    ASSERT_TRUE(locker->Use());
    std::atomic<bool> waiting{false}, acquired{false};
    VRefPtr<VTask> task = AdoptRef(new VTask(0, eTaskStylePreemptive, [&]() {
        waiting = true;
        if (locker->Use()) {
            acquired = true;
            locker->EndUse();
        }
    }));
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitFor([&] { return waiting.load(); }));
    for (int i = 0; i < 3; ++i) {
        std::atomic<VTaskID> ranOn{0};
        EXPECT_TRUE(VFunctionMessage::PostToAndWait(task.Get(), [&] { ranOn = VTask::GetCurrentID(); }, 20000));
        EXPECT_EQ(ranOn.load(), task->GetID());
    }
    EXPECT_FALSE(acquired.load());
    locker->EndUse();
    EXPECT_TRUE(task->WaitForDeath(20000));
    EXPECT_TRUE(acquired.load());
    EXPECT_EQ(locker->GetUseCount(), 0);
}

TEST(StorageLocker, TwoTasksWaitingForEachOthersStorageStillServeEachOther)
{
    // Each task uses one storage and then waits for the other's. The second
    // asks the first to end its use; the first runs that request while it
    // waits, so both get through instead of waiting for ever.
    VRefPtr<VStorageLocker> a = AdoptRef(new VStorageLocker());
    VRefPtr<VStorageLocker> b = AdoptRef(new VStorageLocker());
    std::atomic<int> ready{0}, served{0}, crossed{0};
    // Takes the use and waits until both tasks hold theirs.
    auto useAndMeet = [&ready](VStorageLocker* inLocker) {
        if (!inLocker->Use())
            return false;
        ++ready;
        while (ready.load() < 2)
            plat::ThreadSleep(1);
        return true;
    };
    VTask* firstTask = nullptr;
    VRefPtr<VTask> first = AdoptRef(new VTask(0, eTaskStylePreemptive, [&] {
        if (!useAndMeet(a.Get()))
            return;
        if (b->Use()) {  // b is ended only once the request below has run
            ++crossed;
            b->EndUse();
        }
    }));
    VRefPtr<VTask> second = AdoptRef(new VTask(0, eTaskStylePreemptive, [&] {
        if (!useAndMeet(b.Get()))
            return;
        VFunctionMessage::PostFunctionTo(firstTask, [&] {
            a->EndUse();  // run by the first task, a's user
            ++served;
        });
        if (a->Use()) {
            ++crossed;
            a->EndUse();
        }
        b->EndUse();
    }));
    firstTask = first.Get();
    ASSERT_TRUE(first->Run());
    ASSERT_TRUE(second->Run());
    EXPECT_TRUE(first->WaitForDeath(30000));
    EXPECT_TRUE(second->WaitForDeath(30000));
    EXPECT_EQ(served.load(), 1);
    EXPECT_EQ(crossed.load(), 2);
    EXPECT_EQ(a->GetUseCount(), 0);
    EXPECT_EQ(b->GetUseCount(), 0);
}

TEST(StorageLocker, HandOversBetweenTasksNeverHang)
{
    // Two tasks take the storage in turn many times: every end of a use
    // must wake the waiting task, whenever it began to wait.
    VStorageLocker* locker = new VStorageLocker();
    std::atomic<int> done{0};
    auto body = [&]() {
        for (int i = 0; i < 300; ++i) {
            if (!locker->Use())
                return;
            locker->EndUse();
        }
        ++done;
    };
    {
        StTask first(body);
        StTask second(body);
        EXPECT_TRUE(first.WaitForDeath());
        EXPECT_TRUE(second.WaitForDeath());
    }
    EXPECT_EQ(done.load(), 2);
    locker->Release();
}

TEST(StorageLocker, TasksTakingTurnsChangeOneStorageSafely)
{
    // Two tasks fill one shared tree in turns while the main task reads it.
    VJSONObject* root = new VJSONObject(nullptr, nullptr, true);
    VJSONArray* list = new VJSONArray(true);
    {
        VJSONUser user(root, false);
        ASSERT_TRUE(root->SetProperty(VString("list"), VJSONValue(list)));
    }
    std::atomic<int> failures{0};
    auto body = [&]() {
        for (int i = 0; i < 100; ++i) {
            VJSONUser user(root, false);
            VJSONValue child(new VJSONObject(nullptr, nullptr, true));
            child.GetObject()->Release();
            if (!list->Push(VJSONValue(static_cast<double>(i))) || !list->Push(child))
                ++failures;
            if (!root->SetProperty(VString("last"), VJSONValue(static_cast<double>(i))))
                ++failures;
        }
    };
    {
        StTask first(body);
        StTask second(body);
        for (int i = 0; i < 200; ++i) {
            VJSONValue last = root->GetProperty(VString("last"));
            EXPECT_TRUE(last.IsUndefined() || last.IsNumber());
            list->GetAt(0);
        }
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(list->GetCount(), 400u);
    EXPECT_EQ(list->GetAt(1).GetObject()->GetSharedID(), root->GetSharedID());
    list->Release();
    root->Release();
}

TEST(StorageLocker, UsersOfUnsharedThingsTakeNothing)
{
    VJSONObject* object = new VJSONObject();
    {
        VJSONUser user(object, false);
        VJSONUser number(VJSONValue(3.0), true);
        VJSONUser none(VRefPtr<VStorageLocker>(), false);
        EXPECT_TRUE(object->SetProperty(VString("a"), VJSONValue(1.0)));
    }
    object->Release();

    // A value's user takes its container's storage.
    VJSONValue shared(new VJSONArray(true));
    shared.GetArray()->Release();
    VRefPtr<VStorageLocker> locker = shared.GetArray()->GetStorageLocker();
    {
        VJSONUser user(shared, true);
        EXPECT_TRUE(locker->IsUsedByCurrentTask());
    }
    EXPECT_FALSE(locker->IsUsedByCurrentTask());
}

// An implementation usable by every task without a locker of its own.
class SharableImplementation : public VObject, public IJSONObject {
public:
    bool IJSON_IsSharable(const VJSONObject*, bool& outNeedsLocker) const override
    {
        outNeedsLocker = false;
        return true;
    }
};

TEST(StorageLocker, SharableObjectsAreStoredWithoutJoining)
{
    SharableImplementation* implementation = new SharableImplementation();
    VJSONObject* sharable = new VJSONObject(nullptr, implementation, static_cast<VStorageLocker*>(nullptr));
    implementation->Release();
    EXPECT_TRUE(sharable->IsShared());

    VJSONObject* object = new VJSONObject(nullptr, nullptr, true);
    {
        VJSONUser user(object, false);
        EXPECT_TRUE(object->SetProperty(VString("s"), VJSONValue(sharable)));
    }
    EXPECT_EQ(sharable->GetSharedID(), 0);
    EXPECT_LT(object->GetSharedID(), 0);  // nothing joined: still fresh

    // A plain container connected to a sharable one keeps taking the graph
    // lock after the link is gone.
    VJSONObject* plain = new VJSONObject();
    EXPECT_FALSE(plain->IsSharedGraph());
    plain->SetProperty(VString("s"), VJSONValue(sharable));
    EXPECT_TRUE(plain->IsSharedGraph());
    plain->RemoveProperty(VString("s"));
    EXPECT_TRUE(plain->IsSharedGraph());
    plain->Release();
    sharable->Release();
    object->Release();
}

TEST(StorageLocker, AcceptsAllStoragesTakeContainersOnly)
{
    StErrorContextInstaller errors(false);
    VStorageLocker* locker = new VStorageLocker(true, false);
    VRefPtr<VJSONObject> object = AdoptRef(new VJSONObject(nullptr, nullptr, locker));
    ASSERT_TRUE(locker->Use());
    EXPECT_FALSE(object->SetProperty(VString("n"), VJSONValue(1.0)));
    EXPECT_EQ(errors.GetLastError(), VqRT(-10727));
    EXPECT_TRUE(object->SetProperty(VString("z"), VJSONValue(JSON_null)));
    VJSONArray* other = new VJSONArray(true);
    EXPECT_TRUE(object->SetProperty(VString("a"), VJSONValue(other)));
    EXPECT_NE(other->GetSharedID(), object->GetSharedID());  // nothing moves
    locker->EndUse();
    other->Release();
    locker->Release();
}

}  // namespace
}  // namespace qelt
