// Starts a child process from a command text or from a binary path and
// arguments, with an optional environment and working folder, connects pipes
// to its standard input, output and error, and waits for it, collecting its
// output and its exit status. ExecuteCommandLine does all of it in one call.
//
// Exit status: the exit code (0 to 255) of a child that exited; -127 for
// one killed by a signal; 0 for one reported stopped or continued, or that
// could not be polled.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VFilePath;
class XPosixProcessLauncher;

// Orders strings by their raw UTF-16 units (no locale, case counts).
struct VStringLessCompareStrict {
    bool operator()(const VString& inLeft, const VString& inRight) const
    {
        return inLeft.CompareToStringRaw(inRight) == CR_SMALLER;
    }
};

using VEnvironmentVariables = std::map<VString, VString, VStringLessCompareStrict>;

class VProcessLauncher : public VObject {
public:
    // Handed each block of bytes read from a child's pipe.
    using DataHandler = std::function<void(const void* inBytes, size_t inCount)>;

    // ExecuteCommandLine option: return as soon as the child has started.
    static constexpr int32_t kDoNotWait = 0x2;
    // The time-out that means none.
    static constexpr int32_t kNoTimeout = 0x7FFFFFFF;

    VProcessLauncher();
    ~VProcessLauncher() override;

    VProcessLauncher(const VProcessLauncher&) = delete;
    VProcessLauncher& operator=(const VProcessLauncher&) = delete;

    // The working folder of the child; an empty path clears it.
    void SetDefaultDirectory(const VFilePath& inFolder);
    // One variable of the child's environment (an empty name is ignored).
    void SetEnvironmentVariable(const VString& inName, const VString& inValue);
    // The child's whole environment when not empty; empty inherits ours.
    void SetEnvironmentVariables(const VEnvironmentVariables& inVariables);
    // The file to execute, which also becomes the first argument.
    void SetBinaryPath(const VString& inPath);
    // Splits a command text into the arguments; its first word is the
    // binary path. Blanks separate words; a word in double or single quotes
    // keeps its blanks; a backslash makes the next character literal.
    void CreateArgumentsFromFullCommandLine(const VString& inCommandLine);
    // Appends an argument, wrapped in double quotes with inQuote; an empty
    // text is ignored.
    void AddArgument(const VString& inArgument, bool inQuote = false);
    void ClearArguments();
    const std::vector<VString>& GetArguments() const;
    // The time-out in milliseconds (kNoTimeout: none, 0: none either).
    void SetWaitClosingChildProcess(int32_t inMilliseconds);
    void SetRedirectStandardInput(bool inRedirect);
    // Covers standard output and standard error.
    void SetRedirectStandardOutput(bool inRedirect);
    // Accepted; arguments are always passed as they are.
    void SetQuoteArgumentsIfNeeded(bool inQuote);
    // Shutdown with inKillGroup then kills the child's whole process group.
    void EnableProcessTreeKill();

    // Starts the child: 0 when it runs, -1 when the pipes could not be set
    // up, else the error number of posix_spawn.
    int32_t Start();
    int32_t Start(const VEnvironmentVariables& inEnvironment);
    // Polls the child without blocking; records its exit status once ended.
    bool IsRunning();
    // One write to the child's standard input; closes it after with
    // inClose. -1 without a child or pipe.
    int WriteToChild(const void* inData, uint32_t inSize, bool inClose = false);
    void CloseStandardInput();
    // One non-blocking read: the byte count, 0 when nothing is ready, -1 at
    // the end of the data, on error or without a pipe.
    int ReadFromChild(char* outBuffer, uint32_t inSize);
    int ReadErrorFromChild(char* outBuffer, uint32_t inSize);
    // Waits until output (bit 1) or error (bit 2) is readable; 4 when a
    // signal interrupted the wait.
    int WaitForData();
    // Reads both pipes to their end, handing every block to the handler of
    // its stream, then shuts down without killing the child.
    void ReadFromChildAndShutdown(const DataHandler& inOnOutput, const DataHandler& inOnError);
    // Waits for the child up to the time-out (raising 'qelt' 8 when it ran
    // out of time), closes the pipes and, with inKillChild, ends a child
    // that still runs; without it such a child is reaped later. Answers 0.
    int32_t Shutdown(bool inKillChild, bool inKillGroup);

    pid_t GetPid() const;
    int32_t GetExitStatus() const;

    // SIGTERM to the process; false for a negative pid or when kill fails.
    static bool KillProcess(pid_t inPid);

    // Runs one command from start to end. Every pointer may be null. With
    // kDoNotWait it returns once the child has started. The output and
    // error are collected whole. Answers 0 when the command ran, -1 when
    // the pipes or the spawn could not be set up, else the error number of
    // posix_spawn. With outLauncher the started launcher is handed over
    // instead of being shut down.
    static int32_t ExecuteCommandLine(const VString& inCommandLine, int32_t inOptions,
                                      VMemoryBufferDefault* inStdIn, VMemoryBufferDefault* outStdOut,
                                      VMemoryBufferDefault* outStdErr, const VEnvironmentVariables* inEnvironment,
                                      const VFilePath* inFolder, int32_t* outExitStatus,
                                      VProcessLauncher** outLauncher, const std::vector<VString>* inArguments,
                                      bool inQuote, bool inKillGroup);

private:
    XPosixProcessLauncher* fImpl;
};

}  // namespace qelt
