// A folder named by a path in the toolbox's own ':' form, optionally inside
// a named file system, with the operations that touch the disk. A folder
// object is an identity, not an open handle: constructing one touches
// nothing, every operation goes to the disk when called, and after a rename
// or a move the object keeps its old path (the operation hands back a new
// object for the new one). Failures of the layer below become file errors
// that name this folder.
//
// A folder with a file system is confined to it: relatives outside the file
// system's root lose it or are refused.
#pragma once

#include <functional>
#include <vector>

#include "files/IFolder.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFolder.h"
#include "kernel/VObject.h"

namespace qelt {

class VFile;
class VFileSystem;

// The standard folders (numbers as in plat::GetSystemFolderPath).
enum ESystemFolderKind {
    eFK_Executable = 0,
    eFK_UserDocuments = 1,
    eFK_Temporary = 2,
    eFK_CommonPreferences = 4,
    eFK_UserPreferences = 5,
    eFK_CommonApplicationData = 6,
    eFK_UserApplicationData = 7,
    eFK_Desktop = 8,
    eFK_Applications = 9,
    eFK_CommonCache = 10,
    eFK_UserCache = 11,
    eFK_Library = 12,
    eFK_Home = 13
};

// The folder errors.
constexpr VError VE_FOLDER_NOT_EMPTY = QeltError(651);
constexpr VError VE_CANNOT_CREATE_FOLDER = QeltError(652);
constexpr VError VE_CANNOT_DELETE_FOLDER = QeltError(653);
constexpr VError VE_CANNOT_GET_FOLDER_INFO = QeltError(654);
constexpr VError VE_CANNOT_SET_FOLDER_PERMISSIONS = QeltError(655);
constexpr VError VE_CANNOT_RENAME_FOLDER = QeltError(657);
constexpr VError VE_CANNOT_SET_FOLDER_TIMES = QeltError(608);
constexpr VError VE_CANNOT_RESOLVE_ALIAS = QeltError(611);
constexpr VError VE_ALIAS_NOT_A_FOLDER = QeltError(618);
constexpr VError VE_CANNOT_COPY_FOLDER_INTO_ITSELF = QeltError(660);
constexpr VError VE_CANNOT_TRASH_FOLDER = QeltError(661);

// Options of CopyTo and CopyContentsTo.
constexpr unsigned int kFolderCopyReplace = 4;     // the copy replaces the destination once complete
constexpr unsigned int kFolderCopyKeepGoing = 8;   // go on after a failure, return the first
constexpr unsigned int kFolderCopyVisibleOnly = 16;  // leave out invisible items

// Options of the iterators and of Iterate.
constexpr unsigned int kIterateRecursive = 1;
constexpr unsigned int kIterateFolders = 2;
constexpr unsigned int kIterateFiles = 4;
constexpr unsigned int kIterateInvisible = 8;
constexpr unsigned int kIterateResolveLinks = 16;

class VFolder : public VObject, public IFolder {
public:
    VFolder(const VFilePath& inPath, VFileSystem* inFileSystem = nullptr);
    VFolder(const VFolder& inOther);
    VFolder(const VString& inFullPath, FilePathStyle inStyle);
    // A folder named relative to a parent, inheriting its file system when
    // it stays inside the file system's root.
    VFolder(const VFolder& inParent, const VString& inRelativePath, FilePathStyle inStyle);
    // Used by the iterators, which already know both forms of the path.
    VFolder(const char* inPosixPath, const VFilePath& inPath, VFileSystem* inFileSystem);
    ~VFolder() override;
    VFolder& operator=(const VFolder&) = delete;

    // ---- Paths and identity -------------------------------------------
    VFilePath GetPath() const override { return fPath; }
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    void GetPlatformPath(VString& outPath, FilePathStyle inStyle) const override;
    VString GetPathWithFileSystem() const override;
    // The folder's file URL; the flag asks for the encoded form. Returns 0.
    VError GetURL(VString& outURL, bool inEncoded) const;
    // The URL without the base folder's URL when it begins with it (compared
    // unit for unit); the whole URL otherwise. Returns 0.
    VError GetRelativeURL(VFolder* inBase, VString& outURL, bool inEncoded) const;
    // Removes the base folder's URL (the flag as for GetURL) from the start
    // of the URL when it begins with it, unit for unit; files share it.
    static void _RemoveBaseURL(const VFolder* inBase, VString& ioURL, bool inEncoded);

