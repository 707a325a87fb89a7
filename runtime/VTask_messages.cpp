// The task's message queue, its message loop and its idle work.
#include <algorithm>
#include <optional>
#include <vector>

#include "kernel/VSystem.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/IIdleable.h"
#include "runtime/VErrorContext.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

// ---------------------------------------------------------------------------
// Queue access

bool VTask::_AllocateMessageQueueIfNeeded()
{
    if (fMessageQueue.load(std::memory_order_acquire) != nullptr)
        return true;
    VMessageQueue* fresh = new VMessageQueue();
    VMessageQueue* expected = nullptr;
    if (!fMessageQueue.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel))
        fresh->Release();  // another thread installed one first
    return true;
}

VMessageQueue* VTask::RetainMessageQueue()
{
    _AllocateMessageQueueIfNeeded();
    return RetainRefCountable(fMessageQueue.load(std::memory_order_acquire));
}

bool VTask::AddMessage(VMessage* message)
{
    _AllocateMessageQueueIfNeeded();
    return fMessageQueue.load(std::memory_order_acquire)->AddMessage(message);
}

void VTask::SetMessageQueueEvent()
{
    _AllocateMessageQueueIfNeeded();
    fWakeStamp.fetch_add(1, std::memory_order_acq_rel);
    fMessageQueue.load(std::memory_order_acquire)->SetEvent();
}

uint32_t VTask::GetMessageQueueStamp() const
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    return queue != nullptr ? queue->GetStamp() : 0;
}

bool VTask::IsAnyMessagePending() const
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    return queue != nullptr && !queue->IsEmpty();
}

int32_t VTask::CountMessagesFor(IMessageable* target) const
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    return queue != nullptr ? queue->CountMessagesFor(target) : 0;
}

void VTask::CancelMessages(IMessageable* target)
{
    if (VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire))
        queue->CancelMessages(target);
}

bool VTask::IsResponding() const
{
    return VSystem::GetCurrentTime() - fLastResponseTime.load(std::memory_order_relaxed) < 1000;
}

// ---------------------------------------------------------------------------
// Taking and executing messages

VMessage* VTask::_RetainMessageWithTimeout(int milliseconds, bool* outTimedOut)
{
    if (outTimedOut != nullptr)
        *outTimedOut = false;
    // A busy task takes its next message without the wait's preparations.
    if (VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire)) {
        VMessage* message = nullptr;
        if (queue->RetainWithoutWaiting(message, outTimedOut))
            return message;
    }
    IFiberScheduler* scheduler = fManager->RetainFiberScheduler();
    if (scheduler != nullptr)
        scheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(true);
    bool reasonSet = _SetWaitReason(TaskWaitReason_Message);
    VMessage* message = nullptr;
    if (_AllocateMessageQueueIfNeeded())
        message = fMessageQueue.load(std::memory_order_acquire)->RetainMessageWithTimeout(milliseconds, outTimedOut);
    _ClearWaitReason(reasonSet);
    if (scheduler != nullptr) {
        scheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(false);
        scheduler->Release();
    }
    return message;
}

VMessage* VTask::RetainMessageWithTimeout(int milliseconds)
{
    VTask* current = GetCurrent();
    return current != nullptr ? current->_RetainMessageWithTimeout(milliseconds, nullptr) : nullptr;
}

bool VTask::_ExecuteMessages(VMessage* message, bool idle)
{
    if (message != nullptr) {
        // What a message raises ends with it: each message runs in an error
        // context of its own. A context that a message left as it found it
        // is as good as a new one, so it serves the next message; one with
        // a trace of the message is dropped and a fresh one installed.
        std::optional<StErrorContextInstaller> context;
        while (message != nullptr) {
            if (!context || !context->IsUnused()) {
                context.reset();
                context.emplace(false, false);
            }
            message->Execute();
            message->Release();
            message = _TakeNextMessage();
        }
        fLastResponseTime.store(VSystem::GetCurrentTime(), std::memory_order_relaxed);
        return true;
    }
    if (idle)
        _CheckIdleEvents();
    fLastResponseTime.store(VSystem::GetCurrentTime(), std::memory_order_relaxed);
    return false;
}

VMessage* VTask::_TakeNextMessage()
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    return queue != nullptr ? queue->TakeNext() : nullptr;
}

bool VTask::ExecuteMessages(bool idle)
{
    VTask* current = GetCurrent();
    if (current == nullptr)
        return false;
    return current->_ExecuteMessages(current->_TakeNextMessage(), idle);
}

