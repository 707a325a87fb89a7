// Tells the process when the system is about to sleep and when it has woken
// up. The inter-process application object makes one at start-up; whatever
// must react registers a sleep handler with it. Handlers are called outside
// the notifier's lock, on a copy of the set, so a handler may register or
// unregister handlers; the sleep goes on only once every handler returned.
#pragma once

#include <set>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class XMacSleepNotifier;

class VSleepNotifier : public VObject {
public:
    class ISleepHandler : public IRefCountable {
    public:
        virtual void HandleSleep() = 0;
        virtual void HandleWakeUp() = 0;
        virtual VString GetDescription() = 0;
    };

    VSleepNotifier();
    ~VSleepNotifier() override;

    VSleepNotifier(const VSleepNotifier&) = delete;
    VSleepNotifier& operator=(const VSleepNotifier&) = delete;

    // Starts listening; 0, or the error of the platform side (raised).
    VError Init();

    // The notifier of the running inter-process application object (null
    // when there is none).
    static VSleepNotifier* Instance();

    // A handler registered twice is kept once, with one reference.
    VError RegisterSleepHandler(ISleepHandler* inHandler);
    VError UnregisterSleepHandler(ISleepHandler* inHandler);
    VError UnregisterSleepHandlers();

    // Called by the platform side.
    void HaveSleepNotification();
    void HaveWakeupNotification();

private:
    void _Notify(bool inSleep);

    XMacSleepNotifier* fPlatform;
    std::set<ISleepHandler*> fHandlers;
    VCriticalSection fLock;
};

}  // namespace qelt
