// The update itself: check both bundles, apply the client customisation,
// tell the caller, wait for it to quit, swap the bundles, relaunch the
// application and trash the old bundle.
//
// The swap never leaves the outdated bundle's place without a complete
// bundle: the up-to-date bundle is first copied beside it under a staging
// name, then the two are exchanged in one atomic rename, then the staging
// name (now holding the old bundle) is renamed to its set-aside name. A
// failure before the exchange removes the staging copy and leaves the old
// bundle untouched; where the file system cannot exchange, two renames with a
// rollback stand in for it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "files/VFileError.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VSystem.h"
#include "platform/PlatFaults.h"
#include "platform/PlatFileOps.h"
#include "process/VProcessLauncher.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "updater/UpdaterLog.h"
#include "updater/VUpdateEngine.h"
#include "values/VMemoryBuffer.h"

using namespace qelt;

namespace {

constexpr int kRenameAttempts = 5;
constexpr int kPidPollMilliseconds = 500;
constexpr uint32_t kPidMaximumWaitMilliseconds = 59999;
constexpr int kPidQuitPauseMilliseconds = 1000;
constexpr int kRetryPauseMilliseconds = 3000;

// In builds made with the tests, the long waits can be shortened so that the
// suite covers a caller that never quits and a swap that always fails
// without waiting a minute; other builds never read these variables.
int TestablePause(const char* inVariable, int inMilliseconds)
{
    if constexpr (plat::kFaultInjection) {
        if (const char* value = std::getenv(inVariable); value != nullptr && *value != '\0')
            return std::atoi(value);
    }
    return inMilliseconds;
}

// The path's POSIX text as the bytes the system knows it by.
std::string PosixBytes(const VFilePath& inPath)
{
    StPosixPathText text(inPath);
    std::string bytes(text.Get());
    while (bytes.size() > 1 && bytes.back() == '/')
        bytes.pop_back();
    return bytes;
}

// Raises the errno of a failed rename or exchange as the toolbox's native
// error and its folder error.
void ThrowRenameError(const VFilePath& inPath, int inErrno)
{
    WrapFileError(inPath, MakeVError(kSignaturePOSX, inErrno), VE_CANNOT_RENAME_FOLDER);
}

bool IsExchangeUnsupported(int inErrno) { return inErrno == EINVAL || inErrno == ENOSYS || inErrno == EOPNOTSUPP; }

// Adds a backslash before each '"' and '\' so that the launcher's splitter
// gives the path back as it is.
VString QuotedForCommand(const VString& inText)
{
    VString quoted("\"");
    for (int i = 1; i <= inText.GetLength(); ++i) {
        UniChar c = inText.GetUniChar(i);
        if (c == '"' || c == '\\')
            quoted.AppendUniChar('\\');
        quoted.AppendUniChar(c);
    }
    quoted.AppendUniChar('"');
    return quoted;
}

}  // namespace

void VUpdateEngine::_ApplyUpdate()
{
    StErrorContextInstaller errors(true, true);
    VErrorContext* context = errors.GetContext();

    VRefPtr<VFolder> outdated = AdoptRef(new VFolder(fOutdatedApplication));
    VRefPtr<VFolder> upToDate = AdoptRef(new VFolder(fUpToDateApplication));
    bool missing = false;
    if (!outdated->Exists()) {
        ThrowErrorWithPath(VE_UPD_OUTDATED_MISSING, fOutdatedApplication);
        missing = true;
    }
    if (!upToDate->Exists()) {
        ThrowErrorWithPath(VE_UPD_UPTODATE_MISSING, fUpToDateApplication);
        missing = true;
    }
    if (missing)
        return;

    if (fClientInfoFile.IsValid() && fClientInfoFile.IsFile()) {
        if (!_FinishClientCustomization() || !context->IsEmpty())
            return;
    }

    if (fProgressToCaller) {
        std::printf("%s,%d\n", "waitquit", -1);
        std::fflush(stdout);
        // The caller reads up to this line and goes: nothing more is written
        // on the standard streams, which stay open on /dev/null so that no
        // later file takes their descriptors.
        int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            for (int fd = 0; fd <= 2; ++fd)
                ::dup2(null, fd);
            if (null > 2)
                ::close(null);
        }
        fProgressToCaller = false;
    }

    LogInfo("Waiting for external process to quit");
    if (!_WaitForPidToQuit() || !context->IsEmpty()) {
        LogError("External process wait failed");
        VTask::PushRetainedError(new VErrorBase(VE_UPD_WAIT_FAILED));
        return;
    }

    LogInfo("Proceeding with up-to-date application install...");
    VRefPtr<VFolder> install = AdoptRef(new VFolder(fInstallFolder));
    VRefPtr<VFolder> old = AdoptRef(_SwapApplications(*outdated, *upToDate, *install));
    if (old.Get() == nullptr || !context->IsEmpty()) {
        LogError("Up-to-date application install failed");
        VTask::PushRetainedError(new VErrorBase(VE_UPD_INSTALL_FAILED));
        return;
    }

    LogInfo("Proceeding with up-to-date application restart...");
    _LaunchApplication(fInstallFolder);
    if (!context->IsEmpty()) {
        LogError("Up-to-date application restart failed");
        return;
    }

    LogInfo("Up-to-date application restarted");
    _TrashOldApplication(*old);
}

