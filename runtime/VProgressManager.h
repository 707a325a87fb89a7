// The process-wide registry of live progress indicators by UUID, through
// which observers find an indicator and gather every snapshot at once.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "runtime/VCriticalSection.h"
#include "values/VUUID.h"

namespace qelt {

class VProgressIndicator;
class VRefCountedSessionInfo;
class VValueBag;

// Makes the standard indicators of a kind; none is installed by default.
class IStdProgressFactory {
public:
    virtual ~IStdProgressFactory() = default;
    virtual VProgressIndicator* Create(int kind, unsigned int flags) = 0;
};

// Adds an element "ProgressInfo" to `bag`, filled by the indicator.
VError _ProgressInfoToBag(VValueBag& bag, VProgressIndicator* indicator);

class VProgressManager : public VObject {
public:
    static bool Init();
    static bool Deinit();
    static void RegisterProgress(VProgressIndicator* indicator);
    static void UnregisterProgress(VProgressIndicator* indicator);
    static VProgressIndicator* RetainProgress(const VUUID& id);
    static VError GetAllProgressInfo(std::vector<VRefPtr<VRefCountedSessionInfo>>& out);
    static VProgressIndicator* CreateStdProgress(int kind, unsigned int flags);

    void _RegisterProgress(VProgressIndicator* indicator);
    void _UnregisterProgress(VProgressIndicator* indicator);
    VProgressIndicator* _RetainProgress(const VUUID& id);
    VProgressIndicator* _RetainProgressIndicator(const VString& name);
    VError _GetProgressInfo(VValueBag& bag, const VString* name);

    static VProgressManager* sProgressManager;

private:
    VCriticalSection fLock;
    std::map<VUUID, VProgressIndicator*> fRegistry;
    std::unique_ptr<IStdProgressFactory> fFactory;
};

}  // namespace qelt
