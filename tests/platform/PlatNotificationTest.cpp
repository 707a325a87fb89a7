// Notifications of the platform layer never block without a dialog to show.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "TestSupport.h"
#include "platform/PlatNotification.h"

using namespace qelt::plat;

namespace {

using ScopedEnv = qelt::test::StEnvironmentVariable;

NotificationRequest YesNo()
{
    NotificationRequest request;
    request.title = request.header = "Title";
    request.message = request.text = "Message";
    request.buttons = {{"No", 4}, {"Yes", 3}};
    return request;
}

}  // namespace

TEST(PlatNotificationTest, DismissedWithoutGraphicalSession)
{
    ScopedEnv display("DISPLAY", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    ScopedEnv answer("QELT_NOTIFICATION_ANSWER", nullptr);
    int result = -1, pid = -1;
    EXPECT_TRUE(ShowNotification(YesNo(), true, result, pid));
    EXPECT_EQ(result, kNotificationDismissed);
    EXPECT_EQ(pid, 0);
}

// A graphical session without any dialog program does not block either.
TEST(PlatNotificationTest, DismissedWithoutDialogProgram)
{
    std::string emptyFolder = qelt::test::MakeTempFolder("nodialog");
    ScopedEnv display("DISPLAY", ":99");
    ScopedEnv path("PATH", emptyFolder.c_str());
    ScopedEnv answer("QELT_NOTIFICATION_ANSWER", nullptr);
    int result = -1, pid = -1;
    EXPECT_TRUE(ShowNotification(YesNo(), false, result, pid));
    EXPECT_EQ(pid, 0);
    EXPECT_TRUE(ShowNotification(YesNo(), true, result, pid));
    EXPECT_EQ(result, kNotificationDismissed);
}

TEST(PlatNotificationTest, ForcedAnswerAndLogLine)
{
    std::string log = qelt::test::MakeTempFolder("notificationlog") + "/log.txt";
    ScopedEnv logEnv("QELT_NOTIFICATION_LOG", log.c_str());
    ScopedEnv answer("QELT_NOTIFICATION_ANSWER", "3");
    int result = -1, pid = -1;
    EXPECT_TRUE(ShowNotification(YesNo(), true, result, pid));
    EXPECT_EQ(result, 3);
    std::ifstream in(log);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "Title\tMessage\tNo\tYes");
    EXPECT_FALSE(std::getline(in, line));
}

// A notification without a title shows the application's name as its
// window title, never its message; a titled one shows its title.
TEST(PlatNotificationTest, AnUntitledDialogIsTitledWithTheApplicationsName)
{
    const std::string tools = qelt::test::MakeTempFolder("fakezenity");
    const std::string arguments = tools + "/arguments.txt";
    qelt::test::WriteText(tools + "/zenity", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                                                  arguments + "'\nexit 0\n");
    ::chmod((tools + "/zenity").c_str(), 0755);
    ScopedEnv display("DISPLAY", ":99");
    ScopedEnv path("PATH", tools.c_str());
    ScopedEnv answer("QELT_NOTIFICATION_ANSWER", nullptr);
    ScopedEnv log("QELT_NOTIFICATION_LOG", nullptr);

    NotificationRequest untitled = YesNo();
    untitled.title.clear();
    untitled.header = untitled.message = "The update failed.\r\nMore in the log";
    untitled.text.clear();
    int result = -1, pid = -1;
    ASSERT_TRUE(ShowNotification(untitled, true, result, pid));
    EXPECT_EQ(result, 4);
    const std::string shown = qelt::test::ReadText(arguments);
    EXPECT_NE(shown.find("\n--title=test_platform\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("--text=The update failed."), std::string::npos) << shown;

    ASSERT_TRUE(ShowNotification(YesNo(), true, result, pid));
    EXPECT_NE(qelt::test::ReadText(arguments).find("\n--title=Title\n"), std::string::npos);
}
