#include "json/VJSONArray.h"

#include <climits>
#include <iterator>
#include <new>
#include <stdexcept>

#include "json/VJSONGraph.h"
#include "json/VStorageLocker.h"
#include "kernel/VCompareOptions.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

static_assert(alignof(VJSONArray) <= 8, "the region carves containers at 8-byte steps");

std::atomic<uint32_t> VJSONArray::sTaskToMonitor{0};
std::atomic<int32_t> VJSONArray::sTaskCounter{0};

namespace {

constexpr int kErrorSharedArrayChange = -10720;

void ThrowModelError(int inNumber) { _ThrowError(MakeVError(kSignatureVQRT, inNumber)); }

bool IsContainer(const VJSONValue& inValue) { return inValue.IsObject() || inValue.IsArray(); }

bool ValueIsSharedGraph(const VJSONValue& inValue)
{
    if (const VJSONObject* object = inValue.GetObject())
        return object->IsSharedGraph();
    if (const VJSONArray* array = inValue.GetArray())
        return array->IsSharedGraph();
    return false;
}

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

// Destroys the values from the last to the first.
template <class List>
void DestroyLastFirst(List& ioValues)
{
    while (!ioValues.empty())
        ioValues.pop_back();
}

void CountMonitoredTask(int32_t inDelta)
{
    uint32_t monitored = VJSONArray::sTaskToMonitor.load(std::memory_order_relaxed);
    if (monitored != 0 && static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID()) == monitored)
        VJSONArray::sTaskCounter.fetch_add(inDelta, std::memory_order_relaxed);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and lifetime

VJSONArray::VJSONArray(VStorageLocker* inLocker)
{
    if (inLocker != nullptr) {
        inLocker->Retain();
        fStorageLocker = inLocker;
    }
    CountMonitoredTask(1);
}

VJSONArray::VJSONArray(bool inShared)
    : VJSONArray(inShared ? new VStorageLocker(false, true) : static_cast<VStorageLocker*>(nullptr))
{
    // The array retained its new locker: the maker's reference goes.
    if (inShared)
        fStorageLocker->Release();
}

VJSONArray::~VJSONArray()
{
    {
        StGraphLocker lock(JSONContainerShared::NeedsGraphLock(*this));
        if (fGraph != nullptr) {
            _UncountFrom(0);
            fGraph->RemoveArray(this);
            VJSONGraph* graph = fGraph;
            fGraph = nullptr;
            graph->Release();
        } else if (VJSONGraph* listed = fMemberLink.fOwner) {
            StGraphLocker listedLock(listed->IsShared());
            VJSONGraph::_LeaveListedGraph(this);
        }
    }
    if (VStorageLocker* locker = fStorageLocker) {
        fStorageLocker = nullptr;
        locker->Release();
    }
    if (VJSONStamp* stamp = fStamp) {
        fStamp = nullptr;
        stamp->Release();
    }
    CountMonitoredTask(-1);
    ValueList values;
    values.swap(fValues);
    DestroyLastFirst(values);
}

int32_t VJSONArray::Retain(const char*) const { return JSONContainerShared::Retain(*this); }

int32_t VJSONArray::Release(const char*) const { return JSONContainerShared::Release(*this); }

// ---------------------------------------------------------------------------
// Reading

VJSONValue VJSONArray::GetAt(size_t inIndex) const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    if (inIndex >= fValues.size())
        return VJSONValue(JSON_undefined);
    return VJSONValue(fValues[inIndex]);
}

bool VJSONArray::GetAt(size_t inIndex, VJSONValue& outValue) const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    if (inIndex >= fValues.size()) {
        outValue.SetUndefined();
        return false;
    }
    outValue = fValues[inIndex];
    return true;
}

void VJSONArray::GetValues(std::vector<VJSONValue>& outValues) const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    std::vector<VJSONValue> copies(fValues.begin(), fValues.end());
    outValues.swap(copies);
}

uint32_t VJSONArray::GetStampAt(size_t inIndex) const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    return inIndex < fValues.size() ? fValues[inIndex].GetStamp() : 0;
}

