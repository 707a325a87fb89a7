// The description of a publishing indicator's sessions that travels to a
// mirroring indicator in another process, as a "DistantSessionInfo" bag:
// either the whole chain of records or the innermost one as a difference.
#pragma once

#include <cstdint>
#include <deque>

#include "kernel/VObject.h"
#include "runtime/VProgressIndicatorInfo.h"

namespace qelt {

class VValueBag;

// Bits of fFlags: which fields are meaningful.
enum : uint32_t {
    kRemoteSessionCount = 0x01,
    kRemoteChangesVersion = 0x02,
    kRemoteSessionVersion = 0x04,
    kRemoteMasterVersion = 0x08,
    kRemoteUserAbort = 0x10,
    kRemoteCanInterrupt = 0x20,
    kRemoteCurrentOnly = 0x40,
    kRemoteWholeChain = 0x80
};

class VRemoteProgressSessionInfo : public VObject {
public:
    VRemoteProgressSessionInfo() = default;
    explicit VRemoteProgressSessionInfo(const VRemoteProgressSessionInfo* other);
    VRemoteProgressSessionInfo(const VRemoteProgressSessionInfo& other) : VRemoteProgressSessionInfo(&other) {}
    VRemoteProgressSessionInfo& operator=(const VRemoteProgressSessionInfo& other);

    VError SaveToBag(VValueBag& bag, VString& kind, const VRemoteProgressSessionInfo* reference) const;
    VError LoadFromBag(const VValueBag& bag);
    void FromProgressInfo(const VProgressIndicatorInfo* current, const std::deque<VProgressIndicatorInfo>* stack,
                          int sessionCount, unsigned int changes, unsigned int sessionVersion,
                          unsigned int masterVersion);
    void Reset();

    int32_t fSessionCount = 0;
    std::deque<VProgressIndicatorInfo> fSessionStack;
    int32_t fChangesVersion = 0;
    int32_t fMasterSessionVersion = 0;
    int32_t fSessionVersion = 0;
    bool fUserAbort = false;
    bool fCanInterrupt = false;
    uint32_t fFlags = 0;
    uint32_t fCurrentUpdateFlags = 0;
};

}  // namespace qelt
