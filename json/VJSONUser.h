// The scoped guard that uses the storage of an object, an array or a value
// for its lifetime: it takes the use in its constructor and ends it in its
// destructor. Unshared containers and other values have no storage.
#pragma once

#include "json/VStorageLocker.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"

namespace qelt {

class VJSONObject;
class VJSONArray;
class VJSONValue;

class VJSONUser : public VObject {
public:
    // Takes over the reference; with tryOnly the use is taken only when that
    // is possible at once.
    VJSONUser(VRefPtr<VStorageLocker>&& inLocker, bool inTryOnly);
    VJSONUser(const VJSONObject* inObject, bool inTryOnly);
    VJSONUser(const VJSONArray* inArray, bool inTryOnly);
    VJSONUser(const VJSONValue& inValue, bool inTryOnly);
    ~VJSONUser() override;

    VJSONUser(const VJSONUser&) = delete;
    VJSONUser& operator=(const VJSONUser&) = delete;

private:
    void _Start(bool inTryOnly);

    VRefPtr<VStorageLocker> fLocker;
    bool fInUse = false;
};

}  // namespace qelt
