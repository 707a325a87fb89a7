// Shared test support: every test program runs with HOME and XDG_DATA_HOME
// pointed at a temporary folder of its own, never at the user's real ones.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <string>

namespace qelt {
class VString;
}

namespace qelt::test {

// The temporary folder of this test run (removed at exit).
const std::string& TempRoot();

// A fresh, empty folder below TempRoot().
std::string MakeTempFolder(const std::string& hint);

// Polls the predicate every millisecond until it holds or the time is up;
// answers its last value. Tests of other threads wait with it instead of
// sleeping a fixed time.
template <class Pred>
bool WaitFor(Pred inPred, int inMilliseconds = 5000)
{
    for (int i = 0; i < inMilliseconds; ++i) {
        if (inPred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return inPred();
}

// Sets (or, with a null value, removes) an environment variable for the
// life of the holder and restores what was there.
class StEnvironmentVariable {
public:
    StEnvironmentVariable(const char* inName, const char* inValue);
    ~StEnvironmentVariable();
    // Sets the variable again (or removes it) for the rest of the holder's
    // life; what was there before the holder is still what comes back.
    void Set(const char* inValue);
    StEnvironmentVariable(const StEnvironmentVariable&) = delete;
    StEnvironmentVariable& operator=(const StEnvironmentVariable&) = delete;

private:
    std::string fName;
    bool fHad = false;
    std::string fOld;
};

// Makes TZ name a zone for the life of the holder; the toolbox's time-zone
// caches are refreshed on the way in and out.
class StTimeZone {
public:
    explicit StTimeZone(const char* inZone);
    ~StTimeZone();
    StTimeZone(const StTimeZone&) = delete;
    StTimeZone& operator=(const StTimeZone&) = delete;
    // Whether the system has data for the zone.
    static bool Available(const std::string& inZone);

private:
    std::unique_ptr<StEnvironmentVariable> fTZ;
};

// Sets QELT_TEST_FAULTS to the rules for the life of the holder; the
// platform's fault injection reads the variable afresh on the way in and out.
class StTestFaults {
public:
    explicit StTestFaults(const char* inRules);
    ~StTestFaults();
    StTestFaults(const StTestFaults&) = delete;
    StTestFaults& operator=(const StTestFaults&) = delete;

private:
    std::unique_ptr<StEnvironmentVariable> fRules;
};

// Runs the rest of the test in the zone; skips it when the system has no
// data for the zone.
#define REQUIRE_ZONE(zone)                                                         \
    if (!::qelt::test::StTimeZone::Available(zone))                                \
        GTEST_SKIP() << "time-zone data for " << zone << " is missing";            \
    ::qelt::test::StTimeZone scopedZone(zone)

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
// A file's whole content, written (replacing it) or read ("" when missing).
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

// The first processor of the calling thread's affinity, as a set of one,
// for tests that pin a thread (and what it starts) to a single processor.
cpu_set_t FirstUsableProcessorOnly();

// Texts in tests: the UTF-16 units of a text; a text made of UTF-16 units
// (S(u"...")) or of UTF-8 bytes (S("...")); an ASCII view of a text for
// comparisons and messages, units beyond ASCII shown as <U+XXXX>.
std::u16string Units(const VString& inText);
VString S(const std::u16string& inUnits);
VString S(const std::string& inUTF8);
std::string ToStd(const VString& inText);

}  // namespace qelt::test
