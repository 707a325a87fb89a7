#include "runtime/VDebugMgr.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "platform/PlatBundle.h"
#include "platform/PlatDebug.h"
#include "runtime/VProcessServices_runtime.h"
#include "runtime/ILogger.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacStackCrawl.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

constexpr const char* kHeaderDateFormat = "%A, %B %d, %Y %I:%M:%S %p";
constexpr const char* kEntryDateFormat = "%m/%d/%y, %X";
constexpr size_t kMaxAssertFilePath = 4096;

ILogger* ProcessLogger()
{
    return GetProcessLogger();
}

VDebugContext* CurrentDebugContext()
{
    if (!VTaskMgr::sInstanceInited)
        return nullptr;
    VTask* task = VTask::GetCurrent();
    return task != nullptr ? &task->GetDebugContext() : nullptr;
}

// Clears the reporting flag of a report when it ends, whatever way it ends.
class StReport {
public:
    explicit StReport(VDebugContext* inContext) : fContext(inContext) {}
    ~StReport()
    {
        if (fContext != nullptr)
            fContext->SetReporting(false);
    }
    StReport(const StReport&) = delete;
    StReport& operator=(const StReport&) = delete;

private:
    VDebugContext* fContext;
};

}  // namespace

VDebugMgr::VDebugMgr() = default;

VDebugMgr::~VDebugMgr()
{
    ReleaseRefCountable(fHandler);
}

VDebugMgr* VDebugMgr::Get()
{
    static VDebugMgr sInstance;
    return &sInstance;
}

bool VDebugMgr::Init()
{
    fMessagesEnabled.store(true);
    return true;
}

void VDebugMgr::DeInit()
{
    SetDebugMessageHandler(nullptr);
    fMessagesEnabled.store(false);
    fUseAssertFile.store(false);
    std::lock_guard<std::mutex> locker(fLock);
    fAssertFilePath.clear();
}

// ---------------------------------------------------------------------------
// Reports

VDebugContext* VDebugMgr::_BeginReport()
{
    if (!fMessagesEnabled.load())
        return nullptr;
    VDebugContext* context = CurrentDebugContext();
    if (context == nullptr || context->IsLowLevelMode() || context->IsReporting())
        return nullptr;
    context->SetReporting(true);
    return context;
}

IDebugMessageHandler* VDebugMgr::_RetainHandler()
{
    std::lock_guard<std::mutex> locker(fLock);
    return RetainRefCountable(fHandler);
}

void VDebugMgr::SetDebugMessageHandler(IDebugMessageHandler* inHandler)
{
    IDebugMessageHandler* previous = nullptr;
    {
        std::lock_guard<std::mutex> locker(fLock);
        if (inHandler == fHandler)
            return;
        previous = fHandler;
        fHandler = RetainRefCountable(inHandler);
    }
    ReleaseRefCountable(previous);
}

bool VDebugMgr::AssertFailed(const char* inCondition, const char* inFileName, int inLineNumber)
{
    bool result = fBreakOnAssert.load();
    if (!fMessagesEnabled.load())
        return result;
    const char* condition = inCondition != nullptr ? inCondition : "";
    const char* fileName = inFileName != nullptr ? inFileName : "";
    if (fLogInDebugger.load() && fDebuggerAvailable)
        fprintf_console("Assert Failed: %s, %s, %d\n", condition, fileName, inLineNumber);

    VDebugContext* context = _BeginReport();
    if (context == nullptr)
        return result;
    StReport report(context);

    const std::string key = std::string(fileName) + std::to_string(inLineNumber);
    bool ignored = fIgnoreAllAsserts.load();
    if (!ignored) {
        std::lock_guard<std::mutex> locker(fLock);
        ignored = std::find(fIgnoredAsserts.begin(), fIgnoredAsserts.end(), key) != fIgnoredAsserts.end();
    }
    if (ignored)
        return false;

    if (fUseAssertFile.load()) {
        VString text;
        text.Printf("Assert Failed: %s, %s, %d\n", condition, fileName, inLineNumber);
        WriteToAssertFile(text, true, true);
    }
    if (ILogger* logger = ProcessLogger())
        logger->LogAssertIfNecessary(condition, fileName, inLineNumber);

    VRefPtr<IDebugMessageHandler> handler = AdoptRef(_RetainHandler());
    if (handler == nullptr)
        return result;
    switch (handler->AssertFailed(*context, condition, fileName, inLineNumber)) {
        case eDebugBreak:
            if (!fDebuggerAvailable)
                Abort();
            return true;
        case eDebugAbort:
            Abort();
        case eDebugIgnoreThis: {
            std::lock_guard<std::mutex> locker(fLock);
            fIgnoredAsserts.push_back(key);
            return false;
        }
        case eDebugIgnoreAll:
            fIgnoreAllAsserts.store(true);
            return false;
        default:
            return false;
    }
}

