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
    StLocker locker(fLock);
    if (signature != 0) {
        for (VMessage* queued : fMessages) {
            if (queued->GetCoalescingSignature() == signature) {
                if (!queued->DoCoalesce(*message))
                    return false;
                break;
            }
        }
    }
    if (fMessages.empty())
        fEvent->Unlock();
    ++fStamp;
    message->Retain();
    fMessages.push_back(message);
    return true;
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
    if (fMessages.empty())
        fEvent->ResetEvent();
    return message;
}

VMessage* VMessageQueue::RetainMessageWithTimeout(int timeoutMs, bool* timedOut)
{
    {
        StLocker locker(fLock);
        ++fWaiters;
    }
    const bool signalled = fEvent->Lock(timeoutMs);
    if (timedOut != nullptr)
        *timedOut = !signalled;
    StLocker locker(fLock);
    --fWaiters;
    if (fWoken) {
        fWoken = false;
        if (timedOut != nullptr)
            *timedOut = false;
        if (fMessages.empty())
            fEvent->ResetEvent();
        return nullptr;
    }
    return signalled ? _RetainMessage() : nullptr;
}

void VMessageQueue::SetEvent()
{
    StLocker locker(fLock);
    ++fStamp;
    fWoken = true;
    fEvent->Unlock();
}

void VMessageQueue::ClearWakeUp()
{
    StLocker locker(fLock);
    fWoken = false;
    _ClearEventIfIdle();
}

void VMessageQueue::_ClearEventIfIdle()
{
    if (fMessages.empty() && !fWoken)
        fEvent->ResetEvent();
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
        _ClearEventIfIdle();
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
        _ClearEventIfIdle();
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
