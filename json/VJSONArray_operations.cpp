// Whole-array operations of JSON arrays: sorting by a caller's order,
// concatenation, joining into a text and the selection ranges of a list.
#include <exception>
#include <vector>

#include "json/VJSONArray.h"
#include "json/VJSONGraph.h"
#include "json/VJSONUser.h"
#include "json/VStorageLocker.h"
#include "kernel/VCompareOptions.h"
#include "runtime/VErrorBase.h"
#include "values/ISortable.h"

namespace qelt {

namespace {

constexpr VError kErrorSharedArrayChange = MakeVError(kSignatureVQRT, -10720);
constexpr VError kErrorSortFailed = QeltError(917);

bool IsContainer(const VJSONValue& inValue) { return inValue.IsObject() || inValue.IsArray(); }

}  // namespace

IJSONValueComparator::~IJSONValueComparator() = default;

void VJSONArray::Sort(IJSONValueComparator* inComparator)
{
    if (fStorageLocker != nullptr) {
        VRefPtr<VStorageLocker> locker = GetStorageLocker();
        if (locker != nullptr && !locker->IsUsedByCurrentTask()) {
            _ThrowError(kErrorSharedArrayChange);
            return;
        }
    }
    const size_t count = fValues.size();
    std::vector<int> order;
    bool sorted = true;
    try {
        order.resize(count);
        for (size_t i = 0; i < count; ++i)
            order[i] = static_cast<int>(i);
        if (count > 1 && inComparator != nullptr) {
            // Positions are read through the order list, each checked against
            // the list as it stands: the sort never leaves the array whatever
            // the comparator answers.
            auto element = [this, &order](int inPosition) -> const VJSONValue& {
                const size_t index = static_cast<size_t>(order.at(static_cast<size_t>(inPosition)));
                return fValues.at(index);
            };
            auto compare = [&](int a, int b) -> int {
                if (inComparator->IsBefore(element(a), element(b)))
                    return CR_SMALLER;
                if (inComparator->IsBefore(element(b), element(a)))
                    return CR_BIGGER;
                return CR_EQUAL;
            };
            auto swap = [&order](int a, int b) { std::swap(order.at(static_cast<size_t>(a)), order.at(static_cast<size_t>(b))); };
            SortIndices(0, static_cast<int>(count) - 1, compare, swap);
        }
    } catch (...) {
        sorted = false;
    }
    if (!sorted) {
        _ThrowError(kErrorSortFailed);
    } else if (count == fValues.size()) {
        StJSONContainerLocker lock(this, fStorageLocker != nullptr || (fGraph != nullptr && fGraph->IsShared()));
        // The permutation, cycle by cycle, with moves: stamps travel with their elements.
        for (size_t i = 0; i < count; ++i) {
            if (order[i] == static_cast<int>(i))
                continue;
            VJSONValue held(std::move(fValues[i]));
            size_t j = i;
            while (static_cast<size_t>(order[j]) != i) {
                const size_t k = static_cast<size_t>(order[j]);
                fValues[j] = std::move(fValues[k]);
                order[j] = static_cast<int>(j);
                j = k;
            }
            fValues[j] = std::move(held);
            order[j] = static_cast<int>(j);
        }
    }
    if (fStamp != nullptr)
        fStamp->Increment();
}

bool VJSONArray::Concatenate(const VJSONArray& inOther)
{
    if (inOther.GetCount() == 0)
        return true;
    const bool graphLock = fStorageLocker != nullptr || (fGraph != nullptr && fGraph->IsShared()) ||
                           inOther._GetStorageLocker() != nullptr || inOther.IsSharedGraph();
    StJSONContainerLocker lock(this, graphLock);
    if (fStamp != nullptr)
        fStamp->Increment();
    try {
        fValues.reserve(fValues.size() + inOther.fValues.size());
        if (fStorageLocker != nullptr && !fStorageLocker->IsUsedByCurrentTask()) {
            _ThrowError(kErrorSharedArrayChange);
            return false;
        }
        const size_t count = inOther.fValues.size();
        for (size_t i = 0; i < count && i < inOther.fValues.size(); ++i) {
            const VJSONValue& value = inOther.fValues[i];
            if (fStorageLocker != nullptr) {
                if (IsContainer(value) && !_JoinStorage(value))
                    return false;
                VJSONValue::CheckAndUpdateJsonStamp(value, fStamp);
            }
            fValues.push_back(VJSONValue(value));
            if (IsContainer(fValues.back()))
                VJSONGraph::Connect(&fGraph, fValues.back(), nullptr, this);
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void VJSONArray::JoinAsString(const VString& inSeparator, VString& outText, bool inKeepEmptyTexts,
                              bool inNullAsText) const
{
    outText.Clear();
    VJSONUser user(this, false);
    const size_t count = GetCount();
    bool written = false;
    auto write = [&](const VString& inItem) {
        if (written)
            outText.AppendString(inSeparator);
        outText.AppendString(inItem);
        written = true;
    };
    VJSONValue element(JSON_undefined);
    for (size_t i = 0; i < count; ++i) {
        if (!GetAt(i, element))
            break;
        if (element.IsNull() || element.IsUndefined()) {
            if (inNullAsText)
                write(VJSONValue::sNullString);
            continue;
        }
        VString text;
        element.GetString(text);
        if ((text.IsNull() || text.IsEmpty()) && !inKeepEmptyTexts)
            continue;
        write(text);
    }
}

VJSONValue VJSONArray::GetSelectedRows(const VJSONValue& inSelection) const
{
    static const VString sRanges("ranges");
    static const VString sStart("start");
    static const VString sEnd("end");
    VJSONValue result(JSON_object);
    VJSONValue ranges(JSON_array);
    result.SetProperty(sRanges, ranges);
    const VJSONArray* selection = inSelection.GetArray();
    if (selection == nullptr)
        return result;
    VCompareOptions options;
    options.SetDiacritical(false);
    options.SetEpsilon(1e-06);
    VJSONUser useThis(this, false);
    VJSONUser useSelection(selection, false);
    std::vector<VJSONValue> wanted;
    selection->GetValues(wanted);
    auto addRange = [&](size_t inStart, size_t inEnd) {
        VJSONValue range(JSON_object);
        range.SetProperty(sStart, VJSONValue(static_cast<double>(inStart)));
        range.SetProperty(sEnd, VJSONValue(static_cast<double>(inEnd)));
        ranges.GetArray()->Push(range);
    };
    bool inRun = false;
    size_t runStart = 0;
    const size_t count = GetCount();
    VJSONValue element(JSON_undefined);
    for (size_t i = 0; i < count; ++i) {
        if (!GetAt(i, element))
            break;
        bool selected = false;
        for (const VJSONValue& candidate : wanted) {
            if (element.IsObject() || candidate.IsObject())
                selected = element.IsObject() && candidate.GetObject() == element.GetObject();
            else
                selected = element.CompareTo(candidate, options) == CR_EQUAL;
            if (selected)
                break;
        }
        if (selected && !inRun) {
            inRun = true;
            runStart = i;
        } else if (!selected && inRun) {
            inRun = false;
            addRange(runStart, i - 1);
        }
    }
    if (inRun)
        addRange(runStart, count - 1);
    return result;
}

}  // namespace qelt
