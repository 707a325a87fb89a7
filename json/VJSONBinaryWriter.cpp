#include "json/VJSONBinaryWriter.h"

#include <bit>
#include <cstdio>
#include <vector>

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONClass.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTaskMgr.h"
#include "values/VTime.h"

namespace qelt {

// Numbers and units are copied in the machine's order; the byte form is
// defined as little-endian.
static_assert(std::endian::native == std::endian::little, "binary JSON is written little-endian");

namespace {

VError Fail(int inNumber) { return ThrowJSONBinaryError(inNumber); }

// A class "Object" without superclass is the root class: its objects end
// with the plain terminator.
bool IsPlainClass(const VJSONClass* inClass)
{
    static const VString sObjectName("Object");
    return inClass == nullptr ||
           (inClass->GetSuperclass() == nullptr && inClass->GetName().EqualToStringRaw(sObjectName));
}

}  // namespace

VJSONBinaryWriter::VJSONBinaryWriter(uint32_t inOptions) : fOptions(inOptions) {}

VJSONBinaryWriter::~VJSONBinaryWriter() = default;

// ---------------------------------------------------------------------------
// Pieces

VError VJSONBinaryWriter::_Put(VJSONBinaryBuffer& ioBuffer, const void* inBytes, size_t inCount)
{
    if (!ioBuffer.AppendData(inBytes, inCount))
        return Fail(100);
    return VE_OK;
}

VError VJSONBinaryWriter::_PutName(VJSONBinaryBuffer& ioBuffer, const VString& inName)
{
    // Longer lengths would reach the markers 0xFFFD to 0xFFFF.
    const int length = inName.GetLength();
    if (length > kJSONBinaryMaxNameLength)
        return Fail(107);
    VError error = _PutU16(ioBuffer, static_cast<uint16_t>(length));
    if (error == VE_OK)
        error = _Put(ioBuffer, inName.GetCPointer(), static_cast<size_t>(length) * sizeof(UniChar));
    return error;
}

VError VJSONBinaryWriter::_PutText(VJSONBinaryBuffer& ioBuffer, const VString& inText)
{
    const int length = inText.GetLength();
    VError error = _PutU32(ioBuffer, static_cast<uint32_t>(length));
    if (error == VE_OK)
        error = _Put(ioBuffer, inText.GetCPointer(), static_cast<size_t>(length) * sizeof(UniChar));
    return error;
}

VError ThrowJSONBinaryError(int inNumber)
{
    const VError error = QeltError(inNumber);
    _ThrowError(error);
    return error;
}

VError CheckJSONBinaryNesting(int inDepth)
{
    if (inDepth >= kJSONBinaryMaxDepth || VTaskMgr::Get()->GetCurrentFreeStackSize() < kJSONBinaryMinFreeStack)
        return ThrowJSONBinaryError(108);
    return VE_OK;
}

void VJSONBinaryWriter::BuildPathPointerString(const PathPart* inStep, VString& outPath)
{
    std::vector<const PathPart*> steps;
    for (const PathPart* step = inStep; step != nullptr && step->fParent != nullptr; step = step->fParent)
        steps.push_back(step);
    outPath.Clear();
    outPath.AppendUniChar('#');
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        outPath.AppendUniChar('/');
        if (const VString* name = (*step)->fName) {
            const UniChar* units = name->GetCPointer();
            for (int i = 0; i < name->GetLength(); ++i) {
                if (units[i] == '~')
                    outPath.AppendCString("~0");
                else if (units[i] == '/')
                    outPath.AppendCString("~1");
                else
                    outPath.AppendUniChar(units[i]);
            }
        } else {
            char digits[24];
            std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>((*step)->fIndex));
            outPath.AppendCString(digits);
        }
    }
}

// ---------------------------------------------------------------------------
// Top level

template <class Write>
VError VJSONBinaryWriter::_Stream(Write&& inWrite, VJSONBinaryBuffer& ioBuffer)
{
    const uint64_t start = ioBuffer.GetDataSize();
    const PathPart top{nullptr, nullptr, 0};
    fDepth = 0;
    fAdded.clear();
    VError error = inWrite(top);
    // A failure leaves no partial value behind, and nothing that a later
    // value could refer to.
    if (error != VE_OK) {
        ioBuffer.SetDataSize(start);
        for (const void* container : fAdded)
            fWritten.erase(container);
    }
    fAdded.clear();
    return error;
}

