#include "kernel/IRefCountable.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qelt {

IRefCountable::~IRefCountable() = default;

int32_t IRefCountable::Retain(const char* /*inDebugInfo*/) const
{
    return fRefCount.fetch_add(1, std::memory_order_seq_cst) + 1;
}

int32_t IRefCountable::Release(const char* /*inDebugInfo*/) const
{
    int32_t count = fRefCount.fetch_sub(1, std::memory_order_seq_cst) - 1;
    if (count == 0) {
        _CountReachedZero();
        return 0;
    }
    return count;
}

void IRefCountable::_CountReachedZero() const { const_cast<IRefCountable*>(this)->DoOnRefCountZero(); }

void IRefCountable::ReleaseDependencies() {}

void IRefCountable::DoOnRefCountZero() { delete this; }

// The block is allocated size + 15 bytes long: the counts, the bytes, and the
// tail padding of the header's own size.
SharedBuffer* SharedBuffer::Create(size_t inSize)
{
    static_assert(sizeof(SharedBuffer) == 16);
    if (inSize > SIZE_MAX - 15)
        return nullptr;
    void* block = std::malloc(inSize + 15);
    if (block == nullptr)
        return nullptr;
    SharedBuffer* buffer = static_cast<SharedBuffer*>(block);
    // The header fields are written in place; the class has no constructor.
    ::new (&buffer->fRefCount) std::atomic<uint32_t>(1);
    buffer->fSize = inSize;
    return buffer;
}

SharedBuffer* SharedBuffer::Create(const void* inData, size_t inSize)
{
    SharedBuffer* buffer = Create(inSize);
    if (buffer != nullptr && inSize > 0 && inData != nullptr)
        std::memcpy(buffer->GetData(), inData, inSize);
    return buffer;
}

void SharedBuffer::Release() const
{
    if (fRefCount.fetch_sub(1, std::memory_order_seq_cst) == 1)
        std::free(const_cast<SharedBuffer*>(this));
}

}  // namespace qelt
