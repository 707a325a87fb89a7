// The one UTF-8 <-> UTF-16 coder of the toolbox. Every place that turns
// UTF-16 units into UTF-8 bytes or back (the UTF-8 text converter, names
// handed to the C library, packed dictionary keys, ...) calls it, so that
// one rule decides what is well formed. It allocates nothing through the
// toolbox and may be called before the memory manager exists.
//
// Which sequences are ill formed is the same in every mode: an overlong form
// (other than C0 80, the two-byte zero unit some files store), an encoded
// surrogate (ED A0 80 ...) and a value above U+10FFFF are refused, since an
// overlong "/" or "." would otherwise slip past a check made on bytes. The
// mode says what becomes of what is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qelt::plat {

enum class UTF8Mode : int {
    // The rules of the UTF-8 text converter. Decoding: a byte that starts
    // no sequence, or a lead byte not followed by the trailing bytes it
    // announces, stands for the unit of its own value; a refused sequence
    // becomes "?" and the answer is false. Encoding: a lone surrogate is
    // written as its own value.
    kConverter = 0,
    // Well-formed output only: whatever cannot be decoded or encoded
    // becomes U+FFFD (one per byte that starts no whole sequence, one per
    // refused sequence) and the answer is false.
    kReplace = 1,
    // Path texts, so that every name round-trips: decoding takes every byte
    // of a refused or cut sequence, and every lone byte (C0 80 included),
    // as U+DC00 plus the byte; encoding writes U+DC80-U+DCFF, alone, as
    // that byte and any other lone surrogate as U+FFFD. The answer is false
    // when such a unit was made.
    kPath = 2,
};

struct UTF8Result {
    size_t consumed = 0;  // source units (bytes or UTF-16 units) used
    size_t produced = 0;  // target units written (or needed, when counting)
    bool ok = true;       // false when something was refused or replaced
};

// Decodes UTF-8 bytes into UTF-16 units from the start of the source as far
// as the target room allows; never writes beyond inCapacity units. A
// sequence that the end of the source cuts off is left unconsumed, to be
// offered again with more bytes, unless inFinal says no more will come: it
// is then read as an ill-formed byte. A character beyond U+FFFF needs two
// units of room; without them the call stops before it.
UTF8Result DecodeUTF8(const void* inBytes, size_t inByteCount, unsigned short* outUnits, size_t inCapacity,
                      UTF8Mode inMode, bool inFinal);

// Encodes UTF-16 units into UTF-8 bytes from the start of the source as far
// as the target room allows (a character is never cut). A high surrogate
// that ends the source is left unconsumed unless inFinal says no low one
// will follow. With a null target nothing is written and the result gives
// the bytes the whole source needs (inCapacity is not looked at).
UTF8Result EncodeUTF8(const unsigned short* inUnits, size_t inUnitCount, void* outBytes, size_t inCapacity,
                      UTF8Mode inMode, bool inFinal);

// The whole text as UTF-8 (inFinal set); lone surrogates per the mode.
std::string UTF16ToUTF8(const unsigned short* inUnits, size_t inUnitCount, UTF8Mode inMode);

// The UTF-8 bytes of one code point (1 to 4 bytes); 0 for a surrogate or a
// value above U+10FFFF, which have no well-formed encoding.
size_t EncodeCodePoint(uint32_t inCodePoint, char outBytes[4]);

}  // namespace qelt::plat
