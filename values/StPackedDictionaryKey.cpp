#include "values/StPackedDictionaryKey.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "kernel/VString.h"
#include "platform/PlatUTF8.h"

namespace qelt {

namespace {

const char kEmptyBytes[1] = {0};

}  // namespace

// Encodes whole; false when the bytes do not fit or the text ends in half a
// pair. A lone surrogate is written as its own value, as the UTF-8
// converter writes it.
bool EncodeUTF16ToUTF8(const UniChar* units, long count, char* dest, unsigned long capacity,
                       unsigned long* outLength)
{
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    const plat::UTF8Result result = plat::EncodeUTF8(units, n, dest, capacity, plat::UTF8Mode::kConverter, false);
    if (result.consumed != n)
        return false;
    if (outLength)
        *outLength = result.produced;
    return true;
}

// Ill-formed bytes read as U+FFFD.
void DecodeUTF8ToString(const char* bytes, unsigned long length, VString& out)
{
    out.Clear();
    UniChar chunk[256];
    size_t at = 0;
    while (at < length) {
        const plat::UTF8Result result =
            plat::DecodeUTF8(bytes + at, length - at, chunk, 256, plat::UTF8Mode::kReplace, true);
        if (result.consumed == 0)
            break;
        out.AppendUniChars(chunk, static_cast<int>(result.produced));
        at += result.consumed;
    }
}

StPackedDictionaryKey::StPackedDictionaryKey()
    : fBytes(kEmptyBytes), fLength(0), fOwned(nullptr), fHash(0), fStorable(true)
{
}

StPackedDictionaryKey::StPackedDictionaryKey(const char* literal)
    : fBytes(literal ? literal : kEmptyBytes),
      fLength(literal ? std::strlen(literal) : 0),
      fOwned(nullptr),
      fHash(0),
      fStorable(true)
{
    fHash = GetHashCode(fBytes, fLength);
}

StPackedDictionaryKey StPackedDictionaryKey::Borrow(const char* bytes, unsigned long length)
{
    StPackedDictionaryKey key;
    if (bytes != nullptr) {
        key.fBytes = bytes;
        key.fLength = length;
        key.fHash = GetHashCode(bytes, length);
    }
    return key;
}

StPackedDictionaryKey StPackedDictionaryKey::Unstorable()
{
    StPackedDictionaryKey key;
    key.fStorable = false;
    return key;
}

StPackedDictionaryKey::StPackedDictionaryKey(const wchar_t* text)
    : fBytes(kEmptyBytes), fLength(0), fOwned(nullptr), fHash(0), fStorable(true)
{
    char buffer[kMaxKeyLength + 1];
    unsigned long pos = 0;
    bool ok = true;
    if (text != nullptr) {
        for (const wchar_t* p = text; *p != 0; ++p) {
            unsigned int cp = static_cast<unsigned int>(*p);
            char bytes[4];
            const size_t n = plat::EncodeCodePoint(cp, bytes);
            if (n == 0 || n > kMaxKeyLength - pos) {
                ok = false;
                break;
            }
            std::memcpy(buffer + pos, bytes, n);
            pos += n;
        }
    }
    if (ok)
        _SetOwned(buffer, pos);
    else
        _SetUnusable();
}

StPackedDictionaryKey::StPackedDictionaryKey(const VString& text)
    : fBytes(kEmptyBytes), fLength(0), fOwned(nullptr), fHash(0), fStorable(true)
{
    char buffer[kMaxKeyLength + 1];
    unsigned long length = 0;
    if (EncodeUTF16ToUTF8(text.GetCPointer(), text.GetLength(), buffer, kMaxKeyLength, &length))
        _SetOwned(buffer, length);
    else
        _SetUnusable();
}

StPackedDictionaryKey::StPackedDictionaryKey(const char* bytes, unsigned long length)
    : fBytes(kEmptyBytes), fLength(0), fOwned(nullptr), fHash(0), fStorable(true)
{
    if (bytes == nullptr)
        length = 0;
    _SetOwned(bytes, length);
}

StPackedDictionaryKey::StPackedDictionaryKey(const StPackedDictionaryKey& other)
    : fBytes(kEmptyBytes), fLength(0), fOwned(nullptr), fHash(0), fStorable(true)
{
    _CopyFrom(other);
}

StPackedDictionaryKey& StPackedDictionaryKey::operator=(const StPackedDictionaryKey& other)
{
    if (this != &other)
        _CopyFrom(other);
    return *this;
}

StPackedDictionaryKey::~StPackedDictionaryKey()
{
    _Free();
}

void StPackedDictionaryKey::_Free()
{
    std::free(fOwned);
    fOwned = nullptr;
    fBytes = kEmptyBytes;
    fLength = 0;
    fHash = 0;
}

void StPackedDictionaryKey::_SetOwned(const char* bytes, unsigned long length)
{
    _Free();
    fStorable = true;
    char* buf = static_cast<char*>(std::malloc(length + 1));
    if (buf == nullptr) {
        _SetUnusable();
        return;
    }
    if (length > 0)
        std::memcpy(buf, bytes, length);
    buf[length] = 0;
    fOwned = buf;
    fBytes = buf;
    fLength = length;
    fHash = GetHashCode(buf, length);
}

void StPackedDictionaryKey::_SetUnusable()
{
    _Free();
    fStorable = false;
}

void StPackedDictionaryKey::_CopyFrom(const StPackedDictionaryKey& source)
{
    if (this == &source)
        return;
    if (source.fOwned != nullptr) {
        _SetOwned(source.fBytes, static_cast<unsigned long>(source.fLength));
    } else {
        _Free();
        fBytes = source.fBytes;
        fLength = source.fLength;
        fHash = source.fHash;
    }
    fStorable = source.fStorable;
}

unsigned long long StPackedDictionaryKey::GetHashCode(const char* bytes, unsigned long length)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    unsigned int h = static_cast<unsigned int>(length);
    if (length == 0)
        return 0;
    if (length <= 16) {
        for (unsigned long i = 0; i < length; ++i)
            h = h * 257u + p[i];
    } else {
        for (unsigned long i = 0; i < 8; ++i)
            h = h * 257u + p[i];
        for (unsigned long i = length - 8; i < length; ++i)
            h = h * 257u + p[i];
    }
    return h;
}

void StPackedDictionaryKey::GetString(VString& out) const
{
    DecodeUTF8ToString(fBytes, static_cast<unsigned long>(fLength), out);
}

}  // namespace qelt
