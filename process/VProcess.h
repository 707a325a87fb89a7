// The process object: one per program, it runs the toolbox's start-up and
// shut-down in a fixed order and owns the process-wide services that belong
// to no other singleton.
#pragma once

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class ILocalizer;
class ILogger;
class VBootLogListener;
class VFile;
class VFileSystemNamespace;
class VFolder;
class VIntlMgr;

class VProcess : public VObject {
public:
    VProcess();
    VProcess(const VProcess&) = delete;
    VProcess& operator=(const VProcess&) = delete;

    // Shuts the toolbox down when Init has run, whatever its result.
    ~VProcess() override;

    // Runs the start-up once; later calls return the first result.
    // Flag 0x10 asks for the logger, 0x2 enables fibers.
    virtual bool Init(unsigned int inFlags);

    bool IsInitDone() const { return fInitDone; }
    unsigned int GetInitFlags() const { return fInitFlags; }

    // The process's logger, or null when it has none.
    ILogger* GetLogger() const { return fLogger; }

    // The source named by records that name none: the product name.
    virtual VString GetLogSourceIdentifier() const;

    // The process's international text manager, made at start-up; tasks
    // start with a clone of it.
    VIntlMgr* GetDefaultIntlMgr() const { return fDefaultIntlMgr; }

    // The process's localiser (not owned), read by LocalizeString; set and
    // read under VErrorBase::LocalizersMutex().
    ILocalizer* GetLocalizer() const;
    void SetLocalizer(ILocalizer* inLocalizer);

    // The process's named file systems (built-in and defined ones).
    VFileSystemNamespace* GetFileSystemNamespace() const { return fFileSystemNamespace; }

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

    // The one process object, or null before its start-up and after its
    // shut-down.
    static VProcess* sInstance;

protected:
    // The ordered start-up steps; false at the first that fails.
    bool _Init(unsigned int inFlags);

    // The shut-down steps, in the reverse order of the start-up.
    void _DeInit();

    // The logger with its boot listener, started (start-up flag 0x10).
    bool _CreateLogger();
    // Stops the logger, waits for its task's death and releases it with
    // its boot listener; the task manager must still be up.
    void _ReleaseLogger();

    // Registers the built-in file systems and those of "fileSystems.json".
    bool _Init_FileSystems();

private:
    bool fInitDone = false;
    bool fInitResult = false;
    unsigned int fInitFlags = 0;
    ILogger* fLogger = nullptr;
    VBootLogListener* fBootLogListener = nullptr;
    VString fProductName;
    VIntlMgr* fDefaultIntlMgr = nullptr;
    ILocalizer* fLocalizer = nullptr;
    VFileSystemNamespace* fFileSystemNamespace = nullptr;
};

}  // namespace qelt
