// The texts the machine information and the process list read from /proc
// and /sys, from outside: the same bytes go through every parser (process
// stat and command line, mount lines with their octal escapes, network
// totals, processor ticks, memory and processor information). Each answers
// or refuses; what it hands back never holds more than the text did.
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/PlatMachine.h"
#include "platform/PlatProcesses.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::string name;
    char state = 0;
    if (plat::ParseProcessStat(text, &name, state))
        fuzz::Check(name.size() + 2 < text.size(), "the command name lies inside the stat text");

    std::string first;
    if (plat::FirstCommandLineArgument(text, first))
        fuzz::Check(!first.empty() && text.compare(0, first.size(), first) == 0, "the first argument begins the text");

    uint64_t user = 0, system = 0, start = 0;
    plat::ParseProcessTicks(text, user, system, start);

    size_t lineStart = 0;
    while (lineStart <= text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = text.size();
        const std::string line = text.substr(lineStart, lineEnd - lineStart);
        std::string source, mountPoint, fileSystem;
        if (plat::ParseMountLine(line, source, mountPoint, fileSystem))
            fuzz::Check(source.size() + mountPoint.size() + fileSystem.size() <= line.size(),
                        "decoded mount fields are never longer than the line");
        lineStart = lineEnd + 1;
    }

    uint64_t received = 0, sent = 0;
    plat::ParseNetworkTotals(text, {"lo"}, received, sent);

    std::vector<plat::ProcessorTicks> ticks;
    if (plat::ParseProcessorTicks(text, ticks))
        fuzz::Check(!ticks.empty() && ticks.size() <= text.size() / 4, "one processor per line at most");

    for (const char* key : {"MemTotal", "MemFree"})
        plat::ParseMemInfoValue(text, key);

    std::string brand;
    if (plat::ParseProcessorBrand(text, brand))
        fuzz::Check(!brand.empty() && brand.size() < text.size(), "the brand is part of the text");
    return 0;
}
