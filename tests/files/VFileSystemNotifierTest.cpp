#include "files/VFileSystemNotifier.h"
#include "files/VFolder.h"
#include "files/mac/XMacFileSystemNotification.h"
#include "runtime/VTask.h"

#include "FolderTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace qelt;
using qelt::test::FolderAt;
using qelt::test::PosixToPath;
using qelt::test::WriteText;

namespace {

struct Recorder : VFileSystemNotifier::IEventHandler {
    void FileSystemEventHandler(const std::vector<VFilePath>& inPaths, VFileSystemNotifier::EventKind inKind) override
    {
        std::string line = std::to_string(static_cast<unsigned int>(inKind));
        line += ':';
        for (const VFilePath& path : inPaths) {
            VString name;
            path.GetName(name);
            line += ' ';
            line += to_string(name);
            if (path.IsFolder())
                line += ':';
        }
        calls.push_back(line);
    }
    std::vector<std::string> calls;
};

VFilePath PathOf(const std::string& posix)
{
    return PosixToPath(posix);
}

}  // namespace

TEST(VFileSystemNotifier, WatchesAreUniquePerFolderAndHandler)
{
    std::string root = qelt::test::MakeTempFolder("watch-unique");
    VFileSystemNotifier notifier;
    Recorder one, two;
    VRefPtr<VFolder> folder = FolderAt(root);
    EXPECT_EQ(notifier.StartWatchingForChanges(*folder, 7, &one, 10), VE_OK);
    EXPECT_EQ(notifier.StartWatchingForChanges(*folder, 7, &one, 10), QeltError(659));
    EXPECT_EQ(notifier.StartWatchingForChanges(*FolderAt(root + "/"), 7, &two, 10), VE_OK);
    EXPECT_EQ(notifier.StopWatchingForChanges(*folder, &one), VE_OK);
    EXPECT_EQ(notifier.StopWatchingForChanges(*folder, &one), QeltError(650));

    // A folder that cannot be watched gives the system's error and no watch.
    VRefPtr<VFolder> missing = FolderAt(root + "/missing");
    EXPECT_EQ(notifier.StartWatchingForChanges(*missing, 7, &one, 10), PosixError(ENOENT));
    EXPECT_EQ(notifier.StopWatchingForChanges(*missing, &one), QeltError(650));
}

TEST(VFileSystemNotifier, DeliveryGroupsRunsOfOneKindOnce)
{
    VFileSystemNotifier notifier;
    Recorder recorder;
    VRefPtr<VFileSystemNotifier::VChangeData> data =
        AdoptRef(new VFileSystemNotifier::VChangeData(PathOf("/w/"), 7, &recorder, nullptr, nullptr));
    using K = VFileSystemNotifier::EventKind;
    data->fChanges = {{PathOf("/w/a"), K::kFileAdded},    {PathOf("/w/b"), K::kFileAdded},
                      {PathOf("/w/b"), K::kFileAdded},    {PathOf("/w/c"), K::kFileModified},
                      {PathOf("/w/d"), K::kFileAdded}};
    notifier.EventSignaledCallback(data.Get());
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"2: a b", "1: c", "2: d"}));
    notifier.EventSignaledCallback(data.Get());  // a second message finds nothing
    EXPECT_EQ(recorder.calls.size(), 3u);
}

TEST(VFileSystemNotifier, SnapshotsCompareCreationsModificationsAndDeletions)
{
    std::string root = qelt::test::MakeTempFolder("watch-diff") + "/";
    WriteText(root + "touched", "1");
    WriteText(root + "gone", "1");
    WriteText(root + ".DS_Store", "1");
    VFileSystemNotifier notifier;
    XMacFileSystemNotification realBackEnd(&notifier);
    auto run = [&](unsigned int kinds, auto change) {
        VRefPtr<XMacFileSystemNotification::XMacChangeData> data = AdoptRef(
            new XMacFileSystemNotification::XMacChangeData(PathOf(root), root, kinds, nullptr, nullptr, &realBackEnd));
        XMacFileSystemNotification::CreateDirectorySnapshot(root, data->fSnapshots, true);
        change();
        plat::FolderSnapshot fresh;
        bool recorded = realBackEnd.BuildChangeList(data.Get(), root, fresh);
        std::vector<std::string> out;
        for (const auto& [path, kind] : data->fChanges) {
            VString name;
            path.GetName(name);
            out.push_back(std::to_string(kind) + " " + to_string(name) + (path.IsFolder() ? ":" : ""));
        }
        return std::make_pair(recorded, out);
    };
    auto result = run(7, [&] {
        struct timespec times[2] = {{UTIME_OMIT, 0}, {1, 0}};
        utimensat(AT_FDCWD, (root + "touched").c_str(), times, 0);
        unlink((root + "gone").c_str());
        mkdir((root + "newdir").c_str(), 0755);
        WriteText(root + ".DS_Store", "changed");
    });
    EXPECT_TRUE(result.first);
    EXPECT_EQ(result.second, (std::vector<std::string>{"4 gone", "2 newdir:", "1 touched"}));

    // Deletions are not recorded for a watch that does not ask for them.
    result = run(3, [&] { unlink((root + "touched").c_str()); });
    EXPECT_FALSE(result.first);
    EXPECT_TRUE(result.second.empty());
}

