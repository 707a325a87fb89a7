#include "process/mac/XMacSleepNotifier.h"

#include "process/VSleepNotifier.h"
#include "runtime/VErrorBase.h"

namespace qelt {

XMacSleepNotifier::XMacSleepNotifier() : fWatcher([this](bool inSleeping) { _Notify(inSleeping); }) {}

XMacSleepNotifier::~XMacSleepNotifier() = default;

VError XMacSleepNotifier::Init()
{
    if (fWatcher.Start() != 0) {
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
