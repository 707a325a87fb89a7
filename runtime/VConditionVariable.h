// A broadcast-only condition variable bound to a VCriticalSection while it
// has waiters.
#pragma once

#include <cstdint>

namespace qelt {

class VCriticalSection;
class VSyncEvent;

class VConditionVariable {
public:
    VConditionVariable() = default;
    ~VConditionVariable();

    VConditionVariable(const VConditionVariable&) = delete;
    VConditionVariable& operator=(const VConditionVariable&) = delete;

    // Releases one level of `section` (held by the caller), waits for a
    // broadcast, takes the section again. True when a broadcast ended it.
    bool Wait(VCriticalSection* section) { return _Wait(section, false, 0); }

    // The same for at most `milliseconds`.
    bool WaitWithTimeout(VCriticalSection* section, int milliseconds) { return _Wait(section, true, milliseconds); }

    bool _Wait(VCriticalSection* section, bool timed, int milliseconds);

    // Wakes every current waiter. Always true.
    bool Broadcast();

private:
    VSyncEvent* fEvent = nullptr;
    VCriticalSection* fSection = nullptr;
    uint32_t fSpin = 0;
    uint16_t fWaiters = 0;
    uint16_t fBroadcasts = 0;
};

}  // namespace qelt
