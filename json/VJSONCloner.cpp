#include "json/VJSONCloner.h"

#include <new>
#include <vector>

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONGraph.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONUser.h"
#include "json/VStorageLocker.h"
#include "runtime/VErrorBase.h"

namespace qelt {

VJSONCloner::VJSONCloner(uint32_t inSharingMode) : fSharingMode(inSharingMode) {}

VJSONCloner::~VJSONCloner()
{
    // The map goes first: its copies may be under the locker.
    fClones.clear();
    if (fLocker != nullptr)
        fLocker->Release();
}

VStorageLocker* VJSONCloner::GetStorageLockerAndAssignIfNecessary()
{
    if (fLocker == nullptr) {
        fLocker = new VStorageLocker(false, true);
    } else {
        fLocker->SetFresh(false);
    }
    return fLocker;
}

void VJSONCloner::SetStorageLocker(VStorageLocker* inLocker)
{
    if (inLocker == fLocker)
        return;
    if (inLocker != nullptr)
        inLocker->Retain();
    VStorageLocker* old = fLocker;
    fLocker = inLocker;
    if (old != nullptr)
        old->Release();
}

template <class Container>
VError VJSONCloner::_Clone(const Container* inContainer, VJSONValue& outResult)
{
    if (inContainer == nullptr) {
        outResult.SetUndefined();
        return VE_OK;
    }
    try {
        auto inserted = fClones.emplace(static_cast<const void*>(inContainer), VJSONValue(JSON_undefined));
        VJSONValue& entry = inserted.first->second;
        if (!inserted.second) {
            // Made earlier, or being filled higher up (a cycle closes on it).
            outResult = entry;
            return VE_OK;
        }
        if (fDepth >= kMaxDepth) {
            outResult.SetUndefined();
            const VError error = QeltError(108);
            _ThrowError(error);
            return error;
        }
        ++fDepth;
        VError error = inContainer->Clone(entry, *this);
        --fDepth;
        outResult = entry;
        return error;
    } catch (const std::bad_alloc&) {
        outResult.SetUndefined();
        const VError error = QeltError(100);
        _ThrowError(error);
        return error;
    }
}

VError VJSONCloner::CloneObject(const VJSONObject* inObject, VJSONValue& outResult)
{
    return _Clone(inObject, outResult);
}

VError VJSONCloner::CloneArray(const VJSONArray* inArray, VJSONValue& outResult)
{
    return _Clone(inArray, outResult);
}

VError VJSONCloner::CloneValue(VJSONValue& ioValue)
{
    if (const VJSONObject* object = ioValue.GetObject()) {
        VRefPtr<VJSONObject> source(const_cast<VJSONObject*>(object));
        return CloneObject(source.Get(), ioValue);
    }
    if (const VJSONArray* array = ioValue.GetArray()) {
        VRefPtr<VJSONArray> source(const_cast<VJSONArray*>(array));
        return CloneArray(source.Get(), ioValue);
    }
    return VE_OK;
}

// ---------------------------------------------------------------------------
// Containers

VError VJSONObject::Clone(VJSONValue& outResult, VJSONCloner& ioCloner) const
{
    if (ioCloner.GetSharingMode() == kJSONCloneKeepShared) {
        bool keep = fStorageLocker != nullptr;
        if (!keep && fImplementation != nullptr) {
            bool needsLocker = false;
            keep = fImplementation->IJSON_IsSharable(this, needsLocker);
        }
        if (keep) {
            outResult.SetObject(const_cast<VJSONObject*>(this));
            return VE_OK;
        }
    }
    if (fImplementation != nullptr) {
        uint64_t error = 0;
        EJSONStatus status = fImplementation->IJSON_Clone(this, ioCloner, outResult, &error);
        if (status != eJSONStatus_NotHandled)
            return static_cast<VError>(error);
    }
    VRefPtr<VJSONObject> copy = AdoptRef(new VJSONObject(GetClassObject(), nullptr, static_cast<VStorageLocker*>(nullptr)));
    copy->fConstructionLevel = fConstructionLevel;
    if (ioCloner.GetSharingMode() == kJSONCloneShareCopy)
        copy->SetStorageLocker(ioCloner.GetStorageLockerAndAssignIfNecessary());
    VJSONUser user(copy.Get(), false);
    outResult.SetObject(copy.Get());
    return CloneProperties(ioCloner, copy.Get());
}

VError VJSONObject::CloneProperties(VJSONCloner& ioCloner, VJSONObject* ioTarget) const
{
    if (ioTarget == nullptr)
        return VE_OK;
    ioTarget->ClearInternalProperties();
    for (VJSONPropertyConstOrderedIterator it(this, kJSONIterOwnOnly); it.IsValid(); it.Next()) {
        VJSONValue value = it.GetValue();
        VError error = ioCloner.CloneValue(value);
        if (error != VE_OK)
            return error;
        ioTarget->SetOwnProperty(it.GetName(), value);
    }
    return VE_OK;
}

VError VJSONArray::Clone(VJSONValue& outResult, VJSONCloner& ioCloner) const
{
    if (ioCloner.GetSharingMode() == kJSONCloneKeepShared && fStorageLocker != nullptr) {
        outResult.SetArray(const_cast<VJSONArray*>(this));
        return VE_OK;
    }
    VRefPtr<VJSONArray> copy = AdoptRef(new VJSONArray(static_cast<VStorageLocker*>(nullptr)));
    outResult.SetArray(copy.Get());
    if (ioCloner.GetSharingMode() == kJSONCloneShareCopy)
        copy->SetStorageLocker(ioCloner.GetStorageLockerAndAssignIfNecessary());
    // The elements are read under the source's locks, then cloned one by one
    // (a clone may lock other containers).
    std::vector<VJSONValue> elements;
    GetValues(elements);
    try {
        copy->fValues.reserve(elements.size());
    } catch (const std::exception&) {
        return QeltError(100);
    }
    for (VJSONValue& element : elements) {
        VError error = ioCloner.CloneValue(element);
        if (error != VE_OK)
            return error;
        StJSONContainerLocker lock(copy.Get(), copy->fStorageLocker != nullptr || (copy->fGraph != nullptr && copy->fGraph->IsShared()));
        try {
            copy->fValues.push_back(VJSONValue(element));
        } catch (const std::exception&) {
            return QeltError(100);
        }
        if (copy->fValues.back().IsObject() || copy->fValues.back().IsArray())
            VJSONGraph::Connect(&copy->fGraph, copy->fValues.back(), nullptr, copy.Get());
    }
    return VE_OK;
}

}  // namespace qelt
