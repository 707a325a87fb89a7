#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "InChildProcess.h"
#include "TestSupport.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "process/VProcess.h"
#include "process/VProcessLauncher.h"
#include "process/mac/XPosixProcessLauncher.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorContext.h"

namespace qelt {
namespace {

VString FromBytes(const std::string& inBytes)
{
    VString text;
    XMacFile::DecodePathBytes(inBytes.data(), inBytes.size(), text);
    return text;
}

std::string ToBytes(const VString& inText)
{
    std::string bytes;
    XMacFile::EncodePathText(inText.GetCPointer(), inText.GetLength(), bytes);
    return bytes;
}

std::string Text(const VMemoryBufferDefault& inBuffer)
{
    return std::string(static_cast<const char*>(inBuffer.GetDataPtr()), inBuffer.GetDataSize());
}

struct CommandRun {
    int32_t result = -99;
    int32_t status = -99;
    std::string out;
    std::string err;
};

CommandRun Execute(const std::string& inCommand, int32_t inOptions = 0, const VEnvironmentVariables* inEnvironment = nullptr,
            const VFilePath* inFolder = nullptr, const std::string* inInput = nullptr)
{
    VMemoryBufferDefault input, output, errors;
    if (inInput != nullptr)
        input.AppendData(inInput->data(), inInput->size());
    CommandRun run;
    run.result = VProcessLauncher::ExecuteCommandLine(FromBytes(inCommand), inOptions,
                                                      inInput != nullptr ? &input : nullptr, &output, &errors,
                                                      inEnvironment, inFolder, &run.status, nullptr, nullptr, true,
                                                      false);
    run.out = Text(output);
    run.err = Text(errors);
    return run;
}

TEST(ProcessLauncher, CommandTextSplitsIntoWordsByBlanksQuotesAndBackslashes)
{
    struct Case {
        const char* text;
        std::vector<std::string> words;
    } cases[] = {
        {"prog -x \"a b\" -y \"c d\"", {"prog", "-x", "a b", "-y", "c d"}},
        {"   ", {}},
        {"", {}},
        {"  a   b  ", {"a", "b"}},
        {"'single quoted' x", {"single quoted", "x"}},
        {"\"a \\\"q\\\" \\\\ b\"", {"a \"q\" \\ b"}},
        {"\"it's\" 'say \"hi\"'", {"it's", "say \"hi\""}},
        {"\"unterminated word", {"unterminated word"}},
        {"\"\" x", {"", "x"}},
        {"abc\\ def", {"abc def"}},
        // The first two characters of a bare word keep their backslash.
        {"\\n a\\ b", {"\\n", "a\\", "b"}},
        {"a\"b c\"", {"a\"b", "c\""}},
        {"trailing\\", {"trailing"}},
        {"open -a \"/Apps/My \\\"X\\\".app/\" --args \"/t/f\" --headless",
         {"open", "-a", "/Apps/My \"X\".app/", "--args", "/t/f", "--headless"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(XPosixProcessLauncher::SplitCommandLine(c.text), c.words);
        VProcessLauncher launcher;
        launcher.CreateArgumentsFromFullCommandLine(FromBytes(c.text));
        std::vector<std::string> arguments;
        for (const VString& argument : launcher.GetArguments())
            arguments.push_back(ToBytes(argument));
        EXPECT_EQ(arguments, c.words);
    }
}

TEST(ProcessLauncher, NonLatinTextAndRawFileNameBytesReachTheChildUnchanged)
{
    // Cyrillic, CJK and a byte that is not UTF-8 (kept in a path text as
    // U+DCFF): each comes out as the bytes it stood for.
    const std::string name = "\xd0\xbf\xd1\x80\xd0\xb8 \xe6\x96\x87\xe4\xbb\xb6 \xff";
    CommandRun run = Execute("printf %s \"" + name + "\"");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, name);
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(FromBytes("x \"" + name + "\""));
    ASSERT_EQ(launcher.GetArguments().size(), 2u);
    EXPECT_EQ(launcher.GetArguments()[1].GetLength(), 7 + 1);
    EXPECT_EQ(ToBytes(launcher.GetArguments()[1]), name);
}

TEST(ProcessLauncher, ExitStatusIsTheExitCodeOrMinus127ForASignal)
{
    struct Case {
        const char* command;
        int32_t status;
    } cases[] = {
        {"sh -c \"exit 3\"", 3},
        {"true", 0},
        {"sh -c \"exit 255\"", 255},
        {"sh -c \"kill -9 $$\"", -127},
        {"sh -c \"kill -TERM $$\"", -127},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        CommandRun run = Execute(c.command);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.status, c.status);
    }
}

TEST(ProcessLauncher, ACommandThatCannotStartFailsWithoutAnExitStatus)
{
    for (const char* command : {"   ", "no-such-program-qelt-test", "/no/such/file"}) {
        SCOPED_TRACE(command);
        CommandRun run = Execute(command);
        EXPECT_NE(run.result, 0);
        EXPECT_EQ(run.status, -99);
    }
    EXPECT_EQ(Execute("no-such-program-qelt-test").result, ENOENT);
}

TEST(ProcessLauncher, AnEnvironmentMapIsTheChildsWholeEnvironment)
{
    VEnvironmentVariables environment;
    environment[VString("A")] = VString("1");
    CommandRun run = Execute("env", 0, &environment);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "A=1\n");

