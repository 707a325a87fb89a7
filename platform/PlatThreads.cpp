#include "platform/PlatThreads.h"

#include "platform/PlatFile.h"
#include "platform/PlatMemory.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

// Where the process's first thread's stack stood when the program started;
// kept by the dynamic loader.
extern "C" void* __libc_stack_end;

namespace qelt::plat {

static_assert(sizeof(pthread_t) == sizeof(ThreadHandle), "thread handle width");
static_assert(sizeof(pthread_key_t) <= sizeof(ThreadKey), "thread key width");

namespace {

timespec MonotonicDeadline(int milliseconds)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    long long nsec = static_cast<long long>(ts.tv_nsec) + static_cast<long long>(milliseconds % 1000) * 1000000LL;
    ts.tv_sec += milliseconds / 1000 + static_cast<time_t>(nsec / 1000000000LL);
    ts.tv_nsec = static_cast<long>(nsec % 1000000000LL);
    return ts;
}

sem_t* AsSem(unsigned char* storage) { return reinterpret_cast<sem_t*>(storage); }

}  // namespace

int AllocateGuardedStack(size_t requestedSize, GuardedStack& out)
{
    out = GuardedStack();
    const size_t page = PageSize();
    if (requestedSize == 0)
        requestedSize = page;
    if (requestedSize > (static_cast<size_t>(1) << 40))
        return ENOMEM;  // no sane stack is that large
    const size_t stackSize = (requestedSize + page - 1) / page * page;
    const size_t regionSize = stackSize + page;
    void* region = mmap(nullptr, regionSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (region == MAP_FAILED)
        return errno;
    if (mprotect(region, page, PROT_NONE) != 0) {
        int err = errno;
        munmap(region, regionSize);
        return err;
    }
    out.region = region;
    out.regionSize = regionSize;
    out.stack = static_cast<char*>(region) + page;
    out.stackSize = stackSize;
    return 0;
}

void FreeGuardedStack(GuardedStack& stack)
{
    if (stack.region != nullptr)
        munmap(stack.region, stack.regionSize);
    stack = GuardedStack();
}

int StartThread(ThreadHandle& out, const GuardedStack* stack, void* (*proc)(void*), void* arg)
{
    out = 0;
    pthread_attr_t attr;
    int err = pthread_attr_init(&attr);
    if (err != 0)
        return err;
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer keeps close to 1 MiB of its own per-thread state in a
    // stack given to a thread: such builds let the thread library make the
    // stack, with that room on top of the size asked for.
    if (stack != nullptr && stack->stack != nullptr)
        err = pthread_attr_setstacksize(&attr, stack->stackSize + (static_cast<size_t>(1) << 20));
#else
    if (stack != nullptr && stack->stack != nullptr)
        err = pthread_attr_setstack(&attr, stack->stack, stack->stackSize);
#endif
    if (err == 0)
        err = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    pthread_t thread{};
    if (err == 0)
        err = pthread_create(&thread, &attr, proc, arg);
    pthread_attr_destroy(&attr);
    if (err == 0)
        out = static_cast<ThreadHandle>(thread);
    return err;
}

int JoinThread(ThreadHandle thread)
{
    return pthread_join(static_cast<pthread_t>(thread), nullptr);
}

int DetachThread(ThreadHandle thread)
{
    return pthread_detach(static_cast<pthread_t>(thread));
}

ThreadHandle CurrentThread()
{
    return static_cast<ThreadHandle>(pthread_self());
}

bool SameThread(ThreadHandle a, ThreadHandle b)
{
    return pthread_equal(static_cast<pthread_t>(a), static_cast<pthread_t>(b)) != 0;
}

int CurrentThreadSystemID()
{
    return static_cast<int>(gettid());
}

bool IsProcessMainThread()
{
    return gettid() == getpid();
}

namespace {

// A thread's stack stays where it is for the thread's life, so it is asked
// for once per thread: for the process's first thread the system reads the
// whole /proc/self/maps to find it, and the task manager's start-up asks for
// its size and top separately.
struct StackBounds {
    void* low = nullptr;
    size_t size = 0;
    bool known = false;
};

// The process's first thread: its stack is the mapping that holds the
// start-up's stack end, as long as the soft limit allows without reaching
// the mapping below it; the same reckoning as the thread library's, which
// reads the same table through a formatted-input stream line by line, at a
// tenth of the start-up's own instructions.
bool FirstThreadStackBounds(void*& low, size_t& size)
{
    rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) != 0)
        return false;
    const std::string maps = ReadWholeFile("/proc/self/maps");
    if (maps.empty())
        return false;

    const uintptr_t page = PageSize();
    const uintptr_t stackEnd = reinterpret_cast<uintptr_t>(__libc_stack_end);
    const uintptr_t top = (stackEnd & ~(page - 1)) + page;
    uintptr_t lastTo = 0;
    for (size_t at = 0; at < maps.size();) {
        size_t lineEnd = maps.find('\n', at);
        if (lineEnd == std::string::npos)
            lineEnd = maps.size();
        const char* line = maps.c_str() + at;
        at = lineEnd + 1;
        char* dash = nullptr;
        errno = 0;
        const uintptr_t from = std::strtoull(line, &dash, 16);
        if (errno != 0 || dash == line || *dash != '-')
            continue;
        char* after = nullptr;
        const uintptr_t to = std::strtoull(dash + 1, &after, 16);
        if (errno != 0 || after == dash + 1)
            continue;
        if (from <= stackEnd && stackEnd < to) {
            uintptr_t bytes = static_cast<uintptr_t>(limit.rlim_cur) - (to - top);
            bytes &= ~(page - 1);
            if (bytes > top - lastTo)
                bytes = top - lastTo;
            low = reinterpret_cast<void*>(top - bytes);
            size = static_cast<size_t>(bytes);
            return true;
        }
        lastTo = to;
    }
    return false;
}

