// Packed dictionaries: the attribute store and the element-name store of a
// value bag. Key names sit back to back in one byte vector, each behind a
// length byte; a vector of fixed-size slots refers into it; a hash index
// speeds up lookups from six keys on. The attribute dictionary also keeps its
// values serialised back to back in a vector of 16-bit units (the backstore):
// a value becomes an object only when a caller needs one, and changed values
// are written back by a pack step before the dictionary is copied or streamed.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "values/StPackedDictionaryKey.h"
#include "values/_VHashKeyMap.h"

namespace qelt {

class VStream;
class VValueSingle;
class VValueInfo;
class VBagArray;

// Tags naming what a dictionary stores.
class VPackedValue_VValueSingle {
public:
    // Writes the value's kind and raw form into the record at `record` when
    // the record has exactly the size the value needs; false otherwise.
    static bool SaveValueCheckSpace(const VValueSingle& value, void* record);
};
class VPackedValue_VBagArray {};

template <class V>
struct _VPackedDictionary_with_backstore_slot;
template <class V>
struct _VPackedDictionary_slot;

template <>
struct _VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle> {
    unsigned long long fKeyOffset = 0;    // position of the key's length byte
    unsigned long long fValueOffset = 0;  // position of the record, in units
    // Owned object holding the value, or null. A record has no null flag,
    // so a null value is always held here (also in copies of the
    // dictionary); the stream form writes its record alone.
    VValueSingle* fAttached = nullptr;
};

template <>
struct _VPackedDictionary_slot<VPackedValue_VBagArray> {
    unsigned long long fKeyOffset = 0;
    VBagArray* fList = nullptr;  // one reference held
};

// What the two dictionaries share: the key bytes, the slots, the index.
template <class SLOT>
class VPackedDictionary_base : public VObject {
public:
    // Dictionaries of this many keys or more get a hash index.
    static constexpr size_t kIndexThreshold = 6;

    VPackedDictionary_base() = default;
    VPackedDictionary_base(const VPackedDictionary_base& other);
    VPackedDictionary_base& operator=(const VPackedDictionary_base& other);
    ~VPackedDictionary_base() override = default;

    size_t GetCount() const { return fSlots.size(); }

    // The key of slot i (0-based), borrowing the dictionary's bytes.
    StPackedDictionaryKey GetKeyAt(size_t i) const;
    const char* GetKeyBytesAt(size_t i, unsigned long& length) const;

    // Position of the slot holding an equal key, or GetCount() when absent.
    // May build the index; safe while other threads also read the
    // dictionary (but not while one changes it).
    // A dictionary below the index threshold is scanned here, in line:
    // most bags are that small, and the scan is a few compares. Larger ones
    // go through the index, out of line.
    size_t _Find(const StPackedDictionaryKey& key) const
    {
        size_t n = fSlots.size();
        if (n >= kIndexThreshold || !fIndex.IsEmpty())
            return _FindIndexed(key);
        // Keys are compared only where the hashes agree. A key that may not
        // be stored is never found (its hash is 0, as an empty key's is).
        const unsigned int hash = static_cast<unsigned int>(key.GetHash());
        const unsigned int* hashes = fKeyHashes.data();
        size_t found = n;
        unsigned long long compares = 0;
        for (size_t i = 0; i < n; ++i) {
            if (hashes[i] == hash) {
                ++compares;
                if (_KeyEquals(i, key) && key.IsStorable()) {
                    found = i;
                    break;
                }
            }
        }
        _CountCompares(compares);
        return found;
    }

    // Appends key and slot (whose key offset the caller set to the current
    // size of the key bytes). False, with nothing appended, when the key is
    // not storable (longer than 255 bytes) or memory runs out.
    bool _AppendKeyAndSlot(const StPackedDictionaryKey& key, const SLOT& slot);

