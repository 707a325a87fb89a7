#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <algorithm>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "files/VFile.h"
#include "files/VFileSystemNotifier.h"
#include "files/VFolder.h"
#include "kernel/StStringConverter.h"
#include "process/VBootLogListener.h"
#include "process/VCommandLineParser.h"
#include "runtime/ILogger.h"
#include "runtime/ILoggerBagKeys.h"
#include "values/VValueBag.h"
#include "process/VProcessIPC.h"
#include "runtime/VErrorContext.h"
#include "runtime/VSpinLock.h"
#include "runtime/VTask.h"

namespace qelt {
namespace {

std::string ReadFile(const std::string& inPath)
{
    std::ifstream in(inPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Text(const VString& inText)
{
    std::string out;
    for (int i = 0; i < inText.GetLength(); ++i)
        out.push_back(static_cast<char>(inText.GetCPointer()[i]));
    return out;
}

struct ChildRun {
    int status = -1;
    std::string out;
};

// Runs `body` in a child process, whose standard output goes to a file;
// its result is the child's exit status. `withChild` runs in this process
// with the child's id and the read end of a pipe on which the child's body
// can signal (descriptor gReadyFd in the child).
int gReadyFd = -1;

ChildRun RunInChild(const std::function<int()>& body,
                    const std::function<void(pid_t, int)>& withChild = nullptr)
{
    std::string outPath = test::MakeTempFolder("child") + "/out.txt";
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        gReadyFd = ready[1];
        std::freopen(outPath.c_str(), "w", stdout);
        struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::alarm(20);  // a child that hangs ends, and the test fails
        int status = body();
        std::fflush(nullptr);
        ::_exit(status);
    }
    ::close(ready[1]);
    if (withChild)
        withChild(pid, ready[0]);
    ChildRun run;
    ::waitpid(pid, &run.status, 0);
    ::close(ready[0]);
    run.out = ReadFile(outPath);
    return run;
}

void SignalReady()
{
    char byte = 1;
    ssize_t n = ::write(gReadyFd, &byte, 1);
    (void)n;
}

void WaitReady(int inFd)
{
    char byte = 0;
    ASSERT_EQ(::read(inFd, &byte, 1), 1);
}

// A process object whose command-line hook records the arguments and
// answers a chosen verdict.
class TestProcess : public VProcessIPC {
public:
    explicit TestProcess(int inVerdict = 0) : fVerdict(inVerdict) {}

    std::vector<std::string> fSeen;
    std::atomic<bool> fRan{false};
    bool fQuit = false;
    bool fVersionOK = true;
    bool fSleepInRun = false;

protected:
    int DoParseCommandLine(VCommandLineParser& ioParser) override
    {
        for (const VString& arg : ioParser.GetArguments())
            fSeen.push_back(Text(arg));
        return fVerdict;
    }
    bool DoCheckSystemVersion(VSystem::SystemVersion inVersion) override
    {
        return fVersionOK && VProcessIPC::DoCheckSystemVersion(inVersion);
    }
    void DoRun() override
    {
        fRan = true;
        VProcessIPC::DoRun();
    }
    void DoQuit() override { fQuit = true; }

private:
    int fVerdict;
};

void SetArguments(std::vector<std::string>& ioArgs, std::vector<char*>& outPointers)
{
    for (std::string& arg : ioArgs)
        outPointers.push_back(arg.data());
    outPointers.push_back(nullptr);
    sProcessCommandLineArgc = static_cast<int32_t>(ioArgs.size());
    sProcessCommandLineArgv = outPointers.data();
}

TEST(ProcessIPC, SerialNumberArgumentsNeverReachTheParser)
{
    ChildRun run = RunInChild([] {
        std::vector<std::string> args{"prog", "-psn_1", "-psn", "x", "-psn_0_123"};
        std::vector<char*> pointers;
        SetArguments(args, pointers);
        TestProcess process;
        if (!process.Init(0))
            return 1;
        for (const std::string& arg : process.fSeen)
            std::printf("%s|", arg.c_str());
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "prog|-psn|x|");
}

TEST(ProcessIPC, HookVerdictBecomesTheExitCode)
{
    struct Case {
        int verdict;
        bool init;
        int exitCode;
    } cases[] = {{0, true, 0}, {2, false, 0}, {1, false, 1}, {-3, false, 1}};
    for (const Case& c : cases) {
        ChildRun run = RunInChild([&c] {
            TestProcess process(c.verdict);
            bool first = process.Init(0);
            bool second = process.Init(0);
            std::printf("%d %d %d", first, second, process.GetExitCode());
            return 0;
        });
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, std::to_string(c.init) + " " + std::to_string(c.init) + " " + std::to_string(c.exitCode))
            << "verdict " << c.verdict;
    }
}

TEST(ProcessIPC, FailedStartUpAnswersFalseWithExitCodeOneEveryTime)
{
    ChildRun run = RunInChild([] {
        TestProcess process;
        process.fVersionOK = false;
        bool first = process.Init(0);
        bool second = process.Init(0);
        std::printf("%d %d %d %zu", first, second, process.GetExitCode(), process.fSeen.size());
        return 0;
    });
    EXPECT_EQ(run.out, "0 0 1 0");
}

TEST(ProcessIPC, RunCallsTheHooksAndEndsTheMainTask)
{
    ChildRun run = RunInChild([] {
        TestProcess process;
        if (!process.Init(0))
            return 1;
        // The default run hook waits until asked to quit; ask from another
        // thread once the hook runs, as a signal would.
        bool runningBefore = VProcess::IsRunning();
        std::thread quitter([&process] {
            while (!process.fRan.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            process.QuitAsynchronously(nullptr);
        });
        process.Run();
        quitter.join();
        std::printf("%d %d %d %d", runningBefore, process.fRan.load(), process.fQuit, VProcess::IsRunning());
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "1 1 1 0");
}

TEST(ProcessIPC, TerminationSignalsEndTheRun)
{
    struct Case {
        int signal;
        const char* notice;
    } cases[] = {{SIGINT, "\n (ctrl-c has been received - quit)\n\n"}, {SIGTERM, ""}, {SIGQUIT, ""}};
    for (const Case& c : cases) {
        ChildRun run = RunInChild(
            [] {
                TestProcess process;
                if (!process.Init(0))
                    return 1;
                std::fflush(stdout);
                SignalReady();
                process.Run();
                std::printf("ran");
                return 7;
            },
            [&c](pid_t inPid, int inReady) {
                WaitReady(inReady);
                ::kill(inPid, c.signal);
            });
        ASSERT_TRUE(WIFEXITED(run.status)) << "signal " << c.signal;
        EXPECT_EQ(WEXITSTATUS(run.status), 7);
        EXPECT_EQ(run.out, std::string(c.notice) + "ran");
    }
}

TEST(ProcessIPC, ASecondQuitSignalTakesTheSystemDefault)
{
    ChildRun run = RunInChild(
        [] {
            TestProcess process;
            if (!process.Init(0))
                return 1;
            SignalReady();
            process.Run();
            ::raise(SIGQUIT);
            return 0;
        },
        [](pid_t inPid, int inReady) {
            WaitReady(inReady);
            ::kill(inPid, SIGQUIT);
        });
    ASSERT_TRUE(WIFSIGNALED(run.status));
    EXPECT_EQ(WTERMSIG(run.status), SIGQUIT);
}

TEST(ProcessIPC, TheFileSystemNotifierDeliversToTheRunningMainTask)
{
    // Without the flag there is no notifier.
    ChildRun run = RunInChild([] {
        TestProcess plain;
        bool none = plain.Init(0) && plain.GetFileSystemNotifier() == nullptr && VFileSystemNotifier::Instance() == nullptr;
        return none ? 0 : 1;
    });
    EXPECT_EQ(run.status, 0);

    // The run hook executes the main task's messages; the handler's first
    // call ends the run.
    struct QuitOnChange : VFileSystemNotifier::IEventHandler {
        void FileSystemEventHandler(const std::vector<VFilePath>& inPaths, VFileSystemNotifier::EventKind inKind) override
        {
            if (fCalled)
                return;  // a later modification of the same file
            fCalled = true;
            for (const VFilePath& path : inPaths) {
                VString name;
                path.GetName(name);
                std::printf("%u %s\n", static_cast<unsigned>(inKind), to_string(name).c_str());
            }
            VProcess::sInstance->QuitAsynchronously(nullptr);
        }
        bool fCalled = false;
    };
    std::string watched = test::MakeTempFolder("ipc-watch");
    run = RunInChild([&watched] {
        TestProcess process;
        if (!process.Init(kInitFileSystemNotifier))
            return 1;
        VFileSystemNotifier* notifier = VFileSystemNotifier::Instance();
        if (notifier == nullptr || notifier != process.GetFileSystemNotifier())
            return 2;
        QuitOnChange handler;
        VFolder folder(VFilePath(VString((watched + "/").c_str()), FPS_POSIX));
        if (notifier->StartWatchingForChanges(folder, 7, &handler, 10) != VE_OK)
            return 3;
        std::thread writer([&watched] { test::WriteText(watched + "/new.txt", "x"); });
        process.Run();
        writer.join();
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "2 new.txt\n");
}

TEST(ProcessIPC, CaseSensitiveInstallFolderWarnsInTheBootLogAndStartsAnyway)
{
    // The test program's resources folder is its own folder, whose name
    // exists only in its exact case here.
    ChildRun run = RunInChild([] {
        TestProcess process;
        if (!process.Init(kInitLogger))
            return 1;
        process.GetLogger()->Flush();
        for (const VValueBag* record : process.GetBootLogListener()->RetainRecords()) {
            std::printf("%s\n", to_string(ILoggerBagKeys::message.Get(*record)).c_str());
            record->Release();
        }
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "The application is installed on a case-sensitive file system\n");
}


TEST(Process, TheLoggerForALevelIsGivenOnlyWhenThatLevelIsLogged)
{
    // Without the logger flag there is none for any level.
    VProcess plain;
    for (EMessageLevel level : {EML_Dump, EML_Info, EML_Fatal})
        EXPECT_EQ(plain.GetLogger(level), nullptr) << level;

    ChildRun run = RunInChild([] {
        VProcess process;
        if (!process.Init(kInitLogger))
            return 1;
        ILogger* logger = process.GetLogger();
        // The default levels: info and above.
        for (int level = EML_Dump; level <= EML_Fatal; ++level) {
            ILogger* given = process.GetLogger(static_cast<EMessageLevel>(level));
            std::printf("%d", given == nullptr ? 0 : given == logger ? 1 : 2);
        }
        logger->WithDebug(true);
        logger->WithError(false);
        std::printf(" %d%d\n", process.GetLogger(EML_Debug) == logger ? 1 : 0,
                    process.GetLogger(EML_Error) == nullptr ? 1 : 0);
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "00001111 11\n");
}

// A listener that keeps the messages of the records it is given.
class MessageListener : public VObject, public ILogListener {
public:
    void Put(const std::vector<const VValueBag*>& inRecords) override
    {
        std::lock_guard<std::mutex> guard(fLock);
        for (const VValueBag* record : inRecords)
            fMessages.push_back(to_string(ILoggerBagKeys::message.Get(*record)));
    }
    int Count(const std::string& inMessage)
    {
        std::lock_guard<std::mutex> guard(fLock);
        return static_cast<int>(std::count(fMessages.begin(), fMessages.end(), inMessage));
    }

private:
    std::mutex fLock;
    std::vector<std::string> fMessages;
};

int CountMessage(const std::vector<const VValueBag*>& inRecords, const std::string& inMessage)
{
    int count = 0;
    for (const VValueBag* record : inRecords) {
        if (to_string(ILoggerBagKeys::message.Get(*record)) == inMessage)
            ++count;
        record->Release();
    }
    return count;
}

TEST(Process, CleaningTheBootListenerHandsItsRecordsToTheListenersAddedSince)
{
    ChildRun run = RunInChild([] {
        VProcess process;
        if (!process.Init(kInitLogger))
            return 1;
        ILogger* logger = process.GetLogger();
        logger->LogMessage(EML_Info, VString("early"), VString("test"));
        logger->Flush();
        VRefPtr<MessageListener> late = AdoptRef(new MessageListener);
        logger->AddLogListener(late.Get());
        VRefPtr<VBootLogListener> boot(process.GetBootLogListener());
        process.CleanBootLogListener();
        logger->Flush();
        std::printf("%d %d", process.GetBootLogListener() == nullptr ? 1 : 0, late->Count("early"));
        // From now on the boot listener keeps nothing more.
        logger->LogMessage(EML_Info, VString("after"), VString("test"));
        logger->Flush();
        std::printf(" %d %d", late->Count("after"), CountMessage(boot->RetainRecords(), "after"));
        // Again: nothing is left to clean.
        process.CleanBootLogListener();
        logger->Flush();
        std::printf(" %d\n", late->Count("early"));
        logger->RemoveLogListener(late.Get());
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "1 1 1 0 1\n");
}

// ---------------------------------------------------------------------------
// The product's folders inside the standard folders

class ProductProcess : public VProcess {
public:
    explicit ProductProcess(const char* inFolderName) { fProductFolderName.FromCString(inFolderName); }
};

// The POSIX path of a folder ("" for none), without its final '/'.
std::string PosixOf(VFolder* inFolder)
{
    if (inFolder == nullptr)
        return "";
    VString path;
    inFolder->GetPlatformPath(path, FPS_POSIX);
    std::string text = to_string(path);
    if (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// Group and other write bits of a path, or -1 when it is missing.
int WriteBitsForOthers(const std::string& inPath)
{
    struct stat info;
    if (::stat(inPath.c_str(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 022);
}

TEST(Process, ProductFoldersAreMadeUnderTheUmaskWithTheirFallbacks)
{
    ChildRun run = RunInChild([] {
        test::ChildChecks check;
        VProcess started;
        if (!started.Init(0))
            return 3;
        ::umask(022);
        const std::string root = test::MakeTempFolder("product");
        test::WriteText(root + "/plain", "not a folder");
        const std::string data = root + "/new/share";
        const std::string cache = root + "/plain/cache";  // cannot be made: its parent is a file
        test::StEnvironmentVariable home("HOME", root.c_str());
        test::StEnvironmentVariable dataHome("XDG_DATA_HOME", data.c_str());
        test::StEnvironmentVariable cacheHome("XDG_CACHE_HOME", cache.c_str());
        test::StEnvironmentVariable configHome("XDG_CONFIG_HOME", (root + "/config").c_str());
        // The documents folder lies below a file, so its product folder
        // cannot be made either.
        std::filesystem::create_directories(root + "/config");
        test::WriteText(root + "/config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + root + "/plain/Documents\"\n");
        ProductProcess process("Prod");

        auto retain = [&](ESystemFolderKind inKind, bool inCreate) {
            VRefPtr<VFolder> folder = AdoptRef(process.RetainProductSystemFolder(inKind, inCreate));
            return PosixOf(folder.Get());
        };
        // Without the create flag nothing is made.
        check(retain(eFK_UserApplicationData, false).empty(), "a missing folder is not made without the flag");
        check(WriteBitsForOthers(data) == -1, "nothing was made");

        // The product folder and its new parents are not writable by all.
        check(retain(eFK_UserApplicationData, true) == data + "/Prod", "made in the user's data folder");
        for (const std::string& made : {root + "/new", data, data + "/Prod"})
            check(WriteBitsForOthers(made) == 0, ("umask applies to " + made).c_str());
        check(retain(eFK_UserApplicationData, false) == data + "/Prod", "found once made");

        // Documents fall back to the user's data folder; the user's cache
        // has no fallback and answers null with the error on the stack.
        check(retain(eFK_UserDocuments, true) == data + "/Prod", "documents fall back to the data folder");
        VTask::FlushErrors();
        check(retain(eFK_UserCache, true).empty(), "the cache folder cannot be made");
        VErrorTaskContext* errors = VTask::GetErrorContext(false);
        check(errors != nullptr && errors->GetLastError() != VE_OK, "the failure is reported");
        VTask::FlushErrors();

        // A link of the product's name leads to its folder.
        std::filesystem::create_directories(root + "/elsewhere");
        std::filesystem::create_directories(root + "/cache2");
        std::filesystem::create_directory_symlink(root + "/elsewhere", root + "/cache2/Prod");
        test::StEnvironmentVariable cacheHome2("XDG_CACHE_HOME", (root + "/cache2").c_str());
        check(retain(eFK_UserCache, false) == root + "/elsewhere", "a link stands for the folder");

        // Kinds without a product folder give the standard folder itself.
        check(retain(eFK_Library, false) == root + "/config", "the configuration folder itself");
        check(retain(static_cast<ESystemFolderKind>(3), true).empty(), "kind 3 has no folder");
        return check.Passed() ? 0 : 1;
    });
    EXPECT_EQ(run.status, 0) << run.out;
}

// ---------------------------------------------------------------------------
// The spin-lock settings file beside the executable

// Run by the next test in a copy of this program: prints the settings the
// start-up read.
TEST(Process, SpinLockSettingsProbe)
{
    if (std::getenv("QELT_SPINLOCK_PROBE") == nullptr)
        GTEST_SKIP() << "run by SpinLockSettingsAreFoundBesideTheExecutableInAnyCase";
    VProcess process;
    ASSERT_TRUE(process.Init(0));
    std::printf("probe: %d %d\n", SpinLock::GetMaxSpins(), SpinLock::GetYieldAfterCheckEvent());
}

TEST(Process, SpinLockSettingsAreFoundBesideTheExecutableInAnyCase)
{
    // A link to this program in a folder of its own (on the executable's
    // volume), so that the settings file is beside what runs.
    char self[4096];
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    ASSERT_GT(length, 0);
    std::string exe(self, static_cast<size_t>(length));
    std::string folder = exe.substr(0, exe.rfind('/')) + "/spinlock-probe-" + std::to_string(::getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    if (::link(exe.c_str(), (folder + "/probe").c_str()) != 0) {
        std::filesystem::remove_all(folder);
        GTEST_SKIP() << "no hard link beside the executable";
    }
    test::WriteText(folder + "/SpinLock.PRM", "{\"maxSpins\": 7, \"yieldAfterCheckEvent\": true}");
    std::string out = test::MakeTempFolder("probe") + "/out.txt";
    std::string command = "QELT_SPINLOCK_PROBE=1 '" + folder + "/probe' --gtest_filter=Process.SpinLockSettingsProbe > '" + out +
                          "' 2>&1";
    int status = std::system(command.c_str());
    std::filesystem::remove_all(folder);
    std::string text = ReadFile(out);
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("probe: 7 1\n"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------

class VersionedProcess : public VProcess {
public:
    explicit VersionedProcess(const char* inVersion) { fProductVersion.FromCString(inVersion); }
};

TEST(Process, VersionSplitsIntoItsParts)
{
    struct Case {
        const char* version;
        const char* build;
        const char* shortVersion;
        const char* mainVersion;
        int changeList;
    } cases[] = {
        {"1.2 build 3.4.56 ", "3.4.56", "1.2", "1", 56},
        {" 20.1 ", "", "20.1", "20", 0},
        {"7 Build 12", "12", "7", "7", 0},
        {"", "", "", "", 0},
    };
    for (const Case& c : cases) {
        VersionedProcess process(c.version);
        VString build, shortVersion, mainVersion;
        process.GetBuildNumber(build);
        process.GetShortProductVersion(shortVersion);
        process.GetMainProductVersion(mainVersion);
        EXPECT_EQ(Text(build), c.build) << c.version;
        EXPECT_EQ(Text(shortVersion), c.shortVersion) << c.version;
        EXPECT_EQ(Text(mainVersion), c.mainVersion) << c.version;
        EXPECT_EQ(process.GetChangeListNumber(), c.changeList) << c.version;
    }
}

TEST(Process, ActivityTokensKeepTheProcessBusy)
{
    VProcess process;
    VProcess::sInstance = &process;
    EXPECT_FALSE(process.HasSomeActivityTokens(0));
    {
        VRefPtr<VActivityToken> token = AdoptRef(new VActivityToken(VString("work")));
        EXPECT_TRUE(process.HasSomeActivityTokens(0));
        process.RegisterActivityToken(token.Get());  // no second entry
    }
    EXPECT_FALSE(process.HasSomeActivityTokens(0));
    EXPECT_TRUE(process.HasSomeActivityTokens(60000));
    VProcess::sInstance = nullptr;
}

TEST(Process, OnlyExistingSingleProcessesAreRunning)
{
    pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(VProcess::IsProcessRunning(VProcess::GetSystemID()));
    EXPECT_TRUE(VProcess::IsProcessRunning(1));
    EXPECT_FALSE(VProcess::IsProcessRunning(child));
    EXPECT_FALSE(VProcess::IsProcessRunning(0));
    EXPECT_FALSE(VProcess::IsProcessRunning(-1));
}

}  // namespace
}  // namespace qelt

namespace qelt {
namespace {

TEST(Process, ExecutablePathsNameTheRunningProgram)
{
    VProcess process;
    VFilePath file = process.GetExecutableFilePath();
    VFilePath folder = process.GetExecutableFolderPath();
    EXPECT_TRUE(file.IsFile());
    EXPECT_TRUE(folder.IsFolder());
    EXPECT_TRUE(file.IsChildOf(folder));
    VRefPtr<VFile> executable = AdoptRef(process.RetainExecutableFile());
    EXPECT_TRUE(executable->Exists());
}

}  // namespace
}  // namespace qelt