bool CurrentStackBounds(void*& low, size_t& size)
{
    thread_local StackBounds bounds;
    if (!bounds.known && IsProcessMainThread() && FirstThreadStackBounds(bounds.low, bounds.size))
        bounds.known = true;
    if (!bounds.known) {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0)
            return false;
        bool ok = pthread_attr_getstack(&attr, &bounds.low, &bounds.size) == 0;
        pthread_attr_destroy(&attr);
        if (!ok)
            return false;
        bounds.known = true;
    }
    low = bounds.low;
    size = bounds.size;
    return true;
}

}  // namespace

size_t CurrentThreadStackSize()
{
    void* low = nullptr;
    size_t size = 0;
    return CurrentStackBounds(low, size) ? size : 0;
}

void* CurrentThreadStackTop()
{
    void* low = nullptr;
    size_t size = 0;
    if (!CurrentStackBounds(low, size) || low == nullptr)
        return nullptr;
    return static_cast<char*>(low) + size;
}

size_t ProcessStackSoftLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) != 0)
        return 0x100000;
    return static_cast<size_t>(limit.rlim_cur);
}

size_t ThreadNameFitLength(const char* name, size_t length)
{
    constexpr size_t kMaxNameBytes = 15;  // the system keeps 16 bytes with the terminator
    if (name == nullptr)
        return 0;
    size_t cut = length < kMaxNameBytes ? length : kMaxNameBytes;
    if (cut < length) {
        // Step back over continuation bytes so that no character is split.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
    }
    return cut;
}

int SetCurrentThreadName(const char* name, size_t length)
{
    char buffer[16];
    size_t cut = ThreadNameFitLength(name, length);
    if (cut > 0)
        memcpy(buffer, name, cut);
    buffer[cut] = 0;
    return pthread_setname_np(pthread_self(), buffer);
}

std::string GetCurrentThreadName()
{
    char buffer[64] = {};
    if (pthread_getname_np(pthread_self(), buffer, sizeof(buffer)) != 0)
        return std::string();
    return std::string(buffer);
}

int UsableProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

