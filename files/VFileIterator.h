// Iterators over the files or the subfolders of one folder, handing out new
// objects one at a time in the order the directory gives them, and the
// attribute accessor that folder walks hand to their callback.
//
// Options (see kIterate... in files/VFolder.h): 2 folders, 4 files,
// 8 invisible entries too, 16 links resolved to their targets. The file
// iterator drops 2 and the folder iterator drops 4, so each hands out only
// its own kind.
#pragma once

#include <memory>

#include "files/IFolder.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "files/mac/XMacFSObjectIterator.h"

namespace qelt {

template <class P>
class FileAttributeAccessor : public IFileAttributeAccessor {
public:
    explicit FileAttributeAccessor(P* inIterator) : fIterator(inIterator) {}
    VError GetTime(VTime* outModification, VTime* outCreation, VTime* outAccess) override
    {
        return fIterator->GetTime(outModification, outCreation, outAccess);
    }
    IFile* GetFile() override { return fFile; }
    IFolder* GetFolder() override { return fFolder; }
    void SetDocument(IFile* inFile)
    {
        fFile = inFile;
        fFolder = nullptr;
    }
    void SetDocument(IFolder* inFolder)
    {
        fFolder = inFolder;
        fFile = nullptr;
    }

private:
    P* fIterator;
    IFile* fFile = nullptr;
    IFolder* fFolder = nullptr;
};

template <class T, class P>
class VFSObjectIterator : public VObject {
public:
    VFSObjectIterator(const VFolder* inFolder, unsigned int inOptions) : fFolder(inFolder), fOptions(inOptions)
    {
        _Init();
    }
    ~VFSObjectIterator() override = default;
    VFSObjectIterator(const VFSObjectIterator&) = delete;
    VFSObjectIterator& operator=(const VFSObjectIterator&) = delete;

    // The object handed out last (no new reference), null once over.
    T* Current() const { return fCurrent.Get(); }
    T* operator->() const { return fCurrent.Get(); }
    bool IsValid() const { return fCurrent.Get() != nullptr; }
    // The number of objects handed out so far (1 for the first), 0 when none.
    int GetPos() const { return fPosition; }

    VFSObjectIterator& operator++()
    {
        if (fPlatform) {
            fCurrent = nullptr;
            fCurrent.Adopt(fPlatform->Next());
            if (fCurrent.Get() == nullptr) {
                fAccessor.reset();
                fPlatform.reset();
            } else {
                ++fPosition;
            }
        }
        return *this;
    }

    // The accessor for the current entry; null once over.
    FileAttributeAccessor<P>* GetAccessor() const { return fAccessor.get(); }
    // The platform iterator (identity of the listed folder); null once over.
    const P* GetPlatform() const { return fPlatform.get(); }

private:
    void _Init()
    {
        fPosition = 0;
        if (fFolder.Get() == nullptr)
            return;
        const unsigned int otherKind = std::is_same_v<T, VFile> ? kIterateFolders : kIterateFiles;
        fPlatform = std::make_unique<P>(fFolder.Get(), fOptions & ~otherKind);
        fAccessor = std::make_unique<FileAttributeAccessor<P>>(fPlatform.get());
        fCurrent = nullptr;
        fCurrent.Adopt(fPlatform->Next());
        if (fCurrent.Get() == nullptr) {
            fAccessor.reset();
            fPlatform.reset();
        } else {
            fPosition = 1;
        }
    }

    VRefPtr<const VFolder> fFolder;
    VRefPtr<T> fCurrent;
    int fPosition = 0;
    unsigned int fOptions = 0;
    std::unique_ptr<P> fPlatform;
    std::unique_ptr<FileAttributeAccessor<P>> fAccessor;
};

class VFileIterator : public VFSObjectIterator<VFile, XMacFileIterator> {
public:
    using VFSObjectIterator::VFSObjectIterator;
};

class VFolderIterator : public VFSObjectIterator<VFolder, XMacFolderIterator> {
public:
    using VFSObjectIterator::VFSObjectIterator;
};

}  // namespace qelt