VError VJSONBinaryWriter::StreamValue(const VJSONValue& inValue, VJSONBinaryBuffer& ioBuffer)
{
    return _Stream([&](const PathPart& inTop) { return _StreamValue(inValue, ioBuffer, inTop); }, ioBuffer);
}

VError VJSONBinaryWriter::StreamObject(const VJSONObject* inObject, VJSONBinaryBuffer& ioBuffer)
{
    return _Stream([&](const PathPart& inTop) {
        return _StreamValue(VJSONValue(const_cast<VJSONObject*>(inObject)), ioBuffer, inTop);
    }, ioBuffer);
}

VError VJSONBinaryWriter::StreamArray(const VJSONArray* inArray, VJSONBinaryBuffer& ioBuffer)
{
    return _Stream([&](const PathPart& inTop) {
        return _StreamValue(VJSONValue(const_cast<VJSONArray*>(inArray)), ioBuffer, inTop);
    }, ioBuffer);
}

// ---------------------------------------------------------------------------
// Rules

bool VJSONBinaryWriter::_StreamReference(const VJSONValue& inContainer, VJSONBinaryBuffer& ioBuffer,
                                         const PathPart& inStep, VError& outError)
{
    const void* key = inContainer.IsObject() ? static_cast<const void*>(inContainer.GetObject())
                                             : static_cast<const void*>(inContainer.GetArray());
    auto found = fWritten.find(key);
    if (found != fWritten.end()) {
        outError = _PutByte(ioBuffer, kJSONBinaryReference);
        if (outError == VE_OK)
            outError = _PutText(ioBuffer, found->second.first);
        return true;
    }
    VString path;
    BuildPathPointerString(&inStep, path);
    fWritten.emplace(key, std::make_pair(path, inContainer));
    fAdded.push_back(key);
    return false;
}

VError VJSONBinaryWriter::_StreamValue(const VJSONValue& inValue, VJSONBinaryBuffer& ioBuffer,
                                       const PathPart& inStep)
{
    const JSONType type = inValue.GetType();
    if ((type == JSON_object && inValue.GetObject() != nullptr) ||
        (type == JSON_array && inValue.GetArray() != nullptr)) {
        VError error = VE_OK;
        if (_StreamReference(inValue, ioBuffer, inStep, error))
            return error;
    }
    switch (type) {
        case JSON_null:
        case JSON_false:
        case JSON_true:
        case JSON_undefined:
            return _PutByte(ioBuffer, static_cast<uint8_t>(type));
        case JSON_string: {
            VError error = _PutByte(ioBuffer, kJSONBinaryString);
            if (error == VE_OK) {
                VString text;
                inValue.GetString(text);
                error = _PutText(ioBuffer, text);
            }
            return error;
        }
        case JSON_number: {
            const double number = inValue.GetNumber();
            VError error = _PutByte(ioBuffer, kJSONBinaryNumber);
            return error == VE_OK ? _Put(ioBuffer, &number, sizeof(number)) : error;
        }
        case JSON_date: {
            VTime time;
            inValue.GetTime(time);
            const int64_t milliseconds = time.GetMilliseconds();
            VError error = _PutByte(ioBuffer, kJSONBinaryDate);
            return error == VE_OK ? _Put(ioBuffer, &milliseconds, sizeof(milliseconds)) : error;
        }
        case JSON_object:
            if (inValue.GetObject() == nullptr)
                return _PutByte(ioBuffer, kJSONBinaryNull);
            return _StreamObject(inValue.GetObject(), ioBuffer, inStep);
        case JSON_array:
            if (inValue.GetArray() == nullptr)
                return _PutByte(ioBuffer, kJSONBinaryNull);
            return _StreamArray(inValue.GetArray(), ioBuffer, inStep);
        default:
            return VE_OK;
    }
}

