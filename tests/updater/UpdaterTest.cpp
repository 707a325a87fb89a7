// The updater, end to end: the real Updater.app runs in a scratch home on
// generated sample bundles, and the tests read its exit status, its standard
// streams, its log, the bundles, the trash and what the relaunched
// application wrote.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string kUpdater = std::string(QELT_UPDATER_APP) + "/Contents/MacOS/Updater";

std::string ReadFile(const fs::path& inPath)
{
    std::ifstream in(inPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& inPath, const std::string& inText, fs::perms inPerms = fs::perms::owner_read |
                                                                                     fs::perms::owner_write |
                                                                                     fs::perms::group_read |
                                                                                     fs::perms::others_read)
{
    fs::create_directories(inPath.parent_path());
    std::ofstream(inPath, std::ios::binary) << inText;
    fs::permissions(inPath, inPerms);
}

// Every regular file of a tree with its content, and every link with its
// text, by relative path: two trees are the same bundle when these match.
std::map<std::string, std::string> Snapshot(const fs::path& inRoot)
{
    std::map<std::string, std::string> entries;
    if (!fs::exists(inRoot))
        return entries;
    for (auto it = fs::recursive_directory_iterator(inRoot); it != fs::recursive_directory_iterator(); ++it) {
        std::string relative = it->path().lexically_relative(inRoot).string();
        if (it->is_symlink())
            entries[relative] = "-> " + fs::read_symlink(it->path()).string();
        else if (it->is_regular_file())
            entries[relative] = ReadFile(it->path());
        else if (it->is_directory())
            entries[relative + "/"] = "";
    }
    return entries;
}

struct RunResult {
    int status = -1;   // exit status, or 128 + signal
    std::string out;
    std::string err;
};

class UpdaterRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        fRoot = fs::path(qelt::test::MakeTempFolder("updater"));
        fHome = fRoot / "home";
        fs::create_directories(fHome / ".local/share");
        fApps = fRoot / "Apps";
        fOutput = fRoot / "relaunched.txt";
        fLogs = fRoot / "logs";
    }

    // A sample bundle: Info.plist naming its executable, a script that
    // records its version and arguments, resources and a relative link.
    fs::path MakeSample(const fs::path& inBundle, const std::string& inVersion)
    {
        fs::create_directories(inBundle / "Contents/MacOS");
        WriteFile(inBundle / "Contents/Info.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                  "<key>CFBundleExecutable</key><string>Sample</string>"
                  "<key>CFBundleShortVersionString</key><string>" +
                      inVersion + "</string></dict></plist>\n");
        WriteFile(inBundle / "Contents/MacOS/Sample",
                  "#!/bin/sh\nprintf '%s\\n' \"" + inVersion + "\" \"$@\" > \"$SAMPLE_OUTPUT\"\n",
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec);
        WriteFile(inBundle / "Contents/Resources/version.txt", inVersion + "\n");
        fs::create_directories(inBundle / "Contents/Versions/" / inVersion);
        fs::create_symlink(inVersion, inBundle / "Contents/Versions/Current");
        return inBundle;
    }

    // Runs the updater with the arguments; inEnv adds to (or replaces in)
    // its environment, inWorkingFolder is where it starts (the test's own
    // when empty).
    RunResult Run(const std::vector<std::string>& inArguments, const std::map<std::string, std::string>& inEnv = {},
                  const fs::path& inWorkingFolder = {})
    {
        return RunProgram(kUpdater, inArguments, inEnv, inWorkingFolder);
    }

    // The same for any program, in the updater's scratch environment.
    RunResult RunProgram(const std::string& inProgram, const std::vector<std::string>& inArguments,
                         const std::map<std::string, std::string>& inEnv = {}, const fs::path& inWorkingFolder = {})
    {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry(*e);
            const std::string name = entry.substr(0, entry.find('='));
            if (name == "HOME" || name == "XDG_DATA_HOME" || name == "QELT_TEST_FAULTS" || name == "DISPLAY" ||
                name == "WAYLAND_DISPLAY" || inEnv.count(name) != 0)
                continue;
            env.push_back(entry);
        }
        env.push_back("HOME=" + fHome.string());
        env.push_back("XDG_DATA_HOME=" + (fHome / ".local/share").string());
        env.push_back("SAMPLE_OUTPUT=" + fOutput.string());
        env.push_back("QELT_NOTIFICATION_LOG=" + (fRoot / "notifications.txt").string());
        for (const auto& [name, value] : inEnv)
            env.push_back(name + "=" + value);

        std::vector<char*> envp;
        for (std::string& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<std::string> args{inProgram};
        args.insert(args.end(), inArguments.begin(), inArguments.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);

        std::string outPath = (fRoot / "stdout.txt").string();
        std::string errPath = (fRoot / "stderr.txt").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!inWorkingFolder.empty())
            posix_spawn_file_actions_addchdir_np(&actions, inWorkingFolder.c_str());
        pid_t pid = 0;
        RunResult result;
        int error = posix_spawn(&pid, inProgram.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            ADD_FAILURE() << "cannot start the updater: " << error;
            return result;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadFile(outPath);
        result.err = ReadFile(errPath);
        return result;
    }

    // The text of the run's log (every part of every log file).
    std::string LogText() const
    {
        std::string text;
        if (!fs::exists(fLogs))
            return text;
        for (const auto& entry : fs::directory_iterator(fLogs))
            text += ReadFile(entry.path());
        return text;
    }

    // What the relaunched application wrote (it runs detached: wait a bit).
    std::string RelaunchedOutput() const
    {
        for (int i = 0; i < 100 && !fs::exists(fOutput); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return ReadFile(fOutput);
    }

    fs::path Trash() const { return fHome / ".local/share/Trash"; }

    fs::path fRoot, fHome, fApps, fOutput, fLogs;
};

