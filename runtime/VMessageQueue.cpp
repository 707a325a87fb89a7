#include "runtime/VMessageQueue.h"

#include <algorithm>
#include <vector>

#include "kernel/VSyncEvent.h"
#include "platform/PlatSync.h"
#include "runtime/VMessage.h"

namespace qelt {

VMessageQueue::VMessageQueue() : fEvent(new VSyncEvent()) {}

VMessageQueue::~VMessageQueue()
{
    for (std::atomic<VMessage*>& slot : fBatch)
        ReleaseRefCountable(slot.exchange(nullptr, std::memory_order_relaxed));
    for (VMessage* message : fMessages)
        message->Release();
    fMessages.clear();
    fEvent->Release();
}

bool VMessageQueue::AddMessage(VMessage* message)
{
    if (message == nullptr)
        return false;
    const uint32_t signature = message->GetCoalescingSignature();
    // The queue's reference is taken, and a blocked retriever woken, outside
    // the lock, so that the retriever finds the lock free when it wakes.
    message->Retain();
    bool absorbed = false;
    bool wake = false;
    bool closed = false;
    {
        StLocker locker(fLock);
        closed = fClosed.load(std::memory_order_relaxed);
        if (!closed && signature != 0) {
            for (VMessage* queued : fMessages) {
                if (queued->GetCoalescingSignature() == signature) {
                    absorbed = !queued->DoCoalesce(*message);
                    break;
                }
            }
        }
        if (!absorbed && !closed) {
            ++fStamp;
            fMessages.push_back(message);
            wake = fWaiters > 0 && !fEvent->IsSignalled();
        }
    }
    if (absorbed || closed) {
        message->Release();
        return false;
    }
    // A waiter that left meanwhile finds the event set at its next wait and
    // makes one empty pass; the queue outlives this call (its task is held).
    if (wake)
        fEvent->Unlock();
    return true;
}

void VMessageQueue::Close()
{
    {
        StLocker locker(fLock);
        fClosed.store(true, std::memory_order_release);
    }
    _Cancel(true, nullptr);
}

VMessage* VMessageQueue::RetainMessage()
{
    StLocker locker(fLock);
    return _RetainMessage();
}

VMessage* VMessageQueue::_TakeFromBatch()
{
    // No canceller reads the slots while the lock is held here.
    while (fBatchNext < fBatchCount) {
        if (VMessage* message = fBatch[fBatchNext++].exchange(nullptr, std::memory_order_relaxed))
            return message;
    }
    return nullptr;
}

VMessage* VMessageQueue::_RetainMessage()
{
    // The batch holds the oldest messages.
    if (VMessage* message = _TakeFromBatch())
        return message;
    if (fMessages.empty())
        return nullptr;
    VMessage* message = fMessages.front();
    fMessages.pop_front();
    return message;
}

VMessage* VMessageQueue::TakeNext()
{
    while (true) {
        while (fBatchNext < fBatchCount) {
            VMessage* message = fBatch[fBatchNext++].exchange(nullptr, std::memory_order_seq_cst);
            if (message == nullptr)
                continue;  // cancelled or removed meanwhile
            // A canceller that read the slot before it was emptied may still
            // be looking at the message: the caller may release it only once
            // that look is over.
            while (fScanners.load(std::memory_order_seq_cst) != 0)
                plat::YieldThread();
            return message;
        }
        StLocker locker(fLock);
        if (fMessages.empty())
            return nullptr;
        // The first one is the caller's at once; the others wait in the batch.
        VMessage* first = fMessages.front();
        fMessages.pop_front();
        fBatchNext = 0;
        fBatchCount = 0;
        while (fBatchCount < kBatchMax && !fMessages.empty()) {
            fBatch[fBatchCount++].store(fMessages.front(), std::memory_order_relaxed);
            fMessages.pop_front();
        }
        return first;
    }
}

template <typename Match, typename Take>
void VMessageQueue::_ScanBatch(Match&& match, Take&& take) const
{
    fScanners.fetch_add(1, std::memory_order_seq_cst);
    for (uint32_t i = 0; i < fBatchCount; ++i) {
        VMessage* message = fBatch[i].load(std::memory_order_seq_cst);
        // The task may take the message meanwhile: the slot is emptied only
        // when it still holds it, and whoever empties it owns the reference.
        if (message != nullptr && match(message) &&
            fBatch[i].compare_exchange_strong(message, nullptr, std::memory_order_seq_cst))
            take(message);
    }
    fScanners.fetch_sub(1, std::memory_order_seq_cst);
}

void VMessageQueue::_SignalWaiters()
{
    if (fWaiters > 0 && !fEvent->IsSignalled())
        fEvent->Unlock();
}

bool VMessageQueue::_TakeWithoutWaiting(VMessage*& outMessage, bool* timedOut)
{
    outMessage = nullptr;
    if (fWoken) {
        fWoken = false;
        if (timedOut != nullptr)
            *timedOut = false;
        return true;
    }
    if (VMessage* message = _RetainMessage()) {
        outMessage = message;
        if (timedOut != nullptr)
            *timedOut = false;
        return true;
    }
    if (fAnswered) {
        fAnswered = false;
        if (timedOut != nullptr)
            *timedOut = true;
        return true;
    }
    return false;
}

bool VMessageQueue::RetainWithoutWaiting(VMessage*& outMessage, bool* timedOut)
{
    StLocker locker(fLock);
    return _TakeWithoutWaiting(outMessage, timedOut);
}

VMessage* VMessageQueue::RetainMessageWithTimeout(int timeoutMs, bool* timedOut)
{
    VMessage* message = nullptr;
    {
        StLocker locker(fLock);
        if (_TakeWithoutWaiting(message, timedOut))
            return message;
        if (timeoutMs <= 0) {
            if (timedOut != nullptr)
                *timedOut = true;
            return nullptr;
        }
        ++fWaiters;
    }
    (void)fEvent->Lock(timeoutMs);
    StLocker locker(fLock);
    if (--fWaiters == 0 && fEvent->IsSignalled())
        fEvent->ResetEvent();
    if (_TakeWithoutWaiting(message, timedOut))
        return message;
    // A time-out, or an event whose cause another waiter took: either way an
    // empty pass.
    if (timedOut != nullptr)
        *timedOut = true;
    return nullptr;
}

void VMessageQueue::SetEvent()
{
    StLocker locker(fLock);
    ++fStamp;
    fWoken = true;
    _SignalWaiters();
}

void VMessageQueue::WakeForAnswer()
{
    StLocker locker(fLock);
    ++fStamp;
    fAnswered = true;
    _SignalWaiters();
}

void VMessageQueue::ClearAnswer()
{
    StLocker locker(fLock);
    fAnswered = false;
}

void VMessageQueue::ClearWakeUp()
{
    StLocker locker(fLock);
    fWoken = false;
}

void VMessageQueue::_Cancel(bool all, IMessageable* target)
{
    // The messages leave the queue under its lock and are aborted after it is
    // released: aborting wakes other tasks, which may be cancelling on this
    // queue themselves. Those of the batch come first: they are the oldest.
    std::vector<VMessage*> cancelled;
    {
        StLocker locker(fLock);
        _ScanBatch([&](VMessage* message) { return all || message->_GetTarget() == target; },
                   [&](VMessage* message) { cancelled.push_back(message); });
        std::deque<VMessage*> kept;
        for (VMessage* message : fMessages) {
            if (all || message->_GetTarget() == target)
                cancelled.push_back(message);
            else
                kept.push_back(message);
        }
        fMessages.swap(kept);
    }
    for (VMessage* message : cancelled) {
        message->Abort();
        message->Release();
    }
}

void VMessageQueue::CancelMessages(IMessageable* target) { _Cancel(false, target); }

void VMessageQueue::CancelMessages() { _Cancel(true, nullptr); }

bool VMessageQueue::RemoveMessage(VMessage* message)
{
    bool removed = false;
    {
        StLocker locker(fLock);
        _ScanBatch([&](VMessage* queued) { return !removed && queued == message; },
                   [&](VMessage*) { removed = true; });
        if (!removed) {
            auto it = std::find(fMessages.begin(), fMessages.end(), message);
            if (it == fMessages.end())
                return false;
            fMessages.erase(it);
        }
    }
    message->Release();
    return true;
}

int32_t VMessageQueue::CountMessages() const
{
    StLocker locker(fLock);
    int32_t count = static_cast<int32_t>(fMessages.size());
    _ScanBatch([&](VMessage*) { ++count; return false; }, [](VMessage*) {});
    return count;
}

int32_t VMessageQueue::CountMessagesFor(IMessageable* target) const
{
    StLocker locker(fLock);
    int32_t count = 0;
    _ScanBatch([&](VMessage* message) { count += message->_GetTarget() == target ? 1 : 0; return false; },
               [](VMessage*) {});
    for (VMessage* message : fMessages) {
        if (message->_GetTarget() == target)
            ++count;
    }
    return count;
}

bool VMessageQueue::IsEmpty() const
{
    return CountMessages() == 0;
}

uint32_t VMessageQueue::GetStamp() const
{
    StLocker locker(fLock);
    return fStamp;
}

}  // namespace qelt
