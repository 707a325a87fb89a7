#include "json/VJSONGraph.h"

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VStorageLocker.h"

namespace qelt {

VCriticalSection StGraphLocker::sMutex;

VJSONGraph::~VJSONGraph()
{
    fObjects.Clear();
    fArrays.Clear();
}

// ---------------------------------------------------------------------------
// Member lists

template <class Container>
bool VJSONGraph::MemberList<Container>::Add(Container* inContainer)
{
    VJSONGraphMemberLink& link = inContainer->fMemberLink;
    if (link.fOwner == fGraph)
        return false;
    if (link.fOwner != nullptr)
        link.fOwner->_Members(inContainer).Remove(inContainer);
    link.fPrev = nullptr;
    link.fNext = fHead;
    if (fHead != nullptr)
        fHead->fMemberLink.fPrev = inContainer;
    fHead = inContainer;
    link.fOwner = fGraph;
    ++fCount;
    return true;
}

template <class Container>
void VJSONGraph::MemberList<Container>::Remove(Container* inContainer)
{
    VJSONGraphMemberLink& link = inContainer->fMemberLink;
    if (link.fOwner != fGraph)
        return;
    Container* prev = static_cast<Container*>(link.fPrev);
    Container* next = static_cast<Container*>(link.fNext);
    if (prev != nullptr)
        prev->fMemberLink.fNext = next;
    else
        fHead = next;
    if (next != nullptr)
        next->fMemberLink.fPrev = prev;
    link = VJSONGraphMemberLink();
    --fCount;
}

template <class Container>
template <class Each>
void VJSONGraph::MemberList<Container>::TakeAll(MemberList& ioOther, Each&& inEach)
{
    Container* last = nullptr;
    for (Container* walk = ioOther.fHead; walk != nullptr; walk = static_cast<Container*>(walk->fMemberLink.fNext)) {
        walk->fMemberLink.fOwner = fGraph;
        inEach(walk);
        last = walk;
    }
    if (last == nullptr)
        return;
    last->fMemberLink.fNext = fHead;
    if (fHead != nullptr)
        fHead->fMemberLink.fPrev = last;
    fHead = ioOther.fHead;
    fCount += ioOther.fCount;
    ioOther.fHead = nullptr;
    ioOther.fCount = 0;
}

template <class Container>
void VJSONGraph::MemberList<Container>::CopyTo(std::vector<Container*>& outMembers) const
{
    outMembers.clear();
    outMembers.reserve(fCount);
    for (Container* walk = fHead; walk != nullptr; walk = static_cast<Container*>(walk->fMemberLink.fNext))
        outMembers.push_back(walk);
}

template <class Container>
void VJSONGraph::MemberList<Container>::Clear()
{
    Container* walk = fHead;
    while (walk != nullptr) {
        Container* next = static_cast<Container*>(walk->fMemberLink.fNext);
        walk->fMemberLink = VJSONGraphMemberLink();
        walk = next;
    }
    fHead = nullptr;
    fCount = 0;
}

// The container destructors reach Remove through RemoveObject, RemoveArray
// and _LeaveListedGraph.
template struct VJSONGraph::MemberList<VJSONObject>;
template struct VJSONGraph::MemberList<VJSONArray>;

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
    // Links stored without being connected (an imported tree) are counted
    // first. The new link is already stored in the container, so a container
    // that joins its tree here counts it with the others.
    const unsigned char containerUnjoined =
        inContainerObject != nullptr ? inContainerObject->fUnjoined
                                     : (inContainerArray != nullptr ? inContainerArray->fUnjoined : 0);
    const unsigned char valueUnjoined =
        inValueObject != nullptr ? inValueObject->fUnjoined : (inValueArray != nullptr ? inValueArray->fUnjoined : 0);
    if (*ioContainerGraph == nullptr && (containerUnjoined != 0 || valueUnjoined != 0)) {
        JoinTree(const_cast<VJSONObject*>(inContainerObject), const_cast<VJSONArray*>(inContainerArray));
        return;
    }
    if (*ioValueGraph == nullptr && valueUnjoined != 0)
        JoinTree(const_cast<VJSONObject*>(inValueObject), const_cast<VJSONArray*>(inValueArray));
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
    // Every member moves; those that designate the source designate the
    // target instead (the graph references move with them, in one step).
    int32_t moved = 0;
    target->fObjects.TakeAll(source->fObjects, [&](VJSONObject* inObject) {
        if (inObject->fGraph == source) {
            inObject->fGraph = target;
            ++moved;
        }
    });
    target->fArrays.TakeAll(source->fArrays, [&](VJSONArray* inArray) {
        if (inArray->fGraph == source) {
            inArray->fGraph = target;
            ++moved;
        }
    });
    target->fRefCount.fetch_add(moved);
    source->fRefCount.fetch_sub(moved);
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

void VJSONGraph::ConnectTree(const VJSONValue& inRoot)
{
    VJSONObject* rootObject = inRoot.GetObject();
    VJSONArray* rootArray = inRoot.GetArray();
    if (rootObject == nullptr && rootArray == nullptr)
        return;
    // A tree of new containers only is acyclic: it joins a graph at the first
    // change that links a container to it or into it. A tree that holds
    // containers of a graph or a storage of their own joins now.
    const unsigned char unjoined = rootObject != nullptr ? rootObject->fUnjoined : rootArray->fUnjoined;
    if (unjoined == kUnjoinedReachesGraph)
        JoinTree(rootObject, rootArray);
}

void VJSONGraph::JoinUnconnected(const VJSONValue& inValue)
{
    if (VJSONObject* object = inValue.GetObject()) {
        if (object->fUnjoined != 0)
            JoinTree(object, nullptr);
    } else if (VJSONArray* array = inValue.GetArray()) {
        if (array->fUnjoined != 0)
            JoinTree(nullptr, array);
    }
}

void VJSONGraph::_NoteUnconnected(unsigned char& ioMark, const VJSONValue& inValue)
{
    unsigned char mark = 0;
    if (const VJSONObject* object = inValue.GetObject()) {
        mark = (object->fGraph != nullptr || object->fStorageLocker != nullptr) ? kUnjoinedReachesGraph
                                                                                 : kUnjoinedTree;
        if (object->fUnjoined > mark)
            mark = object->fUnjoined;
    } else if (const VJSONArray* array = inValue.GetArray()) {
        mark = (array->fGraph != nullptr || array->fStorageLocker != nullptr) ? kUnjoinedReachesGraph
                                                                              : kUnjoinedTree;
        if (array->fUnjoined > mark)
            mark = array->fUnjoined;
    }
    if (mark > ioMark)
        ioMark = mark;
}

void VJSONGraph::JoinTree(VJSONObject* inRootObject, VJSONArray* inRootArray)
{
    if (inRootObject == nullptr && inRootArray == nullptr)
        return;
    if ((inRootObject != nullptr ? inRootObject->fGraph : inRootArray->fGraph) != nullptr)
        return;

    // A link from an unconnected container to one that must be connected
    // the ordinary way.
    struct Pending {
        VJSONObject* fObject;
        VJSONArray* fArray;
        const VJSONValue* fValue;
    };
    // The containers of the tree take the graph as they are listed, so that
    // one met again (a shared reference) is counted as a link, not walked.
    VJSONGraph* graph = new VJSONGraph();
    std::vector<VJSONObject*> objects;
    std::vector<VJSONArray*> arrays;
    std::vector<Pending> pending;
    int32_t links = 0;
    auto listObject = [&](VJSONObject* inObject) {
        inObject->fGraph = graph;
        inObject->fUnjoined = 0;
        objects.push_back(inObject);
    };
    auto listArray = [&](VJSONArray* inArray) {
        inArray->fGraph = graph;
        inArray->fUnjoined = 0;
        arrays.push_back(inArray);
    };
    // Counts the link to a container of the tree; lists a new one.
    auto visit = [&](VJSONObject* inOwnerObject, VJSONArray* inOwnerArray, const VJSONValue& inValue) {
        if (VJSONObject* object = inValue.GetObject()) {
            if (object->fGraph == graph || (object->fGraph == nullptr && !object->IsShared())) {
                ++object->fInternalCount;
                ++links;
                if (object->fGraph == graph)
                    graph->fCycle = 1;
                else
                    listObject(object);
                return;
            }
        } else if (VJSONArray* array = inValue.GetArray()) {
            if (array->fGraph == graph || (array->fGraph == nullptr && array->fStorageLocker == nullptr)) {
                ++array->fInternalCount;
                ++links;
                if (array->fGraph == graph)
                    graph->fCycle = 1;
                else
                    listArray(array);
                return;
            }
        } else {
            return;
        }
        pending.push_back(Pending{inOwnerObject, inOwnerArray, &inValue});
    };
    if (inRootObject != nullptr)
        listObject(inRootObject);
    else
        listArray(inRootArray);
    // Breadth first over the two lists: each container is walked once.
    size_t nextObject = 0;
    size_t nextArray = 0;
    while (nextObject < objects.size() || nextArray < arrays.size()) {
        if (nextObject < objects.size()) {
            VJSONObject* object = objects[nextObject++];
            for (const VJSONPropertyEntry& entry : object->fProperties)
                visit(object, nullptr, entry.fValue);
        } else {
            VJSONArray* array = arrays[nextArray++];
            for (const VJSONValue& value : array->fValues)
                visit(nullptr, array, value);
        }
    }

    if (links == 0 && pending.empty()) {
        // Nothing to connect: the root stays without graph.
        if (inRootObject != nullptr)
            inRootObject->fGraph = nullptr;
        else
            inRootArray->fGraph = nullptr;
        graph->Release();
        return;
    }
    // Every container of the tree has the graph before the others are
    // connected, so that each of those connections merges two graphs and
    // walks nothing.
    const size_t members = objects.size() + arrays.size();
    graph->fRefCount.fetch_add(static_cast<int32_t>(members) - 1);
    int32_t total = 0;
    for (VJSONObject* object : objects) {
        graph->fObjects.Add(object);
        total += object->GetRefCount();
        if (object->IsShared())
            graph->fShared = 1;
    }
    for (VJSONArray* array : arrays) {
        graph->fArrays.Add(array);
        total += array->GetRefCount();
        if (array->fStorageLocker != nullptr)
            graph->fShared = 1;
    }
    graph->fTotalReferences.store(total);
    graph->fInternalReferences = links;
    // The containers that have a graph or storage of their own join as a
    // store would join them, under the graph lock when theirs is shared.
    for (const Pending& link : pending) {
        bool sharedValue = false;
        if (const VJSONObject* object = link.fValue->GetObject())
            sharedValue = object->IsSharedGraph();
        else if (const VJSONArray* array = link.fValue->GetArray())
            sharedValue = array->IsSharedGraph();
        StGraphLocker lock(sharedValue);
        if (link.fObject != nullptr)
            Connect(&link.fObject->fGraph, *link.fValue, link.fObject, nullptr);
        else
            Connect(&link.fArray->fGraph, *link.fValue, nullptr, link.fArray);
    }
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
    for (const VJSONPropertyEntry& entry : inObject->fProperties) {
        const VJSONValue& value = entry.fValue;
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
    for (const VJSONPropertyEntry& entry : inObject->fProperties) {
        const VJSONValue& value = entry.fValue;
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

void VJSONGraph::_CollectObject(VJSONObject* inObject, int& ioTotal, int& ioInternal)
{
    if (inObject == nullptr || !fObjects.Add(inObject))
        return;
    ioTotal += inObject->GetRefCount();
    StWalkLocker lock(inObject->fStorageLocker);
    for (const VJSONPropertyEntry& entry : inObject->fProperties)
        _CollectValue(entry.fValue, ioTotal, ioInternal);
}

void VJSONGraph::_CollectValue(const VJSONValue& inValue, int& ioTotal, int& ioInternal)
{
    if (VJSONObject* object = inValue.GetObject()) {
        ++ioInternal;
        _CollectObject(object, ioTotal, ioInternal);
    } else if (VJSONArray* array = inValue.GetArray()) {
        ++ioInternal;
        _CollectArray(array, ioTotal, ioInternal);
    }
}

void VJSONGraph::_CollectArray(VJSONArray* inArray, int& ioTotal, int& ioInternal)
{
    if (inArray == nullptr || !fArrays.Add(inArray))
        return;
    ioTotal += inArray->GetRefCount();
    StWalkLocker lock(inArray->fStorageLocker);
    for (const VJSONValue& value : inArray->fValues)
        _CollectValue(value, ioTotal, ioInternal);
}

void VJSONGraph::CollectReferences(const VJSONObject* inObject, const VJSONArray* inArray)
{
    int total = 0;
    int internal = 0;
    if (inObject != nullptr)
        _CollectObject(const_cast<VJSONObject*>(inObject), total, internal);
    if (inArray != nullptr)
        _CollectArray(const_cast<VJSONArray*>(inArray), total, internal);
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
        fObjects.Remove(object);
    for (VJSONArray* array : inArrays)
        fArrays.Remove(array);
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
    std::vector<VJSONObject*> objects;
    std::vector<VJSONArray*> arrays;
    fObjects.CopyTo(objects);
    fArrays.CopyTo(arrays);
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
