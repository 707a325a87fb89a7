// Fibers: cooperative units of execution of which only one of a group runs
// at a time, each switching to the next explicitly. Each fiber is a thread
// with a semaphore of its own: switching signals the target's semaphore and
// waits on one's own. Offered through the familiar fiber functions below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/PlatThreads.h"

namespace qelt {

class VTask;

// The data of the fiber of a task.
struct _FiberData {
    explicit _FiberData(VTask* task);
    void SetTask(VTask* task);

    VTask* fTask = nullptr;
    int32_t fID = 0;
};

class XMacFiber {
public:
    // A fiber with a thread of its own (entry called with data on first switch).
    XMacFiber(void (*entry)(void*), void* data, plat::Semaphore* semaphore, const plat::GuardedStack& stack);
    // The fiber of a converted thread: no entry, no stack of its own.
    XMacFiber(void* data, plat::Semaphore* semaphore);
    ~XMacFiber();

    XMacFiber(const XMacFiber&) = delete;
    XMacFiber& operator=(const XMacFiber&) = delete;

    // A new fiber whose thread starts at once and parks until switched to;
    // null (error raised) when the stack, semaphore or thread cannot be made.
    static XMacFiber* Create(unsigned long stackSize, void (*entry)(void*), void* data);
    // Makes the calling thread a fiber with `data`; null on failure.
    static XMacFiber* CreateFiberForThread(void* data);
    static void* ThreadProc(void* fiber);

    // Finds where the system's event toolbox keeps a thread's event queue and
    // loop. There is no such toolbox here: the keys stay 0.
    static void _GetCarbonKeys();
    static void* _GetCarbonKeysProc(void*);

    // Sets the abort flag, wakes the fiber's thread and waits for it to end.
    void Abort();
    // Switches the calling thread's fiber to this one.
    void Run();

    void* GetData() const { return fData; }
    void SetData(void* data) { fData = data; }
    bool HasEntry() const { return fEntry != nullptr; }

    // The calling thread's current fiber, or null.
    static XMacFiber* GetCurrent();

private:
    friend void SwitchToFiber(void*);
    friend void DeleteFiber(void*);

    static void _ClearEventKeys();

    void (*fEntry)(void*) = nullptr;
    void* fData = nullptr;
    plat::Semaphore* fSemaphore = nullptr;
    plat::GuardedStack fStack;
    plat::ThreadHandle fThread = 0;
    bool fAbort = false;
    bool fJoined = false;

public:
    // The thread-specific key of each thread's current fiber.
    static plat::ThreadKey sKey;
    static bool sKeyCreated;
    // Numbers of the event toolbox's thread keys (0: unknown) and its entry
    // points, which do not exist on this system and stay null.
    static unsigned int sKey_CarbonEventQueue;
    static unsigned int sKey_CarbonEventLoop;
    static void* (*sGetCurrentEventQueue)();
    static void* (*sGetMainEventQueue)();
    static void* (*sGetCurrentEventLoop)();
    static void* (*sGetMainEventLoop)();
};

// The fiber functions.
void* ConvertThreadToFiber(void* data);
void* CreateFiberEx(unsigned long commitSize, unsigned long stackSize, unsigned int flags, void (*entry)(void*), void* data);
void* GetCurrentFiber();
void* GetFiberData();
void SwitchToFiber(void* fiber);
void DeleteFiber(void* fiber);

}  // namespace qelt
