#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "platform/PlatRealPath.h"

namespace qelt::plat {

TEST(PlatRealPath, LinksAndStepsAreResolvedAsTheSystemSeesThem)
{
    // The temporary folder itself may lie behind a link: compare with the
    // system's own answer for it.
    const std::string root = std::filesystem::canonical(test::MakeTempFolder("realpath")).string();
    std::filesystem::create_directories(root + "/a/b");
    std::ofstream(root + "/a/b/f") << "x";
    ASSERT_EQ(::symlink("a/b", (root + "/link").c_str()), 0);
    ASSERT_EQ(::symlink("missing", (root + "/dangling").c_str()), 0);

    struct Case {
        std::string path;
        bool follow;
        int error;
        std::string resolved;
    };
    const Case cases[] = {
        {root + "/link/f", true, 0, root + "/a/b/f"},
        {root + "/link", true, 0, root + "/a/b"},
        {root + "/link", false, 0, root + "/link"},
        {root + "/link/", true, 0, root + "/a/b/"},
        {root + "//a/./b/../b//f", true, 0, root + "/a/b/f"},
        {root + "/dangling", true, ENOENT, ""},
        {root + "/dangling", false, 0, root + "/dangling"},
        {root + "/nothing", true, ENOENT, ""},
        {root + "/a/b/f/x", true, ENOTDIR, ""},
        {"", true, ENOENT, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string resolved = "unchanged";
        EXPECT_EQ(RealPath(c.path.c_str(), c.follow, resolved), c.error);
        EXPECT_EQ(resolved, c.resolved);
    }
    std::string resolved;
    EXPECT_EQ(RealPath("/", true, resolved), 0);
    EXPECT_EQ(resolved, "/");
}

// A text is placed against the working folder only when it does not begin
// with '/'; nothing is resolved or looked up.
TEST(PlatRealPath, ARelativeTextIsPlacedInTheWorkingFolder)
{
    const std::string here = CurrentFolder();
    ASSERT_FALSE(here.empty());
    const std::string base = here == "/" ? "/" : here + "/";
    const std::pair<std::string, std::string> cases[] = {
        {"/abs/x", "/abs/x"},
        {"logs", base + "logs"},
        {"./A/My.app/", base + "./A/My.app/"},
        {"../up", base + "../up"},
        {"", base},
    };
    for (const auto& [text, full] : cases) {
        std::string out = "garbage";
        EXPECT_TRUE(FullPathFromWorkingFolder(text, out)) << text;
        EXPECT_EQ(out, full) << text;
    }
}

// Without a working folder (it was removed) a relative text has no full
// path; a full one still has.
TEST(PlatRealPath, ARelativeTextWithoutAWorkingFolderHasNoFullPath)
{
    const std::string gone = test::MakeTempFolder("gone");
    const pid_t child = ::fork();
    if (child == 0) {
        std::string out = "x";
        const bool ok = ::chdir(gone.c_str()) == 0 && ::rmdir(gone.c_str()) == 0 &&
                        !FullPathFromWorkingFolder("logs", out) && out.empty() &&
                        FullPathFromWorkingFolder("/a", out) && out == "/a";
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace qelt::plat
