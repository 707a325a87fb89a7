#include "platform/PlatUTF8.h"

#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstring>

namespace qelt::plat {

namespace {

using Unit = unsigned short;

// Number of trailing bytes announced by a UTF-8 byte of 0x80 or more.
constexpr unsigned char TrailCount(unsigned int b)
{
    return b < 0xC0 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
}

// What the sum of shifted bytes of a sequence exceeds its value by.
constexpr uint32_t kUTF8Offsets[6] = {0x0u, 0x3080u, 0xE2080u, 0x3C82080u, 0xFA082080u, 0x82082080u};

// The smallest value a sequence with that many trailing bytes may carry.
constexpr uint32_t kUTF8Minimums[6] = {0x0u, 0x80u, 0x800u, 0x10000u, 0x200000u, 0x4000000u};

inline bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
// A unit that stands for one byte of a path that is not UTF-8.
inline bool IsPathByte(uint32_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

// A high surrogate and a low one as their code point.
inline uint32_t JoinSurrogates(uint32_t inHigh, uint32_t inLow) { return (inHigh << 10) + inLow - 0x35FDC00u; }

// Whether a decoded sequence is refused: an overlong form other than C0 80,
// an encoded surrogate, or a value beyond U+10FFFF.
inline bool IsRefused(uint32_t inValue, unsigned int inTrail)
{
    if (inValue < kUTF8Minimums[inTrail])
        return !(inTrail == 1 && inValue == 0);
    return (inValue & 0xFFFFF800u) == 0xD800u || inValue > 0x10FFFFu;
}

// What a byte that starts no whole sequence decodes to.
template <UTF8Mode kMode>
inline Unit LoneByte(unsigned int inByte, bool& ioOk)
{
    if constexpr (kMode == UTF8Mode::kReplace) {
        ioOk = false;
        return 0xFFFD;
    } else if constexpr (kMode == UTF8Mode::kPath) {
        ioOk = false;
        return static_cast<Unit>(0xDC00 + inByte);
    } else {
        return static_cast<Unit>(inByte);
    }
}

// Writes what a refused sequence decodes to and makes the answer false.
// Like a character beyond U+FFFF it needs two units of room: false, with
// nothing written, when they are not there. Paths keep the lead byte alone
// (the caller then reads on from the next byte, whose trailing bytes are
// lone bytes too), so every byte of the sequence is kept.
template <bool kChecked, UTF8Mode kMode>
inline bool Refuse(Unit*& ioTarget, Unit* const inTargetEnd, bool& ioOk, unsigned int inLead)
{
    ioOk = false;
    if constexpr (kMode == UTF8Mode::kPath) {
        *ioTarget++ = static_cast<Unit>(0xDC00 + inLead);
        return true;
    }
    if constexpr (kChecked) {
        if (inTargetEnd - ioTarget < 2)
            return false;
    }
    *ioTarget++ = kMode == UTF8Mode::kReplace ? Unit{0xFFFD} : Unit{'?'};
    return true;
}

// Decodes blocks of five three-byte sequences (fifteen bytes) with byte
// shuffles while sixteen source bytes remain and the block holds five
// well-formed three-byte sequences of allowed values (no overlong form, no
// surrogate); writes eight units per block (room the caller guarantees) and
// returns the number of sequences decoded.
__attribute__((target("ssse3"))) size_t DecodeThreeByteBlocks(const unsigned char* inSource, size_t inBytes,
                                                               Unit* outTarget)
{
    const __m128i formMask = _mm_setr_epi8(-16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, 0);
    const __m128i formBits = _mm_setr_epi8(-32, -128, -128, -32, -128, -128, -32, -128, -128, -32, -128, -128, -32,
                                           -128, -128, 0);
    const __m128i leads = _mm_setr_epi8(0, -1, 3, -1, 6, -1, 9, -1, 12, -1, -1, -1, -1, -1, -1, -1);
    const __m128i firsts = _mm_setr_epi8(1, -1, 4, -1, 7, -1, 10, -1, 13, -1, -1, -1, -1, -1, -1, -1);
    const __m128i seconds = _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1, -1);
    const __m128i low4 = _mm_set1_epi16(0x0F);
    const __m128i low6 = _mm_set1_epi16(0x3F);
    const __m128i top5 = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogates = _mm_set1_epi16(static_cast<short>(0xD800));
    const __m128i zero = _mm_setzero_si128();
    size_t sequences = 0;
    size_t at = 0;
    while (inBytes - at >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inSource + at));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, formMask), formBits)) != 0xFFFF)
            break;
        const __m128i lead = _mm_and_si128(_mm_shuffle_epi8(v, leads), low4);
        const __m128i first = _mm_and_si128(_mm_shuffle_epi8(v, firsts), low6);
        const __m128i second = _mm_and_si128(_mm_shuffle_epi8(v, seconds), low6);
        const __m128i units =
            _mm_or_si128(_mm_or_si128(_mm_slli_epi16(lead, 12), _mm_slli_epi16(first, 6)), second);
        // Of the five units (the low ten bytes), none below 0x800 and none a
        // surrogate.
        const __m128i top = _mm_and_si128(units, top5);
        const __m128i refused = _mm_or_si128(_mm_cmpeq_epi16(top, zero), _mm_cmpeq_epi16(top, surrogates));
        if ((_mm_movemask_epi8(refused) & 0x3FF) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outTarget + sequences), units);
        sequences += 5;
        at += 15;
    }
    return sequences;
}

