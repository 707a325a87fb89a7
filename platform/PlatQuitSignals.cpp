#include "platform/PlatQuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace qelt::plat {

namespace {

std::atomic<int> sPipeWrite{-1};
int sPipeRead = -1;
std::atomic<bool (*)()> sActive{nullptr};
// The byte that ends a wait (no signal has number 0).
constexpr unsigned char kStopByte = 0;

void WriteByte(unsigned char inByte)
{
    int fd = sPipeWrite.load();
    if (fd >= 0) {
        ssize_t written = ::write(fd, &inByte, 1);
        (void)written;
    }
}

// Async-signal-safe: lock-free atomic loads, the caller's test, write(2).
void HandleSignal(int inSignal)
{
    int savedErrno = errno;
    bool (*active)() = sActive.load();
    if (active != nullptr && active()) {
        if (inSignal == SIGINT) {
            static const char kNotice[] = "\n (ctrl-c has been received - quit)\n\n";
            ssize_t written = ::write(1, kNotice, sizeof(kNotice) - 1);
            (void)written;
        }
        if (inSignal == SIGTERM || inSignal == SIGINT || inSignal == SIGQUIT)
            WriteByte(static_cast<unsigned char>(inSignal));
    }
    errno = savedErrno;
}

bool Install(int inSignal, int inBlocked1, int inBlocked2, int inFlags)
{
    struct sigaction action = {};
    action.sa_handler = HandleSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, inBlocked1);
    sigaddset(&action.sa_mask, inBlocked2);
    action.sa_flags = inFlags;
    return ::sigaction(inSignal, &action, nullptr) == 0;
}

}  // namespace

bool OpenQuitSignalPipe()
{
    static std::once_flag sOnce;
    static bool sMade = false;
    std::call_once(sOnce, [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        // Only the handlers' end is non-blocking: a full pipe drops a
        // signal rather than blocking the handler; the reader blocks.
        int flags = ::fcntl(fds[1], F_GETFL);
        if (flags < 0 || ::fcntl(fds[1], F_SETFL, flags | O_NONBLOCK) != 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return;
        }
        sPipeRead = fds[0];
        sPipeWrite.store(fds[1]);
        sMade = true;
    });
    return sMade;
}

bool InstallQuitSignalHandlers(bool (*inActive)())
{
    sActive.store(inActive);
    return Install(SIGTERM, SIGINT, SIGQUIT, SA_RESTART) && Install(SIGINT, SIGQUIT, SIGTERM, SA_RESTART) &&
           Install(SIGQUIT, SIGINT, SIGTERM, SA_RESTART | SA_RESETHAND);
}

bool WaitForQuitSignal()
{
    for (;;) {
        unsigned char byte = 0;
        ssize_t n = ::read(sPipeRead, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && byte != kStopByte;
    }
}

void StopQuitSignalWait() { WriteByte(kStopByte); }

}  // namespace qelt::plat
