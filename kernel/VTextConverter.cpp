#include "kernel/VTextConverter.h"

#include <emmintrin.h>
#include <tmmintrin.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "kernel/VMemory.h"
#include "kernel/VString.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

constexpr VError kErrorConversion = QeltError(300);

void ThrowConversionError(const char* inText)
{
    VString text(inText);
    _ThrowError(kErrorConversion, &text);
}

// Reaches the string's protected buffer operation that makes its buffer
// private (copying a shared block) and at least the given size, keeping the
// text.
struct StringBufferAccess : VString {
    static bool EnsureWritable(VString& ioString, int inNbChars)
    {
        bool (VString::*ensure)(int, bool) = &StringBufferAccess::_EnsureWritable;
        return (ioString.*ensure)(inNbChars, true);
    }
};

// Reserves room for inNbChars units (never less than the current length)
// in a private buffer and returns it, or null when it cannot be had.
UniChar* ReserveUnits(VString& ioString, long long inNbChars)
{
    if (inNbChars < ioString.GetLength())
        inNbChars = ioString.GetLength();
    if (inNbChars > INT_MAX - 8)
        return nullptr;
    if (!StringBufferAccess::EnsureWritable(ioString, static_cast<int>(inNbChars)))
        return nullptr;
    if (ioString.GetCapacity() < inNbChars)
        return nullptr;
    return const_cast<UniChar*>(ioString.GetCPointer());
}

inline uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

inline uint32_t Swap32(uint32_t v) { return __builtin_bswap32(v); }

