// The process-wide table that rebuilds objects from binary JSON: for each
// four-character binary signature an implementation writes
// (IJSON_GetBinarySignature), the function that makes that implementation
// again from the bytes it wrote (IJSON_WriteToBuffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/IRefCountable.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class IJSONObject;
class VJSONObject;

// Rebuilds an implementation for the object being read from the payload
// bytes. It may hand back a class object for the object (through
// ioClassObject); on failure it answers null and, when outError is not
// null, stores the error it raised there.
using JSONObjectCreatorPtr = IJSONObject* (*)(VJSONObject* inObject, OsType inSignature, const void* inData,
                                              size_t inSize, VRefPtr<VJSONObject>& ioClassObject,
                                              uint64_t* outError);

class VJSONObjectFactory : public VObject {
public:
    // The one factory of the process, made on first use; it knows the blob
    // signature 'JBlb' from the start.
    static VJSONObjectFactory* Get();

    // Adds the signature or replaces its function.
    void RegisterSignature(OsType inSignature, JSONObjectCreatorPtr inFunction);
    // Removes the signature when it is known.
    void UnRegisterSignature(OsType inSignature);
    bool IsSignatureSupported(OsType inSignature) const;
    // Calls the signature's function (outside the lock); null when the
    // signature is unknown or the function fails.
    IJSONObject* CreateForSignature(VJSONObject* inObject, OsType inSignature, const void* inData, size_t inSize,
                                    VRefPtr<VJSONObject>& ioClassObject, uint64_t* outError) const;

    VJSONObjectFactory(const VJSONObjectFactory&) = delete;
    VJSONObjectFactory& operator=(const VJSONObjectFactory&) = delete;
    ~VJSONObjectFactory() override;

private:
    VJSONObjectFactory();

    mutable VCriticalSection fLock;
    std::map<OsType, JSONObjectCreatorPtr> fFunctions;
};

}  // namespace qelt
