// The real updater (Updater.app from this build, or the one named by
// QELT_BENCH_UPDATER) installing a generated bundle of 3,000 files and
// QELT_BENCH_BUNDLE_MB megabytes (500 by default), with a link, several
// modes and extended attributes, over an installed one, against "cp -a" of
// the same tree; and the updater's start-up: "Updater --version" to its
// end, and from its start to its first log line, with the start and end of
// /bin/true and of an empty program linked with the toolbox's libraries as
// floors. The start-up figures are read as the median over the rounds of
// each round's ratio to /bin/true: tools/bench_ratios.py prints them from
// --benchmark_format=json output.
//
// Everything lives in a scratch folder under QELT_BENCH_SCRATCH (the build
// folder by default; /dev/shm measures on a memory file system); HOME and
// XDG_DATA_HOME point inside it, so the updater's trash is the scratch one.
// The pairs run in rounds (bench/support/Rounds.h). Each install, on either
// side, goes into a folder that no earlier round used, and nothing is
// deleted until the last round is over: a file system that passes over
// recently freed inodes (ext4) would otherwise charge one side for the
// deletion of the other's copy. Each timed install starts with the file
// system's dirty pages written out. The scratch file system must hold
// 2 x rounds copies of the bundle.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/Rounds.h"

namespace fs = std::filesystem;
namespace bench = qelt::bench;

extern char** environ;

namespace {

constexpr int kFiles = 3000;

std::string Updater()
{
    const char* chosen = std::getenv("QELT_BENCH_UPDATER");
    return chosen != nullptr && *chosen != '\0' ? std::string(chosen)
                                                 : std::string(QELT_UPDATER_APP) + "/Contents/MacOS/Updater";
}

using Clock = std::chrono::steady_clock;

void WriteText(const fs::path& path, const std::string& text, fs::perms perms = fs::perms(0644))
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, perms);
}

// A bundle whose executable quits at once, with `files` resource files of
// `bytes` bytes each (every seventh read-only, every tenth with an extended
// attribute where the file system keeps them) and a relative link.
void MakeBundle(const fs::path& bundle, int files, size_t bytes)
{
    WriteText(bundle / "Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleExecutable</key><string>Sample</string></dict></plist>\n");
    WriteText(bundle / "Contents/MacOS/Sample", "#!/bin/sh\nexit 0\n", fs::perms(0755));
    std::vector<char> block(bytes, 'q');
    for (int i = 0; i < files; ++i) {
        fs::path folder = bundle / "Contents/Resources" / ("group" + std::to_string(i / 100));
        if (i % 100 == 0)
            fs::create_directories(folder);
        const fs::path file = folder / ("file" + std::to_string(i));
        std::ofstream(file, std::ios::binary).write(block.data(), block.size());
        if (i % 7 == 0)
            fs::permissions(file, fs::perms(0444));
        if (i % 10 == 0)
            (void)::setxattr(file.c_str(), "user.bench.origin", "generated", 9, 0);
    }
    fs::create_symlink("Resources", bundle / "Contents/Current");
}

std::string FileSystemName(const fs::path& path)
{
    struct statfs info {};
    if (statfs(path.c_str(), &info) != 0)
        return "unknown";
    switch (info.f_type) {
    case 0xEF53:
        return "ext2/ext3/ext4";
    case 0x01021994:
        return "tmpfs";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x794C7630:
        return "overlayfs";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(info.f_type));
        return text;
    }
    }
}

// The scratch folder, made once, removed at exit.
struct Scratch {
    fs::path root, home, trash, download, logs, small, smallApps;
    size_t bundleBytes = 0;

    Scratch()
    {
        const char* where = std::getenv("QELT_BENCH_SCRATCH");
        root = fs::path(where != nullptr && *where != '\0' ? where : QELT_BENCH_SCRATCH) /
               ("updater-bench-" + std::to_string(getpid()));
        home = root / "home";
        trash = home / ".local/share/Trash";
        download = root / "Download";
        logs = root / "logs";
        small = root / "small";
        fs::create_directories(home / ".local/share");
        const char* mb = std::getenv("QELT_BENCH_BUNDLE_MB");
        const size_t total = static_cast<size_t>(mb != nullptr && std::atoi(mb) > 0 ? std::atoi(mb) : 500) << 20;
        bundleBytes = total;
        MakeBundle(download / "Sample.app", kFiles, total / kFiles);
        MakeBundle(small / "Download/Sample.app", 1, 16);
        MakeBundle(small / "Apps/Sample.app", 1, 16);
        std::fprintf(stderr, "scratch folder %s on %s; bundle of %d files, %zu MiB\n", root.c_str(),
                     FileSystemName(root).c_str(), kFiles, total >> 20);
    }

