#include "runtime/VMessage.h"

#include <algorithm>
#include <utility>

#include "kernel/VSyncEvent.h"
#include "kernel/VSystem.h"
#include "platform/PlatThreads.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

// ---------------------------------------------------------------------------
// Messaging context and target

VMessagingContext::VMessagingContext(IMessageable* target)
    : fTarget(target), fTaskID(VTaskMgr::GetCurrentTaskID())
{
}

int32_t VMessagingContext::GetMessagingTask() const
{
    return GetTarget() != nullptr ? fTaskID.load(std::memory_order_acquire) : 0;
}

VTask* VMessagingContext::RetainTaskIfUsable() const
{
    if (!IsEnabled() || GetTarget() == nullptr)
        return nullptr;
    int32_t id = fTaskID.load(std::memory_order_acquire);
    if (id == 0 || !VTaskMgr::sInstanceInited.load())
        return nullptr;
    return VTaskMgr::Get()->RetainTaskByID(id);
}

IMessageable::IMessageable() : fContext(new VMessagingContext(this)) {}

IMessageable::~IMessageable()
{
    // Messages still pending for this object reach nobody from now on.
    fContext->_ClearTarget();
    fContext->Release();
}

void IMessageable::StartMessaging() { fContext->SetEnabled(true); }
void IMessageable::StopMessaging() { fContext->SetEnabled(false); }
int32_t IMessageable::GetMessagingTask() const { return fContext->GetMessagingTask(); }
void IMessageable::SetMessagingTask(int32_t taskId) { fContext->SetMessagingTask(taskId); }

VMessagingContext* IMessageable::RetainMessagingContext() const
{
    fContext->Retain();
    return fContext;
}

// ---------------------------------------------------------------------------
// Message state

namespace {

// The waits of a sender or of a task executing its messages meanwhile.
class StWaitReason {
public:
    StWaitReason() : fTask(VTask::GetCurrent())
    {
        if (fTask != nullptr)
            fSet = fTask->_SetWaitReason(TaskWaitReason_SentMessage);
    }
    ~StWaitReason()
    {
        if (fTask != nullptr)
            fTask->_ClearWaitReason(fSet);
    }
    StWaitReason(const StWaitReason&) = delete;
    StWaitReason& operator=(const StWaitReason&) = delete;

private:
    VTask* fTask;
    bool fSet = false;
};

}  // namespace

VMessage::~VMessage()
{
    _ReleaseContext();
    _ReleaseWaiters();
}

VMessagingContext* VMessage::_TakeContext()
{
    std::lock_guard<std::mutex> guard(fLock);
    return std::exchange(fContext, nullptr);
}

void VMessage::_PutContext(VMessagingContext* context)
{
    VMessagingContext* old = nullptr;
    {
        std::lock_guard<std::mutex> guard(fLock);
        old = std::exchange(fContext, context);
    }
    ReleaseRefCountable(old);
}

void VMessage::_ReleaseContext()
{
    ReleaseRefCountable(_TakeContext());
}

void VMessage::_ReleaseWaiters()
{
    VSyncEvent* event = nullptr;
    VMessageQueue* queue = nullptr;
    {
        std::lock_guard<std::mutex> guard(fLock);
        event = std::exchange(fSyncEvent, nullptr);
        queue = std::exchange(fWaitingQueue, nullptr);
    }
    ReleaseRefCountable(event);
    ReleaseRefCountable(queue);
}

bool VMessage::IsPending() const
{
    std::lock_guard<std::mutex> guard(fLock);
    return fContext != nullptr;
}

bool VMessage::_HasContext() const { return IsPending(); }

IMessageable* VMessage::_GetTarget() const
{
    std::lock_guard<std::mutex> guard(fLock);
    if (fContext != nullptr)
        return fContext->GetTarget();
    return fRunning != nullptr ? fRunning->GetTarget() : nullptr;
}

