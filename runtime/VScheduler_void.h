// The fiber scheduler of a process without fibers: every operation does
// nothing, so flag waits return at once and their callers poll.
#pragma once

#include "kernel/VObject.h"
#include "runtime/IFiberScheduler.h"

namespace qelt {

class VScheduler_void : public VObject, public IFiberScheduler {
public:
    VScheduler_void() = default;
    ~VScheduler_void() override;

    void Yield() override {}
    void YieldNow() override {}
    void WaitFlag(int*, int) override {}
    void WaitFlagWithTimeout(int*, int, int) override {}
    void SetSystemEventPolling(bool) override {}
    bool WithSystemEventPolling() const override { return true; }
    void PollAndExecuteUpdateEvent() override {}
    void SetDirectUpdate(bool) override {}
    void WakeUpSystemEventPolling() override {}
    bool RequiresSystemEventPolling() override { return false; }
    bool RunFiber(VTask*, bool*) override { return false; }
    void SetSystemCallCFRunloop(bool) override {}
    bool ExecuteInProcess0() override { return false; }
    void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool) override {}
};

}  // namespace qelt