inline uint32_t Load32(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void Store32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Number of trailing bytes announced by a UTF-8 byte of 0x80 or more.
constexpr unsigned char TrailCount(unsigned int b)
{
    return b < 0xC0 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
}

// What the sum of shifted bytes of a sequence exceeds its value by.
constexpr uint32_t kUTF8Offsets[6] = {0x0u, 0x3080u, 0xE2080u, 0x3C82080u, 0xFA082080u, 0x82082080u};

// The UTF-8 length of a value and the mark of its lead byte.
constexpr unsigned char kUTF8LeadMarks[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

inline void WriteUTF8(unsigned char* p, uint32_t inValue, int inLength)
{
    for (int i = inLength - 1; i > 0; --i) {
        p[i] = static_cast<unsigned char>(0x80 | (inValue & 0x3F));
        inValue >>= 6;
    }
    p[0] = static_cast<unsigned char>(inValue | kUTF8LeadMarks[inLength]);
}

inline bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// A high surrogate and a low one as their code point.
inline uint32_t JoinSurrogates(uint32_t inHigh, uint32_t inLow) { return (inHigh << 10) + inLow - 0x35FDC00u; }

}  // namespace

// ---------------------------------------------------------------------------
// VToUnicodeConverter

VToUnicodeConverter::~VToUnicodeConverter() = default;

bool VToUnicodeConverter::IsValid() const { return true; }

unsigned long VToUnicodeConverter::GetCharSize() const { return 2; }

bool VToUnicodeConverter::ConvertString(const void* inSource, unsigned long inByteCount,
                                        unsigned long* outBytesConsumed, VString& ioString)
{
    if (outBytesConsumed != nullptr)
        *outBytesConsumed = 0;

    const long long startLength = ioString.GetLength();
    UniChar* buffer = ReserveUnits(ioString, startLength + static_cast<long long>(inByteCount) + 1);
    if (buffer == nullptr) {
        ThrowConversionError("conversion failed (EnsureSize failed).");
        return false;
    }

    const unsigned char* source = static_cast<const unsigned char*>(inSource);
    unsigned long consumed = 0;
    long long produced = 0;
    bool ok = true;

    if (inByteCount != 0 && inSource != nullptr) {
        long long capacity = static_cast<long long>(inByteCount);
        for (;;) {
            unsigned long callConsumed = 0;
            int callProduced = 0;
            int callCapacity = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
            Convert(source + consumed, inByteCount - consumed, &callConsumed, buffer + startLength + produced,
                    callCapacity, &callProduced);
            consumed += callConsumed;
            produced += callProduced;
            capacity -= callProduced;
            if (callConsumed == 0 || callProduced == 0 || consumed >= inByteCount)
                break;
            const unsigned long rest = inByteCount - consumed;
            if (capacity < static_cast<long long>(rest)) {
                ioString.Validate(static_cast<int>(startLength + produced));
                capacity = static_cast<long long>(rest) + 100;
                buffer = ReserveUnits(ioString, startLength + produced + capacity + 1);
                if (buffer == nullptr) {
                    ThrowConversionError("conversion failed (EnsureSize failed).");
                    ok = false;
                    break;
                }
            }
        }
    }

    ioString.Validate(static_cast<int>(startLength + produced));
    if (outBytesConsumed != nullptr)
        *outBytesConsumed = consumed;
    return ok;
}

// ---------------------------------------------------------------------------
// VFromUnicodeConverter

namespace {

// Whether another pass of the growing encoders should run after a pass that
// consumed inPassConsumed units. A pass that consumed nothing may have met a
// character longer than the window the character size promises (a UTF-7
// sequence, for one): the window is then widened a few times before the
// encoder is taken at its word that nothing more can be converted.
bool NextWindow(int inPassConsumed, unsigned long long& ioWiden)
{
    if (inPassConsumed > 0) {
        ioWiden = 1;
        return true;
    }
    if (ioWiden >= 16)
        return false;
    ioWiden *= 4;
    return true;
}

}  // namespace

VFromUnicodeConverter::~VFromUnicodeConverter() = default;

bool VFromUnicodeConverter::IsValid() const { return true; }

bool VFromUnicodeConverter::ConvertRealloc(const UniChar* inSource, int inUniChars, void*& ioBlock,
                                           unsigned long& ioUsedBytes, unsigned long inSpareBytes)
{
    if (!IsValid())
        return true;  // converts nothing: nothing is added
    int consumedTotal = 0;
    unsigned long long widen = 1;
    while (true) {
        const int rest = inUniChars - consumedTotal;
        const unsigned long long grow = static_cast<unsigned long long>(GetCharSize()) *
                                        (static_cast<unsigned long long>(rest < 0 ? 0 : rest) + 2) * widen;
        const unsigned long long total = static_cast<unsigned long long>(inSpareBytes) + ioUsedBytes + grow;
        void* block = (total > static_cast<unsigned long long>(LONG_MAX)) ? nullptr
                                                                           : VMemory::SetPtrSize(ioBlock, static_cast<size_t>(total));
        if (block == nullptr) {
            ThrowConversionError("mem failure");
            return false;
        }
        ioBlock = block;

        unsigned char* window = static_cast<unsigned char*>(block) + ioUsedBytes;
        unsigned long windowLeft = static_cast<unsigned long>(grow);
        int passConsumed = 0;
        while (consumedTotal < inUniChars) {
            int consumed = 0;
            unsigned long produced = 0;
            bool ok = Convert(inSource + consumedTotal, inUniChars - consumedTotal, &consumed, window, windowLeft,
                              &produced);
            consumedTotal += consumed;
            passConsumed += consumed;
            ioUsedBytes += produced;
            window += produced;
            windowLeft -= produced;
            if (!ok)
                return false;
            if (produced == 0)
                break;
        }
        if (consumedTotal >= inUniChars)
            return true;
        if (!NextWindow(passConsumed, widen))
            return true;
    }
}

bool VFromUnicodeConverter::ConvertToBuffer(const UniChar* inSource, int inUniChars,
                                            VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer,
                                            unsigned long inSpareBytes)
{
    const uint64_t startSize = ioBuffer.GetDataSize();
    uint64_t written = 0;
    int consumedTotal = 0;
    unsigned long long widen = 1;
    bool result = true;
    while (true) {
        const int rest = inUniChars - consumedTotal;
        const uint64_t grow =
            static_cast<uint64_t>(GetCharSize()) * (static_cast<uint64_t>(rest < 0 ? 0 : rest) + 2) * widen;
        const uint64_t total = startSize + written + inSpareBytes + grow;
        if (ioBuffer.GetAllocatedSize() != total) {
            // keep what was written so far in use while the block moves
            ioBuffer.SetDataSize(startSize + written);
            if (!ioBuffer.SetCapacityExact(total)) {
                ThrowConversionError("mem failure");
                return false;
            }
        }
        unsigned char* window = static_cast<unsigned char*>(ioBuffer.GetDataPtr()) + startSize + written;
        uint64_t windowLeft = grow;
        int passConsumed = 0;
        bool stop = false;
        while (consumedTotal < inUniChars) {
            int consumed = 0;
            unsigned long produced = 0;
            bool ok = Convert(inSource + consumedTotal, inUniChars - consumedTotal, &consumed, window,
                              static_cast<unsigned long>(windowLeft), &produced);
            consumedTotal += consumed;
            passConsumed += consumed;
            written += produced;
            window += produced;
            windowLeft -= produced;
            if (!ok) {
                result = false;
                stop = true;
                break;
            }
            if (produced == 0)
                break;
        }
        if (stop || consumedTotal >= inUniChars || !NextWindow(passConsumed, widen))
            break;
    }
    uint64_t newSize = startSize + written + inSpareBytes;
    if (newSize > ioBuffer.GetAllocatedSize())
        newSize = ioBuffer.GetAllocatedSize();
    ioBuffer.SetDataSize(newSize);
    return result;
}

// ---------------------------------------------------------------------------
// Null: UTF-16 in machine order

bool VToUnicodeConverter_Null::ConvertString(const void* inSource, unsigned long inByteCount,
                                             unsigned long* outBytesConsumed, VString& ioString)
{
    ioString.AppendBlock(inSource, inByteCount, VTC_UTF_16_SMALLENDIAN);
    if (outBytesConsumed != nullptr)
        *outBytesConsumed = inByteCount;
    return true;
}

bool VToUnicodeConverter_Null::Convert(const void* inSource, unsigned long inByteCount,
                                       unsigned long* outBytesConsumed, UniChar* outTarget, int inMaxUniChars,
                                       int* outProducedUniChars)
{
    unsigned long bytes = inMaxUniChars > 0 ? static_cast<unsigned long>(inMaxUniChars) * 2 : 0;
    if (bytes > inByteCount)
        bytes = inByteCount;
    bytes &= ~1UL;
    if (bytes != 0)
        std::memcpy(outTarget, inSource, bytes);
    *outBytesConsumed = bytes;
    *outProducedUniChars = static_cast<int>(bytes / 2);
    return true;
}

bool VFromUnicodeConverter_Null::Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars,
                                         void* outBuffer, unsigned long inBufferSize,
                                         unsigned long* outProducedBytes)
{
    unsigned long bytes = inUniChars > 0 ? static_cast<unsigned long>(inUniChars) * 2 : 0;
    if (bytes > inBufferSize)
        bytes = inBufferSize;
    bytes &= ~1UL;
    if (bytes != 0)
        std::memcpy(outBuffer, inSource, bytes);
    *outConsumedUniChars = static_cast<int>(bytes / 2);
    *outProducedBytes = bytes;
    return true;
}

