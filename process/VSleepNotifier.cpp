#include "process/VSleepNotifier.h"

#include <vector>

#include "process/VProcessIPC.h"
#include "process/mac/XMacSleepNotifier.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/ILogger.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

VSleepNotifier::VSleepNotifier() : fPlatform(new XMacSleepNotifier) {}

VSleepNotifier::~VSleepNotifier()
{
    // The platform side stops first, so that no notification arrives while
    // the handlers go.
    delete fPlatform;
    fPlatform = nullptr;
    UnregisterSleepHandlers();
}

VError VSleepNotifier::Init()
{
    if (fPlatform == nullptr) {
        _ThrowError(QeltError(3));
        return QeltError(3);
    }
    fPlatform->SetOwner(this);
    VError error = fPlatform->Init();
    if (error != 0)
        _ThrowError(error);
    return error;
}

VSleepNotifier* VSleepNotifier::Instance()
{
    return VProcessIPC::sInstance != nullptr ? VProcessIPC::sInstance->GetSleepNotifier() : nullptr;
}

VError VSleepNotifier::RegisterSleepHandler(ISleepHandler* inHandler)
{
    if (inHandler == nullptr)
        return QeltError(3);
    StLocker lock(fLock);
    (void)inHandler->GetDescription();
    if (fHandlers.insert(inHandler).second)
        inHandler->Retain();
    return 0;
}

VError VSleepNotifier::UnregisterSleepHandler(ISleepHandler* inHandler)
{
    if (inHandler == nullptr)
        return QeltError(3);
    StLocker lock(fLock);
    (void)inHandler->GetDescription();
    if (fHandlers.erase(inHandler) != 0)
        inHandler->Release();
    return 0;
}

VError VSleepNotifier::UnregisterSleepHandlers()
{
    std::set<ISleepHandler*> handlers;
    {
        StLocker lock(fLock);
        handlers.swap(fHandlers);
    }
    for (ISleepHandler* handler : handlers)
        handler->Release();
    return 0;
}

void VSleepNotifier::_Notify(bool inSleep)
{
    if (VProcess::sInstance != nullptr) {
        if (ILogger* logger = VProcess::sInstance->GetLogger(); logger != nullptr)
            logger->LogMessage(EML_Info, VString(inSleep ? "System is going to sleep" : "System woke up from sleep"),
                               VString("sleepNotifications"));
    }
    IFiberScheduler* scheduler = nullptr;
    if (VTaskMgr::sInstanceInited.load())
        scheduler = VTaskMgr::Get()->RetainFiberScheduler();
    if (scheduler != nullptr)
        scheduler->SetSystemCallCFRunloop(inSleep);

    // A copy, each handler retained while it runs, so that one may
    // unregister itself or others.
    std::vector<ISleepHandler*> handlers;
    {
        StLocker lock(fLock);
        for (ISleepHandler* handler : fHandlers) {
            handler->Retain();
            handlers.push_back(handler);
        }
    }
    for (ISleepHandler* handler : handlers) {
        (void)handler->GetDescription();
        if (inSleep)
            handler->HandleSleep();
        else
            handler->HandleWakeUp();
        handler->Release();
    }
    if (scheduler != nullptr)
        scheduler->Release();
}

void VSleepNotifier::HaveSleepNotification() { _Notify(true); }

void VSleepNotifier::HaveWakeupNotification() { _Notify(false); }

}  // namespace qelt
