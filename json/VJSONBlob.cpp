#include "json/VJSONBlob.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "json/IJSONFunctionContext.h"
#include "json/VJSONClass.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONObject.h"
#include "json/VProcessServices_json.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

constexpr VError kErrorMemory = QeltError(100);
constexpr VError kErrorReadOnly = MakeVError(kSignatureVQRT, -10702);
constexpr VError kErrorIndexRange = MakeVError(kSignatureVQRT, -10713);
constexpr VError kErrorTooManyParameters = MakeVError(kSignatureVQRT, 58);

// A slice bound given as a JSON number: truncated toward zero; NaN gives 0
// and values beyond the 64-bit range (infinities too) stick to its ends, so
// that the conversion is always defined.
int64_t NumberToInt64(double inNumber)
{
    if (std::isnan(inNumber))
        return 0;
    const double truncated = std::trunc(inNumber);
    if (truncated >= 9223372036854775808.0)
        return INT64_MAX;
    if (truncated <= -9223372036854775808.0)
        return INT64_MIN;
    return static_cast<int64_t>(truncated);
}

// A negative bound counts from the end; the result lies in [0, size].
int64_t ClampBound(int64_t inBound, int64_t inSize)
{
    if (inBound < 0) {
        inBound += inSize;
        return inBound < 0 ? 0 : inBound;
    }
    return inBound > inSize ? inSize : inBound;
}

}  // namespace

const VString VJSONBlob::key_size("size");

VJSONBlob::VJSONBlob(SharedBuffer* inBuffer, size_t inStart, size_t inEnd)
    : fBuffer(inBuffer), fStart(inStart), fEnd(inEnd)
{
    if (fBuffer != nullptr)
        fBuffer->Retain();
}

VJSONBlob::~VJSONBlob()
{
    if (fBuffer != nullptr)
        fBuffer->Release();
}

const void* VJSONBlob::GetData() const
{
    if (fBuffer == nullptr)
        return nullptr;
    return static_cast<const char*>(fBuffer->GetData()) + fStart;
}

// ---------------------------------------------------------------------------
// Making blobs

VJSONObject* VJSONBlob::GetClass()
{
    // One class object per class store, made under the guard so that a
    // second task waits for the first. The reference held here keeps it for
    // the program's life; a store torn down (its class objects lose their
    // class) or replaced by a new process gets a class of its own.
    static std::mutex sGuard;
    static VJSONObject* sClassObject = nullptr;
    static const VJSONClassStore* sStore = nullptr;

    std::lock_guard<std::mutex> lock(sGuard);
    VJSONClassStore* store = GetProcessClassStore();
    if (store == nullptr)
        return nullptr;
    if (sClassObject != nullptr && sStore == store && sClassObject->_GetClass() != nullptr)
        return sClassObject;
    if (sClassObject != nullptr) {
        sClassObject->Release();
        sClassObject = nullptr;
    }
    VRefPtr<VJSONObject> classObject =
        store->AddClass(VString("Blob"), {{VString("slice"), &VJSONBlob::do_slice, 0}}, nullptr, nullptr,
                        &VJSONBlob::do_instantiate, 0);
    sClassObject = classObject.Get();
    if (sClassObject != nullptr)
        sClassObject->Retain();
    sStore = store;
    return sClassObject;
}

VJSONObject* VJSONBlob::_MakeObject(VJSONBlob* inBlob)
{
    return new VJSONObject(GetClass(), inBlob, false);
}

VJSONObject* VJSONBlob::Create(const void* inData, size_t inSize)
{
    SharedBuffer* buffer = nullptr;
    if (inSize > 0 && inData != nullptr) {
        buffer = SharedBuffer::Create(inData, inSize);
        if (buffer == nullptr) {
            _ThrowError(kErrorMemory);
            return nullptr;
        }
    } else {
        inSize = 0;
    }
    VRefPtr<VJSONBlob> blob = AdoptRef(new VJSONBlob(buffer, 0, inSize));
    if (buffer != nullptr)
        buffer->Release();  // the blob holds it now
    return _MakeObject(blob.Get());
}

VJSONBlob* VJSONBlob::CastJSONObject(VJSONObject* inObject)
{
    if (inObject == nullptr)
        return nullptr;
    return dynamic_cast<VJSONBlob*>(inObject->GetImplementation());
}

VJSONBlob* VJSONBlob::GetThis(IJSONFunctionContext* inContext)
{
    return inContext != nullptr ? CastJSONObject(inContext->GetThisObject()) : nullptr;
}

IJSONObject* VJSONBlob::CreateIJSONObject(VJSONObject*, unsigned int, const void* inData, size_t inSize,
                                          VRefPtr<VJSONObject>& ioClassObject, uint64_t* outError)
{
    SharedBuffer* buffer = SharedBuffer::Create(inData, inSize);
    if (buffer == nullptr) {
        if (outError != nullptr) {
            _ThrowError(kErrorMemory);
            *outError = kErrorMemory;
        }
        return nullptr;
    }
    VJSONObject* classObject = GetClass();
    if (ioClassObject.Get() != classObject)
        ioClassObject = classObject;  // retains the new one before releasing the old one
    VJSONBlob* blob = new VJSONBlob(buffer, 0, inSize);
    buffer->Release();
    return blob;
}