unsigned long VFromUnicodeConverter_Null::GetCharSize() const { return 2; }

// ---------------------------------------------------------------------------
// Swap: UTF-16 in the other byte order

bool VToUnicodeConverter_Swap::ConvertString(const void* inSource, unsigned long inByteCount,
                                             unsigned long* outBytesConsumed, VString& ioString)
{
    // Appended through a small swapped copy, piece by piece.
    const unsigned char* source = static_cast<const unsigned char*>(inSource);
    unsigned long units = inByteCount / 2;
    if (units > 0 && ReserveUnits(ioString, static_cast<long long>(ioString.GetLength()) + units) == nullptr) {
        // the string raised its error; nothing is appended
        if (outBytesConsumed != nullptr)
            *outBytesConsumed = 0;
        return false;
    }
    UniChar chunk[512];
    while (units > 0) {
        const unsigned long n = units < 512 ? units : 512;
        std::memcpy(chunk, source, n * 2);
        for (unsigned long i = 0; i < n; ++i)
            chunk[i] = Swap16(chunk[i]);
        ioString.AppendUniChars(chunk, static_cast<int>(n));
        source += n * 2;
        units -= n;
    }
    if (outBytesConsumed != nullptr)
        *outBytesConsumed = inByteCount;
    return true;
}