    // An empty map inherits this process's environment.
    test::StEnvironmentVariable inherited("QELT_LAUNCHER_TEST", "inherited");
    VEnvironmentVariables none;
    run = Execute("sh -c \"echo $QELT_LAUNCHER_TEST\"", 0, &none);
    EXPECT_EQ(run.out, "inherited\n");
}

TEST(ProcessLauncher, TheChildRunsInTheWorkingFolderAndReadsTheInputBuffer)
{
    std::string folder = test::MakeTempFolder("launcher cwd");
    VFilePath path(FromBytes(folder + "/"), FPS_POSIX);
    CommandRun run = Execute("pwd", 0, nullptr, &path);
    EXPECT_EQ(run.out, folder + "\n");

    std::string input = "line one\nline two\n";
    run = Execute("cat", 0, nullptr, nullptr, &input);
    EXPECT_EQ(run.out, input);
    EXPECT_EQ(run.status, 0);
}

TEST(ProcessLauncher, LargeInputIsWrittenWhileTheOutputIsRead)
{
    // A child that echoes as it reads: one blocking write of the whole
    // input would wait for it forever while it waits for its output to be
    // read.
    std::string input(3 * 1024 * 1024, 'x');
    for (size_t i = 0; i < input.size(); i += 4096)
        input[i] = static_cast<char>('a' + (i / 4096) % 26);
    CommandRun run = Execute("cat", 0, nullptr, nullptr, &input);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out == input) << run.out.size();

    // A child that stops reading early ends the input without ending this
    // process by SIGPIPE.
    run = Execute("head -c 10", 0, nullptr, nullptr, &input);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, input.substr(0, 10));
}

TEST(ProcessLauncher, LargeOutputAndErrorAreBothCollectedWhole)
{
    // The error comes first, so a reader that waited on the output alone
    // would never see the end.
    CommandRun run = Execute("sh -c \"head -c 1048576 /dev/zero >&2; head -c 10485760 /dev/zero\"");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.size(), 10485760u);
    EXPECT_EQ(run.err.size(), 1048576u);

    // Without buffers the output is read and dropped: the child never
    // blocks on a full pipe.
    int32_t status = -1;
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(VString("head -c 2000000 /dev/zero"), 0, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, &status, nullptr, nullptr, false, false),
              0);
    EXPECT_EQ(status, 0);
}

TEST(ProcessLauncher, DoNotWaitReturnsAsSoonAsTheChildHasStarted)
{
    auto start = std::chrono::steady_clock::now();
    CommandRun run = Execute("sleep 2", VProcessLauncher::kDoNotWait);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.result, 0);
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
}

TEST(ProcessLauncher, TheLauncherHandedBackStillRunsTheChild)
{
    VProcessLauncher* launcher = nullptr;
    VMemoryBufferDefault output;
    int32_t status = -99;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(VString("sh -c \"echo hi; exit 4\""), 0, nullptr, &output, nullptr,
                                                   nullptr, nullptr, &status, &launcher, nullptr, false, false),
              0);
    ASSERT_NE(launcher, nullptr);
    EXPECT_EQ(status, -99);
    EXPECT_EQ(Text(output), "hi\n");
    EXPECT_GT(launcher->GetPid(), 0);
    EXPECT_EQ(launcher->Shutdown(false, false), 0);
    EXPECT_EQ(launcher->GetExitStatus(), 4);
    delete launcher;
}

