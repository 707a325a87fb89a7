#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

#include "TestSupport.h"
#include "platform/PlatFaults.h"
#include "platform/PlatFileOps.h"
#include "platform/PlatTrash.h"

namespace qelt::plat {

using test::ReadText;
using test::WriteText;

namespace {

bool Missing(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// A description of every entry below `root`: its kind, mode, and content or
// link text, keyed by its relative path.
std::map<std::string, std::string> Describe(const std::string& root, const std::string& rel = "")
{
    std::map<std::string, std::string> out;
    std::string here = rel.empty() ? root : root + "/" + rel;
    DIR* dir = ::opendir(here.c_str());
    if (dir == nullptr)
        return out;
    while (struct dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string relPath = rel.empty() ? name : rel + "/" + name;
        std::string path = root + "/" + relPath;
        struct stat st;
        ::lstat(path.c_str(), &st);
        std::string mode = std::to_string(st.st_mode & 07777);
        if (S_ISDIR(st.st_mode)) {
            out[relPath] = "dir " + mode;
            auto sub = Describe(root, relPath);
            out.insert(sub.begin(), sub.end());
        } else if (S_ISLNK(st.st_mode)) {
            char text[512];
            ssize_t n = ::readlink(path.c_str(), text, sizeof text);
            out[relPath] = "link " + std::string(text, n < 0 ? 0 : static_cast<size_t>(n));
        } else {
            out[relPath] = "file " + mode + " " + ReadText(path);
        }
    }
    ::closedir(dir);
    return out;
}

// Entries beside `path` whose names mark them as temporary copies.
int TemporaryLeftovers(const std::string& folder)
{
    int count = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    while (struct dirent* e = ::readdir(dir))
        if (std::string(e->d_name).rfind(".qlt-", 0) == 0)
            ++count;
    ::closedir(dir);
    return count;
}

// Sets QELT_TEST_FAULTS for a scope.
using Faults = qelt::test::StTestFaults;

// A small tree: nested folders, a read-only folder, a link inside, a link
// out of the tree, a dangling link.
std::string MakeTree(const std::string& base, const std::string& name)
{
    std::string root = base + "/" + name;
    ::mkdir(root.c_str(), 0755);
    ::mkdir((root + "/Contents").c_str(), 0750);
    ::mkdir((root + "/Contents/MacOS").c_str(), 0755);
    WriteText(root + "/Contents/Info.plist", "<plist/>");
    WriteText(root + "/Contents/MacOS/tool", "#!/bin/sh\n");
    ::chmod((root + "/Contents/MacOS/tool").c_str(), 0755);
    ::symlink("MacOS/tool", (root + "/Contents/current").c_str());
    ::symlink("/etc", (root + "/outside").c_str());
    ::symlink("nowhere", (root + "/dangling").c_str());
    ::mkdir((root + "/locked").c_str(), 0755);
    WriteText(root + "/locked/data", "x");
    ::chmod((root + "/locked").c_str(), 0555);
    return root;
}

}  // namespace

TEST(PlatFileOps, CopyKeepsDataModeTimesAndUserAttributes)
{
    std::string dir = test::MakeTempFolder("copy_meta");
    std::string from = dir + "/a", to = dir + "/b";
    WriteText(from, std::string(100000, 'q') + "end");
    ::chmod(from.c_str(), 0640);
    struct timespec times[2] = {{1000000000, 5000000}, {1200000000, 7000000}};
    ::utimensat(AT_FDCWD, from.c_str(), times, 0);
    bool hasXattr = ::setxattr(from.c_str(), "user.qelt", "v1", 2, 0) == 0;

    ASSERT_EQ(CopyFileItem(from.c_str(), to.c_str(), false), 0);
    struct stat st;
    ASSERT_EQ(::stat(to.c_str(), &st), 0);
    EXPECT_EQ(ReadText(to), ReadText(from));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 7000000);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    if (hasXattr) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(to.c_str(), "user.qelt", value, sizeof value), 2);
        EXPECT_STREQ(value, "v1");
    }
    EXPECT_EQ(TemporaryLeftovers(dir), 0);
}