bool VToUnicodeConverter_Swap::Convert(const void* inSource, unsigned long inByteCount,
                                       unsigned long* outBytesConsumed, UniChar* outTarget, int inMaxUniChars,
                                       int* outProducedUniChars)
{
    unsigned long bytes = inMaxUniChars > 0 ? static_cast<unsigned long>(inMaxUniChars) * 2 : 0;
    if (bytes > inByteCount)
        bytes = inByteCount;
    bytes &= ~1UL;
    if (bytes != 0)
        std::memcpy(outTarget, inSource, bytes);
    for (unsigned long i = 0; i < bytes / 2; ++i)
        outTarget[i] = Swap16(outTarget[i]);
    *outBytesConsumed = bytes;
    *outProducedUniChars = static_cast<int>(bytes / 2);
    return true;
}

bool VFromUnicodeConverter_Swap::Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars,
                                         void* outBuffer, unsigned long inBufferSize,
                                         unsigned long* outProducedBytes)
{
    unsigned long bytes = inUniChars > 0 ? static_cast<unsigned long>(inUniChars) * 2 : 0;
    if (bytes > inBufferSize)
        bytes = inBufferSize;
    bytes &= ~1UL;
    unsigned char* target = static_cast<unsigned char*>(outBuffer);
    for (unsigned long i = 0; i < bytes / 2; ++i) {
        target[2 * i] = static_cast<unsigned char>(inSource[i] >> 8);
        target[2 * i + 1] = static_cast<unsigned char>(inSource[i] & 0xFF);
    }
    *outConsumedUniChars = static_cast<int>(bytes / 2);
    *outProducedBytes = bytes;
    return true;
}

unsigned long VFromUnicodeConverter_Swap::GetCharSize() const { return 2; }

// ---------------------------------------------------------------------------
// UTF-32

bool VToUnicodeConverter_UTF32::Convert(const void* inSource, unsigned long inByteCount,
                                        unsigned long* outBytesConsumed, UniChar* outTarget, int inMaxUniChars,
                                        int* outProducedUniChars)
{
    const unsigned char* source = static_cast<const unsigned char*>(inSource);
    const unsigned long units = inByteCount / 4;
    unsigned long i = 0;
    int produced = 0;
    bool ok = true;
    for (; i < units; ++i) {
        uint32_t v = Load32(source + 4 * i);
        if (fSwap)
            v = Swap32(v);
        if (v < 0x10000) {
            if (v >= 0xD800 && v <= 0xDFFF) {
                ok = false;
                break;
            }
            if (produced >= inMaxUniChars) {
                ok = false;
                break;
            }
            outTarget[produced++] = static_cast<UniChar>(v);
        } else if (v <= 0x10FFFF) {
            if (inMaxUniChars - produced < 2) {
                ok = false;
                break;
            }
            outTarget[produced++] = static_cast<UniChar>(((v - 0x10000) >> 10) + 0xD800);
            outTarget[produced++] = static_cast<UniChar>((v & 0x3FF) | 0xDC00);
        } else {
            ok = false;  // beyond Unicode: skipped
        }
    }
    *outBytesConsumed = i * 4;
    *outProducedUniChars = produced;
    return ok;
}

bool VFromUnicodeConverter_UTF32::Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars,
                                          void* outBuffer, unsigned long inBufferSize,
                                          unsigned long* outProducedBytes)
{
    unsigned char* target = static_cast<unsigned char*>(outBuffer);
    int i = 0;
    unsigned long written = 0;
    bool ok = true;
    while (i < inUniChars) {
        uint32_t u = inSource[i];
        int used = 1;
        if (IsHighSurrogate(u)) {
            if (i + 1 >= inUniChars || !IsLowSurrogate(inSource[i + 1])) {
                ok = false;
                break;
            }
            u = JoinSurrogates(u, inSource[i + 1]);
            used = 2;
        } else if (IsLowSurrogate(u)) {
            ok = false;
            break;
        }
        if (inBufferSize - written < 4) {
            ok = false;
            break;
        }
        Store32(target + written, fSwap ? Swap32(u) : u);
        written += 4;
        i += used;
    }
    *outConsumedUniChars = i;
    *outProducedBytes = written;
    return ok;
}

unsigned long VFromUnicodeConverter_UTF32::GetCharSize() const { return 4; }

