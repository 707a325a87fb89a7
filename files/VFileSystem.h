// A named file system: a root folder with a short name, access flags and an
// optional quota of bytes. Files and folders bound to one are confined to
// its root; writers ask it for space.
#pragma once

#include "files/VFilePath.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class IFolder;

// Flags of a file system.
constexpr unsigned int kFileSystemWritable = 1;
constexpr unsigned int kFileSystemTemporary = 4;  // the root is deleted with the file system
constexpr unsigned int kFileSystemPrivate = 16;   // hidden from public lookups

constexpr VError VE_FILE_SYSTEM_READ_ONLY = QeltError(684);
constexpr VError VE_FILE_SYSTEM_QUOTA_EXCEEDED = QeltError(685);
constexpr VError VE_FILE_SYSTEM_INVALID_NAME = QeltError(686);
constexpr VError VE_FILE_SYSTEM_DEFINITION_INVALID = QeltError(687);

class VFileSystem : public VObject, public IRefCountable {
public:
    // A new file system, or null with 686 raised (parameter "name") when the
    // name is empty or holds '/'. The bytes in use count against the quota
    // (0: none).
    static VFileSystem* Create(const VString& inName, IFolder* inRoot, unsigned int inFlags,
                               unsigned long inQuota = 0, unsigned long inUsed = 0, VError* outError = nullptr);

    const VString& GetName() const { return fName; }
    VFilePath GetRoot() const;
    IFolder* RetainRootFolder() const;
    unsigned int GetFlags() const { return fFlags; }
    unsigned long GetQuota() const { return fQuota; }
    unsigned long GetAvailable() const { return fAvailable; }
    bool IsWritable() const { return (fFlags & kFileSystemWritable) != 0; }

    // Space asked for and given back; the codes are returned, not raised.
    VError Request(unsigned long inBytes);
    VError Relinquish(unsigned long inBytes);

    // Whether the path is the root or lies below it (unit for unit).
    bool IsAuthorized(const VFilePath& inPath) const;

    // The path of an object bound to a file system, as shown to people:
    // "/NAME/" and its POSIX path relative to the root when it lies there,
    // else its full POSIX path.
    static VString GetPathWithFileSystem(const VFilePath& inPath, const VFileSystem* inFileSystem);

private:
    VFileSystem(const VString& inName, IFolder* inRoot, unsigned int inFlags, unsigned long inQuota,
                unsigned long inUsed);
    ~VFileSystem() override;

    VString fName;
    IFolder* fRoot = nullptr;
    unsigned long fQuota = 0;
    unsigned int fFlags = 0;
    unsigned long fAvailable = 0;
};

}  // namespace qelt
