// A "DistantSessionInfo" bag from another process, applied to a mirroring
// indicator that has two sessions of its own: the mirrored records must
// always match the session count, and the info must survive a save and load.
#include <cstdlib>

#include "files/VConstPtrStream.h"
#include "fuzz/FuzzSupport.h"
#include "runtime/VProgressIndicator.h"
#include "runtime/VRemoteProgressSessionInfo.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

using namespace qelt;

namespace {

void Check(bool condition)
{
    if (!condition)
        abort();
}

void CheckInvariants(const VProgressIndicator& indicator)
{
    int count = indicator.GetSessionCount();
    Check(count >= 0);
    if (count > 0)
        Check(static_cast<size_t>(count) == indicator.GetSessionStack().size() + 1);
    Check(count >= 2);  // the own sessions stay open
    if (indicator.IsMirroring())
        Check(count >= indicator.GetBaseLevel());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;

    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag);
    VConstPtrStream in(data, size);
    in.OpenReading();
    VError err = bag->ReadFromStream(&in);
    in.CloseReading();
    if (err != VE_OK)
        return 0;

    VRemoteProgressSessionInfo info;
    info.LoadFromBag(*bag);
    // Never more records than the bag holds.
    VBagArray* chain = bag->GetElements("fSessionStack");
    if (!(info.fFlags & kRemoteCurrentOnly))
        Check(info.fSessionStack.size() <= static_cast<size_t>(chain != nullptr ? chain->GetCount() : 0));
    if (info.fFlags & kRemoteCurrentOnly)
        Check(info.fSessionStack.size() <= 1);

    VRefPtr<VProgressIndicator> mirror = AdoptRef(new VProgressIndicator());
    mirror->BeginSession(10, "own outer");
    mirror->BeginSession(10, "own inner");
    // Applied twice: the first may start mirroring, the second then updates.
    for (int round = 0; round < 2; ++round) {
        mirror->UpdateFromRemoteInfo(info);
        CheckInvariants(*mirror);
    }
    mirror->_CloseRemoteSession();
    Check(mirror->GetSessionCount() == 2);

    VRefPtr<VValueBag> saved = AdoptRef(new VValueBag);
    VString kind;
    info.SaveToBag(*saved, kind, nullptr);
    VRemoteProgressSessionInfo again;
    again.LoadFromBag(*saved);
    Check(again.fFlags == info.fFlags);
    Check(again.fSessionCount == info.fSessionCount);
    Check(again.fSessionStack.size() == info.fSessionStack.size());
    for (size_t i = 0; i < info.fSessionStack.size(); ++i) {
        Check(again.fSessionStack[i].fValue == info.fSessionStack[i].fValue);
        Check(again.fSessionStack[i].fMax == info.fSessionStack[i].fMax);
    }
    mirror->EndSession();
    mirror->EndSession();
    return 0;
}
