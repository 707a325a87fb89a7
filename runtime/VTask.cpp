#include "runtime/VTask.h"

#include <algorithm>
#include <utility>

#include "json/VJSONObject.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VProcessServices.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "platform/PlatSync.h"
#include "platform/PlatThreads.h"
#include "process/VProcess.h"
#include "runtime/VProcessServices_runtime.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacTask.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

// Milliseconds and ticks (1/60 s) of the monotonic clock, held in 32 bits.
uint32_t CurrentMilliseconds()
{
    return VSystem::GetCurrentTime();
}

uint32_t CurrentTicks()
{
    return VSystem::GetCurrentTicks();
}

bool CompareAndSwapState(std::atomic<int32_t>& state, int32_t from, int32_t to)
{
    return state.compare_exchange_strong(from, to, std::memory_order_acq_rel);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

VTask::VTask(unsigned long stackSize, ETaskStyle style, std::function<void()>&& runFunction)
    : fRunFunction(std::move(runFunction))
{
    _Construct(stackSize, style);
}

VTask::VTask(VObject* /*owner*/, unsigned long stackSize, ETaskStyle style, int (*procedure)(VTask*))
{
    if (procedure != nullptr)
        fRunFunction = [procedure]() { procedure(VTask::GetCurrent()); };
    _Construct(stackSize, style);
}

void VTask::_Construct(unsigned long stackSize, ETaskStyle style)
{
    fManager = VTaskMgr::Get();
    fStyle = style;
    fStackSize = stackSize;
    fIsFiber = style == eTaskStyleFiber;
    fIsPreemptive = style == eTaskStylePreemptive;
    _CloneDefaultIntlMgr();
    // No toolbox thread exists before the task manager does.
    if (VTaskMgr::sInstanceInited)
        fPlatform = fManager->GetPlatformManager().Create(this, style);
    fID = fManager->GetNewTaskID(this);
    SetMessagingTask(fID);
}

void VTask::_CloneDefaultIntlMgr()
{
    // Every task starts with its own copy of the process's manager.
    if (GetProcessDefaultIntlMgr() != nullptr)
        fIntlMgr = GetProcessDefaultIntlMgr()->Clone();
}

VTask::VTask(VTaskMgr* manager)
{
    fManager = manager;
    fStyle = eTaskStylePreemptive;
    fIsMainTask = true;
    fState.store(TaskState_Running);
    fIsFiber = manager->GetPlatformManager().AreFibersEnabled();
    fIsPreemptive = !fIsFiber;
    fStackSize = manager->GetStackSizeForMainTask();
    _CloneDefaultIntlMgr();
    fPlatform = manager->GetPlatformManager().CreateMain(this);
    fID = manager->GetNewTaskID(this);
    SetMessagingTask(fID);
}

VTask::~VTask()
{
    if (fIntlMgr != nullptr) {
        fIntlMgr->Release();
        fIntlMgr = nullptr;
    }
    if (fProperties != nullptr) {
        fProperties->Release();
        fProperties = nullptr;
    }
    // A task that never ran, or whose thread never reached its end, still
    // holds its token.
    _ReleaseActivityToken();
    if (VMessageQueue* queue = fMessageQueue.exchange(nullptr)) {
        queue->CancelMessages();
        queue->Release();
    }
    _ReleaseErrorContext();
    if (fDeathWatchers != nullptr) {
        for (const DeathWatcher& watcher : *fDeathWatchers) {
            watcher.queue->Release();
            watcher.notified->store(true, std::memory_order_release);
        }
        delete fDeathWatchers;
        fDeathWatchers = nullptr;
    }
    // Wakes a thread that never ran, joins the thread, frees its stack.
    delete fPlatform;
    fPlatform = nullptr;
    delete fName;
    fName = nullptr;
    _ReleaseJSONObjects();
}

void VTask::_ReleaseActivityToken()
{
    if (VActivityToken* token = fActivityToken.exchange(nullptr, std::memory_order_acq_rel))
        token->Release();
}

void VTask::_ReleaseJSONObjects()
{
    // Taken out first: releasing an object may run code that registers or
    // unregisters objects of this task.
    std::set<VRefPtr<VJSONObject>> objects;
    objects.swap(fJSONObjects);
}

// ---------------------------------------------------------------------------
// Running and ending

bool VTask::Run()
{
    // Nothing starts without a platform task, nor once the manager has ended.
    if (fPlatform == nullptr || !VTaskMgr::sInstanceInited)
        return false;

    if (fStyle == eTaskStyleFiber) {
        IFiberScheduler* scheduler = fManager->RetainFiberScheduler();
        if (scheduler != nullptr) {
            bool proceed = true;
            bool result = scheduler->RunFiber(this, &proceed);
            scheduler->Release();
            if (!proceed)
                return result;
        }
    }

    if (!CompareAndSwapState(fState, TaskState_New, TaskState_Starting))
        return false;

    // The task marks the process busy while it runs. Without a process
    // object (a program that only started the task manager) there is no one
    // to mark, and the task runs without a token.
    if (ProcessObjectExists()) {
        VString name;
        GetName(name);
        VString tokenName("Running task ");
        tokenName.AppendString(name);
        VActivityToken* token = new VActivityToken(tokenName);
        if (VActivityToken* old = fActivityToken.exchange(token, std::memory_order_acq_rel))
            old->Release();
    }

    fManager->RegisterTask(this);

    if (!fPlatform->Run()) {
        CompareAndSwapState(fState, TaskState_Starting, TaskState_Dying);
        _SetStateDead();
        return false;
    }
    return true;
}

void VTask::_Run()
{
    if (!CompareAndSwapState(fState, TaskState_Starting, TaskState_Running))
        return;

    fManager->_TaskStarted(this);

    if (fRunFunction) {
        fRunFunction();
        CompareAndSwapState(fState, TaskState_Running, TaskState_Dying);
    } else {
        DoInit();
        while (true) {
            if (fIsFiber)
                VTaskMgr::Yield();
            if (!DoRun()) {
                Kill();
                DoDeInit();
                break;
            }
            ExecuteMessages(true);
            if (GetState() >= TaskState_Dying) {
                DoDeInit();
                break;
            }
        }
    }
    _Exit();
}

void VTask::_Exit()
{
    StopMessaging();
    // Nothing runs this task's messages any more: a later post is refused
    // rather than left in the queue.
    _AllocateMessageQueueIfNeeded();
    fMessageQueue.load()->Close();
    _ReleaseJSONObjects();
    DisposeAllData();
    {
        StTaskMgrLocker locker(fManager);
        fVqTask = nullptr;
        fVqTaskHolder = nullptr;
    }
    fManager->_TaskStopped(this);
}

void VTask::_SetStateDead()
{
    _ReleaseActivityToken();
    // Also a task that died without running its loop refuses messages.
    if (VMessageQueue* queue = fMessageQueue.load())
        queue->Close();
    std::vector<DeathWatcher>* watchers = nullptr;
    {
        StTaskMgrLocker locker(fManager);
        watchers = fDeathWatchers;
        fDeathWatchers = nullptr;
        CompareAndSwapState(fState, TaskState_Dying, TaskState_Dead);
        fManager->_SetDeadTaskFlag();
    }
    // Nothing of this task is touched from here on: it may already be gone.
    // Each waiter's wait on its queue ends at once.
    if (watchers != nullptr) {
        for (const DeathWatcher& watcher : *watchers) {
            watcher.queue->SetEvent();
            watcher.queue->Release();
            watcher.notified->store(true, std::memory_order_release);
        }
        delete watchers;
    }
}

void VTask::Kill()
{
    if (GetCurrent() != this) {
        while (GetState() == TaskState_Starting)
            VTaskMgr::YieldNow();
    }
    if (GetState() <= TaskState_Dying)
        DoPrepareToDie();
    if (CompareAndSwapState(fState, TaskState_Running, TaskState_Dying))
        fDyingTime.store(CurrentTicks());
}

void VTask::Exit(VTask* switchTo)
{
    VTask* current = GetCurrent();
    if (current == nullptr)
        return;
    int32_t state = current->GetState();
    if (state < TaskState_Starting || state > TaskState_Dying)
        return;
    current->fState.exchange(TaskState_Dying);
    current->_Exit();
    if (current->fPlatform != nullptr)
        current->fPlatform->Exit(switchTo);
}

bool VTask::WaitForDeath(int milliseconds)
{
    VTask* current = GetCurrent();
    if (current == this)
        return false;

    const uint32_t start = CurrentMilliseconds();
    auto remaining = [&]() -> int {
        uint32_t elapsed = CurrentMilliseconds() - start;
        if (milliseconds <= 0 || elapsed >= static_cast<uint32_t>(milliseconds))
            return 0;
        return milliseconds - static_cast<int>(elapsed);
    };

    if (current == nullptr) {
        // A thread without a task has nothing to be woken through: it polls
        // the state with plain sleeps.
        while (GetState() != TaskState_Dead) {
            int left = remaining();
            if (left <= 0)
                break;
            plat::ThreadSleep(std::min(left, 5));
        }
        return GetState() == TaskState_Dead;
    }

    // The caller's own message queue is woken by _SetStateDead; meanwhile
    // the caller executes what arrives on it, so that a dying task that
    // waits for the caller to serve a message can end.
    VMessageQueue* queue = nullptr;
    std::shared_ptr<std::atomic<bool>> notified;
    {
        StTaskMgrLocker locker(fManager);
        if (GetState() != TaskState_Dead) {
            queue = current->RetainMessageQueue();  // the watcher list's reference
            notified = std::make_shared<std::atomic<bool>>(false);
            if (fDeathWatchers == nullptr)
                fDeathWatchers = new std::vector<DeathWatcher>();
            fDeathWatchers->push_back(DeathWatcher{queue, notified});
        }
    }

    bool reasonSet = current->_SetWaitReason(TaskWaitReason_Death);
    bool endedByWakeUp = false;
    while (queue != nullptr && GetState() != TaskState_Dead) {
        int left = remaining();
        if (left <= 0)
            break;
        bool timedOut = false;
        VMessage* message = current->_RetainMessageWithTimeout(left, &timedOut);
        endedByWakeUp = message == nullptr && !timedOut;
        current->_ExecuteMessages(message, true);
    }
    current->_ClearWaitReason(reasonSet);

    if (queue != nullptr) {
        bool found = false;
        {
            StTaskMgrLocker locker(fManager);
            if (fDeathWatchers != nullptr) {
                auto it = std::find_if(fDeathWatchers->begin(), fDeathWatchers->end(),
                                       [&](const DeathWatcher& watcher) { return watcher.notified == notified; });
                if (it != fDeathWatchers->end()) {
                    fDeathWatchers->erase(it);
                    found = true;
                }
            }
        }
        if (found) {
            queue->Release();
        } else {
            // _SetStateDead took the entry: its notice is being set on the
            // queue (the caller's task keeps the queue alive). When it came
            // while the caller was busy executing a message, or before the
            // first wait, no wait has taken it, and it would end the caller's
            // next wait for nothing.
            while (!notified->load(std::memory_order_acquire))
                VTaskMgr::YieldNow();
            if (!endedByWakeUp)
                queue->ClearWakeUp();
        }
    }
    return GetState() == TaskState_Dead;
}

bool VTask::IsDying(int* outTicks) const
{
    int32_t state = GetState();
    bool dying = state == TaskState_Dying || state == TaskState_Dead;
    if (outTicks != nullptr) {
        if (dying) {
            int32_t diff = static_cast<int32_t>(CurrentTicks() - fDyingTime.load());
            *outTicks = diff < 0 ? -diff : diff;
        } else {
            *outTicks = 0;
        }
    }
    return dying;
}

bool VTask::IsCurrentMain()
{
    VTask* current = GetCurrent();
    return current != nullptr && current == current->fManager->GetMainTask();
}

// ---------------------------------------------------------------------------
// Sleeping and waking

bool VTask::_SetWaitReason(int32_t reason)
{
    int32_t expected = TaskWaitReason_None;
    return fWaitReason.compare_exchange_strong(expected, reason);
}

void VTask::_ClearWaitReason(bool wasSet)
{
    if (wasSet)
        fWaitReason.store(TaskWaitReason_None);
}

void VTask::Sleep(int milliseconds)
{
    VTask* current = GetCurrent();
    if (milliseconds <= 0) {
        VTaskMgr::YieldNow();
        return;
    }
    if (current == nullptr)
        return;

    bool reasonSet = current->_SetWaitReason(TaskWaitReason_Sleep);
    if (current->fIsPreemptive || !current->fIsFiber) {
        if (current->fPlatform != nullptr)
            current->fPlatform->Sleep(milliseconds);
        else
            plat::ThreadSleep(milliseconds);
    } else {
        std::atomic_ref<int32_t>(current->fFiberWakeFlag).store(0);
        VTaskMgr::CurrentFiberWaitFlagWithTimeout(&current->fFiberWakeFlag, 0, milliseconds);
    }
    current->_ClearWaitReason(reasonSet);
}

void VTask::WakeUp()
{
    if (fPlatform == nullptr)
        return;
    if (fIsFiber)
        std::atomic_ref<int32_t>(fFiberWakeFlag).store(1);
    else
        fPlatform->WakeUp();
}

// ---------------------------------------------------------------------------
// Identity and description

void VTask::SetName(const VString& name)
{
    {
        StTaskMgrLocker locker(fManager);
        VString* copy = new VString(name);
        delete fName;
        fName = copy;
    }
    if (GetCurrent() == this)
        _SetThreadName();
}

void VTask::GetName(VString& outName) const
{
    StTaskMgrLocker locker(fManager);
    if (fName != nullptr)
        outName.FromString(*fName);
    else
        outName.Clear();
}

void VTask::_SetThreadName()
{
    VString name;
    GetName(name);
    fManager->GetPlatformManager().SetCurrentThreadName(name, fID);
}

VValueBag* VTask::RetainProperties() const
{
    StTaskMgrLocker locker(fManager);
    if (fProperties != nullptr)
        fProperties->Retain();
    return fProperties;
}

void VTask::SetProperties(const VValueBag* properties)
{
    VValueBag* old = nullptr;
    {
        StTaskMgrLocker locker(fManager);
        if (properties != nullptr)
            properties->Retain();
        old = fProperties;
        fProperties = const_cast<VValueBag*>(properties);
    }
    if (old != nullptr)
        old->Release();
}

size_t VTask::GetStackSize() const
{
    if (fStackSize == 0)
        fStackSize = fIsMainTask ? fManager->GetStackSizeForMainTask() : fManager->GetDefaultStackSize();
    return fStackSize;
}

unsigned long VTask::GetSystemID() const
{
    return fPlatform != nullptr ? fPlatform->GetThread() : 0;
}

bool VTask::GetCPUUsage(double& outUsage) const
{
    outUsage = 0;
    return fPlatform != nullptr && fPlatform->GetCPUUsage(outUsage);
}

bool VTask::GetCPUTimes(double& outSystemSeconds, double& outUserSeconds) const
{
    outSystemSeconds = 0;
    outUserSeconds = 0;
    return fPlatform != nullptr && fPlatform->GetCPUTimes(outSystemSeconds, outUserSeconds);
}

VTask* VTask::GetCurrent()
{
    return VTaskMgr::GetCurrentTask();
}

VTaskID VTask::_GetCurrentIDFromTask()
{
    VTask* current = GetCurrent();
    if (current == nullptr || current->fID == 0)
        return 0;
    // A task that became current before it had its id (the main task does)
    // is read from the thread's slot from now on.
    return VTaskMgr::Get()->GetPlatformManager().CacheCurrentID(current);
}

// ---------------------------------------------------------------------------
// International text

VIntlMgr* VTask::GetCurrentIntlManager()
{
    VTask* current = GetCurrent();
    if (current != nullptr)
        return current->fIntlMgr;
    return GetProcessDefaultIntlMgr();
}

void VTask::SetCurrentIntlManager(VIntlMgr* manager)
{
    VTask* current = GetCurrent();
    if (current == nullptr || manager == nullptr || manager == current->fIntlMgr)
        return;
    manager->Retain();
    VIntlMgr* old = current->fIntlMgr;
    current->fIntlMgr = manager;
    if (old != nullptr)
        old->Release();
}

void VTask::SetCurrentDialectCode(unsigned int dialect, unsigned char options)
{
    if (GetCurrent() == nullptr)
        return;
    VIntlMgr* manager = VIntlMgr::Create(dialect, dialect, options);
    if (manager != nullptr) {
        SetCurrentIntlManager(manager);
        manager->Release();
    }
}

unsigned int VTask::GetDialectCode() const
{
    return fIntlMgr != nullptr ? fIntlMgr->GetDialectCode() : 0;
}

UniChar VTask::GetWildChar()
{
    VIntlMgr* manager = GetCurrentIntlManager();
    return manager != nullptr ? manager->GetWildChar() : UniChar(64);
}

// ---------------------------------------------------------------------------
// Data slots

void* VTask::GetCurrentData(unsigned long key)
{
    VTask* current = GetCurrent();
    if (current == nullptr || key == 0 || key > current->fDataSlots.size())
        return nullptr;
    return current->fDataSlots[key - 1];
}

void VTask::SetCurrentData(unsigned long key, void* value)
{
    VTask* current = GetCurrent();
    if (current == nullptr || key == 0)
        return;
    if (current->fDataSlots.size() < key)
        current->fDataSlots.resize(key, nullptr);
    current->fDataSlots[key - 1] = value;
}

void VTask::DisposeAllData()
{
    std::vector<void*> slots;
    slots.swap(fDataSlots);
    if (!slots.empty())
        fManager->DisposeData(slots.data(), slots.size());
}

// ---------------------------------------------------------------------------
// Engine task

void VTask::SetVqTask(VVqTask* task, IRefCountable* holder)
{
    StTaskMgrLocker locker(fManager);
    fVqTask = task;
    fVqTaskHolder = holder;
}

VVqTask* VTask::RetainVqTask() const
{
    StTaskMgrLocker locker(fManager);
    if (fVqTaskHolder != nullptr)
        fVqTaskHolder->Retain();
    return fVqTask;
}

// ---------------------------------------------------------------------------
// JSON objects and the activity token

void VTask::RegisterJSONObject(VJSONObject* object)
{
    VTask* current = GetCurrent();
    if (current == nullptr || object == nullptr)
        return;
    current->fJSONObjects.insert(VRefPtr<VJSONObject>(object));
}

void VTask::UnregisterJSONObject(VJSONObject* object)
{
    VTask* current = GetCurrent();
    if (current == nullptr || object == nullptr)
        return;
    // The set's reference goes after the erase: the release may run code that
    // registers or unregisters objects itself.
    VRefPtr<VJSONObject> held;
    auto it = current->fJSONObjects.find(VRefPtr<VJSONObject>(object));
    if (it != current->fJSONObjects.end()) {
        held = *it;
        current->fJSONObjects.erase(it);
    }
}

void VTask::ReleaseCurrentActivityToken()
{
    if (VTask* current = GetCurrent())
        current->_ReleaseActivityToken();
}

}  // namespace qelt

