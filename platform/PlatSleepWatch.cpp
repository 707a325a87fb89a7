#include "platform/PlatSleepWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/PlatSystemBus.h"

namespace qelt::plat {

namespace {

constexpr const char* kLoginService = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";

int SignalCallback(sd_bus_message* inMessage, void* inUserData, SystemBusError*)
{
    int sleeping = 0;
    const SystemBusLibrary* bus = GetSystemBusLibrary();
    if (inUserData == nullptr || bus == nullptr || bus->message_read(inMessage, "b", &sleeping) < 0)
        return 0;
    static_cast<SleepWatcher*>(inUserData)->Announce(sleeping != 0);
    return 0;
}

// The process-wide hold on the watchers' connections. A watcher started
// while it lasts gets its thread only at the release: a thread that would
// only wait costs its start, its stack and the memory arena of its first
// allocation in the moments the hold protects.
struct ConnectionHold {
    std::mutex lock;
    std::condition_variable released;
    bool held = false;
    std::vector<SleepWatcher*> waiting;  // started while held, no thread yet
};

ConnectionHold& TheHold()
{
    static ConnectionHold hold;
    return hold;
}

}  // namespace

void HoldSleepWatchConnections()
{
    ConnectionHold& hold = TheHold();
    std::lock_guard<std::mutex> locked(hold.lock);
    hold.held = true;
}

void ReleaseSleepWatchConnections()
{
    ConnectionHold& hold = TheHold();
    {
        // Under the lock: a watcher being destroyed either has left the
        // list or finds its thread started, and stops it.
        std::lock_guard<std::mutex> locked(hold.lock);
        if (!hold.held)
            return;
        hold.held = false;
        for (SleepWatcher* watcher : hold.waiting) {
            if (!watcher->_StartThread() && watcher->fTrouble)
                watcher->fTrouble("the watcher's thread cannot be started");
        }
        hold.waiting.clear();
    }
    hold.released.notify_all();
}

SleepWatcher::SleepWatcher(std::function<void(bool)> inHandler) : fHandler(std::move(inHandler)) {}

SleepWatcher::~SleepWatcher()
{
    ConnectionHold& hold = TheHold();
    bool started = false;
    {
        std::lock_guard<std::mutex> locked(hold.lock);
        std::erase(hold.waiting, this);
        fEnding = true;
        started = fThread.joinable();
    }
    if (started) {
        hold.released.notify_all();
        char byte = 0;
        ssize_t n = ::write(fStop[1], &byte, 1);
        (void)n;
        fThread.join();
    }
    for (int& fd : fStop) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    _ReleaseInhibitor();
    if (fSlot != nullptr)
        fLibrary->slot_unref(fSlot);
    if (fBus != nullptr)
        fLibrary->flush_close_unref(fBus);
    fSlot = nullptr;
    fBus = nullptr;
}

int SleepWatcher::Start(std::function<void(const std::string&)> inTrouble)
{
    ConnectionHold& hold = TheHold();
    std::lock_guard<std::mutex> locked(hold.lock);
    if (fStop[0] >= 0)
        return 0;  // started already, or waiting for the release
    if (::pipe2(fStop, O_CLOEXEC) != 0)
        return -1;
    fTrouble = std::move(inTrouble);
    if (hold.held) {
        hold.waiting.push_back(this);
        return 0;
    }
    return _StartThread() ? 0 : -1;
}

bool SleepWatcher::_StartThread()
{
    try {
        fThread = std::thread([this] {
            if (_WaitUntilReleased() && _Connect(fTrouble))
                _Run();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool SleepWatcher::_WaitUntilReleased()
{
    ConnectionHold& hold = TheHold();
    std::unique_lock<std::mutex> locked(hold.lock);
    hold.released.wait(locked, [&] { return !hold.held || fEnding; });
    return !fEnding;
}

bool SleepWatcher::_Connect(const std::function<void(const std::string&)>& inTrouble)
{
    // The bus library is loaded here, the first time a watcher starts.
    std::string unavailable;
    const SystemBusLibrary* library = GetSystemBusLibrary(&unavailable);
    if (library == nullptr) {
        // Nothing will be announced, as without a system bus.
        if (inTrouble)
            inTrouble(unavailable);
        return false;
    }
    fLibrary = library;
    sd_bus* bus = nullptr;
    if (fLibrary->open_system(&bus) < 0 || bus == nullptr) {
        // No system bus: nothing will be announced, and that is no failure.
        if (bus != nullptr)
            fLibrary->unref(bus);
        return false;
    }
    fBus = bus;
    if (fLibrary->match_signal(fBus, &fSlot, kLoginService, kLoginPath, kLoginManager, "PrepareForSleep",
                               &SignalCallback, this) < 0) {
        if (fSlot != nullptr)
            fLibrary->slot_unref(fSlot);
        fLibrary->flush_close_unref(fBus);
        fSlot = nullptr;
        fBus = nullptr;
        if (inTrouble)
            inTrouble("the system bus does not let the sleep signal be watched");
        return false;
    }
    _TakeInhibitor();
    fListening.store(true, std::memory_order_release);
    return true;
}

void SleepWatcher::_TakeInhibitor()
{
    if (fBus == nullptr || fInhibitor >= 0)
        return;
    sd_bus_message* reply = nullptr;
    SystemBusError error;
    if (fLibrary->call_method(fBus, kLoginService, kLoginPath, kLoginManager, "Inhibit", &error, &reply, "ssss",
                              "sleep", "qelt", "Sleep handlers run before the system sleeps", "delay") >= 0) {
        int fd = -1;
        if (fLibrary->message_read(reply, "h", &fd) >= 0 && fd >= 0)
            fInhibitor = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    }
    fLibrary->error_free(&error);
    fLibrary->message_unref(reply);
}

void SleepWatcher::_ReleaseInhibitor()
{
    if (fInhibitor >= 0)
        ::close(fInhibitor);
    fInhibitor = -1;
}

void SleepWatcher::Announce(bool inSleeping)
{
    if (fHandler)
        fHandler(inSleeping);
    if (inSleeping) {
        // The handler has returned: the sleep may go on.
        _ReleaseInhibitor();
    } else {
        _TakeInhibitor();
    }
}

void SleepWatcher::_Run()
{
    for (;;) {
        int r = fLibrary->process(fBus, nullptr);
        if (r > 0)
            continue;
        if (r < 0)
            return;  // the connection is gone
        pollfd fds[2] = {{fLibrary->get_fd(fBus), static_cast<short>(fLibrary->get_events(fBus)), 0},
                         {fStop[0], POLLIN, 0}};
        uint64_t usec = UINT64_MAX;
        int timeout = -1;
        if (fLibrary->get_timeout(fBus, &usec) >= 0 && usec != UINT64_MAX) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const uint64_t nowUsec = static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
            timeout = usec <= nowUsec ? 0 : static_cast<int>((usec - nowUsec + 999) / 1000 > 60000 ? 60000 : (usec - nowUsec + 999) / 1000);
        }
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            return;
        if ((fds[1].revents & POLLIN) != 0)
            return;
    }
}

}  // namespace qelt::plat
