#include "files/VFileSystem.h"

#include "files/IFolder.h"
#include "files/VFolder.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"

namespace qelt {

VFileSystem* VFileSystem::Create(const VString& inName, IFolder* inRoot, unsigned int inFlags, unsigned long inQuota,
                                 unsigned long inUsed, VError* outError)
{
    bool valid = !inName.IsEmpty();
    for (int i = 1; valid && i <= inName.GetLength(); ++i)
        valid = inName.GetUniChar(i) != '/';
    if (!valid) {
        VErrorBase* error = new VErrorBase(VE_FILE_SYSTEM_INVALID_NAME);
        error->GetBag()->SetAttribute("name", inName);
        _PushRetainedError(error, VE_OK);
        if (outError != nullptr)
            *outError = VE_FILE_SYSTEM_INVALID_NAME;
        return nullptr;
    }
    if (outError != nullptr)
        *outError = VE_OK;
    return new VFileSystem(inName, inRoot, inFlags, inQuota, inUsed);
}

VFileSystem::VFileSystem(const VString& inName, IFolder* inRoot, unsigned int inFlags, unsigned long inQuota,
                         unsigned long inUsed)
    : fName(inName),
      fRoot(inRoot),
      fQuota(inQuota),
      fFlags(inFlags),
      fAvailable(inQuota > inUsed ? inQuota - inUsed : 0)  // more in use than the quota leaves nothing, never wraps
{
    if (fRoot != nullptr)
        fRoot->Retain();
}

VFileSystem::~VFileSystem()
{
    if (fFlags & kFileSystemTemporary) {
        VFolder* folder = dynamic_cast<VFolder*>(fRoot);
        if (folder != nullptr && folder->Exists()) {
            StErrorContextInstaller keepNothing(false, true);
            folder->Delete(true);
        }
    }
    if (fRoot != nullptr)
        fRoot->Release();
}

VFilePath VFileSystem::GetRoot() const
{
    return fRoot != nullptr ? fRoot->GetPath() : VFilePath();
}

IFolder* VFileSystem::RetainRootFolder() const
{
    if (fRoot == nullptr)
        return nullptr;
    return fRoot->RetainRelativeFolder(VString(), FPS_POSIX, const_cast<VFileSystem*>(this));
}

VError VFileSystem::Request(unsigned long inBytes)
{
    if (!IsWritable())
        return VE_FILE_SYSTEM_READ_ONLY;
    if (fQuota == 0)
        return VE_OK;
    if (fAvailable < inBytes)
        return VE_FILE_SYSTEM_QUOTA_EXCEEDED;
    fAvailable -= inBytes;
    return VE_OK;
}

VError VFileSystem::Relinquish(unsigned long inBytes)
{
    if (!IsWritable())
        return VE_FILE_SYSTEM_READ_ONLY;
    if (fQuota != 0) {
        // Never beyond the quota: giving back more than was taken is a caller's slip.
        fAvailable = (inBytes > fQuota - fAvailable) ? fQuota : fAvailable + inBytes;
    }
    return VE_OK;
}

bool VFileSystem::IsAuthorized(const VFilePath& inPath) const
{
    return fRoot != nullptr && inPath.IsSameOrChildOf(fRoot->GetPath());
}

VString VFileSystem::GetPathWithFileSystem(const VFilePath& inPath, const VFileSystem* inFileSystem)
{
    VString text;
    VString relative;
    if (inFileSystem != nullptr && inPath.GetRelativePosixPath(inFileSystem->GetRoot(), relative)) {
        text.AppendUniChar('/');
        text.AppendString(inFileSystem->GetName());
        text.AppendUniChar('/');
        text.AppendString(relative);
        return text;
    }
    inPath.GetPosixPath(text);
    return text;
}

}  // namespace qelt
