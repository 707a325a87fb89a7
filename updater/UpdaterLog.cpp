// The updater's logging front end and its errors with path parameters.
#include "updater/UpdaterLog.h"

#include "kernel/IRefCountable.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "process/VProcess.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "values/VValueBag.h"

using namespace qelt;

void Log(EMessageLevel inLevel, const char* inFormat, va_list inArguments)
{
    if (VProcess::sInstance == nullptr || VProcess::sInstance->GetLogger() == nullptr)
        return;
    VString message;
    message.VPrintf(inFormat, inArguments);
    VRefPtr<VValueBag> record = AdoptRef(new VValueBag);
    ILoggerBagKeys::message.Set(*record, message);
    ILoggerBagKeys::level.Set(*record, inLevel);
    ILoggerBagKeys::component_signature.Set(*record, kUpdaterLogSignature);
    VProcess::sInstance->GetLogger()->LogBag(record.Get());
}

#define QELT_UPDATER_LOG_AT(name, level)          \
    void name(const char* inFormat, ...)          \
    {                                             \
        va_list arguments;                        \
        va_start(arguments, inFormat);            \
        Log(level, inFormat, arguments);          \
        va_end(arguments);                        \
    }

QELT_UPDATER_LOG_AT(LogError, EML_Error)
QELT_UPDATER_LOG_AT(LogWarning, EML_Warning)
QELT_UPDATER_LOG_AT(LogInfo, EML_Info)
QELT_UPDATER_LOG_AT(LogDebug, EML_Debug)

#undef QELT_UPDATER_LOG_AT

namespace {

// The parameters that carry paths, in the toolbox's own form.
constexpr const char* kPathParameters[] = {"path", "srcPath", "dstPath", "from", "to", "destination"};

}  // namespace

void ShowPathsAsPosix(VErrorBase* ioError)
{
    VValueBag* parameters = ioError->GetBag();
    for (const char* name : kPathParameters) {
        const StPackedDictionaryKey key(name);
        VString text;
        if (!parameters->GetAttribute(key, text) || text.FindUniChar(':') == 0)
            continue;
        VString posix;
        VFilePath(text, FPS_SYSTEM).GetPosixPath(posix);
        if (posix.IsEmpty())
            continue;
        if (posix.GetLength() > 1 && posix.GetUniChar(posix.GetLength()) == '/')
            posix.Truncate(posix.GetLength() - 1);
        parameters->SetAttribute(key, posix);
    }
}

VString ReadableErrorText(const VErrorBase* inError)
{
    VString text;
    inError->GetErrorDescription(text);
    if (text.IsEmpty())
        inError->GetErrorString(text);
    return text;
}

namespace {

void DumpErrors(const VErrorContext* inContext, bool inNewestFirst, void (*inLog)(const char*, ...))
{
    if (inContext == nullptr)
        return;
    // A copy of the list, each error retained while it is used: logging may
    // raise errors of its own.
    std::vector<VRefPtr<VErrorBase>> errors;
    for (VErrorBase* error : inContext->GetErrors())
        errors.emplace_back(error);
    if (inNewestFirst)
        std::reverse(errors.begin(), errors.end());
    for (const VRefPtr<VErrorBase>& error : errors) {
        // From here on the error is only reported: its paths are shown as
        // the user wrote them, here and wherever it is reported later.
        ShowPathsAsPosix(error.Get());
        VString text = ReadableErrorText(error.Get());
        inLog("%S", &text);
    }
}

VError ThrowWithParameters(VError inCode, std::initializer_list<std::pair<const char*, const VFilePath*>> inPaths)
{
    if (inCode == 0)
        return 0;
    VRefPtr<VErrorBase> error = AdoptRef(new VErrorBase(inCode));
    for (const auto& [name, path] : inPaths) {
        VString text;
        path->GetPath(text);
        error->GetBag()->SetAttribute(StPackedDictionaryKey(name), text);
    }
    VTask::PushError(error.Get());
    return inCode;
}

}  // namespace

void DumpErrorStack(const VErrorContext* inContext, bool inNewestFirst)
{
    DumpErrors(inContext, inNewestFirst, &LogError);
}

void DumpErrorStackAsWarnings(const VErrorContext* inContext)
{
    DumpErrors(inContext, false, &LogWarning);
}

void _LogError(const VErrorBase* inError)
{
    if (inError == nullptr)
        return;
    VRefPtr<const VErrorBase> held(inError);
    VString text = ReadableErrorText(inError);
    LogError("%S", &text);
}

VError ThrowErrorWithPath(VError inCode, const VFilePath& inPath)
{
    return ThrowWithParameters(inCode, {{"path", &inPath}});
}

VError ThrowErrorWithPaths(VError inCode, const VFilePath& inSource, const VFilePath& inDestination)
{
    return ThrowWithParameters(inCode, {{"srcPath", &inSource}, {"dstPath", &inDestination}});
}

VError ThrowErrorWithPathsNamed(VError inCode, const char* inSourceName, const VFilePath& inSource,
                                const char* inDestinationName, const VFilePath& inDestination)
{
    return ThrowWithParameters(inCode, {{inSourceName, &inSource}, {inDestinationName, &inDestination}});
}

VError ThrowServiceError(VError inCode, const VString& inServiceName)
{
    if (inCode == 0)
        return 0;
    VRefPtr<VErrorBase> error = AdoptRef(new VErrorBase(inCode));
    error->GetBag()->SetAttribute(StPackedDictionaryKey("ServiceName"), inServiceName);
    VTask::PushError(error.Get());
    return inCode;
}

void DisplayMessage(const char* inText)
{
    VSystem::ENotificationResponse answer = VSystem::eNotificationNone;
    VSystem::DisplayNotification(VString("Debug"), VString(inText), 0, &answer);
}
