#include "kernel/VCompareOptions.h"

#include "runtime/VTask.h"

namespace qelt {

VCompareOptions::VCompareOptions() : fIntlMgr(VTask::GetCurrentIntlManager())
{
}

VCompareOptions::~VCompareOptions() = default;

}  // namespace qelt
