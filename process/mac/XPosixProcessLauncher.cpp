#include "process/mac/XPosixProcessLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "files/mac/XMacFile.h"
#include "kernel/VKernelTypes.h"
#include "platform/PlatUTF8.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

extern char** environ;

namespace qelt {

namespace {

constexpr size_t kPathCandidateSize = 1024;  // PATH_MAX, the terminating zero included
constexpr int kSignalWaitMilliseconds = 5000;
constexpr int kPollStepMilliseconds = 30;

// Children that still ran when their launcher was shut down without killing
// them; every start reaps those that have ended.
struct WatchedChildren {
    std::mutex fMutex;
    std::set<pid_t> fPids;
};

WatchedChildren& Watched()
{
    static WatchedChildren sWatched;
    return sWatched;
}

void ReapWatchedChildren()
{
    WatchedChildren& watched = Watched();
    std::lock_guard<std::mutex> lock(watched.fMutex);
    for (auto it = watched.fPids.begin(); it != watched.fPids.end();) {
        int status = 0;
        pid_t r = ::waitpid(*it, &status, WNOHANG);
        if (r == 0)
            ++it;
        else
            it = watched.fPids.erase(it);
    }
}

// A text as UTF-8 in the path mode of the shared coder: units U+DC80-U+DCFF
// that stand for bytes of a file name come out as those bytes. The result
// has the exact size the text needs.
std::string ToBytes(const VString& inText)
{
    std::string bytes;
    XMacFile::EncodePathText(inText.GetCPointer(), inText.GetLength(), bytes);
    return bytes;
}

VString FromBytes(const std::string& inBytes)
{
    VString text;
    XMacFile::DecodePathBytes(inBytes.data(), inBytes.size(), text);
    return text;
}

bool IsRegularFile(const char* inPath)
{
    struct stat info;
    return ::stat(inPath, &info) == 0 && S_ISREG(info.st_mode);
}

// A pipe whose both ends are close-on-exec and above the standard
// descriptors, so that moving the child's ends onto 0, 1 and 2 never
// overwrites another end when this process runs with one of them closed.
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
        if (outFds[0] >= 0)
            ::close(outFds[0]);
        if (outFds[1] >= 0)
            ::close(outFds[1]);
        outFds[0] = outFds[1] = -1;
        return false;
    }
    return true;
}

bool SetNonBlocking(int inFd)
{
    int flags = ::fcntl(inFd, F_GETFL);
    return flags >= 0 && ::fcntl(inFd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The pidfd calls through syscall(2): the C library's header of them is not
// usable from C++ on every system.
int OpenPidFd(pid_t inPid) { return static_cast<int>(::syscall(SYS_pidfd_open, inPid, 0)); }

int SendSignalToPidFd(int inPidFd, int inSignal)
{
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, inPidFd, inSignal, nullptr, 0));
}

// The status the final reap of a shut-down records: the exit-code byte.
int32_t ExitByte(int inStatus) { return (inStatus >> 8) & 0xFF; }

}  // namespace

XPosixProcessLauncher::XPosixProcessLauncher() = default;

XPosixProcessLauncher::~XPosixProcessLauncher()
{
    // A child that still runs is left to the watched set, never killed and
    // never waited for here.
    if (fRunning && IsRunning()) {
        _ClosePipes();
        int status = 0;
        pid_t r = ::waitpid(fPid, &status, WNOHANG);
        if (r == 0) {
            WatchedChildren& watched = Watched();
            std::lock_guard<std::mutex> lock(watched.fMutex);
            watched.fPids.insert(fPid);
        }
        _Forget();
    }
    _ClosePipes();
    _Forget();
}

void XPosixProcessLauncher::SetDefaultDirectory(const VString& inPosixPath) { fDefaultDirectory = ToBytes(inPosixPath); }

void XPosixProcessLauncher::SetEnvironmentVariable(const VString& inName, const VString& inValue)
{
    if (inName.GetLength() > 0)
        fEnvironment[inName] = inValue;
}