void ThreadSleep(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    timespec deadline = MonotonicDeadline(milliseconds);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

namespace {

// Reads utime and stime (clock ticks) and the start time of a thread.
bool ReadThreadStat(int tid, unsigned long long& utime, unsigned long long& stime, unsigned long long& start)
{
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/task/%d/stat", tid);
    FILE* f = fopen(path, "re");
    if (f == nullptr)
        return false;
    char line[1024];
    size_t n = fread(line, 1, sizeof(line) - 1, f);
    fclose(f);
    line[n] = 0;
    // The command name is in parentheses and may hold blanks: read after the last ')'.
    const char* p = strrchr(line, ')');
    if (p == nullptr)
        return false;
    ++p;
    // Fields from 3 on; utime is field 14, stime 15, starttime 22.
    unsigned long long fields[23] = {};
    int index = 3;
    while (*p && index <= 22) {
        while (*p == ' ')
            ++p;
        if (!*p)
            break;
        char* end = nullptr;
        unsigned long long value = strtoull(p, &end, 10);
        if (end == p) {
            // A non-numeric field (the state letter): skip it.
            while (*p && *p != ' ')
                ++p;
        } else {
            fields[index] = value;
            p = end;
        }
        ++index;
    }
    if (index <= 22)
        return false;
    utime = fields[14];
    stime = fields[15];
    start = fields[22];
    return true;
}

}  // namespace

bool GetThreadCPUTimes(int tid, double& systemSeconds, double& userSeconds)
{
    systemSeconds = 0;
    userSeconds = 0;
    unsigned long long utime = 0, stime = 0, start = 0;
    long hz = sysconf(_SC_CLK_TCK);
    if (hz <= 0 || tid <= 0 || !ReadThreadStat(tid, utime, stime, start))
        return false;
    systemSeconds = static_cast<double>(stime) / static_cast<double>(hz);
    userSeconds = static_cast<double>(utime) / static_cast<double>(hz);
    return true;
}

bool GetThreadCPUUsage(int tid, double& usage)
{
    usage = 0;
    unsigned long long utime = 0, stime = 0, start = 0;
    long hz = sysconf(_SC_CLK_TCK);
    if (hz <= 0 || tid <= 0 || !ReadThreadStat(tid, utime, stime, start))
        return false;
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    double elapsed = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 -
                     static_cast<double>(start) / static_cast<double>(hz);
    double used = static_cast<double>(utime + stime) / static_cast<double>(hz);
    usage = elapsed > 0 ? used / elapsed : 0;
    return true;
}

int CreateThreadKey(ThreadKey& out)
{
    pthread_key_t key{};
    int err = pthread_key_create(&key, nullptr);
    out = err == 0 ? static_cast<ThreadKey>(key) : 0;
    return err;
}

void DeleteThreadKey(ThreadKey key)
{
    pthread_key_delete(static_cast<pthread_key_t>(key));
}

void* GetThreadKeyValue(ThreadKey key)
{
    return pthread_getspecific(static_cast<pthread_key_t>(key));
}

int SetThreadKeyValue(ThreadKey key, const void* value)
{
    return pthread_setspecific(static_cast<pthread_key_t>(key), value);
}

static_assert(sizeof(sem_t) <= 32, "semaphore storage");

Semaphore::~Semaphore()
{
    Destroy();
}

int Semaphore::Create(unsigned int initialCount)
{
    Destroy();
    if (sem_init(AsSem(fStorage), 0, initialCount) != 0)
        return errno;
    fValid = true;
    return 0;
}

void Semaphore::Destroy()
{
    if (fValid) {
        sem_destroy(AsSem(fStorage));
        fValid = false;
    }
}

int Semaphore::Signal()
{
    if (!fValid)
        return EINVAL;
    return sem_post(AsSem(fStorage)) == 0 ? 0 : errno;
}

void Semaphore::Wait()
{
    if (!fValid)
        return;
    while (sem_wait(AsSem(fStorage)) != 0 && errno == EINTR) {
    }
}

bool Semaphore::WaitFor(int milliseconds)
{
    if (!fValid)
        return false;
    if (milliseconds <= 0) {
        while (true) {
            if (sem_trywait(AsSem(fStorage)) == 0)
                return true;
            if (errno != EINTR)
                return false;
        }
    }
    const timespec deadline = MonotonicDeadline(milliseconds);
    while (true) {
        if (sem_clockwait(AsSem(fStorage), CLOCK_MONOTONIC, &deadline) == 0)
            return true;
        if (errno != EINTR)
            return false;  // ETIMEDOUT (or a semaphore that went bad)
    }
}

}  // namespace qelt::plat
