// Value kind 10: the string as a value, its streams and byte blocks; exchange with the platform
// layer's UTF-16 text; byte output and line ends.
#include "kernel/VString.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <type_traits>
#include <vector>
#include <sys/types.h>

#include "files/VStream.h"
#include "kernel/Base64Coder.h"
#include "kernel/StStringConverter.h"
#include "kernel/VCollator.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VIntlMgr.h"
#include "kernel/VObject.h"
#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"
#include "platform/PlatNumbers.h"
#include "platform/PlatString.h"
#include "kernel/VThrowError.h"
#include "values/VTime.h"
#include "values/VUUID.h"
#include "kernel/VString_internal.h"

namespace qelt {

using namespace stringimpl;

// ===========================================================================
// Value kind 10

const VValueInfo* VString::GetValueInfo() const { return &sInfo; }

VValue* VString::Clone() const { return new VString(*this); }

CharSet VString::DebugDump(char* inTextBuffer, int& inBufferSize) const
{
    long long bytes = static_cast<long long>(inBufferSize) - 2;
    if (bytes > static_cast<long long>(fLength) * 2)
        bytes = static_cast<long long>(fLength) * 2;
    if (bytes < 0 || inTextBuffer == nullptr)
        bytes = 0;
    if (bytes > 0)
        std::memcpy(inTextBuffer, fString, static_cast<size_t>(bytes));
    inBufferSize = static_cast<int>(bytes);
    return VTC_UTF_16;
}

const void* VString::LoadFromPtr(const void* inData, bool)
{
    int length;
    std::memcpy(&length, inData, sizeof(length));
    if (length < 0)
        length = 0;
    const char* units = static_cast<const char*>(inData) + sizeof(int);
    if (_EnsureWritable(length, false)) {
        CopyUnits(fString, units, length);
        fLength = length;
        fString[fLength] = 0;
        _SetTextWritten();
    }
    return units + static_cast<long>(length) * 2;
}

void* VString::WriteToPtr(void* inData, bool, unsigned long inMax) const
{
    int length = fLength;
    if (inMax != 0 && 4 + 2 * static_cast<unsigned long>(length) > inMax)
        length = inMax >= 4 ? static_cast<int>((inMax - 4) / 2) : 0;
    std::memcpy(inData, &length, sizeof(length));
    char* units = static_cast<char*>(inData) + sizeof(int);
    if (length > 0)
        std::memcpy(units, fString, static_cast<size_t>(length) * 2);
    return units + static_cast<long>(length) * 2;
}

unsigned long VString::GetSpace(unsigned long long&, unsigned long inMax) const
{
    unsigned long size = 4 + 2 * static_cast<unsigned long>(fLength);
    if (inMax != 0 && inMax < size)
        return inMax;
    return size;
}

unsigned long VString::GetSizeInStream() const
{
    if (fLength == 0)
        return 4;
    return 2 * static_cast<unsigned long>(fLength) + 10;
}

bool VString::FromValueSameKind(const VValue* inValue)
{
    FromString(*static_cast<const VString*>(inValue));
    return true;
}

namespace {

VError ReadInt(VStream* ioStream, int& outValue)
{
    int value = 0;
    VError err = ioStream->GetData(&value, sizeof(value));
    if (err == VE_OK && ioStream->NeedSwap())
        value = SwapInt(value);
    outValue = value;
    return err;
}

// The number of whole bytes left to read (0 when unknown or none).
unsigned long long BytesLeft(VStream* ioStream)
{
    long long left = ioStream->GetSize() - ioStream->GetPos();
    return left > 0 ? static_cast<unsigned long long>(left) : 0;
}

}  // namespace

VError VString::WriteToStream(VStream* ioStream, int) const
{
    int header = -fLength;
    if (ioStream->NeedSwap())
        header = SwapInt(header);
    ioStream->PutData(&header, sizeof(header));
    if (fLength > 0)
        ioStream->PutWords(reinterpret_cast<const short*>(fString), fLength);
    return ioStream->GetLastError();
}

bool VString::_ReadUnits(VStream* ioStream, long long inCount, long long inKeep)
{
    // Reads inCount units, of which the first inKeep become the text. The
    // buffer is sized by the bytes really left in the stream, never by the
    // announced count alone: a count beyond them reads what is there and
    // then fails the stream with 'qelt' 200 (end of data).
    long long available = static_cast<long long>(BytesLeft(ioStream) / 2);
    if (available > inCount)
        available = inCount;
    if (available > INT_MAX - 8)
        available = INT_MAX - 8;
    if (!_EnsureWritable(static_cast<int>(available), false))
        return false;
    int read = static_cast<int>(available);
    if (read > 0)
        ioStream->GetWords(reinterpret_cast<short*>(fString), &read);
    fLength = static_cast<int>(read < inKeep ? read : inKeep);
    fString[fLength] = 0;
    _SetTextWritten();
    if (read < inCount && ioStream->GetLastError() == VE_OK) {
        // Fewer units there than announced: the stream records the end.
        UniChar spill = 0;
        ioStream->GetData(&spill, sizeof(spill));
    }
    return true;
}

VError VString::ReadFromStream(VStream* ioStream, int)
{
    int header = 0;
    if (ReadInt(ioStream, header) != VE_OK)
        return ioStream->GetLastError();
    if (header < 0) {
        long long count = -static_cast<long long>(header);
        if (!_ReadUnits(ioStream, count, count)) {
            Clear();
            ioStream->SetPosByOffset(2 * count);
        }
    } else if (header == 0) {
        Clear();
    } else {
        int code = 0;
        if (ReadInt(ioStream, code) != VE_OK)
            return ioStream->GetLastError();
        long long count = header;
        if (code == 1 || code == 2) {
            if (!_ReadUnits(ioStream, count + 1, count))
                ioStream->SetPosByOffset(2 * count + 2);
        } else {
            ioStream->SetPosByOffset(count + 1);
        }
    }
    return ioStream->GetLastError();
}

void VString::GetString(VString& outValue) const { outValue.FromString(*this); }

void VString::GetDuration([[maybe_unused]] VDuration& outValue) const
{
    outValue.FromString(*this);
}

void VString::GetTime([[maybe_unused]] VTime& outValue) const
{
    outValue.FromString(*this);
}

void VString::GetVUUID([[maybe_unused]] VUUID& outValue) const
{
    outValue.FromString(*this);
}

void VString::GetValue(VValueSingle& outValue) const
{
    if (&outValue == this)
        return;
    outValue.FromString(*this);
}

void VString::FromDuration([[maybe_unused]] const VDuration& inValue)
{
    inValue.GetString(*this);
}

void VString::FromTime([[maybe_unused]] const VTime& inValue)
{
    inValue.GetString(*this);
}

void VString::FromVUUID([[maybe_unused]] const VUUID& inValue)
{
    inValue.GetString(*this);
}

// ===========================================================================
// Exchange with the platform layer's UTF-16 text

const plat::PlatString* VString::MAC_RetainCFStringCopy() const
{
    if (IsNull())
        return plat::PlatString::Create(nullptr, 0);
    return plat::PlatString::Create(fString, fLength);
}

void VString::MAC_FromCFString(const plat::PlatString* inText)
{
    if (inText == nullptr)
        return;
    long length = inText->GetLength();
    if (length > INT_MAX) {
        _ThrowError(kErrorStringSize);
        return;
    }
    if (const UniChar* direct = inText->GetUnitsPtr()) {
        if (!_ReallocBuffer(static_cast<int>(length), false))
            return;
        CopyUnits(fString, direct, length);
        fLength = static_cast<int>(length);
        fString[fLength] = 0;
        _SetTextWritten();
        return;
    }
    // No direct access: read through a fixed stack buffer, chunk by chunk.
    Clear();
    UniChar chunk[1024];
    for (long start = 0; start < length; start += 1024) {
        long count = length - start < 1024 ? length - start : 1024;
        inText->GetUnits(start, count, chunk);
        AppendUniChars(chunk, static_cast<int>(count));
    }
}

// ===========================================================================
// Byte output and line ends

unsigned long VString::ToBlock(void* inBuffer, unsigned long inBufferSize, CharSet inCharSet, bool inWithTrailingZero,
                               bool inWithLengthPrefix) const
{
    if (inBuffer == nullptr)
        return 0;
    unsigned char* out = static_cast<unsigned char*>(inBuffer);
    const unsigned long unit = inCharSet == VTC_UTF_16 ? 2 : 1;
    const unsigned long overhead = unit * ((inWithLengthPrefix ? 1 : 0) + (inWithTrailingZero ? 1 : 0));
    if (inBufferSize < overhead)
        return 0;
    const unsigned long room = inBufferSize - overhead;
    unsigned char* text = out + (inWithLengthPrefix ? unit : 0);
    unsigned long produced = 0;
    int consumed = 0;
    if (fLength > 0 && room > 0)
        VTextConverters::Get()->ConvertFromVString(*this, &consumed, text, room, &produced, inCharSet);
    if (produced > room)
        produced = room;
    if (inWithTrailingZero) {
        for (unsigned long i = 0; i < unit; ++i)
            text[produced + i] = 0;
    }
    unsigned long result = produced;
    if (inWithLengthPrefix) {
        if (unit == 2) {
            // The prefix counts units in 16 bits: 0x20000 bytes or more do not fit.
            unsigned short count = produced >= 0x20000 ? 0 : static_cast<unsigned short>(produced / 2);
            std::memcpy(out, &count, sizeof(count));
            if (produced >= 0x20000)
                result = 0;
        } else {
            out[0] = produced >= 256 ? 0 : static_cast<unsigned char>(produced);
            if (produced >= 256)
                result = 0;
        }
    }
    return result;
}

bool VString::ToBuffer(VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer, CharSet inCharSet) const
{
    VFromUnicodeConverter* encoder = VTextConverters::Get()->RetainFromUnicodeConverter(inCharSet);
    if (encoder == nullptr)
        return false;
    ioBuffer.SetDataSize(0);
    bool ok = encoder->ConvertToBuffer(fString, fLength, ioBuffer, 0);
    encoder->Release();
    return ok;
}

ECarriageReturnMode VString::GetCarriageReturnMode(ECarriageReturnMode inDefault) const
{
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        if (c == 10)
            return eCRM_LF;
        if (c == 13)
            return (i + 1 < fLength && fString[i + 1] == 10) ? eCRM_CRLF : eCRM_CR;
    }
    return inDefault;
}

