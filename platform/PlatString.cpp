#include "platform/PlatString.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace qelt::plat {

namespace {

constexpr unsigned short kReplacement = 0xFFFD;

// Decodes one UTF-8 character at bytes[i]; stores up to two units in
// out and returns how many; advances i.
int DecodeOne(const unsigned char* bytes, size_t size, size_t& i, unsigned short out[2])
{
    unsigned char b = bytes[i];
    if (b < 0x80) {
        ++i;
        out[0] = b;
        return 1;
    }
    int extra;
    unsigned int cp;
    unsigned int min;
    if ((b & 0xE0) == 0xC0) {
        extra = 1;
        cp = b & 0x1F;
        min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2;
        cp = b & 0x0F;
        min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3;
        cp = b & 0x07;
        min = 0x10000;
    } else {
        ++i;
        out[0] = kReplacement;
        return 1;
    }
    size_t j = i + 1;
    for (int k = 0; k < extra; ++k, ++j) {
        if (j >= size || (bytes[j] & 0xC0) != 0x80) {
            i = j;
            out[0] = kReplacement;
            return 1;
        }
        cp = (cp << 6) | (bytes[j] & 0x3F);
    }
    i = j;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        out[0] = kReplacement;
        return 1;
    }
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out[0] = static_cast<unsigned short>(0xD800 + (cp >> 10));
        out[1] = static_cast<unsigned short>(0xDC00 + (cp & 0x3FF));
        return 2;
    }
    out[0] = static_cast<unsigned short>(cp);
    return 1;
}

}  // namespace

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
    void* memory = std::malloc(sizeof(PlatString) + inSize);
    if (memory == nullptr)
        return nullptr;
    PlatString* text = new (memory) PlatString();
    text->fIsUTF8 = true;
    text->fByteSize = inSize;
    if (inSize > 0)
        std::memcpy(reinterpret_cast<char*>(text) + sizeof(PlatString), inBytes, inSize);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(reinterpret_cast<char*>(text) + sizeof(PlatString));
    long length = 0;
    unsigned short units[2];
    for (size_t i = 0; i < inSize;)
        length += DecodeOne(bytes, inSize, i, units);
    text->fLength = length;
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
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(reinterpret_cast<const char*>(this) + sizeof(PlatString));
    long index = 0;
    long written = 0;
    unsigned short units[2];
    for (size_t i = 0; i < fByteSize && written < inCount;) {
        int n = DecodeOne(bytes, fByteSize, i, units);
        for (int k = 0; k < n; ++k, ++index) {
            if (index >= inStart && written < inCount)
                outUnits[written++] = units[k];
        }
    }
}

}  // namespace qelt::plat
