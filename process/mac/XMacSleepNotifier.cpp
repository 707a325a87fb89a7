#include "process/mac/XMacSleepNotifier.h"

#include <string>

#include "process/VProcess.h"
#include "process/VSleepNotifier.h"
#include "runtime/ILogger.h"
#include "runtime/VErrorBase.h"

namespace qelt {

XMacSleepNotifier::XMacSleepNotifier() : fWatcher([this](bool inSleeping) { _Notify(inSleeping); }) {}

XMacSleepNotifier::~XMacSleepNotifier() = default;

VError XMacSleepNotifier::Init()
{
    // The watcher connects on its own thread. Without the bus library, or
    // with a bus that refuses the watch, nothing will be notified, as
    // without a system bus; the process goes on, and the log says why.
    const int started = fWatcher.Start([](const std::string& inReason) {
        if (VProcess::sInstance != nullptr) {
            if (ILogger* logger = VProcess::sInstance->GetLogger(); logger != nullptr)
                logger->LogMessage(EML_Warning, VString(("Sleep notifications are off: " + inReason).c_str()),
                                   VString("sleepNotifications"));
        }
    });
    if (started != 0) {
        _ThrowError(QeltError(1150));
        return QeltError(1150);
    }
    return 0;
}

void XMacSleepNotifier::PrepareForSleep(bool inSleeping) { fWatcher.Announce(inSleeping); }

void XMacSleepNotifier::_Notify(bool inSleeping)
{
    if (fOwner == nullptr)
        return;
    if (inSleeping)
        fOwner->HaveSleepNotification();
    else
        fOwner->HaveWakeupNotification();
}

}  // namespace qelt
