#include "json/VJSONBinaryImporter.h"

#include <bit>
#include <cstring>

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONBinaryWriter.h"
#include "json/VJSONClass.h"
#include "json/VJSONObject.h"
#include "json/VJSONObjectFactory.h"
#include "json/VJSONPointerResolver.h"
#include "kernel/VProcessServices.h"
#include "json/VProcessServices_json.h"
#include "values/VTime.h"

namespace qelt {

static_assert(std::endian::native == std::endian::little, "binary JSON is read little-endian");

namespace {

VError Fail(int inNumber) { return ThrowJSONBinaryError(inNumber); }

VError Truncated() { return Fail(200); }

// Units copied out of bytes that may lie at any alignment.
bool UnitsToText(const uint8_t* inBytes, size_t inCount, VString& outText)
{
    if (inCount > 0x7FFFFFFF || !outText._ReallocBuffer(static_cast<int>(inCount), false))
        return false;
    if (inCount > 0)
        std::memcpy(const_cast<UniChar*>(outText.GetCPointer()), inBytes, inCount * sizeof(UniChar));
    return outText.Validate(static_cast<int>(inCount));
}

uint16_t PeekU16(const uint8_t* inBytes)
{
    uint16_t value;
    std::memcpy(&value, inBytes, sizeof(value));
    return value;
}

}  // namespace

VJSONBinaryImporter::VJSONBinaryImporter(const void* inData, size_t inSize, VJSONStamp* inStamp)
    : fStamp(inStamp), fData(static_cast<const uint8_t*>(inData)), fSize(inData != nullptr ? inSize : 0)
{
}

VJSONBinaryImporter::~VJSONBinaryImporter() = default;

// ---------------------------------------------------------------------------
// Pieces

template <class T>
VError VJSONBinaryImporter::_Read(T& outValue)
{
    if (_Left() < sizeof(outValue))
        return Truncated();
    std::memcpy(&outValue, fData + fPos, sizeof(outValue));
    fPos += sizeof(outValue);
    return VE_OK;
}

VError VJSONBinaryImporter::_ReadUnits(size_t inCount, VString& outText)
{
    if (inCount > _Left() / sizeof(UniChar))
        return Truncated();
    if (!UnitsToText(fData + fPos, inCount, outText))
        return Fail(100);
    fPos += inCount * sizeof(UniChar);
    return VE_OK;
}

// ---------------------------------------------------------------------------
// Reading

VError VJSONBinaryImporter::GetValue(VJSONValue& outValue)
{
    VJSONValue value(JSON_undefined);
    bool container = false;
    VError error = VE_OK;
    if (fPos < fSize) {
        error = _GetValue(value, container);
        // Back references resolve against the first value read, while its
        // contents are being filled.
        if (error == VE_OK && fResolver.Get() == nullptr)
            fResolver = AdoptRef(new VJSONPointerResolver(value, nullptr, nullptr, nullptr));
        if (error == VE_OK && container)
            error = _GetValueContents(value);
    }
    outValue = std::move(value);
    return error;
}

VError VJSONBinaryImporter::GetValueFromBase64(const VString& inText, VJSONValue& outValue)
{
    VJSONBinaryBuffer bytes;
    if (!inText.DecodeBase64(bytes, false))
        return Truncated();
    VJSONBinaryImporter importer(bytes.GetDataPtr(), static_cast<size_t>(bytes.GetDataSize()));
    return importer.GetValue(outValue);
}

VError VJSONBinaryImporter::_GetValue(VJSONValue& outValue, bool& outContainer)
{
    outContainer = false;
    if (_Left() < 1)
        return Truncated();
    const uint8_t type = fData[fPos++];
    switch (type) {
        case kJSONBinaryNull:
            outValue.SetNull();
            return VE_OK;
        case kJSONBinaryFalse:
        case kJSONBinaryTrue:
            outValue.SetBool(type == kJSONBinaryTrue);
            return VE_OK;
        case kJSONBinaryUndefined:
            outValue.SetUndefined();
            return VE_OK;
        case kJSONBinaryString: {
            uint32_t length = 0;
            VString text;
            VError error = _Read(length);
            if (error == VE_OK)
                error = _ReadUnits(length, text);
            if (error == VE_OK)
                outValue.SetString(text);
            return error;
        }
        case kJSONBinaryNumber:
        case kJSONBinaryDate: {
            // A number or date cut short is a fault of the data, not a
            // value left out.
            int64_t bits = 0;
            VError error = _Read(bits);
            if (error != VE_OK)
                return error;
            if (type == kJSONBinaryNumber) {
                outValue.SetNumber(std::bit_cast<double>(bits));
            } else {
                VTime time;
                time.FromMilliseconds(bits);
                outValue.SetTime(time);
            }
            return VE_OK;
        }
        case kJSONBinaryObject: {
            if (_Left() < 2)
                return Truncated();
            // The marker after the type byte is left to the enclosing
            // object, whose member loop skips it.
            if (PeekU16(fData + fPos) == kJSONBinaryUndefinedObject) {
                outValue.SetUndefined();
                return VE_OK;
            }
            VRefPtr<VJSONObject> object = AdoptRef(new VJSONObject());
            if (fStamp.Get() != nullptr)
                object->SetJSONStamp(fStamp.Get());
            outValue.SetObject(object.Get());
            outContainer = true;
            return VE_OK;
        }
        case kJSONBinaryArray: {
            uint32_t count = 0;
            VError error = _Read(count);
            if (error != VE_OK)
                return error;
            if (count == kJSONBinaryUndefinedArray) {
                outValue.SetUndefined();
                return VE_OK;
            }
            // Each element takes at least one byte: a count beyond the bytes
            // left is refused before anything is allocated.
            if (count > _Left())
                return Truncated();
            VRefPtr<VJSONArray> array = AdoptRef(new VJSONArray());
            if (fStamp.Get() != nullptr)
                array->SetJSONStamp(fStamp.Get());
            if (!array->Resize(count))
                return Fail(100);
            outValue.SetArray(array.Get());
            outContainer = true;
            return VE_OK;
        }
        case kJSONBinaryReference: {
            uint32_t length = 0;
            VString path;
            VError error = _Read(length);
            if (error == VE_OK)
                error = _ReadUnits(length, path);
            if (error == VE_OK && fResolver.Get() != nullptr)
                _ResolveReference(path, outValue);
            return error;
        }
        default: {
            // A record of a kind this reader does not know: skipped. Its
            // length counts from the first byte of the length field.
            uint32_t length = 0;
            if (_Left() < sizeof(length))
                return Truncated();
            std::memcpy(&length, fData + fPos, sizeof(length));
            if (length < sizeof(length) || length > _Left())
                return Truncated();
            fPos += length;
            return VE_OK;
        }
    }
}

VError VJSONBinaryImporter::_GetValueContents(VJSONValue& ioValue)
{
    VError error = CheckJSONBinaryNesting(fDepth);
    if (error != VE_OK)
        return error;
    ++fDepth;
    if (ioValue.IsObject())
        error = _GetObjectContents(ioValue.GetObject());
    else
        error = _GetArrayContents(ioValue.GetArray());
    --fDepth;
    return error;
}

VError VJSONBinaryImporter::_GetObjectContents(VJSONObject* ioObject)
{
    if (ioObject == nullptr)
        return Truncated();
    for (;;) {
        uint16_t length = 0;
        VError error = _Read(length);
        if (error != VE_OK)
            return error;
        if (length == kJSONBinaryEndOfObject)
            return VE_OK;
        if (length == kJSONBinaryClassRecord)
            return _GetObjectEnd(ioObject);
        if ((length & 0x8000) != 0)
            continue;
        VString name;
        error = _ReadUnits(length, name);
        if (error != VE_OK)
            return error;
        VJSONValue value(JSON_undefined);
        bool container = false;
        error = _GetValue(value, container);
        // What was read is kept, also when the value failed.
        ioObject->SetProperty(name, value);
        if (error == VE_OK && container)
            error = _GetValueContents(value);
        if (error != VE_OK)
            return error;
    }
}

VError VJSONBinaryImporter::_GetObjectEnd(VJSONObject* ioObject)
{
    // A record cut anywhere, even in its signature, is a fault of the data.
    uint32_t signature = 0;
    uint64_t size = 0;
    VError error = _Read(signature);
    if (error != VE_OK)
        return error;
    error = _Read(size);
    if (error != VE_OK)
        return error;
    if (size > _Left())
        return Truncated();
    const uint8_t* payload = fData + fPos;
    fPos += static_cast<size_t>(size);

    VRefPtr<VJSONObject> classObject;
    if (signature == kJSONBinaryClassSignature) {
        error = _CreateObjectWithClass(ioObject, payload, static_cast<size_t>(size), classObject);
    } else {
        uint64_t created = 0;
        VRefPtr<IJSONObject> implementation = AdoptRef(VJSONObjectFactory::Get()->CreateForSignature(
            ioObject, signature, payload, static_cast<size_t>(size), classObject, &created));
        if (implementation.Get() != nullptr)
            ioObject->_SetImplementation(implementation.Get());
        error = static_cast<VError>(created);
    }
    if (VJSONClass* aClass = VJSONClass::FromClassObject(classObject.Get())) {
        // The object is whole: fully constructed at its class's level.
        ioObject->_SetConstruction(aClass->GetLevel(), false);
        ioObject->_SetClass(aClass);
    }
    return error;
}

VError VJSONBinaryImporter::_CreateObjectWithClass(VJSONObject* /*ioObject*/, const uint8_t* inPayload,
                                                   size_t inSize, VRefPtr<VJSONObject>& outClassObject)
{
    // Two names, each a u16 length and its units; a name whose units do not
    // fit the payload is taken as empty.
    VString names[2];
    size_t pos = 0;
    for (VString& name : names) {
        if (inSize - pos < 2)
            break;
        const size_t length = PeekU16(inPayload + pos);
        pos += 2;
        if (length > (inSize - pos) / sizeof(UniChar))
            continue;
        if (!UnitsToText(inPayload + pos, length, name))
            return Fail(100);
        pos += length * sizeof(UniChar);
    }
    if (ProcessObjectExists())
        outClassObject = GetProcessClassObject(names[0], names[1]);
    return VE_OK;
}

VError VJSONBinaryImporter::_GetArrayContents(VJSONArray* ioArray)
{
    if (ioArray == nullptr)
        return Truncated();
    const size_t count = ioArray->GetCount();
    for (size_t i = 0; i < count; ++i) {
        VJSONValue value(JSON_undefined);
        bool container = false;
        VError error = _GetValue(value, container);
        ioArray->SetAt(i, value);
        if (error == VE_OK && container)
            error = _GetValueContents(value);
        if (error != VE_OK)
            return error;
    }
    return VE_OK;
}

// ---------------------------------------------------------------------------
// References

void VJSONBinaryImporter::_ResolveReference(const VString& inPath, VJSONValue& outValue)
{
    // Only a fragment of the value being read is a back reference: a plain
    // pointer, walked without URL decoding and without following "$ref"
    // members, so that bytes can neither reach files nor loop.
    outValue.SetUndefined();
    if (inPath.GetLength() < 1 || inPath.GetCPointer()[0] != '#')
        return;
    VString pointer;
    inPath.GetSubString(2, inPath.GetLength() - 1, pointer);
    VJSONPointerResolver::Context context(false);
    context.fNested = false;
    fResolver->ResolvePointerString(context, pointer, outValue);
}

}  // namespace qelt
