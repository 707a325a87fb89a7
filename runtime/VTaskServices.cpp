// The current task's services that lower floors declare at their own level
// (kernel/VTaskServices.h).
#include "kernel/VTaskServices.h"

#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

VIntlMgr* GetCurrentTaskIntlMgr()
{
    return VTask::GetCurrentIntlManager();
}

UniChar GetCurrentTaskWildChar()
{
    return VTask::GetWildChar();
}

int32_t GetCurrentTaskID()
{
    return VTaskMgr::GetCurrentTaskID();
}

}  // namespace qelt
