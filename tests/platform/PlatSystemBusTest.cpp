#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "platform/PlatSleepWatch.h"
#include "platform/PlatSystemBus.h"

namespace qelt::plat {
namespace {

// The functions are looked up by name at run time: a misspelt name or a
// library without one would only show on a machine that sleeps.
TEST(PlatSystemBus, TheMachinesBusLibraryLoadsWithEveryFunctionTheNotifierCalls)
{
    if (::dlopen("libsystemd.so.0", RTLD_LAZY | RTLD_LOCAL) == nullptr)
        GTEST_SKIP() << "this machine has no libsystemd";
    std::string reason;
    const SystemBusLibrary* library = GetSystemBusLibrary(&reason);
    ASSERT_NE(library, nullptr) << reason;
    EXPECT_EQ(GetSystemBusLibrary(), library) << "loaded once";
    const void* functions[] = {
        reinterpret_cast<const void*>(library->open_system),   reinterpret_cast<const void*>(library->unref),
        reinterpret_cast<const void*>(library->flush_close_unref), reinterpret_cast<const void*>(library->match_signal),
        reinterpret_cast<const void*>(library->slot_unref),     reinterpret_cast<const void*>(library->call_method),
        reinterpret_cast<const void*>(library->message_read),   reinterpret_cast<const void*>(library->message_unref),
        reinterpret_cast<const void*>(library->error_free),     reinterpret_cast<const void*>(library->process),
        reinterpret_cast<const void*>(library->get_fd),         reinterpret_cast<const void*>(library->get_events),
        reinterpret_cast<const void*>(library->get_timeout)};
    for (const void* function : functions)
        EXPECT_NE(function, nullptr);

    // The error record is passed to the library by address: freeing an
    // empty one leaves it empty, as the library's own initialiser would.
    SystemBusError error;
    library->error_free(&error);
    EXPECT_EQ(error.name, nullptr);
    EXPECT_EQ(error.message, nullptr);
}

TEST(PlatSystemBus, AMissingLibraryIsNoBusWithTheLoadersReason)
{
    std::string reason;
    EXPECT_EQ(LoadSystemBusLibrary("libqelt-no-such-bus-library.so.0", &reason), nullptr);
    EXPECT_NE(reason.find("libqelt-no-such-bus-library.so.0"), std::string::npos) << reason;
    EXPECT_EQ(LoadSystemBusLibrary("libqelt-no-such-bus-library.so.0", nullptr), nullptr);
}

// A library that is there but is not the bus library (the C library has
// none of its functions) is refused, not half used.
TEST(PlatSystemBus, ALibraryWithoutTheBusFunctionsIsRefused)
{
    std::string reason;
    EXPECT_EQ(LoadSystemBusLibrary("libc.so.6", &reason), nullptr);
    EXPECT_NE(reason.find("sd_bus_open_system"), std::string::npos) << reason;
}

// The watcher loads the library and connects on its own thread: Start
// returns at once, a second Start does nothing, and a watcher destroyed
// while it still connects (or finds no bus) stops and joins its thread.
TEST(PlatSleepWatch, AWatcherDestroyedRightAfterItsStartEndsItsThread)
{
    for (int i = 0; i < 5; ++i) {
        int announced = 0;
        SleepWatcher watcher([&announced](bool) { ++announced; });
        EXPECT_EQ(watcher.Start(), 0);
        EXPECT_EQ(watcher.Start(), 0);
        EXPECT_EQ(announced, 0);
    }
}

}  // namespace
}  // namespace qelt::plat
