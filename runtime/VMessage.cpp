#include "runtime/VMessage.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "kernel/VSyncEvent.h"
#include "kernel/VSystem.h"
#include "platform/PlatSync.h"
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

VMessagingContext::~VMessagingContext()
{
    if (KnownQueue* known = fKnownQueue.load(std::memory_order_acquire)) {
        known->fQueue->Release();
        delete known;
    }
}

int32_t VMessagingContext::GetMessagingTask() const
{
    return GetTarget() != nullptr ? fTaskID.load(std::memory_order_acquire) : 0;
}

VTask* VMessagingContext::_GetTaskIfUsable(bool& outRetained) const
{
    outRetained = false;
    if (!IsEnabled() || GetTarget() == nullptr)
        return nullptr;
    int32_t id = fTaskID.load(std::memory_order_acquire);
    if (id == 0 || !VTaskMgr::sInstanceInited.load(std::memory_order_acquire))
        return nullptr;
    // The current task is alive while it runs here: no look-up, no reference.
    VTask* current = VTaskMgr::GetCurrentTask();
    if (current != nullptr && current->GetID() == id && current->GetState() != TaskState_Dead) {
        _RememberQueue(current, id);
        return current;
    }
    VTask* task = VTaskMgr::Get()->RetainTaskByID(id);
    outRetained = task != nullptr;
    if (task != nullptr)
        _RememberQueue(task, id);
    return task;
}

void VMessagingContext::_RememberQueue(VTask* task, int32_t taskId) const
{
    if (fKnownQueue.load(std::memory_order_acquire) != nullptr)
        return;
    VMessageQueue* queue = task->RetainMessageQueue();
    KnownQueue* known = queue != nullptr && !queue->IsClosed() ? new KnownQueue{taskId, queue} : nullptr;
    KnownQueue* expected = nullptr;
    if (known == nullptr || !fKnownQueue.compare_exchange_strong(expected, known, std::memory_order_acq_rel)) {
        ReleaseRefCountable(queue);
        delete known;
    }
}

VMessageQueue* VMessagingContext::_GetQueueIfUsable() const
{
    const KnownQueue* known = fKnownQueue.load(std::memory_order_acquire);
    if (known == nullptr || !IsEnabled() || GetTarget() == nullptr)
        return nullptr;
    // A closed queue belongs to a task that has ended: its id may be another
    // task's by now.
    if (known->fTaskID != fTaskID.load(std::memory_order_acquire) || known->fQueue->IsClosed() ||
        !VTaskMgr::sInstanceInited.load(std::memory_order_acquire))
        return nullptr;
    return known->fQueue;
}

