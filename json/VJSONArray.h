// The JSON array: a reference-counted, ordered list of JSON values indexed
// from 0. Like an object it may be shared under a storage locker, belong to
// a reference graph and carry the change stamp of its tree.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <unordered_set>
#include <vector>

#include "json/VJSONObject.h"
#include "json/VJSONRegion.h"
#include "json/VJSONValue.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"

namespace qelt {

class VJSONGraph;
class VJSONCloner;
class VStorageLocker;
class VCompareOptions;

// The order a caller gives JSONArray::Sort: IsBefore answers whether the
// first value comes before the second (a strict weak order).
class IJSONValueComparator {
public:
    virtual ~IJSONValueComparator();
    virtual bool IsBefore(const VJSONValue& inFirst, const VJSONValue& inSecond) = 0;
};

class VJSONArray : public VObject, public IRefCountable {
public:
    // The list of elements: in the region of the import that made the
    // array, as the array itself (VJSONRegion), else on the ordinary heap.
    using ValueList = std::vector<VJSONValue, VJSONRegionAllocator<VJSONValue>>;

    // An empty array; the locker is retained (the array is then shared).
    explicit VJSONArray(VStorageLocker* inLocker = nullptr);
    // With inShared, the array gets a new storage locker of its own.
    explicit VJSONArray(bool inShared);

    VJSONArray(const VJSONArray&) = delete;
    VJSONArray& operator=(const VJSONArray&) = delete;

    int32_t Retain(const char* inDebugTag = nullptr) const override;
    int32_t Release(const char* inDebugTag = nullptr) const override;

    // Made in the region of the import that reads it, if any (VJSONRegion).
    static void* operator new(size_t inSize) { return VJSONRegion::Allocate(inSize); }
    static void operator delete(void* inObject, size_t inSize) noexcept { VJSONRegion::Free(inObject, inSize); }
    static void* operator new(size_t inSize, const std::nothrow_t&) noexcept
    {
        return VJSONRegion::AllocateOrNull(inSize);
    }
    static void operator delete(void* inObject, const std::nothrow_t&) noexcept { VJSONRegion::Free(inObject, 0); }

    // ---- Reading --------------------------------------------------------
    size_t GetCount() const { return fValues.size(); }
    VJSONValue GetAt(size_t inIndex) const;
    bool GetAt(size_t inIndex, VJSONValue& outValue) const;
    void GetValues(std::vector<VJSONValue>& outValues) const;
    VError GetString(VString& outText, std::unordered_set<const VJSONArray*>* ioVisited = nullptr) const;
    bool DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions) const;
    bool _DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions,
                      VJSONDeepEqualVisits& ioVisits) const;
    uint32_t GetStampAt(size_t inIndex) const;
    // The elements where they are stored, without lock: only for an array
    // without storage locker, read by the task that holds it.
    const ValueList& _GetValues() const { return fValues; }

    // ---- Changing -------------------------------------------------------
    bool Push(const VJSONValue& inValue);
    // Appends a value without connecting it to the array's graph, moving it
    // in (see VJSONObject::_StoreUnconnected): only an array without graph
    // and without storage locker takes it; false, value untouched, otherwise.
    bool _PushUnconnected(VJSONValue&& ioValue);
    // _PushUnconnected for a run of values at once, the list growing by
    // exactly their number; the values are moved from. False, nothing
    // moved, when the array has a graph or a storage locker.
    bool _PushAllUnconnected(VJSONValue* ioValues, size_t inCount);
    bool SetAt(size_t inIndex, const VJSONValue& inValue);
    bool SetAt_unchecked(size_t inIndex, const VJSONValue& inValue);
    void RemoveAt(size_t inIndex, size_t inCount = 1);
    bool Resize(size_t inCount);
    bool Resize(size_t inCount, JSONType inType);
    void Clear();
    // Puts the caller's values into the array in place of its elements,
    // which go back to the caller.
    bool SwapValues(std::vector<VJSONValue>& ioValues);
    void TouchStampAt(size_t inIndex);

    // ---- Cloning (see VJSONCloner) ----------------------------------------
    VError Clone(VJSONValue& outResult, VJSONCloner& ioCloner) const;

    // ---- Whole-array operations -------------------------------------------
    // Sorts in place (not stable). A comparator that throws, or one that is
    // no order at all, never makes the sort read outside the array; a throw
    // leaves the order as it was, with 'qelt' 917.
    void Sort(IJSONValueComparator* inComparator);
    // Appends copies of the other array's elements; false when an element
    // may not join this array's storage or memory runs out.
    bool Concatenate(const VJSONArray& inOther);
    // The elements' texts joined by the separator.
    void JoinAsString(const VString& inSeparator, VString& outText, bool inKeepEmptyTexts, bool inNullAsText) const;
    // {"ranges": [{"start": s, "end": e}, ...]}: the runs of consecutive
    // elements found in the selection array.
    VJSONValue GetSelectedRows(const VJSONValue& inSelection) const;
    void SetJSONStamp(VJSONStamp* inStamp);
    VJSONStamp* GetJSONStamp() const { return fStamp; }

    // ---- Sharing --------------------------------------------------------
    VRefPtr<VStorageLocker> GetStorageLocker() const;
    void SetStorageLocker(VStorageLocker* inLocker);
    void _SetStorageLocker(VStorageLocker* inLocker);
    int32_t GetSharedID() const;
    bool IsSharedGraph() const;
    // The storage locker without a new reference (read without lock).
    VStorageLocker* _GetStorageLocker() const { return fStorageLocker; }

    // ---- Graph ----------------------------------------------------------
    void DisconnectAll(size_t inFrom);
    void ClearFromGraph();
    VJSONGraph* GetGraph() const { return fGraph; }
    int32_t GetInternalCount() const { return fInternalCount; }
    void _AddInternalCount(int32_t inDelta) { fInternalCount += inDelta; }
    int32_t GetRefCount() const { return fRefCount.load(std::memory_order_relaxed); }

    // Debugging counters: arrays made and destroyed under the monitored task.
    static std::atomic<uint32_t> sTaskToMonitor;
    static std::atomic<int32_t> sTaskCounter;

protected:
    ~VJSONArray() override;

private:
    friend class VJSONGraph;
    friend class VStorageLocker;
    friend struct JSONContainerShared;

    // Uncounts the container elements from inFrom (no release check).
    void _UncountFrom(size_t inFrom);
    // Drops one element's link from the graph (with the release check).
    void _DropFromGraph(const VJSONValue& inValue);
    // Lets the value join the storage of this shared array (locks held).
    bool _JoinStorage(const VJSONValue& inValue);
    // Stores at an index known to be in range, the locks held.
    void _StoreAt(size_t inIndex, const VJSONValue& inValue);
    bool _SetAtShared(size_t inIndex, const VJSONValue& inValue);

    ValueList fValues;
    VJSONGraph* fGraph = nullptr;
    int32_t fInternalCount = 0;
    // Whether the array holds links not yet counted in a graph
    // (VJSONGraph::kUnjoinedTree, kUnjoinedReachesGraph), else 0. Kept in
    // the room the count leaves before the next pointer, so that an array
    // (every empty list of an imported tree is one) takes 8 bytes less.
    unsigned char fUnjoined = 0;
    VStorageLocker* fStorageLocker = nullptr;
    VJSONStamp* fStamp = nullptr;
    VJSONGraphMemberLink fMemberLink;
};

}  // namespace qelt
