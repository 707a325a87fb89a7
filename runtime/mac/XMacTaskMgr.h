// The platform half of the task manager: the thread-specific keys through
// which every thread finds its current task and its id when it has no task,
// the fibers option, and the platform operations on the calling thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/PlatThreads.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacThreadSlot.h"

namespace qelt {

class VProcess;
class XMacTask;
class XMacTask_preemptive;

class XMacTaskMgr {
public:
    XMacTaskMgr();
    virtual ~XMacTaskMgr();

    XMacTaskMgr(const XMacTaskMgr&) = delete;
    XMacTaskMgr& operator=(const XMacTaskMgr&) = delete;

    bool Init(VProcess* process);
    void Deinit() {}

    // A platform task adopting the calling thread for the main task, which
    // becomes the calling thread's current task.
    XMacTask* CreateMain(VTask* task);
    // A new platform task: a parked thread for style 1, a fiber task for
    // style 3 while fibers are enabled, else null.
    XMacTask* Create(VTask* task, ETaskStyle style);

    void TaskStarted(VTask*) {}
    void TaskStopped(VTask*) {}
    void YieldToFiber(VTask* task);

    size_t ComputeMainTaskStackSize() const;
    size_t GetCurrentFreeStackSize() const;
    static size_t GetCurrentFreeStackSizeStatic();

    // Names the calling thread "<name> (id = <id>)", cut to what the system
    // keeps. The process's first thread is left alone: its name is the
    // process's name.
    void SetCurrentThreadName(const VString& name, int id) const;
    static void SetCurrentThreadNameUTF8(const char* name, size_t length, int id);

    // The calling thread's current task, or null. Read from a thread-local
    // copy of the thread key's value: every lock asks for it, and the key
    // costs a library call.
    VTask* GetCurrentTask() const
    {
        const ThreadSlot& slot = XMacThreadSlot::sCurrent;
        return slot.fGeneration == fGeneration ? slot.fTask : nullptr;
    }
    void SetCurrentTask(VTask* task) const
    {
        plat::SetThreadKeyValue(fCurrentTaskKey, task);
        ThreadSlot& slot = _OwnSlot();
        slot.fTask = task;
        slot.fCurrentID = task != nullptr ? task->GetID() : slot.fForeignID;
        slot.fTaskID = task != nullptr ? task->GetID() : 0;
    }

    // The id given to the calling thread that has no task (0 when none yet).
    int GetForeignID() const
    {
        const ThreadSlot& slot = XMacThreadSlot::sCurrent;
        return slot.fGeneration == fGeneration ? slot.fForeignID : 0;
    }
    void SetForeignID(int id) const
    {
        plat::SetThreadKeyValue(fForeignIDKey, reinterpret_cast<void*>(static_cast<intptr_t>(id)));
        ThreadSlot& slot = _OwnSlot();
        slot.fForeignID = id;
        if (slot.fTask == nullptr)
            slot.fCurrentID = id;
    }

    // The id a caller of VTaskMgr::GetCurrentTaskID gets: the current task's
    // id, else the thread's foreign id; 0 when neither is known yet. Kept in
    // the slot so that the read is one load, without following the task.
    VTaskID GetCurrentID() const
    {
        const ThreadSlot& slot = XMacThreadSlot::sCurrent;
        return slot.fGeneration == fGeneration ? slot.fCurrentID : 0;
    }
    // Stores the id of `task`, the thread's current task, for GetCurrentID and
    // returns it: a task that became current before it had its id (the main
    // task does) is known by it from its first request on.
    VTaskID CacheCurrentID(VTask* task) const
    {
        ThreadSlot& slot = _OwnSlot();
        slot.fCurrentID = task->GetID();
        slot.fTaskID = slot.fCurrentID;
        return slot.fCurrentID;
    }
    // The same for the manager in service, read without reaching the manager
    // object: 0 also while no manager is in service.
    static VTaskID GetCurrentIDInService()
    {
        const ThreadSlot& slot = XMacThreadSlot::sCurrent;
        const uint64_t live = XMacThreadSlot::sLiveGeneration.load(std::memory_order_acquire);
        return slot.fGeneration == live ? slot.fCurrentID : 0;
    }
    // Marks this manager as the one in service, or none.
    void SetInService(bool inService) const
    {
        XMacThreadSlot::sLiveGeneration.store(inService ? fGeneration : 0, std::memory_order_release);
    }

    bool AreFibersEnabled() const { return fFibersEnabled; }

    // Created threads, so that the manager's end can make sure none outlives it.
    void _RegisterThreadTask(XMacTask_preemptive* task);
    void _UnregisterThreadTask(XMacTask_preemptive* task);
    // Ends every thread still parked and waits until every created thread
    // has returned from its procedure.
    void _EndAllThreads();
    void _ThreadStarted() { fLiveThreads.fetch_add(1); }
    void _ThreadEnded() { fLiveThreads.fetch_sub(1); }
    int GetLiveThreadCount() const { return fLiveThreads.load(); }

private:
    using ThreadSlot = XMacThreadSlot;

    ThreadSlot& _OwnSlot() const
    {
        if (XMacThreadSlot::sCurrent.fGeneration != fGeneration)
            XMacThreadSlot::sCurrent = ThreadSlot{fGeneration, nullptr, 0, 0, 0};
        return XMacThreadSlot::sCurrent;
    }

    uint64_t fGeneration = 0;
    plat::ThreadKey fCurrentTaskKey = 0;
    plat::ThreadKey fForeignIDKey = 0;
    bool fFibersEnabled = false;
    std::mutex fThreadsMutex;
    std::vector<XMacTask_preemptive*> fThreadTasks;
    std::atomic<int> fLiveThreads{0};
};

}  // namespace qelt