TEST_F(UpdaterRun, PrintsItsVersionAndExitsZeroWithoutBundles)
{
    RunResult run = Run({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "1.0.0\n");
}

TEST_F(UpdaterRun, CommandLineRefusalsExitOneWithTheirMessage)
{
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{}, "mismatched value for option --uptodate-app\n\nmismatched value for option --outdated-app\n\n"},
        {{"/a/"}, "not enough arguments from the command line (required <dest> <src>)\n\n"},
        {{"/a/", "/b/", "/c/"}, "two many arguments from the command line\n"},
        {{"--outdated-app=/x/", "/a/", "/b/"}, "mismatched value for option --outdated-app\n\n"},
        {{"--outdated-app=/x/", "--uptodate-app=/y/", "/a/", "/b/"},
         "mismatched value for option --outdated-app\n\nmismatched value for option --uptodate-app\n\n"},
        {{"--foo"}, "error: unknown option `foo`\n"},
    };
    for (const Case& c : cases) {
        RunResult run = Run(c.args);
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        EXPECT_EQ(run.status, 1) << joined;
        EXPECT_EQ(run.err, c.err) << joined;
    }
}

TEST_F(UpdaterRun, ReplacesTheBundleRelaunchesItAndTrashesTheOldOne)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    auto expected = Snapshot(upToDate);
    auto old = Snapshot(outdated);
    fs::path params = fRoot / "params.link";
    WriteFile(params, "link");

    RunResult run = Run({"--pid=-1", "--log-dir=" + fLogs.string(), "--restart-params=" + params.string(),
                         "--restart-headless", outdated.string(), upToDate.string()});
    ASSERT_EQ(run.status, 0) << run.err << LogText();
    EXPECT_EQ(run.out, "");

    EXPECT_EQ(Snapshot(outdated), expected);
    EXPECT_EQ(Snapshot(upToDate), expected) << "the up-to-date bundle stays where it was";
    EXPECT_EQ(RelaunchedOutput(), "2.0\n" + params.string() + "\n--headless\n");

    // The old bundle went to the trash whole, with its record.
    EXPECT_EQ(Snapshot(Trash() / "files/Sample_old0001.app"), old);
    std::string record = ReadFile(Trash() / "info/Sample_old0001.app.trashinfo");
    EXPECT_NE(record.find("[Trash Info]\nPath="), std::string::npos) << record;
    EXPECT_FALSE(fs::exists(fApps / "Sample_old0001.app"));
    EXPECT_FALSE(fs::exists(fApps / "Sample_new0001.app"));

    // The log: one file named by the start time, from the first line to the last.
    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator(fLogs))
        logs.push_back(entry.path().filename());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].string().size(), std::string("2026-12-08_10-00-00_log_1.txt").size()) << logs[0];
    EXPECT_NE(logs[0].string().find("_log_1.txt"), std::string::npos);
    std::string log = LogText();
    const std::vector<std::string> lines = {"Updater starting - ", "Skipping process wait (negative pid)",
                           "Proceeding with up-to-date application install...",
                           "Proceeding with up-to-date application restart...",
                           "Restarting installed application (open -a \"" + outdated.string() + "/\" --args \"",
                           "Up-to-date application restarted", "Update successful - "};
    size_t at = 0;
    for (const std::string& line : lines) {
        size_t found = log.find(line, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        if (found != std::string::npos)
            at = found;
    }
}

// The localisation files load after the first log line, inside the run: a
// file that cannot be read leaves the built-in texts, as at start-up, and is
// no error of the update.
TEST_F(UpdaterRun, ALocalisationFileThatCannotBeReadIsNoErrorOfTheUpdate)
{
    const fs::path updater = fRoot / "Updater.app";
    fs::copy(QELT_UPDATER_APP, updater, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const fs::path xliff = updater / "Contents/Resources/en.lproj/Updater.xlf";
    ASSERT_TRUE(fs::exists(xliff));
    WriteFile(xliff, "<?xml version=\"1.0\"?>\n<xliff><file><body><trans-unit");
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");

    RunResult run = RunProgram((updater / "Contents/MacOS/Updater").string(),
                               {"--pid=-1", "--log-dir=" + fLogs.string(), outdated.string(), upToDate.string()});
    EXPECT_EQ(run.status, 0) << run.err << LogText();
    EXPECT_EQ(RelaunchedOutput(), "2.0\n");
    const std::string log = LogText();
    const size_t first = log.find("Updater starting - ");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("Update successful - ", first), std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
}

TEST_F(UpdaterRun, TellsTheCallerOnceAndWaitsForItToQuit)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    pid_t caller = fork();
    if (caller == 0) {
        usleep(700 * 1000);
        _exit(0);
    }
    RunResult run = Run({"--pid=" + std::to_string(caller), "--caller-log=x", "--log-dir=" + fLogs.string(),
                         outdated.string(), upToDate.string()},
                        {{"QELT_TEST_PID_QUIT_PAUSE_MS", "10"}});
    int status = 0;
    waitpid(caller, &status, 0);
    EXPECT_EQ(run.status, 0) << LogText();
    EXPECT_EQ(run.out, "waitquit,-1\n");
    std::string log = LogText();
    EXPECT_NE(log.find("Waiting for process " + std::to_string(caller) + " to quit"), std::string::npos) << log;
    EXPECT_NE(log.find("has quit. Proceeding."), std::string::npos) << log;
    EXPECT_EQ(Snapshot(outdated), Snapshot(upToDate));
}

