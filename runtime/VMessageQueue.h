// A task's first-in first-out queue of messages, with its own lock and the
// event its task waits on.
//
// The event only wakes a retriever that is really blocked on it: a retriever
// looks at the queue (and at a pending wake-up) under the lock before it
// waits, and counts itself as a waiter while it waits; a message added, a
// wake-up requested or an answer noted sets the event only while there is a
// waiter, and the last waiter to leave clears it. So a busy task takes its
// messages without ever sleeping, and a poster never signals nobody.
#pragma once

#include <atomic>
#include <cstddef>
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
    // non-zero signature absorbed it, or when the queue is closed.
    bool AddMessage(VMessage* message);
    // Refuses every message from now on and aborts the queued ones: the
    // queue's task has left its message loop for good.
    void Close();
    bool IsClosed() const { return fClosed.load(std::memory_order_acquire); }
    // The oldest message with its reference, or null.
    VMessage* RetainMessage();
    VMessage* _RetainMessage();
    // Takes up to `max` oldest messages, with their references, under one
    // hold of the lock; returns how many.
    size_t RetainMessages(VMessage** outMessages, size_t max);
    // Takes a wake-up not taken by a retriever yet: true when there was one.
    bool TakeWakeUp();
    // Waits at most timeoutMs for a message; null after a time-out
    // (timedOut true) or a wake-up (timedOut false).
    VMessage* RetainMessageWithTimeout(int timeoutMs, bool* timedOut);
    // What RetainMessageWithTimeout gets without waiting: true when it would
    // return at once (with the oldest message, or null after a wake-up or an
    // answer, timedOut telling which), false when it would wait.
    bool RetainWithoutWaiting(VMessage*& outMessage, bool* timedOut);
    // Wakes a timed retriever without a message: its wait reports a
    // wake-up (not a time-out) and the task's message loop ends.
    void SetEvent();
    // Ends the current or next wait of a retriever as an empty pass, reported
    // like a time-out, so that a loop goes on: a message that this queue's
    // task waits for has ended. Unlike SetEvent, a note that nobody takes
    // ends no later loop.
    void WakeForAnswer();
    // Forgets an answer that no retriever has taken yet.
    void ClearAnswer();
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
    // Under the lock: what a retriever gets without waiting. True when the
    // wait is over (with the message, or null after a wake-up or an answer).
    bool _TakeWithoutWaiting(VMessage*& outMessage, bool* timedOut);
    void _SignalWaiters();

    std::deque<VMessage*> fMessages;
    mutable VCriticalSection fLock;
    VSyncEvent* fEvent;
    uint32_t fStamp = 0;
    int32_t fWaiters = 0;
    bool fWoken = false;
    bool fAnswered = false;  // a WakeForAnswer not taken by a retriever yet
    std::atomic<bool> fClosed{false};  // set under the lock, read also without
};

}  // namespace qelt