    VError _WriteKeysToStream(VStream* stream, bool withIndex) const;
    // Reads a key block, checking every count, length and index cell against
    // the bytes really there.
    VError _ReadKeysFromStream(VStream* stream);

    bool HasIndex() const { return !fIndex.IsEmpty(); }
    unsigned long GetIndexCellCount() const { return fIndex.GetCount(); }
    unsigned long long GetKeyBytesSize() const { return fKeyBytes.size(); }

    // Number of key comparisons made by lookups so far (for tests).
    unsigned long long GetCompareCount() const { return fCompareCount.load(std::memory_order_relaxed); }

protected:
    void _BuildIndex() const;
    // Builds the index a dictionary of kIndexThreshold keys or more lacks,
    // once: readers of one dictionary in several threads may all arrive
    // here, one builds and the others wait, then all read the same index.
    void _EnsureIndex() const
    {
        if (!fIndexSettled.load(std::memory_order_acquire))
            _SettleIndex();
    }
    [[gnu::noinline, gnu::cold]] void _SettleIndex() const;
    // Called by every change of keys or index (no reader runs meanwhile):
    // an empty index that is not refused is left for the next reader to
    // build.
    void _NoteIndexChanged()
    {
        fIndexSettled.store(!fIndex.IsEmpty() || fIndexRefused, std::memory_order_relaxed);
    }
    // Takes the other dictionary's index, or none while the other's is
    // still to be built (perhaps by a reader at this moment).
    void _CopyIndexFrom(const VPackedDictionary_base& other);
    // Cuts slot i's key out of the key bytes, lowers later key offsets,
    // removes the slot and drops the index.
    void _RemoveKeyAndSlot(size_t i);
    void _ClearKeys();
    bool _KeyEquals(size_t i, const StPackedDictionaryKey& key) const
    {
        const unsigned char* stored = fKeyBytes.data() + fSlots[i].fKeyOffset;
        return stored[0] == key.GetKeyLength() &&
               StPackedDictionaryKey::SameBytes(key.GetKeyPtr(), reinterpret_cast<const char*>(stored + 1),
                                                stored[0]);
    }
    // _Find for a dictionary that has, or should have, an index.
    size_t _FindIndexed(const StPackedDictionaryKey& key) const;
    // Adds a lookup's comparisons to the count. A relaxed load and store,
    // not an atomic add: readers in several threads may lose a few counts,
    // but never race, and a lone reader pays no locked instruction.
    void _CountCompares(unsigned long long compares) const
    {
        fCompareCount.store(fCompareCount.load(std::memory_order_relaxed) + compares, std::memory_order_relaxed);
    }

    std::vector<unsigned char> fKeyBytes;
    std::vector<SLOT> fSlots;
    // The hash of every key, in slot order: kept in memory only, so that a
    // look-up passes keys of another hash without reading them.
    std::vector<unsigned int> fKeyHashes;
    mutable _VHashKeyMap fIndex;
    // Set when building the index took too many probes (keys made to
    // collide): the dictionary then works by linear search until a key is
    // removed or the dictionary is emptied or read anew.
    mutable bool fIndexRefused = false;
    // True once the index is as it should be for the present keys (built,
    // refused, or not wanted). fIndex and fIndexRefused change in a const
    // call only while this is false and under a lock; it is set with
    // release order after they are written.
    mutable std::atomic<bool> fIndexSettled{false};
    mutable std::atomic<unsigned long long> fCompareCount{0};
};

template <class V>
class VPackedDictionary_with_backstore;
template <class V>
class VPackedDictionary;

// The attribute dictionary.
template <>
class VPackedDictionary_with_backstore<VPackedValue_VValueSingle>
    : public VPackedDictionary_base<_VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>> {
public:
    using Slot = _VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>;

    VPackedDictionary_with_backstore() = default;
    VPackedDictionary_with_backstore(const VPackedDictionary_with_backstore& other);
    VPackedDictionary_with_backstore& operator=(const VPackedDictionary_with_backstore& other);
    ~VPackedDictionary_with_backstore() override;

    // False when the key is absent (nothing changes); else the slot takes the value.
    bool SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value);
    // Adds the key with the value at the end, without looking for an equal
    // key. False when the key is not storable or memory runs out.
    bool Append(const StPackedDictionaryKey& key, const VValueSingle& value);
    // False when absent; else `dest` takes the value (unchanged for a record
    // of an unknown kind).
    bool GetValue(const StPackedDictionaryKey& key, VValueSingle& dest) const;
    // Removes one key and its value.
    void Clear(const StPackedDictionaryKey& key);
    // Removes everything.
    void ClearAll();