template <class T>
unsigned long _ConvertCarriageReturns(T* ioUnits, unsigned long inLength, unsigned long inCapacity,
                                      ECarriageReturnMode inMode, unsigned long* outNeeded)
{
    constexpr T CR = 13;
    constexpr T LF = 10;
    if (inLength == 0 || ioUnits == nullptr) {
        if (outNeeded != nullptr)
            *outNeeded = 0;
        return 0;
    }
    if (inMode == eCRM_CRLF) {
        // Pass 1: count the lone line ends and find the last one that fits.
        unsigned long room = inCapacity > inLength ? inCapacity - inLength : 0;
        unsigned long lone = 0;
        unsigned long chosen = 0;
        unsigned long lastChosen = 0;  // index of the last lone end converted
        for (unsigned long i = 0; i < inLength; ++i) {
            T c = ioUnits[i];
            bool isLone = false;
            if (c == CR) {
                if (i + 1 < inLength && ioUnits[i + 1] == LF)
                    ++i;  // a pair is passed over as a whole
                else
                    isLone = true;
            } else if (c == LF) {
                isLone = true;
            }
            if (isLone) {
                ++lone;
                if (chosen < room) {
                    ++chosen;
                    lastChosen = i;
                }
            }
        }
        if (outNeeded != nullptr)
            *outNeeded = inLength + lone;
        if (chosen == 0)
            return inLength;
        // Pass 2: from the end towards the start; the write place never
        // falls below the read place, so every unit read is still original.
        unsigned long write = inLength + chosen;
        T nextOriginal = 0;
        bool haveNext = false;
        for (unsigned long r = inLength; r-- > 0;) {
            T c = ioUnits[r];
            bool convert = false;
            if (r <= lastChosen) {
                if (c == LF)
                    convert = r == 0 || ioUnits[r - 1] != CR;
                else if (c == CR)
                    convert = !haveNext || nextOriginal != LF;
            }
            if (convert) {
                ioUnits[--write] = LF;
                ioUnits[--write] = CR;
            } else {
                ioUnits[--write] = c;
            }
            nextOriginal = c;
            haveNext = true;
        }
        return inLength + chosen;
    }
    if (outNeeded != nullptr)
        *outNeeded = inLength;
    if (inMode != eCRM_CR && inMode != eCRM_LF)
        return inLength;
    const T end = inMode == eCRM_CR ? CR : LF;
    unsigned long write = 0;
    for (unsigned long i = 0; i < inLength; ++i) {
        T c = ioUnits[i];
        if (c == CR) {
            if (i + 1 < inLength && ioUnits[i + 1] == LF)
                ++i;
            ioUnits[write++] = end;
        } else if (c == LF) {
            ioUnits[write++] = end;
        } else {
            ioUnits[write++] = c;
        }
    }
    return write;
}