VError VJSONArray::GetString(VString& outText, std::unordered_set<const VJSONArray*>* ioVisited) const
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    if (fValues.empty()) {
        outText.Clear();
        return VE_OK;
    }
    std::unordered_set<const VJSONArray*> own;
    std::unordered_set<const VJSONArray*>* visited = ioVisited != nullptr ? ioVisited : &own;
    if (visited->count(this) != 0) {
        // An array met again inside itself: its place stays an empty field
        // and the failure travels up to the caller.
        VError error = QeltError(900);
        _ThrowError(error);
        return error;
    }
    visited->insert(this);
    VError error = VE_OK;
    std::vector<VString> texts(fValues.size());
    for (size_t i = 0; i < fValues.size(); ++i) {
        error = fValues[i].GetString(texts[i], visited);
        if (error != VE_OK)
            break;
    }
    visited->erase(this);

    long long total = static_cast<long long>(texts.size()) - 1;
    for (const VString& text : texts)
        total += text.GetLength();
    if (total >= INT_MAX) {
        VError tooLong = QeltError(107);
        _ThrowError(tooLong);
        return tooLong;
    }
    VString joined;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0)
            joined.AppendUniChar(',');
        joined.AppendString(texts[i]);
    }
    outText.FromString(joined);
    return error;
}

bool VJSONArray::DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions) const
{
    VJSONDeepEqualVisits visits;
    return _DeepEqualTo(inOther, inOptions, visits);
}

