// A file path from a full POSIX text and back (FromFullPath with the POSIX
// style, then GetPosixPath) against std::filesystem's lexically_normal of
// the same texts and against one lstat of each, on existing paths of 60 to
// 100 bytes.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

using namespace qelt;

namespace {

struct Fixture {
    std::string root;
    std::vector<std::string> paths;
    std::vector<VString> texts;

    Fixture()
    {
        if (VObject::sCppMemMgr == nullptr)
            VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
        char pattern[] = "/tmp/qelt-bench-paths-XXXXXX";
        root = ::mkdtemp(pattern);
        const char* const names[] = {"Documents", "Projects", "release-notes", "caf\xC3\xA9", "build.log",
                                     "Library",   "Caches",   "settings.json", "2026-12",   "photo.jpeg"};
        for (int i = 0; i < 16; ++i) {
            std::string path = root + "/" + std::to_string(i);
            int k = i;
            while (path.size() < 60 + static_cast<size_t>(i) * 2) {
                path += "/";
                path += names[k++ % 10];
            }
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            std::ofstream(path) << "x";
            paths.push_back(path);
            VString text;
            XMacFile::DecodePathBytes(path.data(), path.size(), text);
            texts.push_back(text);
        }
    }
    ~Fixture() { std::filesystem::remove_all(root); }
};

Fixture& Paths()
{
    static Fixture sFixture;
    return sFixture;
}

void BM_FilePathFromPosixAndBack(benchmark::State& state)
{
    Fixture& f = Paths();
    VStr<255> out;
    for (auto _ : state) {
        for (const VString& text : f.texts) {
            VFilePath path(text, FPS_POSIX);
            path.GetPosixPath(out);
            benchmark::DoNotOptimize(out.GetCPointer());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(f.texts.size()));
}
BENCHMARK(BM_FilePathFromPosixAndBack);

void BM_LexicallyNormal(benchmark::State& state)
{
    Fixture& f = Paths();
    for (auto _ : state) {
        for (const std::string& text : f.paths) {
            std::filesystem::path normal = std::filesystem::path(text).lexically_normal();
            benchmark::DoNotOptimize(normal.native().data());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(f.paths.size()));
}
BENCHMARK(BM_LexicallyNormal);

void BM_Lstat(benchmark::State& state)
{
    Fixture& f = Paths();
    struct stat info;
    for (auto _ : state) {
        for (const std::string& text : f.paths)
            benchmark::DoNotOptimize(::lstat(text.c_str(), &info));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(f.paths.size()));
}
BENCHMARK(BM_Lstat);

}  // namespace
