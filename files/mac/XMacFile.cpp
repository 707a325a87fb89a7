// The platform side of a file object: binding, opening, creating, copying,
// moving, renaming, deleting, trashing and the simple queries.
#include "files/mac/XMacFile.h"

#include <cerrno>
#include <cstring>

#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "files/VFilePath.h"
#include "kernel/VCppMemMgr.h"
#include "platform/PlatFile.h"
#include "platform/PlatFileOps.h"
#include "platform/PlatTrash.h"

namespace qelt {

namespace {

char* CopyText(const char* inText)
{
    size_t size = std::strlen(inText) + 1;
    VCppMemMgr* manager = VObject::sCppMemMgr;
    char* copy = manager != nullptr ? static_cast<char*>(manager->Malloc(size, false, static_cast<int>(FourCC("path")))) : nullptr;
    if (copy != nullptr)
        std::memcpy(copy, inText, size);
    return copy;
}

void FreeText(char* inText)
{
    if (inText != nullptr && VObject::sCppMemMgr != nullptr)
        VObject::sCppMemMgr->Free(inText);
}


VError Posix(int inErrno) { return inErrno == 0 ? VE_OK : PosixError(inErrno); }

}  // namespace

StPosixPathText::~StPosixPathText() { FreeText(fText); }

XMacFile::XMacFile() = default;

XMacFile::XMacFile(const char* inPosixPath)
{
    if (inPosixPath != nullptr)
        fPosixPath = CopyText(inPosixPath);
}

XMacFile::~XMacFile() { FreeText(fPosixPath); }

void XMacFile::Init(VFile* inOwner)
{
    fOwner = inOwner;
    if (fPosixPath == nullptr && fOwner != nullptr)
        fPosixPath = AllocatePosixPathFromFilePath(fOwner->GetPath());
}

VError XMacFile::GetPosixPath(VString& outPath) const
{
    DecodePathBytes(GetPosixText(), std::strlen(GetPosixText()), outPath);
    return VE_OK;
}

// ---- opening and creating ---------------------------------------------------

VError XMacFile::_Open(int inAccess, unsigned int inOptions, bool inRegularOnly, VFileDesc** outDesc) const
{
    *outDesc = nullptr;
    int fd = -1;
    int err;
    if (inAccess == FA_READ_WRITE_OR_READ) {
        err = plat::OpenFile(GetPosixText(), FA_READ_WRITE, inOptions, inRegularOnly, fd);
        if (err != 0)
            err = plat::OpenFile(GetPosixText(), FA_READ, inOptions, inRegularOnly, fd);
    } else {
        err = plat::OpenFile(GetPosixText(), inAccess, inOptions, inRegularOnly, fd);
    }
    if (err != 0)
        return PosixError(err);
    *outDesc = new VFileDesc(fOwner, fd, static_cast<FileAccess>(inAccess));
    return VE_OK;
}

VError XMacFile::Open(int inAccess, unsigned int inOptions, VFileDesc** outDesc) const
{
    return _Open(inAccess, inOptions, false, outDesc);
}

VError XMacFile::OpenRegular(int inAccess, unsigned int inOptions, VFileDesc** outDesc) const
{
    return _Open(inAccess, inOptions, true, outDesc);
}

VError XMacFile::Create(unsigned int inOptions) const
{
    return Posix(plat::CreateEmptyFile(GetPosixText(), (inOptions & kFileOptionReplace) != 0));
}

// ---- copying, moving, renaming, deleting -------------------------------------

VError XMacFile::_CopyOrMove(bool inCopy, const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile,
                             unsigned int inOptions) const
{
    if (outFile != nullptr)
        *outFile = nullptr;
    VFilePath dest(inDest);
    if (!dest.IsFile() && fOwner != nullptr) {
        VString name;
        fOwner->GetPath().GetName(name);
        dest.SetFileName(name, true);
    }
    StPosixPathText target(dest);
    if (!target.IsOK())
        return PosixError(EINVAL);
    bool replace = (inOptions & kFileOptionReplace) != 0;
    int err = inCopy ? plat::CopyFileItem(GetPosixText(), target.Get(), replace)
                     : plat::MovePath(GetPosixText(), target.Get(), replace);
    if (err != 0)
        return PosixError(err);
    if (outFile != nullptr)
        *outFile = new VFile(dest, inFileSystem);
    return VE_OK;
}

VError XMacFile::Copy(const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile,
                      unsigned int inOptions) const
{
    return _CopyOrMove(true, inDest, inFileSystem, outFile, inOptions);
}

VError XMacFile::Move(const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile,
                      unsigned int inOptions) const
{
    return _CopyOrMove(false, inDest, inFileSystem, outFile, inOptions);
}

VError XMacFile::RenamePath(const char* inPosixSource, const VFilePath& inDest)
{
    StPosixPathText target(inDest);
    if (!target.IsOK())
        return PosixError(EINVAL);
    return Posix(plat::MovePath(inPosixSource, target.Get(), false));
}

VError XMacFile::Rename(const VString& inNewName, VFile** outFile) const
{
    if (outFile != nullptr)
        *outFile = nullptr;
    VFilePath path = fOwner != nullptr ? fOwner->GetPath() : VFilePath();
    if (!path.SetName(inNewName))
        return QeltError(614);  // raised by the path
    VError err = RenamePath(GetPosixText(), path);
    if (err == VE_OK && outFile != nullptr)
        *outFile = new VFile(path, fOwner != nullptr ? fOwner->GetFileSystem() : nullptr);
    return err;
}

VError XMacFile::Delete() const { return Posix(plat::DeleteFileEntry(GetPosixText())); }

VError XMacFile::MoveToTrash() const { return Posix(plat::MoveToTrash(GetPosixText())); }

// ---- queries -------------------------------------------------------------------

bool XMacFile::Exists() const
{
    plat::EntryKind kind = plat::GetEntryKind(GetPosixText());
    return kind == plat::EntryKind::File || kind == plat::EntryKind::Link;
}

VError XMacFile::GetSize(long long* outSize) const
{
    plat::EntryInfo info;
    int err = plat::GetEntryInfo(GetPosixText(), false, info);
    if (err != 0)
        return PosixError(err);
    *outSize = info.size;
    return VE_OK;
}

VError XMacFile::GetResourceForkSize(long long* outSize) const
{
    *outSize = 0;
    return VE_OK;
}

VError XMacFile::RevealInFinder() const
{
    VFilePath folder = fOwner != nullptr ? fOwner->GetPath() : VFilePath();
    folder.ToFolder();
    StPosixPathText text(folder);
    if (!text.IsOK())
        return PosixError(EINVAL);
    return Posix(plat::RevealFolder(text.Get()));
}

VError XMacFile::Unlock() const { return UnlockPath(GetPosixText()); }

}  // namespace qelt