TEST(PlatFileOps, CopyOfALinkIsALinkWithTheSameText)
{
    std::string dir = test::MakeTempFolder("copy_link");
    ::symlink("../no/such/target", (dir + "/link").c_str());
    ASSERT_EQ(CopyFileItem((dir + "/link").c_str(), (dir + "/copy").c_str(), false), 0);
    char text[64] = {};
    ASSERT_GT(::readlink((dir + "/copy").c_str(), text, sizeof text), 0);
    EXPECT_STREQ(text, "../no/such/target");
}

TEST(PlatFileOps, CopyRefusesTakenNamesAndItselfAndReplacesOnlyWhenAsked)
{
    std::string dir = test::MakeTempFolder("copy_replace");
    std::string from = dir + "/a", to = dir + "/b", link = dir + "/l";
    WriteText(from, "new");
    WriteText(to, "old");
    ::link(from.c_str(), link.c_str());

    EXPECT_EQ(CopyFileItem(from.c_str(), to.c_str(), false), EEXIST);
    EXPECT_EQ(ReadText(to), "old");
    // The same entry under two names: nothing may be unlinked or truncated.
    EXPECT_EQ(CopyFileItem(from.c_str(), from.c_str(), true), EINVAL);
    EXPECT_EQ(CopyFileItem(from.c_str(), link.c_str(), true), EINVAL);
    EXPECT_EQ(ReadText(from), "new");
    EXPECT_EQ(CopyFileItem(dir.c_str(), to.c_str(), true), EISDIR);
    EXPECT_EQ(CopyFileItem((dir + "/none").c_str(), to.c_str(), true), ENOENT);

    ASSERT_EQ(CopyFileItem(from.c_str(), to.c_str(), true), 0);
    EXPECT_EQ(ReadText(to), "new");
    EXPECT_EQ(TemporaryLeftovers(dir), 0);
}

TEST(PlatFileOps, RefusedCopyRangeFallsBackToReadAndWrite)
{
    std::string dir = test::MakeTempFolder("copy_fallback");
    std::string from = dir + "/a";
    std::string data;
    for (int i = 0; i < 300000; ++i)
        data += static_cast<char>('a' + i % 26);
    WriteText(from, data);
    int n = 0;
    for (const char* refusal : {"copy:1:EXDEV", "copy:1:ENOSYS", "copy:1:EOPNOTSUPP", "copy:1:EINVAL"}) {
        Faults faults(refusal);
        std::string to = dir + "/b_" + std::to_string(++n);
        ASSERT_EQ(CopyFileItem(from.c_str(), to.c_str(), false), 0) << refusal;
        EXPECT_EQ(ReadText(to), data) << refusal;
    }
}

TEST(PlatFileOps, FailedReplacingCopyLeavesTheOldFileWhole)
{
    std::string dir = test::MakeTempFolder("copy_fail");
    std::string from = dir + "/a", to = dir + "/b";
    WriteText(from, std::string(5000, 'n'));
    WriteText(to, "old content");
    for (const char* fault : {"copy:1:ENOSPC", "copy:1:EXDEV,write:1:EIO", "meta:1:EIO", "rename:1:EIO", "open:1:EDQUOT"}) {
        Faults faults(fault);
        EXPECT_NE(CopyFileItem(from.c_str(), to.c_str(), true), 0) << fault;
        EXPECT_EQ(ReadText(to), "old content") << fault;
        EXPECT_EQ(TemporaryLeftovers(dir), 0) << fault;
    }
}

TEST(PlatFileOps, TreeCopyKeepsLinksModesAndNeverLeavesTheTree)
{
    std::string dir = test::MakeTempFolder("tree");
    std::string from = MakeTree(dir, "App.app");
    std::string to = dir + "/Copy.app";
    ASSERT_EQ(CopyTree(from.c_str(), to.c_str(), false), 0);
    EXPECT_EQ(Describe(to), Describe(from));
    EXPECT_EQ(Describe(to)["outside"], "link /etc");
    struct stat a, b;
    ::stat((from + "/Contents").c_str(), &a);
    ::stat((to + "/Contents").c_str(), &b);
    EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec);
    EXPECT_EQ(a.st_mtim.tv_nsec, b.st_mtim.tv_nsec);

    EXPECT_EQ(CopyTree(from.c_str(), to.c_str(), false), EEXIST);
    EXPECT_EQ(CopyTree(from.c_str(), (from + "/Contents/Inner.app").c_str(), false), EINVAL);
    EXPECT_TRUE(Missing(from + "/Contents/Inner.app"));
    EXPECT_EQ(TemporaryLeftovers(dir), 0);
}

