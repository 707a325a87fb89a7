// The process object: one per program, it runs the toolbox's start-up and
// shut-down in a fixed order and owns the process-wide services that belong
// to no other singleton.
#pragma once

#include <set>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "runtime/ILogger.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VMessage.h"

namespace qelt {

class ILogger;
class VBootLogListener;
class VIntlMgr;
class VResourceFile;
class VActivityToken;
class ILocalizer;
class VFile;
class VFileSystemNamespace;
class VFolder;
class VJSONObject;
class VJSONClassStore;

// Start-up flags of Init.
constexpr unsigned int kInitFibers = 0x2;              // tasks may run as fibers
constexpr unsigned int kInitLogger = 0x10;             // the logger with its boot listener
constexpr unsigned int kInitFileSystemNotifier = 0x40;  // the file-system notifier (VProcessIPC)

class VProcess : public VObject, public IMessageable {
public:
    VProcess();
    VProcess(const VProcess&) = delete;
    VProcess& operator=(const VProcess&) = delete;

    // Shuts the toolbox down when Init has run, whatever its result.
    ~VProcess() override;

    // Runs the start-up once; later calls return the first result.
    // kInitLogger asks for the logger, kInitFibers enables fibers.
    virtual bool Init(unsigned int inFlags);

    bool IsInitDone() const { return fInitDone; }
    unsigned int GetInitFlags() const { return fInitFlags; }

    // The process's logger, or null when it has none.
    ILogger* GetLogger() const { return fLogger; }
    // The logger when it exists and logs records of that level, else null.
    ILogger* GetLogger(EMessageLevel inLevel) const;
    // The listener that keeps every record logged since the logger started.
    VBootLogListener* GetBootLogListener() const { return fBootLogListener; }
    // Hands the records the boot listener kept to the logger again, so that
    // the listeners added since receive them too, then removes the boot
    // listener from the logger and releases it.
    void CleanBootLogListener();

    // The source named by records that name none: the product name.
    virtual VString GetLogSourceIdentifier() const;

    // The process's localiser (not owned), read by LocalizeString; set and
    // read under VErrorBase::LocalizersMutex().
    ILocalizer* GetLocalizer() const;
    void SetLocalizer(ILocalizer* inLocalizer);

    // The process's named file systems (built-in and defined ones).
    VFileSystemNamespace* GetFileSystemNamespace() const { return fFileSystemNamespace; }

    // The root JSON class store "vq" (not retained), made at start-up.
    VJSONClassStore* GetClassStore() const { return fClassStore; }
    // The class of that name in the root store when the store name matches
    // exactly, else null.
    virtual VRefPtr<VJSONObject> GetClassObject(const VString& inStoreName, const VString& inClassName) const;

    // A new folder object for a kind of the program's folders: 'BNDL' the
    // bundle, 'PLST' its Contents, 'EXEC' the executable's folder, 'RSRC'
    // the resources, 'NCMP' "Native Components", 'DTDs', 'XSDs', 'XSLs' and
    // 'JSNs' inside the resources; null for any other kind.
    virtual VFolder* RetainFolder(unsigned int inKind) const;
    // The existing file of that name (a POSIX relative path) in the folder
    // of the kind, else in the folder of the fallback kind (in the own path
    // form); a plain name is matched exactly first, then without regard to
    // letter case. Null when none exists.
    VFile* RetainFile(unsigned int inKind, const VString& inName, unsigned int inFallbackKind = 0) const;

    // The process's international text manager, made at start-up; tasks
    // start with a clone of it.
    VIntlMgr* GetDefaultIntlMgr() const { return fDefaultIntlMgr; }

    // The one process object, or null before its start-up and after its
    // shut-down.
    static VProcess* sInstance;

    // ---- Running ------------------------------------------------------
    // On the main task: runs DoRun then DoQuit, then kills the main task.
    // After a failed start-up it raises 'qelt' 4 instead.
    void Run();
    // Kills the main task and wakes it, so that Run returns; the reason is
    // not used. Callable from any thread.
    virtual void QuitAsynchronously(const VString* inReason);
    // True while a main task exists and is not dying.
    static bool IsRunning();

    // The process's resource file, retained; this process holds none.
    virtual VResourceFile* RetainResourceFile();

