#include "kernel/VString.h"

#include <locale.h>
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
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
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
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "values/StPackedDictionaryKey.h"
#include "values/VArrayString.h"
#include "values/VDuration.h"
#include "values/VMemoryBuffer.h"
#include "values/VTime.h"
#include "values/VUUID.h"
#include "values/VValueBag.h"

namespace qelt {

namespace {

constexpr VError kErrorStringSize = QeltError(107);
constexpr unsigned char kBufferBits = VString::kFlagNotOwned | VString::kFlagExclusive | VString::kFlagCLibBlock;

inline bool IsHighSurrogate(UniChar c) { return c >= 0xD800 && c <= 0xDBFF; }

inline void CopyUnits(UniChar* outDest, const void* inSource, long inCount)
{
    if (inCount > 0)
        std::memmove(outDest, inSource, static_cast<size_t>(inCount) * sizeof(UniChar));
}

// Length of a C string and whether every byte is below 0x80.
size_t ScanCString(const char* inCString, bool& outIsASCII)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(inCString);
    unsigned char bits = 0;
    size_t n = 0;
    while (p[n] != 0)
        bits |= p[n++];
    outIsASCII = (bits & 0x80) == 0;
    return n;
}

}  // namespace

// ===========================================================================
// Counted blocks

UniChar* VStringBlock::Allocate(long inUnits, int inTag)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (manager == nullptr || inUnits <= 0)
        return nullptr;
    return static_cast<UniChar*>(manager->Malloc(static_cast<size_t>(inUnits) * sizeof(UniChar), false, inTag, -1));
}

void VStringBlock::Free(UniChar* inBlock)
{
    if (inBlock != nullptr && VObject::sCppMemMgr != nullptr)
        VObject::sCppMemMgr->Free(inBlock);
}

void VStringBlock::Release(UniChar* inBlock, int inCapacity)
{
    if (inBlock == nullptr)
        return;
    std::atomic_ref<unsigned int> count(*CountPtr(inBlock, inCapacity));
    // A count of 1 is the caller's own: no other holder exists to race with.
    if (count.load(std::memory_order_acquire) == 1 || count.fetch_sub(1) == 1)
        Free(inBlock);
}

// ===========================================================================
// Static members

VString_info VString::sInfo;
const VString VString::sEmpty;

// ===========================================================================
// Construction

VString::VString() : fString(fInlineBuffer), fLength(0), fMaxLength(0), fInlineCapacity(0)
{
    fFlags = kFlagDirty;
    fInlineBuffer[0] = 0;
}

VString::VString(InlineCapacityTag, int inInlineCapacity)
    : fString(fInlineBuffer), fLength(0), fMaxLength(inInlineCapacity), fInlineCapacity(inInlineCapacity)
{
    fFlags = kFlagDirty;
    fInlineBuffer[0] = 0;
}

VString::VString(bool inNull) : VString()
{
    if (inNull)
        fFlags |= kFlagNull;
}

VString::VString(const VString& inString) : VValueSingle(inString), fString(fInlineBuffer), fLength(0), fMaxLength(0), fInlineCapacity(0)
{
    fFlags = static_cast<unsigned char>((inString.fFlags & kFlagNull) | kFlagDirty);
    fInlineBuffer[0] = 0;
    if (inString.IsNull())
        return;
    if (inString._IsShareable()) {
        VStringBlock::Retain(inString.fString, inString.fMaxLength);
        fString = inString.fString;
        fLength = inString.fLength;
        fMaxLength = inString.fMaxLength;
    } else if (inString.fLength > 0 && _ReallocBuffer(inString.fLength, false)) {
        CopyUnits(fString, inString.fString, inString.fLength);
        fLength = inString.fLength;
        fString[fLength] = 0;
    }
}

VString::VString(VString&& ioString) noexcept
    : VValueSingle(ioString), fString(fInlineBuffer), fLength(0), fMaxLength(0), fInlineCapacity(0)
{
    fFlags = static_cast<unsigned char>((ioString.fFlags & kFlagNull) | kFlagDirty);
    fInlineBuffer[0] = 0;
    if (!ioString._IsInline() && (ioString.fFlags & kFlagNotOwned) == 0) {
        fString = ioString.fString;
        fLength = ioString.fLength;
        fMaxLength = ioString.fMaxLength;
        fFlags |= static_cast<unsigned char>(ioString.fFlags & kFlagExclusive);
        ioString._ResetToInline();
    } else if (!ioString.IsNull()) {
        VString::FromString(ioString);
    }
}

VString::VString(UniChar* inBuffer, unsigned long inByteSize) : VString()
{
    if (inBuffer == nullptr)
        return;
    _Wrap(inBuffer, UniCStringLength(inBuffer), inByteSize);
}

VString::VString(UniChar* inBuffer, int inLength, unsigned long inByteSize) : VString()
{
    if (inBuffer == nullptr) {
        fFlags = kFlagNull | kFlagDirty;
        return;
    }
    _Wrap(inBuffer, inLength < 0 ? 0 : inLength, inByteSize);
}

VString::VString(unsigned long inLength, const wchar_t* inLiteral)
    : fString(fInlineBuffer),
      fLength(static_cast<int>(inLength)),
      fMaxLength(static_cast<int>(inLength)),
      fInlineCapacity(static_cast<int>(inLength))
{
    // The object is laid out with an inline buffer of inLength units; the
    // literal is read-only text of the program.
    fFlags = kFlagDirty | kFlagNotOwned | kFlagExclusive;
    UniChar* p = fInlineBuffer;
    for (unsigned long i = 0; i < inLength; ++i)
        p[i] = static_cast<UniChar>(inLiteral[i]);
    p[inLength] = 0;
}

VString::VString(const VInlineString& inRecord) : VString()
{
    UniChar* block = inRecord.fString;
    if (block == nullptr)
        return;
    int capacity = inRecord.fCapacity;
    VStringBlock::Retain(block, capacity);
    fString = block;
    fLength = inRecord.fLength;
    fMaxLength = capacity;
}

VString::VString(const VInlineString& inRecord, bool) : VString()
{
    UniChar* block = inRecord.fString;
    if (block == nullptr)
        return;
    fString = block;
    fLength = inRecord.fLength;
    fMaxLength = inRecord.fCapacity;
    fFlags = kFlagDirty | kFlagNotOwned;
}

VString::VString(UniChar inChar) : VString()
{
    if (_ReallocBuffer(1, false)) {
        fString[0] = inChar;
        fString[1] = 0;
        fLength = 1;
    }
}

VString::VString(const UniChar* inUniCString) : VString()
{
    int n = UniCStringLength(inUniCString);
    if (n > 0 && _ReallocBuffer(n, false)) {
        CopyUnits(fString, inUniCString, n);
        fString[n] = 0;
        fLength = n;
    }
}

VString::VString(const wchar_t* inWideCString) : VString()
{
    // wchar_t text is raw 32-bit units in machine order.
    VToUnicodeConverter_UTF32_Raw converter(false);
    converter.ConvertString(inWideCString, std::wcslen(inWideCString) * sizeof(wchar_t), nullptr, *this);
    fFlags = static_cast<unsigned char>((fFlags & ~kFlagNull) | kFlagDirty);
}

VString::VString(wchar_t* inWideCString, unsigned long) : VString(static_cast<const wchar_t*>(inWideCString)) {}

VString::VString(const char* inCString) : VString() { AppendCString(inCString); }

VString::VString(const void* inBuffer, unsigned long inNbBytes, CharSet inCharSet) : VString()
{
    FromBlock(inBuffer, inNbBytes, inCharSet);
}

VString::~VString() { _ReleaseBuffer(); }

VString* VString::NewString(int inInlineCapacity)
{
    if (inInlineCapacity < 0)
        inInlineCapacity = 0;
    void* memory = ::operator new(sizeof(VString) + static_cast<size_t>(inInlineCapacity) * sizeof(UniChar));
    return ::new (memory) VString(InlineCapacityTag{}, inInlineCapacity);
}

void VString::_Wrap(UniChar* inBuffer, int inLength, unsigned long inByteSize)
{
    long long capacity;
    if (inByteSize == ~0UL)
        capacity = inLength;
    else
        capacity = static_cast<long long>(inByteSize / 2) - 1;
    if (capacity < inLength)
        capacity = inLength;
    if (capacity > INT_MAX - 4)
        capacity = INT_MAX - 4;
    fString = inBuffer;
    fLength = inLength;
    fMaxLength = static_cast<int>(capacity);
    fFlags = kFlagDirty | kFlagNotOwned | kFlagExclusive;
}

VString& VString::operator=(VString&& ioString) noexcept
{
    if (&ioString == this)
        return *this;
    if (!ioString._IsInline() && (ioString.fFlags & kFlagNotOwned) == 0) {
        _ReleaseBuffer();
        fString = ioString.fString;
        fLength = ioString.fLength;
        fMaxLength = ioString.fMaxLength;
        unsigned char exclusive = static_cast<unsigned char>(ioString.fFlags & kFlagExclusive);
        ioString._ResetToInline();
        fFlags = static_cast<unsigned char>((fFlags & ~(kBufferBits | kFlagNull)) | exclusive | kFlagDirty);
    } else {
        VString::FromString(ioString);
    }
    return *this;
}

// ===========================================================================
// Buffer management

bool VString::_IsShareable() const { return !_IsInline() && (fFlags & (kFlagNull | kFlagExclusive)) == 0; }

bool VString::_MustCopyBeforeWrite() const
{
    // A borrowed or wrapped buffer belongs to someone else (a JSON value's
    // block, a literal in read-only memory): never written, whatever its
    // count; a shared counted block is copied first.
    return !_IsPrivate();
}

bool VString::_EnsureWritable(int inNbChars, bool inKeepContent)
{
    if (inNbChars < 0)
        return _ReallocBuffer(inNbChars, inKeepContent);
    if (_MustCopyBeforeWrite()) {
        int needed = (inKeepContent && fLength > inNbChars) ? fLength : inNbChars;
        return _ReallocBuffer(needed, inKeepContent);
    }
    if (inNbChars > fMaxLength)
        return _ReallocBuffer(inNbChars, inKeepContent);
    return true;
}

void VString::_ResetToInline()
{
    fString = fInlineBuffer;
    fLength = 0;
    fMaxLength = fInlineCapacity;
    fInlineBuffer[0] = 0;
    fFlags &= static_cast<unsigned char>(~kBufferBits);
}

long long VString::ComputeProgressiveResize(int inLength, int inNbChars)
{
    if (inNbChars < 6)
        return 8;
    long long n = inNbChars;
    long long growth = 0;
    if (inLength != 0 && inLength != inNbChars) {
        growth = (n + 1) / 5;
        if (growth > 0xA00000)
            growth = 0xA00000;
    }
    if (growth < 2)
        growth = 2;
    long long size = (n + growth + 8) & ~7LL;
    if (size > 0x80000002LL) {
        if (n >= 0x7FFFFFFDLL)
            return 0;
        size = (n % 2 == 0) ? n + 4 : n + 3;
    }
    return size;
}

bool VString::_ReallocBuffer(int inNbChars, bool inKeepContent)
{
    int carried = inKeepContent ? (fLength < inNbChars ? fLength : inNbChars) : 0;
    if (carried < 0)
        carried = 0;
    if (inNbChars < 0) {
        _ThrowError(kErrorStringSize);
        return false;
    }

    if (inNbChars <= fInlineCapacity) {
        if (!_IsInline()) {
            CopyUnits(fInlineBuffer, fString, carried);
            _ReleaseBuffer();
            fString = fInlineBuffer;
            fMaxLength = fInlineCapacity;
            fFlags &= static_cast<unsigned char>(~kBufferBits);
        }
        fString[carried] = 0;
        return true;
    }

    if (VObject::sCppMemMgr == nullptr) {
        // Before the memory manager exists (static initialisation): a block
        // from the C library, never shared. It is marked as the string's own
        // so that it is written in place and given back to the C library
        // when the string leaves it.
        UniChar* block = static_cast<UniChar*>(std::malloc((static_cast<size_t>(inNbChars) + 1) * sizeof(UniChar)));
        if (block == nullptr)
            return false;
        CopyUnits(block, fString, carried);
        block[carried] = 0;
        _ReleaseBuffer();
        fString = block;
        fMaxLength = inNbChars;
        fFlags |= kBufferBits;
        return true;
    }

    long long size = ComputeProgressiveResize(fLength, inNbChars);
    if (size == 0) {
        _ThrowError(kErrorStringSize);
        return false;
    }
    UniChar* block = VStringBlock::Allocate(static_cast<long>(size), VStringBlock::kTagString);
    if (block == nullptr) {
        _ThrowError(kErrorStringSize);
        return false;
    }
    CopyUnits(block, fString, carried);
    _ReleaseBuffer();
    fFlags &= static_cast<unsigned char>(~kBufferBits);
    fString = block;
    fString[carried] = 0;
    fMaxLength = static_cast<int>(size - 3);
    VStringBlock::InitCount(block, fMaxLength);
    return fMaxLength >= inNbChars;
}

