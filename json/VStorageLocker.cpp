#include "json/VStorageLocker.h"

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

std::atomic<int32_t> VStorageLocker::sNextID{1};

namespace {

// The length of one wait slice of a thread without a task.
constexpr int kWaitSliceMs = 1000;

uint32_t CurrentTaskID() { return static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID()); }

void ThrowSharingError(int inNumber) { _ThrowError(MakeVError(kSignatureVQRT, inNumber)); }

}  // namespace

VStorageLocker::VStorageLocker(bool inAcceptsAll, bool inFresh)
    : fID(static_cast<uint32_t>(sNextID.fetch_add(1))),
      fAcceptsAll(inAcceptsAll ? 1 : 0),
      fFresh(inFresh ? 1 : 0)
{
}

VStorageLocker::~VStorageLocker() = default;

bool VStorageLocker::_TakeUseLocked(uint32_t inTaskID)
{
    if (fOwnerTaskID == 0 || fOwnerTaskID == inTaskID) {
        ++fUseCount;
        fOwnerTaskID = inTaskID;
        return true;
    }
    return false;
}

bool VStorageLocker::Use()
{
    const uint32_t me = CurrentTaskID();
    VTask* task = VTask::GetCurrent();
    if (task == nullptr)
        return _UseWithoutTask(me);
    while (true) {
        {
            StLocker lock(fCriticalSection);
            if (_TakeUseLocked(me))
                return true;
            fWaitingTasks.insert(task);
        }
        // The task serves its own messages while it waits, so that two tasks
        // waiting for each other's storage still answer each other. The last
        // EndUse wakes it through its message queue; a wake-up that comes
        // between the test above and this wait stays set on the queue and
        // ends the wait at once.
        VTask::WaitAndExecuteMessages();
        {
            StLocker lock(fCriticalSection);
            fWaitingTasks.erase(task);
        }
        if (task->GetState() >= TaskState_Dying)
            return false;
    }
}

bool VStorageLocker::_UseWithoutTask(uint32_t inThreadID)
{
    // A thread without a task has no message queue: it waits on the
    // condition in slices instead.
    StLocker lock(fCriticalSection);
    while (!_TakeUseLocked(inThreadID)) {
        // The generation is read and the wait begun with the critical section
        // held, and the last EndUse raises it under the same section, so a
        // release between the test above and the wait is never missed.
        const uint32_t generation = fReleaseGeneration;
        while (generation == fReleaseGeneration)
            fReleased.WaitWithTimeout(&fCriticalSection, kWaitSliceMs);
    }
    return true;
}

bool VStorageLocker::TryToUse()
{
    if (!fCriticalSection.TryToLock())
        return false;
    bool taken = _TakeUseLocked(CurrentTaskID());
    fCriticalSection.Unlock();
    return taken;
}

void VStorageLocker::EndUse()
{
    const uint32_t me = CurrentTaskID();
    fCriticalSection.Lock();
    if (fOwnerTaskID == me && fUseCount > 0) {
        if (--fUseCount == 0) {
            fOwnerTaskID = 0;
            // Every waiter retries; one of them wins.
            for (VTask* waiting : fWaitingTasks)
                waiting->SetMessageQueueEvent();
            ++fReleaseGeneration;
            fReleased.Broadcast();
        }
    }
    fCriticalSection.Unlock();
}

bool VStorageLocker::IsUsedByCurrentTask() const
{
    return fUseCount > 0 && fOwnerTaskID == CurrentTaskID();
}

bool VStorageLocker::Assign(VStorageLocker* inOther, VJSONObject* inObject, VJSONArray* inArray)
{
    if (inOther == nullptr) {
        ThrowSharingError(-10721);
        return false;
    }
    if (!inOther->IsFresh()) {
        if (inOther == this || AcceptsAll())
            return true;
        ThrowSharingError(inArray != nullptr ? -10725 : -10724);
        return false;
    }
    if (AcceptsAll())
        return true;
    {
        // The other storage's owner is read under its own section.
        StLocker lock(inOther->fCriticalSection);
        if (inOther->fOwnerTaskID != 0 && inOther->fOwnerTaskID != CurrentTaskID()) {
            ThrowSharingError(-10753);
            return false;
        }
    }
    SetFresh(false);
    if (inObject != nullptr && inObject->fStorageLocker != this) {
        Retain();
        VStorageLocker* old = inObject->fStorageLocker;
        inObject->fStorageLocker = this;
        if (old != nullptr)
            old->Release();
    }
    if (inArray != nullptr && inArray->fStorageLocker != this) {
        Retain();
        VStorageLocker* old = inArray->fStorageLocker;
        inArray->fStorageLocker = this;
        if (old != nullptr)
            old->Release();
    }
    return true;
}

bool VStorageLocker::AssignValue(const VJSONValue& inValue)
{
    if (VJSONArray* array = inValue.GetArray())
        return Assign(array->fStorageLocker, nullptr, array);
    if (VJSONObject* object = inValue.GetObject()) {
        if (object->fStorageLocker == nullptr && object->fImplementation != nullptr) {
            bool needsLocker = false;
            if (object->fImplementation->IJSON_IsSharable(object, needsLocker) && !needsLocker)
                return true;
        }
        return Assign(object->fStorageLocker, object, nullptr);
    }
    return true;
}

}  // namespace qelt
