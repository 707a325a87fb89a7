// The toolbox's objects allocate through the process memory manager; a
// benchmark program without a process object installs a plain one once.
// PeakResidentGrowth measures how far the resident size rises above where it
// stood while a piece of work runs (Linux: the peak is reset through
// /proc/self/clear_refs and read back as VmHWM); HeapInUse gives what the
// allocator holds, for the size of what is kept.
#pragma once

#include <malloc.h>

#include <fstream>
#include <string>

#include "kernel/VCppMemMgr.h"
#include "kernel/VObject.h"

inline void EnsureManager()
{
    static const bool sReady = [] {
        if (qelt::VObject::sCppMemMgr == nullptr)
            qelt::VObject::sCppMemMgr = new qelt::VCppMemMgr(qelt::eAllocatorMalloc);
        return true;
    }();
    (void)sReady;
}

namespace qelt::bench {

// A "Name:  N kB" line of /proc/self/status, in bytes; 0 when missing.
inline long StatusBytes(const char* inName)
{
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(inName) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size())) * 1024;
    }
    return 0;
}

// The rise of the resident size's peak above its level before the work, in
// bytes; -1 when the peak cannot be reset. Memory the allocator holds free
// is given back first, so that the work cannot hide in it.
template <class Work>
long PeakResidentGrowth(Work&& inWork)
{
    malloc_trim(0);
    long before = 0;
    bool reset = false;
    for (int attempt = 0; attempt < 5 && !reset; ++attempt) {
        {
            std::ofstream clear("/proc/self/clear_refs");
            clear << "5";
            if (!clear.flush())
                return -1;
        }
        before = StatusBytes("VmRSS");
        reset = StatusBytes("VmHWM") <= before + 256 * 1024;
    }
    if (!reset)
        return -1;
    inWork();
    return StatusBytes("VmHWM") - before;
}

// The bytes the allocator hands out at the moment (in use, heap and mapped
// chunks alike): exact where the resident size goes by pages.
inline long HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>(info.uordblks + info.hblkhd);
}

}  // namespace qelt::bench
