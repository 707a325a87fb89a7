// Messages handed from one task to another: the messaging context that links
// a target to the task executing its messages, the target's mix-in, and the
// message itself, sent (the sender waits) or posted (possibly delayed).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"

namespace qelt {

class IMessageable;
class VMessage;
class VMessageQueue;
class VSyncEvent;
class VTask;

// The link from a target to its messaging task; outlives the target while
// pending messages hold it.
class VMessagingContext : public VObject, public IRefCountable {
public:
    explicit VMessagingContext(IMessageable* target);
    VMessagingContext(const VMessagingContext&) = delete;
    VMessagingContext& operator=(const VMessagingContext&) = delete;

    // The task id while the target is set, else 0.
    int32_t GetMessagingTask() const;
    IMessageable* GetTarget() const { return fTarget.load(std::memory_order_acquire); }

    void SetMessagingTask(int32_t taskId) { fTaskID.store(taskId, std::memory_order_release); }
    void SetEnabled(bool enabled) { fEnabled.store(enabled, std::memory_order_release); }
    bool IsEnabled() const { return fEnabled.load(std::memory_order_acquire); }
    void _ClearTarget() { fTarget.store(nullptr, std::memory_order_release); }

    // The messaging task, retained, when the context accepts messages:
    // enabled, target set, task id not 0 and the task alive. Else null.
    VTask* RetainTaskIfUsable() const;
    // The same, but the current task comes back without a reference (it
    // cannot end while it posts): outRetained says whether it was retained.
    VTask* _GetTaskIfUsable(bool& outRetained) const;
    // The messaging task's queue, remembered from an earlier delivery, when
    // the context accepts messages and that queue still takes them; null
    // when the task has to be looked up. Valid while the context lives.
    VMessageQueue* _GetQueueIfUsable() const;

protected:
    ~VMessagingContext() override;

private:
    // Remembers the queue of the messaging task found by a look-up.
    void _RememberQueue(VTask* task, int32_t taskId) const;

    // A messaging task's queue (one reference) with the task's id: set once
    // and never changed, so that a poster may use it without a lock while
    // the context lives. A context moved to another task looks that one up.
    struct KnownQueue {
        int32_t fTaskID;
        VMessageQueue* fQueue;
    };

    std::atomic<IMessageable*> fTarget;
    std::atomic<int32_t> fTaskID;
    std::atomic<bool> fEnabled{true};
    mutable std::atomic<KnownQueue*> fKnownQueue{nullptr};
};

// A message target: belongs to the task that executes its messages.
class IMessageable {
public:
    IMessageable();
    virtual ~IMessageable();
    IMessageable(const IMessageable&) = delete;
    IMessageable& operator=(const IMessageable&) = delete;

    // Called by the default VMessage::DoExecute on the messaging task.
    virtual void DoMessage(VMessage&) {}

    void StartMessaging();
    void StopMessaging();
    int32_t GetMessagingTask() const;
    void SetMessagingTask(int32_t taskId);
    // The context with one more reference, or null.
    VMessagingContext* RetainMessagingContext() const;

private:
    VMessagingContext* fContext;
};

class VMessage : public VObject, public IRefCountable {
public:
    VMessage() = default;
    VMessage(const VMessage&) = delete;
    VMessage& operator=(const VMessage&) = delete;

    // Messages are usually made on one task and destroyed on another, one
    // after the other: their memory goes round through per-thread caches
    // instead of the allocator's arenas, which such traffic makes contend.
    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size) noexcept;
    static void* operator new(std::size_t size, std::align_val_t alignment) { return ::operator new(size, alignment); }
    static void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept
    {
        ::operator delete(block, alignment);
    }

    // Sends and waits; true when executed and not aborted.
    bool SendTo(IMessageable* target, int timeoutMs);
    bool SendTo(IMessageable* target);
    // Posts at once (0) or after the delay.
    bool PostTo(IMessageable* target, bool runIfSameTask = false, int delayMs = 0);
    // Posts, then waits while executing the caller's own messages.
    bool PostToAndWaitExecutingMessages(IMessageable* target, int timeoutMs);
    bool PostToAndWaitExecutingMessages(IMessageable* target);
    // The general form on a context (consumes no reference of the caller).
    bool SendOrPostTo(VMessagingContext* context, int delayMs, bool runIfSameTask, bool send, int timeoutMs);

    // Executes a pending message once (the receiving task's loop).
    void Execute();
    // Ends a pending message without executing it.
    void Abort();
    // Queues a pending message on its target's task again, or drops it.
    void RePost();

    bool ActivateContext(IMessageable* target);
    bool Answered() const { return fExecuted.load(std::memory_order_acquire); }
    void AnswerIt() { fExecuted.store(true, std::memory_order_release); }
    bool IsAborted() const { return fAborted.load(std::memory_order_acquire); }
    bool IsPending() const { return fContext.load(std::memory_order_acquire) != nullptr; }
    // The target of the pending message (null when none); for matching
    // queued and delayed messages only.
    IMessageable* _GetTarget() const;
    bool _HasContext() const { return IsPending(); }

    virtual uint32_t GetCoalescingSignature() const { return 0; }
    virtual void DoExecute();
    virtual bool DoCoalesce(const VMessage&) { return true; }

    // Each consumes one reference to the context.
    bool _Send(VMessagingContext* context, int timeoutMs, bool noTimeLimit);
    bool _Post(VMessagingContext* context, bool runIfSameTask);
    VTask* _InstallContextAndRetainTask(VMessagingContext* context);
    // The same, handing the current task back without a reference;
    // outRetained says whether the caller must release the task.
    VTask* _InstallContext(VMessagingContext* context, bool& outRetained);

protected:
    ~VMessage() override;

private:
    VMessagingContext* _TakeContext();
    // Installs the context (one reference) in a message not yet queued.
    void _SetContext(VMessagingContext* context);
    void _PutContext(VMessagingContext* context);
    void _ReleaseContext();
    // Releases a context taken out of this message once no reader of
    // _GetTarget is still looking at it.
    void _ReleaseTakenContext(VMessagingContext* context);
    void _Finish(bool executed);
    void _ReleaseWaiters();
    void _ClearFlags();
    // Runs a message installed for the current task at once.
    void _RunHere();
    bool _PostDelayed(VMessagingContext* context, int delayMs);
    VTask* _InstallWaitingQueue();

    // No lock: the context is taken out with one atomic exchange, so that
    // exactly one of Execute, Abort and a timed-out sender ends the message.
    // A reader of the target (queue scans on other threads) announces itself
    // in fReaders before it loads the context; whoever takes the context
    // waits for the readers to leave before releasing it (both sides
    // sequentially consistent, so one of them sees the other).
    // The sync event and the waiting queue are set by the sender before the
    // message is queued and cleared by it once the message has ended.
    std::atomic<VMessagingContext*> fContext{nullptr};
    // The context taken by Execute, read by DoExecute on the same thread.
    std::atomic<VMessagingContext*> fRunning{nullptr};
    mutable std::atomic<int32_t> fReaders{0};
    std::atomic<VSyncEvent*> fSyncEvent{nullptr};
    std::atomic<VMessageQueue*> fWaitingQueue{nullptr};
    std::atomic<bool> fExecuted{false};
    std::atomic<bool> fAborted{false};
};

}  // namespace qelt
