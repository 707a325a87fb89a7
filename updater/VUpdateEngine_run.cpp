// The updater's run hook: the log file, the update, and the report of its
// outcome in the log and, on failure, by a notification.
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

#include "files/VFolder.h"
#include "kernel/StStringConverter.h"
#include "kernel/VCollator.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"
#include "kernel/VTaskServices.h"
#include "runtime/VTask.h"
#include "kernel/VSystem.h"
#include "platform/PlatBundle.h"
#include "platform/PlatFile.h"
#include "platform/PlatSleepWatch.h"
#include "platform/PlatThreads.h"
#include "process/VComponentManager.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorTexts.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "updater/UpdaterLog.h"
#include "updater/VUpdateEngine.h"
#include "values/VTime.h"
#include "values/VValueBag.h"
#include "xml/VLocalizationManager.h"
#include "xml/VUTIManager.h"
#include "xml/VXMLParser.h"

using namespace qelt;

bool VUpdateEngine::_InitLocalizationManager()
{
    VString bundlePath;
    const std::string& bundle = plat::GetMainBundlePath();
    bundlePath.FromBlock(bundle.data(), bundle.size(), VTC_UTF_8);
    unsigned int language = VComponentManager::GetLocalizationLanguage(&bundlePath, true, 0);
    if (language == VComponentManager::kNoDialect)
        language = 1033;

    fLocalizationManager = new VLocalizationManager(language);
    if (!bundle.empty()) {
        VRefPtr<VFolder> bundleFolder = AdoptRef(new VFolder(bundlePath + "/", FPS_POSIX));
        fLocalizationManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundleFolder.Get());
    }
    SetLocalizer(fLocalizationManager);
    VUTIManager::GetUTIManager()->SetLocalizationManager(fLocalizationManager);
    // The system's errors too: the localisation file words the ones an
    // update meets; any other keeps the system's own text.
    for (OsType signature : {kSignatureQelt, kSignatureXMLC, kSignaturePW32, kUpdaterSignature, kSignaturePOSX})
        VErrorBase::RegisterLocalizer(signature, fLocalizationManager);
    return true;
}

// Whether the helper threads below can run beside the main task. On a
// single processor a helper's work runs in turn with the main task's, before
// the first log line as much as after it, and the thread adds its own cost
// (its start, its stack, the memory arena its first allocation makes): the
// main task then does the same work itself, where it is needed.
bool VUpdateEngine::_HelpersRunAlongside()
{
    if (fHelpersAlongside < 0)
        fHelpersAlongside = plat::UsableProcessorCount() > 1 ? 1 : 0;
    return fHelpersAlongside > 0;
}

// While the start-up ends and the run opens its log, a helper thread makes,
// in the main task's locale, the short date and time formats of the log's
// first line, whose data ICU reads once per process and keeps. The main task
// uses or remakes them as before; without a thread it makes them itself.
void VUpdateEngine::_PrepareTextFormatsAhead()
{
    VIntlMgr* intl = GetCurrentTaskIntlMgr();
    if (intl == nullptr || fTextFormatsAhead.joinable() || !_HelpersRunAlongside())
        return;
    try {
        fTextFormatsAhead = std::thread([intl] {
            VTime now;
            VTime::Now(now);
            VString text;
            intl->FormatTime(now, text, eOS_SHORT_FORMAT, false);
            intl->FormatDate(now, text, eOS_SHORT_FORMAT, false);
        });
    } catch (const std::system_error&) {
    }
}

void VUpdateEngine::_WaitForTextFormats()
{
    if (fTextFormatsAhead.joinable())
        fTextFormatsAhead.join();
}

// Starting the XML library is mostly building its tables, several times the
// work of everything else before the first log line; it involves no task of
// the toolbox. A thread that cannot be made leaves it to the localisation
// manager, on the main task, as a library that failed to start would. The
// same thread then makes, in the main task's locale, the collator of
// comparisons without diacritics that the localisation files' extension
// matches use next.
void VUpdateEngine::_StartXMLAhead()
{
    if (fXMLAhead.joinable() || fXMLStartedAhead || !_HelpersRunAlongside())
        return;
    VIntlMgr* intl = GetCurrentTaskIntlMgr();
    try {
        fXMLAhead = std::thread([this, intl] {
            try {
                fXMLStartedAhead = VXMLParser::Init();
            } catch (...) {
                fXMLStartedAhead = false;
            }
            if (VCollator* collator = intl != nullptr ? intl->GetCollator() : nullptr) {
                const UniChar dot = '.';
                (void)collator->FindString(&dot, 1, &dot, 1, false, nullptr);
            }
        });
    } catch (const std::system_error&) {
    }
}

void VUpdateEngine::_WaitForXMLAhead()
{
    if (fXMLAhead.joinable())
        fXMLAhead.join();
}

// The localisation manager is made as the start-up would have made it, once
// the XML library is started. What its loading raises is dropped, as the run
// step drops what the start-up left (a missing or unreadable localisation
// file leaves the built-in texts), so that it does not count as an error of
// the update.
void VUpdateEngine::_LoadLocalizationAfterFirstLine()
{
    if (!fLocalizationPending)
        return;
    fLocalizationPending = false;
    _WaitForXMLAhead();
    StErrorContextInstaller dropped(false, true);
    _InitLocalizationManager();
}

