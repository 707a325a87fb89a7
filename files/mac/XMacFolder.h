// The platform half of a folder object: every operation that touches the
// disk, on the folder's POSIX path. Results are native codes ('POSX' and an
// errno value) and nothing is raised here, except by the forced deletion,
// which raises the failure to put its parent folder back as it was; the
// folder object turns native codes into file errors.
#pragma once

#include <string>

#include "files/VFilePath.h"
#include "kernel/VObject.h"

namespace qelt {

class VFolder;
class VTime;

class XMacFolder : public VObject {
public:
    XMacFolder() = default;
    // A POSIX text already known (the iterators'), taken as it stands.
    explicit XMacFolder(const char* inPosixPath);
    ~XMacFolder() override;
    XMacFolder(const XMacFolder&) = delete;
    XMacFolder& operator=(const XMacFolder&) = delete;

    // Binds the owner; computes the POSIX path from its path unless known.
    void Init(VFolder* inOwner);

    // The POSIX path, ending with '/' for a folder path (UTF-8).
    const char* GetPosixText() const { return fPosixPath.c_str(); }
    VError GetPosixPath(VString& outPath) const;

    VError Create() const;
    // rmdir: only an empty folder goes; a link at the path is removed alone.
    VError Delete() const;
    bool Exists(bool inFollowLinks) const;
    VError MoveToTrash() const;
    VError RevealInFinder() const;
    VError IsHidden(bool& outHidden) const;
    VError Rename(const VString& inName, VFolder** outFolder) const;
    VError Move(const VFolder& inDestination, const VString* inName, VFolder** outFolder) const;
    // The whole tree copied under the name into the destination; with
    // inReplace an existing item there is swapped out once the copy is
    // complete, else an existing item makes it fail.
    VError CopyToNonExistingFolder(const VFolder& inDestination, const VString& inName, bool inReplace = false) const;

    VError SetTimeAttributes(const VTime* inModification, const VTime* inCreation, const VTime* inAccess) const;
    VError GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const;
    VError GetVolumeCapacity(long long* outTotal) const;
    VError GetVolumeFreeSpace(long long* outFree, bool inWithQuotas) const;

    VError MakeWritableByAll() const;
    VError GetPermissions(unsigned short* outMode) const;
    VError SetPermissions(unsigned short inMode) const;
    bool IsWritableByAll() const;
    bool IsTraversable() const;
    VError GetFolderAttributes(unsigned int& outAttributes) const;
    VError SetFolderAttributes(unsigned int inAttributes) const;
    bool IsPackage() const;
    VError GetOwner(unsigned int& outUid, unsigned int& outGid) const;

    VError DeleteForced() const;

    // The standard folder of a kind (see plat::GetSystemFolderPath); a kind
    // without one gives no folder and 0.
    static VError RetainSystemFolder(int inKind, bool inCreate, VFolder** outFolder);

private:
    VFolder* fOwner = nullptr;
    std::string fPosixPath;
    bool fKnown = false;
};

}  // namespace qelt
