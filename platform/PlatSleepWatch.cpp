#include "platform/PlatSleepWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace qelt::plat {

namespace {

constexpr const char* kLoginService = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";

int SignalCallback(sd_bus_message* inMessage, void* inUserData, sd_bus_error*)
{
    int sleeping = 0;
    if (inUserData == nullptr || sd_bus_message_read(inMessage, "b", &sleeping) < 0)
        return 0;
    static_cast<SleepWatcher*>(inUserData)->Announce(sleeping != 0);
    return 0;
}

}  // namespace

SleepWatcher::SleepWatcher(std::function<void(bool)> inHandler) : fHandler(std::move(inHandler)) {}

SleepWatcher::~SleepWatcher()
{
    if (fThread.joinable()) {
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
        sd_bus_slot_unref(fSlot);
    if (fBus != nullptr)
        sd_bus_flush_close_unref(fBus);
    fSlot = nullptr;
    fBus = nullptr;
}

int SleepWatcher::Start()
{
    if (fBus != nullptr)
        return 0;
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0 || bus == nullptr) {
        // No system bus: nothing will be announced, and that is no failure.
        if (bus != nullptr)
            sd_bus_unref(bus);
        return 0;
    }
    fBus = bus;
    if (sd_bus_match_signal(fBus, &fSlot, kLoginService, kLoginPath, kLoginManager, "PrepareForSleep",
                            &SignalCallback, this) < 0 ||
        ::pipe2(fStop, O_CLOEXEC) != 0) {
        if (fSlot != nullptr)
            sd_bus_slot_unref(fSlot);
        sd_bus_flush_close_unref(fBus);
        fSlot = nullptr;
        fBus = nullptr;
        return -1;
    }
    _TakeInhibitor();
    fThread = std::thread([this] { _Run(); });
    return 0;
}

void SleepWatcher::_TakeInhibitor()
{
    if (fBus == nullptr || fInhibitor >= 0)
        return;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_call_method(fBus, kLoginService, kLoginPath, kLoginManager, "Inhibit", &error, &reply, "ssss", "sleep",
                           "qelt", "Sleep handlers run before the system sleeps", "delay") >= 0) {
        int fd = -1;
        if (sd_bus_message_read(reply, "h", &fd) >= 0 && fd >= 0)
            fInhibitor = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
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
        int r = sd_bus_process(fBus, nullptr);
        if (r > 0)
            continue;
        if (r < 0)
            return;  // the connection is gone
        pollfd fds[2] = {{sd_bus_get_fd(fBus), static_cast<short>(sd_bus_get_events(fBus)), 0},
                         {fStop[0], POLLIN, 0}};
        uint64_t usec = UINT64_MAX;
        int timeout = -1;
        if (sd_bus_get_timeout(fBus, &usec) >= 0 && usec != UINT64_MAX) {
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