bool VMessage::ActivateContext(IMessageable* target)
{
    _PutContext(target != nullptr ? target->RetainMessagingContext() : nullptr);
    return IsPending();
}

void VMessage::DoExecute()
{
    IMessageable* target = _GetTarget();
    if (target != nullptr)
        target->DoMessage(*this);
}

VTask* VMessage::_InstallContextAndRetainTask(VMessagingContext* context)
{
    fExecuted.store(false);
    fAborted.store(false);
    if (context == nullptr)
        return nullptr;
    VTask* task = context->RetainTaskIfUsable();
    if (task == nullptr) {
        context->Release();
        return nullptr;
    }
    _PutContext(context);
    return task;
}

// ---------------------------------------------------------------------------
// Execution and abort

void VMessage::_Finish(bool executed)
{
    // The sync event and the waiting queue are taken before the flag is set:
    // once it is, the waiting side may release them.
    VSyncEvent* event = nullptr;
    VMessageQueue* queue = nullptr;
    {
        std::lock_guard<std::mutex> guard(fLock);
        event = RetainRefCountable(fSyncEvent);
        queue = RetainRefCountable(fWaitingQueue);
    }
    if (executed)
        fExecuted.store(true, std::memory_order_release);
    else
        fAborted.store(true, std::memory_order_release);
    if (event != nullptr) {
        event->Unlock();
        event->Release();
    }
    if (queue != nullptr) {
        queue->SetEvent();
        queue->Release();
    }
}

void VMessage::Execute()
{
    // Taking the context away decides who ends the message; it stays
    // reachable as the running context so that DoExecute finds its target.
    VMessagingContext* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(fLock);
        context = std::exchange(fContext, nullptr);
        fRunning = context;
    }
    if (context == nullptr)
        return;
    DoExecute();
    _Finish(true);
    {
        std::lock_guard<std::mutex> guard(fLock);
        fRunning = nullptr;
    }
    context->Release();
}

void VMessage::Abort()
{
    VMessagingContext* context = _TakeContext();
    if (context == nullptr)
        return;
    _Finish(false);
    context->Release();
}

// ---------------------------------------------------------------------------
// Delivery

bool VMessage::_Post(VMessagingContext* context, bool runIfSameTask)
{
    VTask* task = _InstallContextAndRetainTask(context);
    if (task == nullptr)
        return false;
    bool result = true;
    if (runIfSameTask && task == VTask::GetCurrent()) {
        DoExecute();
        fExecuted.store(true);
        _ReleaseContext();
    } else if (!task->AddMessage(this)) {
        _ReleaseContext();
        result = false;
    }
    task->Release();
    return result;
}

bool VMessage::_PostDelayed(VMessagingContext* context, int delayMs)
{
    VTask* task = _InstallContextAndRetainTask(context);
    if (task == nullptr)
        return false;
    task->Release();
    return VTaskMgr::Get()->RegisterDelayedMessage(this, delayMs);
}

bool VMessage::PostTo(IMessageable* target, bool runIfSameTask, int delayMs)
{
    if (target == nullptr)
        return false;
    if (IsPending())
        return true;
    if (delayMs == 0)
        return _Post(target->RetainMessagingContext(), runIfSameTask);
    return _PostDelayed(target->RetainMessagingContext(), delayMs);
}

bool VMessage::_Send(VMessagingContext* context, int timeoutMs, bool noTimeLimit)
{
    VTask* task = _InstallContextAndRetainTask(context);
    if (task == nullptr)
        return false;
    if (task == VTask::GetCurrent()) {
        task->Release();
        DoExecute();
        fExecuted.store(true);
        _ReleaseContext();
        return true;
    }
    VSyncEvent* event = new VSyncEvent();
    {
        std::lock_guard<std::mutex> guard(fLock);
        fSyncEvent = event;
        event->Retain();
    }
    bool queued = task->AddMessage(this);
    task->Release();
    bool result = false;
    if (queued) {
        bool signalled;
        {
            StWaitReason reason;
            signalled = noTimeLimit ? event->Lock() : event->Lock(timeoutMs);
        }
        if (!signalled) {
            VMessagingContext* taken = _TakeContext();
            if (taken != nullptr) {
                // Not started: it ends here, aborted.
                fAborted.store(true);
                taken->Release();
            } else {
                // Being executed or aborted by another: wait for its end.
                StWaitReason reason;
                event->Lock();
            }
        }
        result = !fAborted.load() && fExecuted.load();
    }
    _ReleaseContext();
    {
        std::lock_guard<std::mutex> guard(fLock);
        if (fSyncEvent == event) {
            fSyncEvent = nullptr;
            event->Release();
        }
    }
    event->Release();
    return result;
}