    // The value object of slot i, made from its record and attached when
    // needed; null for a record of an unknown kind or a kind that is not a
    // single value. The dictionary keeps owning it.
    VValueSingle* GetValueAt(size_t i) const;
    // Puts `value` (adopted) in slot i in place of its object and marks the
    // dictionary for packing.
    void ReplaceAttachedAt(size_t i, VValueSingle* value);
    void SetNeedsPack() const { fNeedsPack = true; }
    bool NeedsPack() const { return fNeedsPack; }

    // Brings the backstore in line with the attached values.
    void _Pack() const;

    VError WriteToStream(VStream* stream, bool withIndex) const;
    VError ReadFromStream(VStream* stream);

    // Read-only views used by tests and the stream writer.
    const std::vector<unsigned short>& GetBackstore() const { return fBackstore; }
    unsigned long long GetValueOffsetAt(size_t i) const { return fSlots[i].fValueOffset; }
    bool HasAttachedValueAt(size_t i) const { return fSlots[i].fAttached != nullptr; }

    // Byte size of the record at `record` (kind word included), by the
    // record size rule.
    static unsigned long RecordByteSize(const unsigned short* record);

private:
    // The object attached to a slot, read so that a reader attaching one in
    // another thread (GetValueAt) is seen whole.
    static VValueSingle* _LoadAttached(const Slot& slot)
    {
        return std::atomic_ref<VValueSingle*>(const_cast<Slot&>(slot).fAttached).load(std::memory_order_acquire);
    }
    void _DeleteAttached();
    void _WriteRecord(unsigned long long unitOffset, const VValueSingle& value) const;
    void _SwapRecords(bool fromNative) const;
    VError _CheckAndSwapReadRecords(bool swap);

    mutable std::vector<unsigned short> fBackstore;
    mutable bool fNeedsPack = false;
};

// The element-name dictionary: each name holds one list of child bags.
template <>
class VPackedDictionary<VPackedValue_VBagArray>
    : public VPackedDictionary_base<_VPackedDictionary_slot<VPackedValue_VBagArray>> {
public:
    using Slot = _VPackedDictionary_slot<VPackedValue_VBagArray>;

    VPackedDictionary() = default;
    // Deep copy: every list is replaced by a copy of it.
    VPackedDictionary(const VPackedDictionary& other);
    VPackedDictionary& operator=(const VPackedDictionary&) = delete;
    ~VPackedDictionary() override;

    // Stores the list under the key (retained; the former list released),
    // appending the key when absent. A null list is refused: false.
    bool SetValue(const StPackedDictionaryKey& key, VBagArray* list);
    // Appends a key with the list, adopting the caller's reference. False
    // (the reference still the caller's) when the key cannot be stored.
    bool AppendAdopt(const StPackedDictionaryKey& key, VBagArray* list);
    VBagArray* GetValue(const StPackedDictionaryKey& key) const;
    VBagArray* GetValueAt(size_t i) const { return fSlots[i].fList; }
    // Removes the key and releases its list.
    void Remove(const StPackedDictionaryKey& key);
    void RemoveAt(size_t i);
    void ClearAll();

    VError ReadFromStream(VStream* stream);
    VError WriteToStream(VStream* stream, bool withIndex) const;
};

}  // namespace qelt
