// The platform side of the folder iterators: reads one folder through the
// platform lister and turns each qualifying entry into a path of the own
// form. Entries outside the iterated folder's file system are passed over.
#pragma once

#include <memory>

#include "files/VFilePath.h"
#include "kernel/VObject.h"
#include "platform/PlatFolders.h"

namespace qelt {

class VFile;
class VFolder;
class VFileSystem;
class VTime;

class XMacFSObjectIterator : public VObject {
public:
    XMacFSObjectIterator(const VFolder* inFolder, unsigned int inOptions);
    ~XMacFSObjectIterator() override;

    // The next qualifying entry: its path and its POSIX text. False at the end.
    bool GetNextPath(VFilePath& outPath, std::string& outPosixPath);
    // Times of the current entry; without one, file error 611 for the folder
    // and 'qelt' 600.
    VError GetTime(VTime* outModification, VTime* outCreation, VTime* outAccess);
    VFileSystem* GetFileSystem() const { return fFileSystem; }
    // Identity of the iterated folder's real path (0 when it did not open).
    uint64_t GetDevice() const { return fLister.GetDevice(); }
    uint64_t GetInode() const { return fLister.GetInode(); }

protected:
    unsigned int fOptions = 0;
    VFileSystem* fFileSystem = nullptr;
    VFilePath fFolderPath;
    plat::FolderLister fLister;
    bool fHasCurrent = false;
};

class XMacFileIterator : public XMacFSObjectIterator {
public:
    using XMacFSObjectIterator::XMacFSObjectIterator;
    VFile* Next();
};

class XMacFolderIterator : public XMacFSObjectIterator {
public:
    using XMacFSObjectIterator::XMacFSObjectIterator;
    VFolder* Next();
};

}  // namespace qelt