void VDebugMgr::ErrorThrown(VErrorBase* inError)
{
    bool result = fBreakOnError.load();
    if (inError == nullptr)
        return;
    if (VDebugContext* context = _BeginReport()) {
        StReport report(context);
        const VError code = inError->GetError();
        bool ignored = fIgnoreAllErrors.load();
        if (!ignored) {
            std::lock_guard<std::mutex> locker(fLock);
            ignored = fIgnoredErrors.count(code) != 0;
        }
        if (ignored) {
            result = false;
        } else {
            const bool toFile = fUseAssertFile.load();
            const bool toConsole = fLogInDebugger.load() && fDebuggerAvailable;
            if (toFile || toConsole) {
                VString text("Error: ");
                VString dump;
                inError->DumpToString(dump);
                text.AppendString(dump);
                text.AppendCString("\n");
                if (toFile)
                    WriteToAssertFile(text, true, true);
                if (toConsole)
                    _WriteToConsoleUTF8(text);
            }
            if (ILogger* logger = ProcessLogger())
                logger->LogErrorIfNecessary(inError);

            VRefPtr<IDebugMessageHandler> handler = AdoptRef(_RetainHandler());
            if (handler != nullptr) {
                const int answer = handler->ErrorThrown(*context, inError);
                result = false;
                switch (answer) {
                    case eDebugBreak:
                        if (!fDebuggerAvailable)
                            Abort();
                        result = true;
                        break;
                    case eDebugAbort:
                        Abort();
                    case eDebugIgnoreThis: {
                        std::lock_guard<std::mutex> locker(fLock);
                        fIgnoredErrors.insert(code);
                        break;
                    }
                    case eDebugIgnoreAll:
                        fIgnoreAllErrors.store(true);
                        break;
                    default:
                        break;
                }
            }
        }
    }
    if (result)
        Break();
}

void VDebugMgr::DebugMsg(const char* inFormat, va_list inArgs)
{
    if (!fMessagesEnabled.load() || inFormat == nullptr)
        return;
    VDebugContext* context = CurrentDebugContext();
    if (context == nullptr)
        return;
    if (!context->IsLowLevelMode()) {
        VString text;
        text.VPrintf(inFormat, inArgs);
        DebugMsg(text);
        return;
    }
    if (fLogInDebugger.load() && fDebuggerAvailable)
        vfprintf_console(inFormat, inArgs);
    if (fBreakOnDebugMsg.load())
        Break();
}

void VDebugMgr::DebugMsg(const VString& inMessage)
{
    VDebugContext* context = CurrentDebugContext();
    if (fMessagesEnabled.load() && context != nullptr && !context->IsReporting()) {
        context->SetReporting(true);
        StReport report(context);
        if (!context->IsLowLevelMode()) {
            if (fUseAssertFile.load())
                WriteToAssertFile(inMessage, true, true);
            ILogger* logger = ProcessLogger();
            if (logger != nullptr && logger->ShouldLog(EML_Debug)) {
                VString message(inMessage);
                const int length = message.GetLength();
                if (length > 0 && message.GetCPointer()[length - 1] == UniChar('\n'))
                    message.Remove(length, 1);
                VRefPtr<VValueBag> record = AdoptRef(new VValueBag);
                ILoggerBagKeys::message.Set(*record, message);
                ILoggerBagKeys::level.Set(*record, EML_Debug);
                logger->LogBag(record.Get());
            }
        }
        if (fLogInDebugger.load() && fDebuggerAvailable)
            _WriteToConsoleUTF8(inMessage);
    }
    if (fBreakOnDebugMsg.load())
        Break();
}

// ---------------------------------------------------------------------------
// Low-level mode, breaks, console

void VDebugMgr::StartLowLevelMode()
{
    if (VDebugContext* context = CurrentDebugContext())
        context->StartLowLevelMode();
}

void VDebugMgr::StopLowLevelMode()
{
    if (VDebugContext* context = CurrentDebugContext())
        context->StopLowLevelMode();
}

