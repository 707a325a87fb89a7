#include "files/mac/XMacFSObjectIterator.h"

#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "platform/PlatTime.h"
#include "values/VTime.h"

namespace qelt {

namespace {

void SetTime(VTime* outTime, const plat::EntryTime& inTime)
{
    if (outTime == nullptr)
        return;
    if (!inTime.present) {
        outTime->Clear();
        return;
    }
    plat::CivilTime utc;
    plat::UTCFromUnixSeconds(inTime.seconds, utc);
    outTime->FromUTCTime(static_cast<short>(utc.year), static_cast<short>(utc.month), static_cast<short>(utc.day),
                         static_cast<short>(utc.hour), static_cast<short>(utc.minute), static_cast<short>(utc.second),
                         static_cast<short>(inTime.nanoseconds / 1000000));
}

}  // namespace

XMacFSObjectIterator::XMacFSObjectIterator(const VFolder* inFolder, unsigned int inOptions)
    : fOptions(inOptions),
      fFileSystem(inFolder->GetFileSystem()),
      fFolderPath(inFolder->GetPath()),
      fLister(inFolder->GetPlatform().GetPosixText(), inOptions)
{
}

XMacFSObjectIterator::~XMacFSObjectIterator() = default;

bool XMacFSObjectIterator::GetNextPath(VFilePath& outPath, std::string& outPosixPath)
{
    fHasCurrent = false;
    plat::FolderEntry entry;
    while (fLister.Next(entry)) {
        XMacFile::GetFilePathFromPosixPath(entry.path.c_str(), entry.isFolder, outPath);
        if (!outPath.IsValid())
            continue;
        if (fFileSystem != nullptr && !outPath.IsChildOfRawPath(fFileSystem->GetRoot()))
            continue;
        outPosixPath = std::move(entry.path);
        if (entry.isFolder && (outPosixPath.empty() || outPosixPath.back() != '/'))
            outPosixPath += '/';
        fHasCurrent = true;
        return true;
    }
    return false;
}

VError XMacFSObjectIterator::GetTime(VTime* outModification, VTime* outCreation, VTime* outAccess)
{
    if (!fHasCurrent) {
        VFileError* error = new VFileError(fFolderPath, VE_CANNOT_RESOLVE_ALIAS);
        _PushRetainedError(error, VE_OK);
        return QeltError(600);
    }
    plat::EntryTime modified, created, accessed;
    if (fLister.GetTimes(&modified, &created, &accessed) != 0)
        return VE_OK;
    SetTime(outModification, modified);
    SetTime(outCreation, created);
    SetTime(outAccess, accessed);
    return VE_OK;
}

VFile* XMacFileIterator::Next()
{
    VFilePath path;
    std::string posix;
    if (!GetNextPath(path, posix))
        return nullptr;
    return new VFile(posix.c_str(), path, fFileSystem);
}

VFolder* XMacFolderIterator::Next()
{
    VFilePath path;
    std::string posix;
    if (!GetNextPath(path, posix))
        return nullptr;
    return new VFolder(posix.c_str(), path, fFileSystem);
}

}  // namespace qelt
