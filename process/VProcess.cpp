#include "process/VProcess.h"

#include "files/VFile.h"
#include "files/VFileKindManager.h"
#include "files/VResourceFile.h"
#include "files/VFileSystemNamespace.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "kernel/VIntlMgr.h"
#include "platform/PlatBundle.h"
#include "platform/PlatFile.h"
#include "platform/PlatFolders.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess() : fFileSystemNamespace(new VFileSystemNamespace(nullptr)) {}

VProcess::~VProcess()
{
    ReleaseRefCountable(fFileSystemNamespace);
    fFileSystemNamespace = nullptr;
    if (fInitDone)
        _DeInit();
}

bool VProcess::Init(unsigned int inFlags)
{
    if (!fInitDone) {
        fInitDone = true;
        fInitFlags = inFlags;
        fInitResult = _Init(inFlags);
    }
    return fInitResult;
}

bool VProcess::_Init(unsigned int inFlags)
{
    (void)inFlags;

    // The process object is reachable from the very first step on.
    sInstance = this;

    // Still to come here: the system version check.

    // The international text library, then the process's default manager
    // for the user's dialect.
    if (!VIntlMgr::Init())
        return false;
    fDefaultIntlMgr = VIntlMgr::Create(0, 0, 1);
    if (fDefaultIntlMgr == nullptr)
        return false;

    // The file layer, the file kinds and resource files; still to come
    // here: the install folder check.
    if (!VFile::Init() || !VFileKindManager::Init() || !VResourceFile::Init())
        return false;

    if (!VTaskMgr::Init(this))
        return false;
    if (!VErrorBase::Init())
        return false;
    if (!_Init_FileSystems())
        return false;

    // Still to come, in this order: the debug manager, the progress manager,
    // the built-in file systems, the root class store, and with flag 0x10
    // the logger with its boot listener.
    return true;
}

void VProcess::_DeInit()
{
    sInstance = nullptr;
    // The debug manager stops here once it exists.
    VErrorBase::DeInit();
    VTaskMgr::DeInit();
    VResourceFile::DeInit();
    VFileKindManager::DeInit();
    VFile::DeInit();
    // Still to come, in this order: the progress manager.
    ReleaseRefCountable(fDefaultIntlMgr);
    fDefaultIntlMgr = nullptr;
    // The logger stops here once it exists; the international text library
    // is the very last to go.
    VIntlMgr::ICU_Cleanup();
}

namespace {

VFolder* FolderFromPosix(const std::string& inPosix)
{
    if (inPosix.empty())
        return nullptr;
    std::string text = inPosix;
    if (text.back() != '/')
        text += '/';
    VFilePath path;
    XMacFile::GetFilePathFromPosixPath(text.c_str(), true, path);
    return path.IsValid() ? new VFolder(path, nullptr) : nullptr;
}

// The file named by the text in the folder: the path as given, else a plain
// name matched without regard to letter case.
VFile* ExistingFileIn(const VFolder* inFolder, const VString& inName, FilePathStyle inStyle)
{
    if (inFolder == nullptr || !inFolder->Exists())
        return nullptr;
    VRefPtr<VFile> file = AdoptRef(inFolder->RetainRelativeFile(inName, inStyle));
    if (file.Get() != nullptr && file->Exists())
        return file.Forget();
    std::string name;
    XMacFile::EncodePathText(inName.GetCPointer(), inName.GetLength(), name);
    std::string found = plat::FindFileIgnoringCase(inFolder->GetPlatform().GetPosixText(), name);
    if (found.empty())
        return nullptr;
    VFilePath path;
    XMacFile::GetFilePathFromPosixPath(found.c_str(), false, path);
    return path.IsValid() ? new VFile(path) : nullptr;
}

}  // namespace

VFolder* VProcess::RetainFolder(unsigned int inKind) const
{
    const std::string executableFolder = plat::GetExecutableFolder();
    const std::string contents = plat::ParentPath(executableFolder);
    const std::string resources = plat::GetMainBundleResourcesFolder();
    switch (inKind) {
        case FourCC("BNDL"):
            return FolderFromPosix(plat::ParentPath(contents));
        case FourCC("PLST"):
            return FolderFromPosix(contents);
        case FourCC("EXEC"):
            return FolderFromPosix(executableFolder);
        case FourCC("RSRC"):
            return FolderFromPosix(resources);
        case FourCC("NCMP"):
            return FolderFromPosix(contents + "/Native Components");
        case FourCC("DTDs"):
            return FolderFromPosix(resources + "/DTD");
        case FourCC("XSDs"):
            return FolderFromPosix(resources + "/XSD");
        case FourCC("XSLs"):
            return FolderFromPosix(resources + "/XSL");
        case FourCC("JSNs"):
            return FolderFromPosix(resources + "/JSONSchemas");
        default:
            return nullptr;
    }
}

VFile* VProcess::RetainFile(unsigned int inKind, const VString& inName, unsigned int inFallbackKind) const
{
    VRefPtr<VFolder> folder = AdoptRef(RetainFolder(inKind));
    if (VFile* file = ExistingFileIn(folder.Get(), inName, FPS_POSIX))
        return file;
    if (inFallbackKind == 0)
        return nullptr;
    VRefPtr<VFolder> fallback = AdoptRef(RetainFolder(inFallbackKind));
    return ExistingFileIn(fallback.Get(), inName, FPS_SYSTEM);
}

bool VProcess::_Init_FileSystems()
{
    VError err = VE_OK;
    VRefPtr<VFolder> documents = AdoptRef(VFolder::RetainSystemFolder(eFK_UserDocuments, false));
    if (documents.Get() != nullptr)
        err = fFileSystemNamespace->RegisterFileSystem(VString(".USER_HOME_DIRECTORY"), documents.Get(),
                                                       kFileSystemPrivate);
    if (err == VE_OK) {
        VRefPtr<VFolder> resources = AdoptRef(RetainFolder(FourCC("RSRC")));
        if (resources.Get() != nullptr)
            err = fFileSystemNamespace->RegisterFileSystem(VString(".PRODUCT_RESOURCES"), resources.Get(), 0);
    }
    if (err == VE_OK) {
        VRefPtr<VFile> definitions = AdoptRef(RetainFile(FourCC("RSRC"), VString("fileSystems.json")));
        if (definitions.Get() != nullptr)
            err = fFileSystemNamespace->LoadFromDefinitionFile(definitions.Get());
    }
    return err == VE_OK;
}

}  // namespace qelt