// Executes the current task's messages until the predicate holds (at most
// five seconds); answers its last value.
template <class Pred>
bool PumpUntil(Pred inPred, int inMilliseconds = 5000)
{
    for (int waited = 0; waited < inMilliseconds && !inPred(); waited += 10)
        VTask::ExecuteMessagesWithTimeout(10, false);
    return inPred();
}

// Messages queued for the current task.
int32_t QueuedForMe()
{
    VTask* me = VTask::GetCurrent();
    return me->CountMessagesFor(me);
}

TEST(VFileSystemNotifier, ChangesReachTheWatchingTaskThroughItsMessages)
{
    // The test runs on the main task; the changes come to it as messages.
    std::string root = qelt::test::MakeTempFolder("watch-live") + "/";
    VFileSystemNotifier notifier;
    Recorder recorder;
    VRefPtr<VFolder> folder = FolderAt(root);
    ASSERT_EQ(notifier.StartWatchingForChanges(*folder, 7, &recorder, 20), VE_OK);
    mkdir((root + "sub").c_str(), 0755);
    ASSERT_TRUE(PumpUntil([&] { return recorder.calls.size() == 1; }));
    // The back end starts watching the new folder just after it signals its
    // creation; what lands in it before that is in its first snapshot.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    WriteText(root + "sub/inner", "x");  // the new folder is watched too
    ASSERT_TRUE(PumpUntil([&] { return recorder.calls.size() == 2; }));
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"2: sub:", "2: inner"}));
    EXPECT_EQ(notifier.StopWatchingForChanges(*folder, &recorder), VE_OK);
}

TEST(VFileSystemNotifier, QueuedChangesOfAStoppedWatchOrAGoneNotifierReachNobody)
{
    std::string root = qelt::test::MakeTempFolder("watch-stop") + "/";
    VRefPtr<VFolder> folder = FolderAt(root);
    const int32_t queuedBefore = QueuedForMe();
    {
        // Stopped with its message still queued: the handler may go now.
        auto recorder = std::make_unique<Recorder>();
        VFileSystemNotifier notifier;
        ASSERT_EQ(notifier.StartWatchingForChanges(*folder, 7, recorder.get(), 10), VE_OK);
        WriteText(root + "a", "1");
        ASSERT_TRUE(qelt::test::WaitFor([&] { return QueuedForMe() > queuedBefore; }));
        EXPECT_EQ(notifier.StopWatchingForChanges(*folder, recorder.get()), VE_OK);
        recorder.reset();
        PumpUntil([&] { return QueuedForMe() == queuedBefore; });
    }
    {
        // The notifier goes with the message queued.
        Recorder recorder;
        auto notifier = std::make_unique<VFileSystemNotifier>();
        ASSERT_EQ(notifier->StartWatchingForChanges(*folder, 7, &recorder, 10), VE_OK);
        WriteText(root + "b", "1");
        ASSERT_TRUE(qelt::test::WaitFor([&] { return QueuedForMe() > queuedBefore; }));
        notifier.reset();
        PumpUntil([&] { return QueuedForMe() == queuedBefore; });
        EXPECT_TRUE(recorder.calls.empty());
    }
}

TEST(VFileSystemNotifier, AWatchStartedOutsideAToolboxTaskNeverDelivers)
{
    std::string root = qelt::test::MakeTempFolder("watch-taskless") + "/";
    VRefPtr<VFolder> folder = FolderAt(root);
    VFileSystemNotifier notifier;
    Recorder recorder;
    VError started = VE_OK;
    std::thread outside([&] { started = notifier.StartWatchingForChanges(*folder, 7, &recorder, 10); });
    outside.join();
    ASSERT_EQ(started, VE_OK);
    WriteText(root + "a", "1");
    // Nothing to wait for: give the watcher time to find the change.
    PumpUntil([] { return false; }, 300);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(notifier.StopWatchingForChanges(*folder, &recorder), VE_OK);
}
