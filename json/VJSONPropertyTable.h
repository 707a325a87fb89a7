// The own properties of a JSON object: a flat array of name and value pairs
// kept in insertion order, so that the position of a property is its
// insertion index and walking the array lists the properties in the order
// they were first set. Small objects are searched by a scan; above
// kIndexThreshold properties an open-addressed hash index of positions
// answers lookups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "json/VJSONRegion.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"

namespace qelt {

struct VJSONPropertyEntry {
    VString fName;
    VJSONValue fValue;
};

class VJSONPropertyTable {
public:
    // Objects with at most this many properties are searched by a scan.
    static constexpr size_t kIndexThreshold = 8;
    static constexpr size_t kNotFound = static_cast<size_t>(-1);

    VJSONPropertyTable() = default;
    VJSONPropertyTable(const VJSONPropertyTable&) = delete;
    VJSONPropertyTable& operator=(const VJSONPropertyTable&) = delete;

    size_t size() const { return fEntries.size(); }
    bool empty() const { return fEntries.empty(); }
    VJSONPropertyEntry* begin() { return fEntries.data(); }
    VJSONPropertyEntry* end() { return fEntries.data() + fEntries.size(); }
    const VJSONPropertyEntry* begin() const { return fEntries.data(); }
    const VJSONPropertyEntry* end() const { return fEntries.data() + fEntries.size(); }
    VJSONPropertyEntry& operator[](size_t inPosition) { return fEntries[inPosition]; }
    const VJSONPropertyEntry& operator[](size_t inPosition) const { return fEntries[inPosition]; }

    // The position of the name, or kNotFound.
    size_t Find(const VString& inName) const;
    // The stored value of the name, or null.
    const VJSONValue* FindValue(const VString& inName) const
    {
        const size_t position = Find(inName);
        return position == kNotFound ? nullptr : &fEntries[position].fValue;
    }
    VJSONValue* FindValue(const VString& inName)
    {
        const size_t position = Find(inName);
        return position == kNotFound ? nullptr : &fEntries[position].fValue;
    }
    // Appends a name that is not in the table. Throws std::bad_alloc with
    // the table unchanged (the value is then left as it was).
    VJSONPropertyEntry& Append(const VString& inName, VJSONValue&& ioValue);
    VJSONPropertyEntry& Append(VString&& ioName, VJSONValue&& ioValue);
    // Makes room for inCount entries in all, the index included, so that
    // appending up to that many allocates nothing more.
    void Reserve(size_t inCount);
    // Removes the entry at the position; the later ones move down by one.
    void Erase(size_t inPosition);
    void Clear();
    void Swap(VJSONPropertyTable& ioOther) noexcept;

private:
    static uint32_t _Hash(const VString& inName);
    static bool _SameName(const VString& inA, const VString& inB);
    // Rebuilds the index for a table of inCount entries (empty at or below
    // the threshold).
    using Entries = std::vector<VJSONPropertyEntry, VJSONRegionAllocator<VJSONPropertyEntry>>;
    static void _BuildIndex(const Entries& inEntries, size_t inCount, std::vector<uint32_t>& outIndex);
    static void _Place(std::vector<uint32_t>& ioIndex, uint32_t inHash, uint32_t inPosition);

    // In the region of the import that made the object, if any.
    Entries fEntries;
    // Slots hold a position plus one (0 is a free slot); a power of two at
    // least twice the number of entries.
    std::vector<uint32_t> fIndex;
};

}  // namespace qelt