// ---------------------------------------------------------------------------
// UTF-32 raw: one 32-bit unit per UTF-16 unit

bool VToUnicodeConverter_UTF32_Raw::ConvertString(const void* inSource, unsigned long inByteCount,
                                                  unsigned long* outBytesConsumed, VString& ioString)
{
    const unsigned long units = inByteCount / 4;
    const int length = ioString.GetLength();
    UniChar* buffer = ReserveUnits(ioString, static_cast<long long>(length) + static_cast<long long>(units));
    if (buffer == nullptr) {
        if (outBytesConsumed != nullptr)
            *outBytesConsumed = 0;
        return false;
    }
    const unsigned char* source = static_cast<const unsigned char*>(inSource);
    for (unsigned long i = 0; i < units; ++i) {
        uint32_t v = Load32(source + 4 * i);
        if (fSwap)
            v = Swap32(v);
        buffer[length + i] = static_cast<UniChar>(v);
    }
    ioString.Validate(length + static_cast<int>(units));
    if (outBytesConsumed != nullptr)
        *outBytesConsumed = units * 4;
    return true;
}

bool VToUnicodeConverter_UTF32_Raw::Convert(const void* inSource, unsigned long inByteCount,
                                            unsigned long* outBytesConsumed, UniChar* outTarget, int inMaxUniChars,
                                            int* outProducedUniChars)
{
    unsigned long units = inByteCount / 4;
    if (inMaxUniChars <= 0)
        units = 0;
    else if (units > static_cast<unsigned long>(inMaxUniChars))
        units = static_cast<unsigned long>(inMaxUniChars);
    const unsigned char* source = static_cast<const unsigned char*>(inSource);
    for (unsigned long i = 0; i < units; ++i) {
        uint32_t v = Load32(source + 4 * i);
        if (fSwap)
            v = Swap32(v);
        outTarget[i] = static_cast<UniChar>(v);
    }
    *outBytesConsumed = units * 4;
    *outProducedUniChars = static_cast<int>(units);
    return true;
}

bool VFromUnicodeConverter_UTF32_Raw::Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars,
                                              void* outBuffer, unsigned long inBufferSize,
                                              unsigned long* outProducedBytes)
{
    unsigned long units = inUniChars > 0 ? static_cast<unsigned long>(inUniChars) : 0;
    if (units > inBufferSize / 4)
        units = inBufferSize / 4;
    unsigned char* target = static_cast<unsigned char*>(outBuffer);
    for (unsigned long i = 0; i < units; ++i) {
        uint32_t v = inSource[i];
        Store32(target + 4 * i, fSwap ? Swap32(v) : v);
    }
    *outConsumedUniChars = static_cast<int>(units);
    *outProducedBytes = units * 4;
    return true;
}

unsigned long VFromUnicodeConverter_UTF32_Raw::GetCharSize() const { return 4; }

// ---------------------------------------------------------------------------
// UTF-8

