// File copies against `cp -a` in the same run, alternating: a 500 MB file
// through VFile::CopyTo, and a tree of 3,000 files (with folders and links)
// through the platform's tree copy. The manual time is ours; the counters
// give cp's time and the ratio (ours / cp, lower is better).
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "files/VFile.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "platform/PlatFileOps.h"

using namespace qelt;

namespace {

class Workspace {
public:
    Workspace()
    {
        if (VObject::sCppMemMgr == nullptr)
            VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
        const char* base = std::getenv("QELT_BENCH_DIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/qelt_bench_files_XXXXXX";
        std::vector<char> text(pattern.begin(), pattern.end());
        text.push_back('\0');
        const char* made = ::mkdtemp(text.data());
        fRoot = made != nullptr ? made : "/tmp";
    }
    ~Workspace() { plat::RemoveTree(fRoot.c_str()); }
    const std::string& Root() const { return fRoot; }

private:
    std::string fRoot;
};

Workspace& Space()
{
    static Workspace sSpace;
    return sSpace;
}

double Seconds(const std::chrono::steady_clock::time_point& start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double RunCp(const std::string& from, const std::string& to)
{
    std::string command = "cp -a '" + from + "' '" + to + "'";
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    double elapsed = Seconds(start);
    return status == 0 ? elapsed : -1;
}

VFilePath PosixPath(const std::string& posix) { return VFilePath(VString(posix.c_str()), FPS_POSIX); }

void BM_CopyLargeFile(benchmark::State& state)
{
    const std::string source = Space().Root() + "/large.bin";
    struct stat st;
    if (::stat(source.c_str(), &st) != 0) {
        std::ofstream out(source, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((i * 131) ^ (i >> 7));
        for (int i = 0; i < 500; ++i) {
            block[0] = static_cast<char>(i);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    const std::string ours = Space().Root() + "/large.ours";
    const std::string theirs = Space().Root() + "/large.cp";
    VRefPtr<VFile> file = AdoptRef(new VFile(PosixPath(source)));
    VRefPtr<VFile> target = AdoptRef(new VFile(PosixPath(ours)));
    double oursTotal = 0, cpTotal = 0;
    for (auto _ : state) {
        ::unlink(ours.c_str());
        ::unlink(theirs.c_str());
        auto start = std::chrono::steady_clock::now();
        VError err = file->CopyTo(*target, 0);
        double elapsed = Seconds(start);
        if (err != VE_OK) {
            state.SkipWithError("copy failed");
            break;
        }
        state.SetIterationTime(elapsed);
        oursTotal += elapsed;
        cpTotal += RunCp(source, theirs);
    }
    state.counters["cp_s"] = cpTotal / static_cast<double>(state.iterations());
    state.counters["ratio"] = cpTotal > 0 ? oursTotal / cpTotal : 0;
    state.SetBytesProcessed(state.iterations() * 500LL * (1 << 20));
    ::unlink(ours.c_str());
    ::unlink(theirs.c_str());
}

void MakeTree(const std::string& root)
{
    ::mkdir(root.c_str(), 0755);
    std::string content(4096, 'x');
    for (int d = 0; d < 30; ++d) {
        std::string folder = root + "/folder" + std::to_string(d);
        ::mkdir(folder.c_str(), 0755);
        ::mkdir((folder + "/sub").c_str(), 0755);
        for (int f = 0; f < 100; ++f) {
            std::string path = folder + (f % 2 ? "/sub/file" : "/file") + std::to_string(f);
            std::ofstream(path, std::ios::binary) << content << f;
        }
        ::symlink("sub/file1", (folder + "/link").c_str());
    }
}

void BM_CopyTree3000(benchmark::State& state)
{
    const std::string source = Space().Root() + "/tree";
    struct stat st;
    if (::stat(source.c_str(), &st) != 0)
        MakeTree(source);
    const std::string ours = Space().Root() + "/tree.ours";
    const std::string theirs = Space().Root() + "/tree.cp";
    double oursTotal = 0, cpTotal = 0;
    for (auto _ : state) {
        plat::RemoveTree(ours.c_str());
        plat::RemoveTree(theirs.c_str());
        auto start = std::chrono::steady_clock::now();
        int err = plat::CopyTree(source.c_str(), ours.c_str(), false);
        double elapsed = Seconds(start);
        if (err != 0) {
            state.SkipWithError("tree copy failed");
            break;
        }
        state.SetIterationTime(elapsed);
        oursTotal += elapsed;
        cpTotal += RunCp(source, theirs);
    }
    state.counters["cp_s"] = cpTotal / static_cast<double>(state.iterations());
    state.counters["ratio"] = cpTotal > 0 ? oursTotal / cpTotal : 0;
    plat::RemoveTree(ours.c_str());
    plat::RemoveTree(theirs.c_str());
}

}  // namespace

BENCHMARK(BM_CopyLargeFile)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyTree3000)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
