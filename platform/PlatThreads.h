// Threads for the task layer: guarded stacks, thread start and join, counting
// semaphores with monotonic time-outs, thread ids and names, thread-specific
// keys and per-thread processor times.
#pragma once

#include <cstddef>
#include <string>

namespace qelt::plat {

// Handle of a thread of this process (0 means none).
using ThreadHandle = unsigned long;

// Number of a thread-specific key.
using ThreadKey = unsigned int;

// A thread stack with an inaccessible guard page below it. The region is the
// whole mapping; the stack is the part above the guard page.
struct GuardedStack {
    void* region = nullptr;
    size_t regionSize = 0;
    void* stack = nullptr;
    size_t stackSize = 0;
};

// Maps a stack of at least `requestedSize` bytes (rounded up to whole pages)
// plus one guard page below it. Returns 0 or an errno value; `out` is left
// empty on failure.
int AllocateGuardedStack(size_t requestedSize, GuardedStack& out);

// Unmaps a stack from AllocateGuardedStack and empties the record.
void FreeGuardedStack(GuardedStack& stack);

// Starts a joinable thread running proc(arg), on `stack` when given, else on
// a stack of the system's default size. Returns 0 or an errno value.
int StartThread(ThreadHandle& out, const GuardedStack* stack, void* (*proc)(void*), void* arg);

// Waits for a thread to end and releases it. Returns 0 or an errno value.
int JoinThread(ThreadHandle thread);

// Lets a thread release its resources by itself when it ends.
int DetachThread(ThreadHandle thread);

// The calling thread.
ThreadHandle CurrentThread();

// Whether two handles name the same thread.
bool SameThread(ThreadHandle a, ThreadHandle b);

// The system's id of the calling thread (positive; the process id for the
// process's first thread).
int CurrentThreadSystemID();

// Whether the calling thread is the process's first thread.
bool IsProcessMainThread();

// Size in bytes and highest address of the calling thread's stack; 0 and null
// when the system cannot tell.
size_t CurrentThreadStackSize();
void* CurrentThreadStackTop();

// The soft limit of the process's stack size, or 1 MiB when it cannot be read.
size_t ProcessStackSoftLimit();

// How many bytes of `name` (UTF-8, `length` bytes) fit into a thread name of
// at most 15 bytes without splitting a character.
size_t ThreadNameFitLength(const char* name, size_t length);

// Names the calling thread with `name` (UTF-8), cut to 15 bytes on a
// character boundary. Returns 0 or an errno value.
int SetCurrentThreadName(const char* name, size_t length);

// The calling thread's name ("" when it cannot be read).
std::string GetCurrentThreadName();

// How many processors the calling thread may run on (its affinity), at
// least 1: with one, work handed to another thread runs in turn with the
// caller's, never beside it.
int UsableProcessorCount();

// Sleeps the calling thread for `milliseconds` of the monotonic clock (returns
// at once for 0 or less), resuming after signal interruptions.
void ThreadSleep(int milliseconds);

// System and user processor seconds used by the thread of system id `tid`.
// False (both 0) when they cannot be read.
bool GetThreadCPUTimes(int tid, double& systemSeconds, double& userSeconds);

// The share of one processor that the thread of system id `tid` has used
// since it started (0.5 is half a processor). False (0) when unknown.
bool GetThreadCPUUsage(int tid, double& usage);

// Thread-specific keys without destructor. Create returns 0 or an errno value.
int CreateThreadKey(ThreadKey& out);
void DeleteThreadKey(ThreadKey key);
void* GetThreadKeyValue(ThreadKey key);
int SetThreadKeyValue(ThreadKey key, const void* value);

// A counting semaphore; signals given while nobody waits are kept for the
// next waits. Time-outs are measured on the monotonic clock.
class Semaphore {
public:
    Semaphore() = default;
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Makes the semaphore with an initial count. Returns 0 or an errno value.
    int Create(unsigned int initialCount = 0);
    void Destroy();
    bool IsValid() const { return fValid; }

    // Adds one to the count, waking one waiter. Returns 0 or an errno value.
    int Signal();

    // Waits until the count is positive and takes one from it.
    void Wait();

    // The same for at most `milliseconds` (0 or less only tests). True when a
    // signal was taken, false on time-out.
    bool WaitFor(int milliseconds);

private:
    alignas(16) unsigned char fStorage[32] = {};
    bool fValid = false;
};

}  // namespace qelt::plat
