// Bytes carried by a JSON object. A blob object is an object of the class
// "Blob" whose implementation is a VJSONBlob: an immutable view on a range
// of a shared, reference-counted byte block. The object offers a read-only
// "size", the bytes as indexed properties, and the member "slice" that
// makes a new blob over part of the bytes without copying them. Its binary
// form ('JBlb') is the size as an unsigned 64-bit number followed by the
// bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "json/IJSONObject.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VJSONBlob : public VObject, public IJSONObject {
public:
    // Count 1; retains the buffer when there is one.
    VJSONBlob(SharedBuffer* inBuffer, size_t inStart, size_t inEnd);

    VJSONBlob(const VJSONBlob&) = delete;
    VJSONBlob& operator=(const VJSONBlob&) = delete;

    // A new blob object holding a copy of the bytes (one reference for the
    // caller); no buffer for 0 bytes. Null, with 'qelt' 100 thrown, when
    // the buffer cannot be had.
    static VJSONObject* Create(const void* inData, size_t inSize);

    // The blob behind an object, or null.
    static VJSONBlob* CastJSONObject(VJSONObject* inObject);

    // The blob behind the context's this-object, or null.
    static VJSONBlob* GetThis(IJSONFunctionContext* inContext);

    // The class object of "Blob", made on the first call in the process's
    // class store; not retained for the caller. Null without a class store.
    static VJSONObject* GetClass();

    // Rebuilds a blob from its binary form: a new buffer holding a copy of
    // the bytes (also for 0 bytes), over which the new blob is returned
    // (one reference for the caller); ioClassObject is set to the class
    // object of "Blob". Null when memory runs out ('qelt' 100 thrown and
    // stored only when outError is given). The object and the signature
    // are not used.
    static IJSONObject* CreateIJSONObject(VJSONObject* inObject, unsigned int inSignature, const void* inData,
                                          size_t inSize, VRefPtr<VJSONObject>& ioClassObject, uint64_t* outError);

    // A new blob object over [start, end) of this blob (negative bounds
    // count from the end), sharing the buffer; one reference for the caller.
    VJSONObject* CreateSlice(int64_t inStart, int64_t inEnd) const;

    size_t GetSize() const { return static_cast<size_t>(fEnd - fStart); }
    // The first byte, or null for a blob without buffer.
    const void* GetData() const;
    const SharedBuffer* GetBuffer() const { return fBuffer; }

    // The instantiator of the class "Blob": no parameter gives an empty
    // blob, one parameter a copy of the blob it names, more 'VqRT' 58.
    static VJSONObject* do_instantiate(VJSONObject* inClassObject, IJSONFunctionContext* inContext);
    // The member "slice(start, end)".
    static EJSONStatus do_slice(const VJSONObject* inThisObject, IJSONFunctionContext* inContext);

    static const VString key_size;

    // ---- IJSONObject --------------------------------------------------------
    bool IJSON_IsSharable(const VJSONObject* inObject, bool& outNeedsLocker) const override;
    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) const override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) const override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outDescription) const override;
    // Fails (2, 'qelt' 100) when the buffer cannot grow; the buffer is then
    // left as it was.
    EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& ioBuffer, uint64_t* outError) override;
    OsType IJSON_GetBinarySignature() const override;
    EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* inObject, size_t inIndex,
                                         VJSONValue& outValue) const override;
    EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* inObject, size_t* outCount) const override;
    // A blob is shared, never copied: the clone is the object itself.
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& inCloner, VJSONValue& outClone,
                            uint64_t* outError) const override;

protected:
    ~VJSONBlob() override;

private:
    // A new object of the class "Blob" over the blob (which it retains).
    static VJSONObject* _MakeObject(VJSONBlob* inBlob);

    SharedBuffer* fBuffer;
    uint64_t fStart;
    uint64_t fEnd;
};

}  // namespace qelt
