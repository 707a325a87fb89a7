#include "json/VJSONObject.h"

#include <algorithm>
#include <new>

#include "json/VJSONArray.h"
#include "json/VJSONClass.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONFunctionContext.h"
#include "json/VJSONGraph.h"
#include "json/VJSONWriter.h"
#include "json/VStorageLocker.h"
#include "kernel/VCompareOptions.h"
#include "json/VProcessServices_json.h"
#include "runtime/VErrorBase.h"

namespace qelt {

static_assert(alignof(VJSONObject) <= 8, "the region carves containers at 8-byte steps");

namespace {

constexpr int kErrorSharedObjectChange = -10719;
constexpr int kErrorScalarInAcceptsAll = -10727;
constexpr int kErrorNotAClass = -10745;

void ThrowModelError(int inNumber) { _ThrowError(MakeVError(kSignatureVQRT, inNumber)); }

bool IsContainer(const VJSONValue& inValue) { return inValue.IsObject() || inValue.IsArray(); }

// Whether storing the value must take the graph lock: an object or array
// that has a storage locker or whose graph is shared.
bool ValueIsSharedGraph(const VJSONValue& inValue)
{
    if (const VJSONObject* object = inValue.GetObject())
        return object->IsSharedGraph();
    if (const VJSONArray* array = inValue.GetArray())
        return array->IsSharedGraph();
    return false;
}

// Lowers the value container's internal count and the graph's internal
// references by one.
void UncountLink(VJSONGraph* inGraph, const VJSONValue& inValue)
{
    if (inGraph == nullptr)
        return;
    if (VJSONObject* object = inValue.GetObject()) {
        object->_AddInternalCount(-1);
        inGraph->AddInternalReferences(-1);
    } else if (VJSONArray* array = inValue.GetArray()) {
        array->_AddInternalCount(-1);
        inGraph->AddInternalReferences(-1);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Name map

size_t VJSONPropertyNameHash::operator()(const VString& inName) const
{
    // The member index's hash: every unit of the name counts.
    return VJSONPropertyTable::Hash(inName);
}

bool VJSONPropertyNameEqual::operator()(const VString& inA, const VString& inB) const
{
    const int length = inA.GetLength();
    if (length != inB.GetLength())
        return false;
    const UniChar* a = inA.GetCPointer();
    const UniChar* b = inB.GetCPointer();
    for (int i = 0; i < length; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

bool VJSONObject::IsLockerIDName(const VString& inName)
{
    static const char kName[] = "__LockerID";
    constexpr int kLength = static_cast<int>(sizeof(kName) - 1);
    if (inName.GetLength() != kLength)
        return false;
    const UniChar* units = inName.GetCPointer();
    for (int i = 0; i < kLength; ++i) {
        if (units[i] != static_cast<UniChar>(kName[i]))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Construction and lifetime

VJSONObject::VJSONObject(VJSONObject* inClassObject, IJSONObject* inImplementation, VStorageLocker* inLocker)
{
    // Without a class object the object takes the root class "Object", once
    // the process has made its class store.
    VJSONObject* classObject = inClassObject;
    if (classObject == nullptr) {
        if (VJSONClassStore* store = GetProcessClassStore())
            classObject = store->GetObjectClassObject();
    }
    _SetClass(VJSONClass::FromClassObject(classObject));
    if (inImplementation != nullptr) {
        inImplementation->Retain();
        fImplementation = inImplementation;
    }
    if (inLocker != nullptr) {
        inLocker->Retain();
        fStorageLocker = inLocker;
    }
    if (fImplementation != nullptr)
        fImplementation->IJSON_DoConnectDependencies(this);
}

VJSONObject::VJSONObject(VJSONObject* inClassObject, IJSONObject* inImplementation, bool inShared)
    : VJSONObject(inClassObject, inImplementation,
                  inShared ? new VStorageLocker(false, true) : static_cast<VStorageLocker*>(nullptr))
{
    // The object retained its new locker: the maker's reference goes.
    if (inShared)
        fStorageLocker->Release();
}

VJSONObject::~VJSONObject()
{
    if (fImplementation != nullptr)
        fImplementation->IJSON_DoDisconnectDependencies(this);
    _ClearClass();
    if (fGraph != nullptr) {
        StGraphLocker lock(fStorageLocker != nullptr || fGraph->IsShared());
        _UncountValues();
        fGraph->RemoveObject(this);
        VJSONGraph* graph = fGraph;
        fGraph = nullptr;
        graph->Release();
    } else if (VJSONGraph* listed = fMemberLink.fOwner) {
        StGraphLocker lock(fStorageLocker != nullptr || listed->IsShared());
        VJSONGraph::_LeaveListedGraph(this);
    }
    if (IJSONObject* implementation = fImplementation) {
        fImplementation = nullptr;
        implementation->Release();
    }
    if (VStorageLocker* locker = fStorageLocker) {
        fStorageLocker = nullptr;
        locker->Release();
    }
    if (VJSONStamp* stamp = fStamp) {
        fStamp = nullptr;
        stamp->Release();
    }
    VJSONPropertyTable properties;
    properties.Swap(fProperties);
}

void VJSONObject::_SetImplementation(IJSONObject* inImplementation)
{
    if (inImplementation == fImplementation)
        return;
    if (inImplementation != nullptr)
        inImplementation->Retain();
    if (IJSONObject* old = fImplementation) {
        old->IJSON_DoDisconnectDependencies(this);
        fImplementation = nullptr;
        old->Release();
    }
    fImplementation = inImplementation;
    if (fImplementation != nullptr)
        fImplementation->IJSON_DoConnectDependencies(this);
}

int32_t VJSONObject::Retain(const char*) const { return JSONContainerShared::Retain(*this); }

int32_t VJSONObject::Release(const char*) const { return JSONContainerShared::Release(*this); }

// ---------------------------------------------------------------------------
// Ordered access

void VJSONObject::GetOwnPropertiesInOrder(std::vector<std::pair<VString, VJSONValue>>& outProperties) const
{
    outProperties.clear();
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    outProperties.reserve(fProperties.size());
    for (const VJSONPropertyEntry& entry : fProperties)
        outProperties.emplace_back(entry.fName, entry.fValue);
}

size_t VJSONObject::GetOwnPropertyCount() const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    return fProperties.size();
}

// ---------------------------------------------------------------------------
// Reading

VJSONValue VJSONObject::GetProperty(const VString& inName, VDBLanguageContext* inContext) const
{
    VJSONValue result(JSON_undefined);
    {
        StJSONContainerLocker lock(this, fStorageLocker != nullptr);
        if (fImplementation != nullptr) {
            EJSONStatus status = fImplementation->IJSON_GetProperty(this, inName, result, inContext);
            if (status != eJSONStatus_NotHandled)
                return result;
        }
        result = _GetOwnProperty(inName);
    }
    // The class's members, then its getters, outside the object's locks.
    if (result.IsUndefined() && fClass != nullptr) {
        const VJSONFunctionMap& functions = fClass->GetFunctionMap();
        auto function = functions.find(inName);
        if (function != functions.end()) {
            result = VJSONValue(function->second);
        } else if (!fClass->GetGetterMap().empty()) {
            auto getter = fClass->GetGetterMap().find(inName);
            if (getter != fClass->GetGetterMap().end())
                getter->second->CallAsFunction(const_cast<VJSONObject*>(this), nullptr, nullptr, result, nullptr,
                                               inContext);
        }
    }
    return result;
}

VJSONValue VJSONObject::GetOwnProperty(const VString& inName) const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    return _GetOwnProperty(inName);
}

VJSONValue VJSONObject::_GetOwnProperty(const VString& inName) const
{
    if (fStorageLocker != nullptr && IsLockerIDName(inName))
        return VJSONValue(static_cast<double>(fStorageLocker->GetSharedID()));
    const VJSONValue* found = fProperties.FindValue(inName);
    if (found == nullptr)
        return VJSONValue(JSON_undefined);
    return VJSONValue(*found);
}

bool VJSONObject::HasOwnProperty(const VString& inName) const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    return _HasOwnProperty(inName);
}

bool VJSONObject::_HasOwnProperty(const VString& inName) const
{
    if (fStorageLocker != nullptr && IsLockerIDName(inName))
        return true;
    return fProperties.Find(inName) != VJSONPropertyTable::kNotFound;
}

bool VJSONObject::HasProperty(const VString& inName, VDBLanguageContext* inContext) const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    bool lookOwn = true;
    if (fImplementation != nullptr) {
        VJSONValue temporary(JSON_undefined);
        EJSONStatus status = fImplementation->IJSON_GetProperty(this, inName, temporary, inContext);
        if (status == eJSONStatus_Done && !temporary.IsUndefined())
            return true;
        lookOwn = status == eJSONStatus_NotHandled;
    }
    if (lookOwn && _HasOwnProperty(inName))
        return true;
    // The prototype chain: without class there is no prototype.
    if (const VJSONObject* prototype = _GetPrototype())
        return prototype->HasProperty(inName, nullptr);
    return false;
}

VJSONValue VJSONObject::GetPropertyByIndex(size_t inIndex, EJSONStatus* outStatus) const
{
    VJSONValue result(JSON_undefined);
    EJSONStatus status = eJSONStatus_NotHandled;
    {
        StJSONContainerLocker lock(this, fStorageLocker != nullptr);
        if (fImplementation != nullptr)
            status = fImplementation->IJSON_GetPropertyByIndex(this, inIndex, result);
    }
    if (outStatus != nullptr)
        *outStatus = status;
    return result;
}

size_t VJSONObject::GetCountPropertiesByIndex(EJSONStatus* outStatus) const
{
    size_t count = 0;
    EJSONStatus status = eJSONStatus_NotHandled;
    {
        StJSONContainerLocker lock(this, fStorageLocker != nullptr);
        if (fImplementation != nullptr)
            status = fImplementation->IJSON_GetCountPropertiesByIndex(this, &count);
    }
    if (outStatus != nullptr)
        *outStatus = status;
    return count;
}

VJSONPropertyMap VJSONObject::GetInternalProperties() const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    VJSONPropertyMap properties;
    uint64_t index = 0;
    for (const VJSONPropertyEntry& entry : fProperties)
        properties.emplace(entry.fName, std::make_pair(entry.fValue, index++));
    return properties;
}

bool VJSONObject::IsEmpty() const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    if (!fProperties.empty())
        return false;
    if (fImplementation != nullptr && !fImplementation->IJSON_IsEmpty(this))
        return false;
    return fClass == nullptr || fClass->GetGetterMap().empty();
}

VError VJSONObject::GetString(VString& outText) const
{
    outText.FromString(VJSONValue::sObjectString);
    return VE_OK;
}

void VJSONObject::GetDescription(VString& outText, bool inPreview, VDBLanguageContext* inContext) const
{
    if (fImplementation != nullptr &&
        fImplementation->IJSON_GetDescription(this, outText) != eJSONStatus_NotHandled)
        return;
    VJSONWriter writer(inContext, inPreview ? (kJSONWritePreview | kJSONWriteQuoted) : kJSONWriteQuoted);
    writer.StringifyObject(this, outText);
}

void VJSONObject::GetClassName(VString& outName) const
{
    outName.Clear();
    if (fImplementation != nullptr) {
        EJSONStatus status = fImplementation->IJSON_GetClassName(this, outName);
        if (status != eJSONStatus_NotHandled && !outName.IsNull() && !outName.IsEmpty())
            return;
        outName.Clear();
    }
    if (fClass != nullptr) {
        outName = fClass->GetName();
        if (!outName.IsNull() && !outName.IsEmpty())
            return;
    }
    if (fStorageLocker != nullptr)
        outName.FromCString("Shared Object");
    else
        outName.FromCString("Object");
}

VJSONObject* VJSONObject::GetClassObject() const { return fClass != nullptr ? fClass->GetClassObject() : nullptr; }

VJSONObject* VJSONObject::_GetPrototype() const { return fClass != nullptr ? fClass->GetPrototype() : nullptr; }

bool VJSONObject::IsGenericObject() const { return fClass == nullptr || fClass->GetLevel() == 0; }

bool VJSONObject::IsInstanceOf(VJSONClass* inClass) const
{
    for (VJSONClass* walk = fClass; walk != nullptr; walk = walk->GetSuperclass()) {
        if (walk == inClass)
            return true;
    }
    return inClass == nullptr;
}

bool VJSONObject::IsInstanceOf(const VJSONObject* inClassObject) const
{
    VJSONClass* aClass = VJSONClass::FromClassObject(inClassObject);
    if (aClass == nullptr) {
        ThrowModelError(kErrorNotAClass);
        return false;
    }
    return IsInstanceOf(aClass);
}

void VJSONObject::_SetClass(VJSONClass* inClass)
{
    if (inClass == nullptr || inClass == fClass)
        return;
    inClass->UseClassObject();
    VJSONClass* old = fClass;
    fClass = inClass;
    if (old != nullptr)
        old->UnuseClassObject();
}

void VJSONObject::_ClearClass()
{
    if (VJSONClass* old = fClass) {
        fClass = nullptr;
        old->UnuseClassObject();
    }
}

EJSONStatus VJSONObject::CallAsFunction(VJSONObject* inThisObject, VJSONArray* inThisArray,
                                        std::vector<VJSONValue>* inParameters, VJSONValue& outResult,
                                        CDBVqBaseContext* inBaseContext, VDBLanguageContext* inLanguageContext)
{
    if (fImplementation == nullptr)
        return eJSONStatus_NotHandled;
    VJSONFunctionContext context(inThisObject, inThisArray, inParameters, inBaseContext, inLanguageContext);
    EJSONStatus status = fImplementation->IJSON_CallAsFunction(this, &context);
    context.GetResult(outResult);
    return status;
}

bool VJSONObject::DeepEqualTo(const VJSONObject* inOther, const VCompareOptions& inOptions) const
{
    VJSONDeepEqualVisits visits;
    return _DeepEqualTo(inOther, inOptions, visits);
}

bool VJSONObject::_DeepEqualTo(const VJSONObject* inOther, const VCompareOptions& inOptions,
                               VJSONDeepEqualVisits& ioVisits) const
{
    if (inOther == this)
        return true;
    if (inOther == nullptr)
        return false;
    // A pair already under comparison is taken as equal here: its final
    // answer is decided where the comparison began.
    if (!ioVisits.insert(std::make_pair(static_cast<const void*>(this), static_cast<const void*>(inOther))).second)
        return true;
    StJSONContainerLocker lockThis(this, fStorageLocker != nullptr);
    StJSONContainerLocker lockOther(inOther, inOther->fStorageLocker != nullptr);
    if (fImplementation != nullptr) {
        bool equal = false;
        if (fImplementation->IJSON_DeepEqualTo(this, inOther, &equal) != eJSONStatus_NotHandled)
            return equal;
    }
    if (fProperties.size() != inOther->fProperties.size())
        return false;
    for (const VJSONPropertyEntry& entry : fProperties) {
        const VJSONValue* found = inOther->fProperties.FindValue(entry.fName);
        if (found == nullptr)
            return false;
        const VJSONValue& a = entry.fValue;
        const VJSONValue& b = *found;
        if (a.GetType() != b.GetType())
            return false;
        if (a.IsArray()) {
            if (!a.GetArray()->_DeepEqualTo(b.GetArray(), inOptions, ioVisits))
                return false;
        } else if (a.IsObject()) {
            if (!a.GetObject()->_DeepEqualTo(b.GetObject(), inOptions, ioVisits))
                return false;
        } else if (a.CompareTo(b, inOptions) != CR_EQUAL) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Writing

bool VJSONObject::_JoinStorage(const VJSONValue& inValue)
{
    if (VJSONObject* object = inValue.GetObject()) {
        if (object->fStorageLocker == nullptr && object->fImplementation != nullptr) {
            bool needsLocker = false;
            if (object->fImplementation->IJSON_IsSharable(object, needsLocker) && !needsLocker)
                return true;
        }
        return fStorageLocker->Assign(object->fStorageLocker, object, nullptr);
    }
    if (VJSONArray* array = inValue.GetArray())
        return fStorageLocker->Assign(array->_GetStorageLocker(), nullptr, array);
    return true;
}

VJSONValue* VJSONObject::_PutEntry(const VString& inName, VJSONValue&& ioValue, VJSONValue& outOld)
{
    bool appended = false;
    VJSONValue& stored = fProperties.FindOrAppend(inName, std::move(ioValue), appended);
    if (!appended) {
        outOld = std::move(stored);
        stored = std::move(ioValue);
    }
    return &stored;
}

bool VJSONObject::_SetOwnProperty(const VString& inName, const VJSONValue& inValue)
{
    try {
        if (fStorageLocker != nullptr) {
            if (IsLockerIDName(inName))
                return false;
            if (!fStorageLocker->IsUsedByCurrentTask()) {
                ThrowModelError(kErrorSharedObjectChange);
                return false;
            }
            if (!_JoinStorage(inValue))
                return false;
            if (fStorageLocker->AcceptsAll()) {
                JSONType type = inValue.GetType();
                if (type != JSON_null && type != JSON_object && type != JSON_array && type != JSON_undefined) {
                    ThrowModelError(kErrorScalarInAcceptsAll);
                    return false;
                }
            }
        }

        // The old value is held until the new one is stored and connected,
        // then its link is uncounted and checked.
        // An object without graph holds no counted link: what it held was
        // stored without being connected, and the connection of the new
        // value (which may join the object's tree) does not count the old one.
        VJSONValue old(JSON_undefined);
        const bool oldCounted = fGraph != nullptr;
        VJSONValue* stored = _PutEntry(inName, VJSONValue(inValue), old);
        if (IsContainer(*stored))
            VJSONGraph::Connect(&fGraph, *stored, this, nullptr);
        VJSONValue::CheckAndUpdateJsonStamp(*stored, fStamp);
        if (oldCounted && IsContainer(old)) {
            UncountLink(fGraph, old);
            VJSONGraph::ReleaseValueDependenciesIfNecessary(old);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool VJSONObject::_StoreUnconnected(const VString& inName, VJSONValue&& ioValue)
{
    if (fImplementation != nullptr || fStorageLocker != nullptr || fGraph != nullptr ||
        (fClass != nullptr && !fClass->GetSetterMap().empty()) || ioValue.IsUndefined())
        return false;
    try {
        VJSONValue old(JSON_undefined);
        VJSONValue* stored = _PutEntry(inName, std::move(ioValue), old);
        VJSONGraph::_NoteUnconnected(fUnjoined, *stored);
        VJSONValue::CheckAndUpdateJsonStamp(*stored, fStamp);
    } catch (const std::bad_alloc&) {
        // Dropped, as a store that runs out of memory drops it.
    }
    return true;
}

bool VJSONObject::_StoreAllUnconnected(VJSONPropertyEntry* ioMembers, size_t inCount)
{
    if (fImplementation != nullptr || fStorageLocker != nullptr || fGraph != nullptr ||
        (fClass != nullptr && !fClass->GetSetterMap().empty()))
        return false;
    for (size_t i = 0; i < inCount; ++i) {
        if (ioMembers[i].fValue.IsUndefined())
            return false;
    }
    for (size_t i = 0; i < inCount; ++i) {
        try {
            bool appended = false;
            VJSONValue* stored =
                &fProperties.FindOrAppend(std::move(ioMembers[i].fName), std::move(ioMembers[i].fValue), appended);
            if (!appended)
                *stored = std::move(ioMembers[i].fValue);
            // Only containers raise the unjoined mark, and a new object
            // has no stamp to spread.
            if (stored->IsObject() || stored->IsArray())
                VJSONGraph::_NoteUnconnected(fUnjoined, *stored);
            if (fStamp != nullptr)
                VJSONValue::CheckAndUpdateJsonStamp(*stored, fStamp);
        } catch (const std::bad_alloc&) {
            // Dropped, as a store that runs out of memory drops it.
        }
    }
    return true;
}

bool VJSONObject::SetOwnProperty(const VString& inName, const VJSONValue& inValue)
{
    if (inValue.IsUndefined()) {
        RemoveOwnProperty(inName);
        return true;
    }
    bool graphLock = JSONContainerShared::NeedsGraphLock(*this) ||
                     ValueIsSharedGraph(inValue);
    StJSONContainerLocker lock(this, graphLock);
    return _SetOwnProperty(inName, inValue);
}

bool VJSONObject::SetProperty(const VString& inName, const VJSONValue& inValue, VDBLanguageContext* inContext)
{
    if (inValue.IsUndefined()) {
        RemoveProperty(inName);
        return true;
    }
    if (fImplementation != nullptr) {
        EJSONStatus status = fImplementation->IJSON_SetProperty(this, inName, inValue, inContext);
        if (status != eJSONStatus_NotHandled)
            return status == eJSONStatus_Done;
    }
    if (fClass != nullptr && !fClass->GetSetterMap().empty()) {
        auto setter = fClass->GetSetterMap().find(inName);
        if (setter != fClass->GetSetterMap().end()) {
            std::vector<VJSONValue> parameters(1, inValue);
            VJSONValue ignored;
            EJSONStatus status =
                setter->second->CallAsFunction(this, nullptr, &parameters, ignored, nullptr, inContext);
            if (status != eJSONStatus_NotHandled)
                return status == eJSONStatus_Done;
        }
    }
    bool graphLock = JSONContainerShared::NeedsGraphLock(*this) ||
                     ValueIsSharedGraph(inValue);
    StJSONContainerLocker lock(this, graphLock);
    return _SetOwnProperty(inName, inValue);
}

bool VJSONObject::SetProperties(const std::vector<std::pair<VString, VJSONValue>>& inProperties,
                                VDBLanguageContext* inContext)
{
    if (inProperties.empty())
        return true;
    bool ok = true;
    bool begun = true;
    if (fImplementation != nullptr && fImplementation->IJSON_BeginChangeProperties() == eJSONStatus_Failed) {
        ok = false;
        begun = false;
    }
    if (begun) {
        for (const auto& property : inProperties) {
            if (!SetProperty(property.first, property.second, inContext)) {
                ok = false;
                break;
            }
        }
    }
    if (fImplementation != nullptr && fImplementation->IJSON_EndChangeProperties() == eJSONStatus_Failed)
        ok = false;
    return ok;
}

void VJSONObject::_EraseEntry(size_t inPosition)
{
    // The removed value is held while the later entries move down (their
    // insertion indexes drop by one) and the graph checks what its link kept
    // alive.
    VJSONValue removed(std::move(fProperties[inPosition].fValue));
    fProperties.Erase(inPosition);
    if (fGraph != nullptr && IsContainer(removed)) {
        UncountLink(fGraph, removed);
        VJSONGraph::ReleaseValueDependenciesIfNecessary(removed);
    }
}

void VJSONObject::_RemoveOwnProperty(const VString& inName)
{
    if (fStorageLocker != nullptr && !fStorageLocker->IsUsedByCurrentTask()) {
        ThrowModelError(kErrorSharedObjectChange);
        return;
    }
    if (fStamp != nullptr)
        fStamp->Increment();
    const size_t found = fProperties.Find(inName);
    if (found != VJSONPropertyTable::kNotFound)
        _EraseEntry(found);
}

void VJSONObject::RemoveOwnProperty(const VString& inName)
{
    StJSONContainerLocker lock(this, JSONContainerShared::NeedsGraphLock(*this));
    _RemoveOwnProperty(inName);
}

void VJSONObject::RemoveProperty(const VString& inName)
{
    if (fImplementation != nullptr &&
        fImplementation->IJSON_RemoveProperty(this, inName) != eJSONStatus_NotHandled)
        return;
    RemoveOwnProperty(inName);
}

void VJSONObject::ClearProperty(const VString& inName, VDBLanguageContext* inContext)
{
    VJSONValue value = GetProperty(inName, inContext);
    switch (value.GetType()) {
        case JSON_undefined:
            return;
        case JSON_false:
        case JSON_true:
            value.SetBool(false);
            break;
        case JSON_string:
            value.SetString(VString());
            break;
        case JSON_number:
            value.SetNumber(0.0);
            break;
        case JSON_object:
        case JSON_array:
            value.SetNull();
            break;
        case JSON_date:
            value.SetDate(0, 0, 0);
            break;
        default:
            value.SetNull();
            break;
    }
    SetProperty(inName, value, inContext);
}

void VJSONObject::Clear()
{
    if (fImplementation != nullptr)
        fImplementation->IJSON_Clear(this);
    ClearInternalProperties();
}

void VJSONObject::ClearInternalProperties()
{
    StJSONContainerLocker lock(this, JSONContainerShared::NeedsGraphLock(*this));
    if (fStorageLocker != nullptr && !fStorageLocker->IsUsedByCurrentTask()) {
        ThrowModelError(kErrorSharedObjectChange);
        return;
    }
    VJSONPropertyTable removed;
    removed.Swap(fProperties);
    if (fGraph != nullptr) {
        // Each dropped link is uncounted and checked, so that a group that
        // only this object's properties kept reachable is freed.
        for (const VJSONPropertyEntry& entry : removed)
            UncountLink(fGraph, entry.fValue);
        for (const VJSONPropertyEntry& entry : removed)
            VJSONGraph::ReleaseValueDependenciesIfNecessary(entry.fValue);
    }
    if (fStamp != nullptr)
        fStamp->Increment();
}

VError VJSONObject::MergeWith(const VJSONObject* inOther, bool inOnlyMissing)
{
    if (inOther == nullptr)
        return VE_OK;
    std::vector<std::pair<VString, VJSONValue>> properties;
    inOther->GetOwnPropertiesInOrder(properties);
    for (const auto& property : properties) {
        if (inOnlyMissing && HasOwnProperty(property.first))
            continue;
        SetProperty(property.first, property.second, nullptr);
    }
    return VE_OK;
}

void VJSONObject::ConnectImplementationProperty(const VJSONValue& inValue)
{
    if (!IsContainer(inValue))
        return;
    StGraphLocker lock(JSONContainerShared::NeedsGraphLock(*this) ||
                       ValueIsSharedGraph(inValue));
    // This link lies outside the properties: links stored without being
    // connected, on either side, are counted before it.
    VJSONGraph::JoinUnconnected(VJSONValue(this));
    VJSONGraph::JoinUnconnected(inValue);
    const bool hadGraph = fGraph != nullptr;
    VJSONGraph::Connect(&fGraph, inValue, this, nullptr);
    // A connection that gives this object its graph counts the new link
    // while it walks the object's properties; this link lies outside them,
    // so it is counted here.
    if (!hadGraph && fGraph != nullptr)
        fGraph->AddInternalReferences(1);
}

void VJSONObject::DisconnectImplementationProperty(const VJSONValue& inValue)
{
    if (!IsContainer(inValue))
        return;
    StGraphLocker lock(JSONContainerShared::NeedsGraphLock(*this));
    if (fGraph == nullptr)
        return;
    UncountLink(fGraph, inValue);
    VJSONGraph::ReleaseValueDependenciesIfNecessary(inValue);
}

// ---------------------------------------------------------------------------
// Sharing

VRefPtr<VStorageLocker> VJSONObject::GetStorageLocker() const { return JSONContainerShared::GetStorageLocker(*this); }

void VJSONObject::SetStorageLocker(VStorageLocker* inLocker) { JSONContainerShared::SetStorageLocker(*this, inLocker); }

void VJSONObject::_SetStorageLocker(VStorageLocker* inLocker) { JSONContainerShared::Exchange(fStorageLocker, inLocker); }

int32_t VJSONObject::GetSharedID() const { return JSONContainerShared::GetSharedID(*this); }

bool VJSONObject::IsSharedGraph() const { return JSONContainerShared::IsSharedGraph(*this); }

bool VJSONObject::IsShared() const
{
    if (fStorageLocker != nullptr)
        return true;
    if (fImplementation != nullptr) {
        bool needsLocker = false;
        return fImplementation->IJSON_IsSharable(this, needsLocker);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Stamps

void VJSONObject::SetJSONStamp(VJSONStamp* inStamp)
{
    JSONContainerShared::SetJSONStamp(*this, inStamp);
    if (fImplementation != nullptr)
        fImplementation->IJSON_SetJSONStamp(inStamp);
}

// ---------------------------------------------------------------------------
// Graph

void VJSONObject::_UncountValues()
{
    if (fGraph == nullptr)
        return;
    for (const VJSONPropertyEntry& entry : fProperties)
        UncountLink(fGraph, entry.fValue);
}

void VJSONObject::DisconnectAll() { _UncountValues(); }

void VJSONObject::ClearFromGraph()
{
    _UncountValues();
    if (!fProperties.empty()) {
        VJSONPropertyTable dropped;
        dropped.Swap(fProperties);
    }
}

}  // namespace qelt
