#include <gtest/gtest.h>

#include <thread>

#include "kernel/VIntlMgr.h"
#include "process/VProcess.h"
#include "runtime/VTask.h"

namespace qelt {

// Each task carries its own clone of the process's manager; a thread without
// a task uses the process's manager itself.
TEST(TaskIntl, TasksCloneTheProcessManagerAndThreadsShareIt)
{
    ASSERT_NE(VProcess::sInstance, nullptr);
    VIntlMgr* processManager = VProcess::sInstance->GetDefaultIntlMgr();
    ASSERT_NE(processManager, nullptr);

    VIntlMgr* mainManager = VTask::GetCurrentIntlManager();
    ASSERT_NE(mainManager, nullptr);
    EXPECT_NE(mainManager, processManager);
    EXPECT_EQ(mainManager->GetDialectCode(), processManager->GetDialectCode());

    VIntlMgr* seenByThread = nullptr;
    UniChar wildChar = 0;
    std::thread([&] {
        seenByThread = VTask::GetCurrentIntlManager();
        wildChar = VTask::GetWildChar();
    }).join();
    EXPECT_EQ(seenByThread, processManager);
    EXPECT_EQ(wildChar, processManager->GetWildChar());
}

TEST(TaskIntl, DialectCodeCanBeChangedForTheCurrentTask)
{
    VTask* task = VTask::GetCurrent();
    ASSERT_NE(task, nullptr);
    VIntlMgr* before = VTask::GetCurrentIntlManager();
    before->Retain();

    VTask::SetCurrentDialectCode(1036, 1);  // French
    EXPECT_EQ(task->GetDialectCode(), 1036u);

    VTask::SetCurrentIntlManager(nullptr);  // ignored
    EXPECT_EQ(task->GetDialectCode(), 1036u);

    VTask::SetCurrentIntlManager(before);
    EXPECT_EQ(VTask::GetCurrentIntlManager(), before);
    before->Release();
}

}  // namespace qelt
