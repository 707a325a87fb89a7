// Child processes of the platform layer: a start with pipes, the reads and
// writes through them, and the look at how the child ended.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/PlatChildProcess.h"
#include "platform/PlatFile.h"

namespace qelt::plat {
namespace {

// Starts /bin/sh with the script, output piped (and input when asked).
int StartShell(const char* inScript, bool inPipeInput, ChildHandles& outChild)
{
    static char sh[] = "/bin/sh";
    static char dashC[] = "-c";
    std::string script = inScript;
    char* arguments[] = {sh, dashC, script.data(), nullptr};
    ChildStart start;
    start.path = sh;
    start.arguments = arguments;
    start.pipeInput = inPipeInput;
    start.pipeOutput = true;
    return StartChild(start, outChild);
}

// Everything the descriptor gives until its end.
std::string ReadToEnd(int inFd)
{
    std::string text;
    char buffer[256];
    for (;;) {
        DescriptorWatch watch;
        watch.fd = inFd;
        if (WaitForDescriptors(&watch, 1, 5000) <= 0)
            return text + "<time-out>";
        size_t got = 0;
        PipeRead read = ReadPipe(inFd, buffer, sizeof(buffer), got);
        if (read == PipeRead::End)
            return text;
        text.append(buffer, got);
    }
}

ChildChange WaitForEnd(int inPid, int& outCode)
{
    for (int i = 0; i < 5000; ++i) {
        ChildChange change = LookAtChild(inPid, false, outCode);
        if (change != ChildChange::Running)
            return change;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ChildChange::Running;
}

void CloseHandles(ChildHandles& ioChild)
{
    for (int* fd : {&ioChild.pidFd, &ioChild.input, &ioChild.output, &ioChild.error}) {
        if (*fd >= 0)
            CloseFile(*fd);
    }
}

}  // namespace

TEST(PlatChildProcess, AChildsOutputErrorAndExitCodeComeBackSeparately)
{
    ChildHandles child;
    ASSERT_EQ(StartShell("echo out; echo err >&2; exit 3", false, child), 0);
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(child.input, -1);
    EXPECT_EQ(ReadToEnd(child.output), "out\n");
    EXPECT_EQ(ReadToEnd(child.error), "err\n");
    int code = -1;
    EXPECT_EQ(WaitForEnd(child.pid, code), ChildChange::Exited);
    EXPECT_EQ(code, 3);
    // Reaped: the child is gone for a second look.
    EXPECT_EQ(LookAtChild(child.pid, false, code), ChildChange::Gone);
    CloseHandles(child);
}

TEST(PlatChildProcess, AKilledChildIsReportedAsSignalledAndItsGroupIsItsOwn)
{
    ChildHandles child;
    ASSERT_EQ(StartShell("sleep 30", false, child), 0);
    int code = -1;
    EXPECT_EQ(LookAtChild(child.pid, false, code), ChildChange::Running);
    KillProcessGroup(child.pid);
    EXPECT_EQ(WaitForEnd(child.pid, code), ChildChange::Signalled);
    EXPECT_EQ(code, -1);  // left alone
    CloseHandles(child);
}

TEST(PlatChildProcess, WritingToAChildThatClosedItsInputFailsWithoutEndingThisProcess)
{
    ChildHandles child;
    ASSERT_EQ(StartShell("exec 0<&-; echo closed", true, child), 0);
    EXPECT_EQ(ReadToEnd(child.output), "closed\n");
    int code = -1;
    EXPECT_EQ(WaitForEnd(child.pid, code), ChildChange::Exited);
    size_t written = 1;
    EXPECT_EQ(WritePipe(child.input, "x", 1, written), EPIPE);
    EXPECT_EQ(written, 0u);
    CloseHandles(child);
}

TEST(PlatChildProcess, AMissingExecutableGivesItsErrnoAndLeavesNothingOpen)
{
    static char missing[] = "/nonexistent/tool";
    char* arguments[] = {missing, nullptr};
    ChildStart start;
    start.path = missing;
    start.arguments = arguments;
    start.pipeInput = true;
    start.pipeOutput = true;
    ChildHandles child;
    EXPECT_EQ(StartChild(start, child), ENOENT);
    EXPECT_EQ(child.pid, 0);
    EXPECT_EQ(child.input, -1);
    EXPECT_EQ(child.output, -1);
    EXPECT_EQ(child.error, -1);
    EXPECT_EQ(child.pidFd, -1);
}

}  // namespace qelt::plat