namespace {

// Decodes blocks of five three-byte sequences (fifteen bytes) with byte
// shuffles while sixteen source bytes remain and the block holds five
// well-formed three-byte sequences; writes eight units per block (room the
// caller guarantees) and returns the number of sequences decoded.
__attribute__((target("ssse3"))) size_t DecodeThreeByteBlocks(const unsigned char* inSource, size_t inBytes,
                                                               UniChar* outTarget)
{
    const __m128i formMask = _mm_setr_epi8(-16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, 0);
    const __m128i formBits = _mm_setr_epi8(-32, -128, -128, -32, -128, -128, -32, -128, -128, -32, -128, -128, -32,
                                           -128, -128, 0);
    const __m128i leads = _mm_setr_epi8(0, -1, 3, -1, 6, -1, 9, -1, 12, -1, -1, -1, -1, -1, -1, -1);
    const __m128i firsts = _mm_setr_epi8(1, -1, 4, -1, 7, -1, 10, -1, 13, -1, -1, -1, -1, -1, -1, -1);
    const __m128i seconds = _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1, -1);
    const __m128i low4 = _mm_set1_epi16(0x0F);
    const __m128i low6 = _mm_set1_epi16(0x3F);
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
// so the loop tests only the source.
template <bool kChecked>
bool DecodeUTF8(const unsigned char*& ioSource, const unsigned char* const inEnd, UniChar*& ioTarget,
                UniChar* const inTargetEnd)
{
    const unsigned char* src = ioSource;
    UniChar* dst = ioTarget;
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
            // a byte that cannot start a sequence stands for the unit of its value
            *dst++ = static_cast<UniChar>(c);
            ++src;
            continue;
        }
        if (c < 0xE0) {
            if (avail == 0)
                break;  // the sequence ends beyond the source
            const unsigned int b1 = src[1];
            if ((b1 & 0xC0) != 0x80) {
                *dst++ = static_cast<UniChar>(c);  // not followed as announced: a lone byte
                ++src;
                continue;
            }
            *dst++ = static_cast<UniChar>(((c & 0x1F) << 6) | (b1 & 0x3F));
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
                    *dst++ = static_cast<UniChar>(((c & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
                    src += 3;
                    continue;
                }
                *dst++ = static_cast<UniChar>(c);
                ++src;
                continue;
            }
            if (avail == 1 && (src[1] & 0xC0) != 0x80) {
                *dst++ = static_cast<UniChar>(c);
                ++src;
                continue;
            }
            break;  // the sequence ends beyond the source
        }

        // Four to six bytes: the value by the general rule, in 32-bit arithmetic.
        const unsigned int trail = TrailCount(c);
        const unsigned long check = avail < trail ? avail : trail;
        bool formed = true;
        for (unsigned long i = 1; i <= check; ++i)
            if ((src[i] & 0xC0) != 0x80)
                formed = false;
        if (!formed) {
            *dst++ = static_cast<UniChar>(c);
            ++src;
            continue;
        }
        if (avail < trail)
            break;
        uint32_t value = c;
        for (unsigned int i = 1; i <= trail; ++i)
            value = (value << 6) + src[i];
        value -= kUTF8Offsets[trail];
        if (value < 0x10000) {
            *dst++ = static_cast<UniChar>(value);
        } else if (value <= 0x10FFFF) {
            if constexpr (kChecked) {
                if (inTargetEnd - dst < 2)
                    break;
            }
            dst[0] = static_cast<UniChar>(((value - 0x10000) >> 10) + 0xD800);
            dst[1] = static_cast<UniChar>((value & 0x3FF) | 0xDC00);
            dst += 2;
        } else {
            ok = false;
            if constexpr (kChecked) {
                if (inTargetEnd - dst < 2)
                    break;
            }
            *dst++ = '?';
        }
        src += trail + 1;
    }
    ioSource = src;
    ioTarget = dst;
    return ok;
}

// A UTF-16 unit written as three UTF-8 bytes: at least 0x800 and not a high
// surrogate (a lone low surrogate is taken as its own value).
inline bool IsThreeByteUnit(uint32_t u) { return u >= 0x800 && (u - 0xD800u) >= 0x400u; }

// Its three bytes, first byte lowest.
inline uint32_t ThreeBytes(uint32_t u)
{
    return (0xE0 | (u >> 12)) | ((0x80 | ((u >> 6) & 0x3F)) << 8) | ((0x80 | (u & 0x3F)) << 16);
}