TEST(PlatFileOps, ReplacingTreeCopySwapsTheNewTreeInWhole)
{
    std::string dir = test::MakeTempFolder("tree_replace");
    std::string from = MakeTree(dir, "New.app");
    std::string to = dir + "/Old.app";
    ::mkdir(to.c_str(), 0755);
    WriteText(to + "/stale", "old");
    auto old = Describe(to);

    // A failure anywhere in the copy leaves the old tree as it was.
    for (const char* fault : {"open:3:EIO", "mkdir:2:ENOSPC", "meta:2:EIO", "symlink:1:EIO", "exchange:1:EIO"}) {
        Faults faults(fault);
        EXPECT_NE(CopyTree(from.c_str(), to.c_str(), true), 0) << fault;
        EXPECT_EQ(Describe(to), old) << fault;
        EXPECT_EQ(TemporaryLeftovers(dir), 0) << fault;
    }
    ASSERT_EQ(CopyTree(from.c_str(), to.c_str(), true), 0);
    EXPECT_EQ(Describe(to), Describe(from));
    EXPECT_EQ(TemporaryLeftovers(dir), 0);
}

// Files are copied several at a time: every one arrives whole with its
// mode, each folder keeps its time although its files land after the walk
// has left it, and a failure on any one file is the copy's answer and
// leaves nothing behind.
TEST(PlatFileOps, TreeOfManyFilesArrivesWholeAndAFailureOnAnyFileLeavesNothing)
{
    std::string dir = test::MakeTempFolder("tree_many");
    std::string from = dir + "/Many.app";
    ::mkdir(from.c_str(), 0755);
    for (int folder = 0; folder < 8; ++folder) {
        std::string sub = from + "/group" + std::to_string(folder);
        ::mkdir(sub.c_str(), 0755);
        for (int file = 0; file < 40; ++file) {
            std::string path = sub + "/file" + std::to_string(file);
            WriteText(path, std::string(static_cast<size_t>(file * 97 + folder), 'a' + static_cast<char>(file % 26)));
            if (file % 7 == 0)
                ::chmod(path.c_str(), 0444);
        }
        struct timespec old[2] = {{1000000000, 5}, {1000000000, 5}};
        ::utimensat(AT_FDCWD, sub.c_str(), old, 0);
    }
    auto tree = Describe(from);

    std::string to = dir + "/Copy.app";
    ASSERT_EQ(CopyTree(from.c_str(), to.c_str(), false), 0);
    EXPECT_EQ(Describe(to), tree);
    for (int folder = 0; folder < 8; ++folder) {
        struct stat st;
        ::stat((to + "/group" + std::to_string(folder)).c_str(), &st);
        EXPECT_EQ(st.st_mtim.tv_sec, 1000000000) << folder;
        EXPECT_EQ(st.st_mtim.tv_nsec, 5) << folder;
    }

    struct Case {
        const char* rule;
        int error;
    } cases[] = {{"open:1:EIO", EIO}, {"copy:150:ENOSPC", ENOSPC}, {"meta:300:EIO", EIO}, {"copy:320:ENOSPC", ENOSPC}};
    for (const Case& c : cases) {
        Faults faults(c.rule);
        std::string failed = dir + "/Failed.app";
        EXPECT_EQ(CopyTree(from.c_str(), failed.c_str(), false), c.error) << c.rule;
        EXPECT_TRUE(Missing(failed)) << c.rule;
        EXPECT_EQ(TemporaryLeftovers(dir), 0) << c.rule;
    }
}

TEST(PlatFileOps, KilledTreeCopyLeavesTheOldOrTheNewTreeWhole)
{
    std::string dir = test::MakeTempFolder("tree_kill");
    std::string from = MakeTree(dir, "New.app");
    auto newTree = Describe(from);
    for (int step : {1, 4, 9, 14, 19}) {
        std::string to = dir + "/Old" + std::to_string(step) + ".app";
        ::mkdir(to.c_str(), 0755);
        WriteText(to + "/stale", "old");
        auto old = Describe(to);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string rule = "change:" + std::to_string(step) + ":kill";
            Faults faults(rule.c_str());
            CopyTree(from.c_str(), to.c_str(), true);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        auto now = Describe(to);
        EXPECT_TRUE(now == old || now == newTree) << "killed at change " << step;
    }
}

