// The POSIX side of the child-process launcher: posix_spawn with pipes on the
// child's standard streams, a process group of the child's own, and a pidfd
// of the child. Waiting is one poll on the pipes and the pidfd, whose
// deadline is the time-out; a time-out kills the child's group only while
// the child is still unreaped, so it never hits a process that is no longer
// ours.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/VObject.h"
#include "process/VProcessLauncher.h"

namespace qelt {

class XPosixProcessLauncher : public VObject {
public:
    XPosixProcessLauncher();
    ~XPosixProcessLauncher() override;

    XPosixProcessLauncher(const XPosixProcessLauncher&) = delete;
    XPosixProcessLauncher& operator=(const XPosixProcessLauncher&) = delete;

    void SetDefaultDirectory(const VString& inPosixPath);
    void SetEnvironmentVariable(const VString& inName, const VString& inValue);
    void SetEnvironmentVariables(const VEnvironmentVariables& inVariables) { fEnvironment = inVariables; }
    void SetBinaryPath(const VString& inPath);
    void CreateArgumentsFromFullCommandLine(const VString& inCommandLine);
    void AddArgument(const VString& inArgument, bool inQuote);
    void ClearArguments() { fArguments.clear(); }
    const std::vector<VString>& GetArguments() const { return fArguments; }
    const std::string& GetBinaryPath() const { return fBinaryPath; }
    void SetWaitClosingChildProcess(int32_t inMilliseconds) { fTimeout = inMilliseconds; }
    void SetRedirectStandardInput(bool inRedirect) { fRedirectInput = inRedirect; }
    void SetRedirectStandardOutput(bool inRedirect) { fRedirectOutput = inRedirect; }
    void SetQuoteArgumentsIfNeeded(bool) {}
    void EnableProcessTreeKill() { fKillProcessTree = true; }

    int32_t Start() { return Start(fEnvironment); }
    int32_t Start(const VEnvironmentVariables& inEnvironment);
    bool IsRunning();
    int WriteToChild(const void* inData, uint32_t inSize, bool inClose);
    void CloseStandardInput();
    int ReadFromChild(char* outBuffer, uint32_t inSize);
    int ReadErrorFromChild(char* outBuffer, uint32_t inSize);
    int WaitForData();
    void ReadFromChildAndShutdown(const VProcessLauncher::DataHandler& inOnOutput,
                                  const VProcessLauncher::DataHandler& inOnError);
    // Writes the input to the child as it reads it, then closes its
    // standard input; reads both pipes to their end, or until the time-out,
    // appending to the buffers. Bytes for a missing buffer, or that cannot
    // be stored, are dropped. Input and output go through one poll, so a
    // child that answers while it reads never blocks against this process.
    void CollectOutput(const void* inInput, size_t inInputSize, VMemoryBufferDefault* outOutput,
                       VMemoryBufferDefault* outError);
    int32_t Shutdown(bool inKillChild, bool inKillGroup);

    pid_t GetPid() const { return fPid; }
    int32_t GetExitStatus() const { return fExitStatus; }

    // Sends SIGTERM to one process; refuses 0 and negative ids (which would
    // reach a whole process group, the caller's own for 0) with an error.
    static bool KillProcess(pid_t inPid);

    // Splits a command text into words (the rules are in the source).
    static std::vector<std::string> SplitCommandLine(const std::string& inText);

private:
    using Clock = std::chrono::steady_clock;

    void _FindBinary();
    void _ClosePipes();
    void _CloseFd(int& ioFd);
    // The time-out came: the child's pidfd and its group are sent SIGKILL,
    // but only while the child is unreaped.
    void _FireTimeout();
    bool _TimeoutArmed() const { return fTimeout >= 1 && fTimeout <= 2147483646; }
    // Milliseconds left to the deadline for poll: -1 when none is armed.
    int _PollTimeout() const;
    void _Forget();
    bool _WaitForEnd(int inMilliseconds);
    void _ReadToEnd(const VProcessLauncher::DataHandler& inOnOutput, const VProcessLauncher::DataHandler& inOnError,
                    const char* inInput = nullptr, size_t inInputSize = 0);

    std::string fDefaultDirectory;
    VEnvironmentVariables fEnvironment;
    std::string fBinaryPath;
    std::vector<VString> fArguments;
    bool fRunning = false;
    int32_t fExitStatus = 0;
    int32_t fTimeout = 0x7FFFFFFF;
    pid_t fPid = 0;
    pid_t fGroup = 0;
    int fPidFd = -1;
    int fStdIn[2] = {-1, -1};
    int fStdOut[2] = {-1, -1};
    int fStdErr[2] = {-1, -1};
    bool fRedirectInput = true;
    bool fRedirectOutput = true;
    bool fAbort = false;
    bool fKillProcessTree = false;
    Clock::time_point fDeadline{};
};

}  // namespace qelt