// Whether the processor has the byte shuffles of the block paths (asked
// once; safe from static initialisers too).
bool HasSSSE3()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}

// The UTF-8 decoding loop. Without kChecked the caller guarantees room for
// one unit per remaining byte (no sequence yields more units than bytes),
// so the loop tests only the source. Stops before a sequence the end cuts
// off.
template <bool kChecked, UTF8Mode kMode>
bool DecodeLoop(const unsigned char*& ioSource, const unsigned char* const inEnd, Unit*& ioTarget,
                Unit* const inTargetEnd)
{
    const unsigned char* src = ioSource;
    Unit* dst = ioTarget;
    const __m128i zero = _mm_setzero_si128();
    bool ok = true;

    while (src < inEnd) {
        if constexpr (kChecked) {
            if (dst >= inTargetEnd)
                break;
        }
        const unsigned int c = *src;
        if (c < 0x80) {
            // Runs of ASCII, sixteen bytes at a time.
            for (;;) {
                if (inEnd - src < 16)
                    break;
                if constexpr (kChecked) {
                    if (inTargetEnd - dst < 16)
                        break;
                }
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi8(v, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 8), _mm_unpackhi_epi8(v, zero));
                const int mask = _mm_movemask_epi8(v);
                if (mask != 0) {
                    const int n = __builtin_ctz(static_cast<unsigned int>(mask));
                    src += n;
                    dst += n;
                    break;
                }
                src += 16;
                dst += 16;
            }
            while (src < inEnd && *src < 0x80) {
                if constexpr (kChecked) {
                    if (dst >= inTargetEnd)
                        break;
                }
                *dst++ = *src++;
            }
            continue;
        }

        const unsigned long avail = static_cast<unsigned long>(inEnd - src) - 1;
        if (c < 0xC0) {
            *dst++ = LoneByte<kMode>(c, ok);
            ++src;
            continue;
        }
        if (c < 0xE0) {
            if (avail == 0)
                break;  // the sequence ends beyond the source
            const unsigned int b1 = src[1];
            if ((b1 & 0xC0) != 0x80) {
                *dst++ = LoneByte<kMode>(c, ok);  // not followed as announced
                ++src;
                continue;
            }
            const unsigned int value = ((c & 0x1F) << 6) | (b1 & 0x3F);
            // Overlong, but for C0 80 (which paths refuse too).
            if (kMode == UTF8Mode::kPath ? value < 0x80 : value - 1 < 0x7F) {
                if (!Refuse<kChecked, kMode>(dst, inTargetEnd, ok, c))
                    break;
                if constexpr (kMode == UTF8Mode::kPath) {
                    ++src;
                    continue;
                }
            } else {
                *dst++ = static_cast<Unit>(value);
            }
            src += 2;
            continue;
        }
        if (c < 0xF0) {
            if constexpr (!kChecked) {
                if (inEnd - src >= 16 && HasSSSE3()) {
                    const size_t n = DecodeThreeByteBlocks(src, static_cast<size_t>(inEnd - src), dst);
                    if (n != 0) {
                        src += 3 * n;
                        dst += n;
                        continue;
                    }
                }
            }
            if (avail >= 2) {
                const unsigned int b1 = src[1];
                const unsigned int b2 = src[2];
                if (((b1 & 0xC0) == 0x80) & ((b2 & 0xC0) == 0x80)) {
                    const unsigned int value = ((c & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
                    const unsigned int top = value & 0xF800;
                    if (top == 0 || top == 0xD800) {  // overlong, or a surrogate
                        if (!Refuse<kChecked, kMode>(dst, inTargetEnd, ok, c))
                            break;
                        if constexpr (kMode == UTF8Mode::kPath) {
                            ++src;
                            continue;
                        }
                    } else {
                        *dst++ = static_cast<Unit>(value);
                    }
                    src += 3;
                    continue;
                }
                *dst++ = LoneByte<kMode>(c, ok);
                ++src;
                continue;
            }
            if (avail == 1 && (src[1] & 0xC0) != 0x80) {
                *dst++ = LoneByte<kMode>(c, ok);
                ++src;
                continue;
            }
            break;  // the sequence ends beyond the source
        }

        // Four well-formed bytes of a character beyond U+FFFF (emoji), the
        // common case, straight to its pair.
        if (c < 0xF5 && avail >= 3) {
            const unsigned int b1 = src[1];
            const unsigned int b2 = src[2];
            const unsigned int b3 = src[3];
            if (((b1 & 0xC0) == 0x80) & ((b2 & 0xC0) == 0x80) & ((b3 & 0xC0) == 0x80)) {
                const uint32_t value = ((c & 0x07) << 18) | ((b1 & 0x3F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F);
                if (value - 0x10000u <= 0xFFFFFu) {
                    if constexpr (kChecked) {
                        if (inTargetEnd - dst < 2)
                            break;
                    }
                    dst[0] = static_cast<Unit>(0xD7C0 + (value >> 10));
                    dst[1] = static_cast<Unit>(0xDC00 | (value & 0x3FF));
                    dst += 2;
                    src += 4;
                    continue;
                }
            }
        }

        // Four to six bytes: the value by the general rule, in 32-bit arithmetic.
        const unsigned int trail = TrailCount(c);
        const unsigned long check = avail < trail ? avail : trail;
        bool formed = true;
        for (unsigned long i = 1; i <= check; ++i)
            if ((src[i] & 0xC0) != 0x80)
                formed = false;
        if (!formed) {
            *dst++ = LoneByte<kMode>(c, ok);
            ++src;
            continue;
        }
        if (avail < trail)
            break;
        uint32_t value = c;
        for (unsigned int i = 1; i <= trail; ++i)
            value = (value << 6) + src[i];
        value -= kUTF8Offsets[trail];
        if (!IsRefused(value, trail)) {
            if constexpr (kChecked) {
                if (inTargetEnd - dst < 2)
                    break;
            }
            dst[0] = static_cast<Unit>(((value - 0x10000) >> 10) + 0xD800);
            dst[1] = static_cast<Unit>((value & 0x3FF) | 0xDC00);
            dst += 2;
        } else {
            if (!Refuse<kChecked, kMode>(dst, inTargetEnd, ok, c))
                break;
            if constexpr (kMode == UTF8Mode::kPath) {
                ++src;
                continue;
            }
        }
        src += trail + 1;
    }
    ioSource = src;
    ioTarget = dst;
    return ok;
}

template <UTF8Mode kMode>
UTF8Result Decode(const unsigned char* const start, size_t inByteCount, Unit* const outTarget, size_t inCapacity,
                  bool inFinal)
{
    UTF8Result result;
    if (inByteCount == 0 || inCapacity == 0)
        return result;
    const unsigned char* src = start;
    const unsigned char* const end = start + inByteCount;
    Unit* dst = outTarget;
    Unit* const dstEnd = outTarget + inCapacity;
    // Stretches of source for which the target surely has room go through
    // the loop without target tests; the rest through the careful one.
    for (;;) {
        const size_t remaining = static_cast<size_t>(end - src);
        const size_t room = static_cast<size_t>(dstEnd - dst);
        const size_t safe = remaining < room ? remaining : room;
        if (safe < 32)
            break;
        const unsigned char* const before = src;
        if (!DecodeLoop<false, kMode>(src, src + safe, dst, dstEnd))
            result.ok = false;
        if (src == before || src >= end)
            break;
    }
    while (src < end && dst < dstEnd) {
        if (!DecodeLoop<true, kMode>(src, end, dst, dstEnd))
            result.ok = false;
        // What stops the loop with source and room left is a sequence the
        // end cuts off, or a pair without room. When no more bytes come, the
        // lead byte of a cut-off sequence starts nothing.
        if (!inFinal || src >= end || dst >= dstEnd)
            break;
        if (TrailCount(*src) <= static_cast<size_t>(end - src) - 1)
            break;
        *dst++ = LoneByte<kMode>(*src, result.ok);
        ++src;
    }
    result.consumed = static_cast<size_t>(src - start);
    result.produced = static_cast<size_t>(dst - outTarget);
    return result;
}

// ---------------------------------------------------------------------------
// Encoding

// The UTF-8 length of a value and the mark of its lead byte.
constexpr unsigned char kUTF8LeadMarks[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};

inline void WriteUTF8(unsigned char* p, uint32_t inValue, int inLength)
{
    for (int i = inLength - 1; i > 0; --i) {
        p[i] = static_cast<unsigned char>(0x80 | (inValue & 0x3F));
        inValue >>= 6;
    }
    p[0] = static_cast<unsigned char>(inValue | kUTF8LeadMarks[inLength]);
}

// A UTF-16 unit written as three UTF-8 bytes: at least 0x800 and not a high
// surrogate; a lone low surrogate is taken as its own value by the
// converter's rules and replaced otherwise, so it is left to the slow path.
template <UTF8Mode kMode>
inline bool IsThreeByteUnit(uint32_t u)
{
    if constexpr (kMode != UTF8Mode::kConverter)
        return u >= 0x800 && (u - 0xD800u) >= 0x800u;
    else
        return u >= 0x800 && (u - 0xD800u) >= 0x400u;
}

// Its three bytes, first byte lowest.
inline uint32_t ThreeBytes(uint32_t u)
{
    return (0xE0 | (u >> 12)) | ((0x80 | ((u >> 6) & 0x3F)) << 8) | ((0x80 | (u & 0x3F)) << 16);
}

// Encodes blocks of eight three-byte units with byte shuffles while at least
// eight units remain and all eight of a block are three-byte units (no unit
// whose top bits under inSurrogateMask are 0xD800); returns the number of
// units encoded (3 bytes each).
__attribute__((target("ssse3"))) size_t EncodeThreeByteBlocks(const Unit* inSource, size_t inUnits,
                                                               unsigned char* outTarget, uint16_t inSurrogateMask)
{
    // Output byte k comes from unit k / 3: its lead byte (k % 3 == 0, in the
    // low half of the first pack), middle byte (high half) or last byte
    // (second pack).
    const __m128i firstLow = _mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
    const __m128i secondLow = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m128i firstHigh = _mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i secondHigh = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i below800 = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogateMask = _mm_set1_epi16(static_cast<short>(inSurrogateMask));
    const __m128i highSurrogate = _mm_set1_epi16(static_cast<short>(0xD800));
    const __m128i zero = _mm_setzero_si128();
    const __m128i low6 = _mm_set1_epi16(0x3F);
    const __m128i mark80 = _mm_set1_epi16(0x80);
    const __m128i markE0 = _mm_set1_epi16(0xE0);
    size_t done = 0;
    while (inUnits - done >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inSource + done));
        const __m128i small = _mm_cmpeq_epi16(_mm_and_si128(v, below800), zero);
        const __m128i high = _mm_cmpeq_epi16(_mm_and_si128(v, surrogateMask), highSurrogate);
        if (_mm_movemask_epi8(_mm_or_si128(small, high)) != 0)
            break;
        const __m128i b0 = _mm_or_si128(_mm_srli_epi16(v, 12), markE0);
        const __m128i b1 = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 6), low6), mark80);
        const __m128i b2 = _mm_or_si128(_mm_and_si128(v, low6), mark80);
        const __m128i lead = _mm_packus_epi16(b0, b1);
        const __m128i last = _mm_packus_epi16(b2, b2);
        const __m128i out0 = _mm_or_si128(_mm_shuffle_epi8(lead, firstLow), _mm_shuffle_epi8(last, secondLow));
        const __m128i out1 = _mm_or_si128(_mm_shuffle_epi8(lead, firstHigh), _mm_shuffle_epi8(last, secondHigh));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outTarget + 3 * done), out0);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(outTarget + 3 * done + 16), out1);
        done += 8;
    }
    return done;
}

