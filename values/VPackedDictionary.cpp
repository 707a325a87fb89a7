#include "values/VPackedDictionary.h"

#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>

#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"
#include "kernel/VThrowError.h"
#include "values/VBagArray.h"
#include "values/VBagStreamIO.h"

namespace qelt {

// ---------------------------------------------------------------------------
// Shared base
// ---------------------------------------------------------------------------

namespace {

// Serialises the building of indexes by readers. A dictionary builds its
// index at most once per change of its keys, so one lock for all of them
// is rarely contended.
std::mutex sIndexBuildMutex;

}  // namespace

template <class SLOT>
VPackedDictionary_base<SLOT>::VPackedDictionary_base(const VPackedDictionary_base& other)
    : VObject(other), fKeyBytes(other.fKeyBytes), fSlots(other.fSlots), fKeyHashes(other.fKeyHashes)
{
    _CopyIndexFrom(other);
}

template <class SLOT>
VPackedDictionary_base<SLOT>& VPackedDictionary_base<SLOT>::operator=(const VPackedDictionary_base& other)
{
    if (this != &other) {
        fKeyBytes = other.fKeyBytes;
        fSlots = other.fSlots;
        fKeyHashes = other.fKeyHashes;
        _CopyIndexFrom(other);
    }
    return *this;
}

template <class SLOT>
void VPackedDictionary_base<SLOT>::_CopyIndexFrom(const VPackedDictionary_base& other)
{
    if (other.fIndexSettled.load(std::memory_order_acquire)) {
        fIndex = other.fIndex;
        fIndexRefused = other.fIndexRefused;
    } else {
        fIndex.Clear();
        fIndexRefused = false;
    }
    _NoteIndexChanged();
}

template <class SLOT>
void VPackedDictionary_base<SLOT>::_SettleIndex() const
{
    std::lock_guard<std::mutex> lock(sIndexBuildMutex);
    if (fIndexSettled.load(std::memory_order_relaxed))
        return;  // another reader built it meanwhile
    if (fIndex.IsEmpty() && fSlots.size() >= kIndexThreshold)
        _BuildIndex();
    fIndexSettled.store(true, std::memory_order_release);
}

template <class SLOT>
StPackedDictionaryKey VPackedDictionary_base<SLOT>::GetKeyAt(size_t i) const
{
    unsigned long length = 0;
    const char* bytes = GetKeyBytesAt(i, length);
    return StPackedDictionaryKey::Borrow(bytes, length);
}

template <class SLOT>
const char* VPackedDictionary_base<SLOT>::GetKeyBytesAt(size_t i, unsigned long& length) const
{
    size_t offset = static_cast<size_t>(fSlots[i].fKeyOffset);
    length = fKeyBytes[offset];
    return reinterpret_cast<const char*>(fKeyBytes.data() + offset + 1);
}

template <class SLOT>
void VPackedDictionary_base<SLOT>::_BuildIndex() const
{
    size_t n = fSlots.size();
    if (fIndexRefused || !fIndex.Rebuild(n))
        return;  // works without an index
    // Linear probing over honest keys visits a few cells per key; a budget
    // keeps keys made to collide from turning the build quadratic.
    unsigned long long probes = 0;
    const unsigned long long budget = 32ull * n + 1024;
    for (size_t i = 0; i < n; ++i) {
        if (!fIndex.Put(fKeyHashes[i], i, &probes) || probes > budget) {
            fIndex.Clear();
            fIndexRefused = probes > budget;
            return;
        }
    }
}

template <class SLOT>
size_t VPackedDictionary_base<SLOT>::_FindIndexed(const StPackedDictionaryKey& key) const
{
    size_t n = fSlots.size();
    if (n == 0 || !key.IsStorable())
        return n;
    if (n >= kIndexThreshold)
        _EnsureIndex();
    size_t found = n;
    unsigned long long compares = 0;
    if (!fIndex.IsEmpty()) {
        // Follow the probe chain from the key's home cell: every stored key
        // sits in the chain of its home cell, since cells are filled by
        // linear probing and never emptied one by one. An empty cell ends
        // the chain: the key is absent. Equal keys have equal hashes, so a
        // cell whose hash differs is passed without comparing keys.
        unsigned long cells = fIndex.GetCount();
        const unsigned int hash = static_cast<unsigned int>(key.GetHash());
        unsigned long c = fIndex.HomeCell(key.GetHash());
        for (unsigned long step = 0; step < cells; ++step) {
            unsigned int slot = fIndex.GetCell(c);
            if (slot == _VHashKeyMap::tag_empty)
                break;
            if (slot < n && fIndex.GetHash(c) == hash) {
                ++compares;
                if (_KeyEquals(slot, key)) {
                    found = slot;
                    break;
                }
            }
            if (++c == cells)
                c = 0;
        }
    } else {
        for (size_t i = 0; i < n; ++i) {
            ++compares;
            if (_KeyEquals(i, key)) {
                found = i;
                break;
            }
        }
    }
    _CountCompares(compares);
    return found;
}

template <class SLOT>
bool VPackedDictionary_base<SLOT>::_AppendKeyAndSlot(const StPackedDictionaryKey& key, const SLOT& slot)
{
    if (!key.IsStorable())
        return false;
    size_t oldKeySize = fKeyBytes.size();
    try {
        unsigned long length = key.GetKeyLength();
        fKeyBytes.push_back(static_cast<unsigned char>(length));
        fKeyBytes.insert(fKeyBytes.end(), reinterpret_cast<const unsigned char*>(key.GetKeyPtr()),
                         reinterpret_cast<const unsigned char*>(key.GetKeyPtr()) + length);
        fSlots.push_back(slot);
        try {
            fKeyHashes.push_back(static_cast<unsigned int>(key.GetHash()));
        } catch (const std::bad_alloc&) {
            fSlots.pop_back();
            throw;
        }
    } catch (const std::bad_alloc&) {
        fKeyBytes.resize(oldKeySize);
        return false;
    }
    if (!fIndex.IsEmpty()) {
        size_t n = fSlots.size();
        if (!fIndex.Put(key.GetHash(), n - 1))
            _BuildIndex();
    }
    _NoteIndexChanged();
    return true;
}

template <class SLOT>
void VPackedDictionary_base<SLOT>::_RemoveKeyAndSlot(size_t i)
{
    size_t offset = static_cast<size_t>(fSlots[i].fKeyOffset);
    size_t cut = static_cast<size_t>(fKeyBytes[offset]) + 1;
    fKeyBytes.erase(fKeyBytes.begin() + offset, fKeyBytes.begin() + offset + cut);
    for (size_t k = i + 1; k < fSlots.size(); ++k)
        fSlots[k].fKeyOffset -= cut;
    fSlots.erase(fSlots.begin() + i);
    fKeyHashes.erase(fKeyHashes.begin() + i);
    fIndex.Clear();
    fIndexRefused = false;
    _NoteIndexChanged();
}

template <class SLOT>
void VPackedDictionary_base<SLOT>::_ClearKeys()
{
    fKeyBytes.clear();
    fKeyBytes.shrink_to_fit();
    fSlots.clear();
    fSlots.shrink_to_fit();
    fKeyHashes.clear();
    fKeyHashes.shrink_to_fit();
    fIndex.Clear();
    fIndexRefused = false;
    _NoteIndexChanged();
}

template <class SLOT>
VError VPackedDictionary_base<SLOT>::_WriteKeysToStream(VStream* stream, bool withIndex) const
{
    if (withIndex && fSlots.size() >= kIndexThreshold)
        _EnsureIndex();
    bagio::PutUInt32(stream, static_cast<unsigned int>(fSlots.size()));
    bagio::PutUInt32(stream, static_cast<unsigned int>(fKeyBytes.size()));
    if (!fKeyBytes.empty())
        stream->PutData(fKeyBytes.data(), static_cast<unsigned long>(fKeyBytes.size()));
    if (withIndex && !fIndex.IsEmpty()) {
        bagio::PutUInt8(stream, 1);
        fIndex.WriteToStream(stream);
    } else {
        bagio::PutUInt8(stream, 0);
    }
    return bagio::StreamError(stream);
}

template <class SLOT>
VError VPackedDictionary_base<SLOT>::_ReadKeysFromStream(VStream* stream)
{
    _ClearKeys();
    unsigned int count = 0;
    unsigned int keyBytesSize = 0;
    bagio::GetUInt32(stream, count);
    bagio::GetUInt32(stream, keyBytesSize);
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    // Every entry takes at least its length byte.
    if (count > keyBytesSize) {
        _ThrowError(bagio::kBadBagData);
        return bagio::kBadBagData;
    }
    if (!bagio::GetBytes(stream, keyBytesSize, fKeyBytes)) {
        _ClearKeys();
        _ThrowError(QeltError(100));
        return QeltError(100);
    }
    if (bagio::StreamError(stream) != VE_OK) {
        _ClearKeys();
        return bagio::StreamError(stream);
    }
    // Walk the entries: each must stay within the key bytes, and together
    // they must fill them exactly.
    try {
        fSlots.resize(count);
        fKeyHashes.resize(count);
    } catch (const std::bad_alloc&) {
        _ClearKeys();
        _ThrowError(QeltError(100));
        return QeltError(100);
    }
    unsigned long long offset = 0;
    for (unsigned int i = 0; i < count; ++i) {
        if (offset >= keyBytesSize || offset + 1 + fKeyBytes[offset] > keyBytesSize) {
            _ClearKeys();
            _ThrowError(bagio::kBadBagData);
            return bagio::kBadBagData;
        }
        fSlots[i].fKeyOffset = offset;
        fKeyHashes[i] = static_cast<unsigned int>(StPackedDictionaryKey::GetHashCode(
            reinterpret_cast<const char*>(fKeyBytes.data() + offset + 1), fKeyBytes[offset]));
        offset += 1 + fKeyBytes[offset];
    }
    if (offset != keyBytesSize) {
        _ClearKeys();
        _ThrowError(bagio::kBadBagData);
        return bagio::kBadBagData;
    }
    unsigned char indexFlag = 0;
    bagio::GetUInt8(stream, indexFlag);
    if (bagio::StreamError(stream) != VE_OK) {
        _ClearKeys();
        return bagio::StreamError(stream);
    }
    if (indexFlag == 1) {
        bool adopted = fIndex.Rebuild(stream);
        if (bagio::StreamError(stream) != VE_OK) {
            _ClearKeys();
            return bagio::StreamError(stream);
        }
        if (!adopted) {
            // A negative cell count: the cells that follow cannot be skipped.
            _ClearKeys();
            _ThrowError(bagio::kBadBagData);
            return bagio::kBadBagData;
        }
        // A stored index is used only when it gives right answers: a
        // plausible size, cells that are empty or name an existing slot, and
        // every key found through the probe chain of its home cell, within a
        // bounded number of steps. Otherwise build our own.
        bool usable = adopted && !fIndex.IsEmpty() && fIndex.GetCount() >= count;
        unsigned long cells = fIndex.GetCount();
        for (unsigned long c = 0; usable && c < cells; ++c) {
            unsigned int cell = fIndex.GetCell(c);
            if (cell != _VHashKeyMap::tag_empty && cell >= count)
                usable = false;
        }
        unsigned long long budget = 8ull * (static_cast<unsigned long long>(count) + cells) + 64;
        for (unsigned int i = 0; usable && i < count; ++i) {
            unsigned long length = 0;
            const char* bytes = GetKeyBytesAt(i, length);
            StPackedDictionaryKey key = StPackedDictionaryKey::Borrow(bytes, length);
            unsigned long c = static_cast<unsigned long>(key.GetHash() % cells);
            bool found = false;
            for (unsigned long step = 0; step < cells && budget > 0; ++step, --budget) {
                unsigned int slot = fIndex.GetCell(c);
                if (slot == _VHashKeyMap::tag_empty)
                    break;
                unsigned long otherLength = 0;
                const char* other = GetKeyBytesAt(slot, otherLength);
                if (key.Equal(other, otherLength)) {
                    found = true;
                    break;
                }
                if (++c == cells)
                    c = 0;
            }
            usable = found;
        }
        if (!usable) {
            fIndex.Clear();
            if (count >= kIndexThreshold)
                _BuildIndex();
        } else {
            // The stream holds only the slot numbers: give each cell the
            // hash of its key.
            for (unsigned long c = 0; c < cells; ++c) {
                unsigned int slot = fIndex.GetCell(c);
                if (slot == _VHashKeyMap::tag_empty)
                    continue;
                fIndex.SetHash(c, fKeyHashes[slot]);
            }
        }
    } else if (fIndex.IsEmpty() && count >= kIndexThreshold) {
        _BuildIndex();
    }
    _NoteIndexChanged();
    return bagio::StreamError(stream);
}

template class VPackedDictionary_base<_VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>>;
template class VPackedDictionary_base<_VPackedDictionary_slot<VPackedValue_VBagArray>>;

// ---------------------------------------------------------------------------
// Attribute dictionary
// ---------------------------------------------------------------------------

namespace {

using AttrDict = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;

unsigned long long UnitsForPayload(unsigned long long payload) { return (payload + 3) / 2; }

unsigned long PayloadSpace(const VValueSingle& value)
{
    unsigned long long unused = 0;
    return value.GetSpace(unused, 0);
}

// A copy of the value as a single value, or null when it cannot be made.
VValueSingle* CloneSingle(const VValueSingle& value)
{
    VValue* clone = value.Clone();
    VValueSingle* single = clone != nullptr ? clone->IsVValueSingle() : nullptr;
    if (single == nullptr)
        delete clone;
    return single;
}

unsigned int ReadUInt32(const unsigned char* p, bool swapped)
{
    unsigned char b[4];
    std::memcpy(b, p, 4);
    if (swapped) {
        std::swap(b[0], b[3]);
        std::swap(b[1], b[2]);
    }
    unsigned int v;
    std::memcpy(&v, b, 4);
    return v;
}

// The byte size of the record at `record` (kind word included) whose payload
// may still be in the other byte order (`swapped`), checked against the
// `available` bytes. 0 when the record does not fit or cannot be measured
// safely.
unsigned long long CheckedRecordSize(const unsigned short* record, unsigned long long available, bool swapped)
{
    if (available < 2)
        return 0;
    unsigned short kind = record[0];
    const unsigned char* payload = reinterpret_cast<const unsigned char*>(record + 1);
    unsigned long long size = 0;
    switch (kind) {
        case VK_BOOLEAN:
        case VK_BYTE:
            size = 3;
            break;
        case VK_WORD:
            size = 4;
            break;
        case VK_LONG:
            size = 6;
            break;
        case VK_LONG8:
        case VK_REAL:
        case VK_DURATION:
            size = 10;
            break;
        default: {
            const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
            if (info == nullptr) {
                size = 2;  // unknown kind: the kind word alone
            } else if (kind == VK_TIME) {
                size = 10;
            } else if (kind == VK_UUID) {
                size = 18;
            } else if (kind == VK_STRING || kind == VK_BLOB) {
                if (available < 6)
                    return 0;
                int length = static_cast<int>(ReadUInt32(payload, swapped));
                if (length < 0)
                    return 0;
                size = 6 + static_cast<unsigned long long>(length) * (kind == VK_STRING ? 2 : 1);
            } else {
                // Kinds without a raw form of their own (the empty value,
                // bags) take the kind word alone; any other kind cannot be
                // measured safely from untrusted bytes.
                if (info->GetAvgSpace() != 0)
                    return 0;
                VValue* probe = info->Generate();
                bool single = probe != nullptr && probe->IsVValueSingle() != nullptr;
                unsigned long long space = 0;
                if (probe != nullptr) {
                    unsigned long long unused = 0;
                    space = probe->GetSpace(unused, 0);
                }
                delete probe;
                if ((!single && kind != VK_BAG) || space != 0)
                    return 0;
                size = 2;
            }
            break;
        }
    }
    return size <= available ? size : 0;
}

}  // namespace

bool VPackedValue_VValueSingle::SaveValueCheckSpace(const VValueSingle& value, void* record)
{
    unsigned short* units = static_cast<unsigned short*>(record);
    unsigned long size = AttrDict::RecordByteSize(units);
    unsigned long payload = PayloadSpace(value);
    if (size != 2 + payload)
        return false;
    units[0] = value.GetValueInfo()->GetKind();
    value.WriteToPtr(units + 1, false, 0);
    return true;
}

unsigned long AttrDict::RecordByteSize(const unsigned short* record)
{
    unsigned short kind = record[0];
    switch (kind) {
        case VK_BOOLEAN:
        case VK_BYTE:
            return 3;
        case VK_WORD:
            return 4;
        case VK_LONG:
            return 6;
        case VK_LONG8:
        case VK_REAL:
        case VK_DURATION:
            return 10;
        default: {
            const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
            if (info == nullptr)
                return 2;
            return 2 + info->GetSizeOfValueDataPtr(record + 1);
        }
    }
}

AttrDict::VPackedDictionary_with_backstore(const VPackedDictionary_with_backstore& other)
    : VPackedDictionary_base(), fBackstore(), fNeedsPack(false)
{
    *this = other;
}

AttrDict& AttrDict::operator=(const VPackedDictionary_with_backstore& other)
{
    if (this == &other)
        return *this;
    if (other.fNeedsPack) {
        other._Pack();
        other.fNeedsPack = false;
    }
    ClearAll();
    try {
        fKeyBytes = other.fKeyBytes;
        fSlots = other.fSlots;
        fKeyHashes = other.fKeyHashes;
        fBackstore = other.fBackstore;
        _CopyIndexFrom(other);
    } catch (const std::bad_alloc&) {
        fSlots.clear();
        ClearAll();
        _ThrowError(QeltError(100));
        return *this;
    }
    // The copy holds records only, except for null values: a record cannot
    // say null, so they stay attached (as clones) in the copy too.
    for (size_t i = 0; i < fSlots.size(); ++i) {
        const VValueSingle* source = other.fSlots[i].fAttached;
        fSlots[i].fAttached = (source != nullptr && source->IsNull()) ? CloneSingle(*source) : nullptr;
    }
    fNeedsPack = false;
    return *this;
}

AttrDict::~VPackedDictionary_with_backstore()
{
    _DeleteAttached();
}

void AttrDict::_DeleteAttached()
{
    for (Slot& slot : fSlots) {
        delete slot.fAttached;
        slot.fAttached = nullptr;
    }
}

void AttrDict::ClearAll()
{
    _DeleteAttached();
    _ClearKeys();
    fBackstore.clear();
    fBackstore.shrink_to_fit();
    fNeedsPack = false;
}

void AttrDict::_WriteRecord(unsigned long long unitOffset, const VValueSingle& value) const
{
    unsigned short* record = fBackstore.data() + unitOffset;
    record[0] = value.GetValueInfo()->GetKind();
    value.WriteToPtr(record + 1, false, 0);
}

bool AttrDict::Append(const StPackedDictionaryKey& key, const VValueSingle& value)
{
    if (!key.IsStorable())
        return false;
    unsigned long payload = PayloadSpace(value);
    Slot slot;
    slot.fKeyOffset = fKeyBytes.size();
    slot.fValueOffset = fBackstore.size();
    slot.fAttached = nullptr;
    size_t oldSize = fBackstore.size();
    try {
        fBackstore.resize(oldSize + UnitsForPayload(payload), 0);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    if (!_AppendKeyAndSlot(key, slot)) {
        fBackstore.resize(oldSize);
        return false;
    }
    _WriteRecord(slot.fValueOffset, value);
    // The record holds the value's raw form, which has no null flag: a null
    // value is kept attached, in step with its record.
    if (value.IsNull())
        fSlots.back().fAttached = CloneSingle(value);
    return true;
}

bool AttrDict::SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value)
{
    size_t i = _Find(key);
    if (i == fSlots.size())
        return false;
    Slot& slot = fSlots[i];
    if (slot.fAttached == nullptr) {
        unsigned short* record = fBackstore.data() + slot.fValueOffset;
        if (RecordByteSize(record) == 2 + PayloadSpace(value) && !value.IsNull()) {
            _WriteRecord(slot.fValueOffset, value);
            return true;
        }
        // A new packed size, or a null value (which only an object can hold).
        VValueSingle* single = CloneSingle(value);
        if (single == nullptr)
            return true;
        slot.fAttached = single;
        fNeedsPack = true;
        return true;
    }
    if (slot.fAttached == &value) {
        fNeedsPack = true;
        return true;
    }
    if (slot.fAttached->GetValueInfo() == value.GetValueInfo() && slot.fAttached->FromValueSameKind(&value)) {
        fNeedsPack = true;
        return true;
    }
    VValueSingle* single = CloneSingle(value);
    if (single == nullptr)
        return true;
    delete slot.fAttached;
    slot.fAttached = single;
    fNeedsPack = true;
    return true;
}

bool AttrDict::GetValue(const StPackedDictionaryKey& key, VValueSingle& dest) const
{
    const size_t n = fSlots.size();
    size_t i = _Find(key);
    if (i >= n)
        return false;
    const Slot& slot = fSlots[i];
    if (const VValueSingle* attached = _LoadAttached(slot)) {
        attached->GetValue(dest);
        return true;
    }
    const unsigned short* record = fBackstore.data() + slot.fValueOffset;
    if (dest.GetValueInfo()->GetKind() == record[0]) {
        dest.LoadFromPtr(record + 1, false);  // no object is made
        return true;
    }
    if (VValue::ValueInfoFromValueKind(record[0]) == nullptr)
        return true;  // unknown kind: present, destination unchanged
    VValueSingle* made = GetValueAt(i);
    if (made != nullptr)
        made->GetValue(dest);
    return true;
}

VValueSingle* AttrDict::GetValueAt(size_t i) const
{
    if (i >= fSlots.size())
        return nullptr;
    const Slot& slot = fSlots[i];
    if (VValueSingle* attached = _LoadAttached(slot))
        return attached;
    const unsigned short* record = fBackstore.data() + slot.fValueOffset;
    const VValueInfo* info = VValue::ValueInfoFromValueKind(record[0]);
    if (info == nullptr)
        return nullptr;
    VValue* value = info->LoadFromPtr(record + 1, false);
    VValueSingle* single = value != nullptr ? value->IsVValueSingle() : nullptr;
    if (single == nullptr) {
        delete value;
        return nullptr;
    }
    // Readers in other threads may attach the same record at once: the
    // first object published stays, the others are dropped.
    VValueSingle* expected = nullptr;
    if (!std::atomic_ref<VValueSingle*>(const_cast<Slot&>(slot).fAttached)
             .compare_exchange_strong(expected, single, std::memory_order_acq_rel, std::memory_order_acquire)) {
        delete single;
        return expected;
    }
    return single;
}

void AttrDict::ReplaceAttachedAt(size_t i, VValueSingle* value)
{
    if (i >= fSlots.size()) {
        delete value;
        return;
    }
    if (fSlots[i].fAttached != value)
        delete fSlots[i].fAttached;
    fSlots[i].fAttached = value;
    fNeedsPack = true;
}

void AttrDict::Clear(const StPackedDictionaryKey& key)
{
    size_t i = _Find(key);
    if (i == fSlots.size())
        return;
    delete fSlots[i].fAttached;
    fSlots[i].fAttached = nullptr;
    unsigned long long begin = fSlots[i].fValueOffset;
    unsigned long long end = (i + 1 < fSlots.size()) ? fSlots[i + 1].fValueOffset : fBackstore.size();
    unsigned long long removed = end - begin;
    fBackstore.erase(fBackstore.begin() + static_cast<ptrdiff_t>(begin),
                     fBackstore.begin() + static_cast<ptrdiff_t>(end));
    for (size_t k = i + 1; k < fSlots.size(); ++k)
        fSlots[k].fValueOffset -= removed;
    _RemoveKeyAndSlot(i);
}

void AttrDict::_Pack() const
{
    // Quick pass: rewrite in place while every packed size is unchanged.
    size_t n = fSlots.size();
    bool inPlace = true;
    for (size_t i = 0; i < n && inPlace; ++i) {
        const Slot& slot = fSlots[i];
        if (slot.fAttached != nullptr &&
            !VPackedValue_VValueSingle::SaveValueCheckSpace(*slot.fAttached, fBackstore.data() + slot.fValueOffset))
            inPlace = false;
    }
    if (inPlace)
        return;
    // Rebuild the backstore in slot order.
    std::vector<Slot> slots;
    std::vector<unsigned short> store;
    try {
        slots = fSlots;
        for (size_t i = 0; i < n; ++i) {
            Slot& slot = slots[i];
            unsigned long long newOffset = store.size();
            if (slot.fAttached != nullptr) {
                unsigned long payload = PayloadSpace(*slot.fAttached);
                store.resize(newOffset + UnitsForPayload(payload), 0);
                unsigned short* record = store.data() + newOffset;
                record[0] = slot.fAttached->GetValueInfo()->GetKind();
                slot.fAttached->WriteToPtr(record + 1, false, 0);
            } else {
                const unsigned short* old = fBackstore.data() + slot.fValueOffset;
                unsigned long long units = (RecordByteSize(old) + 1) / 2;
                store.insert(store.end(), old, old + units);
            }
            slot.fValueOffset = newOffset;
        }
    } catch (const std::bad_alloc&) {
        return;  // the old slots and backstore stay
    }
    auto& self = const_cast<AttrDict&>(*this);
    self.fSlots.swap(slots);
    fBackstore.swap(store);
}

void AttrDict::_SwapRecords(bool fromNative) const
{
    for (const Slot& slot : fSlots) {
        unsigned short* record = fBackstore.data() + slot.fValueOffset;
        unsigned short kind = record[0];
        if (!fromNative)
            kind = static_cast<unsigned short>((kind >> 8) | (kind << 8));
        record[0] = static_cast<unsigned short>((record[0] >> 8) | (record[0] << 8));
        const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
        if (info != nullptr)
            info->ByteSwapPtr(record + 1, fromNative);
    }
}

VError AttrDict::WriteToStream(VStream* stream, bool withIndex) const
{
    if (fNeedsPack) {
        _Pack();
        fNeedsPack = false;
    }
    _WriteKeysToStream(stream, withIndex);
    bagio::PutUInt32(stream, static_cast<unsigned int>(fBackstore.size()));
    if (!fBackstore.empty()) {
        bool swap = stream->NeedSwap();
        if (swap)
            _SwapRecords(true);
        stream->PutData(fBackstore.data(), static_cast<unsigned long>(fBackstore.size() * 2));
        if (swap)
            _SwapRecords(false);
    }
    return bagio::StreamError(stream);
}

VError AttrDict::_CheckAndSwapReadRecords(bool swap)
{
    unsigned long long offset = 0;
    unsigned long long total = fBackstore.size();
    for (Slot& slot : fSlots) {
        if (offset >= total)
            return bagio::kBadBagData;
        unsigned short* record = fBackstore.data() + offset;
        if (swap)
            record[0] = static_cast<unsigned short>((record[0] >> 8) | (record[0] << 8));
        unsigned long long size = CheckedRecordSize(record, (total - offset) * 2, swap);
        if (size == 0)
            return bagio::kBadBagData;
        if (swap) {
            const VValueInfo* info = VValue::ValueInfoFromValueKind(record[0]);
            if (info != nullptr)
                info->ByteSwapPtr(record + 1, false);
        }
        // The record as the in-memory rule measures it must agree.
        if (RecordByteSize(record) != size)
            return bagio::kBadBagData;
        slot.fValueOffset = offset;
        slot.fAttached = nullptr;
        offset += (size + 1) / 2;
    }
    if (offset != total)
        return bagio::kBadBagData;
    return VE_OK;
}

VError AttrDict::ReadFromStream(VStream* stream)
{
    ClearAll();
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    VError err = _ReadKeysFromStream(stream);
    if (err != VE_OK) {
        ClearAll();
        return err;
    }
    unsigned int units = 0;
    bagio::GetUInt32(stream, units);
    std::vector<unsigned char> bytes;
    if (bagio::StreamError(stream) == VE_OK && !bagio::GetBytes(stream, 2ull * units, bytes)) {
        ClearAll();
        _ThrowError(QeltError(100));
        return QeltError(100);
    }
    err = bagio::StreamError(stream);
    if (err == VE_OK) {
        try {
            fBackstore.resize(units);
        } catch (const std::bad_alloc&) {
            ClearAll();
            _ThrowError(QeltError(100));
            return QeltError(100);
        }
        if (units > 0)
            std::memcpy(fBackstore.data(), bytes.data(), 2ull * units);
        err = _CheckAndSwapReadRecords(stream->NeedSwap());
        if (err != VE_OK)
            _ThrowError(err);
    }
    if (err != VE_OK)
        ClearAll();
    return err;
}

// ---------------------------------------------------------------------------
// Element dictionary
// ---------------------------------------------------------------------------

using ElemDict = VPackedDictionary<VPackedValue_VBagArray>;

ElemDict::VPackedDictionary(const VPackedDictionary& other) : VPackedDictionary_base()
{
    fKeyBytes = other.fKeyBytes;
    fKeyHashes = other.fKeyHashes;
    _CopyIndexFrom(other);
    fSlots.reserve(other.fSlots.size());
    for (const Slot& source : other.fSlots) {
        Slot slot;
        slot.fKeyOffset = source.fKeyOffset;
        slot.fList = source.fList != nullptr ? new VBagArray(*source.fList) : new VBagArray();
        fSlots.push_back(slot);
    }
}

ElemDict::~VPackedDictionary()
{
    ClearAll();
}

void ElemDict::ClearAll()
{
    for (Slot& slot : fSlots) {
        if (slot.fList != nullptr)
            slot.fList->Release();
        slot.fList = nullptr;
    }
    _ClearKeys();
}

bool ElemDict::SetValue(const StPackedDictionaryKey& key, VBagArray* list)
{
    if (list == nullptr)
        return false;
    size_t i = _Find(key);
    if (i == fSlots.size()) {
        Slot slot;
        slot.fKeyOffset = fKeyBytes.size();
        if (!_AppendKeyAndSlot(key, slot))
            return false;
        i = fSlots.size() - 1;
    }
    Slot& slot = fSlots[i];
    if (slot.fList == list)
        return true;
    list->Retain();
    VBagArray* old = slot.fList;
    slot.fList = list;
    if (old != nullptr)
        old->Release();
    return true;
}

bool ElemDict::AppendAdopt(const StPackedDictionaryKey& key, VBagArray* list)
{
    if (list == nullptr)
        return false;
    Slot slot;
    slot.fKeyOffset = fKeyBytes.size();
    slot.fList = list;
    return _AppendKeyAndSlot(key, slot);
}

VBagArray* ElemDict::GetValue(const StPackedDictionaryKey& key) const
{
    size_t i = _Find(key);
    return i == fSlots.size() ? nullptr : fSlots[i].fList;
}

void ElemDict::Remove(const StPackedDictionaryKey& key)
{
    size_t i = _Find(key);
    if (i != fSlots.size())
        RemoveAt(i);
}

void ElemDict::RemoveAt(size_t i)
{
    if (i >= fSlots.size())
        return;
    VBagArray* list = fSlots[i].fList;
    _RemoveKeyAndSlot(i);
    if (list != nullptr)
        list->Release();
}

VError ElemDict::WriteToStream(VStream* stream, bool withIndex) const
{
    _WriteKeysToStream(stream, withIndex);
    for (const Slot& slot : fSlots) {
        if (bagio::StreamError(stream) != VE_OK)
            break;
        slot.fList->WriteToStreamMinimal(stream);
    }
    return bagio::StreamError(stream);
}

VError ElemDict::ReadFromStream(VStream* stream)
{
    ClearAll();
    if (bagio::StreamError(stream) != VE_OK)
        return bagio::StreamError(stream);
    VError err = _ReadKeysFromStream(stream);
    if (err != VE_OK) {
        ClearAll();
        return err;
    }
    for (Slot& slot : fSlots) {
        slot.fList = new (std::nothrow) VBagArray();
        if (slot.fList == nullptr) {
            err = QeltError(100);
            _ThrowError(err);
            break;
        }
        err = slot.fList->ReadFromStreamMinimal(stream);
        if (err != VE_OK)
            break;
    }
    if (err == VE_OK)
        err = bagio::StreamError(stream);
    if (err != VE_OK)
        ClearAll();
    return err;
}

}  // namespace qelt
