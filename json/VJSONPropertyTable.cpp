#include "json/VJSONPropertyTable.h"

#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "json/VJSONObject.h"

namespace qelt {

namespace {

// Four UTF-16 units as one 64-bit word.
inline uint64_t LoadFourUnits(const UniChar* inUnits)
{
    uint64_t word;
    std::memcpy(&word, inUnits, sizeof(word));
    return word;
}

// Folds a word into a lane: the product carries each bit of the word up to
// the high bits, the rotation brings those back down for the next word.
inline uint64_t Mix(uint64_t inLane, uint64_t inWord, uint64_t inFactor)
{
    const uint64_t product = (inLane ^ inWord) * inFactor;
    return (product << 31) | (product >> 33);
}

}  // namespace

uint32_t VJSONPropertyTable::Hash(const VString& inName)
{
    const int length = inName.GetLength();
    const UniChar* units = inName.GetCPointer();
    uint64_t first = static_cast<uint64_t>(length) * 0x9E3779B97F4A7C15ull;
    uint64_t second = 0xC2B2AE3D27D4EB4Full;
    int i = 0;
    // Every unit counts, four at a time in two independent lanes: names that
    // objects share often differ in a single unit anywhere (a digit in the
    // middle of "item_0012_name"), and names that left units out would
    // share slots, which a text could also do on purpose to make every
    // look-up walk the whole table.
    for (; i + 8 <= length; i += 8) {
        first = Mix(first, LoadFourUnits(units + i), 0x165667B19E3779F9ull);
        second = Mix(second, LoadFourUnits(units + i + 4), 0xD6E8FEB86659FD93ull);
    }
    if (i + 4 <= length) {
        first = Mix(first, LoadFourUnits(units + i), 0x165667B19E3779F9ull);
        i += 4;
    }
    if (i < length) {
        // The one to three units left: the last four units again when the
        // name has them, else the short name's units packed.
        uint64_t word = 0;
        if (length >= 4) {
            word = LoadFourUnits(units + length - 4);
        } else {
            for (int j = 0; j < length; ++j)
                word = (word << 16) | units[j];
        }
        second = Mix(second, word, 0xD6E8FEB86659FD93ull);
    }
    uint64_t mixed = first ^ second;
    mixed ^= mixed >> 32;
    mixed *= 0xD6E8FEB86659FD93ull;
    return static_cast<uint32_t>(mixed >> 32);
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
    return _FindIndexed(inName, Hash(inName));
}

size_t VJSONPropertyTable::_FindIndexed(const VString& inName, uint32_t inHash) const
{
    const size_t mask = fIndex[0] - 1;
    const uint32_t* slots = fIndex + 1;
    for (size_t slot = inHash & mask;; slot = (slot + 1) & mask) {
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
        _Place(index, Hash(inEntries[i].fName), static_cast<uint32_t>(i));
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
    return _Append(std::move(ioName), std::move(ioValue), nullptr);
}

template <class Name>
VJSONValue& VJSONPropertyTable::_FindOrAppend(Name&& ioName, VJSONValue&& ioValue, bool& outAppended)
{
    // A name passed to be moved goes in as it is, so that a failure to grow
    // leaves it with the caller, as Append does.
    auto append = [&](const uint32_t* inHash) -> VJSONValue& {
        if constexpr (std::is_lvalue_reference_v<Name>)
            return _Append(VString(ioName), std::move(ioValue), inHash).fValue;
        else
            return _Append(std::move(ioName), std::move(ioValue), inHash).fValue;
    };
    outAppended = false;
    if (fIndex == nullptr) {
        for (uint32_t i = 0; i < fCount; ++i) {
            if (_SameName(fEntries[i].fName, ioName))
                return fEntries[i].fValue;
        }
        VJSONValue& stored = append(nullptr);
        outAppended = true;
        return stored;
    }
    const uint32_t hash = Hash(ioName);
    const size_t position = _FindIndexed(ioName, hash);
    if (position != kNotFound)
        return fEntries[position].fValue;
    VJSONValue& stored = append(&hash);
    outAppended = true;
    return stored;
}

VJSONValue& VJSONPropertyTable::FindOrAppend(const VString& inName, VJSONValue&& ioValue, bool& outAppended)
{
    return _FindOrAppend(inName, std::move(ioValue), outAppended);
}

VJSONValue& VJSONPropertyTable::FindOrAppend(VString&& ioName, VJSONValue&& ioValue, bool& outAppended)
{
    return _FindOrAppend(std::move(ioName), std::move(ioValue), outAppended);
}

VJSONPropertyEntry& VJSONPropertyTable::_Append(VString&& ioName, VJSONValue&& ioValue, const uint32_t* inHash)
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
        _Place(fIndex, inHash != nullptr ? *inHash : Hash(entry->fName), static_cast<uint32_t>(count));
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
