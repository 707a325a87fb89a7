#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "kernel/mac/XBSDSystem.h"
#include "platform/PlatExecutables.h"

using namespace qelt;

namespace {

std::string UTF8(const VString& text)
{
    StStringConverter<char> bytes(text, VTC_UTF_8);
    return std::string(bytes.GetCPointer(), bytes.GetSize());
}

void MakeFile(const std::string& path, mode_t mode)
{
    std::ofstream(path) << "#!/bin/sh\nexit 0\n";
    ::chmod(path.c_str(), mode);
}

// A tree of folders with executables, and PATH and the current folder
// restored after each test.
class ExecutableSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        char cwd[PATH_MAX];
        ASSERT_NE(::getcwd(cwd, sizeof(cwd)), nullptr);
        savedCwd = cwd;

        root = test::MakeTempFolder("exec");
        std::filesystem::create_directories(root + "/bin1/dirtool");
        std::filesystem::create_directories(root + "/bin2");
        std::filesystem::create_directories(root + "/here");
        MakeFile(root + "/bin1/tool", 0755);
        MakeFile(root + "/bin2/tool", 0755);
        MakeFile(root + "/bin1/plain", 0644);
        MakeFile(root + "/bin2/plain", 0700);
        MakeFile(root + "/bin2/dirtool", 0755);
        MakeFile(root + "/here/localtool", 0755);
        ::chmod((root + "/bin1/dirtool").c_str(), 0755);
    }
    void TearDown() override
    {
        ASSERT_EQ(::chdir(savedCwd.c_str()), 0);
    }

    // The search through the facade: the path found, or "" when none.
    std::string Search(const std::string& name)
    {
        VString found("unchanged");
        bool ok = VSystem::SearchExecutablePath(VString(name.c_str()), found);
        std::string text = UTF8(found);
        EXPECT_EQ(ok, !text.empty()) << name;
        return text;
    }

    std::string root;
    std::string savedCwd;
    test::StEnvironmentVariable pathVariable{"PATH", std::getenv("PATH")};
};

}  // namespace

