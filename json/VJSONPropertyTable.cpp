#include "json/VJSONPropertyTable.h"

#include <cstring>
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

size_t VJSONPropertyTable::Find(const VString& inName) const
{
    const size_t count = fEntries.size();
    if (fIndex.empty()) {
        for (size_t i = 0; i < count; ++i) {
            if (_SameName(fEntries[i].fName, inName))
                return i;
        }
        return kNotFound;
    }
    const size_t mask = fIndex.size() - 1;
    for (size_t slot = _Hash(inName) & mask;; slot = (slot + 1) & mask) {
        const uint32_t held = fIndex[slot];
        if (held == 0)
            return kNotFound;
        if (_SameName(fEntries[held - 1].fName, inName))
            return held - 1;
    }
}

void VJSONPropertyTable::_Place(std::vector<uint32_t>& ioIndex, uint32_t inHash, uint32_t inPosition)
{
    const size_t mask = ioIndex.size() - 1;
    size_t slot = inHash & mask;
    while (ioIndex[slot] != 0)
        slot = (slot + 1) & mask;
    ioIndex[slot] = inPosition + 1;
}

void VJSONPropertyTable::_BuildIndex(const Entries& inEntries, size_t inCount, std::vector<uint32_t>& outIndex)
{
    outIndex.clear();
    if (inCount <= kIndexThreshold)
        return;
    size_t slots = 16;
    while (slots < inCount * 2)
        slots *= 2;
    outIndex.assign(slots, 0);
    const size_t present = inEntries.size() < inCount ? inEntries.size() : inCount;
    for (size_t i = 0; i < present; ++i)
        _Place(outIndex, _Hash(inEntries[i].fName), static_cast<uint32_t>(i));
}

VJSONPropertyEntry& VJSONPropertyTable::Append(const VString& inName, VJSONValue&& ioValue)
{
    return Append(VString(inName), std::move(ioValue));
}

VJSONPropertyEntry& VJSONPropertyTable::Append(VString&& ioName, VJSONValue&& ioValue)
{
    const size_t count = fEntries.size();
    if (fEntries.capacity() == count)
        fEntries.reserve(count < 4 ? 4 : count * 2);
    // The index grows before the entry goes in, so that a failure to grow
    // leaves the table as it was.
    const size_t newCount = count + 1;
    if (newCount > kIndexThreshold && fIndex.size() < newCount * 2) {
        std::vector<uint32_t> index;
        _BuildIndex(fEntries, newCount, index);
        fIndex.swap(index);
    }
    fEntries.push_back(VJSONPropertyEntry{std::move(ioName), std::move(ioValue)});
    VJSONPropertyEntry& entry = fEntries.back();
    if (!fIndex.empty())
        _Place(fIndex, _Hash(entry.fName), static_cast<uint32_t>(count));
    return entry;
}

void VJSONPropertyTable::Reserve(size_t inCount)
{
    fEntries.reserve(inCount);
    if (inCount > kIndexThreshold && fIndex.size() < inCount * 2) {
        std::vector<uint32_t> index;
        _BuildIndex(fEntries, inCount, index);
        fIndex.swap(index);
    }
}

void VJSONPropertyTable::Erase(size_t inPosition)
{
    fEntries.erase(fEntries.begin() + static_cast<std::ptrdiff_t>(inPosition));
    if (fIndex.empty())
        return;
    // Positions after the removed one changed: the index is made again (a
    // removal already moves every later entry).
    try {
        _BuildIndex(fEntries, fEntries.size(), fIndex);
    } catch (const std::bad_alloc&) {
        // Without room for an index, lookups scan.
        fIndex.clear();
        fIndex.shrink_to_fit();
    }
}

void VJSONPropertyTable::Clear()
{
    fEntries.clear();
    fIndex.clear();
}

void VJSONPropertyTable::Swap(VJSONPropertyTable& ioOther) noexcept
{
    fEntries.swap(ioOther.fEntries);
    fIndex.swap(ioOther.fIndex);
}

}  // namespace qelt
