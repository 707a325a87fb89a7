#include "process/mac/XPosixProcessLauncher.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "files/mac/XMacFile.h"
#include "kernel/VKernelTypes.h"
#include "platform/PlatChildProcess.h"
#include "platform/PlatFile.h"
#include "platform/PlatProcesses.h"
#include "platform/PlatTime.h"
#include "platform/PlatUTF8.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

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
        if (plat::WaitForChild(*it, false) == plat::ChildWait::Running)
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
    plat::EntryInfo info;
    return plat::GetEntryInfo(inPath, true, info) == 0 && info.kind == plat::EntryKind::File;
}

// Puts a child that still runs into the watched set.
void WatchChild(pid_t inPid)
{
    WatchedChildren& watched = Watched();
    std::lock_guard<std::mutex> lock(watched.fMutex);
    watched.fPids.insert(inPid);
}

}  // namespace

XPosixProcessLauncher::XPosixProcessLauncher() = default;

XPosixProcessLauncher::~XPosixProcessLauncher()
{
    // A child that still runs is left to the watched set, never killed and
    // never waited for here.
    if (fRunning && IsRunning()) {
        _ClosePipes();
        if (plat::WaitForChild(fPid, false) == plat::ChildWait::Running)
            WatchChild(fPid);
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
        plat::CloseFile(ioFd);
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
    plat::ChildStart start;
    if (!inEnvironment.empty()) {
        for (const auto& [name, value] : inEnvironment) {
            if (name.GetLength() == 0)
                continue;
            variables.push_back(ToBytes(name) + "=" + ToBytes(value));
        }
        for (std::string& variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        start.environment = envp.data();
    }
    start.path = fBinaryPath.c_str();
    start.arguments = argv.data();
    start.folder = fDefaultDirectory.c_str();
    start.pipeInput = fRedirectInput;
    start.pipeOutput = fRedirectOutput;

    fRunning = true;
    plat::ChildHandles child;
    const int error = plat::StartChild(start, child);
    if (child.pid <= 0) {
        fRunning = false;
        return error;
    }
    fPid = child.pid;
    fGroup = child.pid;
    fPidFd = child.pidFd;
    fStdIn[1] = child.input;
    fStdOut[0] = child.output;
    fStdErr[0] = child.error;
    if (_TimeoutArmed())
        fDeadline = Clock::now() + std::chrono::milliseconds(fTimeout);
    return error;
}

bool XPosixProcessLauncher::IsRunning()
{
    if (!fRunning)
        return false;
    int exitCode = 0;
    switch (plat::LookAtChild(fPid, true, exitCode)) {
        case plat::ChildChange::Running:
            return true;
        case plat::ChildChange::Exited:
            fExitStatus = exitCode;
            break;
        case plat::ChildChange::Signalled:
            fExitStatus = -127;
            break;
        case plat::ChildChange::StoppedOrContinued:
        case plat::ChildChange::Gone:
            fExitStatus = 0;
            break;
    }
    _Forget();
    return false;
}

int XPosixProcessLauncher::WriteToChild(const void* inData, uint32_t inSize, bool inClose)
{
    if (!fRunning || fStdIn[1] < 0)
        return -1;
    VTaskMgr::Yield();
    size_t written = 0;
    const int error = plat::WritePipe(fStdIn[1], inData, inSize, written);
    if (inClose)
        CloseStandardInput();
    return error != 0 ? -1 : static_cast<int>(written);
}

void XPosixProcessLauncher::CloseStandardInput() { _CloseFd(fStdIn[1]); }

namespace {

int ReadPipe(int inFd, char* outBuffer, uint32_t inSize)
{
    if (inFd < 0)
        return -1;
    VTaskMgr::Yield();
    size_t got = 0;
    switch (plat::ReadPipe(inFd, outBuffer, inSize, got)) {
        case plat::PipeRead::Data:
            return static_cast<int>(got);
        case plat::PipeRead::Empty:
            return 0;
        case plat::PipeRead::End:
            break;
    }
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
    plat::DescriptorWatch watches[2];
    size_t count = 0;
    int bits[2];
    if (fStdOut[0] >= 0) {
        watches[count].fd = fStdOut[0];
        bits[count++] = 1;
    }
    if (fStdErr[0] >= 0) {
        watches[count].fd = fStdErr[0];
        bits[count++] = 2;
    }
    if (count == 0)
        return 0;
    // A child's change of state ends the wait too.
    const int ready = plat::WaitForDescriptors(watches, count, -1, true);
    if (ready == -1) {
        IsRunning();
        return 4;
    }
    if (ready < 0)
        return 0;
    int result = 0;
    for (size_t i = 0; i < count; ++i) {
        if (watches[i].ready)
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
    plat::KillChild(fPid, fPidFd);
    plat::KillProcessGroup(fGroup);
}

void XPosixProcessLauncher::_ReadToEnd(const VProcessLauncher::DataHandler& inOnOutput,
                                       const VProcessLauncher::DataHandler& inOnError, const char* inInput,
                                       size_t inInputSize)
{
    char buffer[4096];
    int* ends[2] = {&fStdOut[0], &fStdErr[0]};
    const VProcessLauncher::DataHandler* handlers[2] = {&inOnOutput, &inOnError};
    bool open[2] = {fStdOut[0] >= 0, fStdErr[0] >= 0};
    size_t written = 0;
    if (inInput == nullptr || inInputSize == 0 || fStdIn[1] < 0 || !plat::SetPipeNonBlocking(fStdIn[1]))
        CloseStandardInput();
    while (open[0] || open[1] || fStdIn[1] >= 0) {
        const int timeout = _PollTimeout();
        if (timeout == 0) {
            // Out of time: the group is killed and the reading ends, even
            // when a process outside the group keeps the pipes open.
            _FireTimeout();
            CloseStandardInput();
            return;
        }
        plat::DescriptorWatch watches[3];
        int which[3];
        size_t count = 0;
        for (int i = 0; i < 2; ++i) {
            if (open[i]) {
                watches[count].fd = *ends[i];
                which[count++] = i;
            }
        }
        if (fStdIn[1] >= 0) {
            watches[count].fd = fStdIn[1];
            watches[count].writing = true;
            which[count++] = 2;
        }
        const int ready = plat::WaitForDescriptors(watches, count, timeout);
        if (ready == -1)
            continue;
        if (ready < 0) {
            CloseStandardInput();
            return;
        }
        for (size_t k = 0; k < count; ++k) {
            if (!watches[k].ready)
                continue;
            if (which[k] == 2) {
                // As much input as the pipe takes; the rest at the next turn.
                size_t put = 0;
                const int error = plat::WritePipe(fStdIn[1], inInput + written, inInputSize - written, put);
                written += put;
                if (written >= inInputSize || (error != 0 && error != EAGAIN && error != EWOULDBLOCK))
                    CloseStandardInput();
                continue;
            }
            const int i = which[k];
            size_t got = 0;
            switch (plat::ReadPipe(*ends[i], buffer, sizeof(buffer), got)) {
                case plat::PipeRead::Data:
                    if (*handlers[i])
                        (*handlers[i])(buffer, got);
                    break;
                case plat::PipeRead::Empty:
                    break;
                case plat::PipeRead::End:
                    open[i] = false;
                    break;
            }
        }
    }
}

void XPosixProcessLauncher::CollectOutput(const void* inInput, size_t inInputSize, VMemoryBufferDefault* outOutput,
                                          VMemoryBufferDefault* outError)
{
    auto into = [](VMemoryBufferDefault* inBuffer) -> VProcessLauncher::DataHandler {
        if (inBuffer == nullptr)
            return nullptr;
        // Bytes that cannot be stored are dropped; the reading goes on.
        return [inBuffer](const void* inBytes, size_t inCount) { inBuffer->AppendData(inBytes, inCount); };
    };
    _ReadToEnd(into(outOutput), into(outError), static_cast<const char*>(inInput), inInputSize);
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
                plat::SleepMilliseconds(timeout < 0 || timeout > kPollStepMilliseconds ? kPollStepMilliseconds : timeout);
                continue;
            }
            // The pidfd reads ready once the child has ended.
            plat::DescriptorWatch child;
            child.fd = fPidFd;
            const int ready = plat::WaitForDescriptors(&child, 1, timeout);
            if (ready == -2 || ready > 0)
                break;
        }
    }

    if (fAbort) {
        fAbort = false;
        _ThrowError(QeltError(8));
    }

    if (fRunning && IsRunning()) {
        _ClosePipes();
        // The final reap records the exit code only (0 for a child a signal ended).
        int exitCode = 0;
        if (inKillChild) {
            const plat::ProcessSignal signals[3] = {plat::ProcessSignal::Terminate, plat::ProcessSignal::Quit,
                                                    plat::ProcessSignal::Kill};
            for (plat::ProcessSignal signal : signals) {
                if (!IsRunning())
                    break;
                const int error = plat::SendSignal(fPid, signal);
                if (error != 0 && error != ESRCH)
                    continue;
                if (_WaitForEnd(kSignalWaitMilliseconds))
                    break;
            }
            if (fRunning) {
                const plat::ChildChange change = plat::LookAtChild(fPid, false, exitCode);
                if (change == plat::ChildChange::Exited || change == plat::ChildChange::Signalled)
                    fExitStatus = exitCode;
            }
        } else {
            const plat::ChildChange change = plat::LookAtChild(fPid, false, exitCode);
            if (change == plat::ChildChange::Running)
                WatchChild(fPid);
            else if (change == plat::ChildChange::Exited || change == plat::ChildChange::Signalled)
                fExitStatus = exitCode;
        }
        _Forget();
    }

    if (inKillGroup && fKillProcessTree)
        plat::KillProcessGroup(fGroup);
    return 0;
}

bool XPosixProcessLauncher::KillProcess(pid_t inPid)
{
    // kill() reads 0 as the caller's own process group and a negative value
    // as a whole group: neither designates one process.
    if (inPid <= 0) {
        _ThrowError(PosixError(EINVAL));
        return false;
    }
    return plat::SendSignal(inPid, plat::ProcessSignal::Terminate) == 0;
}

}  // namespace qelt