TEST_F(ExecutableSearch, PathElementsInOrder)
{
    pathVariable.Set((root + "/bin1:" + root + "/bin2/").c_str());
    const struct {
        const char* name;
        std::string expected;
    } cases[] = {
        {"tool", root + "/bin1/tool"},
        // Not executable in bin1: the next element's file.
        {"plain", root + "/bin2/plain"},
        // A folder is no executable, whatever its mode.
        {"dirtool", root + "/bin2/dirtool"},
        {"missing", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Search(c.name), c.expected) << c.name;

    // An element with its own trailing '/' is used as it stands.
    pathVariable.Set((root + "/bin2/").c_str());
    EXPECT_EQ(Search("tool"), root + "/bin2/tool");
}

TEST_F(ExecutableSearch, NamesWithASlashAreResolved)
{
    pathVariable.Set(nullptr);
    EXPECT_EQ(Search(root + "/bin1/../bin2/tool"), root + "/bin2/tool");
    EXPECT_EQ(Search(root + "/bin1/dirtool"), "");
    EXPECT_EQ(Search(root + "/bin1/plain"), "");
    EXPECT_EQ(Search(root + "/bin1/nothing"), "");
    ASSERT_EQ(::chdir(root.c_str()), 0);
    EXPECT_EQ(Search("./bin1/tool"), root + "/bin1/tool");
}

TEST_F(ExecutableSearch, EmptyElementIsTheCurrentFolder)
{
    ASSERT_EQ(::chdir((root + "/here").c_str()), 0);
    pathVariable.Set((":" + root + "/bin1").c_str());
    EXPECT_EQ(Search("localtool"), root + "/here/localtool");
    EXPECT_EQ(Search("tool"), root + "/bin1/tool");

    // Never the root: "sh" is found in /usr/bin (or not at all), never "/sh".
    pathVariable.Set(":/usr/bin");
    std::string sh = Search("sh");
    EXPECT_NE(sh, "/sh");
    if (!sh.empty()) {
        EXPECT_EQ(sh, "/usr/bin/sh");
    }

    // No PATH, or an empty one: nothing found, the path emptied.
    pathVariable.Set("");
    EXPECT_EQ(Search("localtool"), "");
    pathVariable.Set(nullptr);
    EXPECT_EQ(Search("localtool"), "");
}

TEST_F(ExecutableSearch, OverlongCandidatesAreSkippedNotCut)
{
    // A folder of 1021 bytes holding "ab": the candidate for "abc" has 1025
    // bytes; cut to 1024 it would name ".../ab".
    std::string folder = root;
    while (folder.size() < 1021) {
        size_t part = std::min<size_t>(200, 1021 - folder.size() - 1);
        folder += '/';
        folder.append(part, 'd');
    }
    ASSERT_EQ(folder.size(), 1021u);
    std::filesystem::create_directories(folder);
    MakeFile(folder + "/ab", 0755);
    MakeFile(root + "/bin2/abc", 0755);
    pathVariable.Set((folder + ":" + root + "/bin2").c_str());
    EXPECT_EQ(Search("abc"), root + "/bin2/abc");
    EXPECT_EQ(Search("ab"), folder + "/ab");
}

TEST_F(ExecutableSearch, ApplicationBundlesByName)
{
    pathVariable.Set((root + "/bin1").c_str());
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    std::string apps = std::string(home) + "/Applications";
    std::filesystem::create_directories(apps + "/Viewer.app/Contents/MacOS");
    EXPECT_EQ(Search("Viewer"), apps + "/Viewer.app/");
    EXPECT_EQ(Search("Viewer.app"), apps + "/Viewer.app/");
    EXPECT_EQ(Search("viewer"), "");  // names compare byte for byte
    EXPECT_EQ(Search("Nothing"), "");
    // An executable on the PATH comes first.
    EXPECT_EQ(Search("tool"), root + "/bin1/tool");
    std::filesystem::remove_all(apps);
}

TEST_F(ExecutableSearch, SymbolicLinks)
{
    std::string link = root + "/link";
    EXPECT_EQ(XBSDSystem::CreateSymbolicLink("bin1/tool", link.c_str()), VE_OK);
    char target[64] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof(target) - 1), 0);
    EXPECT_STREQ(target, "bin1/tool");
    EXPECT_EQ(XBSDSystem::CreateSymbolicLink("elsewhere", link.c_str()), PosixError(EEXIST));
    EXPECT_EQ(XBSDSystem::CreateSymbolicLink("x", (root + "/none/link").c_str()), PosixError(ENOENT));
    EXPECT_EQ(XBSDSystem::CreateSymbolicLink(nullptr, link.c_str()), PosixError(EINVAL));
}

TEST(ExecutableTest, EffectivePermissions)
{
    std::string folder = test::MakeTempFolder("perm");
    MakeFile(folder + "/x", 0755);
    MakeFile(folder + "/nox", 0644);
    EXPECT_TRUE(plat::IsExecutableFile(folder + "/x"));
    EXPECT_FALSE(plat::IsExecutableFile(folder + "/nox"));
    EXPECT_FALSE(plat::IsExecutableFile(folder));
    EXPECT_FALSE(plat::IsExecutableFile(""));
    if (::geteuid() != 0) {
        // Executable for others only: the owner may not run it.
        MakeFile(folder + "/others", 0601);
        EXPECT_FALSE(plat::IsExecutableFile(folder + "/others"));
    }
}

// The file-path form finds the same files, and keeps folder names that are
// not UTF-8 byte for byte.
TEST_F(ExecutableSearch, FilePathFormKeepsEveryByte)
{
    const std::string odd = root + "/b\xE9n";
    std::filesystem::create_directories(odd);
    MakeFile(odd + "/tool", 0755);
    pathVariable.Set((root + "/bin2/nothing:" + odd).c_str());
    VFilePath found;
    ASSERT_TRUE(VSystem::SearchExecutablePath(VString("tool"), found));
    EXPECT_TRUE(found.IsFile());
    VString posix;
    found.GetPosixPath(posix);
    std::string bytes;
    XMacFile::EncodePathText(posix.GetCPointer(), posix.GetLength(), bytes);
    EXPECT_EQ(bytes, odd + "/tool");

    EXPECT_FALSE(VSystem::SearchExecutablePath(VString("missing"), found));
    EXPECT_FALSE(found.IsValid());
}
