// How far a piece of work has come. The working task opens nested sessions,
// reports its value and closes them; the indicator computes one completion
// fraction over the nest and answers every report with go on (true) or
// stop (false: user abort, or the working task is dying). Observers on other
// tasks read snapshots that the working task builds when asked, or, for an
// indicator that mirrors another process's one, take a non-blocking look.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VProgressIndicatorInfo.h"
#include "values/VUUID.h"

namespace qelt {

class VStream;
class VValueBag;
class VValueSingle;
class IProgressInfoCollector;
class VRefCountedSessionInfo;
class VRemoteProgressSessionInfo;
struct VProgressSessionInfo;

class VProgressIndicator : public VObject, public IRefCountable {
public:
    using SessionStack = std::deque<VProgressIndicatorInfo>;

    VProgressIndicator();
    VProgressIndicator(const VUUID& uuid, int sessionVersion);
    ~VProgressIndicator() override;
    VProgressIndicator(const VProgressIndicator&) = delete;
    VProgressIndicator& operator=(const VProgressIndicator&) = delete;

    virtual VError SaveInfoToBag(VValueBag& bag);
    virtual bool IsManagerValid() const { return true; }
    virtual void DoBeginSession(int) {}
    virtual void DoEndSession(int) {}
    virtual bool DoProgress();

    // Sessions. Every opener answers true.
    bool BeginSession(long long max, const VString& msg);
    bool BeginSession(long long max, const VString& msg, IProgressInfoCollector* collector);
    bool BeginSession(long long max, const VString& msg, bool interruptible, IProgressInfoCollector* collector);
    bool BeginSession(long long max, long long value, const VString& msg, bool interruptible,
                      IProgressInfoCollector* collector);
    bool BeginUndeterminedSession(const VString& msg);
    bool BeginUndeterminedSession(const VString& msg, bool interruptible, IProgressInfoCollector* collector);
    bool EndSession();

    // Reports: true to go on, false to stop. Without a session, true.
    bool Progress(long long value);
    bool Increment(long long delta = 1);
    bool Decrement(long long delta = 1);

    void SetMaxValue(long long max);
    long long GetMaxValue() const;
    long long GetCurrentValue() const { return fCurrent.fValue; }
    void SetMessage(const VString& msg);
    void SetMessageAndValue(const VString& msg, long long value);
    void SetMessageAndIncrementValue(const VString& msg, long long delta);
    void GetMessage(VString& out) const;
    void SetAttribute(const VString& name, const VValueSingle& value);
    void RemoveAttribute(const VString& name);
    void SetCanInterrupt(bool value, bool forCurrentSession);
    void SetProgressInfoCollector(IProgressInfoCollector* collector, IProgressInfoCollector** old);
    void Reset(const VString& msg, long long max, long long value);
    int GetSessionCount() const { return fSessionCount; }
    void _Init();
    float ComputePercentDone() const;

    bool Lock() const { return fLock.Lock(); }
    bool Unlock() const { return fLock.Unlock(); }
    bool SetProgressInfo(const VProgressIndicatorInfo& info);
    bool GetProgressInfo(const VUUID& id, VProgressIndicatorInfo& out) const;

    // Snapshots for observers on other tasks.
    void UpdateSessionsInfos();
    VRefCountedSessionInfo* RetainSessionsInfos() const;
    bool GetProgressInfo(VProgressSessionInfo& out);
    // The snapshot check: one comparison unless an observer asked.
    void _CheckCollectInfo()
    {
        if (fRequestedStamp.load(std::memory_order_relaxed) != fCollectedStamp)
            _CollectInfo();
    }

    // Mirroring of another process's indicator.
    bool GetProgressInfo(VRemoteProgressSessionInfo& out, VRemoteProgressSessionInfo* previous) const;
    bool UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& remote);
    void _CloseRemoteSession();
    void _CleanRemoteSession();
    VError WriteInfoForRemote(VStream& stream);
    VError WriteInfoForRemote(VValueBag& bag, VString& kind);

    // Reports the current record to the metrics manager.
    void DoMetrics();

    // A retain that fails (answers false) once the count has reached 0, so
    // that a registry never hands out an indicator being destroyed.
    bool _TryRetain() const;

    const VUUID& GetUUID() const { return fUUID; }
    const VString& GetUserInfo() const { return fUserInfo; }
    const VString& GetTitle() const { return fTitle; }
    int32_t GetSessionVersion() const { return fSessionVersion; }
    int32_t GetChangesCounter() const { return fChangesCounter; }
    int32_t GetUserAbort() const { return fUserAbort; }
    void SetUserAbort(int32_t state) { fUserAbort = state; }
    bool IsMirroring() const { return fMirroring != 0; }
    int32_t GetBaseLevel() const { return fBaseLevel; }
    const SessionStack& GetSessionStack() const { return fStack; }
    const VProgressIndicatorInfo& GetCurrentInfo() const { return fCurrent; }

private:
    void _Construct();
    void _CollectInfo();
    void _CloseOneSession();
    void _CloseDownToBaseLevel();
    void _OpenMirroredChain(const VRemoteProgressSessionInfo& remote);
    bool _AnswerReport();
    static float _PercentDone(const VProgressIndicatorInfo* const* records, int count);

    VUUID fUUID;
    mutable VCriticalSection fLock;
    SessionStack fStack;
    VProgressIndicatorInfo fCurrent;
    int32_t fSessionCount = 0;
    std::atomic<int32_t> fMirroring{0};
    int32_t fMirroredSessionVersion = 0;
    int32_t fBaseLevel = 0;
    bool fCanInterrupt = true;
    VString fTitle;
    int32_t fSessionVersion = 0;
    int32_t fUserAbort = 0;
    int32_t fChangesCounter = 0;
    VString fUserInfo;
    IProgressInfoCollector* fDefaultCollector = nullptr;
    mutable VCriticalSection fSnapshotLock;
    VRefCountedSessionInfo* fSnapshot = nullptr;
    int32_t fCollectedStamp = -1;
    std::atomic<int32_t> fRequestedStamp{0};
    int32_t fOwnerTaskID = 0;
};

}  // namespace qelt
