// The process object: one per program, it runs the toolbox's start-up and
// shut-down in a fixed order and owns the process-wide services that belong
// to no other singleton.
#pragma once

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class ILocalizer;
class ILogger;
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

    // The process's international text manager, made at start-up; tasks
    // start with a clone of it.
    VIntlMgr* GetDefaultIntlMgr() const { return fDefaultIntlMgr; }

    // The process's localiser (not owned), read by LocalizeString; set and
    // read under VErrorBase::LocalizersMutex().
    ILocalizer* GetLocalizer() const;
    void SetLocalizer(ILocalizer* inLocalizer);

    // The one process object, or null before its start-up and after its
    // shut-down.
    static VProcess* sInstance;

protected:
    // The ordered start-up steps; false at the first that fails.
    bool _Init(unsigned int inFlags);

    // The shut-down steps, in the reverse order of the start-up.
    void _DeInit();

private:
    bool fInitDone = false;
    bool fInitResult = false;
    unsigned int fInitFlags = 0;
    ILogger* fLogger = nullptr;
    VIntlMgr* fDefaultIntlMgr = nullptr;
    ILocalizer* fLocalizer = nullptr;
};

}  // namespace qelt
