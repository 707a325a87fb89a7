// The platform side of a file object, which every VFile embeds: it keeps the
// file's POSIX text and does the work on disk through the platform layer,
// answering 0 or a native code ('POSX' errno values) and raising nothing.
//
// Its static part is the file layer's hand-over of paths to the system: the full conversions
// between POSIX paths and the toolbox's own ':' form, and NUL-terminated
// UTF-8 path texts. Texts go out and come in as UTF-8 without Unicode
// normalisation, in the strict path mode of the UTF-8 coding: every byte of
// an ill-formed sequence comes in as U+DC00 plus the byte, and the units
// U+DC80-U+DCFF go out as that byte, so that every name round-trips.
#pragma once

#include <cstddef>
#include <string>

#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VFile;
class VFileDesc;
class VFileKind;
class VFilePath;
class VFileSystem;
class VTime;

class XMacFile : public VObject {
public:
    XMacFile();
    // Keeps a copy of a POSIX text instead of computing one from the owner's path.
    explicit XMacFile(const char* inPosixPath);
    ~XMacFile() override;
    XMacFile(const XMacFile&) = delete;
    XMacFile& operator=(const XMacFile&) = delete;

    // Records the owner and, unless a POSIX text is held, makes it from the
    // owner's path.
    void Init(VFile* inOwner);

    // The POSIX text (never null once bound: empty for an invalid path).
    const char* GetPosixText() const { return fPosixPath != nullptr ? fPosixPath : ""; }
    VError GetPosixPath(VString& outPath) const;

    // ---- Opening and creating --------------------------------------------
    // Opens with a FileAccess (3: read and write when possible, else read
    // only) and the open option bits; a new descriptor on the owner.
    VError Open(int inAccess, unsigned int inOptions, VFileDesc** outDesc) const;
    // The same for whole-content operations: never waits (a FIFO is
    // refused with EINVAL) and only a regular file opens.
    VError OpenRegular(int inAccess, unsigned int inOptions, VFileDesc** outDesc) const;
    // Creates an empty file; with option 4 an existing one is replaced.
    VError Create(unsigned int inOptions) const;

    // ---- Copying, moving, renaming, deleting ---------------------------
    // A folder path as destination receives the owner's name; option 4
    // replaces an existing destination. outFile: a new file on success.
    // outFile, on success, belongs to inFileSystem.
    VError Copy(const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile, unsigned int inOptions) const;
    VError Move(const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile, unsigned int inOptions) const;
    // Renames a file or folder; an existing destination is never replaced.
    static VError RenamePath(const char* inPosixSource, const VFilePath& inDest);
    VError Rename(const VString& inNewName, VFile** outFile) const;
    VError Delete() const;
    VError MoveToTrash() const;

    // ---- Queries -------------------------------------------------------
    // A regular file or a symbolic link (whatever it points to).
    bool Exists() const;
    // The entry's own size (a link is not followed).
    VError GetSize(long long* outSize) const;
    // No resource forks on this platform.
    bool HasResourceFork() const { return false; }
    VError GetResourceForkSize(long long* outSize) const;
    // Shows the file's folder in the desktop's file viewer; ENOTSUP without one.
    VError RevealInFinder() const;
    VError Unlock() const;

    // ---- Times, attributes, permissions (static forms serve folders too) --
    // Times are modification, creation, access; a null pointer leaves that
    // stamp alone. No creation time on this platform: it reads as cleared
    // and is never written.
    static VError GetTimeAttributes(const char* inPath, bool inFollow, VTime* outModification, VTime* outCreation,
                                    VTime* outAccess);
    static VError SetTimeAttributes(const char* inPath, const VTime* inModification, const VTime* inCreation,
                                    const VTime* inAccess);
    // Bits 1 locked (the immutable attribute), 2 hidden (a leading '.').
    static VError GetPathAttributes(const char* inPath, bool inFollow, unsigned int& outAttributes);
    static VError SetPathAttributes(const char* inPath, bool inFollow, unsigned int inAttributes);
    static VError GetEffectivePermission(const char* inPath, unsigned int& outPermission);
    static VError UnlockPath(const char* inPath);
    static VError GetVolumeFreeSpace(const char* inPath, long long* outFree, long long* outTotal, bool inWithQuotas,
                                     const VFileDesc* inDesc);

    VError GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const;
    VError SetTimeAttributes(const VTime* inModification, const VTime* inCreation, const VTime* inAccess) const;
    VError GetFileAttributes(unsigned int& outAttributes) const;
    VError SetFileAttributes(unsigned int inAttributes) const;
    VError GetVolumeFreeSpace(long long* outFree, long long* outTotal, bool inWithQuotas,
                              const VFileDesc* inDesc) const;
    VError GetOwner(unsigned int& outUid, unsigned int& outGid) const;
    VError GetPermissions(unsigned short* outMode) const;
    VError SetPermissions(unsigned short inMode) const;
    VError MakeWritableByAll() const;
    bool IsWritableByAll() const;