TEST_F(UpdaterRun, ACallerThatNeverQuitsLeavesEverythingAsItWas)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    auto old = Snapshot(outdated);
    RunResult run = Run({"--pid=" + std::to_string(getpid()), "--silent", "--log-dir=" + fLogs.string(),
                         outdated.string(), upToDate.string()},
                        {{"QELT_TEST_PID_WAIT_MS", "1200"}});
    EXPECT_EQ(run.status, 2);
    std::string log = LogText();
    EXPECT_NE(log.find("still exists after maximum wait time. Giving up."), std::string::npos) << log;
    EXPECT_NE(log.find("External process wait failed"), std::string::npos) << log;
    EXPECT_NE(log.find("Update failed - "), std::string::npos) << log;
    EXPECT_EQ(Snapshot(outdated), old);
    EXPECT_FALSE(fs::exists(fRoot / "notifications.txt")) << "silent: no notification";
}

TEST_F(UpdaterRun, WritesTheServerLinkFileAndMakesTheExecutableRunnable)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    fs::permissions(upToDate / "Contents/MacOS/Sample",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    fs::path info = fRoot / "client.json";
    WriteFile(info, R"({"ServerPlatform":"linux","BuildIPAdress":"ADDR","BuildIPPort":"PORT",)"
                    R"("PublishName":"PN","BuildCacheFolderNameClient":"CF"})");
    RunResult run = Run({"--pid=-1", "--client-info=" + info.string(), "--log-dir=" + fLogs.string(),
                         outdated.string(), upToDate.string()});
    ASSERT_EQ(run.status, 0) << LogText();
    EXPECT_EQ(ReadFile(outdated / "Contents/Database/ZovavorAvozuz.Vqlink"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><database_shortcut is_remote=\"true\" "
              "server_database_name=\"PN\" server_path=\"ADDR:PORT\" cache_folder_name=\"CF\" "
              "remote_shared_resources=\"false\"/>");
    EXPECT_EQ(fs::status(outdated / "Contents/MacOS/Sample").permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                  fs::perms::others_exec);
}

TEST_F(UpdaterRun, RefusesBadClientInfoAndBundlesInsideEachOtherTouchingNothing)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path inside = MakeSample(outdated / "Contents/Sample.app", "2.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    auto old = Snapshot(outdated);
    fs::path info = fRoot / "client.json";
    for (const char* text : {"[1,2]", "{\"ServerPlatform\":3}", "{\"ServerPlatform\":", ""}) {
        WriteFile(info, text);
        RunResult run = Run({"--pid=-1", "--silent", "--client-info=" + info.string(), "--log-dir=" + fLogs.string(),
                             outdated.string(), upToDate.string()});
        EXPECT_EQ(run.status, 2) << text;
        EXPECT_EQ(Snapshot(outdated), old) << text;
    }
    RunResult run = Run({"--pid=-1", "--silent", "--log-dir=" + fLogs.string(), outdated.string(), inside.string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Snapshot(outdated), old);
    RunResult missing = Run({"--pid=-1", "--log-dir=" + fLogs.string(), (fApps / "None.app").string(),
                             upToDate.string()});
    EXPECT_EQ(missing.status, 2);
    // Not silent: the failure is shown with the hint to the log file.
    std::string shown = ReadFile(fRoot / "notifications.txt");
    EXPECT_NE(shown.find("More information is available in the log file '" + fLogs.string()), std::string::npos)
        << shown;
}

TEST_F(UpdaterRun, ASwapThatFailsOnceSucceedsAndOneThatAlwaysFailsKeepsTheOldBundle)
{
    for (const char* fault : {"exchange:1:EBUSY", "exchange:1:EACCES"}) {
        fs::remove_all(fApps);
        fs::remove_all(fRoot / "Download");
        fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
        fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
        RunResult run = Run({"--pid=-1", "--log-dir=" + fLogs.string(), outdated.string(), upToDate.string()},
                            {{"QELT_TEST_FAULTS", fault}, {"QELT_TEST_RETRY_PAUSE_MS", "10"}});
        EXPECT_EQ(run.status, 0) << fault << LogText();
        EXPECT_EQ(Snapshot(outdated), Snapshot(upToDate)) << fault;
    }
    for (const char* fault : {"exchange:1+:EBUSY", "exchange:1+:EACCES"}) {
        fs::remove_all(fApps);
        fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
        fs::path upToDate = fRoot / "Download/Sample.app";
        auto old = Snapshot(outdated);
        RunResult run = Run({"--pid=-1", "--silent", "--log-dir=" + fLogs.string(), outdated.string(),
                             upToDate.string()},
                            {{"QELT_TEST_FAULTS", fault}, {"QELT_TEST_RETRY_PAUSE_MS", "10"}});
        EXPECT_EQ(run.status, 2) << fault;
        EXPECT_EQ(Snapshot(outdated), old) << fault;
        EXPECT_EQ(std::distance(fs::directory_iterator(fApps), fs::directory_iterator()), 1) << "no staging left";
        EXPECT_NE(LogText().find("Up-to-date application install failed"), std::string::npos);
    }
}

// The log holds each error once, newest first, before the outcome line; the
// errors still give the exit status.
TEST_F(UpdaterRun, EachErrorIsLoggedOnceBeforeTheOutcome)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    RunResult run = Run({"--pid=-1", "--silent", "--log-dir=" + fLogs.string(), outdated.string(), upToDate.string()},
                        {{"QELT_TEST_FAULTS", "exchange:1+:EBUSY"}, {"QELT_TEST_RETRY_PAUSE_MS", "10"}});
    EXPECT_EQ(run.status, 2);
    const std::string log = LogText();
    auto count = [&](const std::string& inText) {
        int n = 0;
        for (size_t at = log.find(inText); at != std::string::npos; at = log.find(inText, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("could not be installed"), 1) << log;
    // Four retries, each with its rename error, and the fifth attempt's.
    EXPECT_EQ(count("retrying"), 4) << log;
    EXPECT_EQ(count("The item is in use."), 5) << log;
    const size_t outcome = log.find("Update failed - ");
    ASSERT_NE(outcome, std::string::npos) << log;
    EXPECT_EQ(log.find('\n', outcome), log.size() - 1) << "nothing after the outcome:\n" << log;
}

TEST_F(UpdaterRun, AFullDiskDuringTheCopyKeepsTheOldBundle)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    auto old = Snapshot(outdated);
    for (const char* fault : {"copy:1+:ENOSPC,write:1+:ENOSPC", "copy:3:ENOSPC"}) {
        RunResult run = Run({"--pid=-1", "--silent", "--log-dir=" + fLogs.string(), outdated.string(),
                             upToDate.string()},
                            {{"QELT_TEST_FAULTS", fault}});
        EXPECT_EQ(run.status, 2) << fault;
        EXPECT_EQ(Snapshot(outdated), old) << fault;
        EXPECT_EQ(std::distance(fs::directory_iterator(fApps), fs::directory_iterator()), 1) << fault;
    }
}

// Killed at any changing step, the updater never leaves the application's
// place without a complete bundle: the old one or the new one.
TEST_F(UpdaterRun, AKillAtAnyChangeLeavesACompleteBundleInPlace)
{
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    auto expectedNew = Snapshot(upToDate);
    std::map<std::string, std::string> expectedOld;
    bool completed = false;
    for (int change = 1; change <= 80 && !completed; ++change) {
        fs::remove_all(fApps);
        fs::remove_all(fHome / ".local/share/Trash");
        fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
        if (expectedOld.empty())
            expectedOld = Snapshot(outdated);
        RunResult run = Run({"--pid=-1", "--silent", outdated.string(), upToDate.string()},
                            {{"QELT_TEST_FAULTS", "change:" + std::to_string(change) + ":kill"}});
        auto now = Snapshot(outdated);
        EXPECT_TRUE(now == expectedOld || now == expectedNew) << "killed at change " << change;
        if (run.status == 0)
            completed = true;
        else
            EXPECT_EQ(run.status, 128 + SIGKILL) << "change " << change << run.err;
    }
    EXPECT_TRUE(completed) << "the run never got past its changes";
}

// Where the file system cannot exchange two names, the swap is two renames:
// the old bundle aside, then the new one into its place; when the second
// fails, the old one is renamed back. Every step of that path is faulted in
// turn, as the exchange path is above.
TEST_F(UpdaterRun, WithoutExchangeTheOldBundleGoesBackWhenTheNewOneCannotGoIn)
{
    const std::string noExchange = "exchange:1+:EINVAL";
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    const auto expectedNew = Snapshot(upToDate);
    const fs::path place = fApps / "Sample.app";
    std::map<std::string, std::string> expectedOld;
    auto runWith = [&](const std::string& inFaults) {
        fs::remove_all(fApps);
        fs::remove_all(Trash());
        fs::remove_all(fLogs);
        MakeSample(place, "1.0");
        if (expectedOld.empty())
            expectedOld = Snapshot(place);
        return Run({"--pid=-1", "--silent", "--log-dir=" + fLogs.string(), place.string(), upToDate.string()},
                   {{"QELT_TEST_FAULTS", inFaults}, {"QELT_TEST_RETRY_PAUSE_MS", "10"}});
    };
    auto entriesInApps = [&] { return std::distance(fs::directory_iterator(fApps), fs::directory_iterator()); };

    // Killed before each rename: a complete bundle at the place, or, only
    // between the two renames, the place empty and the old bundle whole
    // beside it under its set-aside name.
    int inRename = 0;
    bool completed = false;
    // Up to the rename after the one that puts the new bundle in.
    for (int rename = 1; rename <= 30 && !completed && (inRename == 0 || rename <= inRename + 1); ++rename) {
        const std::string faults = noExchange + ",rename:" + std::to_string(rename) + ":kill";
        RunResult run = runWith(faults);
        if (run.status == 0) {
            completed = true;
            continue;
        }
        EXPECT_EQ(run.status, 128 + SIGKILL) << faults << run.err;
        const auto now = Snapshot(place);
        if (now == expectedOld || now == expectedNew)
            continue;
        EXPECT_TRUE(now.empty()) << faults;
        EXPECT_EQ(inRename, 0) << "only one step leaves the place empty: " << faults;
        inRename = rename;
        EXPECT_TRUE(fs::exists(fApps / "Sample_old0001.app")) << faults;
        EXPECT_EQ(Snapshot(fApps / "Sample_old0001.app"), expectedOld) << faults;
    }
    ASSERT_NE(inRename, 0) << "the fallback was never taken";
    // Without a fault the two renames complete the update.
    EXPECT_EQ(runWith(noExchange).status, 0) << LogText();
    EXPECT_EQ(Snapshot(place), expectedNew);
    EXPECT_EQ(entriesInApps(), 1);

    // Each of the two renames failing once: the retry completes the update.
    for (int rename = inRename - 1; rename <= inRename; ++rename) {
        const std::string faults = noExchange + ",rename:" + std::to_string(rename) + ":EIO";
        RunResult run = runWith(faults);
        const auto now = Snapshot(place);
        if (rename == inRename) {
            // The old bundle went back, so the next attempt could succeed.
            EXPECT_EQ(run.status, 0) << faults << LogText();
        }
        if (run.status == 0) {
            EXPECT_EQ(now, expectedNew) << faults;
        } else {
            EXPECT_EQ(now, expectedOld) << faults;
        }
        EXPECT_EQ(entriesInApps(), 1) << faults;
    }

    // The new bundle never goes in: after every attempt the old one is put
    // back, the staging copy is removed and the run fails.
    std::string faults = noExchange;
    for (int attempt = 0; attempt < 5; ++attempt)
        faults += ",rename:" + std::to_string(inRename + 3 * attempt) + ":EIO";
    RunResult run = runWith(faults);
    EXPECT_EQ(run.status, 2) << LogText();
    EXPECT_EQ(Snapshot(place), expectedOld);
    EXPECT_EQ(entriesInApps(), 1) << "no staging or set-aside copy left";
    EXPECT_FALSE(fs::exists(Trash() / "files/Sample.app"));
    EXPECT_NE(LogText().find("Up-to-date application install failed"), std::string::npos);
}

TEST_F(UpdaterRun, NamesWithQuotesAndBackslashesUpdateAndRelaunch)
{
    fs::path folder = fRoot / "My \"Apps\" \\ here";
    fs::path outdated = MakeSample(folder / "Sa\"m\\ple.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sa\"m\\ple.app", "2.0");
    RunResult run = Run({"--pid=-1", "--log-dir=" + fLogs.string(), outdated.string(), upToDate.string()});
    ASSERT_EQ(run.status, 0) << LogText();
    EXPECT_EQ(RelaunchedOutput(), "2.0\n");
    EXPECT_TRUE(fs::exists(Trash() / "files/Sa\"m\\ple_old0001.app"));
}

// Relative paths of the command line start at the working folder, whatever
// option gives them.
TEST_F(UpdaterRun, RelativePathsStartAtTheWorkingFolder)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    WriteFile(fRoot / "rp.link", "link");
    WriteFile(fRoot / "client.json", R"({"ServerPlatform":"linux","BuildIPAdress":"ADDR"})");
    RunResult run = Run({"--pid=-1", "--log-dir=logs", "--restart-params=rp.link", "--client-info=./client.json",
                         "--outdated-app=Apps/Sample.app", "--uptodate-app=Download/../Download/Sample.app"},
                        {}, fRoot);
    ASSERT_EQ(run.status, 0) << run.err << LogText();
    EXPECT_NE(LogText().find("Update successful - "), std::string::npos) << "the log is under the working folder";
    EXPECT_EQ(RelaunchedOutput(), "2.0\n" + (fRoot / "rp.link").string() + "\n");
    EXPECT_TRUE(fs::exists(outdated / "Contents/Database/ZovavorAvozuz.Vqlink"));
    EXPECT_EQ(Snapshot(outdated), Snapshot(upToDate));
}

// A client file that cannot be read whole stops the update before anything
// is touched, even when what was read makes an object with a platform.
TEST_F(UpdaterRun, AClientFileThatFailsToLoadTouchesNothing)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    fs::permissions(upToDate / "Contents/MacOS/Sample", fs::perms::owner_read | fs::perms::owner_write);
    // Every entry of both bundles with its mode and modification time.
    auto stamps = [](const fs::path& inRoot) {
        std::map<std::string, std::string> entries = Snapshot(inRoot);
        for (auto& [relative, text] : entries) {
            struct stat info;
            lstat((inRoot / relative).c_str(), &info);
            text += " mode " + std::to_string(info.st_mode) + " time " + std::to_string(info.st_mtim.tv_sec) + "." +
                    std::to_string(info.st_mtim.tv_nsec);
        }
        return entries;
    };
    const auto outdatedBefore = stamps(outdated), upToDateBefore = stamps(upToDate);
    fs::path info = fRoot / "client.json";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"ServerPlatform": "linux", "BuildIPAdress": "1.2.3.4",)", "line 1, position 56"},
        {R"({"ServerPlatform": "linux", "BuildIPAdress": "1.2.3.4)", "line 1, position 54"},
        {"", "line 1, position 1"},
    };
    for (const auto& [text, where] : cases) {
        fs::remove_all(fLogs);
        WriteFile(info, text);
        RunResult run = Run({"--pid=-1", "--silent", "--client-info=" + info.string(), "--log-dir=" + fLogs.string(),
                             outdated.string(), upToDate.string()});
        EXPECT_EQ(run.status, 2) << text;
        EXPECT_EQ(stamps(upToDate), upToDateBefore) << text;
        EXPECT_EQ(stamps(outdated), outdatedBefore) << text;
        const std::string log = LogText();
        const size_t invalid = log.find("The JSON text is not valid at " + info.string() + ", " + where + ".");
        const size_t refused = log.find("The client customization file cannot be used");
        EXPECT_NE(invalid, std::string::npos) << text << "\n" << log;
        // Logged newest first: the refusal, then the importer's errors it follows.
        EXPECT_LT(refused, invalid) << text << "\n" << log;
    }
}

