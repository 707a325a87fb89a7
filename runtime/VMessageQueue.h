// A task's first-in first-out queue of messages, with its own lock and the
// event its task waits on.
//
// The event only wakes a retriever that is really blocked on it: a retriever
// looks at the queue (and at a pending wake-up) under the lock before it
// waits, and counts itself as a waiter while it waits; a message added, a
// wake-up requested or an answer noted sets the event only while there is a
// waiter, and the last waiter to leave clears it. So a busy task takes its
// messages without ever sleeping, and a poster never signals nobody.
//
// The queue's task takes its messages a batch at a time: up to kBatchMax
// oldest messages move, under one hold of the lock, into the batch, from
// which the task takes them one by one without the lock. The batch is still
// part of the queue: counting, cancelling and removing look at it too, under
// the lock, from any thread. Each slot holds its message's queue reference;
// whoever empties the slot with an atomic exchange (the task taking the
// message, or a canceller under the lock) owns that reference. A canceller
// announces itself in fScanners before it reads a slot, and the task, once
// it has emptied a slot, waits until no canceller is reading (both sides
// sequentially consistent, so one of them sees the other): a canceller never
// looks at a message the task may already have released.
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
    // The same for the queue's task only: takes from the batch without the
    // lock, refilling it under the lock when it is used up.
    VMessage* TakeNext();
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

    static constexpr size_t kBatchMax = 32;

private:
    // Under the lock: the oldest message of the batch, or null.
    VMessage* _TakeFromBatch();
    // Under the lock: asks `match` about each message still in the batch, in
    // queue order; a matched one that the task has not taken meanwhile leaves
    // its slot and goes to `take` with its reference. No slot is read after
    // it returns.
    template <typename Match, typename Take>
    void _ScanBatch(Match&& match, Take&& take) const;
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

    // The batch: slots [fBatchNext, fBatchCount) may hold messages, in queue
    // order; an empty slot was cancelled or removed. The slots are filled
    // and fBatchCount set under the lock by the task; fBatchNext is the
    // task's own. On a cache line of their own: posters never touch them.
    alignas(64) mutable std::atomic<VMessage*> fBatch[kBatchMax] = {};
    uint32_t fBatchNext = 0;
    uint32_t fBatchCount = 0;
    mutable std::atomic<int32_t> fScanners{0};
};

}  // namespace qelt