void VString::_ReleaseBuffer() const
{
    if (!_IsInline() && (fFlags & kFlagCLibBlock) != 0) {
        std::free(fString);
        return;
    }
    if (_IsInline() || (fFlags & kFlagNotOwned) != 0)
        return;
    if ((fFlags & kFlagExclusive) != 0)
        VStringBlock::Free(fString);
    else
        VStringBlock::Release(fString, fMaxLength);
}

void VString::_Clear()
{
    _ReleaseBuffer();
    fString = fInlineBuffer;
    fLength = 0;
    fMaxLength = fInlineCapacity;
    fInlineBuffer[0] = 0;
    fFlags &= static_cast<unsigned char>(~kBufferBits);
}

void VString::DoNullChanged()
{
    // Called with the null bit set: a null string holds no text.
    if (IsNull())
        _Clear();
}

void VString::Truncate(int inNbChars, bool inKeepSurrogatePairs)
{
    if (inKeepSurrogatePairs && inNbChars >= 1 && inNbChars <= fLength && IsHighSurrogate(fString[inNbChars - 1]))
        --inNbChars;
    if (inNbChars >= fLength)
        return;
    int oldLength = fLength;
    fLength = inNbChars < 0 ? 0 : inNbChars;
    if (_IsInline()) {
        fString[fLength] = 0;
        return;
    }
    if (_MustCopyBeforeWrite()) {
        if (!_ReallocBuffer(fLength, true))
            fLength = oldLength;
        return;
    }
    if (static_cast<long long>(fMaxLength) > static_cast<long long>(fLength) + fLength / 8 + 32) {
        if (!_ReallocBuffer(fLength, true))
            fLength = oldLength;
        return;
    }
    fString[fLength] = 0;
}

bool VString::Validate(int inNewLength)
{
    if (inNewLength < 0 || inNewLength > fMaxLength)
        return false;
    if (_MustCopyBeforeWrite() && !_EnsureWritable(inNewLength, true))
        return false;
    fLength = inNewLength;
    fString[fLength] = 0;
    _SetTextWritten();
    return true;
}

UniChar* VString::RetainBuffer(int* outLength, int* outCapacity) const
{
    int length = 0;
    int capacity = 0;
    UniChar* block = nullptr;
    if (!IsNull() && fLength > 0) {
        if (_IsShareable()) {
            VStringBlock::Retain(fString, fMaxLength);
            block = fString;
            length = fLength;
            capacity = fMaxLength;
        } else {
            block = VStringBlock::Allocate(VStringBlock::ExactUnits(fLength), VStringBlock::kTagRetained);
            if (block != nullptr) {
                CopyUnits(block, fString, fLength);
                block[fLength] = 0;
                VStringBlock::InitCount(block, fLength);
                length = fLength;
                capacity = fLength;
            }
        }
    }
    if (outLength != nullptr)
        *outLength = length;
    if (outCapacity != nullptr)
        *outCapacity = capacity;
    return block;
}

UniChar* VString::_RetainBuffer() const
{
    if (!_IsShareable())
        return nullptr;
    VStringBlock::Retain(fString, fMaxLength);
    return fString;
}

// ===========================================================================
// Reading and setting

int VString::UniCStringLength(const UniChar* inUniCString)
{
    if (inUniCString == nullptr)
        return 0;
    long n = 0;
    while (inUniCString[n] != 0 && n < INT_MAX)
        ++n;
    return static_cast<int>(n);
}

UniChar VString::GetUniChar(int inIndex) const
{
    if (IsNull() || inIndex < 1 || inIndex > fLength)
        return 0;
    return fString[inIndex - 1];
}

bool VString::SetUniChar(int inIndex, UniChar inChar)
{
    if (IsNull() || inIndex < 1 || inIndex > fLength)
        return false;
    if (!_EnsureWritable(fLength, true))
        return false;
    fString[inIndex - 1] = inChar;
    return true;
}

void VString::FromString(const VString& inString)
{
    if (&inString == this)
        return;
    if (inString.IsNull()) {
        SetNull(true);
        return;
    }
    if (!_IsInline() && fString == inString.fString)
        return;
    if (inString._IsShareable()) {
        VStringBlock::Retain(inString.fString, inString.fMaxLength);
        _ReleaseBuffer();
        fFlags &= static_cast<unsigned char>(~kBufferBits);
        fString = inString.fString;
        fMaxLength = inString.fMaxLength;
        fLength = inString.fLength;
    } else {
        if (!_EnsureWritable(inString.fLength, false))
            return;
        CopyUnits(fString, inString.fString, inString.fLength);
        fLength = inString.fLength;
        fString[fLength] = 0;
    }
    _SetTextWritten();
}

void VString::FromString(const VInlineString& inRecord)
{
    UniChar* block = inRecord.fString;
    if (block != nullptr && fString == block)
        return;
    if (block != nullptr)
        VStringBlock::Retain(block, inRecord.fCapacity);
    _Clear();
    if (block != nullptr) {
        fString = block;
        fMaxLength = inRecord.fCapacity;
        fLength = inRecord.fLength;
    }
    _SetTextWritten();
}

void VString::FromUniString(const UniChar* inUniString, int inLength)
{
    if (inLength < 0 || (inUniString == nullptr && inLength > 0))
        return;
    if (_Overlaps(inUniString, inLength)) {
        VString copy;
        copy.FromUniString(inUniString, inLength);
        FromUniString(copy.fString, copy.fLength);
        return;
    }
    if (!_EnsureWritable(inLength, false))
        return;
    CopyUnits(fString, inUniString, inLength);
    fLength = inLength;
    fString[fLength] = 0;
    _SetTextWritten();
}

void VString::FromUniChar(UniChar inChar)
{
    if (inChar == 0) {
        Clear();
        return;
    }
    FromUniString(&inChar, 1);
}

void VString::FromCString(const char* inCString)
{
    bool ascii;
    size_t n = ScanCString(inCString, ascii);
    if (!ascii) {
        FromBlock(inCString, n, VTC_UTF_8);
        return;
    }
    if (n > static_cast<size_t>(INT_MAX)) {
        _ThrowError(kErrorStringSize);
        return;
    }
    if (!_EnsureWritable(static_cast<int>(n), false))
        return;
    for (size_t i = 0; i < n; ++i)
        fString[i] = static_cast<unsigned char>(inCString[i]);
    fLength = static_cast<int>(n);
    fString[fLength] = 0;
    _SetTextWritten();
}

unsigned long VString::FromBlock(const void* inBuffer, unsigned long inNbBytes, CharSet inCharSet)
{
    if (inCharSet == VTC_UTF_16) {
        unsigned long units = inNbBytes / 2;
        if (units > static_cast<unsigned long>(INT_MAX)) {
            _ThrowError(kErrorStringSize);
            return inNbBytes;
        }
        int n = static_cast<int>(units);
        if (n > 0 && _Overlaps(static_cast<const UniChar*>(inBuffer), n)) {
            VString copy(inBuffer, inNbBytes, inCharSet);
            FromString(copy);
            return inNbBytes;
        }
        if (inBuffer == nullptr)
            n = 0;
        if (!_EnsureWritable(n, false))
            return inNbBytes;
        CopyUnits(fString, inBuffer, n);
        fLength = n;
        fString[fLength] = 0;
        _SetTextWritten();
        return inNbBytes;
    }

    const char* bytes = static_cast<const char*>(inBuffer);
    const char* own = reinterpret_cast<const char*>(fString);
    if (bytes != nullptr && inNbBytes > 0 && bytes < own + (static_cast<long>(fMaxLength) + 1) * 2 &&
        bytes + inNbBytes > own) {
        // The bytes lie in the buffer about to be released: decode a copy.
        void* copy = std::malloc(inNbBytes);
        if (copy == nullptr) {
            _ThrowError(kErrorStringSize);
            return 0;
        }
        std::memcpy(copy, inBuffer, inNbBytes);
        unsigned long consumed = FromBlock(copy, inNbBytes, inCharSet);
        std::free(copy);
        return consumed;
    }
    _Clear();
    unsigned long consumed = 0;
    if (inBuffer == nullptr || inNbBytes == 0)
        return 0;
    VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(inCharSet);
    if (converter != nullptr) {
        converter->ConvertString(inBuffer, inNbBytes, &consumed, *this);
        converter->Release();
    }
    return consumed;
}

CharSet VString::FromBlockWithOptionalBOM(const void* inBuffer, unsigned long inNbBytes, CharSet inCharSet)
{
    unsigned long bomSize = 0;
    CharSet found = VTC_UNKNOWN;
    if (inBuffer != nullptr && VTextConverters::ParseBOM(inBuffer, inNbBytes, &bomSize, &found) && bomSize <= inNbBytes) {
        inCharSet = found;
        inBuffer = static_cast<const char*>(inBuffer) + bomSize;
        inNbBytes -= bomSize;
    }
    FromBlock(inBuffer, inNbBytes, inCharSet);
    return inCharSet;
}

void VString::FromValue(const VValueSingle& inValue)
{
    if (&inValue == this)
        return;
    inValue.GetString(*this);
}

void VString::Clear()
{
    _Clear();
    _SetTextWritten();
}

// ===========================================================================
// Appending

bool VString::_Overlaps(const UniChar* inUnits, long inCount) const
{
    if (inUnits == nullptr || inCount <= 0)
        return false;
    const UniChar* begin = fString;
    const UniChar* end = fString + fMaxLength + 1;
    return !(inUnits + inCount <= begin || inUnits >= end);
}

void VString::_AppendBytes(const void* inUnits, int inCount)
{
    // inUnits may be unaligned: the units are moved as bytes.
    if (inCount < 0)
        return;
    if (inCount == 0) {
        _SetTextWritten();
        return;
    }
    long long newLength = static_cast<long long>(fLength) + inCount;
    if (newLength > INT_MAX) {
        _ThrowError(kErrorStringSize);
        return;
    }
    const char* bytes = static_cast<const char*>(inUnits);
    const char* begin = reinterpret_cast<const char*>(fString);
    const char* end = reinterpret_cast<const char*>(fString + fMaxLength + 1);
    bool overlaps = bytes < end && bytes + static_cast<long>(inCount) * 2 > begin;
    int length = static_cast<int>(newLength);
    if (overlaps && (length > fMaxLength || _MustCopyBeforeWrite())) {
        // The source lies in the buffer about to be replaced: keep a copy.
        VString copy;
        copy.FromBlock(inUnits, static_cast<unsigned long>(inCount) * 2, VTC_UTF_16);
        if (copy.fLength != inCount)
            return;
        _AppendBytes(copy.fString, inCount);
        return;
    }
    if (!_EnsureWritable(length, true))
        return;
    CopyUnits(fString + fLength, inUnits, inCount);
    fLength = length;
    fString[fLength] = 0;
    _SetTextWritten();
}

VString& VString::AppendUniCString(const UniChar* inUniCString)
{
    _AppendBytes(inUniCString, UniCStringLength(inUniCString));
    return *this;
}

VString& VString::AppendCString(const char* inCString)
{
    bool ascii;
    size_t n = ScanCString(inCString, ascii);
    if (!ascii) {
        VToUnicodeConverter* decoder = VTextConverters::Get()->GetStdLibToUnicodeConverter();
        if (decoder != nullptr)
            decoder->ConvertString(inCString, n, nullptr, *this);
        return *this;
    }
    long long newLength = static_cast<long long>(fLength) + static_cast<long long>(n);
    if (newLength > INT_MAX) {
        _ThrowError(kErrorStringSize);
        return *this;
    }
    if (!_EnsureWritable(static_cast<int>(newLength), true))
        return *this;
    UniChar* p = fString + fLength;
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<unsigned char>(inCString[i]);
    fLength = static_cast<int>(newLength);
    fString[fLength] = 0;
    _SetTextWritten();
    return *this;
}

VString& VString::AppendBlock(const void* inBuffer, unsigned long inNbBytes, CharSet inCharSet)
{
    if (inCharSet == VTC_UTF_16) {
        unsigned long units = inNbBytes / 2;
        if (units > static_cast<unsigned long>(INT_MAX)) {
            _ThrowError(kErrorStringSize);
            return *this;
        }
        if (inBuffer == nullptr && units > 0)
            return *this;
        _AppendBytes(inBuffer, static_cast<int>(units));
        return *this;
    }
    if (inBuffer == nullptr || inNbBytes == 0)
        return *this;
    const char* bytes = static_cast<const char*>(inBuffer);
    const char* own = reinterpret_cast<const char*>(fString);
    if (bytes < own + (static_cast<long>(fMaxLength) + 1) * 2 && bytes + inNbBytes > own) {
        // The bytes lie in the buffer that growing may release: decode a copy.
        void* copy = std::malloc(inNbBytes);
        if (copy == nullptr) {
            _ThrowError(kErrorStringSize);
            return *this;
        }
        std::memcpy(copy, inBuffer, inNbBytes);
        AppendBlock(copy, inNbBytes, inCharSet);
        std::free(copy);
        return *this;
    }
    VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(inCharSet);
    if (converter != nullptr) {
        converter->ConvertString(inBuffer, inNbBytes, nullptr, *this);
        converter->Release();
    }
    return *this;
}

