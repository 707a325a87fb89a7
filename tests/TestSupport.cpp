#include "TestSupport.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>

#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "platform/PlatFaults.h"
#include "process/VProcess.h"

namespace qelt::test {

namespace {
std::string gRoot;
std::atomic<int> gCounter{0};
}  // namespace

const std::string& TempRoot() { return gRoot; }

std::string MakeTempFolder(const std::string& hint)
{
    std::string path = gRoot + "/" + hint + "_" + std::to_string(gCounter.fetch_add(1));
    std::filesystem::create_directories(path);
    return path;
}

StEnvironmentVariable::StEnvironmentVariable(const char* inName, const char* inValue) : fName(inName)
{
    const char* old = std::getenv(inName);
    fHad = old != nullptr;
    if (fHad)
        fOld = old;
    Set(inValue);
}

void StEnvironmentVariable::Set(const char* inValue)
{
    if (inValue != nullptr)
        ::setenv(fName.c_str(), inValue, 1);
    else
        ::unsetenv(fName.c_str());
}

StEnvironmentVariable::~StEnvironmentVariable()
{
    if (fHad)
        ::setenv(fName.c_str(), fOld.c_str(), 1);
    else
        ::unsetenv(fName.c_str());
}

StTimeZone::StTimeZone(const char* inZone) : fTZ(std::make_unique<StEnvironmentVariable>("TZ", inZone))
{
    VSystem::SystemDateTimeChanged();
}

StTimeZone::~StTimeZone()
{
    fTZ.reset();  // TZ as it was, before the caches are refreshed
    VSystem::SystemDateTimeChanged();
}

StTestFaults::StTestFaults(const char* inRules)
    : fRules(std::make_unique<StEnvironmentVariable>("QELT_TEST_FAULTS", inRules))
{
    plat::ResetFaults();
}

StTestFaults::~StTestFaults()
{
    fRules.reset();  // the rules as they were, before they are read again
    plat::ResetFaults();
}

bool StTimeZone::Available(const std::string& inZone)
{
    struct stat info;
    return ::stat(("/usr/share/zoneinfo/" + inZone).c_str(), &info) == 0;
}

StStartedProcess::StStartedProcess()
{
    if (VProcess::sInstance != nullptr) {
        fStarted = true;
        return;
    }
    VProcess* process = new VProcess;
    fProcess = process;
    fStarted = process->Init(0);
}

StStartedProcess::~StStartedProcess() { delete static_cast<VProcess*>(fProcess); }

::testing::AssertionResult RunUnderCommaLocale(const std::function<bool()>& inChecks)
{
    // An installed locale with a decimal comma, or one built once for this run.
    static std::string sName;
    static std::string sFolder;
    if (sName.empty()) {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            locale_t probe = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
            if (probe != static_cast<locale_t>(nullptr)) {
                ::freelocale(probe);
                sName = name;
                break;
            }
        }
    }
    if (sName.empty()) {
        std::string folder = MakeTempFolder("locales");
        std::string command = "localedef -i de_DE -f UTF-8 '" + folder + "/de_DE.UTF-8' >/dev/null 2>&1";
        int status = std::system(command.c_str());
        if (!std::filesystem::exists(folder + "/de_DE.UTF-8/LC_NUMERIC"))
            return ::testing::AssertionFailure() << "localedef could not build de_DE (status " << status << ")";
        sFolder = folder;
        sName = "de_DE.UTF-8";
    }
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0)
        return ::testing::AssertionFailure() << "fork failed";
    if (child == 0) {
        if (!sFolder.empty())
            ::setenv("LOCPATH", sFolder.c_str(), 1);
        int status = 0;
        if (std::setlocale(LC_ALL, sName.c_str()) == nullptr ||
            std::strcmp(std::localeconv()->decimal_point, ",") != 0) {
            std::fprintf(stderr, "the locale %s cannot be loaded or has no decimal comma\n", sName.c_str());
            status = 2;
        } else if (!inChecks()) {
            status = 1;
        }
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return ::testing::AssertionFailure() << "the child under the comma locale did not end normally";
    if (WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure() << "checks under " << sName << " failed (see above), status "
                                             << WEXITSTATUS(status);
    return ::testing::AssertionSuccess();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

cpu_set_t FirstUsableProcessorOnly()
{
    cpu_set_t all;
    CPU_ZERO(&all);
    cpu_set_t one;
    CPU_ZERO(&one);
    if (::sched_getaffinity(0, sizeof all, &all) != 0)
        return one;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    }
    return one;
}

std::u16string Units(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

VString S(const std::u16string& inUnits)
{
    VString text;
    text.FromUniString(reinterpret_cast<const UniChar*>(inUnits.data()), static_cast<int>(inUnits.size()));
    return text;
}

VString S(const std::string& inUTF8) { return VString(inUTF8.data(), inUTF8.size(), VTC_UTF_8); }

std::string ToStd(const VString& inText)
{
    std::string out;
    for (int i = 0; i < inText.GetLength(); ++i) {
        UniChar c = inText.GetCPointer()[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            char buffer[12];
            std::snprintf(buffer, sizeof(buffer), "<U+%04X>", c);
            out += buffer;
        }
    }
    return out;
}

}  // namespace qelt::test

// Under AddressSanitizer a request the allocator cannot serve answers null,
// as the C library does, instead of ending the program: the toolbox's
// handling of refused allocations is then tested as it runs.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

int main(int argc, char** argv)
{
    // A death test's child (a fresh run of this program that ends with
    // _exit) works inside its parent's folder, which the parent removes.
    bool deathTestChild = false;
    for (int i = 1; i < argc; ++i)
        deathTestChild = deathTestChild || std::strncmp(argv[i], "--gtest_internal_run_death_test", 31) == 0;
    const char* parentRoot = std::getenv("QELT_TEST_ROOT");
    if (deathTestChild && parentRoot != nullptr && parentRoot[0] != 0) {
        qelt::test::gRoot = std::string(parentRoot) + "/child_" + std::to_string(::getpid());
        std::error_code made;
        std::filesystem::create_directories(qelt::test::gRoot, made);
        if (made)
            return 1;
    } else {
        char pattern[] = "/tmp/qelt_test_XXXXXX";
        const char* root = ::mkdtemp(pattern);
        if (root == nullptr)
            return 1;
        qelt::test::gRoot = root;
        ::setenv("QELT_TEST_ROOT", root, 1);
    }
    std::string home = qelt::test::gRoot + "/home";
    std::filesystem::create_directories(home + "/.local/share");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);

    // Every test runs with the process memory manager in malloc mode, as the
    // toolbox's entry point would create it.
    qelt::VCppMemMgr* manager = new qelt::VCppMemMgr(qelt::eAllocatorMalloc);
    if (manager == nullptr)
        return 1;
    qelt::VObject::sCppMemMgr = manager;

    ::testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();

    qelt::VObject::sCppMemMgr = nullptr;
    delete manager;

    std::error_code ec;
    std::filesystem::remove_all(qelt::test::gRoot, ec);
    return status;
}