bool VTask::ExecuteMessagesWithTimeout(int milliseconds, bool idle)
{
    VTask* current = GetCurrent();
    if (current == nullptr)
        return false;
    VMessage* message = current->_RetainMessageWithTimeout(milliseconds, nullptr);
    return current->_ExecuteMessages(message, idle);
}

void VTask::WaitAndExecuteMessages(int milliseconds, bool* outWholeTime)
{
    auto answer = [outWholeTime](bool value) {
        if (outWholeTime != nullptr)
            *outWholeTime = value;
    };
    if (milliseconds <= 0) {
        answer(true);
        return;
    }
    VTask* current = GetCurrent();
    if (current == nullptr) {
        answer(false);
        return;
    }
    const uint32_t stamp = current->fWakeStamp.load(std::memory_order_acquire);
    const uint32_t start = VSystem::GetCurrentTime();
    if (current->GetState() > TaskState_Running) {
        answer(false);
        return;
    }
    int remaining = milliseconds;
    while (true) {
        if (current->fWakeStamp.load(std::memory_order_acquire) != stamp) {
            answer(false);
            return;
        }
        bool timedOut = false;
        VMessage* message = current->_RetainMessageWithTimeout(std::min(remaining, 1000), &timedOut);
        if (message == nullptr && !timedOut) {
            answer(false);
            return;
        }
        current->_ExecuteMessages(message, true);
        const uint32_t elapsed = VSystem::GetCurrentTime() - start;
        if (elapsed >= static_cast<uint32_t>(milliseconds)) {
            answer(true);
            return;
        }
        remaining = milliseconds - static_cast<int>(elapsed);
        if (current->GetState() >= TaskState_Dying) {
            answer(false);
            return;
        }
    }
}

void VTask::WaitAndExecuteMessages()
{
    VTask* current = GetCurrent();
    if (current == nullptr || current->GetState() >= TaskState_Dying)
        return;
    const uint32_t stamp = current->fWakeStamp.load(std::memory_order_acquire);
    do {
        if (current->fWakeStamp.load(std::memory_order_acquire) != stamp)
            return;
        bool timedOut = false;
        VMessage* message = current->_RetainMessageWithTimeout(1000, &timedOut);
        if (message == nullptr && !timedOut)
            return;
        current->_ExecuteMessages(message, true);
    } while (current->GetState() < TaskState_Dying);
}

// ---------------------------------------------------------------------------
// Idle work

bool VTask::_CheckIdleEvents()
{
    if (fIdling)
        return false;
    const uint32_t now = VSystem::GetCurrentTicks();
    int32_t diff = static_cast<int32_t>(now - fLastIdleTime);
    if (diff < 0)
        diff = -diff;
    if (static_cast<uint32_t>(diff) <= fIdlePeriod)
        return false;
    fIdling = true;
    fLastIdleTime = now;
    DoIdle();
    CallIdlers();
    fManager->_CheckDelayedMessages();
    fIdling = false;
    return true;
}

void VTask::RegisterIdler(IIdleable* idler)
{
    if (idler == nullptr)
        return;
    StTaskMgrLocker locker(fManager);
    if (std::find(fIdlers.begin(), fIdlers.end(), idler) == fIdlers.end()) {
        fIdlers.push_back(idler);
        fIdlersUnchanged.store(false);
    }
}

void VTask::_RemoveIdler(IIdleable* idler)
{
    StTaskMgrLocker locker(fManager);
    auto it = std::find(fIdlers.begin(), fIdlers.end(), idler);
    if (it != fIdlers.end()) {
        fIdlers.erase(it);
        fIdlersUnchanged.store(false);
    }
}

void VTask::UnregisterIdler(IIdleable* idler)
{
    if (GetCurrent() != this)
        return;
    _RemoveIdler(idler);
}

void VTask::CallIdlers()
{
    if (GetCurrent() != this)
        return;
    // The liveness tokens are copied with the list: an idler destroyed on
    // another thread meanwhile clears its token and is skipped.
    std::vector<std::shared_ptr<VIdleToken>> tokens;
    {
        StTaskMgrLocker locker(fManager);
        tokens.reserve(fIdlers.size());
        for (IIdleable* idler : fIdlers)
            tokens.push_back(idler->_GetToken());
        fIdlersUnchanged.store(true);
    }
    for (const std::shared_ptr<VIdleToken>& token : tokens) {
        if (!fIdlersUnchanged.load())
            break;
        std::lock_guard<std::recursive_mutex> guard(token->lock);
        if (token->idleable != nullptr)
            token->idleable->Idle();
    }
}

}  // namespace qelt
