#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace qelt::test {

namespace {
std::string gRoot;
std::atomic<int> gCounter{0};
}  // namespace

const std::string& TempRoot() { return gRoot; }

std::string MakeTempFolder(const std::string& hint)
{
    std::string path = gRoot + "/" + hint + "_" + std::to_string(gCounter.fetch_add(1));
    std::filesystem::create_directories(path);
    return path;
}

}  // namespace qelt::test

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/qelt_test_XXXXXX";
    const char* root = ::mkdtemp(pattern);
    if (root == nullptr)
        return 1;
    qelt::test::gRoot = root;
    std::string home = qelt::test::gRoot + "/home";
    std::filesystem::create_directories(home + "/.local/share");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);

    ::testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();

    std::error_code ec;
    std::filesystem::remove_all(qelt::test::gRoot, ec);
    return status;
}
