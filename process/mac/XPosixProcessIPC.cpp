#include "process/mac/XPosixProcessIPC.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#include "process/VProcess.h"

namespace qelt {

namespace {

// The self-pipe, made once and kept for the life of the process, so that a
// handler never writes into a descriptor that was closed and reused.
std::atomic<int> sPipeWrite{-1};
int sPipeRead = -1;
// The byte that tells the reading thread to stop (no signal has number 0).
constexpr unsigned char kStopByte = 0;

bool MakePipe()
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

void WriteByte(unsigned char inByte)
{
    int fd = sPipeWrite.load();
    if (fd >= 0) {
        ssize_t written = ::write(fd, &inByte, 1);
        (void)written;
    }
}

// Async-signal-safe: a lock-free atomic load, write(2), nothing else.
void HandleSignal(int inSignal)
{
    int savedErrno = errno;
    if (VProcess::sInstance != nullptr) {
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

XPosixProcessIPC::~XPosixProcessIPC()
{
    if (fReader.joinable()) {
        WriteByte(kStopByte);
        fReader.join();
    }
}

bool XPosixProcessIPC::Init()
{
    if (!MakePipe())
        return false;
    if (!fReader.joinable())
        fReader = std::thread([this] { _ReadSignals(); });
    return Install(SIGTERM, SIGINT, SIGQUIT, SA_RESTART) && Install(SIGINT, SIGQUIT, SIGTERM, SA_RESTART) &&
           Install(SIGQUIT, SIGINT, SIGTERM, SA_RESTART | SA_RESETHAND);
}

void XPosixProcessIPC::_ReadSignals()
{
    for (;;) {
        unsigned char byte = 0;
        ssize_t n = ::read(sPipeRead, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || byte == kStopByte)
            return;
        if (VProcess::sInstance != nullptr)
            VProcess::sInstance->QuitAsynchronously(nullptr);
    }
}

}  // namespace qelt