void VDebugMgr::Break()
{
    VDebugContext* context = CurrentDebugContext();
    if (context != nullptr && context->CanBreak())
        plat::BreakIntoDebugger();
}

void VDebugMgr::Abort()
{
    plat::EndProcess(1);
}

void VDebugMgr::fprintf_console(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    vfprintf_console(inFormat, args);
    va_end(args);
}

void VDebugMgr::vfprintf_console(const char* inFormat, va_list inArgs)
{
    std::vfprintf(stderr, inFormat, inArgs);
}

void VDebugMgr::_WriteToConsoleUTF8(const VString& inText)
{
    StStringConverter<char> utf8(inText, VTC_UTF_8);
    std::fwrite(utf8.GetCPointer(), 1, utf8.GetSize(), stderr);
}

bool VDebugMgr::_GetDebuggerType(VDebuggerType* outType)
{
    if (outType != nullptr)
        *outType = eDebuggerSystem;
    return true;
}

// ---------------------------------------------------------------------------
// Asserts file

std::string VDebugMgr::BuildAssertFilePath(const std::string& inBundleOrExecutablePath)
{
    if (inBundleOrExecutablePath.empty())
        return std::string();
    std::string path = inBundleOrExecutablePath;
    // Only the last element loses its extension; a leading '.' of that
    // element is part of its name.
    const size_t nameStart = path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1;
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && dot > nameStart)
        path.erase(dot);
    path += "_asserts.txt";
    if (path.size() > kMaxAssertFilePath)
        return std::string();
    return path;
}

const std::string& VDebugMgr::_EnsureAssertFilePath()
{
    if (fAssertFilePath.empty()) {
        const std::string& bundle = plat::GetMainBundlePath();
        fAssertFilePath = BuildAssertFilePath(bundle.empty() ? plat::GetExecutablePath() : bundle);
    }
    return fAssertFilePath;
}

std::string VDebugMgr::_GetAssertFilePath()
{
    std::lock_guard<std::mutex> locker(fLock);
    return _EnsureAssertFilePath();
}

void VDebugMgr::_SetAssertFilePath(const std::string& inPath)
{
    std::lock_guard<std::mutex> locker(fLock);
    fAssertFilePath = inPath;
    fAssertFileOpened = false;
    fRotationCounter = 0;
}

FILE* VDebugMgr::_OpenAssertFile(bool inWithDate, bool inWithStack)
{
    if (_EnsureAssertFilePath().empty())
        return nullptr;
    const char* path = fAssertFilePath.c_str();
    FILE* file = nullptr;
    if (fAssertFileOpened) {
        file = std::fopen(path, "a");
        if (file == nullptr)
            return nullptr;
        struct stat info;
        if (::fstat(fileno(file), &info) == 0 && info.st_size >= kAssertFileRotationSize) {
            std::fclose(file);
            const std::string rotated = fAssertFilePath + std::to_string(fRotationCounter);
            std::rename(path, rotated.c_str());
            ++fRotationCounter;
            file = std::fopen(path, "w");
            if (file == nullptr)
                return nullptr;
            std::fprintf(file, "%u nth log opened on %s\n\n", fRotationCounter + 1,
                         plat::FormatLocalTimeC(kHeaderDateFormat).c_str());
        }
    } else {
        file = std::fopen(path, "w");
        if (file != nullptr)
            std::fprintf(file, "Vq log file opened on %s\n\n", plat::FormatLocalTimeC(kHeaderDateFormat).c_str());
        // The next entry appends, even when this creation failed.
        fAssertFileOpened = true;
        if (file == nullptr)
            return nullptr;
    }
    if (inWithDate)
        std::fprintf(file, "\n%s\n", plat::FormatLocalTimeC(kEntryDateFormat).c_str());
    else if (inWithStack)
        std::fputs("\n", file);
    if (inWithStack) {
        XMacStackCrawl crawl;
        crawl.LoadFrames(4, 8);
        crawl.Dump(file);
    }
    return file;
}

void VDebugMgr::WriteToAssertFile(const VString& inText, bool inWithDate, bool inWithStack)
{
    StStringConverter<char> utf8(inText, VTC_UTF_8);
    std::lock_guard<std::mutex> locker(fLock);
    FILE* file = _OpenAssertFile(inWithDate, inWithStack);
    if (file == nullptr)
        return;
    std::fwrite(utf8.GetCPointer(), 1, utf8.GetSize(), file);
    std::fclose(file);
}

}  // namespace qelt
