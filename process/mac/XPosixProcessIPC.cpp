#include "process/mac/XPosixProcessIPC.h"

#include "platform/PlatQuitSignals.h"
#include "process/VProcess.h"

namespace qelt {

namespace {

// The handlers act while the process object exists (a plain load: safe in a
// signal handler).
bool HaveProcess() { return VProcess::sInstance != nullptr; }

}  // namespace

XPosixProcessIPC::~XPosixProcessIPC()
{
    if (fReader.joinable()) {
        plat::StopQuitSignalWait();
        fReader.join();
    }
}

bool XPosixProcessIPC::Init()
{
    if (!plat::OpenQuitSignalPipe())
        return false;
    if (!fReader.joinable())
        fReader = std::thread([this] { _ReadSignals(); });
    return plat::InstallQuitSignalHandlers(&HaveProcess);
}

void XPosixProcessIPC::_ReadSignals()
{
    while (plat::WaitForQuitSignal()) {
        if (VProcess::sInstance != nullptr)
            VProcess::sInstance->QuitAsynchronously(nullptr);
    }
}

}  // namespace qelt
