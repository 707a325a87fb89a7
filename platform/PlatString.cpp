#include "platform/PlatString.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/PlatUTF8.h"

namespace qelt::plat {

PlatString* PlatString::Create(const unsigned short* inUnits, long inLength)
{
    if (inLength < 0 || (inUnits == nullptr && inLength > 0))
        inLength = 0;
    size_t bytes = sizeof(PlatString) + static_cast<size_t>(inLength) * sizeof(unsigned short);
    void* memory = std::malloc(bytes);
    if (memory == nullptr)
        return nullptr;
    PlatString* text = new (memory) PlatString();
    text->fLength = inLength;
    if (inLength > 0)
        std::memcpy(reinterpret_cast<char*>(text) + sizeof(PlatString), inUnits, static_cast<size_t>(inLength) * sizeof(unsigned short));
    return text;
}

PlatString* PlatString::CreateFromUTF8(const char* inBytes, size_t inSize)
{
    if (inBytes == nullptr)
        inSize = 0;
    if (inSize > (SIZE_MAX - sizeof(PlatString) - 2) / 3)
        return nullptr;
    // The bytes, then their units (never more units than bytes).
    const size_t unitsAt = (sizeof(PlatString) + inSize + 1) & ~static_cast<size_t>(1);
    void* memory = std::malloc(unitsAt + inSize * sizeof(unsigned short));
    if (memory == nullptr)
        return nullptr;
    PlatString* text = new (memory) PlatString();
    text->fIsUTF8 = true;
    text->fByteSize = inSize;
    if (inSize > 0)
        std::memcpy(reinterpret_cast<char*>(text) + sizeof(PlatString), inBytes, inSize);
    unsigned short* units = reinterpret_cast<unsigned short*>(reinterpret_cast<char*>(text) + unitsAt);
    const UTF8Result decoded = DecodeUTF8(inBytes, inSize, units, inSize, UTF8Mode::kReplace, true);
    text->fLength = static_cast<long>(decoded.produced);
    return text;
}

void PlatString::Retain() const { fCount.fetch_add(1); }

void PlatString::Release() const
{
    if (fCount.fetch_sub(1) == 1) {
        PlatString* self = const_cast<PlatString*>(this);
        self->~PlatString();
        std::free(self);
    }
}

const unsigned short* PlatString::GetUnitsPtr() const
{
    if (fIsUTF8)
        return nullptr;
    return reinterpret_cast<const unsigned short*>(reinterpret_cast<const char*>(this) + sizeof(PlatString));
}

void PlatString::GetUnits(long inStart, long inCount, unsigned short* outUnits) const
{
    if (inStart < 0)
        inStart = 0;
    if (inStart > fLength)
        inStart = fLength;
    if (inCount > fLength - inStart)
        inCount = fLength - inStart;
    if (inCount <= 0 || outUnits == nullptr)
        return;
    if (!fIsUTF8) {
        std::memcpy(outUnits, reinterpret_cast<const unsigned short*>(reinterpret_cast<const char*>(this) + sizeof(PlatString)) + inStart,
                    static_cast<size_t>(inCount) * sizeof(unsigned short));
        return;
    }
    const size_t unitsAt = (sizeof(PlatString) + fByteSize + 1) & ~static_cast<size_t>(1);
    std::memcpy(outUnits, reinterpret_cast<const unsigned short*>(reinterpret_cast<const char*>(this) + unitsAt) + inStart,
                static_cast<size_t>(inCount) * sizeof(unsigned short));
}

}  // namespace qelt::plat