VError VJSONBinaryWriter::_StreamObject(const VJSONObject* inObject, VJSONBinaryBuffer& ioBuffer,
                                        const PathPart& inStep)
{
    const StLevel level(fDepth);
    VError error = level.GetError();
    if (error != VE_OK)
        return error;

    IJSONObject* implementation = inObject->GetImplementation();
    uint32_t signature = 0;
    if (implementation != nullptr) {
        // The implementation may stand for another value in the byte form.
        VJSONValue stand(const_cast<VJSONObject*>(inObject));
        implementation->IJSON_GetValueToWriteToBuffer(stand);
        if (!stand.IsObject() || stand.GetObject() != inObject)
            return _StreamValue(stand, ioBuffer, inStep);
        signature = implementation->IJSON_GetBinarySignature();
    }

    error = _PutByte(ioBuffer, kJSONBinaryObject);
    // With a payload of its own, the implementation's names are its
    // business: only the own properties are written.
    const unsigned int options = signature != 0 ? kJSONIterOwnOnly : kJSONIterSkipClassAttributes;
    for (VJSONPropertyConstOrderedIterator member(inObject, options); error == VE_OK && member.IsValid();
         ++member) {
        const VString& name = member.GetName();
        error = _PutName(ioBuffer, name);
        if (error == VE_OK) {
            const PathPart step{&inStep, &name, 0};
            error = _StreamValue(member.GetValue(), ioBuffer, step);
        }
    }
    if (error == VE_OK)
        error = _StreamObjectEnd(inObject, signature, ioBuffer);
    return error;
}

VError VJSONBinaryWriter::_StreamObjectEnd(const VJSONObject* inObject, uint32_t inSignature,
                                           VJSONBinaryBuffer& ioBuffer)
{
    if (inSignature != 0) {
        VError error = _PutU16(ioBuffer, kJSONBinaryClassRecord);
        if (error == VE_OK)
            error = _PutU32(ioBuffer, inSignature);
        if (error != VE_OK)
            return error;
        uint64_t written = 0;
        switch (inObject->GetImplementation()->IJSON_WriteToBuffer(ioBuffer, &written)) {
            case eJSONStatus_NotHandled:
                // Nothing of its own: an empty payload.
                return _PutU64(ioBuffer, 0);
            case eJSONStatus_Failed:
                // A failure must not pass for success, even without a code.
                return written != VE_OK ? static_cast<VError>(written) : Fail(915);
            default:
                return VE_OK;
        }
    }
    const VJSONClass* aClass = inObject->_GetClass();
    if (IsPlainClass(aClass))
        return _PutU16(ioBuffer, kJSONBinaryEndOfObject);
    const VString& component = aClass->GetComponentName();
    const VString& name = aClass->GetName();
    VError error = _PutU16(ioBuffer, kJSONBinaryClassRecord);
    if (error == VE_OK)
        error = _PutU32(ioBuffer, kJSONBinaryClassSignature);
    if (error == VE_OK) {
        const uint64_t size = 4 + 2 * (static_cast<uint64_t>(component.GetLength()) + name.GetLength());
        error = _PutU64(ioBuffer, size);
    }
    if (error == VE_OK)
        error = _PutName(ioBuffer, component);
    if (error == VE_OK)
        error = _PutName(ioBuffer, name);
    return error;
}

VError VJSONBinaryWriter::_StreamArray(const VJSONArray* inArray, VJSONBinaryBuffer& ioBuffer,
                                       const PathPart& inStep)
{
    const StLevel level(fDepth);
    VError error = level.GetError();
    if (error != VE_OK)
        return error;

    const size_t count = inArray->GetCount();
    // The count that stands for undefined, and any above it, has no form.
    if (count >= kJSONBinaryUndefinedArray)
        return Fail(107);
    error = _PutByte(ioBuffer, kJSONBinaryArray);
    if (error == VE_OK)
        error = _PutU32(ioBuffer, static_cast<uint32_t>(count));
    for (size_t i = 0; error == VE_OK && i < count; ++i) {
        const PathPart step{&inStep, nullptr, i};
        error = _StreamValue(inArray->GetAt(i), ioBuffer, step);
    }
    return error;
}

}  // namespace qelt
