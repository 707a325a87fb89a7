// Records how long activities took, as JSON activity records, while a
// metrics session is active. Progress indicators report their sessions here.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "kernel/VObject.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class VJSONObject;
class VJSONArray;

enum EMetricsKindBit { kMetricsKind0 = 0, kMetricsKind1 = 1, kMetricsKindProgress = 2 };

class VMetricsManager : public VObject {
public:
    VMetricsManager() = default;
    ~VMetricsManager() override;

    bool StartSession(unsigned long long minDuration, bool progresses, bool kind0, bool kind1);
    // A new activity record retained for the caller, or null when the kind
    // is not collected or the activity was shorter than the minimum.
    VJSONObject* CreateBind(EMetricsKindBit kind, unsigned long long duration);
    void BindDatas(VJSONObject* record, VJSONObject* data);
    bool EndSession();
    // Deep copies of the records, in a new array owned by the caller.
    VJSONArray* CreateCollection();
    bool IsProgressesCollected();

    static VMetricsManager& Get();

private:
    VCriticalSection fLock;
    std::vector<VJSONObject*> fRecords;
    std::atomic<unsigned long long> fMinDuration{0};
    std::atomic<uint32_t> fKindMask{0};
};

}  // namespace qelt
