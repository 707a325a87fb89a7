// The name of a bag attribute or element, and every key of a packed
// dictionary: UTF-8 bytes, their length and a 32-bit hash computed once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernel/VKernelTypes.h"

namespace qelt {

class VString;

class StPackedDictionaryKey {
public:
    // The longest key a dictionary stores: its length travels in one byte.
    static constexpr unsigned long kMaxKeyLength = 255;

    // The empty key.
    StPackedDictionaryKey();

    // Borrowed key over a zero-terminated literal (no copy, no allocation).
    // It must not outlive the bytes. Global keys have this form.
    StPackedDictionaryKey(const char* literal);

    // Owned key of the text's UTF-8 form. A text that needs more than 255
    // bytes, or that cannot be encoded completely, gives an empty key that
    // is marked unusable: dictionaries refuse to store it and never find it.
    explicit StPackedDictionaryKey(const wchar_t* text);
    explicit StPackedDictionaryKey(const VString& text);

    // Owned copy of exactly these bytes. No length limit is applied here;
    // a key longer than 255 bytes is refused by the dictionaries.
    StPackedDictionaryKey(const char* bytes, unsigned long length);

    // A key that borrows `length` bytes at `bytes` (no copy).
    static StPackedDictionaryKey Borrow(const char* bytes, unsigned long length);

    // An empty key that no dictionary stores or finds (a refused name).
    static StPackedDictionaryKey Unstorable();

    StPackedDictionaryKey(const StPackedDictionaryKey& other);
    StPackedDictionaryKey& operator=(const StPackedDictionaryKey& other);
    ~StPackedDictionaryKey();

    // The 32-bit hash of a key's bytes.
    static unsigned long long GetHashCode(const char* bytes, unsigned long length);

    const char* GetKeyPtr() const { return fBytes; }
    unsigned long GetKeyLength() const { return fLength; }
    unsigned long long GetHash() const { return fHash; }

    // False for a key that a dictionary may not store (a text name that did
    // not fit 255 bytes, or any key longer than 255 bytes).
    bool IsStorable() const { return fStorable && fLength <= kMaxKeyLength; }

    // Same length and same bytes; no case folding, no normalisation.
    bool Equal(const char* bytes, unsigned long length) const
    {
        return fLength == length && SameBytes(fBytes, bytes, length);
    }
    bool operator==(const StPackedDictionaryKey& other) const { return Equal(other.fBytes, other.fLength); }

    // True when the `length` bytes at a and b are equal. Keys are mostly
    // short: up to 16 bytes are compared as two overlapping words each, in
    // line, without a call.
    [[gnu::always_inline]] static bool SameBytes(const char* a, const char* b, unsigned long length)
    {
        if (length >= 8 && length <= 16)
            return _SameEnds<uint64_t>(a, b, length);
        if (length >= 4 && length < 8)
            return _SameEnds<uint32_t>(a, b, length);
        if (length < 4) {
            for (unsigned long i = 0; i < length; ++i) {
                if (a[i] != b[i])
                    return false;
            }
            return true;
        }
        return std::memcmp(a, b, length) == 0;
    }

    // The key decoded from UTF-8 into a string.
    void GetString(VString& out) const;

    // Makes this key a copy of source: owned bytes are copied, borrowed
    // bytes are borrowed again, the hash is copied.
    void _CopyFrom(const StPackedDictionaryKey& source);

private:
    // The first and the last word of two runs of `length` bytes, where one
    // word <= length <= two words, are equal.
    template <typename Word>
    static bool _SameEnds(const char* a, const char* b, unsigned long length)
    {
        Word a0, b0, a1, b1;
        std::memcpy(&a0, a, sizeof(Word));
        std::memcpy(&b0, b, sizeof(Word));
        std::memcpy(&a1, a + length - sizeof(Word), sizeof(Word));
        std::memcpy(&b1, b + length - sizeof(Word), sizeof(Word));
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }

    void _SetOwned(const char* bytes, unsigned long length);
    void _SetUnusable();
    void _Free();

    const char* fBytes;
    unsigned long long fLength;
    char* fOwned;
    unsigned long long fHash;
    bool fStorable;
};

// UTF-8 helpers shared by the bag files: decode UTF-8 bytes into a string
// (invalid sequences become U+FFFD) and encode UTF-16 units into UTF-8.
// EncodeUTF8 answers false, writing nothing past `capacity`, when the text
// needs more room or holds a lone high surrogate at its end.
void DecodeUTF8ToString(const char* bytes, unsigned long length, VString& out);
bool EncodeUTF16ToUTF8(const UniChar* units, long count, char* dest, unsigned long capacity,
                       unsigned long* outLength);

}  // namespace qelt
