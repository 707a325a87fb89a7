// The platform side of the sleep notifier: the platform's sleep watcher
// (the login manager's "PrepareForSleep" signal on the system bus, with a
// "delay" inhibitor held while awake, so that the system waits for the sleep
// handlers). Without a system bus (containers, build machines) Init succeeds
// and nothing is ever notified.
#pragma once

#include "kernel/VKernelTypes.h"
#include "platform/PlatSleepWatch.h"

namespace qelt {

class VSleepNotifier;

class XMacSleepNotifier {
public:
    XMacSleepNotifier();
    ~XMacSleepNotifier();

    XMacSleepNotifier(const XMacSleepNotifier&) = delete;
    XMacSleepNotifier& operator=(const XMacSleepNotifier&) = delete;

    void SetOwner(VSleepNotifier* inOwner) { fOwner = inOwner; }
    // Starts the watcher, which connects to the bus on its own thread: 0,
    // also without a system bus; 'qelt' 1150 (raised) when the watcher
    // cannot start. A bus that refuses the watch, or a missing bus library,
    // is logged as a warning from the watcher's thread.
    VError Init();

    // Whether a system bus was found and is watched.
    bool IsListening() const { return fWatcher.IsListening(); }

    // Handles one "PrepareForSleep" value: true before a sleep, false after
    // the wake-up.
    void PrepareForSleep(bool inSleeping);

private:
    // Hands the announcement to the owner's handlers.
    void _Notify(bool inSleeping);

    VSleepNotifier* fOwner = nullptr;
    plat::SleepWatcher fWatcher;
};

}  // namespace qelt
