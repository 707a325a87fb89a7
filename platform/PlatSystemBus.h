// The system bus library (libsystemd's sd-bus), loaded on first use.
//
// The sleep notifier is its only user, and most runs of a program never
// need it: linking it would load libsystemd and the six libraries it brings
// at every start, which measured as about half of the updater's start-up.
// So it is opened with dlopen the first time it is asked for, and the few
// functions the notifier calls are resolved by name. Their prototypes and
// the one structure passed by value are declared here, from the library's
// stable ABI (libsystemd.so.0), so that the build needs neither the
// library's headers nor the library itself; a machine without it still runs
// every program, only without sleep notifications.
#pragma once

#include <cstdint>
#include <string>

// The library's opaque objects, only ever handled through pointers.
struct sd_bus;
struct sd_bus_slot;
struct sd_bus_message;

namespace qelt::plat {

// The library's error record, filled by a failed method call and released
// with `error_free`; it starts as all zero.
struct SystemBusError {
    const char* name = nullptr;
    const char* message = nullptr;
    int needFree = 0;
};

using SystemBusHandler = int (*)(sd_bus_message* inMessage, void* inUserData, SystemBusError* outError);

// The library's functions, each resolved; never unloaded.
struct SystemBusLibrary {
    int (*open_system)(sd_bus** outBus);
    sd_bus* (*unref)(sd_bus* inBus);
    sd_bus* (*flush_close_unref)(sd_bus* inBus);
    int (*match_signal)(sd_bus* inBus, sd_bus_slot** outSlot, const char* inSender, const char* inPath,
                        const char* inInterface, const char* inMember, SystemBusHandler inCallback, void* inUserData);
    sd_bus_slot* (*slot_unref)(sd_bus_slot* inSlot);
    int (*call_method)(sd_bus* inBus, const char* inDestination, const char* inPath, const char* inInterface,
                       const char* inMember, SystemBusError* outError, sd_bus_message** outReply,
                       const char* inTypes, ...);
    int (*message_read)(sd_bus_message* inMessage, const char* inTypes, ...);
    sd_bus_message* (*message_unref)(sd_bus_message* inMessage);
    void (*error_free)(SystemBusError* ioError);
    int (*process)(sd_bus* inBus, sd_bus_message** outMessage);
    int (*get_fd)(sd_bus* inBus);
    int (*get_events)(sd_bus* inBus);
    int (*get_timeout)(sd_bus* inBus, uint64_t* outMicroseconds);
};

// The system bus library, loaded the first time (thread-safe); null when
// the machine has no libsystemd or it lacks one of the functions, with the
// reason in `outReason` when given.
const SystemBusLibrary* GetSystemBusLibrary(std::string* outReason = nullptr);

// Loads the library of that file name (or path) afresh; what
// GetSystemBusLibrary does once. The result is allocated and never freed
// when it is not null (a loaded library stays loaded).
const SystemBusLibrary* LoadSystemBusLibrary(const char* inFileName, std::string* outReason);

}  // namespace qelt::plat
