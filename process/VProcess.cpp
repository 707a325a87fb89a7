#include "process/VProcess.h"

#include "runtime/VErrorBase.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess() = default;

VProcess::~VProcess()
{
    if (fInitDone)
        _DeInit();
}

bool VProcess::Init(unsigned int inFlags)
{
    if (!fInitDone) {
        fInitDone = true;
        fInitFlags = inFlags;
        fInitResult = _Init(inFlags);
    }
    return fInitResult;
}

bool VProcess::_Init(unsigned int inFlags)
{
    (void)inFlags;

    // The process object is reachable from the very first step on.
    sInstance = this;

    // Still to come, in this order: the system version check, the
    // international text manager and the default intl object, the file
    // layer, the file kinds and resource files, the install folder check.

    if (!VTaskMgr::Init(this))
        return false;
    if (!VErrorBase::Init())
        return false;

    // Still to come, in this order: the debug manager, the progress manager,
    // the built-in file systems, the root class store, and with flag 0x10
    // the logger with its boot listener.
    return true;
}

void VProcess::_DeInit()
{
    sInstance = nullptr;
    // The debug manager stops here once it exists.
    VErrorBase::DeInit();
    VTaskMgr::DeInit();
    // Still to come, in this order: resource files, file kinds, the file
    // layer, the progress manager, the default intl object, the logger and
    // the international text library.
}

}  // namespace qelt
