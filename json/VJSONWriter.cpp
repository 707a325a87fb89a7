#include "json/VJSONWriter.h"

#include <climits>
#include <optional>

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONBinaryWriter.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "kernel/VReal.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "values/VTime.h"

namespace qelt {

namespace {

constexpr VError kErrorCycle = QeltError(900);

// Makes room for inExtra more units: a buffer that must grow grows to at
// least twice the text's length, so that a long text made of many small
// appends is copied only a few times. False when the text cannot grow.
bool MakeRoom(VString& ioText, int inExtra)
{
    const int length = ioText.GetLength();
    if (inExtra <= ioText.GetCapacity() - length)
        return true;
    long long wanted = static_cast<long long>(length) + inExtra;
    if (wanted < 2LL * length)
        wanted = 2LL * length;
    if (wanted > INT_MAX - 16)
        wanted = static_cast<long long>(length) + inExtra;
    if (wanted > INT_MAX - 16)
        return false;
    return ioText._ReallocBuffer(static_cast<int>(wanted), true);
}

// Whether writing the value may run code (an implementation, a getter) at
// some depth: true for an object and an array with elements.
bool MayRunCode(const VJSONValue& inValue)
{
    if (inValue.IsObject())
        return true;
    if (inValue.IsArray()) {
        const VJSONArray* array = inValue.GetArray();
        return array != nullptr && array->GetCount() > 0;
    }
    return false;
}

}  // namespace

VJSONWriter::VJSONWriter(VDBLanguageContext* inContext, unsigned int inFlags) : fContext(inContext), fFlags(inFlags)
{
    fIndent.AppendUniChar('\t');
    if ((fFlags & kJSONWritePretty) != 0)
        fPrefix.AppendUniChar('\n');
}

VJSONWriter::VJSONWriter(unsigned int inFlags) : VJSONWriter(nullptr, inFlags) {}

VJSONWriter::~VJSONWriter() = default;

// ---------------------------------------------------------------------------
// Layout

void VJSONWriter::IncrementLevel()
{
    ++fLevel;
    if ((fFlags & kJSONWritePretty) != 0)
        fPrefix.AppendString(fIndent);
}

void VJSONWriter::DecrementLevel()
{
    --fLevel;
    if ((fFlags & kJSONWritePretty) != 0 && fPrefix.GetLength() > 1)
        fPrefix.Truncate(fPrefix.GetLength() - fIndent.GetLength(), false);
}

void VJSONWriter::InsertIndentString(VString& ioText) const
{
    if ((fFlags & kJSONWritePretty) != 0)
        ioText.Insert(fPrefix, 1);
}

void VJSONWriter::AppendIndentString(VString& ioText) const
{
    if ((fFlags & kJSONWritePretty) != 0)
        ioText.AppendString(fPrefix);
}

// ---------------------------------------------------------------------------
// Pieces

void VJSONWriter::_Put(VString& ioText, const VString& inPiece)
{
    const int before = ioText.GetLength();
    MakeRoom(ioText, inPiece.GetLength());
    ioText.AppendString(inPiece);
    if (ioText.GetLength() != before + inPiece.GetLength())
        fOutOfRoom = true;
}

void VJSONWriter::_PutAscii(VString& ioText, const char* inPiece)
{
    int length = 0;
    while (inPiece[length] != 0)
        ++length;
    _PutAscii(ioText, inPiece, length);
}

void VJSONWriter::_PutAscii(VString& ioText, const char* inPiece, int inLength)
{
    // The writer's text is its own until it is handed out, so the units go
    // straight into its buffer once there is room.
    const int before = ioText.GetLength();
    if (!MakeRoom(ioText, inLength)) {
        fOutOfRoom = true;
        return;
    }
    UniChar* out = const_cast<UniChar*>(ioText.GetCPointer()) + before;
    for (int i = 0; i < inLength; ++i)
        out[i] = static_cast<UniChar>(static_cast<unsigned char>(inPiece[i]));
    ioText.Validate(before + inLength);
}

void VJSONWriter::_PutChar(VString& ioText, UniChar inUnit)
{
    const int before = ioText.GetLength();
    if (!MakeRoom(ioText, 1)) {
        fOutOfRoom = true;
        return;
    }
    const_cast<UniChar*>(ioText.GetCPointer())[before] = inUnit;
    ioText.Validate(before + 1);
}

VError VJSONWriter::_PutJSONString(VString& ioText, const VString& inText)
{
    MakeRoom(ioText, 6 * inText.GetLength() + 4);
    return inText.AppendJSONStringTo(ioText, fFlags);
}

bool VJSONWriter::_OnStack(const void* inContainer) const
{
    for (const void* container : fStack) {
        if (container == inContainer)
            return true;
    }
    return false;
}

VError VJSONWriter::_Fail(int inNumber)
{
    const VError error = QeltError(inNumber);
    _ThrowError(error);
    return error;
}

// ---------------------------------------------------------------------------
// Values

VError VJSONWriter::_Value(const VJSONValue& inValue, VString& ioText)
{
    switch (inValue.GetType()) {
        case JSON_null:
        case JSON_undefined:
            _Put(ioText, VJSONValue::sNullString);
            return VE_OK;
        case JSON_false:
            _Put(ioText, VJSONValue::sFalseString);
            return VE_OK;
        case JSON_true:
            _Put(ioText, VJSONValue::sTrueString);
            return VE_OK;
        case JSON_string: {
            VString text(inValue.GetInlineString(), true);
            return _PutJSONString(ioText, text);
        }
        case JSON_number: {
            char digits[VReal::kJSONCharsSize];
            _PutAscii(ioText, digits, VReal::RealToJSONChars(inValue.GetNumber(), digits));
            return VE_OK;
        }
        // A container is held while code may run under it (see _Object and
        // _Array): an implementation or a getter may drop the place it was
        // read from.
        case JSON_object:
            return _Object(inValue.GetObject(), ioText);
        case JSON_array:
            return _Array(inValue.GetArray(), ioText);
        case JSON_date: {
            VTime time;
            if ((fFlags & kJSONWriteLocalMidnight) != 0) {
                short year, month, day;
                inValue.GetDate(&year, &month, &day);
                time.FromLocalTime(year, month, day, 0, 0, 0, 0);
            } else {
                inValue.GetTime(time);
            }
            time.GetJSONString(fScratch, fFlags);
            _Put(ioText, fScratch);
            return VE_OK;
        }
        default:
            return VE_OK;
    }
}

VError VJSONWriter::_Close(VString& ioText, int inStart, bool inStopped, UniChar inClose)
{
    if (!inStopped) {
        if ((fFlags & kJSONWritePretty) != 0)
            _Put(ioText, fPrefix);
        _PutChar(ioText, inClose);
    } else if (!fEllipsis) {
        _PutAscii(ioText, "...");
        fEllipsis = true;
    }
    if (fOutOfRoom) {
        ioText.Truncate(inStart, false);
        return _Fail(107);
    }
    return VE_OK;
}

VError VJSONWriter::_Object(const VJSONObject* inObject, VString& ioText)
{
    if (inObject == nullptr) {
        _Put(ioText, VJSONValue::sUndefinedString);
        return VE_OK;
    }
    if (_OnStack(inObject)) {
        if ((fFlags & kJSONWriteCircular) != 0) {
            _PutAscii(ioText, "\"[circular]\"");
            return VE_OK;
        }
        _ThrowError(kErrorCycle);
        return kErrorCycle;
    }
    if ((fFlags & kJSONWriteOnce) != 0 && !fWritten.insert(inObject).second)
        return _Fail(916);
    if (static_cast<int>(fStack.size()) >= kMaxDepth)
        return _Fail(108);
    fStack.push_back(inObject);
    struct Pop {
        std::vector<const void*>& fStack;
        ~Pop() { fStack.pop_back(); }
    } pop{fStack};

    if ((fFlags & kJSONWriteGenericOnly) != 0 && !inObject->IsGenericObject())
        return _Fail(914);
    // The object is held from the first step that may run code on: its
    // implementation, a getter, or a member that is a container (whose
    // members may have either). A plain object of numbers, strings and
    // literals runs none and is written without being held.
    VRefPtr<const VJSONObject> held;
    if (inObject->GetImplementation() != nullptr || inObject->_GetStorageLocker() != nullptr)
        held = inObject;
    if (IJSONObject* implementation = inObject->GetImplementation()) {
        if ((fFlags & kJSONWriteNoBinary) != 0 && implementation->IJSON_GetBinarySignature() != 0)
            return _Fail(911);
        VString own;
        uint64_t error = 0;
        EJSONStatus status = implementation->IJSON_Stringify(inObject, *this, own, &error);
        if (status != eJSONStatus_NotHandled) {
            if (error == 0)
                _Put(ioText, own);
            return static_cast<VError>(error);
        }
    }
    if (inObject->IsEmpty()) {
        _PutAscii(ioText, "{}");
        return VE_OK;
    }

    const int start = ioText.GetLength();
    const bool pretty = (fFlags & kJSONWritePretty) != 0;
    const bool preview = (fFlags & kJSONWritePreview) != 0;
    VError error = VE_OK;
    bool stopped = false;
    bool firstMember = true;
    _PutChar(ioText, '{');
    IncrementLevel();
    for (VJSONPropertyConstOrderedIterator it(inObject, 0); it.IsValid(); it.Next()) {
        if (!firstMember)
            _PutChar(ioText, ',');
        firstMember = false;
        const int memberStart = ioText.GetLength();
        if (pretty)
            _Put(ioText, fPrefix);
        error = _PutJSONString(ioText, it.GetName());
        if (error != VE_OK)
            break;
        _PutChar(ioText, ':');
        if (pretty)
            _PutChar(ioText, ' ');
        // A plain object's own values are read where they are stored.
        if (const VJSONValue* stored = it._GetStoredValue()) {
            if (held.Get() == nullptr && MayRunCode(*stored))
                held = inObject;
            error = _Value(*stored, ioText);
        } else {
            if (held.Get() == nullptr)
                held = inObject;
            error = _Value(it.GetValue(fContext), ioText);
        }
        if (error != VE_OK)
            break;
        if (preview && _PreviewFull(ioText, memberStart)) {
            stopped = true;
            break;
        }
    }
    DecrementLevel();
    if (error != VE_OK) {
        ioText.Truncate(start, false);
        return error;
    }
    return _Close(ioText, start, stopped, '}');
}

// The preview budget: true when the text already written passes about 512
// characters, so the container stops here; otherwise the item just written
// (from inItemStart) is counted.
bool VJSONWriter::_PreviewFull(const VString& inText, int inItemStart)
{
    if (fPreviewCount > 512)
        return true;
    fPreviewCount += static_cast<uint32_t>(inText.GetLength() - inItemStart);
    return false;
}

VError VJSONWriter::_Array(const VJSONArray* inArray, VString& ioText)
{
    if (inArray == nullptr) {
        _Put(ioText, VJSONValue::sUndefinedString);
        return VE_OK;
    }
    if (inArray->GetCount() == 0) {
        _PutAscii(ioText, "[]");
        return VE_OK;
    }
    if (_OnStack(inArray)) {
        _ThrowError(kErrorCycle);
        return kErrorCycle;
    }
    if (static_cast<int>(fStack.size()) >= kMaxDepth)
        return _Fail(108);
    fStack.push_back(inArray);
    const int start = ioText.GetLength();
    const bool pretty = (fFlags & kJSONWritePretty) != 0;
    const bool preview = (fFlags & kJSONWritePreview) != 0;
    VError error = VE_OK;
    bool stopped = false;
    _PutChar(ioText, '[');
    IncrementLevel();
    // The array is held from its first element that may run code on (an
    // object, or an array with elements: see MayRunCode), as that code may
    // drop the place the array was read from; numbers, strings, literals and
    // empty arrays run none. A shared array's elements are copied under its
    // lock.
    const bool shared = inArray->_GetStorageLocker() != nullptr;
    VRefPtr<const VJSONArray> held;
    if (shared)
        held = inArray;
    std::optional<VJSONValue> copy;
    for (size_t i = 0;; ++i) {
        const VJSONValue* item;
        if (!shared) {
            const std::vector<VJSONValue>& values = inArray->_GetValues();
            if (i >= values.size())
                break;
            item = &values[i];
        } else {
            if (!copy)
                copy.emplace(JSON_undefined);
            if (!inArray->GetAt(i, *copy))
                break;
            item = &*copy;
        }
        if (held.Get() == nullptr && MayRunCode(*item))
            held = inArray;
        if (i > 0)
            _PutChar(ioText, ',');
        const int elementStart = ioText.GetLength();
        if (pretty)
            _Put(ioText, fPrefix);
        error = _Value(*item, ioText);
        if (error != VE_OK)
            break;
        if (preview && _PreviewFull(ioText, elementStart)) {
            stopped = true;
            break;
        }
    }
    DecrementLevel();
    fStack.pop_back();
    if (error != VE_OK) {
        ioText.Truncate(start, false);
        return error;
    }
    return _Close(ioText, start, stopped, ']');
}

// ---------------------------------------------------------------------------
// Entry points

template <class Write>
VError VJSONWriter::_Stringify(Write&& inWrite, VString& outText)
{
    VString text;
    fOutOfRoom = false;
    VError error = inWrite(text);
    if (error == VE_OK && fOutOfRoom)
        error = _Fail(107);
    if (error == VE_OK)
        outText.FromString(text);
    return error;
}

VError VJSONWriter::StringifyValue(const VJSONValue& inValue, VString& outText)
{
    return _Stringify([&](VString& ioText) { return _Value(inValue, ioText); }, outText);
}

VError VJSONWriter::StringifyObject(const VJSONObject* inObject, VString& outText)
{
    return _Stringify([&](VString& ioText) { return _Object(inObject, ioText); }, outText);
}

VError VJSONWriter::StringifyArray(const VJSONArray* inArray, VString& outText)
{
    return _Stringify([&](VString& ioText) { return _Array(inArray, ioText); }, outText);
}

VError VJSONValue::Stringify(VString& outText, unsigned int inFlags) const
{
    if ((inFlags & kJSONWriteBinaryFallback) == 0) {
        VJSONWriter writer(inFlags);
        return writer.StringifyValue(*this, outText);
    }
    // A value without text form (a cycle, an object met twice, one that is
    // not generic or has a binary form) is written in binary form, as Base64
    // under the wrapper name that the JSON readers expand.
    VJSONWriter writer(inFlags | kJSONWriteOnce | kJSONWriteGenericOnly | kJSONWriteNoBinary);
    VError error;
    {
        StErrorContextInstaller errors(true);
        error = writer.StringifyValue(*this, outText);
        if (error != QeltError(900) && error != QeltError(911) && error != QeltError(914) &&
            error != QeltError(916))
            return error;
        errors.GetContext()->Flush();
    }
    VJSONBinaryBuffer buffer;
    VJSONBinaryWriter binary(0x40);
    error = binary.StreamValue(*this, buffer);
    if (error != VE_OK)
        return error;
    VString base64;
    if (!base64.EncodeBase64(buffer.GetDataPtr(), static_cast<unsigned long>(buffer.GetDataSize()), false)) {
        // Too long for a string.
        _ThrowError(QeltError(107));
        return QeltError(107);
    }
    VJSONValue wrapper(JSON_object);
    wrapper.SetProperty(VJSONImporter::sBinaryObjectName, VJSONValue(base64));
    return writer.StringifyValue(wrapper, outText);
}

}  // namespace qelt