    ~Scratch() { fs::remove_all(root); }

    static Scratch& Get()
    {
        static Scratch scratch;
        return scratch;
    }

    // Writes out the dirty pages of the scratch file system, so that no
    // side pays for the write-back of the copy before it.
    void Settle() const
    {
        int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::syncfs(fd);
            ::close(fd);
        }
    }

    // A folder for one install that no earlier round used; false (and a
    // message) when the scratch file system has no room for another copy.
    bool FreshFolder(const char* side, int round, fs::path& folder) const
    {
        struct statvfs space {};
        if (::statvfs(root.c_str(), &space) == 0 &&
            static_cast<unsigned long long>(space.f_bavail) * space.f_frsize < bundleBytes + (bundleBytes >> 3)) {
            std::fprintf(stderr, "no room for another copy of the bundle under %s\n", root.c_str());
            return false;
        }
        folder = root / "installs" / (std::string(side) + "-" + std::to_string(round));
        fs::create_directories(folder);
        return true;
    }

    // Empties the trash and the logs the updater left.
    void Clean() const
    {
        fs::remove_all(trash);
        fs::remove_all(logs);
        fs::create_directories(logs);
    }
};

// Starts a program with the scratch home; its output goes to /dev/null.
pid_t Start(const std::vector<std::string>& arguments)
{
    const Scratch& scratch = Scratch::Get();
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        if (entry.rfind("HOME=", 0) == 0 || entry.rfind("XDG_DATA_HOME=", 0) == 0 || entry.rfind("DISPLAY=", 0) == 0 ||
            entry.rfind("WAYLAND_DISPLAY=", 0) == 0 || entry.rfind("QELT_", 0) == 0)
            continue;
        env.push_back(entry);
    }
    env.push_back("HOME=" + scratch.home.string());
    env.push_back("XDG_DATA_HOME=" + (scratch.home / ".local/share").string());
    env.push_back("QELT_NOTIFICATION_LOG=" + (scratch.root / "notifications.txt").string());
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args(arguments);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs a program to its end; the seconds it took, or a negative number when
// it failed.
double Time(const std::vector<std::string>& arguments)
{
    const Clock::time_point start = Clock::now();
    const pid_t pid = Start(arguments);
    if (pid < 0)
        return -1;
    const int status = Wait(pid);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return status == 0 ? seconds : -1;
}

std::vector<std::string> UpdaterArguments(const fs::path& installed, const fs::path& upToDate)
{
    return {Updater(), "--pid=-1", "--log-dir=" + Scratch::Get().logs.string(), installed.string(), upToDate.string()};
}

// Each install's own round number, so that every run (a repetition too)
// gets a folder of its own.
int NextInstall()
{
    static int count = 0;
    return ++count;
}

void BM_CpA_Install(benchmark::State& state)
{
    const Scratch& scratch = Scratch::Get();
    for (auto _ : state) {
        fs::path folder;
        if (!scratch.FreshFolder("cp", NextInstall(), folder)) {
            state.SkipWithError("no room for the copy");
            break;
        }
        scratch.Settle();
        const double seconds =
            Time({"cp", "-a", (scratch.download / "Sample.app").string(), (folder / "Sample.app").string()});
        if (seconds < 0)
            state.SkipWithError("cp -a failed");
        state.SetIterationTime(seconds);
    }
}

void BM_Updater_Install(benchmark::State& state)
{
    const Scratch& scratch = Scratch::Get();
    for (auto _ : state) {
        fs::path folder;
        if (!scratch.FreshFolder("updater", NextInstall(), folder)) {
            state.SkipWithError("no room for the copy");
            break;
        }
        // The installed bundle, small, goes to the trash, which is left as
        // it is until the end.
        MakeBundle(folder / "Sample.app", 1, 16);
        scratch.Settle();
        const double seconds = Time(UpdaterArguments(folder / "Sample.app", scratch.download / "Sample.app"));
        if (seconds < 0)
            state.SkipWithError("the updater failed");
        state.SetIterationTime(seconds);
    }
}

void BM_True_StartToEnd(benchmark::State& state)
{
    for (auto _ : state) {
        const double seconds = Time({"/bin/true"});
        if (seconds < 0)
            state.SkipWithError("/bin/true failed");
        state.SetIterationTime(seconds);
    }
}

