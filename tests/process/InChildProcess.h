// Runs a test body in a forked child that has a started process object, so
// that raised errors land on a task's error stack; what the body prints on
// standard output is the result.
#pragma once

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "process/VProcess.h"

namespace qelt::test {

// The body runs in a forked child whose standard output is the result; the
// child must end within 20 seconds and exit 0.
inline std::string InChildProcess(const std::function<void()>& inBody)
{
    std::string outPath = MakeTempFolder("child with process") + "/out.txt";
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(outPath.c_str(), "w", stdout);
        struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::alarm(20);
        inBody();
        std::fflush(nullptr);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ifstream in(outPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string InChildWithProcess(const std::function<void()>& inBody)
{
    return InChildProcess([&inBody] {
        VProcess process;
        if (!process.Init(0))
            ::_exit(3);
        inBody();
    });
}

}  // namespace qelt::test
