#include "process/VProcess.h"

#include <mutex>
#include <string>

#include "files/VFile.h"
#include "files/VFileSystemNamespace.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "platform/PlatFolders.h"
#include "files/VFileKindManager.h"
#include "files/VResourceFile.h"
#include "json/VJSONClassStore.h"
#include "kernel/VIntlMgr.h"
#include "platform/PlatBundle.h"
#include "platform/PlatProcesses.h"
#include "process/VBootLogListener.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VProgressManager.h"
#include "runtime/VTask.h"
#include "platform/PlatFile.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VLogger.h"
#include "runtime/VTaskMgr.h"
#include "values/VValueBag.h"

namespace qelt {

VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess()
    : fLastTokenRelease(VSystem::GetCurrentTime()), fFileSystemNamespace(new VFileSystemNamespace(nullptr))
{
    std::string value;
    if (plat::GetMainBundleInfoValue("CFBundleName", value))
        fProductName.FromBlock(value.data(), value.size(), VTC_UTF_8);
    if (plat::GetMainBundleInfoValue("CFBundleShortVersionString", value))
        fProductVersion.FromBlock(value.data(), value.size(), VTC_UTF_8);
    fProductFolderName = fProductName;
}

VProcess::~VProcess()
{
    // The named file systems, then the logger (while its task can still be
    // waited for) and its boot listener go before the toolbox shuts down.
    VFileSystemNamespace* fileSystems = fFileSystemNamespace;
    fFileSystemNamespace = nullptr;
    ReleaseRefCountable(fileSystems);
    _ReleaseLogger();
    if (fInitDone)
        _DeInit();
    _ReleaseClassStore();
    // The tasks have ended with the task manager; a token held elsewhere
    // outlives this object and must not reach it.
    _DetachActivityTokens();
}

void VProcess::_ReleaseClassStore()
{
    if (VJSONClassStore* store = fClassStore) {
        fClassStore = nullptr;
        store->TearDown();
        store->Release();
    }
}

VRefPtr<VJSONObject> VProcess::GetClassObject(const VString& inStoreName, const VString& inClassName) const
{
    if (fClassStore == nullptr || !fClassStore->GetName().EqualToStringRaw(inStoreName))
        return nullptr;
    return fClassStore->GetClassObject(inClassName, false);
}

VString VProcess::GetLogSourceIdentifier() const
{
    return fProductName;
}

ILocalizer* VProcess::GetLocalizer() const
{
    std::lock_guard<std::recursive_mutex> lock(VErrorBase::LocalizersMutex());
    return fLocalizer;
}

void VProcess::SetLocalizer(ILocalizer* inLocalizer)
{
    std::lock_guard<std::recursive_mutex> lock(VErrorBase::LocalizersMutex());
    fLocalizer = inLocalizer;
}

bool VProcess::_CreateLogger()
{
    if (fLogger != nullptr)
        return true;
    VLogger* logger = new VLogger;
    fLogger = logger;
    fBootLogListener = new VBootLogListener;
    logger->AddLogListener(fBootLogListener);
    logger->Start();
    return true;
}

ILogger* VProcess::GetLogger(EMessageLevel inLevel) const
{
    return fLogger != nullptr && fLogger->ShouldLog(inLevel) ? fLogger : nullptr;
}

void VProcess::CleanBootLogListener()
{
    if (fLogger != nullptr && fBootLogListener != nullptr) {
        for (const VValueBag* record : fBootLogListener->RetainRecords()) {
            fLogger->LogBag(record);
            record->Release();
        }
        fLogger->RemoveLogListener(fBootLogListener);
    }
    VBootLogListener* listener = fBootLogListener;
    fBootLogListener = nullptr;
    ReleaseRefCountable(listener);
}

void VProcess::_ReleaseLogger()
{
    // No toolbox thread outlives the task manager: the logger's task is
    // stopped and, when this is the last reference, waited for until dead.
    if (fLogger != nullptr) {
        ILogger* logger = fLogger;
        fLogger = nullptr;
        logger->Stop();
        logger->Release();
    }
    ReleaseRefCountable(fBootLogListener);
    fBootLogListener = nullptr;
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
    // The process object is reachable from the very first step on.
    sInstance = this;

    // The system version check (always satisfied here).
    if (!DoCheckSystemVersion(VSystem::MAC_OSX_10_12))
        return false;

    // The international text library, then the process's default manager
    // for the user's dialect.
    if (!VIntlMgr::Init())
        return false;
    fDefaultIntlMgr = VIntlMgr::Create(0, 0, 1);
    if (fDefaultIntlMgr == nullptr)
        return false;

    // The file layer, the file kinds and resource files, then the install
    // folder check.
    if (!VFile::Init() || !VFileKindManager::Init() || !VResourceFile::Init())
        return false;
    if (!_CheckCaseInsensitiveInstallFolder())
        return false;

    if (!VTaskMgr::Init(this))
        return false;
    if (!VErrorBase::Init())
        return false;
    if (!VDebugMgr::Get()->Init())
        return false;

    if (!VProgressManager::Init())
        return false;
    if (!_Init_FileSystems())
        return false;
    // The root class store with its root classes.
    _ReleaseClassStore();
    fClassStore = new VJSONClassStore(VString("vq"));
    fClassStore->AddRootClasses();

    // With kInitLogger, the logger with its boot listener, last.
    if ((inFlags & kInitLogger) != 0 && !_CreateLogger())
        return false;
    if (fCaseSensitiveInstallFolder && fLogger != nullptr)
        fLogger->LogMessage(EML_Warning, VString("The application is installed on a case-sensitive file system"),
                            GetLogSourceIdentifier());
    return true;
}

void VProcess::_DeInit()
{
    sInstance = nullptr;
    VDebugMgr::Get()->DeInit();
    VErrorBase::DeInit();
    _ReleaseLogger();
    VTaskMgr::DeInit();
    VResourceFile::DeInit();
    VFileKindManager::DeInit();
    VFile::DeInit();
    VProgressManager::Deinit();
    ReleaseRefCountable(fDefaultIntlMgr);
    fDefaultIntlMgr = nullptr;
    // The international text library is the very last to go.
    VIntlMgr::ICU_Cleanup();
}

bool VProcess::DoCheckSystemVersion(VSystem::SystemVersion inVersion)
{
    bool ok = VSystem::IsSystemVersionOrAbove(inVersion);
    if (!ok) {
        VString message(inVersion == VSystem::MAC_OSX_10_12 ? "This application needs at least OS X 10.12"
                                                             : "This application needs at least OS X 10.7");
        VSystem::DisplayNotification(VString("Initialization failed"), message, 0, nullptr);
    }
    return ok;
}

bool VProcess::_CheckCaseInsensitiveInstallFolder()
{
    // The resources folder, and the same path with the case of its last
    // name's first letter flipped: on a case-insensitive volume both exist.
    std::string folder = plat::GetMainBundleResourcesFolder();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    size_t slash = folder.rfind('/');
    if (slash == std::string::npos || slash + 1 >= folder.size())
        return true;
    std::string flipped = folder;
    char& first = flipped[slash + 1];
    if (first >= 'a' && first <= 'z')
        first = static_cast<char>(first - 'a' + 'A');
    else if (first >= 'A' && first <= 'Z')
        first = static_cast<char>(first - 'A' + 'a');
    plat::EntryInfo info;
    bool exists = plat::GetEntryInfo(folder.c_str(), true, info) == 0;
    bool flippedExists = plat::GetEntryInfo(flipped.c_str(), true, info) == 0;
    // Linux volumes are case-sensitive: the start-up goes on, and warns in
    // the boot log once the logger is started.
    fCaseSensitiveInstallFolder = exists != flippedExists;
    return true;
}

// ---------------------------------------------------------------------------
// Running

bool VProcess::IsRunning()
{
    if (!VTaskMgr::sInstanceInited.load())
        return false;
    VTask* main = VTaskMgr::Get()->GetMainTask();
    return main != nullptr && !main->IsDying();
}

void VProcess::Run()
{
    if (!VTaskMgr::sInstanceInited.load())
        return;
    VTask* main = VTaskMgr::Get()->GetMainTask();
    if (main == nullptr || VTask::GetCurrent() != main || main->GetState() != TaskState_Running)
        return;
    if (!fInitDone)
        Init(kInitLogger | kInitFileSystemNotifier);
    if (!fInitResult) {
        VString reason("VApplication::DoInit failed");
        _ThrowError(QeltError(4), &reason);
        return;
    }
    VTask::FlushErrors();
    // The process object's messages are executed by the main task.
    SetMessagingTask(main->GetID());
    StartMessaging();
    main->StartMessaging();
    DoRun();
    DoQuit();
    main->Kill();
    StopMessaging();
}

void VProcess::QuitAsynchronously(const VString*)
{
    if (!VTaskMgr::sInstanceInited.load())
        return;
    VTask* main = VTaskMgr::Get()->GetMainTask();
    if (main == nullptr)
        return;
    main->Kill();
    // Ends the main task's message wait, and a sleep if it is sleeping.
    main->SetMessageQueueEvent();
    main->WakeUp();
}

VResourceFile* VProcess::RetainResourceFile() { return nullptr; }

// ---------------------------------------------------------------------------
// Product version

namespace {

// Position of "build " in the version (collation search, diacritics ignored).
int FindBuild(const VString& inVersion) { return inVersion.Find(VString("build "), 1, false); }

}  // namespace

void VProcess::GetBuildNumber(VString& outBuildNumber) const
{
    int found = FindBuild(fProductVersion);
    if (found <= 0) {
        outBuildNumber.Clear();
        return;
    }
    fProductVersion.GetSubString(found + 6, fProductVersion.GetLength() - (found + 5), outBuildNumber);
    outBuildNumber.RemoveWhiteSpaces();
}

void VProcess::GetShortProductVersion(VString& outVersion) const
{
    int found = FindBuild(fProductVersion);
    if (found > 0)
        outVersion = fProductVersion.Before(found);
    else
        outVersion = fProductVersion;
    outVersion.RemoveWhiteSpaces();
}

void VProcess::GetMainProductVersion(VString& outVersion) const
{
    GetShortProductVersion(outVersion);
    int dot = outVersion.FindUniChar('.');
    if (dot > 0)
        outVersion.Truncate(dot - 1);
}

int32_t VProcess::GetChangeListNumber() const
{
    VString build;
    GetBuildNumber(build);
    int dot = build.FindUniChar('.', build.GetLength(), true);
    if (dot <= 0)
        return 0;
    return build.After(dot).GetLong();
}

// ---------------------------------------------------------------------------
// The executable

namespace {

VFilePath PosixPath(const std::string& inPath)
{
    VString text;
    text.FromBlock(inPath.data(), inPath.size(), VTC_UTF_8);
    return VFilePath(text, FPS_POSIX);
}

}  // namespace

VFilePath VProcess::GetExecutableFilePath() const { return PosixPath(plat::GetExecutablePath()); }

VFile* VProcess::RetainExecutableFile() const { return new VFile(GetExecutableFilePath()); }

VFilePath VProcess::GetExecutableFolderPath() const { return PosixPath(plat::GetExecutableFolder() + "/"); }

// ---------------------------------------------------------------------------
// Activity tokens

bool VProcess::HasSomeActivityTokens(uint32_t inMilliseconds)
{
    StLocker locker(fTokenLock);
    if (!fActivityTokens.empty())
        return true;
    return VSystem::GetCurrentTime() - fLastTokenRelease < inMilliseconds;
}

void VProcess::RegisterActivityToken(VActivityToken* inToken)
{
    StLocker locker(fTokenLock);
    fActivityTokens.insert(inToken);
}

void VProcess::UnregisterActivityToken(VActivityToken* inToken)
{
    StLocker locker(fTokenLock);
    fActivityTokens.erase(inToken);
    if (fActivityTokens.empty())
        fLastTokenRelease = VSystem::GetCurrentTime();
}

std::vector<VString> VProcess::GetActivityTokenNames() const
{
    StLocker locker(fTokenLock);
    std::vector<VString> names;
    for (const VActivityToken* token : fActivityTokens)
        names.push_back(token->GetName());
    return names;
}

namespace {

// Guards the link from each token to its process: a token's creation and
// end against the process object's own end, on any thread.
std::mutex& TokenLinkMutex()
{
    static std::mutex sMutex;
    return sMutex;
}

}  // namespace

void VProcess::_DetachActivityTokens()
{
    std::lock_guard<std::mutex> link(TokenLinkMutex());
    StLocker locker(fTokenLock);
    for (VActivityToken* token : fActivityTokens)
        token->fProcess = nullptr;
    fActivityTokens.clear();
}

VActivityToken::VActivityToken(const VString& inName) : fName(inName)
{
    std::lock_guard<std::mutex> link(TokenLinkMutex());
    fProcess = VProcess::sInstance;
    if (fProcess != nullptr)
        fProcess->RegisterActivityToken(this);
}

VActivityToken::~VActivityToken()
{
    std::lock_guard<std::mutex> link(TokenLinkMutex());
    if (fProcess != nullptr)
        fProcess->UnregisterActivityToken(this);
}

// ---------------------------------------------------------------------------
// Processes

int VProcess::GetSystemID() { return plat::CurrentProcessID(); }

bool VProcess::IsProcessRunning(int inPid) { return plat::ProcessExists(inPid); }

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

VFolder* VProcess::RetainProductSystemFolder(ESystemFolderKind inKind, bool inCreate) const
{
    // Which kinds hold a product subfolder, and where to go when it cannot
    // be made.
    bool hasFallback = true;
    ESystemFolderKind fallback = eFK_UserPreferences;
    switch (inKind) {
        case eFK_UserDocuments:
        case eFK_Temporary:
        case eFK_CommonPreferences:
            fallback = eFK_UserPreferences;
            break;
        case eFK_CommonApplicationData:
            fallback = eFK_UserApplicationData;
            break;
        case eFK_CommonCache:
            fallback = eFK_UserCache;
            break;
        case eFK_UserPreferences:
        case eFK_UserApplicationData:
        case eFK_UserCache:
        case eFK_Home:
            hasFallback = false;
            break;
        default:
            return VFolder::RetainSystemFolder(inKind, inCreate);
    }

    VRefPtr<VFolder> system = AdoptRef(VFolder::RetainSystemFolder(inKind, inCreate));
    if (system.Get() == nullptr)
        return nullptr;
    VFilePath path = system->GetPath();
    path.ToSubFolder(fProductFolderName);
    VFolder* folder = new VFolder(path, nullptr);
    {
        // A link standing for the product folder is followed when it leads
        // to a folder; any other entry of that name is left as it is.
        StErrorContextInstaller quiet(false, true);
        VFolder::ResolveAliasFolder(&folder, false);
    }
    if (folder->Exists())
        return folder;
    VRefPtr<VFolder> product = AdoptRef(folder);
    if (!inCreate)
        return nullptr;
    // Made with the process's umask: never writable by all, whatever the
    // folder is for.
    if (hasFallback) {
        VError err;
        {
            StErrorContextInstaller quiet(false, true);
            err = product->CreateRecursive(false);
        }
        if (err != VE_OK)
            return RetainProductSystemFolder(fallback, true);
    } else if (product->CreateRecursive(false) != VE_OK) {
        return nullptr;
    }
    return product.Forget();
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
