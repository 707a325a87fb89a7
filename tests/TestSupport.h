// Shared test support: every test program runs with HOME and XDG_DATA_HOME
// pointed at a temporary folder of its own, never at the user's real ones.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

namespace qelt::test {

// The temporary folder of this test run (removed at exit).
const std::string& TempRoot();

// A fresh, empty folder below TempRoot().
std::string MakeTempFolder(const std::string& hint);

// A started process object for the life of the holder, so that raised
// errors land on the task's error stack; when the program already has one,
// the holder does nothing.
class StStartedProcess {
public:
    StStartedProcess();
    ~StStartedProcess();
    StStartedProcess(const StStartedProcess&) = delete;
    StStartedProcess& operator=(const StStartedProcess&) = delete;
    bool IsStarted() const { return fStarted; }

private:
    void* fProcess = nullptr;
    bool fStarted = false;
};

// Death tests of this fixture re-run the program from its start
// ("threadsafe" style), so that each child begins with fresh statics (a new
// task manager, no earlier samples).
class FreshProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fStyle = GTEST_FLAG_GET(death_test_style);
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    void TearDown() override { GTEST_FLAG_SET(death_test_style, fStyle); }

private:
    std::string fStyle;
};

// The checks of a child process: each one that fails is printed.
class ChildChecks {
public:
    void operator()(bool inOk, const char* inWhat)
    {
        if (!inOk) {
            std::fprintf(stderr, "failed: %s\n", inWhat);
            fPassed = false;
        }
    }
    bool Passed() const { return fPassed; }

private:
    bool fPassed = true;
};

// Runs inChecks in a child process whose process and thread locale has a
// decimal comma (de_DE; built with localedef into a folder of this run when
// the system has none). The checks print what fails and answer whether all
// passed. A child, because a locale loaded from a private folder leaves a C
// library allocation behind that the leak checker would report.
::testing::AssertionResult RunUnderCommaLocale(const std::function<bool()>& inChecks);

}  // namespace qelt::test
