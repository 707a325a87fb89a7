// The loader that objects loading themselves from bags consult for their
// identity: with regeneration on, every loaded object gets a fresh UUID, and
// every reference to an old UUID resolves to the same new one.
#pragma once

#include <array>
#include <map>

#include "kernel/VObject.h"
#include "values/StBagKey.h"
#include "values/VUUID.h"

namespace qelt {

class VValueBag;

namespace BagKeys {
// The attribute "uuid" of a bag; its default, the null UUID, is never stored.
extern const StBagKeyWithDefault<VUUID, VUUID> uuid;
}  // namespace BagKeys

class VBagLoader : public VObject {
public:
    VBagLoader(bool regenerateUUIDs, bool secondFlag);
    ~VBagLoader() override;

    bool IsRegeneratingUUIDs() const { return fRegenerateUUIDs; }

    // The UUID the object loaded from `bag` is to have (see the .cpp).
    bool GetUUID(const VValueBag& bag, VUUID& outUUID);
    // Replaces an old UUID by its replacement; false when unknown.
    bool ResolveUUID(VUUID& ioUUID) const;

private:
    using Bytes = std::array<unsigned char, 16>;
    static Bytes _BytesOf(const VUUID& uuid);

    bool fRegenerateUUIDs;
    bool fSecondFlag;
    bool fFlag3;
    bool fFlag4;
    std::map<Bytes, Bytes> fUUIDs;  // old UUID to the new one given in its place
};

}  // namespace qelt
