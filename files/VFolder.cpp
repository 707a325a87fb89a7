#include "files/VFolder.h"

#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileSystem.h"
#include "files/VURL.h"
#include "files/mac/XMacFile.h"
#include "platform/PlatFile.h"
#include "platform/PlatFolders.h"

#include <string>
#include <vector>

namespace qelt {

namespace {

// The relative text completed with the style's folder separator, so that it
// always names a folder.
VString AsFolderText(const VString& inText, FilePathStyle inStyle)
{
    VString text(inText);
    const UniChar separator = inStyle == FPS_SYSTEM ? ':' : '/';
    if (!text.IsEmpty() && text.GetUniChar(text.GetLength()) != separator)
        text.AppendUniChar(separator);
    return text;
}

}  // namespace

// ---- Construction ------------------------------------------------------------

VFolder::VFolder(const VFilePath& inPath, VFileSystem* inFileSystem) : fPath(inPath), fFileSystem(inFileSystem)
{
    if (fFileSystem != nullptr)
        fFileSystem->Retain();
    fPlatform.Init(this);
}

VFolder::VFolder(const VFolder& inOther)
    : VObject(), IFolder(), fPath(inOther.GetPath()), fFileSystem(inOther.GetFileSystem())
{
    if (fFileSystem != nullptr)
        fFileSystem->Retain();
    fPlatform.Init(this);
}

VFolder::VFolder(const VString& inFullPath, FilePathStyle inStyle)
{
    fPath.FromFullPath(inFullPath, inStyle);
    fPlatform.Init(this);
}

VFolder::VFolder(const VFolder& inParent, const VString& inRelativePath, FilePathStyle inStyle)
    : fFileSystem(inParent.GetFileSystem())
{
    if (fFileSystem != nullptr)
        fFileSystem->Retain();
    fPath.FromRelativePath(inParent.GetPath(), AsFolderText(inRelativePath, inStyle), inStyle, fFileSystem != nullptr);
    if (fFileSystem != nullptr && !fPath.IsSameOrChildOf(fFileSystem->GetRoot())) {
        fFileSystem->Release();
        fFileSystem = nullptr;
    }
    fPlatform.Init(this);
}

VFolder::VFolder(const char* inPosixPath, const VFilePath& inPath, VFileSystem* inFileSystem)
    : fPlatform(inPosixPath), fPath(inPath), fFileSystem(inFileSystem)
{
    if (fFileSystem != nullptr)
        fFileSystem->Retain();
    fPlatform.Init(this);
}

VFolder::~VFolder()
{
    if (fFileSystem != nullptr)
        fFileSystem->Release();
}

VError VFolder::_Wrap(VError inResult, VError inFallback) const
{
    return WrapFileError(fPath, inResult, inFallback);
}

// ---- Paths and identity ------------------------------------------------------

void VFolder::GetPlatformPath(VString& outPath, FilePathStyle inStyle) const
{
    if (inStyle == FPS_SYSTEM)
        fPath.GetPath(outPath);
    else if (inStyle == FPS_POSIX)
        fPlatform.GetPosixPath(outPath);
    else
        outPath.Clear();
}

VString VFolder::GetPathWithFileSystem() const
{
    return VFileSystem::GetPathWithFileSystem(fPath, fFileSystem);
}

VError VFolder::GetURL(VString& outURL, bool inEncoded) const
{
    VURL(fPath).GetAbsoluteURL(outURL, inEncoded);
    return VE_OK;
}

VError VFolder::GetRelativeURL(VFolder* inBase, VString& outURL, bool inEncoded) const
{
    GetURL(outURL, inEncoded);
    _RemoveBaseURL(inBase, outURL, inEncoded);
    return VE_OK;
}

void VFolder::_RemoveBaseURL(const VFolder* inBase, VString& ioURL, bool inEncoded)
{
    if (inBase == nullptr)
        return;
    VString base;
    inBase->GetURL(base, inEncoded);
    if (!base.IsEmpty() && ioURL.BeginsWithRawString(base))
        ioURL.Remove(1, base.GetLength());
}

// ---- Relatives -----------------------------------------------------------------

VFolder* VFolder::RetainParentFolder(bool inSameFileSystemOnly) const
{
    VFilePath parent;
    if (!fPath.GetParent(parent))
        return nullptr;
    return RetainFolderInFileSystem(parent, fFileSystem, inSameFileSystemOnly);
}

VFolder* VFolder::RetainFolderInFileSystem(const VFilePath& inPath, VFileSystem* inFileSystem,
                                           bool inSameFileSystemOnly)
{
    if (inFileSystem != nullptr && inFileSystem->IsAuthorized(inPath))
        return new VFolder(inPath, inFileSystem);
    if (!inSameFileSystemOnly || inFileSystem == nullptr)
        return new VFolder(inPath, nullptr);
    return nullptr;
}

VFolder* VFolder::RetainRelativeFolder(const VString& inRelativePath, FilePathStyle inStyle,
                                       VFileSystem* inFileSystem) const
{
    VFileSystem* fileSystem = inFileSystem != nullptr ? inFileSystem : fFileSystem;
    VFilePath path;
    path.FromRelativePath(fPath, AsFolderText(inRelativePath, inStyle), inStyle, fileSystem != nullptr);
    if (!path.IsFolder())
        return nullptr;
    if (fileSystem != nullptr && !fileSystem->IsAuthorized(path))
        return nullptr;
    return new VFolder(path, fileSystem);
}

VFile* VFolder::RetainRelativeFile(const VString& inRelativePath, FilePathStyle inStyle) const
{
    VFilePath path(fPath, inRelativePath, inStyle, fFileSystem != nullptr);
    if (!path.IsFile())
        return nullptr;
    if (fFileSystem != nullptr && !fFileSystem->IsAuthorized(path))
        return nullptr;
    return new VFile(path, fFileSystem);
}

IFile* VFolder::_RetainRelativeIFile(const VString& inRelativePath, FilePathStyle inStyle) const
{
    return RetainRelativeFile(inRelativePath, inStyle);
}

VFolder* VFolder::RetainSystemFolder(ESystemFolderKind inKind, bool inCreate)
{
    VFolder* folder = nullptr;
    XMacFolder::RetainSystemFolder(static_cast<int>(inKind), inCreate, &folder);
    return folder;
}

VError VFolder::ResolveAliasFolder(VFolder** ioFolder, bool inDeleteInvalidAlias)
{
    if (ioFolder == nullptr || *ioFolder == nullptr || !(*ioFolder)->GetPath().IsFolder())
        return VE_OK;
    VFolder* folder = *ioFolder;
    if (folder->fPlatform.Exists(false))
        return VE_OK;
    VString text;
    folder->GetPath().GetPath(text);
    text.Truncate(text.GetLength() - 1);
    VRefPtr<VFile> alias = AdoptRef(new VFile(text, FPS_SYSTEM));
    if (!alias->IsAliasFile() || !alias->Exists())
        return VE_OK;
    VString posix;
    alias->GetPlatformPath(posix, FPS_POSIX);
    std::string bytes;
    XMacFile::EncodePathText(posix.GetCPointer(), posix.GetLength(), bytes);
    std::string target;
    bool isFolder = false;
    int err = plat::ResolveLink(bytes.c_str(), target, isFolder);
    if (err != 0) {
        if (inDeleteInvalidAlias)
            return alias->Delete();
        return WrapFileError(alias->GetPath(), PosixError(err), VE_CANNOT_RESOLVE_ALIAS);
    }
    if (!isFolder) {
        if (inDeleteInvalidAlias)
            return alias->Delete();
        _PushRetainedError(new VFileError(folder->GetPath(), VE_ALIAS_NOT_A_FOLDER), VE_OK);
        return VE_ALIAS_NOT_A_FOLDER;
    }
    VFilePath targetPath;
    XMacFile::GetFilePathFromPosixPath(target.c_str(), true, targetPath);
    folder->Release();
    *ioFolder = new VFolder(targetPath, nullptr);
    return VE_OK;
}

VFolder* VFolder::CreateAndResolveAlias(const VFolder& inParent, const VString& inName)
{
    VFolder* folder = inParent.RetainRelativeFolder(inName, FPS_SYSTEM, nullptr);
    if (folder == nullptr)
        return nullptr;
    if (ResolveAliasFolder(&folder, true) != VE_OK) {
        folder->Release();
        return nullptr;
    }
    return folder;
}

// ---- Existence and changes on disk -----------------------------------------

bool VFolder::Exists() const
{
    return fPath.IsFolder() && fPlatform.Exists(true);
}

VError VFolder::Create() const
{
    if (fPlatform.Exists(true))
        return VE_OK;
    return _Wrap(fPlatform.Create(), VE_CANNOT_CREATE_FOLDER);
}

VError VFolder::CreateRecursive(bool inMakeWritableByAll) const
{
    // The missing folders from this one outwards, then created inwards: no
    // recursion, whatever the depth.
    std::vector<VRefPtr<VFolder>> missing;
    VRefPtr<const VFolder> current(this);
    while (current.Get() != nullptr && !current->Exists()) {
        missing.push_back(VRefPtr<VFolder>(const_cast<VFolder*>(current.Get())));
        current = AdoptRef(static_cast<const VFolder*>(current->RetainParentFolder(false)));
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        VError err = (*it)->Create();
        if (err == VE_OK && inMakeWritableByAll)
            err = (*it)->MakeWritableByAll();
        if (err != VE_OK)
            return err;
    }
    return VE_OK;
}

VError VFolder::Delete(bool inRemoveContent) const
{
    // A link standing for a folder goes alone: what it points to is not ours.
    plat::FolderStatus status;
    if (plat::GetFolderStatus(fPlatform.GetPosixText(), false, status) == 0 && status.isLink)
        return _Wrap(fPlatform.Delete(), VE_CANNOT_DELETE_FOLDER);
    if (IsEmpty())
        return _Wrap(fPlatform.Delete(), VE_CANNOT_DELETE_FOLDER);
    if (!inRemoveContent)
        return ThrowFileRefusal(fPath, VE_FOLDER_NOT_EMPTY, [](VValueBag&) {});
    VError err = DeleteContents(true);
    if (err == VE_OK)
        err = fPlatform.Delete();
    return _Wrap(err, VE_CANNOT_DELETE_FOLDER);
}

VError VFolder::DeleteForced() const
{
    return _Wrap(fPlatform.DeleteForced(), VE_CANNOT_DELETE_FOLDER);
}

VError VFolder::MoveToTrash() const
{
    if (!fPlatform.Exists(true))
        return VE_OK;
    return _Wrap(fPlatform.MoveToTrash(), VE_CANNOT_TRASH_FOLDER);
}

VError VFolder::Rename(const VString& inName, VFolder** outFolder) const
{
    VError err = fPlatform.Rename(inName, outFolder);
    return WrapFileError(fPath, err, VE_CANNOT_RENAME_FOLDER,
                         [&](VValueBag& bag) { bag.SetAttribute("newname", inName); });
}

VError VFolder::Move(VFolder& inDestination, VFolder** outFolder) const
{
    return _Wrap(fPlatform.Move(inDestination, nullptr, outFolder), VE_CANNOT_RENAME_FOLDER);
}

VError VFolder::Move(VFolder& inDestination, const VString& inName, VFolder** outFolder) const
{
    return _Wrap(fPlatform.Move(inDestination, &inName, outFolder), VE_CANNOT_RENAME_FOLDER);
}

VError VFolder::MakeWritableByAll() const
{
    return _Wrap(fPlatform.MakeWritableByAll(), VE_CANNOT_SET_FOLDER_PERMISSIONS);
}

// ---- Attributes ------------------------------------------------------------------

VError VFolder::GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const
{
    return _Wrap(fPlatform.GetTimeAttributes(outModification, outCreation, outAccess), VE_CANNOT_GET_FOLDER_INFO);
}

VError VFolder::SetTimeAttributes(const VTime* inModification, const VTime* inCreation, const VTime* inAccess) const
{
    return _Wrap(fPlatform.SetTimeAttributes(inModification, inCreation, inAccess), VE_CANNOT_SET_FOLDER_TIMES);
}

VError VFolder::GetVolumeCapacity(long long* outTotal) const
{
    return _Wrap(fPlatform.GetVolumeCapacity(outTotal), VE_CANNOT_GET_FOLDER_INFO);
}

VError VFolder::GetVolumeFreeSpace(long long* outFree, bool inWithQuotas) const
{
    return _Wrap(fPlatform.GetVolumeFreeSpace(outFree, inWithQuotas), VE_CANNOT_GET_FOLDER_INFO);
}

VError VFolder::GetFolderAttributes(unsigned int& outAttributes) const
{
    return fPlatform.GetFolderAttributes(outAttributes);
}

VError VFolder::SetFolderAttributes(unsigned int inAttributes) const
{
    return fPlatform.SetFolderAttributes(inAttributes);
}

VError VFolder::IsHidden(bool& outHidden) const
{
    return fPlatform.IsHidden(outHidden);
}

bool VFolder::IsWritableByAll() const
{
    return fPlatform.IsWritableByAll();
}

bool VFolder::MAC_IsPackage() const
{
    return fPlatform.IsPackage();
}

VError VFolder::MAC_SetPermissions(unsigned short inMode) const
{
    return _Wrap(fPlatform.SetPermissions(inMode), VE_CANNOT_SET_FOLDER_PERMISSIONS);
}

VError VFolder::MAC_GetPermissions(unsigned short* outMode) const
{
    return _Wrap(fPlatform.GetPermissions(outMode), VE_CANNOT_GET_FOLDER_INFO);
}

VError VFolder::Mac_GetOwner(unsigned int& outUid, unsigned int& outGid) const
{
    return _Wrap(fPlatform.GetOwner(outUid, outGid), VE_CANNOT_GET_FOLDER_INFO);
}

}  // namespace qelt