// A staging folder left by a run killed during the copy or before the
// exchange goes with the next run; a folder the user named like one stays.
TEST_F(UpdaterRun, AStagingFolderLeftByAKillGoesWithTheNextRunAndAUserFolderStays)
{
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    for (const char* kill : {"copy:2:kill", "exchange:1:kill"}) {
        fs::remove_all(fApps);
        fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
        RunResult killed = Run({"--pid=-1", "--silent", outdated.string(), upToDate.string()},
                               {{"QELT_TEST_FAULTS", kill}});
        ASSERT_EQ(killed.status, 128 + SIGKILL) << kill;
        ASSERT_TRUE(fs::exists(fApps / "Sample_new0001.app")) << kill;
        WriteFile(fApps / "Sample_new0002.app/notes.txt", "mine");
        fs::create_directories(fApps / "Sample_new0003.app");
        WriteFile(fApps / "Sample_new0003.app/.qelt-updater-staging", "");
        fs::create_symlink(fApps / "Sample_new0003.app", fApps / "Sample_new0004.app");

        RunResult run = Run({"--pid=-1", "--log-dir=" + fLogs.string(), outdated.string(), upToDate.string()});
        ASSERT_EQ(run.status, 0) << kill << LogText();
        EXPECT_FALSE(fs::exists(fApps / "Sample_new0001.app")) << kill;
        EXPECT_EQ(ReadFile(fApps / "Sample_new0002.app/notes.txt"), "mine") << kill;
        EXPECT_TRUE(fs::is_symlink(fApps / "Sample_new0004.app")) << "a link is never followed: " << kill;
        EXPECT_EQ(Snapshot(outdated), Snapshot(upToDate)) << kill;
        EXPECT_NE(LogText().find("Removing the staging folder " + (fApps / "Sample_new0001.app").string()),
                  std::string::npos)
            << LogText();
    }
}