VTask* VMessagingContext::RetainTaskIfUsable() const
{
    bool retained = false;
    VTask* task = _GetTaskIfUsable(retained);
    if (task != nullptr && !retained)
        task->Retain();
    return task;
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
// Message memory

namespace {

// Every message of up to kBlockSize bytes gets a block of that size. A
// thread keeps up to kCacheMax free blocks; a full cache goes whole to the
// depot, from which a thread with an empty cache takes one. So blocks freed
// by the receiving task come back to the posting one for a lock per
// kCacheMax messages. Address sanitizer builds use the allocator directly,
// so that it still sees every use of a destroyed message.
constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kCacheMax = 256;
constexpr std::size_t kDepotMax = 64;  // caches kept; further ones are freed

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCacheBlocks = false;
#else
constexpr bool kCacheBlocks = true;
#endif

struct FreeBlock {
    FreeBlock* next;
};

struct BlockList {
    FreeBlock* head = nullptr;
    std::size_t count = 0;
};

void FreeBlocks(BlockList list)
{
    while (FreeBlock* block = list.head) {
        list.head = block->next;
        ::operator delete(block);
    }
}

// Never destroyed: messages may be destroyed late in the process's exit.
struct Depot {
    std::mutex lock;
    std::vector<BlockList> caches;
};

Depot& GetDepot()
{
    static Depot* sDepot = new Depot();
    return *sDepot;
}

void GiveToDepot(BlockList list)
{
    {
        Depot& depot = GetDepot();
        std::lock_guard<std::mutex> guard(depot.lock);
        if (depot.caches.size() < kDepotMax) {
            depot.caches.push_back(list);
            return;
        }
    }
    FreeBlocks(list);
}

// Trivially destructible, so that it stays usable after the thread's
// destructors have run; `closed` then sends every block to the allocator.
struct ThreadCache {
    BlockList free;
    bool closed;
};

thread_local ThreadCache tCache;

// Hands the thread's blocks to the depot when the thread ends.
struct ThreadCacheCloser {
    ~ThreadCacheCloser()
    {
        tCache.closed = true;
        if (tCache.free.head != nullptr)
            GiveToDepot(std::exchange(tCache.free, BlockList{}));
    }
};

thread_local ThreadCacheCloser tCacheCloser;

}  // namespace

void* VMessage::operator new(std::size_t size)
{
    if (!kCacheBlocks || size > kBlockSize)
        return ::operator new(size);
    ThreadCache& cache = tCache;
    if (cache.free.head == nullptr && !cache.closed) {
        (void)&tCacheCloser;  // constructed with the thread's first message
        Depot& depot = GetDepot();
        std::lock_guard<std::mutex> guard(depot.lock);
        if (!depot.caches.empty()) {
            cache.free = depot.caches.back();
            depot.caches.pop_back();
        }
    }
    if (FreeBlock* block = cache.free.head) {
        cache.free.head = block->next;
        --cache.free.count;
        return block;
    }
    return ::operator new(kBlockSize);
}

void VMessage::operator delete(void* block, std::size_t size) noexcept
{
    if (block == nullptr)
        return;
    if (!kCacheBlocks || size > kBlockSize) {
        ::operator delete(block);
        return;
    }
    ThreadCache& cache = tCache;
    if (cache.closed) {
        ::operator delete(block);
        return;
    }
    (void)&tCacheCloser;
    if (cache.free.count == kCacheMax)
        GiveToDepot(std::exchange(cache.free, BlockList{}));
    cache.free.head = new (block) FreeBlock{cache.free.head};
    ++cache.free.count;
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
    return fContext.exchange(nullptr, std::memory_order_seq_cst);
}

void VMessage::_ReleaseTakenContext(VMessagingContext* context)
{
    if (context == nullptr)
        return;
    // A queue scan on another thread may still be reading its target.
    while (fReaders.load(std::memory_order_seq_cst) != 0)
        plat::YieldThread();
    context->Release();
}

void VMessage::_PutContext(VMessagingContext* context)
{
    _ReleaseTakenContext(fContext.exchange(context, std::memory_order_seq_cst));
}

void VMessage::_ReleaseContext()
{
    if (fContext.load(std::memory_order_acquire) != nullptr)
        _ReleaseTakenContext(_TakeContext());
}

void VMessage::_ReleaseWaiters()
{
    // Most messages never had either: a read spares the exchanges.
    if (fSyncEvent.load(std::memory_order_acquire) != nullptr)
        ReleaseRefCountable(fSyncEvent.exchange(nullptr, std::memory_order_acq_rel));
    if (fWaitingQueue.load(std::memory_order_acquire) == nullptr)
        return;
    if (VMessageQueue* queue = fWaitingQueue.exchange(nullptr, std::memory_order_acq_rel)) {
        // The answer to this message is over: a note of it that the wait did
        // not take would only cut the task's next wait short.
        queue->ClearAnswer();
        queue->Release();
    }
}

void VMessage::_ClearFlags()
{
    // Published to the receiving task by the queue's lock with the message.
    fExecuted.store(false, std::memory_order_release);
    fAborted.store(false, std::memory_order_release);
}

IMessageable* VMessage::_GetTarget() const
{
    fReaders.fetch_add(1, std::memory_order_seq_cst);
    VMessagingContext* context = fContext.load(std::memory_order_seq_cst);
    IMessageable* target = context != nullptr ? context->GetTarget() : nullptr;
    fReaders.fetch_sub(1, std::memory_order_release);
    return target;
}

bool VMessage::ActivateContext(IMessageable* target)
{
    _PutContext(target != nullptr ? target->RetainMessagingContext() : nullptr);
    return IsPending();
}

void VMessage::DoExecute()
{
    // Inside Execute the running context is this thread's own: no reader
    // announcement is needed to look at it.
    VMessagingContext* running = fRunning.load(std::memory_order_relaxed);
    IMessageable* target = running != nullptr ? running->GetTarget() : _GetTarget();
    if (target != nullptr)
        target->DoMessage(*this);
}

VTask* VMessage::_InstallContext(VMessagingContext* context, bool& outRetained)
{
    _ClearFlags();
    outRetained = false;
    if (context == nullptr)
        return nullptr;
    VTask* task = context->_GetTaskIfUsable(outRetained);
    if (task == nullptr) {
        context->Release();
        return nullptr;
    }
    _SetContext(context);
    return task;
}

void VMessage::_SetContext(VMessagingContext* context)
{
    if (fContext.load(std::memory_order_relaxed) == nullptr)
        fContext.store(context, std::memory_order_release);  // published with the message by the queue's lock
    else
        _PutContext(context);
}

VTask* VMessage::_InstallContextAndRetainTask(VMessagingContext* context)
{
    bool retained = false;
    VTask* task = _InstallContext(context, retained);
    if (task != nullptr && !retained)
        task->Retain();
    return task;
}

// ---------------------------------------------------------------------------
// Execution and abort

void VMessage::_Finish(bool executed)
{
    // The sync event and the waiting queue are retained before the flag is
    // set: once it is, the waiting side may release them. Only the side that
    // took the context gets here, so they are still installed.
    VSyncEvent* event = RetainRefCountable(fSyncEvent.load(std::memory_order_acquire));
    VMessageQueue* queue = RetainRefCountable(fWaitingQueue.load(std::memory_order_acquire));
    if (executed)
        fExecuted.store(true, std::memory_order_release);
    else
        fAborted.store(true, std::memory_order_release);
    if (event != nullptr) {
        event->Unlock();
        event->Release();
    }
    if (queue != nullptr) {
        queue->WakeForAnswer();
        queue->Release();
    }
}

void VMessage::Execute()
{
    // Taking the context away decides who ends the message; it stays
    // reachable as the running context so that DoExecute finds its target.
    VMessagingContext* context = _TakeContext();
    if (context == nullptr)
        return;
    fRunning.store(context, std::memory_order_relaxed);
    DoExecute();
    _Finish(true);
    fRunning.store(nullptr, std::memory_order_relaxed);
    _ReleaseTakenContext(context);
}

void VMessage::Abort()
{
    VMessagingContext* context = _TakeContext();
    if (context == nullptr)
        return;
    _Finish(false);
    _ReleaseTakenContext(context);
}

// ---------------------------------------------------------------------------
// Delivery

namespace {

// The task a message is delivered to, held for the delivery: released at the
// end when it was retained (any task but the current one).
class StDeliveryTask {
public:
    StDeliveryTask(VTask* task, bool retained) : fTask(task), fRetained(retained) {}
    ~StDeliveryTask()
    {
        if (fRetained)
            fTask->Release();
    }
    StDeliveryTask(const StDeliveryTask&) = delete;
    StDeliveryTask& operator=(const StDeliveryTask&) = delete;

    VTask* Get() const { return fTask; }
    bool IsCurrent() const { return fTask == VTask::GetCurrent(); }

private:
    VTask* fTask;
    bool fRetained;
};

}  // namespace

void VMessage::_RunHere()
{
    DoExecute();
    fExecuted.store(true, std::memory_order_release);
    _ReleaseContext();
}

bool VMessage::_Post(VMessagingContext* context, bool runIfSameTask)
{
    // The queue the context knows takes the message without a look-up of
    // its task, unless the message may have to run here at once.
    VMessageQueue* queue = context != nullptr ? context->_GetQueueIfUsable() : nullptr;
    if (queue != nullptr && !(runIfSameTask && context->GetMessagingTask() == VTask::GetCurrentID())) {
        _ClearFlags();
        _SetContext(context);
        if (queue->AddMessage(this))
            return true;
        if (!queue->IsClosed()) {
            _ReleaseContext();
            return false;
        }
        // Its task ended meanwhile: the id may name another task by now.
        context = _TakeContext();
    }
    bool retained = false;
    VTask* found = _InstallContext(context, retained);
    if (found == nullptr)
        return false;
    StDeliveryTask task(found, retained);
    if (runIfSameTask && task.IsCurrent()) {
        _RunHere();
    } else if (!task.Get()->AddMessage(this)) {
        _ReleaseContext();
        return false;
    }
    return true;
}

bool VMessage::_PostDelayed(VMessagingContext* context, int delayMs)
{
    bool retained = false;
    VTask* found = _InstallContext(context, retained);
    if (found == nullptr)
        return false;
    StDeliveryTask task(found, retained);
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
    bool retained = false;
    VTask* found = _InstallContext(context, retained);
    if (found == nullptr)
        return false;
    VRefPtr<VSyncEvent> event;
    {
        StDeliveryTask task(found, retained);
        if (task.IsCurrent()) {
            _RunHere();
            return true;
        }
        event = AdoptRef(new VSyncEvent());
        ReleaseRefCountable(fSyncEvent.exchange(RetainRefCountable(event.Get()), std::memory_order_acq_rel));
        if (!task.Get()->AddMessage(this)) {
            _ReleaseContext();
            _ReleaseWaiters();
            return false;
        }
    }
    bool signalled;
    {
        StWaitReason reason;
        signalled = noTimeLimit ? event->Lock() : event->Lock(timeoutMs);
    }
    if (!signalled) {
        VMessagingContext* taken = _TakeContext();
        if (taken != nullptr) {
            // Not started: it ends here, aborted.
            fAborted.store(true, std::memory_order_release);
            _ReleaseTakenContext(taken);
        } else {
            // Being executed or aborted by another: wait for its end.
            StWaitReason reason;
            event->Lock();
        }
    }
    const bool result = !IsAborted() && Answered();
    _ReleaseContext();
    _ReleaseWaiters();
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
    ReleaseRefCountable(fWaitingQueue.exchange(queue, std::memory_order_acq_rel));
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
            fAborted.store(true, std::memory_order_release);
            _ReleaseTakenContext(taken);
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
    bool retained = false;
    VTask* found = context->_GetTaskIfUsable(retained);
    if (found == nullptr) {
        _ReleaseTakenContext(context);
        return;
    }
    StDeliveryTask task(found, retained);
    _PutContext(context);
    if (!task.Get()->AddMessage(this))
        _ReleaseContext();
}

}  // namespace qelt