    // ---- Relatives -------------------------------------------------------
    VFolder* RetainParentFolder(bool inSameFileSystemOnly = false) const override;
    // A folder on the path (a relative's): bound to the file system when it
    // authorises the path; else unbound, or null when inSameFileSystemOnly
    // and there is a file system.
    static VFolder* RetainFolderInFileSystem(const VFilePath& inPath, VFileSystem* inFileSystem,
                                             bool inSameFileSystemOnly);
    VFolder* RetainRelativeFolder(const VString& inRelativePath, FilePathStyle inStyle,
                                  VFileSystem* inFileSystem = nullptr) const override;
    VFile* RetainRelativeFile(const VString& inRelativePath, FilePathStyle inStyle) const;
    IFile* _RetainRelativeIFile(const VString& inRelativePath, FilePathStyle inStyle) const override;
    static VFolder* RetainSystemFolder(ESystemFolderKind inKind, bool inCreate);
    // Symbolic links stand for aliases on this platform.
    static VError ResolveAliasFolder(VFolder** ioFolder, bool inDeleteInvalidAlias);
    static VFolder* CreateAndResolveAlias(const VFolder& inParent, const VString& inName);

    // ---- Existence and changes on disk ----------------------------------
    bool Exists() const override;
    VError Create() const;
    VError CreateRecursive(bool inMakeWritableByAll = false) const;
    VError Delete(bool inRemoveContent) const;
    VError DeleteForced() const;
    VError MoveToTrash() const;
    VError Rename(const VString& inName, VFolder** outFolder) const;
    VError Move(VFolder& inDestination, VFolder** outFolder) const;
    VError Move(VFolder& inDestination, const VString& inName, VFolder** outFolder) const;
    VError MakeWritableByAll() const;

    // ---- Attributes --------------------------------------------------------
    VError GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const override;
    VError SetTimeAttributes(const VTime* inModification, const VTime* inCreation, const VTime* inAccess) const;
    VError GetVolumeCapacity(long long* outTotal) const;
    VError GetVolumeFreeSpace(long long* outFree, bool inWithQuotas = true) const;
    VError GetFolderAttributes(unsigned int& outAttributes) const;
    VError SetFolderAttributes(unsigned int inAttributes) const;
    VError IsHidden(bool& outHidden) const;
    bool IsWritableByAll() const;
    bool MAC_IsPackage() const;
    VError MAC_SetPermissions(unsigned short inMode) const;
    VError MAC_GetPermissions(unsigned short* outMode) const;
    VError Mac_GetOwner(unsigned int& outUid, unsigned int& outGid) const;

    // ---- Contents and copying --------------------------------------------
    // True for a missing folder; invisible entries count.
    bool IsEmpty() const;
    // True also removes subfolders; false removes the files only.
    VError DeleteContents(bool inRemoveFolders) const;
    void GetContents(std::vector<VRefPtr<VFile>>* outFiles, std::vector<VRefPtr<VFolder>>* outFolders) const;
    void GetElements(std::vector<VRefPtr<IFile>>* outFiles, std::vector<VRefPtr<IFolder>>* outFolders) const override;
    void Iterate(std::function<bool(IFileAttributeAccessor*)>&& inCallback, unsigned int inOptions) const override;
    VError CopyTo(VFolder& inDestination, VFolder** outFolder, unsigned int inOptions) const;
    VError CopyTo(VFolder& inDestination, const VString& inName, VFolder** outFolder, unsigned int inOptions) const;
    VError CopyContentsTo(VFolder& inDestination, unsigned int inOptions) const;
    bool RevealInFinder(bool inSelectFirstItem = false) const;

    const XMacFolder& GetPlatform() const { return fPlatform; }

private:
    VError _Wrap(VError inResult, VError inFallback) const;
    // 660 when the target is this folder or lies inside it (or, with
    // inRefuseHolder, holds it), by exact path or by device and inode.
    VError _CheckCopyDestination(const VFolder& inDestinationFolder, const VFilePath& inTarget,
                                 bool inRefuseHolder) const;
    VError _CopyReplacing(const VFolder& inTarget, const VFolder& inDestination, const VString& inName,
                          unsigned int inOptions) const;

    XMacFolder fPlatform;
    VFilePath fPath;
    VFileSystem* fFileSystem = nullptr;
};

}  // namespace qelt