VJSONObject* VJSONBlob::CreateSlice(int64_t inStart, int64_t inEnd) const
{
    const int64_t size = static_cast<int64_t>(GetSize());
    const int64_t start = ClampBound(inStart, size);
    const int64_t end = ClampBound(inEnd, size);
    VRefPtr<VJSONBlob> blob;
    if (end <= start)
        blob = AdoptRef(new VJSONBlob(nullptr, 0, 0));
    else
        blob = AdoptRef(new VJSONBlob(fBuffer, static_cast<size_t>(fStart + static_cast<uint64_t>(start)),
                                      static_cast<size_t>(fStart + static_cast<uint64_t>(end))));
    return _MakeObject(blob.Get());
}

// ---------------------------------------------------------------------------
// Class functions

VJSONObject* VJSONBlob::do_instantiate(VJSONObject*, IJSONFunctionContext* inContext)
{
    const int count = inContext->GetParamCount();
    if (count == 0)
        return Create(nullptr, 0);
    if (count > 1) {
        _ThrowError(kErrorTooManyParameters);
        return nullptr;
    }
    const void* data = nullptr;
    size_t size = 0;
    inContext->GetBlobParam(1, false, &data, &size);
    return Create(data, size);
}

EJSONStatus VJSONBlob::do_slice(const VJSONObject*, IJSONFunctionContext* inContext)
{
    const VJSONBlob* blob = GetThis(inContext);
    if (blob == nullptr)
        return eJSONStatus_Failed;
    double number = 0;
    const int64_t start = inContext->GetNumberOptParam(1, &number) ? NumberToInt64(number) : 0;
    const int64_t end = inContext->GetNumberOptParam(2, &number) ? NumberToInt64(number)
                                                                  : static_cast<int64_t>(blob->GetSize());
    VRefPtr<VJSONObject> slice = AdoptRef(blob->CreateSlice(start, end));
    inContext->SetResult(VJSONValue(slice.Get()), 5);
    return eJSONStatus_Done;
}

// ---------------------------------------------------------------------------
// IJSONObject

bool VJSONBlob::IJSON_IsSharable(const VJSONObject*, bool& outNeedsLocker) const
{
    // Never changed after construction: readable by several tasks at once.
    outNeedsLocker = false;
    return true;
}

EJSONStatus VJSONBlob::IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                         VDBLanguageContext*) const
{
    if (!inName.EqualToStringRaw(key_size))
        return eJSONStatus_NotHandled;  // own properties and "slice" answer
    outValue = VJSONValue(static_cast<double>(GetSize()));
    return eJSONStatus_Done;
}

EJSONStatus VJSONBlob::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    _ThrowError(kErrorReadOnly);
    return eJSONStatus_Failed;
}

EJSONStatus VJSONBlob::IJSON_GetPropertyNames(std::vector<VString>& outNames) const
{
    outNames.push_back(key_size);
    return eJSONStatus_Done;
}

EJSONStatus VJSONBlob::IJSON_GetDescription(const VJSONObject*, VString& outDescription) const
{
    outDescription.Printf("%zu bytes", GetSize());
    return eJSONStatus_Done;
}

EJSONStatus VJSONBlob::IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& ioBuffer, uint64_t* outError)
{
    // The size, little-endian, then the bytes; all of it or nothing.
    const uint64_t size = GetSize();
    unsigned char count[8];
    for (int i = 0; i < 8; ++i)
        count[i] = static_cast<unsigned char>(size >> (8 * i));
    const uint64_t before = ioBuffer.GetDataSize();
    if (!ioBuffer.AppendData(count, sizeof count) || (size > 0 && !ioBuffer.AppendData(GetData(), size))) {
        ioBuffer.SetDataSize(before);
        _ThrowError(kErrorMemory);
        if (outError != nullptr)
            *outError = kErrorMemory;
        return eJSONStatus_Failed;
    }
    if (outError != nullptr)
        *outError = 0;
    return eJSONStatus_Done;
}

OsType VJSONBlob::IJSON_GetBinarySignature() const { return FourCC("JBlb"); }

EJSONStatus VJSONBlob::IJSON_GetPropertyByIndex(const VJSONObject*, size_t inIndex, VJSONValue& outValue) const
{
    if (inIndex >= GetSize()) {
        _ThrowError(kErrorIndexRange);
        return eJSONStatus_Failed;
    }
    outValue = VJSONValue(static_cast<double>(static_cast<const unsigned char*>(GetData())[inIndex]));
    return eJSONStatus_Done;
}

EJSONStatus VJSONBlob::IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t* outCount) const
{
    *outCount = GetSize();
    return eJSONStatus_Done;
}

EJSONStatus VJSONBlob::IJSON_Clone(const VJSONObject* inObject, VJSONCloner&, VJSONValue& outClone,
                                   uint64_t* outError) const
{
    outClone = VJSONValue(const_cast<VJSONObject*>(inObject));
    if (outError != nullptr)
        *outError = 0;
    return eJSONStatus_Done;
}

}  // namespace qelt
