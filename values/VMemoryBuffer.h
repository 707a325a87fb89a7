// The growable byte buffer: one block of the memory manager with the number
// of bytes in use and the number of bytes allocated. It is the storage of
// owning blobs, of the in-memory stream and of other byte stores.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernel/VObject.h"

namespace qelt {

class VCppMemMgr;

// GRANULARITY: capacities of amortised growth are rounded up to it.
// MARGIN_DIVISOR: amortised growth adds need / MARGIN_DIVISOR bytes ...
// MAX_MARGIN: ... but never more than this.
template <unsigned long GRANULARITY = 1024ul, unsigned long MARGIN_DIVISOR = 2ul,
          unsigned long MAX_MARGIN = 1048576ul>
class VMemoryBuffer : public VObject {
public:
    // The buffer allocates through the given manager; null means the
    // process memory manager (VObject::sCppMemMgr).
    explicit VMemoryBuffer(VCppMemMgr* allocator = nullptr);
    ~VMemoryBuffer() override;

    // Copies the bytes of another buffer; the allocator stays this buffer's.
    // When the block cannot be resized the buffer keeps its previous
    // content (or ends empty when it had no block).
    VMemoryBuffer& operator=(const VMemoryBuffer& other);
    // A copy shares nothing: it allocates its own block with the source's
    // allocator.
    VMemoryBuffer(const VMemoryBuffer& other);

    void* GetDataPtr() { return fData; }
    const void* GetDataPtr() const { return fData; }
    uint64_t GetDataSize() const { return fSize; }
    uint64_t GetAllocatedSize() const { return fCapacity; }
    VCppMemMgr* GetAllocator() const { return fAllocator; }

    // Makes the capacity at least `need` bytes, with a margin (half the need,
    // at most MAX_MARGIN, rounded up to GRANULARITY); falls back to exactly
    // `need` when that much cannot be had. The size and bytes in use are
    // unchanged. False, with the buffer unchanged, when memory runs out.
    bool _EnlargeAmortized(uint64_t need);

    // Writes `count` bytes at `offset`, growing the block amortised when
    // needed; the size becomes offset + count when that is bigger.
    // False (nothing written) when memory runs out.
    bool PutDataAmortized(uint64_t offset, const void* bytes, uint64_t count)
    {
        return PutDataInPlace(offset, bytes, count) || _PutDataGrowing(offset, bytes, count);
    }

    // Writes `count` bytes at `offset` when they fit in the block as it is
    // (the size becomes offset + count when that is bigger); false, with
    // nothing changed, when the block would have to grow. Inline: byte and
    // number appends stay a store and two comparisons.
    bool PutDataInPlace(uint64_t offset, const void* bytes, uint64_t count)
    {
        if (offset > fCapacity || count > fCapacity - offset)
            return false;
        if (count > 0)
            std::memcpy(static_cast<char*>(fData) + offset, bytes, static_cast<size_t>(count));
        if (offset + count > fSize)
            fSize = offset + count;
        return true;
    }

    // Appends bytes at the end (PutDataAmortized at the current size).
    bool AppendData(const void* bytes, uint64_t count) { return PutDataAmortized(fSize, bytes, count); }

    // Reallocates the block to exactly `capacity` bytes (0 frees it). The
    // size in use is cut to the new capacity when it was bigger; the owner
    // sets the size it wants with SetDataSize. False when memory runs out:
    // a failed reallocation keeps the old block; a failed first allocation
    // leaves the buffer empty.
    bool SetCapacityExact(uint64_t capacity);

    // Sets the number of bytes in use; refused (false) beyond the capacity.
    bool SetDataSize(uint64_t size);

    // Frees the block: size and capacity become 0.
    void Clear();

    // Hands over a block of this buffer's allocator, which the buffer then
    // owns (its previous block is freed). A null block makes it empty.
    void SetDataPtr(void* data, uint64_t size, uint64_t capacity);

    // Gives up ownership of the block and returns it (the buffer is then
    // empty); the caller frees it with the buffer's allocator.
    void* ForgetData();

private:
    VCppMemMgr* _Allocator();
    // PutDataAmortized when the block must grow first.
    bool _PutDataGrowing(uint64_t offset, const void* bytes, uint64_t count);

    VCppMemMgr* fAllocator;
    void* fData = nullptr;
    uint64_t fSize = 0;
    uint64_t fCapacity = 0;
};

// The one instance the toolbox uses.
using VMemoryBufferDefault = VMemoryBuffer<1024ul, 2ul, 1048576ul>;

extern template class VMemoryBuffer<1024ul, 2ul, 1048576ul>;

}  // namespace qelt