TEST(PlatFileOps, MoveNeverReplacesUnlessAskedAndCrossesFileSystemsByCopy)
{
    std::string dir = test::MakeTempFolder("move");
    WriteText(dir + "/a", "a");
    WriteText(dir + "/b", "b");
    EXPECT_EQ(MovePath((dir + "/a").c_str(), (dir + "/b").c_str(), false), EEXIST);
    EXPECT_EQ(ReadText(dir + "/a"), "a");
    EXPECT_EQ(ReadText(dir + "/b"), "b");
    ASSERT_EQ(MovePath((dir + "/a").c_str(), (dir + "/b").c_str(), true), 0);
    EXPECT_EQ(ReadText(dir + "/b"), "a");
    EXPECT_TRUE(Missing(dir + "/a"));

    // Another file system answers EXDEV: the tree is copied, then removed.
    std::string from = MakeTree(dir, "App.app");
    auto tree = Describe(from);
    {
        Faults faults("rename:1:EXDEV");
        ASSERT_EQ(MovePath(from.c_str(), (dir + "/Moved.app").c_str(), false), 0);
    }
    EXPECT_EQ(Describe(dir + "/Moved.app"), tree);
    EXPECT_TRUE(Missing(from));
    EXPECT_TRUE(Missing(dir + "/etc")) << "a link out of the tree was followed";
}

