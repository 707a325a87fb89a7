// The lock of a shared JSON storage: a tree of objects and arrays that
// several tasks may read and change. Every read and change of a member takes
// the locker's critical section; a task changes the storage only while it
// uses it (Use / EndUse), and a second task waits, executing its own
// messages, until the first has ended its last use.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "runtime/VConditionVariable.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class VTask;
class VJSONObject;
class VJSONArray;
class VJSONValue;

class VStorageLocker : public VObject, public IRefCountable {
public:
    // A free locker with the next id. Shared constructors, the importer and
    // the cloner make lockers with accepts-all clear and fresh set.
    explicit VStorageLocker(bool inAcceptsAll = false, bool inFresh = true);
    ~VStorageLocker() override;

    VStorageLocker(const VStorageLocker&) = delete;
    VStorageLocker& operator=(const VStorageLocker&) = delete;

    // Makes the current task the storage's user, waiting while another task
    // uses it and executing the task's messages meanwhile (in slices of
    // 1000 ms); false (no use taken) when the current task is dying.
    bool Use();
    // Takes the use only when that is possible at once.
    bool TryToUse();
    // Ends one use of the current task; the last one wakes the waiters.
    void EndUse();

    // Decides whether the object or array (whose own locker is inOther) may
    // join this storage and, when it may, puts it under this locker. The
    // caller holds the graph lock and this locker's critical section.
    bool Assign(VStorageLocker* inOther, VJSONObject* inObject, VJSONArray* inArray);
    // The same decision for a value.
    bool AssignValue(const VJSONValue& inValue);

    // True when the current task uses the storage (the writer rule).
    bool IsUsedByCurrentTask() const;

    uint32_t GetID() const { return fID; }
    int32_t GetSharedID() const
    {
        int32_t id = static_cast<int32_t>(fID);
        return (fAcceptsAll != 0 || fFresh != 0) ? -id : id;
    }
    bool AcceptsAll() const { return fAcceptsAll != 0; }
    bool IsFresh() const { return fFresh != 0; }
    void SetAcceptsAll(bool inSet) { fAcceptsAll = inSet ? 1 : 0; }
    void SetFresh(bool inSet) { fFresh = inSet ? 1 : 0; }
    uint32_t GetOwnerTaskID() const { return fOwnerTaskID; }
    int32_t GetUseCount() const { return fUseCount; }

    VCriticalSection& GetCriticalSection() const { return fCriticalSection; }

    // The process-wide id counter (the first locker's id is 1).
    static std::atomic<int32_t> sNextID;

private:
    // One attempt to take the use, with the critical section held.
    bool _TakeUseLocked(uint32_t inTaskID);
    // Use on a thread without a task (no queue to be woken through).
    bool _UseWithoutTask(uint32_t inThreadID);

    std::set<VTask*> fWaitingTasks;
    mutable VCriticalSection fCriticalSection;
    uint32_t fOwnerTaskID = 0;
    int32_t fUseCount = 0;
    uint32_t fID;
    unsigned char fAcceptsAll;
    unsigned char fFresh;
    // Raised by the last EndUse under the critical section; a thread without
    // a task that saw one value waits until it changes, so no wake-up is
    // missed.
    uint32_t fReleaseGeneration = 0;
    VConditionVariable fReleased;
};

}  // namespace qelt
