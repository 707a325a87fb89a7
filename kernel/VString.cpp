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

#include "json/VJSONObject.h"
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
#include "values/VArrayString.h"
#include "kernel/VString_internal.h"

namespace qelt {

using namespace stringimpl;


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
        fString = inString._ShareBlock();
        fLength = inString.fLength;
        fMaxLength = inString.fMaxLength;
    } else if (inString.fLength > 0 && _ReallocBuffer(inString.fLength, false)) {
        CopyUnits(fString, inString.fString, inString.fLength);
        fLength = inString.fLength;
        fString[fLength] = 0;
    }
}

VString::VString(const VString& inString, LocalShareTag)
    : VValueSingle(inString), fString(fInlineBuffer), fLength(0), fMaxLength(0), fInlineCapacity(0)
{
    fFlags = static_cast<unsigned char>((inString.fFlags & kFlagNull) | kFlagDirty);
    fInlineBuffer[0] = 0;
    if (inString._IsShareable()) {
        fString = inString._ShareBlockLocal();
        fLength = inString.fLength;
        fMaxLength = inString.fMaxLength;
    } else if (!inString.IsNull() && inString.fLength > 0 && _ReallocBuffer(inString.fLength, false)) {
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
        _SetBlockUnshared(ioString._IsBlockUnshared());
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
    _SetBlockUnshared(false);
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
        _SetBlockUnshared(ioString._IsBlockUnshared());
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
    _SetBlockUnshared(false);
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
            _SetBlockUnshared(false);
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
        _SetBlockUnshared(false);
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
    _SetBlockUnshared(true);
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
    _SetBlockUnshared(false);
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
            block = _ShareBlock();
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
    return _ShareBlock();
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
        UniChar* block = inString._ShareBlock();
        _ReleaseBuffer();
        _SetBlockUnshared(false);
        fFlags &= static_cast<unsigned char>(~kBufferBits);
        fString = block;
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

VString& VString::_AppendUnitSlow(UniChar inChar)
{
    _AppendBytes(&inChar, 1);
    return *this;
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
    if (!_EnsureAppendable(length))
        return;
    CopyUnits(fString + fLength, inUnits, inCount);
    fLength = length;
    fString[fLength] = 0;
    _SetTextWritten();
}

bool VString::_EnsureAppendable(int inNbChars)
{
    // A string that keeps growing by appends is grown ahead: from 32 units
    // on, the request is raised by the current length (at most by the
    // growth cap of the sizing rule), and the block is then sized by the
    // rule for that request. Its capacity is never smaller than the rule
    // alone would give, so a run of appends never reallocates more often
    // nor copies more units than with the rule; it reallocates about as
    // often as a doubling buffer instead of every fifth of the length.
    constexpr int kGrowAheadFrom = 32;
    constexpr long long kGrowAheadCap = 0xA00000;
    constexpr long long kLargestRequest = 0x7FFFFFFC;
    if (inNbChars > fMaxLength && fLength >= kGrowAheadFrom && !_MustCopyBeforeWrite()) {
        long long wanted = static_cast<long long>(inNbChars) + std::min<long long>(fLength, kGrowAheadCap);
        if (wanted <= kLargestRequest)
            return _ReallocBuffer(static_cast<int>(wanted), true);
    }
    return _EnsureWritable(inNbChars, true);
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
        const bool unshared = _IsBlockUnshared();
        _SetBlockUnshared(ioOther._IsBlockUnshared());
        ioOther._SetBlockUnshared(unshared);
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
        const bool unshared = heap._IsBlockUnshared();
        // The heap string sets its block aside and copies the other's text
        // (or its null state); the other then takes the block.
        heap._ResetToInline();
        heap.FromString(inlined);
        inlined._SetBlockUnshared(unshared);
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
    if (VIntlMgr* intl = GetCurrentTaskIntlMgr())
        intl->ToUpperLowerCase(*this, inStripDiacritics, true);
}

void VString::ToLowerCase([[maybe_unused]] bool inStripDiacritics)
{
    if (VIntlMgr* intl = GetCurrentTaskIntlMgr())
        intl->ToUpperLowerCase(*this, inStripDiacritics, false);
}

void VString::Decompose()
{
    if (VIntlMgr* intl = GetCurrentTaskIntlMgr())
        intl->NormalizeString(*this, eNormalizeD);
}

void VString::Compose()
{
    if (VIntlMgr* intl = GetCurrentTaskIntlMgr())
        intl->NormalizeString(*this, eNormalizeC);
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
            VJSONValue value = inObject->GetPropertyWithPath(parts[0], nullptr);
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