// A failure of any step is told in words, with the paths the user wrote:
// no bare code and no path in the toolbox's own ':' form, in the log, in the
// notice or on standard error.
TEST_F(UpdaterRun, EveryFailureIsToldInWordsWithPosixPaths)
{
    struct Case {
        std::string name;
        std::function<std::vector<std::string>()> prepare;  // the arguments after --pid and --log-dir
        std::map<std::string, std::string> env;
        std::string expected;  // a text the log or the notice must hold
        std::string pid = "-1";
    };
    const fs::path info = fRoot / "client.json";
    auto bundles = [this] {
        fs::remove_all(fApps);
        fs::remove_all(fRoot / "Download");
        return std::vector<std::string>{MakeSample(fApps / "Sample.app", "1.0").string(),
                                        MakeSample(fRoot / "Download/Sample.app", "2.0").string()};
    };
    auto withClient = [&](const std::string& inText) {
        return [&, inText] {
            std::vector<std::string> args = bundles();
            WriteFile(info, inText);
            args.insert(args.begin(), "--client-info=" + info.string());
            return args;
        };
    };
    const std::vector<Case> cases = {
        {"log folder is a file",
         [&] {
             WriteFile(fRoot / "afile", "x");
             std::vector<std::string> args = bundles();
             args.insert(args.begin(), "--log-dir=" + (fRoot / "afile/logs").string());
             return args;
         },
         {}, "The folder " + (fRoot / "afile").string() + " could not be created."},
        {"missing bundle",
         [&] { return std::vector<std::string>{(fApps / "None.app").string(), bundles()[1]}; }, {},
         "The application to update is missing: " + (fApps / "None.app").string()},
        {"cut-short client file", withClient(R"({"ServerPlatform": "linux",)"), {}, "line 1, position 28"},
        {"client file is an array", withClient("[1]"), {}, "The client customization file cannot be used"},
        {"missing client file",
         [&] {
             std::vector<std::string> args = bundles();
             args.insert(args.begin(), "--client-info=" + (fRoot / "none.json").string());
             return args;
         },
         {}, "The file " + (fRoot / "none.json").string() + " was not found."},
        {"link file cannot be written",
         [&] {
             std::vector<std::string> args = bundles();
             WriteFile(fRoot / "Download/Sample.app/Contents/Database", "not a folder");
             WriteFile(info, R"({"ServerPlatform":"linux","BuildIPAdress":"ADDR"})");
             args.insert(args.begin(), "--client-info=" + info.string());
             return args;
         },
         {}, (fRoot / "Download/Sample.app/Contents/Database").string()},
        {"bundle inside the other",
         [&] {
             std::vector<std::string> args = bundles();
             return std::vector<std::string>{args[0], MakeSample(fApps / "Sample.app/Contents/In.app", "2.0").string()};
         },
         {}, "lies inside it: " + (fApps / "Sample.app").string()},
        {"full disk", bundles, {{"QELT_TEST_FAULTS", "copy:1+:ENOSPC,write:1+:ENOSPC"}},
         "could not be copied into place at " + (fApps / "Sample.app").string()},
        {"exchange always refused", bundles, {{"QELT_TEST_FAULTS", "exchange:1+:EBUSY"}}, "The item is in use."},
        {"relaunch fails",
         [&] {
             std::vector<std::string> args = bundles();
             fs::remove(fRoot / "Download/Sample.app/Contents/MacOS/Sample");
             return args;
         },
         {}, "open: "},
        {"trash and deletion refused", bundles, {{"QELT_TEST_FAULTS", "trash:1+:EACCES,rmdir:1+:EBUSY"}},
         "The folder " + (fApps / "Sample_old0001.app").string() + " could not be deleted."},
        {"caller never quits", bundles, {{"QELT_TEST_PID_WAIT_MS", "600"}},
         "The updater could not wait for the application to quit.", std::to_string(getpid())},
    };
    for (const Case& c : cases) {
        fs::remove_all(fLogs);
        fs::remove(fRoot / "notifications.txt");
        std::vector<std::string> args = c.prepare();
        const bool ownLogDir = !args.empty() && args[0].rfind("--log-dir=", 0) == 0;
        args.insert(args.begin(), "--pid=" + c.pid);
        if (!ownLogDir)
            args.insert(args.begin() + 1, "--log-dir=" + fLogs.string());
        std::map<std::string, std::string> env = c.env;
        env["QELT_TEST_RETRY_PAUSE_MS"] = "10";
        RunResult run = Run(args, env);
        EXPECT_EQ(run.status, 2) << c.name << "\n" << LogText();
        const std::string told = LogText() + ReadFile(fRoot / "notifications.txt") + run.err;
        EXPECT_NE(told.find(c.expected), std::string::npos) << c.name << "\n" << told;
        EXPECT_EQ(told.find("Error code:"), std::string::npos) << c.name << "\n" << told;
        EXPECT_EQ(told.find("Disk:"), std::string::npos) << c.name << "\n" << told;
    }
}

