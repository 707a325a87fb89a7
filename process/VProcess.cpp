#include "process/VProcess.h"

#include <string>

#include "files/VFile.h"
#include "files/VFileKindManager.h"
#include "files/VResourceFile.h"
#include "kernel/VIntlMgr.h"
#include "platform/PlatBundle.h"
#include "process/VBootLogListener.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VErrorBase.h"
#include "runtime/VLogger.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess()
{
    std::string name;
    if (plat::GetMainBundleInfoValue("CFBundleName", name))
        fProductName.FromBlock(name.data(), name.size(), VTC_UTF_8);
}

VProcess::~VProcess()
{
    // The logger goes first, while its task can still be waited for.
    _ReleaseLogger();
    if (fInitDone)
        _DeInit();
}

VString VProcess::GetLogSourceIdentifier() const
{
    return fProductName;
}

bool VProcess::_CreateLogger()
{
    if (fLogger != nullptr)
        return true;
    VLogger* logger = new VLogger;
    fLogger = logger;
    fBootLogListener = new VBootLogListener;
    logger->AddLogListener(fBootLogListener);
    logger->Start();
    return true;
}

void VProcess::_ReleaseLogger()
{
    // No toolbox thread outlives the task manager: the logger's task is
    // stopped and, when this is the last reference, waited for until dead.
    if (fLogger != nullptr) {
        ILogger* logger = fLogger;
        fLogger = nullptr;
        logger->Stop();
        logger->Release();
    }
    ReleaseRefCountable(fBootLogListener);
    fBootLogListener = nullptr;
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
    if (!VDebugMgr::Get()->Init())
        return false;

    // Still to come, in this order: the progress manager, the built-in file
    // systems, the root class store.

    // With flag 0x10, the logger with its boot listener, last.
    if ((inFlags & 0x10) != 0 && !_CreateLogger())
        return false;
    return true;
}

void VProcess::_DeInit()
{
    sInstance = nullptr;
    VDebugMgr::Get()->DeInit();
    VErrorBase::DeInit();
    _ReleaseLogger();
    VTaskMgr::DeInit();
    VResourceFile::DeInit();
    VFileKindManager::DeInit();
    VFile::DeInit();
    // Still to come, in this order: the progress manager.
    ReleaseRefCountable(fDefaultIntlMgr);
    fDefaultIntlMgr = nullptr;
    // The international text library is the very last to go.
    VIntlMgr::ICU_Cleanup();
}

}  // namespace qelt
