#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
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

// A stand-in for the system bus: a listening socket that the bus library is
// sent to (DBUS_SYSTEM_BUS_ADDRESS), so that a test sees when a watcher
// connects. It answers nothing; hanging up ends the watcher's connection.
class FakeSystemBus {
public:
    FakeSystemBus()
    {
        char folder[] = "/tmp/qelt-bus-XXXXXX";
        if (::mkdtemp(folder) == nullptr)
            return;
        fFolder = folder;
        fPath = fFolder + "/socket";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, fPath.c_str(), sizeof(address.sun_path) - 1);
        fListener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fListener < 0 || ::bind(fListener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(fListener, 4) != 0)
            return;
        if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
            fOldAddress = old;
            fHadAddress = true;
        }
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + fPath).c_str(), 1);
        fReady = true;
    }
    ~FakeSystemBus()
    {
        if (fReady) {
            if (fHadAddress)
                ::setenv("DBUS_SYSTEM_BUS_ADDRESS", fOldAddress.c_str(), 1);
            else
                ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        }
        if (fListener >= 0)
            ::close(fListener);
        if (!fPath.empty())
            ::unlink(fPath.c_str());
        if (!fFolder.empty())
            ::rmdir(fFolder.c_str());
    }
    FakeSystemBus(const FakeSystemBus&) = delete;
    FakeSystemBus& operator=(const FakeSystemBus&) = delete;

    bool IsReady() const { return fReady; }

    // Whether a watcher connects within the time; the connection is then
    // hung up.
    bool Connected(int inMilliseconds)
    {
        pollfd waiting{fListener, POLLIN, 0};
        if (::poll(&waiting, 1, inMilliseconds) != 1)
            return false;
        const int client = ::accept4(fListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            ::close(client);
        return client >= 0;
    }

private:
    std::string fFolder;
    std::string fPath;
    std::string fOldAddress;
    bool fHadAddress = false;
    int fListener = -1;
    bool fReady = false;
};

// The hold is process-wide: a test that fails still releases it.
struct StHeldConnections {
    StHeldConnections() { HoldSleepWatchConnections(); }
    ~StHeldConnections() { ReleaseSleepWatchConnections(); }
    StHeldConnections(const StHeldConnections&) = delete;
    StHeldConnections& operator=(const StHeldConnections&) = delete;
};

// A program may hold the watchers' loading and connecting back while its
// first moments last: the watcher's thread waits, connects once released,
// and a watcher destroyed while it waits ends without connecting at all.
TEST(PlatSleepWatch, AHeldWatcherConnectsOnlyOnceReleased)
{
    if (::dlopen("libsystemd.so.0", RTLD_LAZY | RTLD_LOCAL) == nullptr)
        GTEST_SKIP() << "this machine has no libsystemd";
    FakeSystemBus bus;
    ASSERT_TRUE(bus.IsReady());
    StHeldConnections held;
    SleepWatcher watcher([](bool) {});
    ASSERT_EQ(watcher.Start(), 0);
    EXPECT_FALSE(bus.Connected(300)) << "connected while held back";
    ReleaseSleepWatchConnections();
    EXPECT_TRUE(bus.Connected(10000)) << "no connection after the release";
}

// The threads of this process.
int ThreadCount()
{
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] != '.')
                ++count;
        }
        ::closedir(tasks);
    }
    return count;
}

// While the hold lasts a started watcher has no thread at all (its cost is
// what the hold keeps out of a program's first moments); its thread starts
// at the release, and one started after the release starts at once.
TEST(PlatSleepWatch, AWatcherStartedWhileHeldGetsItsThreadAtTheRelease)
{
    if (::dlopen("libsystemd.so.0", RTLD_LAZY | RTLD_LOCAL) == nullptr)
        GTEST_SKIP() << "this machine has no libsystemd";
    FakeSystemBus bus;
    ASSERT_TRUE(bus.IsReady());
    StHeldConnections held;
    const int before = ThreadCount();
    ASSERT_GT(before, 0);
    SleepWatcher watcher([](bool) {});
    ASSERT_EQ(watcher.Start(), 0);
    EXPECT_EQ(watcher.Start(), 0) << "starting again does nothing";
    EXPECT_EQ(ThreadCount(), before) << "a thread while held back";
    ReleaseSleepWatchConnections();
    EXPECT_EQ(ThreadCount(), before + 1) << "no thread after the release";

    // Counted before the bus hangs up on the first one, which ends its thread.
    SleepWatcher late([](bool) {});
    ASSERT_EQ(late.Start(), 0);
    EXPECT_EQ(ThreadCount(), before + 2) << "a watcher started after the release has no thread";
    EXPECT_TRUE(bus.Connected(10000)) << "no connection after the release";
    EXPECT_TRUE(bus.Connected(10000)) << "the watcher started after the release did not connect";
}

TEST(PlatSleepWatch, AWatcherDestroyedWhileHeldEndsWithoutConnecting)
{
    if (::dlopen("libsystemd.so.0", RTLD_LAZY | RTLD_LOCAL) == nullptr)
        GTEST_SKIP() << "this machine has no libsystemd";
    FakeSystemBus bus;
    ASSERT_TRUE(bus.IsReady());
    {
        StHeldConnections held;
        for (int i = 0; i < 3; ++i) {
            SleepWatcher watcher([](bool) {});
            EXPECT_EQ(watcher.Start(), 0);
        }
    }
    EXPECT_FALSE(bus.Connected(300)) << "a destroyed watcher connected once released";
}

}  // namespace
}  // namespace qelt::plat
