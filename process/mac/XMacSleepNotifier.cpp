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
    std::string unavailable;
    if (fWatcher.Start(&unavailable) != 0) {
        _ThrowError(QeltError(1150));
        return QeltError(1150);
    }
    if (!unavailable.empty() && VProcess::sInstance != nullptr) {
        // Without the bus library nothing will be notified, as without a
        // system bus; the start-up goes on, and the log says why.
        if (ILogger* logger = VProcess::sInstance->GetLogger(); logger != nullptr)
            logger->LogMessage(EML_Warning, VString(("Sleep notifications are off: " + unavailable).c_str()),
                               VString("sleepNotifications"));
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