// ---------------------------------------------------------------------------
// Errors: the task side of the error contexts

namespace qelt {

void VTask::_ReleaseErrorContext()
{
    if (fErrorContext != nullptr) {
        fErrorContext->Release();
        fErrorContext = nullptr;
    }
}

VErrorTaskContext* VTask::GetErrorContext(bool create)
{
    VTask* current = GetCurrent();
    if (current == nullptr)
        return nullptr;
    if (current->fErrorContext == nullptr && create)
        current->fErrorContext = new VErrorTaskContext();
    return current->fErrorContext;
}

bool VTask::PushError(VErrorBase* error)
{
    if (error == nullptr)
        return false;
    VErrorTaskContext* context = GetErrorContext(true);
    if (context == nullptr)
        return false;  // no task: the error is dropped
    bool silent = false;
    bool pushed = context->PushError(error, &silent);
    // An error no context silences, or one that could not be pushed, goes on
    // to the debug manager.
    if (!silent)
        VDebugMgr::Get()->ErrorThrown(error);
    return pushed;
}

bool VTask::PushRetainedError(VErrorBase* error)
{
    bool pushed = PushError(error);
    if (error != nullptr)
        error->Release();
    return pushed;
}

void VTask::PushErrors(const VErrorContext* context)
{
    if (context == nullptr || context->IsEmpty())
        return;
    if (VErrorTaskContext* taskContext = GetErrorContext(true))
        taskContext->PushErrorsFromContext(context);
}

void VTask::FlushErrors()
{
    if (VErrorTaskContext* context = GetErrorContext(false))
        context->Flush();
}

VError VTask::GetLastError() const
{
    return fErrorContext != nullptr ? fErrorContext->GetLastError() : 0;
}

bool VTask::FailedForMemory() const
{
    return fErrorContext != nullptr && fErrorContext->FailedForMemory();
}

}  // namespace qelt