TEST(PlatFileOps, ExchangeSwapsTwoEntries)
{
    std::string dir = test::MakeTempFolder("exchange");
    WriteText(dir + "/a", "a");
    ::mkdir((dir + "/b").c_str(), 0755);
    ASSERT_EQ(ExchangePaths((dir + "/a").c_str(), (dir + "/b").c_str()), 0);
    EXPECT_EQ(ReadText(dir + "/b"), "a");
    struct stat st;
    ASSERT_EQ(::lstat((dir + "/a").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(ExchangePaths((dir + "/a").c_str(), (dir + "/none").c_str()), ENOENT);
}

TEST(PlatFileOps, RemoveTreeRemovesLinksNotTheirTargets)
{
    std::string dir = test::MakeTempFolder("remove");
    WriteText(dir + "/keep", "keep");
    std::string root = MakeTree(dir, "Gone.app");
    ::symlink(dir.c_str(), (root + "/Contents/up").c_str());
    ASSERT_EQ(RemoveTree(root.c_str()), 0);
    EXPECT_TRUE(Missing(root));
    EXPECT_EQ(ReadText(dir + "/keep"), "keep");
    EXPECT_EQ(RemoveTree(root.c_str()), ENOENT);
}

TEST(PlatFileOps, FaultRulesCountCallsAndIgnoreMalformedOnes)
{
    Faults faults("write:2:EIO,bogus,rename:x:EIO,unlink:1:nonsense,mkdir:2+:ENOSPC");
    EXPECT_EQ(FaultCheck("write"), 0);
    EXPECT_EQ(FaultCheck("write"), EIO);
    EXPECT_EQ(FaultCheck("write"), 0);
    EXPECT_EQ(FaultCheck("rename"), 0);
    EXPECT_EQ(FaultCheck("unlink"), 0);
    EXPECT_EQ(FaultCheck("mkdir"), 0);
    EXPECT_EQ(FaultCheck("mkdir"), ENOSPC);
    EXPECT_EQ(FaultCheck("mkdir"), ENOSPC);
}

TEST(PlatTrash, TrashedItemsGetARecordAndUniqueNames)
{
    std::string dir = test::MakeTempFolder("trash");
    std::string data = std::getenv("XDG_DATA_HOME");
    std::string name = "a b%c\xC3\xA9";
    WriteText(dir + "/" + name, "first");
    std::string where;
    ASSERT_EQ(MoveToTrash((dir + "/" + name).c_str(), &where), 0);
    EXPECT_EQ(where, data + "/Trash/files/" + name);
    EXPECT_EQ(ReadText(where), "first");
    EXPECT_TRUE(Missing(dir + "/" + name));
    std::string record = ReadText(data + "/Trash/info/" + name + ".trashinfo");
    EXPECT_EQ(record.rfind("[Trash Info]\nPath=" + EncodeTrashPath(dir) + "/a%20b%25c%C3%A9\nDeletionDate=", 0), 0u)
        << record;

    ::mkdir((dir + "/" + name).c_str(), 0755);
    std::string second;
    ASSERT_EQ(MoveToTrash((dir + "/" + name).c_str(), &second), 0);
    EXPECT_NE(second, where);
    EXPECT_EQ(ReadText(where), "first");
    EXPECT_FALSE(Missing(data + "/Trash/info/" + second.substr(second.rfind('/') + 1) + ".trashinfo"));

    EXPECT_EQ(MoveToTrash((dir + "/none").c_str()), ENOENT);
}

TEST(PlatTrash, FailedTrashLeavesTheItemAndNoRecord)
{
    std::string dir = test::MakeTempFolder("trash_fail");
    std::string data = std::getenv("XDG_DATA_HOME");
    WriteText(dir + "/item", "keep");
    Faults faults("rename:1:EIO");
    EXPECT_EQ(MoveToTrash((dir + "/item").c_str()), EIO);
    EXPECT_EQ(ReadText(dir + "/item"), "keep");
    EXPECT_TRUE(Missing(data + "/Trash/info/item.trashinfo"));
}

TEST(PlatTrash, RecordPathsArePercentEncoded)
{
    EXPECT_EQ(EncodeTrashPath("/a/b c/%/\n~x-y_z.1"), "/a/b%20c/%25/%0A~x-y_z.1");
    EXPECT_EQ(EncodeTrashPath("/\xC3\xA9"), "/%C3%A9");
}

// A marked folder holds its marker from the moment it has its name; a
// folder or link of the same name made otherwise is never taken for one.
TEST(PlatFileOps, AMarkedFolderIsKnownByItsMarkerAndNothingElseIs)
{
    std::string dir = test::MakeTempFolder("marked");
    const std::string marked = dir + "/Tool_new0001.app";
    ASSERT_EQ(MakeMarkedFolder(marked.c_str(), ".mark"), 0);
    EXPECT_TRUE(IsMarkedFolder(marked.c_str(), ".mark"));
    const auto inside = Describe(marked);
    EXPECT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside.count(".mark"), 1u);
    EXPECT_EQ(MakeMarkedFolder(marked.c_str(), ".mark"), EEXIST) << "an existing name is never replaced";
    EXPECT_EQ(TemporaryLeftovers(dir), 0);

    const std::string user = dir + "/Tool_new0002.app";
    ::mkdir(user.c_str(), 0755);
    WriteText(user + "/notes", "mine");
    EXPECT_FALSE(IsMarkedFolder(user.c_str(), ".mark"));
    EXPECT_EQ(MakeMarkedFolder(user.c_str(), ".mark"), EEXIST);
    EXPECT_EQ(ReadText(user + "/notes"), "mine");
    ::mkdir((user + "/.other").c_str(), 0755);
    ::mkdir((dir + "/folder_marker").c_str(), 0755);
    ::mkdir((dir + "/folder_marker/.mark").c_str(), 0755);
    EXPECT_FALSE(IsMarkedFolder((dir + "/folder_marker").c_str(), ".mark")) << "the marker is a file";
    ::symlink(marked.c_str(), (dir + "/link").c_str());
    EXPECT_FALSE(IsMarkedFolder((dir + "/link").c_str(), ".mark")) << "a link is not followed";
    EXPECT_FALSE(IsMarkedFolder((dir + "/missing").c_str(), ".mark"));

    // A step that fails leaves nothing behind, under either name.
    for (const char* fault : {"mkdir:1:ENOSPC", "open:1:EDQUOT", "rename:1:EIO"}) {
        Faults faults(fault);
        const std::string path = dir + "/Tool_new0003.app";
        EXPECT_NE(MakeMarkedFolder(path.c_str(), ".mark"), 0) << fault;
        EXPECT_TRUE(Missing(path)) << fault;
        EXPECT_EQ(TemporaryLeftovers(dir), 0) << fault;
    }
}

}  // namespace qelt::plat
