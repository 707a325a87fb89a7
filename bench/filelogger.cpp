// The file logger's lines against the peer library's multi-threaded basic
// file sink, both writing the same fields (line number, local time with
// milliseconds, logger name, level, message) into a folder on disk (below
// the working folder, never a memory file system).
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VString.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "runtime/VTaskMgr.h"
#include "values/VValueBag.h"

#ifdef QELT_HAVE_SPDLOG
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

using namespace qelt;

namespace {

constexpr const char* kName = "Updater";
constexpr const char* kMessage = "Copying the bundle into place - step 3 of 9 - \xC3\xA9tape en cours";

void EnsureToolbox()
{
    static bool sDone = [] {
        if (VObject::sCppMemMgr == nullptr)
            VObject::sCppMemMgr = new VCppMemMgr(eAllocatorMalloc);
        return VTaskMgr::Init(nullptr);
    }();
    (void)sDone;
}

// A fresh, empty folder for one benchmark beside the benchmark program (in
// the build folder, on disk), removed again when the benchmark ends.
class Folder {
public:
    explicit Folder(const char* name)
        : fPath(std::filesystem::read_symlink("/proc/self/exe").parent_path() / "bench_logs" / name)
    {
        std::filesystem::remove_all(fPath);
        std::filesystem::create_directories(fPath);
    }
    ~Folder() { std::filesystem::remove_all(fPath); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    operator std::string() const { return fPath.string(); }

private:
    std::filesystem::path fPath;
};

VFolder FolderPath(const std::string& posix)
{
    return VFolder(VFilePath(VString((posix + "/").c_str()), FPS_POSIX));
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

void BM_FileLogger_Log(benchmark::State& state)
{
    EnsureToolbox();
    const Folder folder("log");
    VLog4jMsgFileLogger logger(FolderPath(folder), VString("bench"));
    logger.Start();
    VLog4jMsgFileLogger::VLog4jLogListener* listener = logger.GetListener();
    for (auto _ : state)
        listener->Log(kName, EML_Info, kMessage);
    logger.Stop();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FileLogger_Log);

void BM_FileLogger_Put(benchmark::State& state)
{
    EnsureToolbox();
    const Folder folder("put");
    VLog4jMsgFileLogger logger(FolderPath(folder), VString("bench"));
    logger.Start();
    std::vector<const VValueBag*> records;
    for (int i = 0; i < 1000; ++i) {
        VValueBag* record = new VValueBag;
        ILoggerBagKeys::message.Set(*record, VString(kMessage));
        ILoggerBagKeys::source.Set(*record, VString(kName));
        records.push_back(record);
    }
    for (auto _ : state)
        logger.GetListener()->Put(records);
    logger.Stop();
    for (const VValueBag* record : records)
        record->Release();
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_FileLogger_Put);

// Ten million lines: resident memory after the first million and at the
// end, and the parts left in the folder.
void BM_FileLogger_TenMillionLines(benchmark::State& state)
{
    EnsureToolbox();
    const Folder folder("long");
    long afterMillion = 0;
    long atEnd = 0;
    for (auto _ : state) {
        VLog4jMsgFileLogger logger(FolderPath(folder), VString("bench"));
        logger.Start();
        VLog4jMsgFileLogger::VLog4jLogListener* listener = logger.GetListener();
        for (int i = 1; i <= 10000000; ++i) {
            listener->Log(kName, EML_Info, kMessage);
            if (i == 1000000)
                afterMillion = ResidentKiB();
        }
        atEnd = ResidentKiB();
        logger.Stop();
    }
    int parts = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(folder)))
        parts += entry.is_regular_file() ? 1 : 0;
    state.counters["rss_1M_KiB"] = static_cast<double>(afterMillion);
    state.counters["rss_10M_KiB"] = static_cast<double>(atEnd);
    state.counters["parts"] = parts;
    state.SetItemsProcessed(state.iterations() * 10000000);
}
BENCHMARK(BM_FileLogger_TenMillionLines)->Iterations(1)->Unit(benchmark::kSecond);

#ifdef QELT_HAVE_SPDLOG
void BM_Spdlog_BasicFileSinkMt(benchmark::State& state)
{
    const Folder folder("peer");
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(std::string(folder) + "/bench_1.txt", true);
    spdlog::logger logger(kName, sink);
    logger.set_pattern("%Y-%m-%dT%H:%M:%S.%e [%n] %l - %v");
    unsigned long long sequence = 0;
    for (auto _ : state)
        logger.info("{} {}", ++sequence, kMessage);
    logger.flush();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Spdlog_BasicFileSinkMt);
#endif

}  // namespace
