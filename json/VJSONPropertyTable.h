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
    VJSONPropertyEntry(const VString& inName, VJSONValue&& ioValue) : fName(inName), fValue(std::move(ioValue)) {}
    VJSONPropertyEntry(VString&& ioName, VJSONValue&& ioValue) noexcept
        : fName(std::move(ioName)), fValue(std::move(ioValue))
    {
    }
    // The name's block shared with a plain count (VString::LocalShareTag).
    VJSONPropertyEntry(const VString& inName, VString::LocalShareTag inTag, VJSONValue&& ioValue)
        : fName(inName, inTag), fValue(std::move(ioValue))
    {
    }

    VString fName;
    VJSONValue fValue;
};

class VJSONPropertyTable {
public:
    // Objects with at most this many properties are searched by a scan.
    static constexpr size_t kIndexThreshold = 8;
    static constexpr size_t kNotFound = static_cast<size_t>(-1);
    // The index's hash of a name; every unit of the name counts.
    static uint32_t Hash(const VString& inName);

    VJSONPropertyTable() = default;
    ~VJSONPropertyTable();
    VJSONPropertyTable(const VJSONPropertyTable&) = delete;
    VJSONPropertyTable& operator=(const VJSONPropertyTable&) = delete;

    size_t size() const { return fCount; }
    bool empty() const { return fCount == 0; }
    VJSONPropertyEntry* begin() { return fEntries; }
    VJSONPropertyEntry* end() { return fEntries + fCount; }
    const VJSONPropertyEntry* begin() const { return fEntries; }
    const VJSONPropertyEntry* end() const { return fEntries + fCount; }
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
    // The stored value of the name when the table has it (outAppended
    // false, ioValue untouched); otherwise the name is appended with the
    // value moved in (outAppended true). One lookup, the name hashed at
    // most once. Throws std::bad_alloc as Append does.
    VJSONValue& FindOrAppend(const VString& inName, VJSONValue&& ioValue, bool& outAppended);
    VJSONValue& FindOrAppend(VString&& ioName, VJSONValue&& ioValue, bool& outAppended);
    // Makes room for inCount entries in all, the index included, so that
    // appending up to that many allocates nothing more.
    void Reserve(size_t inCount);
    // Removes the entry at the position; the later ones move down by one.
    void Erase(size_t inPosition);
    void Clear();
    void Swap(VJSONPropertyTable& ioOther) noexcept;

private:
    // The position of the name in an indexed table, its hash given.
    size_t _FindIndexed(const VString& inName, uint32_t inHash) const;
    // Appends with the name's hash when already known (inHash null: hashed
    // here if the table is or becomes indexed).
    VJSONPropertyEntry& _Append(VString&& ioName, VJSONValue&& ioValue, const uint32_t* inHash);
    template <class Name>
    VJSONValue& _FindOrAppend(Name&& ioName, VJSONValue&& ioValue, bool& outAppended);
    static bool _SameName(const VString& inA, const VString& inB);
    // The index of a table of inCount entries placed in new memory (null at
    // or below the threshold); throws std::bad_alloc.
    static uint32_t* _NewIndex(const VJSONPropertyEntry* inEntries, size_t inPresent, size_t inCount);
    static void _FreeIndex(uint32_t* inIndex) noexcept;
    static void _Place(uint32_t* ioIndex, uint32_t inHash, uint32_t inPosition);
    // Moves the entries into a list of inCapacity entries; throws
    // std::bad_alloc with the table unchanged.
    void _Grow(size_t inCapacity);

    // The entries, in the region of the import that made the object, if any
    // (VJSONRegion). A count and a capacity of 32 bits and a bare index
    // pointer keep the table at 24 bytes: an import makes objects by the ten
    // thousand, most of them small.
    VJSONPropertyEntry* fEntries = nullptr;
    uint32_t fCount = 0;
    uint32_t fCapacity = 0;
    // Null, or the index: its first word is the number of slots (a power of
    // two at least twice the number of entries), then the slots, each a
    // position plus one (0 is a free slot).
    uint32_t* fIndex = nullptr;
};

}  // namespace qelt
