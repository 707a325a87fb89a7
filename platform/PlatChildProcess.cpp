#include "platform/PlatChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

extern char** environ;

namespace qelt::plat {

namespace {

void CloseEnd(int& ioFd)
{
    if (ioFd >= 0) {
        ::close(ioFd);
        ioFd = -1;
    }
}

// A pipe whose both ends are close-on-exec and above the standard
// descriptors.
bool MakePipe(int outFds[2])
{
    if (::pipe2(outFds, O_CLOEXEC) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        if (outFds[i] < 3) {
            int moved = ::fcntl(outFds[i], F_DUPFD_CLOEXEC, 3);
            ::close(outFds[i]);
            outFds[i] = moved;
        }
    }
    if (outFds[0] < 0 || outFds[1] < 0) {
        CloseEnd(outFds[0]);
        CloseEnd(outFds[1]);
        return false;
    }
    return true;
}

void ClosePipe(int ioFds[2])
{
    CloseEnd(ioFds[0]);
    CloseEnd(ioFds[1]);
}

// The pidfd calls through syscall(2): the C library's header of them is not
// usable from C++ on every system.
int OpenPidFd(pid_t inPid) { return static_cast<int>(::syscall(SYS_pidfd_open, inPid, 0)); }

int SendSignalToPidFd(int inPidFd, int inSignal)
{
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, inPidFd, inSignal, nullptr, 0));
}

// While it lives, SIGPIPE is blocked on this thread; one raised meanwhile by
// a write to a child that closed its input is taken back, so that it never
// ends this process.
class StNoSigPipe {
public:
    StNoSigPipe()
    {
        sigemptyset(&fPipe);
        sigaddset(&fPipe, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &fPipe, &fPrevious);
    }
    ~StNoSigPipe()
    {
        if (!sigismember(&fPrevious, SIGPIPE)) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE)) {
                struct timespec none = {0, 0};
                while (::sigtimedwait(&fPipe, nullptr, &none) < 0 && errno == EINTR) {
                }
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &fPrevious, nullptr);
    }
    StNoSigPipe(const StNoSigPipe&) = delete;
    StNoSigPipe& operator=(const StNoSigPipe&) = delete;

private:
    sigset_t fPipe;
    sigset_t fPrevious;
};

int SignalNumber(ProcessSignal inSignal)
{
    switch (inSignal) {
        case ProcessSignal::Terminate:
            return SIGTERM;
        case ProcessSignal::Quit:
            return SIGQUIT;
        case ProcessSignal::Kill:
            break;
    }
    return SIGKILL;
}

}  // namespace

