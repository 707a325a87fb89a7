// The process object of a command-line or background application: on top of
// the toolbox's start-up it reads the command line through the application's
// hook, turns the hook's verdict into the exit code, and makes the
// termination, interrupt and quit signals ask the process to quit.
#pragma once

#include <cstdint>

#include "process/VProcess.h"

namespace qelt {

class VCommandLineParser;
class VFileSystemNotifier;
class XPosixProcessIPC;
class VSleepNotifier;

// The process's argument count and vector, stored by the entry point.
extern int32_t sProcessCommandLineArgc;
extern char** sProcessCommandLineArgv;

class VProcessIPC : public VProcess {
public:
    VProcessIPC();
    ~VProcessIPC() override;

    // The process start-up, then the command line (hook result 0 goes on,
    // 2 stops with exit code 0, anything else with 1), then the signal
    // handlers and, with kInitFileSystemNotifier, the file-system notifier.
    // Only the first call that gets past the process start-up
    // does the work.
    bool Init(unsigned int inFlags) override;

    // The exit status the application returns; 1 until the command-line
    // hook accepts or declines gracefully.
    int32_t GetExitCode() const { return fExitCode; }
    void SetExitCode(int32_t inExitCode) { fExitCode = inExitCode; }

    // The file-system notifier made by Init with flag 0x40 (null otherwise).
    VFileSystemNotifier* GetFileSystemNotifier() const { return fFileSystemNotifier; }

    // The sleep notifier made by Init (null before).
    VSleepNotifier* GetSleepNotifier() const { return fSleepNotifier; }

    // The running instance, from its constructor to its destructor.
    static VProcessIPC* sInstance;

protected:
    // Declares and reads the application's options: 0 go on, 2 stop with
    // exit code 0 (after printing a version or help), other values stop
    // with exit code 1. The default accepts everything.
    virtual int DoParseCommandLine(VCommandLineParser& ioParser);

    // Waits until the process is asked to quit.
    void DoRun() override;

private:
    bool fIPCInitDone = false;
    bool fIPCInitOK = false;
    XPosixProcessIPC* fSignals = nullptr;
    VFileSystemNotifier* fFileSystemNotifier = nullptr;
    VSleepNotifier* fSleepNotifier = nullptr;
    int32_t fExitCode = 1;
};

}  // namespace qelt