// On a single processor the updater makes its first line's date formats
// and starts the XML library on its main task instead of helper threads:
// the log and the notice, localised after the first line, are the same as
// on several processors (digits aside: times and dates differ).
TEST_F(UpdaterRun, OnOneProcessorTheLogAndTheNoticeAreTheSameAsOnSeveral)
{
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    const cpu_set_t one = qelt::test::FirstUsableProcessorOnly();
    auto told = [this](const cpu_set_t& inProcessors) {
        fs::remove_all(fLogs);
        fs::remove_all(fApps);
        fs::remove_all(fRoot / "Download");
        fs::remove(fRoot / "notifications.txt");
        const std::string upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0").string();
        // The run's processors are the ones of the thread that starts it.
        EXPECT_EQ(::sched_setaffinity(0, sizeof inProcessors, &inProcessors), 0);
        RunResult run = Run({"--pid=-1", "--log-dir=" + fLogs.string(), (fApps / "None.app").string(), upToDate});
        EXPECT_EQ(run.status, 2) << LogText();
        // The start-up's warning for the boot log reaches the run's log too
        // when the logger's task has not delivered it before the log file
        // opens, as the scheduling has it: it is left out of the comparison.
        std::string text;
        std::istringstream log(LogText());
        for (std::string line; std::getline(log, line);) {
            if (line.find("] WARN - The application is installed on a case-sensitive file system") == std::string::npos)
                text += line + "\n";
        }
        text += "---\n" + ReadFile(fRoot / "notifications.txt");
        for (char& c : text) {
            if (c >= '0' && c <= '9')
                c = '#';
        }
        return text;
    };
    const std::string onOne = told(one);
    const std::string onAll = told(all);
    ASSERT_EQ(::sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_NE(onOne.find("Updater starting - "), std::string::npos) << onOne;
    EXPECT_NE(onOne.find("The application to update is missing: "), std::string::npos) << onOne;
    EXPECT_EQ(onOne, onAll);
}

// Once the swap is done, the log says where the previous application is,
// and a failed relaunch keeps what the open tool said.
TEST_F(UpdaterRun, TheLogSaysWhereThePreviousApplicationIsAndWhyARelaunchFailed)
{
    fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    fs::remove(upToDate / "Contents/MacOS/Sample");
    RunResult failed =
        Run({"--pid=-1", "--silent", "--log-dir=" + fLogs.string(), outdated.string(), upToDate.string()});
    EXPECT_EQ(failed.status, 2);
    std::string log = LogText();
    EXPECT_NE(log.find("open: "), std::string::npos) << log;
    EXPECT_NE(log.find("The previous application stays at " + (fApps / "Sample_old0001.app").string()),
              std::string::npos)
        << log;
    EXPECT_TRUE(fs::exists(fApps / "Sample_old0001.app"));

    fs::remove_all(fLogs);
    fs::remove_all(fApps);
    fs::remove_all(fRoot / "Download");
    outdated = MakeSample(fApps / "Sample.app", "1.0");
    upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    RunResult run = Run({"--pid=-1", "--log-dir=" + fLogs.string(), outdated.string(), upToDate.string()});
    ASSERT_EQ(run.status, 0) << LogText();
    log = LogText();
    EXPECT_NE(log.find("The previous application is at " + (fApps / "Sample_old0001.app").string()), std::string::npos)
        << log;
    const fs::path trashed = Trash() / "files/Sample_old0001.app";
    EXPECT_NE(log.find("The previous application is in the trash at " + trashed.string()), std::string::npos)
        << log;
}

// A rollback that fails is not a success: the log says where the previous
// application is, and the run ends with status 2.
TEST_F(UpdaterRun, AFailedRollbackIsReportedWithThePreviousApplicationsPlace)
{
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    bool met = false;
    // Where the file system cannot exchange, the renames are counted until
    // the one that puts the new bundle in place fails, and the rollback too.
    for (int rename = 2; rename <= 40 && !met; ++rename) {
        fs::remove_all(fApps);
        fs::remove_all(fLogs);
        fs::path outdated = MakeSample(fApps / "Sample.app", "1.0");
        const std::string faults = "exchange:1+:EINVAL,rename:" + std::to_string(rename) + ":EIO,rename:" +
                                   std::to_string(rename + 1) + ":EIO";
        RunResult run = Run({"--pid=-1", "--silent", "--log-dir=" + fLogs.string(), outdated.string(),
                             upToDate.string()},
                            {{"QELT_TEST_FAULTS", faults}, {"QELT_TEST_RETRY_PAUSE_MS", "10"}});
        const std::string log = LogText();
        if (log.find("Rolling back failed") == std::string::npos)
            continue;
        met = true;
        EXPECT_EQ(run.status, 2) << log;
        EXPECT_NE(log.find("Rolling back failed: the previous application is at " +
                           (fApps / "Sample_old0001.app").string()),
                  std::string::npos)
            << log;
        EXPECT_TRUE(fs::exists(fApps / "Sample_old0001.app/Contents/Info.plist"));
    }
    EXPECT_TRUE(met) << "no rename count made the rollback fail";
}

// With a graphical session but no xdg-open, answering Yes to the notice says
// on standard error that the log could not be opened, and where it is.
TEST_F(UpdaterRun, YesWithoutAnOpenerSaysWhereTheLogIs)
{
    fs::path upToDate = MakeSample(fRoot / "Download/Sample.app", "2.0");
    const std::string noTools = qelt::test::MakeTempFolder("notools");
    RunResult run = Run({"--pid=-1", "--log-dir=" + fLogs.string(), (fApps / "None.app").string(), upToDate.string()},
                        {{"DISPLAY", ":99"}, {"PATH", noTools}, {"QELT_NOTIFICATION_ANSWER", "3"}});
    EXPECT_EQ(run.status, 2);
    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator(fLogs))
        logs.push_back(entry.path());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(run.err.find("The log file could not be opened (xdg-open was not found); it is at " + logs[0].string()),
              std::string::npos)
        << run.err;
}

