// The process object's services that lower floors declare at their own level
// (kernel/VProcessServices.h, runtime/VProcessServices_runtime.h,
// json/VProcessServices_json.h), read through VProcess::sInstance.
#include "kernel/VProcessServices.h"

#include "files/VFile.h"
#include "json/VJSONObject.h"
#include "json/VProcessServices_json.h"
#include "process/VProcess.h"
#include "runtime/VProcessServices_runtime.h"

namespace qelt {

bool ProcessObjectExists()
{
    return VProcess::sInstance != nullptr;
}

ILogger* GetProcessLogger()
{
    return VProcess::sInstance != nullptr ? VProcess::sInstance->GetLogger() : nullptr;
}

VIntlMgr* GetProcessDefaultIntlMgr()
{
    return VProcess::sInstance != nullptr ? VProcess::sInstance->GetDefaultIntlMgr() : nullptr;
}

bool GetProcessLogSourceIdentifier(VString& outSource)
{
    if (VProcess::sInstance == nullptr)
        return false;
    outSource = VProcess::sInstance->GetLogSourceIdentifier();
    return true;
}

VFile* RetainProcessFile(unsigned int inKind, const VString& inName)
{
    return VProcess::sInstance != nullptr ? VProcess::sInstance->RetainFile(inKind, inName) : nullptr;
}

unsigned int GetProcessInitFlags(const VProcess& inProcess)
{
    return inProcess.GetInitFlags();
}

VJSONClassStore* GetProcessClassStore()
{
    return VProcess::sInstance != nullptr ? VProcess::sInstance->GetClassStore() : nullptr;
}

VRefPtr<VJSONObject> GetProcessClassObject(const VString& inStoreName, const VString& inClassName)
{
    if (VProcess::sInstance == nullptr)
        return VRefPtr<VJSONObject>();
    return VProcess::sInstance->GetClassObject(inStoreName, inClassName);
}

}  // namespace qelt
