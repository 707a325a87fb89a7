// Notifications of the platform layer never block without a dialog to show.
#include <gtest/gtest.h>

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
