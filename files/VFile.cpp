#include "files/VFile.h"

#include <cerrno>

#include "files/VFileError.h"
#include "files/VFileKind.h"
#include "files/VFileKindManager.h"
#include "files/VURL.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VSystem.h"
#include "platform/PlatFile.h"
#include "runtime/VErrorContext.h"
#include "values/VTime.h"
#include "values/VUUID.h"

namespace qelt {

namespace {

constexpr VError kErrRename = QeltError(601);
constexpr VError kErrOpen = QeltError(602);
constexpr VError kErrDelete = QeltError(604);
constexpr VError kErrCopy = QeltError(605);
constexpr VError kErrMove = QeltError(606);
constexpr VError kErrCreate = QeltError(607);
constexpr VError kErrGetAttribute = QeltError(608);
constexpr VError kErrSetAttribute = QeltError(609);
constexpr VError kErrCreateAlias = QeltError(610);
constexpr VError kErrResolveAlias = QeltError(611);
constexpr VError kErrReveal = QeltError(612);
constexpr VError kErrAliasToFolder = QeltError(617);
constexpr VError kErrMemory = QeltError(100);

VString PathText(const VFilePath& inPath)
{
    VString text;
    inPath.GetPath(text);
    return text;
}

auto DestinationParameters(const VFilePath& inDest, unsigned int inOptions)
{
    return [text = PathText(inDest), inOptions](VValueBag& bag) {
        bag.SetAttribute("destination", text);
        bag.SetAttribute("options", VLong(static_cast<int>(inOptions)));
    };
}

}  // namespace

// ---- construction --------------------------------------------------------------

VFile::VFile(const VFilePath& inPath) : fPath(inPath) { fMacFile.Init(this); }

VFile::VFile(const VFilePath& inFolderPath, const VString& inRelativePath, FilePathStyle inStyle)
{
    fPath.FromRelativePath(inFolderPath, inRelativePath, inStyle, false);
    fMacFile.Init(this);
}

VFile::VFile(const VString& inFullPath, FilePathStyle inStyle)
{
    fPath.FromFullPath(inFullPath, inStyle, false);
    fMacFile.Init(this);
}

VFile::VFile(const VURL& inURL)
{
    inURL.GetFilePath(fPath);
    fMacFile.Init(this);
}

VFile::VFile(const char* inPosixPath, const VFilePath& inPath) : fMacFile(inPosixPath), fPath(inPath)
{
    fMacFile.Init(this);
}

VFile::VFile(const VFilePath& inPath, VFileSystem* inFileSystem) : fPath(inPath), fFileSystem(inFileSystem)
{
    if (fFileSystem != nullptr)
        fFileSystem->Retain();
    fMacFile.Init(this);
}

VFile::VFile(const char* inPosixPath, const VFilePath& inPath, VFileSystem* inFileSystem)
    : fMacFile(inPosixPath), fPath(inPath), fFileSystem(inFileSystem)
{
    if (fFileSystem != nullptr)
        fFileSystem->Retain();
    fMacFile.Init(this);
}

VFile::VFile(const VFolder& inFolder, const VString& inRelativePath, FilePathStyle inStyle)
    : fFileSystem(inFolder.GetFileSystem())
{
    fPath.FromRelativePath(inFolder.GetPath(), inRelativePath, inStyle, false);
    if (fFileSystem != nullptr && !fPath.IsChildOf(fFileSystem->GetRoot()))
        fFileSystem = nullptr;
    if (fFileSystem != nullptr)
        fFileSystem->Retain();
    fMacFile.Init(this);
}

VFile::VFile(const VFile& inOther)
    : VObject(inOther), IFile(), fPath(inOther.GetPath()), fFileSystem(inOther.GetFileSystem())
{
    if (fFileSystem != nullptr)
        fFileSystem->Retain();
    fMacFile.Init(this);
}

VFile::~VFile()
{
    if (fFileSystem != nullptr)
        fFileSystem->Release();
    VVolumeInfo* info = fVolumeInfo.exchange(nullptr);
    if (info != nullptr)
        info->Release();
}

VError VFile::_Wrap(VError inResult, VError inFallback) const { return WrapFileError(fPath, inResult, inFallback); }

// ---- paths and identity ------------------------------------------------------------

void VFile::GetPlatformPath(VString& outPath, FilePathStyle inStyle) const
{
    if (inStyle == FPS_SYSTEM)
        fPath.GetPath(outPath);
    else if (inStyle == FPS_POSIX)
        fMacFile.GetPosixPath(outPath);
    else
        outPath.Clear();
}

VString VFile::GetPathWithFileSystem() const
{
    return VFileSystem::GetPathWithFileSystem(fPath, fFileSystem);
}

IFolder* VFile::RetainParentFolder(bool inFileSystemOnly) const
{
    VFilePath parent;
    if (!fPath.GetFolder(parent))
        return nullptr;
    return VFolder::RetainFolderInFileSystem(parent, fFileSystem, inFileSystemOnly);
}

VError VFile::GetURL(VString& outURL, bool inEncoded) const
{
    VURL(fPath).GetAbsoluteURL(outURL, inEncoded);
    return VE_OK;
}

VError VFile::GetRelativeURL(VFolder* inBase, VString& outURL, bool inEncoded) const
{
    GetURL(outURL, inEncoded);
    VFolder::_RemoveBaseURL(inBase, outURL, inEncoded);
    return VE_OK;
}

bool VFile::IsSameFile(const VFile* inOther) const
{
    return inOther != nullptr && PathText(fPath).EqualToString(PathText(inOther->fPath), false);
}

// ---- existence and size ----------------------------------------------------------------

bool VFile::Exists() const { return fPath.IsFile() && fMacFile.Exists(); }

VError VFile::GetSize(long long* outSize) const
{
    long long size = 0;
    VError err = fMacFile.GetSize(&size);
    *outSize = (err == VE_OK) ? size : 0;
    return _Wrap(err, kErrGetAttribute);
}

VError VFile::GetResourceForkSize(long long* outSize) const
{
    VError err = fMacFile.GetResourceForkSize(outSize);
    if (err != VE_OK)
        *outSize = 0;
    return _Wrap(err, kErrGetAttribute);
}

// ---- opening and creating ----------------------------------------------------------------

VError VFile::Open(FileAccess inAccess, VFileDesc** outDesc, unsigned int inOptions) const
{
    *outDesc = nullptr;
    VError err = fMacFile.Open(inAccess, inOptions, outDesc);
    return WrapFileError(fPath, err, kErrOpen, [&](VValueBag& bag) {
        bag.SetAttribute("access", VLong(static_cast<int>(inAccess)));
        bag.SetAttribute("options", VLong(static_cast<int>(inOptions)));
    });
}

VError VFile::Create(unsigned int inOptions) const
{
    return WrapFileError(fPath, fMacFile.Create(inOptions), kErrCreate,
                         [&](VValueBag& bag) { bag.SetAttribute("options", VLong(static_cast<int>(inOptions))); });
}

// ---- copying, moving, renaming, deleting ------------------------------------------------------

VFileSystem* VFile::_FileSystemFor(const VFilePath& inDest) const
{
    return (fFileSystem != nullptr && inDest.IsSameOrChildOf(fFileSystem->GetRoot())) ? fFileSystem : nullptr;
}

VError VFile::_CopyTo(const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile,
                      unsigned int inOptions) const
{
    if (outFile != nullptr)
        *outFile = nullptr;
    if (!fPath.IsValid() || !inDest.IsValid())
        return ThrowFileRefusal(fPath, kErrCopy, DestinationParameters(inDest, inOptions));
    return WrapFileError(fPath, fMacFile.Copy(inDest, inFileSystem, outFile, inOptions), kErrCopy,
                         DestinationParameters(inDest, inOptions));
}

VError VFile::CopyTo(const VFilePath& inDest, VFile** outFile, unsigned int inOptions) const
{
    return _CopyTo(inDest, _FileSystemFor(inDest), outFile, inOptions);
}

VError VFile::CopyTo(const VFile& inDest, unsigned int inOptions) const
{
    return _CopyTo(inDest.GetPath(), nullptr, nullptr, inOptions);
}

VError VFile::CopyTo(const VFolder& inDest, VFile** outFile, unsigned int inOptions) const
{
    return _CopyTo(inDest.GetPath(), inDest.GetFileSystem(), outFile, inOptions);
}

VError VFile::CopyFrom(const VFile& inSource, unsigned int inOptions) const
{
    return inSource._CopyTo(fPath, nullptr, nullptr, inOptions);
}

VError VFile::_Move(const VFilePath& inDest, VFileSystem* inFileSystem, VFile** outFile,
                    unsigned int inOptions) const
{
    if (outFile != nullptr)
        *outFile = nullptr;
    if (!inDest.IsValid())
        return ThrowFileRefusal(fPath, kErrMove, DestinationParameters(inDest, inOptions));
    return WrapFileError(fPath, fMacFile.Move(inDest, inFileSystem, outFile, inOptions), kErrMove,
                         DestinationParameters(inDest, inOptions));
}

VError VFile::Move(const VFilePath& inDest, VFile** outFile, unsigned int inOptions) const
{
    return _Move(inDest, _FileSystemFor(inDest), outFile, inOptions);
}

VError VFile::Move(const VFile& inDest, unsigned int inOptions) const
{
    return _Move(inDest.GetPath(), inDest.GetFileSystem(), nullptr, inOptions);
}

VError VFile::Move(const VFolder& inDest, VFile** outFile, unsigned int inOptions) const
{
    return _Move(inDest.GetPath(), inDest.GetFileSystem(), outFile, inOptions);
}

VError VFile::Rename(const VString& inNewName, VFile** outFile) const
{
    return WrapFileError(fPath, fMacFile.Rename(inNewName, outFile), kErrRename,
                         [&](VValueBag& bag) { bag.SetAttribute("newname", inNewName); });
}

VError VFile::Delete() const
{
    if (!fPath.IsValid())
        return ThrowFileRefusal(fPath, kErrDelete, [](VValueBag&) {});
    if (!fMacFile.Exists())
        return VE_OK;
    return _Wrap(fMacFile.Delete(), kErrDelete);
}

VError VFile::MoveToTrash() const
{
    if (!fPath.IsValid())
        return ThrowFileRefusal(fPath, kErrDelete, [](VValueBag&) {});
    if (!fMacFile.Exists())
        return VE_OK;
    return _Wrap(fMacFile.MoveToTrash(), kErrDelete);
}

// ---- content ------------------------------------------------------------------------------------

VError VFile::_OpenForContent(VFileDesc** outDesc) const
{
    VError err = fMacFile.OpenRegular(FA_READ, kFileOptionFollowLink, outDesc);
    return WrapFileError(fPath, err, kErrOpen, [&](VValueBag& bag) {
        bag.SetAttribute("access", VLong(FA_READ));
        bag.SetAttribute("options", VLong(static_cast<int>(kFileOptionFollowLink)));
    });
}

VError VFile::GetContent(VMemoryBuffer<1024, 2, 1048576>& ioBuffer) const
{
    VFileDesc* desc = nullptr;
    VError err = _OpenForContent(&desc);
    if (err != VE_OK)
        return err;
    long long size = desc->GetSize();
    if (ioBuffer.GetAllocatedSize() != static_cast<uint64_t>(size)) {
        if (size == 0) {
            ioBuffer.Clear();
            delete desc;
            return VE_OK;
        }
        if (!ioBuffer.SetCapacityExact(static_cast<uint64_t>(size))) {
            // A size that cannot be had in memory: nothing is read.
            delete desc;
            return ThrowFileRefusal(fPath, kErrMemory, [](VValueBag&) {});
        }
    }
    ioBuffer.SetDataSize(static_cast<uint64_t>(size));
    err = (size > 0) ? desc->GetData(ioBuffer.GetDataPtr(), static_cast<size_t>(size), 0) : VE_OK;
    delete desc;
    return err;
}

VError VFile::GetData(void* outBuffer, size_t inCount, size_t* outCount) const
{
    if (outCount != nullptr)
        *outCount = 0;
    VFileDesc* desc = nullptr;
    VError err = _OpenForContent(&desc);
    if (err != VE_OK)
        return err;
    err = desc->GetData(outBuffer, inCount, 0, outCount);
    delete desc;
    return err;
}

VError VFile::_MakeParentFolders() const
{
    VFilePath parent;
    if (!fPath.GetParent(parent))
        return VE_OK;
    VString posix;
    parent.GetPosixPath(posix);
    std::string bytes;
    XMacFile::EncodePathText(posix.GetCPointer(), posix.GetLength(), bytes);
    // The result is not looked at: the open that follows reports the failure.
    plat::MakeFolderChain(bytes, 0777);
    return VE_OK;
}

VError VFile::_WriteContent(const void* inData, size_t inSize, bool inAppend) const
{
    _MakeParentFolders();
    unsigned int options = kFileOptionFollowLink | kFileOptionCreate | (inAppend ? 0 : kFileOptionTruncate);
    if (!inAppend) {
        // The whole content is replaced by renaming a complete new file over
        // the old one: a failure leaves the old content as it was.
        bool writing = false;
        int err = plat::ReplaceFileContent(fMacFile.GetPosixText(), inData, inSize, writing);
        if (err == 0)
            return VE_OK;
        if (writing) {
            return WrapFileError(fPath, PosixError(err), QeltError(216), [&](VValueBag& bag) {
                bag.SetAttribute("count", VLong(static_cast<int>(inSize)));
                bag.SetAttribute("offset", VLong8(0));
            });
        }
        return WrapFileError(fPath, PosixError(err), kErrOpen, [&](VValueBag& bag) {
            bag.SetAttribute("access", VLong(FA_READ_WRITE));
            bag.SetAttribute("options", VLong(static_cast<int>(options)));
        });
    }
    VFileDesc* desc = nullptr;
    VError err = Open(FA_READ_WRITE, &desc, options);
    if (err != VE_OK)
        return err;
    err = desc->PutData(inData, inSize, desc->GetSize());
    delete desc;
    return err;
}

VError VFile::SetContent(const void* inData, size_t inSize) const { return _WriteContent(inData, inSize, false); }

VError VFile::AppendContent(const void* inData, size_t inSize) const { return _WriteContent(inData, inSize, true); }

bool VFile::IsWritable() const
{
    StErrorContextInstaller quiet(false, true);
    VFileDesc* desc = nullptr;
    VError err = Open(FA_READ_WRITE, &desc, kFileOptionReadAhead);
    delete desc;
    return err == VE_OK;
}

// ---- attributes, permissions, links ------------------------------------------------------------

VError VFile::GetTimeAttributes(VTime* outModification, VTime* outCreation, VTime* outAccess) const
{
    VError err = fMacFile.GetTimeAttributes(outModification, outCreation, outAccess);
    if (err != VE_OK) {
        for (VTime* time : {outModification, outCreation, outAccess})
            if (time != nullptr)
                time->Clear();
    }
    return _Wrap(err, kErrGetAttribute);
}

VError VFile::SetTimeAttributes(const VTime* inModification, const VTime* inCreation, const VTime* inAccess) const
{
    return _Wrap(fMacFile.SetTimeAttributes(inModification, inCreation, inAccess), kErrGetAttribute);
}

VError VFile::GetFileAttributes(unsigned int& outAttributes) const
{
    return _Wrap(fMacFile.GetFileAttributes(outAttributes), kErrGetAttribute);
}

VError VFile::SetFileAttributes(unsigned int inAttributes) const
{
    return _Wrap(fMacFile.SetFileAttributes(inAttributes), kErrGetAttribute);
}

VError VFile::MAC_GetKind(unsigned int* outType) const { return _Wrap(fMacFile.GetKind(outType), kErrGetAttribute); }

VError VFile::MAC_SetKind(unsigned int inType) const { return _Wrap(fMacFile.SetKind(inType), kErrSetAttribute); }

VError VFile::MAC_GetCreator(unsigned int* outCreator) const
{
    return _Wrap(fMacFile.GetCreator(outCreator), kErrGetAttribute);
}

VError VFile::Mac_GetOwner(unsigned int& outUid, unsigned int& outGid) const
{
    return _Wrap(fMacFile.GetOwner(outUid, outGid), kErrGetAttribute);
}

VError VFile::MAC_GetPermissions(unsigned short* outMode) const
{
    return _Wrap(fMacFile.GetPermissions(outMode), kErrGetAttribute);
}

VError VFile::MAC_SetPermissions(unsigned short inMode) const
{
    return _Wrap(fMacFile.SetPermissions(inMode), kErrSetAttribute);
}

VError VFile::MAC_MakeWritableByAll() const { return _Wrap(fMacFile.MakeWritableByAll(), kErrSetAttribute); }

VError VFile::MAC_CreateSymbolicLink(const VFilePath& inTarget, bool inAbsolute) const
{
    VError err = fMacFile.CreateSymbolicLink(inTarget, inAbsolute);
    if (err != VE_OK)
        _ThrowError(err);
    return err;
}

bool VFile::RevealInFinder() const { return _Wrap(fMacFile.RevealInFinder(), kErrReveal) == VE_OK; }

// ---- aliases ---------------------------------------------------------------------------------------

VError VFile::ResolveAlias(VFilePath& outTarget) const
{
    VError err = fMacFile.ResolveAlias(outTarget);
    if (err != VE_OK)
        outTarget.Clear();
    return _Wrap(err, kErrResolveAlias);
}

VError VFile::CreateAlias(const VFilePath& inTarget, const VFilePath* inRelativeTo) const
{
    return _Wrap(fMacFile.CreateAlias(inTarget, inRelativeTo), kErrCreateAlias);
}

VError VFile::ResolveAliasFile(VFile** ioFile, bool inDeleteInvalidAlias)
{
    if (*ioFile == nullptr || !(*ioFile)->fMacFile.IsAliasFile())
        return VE_OK;
    VRefPtr<VFile> alias(*ioFile);
    VFilePath target;
    VError err = alias->fMacFile.ResolveAlias(target);
    if (err == VE_OK && target.IsFile()) {
        (*ioFile)->Release();
        *ioFile = new VFile(target);
        return VE_OK;
    }
    if (inDeleteInvalidAlias)
        return alias->Delete();
    if (err == VE_OK) // the alias leads to a folder
        return ThrowFileRefusal(alias->fPath, kErrAliasToFolder, [](VValueBag&) {});
    return alias->_Wrap(err, kErrResolveAlias);
}

VError VFile::ResolveAliasFile(VRefPtr<VFile>& ioFile, bool inDeleteInvalidAlias)
{
    VFile* file = ioFile.Forget();
    VError err = ResolveAliasFile(&file, inDeleteInvalidAlias);
    ioFile.Adopt(file);
    return err;
}

VFile* VFile::CreateAndResolveAlias(const VFolder& inFolder, const VString& inRelativePath, FilePathStyle inStyle)
{
    VFile* file = new VFile(inFolder, inRelativePath, inStyle);
    if (ResolveAliasFile(&file, true) != VE_OK) {
        file->Release();
        return nullptr;
    }
    return file;
}

// ---- kinds -------------------------------------------------------------------------------------------

bool VFile::ConformsTo(const VFileKind& inKind) const
{
    bool conforms = false;
    return fMacFile.ConformsTo(inKind, &conforms) == VE_OK && conforms;
}

bool VFile::ConformsTo(const VString& inKindID) const
{
    VFileKindManager* manager = VFileKindManager::Get();
    if (manager == nullptr)
        return false;
    VRefPtr<VFileKind> kind = AdoptRef(manager->RetainFileKind(inKindID));
    return kind && ConformsTo(*kind);
}

// ---- others -------------------------------------------------------------------------------------------

VError VFile::GetVolumeFreeSpace(long long* outFree, long long* outTotal, bool inWithQuotas, unsigned int inMaxAgeMs,
                                 const VFileDesc* inDesc) const
{
    long long freeBytes = 0, totalBytes = 0;
    VError err = VE_OK;
    if (inMaxAgeMs == 0) {
        err = fMacFile.GetVolumeFreeSpace(&freeBytes, &totalBytes, inWithQuotas, inDesc);
    } else {
        uint32_t now = VSystem::GetCurrentTime();
        VVolumeInfo* info = fVolumeInfo.exchange(nullptr);
        if (info != nullptr && static_cast<uint32_t>(now - info->fStamp) <= inMaxAgeMs &&
            info->fWithQuotas == inWithQuotas) {
            freeBytes = info->fFree;
            totalBytes = info->fTotal;
        } else {
            if (info != nullptr)
                info->Release();
            info = nullptr;
            err = fMacFile.GetVolumeFreeSpace(&freeBytes, &totalBytes, inWithQuotas, inDesc);
            if (err == VE_OK)
                info = new VVolumeInfo(now, inWithQuotas, freeBytes, totalBytes);
        }
        VVolumeInfo* old = fVolumeInfo.exchange(info);
        if (old != nullptr)
            old->Release();
    }
    if (err != VE_OK)
        freeBytes = totalBytes = 0;
    if (outFree != nullptr)
        *outFree = freeBytes;
    if (outTotal != nullptr)
        *outTotal = totalBytes;
    return _Wrap(err, kErrGetAttribute);
}

VFile* VFile::CreateTemporaryFile()
{
    std::string folder = plat::TemporaryFolder();
    if (plat::MakeFolderChain(folder, 0777) != 0)
        return nullptr;
    VString posixFolder;
    XMacFile::DecodePathBytes(folder.data(), folder.size(), posixFolder);
    posixFolder.AppendUniChar('/');
    VFilePath folderPath(posixFolder, FPS_POSIX);
    VUUID uuid(1);
    VString name("qlt_");
    VString digits;
    uuid.GetString(digits);
    name.AppendString(digits);
    VFilePath path(folderPath);
    path.ToSubFile(name);
    VRefPtr<VFile> file = AdoptRef(new VFile(path));
    if (file->Create(0) != VE_OK)
        return nullptr;
    return file.Forget();
}

}  // namespace qelt
