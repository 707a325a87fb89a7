#include "runtime/VNotificationDebugMessageHandler.h"

#include "kernel/VString.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

// The alert's buttons: Retry, Ignore and Abort.
constexpr unsigned int kRetryIgnoreAbortAlert = 5;

}  // namespace

int VNotificationDebugMessageHandler::_Ask(const char* inTitle, const VString& inText)
{
    VSystem::ENotificationResponse response = VSystem::eNotificationNone;
    VSystem::DisplayNotification(VString(inTitle), inText, kRetryIgnoreAbortAlert, &response);
    return _TranslateNotificationResponse(response);
}

int VNotificationDebugMessageHandler::AssertFailed(VDebugContext& ioContext, const char* inCondition,
                                                   const char* inFileName, int inLineNumber)
{
    if (ioContext.IsQuiet())
        return eDebugGoOn;
    VString text;
    text.Printf("Condition: %s\nFile: %s, %d", inCondition != nullptr ? inCondition : "",
                inFileName != nullptr ? inFileName : "", inLineNumber);
    return _Ask("Assert Failed", text);
}

int VNotificationDebugMessageHandler::ErrorThrown(VDebugContext& ioContext, VErrorBase* inError)
{
    if (ioContext.IsQuiet())
        return eDebugGoOn;
    VString text("Error: ");
    if (inError != nullptr) {
        VString dump;
        inError->DumpToString(dump);
        text.AppendString(dump);
    }
    text.AppendCString("\n");
    return _Ask("Error Thrown", text);
}

int VNotificationDebugMessageHandler::_TranslateNotificationResponse(VSystem::ENotificationResponse inResponse)
{
    switch (inResponse) {
        case VSystem::eNotificationAbort:
            return VDebugMgr::Get()->IsDebuggerAvailable() ? eDebugBreak : eDebugAbort;
        case VSystem::eNotificationRetry:
            return eDebugGoOn;
        default:
            return eDebugIgnoreThis;
    }
}

}  // namespace qelt