template <class T>
void _ConvertCarriageReturns(VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer, ECarriageReturnMode inMode)
{
    const unsigned long u = sizeof(T);
    T* units = static_cast<T*>(ioBuffer.GetDataPtr());
    if (units == nullptr)
        return;
    unsigned long length = static_cast<unsigned long>(ioBuffer.GetDataSize() / u);
    unsigned long capacity = static_cast<unsigned long>(ioBuffer.GetAllocatedSize() / u);
    unsigned long needed = 0;
    unsigned long result = _ConvertCarriageReturns<T>(units, length, capacity, inMode, &needed);
    if (static_cast<unsigned long long>(needed) * u > ioBuffer.GetAllocatedSize()) {
        // Grow once, to exactly what the first pass reported, and finish the
        // partly converted text; without memory the partial result stays.
        ioBuffer.SetDataSize(static_cast<uint64_t>(result) * u);
        if (ioBuffer.SetCapacityExact(static_cast<uint64_t>(needed) * u)) {
            units = static_cast<T*>(ioBuffer.GetDataPtr());
            result = _ConvertCarriageReturns<T>(units, result, needed, inMode, nullptr);
        }
    }
    ioBuffer.SetDataSize(static_cast<uint64_t>(result) * u);
}

template unsigned long _ConvertCarriageReturns<unsigned char>(unsigned char*, unsigned long, unsigned long,
                                                              ECarriageReturnMode, unsigned long*);
