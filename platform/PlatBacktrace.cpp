#include "platform/PlatBacktrace.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdlib>
#include <vector>

namespace qelt::plat {

unsigned CaptureBacktrace(void** frames, unsigned skip, unsigned count)
{
    if (frames == nullptr || count == 0)
        return 0;
    // One more frame for this function itself.
    constexpr unsigned kMaxFrames = 1024;
    unsigned wanted = skip + count + 1;
    if (wanted > kMaxFrames || wanted < count)
        wanted = kMaxFrames;
    std::vector<void*> all(wanted);
    int got = ::backtrace(all.data(), static_cast<int>(wanted));
    if (got <= 0)
        return 0;
    unsigned first = skip + 1;
    if (static_cast<unsigned>(got) <= first)
        return 0;
    unsigned n = static_cast<unsigned>(got) - first;
    if (n > count)
        n = count;
    for (unsigned i = 0; i < n; ++i)
        frames[i] = all[first + i];
    return n;
}

bool DescribeAddress(const void* address, SymbolInfo& outInfo)
{
    outInfo = SymbolInfo();
    Dl_info info;
    if (address == nullptr || ::dladdr(address, &info) == 0)
        return false;
    if (info.dli_fname != nullptr)
        outInfo.imagePath = info.dli_fname;
    outInfo.imageBase = info.dli_fbase;
    outInfo.symbolAddress = info.dli_saddr;
    if (info.dli_sname != nullptr) {
        if (!DemangleSymbol(info.dli_sname, outInfo.symbolName))
            outInfo.symbolName = info.dli_sname;
    }
    return true;
}

bool DemangleSymbol(const char* name, std::string& outDemangled)
{
    if (name == nullptr || *name == 0)
        return false;
    int status = 0;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (status != 0 || demangled == nullptr) {
        std::free(demangled);
        return false;
    }
    outDemangled = demangled;
    std::free(demangled);
    return true;
}

}  // namespace qelt::plat