VString& VString::AppendString(const VString& inString)
{
    if (inString.IsNull()) {
        _SetTextWritten();
        return *this;
    }
    _AppendBytes(inString.fString, inString.fLength);
    return *this;
}

VString& VString::AppendValue(const VValueSingle& inValue)
{
    VStr<255> text;
    inValue.GetString(text);
    return AppendString(text);
}

// ===========================================================================
// Editing

void VString::Insert(UniChar inChar, int inPlace)
{
    if (inChar == 0 || inPlace < 1)
        return;
    if (inPlace > fLength) {
        AppendUniChar(inChar);
        return;
    }
    if (fLength == INT_MAX) {
        _ThrowError(kErrorStringSize);
        return;
    }
    if (!_EnsureWritable(fLength + 1, true))
        return;
    CopyUnits(fString + inPlace, fString + inPlace - 1, fLength - inPlace + 1);
    fString[inPlace - 1] = inChar;
    ++fLength;
    fString[fLength] = 0;
    _SetTextWritten();
}

void VString::Insert(const VString& inString, int inPlace)
{
    if (inPlace < 1)
        return;
    if (inPlace > fLength) {
        AppendString(inString);
        return;
    }
    int n = inString.IsNull() ? 0 : inString.fLength;
    if (n > 0 && _Overlaps(inString.fString, n)) {
        VString copy;
        copy.FromUniString(inString.fString, n);
        if (copy.fLength != n)
            return;
        Insert(copy, inPlace);
        return;
    }
    long long newLength = static_cast<long long>(fLength) + n;
    if (newLength > INT_MAX) {
        _ThrowError(kErrorStringSize);
        return;
    }
    if (!_EnsureWritable(static_cast<int>(newLength), true))
        return;
    CopyUnits(fString + inPlace - 1 + n, fString + inPlace - 1, fLength - inPlace + 1);
    CopyUnits(fString + inPlace - 1, inString.fString, n);
    fLength = static_cast<int>(newLength);
    fString[fLength] = 0;
    _SetTextWritten();
}

void VString::Remove(int inPlace, int inNbChars)
{
    if (inPlace < 1 || inPlace > fLength || inNbChars < 0)
        return;
    long long end = static_cast<long long>(inPlace) - 1 + inNbChars;
    int newLength;
    if (end >= fLength)
        newLength = inPlace - 1;
    else
        newLength = fLength - inNbChars;
    if (!_EnsureWritable(fLength, true))
        return;
    if (end < fLength)
        CopyUnits(fString + inPlace - 1, fString + end, fLength - end);
    fLength = newLength;
    fString[fLength] = 0;
    _SetTextWritten();
}

void VString::Replace(const VString& inString, int inPlace, int inNbChars)
{
    if (inPlace < 1 || inPlace > fLength || inNbChars < 1)
        return;
    int n = inString.IsNull() ? 0 : inString.fLength;
    if (n > 0 && _Overlaps(inString.fString, n)) {
        VString copy;
        copy.FromUniString(inString.fString, n);
        if (copy.fLength != n)
            return;
        Replace(copy, inPlace, inNbChars);
        return;
    }
    long long end = static_cast<long long>(inPlace) - 1 + inNbChars;
    if (end >= fLength) {
        // The range reaches the end: cut at inPlace - 1, then append.
        long long newLength = static_cast<long long>(inPlace) - 1 + n;
        if (newLength > INT_MAX) {
            _ThrowError(kErrorStringSize);
            return;
        }
        if (!_EnsureWritable(static_cast<int>(newLength), true))
            return;
        CopyUnits(fString + inPlace - 1, inString.fString, n);
        fLength = static_cast<int>(newLength);
        fString[fLength] = 0;
        _SetTextWritten();
        return;
    }
    long long newLength = static_cast<long long>(fLength) - inNbChars + n;
    if (newLength > INT_MAX) {
        _ThrowError(kErrorStringSize);
        return;
    }
    if (!_EnsureWritable(static_cast<int>(newLength), true))
        return;
    CopyUnits(fString + inPlace - 1 + n, fString + end, fLength - end);
    CopyUnits(fString + inPlace - 1, inString.fString, n);
    fLength = static_cast<int>(newLength);
    fString[fLength] = 0;
    _SetTextWritten();
}

void VString::SubString(int inFirst, int inNbChars)
{
    if (inFirst < 1)
        inFirst = 1;
    if (inFirst > fLength + 1)
        inFirst = fLength + 1;
    if (inNbChars < 0)
        inNbChars = 0;
    int n = inNbChars;
    if (static_cast<long long>(inFirst) + inNbChars - 1 > fLength)
        n = fLength - inFirst + 1;
    if (!_EnsureWritable(fLength, true))
        return;
    if (inFirst >= 2)
        CopyUnits(fString, fString + inFirst - 1, n);
    fLength = n;
    fString[fLength] = 0;
    _SetTextWritten();
}

void VString::Exchange(UniChar inChar, UniChar inNewChar, int inPlace, int inCountToReplace)
{
    if (IsNull() || fLength == 0 || inPlace < 1 || inCountToReplace < 1)
        return;
    int first = -1;
    for (int i = inPlace - 1; i < fLength; ++i) {
        if (fString[i] == inChar) {
            first = i;
            break;
        }
    }
    if (first < 0)
        return;
    if (!_EnsureWritable(fLength, true))
        return;
    int done = 0;
    for (int i = first; i < fLength && done < inCountToReplace; ++i) {
        if (fString[i] == inChar) {
            fString[i] = inNewChar;
            ++done;
        }
    }
}

void VString::Swap(VString& ioOther)
{
    if (&ioOther == this)
        return;
    bool thisHeap = !_IsInline();
    bool otherHeap = !ioOther._IsInline();
    if (thisHeap && otherHeap) {
        std::swap(fString, ioOther.fString);
        std::swap(fLength, ioOther.fLength);
        std::swap(fMaxLength, ioOther.fMaxLength);
        unsigned char bits = static_cast<unsigned char>(fFlags & kBufferBits);
        fFlags = static_cast<unsigned char>((fFlags & ~kBufferBits) | (ioOther.fFlags & kBufferBits));
        ioOther.fFlags = static_cast<unsigned char>((ioOther.fFlags & ~kBufferBits) | bits);
        _SetTextWritten();
        ioOther._SetTextWritten();
        return;
    }
    if (thisHeap != otherHeap) {
        VString& heap = thisHeap ? *this : ioOther;
        VString& inlined = thisHeap ? ioOther : *this;
        UniChar* block = heap.fString;
        int length = heap.fLength;
        int capacity = heap.fMaxLength;
        unsigned char bits = static_cast<unsigned char>(heap.fFlags & kBufferBits);
        // The heap string sets its block aside and copies the other's text
        // (or its null state); the other then takes the block.
        heap._ResetToInline();
        heap.FromString(inlined);
        inlined.fString = block;
        inlined.fLength = length;
        inlined.fMaxLength = capacity;
        inlined.fFlags = static_cast<unsigned char>((inlined.fFlags & ~kBufferBits) | bits);
        inlined._SetTextWritten();
        return;
    }
    // Both inline.
    int thisLength = fLength;
    int otherLength = ioOther.fLength;
    if (fMaxLength < otherLength && !_ReallocBuffer(otherLength, true))
        return;
    if (ioOther.fMaxLength < thisLength && !ioOther._ReallocBuffer(thisLength, true))
        return;
    int common = thisLength < otherLength ? thisLength : otherLength;
    for (int i = 0; i < common; ++i)
        std::swap(fString[i], ioOther.fString[i]);
    if (thisLength > otherLength)
        CopyUnits(ioOther.fString + common, fString + common, thisLength - common);
    else
        CopyUnits(fString + common, ioOther.fString + common, otherLength - common);
    fLength = otherLength;
    ioOther.fLength = thisLength;
    fString[fLength] = 0;
    ioOther.fString[ioOther.fLength] = 0;
}

void VString::RemoveWhiteSpaces(bool inLeading, bool inTrailing, int* outLeadingCount, int* outTrailingCount,
                                [[maybe_unused]] VIntlMgr* inIntlMgr, [[maybe_unused]] bool inFlag)
{
    auto isBlank = [&](UniChar c) -> bool {
        if (inIntlMgr != nullptr)
            return inIntlMgr->IsSpace(c, inFlag);
        return c == 0x20 || c == 0x09;
    };
    if (inLeading) {
        int count = 0;
        while (count < fLength && isBlank(fString[count]))
            ++count;
        if (count > 0)
            Remove(1, count);
        if (outLeadingCount != nullptr)
            *outLeadingCount = count;
    }
    if (inTrailing) {
        int count = 0;
        while (count < fLength && isBlank(fString[fLength - 1 - count]))
            ++count;
        if (count > 0)
            Truncate(fLength - count, true);
        if (outTrailingCount != nullptr)
            *outTrailingCount = count;
    }
}

void VString::ToUpperCase([[maybe_unused]] bool inStripDiacritics)
{
    if (VIntlMgr* intl = VTask::GetCurrentIntlManager())
        intl->ToUpperLowerCase(*this, inStripDiacritics, true);
}

void VString::ToLowerCase([[maybe_unused]] bool inStripDiacritics)
{
    if (VIntlMgr* intl = VTask::GetCurrentIntlManager())
        intl->ToUpperLowerCase(*this, inStripDiacritics, false);
}

namespace {
// The type of the normalisation mode the manager takes.
template <class T>
struct ModeOf;
template <class C, class R, class S, class M>
struct ModeOf<R (C::*)(S, M)> {
    using type = M;
};
template <class C, class R, class S, class M>
struct ModeOf<R (C::*)(S, M) const> {
    using type = M;
};
using NormalizationModeArg = typename ModeOf<decltype(&VIntlMgr::NormalizeString)>::type;
}  // namespace

void VString::Decompose()
{
    if (VIntlMgr* intl = VTask::GetCurrentIntlManager())
        intl->NormalizeString(*this, static_cast<NormalizationModeArg>(2));
}

void VString::Compose()
{
    if (VIntlMgr* intl = VTask::GetCurrentIntlManager())
        intl->NormalizeString(*this, static_cast<NormalizationModeArg>(4));
}

// ===========================================================================
// Copies of ranges

VString VString::Before(int inPlace) const
{
    VString result;
    if (inPlace < 1)
        return result;
    if (inPlace > fLength) {
        result.FromString(*this);
        return result;
    }
    result.FromUniString(fString, inPlace - 1);
    return result;
}

VString VString::After(int inPlace) const
{
    VString result;
    if (inPlace < 1) {
        result.FromString(*this);
        return result;
    }
    if (inPlace >= fLength)
        return result;
    result.FromUniString(fString + inPlace, fLength - inPlace);
    return result;
}

void VString::GetSubString(int inFirst, int inNbChars, VString& outResult) const
{
    if (inFirst < 1 || inFirst > fLength + 1 || inNbChars < 0 || (inFirst == fLength + 1 && inNbChars > 0)) {
        outResult.Clear();
        return;
    }
    int n = inNbChars;
    if (static_cast<long long>(inFirst) + inNbChars - 1 > fLength)
        n = fLength - inFirst + 1;
    if (&outResult == this) {
        outResult.SubString(inFirst, n);
        return;
    }
    outResult.FromUniString(fString + inFirst - 1, n);
}

VString operator+(const VString& inA, const VString& inB)
{
    VString result(inA);
    result.AppendString(inB);
    return result;
}

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

