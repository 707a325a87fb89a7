// A task's first-in first-out queue of messages, with its own lock and the
// event its task waits on.
#pragma once

#include <cstdint>
#include <deque>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class IMessageable;
class VMessage;
class VSyncEvent;

class VMessageQueue : public VObject, public IRefCountable {
public:
    VMessageQueue();
    VMessageQueue(const VMessageQueue&) = delete;
    VMessageQueue& operator=(const VMessageQueue&) = delete;

    // Appends the message (retained); false when a queued message of the same
    // non-zero signature absorbed it.
    bool AddMessage(VMessage* message);
    // The oldest message with its reference, or null.
    VMessage* RetainMessage();
    VMessage* _RetainMessage();
    // Waits at most timeoutMs for a message; null after a time-out
    // (timedOut true) or a wake-up (timedOut false).
    VMessage* RetainMessageWithTimeout(int timeoutMs, bool* timedOut);
    // Wakes a timed retriever without a message.
    void SetEvent();
    // Forgets a wake-up that no retriever has taken yet.
    void ClearWakeUp();

    // Aborts and removes the messages for the target (all of them), in queue
    // order, after the lock is released.
    void CancelMessages(IMessageable* target);
    void CancelMessages();
    // Removes one queued message without aborting it.
    bool RemoveMessage(VMessage* message);

    int32_t CountMessages() const;
    int32_t CountMessagesFor(IMessageable* target) const;
    bool IsEmpty() const;
    uint32_t GetStamp() const;

protected:
    ~VMessageQueue() override;

private:
    void _Cancel(bool all, IMessageable* target);
    void _ClearEventIfIdle();

    std::deque<VMessage*> fMessages;
    mutable VCriticalSection fLock;
    VSyncEvent* fEvent;
    uint32_t fStamp = 0;
    int32_t fWaiters = 0;
    bool fWoken = false;
};

}  // namespace qelt
