// An open file, as VFile::Open hands it out: the file it was opened from,
// the access asked for, and the platform descriptor with its position.
// Reads and writes go to an absolute offset or to an offset from the
// position; a native failure becomes a file error with the request's
// "count", "offset" and the file's "size". Not reference counted: whoever
// opened it deletes it, which closes it and releases the file.
#pragma once

#include <cstddef>

#include "files/mac/XMacFileDesc.h"
#include "kernel/VObject.h"

namespace qelt {

class VFile;

// How a file is opened.
enum FileAccess : int {
    FA_READ = 0,              // read only
    FA_READ_WRITE = 1,        // read and write, exclusive lock
    FA_SHARED = 2,            // read and write, shared lock
    FA_READ_WRITE_OR_READ = 3 // read and write when possible, else read only
};

// Option bits of VFile::Open; for Create, CopyTo and Move only
// kFileOptionReplace (replace an existing destination) counts.
constexpr unsigned int kFileOptionResourceFork = 0x01;
constexpr unsigned int kFileOptionCreate = 0x02;
constexpr unsigned int kFileOptionTruncate = 0x04;
constexpr unsigned int kFileOptionReplace = 0x04;
constexpr unsigned int kFileOptionReadAhead = 0x08;
constexpr unsigned int kFileOptionNoCache = 0x20;
constexpr unsigned int kFileOptionFollowLink = 0x80;

class VFileDesc : public VObject {
public:
    VFileDesc(const VFile* inFile, int inFd, FileAccess inAccess);
    ~VFileDesc() override;
    VFileDesc(const VFileDesc&) = delete;
    VFileDesc& operator=(const VFileDesc&) = delete;

    FileAccess GetMode() const { return fAccess; }
    const VFile* GetParentFile() const { return fFile; }
    int GetFd() const { return fDesc.GetFd(); }

    // The open file's size; 0 after a failure (218).
    long long GetSize() const;
    // Grows with zeros or cuts (219, "size").
    VError SetSize(long long inSize) const;
    long long GetPos() const;
    // Nothing on disk changes; the size is not consulted (214).
    VError SetPos(long long inOffset, bool inFromStart) const;

    // Absolute read: the position does not move. End of data raises a file
    // error 200 (after a plain 200).
    VError GetData(void* outBuffer, size_t inCount, long long inOffset, size_t* outCount = nullptr) const;
    // Relative read from the position plus inOffset; the position moves past
    // what was read. End of data gives 200 without raising.
    VError GetDataAtPos(void* outBuffer, size_t inCount, long long inOffset = 0, size_t* outCount = nullptr) const;
    VError PutData(const void* inData, size_t inCount, long long inOffset, size_t* outCount = nullptr) const;
    VError PutDataAtPos(const void* inData, size_t inCount, long long inOffset = 0, size_t* outCount = nullptr) const;
    VError Flush() const;

private:
    VError _Wrap(VError inResult, VError inFallback, long long inCount, bool inWithCount, long long inOffset,
                 bool inWithOffset, bool inWithSize) const;

    FileAccess fAccess;
    const VFile* fFile;
    // The descriptor's state changes in const operations (the position).
    mutable XMacFileDesc fDesc;
};

}  // namespace qelt