bool VJSONArray::_DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions,
                              VJSONDeepEqualVisits& ioVisits) const
{
    if (inOther == this)
        return true;
    if (inOther == nullptr)
        return false;
    // A pair already under comparison is taken as equal here.
    if (!ioVisits.insert(std::make_pair(static_cast<const void*>(this), static_cast<const void*>(inOther))).second)
        return true;
    StJSONContainerLocker lockThis(this, fStorageLocker != nullptr);
    StJSONContainerLocker lockOther(inOther, inOther->fStorageLocker != nullptr);
    if (fValues.size() != inOther->fValues.size())
        return false;
    for (size_t i = 0; i < fValues.size(); ++i) {
        const VJSONValue& a = fValues[i];
        const VJSONValue& b = inOther->fValues[i];
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
// Graph helpers

void VJSONArray::_UncountFrom(size_t inFrom)
{
    if (fGraph == nullptr)
        return;
    for (size_t i = inFrom; i < fValues.size(); ++i)
        UncountLink(fGraph, fValues[i]);
}

void VJSONArray::_DropFromGraph(const VJSONValue& inValue)
{
    if (fGraph == nullptr || !IsContainer(inValue))
        return;
    UncountLink(fGraph, inValue);
    VJSONGraph::ReleaseValueDependenciesIfNecessary(inValue);
}

void VJSONArray::DisconnectAll(size_t inFrom) { _UncountFrom(inFrom); }

void VJSONArray::ClearFromGraph()
{
    _UncountFrom(0);
    ValueList values;
    values.swap(fValues);
    DestroyLastFirst(values);
}

bool VJSONArray::_JoinStorage(const VJSONValue& inValue)
{
    if (VJSONObject* object = inValue.GetObject()) {
        if (object->_GetStorageLocker() == nullptr && object->GetImplementation() != nullptr) {
            bool needsLocker = false;
            if (object->GetImplementation()->IJSON_IsSharable(object, needsLocker) && !needsLocker)
                return true;
        }
        return fStorageLocker->Assign(object->_GetStorageLocker(), object, nullptr);
    }
    if (VJSONArray* array = inValue.GetArray())
        return fStorageLocker->Assign(array->fStorageLocker, nullptr, array);
    return true;
}

void VJSONArray::_StoreAt(size_t inIndex, const VJSONValue& inValue)
{
    // The old element is held until the new one is stored and connected;
    // then its link is uncounted and checked.
    // An array without graph holds no counted link: what it held was stored
    // without being connected, and the connection of the new element (which
    // may join the array's tree) does not count the old one.
    VJSONValue copy(inValue);
    VJSONValue old(std::move(fValues[inIndex]));
    const bool oldCounted = fGraph != nullptr;
    fValues[inIndex] = std::move(copy);
    if (IsContainer(fValues[inIndex]))
        VJSONGraph::Connect(&fGraph, fValues[inIndex], nullptr, this);
    if (oldCounted)
        _DropFromGraph(old);
}

// ---------------------------------------------------------------------------
// Changing

bool VJSONArray::_SetAtShared(size_t inIndex, const VJSONValue& inValue)
{
    StJSONContainerLocker lock(this, true);
    if (fStorageLocker == nullptr) {
        // The array stopped being shared meanwhile.
        if (inIndex >= fValues.size())
            return true;
        VJSONValue::CheckAndUpdateJsonStamp(inValue, fStamp);
        _StoreAt(inIndex, inValue);
        return true;
    }
    if (!fStorageLocker->IsUsedByCurrentTask()) {
        ThrowModelError(kErrorSharedArrayChange);
        return false;
    }
    if (IsContainer(inValue) && !_JoinStorage(inValue))
        return false;
    if (inIndex >= fValues.size())
        return true;
    if (fStamp != nullptr)
        fStamp->Increment();
    _StoreAt(inIndex, inValue);
    return true;
}

bool VJSONArray::SetAt(size_t inIndex, const VJSONValue& inValue)
{
    if (fStorageLocker != nullptr)
        return _SetAtShared(inIndex, inValue);
    StJSONContainerLocker lock(this, (fGraph != nullptr && fGraph->IsShared()) || ValueIsSharedGraph(inValue));
    if (inIndex >= fValues.size())
        return true;
    VJSONValue::CheckAndUpdateJsonStamp(inValue, fStamp);
    _StoreAt(inIndex, inValue);
    return true;
}

bool VJSONArray::SetAt_unchecked(size_t inIndex, const VJSONValue& inValue)
{
    if (fStorageLocker != nullptr)
        return SetAt(inIndex, inValue);
    // Callers guarantee the index; a wrong one is refused rather than
    // written past the end.
    if (inIndex >= fValues.size())
        return false;
    if (fStamp != nullptr)
        fStamp->Increment();
    if (!IsContainer(fValues[inIndex]) && !IsContainer(inValue)) {
        fValues[inIndex] = inValue;
        return true;
    }
    StJSONContainerLocker lock(this, (fGraph != nullptr && fGraph->IsShared()) || ValueIsSharedGraph(inValue));
    _StoreAt(inIndex, inValue);
    return true;
}

bool VJSONArray::Push(const VJSONValue& inValue)
{
    if (fStorageLocker == nullptr) {
        StJSONContainerLocker lock(this, (fGraph != nullptr && fGraph->IsShared()) || ValueIsSharedGraph(inValue));
        VJSONValue::CheckAndUpdateJsonStamp(inValue, fStamp);
        try {
            fValues.push_back(VJSONValue(inValue));
        } catch (const std::exception&) {
            return false;
        }
        if (IsContainer(fValues.back()))
            VJSONGraph::Connect(&fGraph, fValues.back(), nullptr, this);
        return true;
    }
    StJSONContainerLocker lock(this, true);
    if (fStorageLocker != nullptr && !fStorageLocker->IsUsedByCurrentTask()) {
        ThrowModelError(kErrorSharedArrayChange);
        return false;
    }
    try {
        fValues.push_back(VJSONValue(VJSONValue::sNull));
    } catch (const std::exception&) {
        return false;
    }
    return SetAt(fValues.size() - 1, inValue);
}

bool VJSONArray::_PushUnconnected(VJSONValue&& ioValue)
{
    if (fStorageLocker != nullptr || fGraph != nullptr)
        return false;
    VJSONValue::CheckAndUpdateJsonStamp(ioValue, fStamp);
    try {
        // Arrays of two (points, pairs) are common in what an import reads:
        // the first block holds two elements.
        if (fValues.capacity() == 0)
            fValues.reserve(2);
        fValues.push_back(std::move(ioValue));
        VJSONGraph::_NoteUnconnected(fUnjoined, fValues.back());
    } catch (const std::exception&) {
        // Dropped, as Push drops what it cannot append.
    }
    return true;
}

bool VJSONArray::_PushAllUnconnected(VJSONValue* ioValues, size_t inCount)
{
    if (fStorageLocker != nullptr || fGraph != nullptr)
        return false;
    if (fValues.empty() && fStamp == nullptr) {
        // A new array, as the importer hands it over: the list is made at
        // its exact size with the values moved in one run (moves do not
        // throw: a failure to allocate leaves the values with the caller).
        try {
            ValueList values(std::make_move_iterator(ioValues), std::make_move_iterator(ioValues + inCount));
            fValues.swap(values);
        } catch (const std::exception&) {
            return true;  // dropped, as Push drops what it cannot append
        }
        unsigned char mark = fUnjoined;
        for (const VJSONValue& value : fValues) {
            if (value.IsObject() || value.IsArray())
                VJSONGraph::_NoteUnconnected(mark, value);
        }
        fUnjoined = mark;
        return true;
    }
    try {
        fValues.reserve(fValues.size() + inCount);
    } catch (const std::exception&) {
        return true;  // dropped, as Push drops what it cannot append
    }
    // Only containers raise the unjoined mark, and a new array has no stamp
    // to spread: a list of numbers calls out for neither.
    for (size_t i = 0; i < inCount; ++i) {
        if (fStamp != nullptr)
            VJSONValue::CheckAndUpdateJsonStamp(ioValues[i], fStamp);
        fValues.push_back(std::move(ioValues[i]));
        if (fValues.back().IsObject() || fValues.back().IsArray())
            VJSONGraph::_NoteUnconnected(fUnjoined, fValues.back());
    }
    return true;
}

void VJSONArray::RemoveAt(size_t inIndex, size_t inCount)
{
    StJSONContainerLocker lock(this, JSONContainerShared::NeedsGraphLock(*this));
    if (inIndex >= fValues.size())
        return;
    if (fStorageLocker != nullptr && !fStorageLocker->IsUsedByCurrentTask()) {
        ThrowModelError(kErrorSharedArrayChange);
        return;
    }
    const size_t available = fValues.size() - inIndex;
    const size_t end = inIndex + (inCount < available ? inCount : available);
    if (end > inIndex) {
        // The removed elements leave the list first and are dropped from the
        // graph afterwards, so that a release of this array's own group
        // cannot pull the list from under the removal.
        std::vector<VJSONValue> removed;
        removed.reserve(end - inIndex);
        for (size_t i = inIndex; i < end; ++i)
            removed.push_back(std::move(fValues[i]));
        fValues.erase(fValues.begin() + static_cast<std::ptrdiff_t>(inIndex),
                      fValues.begin() + static_cast<std::ptrdiff_t>(end));
        for (const VJSONValue& value : removed)
            _DropFromGraph(value);
        DestroyLastFirst(removed);
    }
    if (fStamp != nullptr)
        fStamp->Increment();
}

bool VJSONArray::Resize(size_t inCount)
{
    StJSONContainerLocker lock(this, JSONContainerShared::NeedsGraphLock(*this));
    if (fStorageLocker != nullptr && !fStorageLocker->IsUsedByCurrentTask()) {
        ThrowModelError(kErrorSharedArrayChange);
        return false;
    }
    bool ok = true;
    if (inCount < fValues.size()) {
        std::vector<VJSONValue> removed;
        removed.reserve(fValues.size() - inCount);
        for (size_t i = inCount; i < fValues.size(); ++i)
            removed.push_back(std::move(fValues[i]));
        fValues.resize(inCount, VJSONValue::sNull);
        for (const VJSONValue& value : removed)
            _DropFromGraph(value);
        DestroyLastFirst(removed);
    } else if (inCount > fValues.size()) {
        try {
            fValues.resize(inCount, VJSONValue::sNull);
        } catch (const std::exception&) {
            ok = false;
        }
    }
    if (fStamp != nullptr)
        fStamp->Increment();
    return ok;
}

bool VJSONArray::Resize(size_t inCount, JSONType inType)
{
    StJSONContainerLocker lock(this, JSONContainerShared::NeedsGraphLock(*this));
    if (fStorageLocker != nullptr && !fStorageLocker->IsUsedByCurrentTask()) {
        ThrowModelError(kErrorSharedArrayChange);
        return false;
    }
    if (fStorageLocker == nullptr && fStamp != nullptr)
        fStamp->Increment();
    if (inCount < fValues.size()) {
        std::vector<VJSONValue> removed;
        removed.reserve(fValues.size() - inCount);
        for (size_t i = inCount; i < fValues.size(); ++i)
            removed.push_back(std::move(fValues[i]));
        fValues.resize(inCount, VJSONValue::sNull);
        for (const VJSONValue& value : removed)
            _DropFromGraph(value);
        DestroyLastFirst(removed);
        return true;
    }
    if (inCount == fValues.size())
        return true;
    try {
        VJSONValue prototype(inType);
        fValues.reserve(inCount);
        // Every new element refers to the same new container: each one is
        // connected as it is appended, so the graph counts every link once.
        while (fValues.size() < inCount) {
            fValues.push_back(prototype);
            if (IsContainer(fValues.back()))
                VJSONGraph::Connect(&fGraph, fValues.back(), nullptr, this);
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void VJSONArray::Clear()
{
    StJSONContainerLocker lock(this, JSONContainerShared::NeedsGraphLock(*this));
    if (fStorageLocker != nullptr && !fStorageLocker->IsUsedByCurrentTask()) {
        ThrowModelError(kErrorSharedArrayChange);
        return;
    }
    if (fStorageLocker == nullptr && fStamp != nullptr)
        fStamp->Increment();
    ValueList removed;
    removed.swap(fValues);
    for (const VJSONValue& value : removed)
        _DropFromGraph(value);
    DestroyLastFirst(removed);
}

bool VJSONArray::SwapValues(std::vector<VJSONValue>& ioValues)
{
    bool graphLock = JSONContainerShared::NeedsGraphLock(*this);
    for (const VJSONValue& value : ioValues)
        graphLock = graphLock || ValueIsSharedGraph(value);
    StJSONContainerLocker lock(this, graphLock);
    if (fStorageLocker != nullptr) {
        if (!fStorageLocker->IsUsedByCurrentTask()) {
            ThrowModelError(kErrorSharedArrayChange);
            return false;
        }
        for (const VJSONValue& value : ioValues) {
            if (IsContainer(value) && !_JoinStorage(value))
                return false;
        }
    }
    ValueList incoming;
    std::vector<VJSONValue> previous;
    try {
        incoming.reserve(ioValues.size());
        previous.reserve(fValues.size());
    } catch (const std::exception&) {
        return false;
    }
    if (fStamp != nullptr)
        fStamp->Increment();
    // The current elements leave the array and its graph's counts, and go
    // back to the caller (moved, their stamps kept); the new ones are
    // appended and connected one by one.
    _UncountFrom(0);
    for (VJSONValue& value : fValues)
        previous.push_back(std::move(value));
    ValueList emptied;
    emptied.swap(fValues);
    fValues.swap(incoming);
    for (const VJSONValue& value : ioValues) {
        fValues.push_back(value);
        if (IsContainer(fValues.back()))
            VJSONGraph::Connect(&fGraph, fValues.back(), nullptr, this);
    }
    ioValues.swap(previous);
    return true;
}

void VJSONArray::TouchStampAt(size_t inIndex)
{
    StJSONContainerLocker lock(this, fStorageLocker != nullptr);
    if (inIndex < fValues.size())
        fValues[inIndex]._TouchStamp();
}

void VJSONArray::SetJSONStamp(VJSONStamp* inStamp) { JSONContainerShared::SetJSONStamp(*this, inStamp); }

// ---------------------------------------------------------------------------
// Sharing

VRefPtr<VStorageLocker> VJSONArray::GetStorageLocker() const { return JSONContainerShared::GetStorageLocker(*this); }

void VJSONArray::SetStorageLocker(VStorageLocker* inLocker) { JSONContainerShared::SetStorageLocker(*this, inLocker); }

void VJSONArray::_SetStorageLocker(VStorageLocker* inLocker) { JSONContainerShared::Exchange(fStorageLocker, inLocker); }

int32_t VJSONArray::GetSharedID() const { return JSONContainerShared::GetSharedID(*this); }

bool VJSONArray::IsSharedGraph() const { return JSONContainerShared::IsSharedGraph(*this); }

}  // namespace qelt