int SwapInt(int inValue)
{
    unsigned int v = static_cast<unsigned int>(inValue);
    v = ((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24);
    return static_cast<int>(v);
}

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
// Collation: the current task's international text manager, or the raw
// fallback while the toolbox has none.
//
// Without a manager (before the process object exists, or while the
// international services are absent) every collation operation answers as
// the raw one: units compared by value, A-Z folded to a-z when diacritical
// marks do not count, and LIKE patterns matched with the task's wildcard
// unit. The adapters below call the manager only through the members it
// really offers, so that this file builds whatever stage it has reached.

namespace {

inline UniChar FoldASCII(UniChar c) { return (c >= 'A' && c <= 'Z') ? static_cast<UniChar>(c + 32) : c; }

inline UniChar FoldIf(UniChar c, bool inFold) { return inFold ? FoldASCII(c) : c; }

// Order of two unit sequences by unit value, then by length.
CompareResult RawOrder(const UniChar* inA, int inALength, const UniChar* inB, int inBLength, bool inFold)
{
    int common = inALength < inBLength ? inALength : inBLength;
    for (int i = 0; i < common; ++i) {
        UniChar a = FoldIf(inA[i], inFold);
        UniChar b = FoldIf(inB[i], inFold);
        if (a != b)
            return a < b ? CR_SMALLER : CR_BIGGER;
    }
    if (inALength == inBLength)
        return CR_EQUAL;
    return inALength < inBLength ? CR_SMALLER : CR_BIGGER;
}

// LIKE match: the wildcard stands for any run of units, empty included.
// Iterative with one backtrack point, so any pattern costs at most
// text x pattern steps.
bool RawLike(const UniChar* inText, int inTextLength, const UniChar* inPattern, int inPatternLength, bool inFold,
             UniChar inWild)
{
    int t = 0, p = 0, starP = -1, starT = 0;
    while (t < inTextLength) {
        if (p < inPatternLength && inPattern[p] == inWild) {
            starP = p++;
            starT = t;
        } else if (p < inPatternLength && FoldIf(inPattern[p], inFold) == FoldIf(inText[t], inFold)) {
            ++p;
            ++t;
        } else if (starP >= 0) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < inPatternLength && inPattern[p] == inWild)
        ++p;
    return p == inPatternLength;
}

// Raw search: 1-based position of the first occurrence, 0 when none.
int RawFind(const UniChar* inText, int inTextLength, const UniChar* inPattern, int inPatternLength, bool inFold)
{
    if (inPatternLength <= 0)
        return 1;
    for (long long i = 0; i + inPatternLength <= inTextLength; ++i) {
        int j = 0;
        while (j < inPatternLength && FoldIf(inText[i + j], inFold) == FoldIf(inPattern[j], inFold))
            ++j;
        if (j == inPatternLength)
            return static_cast<int>(i + 1);
    }
    return 0;
}

// The collator side: search with a matched length. Without a collator the
// units are compared raw (case-folded when diacritics do not count).
int CollatorFind(VCollator* inCollator, const UniChar* inText, int inTextLength, const UniChar* inPattern,
                 int inPatternLength, bool inDiacritical, int* outMatched)
{
    if (inCollator != nullptr) {
        int matched = 0;
        int pos = inCollator->FindString(inText, inTextLength, inPattern, inPatternLength, inDiacritical, &matched);
        if (outMatched != nullptr)
            *outMatched = pos > 0 ? matched : 0;
        return pos;
    }
    int pos = RawFind(inText, inTextLength, inPattern, inPatternLength, !inDiacritical);
    if (outMatched != nullptr)
        *outMatched = pos > 0 ? inPatternLength : 0;
    return pos;
}

bool CollatorBeginsWith(VCollator* inCollator, const UniChar* inText, int inTextLength, const UniChar* inPrefix,
                        int inPrefixLength, bool inDiacritical)
{
    if (inCollator != nullptr)
        return inCollator->BeginsWithString(inText, inTextLength, inPrefix, inPrefixLength, inDiacritical, nullptr);
    if (inPrefixLength > inTextLength)
        return false;
    return RawOrder(inText, inPrefixLength, inPrefix, inPrefixLength, !inDiacritical) == CR_EQUAL;
}

bool CollatorEndsWith(VCollator* inCollator, const UniChar* inText, int inTextLength, const UniChar* inSuffix,
                      int inSuffixLength, bool inDiacritical)
{
    if (inCollator != nullptr)
        return inCollator->EndsWithString(inText, inTextLength, inSuffix, inSuffixLength, inDiacritical, nullptr);
    if (inSuffixLength > inTextLength)
        return false;
    return RawOrder(inText + inTextLength - inSuffixLength, inSuffixLength, inSuffix, inSuffixLength,
                    !inDiacritical) == CR_EQUAL;
}

// The manager side. Without a manager (no process object) the units are
// compared raw, case-folded when diacritics do not count, and LIKE patterns
// use the task's wildcard.
struct Intl {
    static VCollator* GetCollator(VIntlMgr* inIntl) { return inIntl != nullptr ? inIntl->GetCollator() : nullptr; }

    static CompareResult Compare(VIntlMgr* inIntl, const UniChar* inA, int inALength, const UniChar* inB,
                                 int inBLength, bool inDiacritical)
    {
        if (inIntl != nullptr)
            return inIntl->CompareString(inA, inALength, inB, inBLength, inDiacritical);
        return RawOrder(inA, inALength, inB, inBLength, !inDiacritical);
    }

    static bool Equal(VIntlMgr* inIntl, const UniChar* inA, int inALength, const UniChar* inB, int inBLength,
                      bool inDiacritical)
    {
        if (inIntl != nullptr)
            return inIntl->EqualString(inA, inALength, inB, inBLength, inDiacritical);
        return inALength == inBLength && RawOrder(inA, inALength, inB, inBLength, !inDiacritical) == CR_EQUAL;
    }

    static CompareResult CompareLike(VIntlMgr* inIntl, const UniChar* inA, int inALength, const UniChar* inB,
                                     int inBLength, bool inDiacritical)
    {
        if (inIntl != nullptr)
            return inIntl->CompareString_Like(inA, inALength, inB, inBLength, inDiacritical);
        if (RawLike(inA, inALength, inB, inBLength, !inDiacritical, VTask::GetWildChar()))
            return CR_EQUAL;
        CompareResult order = RawOrder(inA, inALength, inB, inBLength, !inDiacritical);
        return order == CR_EQUAL ? CR_SMALLER : order;
    }

    static bool EqualLike(VIntlMgr* inIntl, const UniChar* inA, int inALength, const UniChar* inB, int inBLength,
                          bool inDiacritical)
    {
        if (inIntl != nullptr)
            return inIntl->EqualString_Like(inA, inALength, inB, inBLength, inDiacritical);
        return RawLike(inA, inALength, inB, inBLength, !inDiacritical, VTask::GetWildChar());
    }

    // The first unit of the manager's decimal separator; '.' without one.
    static UniChar DecimalSeparator(VIntlMgr* inIntl)
    {
        if (inIntl != nullptr && inIntl->GetDecimalSeparator().GetLength() > 0)
            return inIntl->GetDecimalSeparator().GetCPointer()[0];
        return '.';
    }
};

VIntlMgr* CurrentIntl() { return VTask::GetCurrentIntlManager(); }

// A raw form: 32-bit length, then the units.
struct RawText {
    const UniChar* fUnits;
    int fLength;
};

RawText ReadRawForm(const void* inPtr)
{
    int length = 0;
    std::memcpy(&length, inPtr, sizeof(length));
    if (length < 0)
        length = 0;
    return RawText{reinterpret_cast<const UniChar*>(static_cast<const char*>(inPtr) + sizeof(int)), length};
}

inline int MinLength(int inA, int inB) { return inA < inB ? inA : inB; }

}  // namespace

// ===========================================================================
// Numbers and four-character codes

namespace {

// Decimal digits of a magnitude, written backwards into a stack buffer.
VString& AppendDecimal(VString& ioString, unsigned long long inMagnitude, bool inNegative)
{
    UniChar buffer[24];
    int i = 23;
    buffer[i] = 0;
    do {
        buffer[--i] = static_cast<UniChar>('0' + inMagnitude % 10);
        inMagnitude /= 10;
    } while (inMagnitude != 0);
    if (inNegative)
        buffer[--i] = '-';
    return ioString.AppendUniCString(buffer + i);
}

}  // namespace

VString& VString::AppendLong(int inValue)
{
    if (inValue == 0)
        return AppendUniChar('0');
    if (inValue == INT_MIN)
        return AppendCString("-2147483648");
    return AppendDecimal(*this, static_cast<unsigned long long>(inValue < 0 ? -inValue : inValue), inValue < 0);
}

VString& VString::AppendLong8(long long inValue)
{
    if (inValue == 0)
        return AppendUniChar('0');
    if (inValue == LLONG_MIN)
        return AppendCString("-9223372036854775808");
    return AppendDecimal(*this, static_cast<unsigned long long>(inValue < 0 ? -inValue : inValue), inValue < 0);
}

VString& VString::AppendULong8(unsigned long long inValue)
{
    if (inValue == 0)
        return AppendUniChar('0');
    return AppendDecimal(*this, inValue, false);
}

VString& VString::AppendReal(double inValue)
{
    char buffer[255];
    plat::WriteCDouble(inValue, 14, 'G', buffer, sizeof(buffer));
    return AppendCString(buffer);
}

VString& VString::AppendOsType(OsType inCode)
{
    unsigned char bytes[4] = {static_cast<unsigned char>(inCode >> 24), static_cast<unsigned char>(inCode >> 16),
                              static_cast<unsigned char>(inCode >> 8), static_cast<unsigned char>(inCode)};
    VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(VTC_UTF_8);
    if (converter != nullptr) {
        converter->ConvertString(bytes, 4, nullptr, *this);
        converter->Release();
    }
    return *this;
}

void VString::FromBoolean(unsigned char inValue)
{
    static const UniChar sTrue[] = {'t', 'r', 'u', 'e', 0};
    static const UniChar sFalse[] = {'f', 'a', 'l', 's', 'e', 0};
    if (inValue != 0)
        FromUniString(sTrue, 4);
    else
        FromUniString(sFalse, 5);
}

void VString::FromByte(signed char inValue)
{
    Truncate(0, false);
    AppendLong(inValue);
}

void VString::FromWord(short inValue)
{
    Truncate(0, false);
    AppendLong(inValue);
}

void VString::FromLong(int inValue)
{
    Truncate(0, false);
    AppendLong(inValue);
}

void VString::FromLong8(long long inValue)
{
    Truncate(0, false);
    AppendLong8(inValue);
}

void VString::FromULong8(unsigned long long inValue)
{
    Truncate(0, false);
    AppendULong8(inValue);
}

void VString::FromReal(double inValue)
{
    Truncate(0, false);
    AppendReal(inValue);
}

void VString::FromOsType(OsType inCode)
{
    unsigned char bytes[4] = {static_cast<unsigned char>(inCode >> 24), static_cast<unsigned char>(inCode >> 16),
                              static_cast<unsigned char>(inCode >> 8), static_cast<unsigned char>(inCode)};
    FromBlock(bytes, 4, VTC_UTF_8);
}

long long VString::GetLong8() const
{
    unsigned long long value = 0;
    bool negative = false;
    bool haveSeparator = false;
    UniChar separator = 0;
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned long long>(c - '0');
        } else if (c == '-') {
            if (value == 0)
                negative = true;
        } else {
            if (!haveSeparator) {
                separator = Intl::DecimalSeparator(CurrentIntl());
                haveSeparator = true;
            }
            if (c == separator)
                break;
        }
    }
    // Unsigned arithmetic: a magnitude beyond 64 bits wraps, it never traps.
    return negative ? static_cast<long long>(0ULL - value) : static_cast<long long>(value);
}

int VString::GetLong() const
{
    long long value = GetLong8();
    return (value >= INT_MIN && value <= INT_MAX) ? static_cast<int>(value) : 0;
}

short VString::GetWord() const
{
    long long value = GetLong8();
    return (value >= SHRT_MIN && value <= SHRT_MAX) ? static_cast<short>(value) : 0;
}

double VString::GetRealCheckOverflow(bool* outOverflow) const
{
    StStringConverter<char> bytes(*this, VTC_UTF_8, eCRM_NONE);
    const char* text = bytes.GetCPointer();
    bool outOfRange = false;
    const double result = plat::ReadCDouble(text, nullptr, &outOfRange);
    if (outOverflow != nullptr)
        *outOverflow = (std::isinf(result) || result == 0) && outOfRange;
    return result;
}

double VString::GetReal() const { return GetRealCheckOverflow(nullptr); }

bool VString::GetBoolean() const
{
    static const UniChar sTrue[] = {'t', 'r', 'u', 'e'};
    return Intl::Equal(CurrentIntl(), fString, fLength, sTrue, 4, false);
}

OsType VString::GetOsType() const
{
    unsigned char bytes[4] = {' ', ' ', ' ', ' '};
    int consumed = 0;
    unsigned long produced = 0;
    if (fLength > 0)
        VTextConverters::Get()->ConvertFromVString(*this, &consumed, bytes, 4, &produced, VTC_UTF_8);
    if (produced > 4)
        produced = 4;
    for (unsigned long i = produced; i < 4; ++i)
        bytes[i] = ' ';
    return (static_cast<OsType>(bytes[0]) << 24) | (static_cast<OsType>(bytes[1]) << 16) |
           (static_cast<OsType>(bytes[2]) << 8) | static_cast<OsType>(bytes[3]);
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

// ===========================================================================
// Hexadecimal and decimal number texts

unsigned long long VString::GetHexLong() const
{
    unsigned long long value = 0;
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            continue;
        value = value * 16 + digit;
    }
    return value;
}

