// The replay program: "fuzz_replay TARGET PATH..." runs the named target once
// on every file of the folders (or files) given after it, in name order, so
// that ctest replays each corpus.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzReplayTable.h"
#include "fuzz/FuzzSupport.h"

// As in the test programs: a request the allocator cannot serve answers null.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    int (*entry)(const uint8_t*, size_t) = nullptr;
    if (argc > 1) {
        for (const auto& target : qelt::fuzz::kReplayTargets)
            if (std::strcmp(target.fName, argv[1]) == 0)
                entry = target.fEntry;
    }
    if (entry == nullptr) {
        std::fprintf(stderr, "replay: usage: %s TARGET PATH...; targets:", argv[0]);
        for (const auto& target : qelt::fuzz::kReplayTargets)
            std::fprintf(stderr, " %s", target.fName);
        std::fprintf(stderr, "\n");
        return 1;
    }
    std::vector<fs::path> files;
    for (int i = 2; i < argc; ++i) {
        fs::path arg(argv[i]);
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto& entry : fs::directory_iterator(arg, ec))
                if (entry.is_regular_file(ec))
                    files.push_back(entry.path());
        } else {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "replay: no input files\n");
        return 1;
    }

    LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& path : files) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 1;
        }
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::printf("replay: %s (%zu bytes)\n", path.filename().c_str(), bytes.size());
        std::fflush(stdout);
        entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    qelt::fuzz::Shutdown();
    std::printf("replay: %zu inputs ran\n", files.size());
    return 0;
}