// Shuffles that keep, of eight two-byte words, the low byte of every word
// and the high byte of the words whose bit is set in the index.
struct CompactionTable {
    alignas(16) unsigned char fShuffles[256][16];
    unsigned char fLengths[256];
};

constexpr CompactionTable MakeCompactionTable()
{
    CompactionTable table{};
    for (int mask = 0; mask < 256; ++mask) {
        int at = 0;
        for (int lane = 0; lane < 8; ++lane) {
            table.fShuffles[mask][at++] = static_cast<unsigned char>(2 * lane);
            if ((mask >> lane) & 1)
                table.fShuffles[mask][at++] = static_cast<unsigned char>(2 * lane + 1);
        }
        table.fLengths[mask] = static_cast<unsigned char>(at);
        while (at < 16)
            table.fShuffles[mask][at++] = 0x80;
    }
    return table;
}

constexpr CompactionTable kCompaction = MakeCompactionTable();

// Encodes blocks of eight units below 0x800 (ASCII mixed with two-byte
// characters, as in European text) while at least eight units remain;
// writes 16 bytes a block (room the caller guarantees). Returns the number
// of units encoded and adds the bytes written to ioBytes.
__attribute__((target("ssse3"))) size_t EncodeTwoByteBlocks(const Unit* inSource, size_t inUnits,
                                                             unsigned char* outTarget, size_t& ioBytes)
{
    const __m128i below800 = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i below80 = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    const __m128i low6 = _mm_set1_epi16(0x3F);
    const __m128i leadMark = _mm_set1_epi16(0xC0);
    const __m128i trailMark = _mm_set1_epi16(0x80);
    size_t done = 0;
    size_t bytes = 0;
    while (inUnits - done >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inSource + done));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, below800), zero)) != 0xFFFF)
            break;
        const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, below80), zero);
        const __m128i lead = _mm_or_si128(_mm_srli_epi16(v, 6), leadMark);
        const __m128i trail = _mm_or_si128(_mm_and_si128(v, low6), trailMark);
        const __m128i two = _mm_or_si128(lead, _mm_slli_epi16(trail, 8));
        const __m128i words = _mm_or_si128(_mm_and_si128(ascii, v), _mm_andnot_si128(ascii, two));
        const unsigned mask = static_cast<unsigned>(~_mm_movemask_epi8(_mm_packs_epi16(ascii, zero))) & 0xFFu;
        const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(kCompaction.fShuffles[mask]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outTarget + bytes), _mm_shuffle_epi8(words, shuffle));
        bytes += kCompaction.fLengths[mask];
        done += 8;
    }
    ioBytes += bytes;
    return done;
}

