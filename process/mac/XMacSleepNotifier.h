// The platform side of the sleep notifier: the login manager's
// "PrepareForSleep" signal on the system bus, read on a thread of this
// object. A "delay" inhibitor is held while awake, so that the system waits
// for the sleep handlers: it is closed once they have returned and taken
// again after the wake-up. Without a system bus (containers, build
// machines), or without the bus library (loaded when the first notifier
// starts), Init succeeds and nothing is ever notified; the missing library
// is logged as a warning.
#pragma once

#include <thread>

#include "kernel/VKernelTypes.h"

struct sd_bus;
struct sd_bus_slot;

namespace qelt {

namespace plat {
struct SystemBusLibrary;
}

class VSleepNotifier;

class XMacSleepNotifier {
public:
    XMacSleepNotifier() = default;
    ~XMacSleepNotifier();

    XMacSleepNotifier(const XMacSleepNotifier&) = delete;
    XMacSleepNotifier& operator=(const XMacSleepNotifier&) = delete;

    void SetOwner(VSleepNotifier* inOwner) { fOwner = inOwner; }
    // 0, also without a system bus; 'qelt' 1150 (raised) when the bus is
    // there but the signal cannot be watched.
    VError Init();

    // Whether a system bus was found and is watched.
    bool IsListening() const { return fBus != nullptr; }

    // Handles one "PrepareForSleep" value: true before a sleep, false after
    // the wake-up.
    void PrepareForSleep(bool inSleeping);

private:
    void _TakeInhibitor();
    void _ReleaseInhibitor();
    void _Run();

    VSleepNotifier* fOwner = nullptr;
    const plat::SystemBusLibrary* fLibrary = nullptr;  // set while fBus is
    sd_bus* fBus = nullptr;
    sd_bus_slot* fSlot = nullptr;
    int fInhibitor = -1;
    int fStop[2] = {-1, -1};
    std::thread fThread;
};

}  // namespace qelt