template <class T>
void StringFromHexLong(VString& outString, T inValue, bool inPrefixed)
{
    static_assert(std::is_unsigned_v<T>);
    constexpr int maxDigits = static_cast<int>(sizeof(T) * 2);
    int digits = 1;
    for (T v = static_cast<T>(inValue >> 4); v != 0; v = static_cast<T>(v >> 4))
        ++digits;
    int width = digits;
    if (inPrefixed) {
        if (maxDigits == 2)
            width = 2;
        else if (digits <= 4)
            width = 4;
        else if (digits <= 8)
            width = 8;
        else
            width = 16;
    }
    UniChar p[20];
    int n = 0;
    if (inPrefixed) {
        p[n++] = '0';
        p[n++] = 'x';
    }
    for (int i = width; i > digits; --i)
        p[n++] = '0';
    for (int i = digits - 1; i >= 0; --i) {
        unsigned nibble = static_cast<unsigned>((inValue >> (4 * i)) & 0xF);
        p[n++] = static_cast<UniChar>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
    }
    outString.FromUniString(p, n);
    // A string that could not grow is left empty, never with its old text.
    if (outString.GetLength() != n || std::memcmp(outString.GetCPointer(), p, static_cast<size_t>(n) * 2) != 0)
        outString.Clear();
}

template void StringFromHexLong<unsigned long long>(VString&, unsigned long long, bool);
template void StringFromHexLong<unsigned int>(VString&, unsigned int, bool);
template void StringFromHexLong<unsigned char>(VString&, unsigned char, bool);

void VString::FromHexLong(unsigned long long inValue, bool inPrefixed) { StringFromHexLong(*this, inValue, inPrefixed); }

void VString::FromHexLong(long long inValue, bool inPrefixed)
{
    StringFromHexLong(*this, static_cast<unsigned long long>(inValue), inPrefixed);
}

void VString::FromHexLong(unsigned int inValue, bool inPrefixed) { StringFromHexLong(*this, inValue, inPrefixed); }

void VString::FromHexLong(int inValue, bool inPrefixed)
{
    StringFromHexLong(*this, static_cast<unsigned int>(inValue), inPrefixed);
}

void VString::FromHexLong(unsigned char inValue, bool inPrefixed) { StringFromHexLong(*this, inValue, inPrefixed); }

void VString::FromHexLong(char inValue, bool inPrefixed)
{
    StringFromHexLong(*this, static_cast<unsigned char>(inValue), inPrefixed);
}

VString ToString(int inValue)
{
    VString result;
    result.AppendLong(inValue);
    return result;
}

VString ToString(long long inValue)
{
    VString result;
    result.AppendLong8(inValue);
    return result;
}

VString ToString(unsigned long long inValue)
{
    VString result;
    result.AppendULong8(inValue);
    return result;
}

VString ToString(unsigned long inValue)
{
    VString result;
    result.AppendULong8(inValue);
    return result;
}

// ===========================================================================
// Printf

namespace {

// The C-library side of a Printf: bytes of formatted text, at most 1023 in
// all, decoded into the string in runs (between object texts).
class PrintfSink {
public:
    explicit PrintfSink(VString& ioString) : fString(ioString) { fBuffer[0] = 0; }

    void Append(const char* inBytes, size_t inCount)
    {
        size_t room = kLimit - fUsed;
        if (inCount > room)
            inCount = room;
        std::memcpy(fBuffer + fUsed, inBytes, inCount);
        fUsed += inCount;
        fBuffer[fUsed] = 0;
    }

    // Formats one C-library directive with its arguments, cut at the limit.
    template <class... Args>
    void Format(const char* inDirective, Args... inArgs)
    {
        size_t room = kLimit - fUsed;
        if (room == 0)
            return;
        // Numbers in the C locale, whatever the process or thread locale is.
        int n = plat::FormatC(fBuffer + fUsed, room + 1, inDirective, inArgs...);
        if (n > 0)
            fUsed += static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room;
        fBuffer[fUsed] = 0;
    }

    // Decodes the bytes not yet handed to the string (ASCII widened,
    // anything else read as UTF-8).
    void Flush()
    {
        if (fUsed > fFlushed) {
            fString.AppendCString(fBuffer + fFlushed);
            fFlushed = fUsed;
        }
    }

private:
    static constexpr size_t kLimit = 1023;
    VString& fString;
    char fBuffer[kLimit + 1];
    size_t fUsed = 0;
    size_t fFlushed = 0;
};

void SetInvalidText(VString& outText, const wchar_t* inLiteral)
{
    outText.FromBlock(inLiteral, std::wcslen(inLiteral) * sizeof(wchar_t), VTC_UTF_32_RAW);
}

// The text of an object directive (%S, %A, %V) for the pointer.
void ObjectText(char inKind, const void* inPointer, VString& outText)
{
    const VObject* object = static_cast<const VObject*>(inPointer);
    VCppMemMgr* manager = VObject::sCppMemMgr;
    bool valid = object != nullptr && (manager == nullptr || manager->CheckVObject(object) != nullptr);
    if (!valid) {
        SetInvalidText(outText, L"@@invalid VObject@@");
        return;
    }
    if (inKind == 'S') {
        const VString* text = dynamic_cast<const VString*>(object);
        if (text == nullptr)
            SetInvalidText(outText, L"@@invalid VString@@");
        else
            outText.FromString(*text);
    } else if (inKind == 'A') {
        const VValueSingle* value = dynamic_cast<const VValueSingle*>(object);
        if (value == nullptr)
            SetInvalidText(outText, L"@@invalid VValueSingle@@");
        else
            value->GetString(outText);
    } else {
        object->DebugDump(outText);
    }
}

}  // namespace

void VString::Printf(const char* inFormat, ...)
{
    if (fLength != 0)
        Truncate(0, false);
    va_list args;
    va_start(args, inFormat);
    _Printf(inFormat, args);
    va_end(args);
}

void VString::VPrintf(const char* inFormat, va_list inArgs)
{
    if (fLength != 0)
        Truncate(0, false);
    _Printf(inFormat, inArgs);
}

VString& VString::AppendPrintf(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    _Printf(inFormat, args);
    va_end(args);
    return *this;
}

void VString::_Printf(const char* inFormat, va_list inArgs)
{
    // Each directive is read whole (flags, width, precision, length and
    // conversion) and takes its arguments with their real types, so that
    // numbers of every kind, '*' widths and object pointers may be mixed
    // freely. Ordinary directives are formatted one by one by the C library
    // in the C locale; object directives insert their text right where they
    // stand. A directive the walker does not know is copied as text and
    // takes no argument.
    if (inFormat == nullptr)
        return;
    va_list args;
    va_copy(args, inArgs);

    PrintfSink sink(*this);
    const char* p = inFormat;
    while (*p != 0) {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            sink.Append(p, std::strlen(p));
            break;
        }
        sink.Append(p, static_cast<size_t>(percent - p));
        const char* d = percent + 1;
        if (*d == '%') {
            sink.Append("%", 1);
            p = d + 1;
            continue;
        }
        if (*d == 'S' || *d == 'A' || *d == 'V') {
            const void* object = va_arg(args, const void*);
            VString text;
            ObjectText(*d, object, text);
            sink.Flush();
            AppendString(text);
            p = d + 1;
            continue;
        }
        // Flags, width, precision.
        while (*d == '-' || *d == '+' || *d == ' ' || *d == '#' || *d == '0' || *d == '\'')
            ++d;
        bool starWidth = false, starPrecision = false;
        if (*d == '*') {
            starWidth = true;
            ++d;
        } else {
            while (*d >= '0' && *d <= '9')
                ++d;
        }
        if (*d == '.') {
            ++d;
            if (*d == '*') {
                starPrecision = true;
                ++d;
            } else {
                while (*d >= '0' && *d <= '9')
                    ++d;
            }
        }
        // Length.
        enum { kNone, kChar, kShort, kLong, kLongLong, kIntMax, kSize, kPtrDiff, kLongDouble } length = kNone;
        if (d[0] == 'h' && d[1] == 'h') {
            length = kChar;
            d += 2;
        } else if (d[0] == 'l' && d[1] == 'l') {
            length = kLongLong;
            d += 2;
        } else if (*d == 'h') {
            length = kShort;
            ++d;
        } else if (*d == 'l') {
            length = kLong;
            ++d;
        } else if (*d == 'q') {
            length = kLongLong;
            ++d;
        } else if (*d == 'j') {
            length = kIntMax;
            ++d;
        } else if (*d == 'z') {
            length = kSize;
            ++d;
        } else if (*d == 't') {
            length = kPtrDiff;
            ++d;
        } else if (*d == 'L') {
            length = kLongDouble;
            ++d;
        }
        char conversion = *d;
        bool integer = std::strchr("diouxX", conversion) != nullptr && conversion != 0;
        bool real = std::strchr("eEfFgGaA", conversion) != nullptr && conversion != 0;
        bool known = integer || real || conversion == 'c' || conversion == 's' || conversion == 'p';
        if (conversion == 'S' || conversion == 'A' || conversion == 'V') {
            // An object directive with flags or a width: those are not read.
            if (starWidth)
                (void)va_arg(args, int);
            if (starPrecision)
                (void)va_arg(args, int);
            const void* object = va_arg(args, const void*);
            VString text;
            ObjectText(conversion, object, text);
            sink.Flush();
            AppendString(text);
            p = d + 1;
            continue;
        }
        if (!known) {
            // Not a directive of this formatter (%n among them, which would
            // write through its argument): copied as text.
            size_t n = conversion == 0 ? static_cast<size_t>(d - percent) : static_cast<size_t>(d + 1 - percent);
            sink.Append(percent, n);
            p = percent + n;
            continue;
        }
        // A directive longer than the work buffer still takes its arguments
        // (so that the next ones stay in step) but prints nothing.
        char directive[64];
        size_t directiveLength = static_cast<size_t>(d + 1 - percent);
        const bool printable = directiveLength < sizeof(directive);
        if (printable)
            std::memcpy(directive, percent, directiveLength);
        directive[printable ? directiveLength : 0] = 0;
        // Widths and precisions given as arguments are bounded by the output
        // limit, so that none makes the C library pad for ever.
        int width = starWidth ? va_arg(args, int) : 0;
        int precision = starPrecision ? va_arg(args, int) : 0;
        if (width > 1023)
            width = 1023;
        if (width < -1023)
            width = -1023;
        if (precision > 1023)
            precision = 1023;

        auto emit = [&](auto inValue) {
            if (!printable)
                return;
            if (starWidth && starPrecision)
                sink.Format(directive, width, precision, inValue);
            else if (starWidth)
                sink.Format(directive, width, inValue);
            else if (starPrecision)
                sink.Format(directive, precision, inValue);
            else
                sink.Format(directive, inValue);
        };

        if (integer) {
            bool isSigned = conversion == 'd' || conversion == 'i';
            switch (length) {
                case kLong:
                    if (isSigned)
                        emit(va_arg(args, long));
                    else
                        emit(va_arg(args, unsigned long));
                    break;
                case kLongLong:
                    if (isSigned)
                        emit(va_arg(args, long long));
                    else
                        emit(va_arg(args, unsigned long long));
                    break;
                case kIntMax:
                    if (isSigned)
                        emit(va_arg(args, intmax_t));
                    else
                        emit(va_arg(args, uintmax_t));
                    break;
                case kSize:
                    if (isSigned)
                        emit(va_arg(args, ssize_t));
                    else
                        emit(va_arg(args, size_t));
                    break;
                case kPtrDiff:
                    emit(va_arg(args, ptrdiff_t));
                    break;
                default:
                    // char and short arguments arrive promoted to int.
                    if (isSigned)
                        emit(va_arg(args, int));
                    else
                        emit(va_arg(args, unsigned int));
                    break;
            }
        } else if (real) {
            if (length == kLongDouble)
                emit(va_arg(args, long double));
            else
                emit(va_arg(args, double));
        } else if (conversion == 'c') {
            if (length == kLong)
                emit(va_arg(args, wint_t));
            else
                emit(va_arg(args, int));
        } else if (conversion == 's') {
            if (length == kLong)
                emit(va_arg(args, const wchar_t*));
            else
                emit(va_arg(args, const char*));
        } else {
            emit(va_arg(args, void*));
        }
        p = d + 1;
    }
    sink.Flush();
    va_end(args);
}

// ===========================================================================
// Key formatting

VString& VString::Format(const VValueBag* inBag, bool inRemoveMissing)
{
    if (inBag == nullptr || inBag->IsEmpty() || fLength < 2)
        return *this;
    int pos = 1;
    while (pos < fLength) {
        int a = FindUniChar('{', pos);
        if (a == 0)
            break;
        if (a + 1 < fLength && fString[a] == '{') {
            pos = a + 2;
            continue;
        }
        int b = FindUniChar('}', a + 1);
        if (b == 0)
            break;
        if (b + 1 < fLength && fString[b] == '}') {
            pos = b + 2;
            continue;
        }
        bool blank = false;
        for (int i = a + 1; i < b; ++i) {
            if (fString[i - 1] == ' ') {
                blank = true;
                break;
            }
        }
        if (b == a + 1 || blank) {
            pos = a + 1;
            continue;
        }
        VStr<15> key;
        key.FromUniString(fString + a, b - a - 1);
        VStr<31> value;
        if (inBag->GetAttribute(StPackedDictionaryKey(key), value)) {
            Replace(value, a, b - a + 1);
            pos = a + value.GetLength();
        } else if (inRemoveMissing) {
            Remove(a, b - a + 1);
            pos = a;
        } else {
            pos = a + 1;
        }
    }
    return *this;
}

