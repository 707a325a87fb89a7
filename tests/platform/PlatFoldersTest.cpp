#include "platform/PlatFolderWatch.h"
#include "platform/PlatFaults.h"
#include "platform/PlatFolders.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

using namespace qelt::plat;

namespace {

void Touch(const std::string& path)
{
    std::ofstream(path) << "x";
}

std::set<std::string> ListNames(const std::string& folder, unsigned options)
{
    std::set<std::string> names;
    FolderLister lister(folder.c_str(), options);
    FolderEntry entry;
    while (lister.Next(entry))
        names.insert(entry.name + (entry.isFolder ? "/" : ""));
    return names;
}

}  // namespace

TEST(PlatFolders, ListerSelectsEntriesByOptions)
{
    std::string root = qelt::test::MakeTempFolder("lister");
    mkdir((root + "/sub").c_str(), 0755);
    mkdir((root + "/.hiddensub").c_str(), 0755);
    Touch(root + "/file");
    Touch(root + "/.dot");
    symlink("sub", (root + "/linkdir").c_str());
    symlink("file", (root + "/linkfile").c_str());
    symlink("missing", (root + "/dangling").c_str());
    mkfifo((root + "/fifo").c_str(), 0644);

    struct Case {
        unsigned options;
        std::set<std::string> expected;
    } cases[] = {
        {kListFiles, {"file", "linkdir", "linkfile", "dangling"}},
        {kListFiles | kListInvisible, {"file", ".dot", "linkdir", "linkfile", "dangling"}},
        {kListFiles | kListResolveLinks, {"file", "linkfile"}},
        {kListFolders, {"sub/"}},
        {kListFolders | kListInvisible, {"sub/", ".hiddensub/"}},
        {kListFolders | kListResolveLinks, {"sub/", "linkdir/"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ListNames(root, c.options), c.expected) << "options " << c.options;
}

TEST(PlatFolders, ResolvedLinkIsNamedByItsTargetsRealPath)
{
    std::string root = qelt::test::MakeTempFolder("lister-link");
    mkdir((root + "/real").c_str(), 0755);
    symlink("real", (root + "/alias").c_str());
    FolderLister lister(root.c_str(), kListFolders | kListResolveLinks);
    std::string base = lister.GetBasePath();
    FolderEntry entry;
    std::set<std::string> paths;
    while (lister.Next(entry))
        paths.insert(entry.path);
    EXPECT_EQ(paths, std::set<std::string>{base + "real"});

    // Listing through a link names entries under the target's real path.
    FolderLister through((root + "/alias").c_str(), kListFiles);
    EXPECT_EQ(through.GetBasePath(), base + "real/");
}

TEST(PlatFolders, MissingFolderListsNothing)
{
    FolderLister lister("/nonexistent/folder/x", kListFiles | kListFolders);
    FolderEntry entry;
    EXPECT_FALSE(lister.IsOpen());
    EXPECT_FALSE(lister.Next(entry));
    EXPECT_EQ(lister.GetTimes(nullptr, nullptr, nullptr), EINVAL);
}

TEST(PlatFolders, ForcedDeletionRemovesProtectedTreeAndRestoresParent)
{
    std::string parent = qelt::test::MakeTempFolder("forced");
    std::string tree = parent + "/tree";
    mkdir(tree.c_str(), 0755);
    mkdir((tree + "/ro").c_str(), 0755);
    Touch(tree + "/ro/f");
    chmod((tree + "/ro/f").c_str(), 0400);
    chmod((tree + "/ro").c_str(), 0500);
    mkdir((tree + "/none").c_str(), 0000);
    chmod(parent.c_str(), 0500);

    int restore = -1;
    EXPECT_EQ(DeleteTreeForced(tree.c_str(), restore), 0);
    EXPECT_EQ(restore, 0);
    struct stat st;
    EXPECT_NE(lstat(tree.c_str(), &st), 0);
    ASSERT_EQ(stat(parent.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0500u);
    chmod(parent.c_str(), 0755);
}

TEST(PlatFolders, ForcedDeletionOfLinkRemovesTheLinkOnly)
{
    std::string root = qelt::test::MakeTempFolder("forced-link");
    mkdir((root + "/target").c_str(), 0700);
    Touch(root + "/target/keep");
    symlink("target", (root + "/link").c_str());
    int restore = 0;
    EXPECT_EQ(DeleteTreeForced((root + "/link/").c_str(), restore), 0);
    struct stat st;
    EXPECT_NE(lstat((root + "/link").c_str(), &st), 0);
    EXPECT_EQ(stat((root + "/target/keep").c_str(), &st), 0);
    ASSERT_EQ(stat((root + "/target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // A link inside the tree is removed, its target outside left alone.
    mkdir((root + "/tree").c_str(), 0755);
    symlink("../target", (root + "/tree/out").c_str());
    EXPECT_EQ(DeleteTreeForced((root + "/tree").c_str(), restore), 0);
    EXPECT_EQ(stat((root + "/target/keep").c_str(), &st), 0);

    EXPECT_EQ(DeleteTreeForced((root + "/missing").c_str(), restore), ENOENT);
}

TEST(PlatFolders, ForcedDeletionWalksDeepTreesWithoutRecursion)
{
    std::string root = qelt::test::MakeTempFolder("deep");
    std::string path = root + "/d";
    mkdir(path.c_str(), 0755);
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 400; ++i) {  // deeper than PATH_MAX allows as one text
        ASSERT_EQ(mkdirat(fd, "level_of_the_tree", 0755), 0);
        int next = openat(fd, "level_of_the_tree", O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    close(fd);
    int restore = 0;
    EXPECT_EQ(DeleteTreeForced(path.c_str(), restore), 0);
    struct stat st;
    EXPECT_NE(lstat(path.c_str(), &st), 0);
}

TEST(PlatFolders, PackagesAreAppNamesOrHoldInfoPlist)
{
    std::string root = qelt::test::MakeTempFolder("package");
    mkdir((root + "/Tool.app").c_str(), 0755);
    mkdir((root + "/Bundle").c_str(), 0755);
    mkdir((root + "/Bundle/Contents").c_str(), 0755);
    Touch(root + "/Bundle/Contents/Info.plist");
    mkdir((root + "/Plain").c_str(), 0755);
    EXPECT_TRUE(IsPackageFolder((root + "/Tool.app/").c_str()));
    EXPECT_TRUE(IsPackageFolder((root + "/Bundle").c_str()));
    EXPECT_FALSE(IsPackageFolder((root + "/Plain").c_str()));
    EXPECT_FALSE(IsPackageFolder((root + "/Missing.app").c_str()));
}

TEST(PlatFolders, SystemFoldersFollowTheEnvironment)
{
    std::string home = getenv("HOME");
    std::string out;
    EXPECT_EQ(GetSystemFolderPath(13, false, out), 0);
    EXPECT_EQ(out, home + "/");
    EXPECT_EQ(GetSystemFolderPath(5, false, out), 0);
    EXPECT_EQ(out, std::string(getenv("XDG_DATA_HOME")) + "/");
    EXPECT_EQ(GetSystemFolderPath(9, false, out), 0);
    EXPECT_EQ(out, "/opt/");
    EXPECT_EQ(GetSystemFolderPath(3, false, out), ENOENT);
    EXPECT_EQ(GetSystemFolderPath(14, true, out), ENOENT);
    EXPECT_TRUE(out.empty());

    // The documents folder comes from user-dirs.dirs when it names one.
    std::string config = qelt::test::MakeTempFolder("xdgconfig");
    std::ofstream(config + "/user-dirs.dirs") << "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n";
    qelt::test::StEnvironmentVariable configHome("XDG_CONFIG_HOME", config.c_str());
    EXPECT_EQ(GetSystemFolderPath(1, true, out), 0);
    EXPECT_EQ(out, home + "/Papers/");
    struct stat st;
    EXPECT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(GetSystemFolderPath(12, false, out), 0);
    EXPECT_EQ(out, config + "/");
}

// The user's folders file, line by line: only a line that begins with the
// key and a quote counts, the first such line decides, and what it names
// must be $HOME, under $HOME or a full path.
TEST(PlatFolders, UserFoldersFileNamesAFolderOnlyInItsOwnForms)
{
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n", "/home/u/Papers"},
        {"# comment\n\nXDG_DOCUMENTS_DIR=\"$HOME\"", "/home/u"},
        {"XDG_DESKTOP_DIR=\"/d\"\nXDG_DOCUMENTS_DIR=\"/srv/docs\"", "/srv/docs"},
        {"XDG_DOCUMENTS_DIR=\"Papers\"\nXDG_DOCUMENTS_DIR=\"/later\"\n", ""},
        {"XDG_DOCUMENTS_DIR=\"/unterminated\nXDG_DOCUMENTS_DIR=\"/later\"\n", ""},
        {" XDG_DOCUMENTS_DIR=\"/indented\"\n", ""},
        {"XDG_DOCUMENTS_DIRS=\"/longer\"\n", ""},
        {"XDG_DOCUMENTS_DIR=/unquoted\n", ""},
        {"", ""},
        {"\n\n", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UserFolderFromDirsText(c.text, "XDG_DOCUMENTS_DIR", "/home/u"), c.expected) << c.text;

    // The file is read through a link to it too, as dotfile managers keep it.
    std::string config = qelt::test::MakeTempFolder("xdgconfiglink");
    std::ofstream(config + "/kept") << "XDG_DOCUMENTS_DIR=\"$HOME/Linked\"\n";
    ASSERT_EQ(symlink("kept", (config + "/user-dirs.dirs").c_str()), 0);
    qelt::test::StEnvironmentVariable configHome("XDG_CONFIG_HOME", config.c_str());
    std::string out;
    EXPECT_EQ(GetSystemFolderPath(1, true, out), 0);
    EXPECT_EQ(out, std::string(getenv("HOME")) + "/Linked/");
}

TEST(PlatFolders, WatcherCoalescesFolderKeysAndSeesRootLoss)
{
    std::string parent = qelt::test::MakeTempFolder("watch");
    std::string root = parent + "/root/";
    mkdir(root.c_str(), 0755);
    mkdir((root + "sub").c_str(), 0755);

    std::mutex mutex;
    std::vector<std::vector<std::string>> calls;
    FolderWatcher watcher([&](void*, const std::vector<std::string>& keys) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(keys);
    });
    ASSERT_EQ(watcher.Start(), 0);
    int cookie = 0;
    ASSERT_EQ(watcher.AddWatch(&cookie, root, 100, {root, root + "sub/"}), 0);
    EXPECT_EQ(watcher.CountFolderWatches(), 2u);

    Touch(root + "a");
    Touch(root + "sub/b");
    Touch(root + "c");
    auto waitCalls = [&](size_t n) {
        for (int i = 0; i < 300; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (calls.size() >= n)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    ASSERT_TRUE(waitCalls(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0], (std::vector<std::string>{root, root + "sub/"}));
        calls.clear();
    }

    // The root moved away: nothing stands at its place, so nothing is named.
    ASSERT_EQ(rename(root.c_str(), (parent + "/moved").c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_TRUE(calls.empty());
    }
    watcher.RemoveWatch(&cookie);
    EXPECT_EQ(watcher.CountFolderWatches(), 0u);
}

TEST(PlatFolders, WatchOfMissingFolderFailsAndKeepsNothing)
{
    FolderWatcher watcher(nullptr);
    ASSERT_EQ(watcher.Start(), 0);
    int cookie = 0;
    std::string root = qelt::test::MakeTempFolder("watch-missing");
    EXPECT_EQ(watcher.AddWatch(&cookie, root + "/", 0, {root + "/", "/nonexistent/x/"}), 0);
    watcher.RemoveWatch(&cookie);
    EXPECT_EQ(watcher.AddWatch(&cookie, "/nonexistent/folder/", 0, {}), ENOENT);
    EXPECT_EQ(watcher.CountFolderWatches(), 0u);
    EXPECT_EQ(watcher.AddFolder(&cookie, root + "/"), ENOENT);
}

TEST(PlatFolders, ContainmentFollowsLinksByDeviceAndInode)
{
    std::string root = qelt::test::MakeTempFolder("inside");
    mkdir((root + "/src").c_str(), 0755);
    mkdir((root + "/src/sub").c_str(), 0755);
    mkdir((root + "/other").c_str(), 0755);
    symlink((root + "/src/sub").c_str(), (root + "/other/link").c_str());
    struct Case {
        std::string inner;
        bool inside;
    } cases[] = {
        {root + "/src", true},
        {root + "/src/", true},
        {root + "/src/sub/new/deeper", true},  // not there yet: its nearest existing folder counts
        {root + "/other/link/x", true},        // reached through a link
        {root + "/other", false},
        {root + "/srcx", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSameOrInside(c.inner.c_str(), (root + "/src").c_str()), c.inside) << c.inner;
    EXPECT_FALSE(IsSameOrInside(root.c_str(), (root + "/missing").c_str()));
}

TEST(PlatFolders, ForcedDeletionPutsTheParentsLockBackAfterAFailureToo)
{
    if (!kFaultInjection)
        GTEST_SKIP() << "built without fault injection";
    std::string parent = qelt::test::MakeTempFolder("forced-lock");
    auto makeTree = [&] {
        mkdir((parent + "/tree").c_str(), 0755);
        mkdir((parent + "/tree/sub").c_str(), 0500);
        Touch(parent + "/tree/f");
    };
    auto setLocked = [&](bool locked) {
        int fd = open(parent.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = locked ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            close(fd);
        return ok;
    };
    auto isLocked = [&] {
        int fd = open(parent.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        ioctl(fd, FS_IOC_GETFLAGS, &flags);
        close(fd);
        return (flags & FS_IMMUTABLE_FL) != 0;
    };
    if (!setLocked(true))
        GTEST_SKIP() << "the file system or the user cannot lock folders";

    for (const char* faults : {"rmdir:1:EIO", "unlink:1:EACCES", ""}) {
        setLocked(false);
        makeTree();
        setLocked(true);
        int restore = -1;
        int err;
        {
            qelt::test::StTestFaults injected(faults);
            err = DeleteTreeForced((parent + "/tree").c_str(), restore);
        }
        EXPECT_EQ(err, faults[0] == 0 ? 0 : faults[0] == 'r' ? EIO : EACCES) << faults;
        EXPECT_EQ(restore, 0) << faults;
        EXPECT_TRUE(isLocked()) << faults;
    }
    struct stat st;
    EXPECT_NE(lstat((parent + "/tree").c_str(), &st), 0);
    setLocked(false);
}
