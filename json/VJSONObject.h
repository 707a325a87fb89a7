// The JSON object: a reference-counted map from property names to JSON
// values that remembers the order in which its properties were first set.
// An object may be backed by an IJSONObject implementation consulted before
// its own properties, shared between tasks under a storage locker, a member
// of a reference graph, and stamped with the change stamp of its tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "json/IJSONObject.h"
#include "json/VJSONPropertyTable.h"
#include "json/VJSONRegion.h"
#include "json/VJSONValue.h"
#include "kernel/IRefCountable.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

class VJSONGraph;
class VJSONArray;
class VJSONClass;
class VJSONCloner;
class VStorageLocker;
class VCompareOptions;

// Property names hash with the string hash (length, then h * 257 + unit over
// at most 16 units: the first and last 8 of a longer name) and compare
// exactly, unit by unit.
struct VJSONPropertyNameHash {
    size_t operator()(const VString& inName) const;
};
struct VJSONPropertyNameEqual {
    bool operator()(const VString& inA, const VString& inB) const;
};

// A container's place in the member list of its graph: linked in at most
// one graph's list, which is then its owner. Kept by VJSONGraph only.
struct VJSONGraphMemberLink {
    void* fPrev = nullptr;
    void* fNext = nullptr;
    VJSONGraph* fOwner = nullptr;
};

// Value and insertion index of each property: the form in which
// GetInternalProperties hands out a copy of the own properties.
using VJSONPropertyMap =
    std::unordered_map<VString, std::pair<VJSONValue, uint64_t>, VJSONPropertyNameHash, VJSONPropertyNameEqual>;

// Pairs of containers whose deep comparison is under way (so that cyclic
// structures compare in finite time).
using VJSONDeepEqualVisits = std::set<std::pair<const void*, const void*>>;

// True when the path part is empty or made of the digits 0 to 9 only: such
// a part makes a missing container an array when a path is written.
bool isvalidnumber(const VString& inPart);

class VJSONObject : public VObject, public IRefCountable {
public:
    // An empty object; the implementation and the locker are retained. A
    // class object must be an object whose implementation is a class; null
    // means the root class "Object", when the class store exists.
    VJSONObject(VJSONObject* inClassObject = nullptr, IJSONObject* inImplementation = nullptr,
                VStorageLocker* inLocker = nullptr);
    // With inShared, the object gets a new storage locker of its own.
    VJSONObject(VJSONObject* inClassObject, IJSONObject* inImplementation, bool inShared);

    VJSONObject(const VJSONObject&) = delete;
    VJSONObject& operator=(const VJSONObject&) = delete;

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
    VJSONValue GetProperty(const VString& inName, VDBLanguageContext* inContext = nullptr) const;
    VJSONValue GetOwnProperty(const VString& inName) const;
    VJSONValue _GetOwnProperty(const VString& inName) const;
    bool HasOwnProperty(const VString& inName) const;
    bool _HasOwnProperty(const VString& inName) const;
    bool HasProperty(const VString& inName, VDBLanguageContext* inContext = nullptr) const;
    VJSONValue GetPropertyByIndex(size_t inIndex, EJSONStatus* outStatus) const;
    size_t GetCountPropertiesByIndex(EJSONStatus* outStatus) const;
    VJSONPropertyMap GetInternalProperties() const;
    // The number of own properties.
    size_t GetOwnPropertyCount() const;
    // The own properties in insertion order (copies with fresh stamps).
    void GetOwnPropertiesInOrder(std::vector<std::pair<VString, VJSONValue>>& outProperties) const;
    bool IsEmpty() const;
    VError GetString(VString& outText) const;
    void GetDescription(VString& outText, bool inPreview = false, VDBLanguageContext* inContext = nullptr) const;
    void GetClassName(VString& outName) const;
    VJSONObject* GetClassObject() const;
    VJSONObject* _GetPrototype() const;
    bool IsGenericObject() const;
    bool IsInstanceOf(VJSONClass* inClass) const;
    bool IsInstanceOf(const VJSONObject* inClassObject) const;
    bool DeepEqualTo(const VJSONObject* inOther, const VCompareOptions& inOptions) const;
    bool _DeepEqualTo(const VJSONObject* inOther, const VCompareOptions& inOptions,
                      VJSONDeepEqualVisits& ioVisits) const;