// The README's example of an application handing over to the updater runs
// as written (with the built updater in place of the installed one).
TEST_F(UpdaterRun, TheReadmeExampleUpdatesAndRelaunchesTheApplication)
{
    const std::string readme = ReadFile(fs::path(QELT_TEST_DATA) / "../../README.md");
    const size_t section = readme.find("## Updating your own application");
    ASSERT_NE(section, std::string::npos);
    const size_t start = readme.find("```sh\n", section);
    ASSERT_NE(start, std::string::npos);
    const size_t end = readme.find("```\n", start + 6);
    ASSERT_NE(end, std::string::npos);
    std::string script = readme.substr(start + 6, end - start - 6);
    const std::string installed = "/opt/Updater.app";
    const size_t at = script.find(installed);
    ASSERT_NE(at, std::string::npos) << script;
    script.replace(at, installed.size(), QELT_UPDATER_APP);

    fs::path outdated = MakeSample(fHome / "Applications/MyApp.app", "1.0");
    fs::path upToDate = MakeSample(fHome / "Downloads/MyApp.app", "2.0");
    const fs::path reopen = fHome / ".config/MyApp/reopen.link";
    WriteFile(reopen, "link");
    RunResult shell = RunProgram("/bin/sh", {"-c", script}, {{"QELT_TEST_PID_QUIT_PAUSE_MS", "10"}});
    ASSERT_EQ(shell.status, 0) << shell.err;

    const fs::path logs = fHome / ".cache/MyApp/updates";
    auto log = [&] {
        std::string text;
        if (fs::exists(logs))
            for (const auto& entry : fs::directory_iterator(logs))
                text += ReadFile(entry.path());
        return text;
    };
    EXPECT_TRUE(qelt::test::WaitFor([&] { return log().find("Update successful - ") != std::string::npos; }, 20000))
        << log();
    EXPECT_EQ(RelaunchedOutput(), "2.0\n" + reopen.string() + "\n");
    EXPECT_EQ(Snapshot(outdated), Snapshot(upToDate));
}

}  // namespace