template unsigned long _ConvertCarriageReturns<unsigned short>(unsigned short*, unsigned long, unsigned long,
                                                               ECarriageReturnMode, unsigned long*);
template unsigned long _ConvertCarriageReturns<unsigned int>(unsigned int*, unsigned long, unsigned long,
                                                             ECarriageReturnMode, unsigned long*);
template void _ConvertCarriageReturns<unsigned char>(VMemoryBuffer<1024ul, 2ul, 1048576ul>&, ECarriageReturnMode);
template void _ConvertCarriageReturns<unsigned short>(VMemoryBuffer<1024ul, 2ul, 1048576ul>&, ECarriageReturnMode);
template void _ConvertCarriageReturns<unsigned int>(VMemoryBuffer<1024ul, 2ul, 1048576ul>&, ECarriageReturnMode);

namespace {

// Reverses the bytes of every unit of the buffer's data.
template <class T>
void SwapUnits(VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer)
{
    unsigned char* p = static_cast<unsigned char*>(ioBuffer.GetDataPtr());
    if (p == nullptr)
        return;
    uint64_t count = ioBuffer.GetDataSize() / sizeof(T);
    for (uint64_t i = 0; i < count; ++i) {
        unsigned char* q = p + i * sizeof(T);
        for (size_t a = 0, b = sizeof(T) - 1; a < b; ++a, --b)
            std::swap(q[a], q[b]);
    }
}

}  // namespace

void VString::ConvertCarriageReturns(VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer, CharSet inCharSet,
                                     ECarriageReturnMode inMode)
{
    switch (static_cast<int>(inCharSet)) {
        case VTC_UNKNOWN:
            return;
        case VTC_UTF_16_SMALLENDIAN:
            _ConvertCarriageReturns<unsigned short>(ioBuffer, inMode);
            return;
        case VTC_UTF_32_SMALLENDIAN:
        case VTC_UTF_32_RAW:
            _ConvertCarriageReturns<unsigned int>(ioBuffer, inMode);
            return;
        case VTC_UTF_16_BIGENDIAN:
            // Units in the other byte order: a byte-wise pass would take the
            // bytes of other characters (U+0D0A) for line ends.
            SwapUnits<unsigned short>(ioBuffer);
            _ConvertCarriageReturns<unsigned short>(ioBuffer, inMode);
            SwapUnits<unsigned short>(ioBuffer);
            return;
        case VTC_UTF_32_BIGENDIAN:
        case VTC_UTF_32_RAW_SWAPPED:
            SwapUnits<unsigned int>(ioBuffer);
            _ConvertCarriageReturns<unsigned int>(ioBuffer, inMode);
            SwapUnits<unsigned int>(ioBuffer);
            return;
        default:
            _ConvertCarriageReturns<unsigned char>(ioBuffer, inMode);
            return;
    }
}

void VString::ConvertCarriageReturns(ECarriageReturnMode inMode)
{
    if (inMode != eCRM_CRLF && inMode != eCRM_CR && inMode != eCRM_LF)
        return;
    if (fLength == 0)
        return;
    if (!_EnsureWritable(fLength, true))
        return;
    unsigned long needed = 0;
    unsigned long length = _ConvertCarriageReturns<UniChar>(fString, static_cast<unsigned long>(fLength),
                                                            static_cast<unsigned long>(fMaxLength), inMode, &needed);
    if (needed > static_cast<unsigned long>(fMaxLength)) {
        fLength = static_cast<int>(length);
        fString[fLength] = 0;
        if (needed > static_cast<unsigned long>(INT_MAX)) {
            _ThrowError(kErrorStringSize);
            return;
        }
        if (!_EnsureWritable(static_cast<int>(needed), true))
            return;
        length = _ConvertCarriageReturns<UniChar>(fString, length, static_cast<unsigned long>(fMaxLength), inMode,
                                                  nullptr);
    }
    fLength = static_cast<int>(length);
    fString[fLength] = 0;
}

}  // namespace qelt
