#include "json/VJSONGraph.h"

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VStorageLocker.h"

namespace qelt {

VCriticalSection StGraphLocker::sMutex;

VJSONGraph::~VJSONGraph() = default;

namespace {

// Takes a container's storage section, when it has one, for a walk.
class StWalkLocker {
public:
    explicit StWalkLocker(VStorageLocker* inLocker) : fLocker(inLocker)
    {
        if (fLocker != nullptr)
            fLocker->GetCriticalSection().Lock();
    }
    ~StWalkLocker()
    {
        if (fLocker != nullptr)
            fLocker->GetCriticalSection().Unlock();
    }
    StWalkLocker(const StWalkLocker&) = delete;
    StWalkLocker& operator=(const StWalkLocker&) = delete;

private:
    VStorageLocker* fLocker;
};

}  // namespace

bool VJSONGraph::_IsSharedObject(const VJSONObject* inObject) { return inObject != nullptr && inObject->IsShared(); }

bool VJSONGraph::_IsSharedArray(const VJSONArray* inArray)
{
    return inArray != nullptr && inArray->fStorageLocker != nullptr;
}

void VJSONGraph::Connect(VJSONGraph** ioContainerGraph, VJSONGraph** ioValueGraph,
                         const VJSONObject* inContainerObject, const VJSONArray* inContainerArray,
                         const VJSONObject* inValueObject, const VJSONArray* inValueArray)
{
    if (ioContainerGraph == nullptr || ioValueGraph == nullptr)
        return;
    if (inValueObject != nullptr)
        ++const_cast<VJSONObject*>(inValueObject)->fInternalCount;
    else if (inValueArray != nullptr)
        ++const_cast<VJSONArray*>(inValueArray)->fInternalCount;
    else
        return;

    const bool valueShared = _IsSharedObject(inValueObject) || _IsSharedArray(inValueArray);
    const bool containerShared = _IsSharedObject(inContainerObject) || _IsSharedArray(inContainerArray);
    const bool sameContainer = (inContainerObject != nullptr && inContainerObject == inValueObject) ||
                               (inContainerArray != nullptr && inContainerArray == inValueArray);
    VJSONGraph* containerGraph = *ioContainerGraph;
    VJSONGraph* valueGraph = *ioValueGraph;

    if (sameContainer) {
        if (containerGraph == nullptr) {
            VJSONGraph* graph = new VJSONGraph();
            *ioContainerGraph = graph;
            graph->fCycle = 1;
            if (valueShared)
                graph->fShared = 1;
            graph->CollectReferences(inContainerObject, inContainerArray);
        } else {
            containerGraph->fCycle = 1;
            ++containerGraph->fInternalReferences;
        }
        return;
    }

    if (containerGraph == nullptr && valueGraph == nullptr) {
        VJSONGraph* graph = new VJSONGraph();
        *ioContainerGraph = graph;
        graph->Retain();
        *ioValueGraph = graph;
        if (valueShared || containerShared)
            graph->fShared = 1;
        graph->CollectReferences(inContainerObject, inContainerArray);
        graph->CollectReferences(inValueObject, inValueArray);
        return;
    }

    if (containerGraph == nullptr) {
        valueGraph->Retain();
        *ioContainerGraph = valueGraph;
        if (containerShared)
            valueGraph->fShared = 1;
        valueGraph->CollectReferences(inContainerObject, inContainerArray);
        return;
    }

    if (valueGraph == nullptr) {
        containerGraph->Retain();
        *ioValueGraph = containerGraph;
        if (valueShared)
            containerGraph->fShared = 1;
        ++containerGraph->fInternalReferences;
        containerGraph->CollectReferences(inValueObject, inValueArray);
        return;
    }

    if (containerGraph == valueGraph) {
        containerGraph->fCycle = 1;
        ++containerGraph->fInternalReferences;
        return;
    }

    // Two graphs: the value's graph is merged into the container's.
    VJSONGraph* target = containerGraph;
    VJSONGraph* source = valueGraph;
    source->Retain();  // kept alive while its members move
    if (source->fCycle != 0)
        target->fCycle = 1;
    if (source->fShared != 0)
        target->fShared = 1;
    target->fTotalReferences.fetch_add(source->fTotalReferences.load());
    target->fInternalReferences += source->fInternalReferences;
    source->fTotalReferences.store(0);
    source->fInternalReferences = 0;
    std::set<VJSONObject*> objects;
    std::set<VJSONArray*> arrays;
    objects.swap(source->fObjects);
    arrays.swap(source->fArrays);
    for (VJSONObject* object : objects) {
        target->fObjects.insert(object);
        if (object->fGraph == source) {
            target->Retain();
            object->fGraph = target;
            source->Release();
        }
    }
    for (VJSONArray* array : arrays) {
        target->fArrays.insert(array);
        if (array->fGraph == source) {
            target->Retain();
            array->fGraph = target;
            source->Release();
        }
    }
    source->Release();
    ++target->fInternalReferences;
}

void VJSONGraph::Connect(VJSONGraph** ioContainerGraph, const VJSONValue& inValue,
                         const VJSONObject* inContainerObject, const VJSONArray* inContainerArray)
{
    if (VJSONObject* object = inValue.GetObject())
        Connect(ioContainerGraph, &object->fGraph, inContainerObject, inContainerArray, object, nullptr);
    else if (VJSONArray* array = inValue.GetArray())
        Connect(ioContainerGraph, &array->fGraph, inContainerObject, inContainerArray, nullptr, array);
}

void VJSONGraph::Disconnect(VJSONGraph* inGraph, const VJSONValue& inValue)
{
    if (inGraph == nullptr)
        return;
    if (VJSONObject* object = inValue.GetObject()) {
        --object->fInternalCount;
        --inGraph->fInternalReferences;
        ReleaseObjectDependenciesIfNecessary(object);
    } else if (VJSONArray* array = inValue.GetArray()) {
        --array->fInternalCount;
        --inGraph->fInternalReferences;
        ReleaseArrayDependenciesIfNecessary(array);
    }
}

void VJSONGraph::ReleaseValueDependenciesIfNecessary(const VJSONValue& inValue)
{
    if (VJSONObject* object = inValue.GetObject())
        ReleaseObjectDependenciesIfNecessary(object);
    else if (VJSONArray* array = inValue.GetArray())
        ReleaseArrayDependenciesIfNecessary(array);
}

void VJSONGraph::_ReleaseIfNecessary(VJSONObject* inObject, VJSONArray* inArray)
{
    VJSONGraph* graph = inObject != nullptr ? inObject->fGraph : inArray->fGraph;
    int32_t internal = inObject != nullptr ? inObject->fInternalCount : inArray->fInternalCount;
    int32_t count = inObject != nullptr ? inObject->GetRefCount() : inArray->GetRefCount();
    if (graph == nullptr || internal == 0 || internal != count - 1)
        return;
    std::vector<VJSONObject*> objects;
    std::vector<VJSONArray*> arrays;
    int visits = 0;
    bool repeated = false;
    if (inObject != nullptr)
        CollectObjectReferences(inObject, objects, arrays, visits, &repeated);
    else
        CollectArrayReferences(inArray, objects, arrays, visits, &repeated);
    if (repeated)
        graph->ReleaseDependenciesIfNecessary(nullptr, objects, arrays, visits);
}

void VJSONGraph::ReleaseObjectDependenciesIfNecessary(VJSONObject* inObject)
{
    if (inObject != nullptr)
        _ReleaseIfNecessary(inObject, nullptr);
}

void VJSONGraph::ReleaseArrayDependenciesIfNecessary(VJSONArray* inArray)
{
    if (inArray != nullptr)
        _ReleaseIfNecessary(nullptr, inArray);
}

void VJSONGraph::CollectObjectReferences(VJSONObject* inObject, std::set<VJSONObject*>& ioObjects,
                                         std::set<VJSONArray*>& ioArrays, int& ioTotal, int& ioInternal)
{
    if (inObject == nullptr || !ioObjects.insert(inObject).second)
        return;
    ioTotal += inObject->GetRefCount();
    StWalkLocker lock(inObject->fStorageLocker);
    for (const auto& entry : inObject->fProperties) {
        const VJSONValue& value = entry.second.first;
        if (VJSONObject* object = value.GetObject()) {
            ++ioInternal;
            CollectObjectReferences(object, ioObjects, ioArrays, ioTotal, ioInternal);
        } else if (VJSONArray* array = value.GetArray()) {
            ++ioInternal;
            CollectArrayReferences(array, ioObjects, ioArrays, ioTotal, ioInternal);
        }
    }
}

void VJSONGraph::CollectArrayReferences(VJSONArray* inArray, std::set<VJSONObject*>& ioObjects,
                                        std::set<VJSONArray*>& ioArrays, int& ioTotal, int& ioInternal)
{
    if (inArray == nullptr || !ioArrays.insert(inArray).second)
        return;
    ioTotal += inArray->GetRefCount();
    StWalkLocker lock(inArray->fStorageLocker);
    for (const VJSONValue& value : inArray->fValues) {
        if (VJSONObject* object = value.GetObject()) {
            ++ioInternal;
            CollectObjectReferences(object, ioObjects, ioArrays, ioTotal, ioInternal);
        } else if (VJSONArray* array = value.GetArray()) {
            ++ioInternal;
            CollectArrayReferences(array, ioObjects, ioArrays, ioTotal, ioInternal);
        }
    }
}

void VJSONGraph::CollectObjectReferences(VJSONObject* inObject, std::vector<VJSONObject*>& ioObjects,
                                         std::vector<VJSONArray*>& ioArrays, int& ioVisits, bool* outRepeated)
{
    if (inObject == nullptr)
        return;
    ++ioVisits;
    for (VJSONObject* listed : ioObjects) {
        if (listed == inObject) {
            if (outRepeated != nullptr)
                *outRepeated = true;
            return;
        }
    }
    ioObjects.push_back(inObject);
    StWalkLocker lock(inObject->fStorageLocker);
    for (const auto& entry : inObject->fProperties) {
        const VJSONValue& value = entry.second.first;
        if (VJSONObject* object = value.GetObject())
            CollectObjectReferences(object, ioObjects, ioArrays, ioVisits, outRepeated);
        else if (VJSONArray* array = value.GetArray())
            CollectArrayReferences(array, ioObjects, ioArrays, ioVisits, outRepeated);
    }
}

void VJSONGraph::CollectArrayReferences(VJSONArray* inArray, std::vector<VJSONObject*>& ioObjects,
                                        std::vector<VJSONArray*>& ioArrays, int& ioVisits, bool* outRepeated)
{
    if (inArray == nullptr)
        return;
    ++ioVisits;
    for (VJSONArray* listed : ioArrays) {
        if (listed == inArray) {
            if (outRepeated != nullptr)
                *outRepeated = true;
            return;
        }
    }
    ioArrays.push_back(inArray);
    StWalkLocker lock(inArray->fStorageLocker);
    for (const VJSONValue& value : inArray->fValues) {
        if (VJSONObject* object = value.GetObject())
            CollectObjectReferences(object, ioObjects, ioArrays, ioVisits, outRepeated);
        else if (VJSONArray* array = value.GetArray())
            CollectArrayReferences(array, ioObjects, ioArrays, ioVisits, outRepeated);
    }
}

void VJSONGraph::CollectReferences(const VJSONObject* inObject, const VJSONArray* inArray)
{
    int total = 0;
    int internal = 0;
    if (inObject != nullptr)
        CollectObjectReferences(const_cast<VJSONObject*>(inObject), fObjects, fArrays, total, internal);
    if (inArray != nullptr)
        CollectArrayReferences(const_cast<VJSONArray*>(inArray), fObjects, fArrays, total, internal);
    fTotalReferences.fetch_add(total);
    fInternalReferences += internal;
}

void VJSONGraph::ReleaseDependenciesIfNecessary(IRefCountable*, const std::vector<VJSONObject*>& inObjects,
                                                const std::vector<VJSONArray*>& inArrays, int inVisits)
{
    int sum = 0;
    for (VJSONObject* object : inObjects)
        sum += object->GetRefCount();
    for (VJSONArray* array : inArrays)
        sum += array->GetRefCount();
    if (sum != inVisits)
        return;

    Retain();
    for (VJSONObject* object : inObjects) {
        VJSONGraph* graph = object->fGraph;
        object->fGraph = nullptr;
        if (graph != nullptr)
            graph->Release();
        object->Retain();
    }
    for (VJSONArray* array : inArrays) {
        VJSONGraph* graph = array->fGraph;
        array->fGraph = nullptr;
        if (graph != nullptr)
            graph->Release();
        array->Retain();
    }
    // The released group leaves the graph's figures: its references (the
    // listed counts, which all came from the visits) and the links among its
    // members (every visit but the one of the starting container).
    fTotalReferences.fetch_sub(inVisits);
    fInternalReferences -= inVisits - 1;
    for (VJSONObject* object : inObjects)
        object->ClearFromGraph();
    for (VJSONArray* array : inArrays)
        array->ClearFromGraph();
    for (VJSONObject* object : inObjects)
        fObjects.erase(object);
    for (VJSONArray* array : inArrays)
        fArrays.erase(array);
    for (VJSONObject* object : inObjects)
        object->Release();
    for (VJSONArray* array : inArrays)
        array->Release();
    Release();
}

bool VJSONGraph::ReleaseGraphDependenciesIfNecessary(IRefCountable*)
{
    if (fInternalReferences + 1 != fTotalReferences.load())
        return false;
    Retain();
    std::vector<VJSONObject*> objects(fObjects.begin(), fObjects.end());
    std::vector<VJSONArray*> arrays(fArrays.begin(), fArrays.end());
    for (VJSONObject* object : objects) {
        VJSONGraph* graph = object->fGraph;
        object->fGraph = nullptr;
        if (graph != nullptr)
            graph->Release();
        object->Retain();
    }
    for (VJSONArray* array : arrays) {
        VJSONGraph* graph = array->fGraph;
        array->fGraph = nullptr;
        if (graph != nullptr)
            graph->Release();
        array->Retain();
    }
    for (VJSONObject* object : objects) {
        object->ClearFromGraph();
        object->Release();
    }
    for (VJSONArray* array : arrays) {
        array->ClearFromGraph();
        array->Release();
    }
    Release();
    return true;
}

}  // namespace qelt
