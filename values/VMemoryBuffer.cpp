#include "values/VMemoryBuffer.h"

#include <algorithm>
#include <cstring>

#include "kernel/VCppMemMgr.h"

namespace qelt {

namespace {
constexpr int kTagMemBuffer = static_cast<int>(FourCC("memb"));
}

template <unsigned long G, unsigned long D, unsigned long M>
VMemoryBuffer<G, D, M>::VMemoryBuffer(VCppMemMgr* allocator)
    : fAllocator(allocator != nullptr ? allocator : VObject::sCppMemMgr)
{
}

// A buffer made before the process memory manager existed takes it when it
// first allocates.
template <unsigned long G, unsigned long D, unsigned long M>
VCppMemMgr* VMemoryBuffer<G, D, M>::_Allocator()
{
    if (fAllocator == nullptr && fData == nullptr)
        fAllocator = VObject::sCppMemMgr;
    return fAllocator;
}

template <unsigned long G, unsigned long D, unsigned long M>
VMemoryBuffer<G, D, M>::VMemoryBuffer(const VMemoryBuffer& other) : VObject(other), fAllocator(other.fAllocator)
{
    *this = other;
}

template <unsigned long G, unsigned long D, unsigned long M>
VMemoryBuffer<G, D, M>::~VMemoryBuffer()
{
    Clear();
}

template <unsigned long G, unsigned long D, unsigned long M>
VMemoryBuffer<G, D, M>& VMemoryBuffer<G, D, M>::operator=(const VMemoryBuffer& other)
{
    if (this == &other)
        return *this;
    uint64_t n = other.fSize;
    if (fCapacity != n) {
        if (n == 0) {
            Clear();
        } else if (!SetCapacityExact(n)) {
            return *this;
        }
    }
    if (n > 0)
        std::memcpy(fData, other.fData, n);
    fSize = n;
    return *this;
}

template <unsigned long G, unsigned long D, unsigned long M>
bool VMemoryBuffer<G, D, M>::_EnlargeAmortized(uint64_t need)
{
    if (_Allocator() == nullptr)
        return false;
    uint64_t margin = std::min<uint64_t>(need / D, M);
    uint64_t target = need;
    // need + margin + G - 1 must not wrap; a need that large fails anyway.
    if (need <= UINT64_MAX - margin - (G - 1))
        target = ((need + margin + G - 1) / G) * G;
    uint64_t tries[2] = {target, need};
    for (uint64_t wanted : tries) {
        if (wanted == 0 || wanted > SIZE_MAX)
            continue;
        void* block = fData != nullptr ? fAllocator->Realloc(fData, static_cast<size_t>(wanted))
                                       : fAllocator->Malloc(static_cast<size_t>(wanted), false, kTagMemBuffer, -1);
        if (block != nullptr) {
            fData = block;
            fCapacity = wanted;
            return true;
        }
    }
    return false;
}

template <unsigned long G, unsigned long D, unsigned long M>
bool VMemoryBuffer<G, D, M>::_PutDataGrowing(uint64_t offset, const void* bytes, uint64_t count)
{
    if (count > UINT64_MAX - offset)
        return false;
    uint64_t end = offset + count;
    if (fCapacity < end && !_EnlargeAmortized(end))
        return false;
    if (count > 0)
        std::memcpy(static_cast<char*>(fData) + offset, bytes, count);
    if (end > fSize)
        fSize = end;
    return true;
}

template <unsigned long G, unsigned long D, unsigned long M>
bool VMemoryBuffer<G, D, M>::SetCapacityExact(uint64_t capacity)
{
    if (capacity == fCapacity)
        return true;
    if (capacity == 0) {
        Clear();
        return true;
    }
    if (_Allocator() == nullptr || capacity > SIZE_MAX)
        return false;
    if (fData != nullptr) {
        void* block = fAllocator->Realloc(fData, static_cast<size_t>(capacity));
        if (block == nullptr)
            return false;
        fData = block;
    } else {
        fData = fAllocator->Malloc(static_cast<size_t>(capacity), false, kTagMemBuffer, -1);
        if (fData == nullptr) {
            fSize = 0;
            fCapacity = 0;
            return false;
        }
    }
    fCapacity = capacity;
    if (fSize > capacity)
        fSize = capacity;
    return true;
}

template <unsigned long G, unsigned long D, unsigned long M>
bool VMemoryBuffer<G, D, M>::SetDataSize(uint64_t size)
{
    if (size > fCapacity)
        return false;
    fSize = size;
    return true;
}

template <unsigned long G, unsigned long D, unsigned long M>
void VMemoryBuffer<G, D, M>::Clear()
{
    if (fData != nullptr && fAllocator != nullptr)
        fAllocator->Free(fData);
    fData = nullptr;
    fSize = 0;
    fCapacity = 0;
}

template <unsigned long G, unsigned long D, unsigned long M>
void VMemoryBuffer<G, D, M>::SetDataPtr(void* data, uint64_t size, uint64_t capacity)
{
    if (data == fData) {
        fCapacity = data != nullptr ? capacity : 0;
        fSize = std::min(size, fCapacity);
        return;
    }
    Clear();
    if (data != nullptr) {
        fData = data;
        fCapacity = capacity;
        fSize = std::min(size, capacity);
    }
}

template <unsigned long G, unsigned long D, unsigned long M>
void* VMemoryBuffer<G, D, M>::ForgetData()
{
    void* data = fData;
    fData = nullptr;
    fSize = 0;
    fCapacity = 0;
    return data;
}

template class VMemoryBuffer<1024ul, 2ul, 1048576ul>;

}  // namespace qelt
