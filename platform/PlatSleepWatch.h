// The system's sleep and wake-up announcements: the login manager's
// "PrepareForSleep" signal on the system bus, read on a thread of the
// watcher. A "delay" inhibitor is held while awake, so that the system waits
// for the handler: it is closed once the handler has returned before a
// sleep, and taken again after the wake-up. Without a system bus
// (containers, build machines) the watcher starts and never announces
// anything.
//
// Loading the bus library (libsystemd and the six libraries it brings) and
// connecting to the bus take longer than the rest of a program's start-up:
// both are done on the watcher's thread, so that starting costs the caller
// one thread. A program whose first moments count can also hold that
// loading back until they are over (HoldSleepWatchConnections): the
// loader's mappings and page-table changes then do not run beside them.
#pragma once

#include <atomic>
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

    // Starts the watcher's thread, which loads the bus library, connects
    // and watches (while connections are held back, the thread starts at
    // the release); 0, or -1 when the thread cannot be started. Without a system bus nothing is
    // announced, and that is no trouble. When the bus
    // library cannot be loaded, or the bus is there but the signal cannot
    // be watched, the thread calls inTrouble (when given) with the reason
    // and ends. Starting again does nothing.
    int Start(std::function<void(const std::string&)> inTrouble = nullptr);

    // Whether a system bus was found and is watched.
    bool IsListening() const { return fListening.load(std::memory_order_acquire); }

    // Handles one "PrepareForSleep" value.
    void Announce(bool inSleeping);

private:
    void _TakeInhibitor();
    void _ReleaseInhibitor();
    // Loads the library and connects (on the watcher's thread): true when
    // the signal is watched.
    bool _Connect(const std::function<void(const std::string&)>& inTrouble);
    void _Run();
    // Waits while the connections are held back: true when the thread may
    // connect, false when the watcher is being destroyed meanwhile.
    bool _WaitUntilReleased();
    // Starts the thread (under the hold's lock); false when it cannot be.
    bool _StartThread();
    friend void ReleaseSleepWatchConnections();

    std::function<void(bool)> fHandler;
    const SystemBusLibrary* fLibrary = nullptr;  // set once the library is loaded
    sd_bus* fBus = nullptr;
    sd_bus_slot* fSlot = nullptr;
    int fInhibitor = -1;
    int fStop[2] = {-1, -1};
    std::atomic<bool> fListening{false};
    bool fEnding = false;  // guarded by the hold's lock
    std::function<void(const std::string&)> fTrouble;  // set before the thread starts
    std::thread fThread;
};

// Holds back, process-wide, the loading and connecting of every watcher
// that has not connected yet, until the release. A watcher started while
// held gets its thread at the release (a thread that cannot be started then
// is reported to its inTrouble); one whose thread was running already waits
// on it. Releasing lets the waiting watchers go on; a watcher destroyed
// while it waits ends without connecting.
void HoldSleepWatchConnections();
void ReleaseSleepWatchConnections();

}  // namespace qelt::plat
