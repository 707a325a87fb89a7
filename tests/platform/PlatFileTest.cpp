#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "platform/PlatFile.h"
#include "platform/PlatFileKinds.h"

namespace qelt::plat {

using test::ReadText;
using test::WriteText;

TEST(PlatFile, ALockedFileRefusesAtOnceAndKeepsItsBytes)
{
    std::string dir = test::MakeTempFolder("lock");
    std::string path = dir + "/f";
    WriteText(path, "precious");
    int holder = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    int fd = -1;
    EXPECT_EQ(OpenFile(path.c_str(), 1, kOpenTruncate, false, fd), EACCES);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(OpenFile(path.c_str(), 2, 0, false, fd), EACCES);
    EXPECT_EQ(ReadText(path), "precious");
    ::close(holder);
    ASSERT_EQ(OpenFile(path.c_str(), 1, kOpenTruncate, false, fd), 0);
    CloseFile(fd);
    EXPECT_EQ(ReadText(path), "");
}

TEST(PlatFile, OpenOptionsForLinksForksAndNonRegularFiles)
{
    std::string dir = test::MakeTempFolder("open");
    WriteText(dir + "/target", "t");
    ::symlink("target", (dir + "/link").c_str());
    ::mkfifo((dir + "/fifo").c_str(), 0600);
    int fd = -1;
    EXPECT_EQ(OpenFile((dir + "/link").c_str(), 0, 0, false, fd), ELOOP);
    ASSERT_EQ(OpenFile((dir + "/link").c_str(), 0, kOpenFollowLink, false, fd), 0);
    CloseFile(fd);
    EXPECT_EQ(OpenFile((dir + "/target").c_str(), 1, kOpenResourceFork, false, fd), ENOTSUP);
    // Never waits for a writer on a FIFO, and refuses folders.
    EXPECT_EQ(OpenFile((dir + "/fifo").c_str(), 0, 0, true, fd), EINVAL);
    EXPECT_EQ(OpenFile(dir.c_str(), 0, 0, true, fd), EINVAL);
    EXPECT_EQ(OpenFile((dir + "/none").c_str(), 0, 0, false, fd), ENOENT);
    ASSERT_EQ(OpenFile((dir + "/new").c_str(), 1, kOpenCreate, false, fd), 0);
    CloseFile(fd);
    struct stat st;
    ASSERT_EQ(::stat((dir + "/new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u & ~0022u & 0777u);
}

TEST(PlatFile, TransfersReportTheBytesMovedAndGrowFilesWithZeros)
{
    std::string dir = test::MakeTempFolder("transfer");
    std::string path = dir + "/f";
    WriteText(path, "abcd");
    int fd = -1;
    ASSERT_EQ(OpenFile(path.c_str(), 1, 0, false, fd), 0);
    char buffer[16] = {};
    size_t done = 99;
    EXPECT_EQ(ReadAt(fd, buffer, 10, 0, done), 0);
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(ReadAt(fd, buffer, 10, 50, done), 0);
    EXPECT_EQ(done, 0u);
    ASSERT_EQ(WriteAt(fd, "xy", 2, 8, done), 0);
    EXPECT_EQ(done, 2u);
    int64_t size = 0;
    ASSERT_EQ(GetOpenFileSize(fd, size), 0);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(ReadText(path), std::string("abcd\0\0\0\0xy", 10));
    EXPECT_EQ(SetOpenFileSize(fd, -1), EINVAL);
    ASSERT_EQ(SetOpenFileSize(fd, 3), 0);
    EXPECT_EQ(ReadText(path), "abc");
    CloseFile(fd);
    EXPECT_EQ(ReadAt(fd, buffer, 1, 0, done), EBADF);
}

TEST(PlatFile, TimesAndPermissionsOfALinkAreItsOwn)
{
    std::string dir = test::MakeTempFolder("times");
    WriteText(dir + "/target", "t");
    ::symlink("target", (dir + "/link").c_str());
    int64_t modified = 1500000000123000000LL, accessed = 1400000000000000000LL;
    ASSERT_EQ(SetEntryTimes((dir + "/link").c_str(), &modified, &accessed), 0);
    EntryInfo link, target;
    ASSERT_EQ(GetEntryInfo((dir + "/link").c_str(), false, link), 0);
    EXPECT_EQ(link.kind, EntryKind::Link);
    EXPECT_EQ(link.modified, modified);
    EXPECT_EQ(link.accessed, accessed);
    // Only the modification time: the access time stays.
    int64_t later = modified + 1000000000LL;
    ASSERT_EQ(SetEntryTimes((dir + "/link").c_str(), &later, nullptr), 0);
    ASSERT_EQ(GetEntryInfo((dir + "/link").c_str(), false, link), 0);
    EXPECT_EQ(link.accessed, accessed);
    EXPECT_EQ(link.modified, later);
    // Following the link reads the target's times (and touches the link's access time).
    ASSERT_EQ(GetEntryInfo((dir + "/link").c_str(), true, target), 0);
    EXPECT_EQ(target.kind, EntryKind::File);
    EXPECT_NE(target.modified, later);

    EXPECT_EQ(SetPermissions((dir + "/link").c_str(), 0600), ENOTSUP);
    ASSERT_EQ(SetPermissions((dir + "/target").c_str(), 0604), 0);
    ASSERT_EQ(GetEntryInfo((dir + "/target").c_str(), false, target), 0);
    EXPECT_EQ(target.mode, 0604u);
    EXPECT_EQ(GetEntryKind((dir + "/none").c_str()), EntryKind::Missing);
}

TEST(PlatFile, UnlockingAddsOwnerAccessAndNeverFollowsALink)
{
    std::string dir = test::MakeTempFolder("unlock");
    WriteText(dir + "/f", "x");
    ::chmod((dir + "/f").c_str(), 0444);
    WriteText(dir + "/other", "x");
    ::chmod((dir + "/other").c_str(), 0444);
    ::symlink("other", (dir + "/link").c_str());
    ASSERT_EQ(UnlockPath((dir + "/f").c_str()), 0);
    ASSERT_EQ(UnlockPath((dir + "/link").c_str()), 0);
    struct stat st;
    ::stat((dir + "/f").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ::stat((dir + "/other").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u) << "the link's target was changed";
    bool locked = true;
    EXPECT_EQ(GetLocked((dir + "/link").c_str(), false, locked), 0);
    EXPECT_FALSE(locked);
    EXPECT_EQ(SetLocked((dir + "/link").c_str(), false, true), ENOTSUP);
}

TEST(PlatFile, EffectivePermissionAndVolumeSpace)
{
    std::string dir = test::MakeTempFolder("perm");
    WriteText(dir + "/f", "x");
    ::chmod((dir + "/f").c_str(), 0640);
    uint32_t permission = 99;
    ASSERT_EQ(GetEffectivePermission((dir + "/f").c_str(), permission), 0);
    EXPECT_EQ(permission, ::geteuid() == 0 ? 7u : 6u);
    EXPECT_EQ(GetEffectivePermission((dir + "/none").c_str(), permission), ENOENT);
    EXPECT_EQ(permission, 0u);

    int64_t freeHere = 0, totalHere = 0, freeMissing = 0, totalMissing = 0;
    ASSERT_EQ(GetVolumeSpace(dir.c_str(), -1, false, freeHere, totalHere), 0);
    ASSERT_EQ(GetVolumeSpace((dir + "/not-yet").c_str(), -1, false, freeMissing, totalMissing), 0);
    EXPECT_GT(totalHere, 0);
    EXPECT_EQ(totalMissing, totalHere);
    EXPECT_EQ(GetVolumeSpace((dir + "/a/b").c_str(), -1, false, freeMissing, totalMissing), ENOENT);
}

TEST(PlatFile, LinksAndEmptyFilesReplaceOnlyByRename)
{
    std::string dir = test::MakeTempFolder("links");
    WriteText(dir + "/old", "old");
    ASSERT_EQ(MakeLinkReplacing("../c/t", (dir + "/old").c_str()), 0);
    std::string text;
    ASSERT_EQ(ReadLinkText((dir + "/old").c_str(), text), 0);
    EXPECT_EQ(text, "../c/t");
    std::string target;
    bool isFolder = true;
    EXPECT_EQ(ResolveLink((dir + "/old").c_str(), target, isFolder), ENOENT);
    ASSERT_EQ(MakeLinkReplacing(dir.c_str(), (dir + "/up").c_str()), 0);
    ASSERT_EQ(ResolveLink((dir + "/up").c_str(), target, isFolder), 0);
    EXPECT_TRUE(isFolder);

    WriteText(dir + "/file", "content");
    EXPECT_EQ(CreateEmptyFile((dir + "/file").c_str(), false), EEXIST);
    EXPECT_EQ(ReadText(dir + "/file"), "content");
    ASSERT_EQ(CreateEmptyFile((dir + "/file").c_str(), true), 0);
    EXPECT_EQ(ReadText(dir + "/file"), "");
}

TEST(PlatFile, TemporaryFolderFollowsTMPDIR)
{
    std::string dir = test::MakeTempFolder("tmpdir");
    test::StEnvironmentVariable tmpdir("TMPDIR", (dir + "/").c_str());
    EXPECT_EQ(TemporaryFolder(), dir);
    tmpdir.Set((dir + "/missing").c_str());
    EXPECT_EQ(TemporaryFolder(), "/tmp");
}

TEST(PlatFileKinds, DeclarationsExtensionsAndConformance)
{
    PublicKindDeclaration jpeg;
    ASSERT_TRUE(FindPublicKind("public.jpeg", jpeg));
    EXPECT_EQ(jpeg.extensions, (std::vector<std::string>{"jpeg", "jpg", "jpe"}));
    EXPECT_EQ(jpeg.parents, (std::vector<std::string>{"public.image"}));
    EXPECT_FALSE(FindPublicKind("com.example.none", jpeg));
    EXPECT_EQ(PublicKindForExtension("JPG"), "public.jpeg");
    EXPECT_EQ(PublicKindForExtension(""), "");
    EXPECT_EQ(PublicKindForExtension("qqq"), "");
    EXPECT_TRUE(PublicKindConformsTo("public.jpeg", "public.data"));
    EXPECT_TRUE(PublicKindConformsTo("public.json", "public.text"));
    EXPECT_FALSE(PublicKindConformsTo("public.data", "public.jpeg"));
    EXPECT_TRUE(PublicKindConformsTo("com.example.x", "com.example.x"));
    EXPECT_FALSE(PublicKindConformsTo("com.example.x", "public.data"));
}

// The desktop's opener is used only in a graphical session and only when it
// is there; each refusal has its own answer.
TEST(PlatFile, OpeningWithTheDefaultApplicationNeedsASessionAndAnOpener)
{
    const std::string tools = test::MakeTempFolder("opener");
    const std::string opened = tools + "/opened.txt";
    using ScopedEnv = test::StEnvironmentVariable;
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    {
        ScopedEnv display("DISPLAY", nullptr);
        EXPECT_EQ(OpenWithDefaultApplication("/x/log.txt"), ENOTSUP);
    }
    ScopedEnv display("DISPLAY", ":99");
    ScopedEnv path("PATH", tools.c_str());
    EXPECT_EQ(OpenWithDefaultApplication("/x/log.txt"), ENOENT);
    EXPECT_EQ(RevealFolder("/x/"), ENOTSUP) << "revealing keeps its own answer";

    WriteText(tools + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened + "'\n");
    ::chmod((tools + "/xdg-open").c_str(), 0755);
    EXPECT_EQ(OpenWithDefaultApplication("/x/the log.txt"), 0);
    EXPECT_TRUE(test::WaitFor([&] { return ReadText(opened) == "/x/the log.txt"; })) << ReadText(opened);
}

}  // namespace qelt::plat
