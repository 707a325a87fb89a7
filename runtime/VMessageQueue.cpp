#include "runtime/VMessageQueue.h"

#include <algorithm>
#include <vector>

#include "kernel/VSyncEvent.h"
#include "runtime/VMessage.h"

namespace qelt {

VMessageQueue::VMessageQueue() : fEvent(new VSyncEvent()) {}

VMessageQueue::~VMessageQueue()
{
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

VMessage* VMessageQueue::_RetainMessage()
{
    if (fMessages.empty())
        return nullptr;
    VMessage* message = fMessages.front();
    fMessages.pop_front();
    return message;
}

size_t VMessageQueue::RetainMessages(VMessage** outMessages, size_t max)
{
    StLocker locker(fLock);
    size_t count = 0;
    while (count < max && !fMessages.empty()) {
        outMessages[count++] = fMessages.front();
        fMessages.pop_front();
    }
    return count;
}

bool VMessageQueue::TakeWakeUp()
{
    StLocker locker(fLock);
    const bool woken = fWoken;
    fWoken = false;
    return woken;
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
    if (!fMessages.empty()) {
        outMessage = _RetainMessage();
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
    // queue themselves.
    std::vector<VMessage*> cancelled;
    {
        StLocker locker(fLock);
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
    {
        StLocker locker(fLock);
        auto it = std::find(fMessages.begin(), fMessages.end(), message);
        if (it == fMessages.end())
            return false;
        fMessages.erase(it);
    }
    message->Release();
    return true;
}

int32_t VMessageQueue::CountMessages() const
{
    StLocker locker(fLock);
    return static_cast<int32_t>(fMessages.size());
}

int32_t VMessageQueue::CountMessagesFor(IMessageable* target) const
{
    StLocker locker(fLock);
    int32_t count = 0;
    for (VMessage* message : fMessages) {
        if (message->_GetTarget() == target)
            ++count;
    }
    return count;
}

bool VMessageQueue::IsEmpty() const
{
    StLocker locker(fLock);
    return fMessages.empty();
}

uint32_t VMessageQueue::GetStamp() const
{
    StLocker locker(fLock);
    return fStamp;
}

}  // namespace qelt
