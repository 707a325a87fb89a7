#include "process/VProcess.h"

#include "files/VFile.h"
#include "files/VFileKindManager.h"
#include "files/VResourceFile.h"
#include "kernel/VIntlMgr.h"
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

ILocalizer* VProcess::GetLocalizer() const
{
    std::lock_guard<std::recursive_mutex> lock(VErrorBase::LocalizersMutex());
    return fLocalizer;
}

void VProcess::SetLocalizer(ILocalizer* inLocalizer)
{
    std::lock_guard<std::recursive_mutex> lock(VErrorBase::LocalizersMutex());
    fLocalizer = inLocalizer;
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

    // Still to come here: the system version check.

    // The international text library, then the process's default manager
    // for the user's dialect.
    if (!VIntlMgr::Init())
        return false;
    fDefaultIntlMgr = VIntlMgr::Create(0, 0, 1);
    if (fDefaultIntlMgr == nullptr)
        return false;

    // The file layer, the file kinds and resource files; still to come
    // here: the install folder check.
    if (!VFile::Init() || !VFileKindManager::Init() || !VResourceFile::Init())
        return false;

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
    VResourceFile::DeInit();
    VFileKindManager::DeInit();
    VFile::DeInit();
    // Still to come, in this order: the progress manager.
    ReleaseRefCountable(fDefaultIntlMgr);
    fDefaultIntlMgr = nullptr;
    // The logger stops here once it exists; the international text library
    // is the very last to go.
    VIntlMgr::ICU_Cleanup();
}

}  // namespace qelt