// The updater's whole start-up and end when it only prints its version:
// paired in each round with /bin/true just before it, the ratio of the two
// is what its start-up costs over the least a program costs here.
void BM_Updater_Version(benchmark::State& state)
{
    for (auto _ : state) {
        const double seconds = Time({Updater(), "--version"});
        if (seconds < 0)
            state.SkipWithError("Updater --version failed");
        state.SetIterationTime(seconds);
    }
}

// Whether a file of the folder holds the text.
bool FolderHolds(const fs::path& folder, const std::string& text)
{
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (content.find(text) != std::string::npos)
            return true;
    }
    return false;
}

double Since(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double>(end - start).count();
}

// The updater's start-up on a one-file bundle, watched through inotify on
// its log folder: the time is from its start until its first line is in the
// log file (read back, not only created). The updater makes the log file
// right before it logs that line, which wakes the logger task. The counters
// give the start to the log file's creation ("logged_ms") and to the
// updater's end ("whole_run_ms").
void BM_Updater_StartToFirstLogLine(benchmark::State& state)
{
    const Scratch& scratch = Scratch::Get();
    double logged = 0, wholeRun = 0;
    for (auto _ : state) {
        scratch.Clean();
        const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        inotify_add_watch(watch, scratch.logs.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE);
        const Clock::time_point start = Clock::now();
        const pid_t pid = Start(UpdaterArguments(scratch.small / "Apps/Sample.app", scratch.small / "Download/Sample.app"));
        Clock::time_point created{}, seen{};
        bool found = false;
        while (!found && pid > 0) {
            pollfd waiting{watch, POLLIN, 0};
            if (poll(&waiting, 1, 5000) <= 0)
                break;
            alignas(inotify_event) char events[4096];
            ssize_t length;
            while ((length = read(watch, events, sizeof events)) > 0) {
                for (ssize_t at = 0; at < length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                    if ((event->mask & IN_CREATE) != 0 && created == Clock::time_point{})
                        created = Clock::now();
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                }
            }
            found = FolderHolds(scratch.logs, "Updater starting - ");
            seen = Clock::now();
        }
        const int status = pid > 0 ? Wait(pid) : -1;
        wholeRun += Since(start, Clock::now());
        logged += Since(start, created == Clock::time_point{} ? seen : created);
        close(watch);
        if (!found || status != 0)
            state.SkipWithError("no first log line, or the updater failed");
        state.SetIterationTime(Since(start, seen));
    }
    state.counters["logged_ms"] = benchmark::Counter(logged * 1000, benchmark::Counter::kAvgIterations);
    state.counters["whole_run_ms"] = benchmark::Counter(wholeRun * 1000, benchmark::Counter::kAvgIterations);
    scratch.Clean();
}

// The floor of starting a program with the toolbox's libraries: an empty
// main linked like the updater.
void BM_EmptyMainWithToolboxLibraries_StartToEnd(benchmark::State& state)
{
    for (auto _ : state) {
        const double seconds = Time({QELT_BENCH_EMPTY_MAIN});
        if (seconds < 0)
            state.SkipWithError("the empty program failed");
        state.SetIterationTime(seconds);
    }
}

// The start-up rounds (QELT_BENCH_START_ROUNDS, 20 by default).
int StartRounds()
{
    const char* rounds = std::getenv("QELT_BENCH_START_ROUNDS");
    return rounds != nullptr && std::atoi(rounds) > 0 ? std::atoi(rounds) : 20;
}

// The peer first in each round.
const bool sRegistered = [] {
    for (int round = 1; round <= bench::Rounds(); ++round) {
        bench::RegisterRound("BM_CpA_Install", round, BM_CpA_Install)
            ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
        bench::RegisterRound("BM_Updater_Install", round, BM_Updater_Install)
            ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    }
    // Start-ups take milliseconds: many short rounds, so that each ratio
    // is taken under the load of a fraction of a second.
    for (int round = 1; round <= StartRounds(); ++round) {
        bench::RegisterRound("BM_True_StartToEnd", round, BM_True_StartToEnd)
            ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
        bench::RegisterRound("BM_Updater_Version", round, BM_Updater_Version)
            ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
        bench::RegisterRound("BM_EmptyMainWithToolboxLibraries_StartToEnd", round,
                             BM_EmptyMainWithToolboxLibraries_StartToEnd)
            ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
        bench::RegisterRound("BM_Updater_StartToFirstLogLine", round, BM_Updater_StartToFirstLogLine)
            ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
    }
    return true;
}();

}  // namespace
