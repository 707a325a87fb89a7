// The platform side of files: time stamps, the locked and hidden attributes,
// permissions and owner, volume space, symbolic links and aliases (which are
// symbolic links here). The static forms serve the folder layer too.
#include <time.h>

#include <cerrno>
#include <cstring>

#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "kernel/VCppMemMgr.h"
#include "platform/PlatFile.h"
#include "values/VTime.h"

namespace qelt {

namespace {

constexpr unsigned int kAttributeLocked = 1;
constexpr unsigned int kAttributeHidden = 2;

VError Posix(int inErrno) { return inErrno == 0 ? VE_OK : PosixError(inErrno); }

// Nanoseconds since 1970 as a VTime, at millisecond precision; a stamp that
// gmtime_r cannot convert leaves the time alone.
void StampToTime(int64_t inNanoseconds, VTime& outTime)
{
    int64_t seconds = inNanoseconds / 1000000000LL;
    int64_t rest = inNanoseconds % 1000000000LL;
    if (rest < 0) {
        rest += 1000000000LL;
        --seconds;
    }
    time_t t = static_cast<time_t>(seconds);
    struct tm parts;
    if (::gmtime_r(&t, &parts) == nullptr)
        return;
    outTime.FromUTCTime(static_cast<short>(1900 + parts.tm_year), static_cast<short>(parts.tm_mon + 1),
                        static_cast<short>(parts.tm_mday), static_cast<short>(parts.tm_hour),
                        static_cast<short>(parts.tm_min), static_cast<short>(parts.tm_sec),
                        static_cast<short>(rest / 1000000));
}

int64_t TimeToStamp(const VTime& inTime)
{
    short year, month, day, hour, minute, second, millisecond;
    inTime.GetUTCTime(year, month, day, hour, minute, second, millisecond);
    struct tm parts = {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<int64_t>(::timegm(&parts)) * 1000000000LL + static_cast<int64_t>(millisecond) * 1000000LL;
}


}  // namespace

// ---- static forms -------------------------------------------------------------

VError XMacFile::GetTimeAttributes(const char* inPath, bool inFollow, VTime* outModification, VTime* outCreation,
                                   VTime* outAccess)
{
    plat::EntryInfo info;
    int err = plat::GetEntryInfo(inPath, inFollow, info);
    if (err != 0)
        return PosixError(err);
    if (outModification != nullptr)
        StampToTime(info.modified, *outModification);
    if (outCreation != nullptr) {
        if (info.hasBirth)
            StampToTime(info.born, *outCreation);
        else
            outCreation->Clear();
    }
    if (outAccess != nullptr)
        StampToTime(info.accessed, *outAccess);
    return VE_OK;
}

VError XMacFile::SetTimeAttributes(const char* inPath, const VTime* inModification, const VTime*,
                                   const VTime* inAccess)
{
    // No file system here takes a creation time: it is left as it is.
    int64_t modified = inModification != nullptr ? TimeToStamp(*inModification) : 0;
    int64_t accessed = inAccess != nullptr ? TimeToStamp(*inAccess) : 0;
    return Posix(plat::SetEntryTimes(inPath, inModification != nullptr ? &modified : nullptr,
                                     inAccess != nullptr ? &accessed : nullptr));
}

VError XMacFile::GetPathAttributes(const char* inPath, bool inFollow, unsigned int& outAttributes)
{
    outAttributes = 0;
    bool locked = false;
    int err = plat::GetLocked(inPath, inFollow, locked);
    if (err != 0)
        return PosixError(err);
    if (locked)
        outAttributes |= kAttributeLocked;
    if (PosixNameBeginsWithDot(inPath))
        outAttributes |= kAttributeHidden;
    return VE_OK;
}

VError XMacFile::SetPathAttributes(const char* inPath, bool inFollow, unsigned int inAttributes)
{
    // Hidden is the leading '.' of the name: it cannot be given to another
    // name, and a dot name stays hidden.
    if ((inAttributes & kAttributeHidden) != 0 && !PosixNameBeginsWithDot(inPath)) {
        if (plat::GetEntryKind(inPath) == plat::EntryKind::Missing)
            return PosixError(ENOENT);
        return PosixError(ENOTSUP);
    }
    return Posix(plat::SetLocked(inPath, inFollow, (inAttributes & kAttributeLocked) != 0));
}

VError XMacFile::GetEffectivePermission(const char* inPath, unsigned int& outPermission)
{
    uint32_t permission = 0;
    int err = plat::GetEffectivePermission(inPath, permission);
    outPermission = permission;
    return Posix(err);
}

VError XMacFile::UnlockPath(const char* inPath) { return Posix(plat::UnlockPath(inPath)); }

VError XMacFile::GetVolumeFreeSpace(const char* inPath, long long* outFree, long long* outTotal, bool inWithQuotas,
                                    const VFileDesc* inDesc)
{
    int64_t freeBytes = 0, totalBytes = 0;
    int err = plat::GetVolumeSpace(inPath, inDesc != nullptr ? inDesc->GetFd() : -1, inWithQuotas, freeBytes,
                                   totalBytes);
    if (err != 0)
        return PosixError(err);
    if (outFree != nullptr)
        *outFree = freeBytes;
    if (outTotal != nullptr)
        *outTotal = totalBytes;
    return VE_OK;
}

// ---- member forms ----------------------------------------------------------------

VError XMacFile::GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const
{
    return GetTimeAttributes(GetPosixText(), false, outModification, outCreation, outAccess);
}

VError XMacFile::SetTimeAttributes(const VTime* inModification, const VTime* inCreation, const VTime* inAccess) const
{
    return SetTimeAttributes(GetPosixText(), inModification, inCreation, inAccess);
}

VError XMacFile::GetFileAttributes(unsigned int& outAttributes) const
{
    return GetPathAttributes(GetPosixText(), false, outAttributes);
}

VError XMacFile::SetFileAttributes(unsigned int inAttributes) const
{
    return SetPathAttributes(GetPosixText(), false, inAttributes);
}

VError XMacFile::GetVolumeFreeSpace(long long* outFree, long long* outTotal, bool inWithQuotas,
                                    const VFileDesc* inDesc) const
{
    return GetVolumeFreeSpace(GetPosixText(), outFree, outTotal, inWithQuotas, inDesc);
}

VError XMacFile::GetOwner(unsigned int& outUid, unsigned int& outGid) const
{
    plat::EntryInfo info;
    int err = plat::GetEntryInfo(GetPosixText(), true, info);
    if (err != 0)
        return PosixError(err);
    outUid = info.uid;
    outGid = info.gid;
    return VE_OK;
}

VError XMacFile::GetPermissions(unsigned short* outMode) const
{
    *outMode = 0;
    plat::EntryInfo info;
    int err = plat::GetEntryInfo(GetPosixText(), false, info);
    if (err != 0)
        return PosixError(err);
    *outMode = static_cast<unsigned short>(info.mode & 0777);
    return VE_OK;
}

VError XMacFile::SetPermissions(unsigned short inMode) const
{
    return Posix(plat::SetPermissions(GetPosixText(), inMode & 0777));
}

VError XMacFile::MakeWritableByAll() const
{
    plat::EntryInfo info;
    int err = plat::GetEntryInfo(GetPosixText(), false, info);
    if (err != 0)
        return PosixError(err);
    return Posix(plat::SetPermissions(GetPosixText(), info.mode | 0666));
}

bool XMacFile::IsWritableByAll() const
{
    plat::EntryInfo info;
    return plat::GetEntryInfo(GetPosixText(), false, info) == 0 && (info.mode & 0002) != 0;
}

VError XMacFile::GetKind(unsigned int* outType) const
{
    *outType = 0;
    return VE_OK;
}

VError XMacFile::GetCreator(unsigned int* outCreator) const
{
    *outCreator = 0;
    return VE_OK;
}

// ---- links and aliases -------------------------------------------------------------

bool XMacFile::IsSymbolicLink() const { return plat::GetEntryKind(GetPosixText()) == plat::EntryKind::Link; }

VError XMacFile::ReadSymbolicLink(VString& outTarget) const
{
    std::string text;
    int err = plat::ReadLinkText(GetPosixText(), text);
    if (err != 0)
        return PosixError(err);
    DecodePathBytes(text.data(), text.size(), outTarget);
    return VE_OK;
}

VError XMacFile::CreateSymbolicLink(const VFilePath& inTarget, bool inAbsolute) const
{
    VString linkText;
    if (!inAbsolute && fOwner != nullptr) {
        // Climb from the link's folder until the target lies below it.
        VFilePath folder = fOwner->GetPath();
        folder.ToParent();
        VString prefix, relative;
        while (folder.IsValid()) {
            if (inTarget.GetRelativePosixPath(folder, relative))
                break;
            relative.Clear();
            folder.ToParent();
            if (!folder.IsValid())
                break;
            prefix.AppendString(VString("../"));
        }
        if (!relative.IsEmpty()) {
            linkText = prefix;
            linkText.AppendString(relative);
        }
    }
    if (linkText.IsEmpty())
        inTarget.GetPosixPath(linkText);
    std::string bytes;
    EncodePathText(linkText.GetCPointer(), linkText.GetLength(), bytes);
    return Posix(plat::MakeLinkReplacing(bytes.c_str(), GetPosixText()));
}

VError XMacFile::ResolveAlias(VFilePath& outTarget) const
{
    plat::EntryKind kind = plat::GetEntryKind(GetPosixText());
    if (kind == plat::EntryKind::Missing)
        return PosixError(ENOENT);
    if (kind != plat::EntryKind::Link) {
        // Not an alias: the one failure this layer raises itself.
        VFilePath path = fOwner != nullptr ? fOwner->GetPath() : VFilePath();
        _PushRetainedError(new VFileError(path, QeltError(611)), 0);
        return QeltError(611);
    }
    std::string target;
    bool isFolder = false;
    int err = plat::ResolveLink(GetPosixText(), target, isFolder);
    if (err != 0)
        return PosixError(err);
    GetFilePathFromPosixPath(target.c_str(), isFolder, outTarget);
    return VE_OK;
}

VError XMacFile::CreateAlias(const VFilePath& inTarget, const VFilePath* inRelativeTo) const
{
    return CreateSymbolicLink(inTarget, inRelativeTo == nullptr);
}

}  // namespace qelt