TEST(ProcessLauncher, KillProcessRefusesANegativePid)
{
    EXPECT_FALSE(VProcessLauncher::KillProcess(-1));
    // 0 would be this process's own group: refused with an error, and this
    // process is still here to see it.
    std::string out = test::InChildWithProcess([] {
        StErrorContextInstaller errors(false);
        bool killed = VProcessLauncher::KillProcess(0);
        std::printf("%d %d", killed, errors.GetLastError() == PosixError(EINVAL));
    });
    EXPECT_EQ(out, "0 1");
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString("sleep 30"));
    ASSERT_EQ(launcher.Start(), 0);
    EXPECT_TRUE(launcher.IsRunning());
    EXPECT_TRUE(VProcessLauncher::KillProcess(launcher.GetPid()));
    launcher.Shutdown(false, false);
    EXPECT_EQ(launcher.GetExitStatus(), -127);
    EXPECT_FALSE(launcher.IsRunning());
}

TEST(ProcessLauncher, ShutdownWithKillEndsAChildThatStillRuns)
{
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString("sleep 30"));
    launcher.SetWaitClosingChildProcess(0);
    ASSERT_EQ(launcher.Start(), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(launcher.Shutdown(true, false), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(launcher.IsRunning());
    EXPECT_EQ(launcher.GetExitStatus(), -127);
}

using test::InChildWithProcess;

bool ProcessGone(pid_t inPid)
{
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + std::to_string(inPid) + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            return true;
        size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z')
            return true;
        ::usleep(20000);
    }
    return false;
}

TEST(ProcessLauncher, ATimeOutKillsTheChildsGroupAndRaisesError8)
{
    std::string out = InChildWithProcess([] {
        StErrorContextInstaller errors(false);
        VProcessLauncher launcher;
        // The shell's background child is in the same group and dies too.
        launcher.CreateArgumentsFromFullCommandLine(VString("sh -c \"sleep 5 & echo $!; wait\""));
        launcher.SetWaitClosingChildProcess(1000);
        auto start = std::chrono::steady_clock::now();
        if (launcher.Start() != 0)
            return;
        std::string grandchild;
        launcher.ReadFromChildAndShutdown(
            [&grandchild](const void* inBytes, size_t inCount) {
                grandchild.append(static_cast<const char*>(inBytes), inCount);
            },
            nullptr);
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("%d %d %d %d %d", errors.GetLastError() == QeltError(8), launcher.GetExitStatus(),
                    elapsed.count() >= 900, elapsed.count() < 3000,
                    grandchild.empty() ? 0 : ProcessGone(std::atoi(grandchild.c_str())));
    });
    EXPECT_EQ(out, "1 -127 1 1 1");
}

TEST(ProcessLauncher, AChildThatEndsInTimeIsNotReportedAsTimedOut)
{
    std::string out = InChildWithProcess([] {
        StErrorContextInstaller errors(false);
        VProcessLauncher launcher;
        launcher.CreateArgumentsFromFullCommandLine(VString("sh -c \"exit 2\""));
        launcher.SetWaitClosingChildProcess(300);
        if (launcher.Start() != 0)
            return;
        launcher.Shutdown(false, false);
        // Past the deadline nothing fires any more.
        ::usleep(500000);
        launcher.Shutdown(false, false);
        std::printf("%d %d", static_cast<int>(errors.GetLastError()), launcher.GetExitStatus());
    });
    EXPECT_EQ(out, "0 2");
}

TEST(ProcessLauncher, AFloodingChildStillEndsAtItsTimeOut)
{
    std::string out = InChildWithProcess([] {
        StErrorContextInstaller errors(false);
        VProcessLauncher launcher;
        launcher.CreateArgumentsFromFullCommandLine(VString("sh -c \"while :; do echo flood; done\""));
        launcher.SetWaitClosingChildProcess(500);
        if (launcher.Start() != 0)
            return;
        size_t total = 0;
        launcher.ReadFromChildAndShutdown([&total](const void*, size_t inCount) { total += inCount; }, nullptr);
        std::printf("%d %d %d", errors.GetLastError() == QeltError(8), launcher.GetExitStatus(), total > 0);
    });
    EXPECT_EQ(out, "1 -127 1");
}

}  // namespace
}  // namespace qelt
