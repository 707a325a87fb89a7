// The interfaces of files and folders and what is built once on top of them:
// name and extension queries, and the free functions that make any text safe
// as a file name by percent-encoding reserved characters. The JSON layer
// turns JSON values into files and folders and back through four hooks.
#pragma once

#include "files/VFilePath.h"
#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VString.h"

namespace qelt {

class IFile;
class IFolder;
class VFileSystem;
class VJSONValue;
class VTime;

class IFileSystemObject : public IRefCountable {
public:
    ~IFileSystemObject() override = default;

    virtual VFilePath GetPath() const = 0;
    // Not retained; null when the object belongs to no named file system.
    virtual VFileSystem* GetFileSystem() const = 0;
    // Style 0: the own ':' form; 1: the POSIX text; others: cleared.
    virtual void GetPlatformPath(VString& outPath, FilePathStyle inStyle) const = 0;
    virtual VString GetPathWithFileSystem() const = 0;
    virtual IFolder* RetainParentFolder(bool inFileSystemOnly) const = 0;
    virtual bool Exists() const = 0;
    virtual VError GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const = 0;

    // The last element of the path, its extension, and whether it ends with
    // that extension.
    void GetName(VString& outName) const;
    void GetExtension(VString& outExtension) const;
    bool MatchExtension(const VString& inExtension) const;
};

// Every UTF-16 unit 0x00-0x1F and each of " % * / : < > ? \ | becomes '%'
// and two upper-case hexadecimal digits; nothing else changes.
VString EncodeReservedFileCharacters(const VString& inText);
// Each '%' with at least two units after it takes them as a hexadecimal
// number (non-digits skipped) and is replaced, with them, by that unit.
VString DecodeReservedFileCharacters(const VString& inText);

// The JSON layer's hooks (null until set, null allowed).
using FileExtractor = IFile* (*)(const VJSONValue&);
using FolderExtractor = IFolder* (*)(const VJSONValue&);
using FileWrapper = VJSONValue (*)(IFile*);
using FolderWrapper = VJSONValue (*)(IFolder*);
void SetFileFolderExtractorAndWrapper(FileExtractor inFileExtractor, FolderExtractor inFolderExtractor,
                                      FileWrapper inFileWrapper, FolderWrapper inFolderWrapper);
// The hook's answer; null without a hook.
IFile* ExtractFile(const VJSONValue& inValue);
IFolder* ExtractFolder(const VJSONValue& inValue);
// The hook's answer; an undefined value without a hook.
VJSONValue WrapFile(IFile* inFile);
VJSONValue WrapFolder(IFolder* inFolder);

}  // namespace qelt
