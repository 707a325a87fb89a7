// The toolbox's handle on one file: a reference-counted object naming the
// file by a path (building one touches nothing on disk) and carrying its
// platform part, which does the work. Every operation turns a native
// failure into a file error with named parameters on the current task's
// error stack. Operations never change the VFile: a rename or move hands out
// a new file for the new place.
#pragma once

#include <atomic>
#include <cstddef>

#include "files/IFile.h"
#include "files/VFileDesc.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "kernel/VObject.h"

namespace qelt {

class VFileKind;
class VFileSystem;
class VFolder;
class VTime;
class VURL;

// One answer of the volume free-space query; never changed after creation.
class VVolumeInfo : public VObject, public IRefCountable {
public:
    VVolumeInfo(uint32_t inStamp, bool inWithQuotas, long long inFree, long long inTotal)
        : fStamp(inStamp), fWithQuotas(inWithQuotas), fFree(inFree), fTotal(inTotal)
    {
    }
    const uint32_t fStamp;
    const bool fWithQuotas;
    const long long fFree;
    const long long fTotal;
};

class VFile : public VObject, public IFile {
public:
    explicit VFile(const VFilePath& inPath);
    VFile(const VFilePath& inFolderPath, const VString& inRelativePath, FilePathStyle inStyle);
    VFile(const VString& inFullPath, FilePathStyle inStyle);
    explicit VFile(const VURL& inURL);
    // The platform part keeps the given POSIX text (folder listings build files so).
    VFile(const char* inPosixPath, const VFilePath& inPath);
    // Bound to a named file system (retained; null for none).
    VFile(const VFilePath& inPath, VFileSystem* inFileSystem);
    VFile(const char* inPosixPath, const VFilePath& inPath, VFileSystem* inFileSystem);
    // A file relative to a folder; it keeps the folder's file system only
    // when it lies inside the file system's root.
    VFile(const VFolder& inFolder, const VString& inRelativePath, FilePathStyle inStyle);
    VFile(const VFile& inOther);
    VFile& operator=(const VFile&) = delete;
    ~VFile() override;

    static bool Init() { return true; }
    static void DeInit() {}

    // ---- Paths and identity -------------------------------------------------
    VFilePath GetPath() const override { return fPath; }
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    void GetPlatformPath(VString& outPath, FilePathStyle inStyle) const override;
    VString GetPathWithFileSystem() const override;
    IFolder* RetainParentFolder(bool inFileSystemOnly) const override;
    // The file URL's absolute text; 0.
    VError GetURL(VString& outURL, bool inEncoded) const;
    // The URL without the base folder's URL when it begins with it (compared
    // unit for unit); the whole URL otherwise. Returns 0.
    VError GetRelativeURL(VFolder* inBase, VString& outURL, bool inEncoded) const;
    // The two path texts are equal (diacritics ignored).
    bool IsSameFile(const VFile* inOther) const;
    const XMacFile& GetMacFile() const { return fMacFile; }

    // ---- Existence and size ---------------------------------------------------
    // A regular file or a symbolic link (even a dangling one) at a file path.
    bool Exists() const override;
    VError GetSize(long long* outSize) const override;
    bool HasResourceFork() const { return fMacFile.HasResourceFork(); }
    VError GetResourceForkSize(long long* outSize) const;

    // ---- Opening and creating ---------------------------------------------------
    // *outDesc is a new descriptor, or null after a failure (602, "access",
    // "options").
    VError Open(FileAccess inAccess, VFileDesc** outDesc, unsigned int inOptions = 0) const;
    // An existing file fails (EEXIST then 607) unless kFileOptionReplace.
    VError Create(unsigned int inOptions = 0) const;

    // ---- Copying, moving, renaming, deleting --------------------------------------
    // A folder path as destination receives this file's name; an existing
    // destination is replaced only with kFileOptionReplace, by a rename once
    // the new copy is complete. A copy onto the file itself is refused.
    VError CopyTo(const VFilePath& inDest, VFile** outFile, unsigned int inOptions = 0) const;
    VError CopyTo(const VFile& inDest, unsigned int inOptions = 0) const override;
    // Into the folder, under this file's name, in the folder's file system.
    VError CopyTo(const VFolder& inDest, VFile** outFile, unsigned int inOptions = 0) const override;
    VError CopyFrom(const VFile& inSource, unsigned int inOptions = 0) const;
    // Never replaces an existing item without kFileOptionReplace.
    VError Move(const VFilePath& inDest, VFile** outFile, unsigned int inOptions = 0) const;
    VError Move(const VFile& inDest, unsigned int inOptions = 0) const;
    VError Move(const VFolder& inDest, VFile** outFile, unsigned int inOptions = 0) const;
    VError Rename(const VString& inNewName, VFile** outFile) const;
    // A missing file: 0 and nothing happens. An invalid path: 604.
    VError Delete() const override;
    VError MoveToTrash() const;

