#include "process/mac/XMacSleepNotifier.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/PlatSystemBus.h"
#include "process/VProcess.h"
#include "process/VSleepNotifier.h"
#include "runtime/ILogger.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

constexpr const char* kLoginService = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";

int SignalCallback(sd_bus_message* inMessage, void* inUserData, plat::SystemBusError*)
{
    int sleeping = 0;
    const plat::SystemBusLibrary* bus = plat::GetSystemBusLibrary();
    if (inUserData == nullptr || bus == nullptr || bus->message_read(inMessage, "b", &sleeping) < 0)
        return 0;
    static_cast<XMacSleepNotifier*>(inUserData)->PrepareForSleep(sleeping != 0);
    return 0;
}

}  // namespace

XMacSleepNotifier::~XMacSleepNotifier()
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
        fLibrary->slot_unref(fSlot);
    if (fBus != nullptr)
        fLibrary->flush_close_unref(fBus);
    fSlot = nullptr;
    fBus = nullptr;
}

VError XMacSleepNotifier::Init()
{
    if (fBus != nullptr)
        return 0;
    // The bus library is loaded here, the first time a notifier starts.
    std::string reason;
    fLibrary = plat::GetSystemBusLibrary(&reason);
    if (fLibrary == nullptr) {
        // Without it nothing will be notified, as without a system bus; the
        // start-up goes on, and the log says why.
        if (VProcess::sInstance != nullptr) {
            if (ILogger* logger = VProcess::sInstance->GetLogger(); logger != nullptr)
                logger->LogMessage(EML_Warning, VString(("Sleep notifications are off: " + reason).c_str()),
                                   VString("sleepNotifications"));
        }
        return 0;
    }
    sd_bus* bus = nullptr;
    if (fLibrary->open_system(&bus) < 0 || bus == nullptr) {
        // No system bus: nothing will be notified, and that is no failure.
        if (bus != nullptr)
            fLibrary->unref(bus);
        return 0;
    }
    fBus = bus;
    if (fLibrary->match_signal(fBus, &fSlot, kLoginService, kLoginPath, kLoginManager, "PrepareForSleep",
                               &SignalCallback, this) < 0 ||
        ::pipe2(fStop, O_CLOEXEC) != 0) {
        if (fSlot != nullptr)
            fLibrary->slot_unref(fSlot);
        fLibrary->flush_close_unref(fBus);
        fSlot = nullptr;
        fBus = nullptr;
        _ThrowError(QeltError(1150));
        return QeltError(1150);
    }
    _TakeInhibitor();
    fThread = std::thread([this] { _Run(); });
    return 0;
}

void XMacSleepNotifier::_TakeInhibitor()
{
    if (fBus == nullptr || fInhibitor >= 0)
        return;
    sd_bus_message* reply = nullptr;
    plat::SystemBusError error;
    if (fLibrary->call_method(fBus, kLoginService, kLoginPath, kLoginManager, "Inhibit", &error, &reply, "ssss",
                              "sleep", "qelt", "Sleep handlers run before the system sleeps", "delay") >= 0) {
        int fd = -1;
        if (fLibrary->message_read(reply, "h", &fd) >= 0 && fd >= 0)
            fInhibitor = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    }
    fLibrary->error_free(&error);
    fLibrary->message_unref(reply);
}

void XMacSleepNotifier::_ReleaseInhibitor()
{
    if (fInhibitor >= 0)
        ::close(fInhibitor);
    fInhibitor = -1;
}

void XMacSleepNotifier::PrepareForSleep(bool inSleeping)
{
    if (inSleeping) {
        if (fOwner != nullptr)
            fOwner->HaveSleepNotification();
        // The handlers have returned: the sleep may go on.
        _ReleaseInhibitor();
    } else {
        if (fOwner != nullptr)
            fOwner->HaveWakeupNotification();
        _TakeInhibitor();
    }
}

void XMacSleepNotifier::_Run()
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

}  // namespace qelt