    // ---- Writing --------------------------------------------------------
    bool SetProperty(const VString& inName, const VJSONValue& inValue, VDBLanguageContext* inContext = nullptr);
    bool SetOwnProperty(const VString& inName, const VJSONValue& inValue);
    // The own-property store, with the locks held.
    bool _SetOwnProperty(const VString& inName, const VJSONValue& inValue);
    // Stores a value without connecting it to the object's graph, moving it
    // in: for the importer, whose tree joins a graph only when a later change
    // links it (VJSONGraph::ConnectTree). Only a plain object without graph takes it
    // (no implementation, no class setter, no storage locker); false, with
    // the value untouched, otherwise.
    bool _StoreUnconnected(const VString& inName, VJSONValue&& ioValue);
    // Makes room for inCount own properties in all (an importer that knows
    // how many it will store); throws std::bad_alloc.
    void _ReserveProperties(size_t inCount) { fProperties.Reserve(inCount); }
    // _StoreUnconnected for a run of members at once, in their order, names
    // and values moved from. False, nothing moved, where _StoreUnconnected
    // would refuse one of them.
    bool _StoreAllUnconnected(VJSONPropertyEntry* ioMembers, size_t inCount);
    bool SetProperties(const std::vector<std::pair<VString, VJSONValue>>& inProperties,
                       VDBLanguageContext* inContext = nullptr);
    void RemoveProperty(const VString& inName);
    void RemoveOwnProperty(const VString& inName);
    void _RemoveOwnProperty(const VString& inName);
    void ClearProperty(const VString& inName, VDBLanguageContext* inContext = nullptr);
    void Clear();
    void ClearInternalProperties();
    VError MergeWith(const VJSONObject* inOther, bool inOnlyMissing);
    void ConnectImplementationProperty(const VJSONValue& inValue);
    void DisconnectImplementationProperty(const VJSONValue& inValue);

    // ---- Paths (names joined by ".", array indexes in brackets) ----------
    // Cuts a path into its parts: 901 for a bracket piece without "]", 902
    // for an empty part.
    static VError ExtractPath(const VString& inPath, std::vector<VString>& outParts);
    // Undefined when the path does not parse or leads nowhere.
    VJSONValue GetPropertyWithPath(const VString& inPath, VDBLanguageContext* inContext = nullptr) const;
    VJSONValue GetPropertyWithPath(const std::vector<VString>& inParts, VDBLanguageContext* inContext = nullptr) const;
    // Stores the value at the path, creating the objects and arrays it needs;
    // false when the path does not parse or runs into a value that is neither
    // an object nor an array (903, 904), or when an index would grow an array
    // by more than kMaxPathGrowth elements (100).
    bool SetPropertyWithPath(const VString& inPath, const VJSONValue& inValue,
                             VDBLanguageContext* inContext = nullptr);
    bool SetPropertiesWithPaths(const std::vector<std::pair<VString, VJSONValue>>& inProperties);
    static constexpr size_t kMaxPathGrowth = 1048576;

    // ---- Cloning (see VJSONCloner) ----------------------------------------
    VError Clone(VJSONValue& outResult, VJSONCloner& ioCloner) const;
    // Replaces the target's own properties by clones of this object's.
    VError CloneProperties(VJSONCloner& ioCloner, VJSONObject* ioTarget) const;

    // ---- Property stamps ------------------------------------------------
    uint32_t GetPropertyStamp(const VString& inName) const;
    void TouchPropertyStamp(const VString& inName);
    uint32_t GetPropertyStampWithPath(const VString& inPath) const;
    void TouchPropertyStampWithPath(const VString& inPath);

    // ---- Sharing --------------------------------------------------------
    VRefPtr<VStorageLocker> GetStorageLocker() const;
    void SetStorageLocker(VStorageLocker* inLocker);
    void _SetStorageLocker(VStorageLocker* inLocker);
    int32_t GetSharedID() const;
    bool IsSharedGraph() const;
    // The storage locker without a new reference (read without lock).
    VStorageLocker* _GetStorageLocker() const { return fStorageLocker; }
    bool IsShared() const;