// The value written for a surrogate that is not half of a pair.
template <UTF8Mode kMode>
inline uint32_t LoneSurrogate(uint32_t inUnit, bool& ioOk)
{
    if constexpr (kMode != UTF8Mode::kConverter) {
        ioOk = false;
        return 0xFFFD;
    } else {
        return inUnit;
    }
}

// The UTF-8 encoding loop. Without kChecked the caller guarantees three
// bytes of room per remaining unit (no unit needs more). Stops before a
// high surrogate that ends the source.
template <bool kChecked, UTF8Mode kMode>
bool EncodeLoop(const Unit*& ioSource, const Unit* const inEnd, unsigned char*& ioTarget,
                unsigned char* const inTargetEnd)
{
    const Unit* src = ioSource;
    unsigned char* dst = ioTarget;
    const __m128i highBits = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    constexpr uint16_t kSurrogateMask = kMode != UTF8Mode::kConverter ? 0xF800 : 0xFC00;
    bool ok = true;

    while (src < inEnd) {
        uint32_t u = *src;
        if (u < 0x80) {
            // Runs of ASCII, eight units at a time.
            for (;;) {
                if (inEnd - src < 8)
                    break;
                if constexpr (kChecked) {
                    if (inTargetEnd - dst < 8)
                        break;
                }
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
                const __m128i isAscii = _mm_cmpeq_epi16(_mm_and_si128(v, highBits), zero);
                const int mask = _mm_movemask_epi8(isAscii);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
                if (mask != 0xFFFF) {
                    const int n = __builtin_ctz(static_cast<unsigned int>(~mask)) / 2;
                    src += n;
                    dst += n;
                    break;
                }
                src += 8;
                dst += 8;
            }
            bool full = false;
            while (src < inEnd && *src < 0x80) {
                if constexpr (kChecked) {
                    if (dst >= inTargetEnd) {
                        full = true;
                        break;
                    }
                }
                *dst++ = static_cast<unsigned char>(*src++);
            }
            if (full)
                break;
            continue;
        }
        if (u < 0x800) {
            if constexpr (!kChecked) {
                if (HasSSSE3()) {
                    size_t bytes = 0;
                    const size_t n = EncodeTwoByteBlocks(src, static_cast<size_t>(inEnd - src), dst, bytes);
                    if (n != 0) {
                        src += n;
                        dst += bytes;
                        continue;
                    }
                }
                // Mixed one- and two-byte units (European text) without a
                // branch per unit: two bytes are always stored, the second
                // is overwritten by the next unit when the first is ASCII.
                while (inEnd - src >= 2) {
                    u = *src;
                    if (u >= 0x800)
                        break;
                    const uint32_t isTwo = u >= 0x80 ? 1u : 0u;
                    const uint16_t two = static_cast<uint16_t>((0xC0 | (u >> 6)) | ((0x80 | (u & 0x3F)) << 8));
                    const uint16_t word = isTwo != 0 ? two : static_cast<uint16_t>(u);
                    std::memcpy(dst, &word, 2);
                    dst += 1 + isTwo;
                    ++src;
                }
                if (src >= inEnd)
                    break;
                u = *src;
                if (u >= 0x800)
                    continue;
                if (u < 0x80) {
                    *dst++ = static_cast<unsigned char>(u);
                    ++src;
                    continue;
                }
            } else {
                if (inTargetEnd - dst < 2)
                    break;
            }
            dst[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
            dst[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
            dst += 2;
            ++src;
            continue;
        }
        if (!IsHighSurrogate(u)) {
            if constexpr (kMode == UTF8Mode::kPath) {
                if (IsPathByte(u)) {
                    if constexpr (kChecked) {
                        if (dst >= inTargetEnd)
                            break;
                    }
                    *dst++ = static_cast<unsigned char>(u - 0xDC00);
                    ++src;
                    continue;
                }
            }
            if constexpr (!kChecked) {
                // Runs of three-byte units (CJK text): blocks of eight, then
                // each unit written as one four-byte store while another unit
                // follows (whose room takes the extra byte).
                if (HasSSSE3()) {
                    const size_t n =
                        EncodeThreeByteBlocks(src, static_cast<size_t>(inEnd - src), dst, kSurrogateMask);
                    src += n;
                    dst += 3 * n;
                }
                while (inEnd - src >= 3) {
                    const uint32_t u0 = src[0];
                    const uint32_t u1 = src[1];
                    if (!IsThreeByteUnit<kMode>(u0) || !IsThreeByteUnit<kMode>(u1))
                        break;
                    const uint64_t bytes = static_cast<uint64_t>(ThreeBytes(u0)) |
                                           (static_cast<uint64_t>(ThreeBytes(u1)) << 24);
                    std::memcpy(dst, &bytes, 8);
                    dst += 6;
                    src += 2;
                }
                while (inEnd - src >= 2) {
                    u = *src;
                    if (!IsThreeByteUnit<kMode>(u))
                        break;
                    const uint32_t bytes = ThreeBytes(u);
                    std::memcpy(dst, &bytes, 4);
                    dst += 3;
                    ++src;
                }
                if (src >= inEnd)
                    break;
                u = *src;
                if (u < 0x800 || IsHighSurrogate(u) || (kMode == UTF8Mode::kPath && IsPathByte(u)))
                    continue;
            } else {
                if (inTargetEnd - dst < 3)
                    break;
            }
            if (IsLowSurrogate(u))
                u = LoneSurrogate<kMode>(u, ok);
            WriteUTF8(dst, u, 3);
            dst += 3;
            ++src;
            continue;
        }
        // A high surrogate.
        if (src + 1 >= inEnd)
            break;  // the low half may follow in the next call
        int used = 1;
        int length = 3;
        if (IsLowSurrogate(src[1])) {
            u = JoinSurrogates(u, src[1]);
            used = 2;
            length = 4;
        }
        if constexpr (kChecked) {
            if (inTargetEnd - dst < length)
                break;
        }
        if (used == 1)
            u = LoneSurrogate<kMode>(u, ok);
        WriteUTF8(dst, u, length);
        dst += length;
        src += used;
    }
    ioSource = src;
    ioTarget = dst;
    return ok;
}

// Only counts the bytes the whole source needs.
template <UTF8Mode kMode>
UTF8Result Count(const Unit* inSource, size_t inUnits, bool inFinal)
{
    UTF8Result result;
    size_t total = 0;
    size_t i = 0;
    while (i < inUnits) {
        const uint32_t u = inSource[i];
        if (u < 0x80) {
            total += 1;
            ++i;
        } else if (u < 0x800) {
            total += 2;
            ++i;
        } else if (IsHighSurrogate(u)) {
            if (i + 1 >= inUnits && !inFinal)
                break;
            if (i + 1 < inUnits && IsLowSurrogate(inSource[i + 1])) {
                total += 4;
                i += 2;
            } else {
                LoneSurrogate<kMode>(u, result.ok);
                total += 3;
                ++i;
            }
        } else if (kMode == UTF8Mode::kPath && IsPathByte(u)) {
            total += 1;
            ++i;
        } else {
            if (IsLowSurrogate(u))
                LoneSurrogate<kMode>(u, result.ok);
            total += 3;
            ++i;
        }
    }
    result.consumed = i;
    result.produced = total;
    return result;
}

template <UTF8Mode kMode>
UTF8Result Encode(const Unit* const inSource, size_t inUnits, unsigned char* const start, size_t inCapacity,
                  bool inFinal)
{
    if (start == nullptr)
        return Count<kMode>(inSource, inUnits, inFinal);
    UTF8Result result;
    if (inUnits == 0)
        return result;
    const Unit* src = inSource;
    const Unit* const end = inSource + inUnits;
    unsigned char* dst = start;
    unsigned char* const dstEnd = start + inCapacity;
    // Stretches of units for which the target surely has room (three bytes
    // a unit) go through the loop without target tests; the rest through
    // the careful one.
    for (;;) {
        const size_t remaining = static_cast<size_t>(end - src);
        const size_t room = static_cast<size_t>(dstEnd - dst) / 3;
        size_t safe = remaining < room ? remaining : room;
        if (safe < 32)
            break;
        if (safe < remaining && IsHighSurrogate(src[safe - 1]))
            --safe;  // keep a pair within one stretch
        const Unit* const before = src;
        if (!EncodeLoop<false, kMode>(src, src + safe, dst, dstEnd))
            result.ok = false;
        if (src == before || src >= end)
            break;
    }
    if (src < end && !EncodeLoop<true, kMode>(src, end, dst, dstEnd))
        result.ok = false;
    // A high surrogate that ends the whole text has no low half to wait for.
    if (inFinal && end - src == 1 && IsHighSurrogate(*src) && dstEnd - dst >= 3) {
        WriteUTF8(dst, LoneSurrogate<kMode>(*src, result.ok), 3);
        dst += 3;
        ++src;
    }
    result.consumed = static_cast<size_t>(src - inSource);
    result.produced = static_cast<size_t>(dst - start);
    return result;
}

}  // namespace

UTF8Result DecodeUTF8(const void* inBytes, size_t inByteCount, unsigned short* outUnits, size_t inCapacity,
                      UTF8Mode inMode, bool inFinal)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(inBytes);
    if (bytes == nullptr || outUnits == nullptr)
        return UTF8Result{};
    if (inMode == UTF8Mode::kReplace)
        return Decode<UTF8Mode::kReplace>(bytes, inByteCount, outUnits, inCapacity, inFinal);
    if (inMode == UTF8Mode::kPath)
        return Decode<UTF8Mode::kPath>(bytes, inByteCount, outUnits, inCapacity, inFinal);
    return Decode<UTF8Mode::kConverter>(bytes, inByteCount, outUnits, inCapacity, inFinal);
}

