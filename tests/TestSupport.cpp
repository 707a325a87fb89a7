#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"

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

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace qelt::test

// Under AddressSanitizer a request the allocator cannot serve answers null,
// as the C library does, instead of ending the program: the toolbox's
// handling of refused allocations is then tested as it runs.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

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

    // Every test runs with the process memory manager in malloc mode, as the
    // toolbox's entry point would create it.
    qelt::VCppMemMgr* manager = new qelt::VCppMemMgr(qelt::eAllocatorMalloc);
    if (manager == nullptr)
        return 1;
    qelt::VObject::sCppMemMgr = manager;

    ::testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();

    qelt::VObject::sCppMemMgr = nullptr;
    delete manager;

    std::error_code ec;
    std::filesystem::remove_all(qelt::test::gRoot, ec);
    return status;
}
