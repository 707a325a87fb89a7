#include "json/VJSONValue.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONRegion.h"
#include "kernel/VBoolean.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VReal.h"
#include "platform/PlatNumbers.h"
#include "runtime/VErrorBase.h"
#include "values/VTime.h"

namespace qelt {

// ---------------------------------------------------------------------------
// Process-wide counters and constants

std::atomic<uint32_t> __VInlineString_tag{0};
std::atomic<uint32_t> VJSONValue::sStamp{0};

namespace {

UniChar kUndefinedUnits[] = {'u', 'n', 'd', 'e', 'f', 'i', 'n', 'e', 'd', 0};
UniChar kNullUnits[] = {'n', 'u', 'l', 'l', 0};
UniChar kTrueUnits[] = {'t', 'r', 'u', 'e', 0};
UniChar kFalseUnits[] = {'f', 'a', 'l', 's', 'e', 0};
UniChar kObjectUnits[] = {'[', 'o', 'b', 'j', 'e', 'c', 't', ' ', 'O', 'b', 'j', 'e', 'c', 't', ']', 0};

// The literal's length, without its terminator.
template <size_t N>
constexpr int LiteralLength(const UniChar (&)[N])
{
    return static_cast<int>(N - 1);
}

}  // namespace

// Built in this order by the static initialisation, each with a fresh stamp.
const VJSONValue VJSONValue::sUndefined(JSON_undefined);
const VJSONValue VJSONValue::sNull(JSON_null);
const VJSONValue VJSONValue::sTrue(JSON_true);
const VJSONValue VJSONValue::sFalse(JSON_false);
const VJSONValue VJSONValue::sLastType(JSON_last);

// The texts wrap static UTF-16 arrays: they need no memory manager.
const VString VJSONValue::sUndefinedString(kUndefinedUnits, LiteralLength(kUndefinedUnits), sizeof(kUndefinedUnits));
const VString VJSONValue::sNullString(kNullUnits, LiteralLength(kNullUnits), sizeof(kNullUnits));
const VString VJSONValue::sTrueString(kTrueUnits, LiteralLength(kTrueUnits), sizeof(kTrueUnits));
const VString VJSONValue::sFalseString(kFalseUnits, LiteralLength(kFalseUnits), sizeof(kFalseUnits));
const VString VJSONValue::sObjectString(kObjectUnits, LiteralLength(kObjectUnits), sizeof(kObjectUnits));

VJSONStamp::~VJSONStamp() = default;

// ---------------------------------------------------------------------------
// Helpers

namespace {

void UnpackDate(uint32_t inDate, int& outYear, int& outMonth, int& outDay)
{
    outYear = static_cast<short>(static_cast<int32_t>(inDate) >> 16);
    outMonth = static_cast<int>((inDate >> 8) & 0xFF);
    outDay = static_cast<int>(inDate & 0xFF);
}

// The JSON text of a date through the time of its midnight: UTC, or the
// local midnight under 0x80; the time writes itself with the flags (quotes
// under 0x1, the date alone under 0x200, "!!" marks under 0x1000).
void AppendDateText(VString& ioText, uint32_t inDate, unsigned int inFlags)
{
    int year, month, day;
    UnpackDate(inDate, year, month, day);
    VTime time;
    if ((inFlags & 0x80) != 0)
        time.FromLocalTime(static_cast<short>(year), static_cast<short>(month), static_cast<short>(day), 0, 0, 0, 0);
    else
        time.FromUTCTime(static_cast<short>(year), static_cast<short>(month), static_cast<short>(day), 0, 0, 0, 0);
    VString text;
    time.GetJSONString(text, inFlags);
    ioText.AppendString(text);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and lifetime

VJSONValue::VJSONValue(JSONType inType) : fType(inType), fStamp(NewStamp())
{
    switch (inType) {
        case JSON_string:
            fString.fRecord = VInlineString{0, nullptr, 0};
            fString.fTag = NewStringTag();
            break;
        case JSON_number:
            fNumber = 0.0;
            break;
        case JSON_object:
            fObject = new VJSONObject();
            break;
        case JSON_array:
            fArray = new VJSONArray(static_cast<VStorageLocker*>(nullptr));
            break;
        case JSON_date:
            fDate = 0;
            break;
        default:
            fNumber = 0.0;
            break;
    }
}

VJSONValue::VJSONValue(VJSONObject* inObject) : fType(JSON_null), fStamp(NewStamp())
{
    fNumber = 0.0;
    if (inObject != nullptr) {
        inObject->Retain();
        fObject = inObject;
        fType = JSON_object;
    }
}

VJSONValue::VJSONValue(VJSONArray* inArray) : fType(JSON_null), fStamp(NewStamp())
{
    fNumber = 0.0;
    if (inArray != nullptr) {
        inArray->Retain();
        fArray = inArray;
        fType = JSON_array;
    }
}

VJSONValue::VJSONValue(const VString& inString) : fType(JSON_null), fStamp(NewStamp())
{
    fNumber = 0.0;
    if (!inString.IsNull())
        _TakeString(inString);
}

VJSONValue::VJSONValue(const VInlineString& inString) : fType(JSON_string), fStamp(NewStamp())
{
    fString.fRecord = VInlineString{0, nullptr, 0};
    VStringBlock::Assign(fString.fRecord, inString);
    fString.fTag = NewStringTag();
}

VJSONValue::VJSONValue(double inNumber) : fType(JSON_number), fStamp(NewStamp()) { fNumber = inNumber; }

VJSONValue::VJSONValue(const VTime& inTime) : fType(JSON_null), fStamp(NewStamp())
{
    fNumber = 0.0;
    SetTime(inTime);
}

VJSONValue::VJSONValue(const VJSONValue& inOther) : VObject(inOther), fType(JSON_null), fStamp(0)
{
    fNumber = 0.0;
    _CopyPayloadFrom(inOther);
    fStamp = NewStamp();
}

VJSONValue& VJSONValue::operator=(const VJSONValue& inOther)
{
    if (this != &inOther) {
        // The old payload is dropped only after the new one is held: the
        // source may be reachable only through what this value holds.
        VJSONValue old(std::move(*this));
        _CopyPayloadFrom(inOther);
        fStamp = NewStamp();
    }
    return *this;
}

VJSONValue& VJSONValue::operator=(VJSONValue&& ioOther) noexcept
{
    if (this != &ioOther) {
        VJSONValue old(std::move(*this));
        fStamp = ioOther.fStamp;
        _MovePayloadFrom(ioOther);
    }
    return *this;
}

void VJSONValue::_ReleasePayload()
{
    switch (fType) {
        case JSON_string:
            VStringBlock::Release(fString.fRecord);
            break;
        case JSON_object: {
            VJSONObject* object = fObject;
            fObject = nullptr;
            if (object != nullptr) {
                // What the release frees, the tree under the object
                // included, is counted down block by block.
                VJSONRegion::StTeardown teardown;
                object->Release();
            }
            break;
        }
        case JSON_array: {
            VJSONArray* array = fArray;
            fArray = nullptr;
            if (array != nullptr) {
                VJSONRegion::StTeardown teardown;
                array->Release();
            }
            break;
        }
        default:
            break;
    }
}

void VJSONValue::_CopyPayloadFrom(const VJSONValue& inOther)
{
    fType = inOther.fType;
    switch (inOther.fType) {
        case JSON_string:
            fString.fRecord = VInlineString{0, nullptr, 0};
            VStringBlock::Assign(fString.fRecord, inOther.fString.fRecord);
            fString.fTag = NewStringTag();
            break;
        case JSON_object:
            fObject = inOther.fObject;
            if (fObject != nullptr)
                fObject->Retain();
            break;
        case JSON_array:
            fArray = inOther.fArray;
            if (fArray != nullptr)
                fArray->Retain();
            break;
        case JSON_number:
            fNumber = inOther.fNumber;
            break;
        case JSON_date:
            fDate = inOther.fDate;
            break;
        default:
            fNumber = 0.0;
            break;
    }
}

void VJSONValue::_MovePayloadFrom(VJSONValue& ioOther)
{
    fType = ioOther.fType;
    switch (ioOther.fType) {
        case JSON_string:
            fString = ioOther.fString;
            ioOther.fString.fRecord = VInlineString{0, nullptr, 0};
            break;
        case JSON_object:
            fObject = ioOther.fObject;
            ioOther.fObject = nullptr;
            break;
        case JSON_array:
            fArray = ioOther.fArray;
            ioOther.fArray = nullptr;
            break;
        case JSON_number:
            fNumber = ioOther.fNumber;
            break;
        case JSON_date:
            fDate = ioOther.fDate;
            break;
        default:
            fNumber = 0.0;
            break;
    }
}

void VJSONValue::_TakeString(const VString& inString)
{
    int length = 0;
    int capacity = 0;
    UniChar* block = inString.RetainBuffer(&length, &capacity);
    if (block == nullptr) {
        length = 0;
        capacity = 0;
    }
    fType = JSON_string;
    fString.fRecord = VInlineString{length, block, capacity};
    fString.fTag = NewStringTag();
}

uint32_t VJSONValue::_PackDate(int inYear, int inMonth, int inDay)
{
    return static_cast<uint32_t>(inYear) * 65536u + static_cast<uint32_t>(inMonth) * 256u +
           static_cast<uint32_t>(inDay);
}

// ---------------------------------------------------------------------------
// Setters

void VJSONValue::SetString(const VString& inString)
{
    if (inString.IsNull()) {
        SetNull();
        return;
    }
    if (fType == JSON_string) {
        const VInlineString& record = fString.fRecord;
        if (record.fString != nullptr && record.fString == inString.GetCPointer() &&
            record.fLength == inString.GetLength())
            return;
        int length = 0;
        int capacity = 0;
        UniChar* block = inString.RetainBuffer(&length, &capacity);
        if (block == nullptr) {
            length = 0;
            capacity = 0;
        }
        VStringBlock::Release(fString.fRecord);
        fString.fRecord = VInlineString{length, block, capacity};
        return;
    }
    _ReleasePayload();
    _TakeString(inString);
}

void VJSONValue::SetString(const VInlineString& inString)
{
    if (fType == JSON_string) {
        if (fString.fRecord.fString == inString.fString)
            return;
        VStringBlock::Assign(fString.fRecord, inString);
        return;
    }
    _ReleasePayload();
    fType = JSON_string;
    fString.fRecord = VInlineString{0, nullptr, 0};
    VStringBlock::Assign(fString.fRecord, inString);
    fString.fTag = NewStringTag();
}

void VJSONValue::_AdoptString(const VInlineString& inString)
{
    if (fType == JSON_string) {
        VStringBlock::Release(fString.fRecord);
        fString.fRecord = inString;
        return;
    }
    _ReleasePayload();
    fType = JSON_string;
    fString.fRecord = inString;
    fString.fTag = NewStringTag();
}

void VJSONValue::SetObject(VJSONObject* inObject)
{
    if (inObject == nullptr) {
        SetNull();
        return;
    }
    if (fType == JSON_object) {
        if (fObject == inObject)
            return;
        inObject->Retain();
        VJSONObject* old = fObject;
        fObject = inObject;
        if (old != nullptr)
            old->Release();
        return;
    }
    inObject->Retain();
    _ReleasePayload();
    fType = JSON_object;
    fObject = inObject;
}

void VJSONValue::SetArray(VJSONArray* inArray)
{
    if (inArray == nullptr) {
        SetNull();
        return;
    }
    if (fType == JSON_array) {
        if (fArray == inArray)
            return;
        inArray->Retain();
        VJSONArray* old = fArray;
        fArray = inArray;
        if (old != nullptr)
            old->Release();
        return;
    }
    inArray->Retain();
    _ReleasePayload();
    fType = JSON_array;
    fArray = inArray;
}

void VJSONValue::SetTime(const VTime& inTime)
{
    if (inTime.IsNull()) {
        SetNull();
        return;
    }
    short year, month, day, hour, minute, second, millisecond;
    inTime.GetUTCTime(year, month, day, hour, minute, second, millisecond);
    SetDate(year, month, day);
}

void VJSONValue::SetDate(short inYear, short inMonth, short inDay)
{
    _ReleasePayload();
    fType = JSON_date;
    fDate = _PackDate(inYear, inMonth, inDay);
}

void VJSONValue::Clear()
{
    switch (fType) {
        case JSON_true:
            fType = JSON_false;
            break;
        case JSON_string:
            VStringBlock::Release(fString.fRecord);
            fString.fTag = NewStringTag();
            break;
        case JSON_number:
            fNumber = 0.0;
            break;
        case JSON_date:
            fDate = 0;
            break;
        case JSON_object:
        case JSON_array:
            _ReleasePayload();
            fType = JSON_null;
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------
// Views

double VJSONValue::GetNumber() const
{
    switch (fType) {
        case JSON_number:
            return fNumber;
        case JSON_true:
            return 1.0;
        case JSON_string: {
            const VInlineString& record = fString.fRecord;
            const UniChar* units = record.fString;
            if (units == nullptr || record.fLength <= 0)
                return 0.0;
            VString text(record, true);
            if (record.fLength >= 2 && units[0] == '0' && (units[1] == 'x' || units[1] == 'X'))
                return static_cast<double>(text.GetHexLong());
            return text.GetReal();
        }
        default:
            return 0.0;
    }
}

bool VJSONValue::GetBool() const
{
    switch (fType) {
        case JSON_true:
        case JSON_object:
        case JSON_array:
            return true;
        case JSON_string:
            return fString.fRecord.fString != nullptr;
        case JSON_number:
            return !(fNumber == 0.0);
        case JSON_date:
            return fDate != 0;
        default:
            return false;
    }
}

VError VJSONValue::GetString(VString& outText, std::unordered_set<const VJSONArray*>* ioVisited) const
{
    switch (fType) {
        case JSON_null:
        case JSON_undefined:
            outText.Clear();
            return VE_OK;
        case JSON_false:
            outText.FromString(sFalseString);
            return VE_OK;
        case JSON_true:
            outText.FromString(sTrueString);
            return VE_OK;
        case JSON_string:
            outText.FromString(fString.fRecord);
            return VE_OK;
        case JSON_number:
            VReal::RealToJSONString(fNumber, outText);
            return VE_OK;
        case JSON_object:
            outText.FromString(sObjectString);
            return VE_OK;
        case JSON_array:
            if (fArray == nullptr) {
                outText.Clear();
                return VE_OK;
            }
            return fArray->GetString(outText, ioVisited);
        case JSON_date: {
            outText.Clear();
            AppendDateText(outText, fDate, 0x200);
            return VE_OK;
        }
        default:
            return VE_OK;
    }
}

void VJSONValue::GetTime(VTime& outTime) const
{
    if (fType == JSON_date) {
        int year, month, day;
        UnpackDate(fDate, year, month, day);
        outTime.FromUTCTime(static_cast<short>(year), static_cast<short>(month), static_cast<short>(day), 0, 0, 0, 0);
    } else if (fType == JSON_string) {
        VString text(fString.fRecord, true);
        outTime.FromString(text);
    } else {
        outTime.Clear();
        outTime.SetNull(true);
    }
}

bool VJSONValue::GetDate(short* outYear, short* outMonth, short* outDay) const
{
    int year = 0, month = 0, day = 0;
    bool isDate = fType == JSON_date;
    if (isDate)
        UnpackDate(fDate, year, month, day);
    if (outYear != nullptr)
        *outYear = static_cast<short>(year);
    if (outMonth != nullptr)
        *outMonth = static_cast<short>(month);
    if (outDay != nullptr)
        *outDay = static_cast<short>(day);
    return isDate;
}

VJSONObject* VJSONValue::RetainObject() const
{
    if (fType != JSON_object || fObject == nullptr)
        return nullptr;
    fObject->Retain();
    return fObject;
}

VJSONArray* VJSONValue::RetainArray() const
{
    if (fType != JSON_array || fArray == nullptr)
        return nullptr;
    fArray->Retain();
    return fArray;
}

VValueSingle* VJSONValue::CreateVValue(bool inMarkContainers) const
{
    switch (fType) {
        case JSON_false:
        case JSON_true:
            return new VBoolean(fType == JSON_true);
        case JSON_string:
            return new VString(fString.fRecord);
        case JSON_number:
            return new VReal(fNumber);
        case JSON_date: {
            VTime* time = new VTime();
            GetTime(*time);
            return time;
        }
        case JSON_object:
        case JSON_array: {
            if (fType == JSON_object && fObject != nullptr && fObject->GetImplementation() != nullptr) {
                VValueSingle* value = fObject->GetImplementation()->IJSON_CreateVValue();
                if (value != nullptr)
                    return value;
            }
            if (inMarkContainers) {
                VString* marker = new VString();
                const UniChar units[4] = {1, 2, 3, static_cast<UniChar>(fType == JSON_object ? 1 : 2)};
                marker->FromUniString(units, 4);
                return marker;
            }
            return new VString(true);
        }
        default:
            return new VString(true);
    }
}

// ---------------------------------------------------------------------------
// Comparisons

namespace {

// Two strings compare as strings do under the same options: through the
// options' international manager, with their like (wildcard), diacritical and
// beginning-only flags.
CompareResult CompareTexts(const VInlineString& inA, const VInlineString& inB, const VCompareOptions& inOptions)
{
    VString a(inA, true);
    VString b(inB, true);
    return a.CompareToSameKindWithOptions(&b, inOptions);
}

}  // namespace

CompareResult VJSONValue::CompareTo(const VJSONValue& inOther, const VCompareOptions& inOptions) const
{
    if (fType != inOther.fType) {
        bool thisVoid = fType == JSON_null || fType == JSON_undefined;
        bool otherVoid = inOther.fType == JSON_null || inOther.fType == JSON_undefined;
        if (thisVoid && otherVoid)
            return CR_EQUAL;
        return fType < inOther.fType ? CR_SMALLER : CR_BIGGER;
    }
    switch (fType) {
        case JSON_null:
        case JSON_false:
        case JSON_true:
        case JSON_undefined:
            return CR_EQUAL;
        case JSON_string:
            return CompareTexts(fString.fRecord, inOther.fString.fRecord, inOptions);
        case JSON_number:
            return VReal::sInfo.CompareTwoPtrToDataWithOptions(&fNumber, &inOther.fNumber, inOptions);
        case JSON_object:
            if (fObject == inOther.fObject)
                return CR_EQUAL;
            return std::less<const void*>()(fObject, inOther.fObject) ? CR_SMALLER : CR_BIGGER;
        case JSON_array:
            if (fArray == inOther.fArray)
                return CR_EQUAL;
            return std::less<const void*>()(fArray, inOther.fArray) ? CR_SMALLER : CR_BIGGER;
        case JSON_date: {
            int32_t a = static_cast<int32_t>(fDate);
            int32_t b = static_cast<int32_t>(inOther.fDate);
            return a == b ? CR_EQUAL : (a < b ? CR_SMALLER : CR_BIGGER);
        }
        default:
            return CR_UNRELEVANT;
    }
}

bool VJSONValue::DeepEqualTo(const VJSONValue& inOther, const VCompareOptions& inOptions) const
{
    if (fType != inOther.fType)
        return false;
    if (fType == JSON_array) {
        if (fArray == nullptr || inOther.fArray == nullptr)
            return fArray == inOther.fArray;
        return fArray->DeepEqualTo(inOther.fArray, inOptions);
    }
    if (fType == JSON_object) {
        if (fObject == nullptr || inOther.fObject == nullptr)
            return fObject == inOther.fObject;
        return fObject->DeepEqualTo(inOther.fObject, inOptions);
    }
    return CompareTo(inOther, inOptions) == CR_EQUAL;
}

// ---------------------------------------------------------------------------
// Property shortcuts

VJSONValue VJSONValue::GetProperty(const VString& inName) const
{
    if (fType == JSON_object && fObject != nullptr)
        return fObject->GetProperty(inName, nullptr);
    return VJSONValue(JSON_undefined);
}

void VJSONValue::SetProperty(const VString& inName, const VJSONValue& inValue) const
{
    if (fType == JSON_object && fObject != nullptr)
        fObject->SetProperty(inName, inValue, nullptr);
}

// ---------------------------------------------------------------------------
// Stamps

void VJSONValue::CheckAndUpdateJsonStamp(const VJSONValue& inValue, VJSONStamp* inStamp)
{
    if (inStamp == nullptr)
        return;
    inStamp->Increment();
    if (inValue.fType == JSON_object) {
        if (inValue.fObject == nullptr || inValue.fObject->GetJSONStamp() == inStamp)
            return;
    } else if (inValue.fType == JSON_array) {
        if (inValue.fArray == nullptr || inValue.fArray->GetJSONStamp() == inStamp)
            return;
    } else {
        return;
    }
    std::set<const void*> visited;
    _ChangeJSONStamp(inValue, inStamp, visited);
}

void VJSONValue::_ChangeJSONStamp(const VJSONValue& inValue, VJSONStamp* inStamp, std::set<const void*>& ioVisited)
{
    if (inValue.fType == JSON_object) {
        VJSONObject* object = inValue.fObject;
        if (object == nullptr || !ioVisited.insert(object).second)
            return;
        object->SetJSONStamp(inStamp);
        std::vector<std::pair<VString, VJSONValue>> properties;
        object->GetOwnPropertiesInOrder(properties);
        for (const auto& property : properties)
            _ChangeJSONStamp(property.second, inStamp, ioVisited);
    } else if (inValue.fType == JSON_array) {
        VJSONArray* array = inValue.fArray;
        if (array == nullptr || !ioVisited.insert(array).second)
            return;
        array->SetJSONStamp(inStamp);
        for (size_t i = 0; i < array->GetCount(); ++i)
            _ChangeJSONStamp(array->GetAt(i), inStamp, ioVisited);
    }
}

// ---------------------------------------------------------------------------
// Self-check

void VJSONValue::test()
{
    VJSONValue object(JSON_object);
    object.SetProperty(VString("name"), VJSONValue(VString("value")));
    object.SetProperty(VString("number"), VJSONValue(42.0));
    object.SetProperty(VString("bool"), sTrue);
    if (VJSONObject* obj = object.GetObject()) {
        std::vector<std::pair<VString, VJSONValue>> properties;
        obj->GetOwnPropertiesInOrder(properties);
        for (const auto& property : properties) {
            VString text;
            property.second.GetString(text);
        }
    }

    VJSONValue second(JSON_object);
    const UniChar special[] = {'"', '\\', '/', 0x08, 0x0C, 0x0A, 0x0D, 0x09};
    VString specialText;
    specialText.FromUniString(special, 8);
    second.SetProperty(VString("string"), VJSONValue(specialText));
    second.SetProperty(VString("null"), sNull);
    second.SetProperty(VString("undefined"), sUndefined);
    VJSONValue children(JSON_array);
    if (VJSONArray* array = children.GetArray()) {
        array->Push(VJSONValue(1.0));
        array->Push(object);
    }
    second.SetProperty(VString("children"), children);

    VString text;
    object.Stringify(text, 0x1);
    second.Stringify(text, 0x9);

    VJSONValue parsed;
    parsed.ParseFromString(VString("[1,2,3,[4,5],6]"));
}

}  // namespace qelt