bool VMessage::SendTo(IMessageable* target, int timeoutMs)
{
    if (target == nullptr || IsPending())
        return false;
    return _Send(target->RetainMessagingContext(), timeoutMs, false);
}

bool VMessage::SendTo(IMessageable* target)
{
    if (target == nullptr || IsPending())
        return false;
    return _Send(target->RetainMessagingContext(), 0, true);
}

bool VMessage::SendOrPostTo(VMessagingContext* context, int delayMs, bool runIfSameTask, bool send, int timeoutMs)
{
    if (context == nullptr || IsPending())
        return false;
    context->Retain();
    if (delayMs != 0)
        return _PostDelayed(context, delayMs);
    return send ? _Send(context, timeoutMs, false) : _Post(context, runIfSameTask);
}

VTask* VMessage::_InstallWaitingQueue()
{
    // The current task's queue is woken when this message ends.
    VTask* current = VTask::GetCurrent();
    VMessageQueue* queue = current != nullptr ? current->RetainMessageQueue() : nullptr;
    std::lock_guard<std::mutex> guard(fLock);
    fWaitingQueue = queue;
    return current;
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* target, int timeoutMs)
{
    if (target == nullptr || IsPending())
        return false;
    VTask* current = _InstallWaitingQueue();
    const uint32_t start = VSystem::GetCurrentTime();
    bool posted = _Post(target->RetainMessagingContext(), true);
    if (posted && !Answered()) {
        while (true) {
            uint32_t elapsed = VSystem::GetCurrentTime() - start;
            int remaining = timeoutMs > 0 && elapsed < static_cast<uint32_t>(timeoutMs) ? timeoutMs - static_cast<int>(elapsed) : 0;
            if (remaining > 0) {
                StWaitReason reason;
                if (current != nullptr)
                    VTask::ExecuteMessagesWithTimeout(std::min(remaining, 1000), true);
                else
                    plat::ThreadSleep(std::min(remaining, 5));
            }
            if (Answered())
                break;
            if (remaining <= 0 || IsAborted())
                break;
            if (current != nullptr && current->GetState() >= TaskState_Dying)
                break;
        }
        VMessagingContext* taken = _TakeContext();
        if (taken != nullptr) {
            fAborted.store(true);
            taken->Release();
        } else {
            while (!Answered() && !IsAborted())
                plat::ThreadSleep(10);
        }
    }
    _ReleaseWaiters();
    return Answered();
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* target)
{
    if (target == nullptr || IsPending())
        return false;
    VTask* current = _InstallWaitingQueue();
    if (_Post(target->RetainMessagingContext(), true)) {
        while (!Answered() && !IsAborted()) {
            StWaitReason reason;
            if (current != nullptr)
                VTask::ExecuteMessagesWithTimeout(1000, true);
            else
                plat::ThreadSleep(5);
        }
    }
    _ReleaseWaiters();
    return Answered();
}

void VMessage::RePost()
{
    VMessagingContext* context = _TakeContext();
    if (context == nullptr)
        return;
    VTask* task = context->RetainTaskIfUsable();
    if (task == nullptr) {
        context->Release();
        return;
    }
    _PutContext(context);
    if (!task->AddMessage(this))
        _ReleaseContext();
    task->Release();
}

}  // namespace qelt
