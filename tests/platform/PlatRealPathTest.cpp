#include <gtest/gtest.h>

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

}  // namespace qelt::plat