    // ---- Content ---------------------------------------------------------------------
    // Only regular files are read (a FIFO or device gives 'POSX' EINVAL, never a wait).
    VError GetContent(VMemoryBuffer<1024, 2, 1048576>& ioBuffer) const override;
    VError GetData(void* outBuffer, size_t inCount, size_t* outCount) const override;
    // Creates missing parent folders first. The new content is written beside
    // the file and renamed over it; a file locked elsewhere is refused.
    VError SetContent(const void* inData, size_t inSize) const override;
    VError AppendContent(const void* inData, size_t inSize) const override;
    // Whether the file opens for reading and writing now; raises nothing.
    bool IsWritable() const override;

    // ---- Attributes, permissions, links -------------------------------------------
    VError GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const override;
    VError SetTimeAttributes(const VTime* inModification, const VTime* inCreation, const VTime* inAccess) const;
    VError GetFileAttributes(unsigned int& outAttributes) const;
    VError SetFileAttributes(unsigned int inAttributes) const;
    VError MAC_GetKind(unsigned int* outType) const;
    VError MAC_SetKind(unsigned int inType) const;
    VError MAC_GetCreator(unsigned int* outCreator) const;
    VError MAC_SetCreator(unsigned int inCreator) const { return fMacFile.SetCreator(inCreator); }
    VError Mac_GetOwner(unsigned int& outUid, unsigned int& outGid) const;
    VError MAC_GetPermissions(unsigned short* outMode) const;
    VError MAC_SetPermissions(unsigned short inMode) const;
    VError MAC_MakeWritableByAll() const;
    bool MAC_IsWritableByAll() const { return fMacFile.IsWritableByAll(); }
    void MAC_SetExtensionVisible(bool inVisible) const { fMacFile.SetExtensionVisible(inVisible); }
    bool MAC_IsSymbolicLink() const { return fMacFile.IsSymbolicLink(); }
    // A failure is raised as a plain error with the platform's code.
    VError MAC_CreateSymbolicLink(const VFilePath& inTarget, bool inAbsolute) const;
    VError Unlock() const { return fMacFile.Unlock(); }
    bool RevealInFinder() const;

    // ---- Aliases (symbolic links) --------------------------------------------------
    bool IsAliasFile() const { return fMacFile.IsAliasFile(); }
    // outTarget is cleared after a failure (611).
    VError ResolveAlias(VFilePath& outTarget) const;
    VError CreateAlias(const VFilePath& inTarget, const VFilePath* inRelativeTo) const;
    // Replaces *ioFile, when it is an alias of a file, by a new file on the
    // target. An alias of a folder raises 617; a broken one 611; with
    // inDeleteInvalidAlias both are deleted instead.
    static VError ResolveAliasFile(VFile** ioFile, bool inDeleteInvalidAlias);
    static VError ResolveAliasFile(VRefPtr<VFile>& ioFile, bool inDeleteInvalidAlias);
    // The file at inRelativePath in inFolder, replaced by its target when it
    // is an alias of a file (one reference for the caller). An alias that
    // leads to a folder or nowhere is deleted and the file on its path, now
    // absent, is returned; null when that deletion fails.
    static VFile* CreateAndResolveAlias(const VFolder& inFolder, const VString& inRelativePath,
                                        FilePathStyle inStyle);

    // ---- Kinds ------------------------------------------------------------------------
    bool ConformsTo(const VFileKind& inKind) const;
    bool ConformsTo(const VString& inKindID) const;

    // ---- Others -----------------------------------------------------------------------
    // With inMaxAgeMs 0 the platform is asked; otherwise an answer younger
    // than that for the same quota flag is reused. 0 and 0 after a failure.
    VError GetVolumeFreeSpace(long long* outFree, long long* outTotal, bool inWithQuotas = true,
                              unsigned int inMaxAgeMs = 0, const VFileDesc* inDesc = nullptr) const;
    // A new empty file "qlt_" + 32 upper-case hexadecimal digits in the
    // temporary folder ($TMPDIR, else /tmp); null when it cannot be made.
    static VFile* CreateTemporaryFile();

private:
    VError _Wrap(VError inResult, VError inFallback) const;
    // This file's file system when the destination lies in its root, else none.
    VFileSystem* _FileSystemFor(const VFilePath& inDest) const;
    VError _CopyTo(const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile, unsigned int inOptions) const;
    VError _Move(const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile, unsigned int inOptions) const;
    // Opens for a whole-content read: regular files only, never waiting.
    VError _OpenForContent(VFileDesc** outDesc) const;
    VError _MakeParentFolders() const;
    VError _WriteContent(const void* inData, size_t inSize, bool inAppend) const;

    XMacFile fMacFile;
    VFilePath fPath;
    VFileSystem* fFileSystem = nullptr;
    mutable std::atomic<VVolumeInfo*> fVolumeInfo{nullptr};
};

}  // namespace qelt