bool SetPipeNonBlocking(int inFd)
{
    int flags = ::fcntl(inFd, F_GETFL);
    return flags >= 0 && ::fcntl(inFd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int StartChild(const ChildStart& inStart, ChildHandles& outHandles)
{
    outHandles = ChildHandles();
    int status[2] = {-1, -1};
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    int error[2] = {-1, -1};
    auto closeAll = [&] {
        ClosePipe(status);
        ClosePipe(input);
        ClosePipe(output);
        ClosePipe(error);
    };
    if (!MakePipe(status))
        return -1;
    if ((inStart.pipeInput && !MakePipe(input)) ||
        (inStart.pipeOutput && (!MakePipe(output) || !MakePipe(error) || !SetPipeNonBlocking(output[0]) ||
                                !SetPipeNonBlocking(error[0])))) {
        closeAll();
        return -1;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int result = ::posix_spawn_file_actions_init(&actions);
    bool actionsMade = result == 0;
    bool attributesMade = false;
    if (result == 0 && inStart.pipeInput)
        result = ::posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    if (result == 0 && inStart.pipeOutput)
        result = ::posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    if (result == 0 && inStart.pipeOutput)
        result = ::posix_spawn_file_actions_adddup2(&actions, error[1], 2);
    // Only the descriptors named above reach the child.
    if (result == 0)
        result = ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (result == 0 && inStart.folder != nullptr && inStart.folder[0] != 0)
        result = ::posix_spawn_file_actions_addchdir_np(&actions, inStart.folder);
    if (result == 0) {
        result = ::posix_spawnattr_init(&attributes);
        attributesMade = result == 0;
    }
    if (result == 0)
        result = ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    if (result == 0)
        result = ::posix_spawnattr_setpgroup(&attributes, 0);
    if (result == 0) {
        sigset_t empty;
        sigemptyset(&empty);
        result = ::posix_spawnattr_setsigmask(&attributes, &empty);
    }
    if (result != 0) {
        ::syslog(LOG_ERR, "init_pipes error");
        if (actionsMade)
            ::posix_spawn_file_actions_destroy(&actions);
        if (attributesMade)
            ::posix_spawnattr_destroy(&attributes);
        closeAll();
        return result;
    }

    pid_t pid = 0;
    result = ::posix_spawn(&pid, inStart.path, &actions, &attributes, inStart.arguments,
                           inStart.environment != nullptr ? inStart.environment : environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        closeAll();
        return result;
    }
    outHandles.pid = pid;
    outHandles.pidFd = OpenPidFd(pid);

    // The child's ends are its own now; the status pipe's writing end closes
    // in the child at its exec, which the read below waits for.
    CloseEnd(status[1]);
    CloseEnd(input[0]);
    CloseEnd(output[1]);
    CloseEnd(error[1]);
    outHandles.input = input[1];
    outHandles.output = output[0];
    outHandles.error = error[0];
    char bytes[4];
    ssize_t got;
    do {
        got = ::read(status[0], bytes, sizeof(bytes));
    } while (got < 0 && errno == EINTR);
    CloseEnd(status[0]);
    return got == 0 ? 0 : -1;
}

ChildChange LookAtChild(int inPid, bool inStops, int& outExitCode)
{
    if (inPid <= 0)
        return ChildChange::Gone;
    int status = 0;
    pid_t r = ::waitpid(inPid, &status, WNOHANG | (inStops ? WUNTRACED | WCONTINUED : 0));
    if (r == 0)
        return ChildChange::Running;
    if (r != inPid)
        return ChildChange::Gone;
    if (WIFEXITED(status)) {
        outExitCode = WEXITSTATUS(status);
        return ChildChange::Exited;
    }
    if (WIFSIGNALED(status))
        return ChildChange::Signalled;
    return ChildChange::StoppedOrContinued;
}

int SendSignal(int inPid, ProcessSignal inSignal)
{
    return ::kill(inPid, SignalNumber(inSignal)) == 0 ? 0 : errno;
}

void KillChild(int inPid, int inPidFd)
{
    if (inPidFd >= 0)
        SendSignalToPidFd(inPidFd, SIGKILL);
    else if (inPid > 0)
        ::kill(inPid, SIGKILL);
}

void KillProcessGroup(int inGroup)
{
    if (inGroup > 0)
        ::killpg(inGroup, SIGKILL);
}

PipeRead ReadPipe(int inFd, void* outBuffer, size_t inSize, size_t& outCount)
{
    outCount = 0;
    ssize_t got;
    do {
        got = ::read(inFd, outBuffer, inSize);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        outCount = static_cast<size_t>(got);
        return PipeRead::Data;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return PipeRead::Empty;
    return PipeRead::End;
}

int WritePipe(int inFd, const void* inData, size_t inSize, size_t& outCount)
{
    outCount = 0;
    StNoSigPipe noSigPipe;
    ssize_t put;
    do {
        put = ::write(inFd, inData, inSize);
    } while (put < 0 && errno == EINTR);
    if (put < 0)
        return errno;
    outCount = static_cast<size_t>(put);
    return 0;
}

int WaitForDescriptors(DescriptorWatch* ioWatches, size_t inCount, int inMilliseconds, bool inWakeOnChild)
{
    if (inCount > kMaxWatches)
        return -2;
    pollfd fds[kMaxWatches];
    for (size_t i = 0; i < inCount; ++i) {
        fds[i] = {ioWatches[i].fd, static_cast<short>(ioWatches[i].writing ? POLLOUT : POLLIN), 0};
        ioWatches[i].ready = false;
    }
    int ready;
    if (inWakeOnChild) {
        sigset_t mask;
        ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        sigdelset(&mask, SIGCHLD);
        struct timespec limit = {inMilliseconds / 1000, static_cast<long>(inMilliseconds % 1000) * 1000000L};
        ready = ::ppoll(fds, inCount, inMilliseconds < 0 ? nullptr : &limit, &mask);
    } else {
        ready = ::poll(fds, inCount, inMilliseconds);
    }
    if (ready < 0)
        return errno == EINTR ? -1 : -2;
    for (size_t i = 0; i < inCount; ++i) {
        const short events = fds[i].revents;
        ioWatches[i].ready = ioWatches[i].writing ? events != 0
                                                  : (events & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return ready;
}

}  // namespace qelt::plat
