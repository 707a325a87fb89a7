// The bookkeeping that lets reference-counted JSON objects and arrays that
// refer to one another be freed: all containers connected through object or
// array values share one graph, which counts every reference to its members
// and those that members hold to members. When a group of members is left
// referenced only from inside itself, the graph empties those members, which
// breaks their cycles and lets the ordinary counting free them.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "json/VStorageLocker.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class VJSONObject;
class VJSONArray;
class VJSONValue;

// The process-wide graph lock, always taken before a storage's critical
// section. A locker built with false takes nothing.
class StGraphLocker {
public:
    explicit StGraphLocker(bool inLock = true) : fLocked(inLock)
    {
        if (fLocked)
            sMutex.Lock();
    }
    ~StGraphLocker()
    {
        if (fLocked)
            sMutex.Unlock();
    }
    StGraphLocker(const StGraphLocker&) = delete;
    StGraphLocker& operator=(const StGraphLocker&) = delete;

    static VCriticalSection sMutex;

private:
    bool fLocked;
};

// The locks of one operation on a container: the graph lock when asked,
// then, with the graph lock held, the critical section of the container's
// storage locker when it (still) has one. Released in the reverse order.
class StJSONContainerLocker {
public:
    template <class Container>
    StJSONContainerLocker(const Container* inContainer, bool inTakeGraphLock) : fGraphLocked(inTakeGraphLock)
    {
        if (!fGraphLocked)
            return;
        StGraphLocker::sMutex.Lock();
        fLocker = inContainer->_GetStorageLocker();
        if (fLocker != nullptr) {
            fLocker->Retain();
            fLocker->GetCriticalSection().Lock();
        }
    }
    ~StJSONContainerLocker()
    {
        if (fLocker != nullptr) {
            fLocker->GetCriticalSection().Unlock();
            fLocker->Release();
        }
        if (fGraphLocked)
            StGraphLocker::sMutex.Unlock();
    }
    StJSONContainerLocker(const StJSONContainerLocker&) = delete;
    StJSONContainerLocker& operator=(const StJSONContainerLocker&) = delete;

    // The storage locker whose section is held, or null.
    VStorageLocker* GetLocker() const { return fLocker; }

private:
    bool fGraphLocked;
    VStorageLocker* fLocker = nullptr;
};

class VJSONGraph : public VObject, public IRefCountable {
public:
    VJSONGraph() = default;
    ~VJSONGraph() override;

    VJSONGraph(const VJSONGraph&) = delete;
    VJSONGraph& operator=(const VJSONGraph&) = delete;

    bool HasCycle() const { return fCycle != 0; }
    bool IsShared() const { return fShared != 0; }
    int32_t GetTotalReferences() const { return fTotalReferences.load(std::memory_order_relaxed); }
    int32_t GetInternalReferences() const { return fInternalReferences; }
    size_t GetObjectCount() const { return fObjects.fCount; }
    size_t GetArrayCount() const { return fArrays.fCount; }

    // Records that the container (an object or an array, the other null)
    // holds one more reference to the value container; the graph arguments
    // are the addresses of the two containers' graph pointers.
    static void Connect(VJSONGraph** ioContainerGraph, VJSONGraph** ioValueGraph, const VJSONObject* inContainerObject,
                        const VJSONArray* inContainerArray, const VJSONObject* inValueObject,
                        const VJSONArray* inValueArray);
    // The same for an object or array value; other values do nothing.
    static void Connect(VJSONGraph** ioContainerGraph, const VJSONValue& inValue,
                        const VJSONObject* inContainerObject, const VJSONArray* inContainerArray);
    // Marks of a container that holds links stored without being connected
    // (VJSONObject::_StoreUnconnected, VJSONArray::_PushUnconnected):
    // kUnjoinedTree when the links lead to new containers only, and
    // kUnjoinedReachesGraph when some lead, directly or below, to a container
    // that has a graph or a storage locker of its own.
    static constexpr unsigned char kUnjoinedTree = 1;
    static constexpr unsigned char kUnjoinedReachesGraph = 2;
    // Ends the building of a tree stored without being connected (the
    // importer builds its result so). A tree of new containers only cannot
    // hold a cycle: it stays out of any graph, its containers are freed by
    // their counts alone, and it joins a graph at the first link made to one
    // of its containers or from one (Connect joins it then). A tree that
    // reaches containers with a graph or a storage of their own is joined
    // now.
    static void ConnectTree(const VJSONValue& inRoot);
    // Joins the tree under a container that has no graph: the containers
    // without graph reached from it through links not yet connected join
    // one new graph, with the counts that storing them one by one would have
    // given; a container met with a graph or a storage locker of its own is
    // connected as a store connects it. Nothing for a container that has a
    // graph.
    static void JoinTree(VJSONObject* inRootObject, VJSONArray* inRootArray);
    // JoinTree for an object or array value that holds links not yet
    // connected; nothing for any other value.
    static void JoinUnconnected(const VJSONValue& inValue);
    // Raises a container's unjoined mark for a value it has just stored
    // without connecting it.
    static void _NoteUnconnected(unsigned char& ioMark, const VJSONValue& inValue);
    // Uncounts the link to the value and runs the release check for it.
    static void Disconnect(VJSONGraph* inGraph, const VJSONValue& inValue);

