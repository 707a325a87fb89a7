// Copying an application bundle over an older one (VFolder::CopyTo with the
// replace option) and removing a bundle (VFolder::DeleteForced), against
// "cp -a" and "rm -rf" on the same trees in the same run. The bundle has
// 3,000 files and QELT_BENCH_BUNDLE_MB megabytes (500 by default), built
// once in a folder on the disk under TMPDIR.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"

using namespace qelt;

namespace {

constexpr int kFiles = 3000;

std::string Root()
{
    static std::string root = [] {
        if (VObject::sCppMemMgr == nullptr)
            VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
        const char* tmp = getenv("TMPDIR");
        std::string base = std::string(tmp != nullptr ? tmp : "/tmp") + "/qelt-bench-folders-" + std::to_string(getpid());
        mkdir(base.c_str(), 0755);
        const char* mb = getenv("QELT_BENCH_BUNDLE_MB");
        const size_t total = static_cast<size_t>(mb != nullptr ? atoi(mb) : 500) << 20;
        const size_t each = total / kFiles;
        std::vector<char> block(each, 'q');
        std::string bundle = base + "/Source.app";
        for (int i = 0; i < kFiles; ++i) {
            std::string folder = bundle + "/Contents/Resources/group" + std::to_string(i / 100);
            if (i % 100 == 0)
                (void)!system(("mkdir -p '" + folder + "'").c_str());
            std::ofstream(folder + "/file" + std::to_string(i), std::ios::binary).write(block.data(), block.size());
        }
        symlink("Resources", (bundle + "/Contents/Current").c_str());
        atexit([] {
            std::string command = "rm -rf '" + std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") +
                                  "/qelt-bench-folders-" + std::to_string(getpid()) + "'";
            (void)!system(command.c_str());
        });
        return base;
    }();
    return root;
}

VRefPtr<VFolder> Folder(const std::string& posix)
{
    VFilePath path;
    XMacFile::GetFilePathFromPosixPath((posix + "/").c_str(), true, path);
    return AdoptRef(new VFolder(path, nullptr));
}

void Shell(const std::string& command)
{
    if (system(command.c_str()) != 0)
        abort();
}

void BM_CopyTo_Replace(benchmark::State& state)
{
    const std::string root = Root();
    VRefPtr<VFolder> source = Folder(root + "/Source.app");
    VRefPtr<VFolder> destination = Folder(root + "/dest");
    Shell("mkdir -p '" + root + "/dest' && cp -a '" + root + "/Source.app' '" + root + "/dest/Target.app'");
    for (auto _ : state) {
        if (source->CopyTo(*destination, VString("Target.app"), nullptr, kFolderCopyReplace) != VE_OK)
            state.SkipWithError("copy failed");
    }
    Shell("rm -rf '" + root + "/dest'");
}

void BM_CpA_Replace(benchmark::State& state)
{
    const std::string root = Root();
    Shell("mkdir -p '" + root + "/dest' && cp -a '" + root + "/Source.app' '" + root + "/dest/Target.app'");
    for (auto _ : state) {
        // What a replacing copy needs with the tools: the copy beside, then the swap and the removal.
        Shell("cp -a '" + root + "/Source.app' '" + root + "/dest/.new' && mv '" + root + "/dest/Target.app' '" +
              root + "/dest/.old' && mv '" + root + "/dest/.new' '" + root + "/dest/Target.app' && rm -rf '" + root +
              "/dest/.old'");
    }
    Shell("rm -rf '" + root + "/dest'");
}

void BM_DeleteForced(benchmark::State& state)
{
    const std::string root = Root();
    for (auto _ : state) {
        state.PauseTiming();
        Shell("cp -a '" + root + "/Source.app' '" + root + "/Doomed.app'");
        VRefPtr<VFolder> doomed = Folder(root + "/Doomed.app");
        state.ResumeTiming();
        if (doomed->DeleteForced() != VE_OK)
            state.SkipWithError("delete failed");
    }
}

void BM_RmRf(benchmark::State& state)
{
    const std::string root = Root();
    for (auto _ : state) {
        state.PauseTiming();
        Shell("cp -a '" + root + "/Source.app' '" + root + "/Doomed.app'");
        state.ResumeTiming();
        Shell("rm -rf '" + root + "/Doomed.app'");
    }
}

}  // namespace

// Alternating, so that the page cache and the disk treat both alike.
BENCHMARK(BM_CpA_Replace)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CopyTo_Replace)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RmRf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DeleteForced)->Unit(benchmark::kMillisecond)->Iterations(3);
