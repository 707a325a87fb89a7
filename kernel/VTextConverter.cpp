#include "kernel/VTextConverter.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "kernel/VMemory.h"
#include "kernel/VString.h"
#include "platform/PlatUTF8.h"
#include "kernel/VThrowError.h"

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

bool VToUnicodeConverter_UTF8::Convert(const void* inSource, unsigned long inByteCount,
                                       unsigned long* outBytesConsumed, UniChar* outTarget, int inMaxUniChars,
                                       int* outProducedUniChars)
{
    const plat::UTF8Result result =
        plat::DecodeUTF8(inSource, inByteCount, outTarget, inMaxUniChars > 0 ? static_cast<size_t>(inMaxUniChars) : 0,
                         plat::UTF8Mode::kConverter, false);
    *outBytesConsumed = result.consumed;
    *outProducedUniChars = static_cast<int>(result.produced);
    return result.ok;
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
    const plat::UTF8Result result =
        plat::EncodeUTF8(inSource, inUniChars > 0 ? static_cast<size_t>(inUniChars) : 0, outBuffer, inBufferSize,
                         plat::UTF8Mode::kConverter, false);
    *outConsumedUniChars = static_cast<int>(result.consumed);
    *outProducedBytes = result.produced;
    return result.ok;
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
