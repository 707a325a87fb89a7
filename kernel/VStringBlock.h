// The counted heap block of UTF-16 text that strings share between copies and
// that JSON values hold through a VInlineString record.
//
// Layout of a block of capacity C (in UTF-16 units):
//   units 0 .. C-1   the text (length L <= C), unit L is always 0
//   ...              room up to the count
//   units K, K+1     an unsigned 32-bit reference count, K = (C + 2) & ~1
// The block is allocated through the process memory manager. Every holder
// (a string or a VInlineString) owns one count; the holder whose release
// brings the count to 0 frees the block.
#pragma once

#include <atomic>

#include "kernel/VKernelTypes.h"

namespace qelt {

// The compact string record that JSON values keep: length, counted block
// (null for no text), capacity, packed without gaps. A record owns one count
// of its block; release it with VStringBlock::Release.
#pragma pack(push, 1)
struct VInlineString {
    int fLength;
    UniChar* fString;
    int fCapacity;
};
#pragma pack(pop)

static_assert(sizeof(VInlineString) == 16, "VInlineString is packed: int, pointer, int");

// Operations on counted blocks. All static; the count is changed atomically.
class VStringBlock {
public:
    // The allocation tags of string blocks.
    static constexpr int kTagString = static_cast<int>(FourCC("str "));
    static constexpr int kTagRetained = static_cast<int>(FourCC("strX"));

    // Index (in units) of the count of a block of the given capacity.
    static constexpr long CountIndex(int inCapacity) { return (static_cast<long>(inCapacity) + 2) & ~1L; }

    // Number of units of a block that holds exactly inLength units of text,
    // its terminator and its count (the capacity of such a block is inLength).
    static constexpr long ExactUnits(int inLength) { return (static_cast<long>(inLength) + 4) & ~1L; }

    static unsigned int* CountPtr(UniChar* inBlock, int inCapacity)
    {
        return reinterpret_cast<unsigned int*>(inBlock + CountIndex(inCapacity));
    }

    // Sets the count of a new block to 1.
    static void InitCount(UniChar* inBlock, int inCapacity) { *CountPtr(inBlock, inCapacity) = 1; }

    // Adds one reference.
    static void Retain(UniChar* inBlock, int inCapacity)
    {
        std::atomic_ref<unsigned int>(*CountPtr(inBlock, inCapacity)).fetch_add(1);
    }

    // Adds one reference to a block that no other thread can reach while it
    // is done (every holder is on this thread and none has been handed
    // out): the same count, without the locked instruction of Retain.
    static void RetainLocal(UniChar* inBlock, int inCapacity)
    {
        std::atomic_ref<unsigned int> count(*CountPtr(inBlock, inCapacity));
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }

    // The current count (a plain read: only the holder's own reference keeps
    // the block alive while it looks).
    static unsigned int GetCount(UniChar* inBlock, int inCapacity)
    {
        return std::atomic_ref<unsigned int>(*CountPtr(inBlock, inCapacity)).load(std::memory_order_relaxed);
    }

    // True when another holder shares the block.
    static bool IsShared(UniChar* inBlock, int inCapacity) { return GetCount(inBlock, inCapacity) >= 2; }

    // Drops one reference; frees the block when it was the last one.
    static void Release(UniChar* inBlock, int inCapacity);

    // Allocates a block of inUnits units through the memory manager (null on
    // failure or when there is no memory manager). The count is not set.
    static UniChar* Allocate(long inUnits, int inTag);

    // Frees a block through the memory manager (nothing without one).
    static void Free(UniChar* inBlock);

    // Releases the record's block (if any) and empties the record.
    static void Release(VInlineString& ioRecord)
    {
        if (ioRecord.fString != nullptr)
            Release(ioRecord.fString, ioRecord.fCapacity);
        ioRecord.fString = nullptr;
        ioRecord.fLength = 0;
        ioRecord.fCapacity = 0;
    }

    // Makes ioDest share inSource's block (one more count), releasing what
    // ioDest held before. Safe when both hold the same block.
    static void Assign(VInlineString& ioDest, const VInlineString& inSource)
    {
        UniChar* block = inSource.fString;
        int capacity = inSource.fCapacity;
        if (block != nullptr)
            Retain(block, capacity);
        Release(ioDest);
        ioDest.fString = block;
        ioDest.fCapacity = capacity;
        ioDest.fLength = inSource.fLength;
    }
};

}  // namespace qelt
