// Reading and writing JSON objects by path, and the per-property stamps.
#include <climits>
#include <cmath>

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONClass.h"
#include "json/VJSONGraph.h"
#include "json/VJSONObject.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

constexpr VError kErrorBracket = QeltError(901);
constexpr VError kErrorEmptyPart = QeltError(902);

VError Throw(VError inError)
{
    _ThrowError(inError);
    return inError;
}

// An array index from a path part, as the string's integer reader gives it.
long long IndexOf(const VString& inPart) { return inPart.GetLong(); }

bool IsLength(const VString& inPart)
{
    static const VString sLength("length");
    return inPart.EqualToString(sLength, false);
}

// An empty array, or an empty object, for a missing step of a path.
VJSONValue NewContainerFor(const VString& inNextPart)
{
    return VJSONValue(isvalidnumber(inNextPart) ? JSON_array : JSON_object);
}

}  // namespace

bool isvalidnumber(const VString& inPart)
{
    const UniChar* p = inPart.GetCPointer();
    for (int i = 0; i < inPart.GetLength(); ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
    }
    return true;
}

VError VJSONObject::ExtractPath(const VString& inPath, std::vector<VString>& outParts)
{
    outParts.clear();
    std::vector<VString> segments;
    inPath.GetSubStrings('.', segments, true, true);
    if (segments.empty())
        return Throw(kErrorEmptyPart);
    for (const VString& segment : segments) {
        if (segment.FindUniChar('[') == 0) {
            outParts.push_back(segment);
            if (segment.IsEmpty())
                return Throw(kErrorEmptyPart);
            continue;
        }
        std::vector<VString> pieces;
        segment.GetSubStrings('[', pieces, true, true);
        for (size_t i = 0; i < pieces.size(); ++i) {
            VString part(pieces[i]);
            if (i > 0) {
                if (part.IsEmpty() || part.GetCPointer()[part.GetLength() - 1] != ']') {
                    outParts.push_back(part);
                    return Throw(kErrorBracket);
                }
                part.Truncate(part.GetLength() - 1, false);
            }
            outParts.push_back(part);
            if (part.IsEmpty())
                return Throw(kErrorEmptyPart);
        }
    }
    return VE_OK;
}

VJSONValue VJSONObject::GetPropertyWithPath(const VString& inPath, VDBLanguageContext* inContext) const
{
    std::vector<VString> parts;
    if (ExtractPath(inPath, parts) != VE_OK)
        return VJSONValue(JSON_undefined);
    return GetPropertyWithPath(parts, inContext);
}

VJSONValue VJSONObject::GetPropertyWithPath(const std::vector<VString>& inParts, VDBLanguageContext* inContext) const
{
    VJSONValue current(const_cast<VJSONObject*>(this));
    for (const VString& part : inParts) {
        if (VJSONObject* object = current.GetObject()) {
            VJSONValue next = object->GetProperty(part, inContext);
            current = std::move(next);
        } else if (VJSONArray* array = current.GetArray()) {
            if (IsLength(part)) {
                current = VJSONValue(static_cast<double>(array->GetCount()));
            } else {
                const long long index = IndexOf(part);
                VJSONValue next(JSON_undefined);
                if (index >= 0)
                    array->GetAt(static_cast<size_t>(index), next);
                current = std::move(next);
            }
        } else {
            return VJSONValue(JSON_undefined);
        }
    }
    return current;
}

bool VJSONObject::SetPropertyWithPath(const VString& inPath, const VJSONValue& inValue, VDBLanguageContext* inContext)
{
    std::vector<VString> parts;
    if (ExtractPath(inPath, parts) != VE_OK)
        return false;
    VJSONValue current(this);
    VString previous;
    for (size_t i = 0; i < parts.size(); ++i) {
        const VString& part = parts[i];
        const bool last = i + 1 == parts.size();
        if (VJSONObject* object = current.GetObject()) {
            if (last) {
                object->SetProperty(part, inValue, inContext);
                break;
            }
            VJSONValue child = object->GetProperty(part, inContext);
            if (child.IsUndefined() || child.IsNull())
                child = NewContainerFor(parts[i + 1]);
            object->SetProperty(part, child, inContext);
            current = std::move(child);
        } else if (VJSONArray* array = current.GetArray()) {
            const long long index = IndexOf(part);
            if (index >= 0 && static_cast<size_t>(index) >= array->GetCount()) {
                // A far index would make a huge array of nulls: refused.
                if (static_cast<size_t>(index) + 1 - array->GetCount() > kMaxPathGrowth) {
                    _ThrowError(QeltError(100));
                    return false;
                }
                array->Resize(static_cast<size_t>(index) + 1);
            }
            if (last) {
                if (index >= 0)
                    array->SetAt(static_cast<size_t>(index), inValue);
                break;
            }
            VJSONValue child(JSON_undefined);
            if (index >= 0)
                array->GetAt(static_cast<size_t>(index), child);
            if (child.IsUndefined() || child.IsNull())
                child = NewContainerFor(parts[i + 1]);
            if (index >= 0)
                array->SetAt(static_cast<size_t>(index), child);
            current = std::move(child);
        } else {
            _ThrowError(QeltError(isvalidnumber(part) ? 903 : 904), &previous);
            return false;
        }
        previous = part;
    }
    return true;
}