// ===========================================================================
// XML and JSON text forms

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(UniChar c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool MatchesASCII(const UniChar* inUnits, int inAvailable, const char* inText)
{
    int n = static_cast<int>(std::strlen(inText));
    if (n > inAvailable)
        return false;
    for (int i = 0; i < n; ++i) {
        if (inUnits[i] != static_cast<unsigned char>(inText[i]))
            return false;
    }
    return true;
}

}  // namespace

void VString::TranscodeToXML(bool inEscapeControlChars)
{
    if (fLength == 0)
        return;
    VString* result = nullptr;
    int runStart = 0;
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        const char* replacement = nullptr;
        char numeric[8];
        switch (c) {
            case '&':
                replacement = "&amp;";
                break;
            case '<':
                replacement = "&lt;";
                break;
            case '>':
                replacement = "&gt;";
                break;
            case '"':
                replacement = "&quot;";
                break;
            case '\'':
                replacement = "&apos;";
                break;
            default:
                if (inEscapeControlChars && ((c < 32 && c != 9 && c != 10 && c != 13) || c == 127)) {
                    numeric[0] = '&';
                    numeric[1] = '#';
                    numeric[2] = 'x';
                    numeric[3] = kHexDigits[(c >> 4) & 0xF];
                    numeric[4] = kHexDigits[c & 0xF];
                    numeric[5] = ';';
                    numeric[6] = 0;
                    replacement = numeric;
                }
                break;
        }
        if (replacement == nullptr)
            continue;
        if (result == nullptr)
            result = new VString;
        result->AppendUniChars(fString + runStart, i - runStart);
        result->AppendCString(replacement);
        runStart = i + 1;
    }
    if (result == nullptr)
        return;
    result->AppendUniChars(fString + runStart, fLength - runStart);
    FromString(*result);
    delete result;
}

void VString::TranscodeFromXML()
{
    VString* result = nullptr;
    int runStart = 0;
    int i = 0;
    while (i < fLength) {
        if (fString[i] != '&') {
            ++i;
            continue;
        }
        const UniChar* p = fString + i;
        int available = fLength - i;
        UniChar decoded = 0;
        int consumed = 0;
        if (MatchesASCII(p, available, "&amp;")) {
            decoded = '&';
            consumed = 5;
        } else if (MatchesASCII(p, available, "&lt;")) {
            decoded = '<';
            consumed = 4;
        } else if (MatchesASCII(p, available, "&gt;")) {
            decoded = '>';
            consumed = 4;
        } else if (MatchesASCII(p, available, "&quot;")) {
            decoded = '"';
            consumed = 6;
        } else if (MatchesASCII(p, available, "&apos;")) {
            decoded = '\'';
            consumed = 6;
        } else if (MatchesASCII(p, available, "&#x")) {
            int j = 3;
            unsigned value = 0;
            while (j < available && HexValue(p[j]) >= 0) {
                value = ((value << 4) | static_cast<unsigned>(HexValue(p[j]))) & 0xFFFF;
                ++j;
            }
            if (j > 3 && j < available && p[j] == ';' && value != 0) {
                decoded = static_cast<UniChar>(value);
                consumed = j + 1;
            }
        }
        if (consumed == 0) {
            ++i;
            continue;
        }
        if (result == nullptr)
            result = new VString;
        result->AppendUniChars(fString + runStart, i - runStart);
        result->AppendUniChar(decoded);
        i += consumed;
        runStart = i;
    }
    if (result == nullptr)
        return;
    result->AppendUniChars(fString + runStart, fLength - runStart);
    FromString(*result);
    delete result;
}

void VString::GetXMLString(VString& outValue, unsigned int) const
{
    outValue.FromString(*this);
    outValue.TranscodeToXML(false);
}

bool VString::FromXMLString(const VString& inValue)
{
    FromString(inValue);
    TranscodeFromXML();
    return true;
}

VError VString::GetJSONString(VString& outJSONString, unsigned int inOptions) const
{
    const bool quoted = (inOptions & 0x1) != 0;
    if ((inOptions & 0x10) != 0) {
        if (quoted) {
            outJSONString.Clear();
            outJSONString.AppendUniChar('"');
            outJSONString.AppendString(*this);
            outJSONString.AppendUniChar('"');
        } else {
            outJSONString.FromString(*this);
        }
        return VE_OK;
    }
    const long long worst = 6LL * fLength + 4;
    if (worst > 0x7FFFFFFF) {
        _ThrowError(kErrorStringSize);
        return kErrorStringSize;
    }
    if (&outJSONString == this) {
        // The destination is the source: escape a copy.
        VString copy(*this);
        return copy.GetJSONString(outJSONString, inOptions);
    }
    if (!outJSONString._ReallocBuffer(static_cast<int>(worst), false)) {
        _ThrowError(kErrorStringSize);
        return kErrorStringSize;
    }
    const bool escapeAmpApos = (inOptions & 0x400) != 0;
    UniChar* out = outJSONString.fString;
    int n = 0;
    if (quoted)
        out[n++] = '"';
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        UniChar escape = 0;
        switch (c) {
            case '"':
                escape = '"';
                break;
            case '\\':
                escape = '\\';
                break;
            case 8:
                escape = 'b';
                break;
            case 9:
                escape = 't';
                break;
            case 10:
                escape = 'n';
                break;
            case 12:
                escape = 'f';
                break;
            case 13:
                escape = 'r';
                break;
            default:
                break;
        }
        if (escape != 0) {
            out[n++] = '\\';
            out[n++] = escape;
        } else if (c < 32 || c == 127 || (escapeAmpApos && (c == '&' || c == '\''))) {
            out[n++] = '\\';
            out[n++] = 'u';
            out[n++] = '0';
            out[n++] = '0';
            out[n++] = static_cast<UniChar>(kHexDigits[(c >> 4) & 0xF]);
            out[n++] = static_cast<UniChar>(kHexDigits[c & 0xF]);
        } else {
            out[n++] = c;
        }
    }
    if (quoted)
        out[n++] = '"';
    outJSONString.fLength = n;
    out[n] = 0;
    outJSONString._SetTextWritten();
    return VE_OK;
}

VError VString::FromJSONString(const VString& inJSONString, unsigned int inOptions)
{
    if ((inOptions & 0x10) != 0) {
        FromString(inJSONString);
        return VE_OK;
    }
    if (&inJSONString == this) {
        VString copy(inJSONString);
        return FromJSONString(copy, inOptions);
    }
    const int length = inJSONString.IsNull() ? 0 : inJSONString.fLength;
    if (!_EnsureWritable(length, false))
        return VE_OK;
    const UniChar* in = inJSONString.fString;
    UniChar* out = fString;
    int n = 0;
    int i = 0;
    while (i < length) {
        UniChar c = in[i];
        if (c != '\\') {
            out[n++] = c;
            ++i;
            continue;
        }
        if (i + 1 >= length) {
            ++i;  // a backslash that ends the body is dropped
            continue;
        }
        UniChar e = in[i + 1];
        switch (e) {
            case 'b':
                out[n++] = 8;
                i += 2;
                break;
            case 'f':
                out[n++] = 12;
                i += 2;
                break;
            case 'n':
                out[n++] = 10;
                i += 2;
                break;
            case 'r':
                out[n++] = 13;
                i += 2;
                break;
            case 't':
                out[n++] = 9;
                i += 2;
                break;
            case 'u':
                if (i + 5 < length) {
                    unsigned value = 0;
                    for (int k = 0; k < 4; ++k) {
                        int digit = HexValue(in[i + 2 + k]);
                        if (digit >= 0)
                            value = (value << 4) | static_cast<unsigned>(digit);
                        else if (k == 0)
                            value = 0;
                    }
                    out[n++] = static_cast<UniChar>(value);
                    i += 6;
                } else {
                    out[n++] = 'u';
                    i += 2;
                }
                break;
            default:
                out[n++] = e;
                i += 2;
                break;
        }
    }
    fLength = n;
    fString[n] = 0;
    _SetTextWritten();
    return VE_OK;
}

VError VString::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetString(*this);
    return VE_OK;
}

VError VString::FromJSONValue(const VJSONValue& inJSONValue)
{
    if (inJSONValue.GetType() == JSON_null) {
        SetNull(true);
        return VE_OK;
    }
    inJSONValue.GetString(*this, nullptr);
    return VE_OK;
}

