// A ready-made debug message handler that asks the user through a system
// alert with the buttons Retry, Ignore and Abort.
#pragma once

#include "kernel/VObject.h"
#include "kernel/VSystem.h"
#include "runtime/VDebugMgr.h"

namespace qelt {

class VNotificationDebugMessageHandler : public VObject, public IDebugMessageHandler {
public:
    // Answer 0 without showing anything while the task's context is quiet.
    int AssertFailed(VDebugContext& ioContext, const char* inCondition, const char* inFileName,
                     int inLineNumber) override;
    int ErrorThrown(VDebugContext& ioContext, VErrorBase* inError) override;

    // Abort breaks (or ends the process without a debugger), Retry goes on,
    // anything else (Ignore, dismissed, none) ignores from now on.
    static int _TranslateNotificationResponse(VSystem::ENotificationResponse inResponse);

private:
    static int _Ask(const char* inTitle, const VString& inText);
};

}  // namespace qelt
