// The process list, child processes and system notifications of the
// system facade.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"

extern char** environ;

using namespace qelt;

namespace {

std::string Text(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out += static_cast<char>(s.GetCPointer()[i]);
    return out;
}

pid_t SpawnChild(const char* program, const char* argument)
{
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
    if (::posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

// Waits (at most five seconds) until the child has exited without being
// reaped, so that it is a zombie.
bool WaitUntilZombie(pid_t pid)
{
    for (int i = 0; i < 500; ++i) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool Contains(const std::vector<int>& pids, int pid) { return std::find(pids.begin(), pids.end(), pid) != pids.end(); }

// Sets or clears an environment variable for the length of a scope.
using ScopedEnv = test::StEnvironmentVariable;

// No graphical session: notifications never show a dialog in tests.
class NotificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fLogPath = qelt::test::MakeTempFolder("notification") + "/notifications.log";
    }
    std::vector<std::string> LogLines()
    {
        std::vector<std::string> lines;
        std::ifstream in(fLogPath);
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
        return lines;
    }

    ScopedEnv fDisplay{"DISPLAY", nullptr};
    ScopedEnv fWayland{"WAYLAND_DISPLAY", nullptr};
    ScopedEnv fAnswer{"QELT_NOTIFICATION_ANSWER", nullptr};
    std::string fLogPath;
};

}  // namespace

TEST(VSystemProcessTest, ListHoldsThisProcessAndKeepsWhatWasThere)
{
    std::vector<int> pids{-42};
    VSystem::GetProcessList(pids);
    ASSERT_GE(pids.size(), 2u);
    EXPECT_EQ(pids[0], -42);
    EXPECT_TRUE(Contains(pids, ::getpid()));

    VString name("unchanged");
    VSystem::GetProcessName(::getpid(), name);
    EXPECT_FALSE(name.IsEmpty());
    EXPECT_NE(Text(name), "unchanged");
    VString path;
    VSystem::GetProcessPath(::getpid(), path);
    EXPECT_NE(Text(path).find("test_kernel"), std::string::npos);
}

// A child that has exited but has not been reaped is gone for every caller.
TEST(VSystemProcessTest, ZombiesAreNotListed)
{
    pid_t child = SpawnChild("true", nullptr);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitUntilZombie(child));
    std::vector<int> pids;
    VSystem::GetProcessList(pids);
    EXPECT_FALSE(Contains(pids, child));
    VString name("unchanged");
    VSystem::GetProcessName(child, name);
    EXPECT_EQ(Text(name), "unchanged");

    VSystem::EWFP_Reason reason = VSystem::eWFP_Other;
    EXPECT_TRUE(VSystem::WaitForProcess(child, -1, &reason));
    EXPECT_FALSE(VSystem::WaitForProcess(child, 0, &reason));
    EXPECT_EQ(reason, VSystem::eWFP_NoSuchChild);
}

TEST(VSystemProcessTest, KillAndWait)
{
    EXPECT_FALSE(VSystem::KillProcess(0));
    EXPECT_FALSE(VSystem::KillProcess(-1));
    pid_t child = SpawnChild("sleep", "30");
    ASSERT_GT(child, 0);
    VSystem::EWFP_Reason reason = VSystem::eWFP_Other;
    EXPECT_FALSE(VSystem::WaitForProcess(child, 0, &reason));
    EXPECT_EQ(reason, VSystem::eWFP_StillRunning);
    std::vector<int> pids;
    VSystem::GetProcessList(pids);
    EXPECT_TRUE(Contains(pids, child));
    EXPECT_TRUE(VSystem::KillProcess(child));
    EXPECT_TRUE(VSystem::WaitForProcess(child, -1, &reason));
}

TEST_F(NotificationTest, NoGraphicalSessionAnswersDismissedAtOnce)
{
    ScopedEnv log("QELT_NOTIFICATION_LOG", fLogPath.c_str());
    VSystem::ENotificationResponse answer = VSystem::eNotificationNone;
    EXPECT_TRUE(VSystem::DisplayNotification(VString("Update"), VString("It failed"), 2, &answer));
    EXPECT_EQ(answer, VSystem::eNotificationDismissed);
    // Non-modal: returns at once, nothing left pending.
    EXPECT_TRUE(VSystem::DisplayNotification(VString("Start"), VString("Cannot start"), 0, nullptr));
    VSystem::CancelAllPendingUserNotifications();

    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Update\tIt failed\tNo\tYes");
    EXPECT_EQ(lines[1], "Start\tCannot start\tOK");
}

TEST_F(NotificationTest, ForcedAnswersAndButtonLayouts)
{
    ScopedEnv log("QELT_NOTIFICATION_LOG", fLogPath.c_str());
    struct Case {
        unsigned int flags;
        const char* answer;
        VSystem::ENotificationResponse expected;
        const char* buttons;
    } cases[] = {
        {2, "3", VSystem::eNotificationYes, "No\tYes"},
        {2 | 0x10, "4", VSystem::eNotificationNo, "Yes\tNo"},
        {1, "2", VSystem::eNotificationCancel, "Cancel\tOK"},
        {4 | 0x20, "2", VSystem::eNotificationCancel, "No\tYes\tCancel"},
        {4, "3", VSystem::eNotificationYes, "Cancel\tNo\tYes"},
        {5, "5", VSystem::eNotificationAbort, "Retry\tIgnore\tAbort"},
        {0, "1", VSystem::eNotificationOK, "OK"},
        {2, "not a number", VSystem::eNotificationDismissed, "No\tYes"},
    };
    for (const Case& c : cases) {
        ScopedEnv forced("QELT_NOTIFICATION_ANSWER", c.answer);
        VSystem::ENotificationResponse answer = VSystem::eNotificationNone;
        EXPECT_TRUE(VSystem::DisplayNotification(VString("T"), VString("M"), c.flags, &answer));
        EXPECT_EQ(answer, c.expected) << c.flags;
    }
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), sizeof(cases) / sizeof(cases[0]));
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], std::string("T\tM\t") + cases[i].buttons) << i;
}

TEST_F(NotificationTest, LogLinesStayOneLine)
{
    ScopedEnv log("QELT_NOTIFICATION_LOG", fLogPath.c_str());
    VSystem::ENotificationResponse answer = VSystem::eNotificationNone;
    EXPECT_TRUE(VSystem::DisplayNotification(VString(""), VString("line one\nline\ttwo"), 3, &answer));
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "\tline one line two\tOK");
}
