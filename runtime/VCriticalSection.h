// The recursive lock of the toolbox: owned by a task (by task id), its state
// kept under a spin word, its waiters sleeping on a shared event that exists
// only while there is contention.
#pragma once

#include <cstdint>

namespace qelt {

class VSyncEvent;

class VCriticalSection {
public:
    VCriticalSection() = default;
    // Unlocks as many times as the section is still held.
    ~VCriticalSection();

    VCriticalSection(const VCriticalSection&) = delete;
    VCriticalSection& operator=(const VCriticalSection&) = delete;

    // Takes the section for the current task, waiting as long as needed.
    // Re-entry by the holder only counts. Always true.
    bool Lock();

    // Takes the section when it is free or already held by the current task;
    // false at once otherwise.
    bool TryToLock();

    // Drops one level; at the last one frees the section and wakes every
    // waiter. Always true.
    bool Unlock();

    // Read without the spin word: for checks and tests only.
    int32_t GetOwnerTaskID() const { return fOwner; }
    int32_t GetUseCount() const { return fCount; }

private:
    bool _LockHeldByOther(int32_t me);
    static void _WakeWaiters(VSyncEvent* event);

    VSyncEvent* fEvent = nullptr;
    int32_t fOwner = 0;
    int32_t fCount = 0;
    uint32_t fSpin = 0;
};

// Holds a critical section for the length of a scope.
class StLocker {
public:
    explicit StLocker(VCriticalSection* section) : fSection(section)
    {
        if (fSection != nullptr)
            fSection->Lock();
    }
    explicit StLocker(VCriticalSection& section) : StLocker(&section) {}
    ~StLocker()
    {
        if (fSection != nullptr)
            fSection->Unlock();
    }
    StLocker(const StLocker&) = delete;
    StLocker& operator=(const StLocker&) = delete;

private:
    VCriticalSection* fSection;
};

}  // namespace qelt