// Encodes blocks of eight three-byte units with byte shuffles while at least
// eight units remain and all eight of a block are three-byte units; returns
// the number of units encoded (3 bytes each).
__attribute__((target("ssse3"))) size_t EncodeThreeByteBlocks(const UniChar* inSource, size_t inUnits,
                                                               unsigned char* outTarget)
{
    // Output byte k comes from unit k / 3: its lead byte (k % 3 == 0, in the
    // low half of the first pack), middle byte (high half) or last byte
    // (second pack).
    const __m128i firstLow = _mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
    const __m128i secondLow = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m128i firstHigh = _mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i secondHigh = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i below800 = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogateMask = _mm_set1_epi16(static_cast<short>(0xFC00));
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
__attribute__((target("ssse3"))) size_t EncodeTwoByteBlocks(const UniChar* inSource, size_t inUnits,
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

// The UTF-8 encoding loop. Without kChecked the caller guarantees three
// bytes of room per remaining unit (no unit needs more).
template <bool kChecked>
void EncodeUTF8(const UniChar*& ioSource, const UniChar* const inEnd, unsigned char*& ioTarget,
                unsigned char* const inTargetEnd)
{
    const UniChar* src = ioSource;
    unsigned char* dst = ioTarget;
    const __m128i highBits = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();

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
        if (u < 0xD800 || u > 0xDBFF) {
            if constexpr (!kChecked) {
                // Runs of three-byte units (CJK text): blocks of eight, then
                // each unit written as one four-byte store while another unit
                // follows (whose room takes the extra byte).
                if (HasSSSE3()) {
                    const size_t n = EncodeThreeByteBlocks(src, static_cast<size_t>(inEnd - src), dst);
                    src += n;
                    dst += 3 * n;
                }
                while (inEnd - src >= 3) {
                    const uint32_t u0 = src[0];
                    const uint32_t u1 = src[1];
                    if (!IsThreeByteUnit(u0) || !IsThreeByteUnit(u1))
                        break;
                    const uint64_t bytes = static_cast<uint64_t>(ThreeBytes(u0)) |
                                           (static_cast<uint64_t>(ThreeBytes(u1)) << 24);
                    std::memcpy(dst, &bytes, 8);
                    dst += 6;
                    src += 2;
                }
                while (inEnd - src >= 2) {
                    u = *src;
                    if (!IsThreeByteUnit(u))
                        break;
                    const uint32_t bytes = ThreeBytes(u);
                    std::memcpy(dst, &bytes, 4);
                    dst += 3;
                    ++src;
                }
                if (src >= inEnd)
                    break;
                u = *src;
                if (u < 0x800 || (u >= 0xD800 && u <= 0xDBFF))
                    continue;
            } else {
                if (inTargetEnd - dst < 3)
                    break;
            }
            dst[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
            dst[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            dst[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
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
        // a high surrogate not followed by a low one is taken as its own value
        if constexpr (kChecked) {
            if (inTargetEnd - dst < length)
                break;
        }
        WriteUTF8(dst, u, length);
        dst += length;
        src += used;
    }
    ioSource = src;
    ioTarget = dst;
}

}  // namespace

bool VToUnicodeConverter_UTF8::Convert(const void* inSource, unsigned long inByteCount,
                                       unsigned long* outBytesConsumed, UniChar* outTarget, int inMaxUniChars,
                                       int* outProducedUniChars)
{
    if (inByteCount == 0 || inMaxUniChars <= 0) {
        *outBytesConsumed = 0;
        *outProducedUniChars = 0;
        return true;
    }
    const unsigned char* const start = static_cast<const unsigned char*>(inSource);
    const unsigned char* src = start;
    const unsigned char* const end = start + inByteCount;
    UniChar* dst = outTarget;
    UniChar* const dstEnd = outTarget + inMaxUniChars;
    bool ok = true;
    // Stretches of source for which the target surely has room go through
    // the loop without target tests; the rest through the careful one.
    for (;;) {
        const unsigned long remaining = static_cast<unsigned long>(end - src);
        const unsigned long room = static_cast<unsigned long>(dstEnd - dst);
        const unsigned long safe = remaining < room ? remaining : room;
        if (safe < 32)
            break;
        const unsigned char* const before = src;
        if (!DecodeUTF8<false>(src, src + safe, dst, dstEnd))
            ok = false;
        if (src == before || src >= end)
            break;
    }
    if (src < end && dst < dstEnd && !DecodeUTF8<true>(src, end, dst, dstEnd))
        ok = false;
    *outBytesConsumed = static_cast<unsigned long>(src - start);
    *outProducedUniChars = static_cast<int>(dst - outTarget);
    return ok;
}

namespace {

// UTF-8 length of a value taken from 32-bit units (0: too large).
inline int UTF8Length(uint32_t v)
{
    return v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : v < 0x200000 ? 4 : v < 0x4000000 ? 5 : v <= 0x7FFFFFFF ? 6 : 0;
}

}  // namespace

bool VFromUnicodeConverter_UTF8::Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars,
                                         void* outBuffer, unsigned long inBufferSize,
                                         unsigned long* outProducedBytes)
{
    if (inUniChars <= 0) {
        *outConsumedUniChars = 0;
        *outProducedBytes = 0;
        return true;
    }
    const UniChar* src = inSource;
    const UniChar* const end = inSource + inUniChars;

    if (outBuffer == nullptr) {
        // Only count the bytes the whole source needs.
        unsigned long total = 0;
        while (src < end) {
            const uint32_t u = *src;
            if (u < 0x80) {
                total += 1;
                ++src;
            } else if (u < 0x800) {
                total += 2;
                ++src;
            } else if (IsHighSurrogate(u)) {
                if (src + 1 >= end)
                    break;
                if (IsLowSurrogate(src[1])) {
                    total += 4;
                    src += 2;
                } else {
                    total += 3;
                    ++src;
                }
            } else {
                total += 3;
                ++src;
            }
        }
        *outConsumedUniChars = static_cast<int>(src - inSource);
        *outProducedBytes = total;
        return true;
    }

    unsigned char* const start = static_cast<unsigned char*>(outBuffer);
    unsigned char* dst = start;
    unsigned char* const dstEnd = start + inBufferSize;
    // Stretches of units for which the target surely has room (three bytes
    // a unit) go through the loop without target tests; the rest through
    // the careful one.
    for (;;) {
        const unsigned long remaining = static_cast<unsigned long>(end - src);
        const unsigned long room = static_cast<unsigned long>(dstEnd - dst) / 3;
        unsigned long safe = remaining < room ? remaining : room;
        if (safe < 32)
            break;
        if (safe < remaining && IsHighSurrogate(src[safe - 1]))
            --safe;  // keep a pair within one stretch
        const UniChar* const before = src;
        EncodeUTF8<false>(src, src + safe, dst, dstEnd);
        if (src == before || src >= end)
            break;
    }
    if (src < end)
        EncodeUTF8<true>(src, end, dst, dstEnd);
    *outConsumedUniChars = static_cast<int>(src - inSource);
    *outProducedBytes = static_cast<unsigned long>(dst - start);
    return true;
}

unsigned long VFromUnicodeConverter_UTF8::GetCharSize() const { return 1; }

bool VFromUnicodeConverter_UTF8::ConvertFrom_wchar(const wchar_t* inSource, int inWChars, int* outConsumedWChars,
                                                   void* outBuffer, unsigned long inBufferSize,
                                                   unsigned long* outProducedBytes)
{
    int i = 0;
    unsigned long written = 0;
    bool ok = true;
    unsigned char* target = static_cast<unsigned char*>(outBuffer);
    while (i < inWChars) {
        uint32_t v = static_cast<uint32_t>(inSource[i]);
        int used = 1;
        if (IsHighSurrogate(v)) {
            if (i + 1 >= inWChars)
                break;
            const uint32_t next = static_cast<uint32_t>(inSource[i + 1]);
            if (IsLowSurrogate(next)) {
                v = JoinSurrogates(v, next);
                used = 2;
            }
        }
        const int length = UTF8Length(v);
        if (length == 0) {
            ok = false;
            break;
        }
        if (target != nullptr) {
            if (inBufferSize - written < static_cast<unsigned long>(length))
                break;
            WriteUTF8(target + written, v, length);
        }
        written += static_cast<unsigned long>(length);
        i += used;
    }
    *outConsumedWChars = i;
    *outProducedBytes = written;
    return ok;
}

// ---------------------------------------------------------------------------
// Void: no character set

bool VToUnicodeConverter_Void::IsValid() const { return false; }

bool VToUnicodeConverter_Void::Convert(const void*, unsigned long, unsigned long* outBytesConsumed, UniChar*, int,
                                       int* outProducedUniChars)
{
    *outBytesConsumed = 0;
    *outProducedUniChars = 0;
    return false;
}

unsigned long VToUnicodeConverter_Void::GetCharSize() const { return 1; }

bool VFromUnicodeConverter_Void::IsValid() const { return false; }

bool VFromUnicodeConverter_Void::Convert(const UniChar*, int, int* outConsumedUniChars, void*, unsigned long,
                                         unsigned long* outProducedBytes)
{
    *outConsumedUniChars = 0;
    *outProducedBytes = 0;
    return false;
}

unsigned long VFromUnicodeConverter_Void::GetCharSize() const { return 2; }

}  // namespace qelt