    // The release check for a container whose link from a member has just
    // been uncounted (the link's reference not dropped yet).
    static void ReleaseObjectDependenciesIfNecessary(VJSONObject* inObject);
    static void ReleaseArrayDependenciesIfNecessary(VJSONArray* inArray);
    // Runs the check that fits the value (objects and arrays only).
    static void ReleaseValueDependenciesIfNecessary(const VJSONValue& inValue);

    // Collects the containers reachable from one container into the sets
    // and the two counts.
    static void CollectObjectReferences(VJSONObject* inObject, std::set<VJSONObject*>& ioObjects,
                                        std::set<VJSONArray*>& ioArrays, int& ioTotal, int& ioInternal);
    static void CollectArrayReferences(VJSONArray* inArray, std::set<VJSONObject*>& ioObjects,
                                       std::set<VJSONArray*>& ioArrays, int& ioTotal, int& ioInternal);
    // Lists the containers reachable from one container for a release check;
    // *outRepeated is set when one is met twice.
    static void CollectObjectReferences(VJSONObject* inObject, std::vector<VJSONObject*>& ioObjects,
                                        std::vector<VJSONArray*>& ioArrays, int& ioVisits, bool* outRepeated);
    static void CollectArrayReferences(VJSONArray* inArray, std::vector<VJSONObject*>& ioObjects,
                                       std::vector<VJSONArray*>& ioArrays, int& ioVisits, bool* outRepeated);

    static void _CheckConsistency(VJSONGraph*, const VJSONObject*, const VJSONArray*) {}

    // Collects from the object and from the array (either may be null).
    void CollectReferences(const VJSONObject* inObject, const VJSONArray* inArray);
    // Releases the listed containers when nothing outside them refers to them.
    void ReleaseDependenciesIfNecessary(IRefCountable* inUnused, const std::vector<VJSONObject*>& inObjects,
                                        const std::vector<VJSONArray*>& inArrays, int inVisits);
    // Releases all members when the reference being released is the only one
    // from outside the graph; true when it did.
    bool ReleaseGraphDependenciesIfNecessary(IRefCountable* inUnused);

    // Used by the containers.
    void AddTotalReferences(int32_t inDelta) { fTotalReferences.fetch_add(inDelta, std::memory_order_relaxed); }
    void AddInternalReferences(int32_t inDelta) { fInternalReferences += inDelta; }
    void RemoveObject(VJSONObject* inObject) { fObjects.Remove(inObject); }
    void RemoveArray(VJSONArray* inArray) { fArrays.Remove(inArray); }
    // Takes a container out of the list of the graph it is still listed in
    // after it let that graph go (a member released as garbage).
    template <class Container>
    static void _LeaveListedGraph(Container* inContainer)
    {
        if (VJSONGraph* owner = inContainer->fMemberLink.fOwner)
            owner->_Members(inContainer).Remove(inContainer);
    }

private:
    // The members of one kind: an intrusive list through the containers'
    // member links, so that joining, leaving and merging allocate nothing.
    template <class Container>
    struct MemberList {
        Container* fHead = nullptr;
        size_t fCount = 0;
        VJSONGraph* fGraph = nullptr;

        bool Contains(const Container* inContainer) const { return inContainer->fMemberLink.fOwner == fGraph; }
        // Links the container in (leaving another graph's list); false when
        // it is already listed here.
        bool Add(Container* inContainer);
        void Remove(Container* inContainer);
        // Moves every member of the other list here, calling inEach on each.
        template <class Each>
        void TakeAll(MemberList& ioOther, Each&& inEach);
        // The members, in list order.
        void CopyTo(std::vector<Container*>& outMembers) const;
        // Unlinks every member (the graph is going).
        void Clear();
    };
    MemberList<VJSONObject>& _Members(const VJSONObject*) { return fObjects; }
    MemberList<VJSONArray>& _Members(const VJSONArray*) { return fArrays; }
    // Collects one container's reachable containers into this graph.
    void _CollectObject(VJSONObject* inObject, int& ioTotal, int& ioInternal);
    void _CollectArray(VJSONArray* inArray, int& ioTotal, int& ioInternal);
    void _CollectValue(const VJSONValue& inValue, int& ioTotal, int& ioInternal);

