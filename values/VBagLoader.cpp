#include "values/VBagLoader.h"

#include "values/VValueBag.h"

namespace qelt {

namespace {

VUUID MakeNullUUID()
{
    VUUID uuid;
    uuid.SetNull(true);
    return uuid;
}

}  // namespace

// Built here rather than from VUUID::sNullUUID, which may not be constructed
// yet when this file's statics are.
const StBagKeyWithDefault<VUUID, VUUID> BagKeys::uuid("uuid", MakeNullUUID());

VBagLoader::VBagLoader(bool regenerateUUIDs, bool secondFlag)
    : fRegenerateUUIDs(regenerateUUIDs), fSecondFlag(secondFlag), fFlag3(true), fFlag4(true)
{
}

VBagLoader::~VBagLoader() = default;

VBagLoader::Bytes VBagLoader::_BytesOf(const VUUID& uuid)
{
    Bytes bytes{};
    uuid.WriteToPtr(bytes.data(), false, 0);
    return bytes;
}

bool VBagLoader::GetUUID(const VValueBag& bag, VUUID& outUUID)
{
    if (!fRegenerateUUIDs) {
        if (bag.GetAttribute(BagKeys::uuid, outUUID))
            return true;
        outUUID.Clear();
        outUUID.Regenerate();
        return false;
    }
    VUUID found;
    if (!bag.GetAttribute(BagKeys::uuid, found)) {
        outUUID.Regenerate();
        return false;
    }
    if (found.IsNull()) {
        outUUID.Regenerate();
        return true;
    }
    Bytes old = _BytesOf(found);
    auto it = fUUIDs.find(old);
    if (it != fUUIDs.end()) {
        outUUID.LoadFromPtr(it->second.data(), false);
        return true;
    }
    outUUID.Regenerate();
    fUUIDs[old] = _BytesOf(outUUID);
    return true;
}

bool VBagLoader::ResolveUUID(VUUID& ioUUID) const
{
    if (!fRegenerateUUIDs)
        return true;
    auto it = fUUIDs.find(_BytesOf(ioUUID));
    if (it == fUUIDs.end())
        return false;
    ioUUID.LoadFromPtr(it->second.data(), false);
    return true;
}

}  // namespace qelt
