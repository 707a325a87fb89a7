#include "values/StPackedDictionaryKey.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "kernel/VString.h"

namespace qelt {

namespace {

const char kEmptyBytes[1] = {0};

// Appends the UTF-8 form of one code point; false when it does not fit.
bool PutCodePoint(unsigned int cp, char* dest, unsigned long capacity, unsigned long& pos)
{
    unsigned char buf[4];
    unsigned long n;
    if (cp < 0x80) {
        buf[0] = static_cast<unsigned char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        buf[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        buf[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        buf[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        buf[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        buf[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        buf[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        buf[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 4;
    }
    if (n > capacity - pos)
        return false;
    std::memcpy(dest + pos, buf, n);
    pos += n;
    return true;
}

}  // namespace

bool EncodeUTF16ToUTF8(const UniChar* units, long count, char* dest, unsigned long capacity,
                       unsigned long* outLength)
{
    unsigned long pos = 0;
    for (long i = 0; i < count; ++i) {
        unsigned int cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= count)
                return false;  // lone high surrogate at the end
            unsigned int lo = units[i + 1];
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (!PutCodePoint(cp, dest, capacity, pos))
            return false;
    }
    if (outLength)
        *outLength = pos;
    return true;
}

void DecodeUTF8ToString(const char* bytes, unsigned long length, VString& out)
{
    out.Clear();
    UniChar chunk[256];
    int n = 0;
    auto put = [&](UniChar u) {
        chunk[n++] = u;
        if (n == 256) {
            out.AppendUniChars(chunk, n);
            n = 0;
        }
    };
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    unsigned long i = 0;
    while (i < length) {
        unsigned int c = p[i];
        unsigned int cp;
        unsigned long extra;
        unsigned int minimum;
        if (c < 0x80) {
            put(static_cast<UniChar>(c));
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F; extra = 1; minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F; extra = 2; minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07; extra = 3; minimum = 0x10000;
        } else {
            put(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + extra < length;  // all continuation bytes present
        if (ok) {
            for (unsigned long k = 1; k <= extra; ++k) {
                unsigned int cc = p[i + k];
                if ((cc & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (cc & 0x3F);
            }
        }
        if (!ok || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            put(0xFFFD);
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(static_cast<UniChar>(0xD800 + (cp >> 10)));
            put(static_cast<UniChar>(0xDC00 + (cp & 0x3FF)));
        } else {
            put(static_cast<UniChar>(cp));
        }
    }
    if (n > 0)
        out.AppendUniChars(chunk, n);
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
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
                !PutCodePoint(cp, buffer, kMaxKeyLength, pos)) {
                ok = false;
                break;
            }
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

bool StPackedDictionaryKey::Equal(const char* bytes, unsigned long length) const
{
    return fLength == length && (length == 0 || std::memcmp(fBytes, bytes, length) == 0);
}

void StPackedDictionaryKey::GetString(VString& out) const
{
    DecodeUTF8ToString(fBytes, static_cast<unsigned long>(fLength), out);
}

}  // namespace qelt