    // ---- Product name and version (from the main bundle's Info.plist) ----
    const VString& GetProductName() const { return fProductName; }
    const VString& GetProductVersion() const { return fProductVersion; }
    const VString& GetProductFolderName() const { return fProductFolderName; }
    // A version reads "<short version> build <build number>".
    void GetBuildNumber(VString& outBuildNumber) const;
    void GetShortProductVersion(VString& outVersion) const;
    // The short version up to its first '.'.
    void GetMainProductVersion(VString& outVersion) const;
    // The number after the last '.' of the build number, 0 without one.
    int32_t GetChangeListNumber() const;

    // ---- The main bundle's executable -----------------------------------
    VFilePath GetExecutableFilePath() const;
    // A new file object on the executable; the caller releases it.
    VFile* RetainExecutableFile() const;
    VFilePath GetExecutableFolderPath() const;

    // The product's own folder (named by the product folder name) inside the
    // standard folder of the kind, a link to a folder standing for it; for
    // kinds 0, 3, 8, 9, 12 and others the standard folder itself. A missing
    // one is made when asked, with its parents, under the process's umask;
    // kinds 1, 2 and 4 fall back to 5, 6 to 7 and 10 to 11 when it cannot
    // be made. Null when there is none; the caller releases it.
    VFolder* RetainProductSystemFolder(ESystemFolderKind inKind, bool inCreate) const;

    // ---- Activity tokens ------------------------------------------------
    // True while a token lives, or for inMilliseconds after the last one went.
    bool HasSomeActivityTokens(uint32_t inMilliseconds);
    void RegisterActivityToken(VActivityToken* inToken);
    void UnregisterActivityToken(VActivityToken* inToken);
    // The names of the tokens alive now, for diagnostics.
    std::vector<VString> GetActivityTokenNames() const;

    // ---- Processes ------------------------------------------------------
    static int GetSystemID();
    // True when a process of that id exists (ids of 0 and below never name
    // one process).
    static bool IsProcessRunning(int inPid);

protected:
    // The application's hooks, run by Run.
    virtual void DoRun() {}
    virtual void DoQuit() {}
    // The first start-up step; false (after a notification) when the system
    // is older than asked.
    virtual bool DoCheckSystemVersion(VSystem::SystemVersion inVersion);

    // On a case-sensitive volume the check cannot pass: the start-up warns
    // and goes on.
    bool _CheckCaseInsensitiveInstallFolder();

protected:
    // The ordered start-up steps; false at the first that fails.
    bool _Init(unsigned int inFlags);

    // The shut-down steps, in the reverse order of the start-up.
    void _DeInit();

    // The logger with its boot listener, started (start-up flag kInitLogger).
    bool _CreateLogger();
    // Stops the logger, waits for its task's death and releases it with
    // its boot listener; the task manager must still be up.
    void _ReleaseLogger();
    void _ReleaseClassStore();

    // Registers the built-in file systems and those of "fileSystems.json".
    bool _Init_FileSystems();

private:
    bool fInitDone = false;
    bool fInitResult = false;
    unsigned int fInitFlags = 0;
    ILogger* fLogger = nullptr;
    VBootLogListener* fBootLogListener = nullptr;
    VIntlMgr* fDefaultIntlMgr = nullptr;

    // Lets the tokens still alive when the process object goes forget it.
    void _DetachActivityTokens();

    mutable VCriticalSection fTokenLock;
    std::set<VActivityToken*> fActivityTokens;
    uint32_t fLastTokenRelease;

protected:
    // Read from the main bundle's Info.plist by the constructor.
    VString fProductName;
    VString fProductVersion;
    VString fProductFolderName;

private:
    // Set when the install folder lies on a case-sensitive volume.
    bool fCaseSensitiveInstallFolder = false;
    ILocalizer* fLocalizer = nullptr;
    VFileSystemNamespace* fFileSystemNamespace = nullptr;
    VJSONClassStore* fClassStore = nullptr;
};

// A named token that marks the process as busy while it lives. It is
// registered with the process object of its creation and unregistered from
// that same object when it goes, even once VProcess::sInstance has been
// cleared by the shut-down (tasks give their tokens back while it runs). A
// token made without a process object, or outliving it, marks nothing.
class VActivityToken : public VObject, public IRefCountable {
public:
    explicit VActivityToken(const VString& inName);
    const VString& GetName() const { return fName; }

protected:
    ~VActivityToken() override;

private:
    friend class VProcess;

    VString fName;
    VProcess* fProcess = nullptr;  // guarded by the process-wide token link lock
};

}  // namespace qelt
