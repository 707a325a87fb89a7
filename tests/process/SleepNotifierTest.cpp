#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "InChildProcess.h"
#include "TestSupport.h"
#include "kernel/StStringConverter.h"
#include "process/VBootLogListener.h"
#include "process/VProcessIPC.h"
#include "process/VSleepNotifier.h"
#include "runtime/ILogger.h"
#include "runtime/ILoggerBagKeys.h"
#include "values/VValueBag.h"

namespace qelt {
namespace {

int32_t RefCount(const IRefCountable* inObject)
{
    const int32_t count = inObject->Retain() - 1;
    inObject->Release();
    return count;
}

class CountingHandler : public VSleepNotifier::ISleepHandler {
public:
    void HandleSleep() override { fEvents.push_back("sleep"); }
    void HandleWakeUp() override { fEvents.push_back("wake"); }
    VString GetDescription() override { return VString("counting handler"); }
    std::vector<std::string> fEvents;
};

// Unregisters itself on its first sleep.
class LeavingHandler : public VSleepNotifier::ISleepHandler {
public:
    explicit LeavingHandler(VSleepNotifier& inNotifier) : fNotifier(inNotifier) {}
    void HandleSleep() override
    {
        ++fSleeps;
        fNotifier.UnregisterSleepHandler(this);
    }
    void HandleWakeUp() override {}
    VString GetDescription() override { return VString("leaving handler"); }
    VSleepNotifier& fNotifier;
    int fSleeps = 0;
};

TEST(SleepNotifier, AHandlerRegisteredTwiceIsKeptOnceWithOneReference)
{
    VSleepNotifier notifier;
    ASSERT_EQ(notifier.Init(), 0);  // also without a system bus
    auto* handler = new CountingHandler;
    EXPECT_EQ(notifier.RegisterSleepHandler(handler), 0);
    EXPECT_EQ(notifier.RegisterSleepHandler(handler), 0);
    EXPECT_EQ(RefCount(handler), 2);
    EXPECT_EQ(notifier.RegisterSleepHandler(nullptr), QeltError(3));
    EXPECT_EQ(notifier.UnregisterSleepHandler(nullptr), QeltError(3));

    notifier.HaveSleepNotification();
    notifier.HaveWakeupNotification();
    EXPECT_EQ(handler->fEvents, (std::vector<std::string>{"sleep", "wake"}));

    // Unregistering what is not registered changes nothing.
    CountingHandler other;
    EXPECT_EQ(notifier.UnregisterSleepHandler(&other), 0);
    EXPECT_EQ(RefCount(&other), 1);

    EXPECT_EQ(notifier.UnregisterSleepHandler(handler), 0);
    EXPECT_EQ(RefCount(handler), 1);
    notifier.HaveSleepNotification();
    EXPECT_EQ(handler->fEvents.size(), 2u);
    handler->Release();
}

TEST(SleepNotifier, AHandlerMayUnregisterItselfWhileNotified)
{
    VSleepNotifier notifier;
    auto* handler = new LeavingHandler(notifier);
    notifier.RegisterSleepHandler(handler);
    notifier.HaveSleepNotification();
    notifier.HaveSleepNotification();
    EXPECT_EQ(handler->fSleeps, 1);
    EXPECT_EQ(RefCount(handler), 1);
    handler->Release();
}

TEST(SleepNotifier, ASleepWithNoHandlerIsLoggedByTheProcessNotifier)
{
    std::string out = test::InChildProcess([] {
        VProcessIPC process;
        if (!process.Init(kInitLogger) || VSleepNotifier::Instance() == nullptr || process.GetLogger() == nullptr)
            ::_exit(3);
        VSleepNotifier::Instance()->HaveSleepNotification();
        process.GetLogger()->Flush();
        for (const VValueBag* record : process.GetBootLogListener()->RetainRecords()) {
            std::printf("%s|%s|%d\n", to_string(ILoggerBagKeys::message.Get(*record)).c_str(),
                        to_string(ILoggerBagKeys::source.Get(*record)).c_str(),
                        static_cast<int>(ILoggerBagKeys::level.Get(*record)));
            record->Release();
        }
    });
    EXPECT_NE(out.find("System is going to sleep|sleepNotifications|4\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace qelt
