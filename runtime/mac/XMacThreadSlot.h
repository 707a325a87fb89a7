// The calling thread's task and ids, kept in one thread-local slot so that
// the current task and its id are read without a library call. The slot is
// valid for the task manager whose generation it carries: a manager made
// later (after an end and a new start) never sees what an earlier one left
// in a thread that lived on.
#pragma once

#include <atomic>
#include <cstdint>

namespace qelt {

class VTask;

struct XMacThreadSlot {
    uint64_t fGeneration;
    VTask* fTask;
    int fForeignID;
    int32_t fCurrentID;  // fTask's id, else fForeignID
    int32_t fTaskID;     // fTask's id once the slot knows it, else 0

    static thread_local constinit XMacThreadSlot sCurrent;
    // The generation of the manager in service, 0 while none is. A slot that
    // was never filled carries generation 0 and id 0.
    static inline std::atomic<uint64_t> sLiveGeneration{0};

    // The id of the calling thread's task while a manager is in service;
    // 0 on a thread without a task, and while the slot does not know the
    // task's id yet (the caller then asks the task itself).
    static int32_t GetCurrentTaskIDInService()
    {
        return sCurrent.fGeneration == sLiveGeneration.load(std::memory_order_acquire) ? sCurrent.fTaskID : 0;
    }
};

}  // namespace qelt