void XPosixProcessLauncher::SetBinaryPath(const VString& inPath)
{
    fBinaryPath = ToBytes(inPath);
    if (fArguments.empty())
        fArguments.push_back(inPath);
    else
        fArguments[0] = inPath;
}

void XPosixProcessLauncher::AddArgument(const VString& inArgument, bool inQuote)
{
    if (inArgument.GetLength() == 0)
        return;
    if (!inQuote) {
        fArguments.push_back(inArgument);
        return;
    }
    VString quoted("\"");
    quoted.AppendString(inArgument);
    quoted.AppendUniChar(u'"');
    fArguments.push_back(quoted);
}

// Words are separated by blanks (spaces only). A word that opens with a
// double or single quote runs to the same quote, or to the end; the quotes
// are dropped and a backslash inside makes the next character literal. Any
// other word runs to the next blank; from its third character on, a
// backslash makes the next character literal (a blank included). A
// backslash that ends the text is dropped.
std::vector<std::string> XPosixProcessLauncher::SplitCommandLine(const std::string& inText)
{
    std::vector<std::string> words;
    const size_t n = inText.size();
    size_t i = 0;
    while (i < n) {
        while (i < n && inText[i] == ' ')
            ++i;
        if (i >= n)
            break;
        std::string word;
        const char first = inText[i];
        if (first == '"' || first == '\'') {
            ++i;
            while (i < n && inText[i] != first) {
                if (inText[i] == '\\') {
                    ++i;
                    if (i < n)
                        word.push_back(inText[i++]);
                } else {
                    word.push_back(inText[i++]);
                }
            }
            if (i < n)
                ++i;  // the closing quote
        } else {
            const size_t start = i;
            while (i < n && inText[i] != ' ') {
                if (inText[i] == '\\' && i - start >= 2) {
                    ++i;
                    if (i < n)
                        word.push_back(inText[i++]);
                } else {
                    word.push_back(inText[i++]);
                }
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

void XPosixProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& inCommandLine)
{
    fArguments.clear();
    if (inCommandLine.GetLength() == 0)
        return;
    std::vector<std::string> words = SplitCommandLine(ToBytes(inCommandLine));
    for (const std::string& word : words)
        fArguments.push_back(FromBytes(word));
    if (!words.empty())
        fBinaryPath = words.front();
}

void XPosixProcessLauncher::_FindBinary()
{
    if (fBinaryPath.empty() || fBinaryPath[0] == '/')
        return;
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        path = std::getenv("path");
    if (path == nullptr || IsRegularFile(fBinaryPath.c_str()))
        return;
    const char* entry = path;
    for (;;) {
        const char* end = std::strchr(entry, ':');
        const size_t length = end != nullptr ? static_cast<size_t>(end - entry) : std::strlen(entry);
        // A candidate that does not fit a path is skipped, never cut.
        if (length + 1 + fBinaryPath.size() < kPathCandidateSize) {
            std::string candidate(entry, length);
            candidate.push_back('/');
            candidate.append(fBinaryPath);
            if (IsRegularFile(candidate.c_str())) {
                fBinaryPath = candidate;
                return;
            }
        }
        if (end == nullptr)
            return;
        entry = end + 1;
    }
}

void XPosixProcessLauncher::_CloseFd(int& ioFd)
{
    if (ioFd >= 0) {
        ::close(ioFd);
        ioFd = -1;
    }
}

void XPosixProcessLauncher::_ClosePipes()
{
    for (int* pipe : {fStdIn, fStdOut, fStdErr}) {
        _CloseFd(pipe[0]);
        _CloseFd(pipe[1]);
    }
}

void XPosixProcessLauncher::_Forget()
{
    fRunning = false;
    _CloseFd(fPidFd);
}

int32_t XPosixProcessLauncher::Start(const VEnvironmentVariables& inEnvironment)
{
    if (fRunning)
        return -1;
    fAbort = false;
    fExitStatus = 0;
    fPid = 0;
    fGroup = 0;
    _ClosePipes();
    _FindBinary();
    if (fBinaryPath.empty())
        return ENOENT;

    int status[2] = {-1, -1};
    if (!MakePipe(status))
        return -1;
    if ((fRedirectInput && !MakePipe(fStdIn)) ||
        (fRedirectOutput && (!MakePipe(fStdOut) || !MakePipe(fStdErr) || !SetNonBlocking(fStdOut[0]) ||
                             !SetNonBlocking(fStdErr[0])))) {
        _CloseFd(status[0]);
        _CloseFd(status[1]);
        _ClosePipes();
        return -1;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int error = ::posix_spawn_file_actions_init(&actions);
    bool actionsMade = error == 0;
    bool attributesMade = false;
    if (error == 0 && fRedirectInput)
        error = ::posix_spawn_file_actions_adddup2(&actions, fStdIn[0], 0);
    if (error == 0 && fRedirectOutput)
        error = ::posix_spawn_file_actions_adddup2(&actions, fStdOut[1], 1);
    if (error == 0 && fRedirectOutput)
        error = ::posix_spawn_file_actions_adddup2(&actions, fStdErr[1], 2);
    // Only the descriptors named above reach the child.
    if (error == 0)
        error = ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (error == 0 && !fDefaultDirectory.empty())
        error = ::posix_spawn_file_actions_addchdir_np(&actions, fDefaultDirectory.c_str());
    if (error == 0) {
        error = ::posix_spawnattr_init(&attributes);
        attributesMade = error == 0;
    }
    if (error == 0)
        error = ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    if (error == 0)
        error = ::posix_spawnattr_setpgroup(&attributes, 0);
    if (error == 0) {
        sigset_t empty;
        sigemptyset(&empty);
        error = ::posix_spawnattr_setsigmask(&attributes, &empty);
    }
    if (error != 0) {
        ::syslog(LOG_ERR, "init_pipes error");
        if (actionsMade)
            ::posix_spawn_file_actions_destroy(&actions);
        if (attributesMade)
            ::posix_spawnattr_destroy(&attributes);
        _CloseFd(status[0]);
        _CloseFd(status[1]);
        _ClosePipes();
        return error;
    }

    std::vector<std::string> arguments;
    arguments.reserve(fArguments.size());
    for (const VString& argument : fArguments)
        arguments.push_back(ToBytes(argument));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    ReapWatchedChildren();

    std::vector<std::string> variables;
    std::vector<char*> envp;
    char** childEnvironment = environ;
    if (!inEnvironment.empty()) {
        for (const auto& [name, value] : inEnvironment) {
            if (name.GetLength() == 0)
                continue;
            variables.push_back(ToBytes(name) + "=" + ToBytes(value));
        }
        for (std::string& variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        childEnvironment = envp.data();
    }

    fRunning = true;
    pid_t pid = 0;
    error = ::posix_spawn(&pid, fBinaryPath.c_str(), &actions, &attributes, argv.data(), childEnvironment);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        fRunning = false;
        _CloseFd(status[0]);
        _CloseFd(status[1]);
        _ClosePipes();
        return error;
    }
    fPid = pid;
    fGroup = pid;
    fPidFd = OpenPidFd(pid);
    if (_TimeoutArmed())
        fDeadline = Clock::now() + std::chrono::milliseconds(fTimeout);

    _CloseFd(status[1]);
    _CloseFd(fStdIn[0]);
    _CloseFd(fStdOut[1]);
    _CloseFd(fStdErr[1]);
    char bytes[4];
    ssize_t got;
    do {
        got = ::read(status[0], bytes, sizeof(bytes));
    } while (got < 0 && errno == EINTR);
    _CloseFd(status[0]);
    return got == 0 ? 0 : -1;
}

bool XPosixProcessLauncher::IsRunning()
{
    if (!fRunning)
        return false;
    int status = 0;
    pid_t r = ::waitpid(fPid, &status, WNOHANG | WUNTRACED | WCONTINUED);
    if (r == 0)
        return true;
    if (r == fPid) {
        if (WIFEXITED(status))
            fExitStatus = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            fExitStatus = -127;
        else
            fExitStatus = 0;
    } else {
        fExitStatus = 0;
    }
    _Forget();
    return false;
}

int XPosixProcessLauncher::WriteToChild(const void* inData, uint32_t inSize, bool inClose)
{
    if (!fRunning || fStdIn[1] < 0)
        return -1;
    VTaskMgr::Yield();
    // A child that closed its input must not end this process with SIGPIPE:
    // the signal is blocked for the write and a pending one is taken back.
    sigset_t pipeSet, previous;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSet, &previous);
    ssize_t written;
    do {
        written = ::write(fStdIn[1], inData, inSize);
    } while (written < 0 && errno == EINTR);
    if (written < 0 && errno == EPIPE && !sigismember(&previous, SIGPIPE)) {
        struct timespec none = {0, 0};
        while (::sigtimedwait(&pipeSet, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (inClose)
        CloseStandardInput();
    return written < 0 ? -1 : static_cast<int>(written);
}

void XPosixProcessLauncher::CloseStandardInput() { _CloseFd(fStdIn[1]); }

namespace {

int ReadPipe(int inFd, char* outBuffer, uint32_t inSize)
{
    if (inFd < 0)
        return -1;
    VTaskMgr::Yield();
    ssize_t got;
    do {
        got = ::read(inFd, outBuffer, inSize);
    } while (got < 0 && errno == EINTR);
    if (got > 0)
        return static_cast<int>(got);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return 0;
    return -1;
}

}  // namespace

int XPosixProcessLauncher::ReadFromChild(char* outBuffer, uint32_t inSize)
{
    return ReadPipe(fStdOut[0], outBuffer, inSize);
}

int XPosixProcessLauncher::ReadErrorFromChild(char* outBuffer, uint32_t inSize)
{
    return ReadPipe(fStdErr[0], outBuffer, inSize);
}

int XPosixProcessLauncher::WaitForData()
{
    pollfd fds[2];
    nfds_t count = 0;
    int bits[2];
    if (fStdOut[0] >= 0) {
        fds[count] = {fStdOut[0], POLLIN, 0};
        bits[count++] = 1;
    }
    if (fStdErr[0] >= 0) {
        fds[count] = {fStdErr[0], POLLIN, 0};
        bits[count++] = 2;
    }
    if (count == 0)
        return 0;
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    sigdelset(&mask, SIGCHLD);
    if (::ppoll(fds, count, nullptr, &mask) < 0) {
        if (errno == EINTR) {
            IsRunning();
            return 4;
        }
        return 0;
    }
    int result = 0;
    for (nfds_t i = 0; i < count; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            result |= bits[i];
    }
    return result;
}

int XPosixProcessLauncher::_PollTimeout() const
{
    if (!_TimeoutArmed() || fAbort)
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(fDeadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    // Rounded up, so that a wake-up never comes just before the deadline.
    return static_cast<int>(left) + 1;
}

void XPosixProcessLauncher::_FireTimeout()
{
    fAbort = true;
    // An unreaped child keeps its pid and its group's id: neither can name
    // another process yet.
    if (!fRunning)
        return;
    if (fPidFd >= 0)
        SendSignalToPidFd(fPidFd, SIGKILL);
    else
        ::kill(fPid, SIGKILL);
    if (fGroup > 0)
        ::killpg(fGroup, SIGKILL);
}

void XPosixProcessLauncher::_ReadToEnd(const VProcessLauncher::DataHandler& inOnOutput,
                                       const VProcessLauncher::DataHandler& inOnError)
{
    char buffer[4096];
    int* ends[2] = {&fStdOut[0], &fStdErr[0]};
    const VProcessLauncher::DataHandler* handlers[2] = {&inOnOutput, &inOnError};
    bool open[2] = {fStdOut[0] >= 0, fStdErr[0] >= 0};
    while (open[0] || open[1]) {
        const int timeout = _PollTimeout();
        if (timeout == 0) {
            // Out of time: the group is killed and the reading ends, even
            // when a process outside the group keeps the pipes open.
            _FireTimeout();
            return;
        }
        pollfd fds[2];
        int which[2];
        nfds_t count = 0;
        for (int i = 0; i < 2; ++i) {
            if (open[i]) {
                fds[count] = {*ends[i], POLLIN, 0};
                which[count++] = i;
            }
        }
        int ready = ::poll(fds, count, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (nfds_t k = 0; k < count; ++k) {
            if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0)
                continue;
            const int i = which[k];
            ssize_t got;
            do {
                got = ::read(*ends[i], buffer, sizeof(buffer));
            } while (got < 0 && errno == EINTR);
            if (got > 0) {
                if (*handlers[i])
                    (*handlers[i])(buffer, static_cast<size_t>(got));
            } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                open[i] = false;
            }
        }
    }
}

void XPosixProcessLauncher::CollectOutput(VMemoryBufferDefault* outOutput, VMemoryBufferDefault* outError)
{
    auto into = [](VMemoryBufferDefault* inBuffer) -> VProcessLauncher::DataHandler {
        if (inBuffer == nullptr)
            return nullptr;
        // Bytes that cannot be stored are dropped; the reading goes on.
        return [inBuffer](const void* inBytes, size_t inCount) { inBuffer->AppendData(inBytes, inCount); };
    };
    _ReadToEnd(into(outOutput), into(outError));
}

void XPosixProcessLauncher::ReadFromChildAndShutdown(const VProcessLauncher::DataHandler& inOnOutput,
                                                     const VProcessLauncher::DataHandler& inOnError)
{
    _ReadToEnd(inOnOutput, inOnError);
    _CloseFd(fStdOut[0]);
    _CloseFd(fStdErr[0]);
    Shutdown(false, false);
}

bool XPosixProcessLauncher::_WaitForEnd(int inMilliseconds)
{
    if (inMilliseconds <= 0)
        inMilliseconds = kPollStepMilliseconds;
    const auto end = Clock::now() + std::chrono::milliseconds(inMilliseconds);
    while (IsRunning()) {
        if (Clock::now() >= end)
            return false;
        VTask::Sleep(kPollStepMilliseconds);
        VTaskMgr::Yield();
    }
    return true;
}

int32_t XPosixProcessLauncher::Shutdown(bool inKillChild, bool inKillGroup)
{
    // Waits for the child to end, up to the deadline.
    if (fTimeout > 0 && fRunning) {
        for (;;) {
            const int timeout = _PollTimeout();
            if (timeout == 0) {
                _FireTimeout();
                continue;
            }
            if (fPidFd < 0) {
                if (!IsRunning())
                    break;
                ::poll(nullptr, 0, timeout < 0 || timeout > kPollStepMilliseconds ? kPollStepMilliseconds : timeout);
                continue;
            }
            pollfd fd = {fPidFd, POLLIN, 0};
            int ready = ::poll(&fd, 1, timeout);
            if (ready < 0 && errno != EINTR)
                break;
            if (ready > 0)
                break;
        }
    }

    if (fAbort) {
        fAbort = false;
        _ThrowError(QeltError(8));
    }

    if (fRunning && IsRunning()) {
        _ClosePipes();
        int status = 0;
        if (inKillChild) {
            const int signals[3] = {SIGTERM, SIGQUIT, SIGKILL};
            for (int signal : signals) {
                if (!IsRunning())
                    break;
                if (::kill(fPid, signal) != 0 && errno != ESRCH)
                    continue;
                if (_WaitForEnd(kSignalWaitMilliseconds))
                    break;
            }
            if (fRunning && ::waitpid(fPid, &status, WNOHANG) == fPid)
                fExitStatus = ExitByte(status);
        } else {
            pid_t r = ::waitpid(fPid, &status, WNOHANG);
            if (r == 0) {
                WatchedChildren& watched = Watched();
                std::lock_guard<std::mutex> lock(watched.fMutex);
                watched.fPids.insert(fPid);
            } else if (r == fPid) {
                fExitStatus = ExitByte(status);
            }
        }
        _Forget();
    }

    if (inKillGroup && fKillProcessTree && fGroup > 0)
        ::killpg(fGroup, SIGKILL);
    return 0;
}

bool XPosixProcessLauncher::KillProcess(pid_t inPid)
{
    if (inPid < 0)
        return false;
    return ::kill(inPid, SIGTERM) == 0;
}

}  // namespace qelt
