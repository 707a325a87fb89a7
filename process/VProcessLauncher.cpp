#include "process/VProcessLauncher.h"

#include "files/VFilePath.h"
#include "process/mac/XPosixProcessLauncher.h"

namespace qelt {

VProcessLauncher::VProcessLauncher() : fImpl(new XPosixProcessLauncher) {}

VProcessLauncher::~VProcessLauncher() { delete fImpl; }

void VProcessLauncher::SetDefaultDirectory(const VFilePath& inFolder)
{
    VString posix;
    inFolder.GetPosixPath(posix);
    fImpl->SetDefaultDirectory(posix);
}

void VProcessLauncher::SetEnvironmentVariable(const VString& inName, const VString& inValue)
{
    fImpl->SetEnvironmentVariable(inName, inValue);
}

void VProcessLauncher::SetEnvironmentVariables(const VEnvironmentVariables& inVariables)
{
    fImpl->SetEnvironmentVariables(inVariables);
}

void VProcessLauncher::SetBinaryPath(const VString& inPath) { fImpl->SetBinaryPath(inPath); }

void VProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& inCommandLine)
{
    fImpl->CreateArgumentsFromFullCommandLine(inCommandLine);
}

void VProcessLauncher::AddArgument(const VString& inArgument, bool inQuote) { fImpl->AddArgument(inArgument, inQuote); }
void VProcessLauncher::ClearArguments() { fImpl->ClearArguments(); }
const std::vector<VString>& VProcessLauncher::GetArguments() const { return fImpl->GetArguments(); }
void VProcessLauncher::SetWaitClosingChildProcess(int32_t inMilliseconds) { fImpl->SetWaitClosingChildProcess(inMilliseconds); }
void VProcessLauncher::SetRedirectStandardInput(bool inRedirect) { fImpl->SetRedirectStandardInput(inRedirect); }
void VProcessLauncher::SetRedirectStandardOutput(bool inRedirect) { fImpl->SetRedirectStandardOutput(inRedirect); }
void VProcessLauncher::SetQuoteArgumentsIfNeeded(bool inQuote) { fImpl->SetQuoteArgumentsIfNeeded(inQuote); }
void VProcessLauncher::EnableProcessTreeKill() { fImpl->EnableProcessTreeKill(); }
int32_t VProcessLauncher::Start() { return fImpl->Start(); }
int32_t VProcessLauncher::Start(const VEnvironmentVariables& inEnvironment) { return fImpl->Start(inEnvironment); }
bool VProcessLauncher::IsRunning() { return fImpl->IsRunning(); }

int VProcessLauncher::WriteToChild(const void* inData, uint32_t inSize, bool inClose)
{
    return fImpl->WriteToChild(inData, inSize, inClose);
}

void VProcessLauncher::CloseStandardInput() { fImpl->CloseStandardInput(); }
int VProcessLauncher::ReadFromChild(char* outBuffer, uint32_t inSize) { return fImpl->ReadFromChild(outBuffer, inSize); }

int VProcessLauncher::ReadErrorFromChild(char* outBuffer, uint32_t inSize)
{
    return fImpl->ReadErrorFromChild(outBuffer, inSize);
}

int VProcessLauncher::WaitForData() { return fImpl->WaitForData(); }

void VProcessLauncher::ReadFromChildAndShutdown(const DataHandler& inOnOutput, const DataHandler& inOnError)
{
    fImpl->ReadFromChildAndShutdown(inOnOutput, inOnError);
}

int32_t VProcessLauncher::Shutdown(bool inKillChild, bool inKillGroup) { return fImpl->Shutdown(inKillChild, inKillGroup); }
pid_t VProcessLauncher::GetPid() const { return fImpl->GetPid(); }
int32_t VProcessLauncher::GetExitStatus() const { return fImpl->GetExitStatus(); }
bool VProcessLauncher::KillProcess(pid_t inPid) { return XPosixProcessLauncher::KillProcess(inPid); }

int32_t VProcessLauncher::ExecuteCommandLine(const VString& inCommandLine, int32_t inOptions,
                                             VMemoryBufferDefault* inStdIn, VMemoryBufferDefault* outStdOut,
                                             VMemoryBufferDefault* outStdErr,
                                             const VEnvironmentVariables* inEnvironment, const VFilePath* inFolder,
                                             int32_t* outExitStatus, VProcessLauncher** outLauncher,
                                             const std::vector<VString>* inArguments, bool inQuote,
                                             bool inKillGroup)
{
    if (outLauncher != nullptr)
        *outLauncher = nullptr;
    auto* launcher = new VProcessLauncher;
    launcher->CreateArgumentsFromFullCommandLine(inCommandLine);
    if (inEnvironment != nullptr)
        launcher->SetEnvironmentVariables(*inEnvironment);
    if (inFolder != nullptr)
        launcher->SetDefaultDirectory(*inFolder);

    const bool doNotWait = (inOptions & kDoNotWait) != 0;
    if (doNotWait)
        launcher->SetWaitClosingChildProcess(0);
    launcher->SetQuoteArgumentsIfNeeded(inQuote);
    if (inArguments != nullptr) {
        for (const VString& argument : *inArguments)
            launcher->AddArgument(argument, false);
    }
    if (inKillGroup)
        launcher->EnableProcessTreeKill();

    int32_t error = launcher->Start();
    if (error == 0) {
        if (inStdIn != nullptr && inStdIn->GetDataSize() > 0) {
            const uint64_t size = inStdIn->GetDataSize();
            launcher->WriteToChild(inStdIn->GetDataPtr(), size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size),
                                   false);
        }
        launcher->CloseStandardInput();
        // Output without a buffer is still read (and dropped), so that the
        // child never blocks on a full pipe.
        if (!doNotWait)
            launcher->fImpl->CollectOutput(outStdOut, outStdErr);
        if (outLauncher == nullptr) {
            error = launcher->Shutdown(false, inKillGroup);
            if (error == 0 && outExitStatus != nullptr)
                *outExitStatus = launcher->GetExitStatus();
        }
    }
    if (outLauncher != nullptr)
        *outLauncher = launcher;
    else
        delete launcher;
    return error;
}

}  // namespace qelt