void VString::GetCleanJSName(VString& outName) const
{
    outName.Clear();
    if (fLength == 0)
        return;
    if (fString[0] >= '0' && fString[0] <= '9')
        outName.AppendUniChar('_');
    for (int i = 0; i < fLength; ++i) {
        UniChar c = fString[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$')
            outName.AppendUniChar(c);
    }
}

// ===========================================================================
// Raw comparison and search

bool VString::EqualToStringRaw(const VString& inString) const
{
    return fLength == inString.fLength &&
           (fLength == 0 || std::memcmp(fString, inString.fString, static_cast<size_t>(fLength) * 2) == 0);
}

namespace {

// Compares up to the first 0 unit of either text (the terminator, or one
// inside the text).
CompareResult CompareToZero(const UniChar* inA, const UniChar* inB, bool inFold)
{
    for (;;) {
        UniChar a = FoldIf(*inA++, inFold);
        UniChar b = FoldIf(*inB++, inFold);
        if (a != b)
            return a < b ? CR_SMALLER : CR_BIGGER;
        if (a == 0)
            return CR_EQUAL;
    }
}

}  // namespace

CompareResult VString::CompareToStringRaw(const VString& inString) const
{
    // Skips the common start four units at a time while both texts agree
    // and hold no 0 unit there; the unit loop settles the rest exactly.
    const UniChar* a = fString;
    const UniChar* b = inString.fString;
    int common = fLength < inString.fLength ? fLength : inString.fLength;
    while (common >= 4) {
        uint64_t wordA;
        uint64_t wordB;
        std::memcpy(&wordA, a, sizeof(wordA));
        std::memcpy(&wordB, b, sizeof(wordB));
        if (wordA != wordB)
            break;
        if (((wordA - 0x0001000100010001ULL) & ~wordA & 0x8000800080008000ULL) != 0)
            return CR_EQUAL;  // both reach the same 0 unit
        a += 4;
        b += 4;
        common -= 4;
    }
    return CompareToZero(a, b, false);
}

CompareResult VString::CompareToStringRawCase(const VString& inString) const
{
    return CompareToZero(fString, inString.fString, true);
}

bool VString::EqualToUSASCIICString(const char* inCString) const
{
    if (inCString == nullptr)
        return fLength == 0;
    int i = 0;
    for (; inCString[i] != 0; ++i) {
        if (i >= fLength)
            return false;
        // Each byte sign-extended to 16 bits, as the C type char reads it.
        UniChar byte = static_cast<UniChar>(static_cast<short>(static_cast<signed char>(inCString[i])));
        if (fString[i] != byte)
            return false;
    }
    return i == fLength || fString[i] == 0;
}

bool VString::BeginsWithRawString(const VString& inString) const
{
    int n = inString.fLength;
    return n <= fLength && (n == 0 || std::memcmp(fString, inString.fString, static_cast<size_t>(n) * 2) == 0);
}

bool VString::EndsWithRawString(const VString& inString) const
{
    int n = inString.fLength;
    return n <= fLength &&
           (n == 0 || std::memcmp(fString + fLength - n, inString.fString, static_cast<size_t>(n) * 2) == 0);
}

int VString::FindRawString(const UniChar* inText, int inTextLength, const UniChar* inPattern, int inPatternLength)
{
    if (inPatternLength <= 0)
        return 1;
    if (inTextLength <= 0 || inPatternLength > inTextLength || inText == nullptr || inPattern == nullptr)
        return 0;
    // Knuth-Morris-Pratt: the failure table lives on the stack for short
    // patterns and in a C-library block for longer ones.
    int stackTable[256];
    int* table = stackTable;
    if (inPatternLength >= 256) {
        table = static_cast<int*>(std::malloc((static_cast<size_t>(inPatternLength) + 1) * sizeof(int)));
        if (table == nullptr) {
            _ThrowError(QeltError(100));
            return 0;
        }
    }
    table[0] = -1;
    int k = -1;
    for (int i = 0; i < inPatternLength; ++i) {
        while (k >= 0 && inPattern[k] != inPattern[i])
            k = table[k];
        ++k;
        table[i + 1] = k;
    }
    int result = 0;
    int m = 0;
    for (int i = 0; i < inTextLength; ++i) {
        while (m >= 0 && inPattern[m] != inText[i])
            m = table[m];
        ++m;
        if (m == inPatternLength) {
            result = i - inPatternLength + 2;
            break;
        }
    }
    if (table != stackTable)
        std::free(table);
    return result;
}

int VString::FindRawString(const VString& inPattern, int inStart) const
{
    if (inStart < 1)
        return 0;
    long long left = static_cast<long long>(fLength) - inStart + 1;
    if (left < inPattern.fLength || left < 0)
        return 0;
    int pos = FindRawString(fString + inStart - 1, static_cast<int>(left), inPattern.fString, inPattern.fLength);
    return pos == 0 ? 0 : pos + inStart - 1;
}

int VString::ExchangeRawString(const VString& inPattern, const VString& inReplacement, int inStart,
                               int inCountToReplace)
{
    if (inCountToReplace < 1 || inPattern.fLength == 0)
        return 0;
    if (inStart < 1)
        inStart = 1;
    int first = FindRawString(inPattern, inStart);
    if (first == 0)
        return 0;
    // Pattern or replacement inside this string's buffer: work on copies.
    if (_Overlaps(inPattern.fString, inPattern.fLength) || _Overlaps(inReplacement.fString, inReplacement.fLength)) {
        VString pattern;
        pattern.FromUniString(inPattern.fString, inPattern.fLength);
        VString replacement;
        replacement.FromUniString(inReplacement.fString, inReplacement.fLength);
        if (pattern.fLength != inPattern.fLength || replacement.fLength != inReplacement.fLength)
            return 0;
        return ExchangeRawString(pattern, replacement, inStart, inCountToReplace);
    }
    const int patLength = inPattern.fLength;
    const int repLength = inReplacement.IsNull() ? 0 : inReplacement.fLength;
    int count = 0;
    if (repLength == patLength) {
        if (!_EnsureWritable(fLength, true))
            return 0;
        int pos = first;
        while (pos != 0 && count < inCountToReplace) {
            CopyUnits(fString + pos - 1, inReplacement.fString, repLength);
            ++count;
            pos = FindRawString(inPattern, pos + patLength);
        }
    } else if (repLength < patLength) {
        if (!_EnsureWritable(fLength, true))
            return 0;
        int write = first - 1;  // output index
        int read = first - 1;   // index of the current occurrence
        int pos = first;
        while (pos != 0 && count < inCountToReplace) {
            int occurrence = pos - 1;
            CopyUnits(fString + write, fString + read, occurrence - read);
            write += occurrence - read;
            CopyUnits(fString + write, inReplacement.fString, repLength);
            write += repLength;
            read = occurrence + patLength;
            ++count;
            if (count < inCountToReplace)
                pos = FindRawString(fString + read, fLength - read, inPattern.fString, patLength);
            else
                pos = 0;
            if (pos != 0)
                pos += read;
        }
        CopyUnits(fString + write, fString + read, fLength - read);
        write += fLength - read;
        fLength = write;
    } else {
        // Longer replacement: collect the occurrences first.
        std::vector<int> offsets;
        offsets.reserve(1024);
        int pos = first;
        while (pos != 0 && static_cast<int>(offsets.size()) < inCountToReplace) {
            offsets.push_back(pos - 1);
            pos = FindRawString(inPattern, pos + patLength);
        }
        count = static_cast<int>(offsets.size());
        long long finalLength = fLength + static_cast<long long>(repLength - patLength) * count;
        if (finalLength > INT_MAX - 8) {
            _ThrowError(kErrorStringSize);
            return 0;
        }
        int oldLength = fLength;
        if (!_EnsureWritable(static_cast<int>(finalLength), true))
            return 0;
        // Move the text after the first occurrence to the end, then lay out
        // replacements and the stretches between occurrences left to right.
        int tail = oldLength - offsets[0];
        int tailStart = static_cast<int>(finalLength) - tail;
        CopyUnits(fString + tailStart, fString + offsets[0], tail);
        int write = offsets[0];
        for (int i = 0; i < count; ++i) {
            CopyUnits(fString + write, inReplacement.fString, repLength);
            write += repLength;
            int from = offsets[i] + patLength;
            int to = i + 1 < count ? offsets[i + 1] : oldLength;
            CopyUnits(fString + write, fString + tailStart + (from - offsets[0]), to - from);
            write += to - from;
        }
        fLength = static_cast<int>(finalLength);
    }
    fString[fLength] = 0;
    _SetTextWritten();
    return count;
}

int VString::FindUniChar(UniChar inChar, int inStart, bool inBackwards) const
{
    if (fLength == 0 || inStart > fLength)
        return 0;
    if (inStart < 1)
        inStart = 1;
    if (inBackwards) {
        for (int i = inStart; i >= 1; --i) {
            if (fString[i - 1] == inChar)
                return i;
        }
        return 0;
    }
    for (int i = inStart; i <= fLength; ++i) {
        if (fString[i - 1] == inChar)
            return i;
    }
    return 0;
}

// ===========================================================================
// Collation

bool VString::EqualToString(const VString& inString, bool inDiacritical) const
{
    return Intl::Equal(CurrentIntl(), fString, fLength, inString.fString, inString.fLength, inDiacritical);
}

CompareResult VString::CompareToString(const VString& inString, bool inDiacritical) const
{
    return Intl::Compare(CurrentIntl(), fString, fLength, inString.fString, inString.fLength, inDiacritical);
}

bool VString::EqualToString_Like(const VString& inPattern, bool inDiacritical) const
{
    return Intl::EqualLike(CurrentIntl(), fString, fLength, inPattern.fString, inPattern.fLength, inDiacritical);
}

CompareResult VString::CompareToString_Like(const VString& inPattern, bool inDiacritical) const
{
    return Intl::CompareLike(CurrentIntl(), fString, fLength, inPattern.fString, inPattern.fLength, inDiacritical);
}

bool VString::BeginsWith(const VString& inPrefix, bool inDiacritical) const
{
    // A window of 16 units beyond the prefix lets a collation that ignores
    // some characters still find it.
    long long window = static_cast<long long>(inPrefix.fLength) + 16;
    int length = window < fLength ? static_cast<int>(window) : fLength;
    return CollatorBeginsWith(Intl::GetCollator(CurrentIntl()), fString, length, inPrefix.fString, inPrefix.fLength,
                              inDiacritical);
}

bool VString::EndsWith(const VString& inSuffix, bool inDiacritical) const
{
    return CollatorEndsWith(Intl::GetCollator(CurrentIntl()), fString, fLength, inSuffix.fString, inSuffix.fLength,
                            inDiacritical);
}

int VString::Find(const VString& inPattern, int inStart, bool inDiacritical) const
{
    if (inStart < 1)
        inStart = 1;
    if (inStart > fLength + 1)
        return 0;
    int pos = CollatorFind(Intl::GetCollator(CurrentIntl()), fString + inStart - 1, fLength - inStart + 1,
                           inPattern.fString, inPattern.fLength, inDiacritical, nullptr);
    return pos == 0 ? 0 : inStart + pos - 1;
}

void VString::Exchange(const VString& inPattern, const VString& inReplacement, int inStart, int inCountToReplace,
                       bool inDiacritical, VCollator* inCollator)
{
    if (inCountToReplace < 1)
        return;
    if (inStart < 1)
        inStart = 1;
    if (inStart > fLength + 1)
        return;
    auto* collator = inCollator != nullptr ? inCollator : Intl::GetCollator(CurrentIntl());
    int matched = 0;
    int pos = CollatorFind(collator, fString + inStart - 1, fLength - inStart + 1, inPattern.fString,
                           inPattern.fLength, inDiacritical, &matched);
    if (pos == 0 || matched < 1)
        return;
    VString result;
    if (!result._ReallocBuffer(fLength, false))
        return;
    int done = 0;
    int from = 0;                     // index after the previous match
    int at = inStart - 1 + pos - 1;  // index of the current match
    result.AppendUniChars(fString, inStart - 1);
    from = inStart - 1;
    while (pos != 0 && matched >= 1 && done < inCountToReplace) {
        result.AppendUniChars(fString + from, at - from);
        result.AppendString(inReplacement);
        from = at + matched;
        ++done;
        if (done >= inCountToReplace || from >= fLength)
            break;
        pos = CollatorFind(collator, fString + from, fLength - from, inPattern.fString, inPattern.fLength,
                           inDiacritical, &matched);
        at = from + pos - 1;
    }
    result.AppendUniChars(fString + from, fLength - from);
    Swap(result);
}

// Value comparisons.

namespace {

CompareResult CompareUnits(VIntlMgr* inIntl, bool inLike, const UniChar* inA, int inALength, const UniChar* inB,
                           int inBLength, bool inDiacritical)
{
    return inLike ? Intl::CompareLike(inIntl, inA, inALength, inB, inBLength, inDiacritical)
                  : Intl::Compare(inIntl, inA, inALength, inB, inBLength, inDiacritical);
}

bool EqualUnits(VIntlMgr* inIntl, bool inLike, const UniChar* inA, int inALength, const UniChar* inB, int inBLength,
                bool inDiacritical)
{
    return inLike ? Intl::EqualLike(inIntl, inA, inALength, inB, inBLength, inDiacritical)
                  : Intl::Equal(inIntl, inA, inALength, inB, inBLength, inDiacritical);
}

}  // namespace

CompareResult VString::CompareToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::Compare(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::Compare(CurrentIntl(), fString, MinLength(fLength, other->fLength), other->fString, other->fLength,
                         inDiacritical);
}

bool VString::EqualToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::Equal(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
}

CompareResult VString::CompareToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::CompareLike(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::CompareLike(CurrentIntl(), fString, MinLength(fLength, other->fLength), other->fString,
                             other->fLength, inDiacritical);
}

bool VString::EqualToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return Intl::EqualLike(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
}

CompareResult VString::CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Compare(CurrentIntl(), fString, fLength, raw.fUnits, raw.fLength, inDiacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Compare(CurrentIntl(), raw.fUnits, raw.fLength, fString, fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Compare(CurrentIntl(), fString, MinLength(fLength, raw.fLength), raw.fUnits, raw.fLength,
                         inDiacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Compare(CurrentIntl(), fString, fLength, raw.fUnits, MinLength(raw.fLength, fLength),
                         inDiacritical);
}

bool VString::EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::Equal(CurrentIntl(), fString, fLength, raw.fUnits, raw.fLength, inDiacritical);
}

CompareResult VString::CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::CompareLike(CurrentIntl(), fString, fLength, raw.fUnits, raw.fLength, inDiacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::CompareLike(CurrentIntl(), raw.fUnits, raw.fLength, fString, fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::CompareLike(CurrentIntl(), fString, MinLength(fLength, raw.fLength), raw.fUnits, raw.fLength,
                             inDiacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::CompareLike(CurrentIntl(), fString, fLength, raw.fUnits, MinLength(raw.fLength, fLength),
                             inDiacritical);
}

bool VString::EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::EqualLike(CurrentIntl(), fString, fLength, raw.fUnits, raw.fLength, inDiacritical);
}

bool VString::Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return Intl::EqualLike(CurrentIntl(), raw.fUnits, raw.fLength, fString, fLength, inDiacritical);
}

CompareResult VString::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    const VString* other = static_cast<const VString*>(inValue);
    int length = inOptions.IsBeginsWith() ? MinLength(fLength, other->fLength) : fLength;
    return CompareUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), fString, length, other->fString, other->fLength,
                        inOptions.IsDiacritical());
}

bool VString::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    const VString* other = static_cast<const VString*>(inValue);
    return EqualUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), fString, fLength, other->fString, other->fLength,
                      inOptions.IsDiacritical());
}

CompareResult VString::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                       const VCompareOptions& inOptions) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    int a = fLength, b = raw.fLength;
    if (inOptions.IsBeginsWith())
        a = b = MinLength(a, b);
    return CompareUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), fString, a, raw.fUnits, b,
                        inOptions.IsDiacritical());
}

CompareResult VString::Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                            const VCompareOptions& inOptions) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    int a = raw.fLength, b = fLength;
    if (inOptions.IsBeginsWith())
        a = b = MinLength(a, b);
    return CompareUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), raw.fUnits, a, fString, b,
                        inOptions.IsDiacritical());
}

bool VString::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions& inOptions) const
{
    RawText raw = ReadRawForm(inPtrToValueData);
    return EqualUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), fString, fLength, raw.fUnits, raw.fLength,
                      inOptions.IsDiacritical());
}

CompareResult VString::CompareTo(const VValueSingle& inValue, bool inDiacritical) const
{
    const VString* other = dynamic_cast<const VString*>(&inValue);
    if (other != nullptr)
        return Intl::Compare(CurrentIntl(), fString, fLength, other->fString, other->fLength, inDiacritical);
    VStr<255> text;
    inValue.GetString(text);
    return Intl::Compare(CurrentIntl(), fString, fLength, text.fString, text.fLength, inDiacritical);
}

// ===========================================================================
// Hashing and similarity