    static bool _IsSharedObject(const VJSONObject* inObject);
    static bool _IsSharedArray(const VJSONArray* inArray);
    static void _ReleaseIfNecessary(VJSONObject* inObject, VJSONArray* inArray);

    unsigned char fCycle = 0;
    unsigned char fShared = 0;
    std::atomic<int32_t> fTotalReferences{0};
    int32_t fInternalReferences = 0;
    MemberList<VJSONObject> fObjects{nullptr, 0, this};
    MemberList<VJSONArray> fArrays{nullptr, 0, this};
};

// What objects and arrays do alike, written once: their reference counting
// through the graph, their storage locker and their change stamp. Reached as
// a friend of both classes; each calls it from its own member functions.
//
// Whether an operation takes the graph lock is decided by reading the
// container's locker and graph fields before the lock is held. That read
// cannot race: a container with neither a storage locker nor a shared graph
// is reachable from one thread only (unshared JSON belongs to the thread that
// holds it), so no other thread changes those fields under the reader; and a
// container gets a locker, or joins a shared graph, only under the graph
// lock, after which every later operation on it takes the lock first.
struct JSONContainerShared {
    template <class Container>
    static bool NeedsGraphLock(const Container& inContainer)
    {
        return inContainer.fStorageLocker != nullptr ||
               (inContainer.fGraph != nullptr && inContainer.fGraph->IsShared());
    }

    template <class Container>
    static int32_t Retain(const Container& inContainer)
    {
        StGraphLocker lock(NeedsGraphLock(inContainer));
        if (inContainer.fGraph != nullptr)
            inContainer.fGraph->AddTotalReferences(1);
        return inContainer.fRefCount.fetch_add(1) + 1;
    }

    // The count drops under the graph lock; the container is destroyed after
    // it is let go (its elements take the lock again as they go).
    template <class Container>
    static int32_t Release(const Container& inContainer)
    {
        // The last reference to a container outside any graph and storage:
        // no other holder can retain it meanwhile, so it goes without the
        // locked decrement (a torn-down tree takes this path for each of its
        // containers).
        if (inContainer.fGraph == nullptr && inContainer.fStorageLocker == nullptr &&
            inContainer.fRefCount.load(std::memory_order_acquire) == 1) {
            inContainer.fRefCount.store(0, std::memory_order_relaxed);
            const_cast<Container&>(inContainer).DoOnRefCountZero();
            return 0;
        }
        int32_t count;
        {
            StGraphLocker lock(NeedsGraphLock(inContainer));
            if (inContainer.fGraph != nullptr && inContainer.fGraph->HasCycle())
                inContainer.fGraph->ReleaseGraphDependenciesIfNecessary(nullptr);
            if (inContainer.fGraph != nullptr)
                inContainer.fGraph->AddTotalReferences(-1);
            count = inContainer.fRefCount.fetch_sub(1) - 1;
        }
        if (count == 0)
            const_cast<Container&>(inContainer).DoOnRefCountZero();
        return count;
    }

    template <class Container>
    static VRefPtr<VStorageLocker> GetStorageLocker(const Container& inContainer)
    {
        if (inContainer.fStorageLocker == nullptr)
            return VRefPtr<VStorageLocker>();
        StGraphLocker lock;
        return VRefPtr<VStorageLocker>(inContainer.fStorageLocker);
    }

    // Puts a new reference in a field and lets the old one go.
    template <class T>
    static void Exchange(T*& ioField, T* inNew)
    {
        if (inNew == ioField)
            return;
        if (inNew != nullptr)
            inNew->Retain();
        T* old = ioField;
        ioField = inNew;
        if (old != nullptr)
            old->Release();
    }

    template <class Container>
    static void SetStorageLocker(Container& ioContainer, VStorageLocker* inLocker)
    {
        StGraphLocker lock(NeedsGraphLock(ioContainer));
        Exchange(ioContainer.fStorageLocker, inLocker);
    }

    template <class Container, class Stamp>
    static void SetJSONStamp(Container& ioContainer, Stamp* inStamp)
    {
        StGraphLocker lock(NeedsGraphLock(ioContainer));
        Exchange(ioContainer.fStamp, inStamp);
    }

    template <class Container>
    static int32_t GetSharedID(const Container& inContainer)
    {
        if (inContainer.fStorageLocker == nullptr)
            return 0;
        StJSONContainerLocker lock(&inContainer, true);
        VStorageLocker* locker = lock.GetLocker();
        return locker != nullptr ? locker->GetSharedID() : 0;
    }

    template <class Container>
    static bool IsSharedGraph(const Container& inContainer)
    {
        return NeedsGraphLock(inContainer);
    }
};

}  // namespace qelt
