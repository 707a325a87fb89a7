// The platform layer's text: an immutable, reference-counted sequence of
// UTF-16 units. Texts made from UTF-16 hand out their units directly; texts
// made from UTF-8 (names that come from the C library) keep their bytes,
// decode them once, and hand out units only by copying a range.
#pragma once

#include <atomic>
#include <cstddef>

namespace qelt::plat {

class PlatString {
public:
    // A new text (count 1) holding a copy of inLength units; null units with
    // a length of 0 give the empty text. Null when memory runs out.
    static PlatString* Create(const unsigned short* inUnits, long inLength);
    // A new text (count 1) over a copy of UTF-8 bytes; malformed sequences
    // read as U+FFFD. Null when memory runs out.
    static PlatString* CreateFromUTF8(const char* inBytes, size_t inSize);

    void Retain() const;
    // Drops one reference; the last one frees the text.
    void Release() const;

    // Length in UTF-16 units.
    long GetLength() const { return fLength; }
    // The units, when the text keeps them as UTF-16; else null.
    const unsigned short* GetUnitsPtr() const;
    // Copies inCount units from inStart (both clamped to the text).
    void GetUnits(long inStart, long inCount, unsigned short* outUnits) const;

    PlatString(const PlatString&) = delete;
    PlatString& operator=(const PlatString&) = delete;

private:
    PlatString() = default;
    ~PlatString() = default;

    mutable std::atomic<int> fCount{1};
    bool fIsUTF8 = false;
    long fLength = 0;     // in UTF-16 units
    size_t fByteSize = 0; // UTF-8 texts: number of bytes
    // The storage follows the object: units, or the bytes and then their
    // units (from an even offset).
};

}  // namespace qelt::plat