unsigned int VString::GetHashValue() const
{
    const unsigned int n = static_cast<unsigned int>(fLength);
    unsigned int h = n;
    if (fLength <= 16) {
        for (int i = 0; i < fLength; ++i)
            h = h * 257 + fString[i];
    } else {
        for (int i = 0; i < 8; ++i)
            h = h * 257 + fString[i];
        for (int i = fLength - 8; i < fLength; ++i)
            h = h * 257 + fString[i];
    }
    return h + (h << (n % 32));
}

double VString::SimilarToString(const VString& inString) const
{
    if (fLength == 0 || inString.fLength == 0)
        return 0;
    const int m = inString.fLength;
    unsigned int* previous = static_cast<unsigned int*>(std::calloc(static_cast<size_t>(m) + 1, sizeof(unsigned int)));
    unsigned int* current = static_cast<unsigned int*>(std::calloc(static_cast<size_t>(m) + 1, sizeof(unsigned int)));
    if (previous == nullptr || current == nullptr) {
        std::free(previous);
        std::free(current);
        _ThrowError(QeltError(100));
        return 0;
    }
    for (int i = 1; i <= fLength; ++i) {
        for (int j = 1; j <= m; ++j) {
            if (fString[i - 1] == inString.fString[j - 1])
                current[j] = previous[j - 1] + 1;
            else
                current[j] = previous[j] > current[j - 1] ? previous[j] : current[j - 1];
        }
        std::swap(previous, current);
    }
    float common = static_cast<float>(previous[m]);
    std::free(previous);
    std::free(current);
    return common / static_cast<double>(fLength);
}

// ===========================================================================
// Splitting, joining, trimming and date markers

bool VString::GetSubStrings(UniChar inSeparator, std::vector<VString>& outParts, bool inKeepEmpty, bool inTrim) const
{
    outParts.clear();
    if (IsNull() || fLength == 0) {
        if (inKeepEmpty)
            outParts.push_back(*this);
        return false;
    }
    bool found = false;
    int start = 0;
    auto addPart = [&](int inFrom, int inTo) {
        VString part;
        part.FromUniString(fString + inFrom, inTo - inFrom);
        if (inTrim)
            part.TrimUniChar(' ');
        if (inKeepEmpty || (!part.IsNull() && part.fLength > 0))
            outParts.push_back(std::move(part));
    };
    for (int i = 0; i < fLength; ++i) {
        if (fString[i] == inSeparator) {
            found = true;
            addPart(start, i);
            start = i + 1;
        }
    }
    addPart(start, fLength);
    return found;
}

bool VString::GetSubStrings(UniChar inSeparator, VArrayString& outParts, bool inKeepEmpty, bool inTrim) const
{
    std::vector<VString> parts;
    bool found = GetSubStrings(inSeparator, parts, inKeepEmpty, inTrim);
    outParts.Destroy();
    for (const VString& part : parts)
        outParts.AppendString(part);
    return found;
}

bool VString::GetSubStrings(const VString& inSeparator, std::vector<VString>& outParts, bool inKeepEmpty,
                            bool inTrim, bool inDiacritical) const
{
    outParts.clear();
    if (IsNull() || fLength == 0)
        return false;
    if (inSeparator.IsNull() || inSeparator.fLength == 0) {
        outParts.push_back(*this);
        return false;
    }
    auto* collator = Intl::GetCollator(CurrentIntl());
    bool found = false;
    int from = 0;
    auto addPart = [&](int inFrom, int inTo) {
        if (inTo <= inFrom) {
            if (inKeepEmpty)
                outParts.push_back(sEmpty);
            return;
        }
        VString part;
        part.FromUniString(fString + inFrom, inTo - inFrom);
        if (inTrim)
            part.TrimUniChar(' ');
        if (inKeepEmpty || (!part.IsNull() && part.fLength > 0))
            outParts.push_back(std::move(part));
    };
    while (from <= fLength) {
        int matched = 0;
        int pos = from < fLength ? CollatorFind(collator, fString + from, fLength - from, inSeparator.fString,
                                                inSeparator.fLength, inDiacritical, &matched)
                                 : 0;
        if (pos == 0 || matched < 1)
            break;
        found = true;
        int at = from + pos - 1;
        addPart(from, at);
        from = at + matched;
    }
    addPart(from, fLength);
    return found;
}

bool VString::Join(const std::vector<VString>& inParts, const VString& inSeparator)
{
    if (inParts.empty()) {
        Clear();
        return true;
    }
    const long long separatorLength = inSeparator.IsNull() ? 0 : inSeparator.fLength;
    long long total = separatorLength * static_cast<long long>(inParts.size() - 1);
    for (const VString& part : inParts)
        total += part.IsNull() ? 0 : part.fLength;
    if (total >= 0x7FFFFFFF) {
        _ThrowError(kErrorStringSize);
        return false;
    }
    // Built aside, so that a part or separator sharing this string's buffer
    // is read intact.
    VString result;
    if (!result._ReallocBuffer(static_cast<int>(total), false))
        return false;
    UniChar* out = result.fString;
    long long n = 0;
    for (size_t i = 0; i < inParts.size(); ++i) {
        if (i > 0 && separatorLength > 0) {
            CopyUnits(out + n, inSeparator.fString, separatorLength);
            n += separatorLength;
        }
        const VString& part = inParts[i];
        if (!part.IsNull() && part.fLength > 0) {
            CopyUnits(out + n, part.fString, part.fLength);
            n += part.fLength;
        }
    }
    result.fLength = static_cast<int>(n);
    out[n] = 0;
    result._SetTextWritten();
    if (total <= fMaxLength && _IsPrivate() && !_IsInline()) {
        // Reuse this string's own block.
        CopyUnits(fString, out, n);
        fLength = static_cast<int>(n);
        fString[fLength] = 0;
        _SetTextWritten();
        return true;
    }
    Swap(result);
    _SetTextWritten();
    return true;
}

bool VString::Join(const std::vector<VString>& inParts, UniChar inSeparator)
{
    VString separator(inSeparator);
    return Join(inParts, separator);
}

void VString::TrimUniChar(UniChar inChar)
{
    if (IsNull() || fLength == 0)
        return;
    int leading = 0;
    while (leading < fLength && fString[leading] == inChar)
        ++leading;
    if (leading == fLength) {
        Clear();
        return;
    }
    int trailing = 0;
    while (trailing < fLength - leading && fString[fLength - 1 - trailing] == inChar)
        ++trailing;
    if (leading == 0 && trailing == 0)
        return;
    int n = fLength - leading - trailing;
    if (!_EnsureWritable(fLength, true))
        return;
    if (leading > 0)
        CopyUnits(fString, fString + leading, n);
    fLength = n;
    fString[fLength] = 0;
    _SetTextWritten();
}

bool VString::IsStringValid() const
{
    if (!_IsInline()) {
        VCppMemMgr* manager = VObject::sCppMemMgr;
        if ((fFlags & kFlagNotOwned) == 0 && manager != nullptr && !manager->CheckPtr(fString))
            return false;
    }
    if (fLength <= 0)
        return true;
    if (fLength > fMaxLength)
        return false;
    return fString[fLength] == 0;
}

namespace {

inline bool IsDigitUnit(UniChar c) { return c >= '0' && c <= '9'; }

// "dddd-dd-dd" at the units.
bool IsDatePattern(const UniChar* inUnits)
{
    for (int i = 0; i < 10; ++i) {
        bool ok = (i == 4 || i == 7) ? inUnits[i] == '-' : IsDigitUnit(inUnits[i]);
        if (!ok)
            return false;
    }
    return true;
}

}  // namespace

bool VString::IsISODate() const { return fLength == 10 && IsDatePattern(fString); }

bool VString::IsNonAmbigousDate() const
{
    return fLength == 14 && fString[0] == '!' && fString[1] == '!' && IsDatePattern(fString + 2) &&
           fString[12] == '!' && fString[13] == '!';
}

namespace {

// The value at a dotted path of the object; objects without path lookup
// (an older JSON layer) read the path as one property name.
template <class O>
VJSONValue PropertyAtPath(const O* inObject, const VString& inPath)
{
    if constexpr (requires { inObject->GetPropertyWithPath(inPath, nullptr); })
        return inObject->GetPropertyWithPath(inPath, nullptr);
    else
        return inObject->GetProperty(inPath, nullptr);
}

}  // namespace

void VString::FormatWithTemplate(const VJSONObject* inObject, VString& outResult)
{
    static const UniChar sOpen[] = {'{', '{', 0};
    static const UniChar sClose[] = {'}', '}', 0};
    outResult.Clear();
    VString open(sOpen);
    VString close(sClose);
    std::vector<VString> pieces;
    GetSubStrings(open, pieces, true, false, true);
    if (pieces.empty() && fLength > 0)
        pieces.push_back(*this);
    for (const VString& piece : pieces) {
        std::vector<VString> parts;
        piece.GetSubStrings(close, parts, true, false, true);
        if (parts.size() < 2) {
            outResult.AppendString(piece);
            continue;
        }
        if (inObject != nullptr) {
            VJSONValue value = PropertyAtPath(inObject, parts[0]);
            if (!value.IsNull() && !value.IsUndefined()) {
                VString text;
                value.GetString(text, nullptr);
                outResult.AppendString(text);
            }
        }
        for (size_t i = 1; i < parts.size(); ++i)
            outResult.AppendString(parts[i]);
    }
}

// ===========================================================================
// VString_info comparisons of raw forms

CompareResult VString_info::CompareTwoPtrToData(const void* inPtr1, const void* inPtr2, bool inDiacritical) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    return Intl::Compare(CurrentIntl(), a.fUnits, a.fLength, b.fUnits, b.fLength, inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                                        bool inDiacritical) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    return Intl::Compare(CurrentIntl(), a.fUnits, MinLength(a.fLength, b.fLength), b.fUnits, b.fLength, inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToData_Like(const void* inPtr1, const void* inPtr2, bool inDiacritical) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    return Intl::CompareLike(CurrentIntl(), a.fUnits, a.fLength, b.fUnits, b.fLength, inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining_Like(const void* inPtr1, const void* inPtr2,
                                                             bool inDiacritical) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    return Intl::CompareLike(CurrentIntl(), a.fUnits, MinLength(a.fLength, b.fLength), b.fUnits, b.fLength,
                             inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                           const VCompareOptions& inOptions) const
{
    RawText a = ReadRawForm(inPtr1), b = ReadRawForm(inPtr2);
    int la = a.fLength, lb = b.fLength;
    if (inOptions.IsBeginsWith())
        la = lb = MinLength(la, lb);
    return CompareUnits(inOptions.GetIntlMgr(), inOptions.IsLike(), a.fUnits, la, b.fUnits, lb,
                        inOptions.IsDiacritical());
}

// ===========================================================================
// VString_info

VValue* VString_info::Generate() const { return new VString(); }

VValue* VString_info::Generate(VBlob*) const { return new VString(); }

VValue* VString_info::LoadFromPtr(const void* inPtr, bool inRefresh) const
{
    VString* value = new VString();
    value->LoadFromPtr(inPtr, inRefresh);
    return value;
}

void* VString_info::ByteSwapPtr(void* inPtr, bool inFromNative) const
{
    int length;
    std::memcpy(&length, inPtr, sizeof(length));
    int swapped = SwapInt(length);
    std::memcpy(inPtr, &swapped, sizeof(swapped));
    long count = inFromNative ? length : swapped;
    if (count < 0)
        count = 0;
    unsigned char* units = static_cast<unsigned char*>(inPtr) + sizeof(int);
    for (long i = 0; i < count; ++i) {
        unsigned char b = units[2 * i];
        units[2 * i] = units[2 * i + 1];
        units[2 * i + 1] = b;
    }
    return units + 2 * count;
}

unsigned long VString_info::GetSizeOfValueDataPtr(const void* inPtr) const
{
    int length;
    std::memcpy(&length, inPtr, sizeof(length));
    if (length < 0)
        length = 0;
    return 4 + 2 * static_cast<unsigned long>(length);
}

unsigned long VString_info::GetAvgSpace() const { return 64; }

// ---------------------------------------------------------------------------
// Base64: the coder does the work.

bool VString::EncodeBase64(const void* inBytes, unsigned long inCount, bool inURL)
{
    return Base64Coder::EncodeBase64(*this, inBytes, inCount, inURL);
}

bool VString::EncodeBase64(CharSet inCharSet, bool inURL)
{
    return Base64Coder::EncodeBase64(*this, inCharSet, inURL);
}

bool VString::DecodeBase64(VMemoryBuffer<1024ul, 2ul, 1048576ul>& outBuffer, bool inURL) const
{
    return Base64Coder::DecodeBase64(*this, outBuffer, inURL);
}

bool VString::DecodeBase64(CharSet inCharSet, bool inURL)
{
    return Base64Coder::DecodeBase64(*this, inCharSet, inURL);
}

}  // namespace qelt
