// The interface of folders, and the accessor that folder walks hand to their
// callback for each entry.
#pragma once

#include <functional>
#include <vector>

#include "files/IFileSystemObject.h"
#include "kernel/IRefCountable.h"

namespace qelt {

class IFile;
class VTime;

// What a folder walk's callback may ask of the entry it is called for: its
// times (those of a resolved link's target), and the entry as a file or a
// folder object (the other one is null). Neither object is retained for the
// callback: retain what must outlive the call.
class IFileAttributeAccessor {
public:
    virtual VError GetTime(VTime* outModification, VTime* outCreation, VTime* outAccess) = 0;
    virtual IFile* GetFile() = 0;
    virtual IFolder* GetFolder() = 0;
    virtual ~IFileAttributeAccessor() = default;
};

class IFolder : public IFileSystemObject {
public:
    ~IFolder() override = default;

    // A folder named by a path text relative to this one; a null file
    // system means this folder's own. Null when the text does not name a
    // folder, or names one outside the file system.
    virtual IFolder* RetainRelativeFolder(const VString& inRelativePath, FilePathStyle inStyle,
                                          VFileSystem* inFileSystem = nullptr) const = 0;
    // Appends the visible files and subfolders (either vector may be null).
    virtual void GetElements(std::vector<VRefPtr<IFile>>* outFiles, std::vector<VRefPtr<IFolder>>* outFolders) const = 0;
    // Walks the folder with the iteration options (1 recurse, 2 folders,
    // 4 files, 8 invisible entries, 16 links resolved).
    virtual void Iterate(std::function<bool(IFileAttributeAccessor*)>&& inCallback, unsigned int inOptions) const = 0;
    virtual IFile* _RetainRelativeIFile(const VString& inRelativePath, FilePathStyle inStyle) const = 0;

    // The folder's name without its extension.
    virtual void GetNameWithoutExtension(VString& outName) const;

    // Whether the other folder names the same path, compared unit for unit
    // (names on Linux are compared byte for byte); false for null.
    bool IsSameFolder(const IFolder* inOther) const;
};

}  // namespace qelt
