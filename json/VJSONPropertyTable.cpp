#include "json/VJSONPropertyTable.h"

#include <cstring>
#include <new>
#include <utility>

#include "json/VJSONObject.h"

namespace qelt {

uint32_t VJSONPropertyTable::_Hash(const VString& inName)
{
    return static_cast<uint32_t>(VJSONPropertyNameHash()(inName));
}

bool VJSONPropertyTable::_SameName(const VString& inA, const VString& inB)
{
    const int length = inA.GetLength();
    if (length != inB.GetLength())
        return false;
    const UniChar* a = inA.GetCPointer();
    const UniChar* b = inB.GetCPointer();
    // Names an importer made share one block: the same units.
    if (a == b || length == 0)
        return true;
    return std::memcmp(a, b, static_cast<size_t>(length) * sizeof(UniChar)) == 0;
}

VJSONPropertyTable::~VJSONPropertyTable() { Clear(); }

size_t VJSONPropertyTable::Find(const VString& inName) const
{
    const size_t count = fCount;
    if (fIndex == nullptr) {
        for (size_t i = 0; i < count; ++i) {
            if (_SameName(fEntries[i].fName, inName))
                return i;
        }
        return kNotFound;
    }
    const size_t mask = fIndex[0] - 1;
    const uint32_t* slots = fIndex + 1;
    for (size_t slot = _Hash(inName) & mask;; slot = (slot + 1) & mask) {
        const uint32_t held = slots[slot];
        if (held == 0)
            return kNotFound;
        if (_SameName(fEntries[held - 1].fName, inName))
            return held - 1;
    }
}

void VJSONPropertyTable::_Place(uint32_t* ioIndex, uint32_t inHash, uint32_t inPosition)
{
    const size_t mask = ioIndex[0] - 1;
    uint32_t* slots = ioIndex + 1;
    size_t slot = inHash & mask;
    while (slots[slot] != 0)
        slot = (slot + 1) & mask;
    slots[slot] = inPosition + 1;
}

uint32_t* VJSONPropertyTable::_NewIndex(const VJSONPropertyEntry* inEntries, size_t inPresent, size_t inCount)
{
    if (inCount <= kIndexThreshold)
        return nullptr;
    size_t slots = 16;
    while (slots < inCount * 2)
        slots *= 2;
    if (slots > UINT32_MAX / 2)
        throw std::bad_alloc();
    uint32_t* index = static_cast<uint32_t*>(VJSONRegion::Allocate((slots + 1) * sizeof(uint32_t)));
    index[0] = static_cast<uint32_t>(slots);
    std::memset(index + 1, 0, slots * sizeof(uint32_t));
    for (size_t i = 0; i < inPresent; ++i)
        _Place(index, _Hash(inEntries[i].fName), static_cast<uint32_t>(i));
    return index;
}

void VJSONPropertyTable::_FreeIndex(uint32_t* inIndex) noexcept
{
    if (inIndex != nullptr)
        VJSONRegion::Free(inIndex, (static_cast<size_t>(inIndex[0]) + 1) * sizeof(uint32_t));
}

void VJSONPropertyTable::_Grow(size_t inCapacity)
{
    if (inCapacity > UINT32_MAX / 2 || inCapacity > static_cast<size_t>(-1) / sizeof(VJSONPropertyEntry))
        throw std::bad_alloc();
    auto* entries = static_cast<VJSONPropertyEntry*>(VJSONRegion::Allocate(inCapacity * sizeof(VJSONPropertyEntry)));
    // Names and values move without throwing.
    for (uint32_t i = 0; i < fCount; ++i) {
        new (&entries[i]) VJSONPropertyEntry{std::move(fEntries[i].fName), std::move(fEntries[i].fValue)};
        fEntries[i].~VJSONPropertyEntry();
    }
    if (fEntries != nullptr)
        VJSONRegion::Free(fEntries, fCapacity * sizeof(VJSONPropertyEntry));
    fEntries = entries;
    fCapacity = static_cast<uint32_t>(inCapacity);
}

VJSONPropertyEntry& VJSONPropertyTable::Append(const VString& inName, VJSONValue&& ioValue)
{
    return Append(VString(inName), std::move(ioValue));
}

VJSONPropertyEntry& VJSONPropertyTable::Append(VString&& ioName, VJSONValue&& ioValue)
{
    const size_t count = fCount;
    // The index grows before the entry goes in, so that a failure to grow
    // leaves the table as it was.
    const size_t newCount = count + 1;
    if (newCount > kIndexThreshold && (fIndex == nullptr || fIndex[0] < newCount * 2)) {
        uint32_t* index = _NewIndex(fEntries, count, newCount);
        _FreeIndex(fIndex);
        fIndex = index;
    }
    if (fCapacity == count)
        _Grow(count < 4 ? 4 : count * 2);
    VJSONPropertyEntry* entry = new (&fEntries[count]) VJSONPropertyEntry{std::move(ioName), std::move(ioValue)};
    fCount = static_cast<uint32_t>(newCount);
    if (fIndex != nullptr)
        _Place(fIndex, _Hash(entry->fName), static_cast<uint32_t>(count));
    return *entry;
}

void VJSONPropertyTable::Reserve(size_t inCount)
{
    if (inCount > fCapacity)
        _Grow(inCount);
    if (inCount > kIndexThreshold && (fIndex == nullptr || fIndex[0] < inCount * 2)) {
        uint32_t* index = _NewIndex(fEntries, fCount, inCount);
        _FreeIndex(fIndex);
        fIndex = index;
    }
}

void VJSONPropertyTable::Erase(size_t inPosition)
{
    for (size_t i = inPosition; i + 1 < fCount; ++i) {
        fEntries[i].fName = std::move(fEntries[i + 1].fName);
        fEntries[i].fValue = std::move(fEntries[i + 1].fValue);
    }
    --fCount;
    fEntries[fCount].~VJSONPropertyEntry();
    if (fIndex == nullptr)
        return;
    // Positions after the removed one changed: the index is made again (a
    // removal already moves every later entry).
    uint32_t* index = nullptr;
    try {
        index = _NewIndex(fEntries, fCount, fCount);
    } catch (const std::bad_alloc&) {
        // Without room for an index, lookups scan.
    }
    _FreeIndex(fIndex);
    fIndex = index;
}

void VJSONPropertyTable::Clear()
{
    // The table is emptied before its entries go, first to last: what a
    // dropped value releases may reach this table again and must find it
    // empty, not half destroyed.
    VJSONPropertyEntry* entries = fEntries;
    const uint32_t count = fCount;
    const uint32_t capacity = fCapacity;
    uint32_t* index = fIndex;
    fEntries = nullptr;
    fCount = 0;
    fCapacity = 0;
    fIndex = nullptr;
    _FreeIndex(index);
    for (uint32_t i = 0; i < count; ++i)
        entries[i].~VJSONPropertyEntry();
    if (entries != nullptr)
        VJSONRegion::Free(entries, capacity * sizeof(VJSONPropertyEntry));
}

void VJSONPropertyTable::Swap(VJSONPropertyTable& ioOther) noexcept
{
    std::swap(fEntries, ioOther.fEntries);
    std::swap(fCount, ioOther.fCount);
    std::swap(fCapacity, ioOther.fCapacity);
    std::swap(fIndex, ioOther.fIndex);
}

}  // namespace qelt