bool VUpdateEngine::_InitLog()
{
    if (!fLogFolder.IsValid() || !fLogFolder.IsFolder())
        return false;
    VRefPtr<VFolder> folder = AdoptRef(new VFolder(fLogFolder));
    if (!folder->Exists() && folder->CreateRecursive() != 0)
        return false;

    VTime now;
    VTime::Now(now);
    short year, month, day, hour, minute, second, millisecond;
    now.GetLocalTime(year, month, day, hour, minute, second, millisecond);
    VString name;
    name.Printf("%04d-%02d-%02d_%02d-%02d-%02d_log", year, month, day, hour, minute, second);

    fFileLogger = new VLog4jMsgFileLogger(*folder, name);
    fFileLogger->Start();
    if (!fFileLogger->IsStarted()) {
        VTask::PushRetainedError(new VErrorBase(VE_UPD_LOG_FAILED));
        return false;
    }
    return true;
}

namespace {

VString NowForTheLog(VString& outTime)
{
    VTime now;
    VTime::Now(now);
    VString date;
    now.FormatByOS(date, outTime, false);
    return date;
}

// Opens the log file with the desktop's default application; when that
// cannot be done, says so on standard error, with where the log is.
void OpenLogFile(const std::string& inPosixPath)
{
    const int error = plat::OpenWithDefaultApplication(inPosixPath.c_str());
    if (error == 0)
        return;
    std::string reason;
    if (error == ENOENT)
        reason = "xdg-open was not found";
    else if (error == ENOTSUP)
        reason = "there is no graphical session";
    else
        GetPosixErrorText(error, reason);
    std::fprintf(stderr, "The log file could not be opened (%s); it is at %s\n", reason.c_str(), inPosixPath.c_str());
    std::fflush(stderr);
}

std::string ToUTF8(const VString& inText)
{
    StStringConverter<char> converted(inText, VTC_UTF_8);
    return std::string(converted.GetCPointer(), converted.GetSize());
}

// The run's errors go to the log once. The run writes them itself, newest
// first, before its outcome; closing its silent context would write them
// again on their way down to the main task's context, where the exit status
// is read. This hands them down unlogged when the run ends, writing only
// those raised after the run wrote its own.
class StErrorsLoggedOnce {
public:
    explicit StErrorsLoggedOnce(VErrorContext* inContext) : fContext(inContext) {}
    StErrorsLoggedOnce(const StErrorsLoggedOnce&) = delete;
    StErrorsLoggedOnce& operator=(const StErrorsLoggedOnce&) = delete;

    void Write()
    {
        DumpErrorStack(fContext, true);
        fWritten = fContext->GetErrors().size();
    }

    ~StErrorsLoggedOnce()
    {
        const auto& errors = fContext->GetErrors();
        for (size_t i = fWritten; i < errors.size(); ++i)
            _LogError(errors[i]);
        if (VErrorTaskContext* stack = VTask::GetErrorContext(false))
            stack->MergeAndFlushLastContext(false);
    }

private:
    VErrorContext* fContext;
    size_t fWritten = 0;
};

}  // namespace

void VUpdateEngine::DoRun()
{
    fRunHookStarted = true;
    StErrorContextInstaller errors(true, true);
    VErrorContext* context = errors.GetContext();
    StErrorsLoggedOnce logged(context);

    _InitLog();
    if (!context->IsEmpty())
        fSilent = false;  // a log that cannot be set up is always reported

    _WaitForTextFormats();
    VString time;
    VString date = NowForTheLog(time);
    LogInfo("Updater starting - %S - %S", &date, &time);
    // The first line goes into the file from here, before anything else
    // runs: handed to the logger's task, it waited for that task's turn
    // behind the sleep notifier's and the XML library's threads. What is
    // logged later still goes through the task, after it.
    if (ILogger* logger = GetLogger())
        logger->Flush();
    plat::ReleaseSleepWatchConnections();
    _LoadLocalizationAfterFirstLine();

    if (context->IsEmpty())
        _ApplyUpdate();

    logged.Write();
    date = NowForTheLog(time);
    if (context->IsEmpty()) {
        LogInfo("Update successful - %S - %S", &date, &time);
        return;
    }
    LogInfo("Update failed - %S - %S", &date, &time);
    if (fSilent)
        return;

    VString message = ReadableErrorText(context->GetLast());

    std::string logFilePosix;
    if (fFileLogger != nullptr) {
        VFilePath folder;
        VString logName, fileName, posix;
        fFileLogger->GetLogFolderPath(folder);
        fFileLogger->GetLogName(logName);
        VLog4jMsgFileLogger::BuildLogFileName(logName, 1, fileName);
        VFilePath logFile(folder);
        logFile.ToSubFile(fileName);
        logFile.GetPosixPath(posix);
        logFilePosix = ToUTF8(posix);
        VString hint = LocalizeString(VString("MoreInformationsAvailableInLogFile"),
                                      "More information is available in the log file '{LogFilePath}'");
        if (!hint.IsEmpty()) {
            VRefPtr<VValueBag> values = AdoptRef(new VValueBag);
            values->SetAttribute(StPackedDictionaryKey("LogFilePath"), posix);
            hint.Format(values.Get());
            message.AppendCString("\r\n");
            message.AppendString(hint);
        }
    }
    VSystem::ENotificationResponse answer = VSystem::eNotificationNone;
    VSystem::DisplayNotification(VString(), message, 2, &answer);
    if (answer == VSystem::eNotificationYes && !logFilePosix.empty())
        OpenLogFile(logFilePosix);
}
