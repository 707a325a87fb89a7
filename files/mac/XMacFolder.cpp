#include "files/mac/XMacFolder.h"

#include "files/VFileError.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "platform/PlatFile.h"
#include "platform/PlatFileOps.h"
#include "platform/PlatFolders.h"
#include "platform/PlatTrash.h"
#include "runtime/VErrorBase.h"

#include <unistd.h>

namespace qelt {

namespace {

VError Native(int inErrno)
{
    return inErrno == 0 ? VE_OK : PosixError(inErrno);
}

std::string PosixText(const VFilePath& inPath)
{
    VString posix;
    inPath.GetPosixPath(posix);
    std::string bytes;
    XMacFile::EncodePathText(posix.GetCPointer(), posix.GetLength(), bytes);
    return bytes;
}

}  // namespace

XMacFolder::XMacFolder(const char* inPosixPath)
{
    if (inPosixPath != nullptr) {
        fPosixPath = inPosixPath;
        fKnown = true;
    }
}

XMacFolder::~XMacFolder() = default;

void XMacFolder::Init(VFolder* inOwner)
{
    fOwner = inOwner;
    if (!fKnown && inOwner != nullptr)
        fPosixPath = PosixText(inOwner->GetPath());
    fKnown = true;
}

VError XMacFolder::GetPosixPath(VString& outPath) const
{
    XMacFile::DecodePathBytes(fPosixPath.data(), fPosixPath.size(), outPath);
    return VE_OK;
}

VError XMacFolder::Create() const
{
    return Native(plat::MakeFolder(fPosixPath.c_str(), 0755));
}

VError XMacFolder::Delete() const
{
    return Native(plat::RemoveFolderOrLink(fPosixPath.c_str()));
}

bool XMacFolder::Exists(bool inFollowLinks) const
{
    plat::FolderStatus status;
    return plat::GetFolderStatus(fPosixPath.c_str(), inFollowLinks, status) == 0 && status.isFolder;
}

VError XMacFolder::MoveToTrash() const
{
    std::string path = fPosixPath;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return Native(plat::MoveToTrash(path.c_str()));
}

VError XMacFolder::RevealInFinder() const
{
    return Native(plat::RevealFolder(fPosixPath.c_str()));
}

VError XMacFolder::IsHidden(bool& outHidden) const
{
    outHidden = false;
    plat::FolderStatus status;
    int err = plat::GetFolderStatus(fPosixPath.c_str(), true, status);
    if (err != 0)
        return Native(err);
    outHidden = XMacFile::PosixNameBeginsWithDot(fPosixPath.c_str());
    return VE_OK;
}

VError XMacFolder::Rename(const VString& inName, VFolder** outFolder) const
{
    if (outFolder != nullptr)
        *outFolder = nullptr;
    VFilePath newPath = fOwner->GetPath();
    if (!newPath.SetName(inName))
        return QeltError(614);
    VError err = XMacFile::RenamePath(fPosixPath.c_str(), newPath);
    if (err == VE_OK && outFolder != nullptr)
        *outFolder = new VFolder(newPath, fOwner->GetFileSystem());
    return err;
}

VError XMacFolder::Move(const VFolder& inDestination, const VString* inName, VFolder** outFolder) const
{
    if (outFolder != nullptr)
        *outFolder = nullptr;
    VString name;
    if (inName != nullptr && !inName->IsEmpty())
        name = *inName;
    else
        fOwner->GetName(name);
    VFilePath target = inDestination.GetPath();
    target.ToSubFolder(name);
    std::string from = fPosixPath;
    while (from.size() > 1 && from.back() == '/')
        from.pop_back();
    std::string to = PosixText(target);
    while (to.size() > 1 && to.back() == '/')
        to.pop_back();
    int err = plat::MovePath(from.c_str(), to.c_str(), false);
    if (err == 0 && outFolder != nullptr)
        *outFolder = new VFolder(target, inDestination.GetFileSystem());
    return Native(err);
}

VError XMacFolder::CopyToNonExistingFolder(const VFolder& inDestination, const VString& inName, bool inReplace) const
{
    VFilePath target = inDestination.GetPath();
    target.ToSubFolder(inName);
    std::string to = PosixText(target);
    while (to.size() > 1 && to.back() == '/')
        to.pop_back();
    return Native(plat::CopyTree(fPosixPath.c_str(), to.c_str(), inReplace));
}

VError XMacFolder::SetTimeAttributes(const VTime* inModification, const VTime* inCreation,
                                     const VTime* inAccess) const
{
    return XMacFile::SetTimeAttributes(fPosixPath.c_str(), inModification, inCreation, inAccess);
}

VError XMacFolder::GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const
{
    return XMacFile::GetTimeAttributes(fPosixPath.c_str(), true, outModification, outCreation, outAccess);
}

VError XMacFolder::GetVolumeCapacity(long long* outTotal) const
{
    long long freeBytes = 0;
    return XMacFile::GetVolumeFreeSpace(fPosixPath.c_str(), &freeBytes, outTotal, false, nullptr);
}

VError XMacFolder::GetVolumeFreeSpace(long long* outFree, bool inWithQuotas) const
{
    long long total = 0;
    return XMacFile::GetVolumeFreeSpace(fPosixPath.c_str(), outFree, &total, inWithQuotas, nullptr);
}

VError XMacFolder::MakeWritableByAll() const
{
    return Native(plat::SetFolderMode(fPosixPath.c_str(), 0777));
}

VError XMacFolder::GetPermissions(unsigned short* outMode) const
{
    plat::FolderStatus status;
    int err = plat::GetFolderStatus(fPosixPath.c_str(), true, status);
    if (outMode != nullptr)
        *outMode = err == 0 ? static_cast<unsigned short>(status.mode & 0777) : 0;
    return Native(err);
}

VError XMacFolder::SetPermissions(unsigned short inMode) const
{
    return Native(plat::SetFolderMode(fPosixPath.c_str(), inMode & 0777));
}

bool XMacFolder::IsWritableByAll() const
{
    plat::FolderStatus status;
    return plat::GetFolderStatus(fPosixPath.c_str(), true, status) == 0 && (status.mode & 0222) != 0;
}

bool XMacFolder::IsTraversable() const
{
    unsigned int permission = 0;
    return XMacFile::GetEffectivePermission(fPosixPath.c_str(), permission) == VE_OK && (permission & 1) != 0;
}

VError XMacFolder::GetFolderAttributes(unsigned int& outAttributes) const
{
    return XMacFile::GetPathAttributes(fPosixPath.c_str(), true, outAttributes);
}

VError XMacFolder::SetFolderAttributes(unsigned int inAttributes) const
{
    return XMacFile::SetPathAttributes(fPosixPath.c_str(), true, inAttributes);
}

bool XMacFolder::IsPackage() const
{
    return plat::IsPackageFolder(fPosixPath.c_str());
}

VError XMacFolder::GetOwner(unsigned int& outUid, unsigned int& outGid) const
{
    plat::FolderStatus status;
    int err = plat::GetFolderStatus(fPosixPath.c_str(), true, status);
    outUid = status.owner;
    outGid = status.group;
    return Native(err);
}

VError XMacFolder::DeleteForced() const
{
    int restoreError = 0;
    int err = plat::DeleteTreeForced(fPosixPath.c_str(), restoreError);
    if (restoreError != 0 && fOwner != nullptr)
        WrapFileError(fOwner->GetPath(), PosixError(restoreError), VE_CANNOT_SET_FOLDER_PERMISSIONS);
    return Native(err);
}

VError XMacFolder::RetainSystemFolder(int inKind, bool inCreate, VFolder** outFolder)
{
    *outFolder = nullptr;
    std::string path;
    int err = plat::GetSystemFolderPath(inKind, inCreate, path);
    if (path.empty())
        return VE_OK;
    VFilePath folderPath;
    XMacFile::GetFilePathFromPosixPath(path.c_str(), true, folderPath);
    if (folderPath.IsValid())
        *outFolder = new VFolder(path.c_str(), folderPath, nullptr);
    return Native(err);
}

}  // namespace qelt
