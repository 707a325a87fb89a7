#include "fuzz/FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "kernel/VCppMemMgr.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VValue.h"
#include "process/VProcess.h"
#include "xml/VXMLParser.h"

namespace qelt::fuzz {

namespace {
VCppMemMgr* gManager = nullptr;
VProcess* gProcess = nullptr;
}  // namespace

void Setup()
{
    if (gManager != nullptr)
        return;
    gManager = new VCppMemMgr(eAllocatorMalloc);
    VObject::sCppMemMgr = gManager;
    gProcess = new VProcess;
    if (!gProcess->Init(0)) {
        std::fprintf(stderr, "fuzz: the process did not start\n");
        std::abort();
    }
    // The fuzzer leaves through exit(): tear down then, so that the leak
    // check at exit sees nothing of the set-up.
    std::atexit(Shutdown);
}

void SetupXML()
{
    Setup();
    static bool sStarted = (VXMLParser::Init(), std::atexit(VXMLParser::DeInit), true);
    (void)sStarted;
}

void Shutdown()
{
    delete gProcess;
    gProcess = nullptr;
    VObject::sCppMemMgr = nullptr;
    delete gManager;
    gManager = nullptr;
}

StSilentStreams::StSilentStreams()
{
    std::fflush(nullptr);
    fNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    fOut = ::dup(1);
    fErr = ::dup(2);
    if (fNull >= 0) {
        ::dup2(fNull, 1);
        ::dup2(fNull, 2);
    }
}

StSilentStreams::~StSilentStreams()
{
    std::fflush(nullptr);
    if (fOut >= 0) {
        ::dup2(fOut, 1);
        ::close(fOut);
    }
    if (fErr >= 0) {
        ::dup2(fErr, 2);
        ::close(fErr);
    }
    if (fNull >= 0)
        ::close(fNull);
}

namespace {
std::string gScratch;

void RemoveScratch()
{
    std::error_code ignored;
    std::filesystem::remove_all(gScratch, ignored);
}
}  // namespace

const std::string& ScratchFolder()
{
    if (gScratch.empty()) {
        char pattern[] = "/tmp/qelt_fuzz_XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            std::abort();
        gScratch = pattern;
        std::atexit(RemoveScratch);
    }
    return gScratch;
}

std::vector<VString> MakeArguments(const char* program, const uint8_t* data, size_t size)
{
    std::vector<VString> args{VString(program)};
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            args.emplace_back(data + start, static_cast<unsigned long>(i - start), VTC_UTF_8);
            start = i + 1;
        }
    }
    return args;
}

void MakeText(const uint8_t* data, size_t size, VString& outText)
{
    if (size == 0) {
        outText.Clear();
        return;
    }
    if ((data[0] & 1) != 0)
        outText.FromBlock(data + 1, (size - 1) & ~static_cast<size_t>(1), VTC_UTF_16);
    else
        outText.FromBlock(data + 1, size - 1, VTC_UTF_8);
}

void DisposeValue(VValue* value)
{
    if (value == nullptr)
        return;
    if (IRefCountable* counted = dynamic_cast<IRefCountable*>(value))
        counted->Release();
    else
        delete value;
}

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz: check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace qelt::fuzz

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    qelt::fuzz::Setup();
    return 0;
}