bool VUpdateEngine::_WaitForPidToQuit()
{
    if (fPid < 0) {
        LogInfo("Skipping process wait (negative pid)");
        return true;
    }
    LogInfo("Waiting for process %d to quit", fPid);
    const uint32_t maximum =
        static_cast<uint32_t>(TestablePause("QELT_TEST_PID_WAIT_MS", static_cast<int>(kPidMaximumWaitMilliseconds)));
    uint32_t start = VSystem::GetCurrentTime();
    uint32_t now = start;
    bool present = true;
    while (present && now - start <= maximum) {
        std::vector<int> pids;
        VSystem::GetProcessList(pids);
        if (!pids.empty()) {
            present = false;
            for (int pid : pids) {
                if (pid == fPid) {
                    present = true;
                    break;
                }
            }
        }
        if (present)
            VTask::Sleep(kPidPollMilliseconds);
        now = VSystem::GetCurrentTime();
    }
    if (!present) {
        VTask::Sleep(TestablePause("QELT_TEST_PID_QUIT_PAUSE_MS", kPidQuitPauseMilliseconds));
        LogInfo("Process %d has quit. Proceeding.", fPid);
        return true;
    }
    LogError("Process %d still exists after maximum wait time. Giving up.", fPid);
    VTask::PushRetainedError(new VErrorBase(VE_UPD_WAIT_FAILED));
    return false;
}

bool VUpdateEngine::_ComputeTempFolderPath(const VFilePath& inSource, VFilePath& outPath, const VString& inTag)
{
    VString extension, name;
    inSource.GetExtension(extension);
    inSource.GetFolderName(name, false);
    bool isFolder = inSource.IsFolder();
    bool free = false;
    for (int counter = 1; counter <= 9999 && !free; ++counter) {
        VString candidate(name);
        if (inTag.IsEmpty())
            candidate.AppendPrintf("%04d", counter);
        else
            candidate.AppendPrintf("_%S%04d", &inTag, counter);
        if (!extension.IsEmpty()) {
            candidate.AppendUniChar('.');
            candidate.AppendString(extension);
        }
        outPath.FromFilePath(inSource);
        if (isFolder)
            outPath.SetFolderName(candidate, true);
        else
            outPath.SetFileName(candidate, true);
        struct stat info;
        free = ::lstat(PosixBytes(outPath).c_str(), &info) != 0 && errno == ENOENT;
    }
    return free;
}

