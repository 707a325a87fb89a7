// The record of one progress session: its message, value, maximum, start
// time, interruptible flag and free extra attributes, with the information
// its collector gathered. Records are copied into snapshots, serialised as
// bags (complete or as a difference against an earlier record) and turned
// into JSON for observers and metrics.
#pragma once

#include <cstdint>

#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "values/VUUID.h"

namespace qelt {

class VValueBag;
class VValueSingle;
class VJSONObject;
class IProgressInfoCollector;

// Update flags of the bag form: which fields a bag carries.
enum : unsigned int {
    kProgressInfoMessage = 0x01,
    kProgressInfoValue = 0x02,
    kProgressInfoMax = 0x04,
    kProgressInfoStartTime = 0x08,
    kProgressInfoCanInterrupt = 0x10,
    kProgressInfoExtraVersion = 0x20,
    kProgressInfoExtraBag = 0x40,
    kProgressInfoComplete = 0x400
};

class VProgressIndicatorInfo : public VObject {
public:
    VProgressIndicatorInfo();
    VProgressIndicatorInfo(const VProgressIndicatorInfo& other);
    VProgressIndicatorInfo& operator=(const VProgressIndicatorInfo& other);
    // A null pointer empties the record but keeps its task id and UUID.
    VProgressIndicatorInfo& operator=(const VProgressIndicatorInfo* other);
    ~VProgressIndicatorInfo() override;

    void Reset();
    void _ResetStartTime();

    void SetAttribute(const VString& name, const VValueSingle& value);
    void RemoveAttribute(const VString& name);
    VValueBag* RetainExtraInfoBag() const;

    // The message with its {placeholders} replaced; `out` stays as it was
    // when the message is empty.
    void GetMessage(VString& out) const;
    void GetJSONObject(VJSONObject& json) const;

    VError SaveToBag(VValueBag& bag, VString& kind, const VProgressIndicatorInfo* reference) const;
    VError LoadFromBag(const VValueBag& bag);
    void UpdateFromRemoteInfo(const VProgressIndicatorInfo& other, unsigned int updateFlags);

    // Elapsed milliseconds since the start, as an unsigned 32-bit difference.
    uint32_t GetElapsed() const;
    // Current value * 100 / maximum, 0 when the quotient is negative or not
    // finite, clamped to the 64-bit range.
    long long GetRate() const;

    int32_t fTaskID = 0;
    VUUID fUUID;
    VString fMessage;
    long long fValue = 0;
    long long fMax = 0;
    uint32_t fStartTime = 0;
    bool fCanInterrupt = true;
    bool fRemote = false;
    VValueBag* fExtraInfoBag = nullptr;
    uint32_t fExtraInfoBagVersion = 1;
    IProgressInfoCollector* fCollector = nullptr;
    VJSONObject* fCollectedInfo = nullptr;

    // Replaces the collected information (retained; null clears it).
    void SetCollectedInfo(VJSONObject* info);

private:
    void _SetExtraBag(const VValueBag* source);
};

}  // namespace qelt
