// The toolbox's objects allocate through the process memory manager; a
// benchmark program without a process object installs a plain one once.
#pragma once

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
