#include "runtime/mac/XMacStackCrawl.h"

#include <algorithm>
#include <string>

#include "kernel/VString.h"
#include "platform/PlatBacktrace.h"

namespace qelt {

namespace {

constexpr unsigned kCaptureFrames = 58;

// The symbol line of one frame: "image(symbol+0xoffset) [0xaddress]".
std::string SymbolLine(const void* address)
{
    char buffer[64];
    plat::SymbolInfo info;
    std::string line;
    if (plat::DescribeAddress(address, info)) {
        line = info.imagePath;
        if (!info.symbolName.empty() && info.symbolAddress != nullptr) {
            snprintf(buffer, sizeof(buffer), "+0x%zx",
                     static_cast<size_t>(static_cast<const char*>(address) - static_cast<const char*>(info.symbolAddress)));
            line += "(" + info.symbolName + buffer + ")";
        }
        line += " ";
    }
    snprintf(buffer, sizeof(buffer), "[%p]", address);
    line += buffer;
    return line;
}

}  // namespace

XMacStackCrawl::~XMacStackCrawl() = default;

__attribute__((noinline)) void XMacStackCrawl::LoadFrames(unsigned int skip, unsigned int count)
{
    void* captured[kCaptureFrames];
    unsigned n = plat::CaptureBacktrace(captured, 0, kCaptureFrames);
    // Frame 0 is this function and frame 1 its caller, as a system backtrace
    // taken here gives them. Frames of the capture machinery that come before
    // (an instrumented build adds some) are found by the caller's return
    // address and dropped.
    const void* callerReturn = __builtin_return_address(0);
    unsigned base = 0;
    for (unsigned i = 1; i < n; ++i) {
        if (captured[i] == callerReturn) {
            base = i - 1;
            break;
        }
    }
    n -= base;
    if (n > skip) {
        unsigned keep = std::min({n - skip, count, static_cast<unsigned>(kMaxFrames)});
        std::copy(captured + base + skip, captured + base + skip + keep, fFrames);
        fCount = static_cast<int32_t>(keep);
    } else {
        fCount = 0;
    }
}

void XMacStackCrawl::Dump(FILE* stream) const
{
    if (fCount < 1 || stream == nullptr)
        return;
    for (int i = 0; i < fCount; ++i) {
        std::string line = SymbolLine(fFrames[i]);
        fprintf(stream, "  :: frame %u: %s\n", static_cast<unsigned>(fCount - 1 - i), line.c_str());
    }
}

void XMacStackCrawl::Dump(VString& ioString) const
{
    for (int i = 0; i < fCount; ++i) {
        char head[64];
        snprintf(head, sizeof(head), "   {%d} 0x%016llX - ", fCount - 1 - i,
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(fFrames[i])));
        std::string line = head;
        plat::SymbolInfo info;
        if (plat::DescribeAddress(fFrames[i], info) && !info.symbolName.empty())
            line += info.symbolName;
        else
            line += "<inline>";
        line += "\n";
        ioString.AppendCString(line.c_str());
    }
}

bool XMacStackCrawl::operator<(const XMacStackCrawl& other) const
{
    if (fCount != other.fCount)
        return fCount < other.fCount;
    // Same count: less as soon as one frame lies below the other's frame at
    // the same position, scanning from the innermost.
    for (int i = 0; i < fCount; ++i) {
        if (reinterpret_cast<uintptr_t>(fFrames[i]) < reinterpret_cast<uintptr_t>(other.fFrames[i]))
            return true;
    }
    return false;
}

}  // namespace qelt
