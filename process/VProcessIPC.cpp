#include "process/VProcessIPC.h"

#include <cstring>
#include <vector>

#include "files/VFileSystemNotifier.h"
#include "process/VCommandLineParser.h"
#include "process/VSleepNotifier.h"
#include "process/mac/XPosixProcessIPC.h"
#include "runtime/VTask.h"

namespace qelt {

int32_t sProcessCommandLineArgc = 0;
char** sProcessCommandLineArgv = nullptr;

VProcessIPC* VProcessIPC::sInstance = nullptr;

VProcessIPC::VProcessIPC() { sInstance = this; }

VProcessIPC::~VProcessIPC()
{
    // The notifiers and the signal thread stop here, while the task manager
    // still exists.
    if (fFileSystemNotifier != nullptr) {
        VFileSystemNotifier::SetInstance(nullptr);
        delete fFileSystemNotifier;
        fFileSystemNotifier = nullptr;
    }
    delete fSleepNotifier;
    fSleepNotifier = nullptr;
    delete fSignals;
    fSignals = nullptr;
    sInstance = nullptr;
}

bool VProcessIPC::Init(unsigned int inFlags)
{
    if (fIPCInitDone)
        return fIPCInitOK;
    fIPCInitOK = VProcess::Init(inFlags);
    if (!fIPCInitOK) {
        fExitCode = 1;
        return false;
    }
    fIPCInitDone = true;

    // The arguments, without the process serial number that the system adds
    // when an application is opened from its file manager.
    std::vector<VString> arguments;
    if (sProcessCommandLineArgv != nullptr && sProcessCommandLineArgc > 0) {
        arguments.reserve(static_cast<size_t>(sProcessCommandLineArgc));
        for (int32_t i = 0; i < sProcessCommandLineArgc; ++i) {
            const char* arg = sProcessCommandLineArgv[i];
            if (arg == nullptr || std::strncmp(arg, "-psn_", 5) == 0)
                continue;
            arguments.emplace_back(arg);
        }
    }
    {
        VCommandLineParser parser(arguments);
        int verdict = DoParseCommandLine(parser);
        fExitCode = (verdict == 0 || verdict == 2) ? 0 : 1;
        fIPCInitOK = verdict == 0;
    }
    if (!fIPCInitOK)
        return false;

    fSignals = new XPosixProcessIPC;
    fIPCInitOK = fSignals->Init();
    if (!fIPCInitOK) {
        fExitCode = 1;
        return false;
    }
    if ((inFlags & kInitFileSystemNotifier) != 0) {
        fFileSystemNotifier = new VFileSystemNotifier;
        VFileSystemNotifier::SetInstance(fFileSystemNotifier);
    }
    // The sleep notifier's failure does not stop the start-up.
    fSleepNotifier = new VSleepNotifier;
    fSleepNotifier->Init();
    return true;
}

int VProcessIPC::DoParseCommandLine(VCommandLineParser&) { return 0; }

void VProcessIPC::DoRun()
{
    // Executes the main task's messages in waits of 100 ms, with idle work;
    // QuitAsynchronously wakes the wait.
    while (IsRunning())
        VTask::ExecuteMessagesWithTimeout(100, true);
}

}  // namespace qelt
