#include "json/VJSONWriter.h"

#include <climits>
#include <cstring>
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

bool VJSONWriter::_Grow(int inExtra)
{
    // The string learns its length before it moves its content.
    fText->Validate(fLength);
    if (!MakeRoom(*fText, inExtra)) {
        fOutOfRoom = true;
        return false;
    }
    fUnits = const_cast<UniChar*>(fText->GetCPointer());
    fCapacity = fText->GetCapacity();
    return true;
}

void VJSONWriter::_Put(const VString& inPiece)
{
    const int length = inPiece.GetLength();
    if (length > 0 && _Reserve(length)) {
        std::memcpy(fUnits + fLength, inPiece.GetCPointer(), static_cast<size_t>(length) * sizeof(UniChar));
        fLength += length;
    }
}

void VJSONWriter::_PutAscii(const char* inPiece, int inLength)
{
    if (!_Reserve(inLength))
        return;
    UniChar* out = fUnits + fLength;
    for (int i = 0; i < inLength; ++i)
        out[i] = static_cast<UniChar>(static_cast<unsigned char>(inPiece[i]));
    fLength += inLength;
}

VError VJSONWriter::_PutJSONString(const UniChar* inUnits, int inLength)
{
    const bool quoted = (fFlags & kJSONWriteQuoted) != 0;
    if ((fFlags & kJSONWriteRawStrings) != 0) {
        if (quoted)
            _PutChar('"');
        if (inLength > 0 && _Reserve(inLength)) {
            std::memcpy(fUnits + fLength, inUnits, static_cast<size_t>(inLength) * sizeof(UniChar));
            fLength += inLength;
        }
        if (quoted)
            _PutChar('"');
        return VE_OK;
    }
    const long long worst = 6LL * inLength + 2;
    if (worst > INT_MAX - 16 || !_Reserve(static_cast<int>(worst))) {
        // Too long for a string.
        return _Fail(107);
    }
    fLength += VString::WriteJSONUnits(inUnits, inLength, fUnits + fLength, quoted,
                                       (fFlags & kJSONWriteEscapeAmpApos) != 0);
    return VE_OK;
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

VError VJSONWriter::_Value(const VJSONValue& inValue)
{
    switch (inValue.GetType()) {
        case JSON_null:
        case JSON_undefined:
            _Put(VJSONValue::sNullString);
            return VE_OK;
        case JSON_false:
            _Put(VJSONValue::sFalseString);
            return VE_OK;
        case JSON_true:
            _Put(VJSONValue::sTrueString);
            return VE_OK;
        case JSON_string: {
            VString text(inValue.GetInlineString(), true);
            return _PutJSONString(text.GetCPointer(), text.GetLength());
        }
        case JSON_number: {
            char digits[VReal::kJSONCharsSize];
            _PutAscii(digits, VReal::RealToJSONChars(inValue.GetNumber(), digits));
            return VE_OK;
        }
        // A container is held while code may run under it (see _Object and
        // _Array): an implementation or a getter may drop the place it was
        // read from.
        case JSON_object:
            return _Object(inValue.GetObject());
        case JSON_array:
            return _Array(inValue.GetArray());
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
            _Put(fScratch);
            return VE_OK;
        }
        default:
            return VE_OK;
    }
}

VError VJSONWriter::_Close(int inStart, bool inStopped, UniChar inClose)
{
    if (!inStopped) {
        if ((fFlags & kJSONWritePretty) != 0)
            _Put(fPrefix);
        _PutChar(inClose);
    } else if (!fEllipsis) {
        _PutAscii("...", 3);
        fEllipsis = true;
    }
    if (fOutOfRoom) {
        fLength = inStart;
        return _Fail(107);
    }
    return VE_OK;
}