    // ---- Links and aliases (an alias is a symbolic link here) -------------
    bool IsSymbolicLink() const;
    VError ReadSymbolicLink(VString& outTarget) const;
    // Absolute: the target's full POSIX path; else a path relative to the
    // link's folder ("../c/t"), or the full path when none exists.
    VError CreateSymbolicLink(const VFilePath& inTarget, bool inAbsolute) const;
    bool IsAliasFile() const { return IsSymbolicLink(); }
    VError ResolveAlias(VFilePath& outTarget) const;
    // Makes this file a symbolic link to the target (relative to
    // inRelativeTo's folder when given, else absolute).
    VError CreateAlias(const VFilePath& inTarget, const VFilePath* inRelativeTo) const;

    // Type and creator codes and the extension flag are not kept here.
    VError GetKind(unsigned int* outType) const;
    VError GetCreator(unsigned int* outCreator) const;
    VError SetKind(unsigned int) const { return 0; }
    VError SetCreator(unsigned int) const { return 0; }
    void SetExtensionVisible(bool) const {}

    // ---- Type identifiers -------------------------------------------------
    // A new public kind from the declaration of inID; null when none exists.
    static VFileKind* CreatePublicFileKind(const VString& inID);
    // The public kind whose declaration lists the extension; null when none.
    static VFileKind* CreatePublicFileKindFromExtension(const VString& inExtension);
    // This platform declares no kinds by four-character type code: null.
    static VFileKind* CreatePublicFileKindFromOsKind(const VString& inOsKind);
    // Whether a's identifier is b's or conforms to it by the declarations.
    static bool IsFileKindConformsTo(const VFileKind& a, const VFileKind& b);
    // The file's identifier: public.folder, public.symlink, the public kind
    // of its extension, else public.data; 'POSX' errno when it is missing.
    VError GetUTIString(VString& outUTI) const;
    VError ConformsTo(const VFileKind& inKind, bool* outConforms) const;

    // ---- Path conversions -------------------------------------------------
    // A full POSIX path (UTF-8, beginning with '/') in the own form, by text
    // alone: "/" is the root volume's "Disk:", elements are joined by ':', a
    // ':' in a name becomes '/', repeated '/' count as one, "." drops out and
    // ".." goes up one element (never above the root). The flag is accepted
    // and has no effect (nothing is resolved on the disk). False when the
    // text does not begin with '/' or no volume is mounted at "/".
    static bool PosixFullPathToHFS(const char* inPosixPath, bool inResolveItem, VString& outPath);
    // The same on a text already decoded.
    static bool PosixFullPathToHFS(const VString& inPosixPath, VString& outPath);
    // A full path in the own form as POSIX text. A volume without an entry
    // is read as a folder at the root ("/Name/...") and answers false.
    static bool HFSFullPathToPosix(const VString& inPath, VString& outPosixPath);

    // New NUL-terminated UTF-8 texts from the process memory manager, freed
    // by the caller with VCppMemMgr::Free; never null (an empty text when no
    // block can be had, or for an invalid path). Null only without memory.
    static char* AllocatePosixPathFromFilePath(const VFilePath& inPath);
    static char* AllocatePosixPathFromString(const VString& inPosixPath);

    // Sets the path from a UTF-8 POSIX text; a folder gets its trailing '/'.
    // A null text clears the path.
    static void GetFilePathFromPosixPath(const char* inPosixPath, bool inIsFolder, VFilePath& outPath);

    // A file URL for the system, which here is its POSIX text (UTF-8, as
    // for AllocatePosixPathFromFilePath) and whether it names a folder;
    // false with an empty text for an invalid path.
    static bool CreateNSURLFromFilePath(const VFilePath& inPath, std::string& outPosixPath, bool& outIsFolder);
    // The path of a file URL given as its POSIX text and folder flag; a null
    // text clears the path.
    static void GetFilePathFromNSURL(const char* inPosixPath, bool inIsFolder, VFilePath& outPath);

    // Whether the last element (one trailing '/' ignored) begins with '.'.
    static bool PosixNameBeginsWithDot(const char* inPosixPath);

    // The volume name of a mount path, from the volume cache.
    static bool GetVolumeNameFromMountPath(const char* inMountPath, char* outName, size_t inSize);

    // The path mode of the UTF-8 coding, in both directions.
    static void DecodePathBytes(const char* inBytes, size_t inCount, VString& outText);
    static void EncodePathText(const UniChar* inUnits, int inCount, std::string& outBytes);

private:
    VError _CopyOrMove(bool inCopy, const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile,
                       unsigned int inOptions) const;
    VError _Open(int inAccess, unsigned int inOptions, bool inRegularOnly, VFileDesc** outDesc) const;

    VFile* fOwner = nullptr;
    char* fPosixPath = nullptr;
};

// The POSIX text of a path for the length of a scope.
class StPosixPathText {
public:
    explicit StPosixPathText(const VFilePath& inPath) : fText(XMacFile::AllocatePosixPathFromFilePath(inPath)) {}
    ~StPosixPathText();
    StPosixPathText(const StPosixPathText&) = delete;
    StPosixPathText& operator=(const StPosixPathText&) = delete;
    // False for an invalid path (an empty text) or without memory.
    bool IsOK() const { return fText != nullptr && fText[0] != '\0'; }
    const char* Get() const { return fText != nullptr ? fText : ""; }

private:
    char* fText;
};

}  // namespace qelt
