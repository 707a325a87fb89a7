// The binary JSON importer: reads one value back from the byte form that
// VJSONBinaryWriter writes (see its header for the layout), in place on the
// caller's bytes, which it does not own.
//
// Every length, count, name, record and payload is checked against the
// bytes left: data that ends before what it announces fails with 'qelt'
// 200; containers nested deeper than 512 levels fail with 'qelt' 108. A
// back reference is a JSON Pointer walked over the first value this
// importer read; one that leads nowhere leaves the value undefined.
#pragma once

#include <cstddef>
#include <cstdint>

#include "json/VJSONValue.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"

namespace qelt {

class VJSONObject;
class VJSONArray;
class VJSONStamp;
class VJSONPointerResolver;

class VJSONBinaryImporter : public VObject {
public:
    // Every object and array read receives the stamp, when one is given.
    VJSONBinaryImporter(const void* inData, size_t inSize, VJSONStamp* inStamp = nullptr);
    ~VJSONBinaryImporter() override;

    VJSONBinaryImporter(const VJSONBinaryImporter&) = delete;
    VJSONBinaryImporter& operator=(const VJSONBinaryImporter&) = delete;

    // Reads the next value. No data gives undefined. On failure the value
    // holds what was read before the fault.
    VError GetValue(VJSONValue& outValue);

    // Reads one value from the Base64 text of its bytes, the form JSON text
    // carries under "__PRIVATE_BINARY_OBJECT"; 200 when the text is not
    // Base64. On failure the value is as GetValue leaves it.
    static VError GetValueFromBase64(const VString& inText, VJSONValue& outValue);

private:
    // Reads a type byte and what follows it; a container comes back as an
    // empty shell (outContainer set) whose contents follow.
    VError _GetValue(VJSONValue& outValue, bool& outContainer);
    VError _GetValueContents(VJSONValue& ioValue);
    VError _GetObjectContents(VJSONObject* ioObject);
    VError _GetArrayContents(VJSONArray* ioArray);
    // The class record or implementation payload that ends an object.
    VError _GetObjectEnd(VJSONObject* ioObject);
    VError _CreateObjectWithClass(VJSONObject* ioObject, const uint8_t* inPayload, size_t inSize,
                                  VRefPtr<VJSONObject>& outClassObject);
    // The value at the path (a URI fragment) in the first value read, or
    // undefined.
    void _ResolveReference(const VString& inPath, VJSONValue& outValue);

    size_t _Left() const { return fSize - fPos; }
    // Each fails with 200 when the bytes are not there.
    template <class T>
    VError _Read(T& outValue);
    // inCount units into the text.
    VError _ReadUnits(size_t inCount, VString& outText);

    VRefPtr<VJSONStamp> fStamp;
    const uint8_t* fData;
    size_t fSize;
    size_t fPos = 0;
    int fDepth = 0;
    // Made over the first value read: back references walk it.
    VRefPtr<VJSONPointerResolver> fResolver;
};

}  // namespace qelt
