// The interface to which the task manager forwards fiber yields, flag waits
// and event polling. The toolbox's only implementation, VScheduler_void,
// does nothing: every task is then a thread of its own.
#pragma once

#include "kernel/IRefCountable.h"

namespace qelt {

class VTask;

class IFiberScheduler : public IRefCountable {
public:
    // Lets other fibers run.
    virtual void Yield() = 0;
    // Lets another fiber run now.
    virtual void YieldNow() = 0;
    // Blocks the current fiber until *flag no longer holds value.
    virtual void WaitFlag(int* flag, int value) = 0;
    // The same for at most `milliseconds`.
    virtual void WaitFlagWithTimeout(int* flag, int value, int milliseconds) = 0;
    // Turns the polling of system events off and on.
    virtual void SetSystemEventPolling(bool polling) = 0;
    virtual bool WithSystemEventPolling() const = 0;
    // Polls and executes one update event.
    virtual void PollAndExecuteUpdateEvent() = 0;
    virtual void SetDirectUpdate(bool direct) = 0;
    // Wakes the poller: an event that fibers wait on was signalled.
    virtual void WakeUpSystemEventPolling() = 0;
    virtual bool RequiresSystemEventPolling() = 0;
    // Starts a fiber-style task. A false left in *proceed tells the caller
    // that the scheduler handled the start and its result is the answer.
    virtual bool RunFiber(VTask* task, bool* proceed) = 0;
    virtual void SetSystemCallCFRunloop(bool call) = 0;
    virtual bool ExecuteInProcess0() = 0;
    // True for the length of a task's wait for a message.
    virtual void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool allowed) = 0;
};

}  // namespace qelt
