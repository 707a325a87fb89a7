// What the kernel and the values read from the current task: its
// international manager, its wildcard character and its id. Declared here,
// at the floor that reads them; runtime/VTaskServices.cpp defines them
// through VTask and VTaskMgr.
#pragma once

#include <cstdint>

#include "kernel/VKernelTypes.h"

namespace qelt {

class VIntlMgr;

// VTask::GetCurrentIntlManager: the current task's manager, or the process's
// without a task; may be null.
VIntlMgr* GetCurrentTaskIntlMgr();

// VTask::GetWildChar: the wildcard of the current manager, '@' without one.
UniChar GetCurrentTaskWildChar();

// VTaskMgr::GetCurrentTaskID: the current task's id, 0 before the task
// manager exists.
int32_t GetCurrentTaskID();

}  // namespace qelt
