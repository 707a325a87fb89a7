// The deep copier of JSON trees. One cloner serves one copy operation, which
// may clone several values: it remembers every object and array it has
// cloned, so that a container reached twice is copied once and a cycle in
// the source becomes the same cycle in the copy.
#pragma once

#include <cstdint>
#include <map>

#include "json/VJSONValue.h"
#include "kernel/VObject.h"

namespace qelt {

class VJSONObject;
class VJSONArray;
class VStorageLocker;

// Sharing modes of a cloner.
enum : uint32_t {
    kJSONCloneCopyAll = 0,     // every object and array reached is copied
    kJSONCloneKeepShared = 1,  // shared (and sharable) containers are referred to, not copied
    kJSONCloneShareCopy = 2    // every copy goes under one new storage locker
};

class VJSONCloner : public VObject {
public:
    // Containers nest at most this deep in a copy; deeper ones fail with 108.
    static constexpr int kMaxDepth = 512;

    explicit VJSONCloner(uint32_t inSharingMode = kJSONCloneCopyAll);
    ~VJSONCloner() override;

    VJSONCloner(const VJSONCloner&) = delete;
    VJSONCloner& operator=(const VJSONCloner&) = delete;

    // The copy of the container (made once per cloner), or undefined.
    VError CloneObject(const VJSONObject* inObject, VJSONValue& outResult);
    VError CloneArray(const VJSONArray* inArray, VJSONValue& outResult);
    // An object or array value is replaced by its copy; others stay.
    VError CloneValue(VJSONValue& ioValue);

    uint32_t GetSharingMode() const { return fSharingMode; }
    // The cloner's locker, made on the first call; later calls clear its
    // fresh mark. The caller gets no reference of its own.
    VStorageLocker* GetStorageLockerAndAssignIfNecessary();
    void SetStorageLocker(VStorageLocker* inLocker);

private:
    template <class Container>
    VError _Clone(const Container* inContainer, VJSONValue& outResult);

    std::map<const void*, VJSONValue> fClones;
    uint32_t fSharingMode;
    VStorageLocker* fLocker = nullptr;
    int fDepth = 0;
};

}  // namespace qelt
