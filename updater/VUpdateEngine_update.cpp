// The update itself: check both bundles, apply the client customisation,
// tell the caller, wait for it to quit, swap the bundles, relaunch the
// application and trash the old bundle.
//
// The swap never leaves the outdated bundle's place without a complete
// bundle: the up-to-date bundle is first copied into a staging folder beside
// it, then the copy and the installed bundle are exchanged in one atomic
// rename, then the old bundle (now inside the staging folder) is renamed to
// its set-aside name and the staging folder removed. A failure before the
// exchange removes the staging folder and leaves the old bundle untouched;
// where the file system cannot exchange, two renames with a rollback stand in
// for it.
//
// The staging folder carries a marker, written before it appears under its
// name: a run killed half-way leaves a marked folder, which the next run
// removes before it stages. A folder without the marker is the user's and is
// never touched.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/VFileError.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "kernel/StStringConverter.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VSystem.h"
#include "platform/PlatFaults.h"
#include "platform/PlatFile.h"
#include "platform/PlatFileOps.h"
#include "platform/PlatFolders.h"
#include "platform/PlatProcesses.h"
#include "platform/PlatTrash.h"
#include "process/VProcessLauncher.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorTexts.h"
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

VString FromUTF8(const std::string& inBytes)
{
    VString text;
    text.FromBlock(inBytes.data(), inBytes.size(), VTC_UTF_8);
    return text;
}

// Logs where the previous application now is.
void LogPreviousApplicationAt(const char* inFormat, const std::string& inPosixBytes)
{
    VString where = FromUTF8(inPosixBytes);
    LogInfo(inFormat, &where);
}

// The marker that makes a staging folder the updater's own.
constexpr char kStagingMarker[] = ".qelt-updater-staging";

// The UTF-8 texts around the counter of the staging names beside the
// application: "<name without extension>_new" and ".<extension>".
void StagingNameParts(const VFilePath& inInstallPath, std::string& outPrefix, std::string& outSuffix)
{
    VString name, extension;
    inInstallPath.GetFolderName(name, false);
    inInstallPath.GetExtension(extension);
    name.AppendCString("_new");
    StStringConverter<char> prefix(name, VTC_UTF_8);
    outPrefix.assign(prefix.GetCPointer(), prefix.GetSize());
    outSuffix.clear();
    if (!extension.IsEmpty()) {
        StStringConverter<char> suffix(extension, VTC_UTF_8);
        outSuffix.assign(1, '.');
        outSuffix.append(suffix.GetCPointer(), suffix.GetSize());
    }
}

bool IsStagingName(const std::string& inName, const std::string& inPrefix, const std::string& inSuffix)
{
    constexpr size_t kDigits = 4;
    if (inName.size() != inPrefix.size() + kDigits + inSuffix.size() ||
        inName.compare(0, inPrefix.size(), inPrefix) != 0 ||
        inName.compare(inPrefix.size() + kDigits, std::string::npos, inSuffix) != 0)
        return false;
    for (size_t i = inPrefix.size(); i < inPrefix.size() + kDigits; ++i) {
        if (inName[i] < '0' || inName[i] > '9')
            return false;
    }
    return true;
}

