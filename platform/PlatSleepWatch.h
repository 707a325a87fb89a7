// The system's sleep and wake-up announcements: the login manager's
// "PrepareForSleep" signal on the system bus, read on a thread of the
// watcher. A "delay" inhibitor is held while awake, so that the system waits
// for the handler: it is closed once the handler has returned before a
// sleep, and taken again after the wake-up. Without a system bus
// (containers, build machines) the watcher starts and never announces
// anything.
#pragma once

#include <functional>
#include <string>
#include <thread>

struct sd_bus;
struct sd_bus_slot;

namespace qelt::plat {

struct SystemBusLibrary;

class SleepWatcher {
public:
    // The handler is called on the watcher's thread: true before a sleep,
    // false after the wake-up.
    explicit SleepWatcher(std::function<void(bool)> inHandler);
    ~SleepWatcher();

    SleepWatcher(const SleepWatcher&) = delete;
    SleepWatcher& operator=(const SleepWatcher&) = delete;

    // 0, also without a system bus or without the bus library (then
    // outUnavailable, when given, says why the library could not be loaded);
    // -1 when the bus is there but the signal cannot be watched. Starting
    // again does nothing.
    int Start(std::string* outUnavailable = nullptr);

    // Whether a system bus was found and is watched.
    bool IsListening() const { return fBus != nullptr; }

    // Handles one "PrepareForSleep" value.
    void Announce(bool inSleeping);

private:
    void _TakeInhibitor();
    void _ReleaseInhibitor();
    void _Run();

    std::function<void(bool)> fHandler;
    const SystemBusLibrary* fLibrary = nullptr;  // set once the library is loaded
    sd_bus* fBus = nullptr;
    sd_bus_slot* fSlot = nullptr;
    int fInhibitor = -1;
    int fStop[2] = {-1, -1};
    std::thread fThread;
};

}  // namespace qelt::plat