    // ---- Stamps ---------------------------------------------------------
    void SetJSONStamp(VJSONStamp* inStamp);
    VJSONStamp* GetJSONStamp() const { return fStamp; }

    // ---- Graph ----------------------------------------------------------
    void DisconnectAll();
    void ClearFromGraph();
    VJSONGraph* GetGraph() const { return fGraph; }
    int32_t GetInternalCount() const { return fInternalCount; }
    void _AddInternalCount(int32_t inDelta) { fInternalCount += inDelta; }
    int32_t GetRefCount() const { return fRefCount.load(std::memory_order_relaxed); }

    IJSONObject* GetImplementation() const { return fImplementation; }
    // Gives an object being built (not yet seen by other tasks) its
    // implementation: retained, the old one released. For readers that
    // learn the implementation after the object's properties.
    void _SetImplementation(IJSONObject* inImplementation);

    // ---- Class ----------------------------------------------------------
    // Takes a use of the class and gives up the old one; null changes
    // nothing. No lock.
    void _SetClass(VJSONClass* inClass);
    // Gives up the use of the class (for a class store being torn down).
    void _ClearClass();
    VJSONClass* _GetClass() const { return fClass; }
    int32_t GetConstructionLevel() const { return fConstructionLevel; }
    bool IsUnderConstruction() const { return fUnderConstruction; }
    void _SetConstruction(int32_t inLevel, bool inUnderConstruction)
    {
        fConstructionLevel = inLevel;
        fUnderConstruction = inUnderConstruction;
    }
    // Calls the object as a function; 1 (result untouched) without an
    // implementation.
    EJSONStatus CallAsFunction(VJSONObject* inThisObject, VJSONArray* inThisArray,
                               std::vector<VJSONValue>* inParameters, VJSONValue& outResult,
                               CDBVqBaseContext* inBaseContext = nullptr,
                               VDBLanguageContext* inLanguageContext = nullptr);

    // The name of the locker pseudo-property of shared objects.
    static bool IsLockerIDName(const VString& inName);

protected:
    ~VJSONObject() override;

private:
    friend class VJSONGraph;
    friend class VStorageLocker;
    friend struct JSONContainerShared;
    friend class VJSONPropertyIteratorBase;
    friend class VJSONWriter;

    // Own properties in insertion order, where they are stored (the caller
    // holds the locks).
    const VJSONPropertyTable& _GetEntries() const { return fProperties; }
    // Lowers the internal counts of the object's container values and the
    // graph's internal references (no lock).
    void _UncountValues();
    // Puts the value under the name: a new name is inserted last; an existing
    // one keeps its place and its old value goes to outOld. Answers the
    // stored value.
    VJSONValue* _PutEntry(const VString& inName, VJSONValue&& ioValue, VJSONValue& outOld);
    // Erases an entry found in the map (graph step included).
    void _EraseEntry(size_t inPosition);
    // Lets the value join the storage of this shared object (locks held).
    bool _JoinStorage(const VJSONValue& inValue);
    // Whether a change of this object must take the graph lock for the value.
    static bool _ValueNeedsGraphLock(const VJSONValue& inValue);

    // First, in the room the reference count leaves before the next
    // pointer, so that an object (an import makes them by the ten thousand)
    // takes 8 bytes less.
    int32_t fInternalCount = 0;
    VJSONPropertyTable fProperties;
    VJSONGraph* fGraph = nullptr;
    IJSONObject* fImplementation = nullptr;
    VStorageLocker* fStorageLocker = nullptr;
    VJSONStamp* fStamp = nullptr;
    VJSONClass* fClass = nullptr;
    VJSONGraphMemberLink fMemberLink;
    int32_t fConstructionLevel = 0;
    bool fUnderConstruction = false;
    // Whether the object holds links not yet counted in a graph
    // (VJSONGraph::kUnjoinedTree, kUnjoinedReachesGraph), else 0.
    unsigned char fUnjoined = 0;
};

}  // namespace qelt