UTF8Result EncodeUTF8(const unsigned short* inUnits, size_t inUnitCount, void* outBytes, size_t inCapacity,
                      UTF8Mode inMode, bool inFinal)
{
    if (inUnits == nullptr)
        return UTF8Result{};
    unsigned char* bytes = static_cast<unsigned char*>(outBytes);
    if (inMode == UTF8Mode::kReplace)
        return Encode<UTF8Mode::kReplace>(inUnits, inUnitCount, bytes, inCapacity, inFinal);
    if (inMode == UTF8Mode::kPath)
        return Encode<UTF8Mode::kPath>(inUnits, inUnitCount, bytes, inCapacity, inFinal);
    return Encode<UTF8Mode::kConverter>(inUnits, inUnitCount, bytes, inCapacity, inFinal);
}

std::string UTF16ToUTF8(const unsigned short* inUnits, size_t inUnitCount, UTF8Mode inMode)
{
    std::string out;
    if (inUnits == nullptr || inUnitCount == 0)
        return out;
    const UTF8Result needed = EncodeUTF8(inUnits, inUnitCount, nullptr, 0, inMode, true);
    out.resize(needed.produced);
    const UTF8Result written = EncodeUTF8(inUnits, inUnitCount, out.data(), out.size(), inMode, true);
    out.resize(written.produced);
    return out;
}

size_t EncodeCodePoint(uint32_t inCodePoint, char outBytes[4])
{
    if (inCodePoint > 0x10FFFF || (inCodePoint & 0xFFFFF800u) == 0xD800u)
        return 0;
    const int length = inCodePoint < 0x80 ? 1 : inCodePoint < 0x800 ? 2 : inCodePoint < 0x10000 ? 3 : 4;
    WriteUTF8(reinterpret_cast<unsigned char*>(outBytes), inCodePoint, length);
    return static_cast<size_t>(length);
}

}  // namespace qelt::plat