VFolder* VUpdateEngine::_SwapApplications(const VFolder& inOutdated, const VFolder& inUpToDate,
                                          const VFolder& inInstall)
{
    const VFilePath outdatedPath = inOutdated.GetPath();
    const VFilePath upToDatePath = inUpToDate.GetPath();
    const VFilePath installPath = inInstall.GetPath();
    const std::string outdatedBytes = PosixBytes(outdatedPath);
    const std::string upToDateBytes = PosixBytes(upToDatePath);
    if (outdatedPath.GetPath(FPS_SYSTEM).EqualToStringRaw(upToDatePath.GetPath(FPS_SYSTEM)) ||
        plat::IsSameEntry(outdatedBytes.c_str(), upToDateBytes.c_str()) || upToDatePath.IsChildOf(outdatedPath)) {
        ThrowErrorWithPath(VE_UPD_SAME_OR_INSIDE, outdatedPath);
        return nullptr;
    }

    // The install folder's parent, created when missing.
    VFilePath parentPath;
    installPath.GetParent(parentPath);
    VRefPtr<VFolder> parent = AdoptRef(new VFolder(parentPath));
    if (!parent->Exists() && parent->CreateRecursive() != 0) {
        ThrowErrorWithPath(VE_UPD_CANNOT_CREATE_PARENT, parentPath);
        return nullptr;
    }

    // 1. The up-to-date bundle, copied whole beside the installed one.
    VFilePath stagingPath;
    _ComputeTempFolderPath(installPath, stagingPath, VString("new"));
    VString stagingName;
    stagingPath.GetName(stagingName);
    VFolder* staging = nullptr;
    if (inUpToDate.CopyTo(*parent, stagingName, &staging, 0) != 0) {
        ReleaseRefCountable(staging);
        plat::RemoveTree(PosixBytes(stagingPath).c_str());
        ThrowErrorWithPathsNamed(VE_UPD_INSTALL_COPY_FAILED, "from", upToDatePath, "to", installPath);
        return nullptr;
    }
    ReleaseRefCountable(staging);

    // 2. The exchange, retried: failed attempts that end in a success are
    // only warnings.
    const std::string stagingBytes = PosixBytes(stagingPath);
    const std::string installBytes = PosixBytes(installPath);
    VFilePath oldPath;
    bool swapped = false;
    bool oldAtSetAsideName = false;
    {
        StErrorContextInstaller attempts(true, true);
        const int pause = TestablePause("QELT_TEST_RETRY_PAUSE_MS", kRetryPauseMilliseconds);
        for (int attempt = 1; attempt <= kRenameAttempts && !swapped; ++attempt) {
            int error = plat::ExchangePaths(stagingBytes.c_str(), installBytes.c_str());
            if (error == 0) {
                swapped = true;
                break;
            }
            if (IsExchangeUnsupported(error)) {
                // Two renames: the old bundle aside, then the new one in;
                // the old one goes back when the second fails.
                _ComputeTempFolderPath(installPath, oldPath, VString("old"));
                const std::string oldBytes = PosixBytes(oldPath);
                error = plat::MovePath(installBytes.c_str(), oldBytes.c_str(), false);
                if (error == 0) {
                    error = plat::MovePath(stagingBytes.c_str(), installBytes.c_str(), false);
                    if (error == 0) {
                        swapped = true;
                        oldAtSetAsideName = true;
                        break;
                    }
                    LogInfo("Rolling back up-to-date application install");
                    plat::MovePath(oldBytes.c_str(), installBytes.c_str(), false);
                }
            }
            ThrowRenameError(installPath, error);
            if (attempt < kRenameAttempts) {
                VTask::Sleep(pause);
                ThrowErrorWithPaths(VE_UPD_RENAME_FAILED, outdatedPath, stagingPath);
            }
        }
        if (swapped) {
            DumpErrorStackAsWarnings(attempts.GetContext());
            attempts.GetContext()->Flush();
        }
    }
    if (!swapped) {
        plat::RemoveTree(stagingBytes.c_str());
        return nullptr;
    }

    // 3. The old bundle, now under the staging name, goes to its set-aside
    // name.
    if (!oldAtSetAsideName) {
        _ComputeTempFolderPath(installPath, oldPath, VString("old"));
        if (plat::MovePath(stagingBytes.c_str(), PosixBytes(oldPath).c_str(), false) != 0) {
            LogWarning("The previous application stays at %S", &stagingName);
            oldPath.FromFilePath(stagingPath);
        }
    }
    return new VFolder(oldPath);
}

VString VUpdateEngine::BuildRelaunchCommand(const VFilePath& inInstallFolder, const VFilePath& inRestartParameters,
                                            bool inHeadless)
{
    VString installPosix, parametersPosix;
    inInstallFolder.GetPosixPath(installPosix);
    inRestartParameters.GetPosixPath(parametersPosix);
    VString command("open -a ");
    command.AppendString(QuotedForCommand(installPosix));
    if (!parametersPosix.IsEmpty()) {
        command.AppendCString(" --args ");
        command.AppendString(QuotedForCommand(parametersPosix));
        if (inHeadless)
            command.AppendCString(" --headless");
    } else if (inHeadless) {
        command.AppendCString(" --args --headless");
    }
    return command;
}

void VUpdateEngine::_LaunchApplication(const VFilePath& inInstallPath)
{
    VString command = BuildRelaunchCommand(inInstallPath, fRestartParameters, fRestartHeadless);
    LogInfo("Restarting installed application (%S)...", &command);
    VMemoryBufferDefault output, errors;
    int32_t exitStatus = 0;
    int32_t result = VProcessLauncher::ExecuteCommandLine(command, 0, nullptr, &output, &errors, nullptr, nullptr,
                                                          &exitStatus, nullptr, nullptr, true, false);
    // The open tool answers 1 when it could not start the application: that
    // is a failed relaunch too, not a success.
    if (result != 0 || exitStatus != 0) {
        LogError("Failed to restart updated application (returned error %d - exit status %d)", result, exitStatus);
        VTask::PushRetainedError(new VErrorBase(VE_UPD_RELAUNCH_FAILED));
    } else {
        LogInfo("Updated application restarted, returned %d", exitStatus);
    }
}

void VUpdateEngine::_TrashOldApplication(VFolder& inOldApplication)
{
    StErrorContextInstaller trash(true, true);
    if (inOldApplication.MoveToTrash() == 0)
        return;
    // The trash refused: the old bundle is deleted instead, and the refusal
    // is only a warning when that works.
    if (inOldApplication.DeleteForced() == 0) {
        DumpErrorStackAsWarnings(trash.GetContext());
        trash.GetContext()->Flush();
    }
}

void VUpdateEngine::_LogProgressToCaller(const char* inToken, int inValue)
{
    if (!fProgressToCaller)
        return;
    std::printf("%s,%d\n", inToken, inValue);
    std::fflush(stdout);
}
