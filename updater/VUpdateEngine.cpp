// The updater's application object: construction, start-up, the command
// line, the quit hook and the life of the process.
#include "updater/VUpdateEngine.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/StStringConverter.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "platform/PlatBundle.h"
#include "platform/PlatRealPath.h"
#include "platform/PlatSleepWatch.h"
#include "process/VCommandLineParser.h"
#include "runtime/ILogger.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "runtime/VTask.h"
#include "xml/VLocalizationManager.h"
#include "xml/VXMLParser.h"

using namespace qelt;

VUpdateEngine::VUpdateEngine() = default;

VUpdateEngine::~VUpdateEngine()
{
    plat::ReleaseSleepWatchConnections();
    _WaitForTextFormats();
    _WaitForXMLAhead();
    ReleaseRefCountable(fLocalizationManager);
    fLocalizationManager = nullptr;
    if (fXMLStartedAhead) {
        fXMLStartedAhead = false;
        VXMLParser::DeInit();
    }
}

bool VUpdateEngine::Init(unsigned int inFlags)
{
    fStartingUp = true;
    // The sleep notifier that the start-up makes loads the bus library and
    // connects only once the run's first log line is written: the loader's
    // mappings beside that line's work made it come about a third later.
    plat::HoldSleepWatchConnections();
    bool ok = VProcessIPC::Init(inFlags);
    fStartingUp = false;
    if (ok) {
        _PrepareTextFormatsAhead();  // already started by the command line, as a rule
        // Nothing reads a localised text before the run's first log line:
        // the manager is made after it (_LoadLocalizationAfterFirstLine),
        // and the XML library it parses with starts meanwhile.
        fLocalizationPending = true;
        _StartXMLAhead();  // already started by the command line, as a rule
    }
    return ok;
}

void VUpdateEngine::DoQuit() { _DeInitLog(); }