// Removes the staging folders that an interrupted run left beside the
// application: folders under a staging name that hold the marker. A folder
// that cannot be removed is only a warning; the run stages under the next
// free name.
void RemoveLeftStagingFolders(const VFilePath& inInstallPath)
{
    std::string prefix, suffix;
    StagingNameParts(inInstallPath, prefix, suffix);
    const std::string parent = plat::ParentPath(PosixBytes(inInstallPath));
    std::vector<std::string> left;
    {
        plat::FolderLister lister(parent.c_str(), plat::kListFolders | plat::kListInvisible);
        plat::FolderEntry entry;
        while (lister.Next(entry)) {
            if (IsStagingName(entry.name, prefix, suffix) && plat::IsMarkedFolder(entry.path.c_str(), kStagingMarker))
                left.push_back(entry.path);
        }
    }
    for (const std::string& folder : left) {
        VString shown = FromUTF8(folder);
        LogInfo("Removing the staging folder %S left by an interrupted update", &shown);
        if (int error = plat::RemoveTree(folder.c_str()); error != 0) {
            std::string reason;
            GetPosixErrorText(error, reason);
            VString because = FromUTF8(reason);
            LogWarning("The staging folder %S could not be removed: %S", &shown, &because);
        }
    }
}

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
        // on the standard streams.
        plat::DetachStandardStreams();
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
        LogPreviousApplicationAt("The previous application stays at %S", PosixBytes(old->GetPath()));
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
        plat::EntryInfo info;
        free = plat::GetEntryInfo(PosixBytes(outPath).c_str(), false, info) == ENOENT;
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
    RemoveLeftStagingFolders(installPath);

    // 1. The up-to-date bundle, copied whole into a marked staging folder
    // beside the installed one, under the installed bundle's name.
    VFilePath stagingPath;
    _ComputeTempFolderPath(installPath, stagingPath, VString("new"));
    const std::string stagingBytes = PosixBytes(stagingPath);
    VString installName;
    installPath.GetName(installName);
    VFilePath stagedPath(stagingPath);
    stagedPath.ToSubFolder(installName);
    const std::string stagedBytes = PosixBytes(stagedPath);
    if (int error = plat::MakeMarkedFolder(stagingBytes.c_str(), kStagingMarker); error != 0) {
        WrapFileError(stagingPath, MakeVError(kSignaturePOSX, error), VE_CANNOT_CREATE_FOLDER);
        ThrowErrorWithPathsNamed(VE_UPD_INSTALL_COPY_FAILED, "from", upToDatePath, "to", installPath);
        return nullptr;
    }
    // The whole tree in one engine call (links kept as links, modes, times
    // and extended attributes kept, data cloned where the file system can):
    // the staging folder is new and marked, so its files are written
    // straight into it, with no rename of their own; a copy cut short is
    // deleted here or, after a kill, by the next run.
    if (int error = plat::CopyTree(upToDateBytes.c_str(), stagedBytes.c_str(), false); error != 0) {
        plat::RemoveTree(stagingBytes.c_str());
        WrapFileError(stagedPath, MakeVError(kSignaturePOSX, error), VE_CANNOT_CREATE_FOLDER);
        ThrowErrorWithPathsNamed(VE_UPD_INSTALL_COPY_FAILED, "from", upToDatePath, "to", installPath);
        return nullptr;
    }

    // 2. The exchange, retried: failed attempts that end in a success are
    // only warnings.
    const std::string installBytes = PosixBytes(installPath);
    VFilePath oldPath;
    bool swapped = false;
    bool oldAtSetAsideName = false;
    bool rollbackFailed = false;
    {
        StErrorContextInstaller attempts(true, true);
        const int pause = TestablePause("QELT_TEST_RETRY_PAUSE_MS", kRetryPauseMilliseconds);
        for (int attempt = 1; attempt <= kRenameAttempts && !swapped && !rollbackFailed; ++attempt) {
            int error = plat::ExchangePaths(stagedBytes.c_str(), installBytes.c_str());
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
                    error = plat::MovePath(stagedBytes.c_str(), installBytes.c_str(), false);
                    if (error == 0) {
                        swapped = true;
                        oldAtSetAsideName = true;
                        break;
                    }
                    LogInfo("Rolling back up-to-date application install");
                    if (int rollback = plat::MovePath(oldBytes.c_str(), installBytes.c_str(), false); rollback != 0) {
                        // The old bundle could not go back: it stays whole
                        // under its set-aside name, and nothing more is tried.
                        ThrowRenameError(oldPath, rollback);
                        VString where = FromUTF8(oldBytes);
                        LogError("Rolling back failed: the previous application is at %S", &where);
                        rollbackFailed = true;
                    }
                }
            }
            ThrowRenameError(installPath, error);
            if (attempt < kRenameAttempts && !rollbackFailed) {
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
    // The copy came from the staging folder into another parent: a file
    // system that dates the change of a moved folder's parent entry as a
    // change of the folder (XFS) gave the bundle's own folder the time of
    // the move. It gets the up-to-date bundle's times back.
    plat::EntryInfo upToDateInfo;
    if (plat::GetEntryInfo(upToDateBytes.c_str(), false, upToDateInfo) == 0) {
        if (int error = plat::SetEntryTimes(installBytes.c_str(), &upToDateInfo.modified, &upToDateInfo.accessed);
            error != 0) {
            std::string reason;
            GetPosixErrorText(error, reason);
            VString because = FromUTF8(reason);
            LogWarning("The installed application keeps the time of its move: %S", &because);
        }
    }

    // 3. The old bundle, now in the staging folder, goes to its set-aside
    // name, and the staging folder goes.
    if (!oldAtSetAsideName) {
        _ComputeTempFolderPath(installPath, oldPath, VString("old"));
        if (plat::MovePath(stagedBytes.c_str(), PosixBytes(oldPath).c_str(), false) != 0) {
            LogWarning("The previous application stays in the staging folder");
            oldPath.FromFilePath(stagedPath);
        }
    }
    if (!oldPath.IsChildOf(stagingPath))
        plat::RemoveTree(stagingBytes.c_str());
    LogPreviousApplicationAt("The previous application is at %S", PosixBytes(oldPath));
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
    // is a failed relaunch too, not a success. What it printed says why.
    if (result != 0 || exitStatus != 0) {
        LogError("Failed to restart updated application (returned error %d - exit status %d)", result, exitStatus);
        VString said;
        said.FromBlock(errors.GetDataPtr(), static_cast<unsigned long>(errors.GetDataSize()), VTC_UTF_8);
        while (!said.IsEmpty() &&
               (said.GetUniChar(said.GetLength()) == '\n' || said.GetUniChar(said.GetLength()) == '\r'))
            said.Truncate(said.GetLength() - 1);
        if (!said.IsEmpty())
            LogError("%S", &said);
        VTask::PushRetainedError(new VErrorBase(VE_UPD_RELAUNCH_FAILED));
    } else {
        LogInfo("Updated application restarted, returned %d", exitStatus);
    }
}

void VUpdateEngine::_TrashOldApplication(VFolder& inOldApplication)
{
    StErrorContextInstaller trash(true, true);
    const VFilePath& oldPath = inOldApplication.GetPath();
    const std::string oldBytes = PosixBytes(oldPath);
    std::string trashed;
    const int error = plat::MoveToTrash(oldBytes.c_str(), &trashed);
    if (error == 0) {
        LogPreviousApplicationAt("The previous application is in the trash at %S", trashed);
        return;
    }
    if (error == ENOENT)
        return;
    WrapFileError(oldPath, MakeVError(kSignaturePOSX, error), VE_CANNOT_TRASH_FOLDER);
    // The trash refused: the old bundle is deleted instead, and the refusal
    // is only a warning when that works.
    if (inOldApplication.DeleteForced() == 0) {
        DumpErrorStackAsWarnings(trash.GetContext());
        trash.GetContext()->Flush();
        LogInfo("The previous application was deleted: the trash refused it");
    } else {
        LogPreviousApplicationAt("The previous application stays at %S", oldBytes);
    }
}

void VUpdateEngine::_LogProgressToCaller(const char* inToken, int inValue)
{
    if (!fProgressToCaller)
        return;
    std::printf("%s,%d\n", inToken, inValue);
    std::fflush(stdout);
}