bool VJSONObject::SetPropertiesWithPaths(const std::vector<std::pair<VString, VJSONValue>>& inProperties)
{
    for (const auto& property : inProperties) {
        if (!SetPropertyWithPath(property.first, property.second, nullptr))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Stamps

uint32_t VJSONObject::GetPropertyStamp(const VString& inName) const
{
    uint32_t stamp = 0;
    if (fImplementation != nullptr) {
        EJSONStatus status = fImplementation->IJSON_GetPropertyStamp(inName, &stamp);
        if (status != eJSONStatus_NotHandled)
            return stamp;
    }
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    if (const VJSONValue* found = fProperties.FindValue(inName))
        stamp = found->GetStamp();
    // An attribute computed by the class has no stored value: its stamp is
    // the counter of the object's change stamp, made on first need.
    if (fClass != nullptr && !fClass->GetGetterMap().empty() &&
        fClass->GetGetterMap().find(inName) != fClass->GetGetterMap().end()) {
        if (fStamp == nullptr) {
            VRefPtr<VJSONStamp> fresh = AdoptRef(new VJSONStamp);
            const_cast<VJSONObject*>(this)->SetJSONStamp(fresh.Get());
        }
        stamp = fStamp->GetCounter();
    }
    return stamp;
}

void VJSONObject::TouchPropertyStamp(const VString& inName)
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    if (fImplementation != nullptr && fImplementation->IJSON_TouchPropertyStamp(inName) != eJSONStatus_NotHandled)
        return;
    if (fStamp != nullptr)
        fStamp->Increment();
    if (VJSONValue* found = fProperties.FindValue(inName))
        found->_TouchStamp();
}

uint32_t VJSONObject::GetPropertyStampWithPath(const VString& inPath) const
{
    std::vector<VString> parts;
    if (ExtractPath(inPath, parts) != VE_OK || parts.empty())
        return 0;
    if (parts.size() == 1)
        return GetPropertyStamp(parts[0]);
    VString last = parts.back();
    parts.pop_back();
    VJSONValue container = GetPropertyWithPath(parts, nullptr);
    if (VJSONObject* object = container.GetObject())
        return object->GetPropertyStamp(last);
    if (VJSONArray* array = container.GetArray()) {
        if (last.EqualToUSASCIICString("length"))
            return static_cast<uint32_t>(array->GetCount());
        const long long index = IndexOf(last);
        return index >= 0 ? array->GetStampAt(static_cast<size_t>(index)) : 0;
    }
    return 0;
}

void VJSONObject::TouchPropertyStampWithPath(const VString& inPath)
{
    std::vector<VString> parts;
    if (ExtractPath(inPath, parts) != VE_OK || parts.empty())
        return;
    if (parts.size() == 1) {
        TouchPropertyStamp(parts[0]);
        return;
    }
    VString last = parts.back();
    parts.pop_back();
    VJSONValue container = GetPropertyWithPath(parts, nullptr);
    if (VJSONObject* object = container.GetObject()) {
        object->TouchPropertyStamp(last);
    } else if (VJSONArray* array = container.GetArray()) {
        if (last.EqualToUSASCIICString("length"))
            return;
        const long long index = IndexOf(last);
        if (index >= 0)
            array->TouchStampAt(static_cast<size_t>(index));
    }
}

// ---------------------------------------------------------------------------
// Typed reads

bool VJSONValue::GetBoolByPath(const VJSONValue& inRoot, const VString& inPath)
{
    const VJSONObject* object = inRoot.GetObject();
    return object != nullptr && object->GetPropertyWithPath(inPath, nullptr).GetType() == JSON_true;
}

int32_t VJSONValue::GetLongByPath(const VJSONValue& inRoot, const VString& inPath)
{
    const VJSONObject* object = inRoot.GetObject();
    if (object == nullptr)
        return 0;
    VJSONValue value = object->GetPropertyWithPath(inPath, nullptr);
    if (!value.IsNumber())
        return 0;
    const double number = std::trunc(value.GetNumber());
    if (std::isnan(number) || number < static_cast<double>(INT_MIN) || number > static_cast<double>(INT_MAX))
        return INT_MIN;
    return static_cast<int32_t>(number);
}

bool VJSONValue::GetStringByPath(const VJSONValue& inRoot, const VString& inPath, VString& outText)
{
    const VJSONObject* object = inRoot.GetObject();
    if (object == nullptr)
        return false;
    VJSONValue value = object->GetPropertyWithPath(inPath, nullptr);
    if (!value.IsString())
        return false;
    value.GetString(outText);
    return true;
}

}  // namespace qelt