void VUpdateEngine::_DeInitLog()
{
    if (GetLogger() != nullptr)
        GetLogger()->Flush();
    if (fFileLogger != nullptr) {
        fFileLogger->Stop();
        delete fFileLogger;
        fFileLogger = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Command line

namespace {

// A folder path from a POSIX text: empty clears the path; otherwise a final
// '/' is added when missing.
void FixFolderPathSpec(const VString& inText, FilePathStyle inStyle, VFilePath& outPath)
{
    if (inText.IsEmpty()) {
        outPath.Clear();
        return;
    }
    VString text(inText);
    if (text.GetUniChar(text.GetLength()) != '/')
        text.AppendUniChar('/');
    outPath.FromFullPath(text, inStyle);
}

// A path of the command line as a full POSIX text: a text that does not
// begin with "/" is relative to the working folder at start-up. An empty text
// stays empty. False when the text is relative and the working folder cannot
// be read (nothing would tell where the path leads).
bool ToFullPathText(VString& ioText)
{
    if (ioText.IsEmpty() || ioText.GetUniChar(1) == '/')
        return true;
    StStringConverter<char> bytes(ioText, VTC_UTF_8);
    std::string full;
    if (!plat::FullPathFromWorkingFolder(std::string(bytes.GetCPointer(), bytes.GetSize()), full)) {
        VString message("the working folder cannot be read: no full path for ");
        message.AppendString(ioText);
        VCommandLineParser::PrintArgumentError(message);
        return false;
    }
    ioText.FromBlock(full.data(), full.size(), VTC_UTF_8);
    return true;
}

}  // namespace

int VUpdateEngine::DoParseCommandLine(VCommandLineParser& ioParser)
{
    VString installPath, restartParams, callerLog, logDir, clientInfo, outdatedApp, upToDateApp;
    std::vector<VString> rest;
    bool version = false;

    ioParser.AddParagraph(VString(
        "\nVq Updater\n\t\tUpdates an existing Vq application residing at <path of app to update> using \t\tnewer "
        "versions tored <path of update>\n\n"));
    fPid = -1;
    ioParser.AddOption(' ', VString("pid"), VString("Wait for the caller's pid"), fPid);
    fSilent = false;
    ioParser.AddFlag(' ', VString("silent"),
                     VString("ensure that no message is displayed in case of error. Errors are still logged though"),
                     fSilent);
    ioParser.AddOption(' ', VString("install-path"),
                       VString("indicates where the updated app should be installed instead of <path of app to "
                               "update>."),
                       installPath);
    ioParser.AddOption(' ', VString("restart-params"),
                       VString("indicates the full path to the VqLink \t\tfile that will be passed back to the "
                               "restarted application. This does not \t\tapply if the application is started as a "
                               "service"),
                       restartParams);
    ioParser.AddOption(' ', VString("caller-log"), VString("Restart params"), callerLog);
    ioParser.AddOption(' ', VString("log-dir"),
                       VString("specifies a folder for the updater where log file should be written"), logDir);
    ioParser.AddOption(' ', VString("client-info"),
                       VString("path of the client customization file. Using this \t\toption IMPLIES that "
                               "application is a Vq-based client, which incurs special processing."),
                       clientInfo);
    ioParser.AddOption(' ', VString("outdated-app"), VString("Outdated application bundle path"), outdatedApp);
    ioParser.AddOption(' ', VString("uptodate-app"), VString("Up-to-date application bundle path"), upToDateApp);
    ioParser.AddRemainingArguments(rest);
    fRestartHeadless = false;
    ioParser.AddFlag(' ', VString("restart-headless"), VString("Restart the application in headless mode."),
                     fRestartHeadless);
    ioParser.AddParagraph(VString("\nHelp:\n"));
    ioParser.AddFlag(' ', VString("version"), VString("Print the version and exits"), version);

    int result = ioParser.Parse();
    if (version && result == 0) {
        VCommandLineParser::Print(GetProductVersion());
        return 2;
    }
    if (result != 0)
        return result;

    if (rest.size() == 1) {
        VCommandLineParser::PrintArgumentError(
            VString("not enough arguments from the command line (required <dest> <src>)\n"));
        return 1;
    }
    if (rest.size() > 2) {
        VCommandLineParser::PrintArgumentError(VString("two many arguments from the command line"));
        return 1;
    }
    if (rest.size() == 2) {
        bool outdatedMismatch = false;
        if (!outdatedApp.IsEmpty()) {
            if (!outdatedApp.EqualToString(rest[0], false)) {
                VCommandLineParser::PrintArgumentError(VString("mismatched value for option --outdated-app\n"));
                outdatedMismatch = true;
            }
        } else {
            outdatedApp = rest[0];
        }
        if (!upToDateApp.IsEmpty()) {
            if (!upToDateApp.EqualToString(rest[1], false)) {
                VCommandLineParser::PrintArgumentError(VString("mismatched value for option --uptodate-app\n"));
                return 1;
            }
        } else {
            upToDateApp = rest[1];
        }
        if (outdatedMismatch)
            return 1;
    }

    if (upToDateApp.IsEmpty())
        VCommandLineParser::PrintArgumentError(VString("mismatched value for option --uptodate-app\n"));
    if (outdatedApp.IsEmpty()) {
        VCommandLineParser::PrintArgumentError(VString("mismatched value for option --outdated-app\n"));
        return 1;
    }
    if (upToDateApp.IsEmpty())
        return 1;

    for (VString* path : {&outdatedApp, &upToDateApp, &restartParams, &logDir, &clientInfo}) {
        if (!ToFullPathText(*path))
            return 1;
    }
    FixFolderPathSpec(outdatedApp, FPS_POSIX, fOutdatedApplication);
    FixFolderPathSpec(upToDateApp, FPS_POSIX, fUpToDateApplication);
    fInstallFolder.FromFilePath(fOutdatedApplication);
    if (restartParams.IsEmpty())
        fRestartParameters.Clear();
    else
        fRestartParameters.FromFullPath(restartParams, FPS_POSIX);
    fProgressToCaller = !callerLog.IsEmpty();
    FixFolderPathSpec(logDir, FPS_POSIX, fLogFolder);
    if (!clientInfo.IsEmpty())
        fClientInfoFile.FromFullPath(clientInfo, FPS_POSIX);
    // The run goes on: the helper threads of the first log line and of the
    // XML library start now, before the start-up goes on to the sleep
    // notifier, whose thread loads the system bus library. While the loader
    // adds that library and its own libraries, it holds the lock that every
    // new thread's start takes: a thread started then waits until the
    // loading is done. Only the updater's own start-up starts them: a hook
    // called from elsewhere has no run to prepare.
    if (fStartingUp) {
        _PrepareTextFormatsAhead();
        _StartXMLAhead();
    }
    return 0;
}

// ---------------------------------------------------------------------------
// The life of the process

namespace {

// The open tool shipped in the bundle's Contents/Tools comes first on PATH,
// whatever else the machine calls open.
void PutBundleToolsFirstOnPath()
{
    const std::string& bundle = plat::GetMainBundlePath();
    if (bundle.empty())
        return;
    std::string path = bundle + "/Contents/Tools";
    const char* current = std::getenv("PATH");
    if (current != nullptr && *current != '\0')
        path += std::string(":") + current;
    ::setenv("PATH", path.c_str(), 1);
}

}  // namespace

int _main()
{
    [[maybe_unused]] VCppMemMgr* ownManager = nullptr;
    if (VObject::sCppMemMgr == nullptr) {
        // The manager's own operator new answers null, and throws nothing,
        // when the system refuses it the memory: then nothing else runs.
        VCppMemMgr* manager = new VCppMemMgr(eAllocatorFromBundle);
        if (manager == nullptr)
            return 1;
        VObject::sCppMemMgr = manager;
        ownManager = manager;
    }
    PutBundleToolsFirstOnPath();

    int status = 1;
    {
        VUpdateEngine engine;
        if (!engine.Init(kInitLogger | kInitFileSystemNotifier)) {
            status = engine.GetExitCode();
        } else {
            engine.SetExitCode(0);
            engine.Run();
            VTask* task = VTask::GetCurrent();
            VError error = task != nullptr ? task->GetLastError() : VError(0);
            if (!engine.HasRunHookStarted())
                status = 1;  // asked to quit before the run hook: nothing was done
            else if (error == 0)
                status = 0;
            else if (error == QeltError(4))
                status = 1;
            else
                status = 2;
        }
    }
    // The manager lives until the process ends. Only the leak checker of
    // the sanitizer builds needs it freed: the manager sits in virtual
    // memory that the checker does not scan, so the allocator it owns would
    // be reported as lost at exit.
#if defined(__SANITIZE_ADDRESS__)
    if (ownManager != nullptr) {
        VObject::sCppMemMgr = nullptr;
        delete ownManager;
    }
#endif
    return status;
}
