#include "platform/PlatSystemBus.h"

#include <dlfcn.h>

namespace qelt::plat {

namespace {

// The library's file name with its ABI version: the development link
// "libsystemd.so" is not installed on machines that only run programs.
constexpr const char* kSystemBusLibrary = "libsystemd.so.0";

struct LoadResult {
    const SystemBusLibrary* library;
    std::string reason;
};

template <typename Function>
bool Resolve(void* inHandle, const char* inName, Function& outFunction, std::string* outReason)
{
    void* symbol = ::dlsym(inHandle, inName);
    if (symbol == nullptr) {
        if (outReason != nullptr)
            *outReason = std::string("the system bus library has no function ") + inName;
        return false;
    }
    outFunction = reinterpret_cast<Function>(symbol);
    return true;
}

}  // namespace

const SystemBusLibrary* LoadSystemBusLibrary(const char* inFileName, std::string* outReason)
{
    void* handle = ::dlopen(inFileName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (outReason != nullptr) {
            const char* text = ::dlerror();
            *outReason = text != nullptr ? text : std::string("cannot load ") + inFileName;
        }
        return nullptr;
    }
    SystemBusLibrary library{};
    const bool resolved = Resolve(handle, "sd_bus_open_system", library.open_system, outReason) &&
                          Resolve(handle, "sd_bus_unref", library.unref, outReason) &&
                          Resolve(handle, "sd_bus_flush_close_unref", library.flush_close_unref, outReason) &&
                          Resolve(handle, "sd_bus_match_signal", library.match_signal, outReason) &&
                          Resolve(handle, "sd_bus_slot_unref", library.slot_unref, outReason) &&
                          Resolve(handle, "sd_bus_call_method", library.call_method, outReason) &&
                          Resolve(handle, "sd_bus_message_read", library.message_read, outReason) &&
                          Resolve(handle, "sd_bus_message_unref", library.message_unref, outReason) &&
                          Resolve(handle, "sd_bus_error_free", library.error_free, outReason) &&
                          Resolve(handle, "sd_bus_process", library.process, outReason) &&
                          Resolve(handle, "sd_bus_get_fd", library.get_fd, outReason) &&
                          Resolve(handle, "sd_bus_get_events", library.get_events, outReason) &&
                          Resolve(handle, "sd_bus_get_timeout", library.get_timeout, outReason);
    if (!resolved) {
        ::dlclose(handle);
        return nullptr;
    }
    return new SystemBusLibrary(library);
}

const SystemBusLibrary* GetSystemBusLibrary(std::string* outReason)
{
    static const LoadResult sLoaded = [] {
        LoadResult result{nullptr, {}};
        result.library = LoadSystemBusLibrary(kSystemBusLibrary, &result.reason);
        return result;
    }();
    if (sLoaded.library == nullptr && outReason != nullptr)
        *outReason = sLoaded.reason;
    return sLoaded.library;
}

}  // namespace qelt::plat