VError VJSONWriter::_Object(const VJSONObject* inObject)
{
    if (inObject == nullptr) {
        _Put(VJSONValue::sUndefinedString);
        return VE_OK;
    }
    if (_OnStack(inObject)) {
        if ((fFlags & kJSONWriteCircular) != 0) {
            _PutAscii("\"[circular]\"", 12);
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
                _Put(own);
            return static_cast<VError>(error);
        }
    }
    if (inObject->IsEmpty()) {
        _PutAscii("{}", 2);
        return VE_OK;
    }

    const int start = fLength;
    const bool pretty = (fFlags & kJSONWritePretty) != 0;
    const bool preview = (fFlags & kJSONWritePreview) != 0;
    VError error = VE_OK;
    bool stopped = false;
    bool firstMember = true;
    // Writes one member; false when the object stops here (an error, or
    // the preview is full).
    auto member = [&](const VString& inName, const VJSONValue* inStored, const VJSONPropertyConstOrderedIterator* inIt) {
        if (!firstMember)
            _PutChar(',');
        firstMember = false;
        const int memberStart = fLength;
        if (pretty)
            _Put(fPrefix);
        error = _PutJSONString(inName.GetCPointer(), inName.GetLength());
        if (error != VE_OK)
            return false;
        _PutChar(':');
        if (pretty)
            _PutChar(' ');
        if (inStored != nullptr) {
            error = _Value(*inStored);
        } else {
            if (held.Get() == nullptr)
                held = inObject;
            error = _Value(inIt->GetValue(fContext));
        }
        if (error != VE_OK)
            return false;
        if (preview && _PreviewFull(memberStart)) {
            stopped = true;
            return false;
        }
        return true;
    };
    _PutChar('{');
    IncrementLevel();
    // An object without implementation, storage locker or class has only
    // its own entries; otherwise the iterator tells whether it is read in place.
    std::optional<VJSONPropertyConstOrderedIterator> it;
    if (inObject->GetImplementation() != nullptr || inObject->_GetStorageLocker() != nullptr ||
        inObject->_GetClass() != nullptr)
        it.emplace(inObject, 0);
    if (!it || (it->IsValid() && it->_GetStoredValue() != nullptr)) {
        // A plain object: its own entries are read where they are stored,
        // by position. Code run by a member that is a container may change
        // the entries (drop the member, add others), so the walk then goes
        // on after the member just written, found again by its name (or at
        // its position when it is gone), and never reads a stale entry.
        // At most as many members as there were are written.
        const VJSONPropertyTable& entries = inObject->_GetEntries();
        size_t left = entries.size();
        for (size_t position = 0; position < entries.size() && left > 0; --left) {
            const VJSONPropertyEntry& entry = entries[position];
            if (!MayRunCode(entry.fValue)) {
                if (!member(entry.fName, &entry.fValue, nullptr))
                    break;
                ++position;
                continue;
            }
            if (held.Get() == nullptr)
                held = inObject;
            const VString name(entry.fName);
            const VJSONPropertyEntry* const before = entries.begin();
            const size_t count = entries.size();
            if (!member(name, &entry.fValue, nullptr))
                break;
            if (entries.begin() == before && entries.size() == count) {
                ++position;
            } else {
                const size_t found = entries.Find(name);
                position = found != VJSONPropertyTable::kNotFound ? found + 1 : position;
            }
        }
    } else {
        for (; it->IsValid(); it->Next()) {
            if (!member(it->GetName(), it->_GetStoredValue(), &*it))
                break;
        }
    }
    DecrementLevel();
    if (error != VE_OK) {
        fLength = start;
        return error;
    }
    return _Close(start, stopped, '}');
}

// The preview budget: true when the text already written passes about 512
// characters, so the container stops here; otherwise the item just written
// (from inItemStart) is counted.
bool VJSONWriter::_PreviewFull(int inItemStart)
{
    if (fPreviewCount > 512)
        return true;
    fPreviewCount += static_cast<uint32_t>(fLength - inItemStart);
    return false;
}

VError VJSONWriter::_Array(const VJSONArray* inArray)
{
    if (inArray == nullptr) {
        _Put(VJSONValue::sUndefinedString);
        return VE_OK;
    }
    if (inArray->GetCount() == 0) {
        _PutAscii("[]", 2);
        return VE_OK;
    }
    if (_OnStack(inArray)) {
        _ThrowError(kErrorCycle);
        return kErrorCycle;
    }
    if (static_cast<int>(fStack.size()) >= kMaxDepth)
        return _Fail(108);
    fStack.push_back(inArray);
    const int start = fLength;
    const bool pretty = (fFlags & kJSONWritePretty) != 0;
    const bool preview = (fFlags & kJSONWritePreview) != 0;
    VError error = VE_OK;
    bool stopped = false;
    _PutChar('[');
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
            const VJSONArray::ValueList& values = inArray->_GetValues();
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
            _PutChar(',');
        const int elementStart = fLength;
        if (pretty)
            _Put(fPrefix);
        error = _Value(*item);
        if (error != VE_OK)
            break;
        if (preview && _PreviewFull(elementStart)) {
            stopped = true;
            break;
        }
    }
    DecrementLevel();
    fStack.pop_back();
    if (error != VE_OK) {
        fLength = start;
        return error;
    }
    return _Close(start, stopped, ']');
}

// ---------------------------------------------------------------------------
// Entry points

template <class Write>
VError VJSONWriter::_Stringify(Write&& inWrite, VString& outText)
{
    VString text;
    VString* const outerText = fText;
    UniChar* const outerUnits = fUnits;
    const int outerLength = fLength;
    const int outerCapacity = fCapacity;
    fText = &text;
    fUnits = const_cast<UniChar*>(text.GetCPointer());
    fLength = 0;
    fCapacity = text.GetCapacity();
    fOutOfRoom = false;
    VError error = inWrite();
    if (error == VE_OK && fOutOfRoom)
        error = _Fail(107);
    text.Validate(fLength);
    fText = outerText;
    fUnits = outerUnits;
    fLength = outerLength;
    fCapacity = outerCapacity;
    if (error == VE_OK)
        outText.FromString(text);
    return error;
}

VError VJSONWriter::StringifyValue(const VJSONValue& inValue, VString& outText)
{
    return _Stringify([&] { return _Value(inValue); }, outText);
}

VError VJSONWriter::StringifyObject(const VJSONObject* inObject, VString& outText)
{
    return _Stringify([&] { return _Object(inObject); }, outText);
}

VError VJSONWriter::StringifyArray(const VJSONArray* inArray, VString& outText)
{
    return _Stringify([&] { return _Array(inArray); }, outText);
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
