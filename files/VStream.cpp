#include "files/VStream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "kernel/StStringConverter.h"
#include "kernel/VMemory.h"
#include "kernel/VString.h"
#include "kernel/VTextConverter.h"
#include "kernel/VTextConverters.h"
#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"
#include "runtime/VErrorBase.h"
#include "runtime/VProgressIndicator.h"
#include "values/VArrayString.h"
#include "runtime/VErrorContext.h"

namespace qelt {

namespace {

constexpr VError kErrRelativeMove = QeltError(3);
constexpr VError kErrMemory = QeltError(100);
constexpr VError kErrEndOfData = QeltError(200);
constexpr VError kErrNotOpen = QeltError(201);
constexpr VError kErrAlreadyOpen = QeltError(202);
constexpr VError kErrNotReading = QeltError(203);
constexpr VError kErrNotWriting = QeltError(204);
constexpr VError kErrStopped = QeltError(206);
constexpr VError kErrBadTag = QeltError(207);
constexpr VError kErrCannotUnget = QeltError(211);

VError Raise(VError err)
{
    _ThrowError(err);
    return err;
}

}  // namespace

VStream::VStream() = default;

VStream::~VStream()
{
    _ReleaseConverters();
    ReleaseRefCountable(fProgress);
}

VStream::UnderlyingData VStream::GetUnderlyingData() const
{
    return UnderlyingData{};
}

VError VStream::DoOpenReading() { return VE_OK; }
VError VStream::DoOpenWriting() { return VE_OK; }
VError VStream::DoCloseReading() { return VE_OK; }
VError VStream::DoCloseWriting(bool) { return VE_OK; }
VError VStream::DoUngetData(const void*, unsigned long) { return VE_OK; }
VError VStream::DoSetPos(long long) { return VE_OK; }
VError VStream::DoFlush() { return VE_OK; }

VError VStream::_ThrowAndStore(VError err)
{
    _ThrowError(err);
    _StoreError(err);
    return err;
}

void VStream::_SwapBytes(void* value, unsigned long size)
{
    unsigned char* p = static_cast<unsigned char*>(value);
    std::reverse(p, p + size);
}

void VStream::SetProgressIndicator(VProgressIndicator* indicator)
{
    // Writes through the window are not reported.
    _CloseWriteWindow();
    RetainRefCountable(indicator);
    ReleaseRefCountable(fProgress);
    fProgress = indicator;
}

void VStream::_BeginProgressSession(long long max, const char* message)
{
    if (fProgress != nullptr)
        fProgress->BeginSession(max, VString(message));
}

void VStream::_EndProgressSession()
{
    if (fProgress != nullptr)
        fProgress->EndSession();
}

// The session's value is the position, the bytes moved so far, so that the
// indicator's fraction against the stream's size is meaningful.
bool VStream::_ReportProgress(unsigned long)
{
    return fProgress == nullptr || fProgress->Progress(GetPos());
}

VError VStream::_ReportWrite(unsigned long)
{
    // _ReportProgress written out: this runs after every write.
    if (fProgress != nullptr && !fProgress->Progress(GetPos()))
        _ThrowAndStore(kErrStopped);
    return fError;
}

// --- open and close ---------------------------------------------------------

VError VStream::OpenReading()
{
    if (fIsReading || fIsWriting)
        return Raise(kErrAlreadyOpen);
    if (fReadingRefused)
        return Raise(kErrNotReading);
    VError convErr = _RetainDecoder();
    if (convErr != VE_OK)
        return convErr;
    fPos = 0;
    _StoreError(DoOpenReading());
    if (fError != VE_OK)
        return fError;
    fIsReading = true;
    _BeginProgressSession(DoGetSize(), "Reading From Stream");
    return fError;
}

VError VStream::OpenWriting()
{
    if (fIsReading || fIsWriting)
        return Raise(kErrAlreadyOpen);
    if (fWritingRefused)
        return Raise(kErrNotWriting);
    VError convErr = _RetainEncoder();
    if (convErr != VE_OK)
        return convErr;
    fPos = 0;
    _StoreError(DoOpenWriting());
    if (fError != VE_OK)
        return fError;
    fIsWriting = true;
    _BeginProgressSession(-1, "Writing to Stream");
    return fError;
}

VError VStream::OpenReading(unsigned int tag)
{
    VError err = OpenReading();
    if (err != VE_OK)
        return err;
    unsigned int value = 0;
    unsigned long got = 0;
    if (GetData(&value, sizeof(value), &got) != VE_OK || got != sizeof(value))
        return kErrBadTag;  // the read's own error stays stored
    if (fNeedSwap)
        _SwapBytes(&value, sizeof(value));
    if (value == tag)
        return fError;
    _SwapBytes(&value, sizeof(value));
    if (value == tag) {
        SetNeedSwap(!fNeedSwap);
        return fError;
    }
    if (fError == VE_OK) {
        _StoreError(DoSetPos(0));
        if (fError == VE_OK)
            fPos = 0;
    }
    return Raise(kErrBadTag);
}

VError VStream::CloseReading()
{
    if (!fIsReading)
        return Raise(kErrNotReading);
    DoCloseReading();
    _EndProgressSession();
    fIsReading = false;
    return fError;
}

VError VStream::CloseWriting(bool flag)
{
    if (!fIsWriting)
        return Raise(kErrNotWriting);
    if (fError == VE_OK)
        _StoreError(DoFlush());
    // The concrete close may still fail (a file cut to its final size): that
    // failure is the close's result, never lost.
    VError closeError = DoCloseWriting(flag);
    if (fError == VE_OK)
        _StoreError(closeError);
    _EndProgressSession();
    _CloseWriteWindow();
    fIsWriting = false;
    return fError;
}

VError VStream::SetReadOnly(bool readOnly)
{
    fWritingRefused = readOnly;
    return VE_OK;
}

VError VStream::SetWriteOnly(bool writeOnly)
{
    fReadingRefused = writeOnly;
    return VE_OK;
}

VError VStream::Flush()
{
    if (!fIsWriting)
        return Raise(kErrNotWriting);
    _StoreError(DoFlush());
    return fError;
}

// --- position and size ------------------------------------------------------

VError VStream::SetPos(long long pos)
{
    if (fError != VE_OK)
        return fError;
    if (!fIsReading && !fIsWriting)
        return _ThrowAndStore(kErrNotOpen);
    _CloseWriteWindow();
    _StoreError(DoSetPos(pos));
    if (fError == VE_OK)
        fPos = pos;
    return fError;
}

VError VStream::SetPosByOffset(long long offset)
{
    if (fError != VE_OK)
        return fError;
    if (!fIsReading && !fIsWriting)
        return _ThrowAndStore(kErrNotOpen);
    // Before the start, or so far beyond it that the position cannot be held.
    const long long pos = GetPos();
    if ((offset < 0 && offset < -pos) || (offset > 0 && pos > LLONG_MAX - offset))
        return _ThrowAndStore(kErrRelativeMove);
    return SetPos(pos + offset);
}

VError VStream::SetSize(long long size)
{
    if (fError != VE_OK)
        return fError;
    if (!fIsWriting)
        return _ThrowAndStore(kErrNotWriting);
    _CloseWriteWindow();
    _StoreError(DoSetSize(size));
    if (fError == VE_OK && fPos > size)
        fPos = size;
    return fError;
}

long long VStream::GetSize()
{
    return DoGetSize();
}

// --- bytes ------------------------------------------------------------------

VError VStream::GetData(void* buffer, unsigned long size, unsigned long* read)
{
    if (fError != VE_OK)
        return fError;
    if (!fIsReading)
        return _ThrowAndStore(kErrNotReading);
    unsigned long count = size;
    _StoreError(DoGetData(buffer, &count));
    if (count > size)
        count = size;
    fPos += static_cast<long long>(count);
    if (read != nullptr)
        *read = count;
    if (size != 0 && !_ReportProgress(size) && fError == VE_OK)
        _ThrowAndStore(kErrStopped);
    return fError;
}

VError VStream::_PutData(const void* buffer, unsigned long size)
{
    if (fError != VE_OK)
        return fError;
    if (!fIsWriting)
        return _ThrowAndStore(kErrNotWriting);
    // The concrete write moves or grows the block: the window closes first.
    _CloseWriteWindow();
    _StoreError(DoPutData(buffer, size));
    if (fError == VE_OK) {
        fPos += static_cast<long long>(size);
        if (size != 0)
            _ReportWrite(size);
        _OpenWriteWindow();
    }
    return fError;
}

void VStream::_OpenWriteWindow()
{
    if (fInPlaceBuffer == nullptr || fError != VE_OK || !fIsWriting || fProgress != nullptr || fNeedSwap ||
        fPos < 0)
        return;
    char* data = static_cast<char*>(fInPlaceBuffer->GetDataPtr());
    uint64_t capacity = fInPlaceBuffer->GetAllocatedSize();
    if (data == nullptr || static_cast<uint64_t>(fPos) > capacity)
        return;
    fWriteStart = data + fPos;
    fWriteNext = fWriteStart;
    fWriteEnd = data + capacity;
}

void VStream::_FoldWriteWindow()
{
    fPos += fWriteNext - fWriteStart;
    uint64_t written = static_cast<uint64_t>(fWriteNext - static_cast<char*>(fInPlaceBuffer->GetDataPtr()));
    if (written > fInPlaceBuffer->GetDataSize())
        fInPlaceBuffer->SetDataSize(written);
    fWriteStart = nullptr;
    fWriteNext = nullptr;
    fWriteEnd = nullptr;
}

uint64_t VStream::_InPlaceSize() const
{
    uint64_t size = fInPlaceBuffer->GetDataSize();
    if (fWriteNext == nullptr)
        return size;
    uint64_t written = static_cast<uint64_t>(fWriteNext - static_cast<const char*>(fInPlaceBuffer->GetDataPtr()));
    return written > size ? written : size;
}

VError VStream::UngetData(const void* buffer, unsigned long size)
{
    if (fError != VE_OK) {
        if (fError != kErrEndOfData || size == 0)
            return fError;
    } else if (size == 0) {
        return VE_OK;
    }
    if (!fIsReading)
        return _ThrowAndStore(kErrNotReading);
    if (fPos < 0 || static_cast<unsigned long long>(fPos) < size)
        return _ThrowAndStore(kErrCannotUnget);
    _StoreError(DoUngetData(buffer, size));
    if (fError == VE_OK)
        fPos -= static_cast<long long>(size);
    return fError;
}

// --- arrays of numbers ------------------------------------------------------

VError VStream::_GetNumbers(void* buffer, int* count, unsigned long elementSize)
{
    if (fError != VE_OK || !fIsReading) {
        *count = 0;
        if (fError == VE_OK)
            _ThrowAndStore(kErrNotReading);
        return fError;
    }
    if (*count <= 0) {
        *count = 0;
        return fError;
    }
    unsigned long asked = static_cast<unsigned long>(*count) * elementSize;
    unsigned long got = asked;
    _StoreError(DoGetData(buffer, &got));
    if (got > asked)
        got = asked;
    fPos += static_cast<long long>(got);
    if (!_ReportProgress(asked) && fError == VE_OK)
        _ThrowAndStore(kErrStopped);
    unsigned long whole = got / elementSize;
    *count = static_cast<int>(whole);
    if (fNeedSwap && elementSize > 1) {
        unsigned char* p = static_cast<unsigned char*>(buffer);
        for (unsigned long i = 0; i < whole; ++i)
            _SwapBytes(p + i * elementSize, elementSize);
    }
    return fError;
}

VError VStream::_PutNumbersOutOfWindow(const void* buffer, int count, unsigned long elementSize)
{
    if (!fNeedSwap || count <= 0 || elementSize < 2)
        return _PutData(buffer, count > 0 ? static_cast<unsigned long>(count) * elementSize : 0);
    return _PutSwappedNumbers(buffer, count, elementSize);
}

VError VStream::_PutSwappedNumbers(const void* buffer, int count, unsigned long elementSize)
{
    const unsigned long bytes = static_cast<unsigned long>(count) * elementSize;
    if (fError != VE_OK)
        return fError;
    if (!fIsWriting)
        return _ThrowAndStore(kErrNotWriting);
    // The caller's array stays unchanged: swap a copy.
    unsigned char* copy = static_cast<unsigned char*>(_AllocTemp(bytes));
    if (copy == nullptr)
        return _ThrowAndStore(kErrMemory);
    std::memcpy(copy, buffer, bytes);
    for (unsigned long i = 0; i < bytes; i += elementSize)
        _SwapBytes(copy + i, elementSize);
    PutData(copy, bytes);
    _FreeTemp(copy);
    return fError;
}

VError VStream::GetWords(short* buffer, int* count) { return _GetNumbers(buffer, count, sizeof(short)); }
VError VStream::GetLongs(int* buffer, int* count) { return _GetNumbers(buffer, count, sizeof(int)); }
VError VStream::GetLong8s(long long* buffer, int* count) { return _GetNumbers(buffer, count, sizeof(long long)); }
VError VStream::GetReals(double* buffer, int* count) { return _GetNumbers(buffer, count, sizeof(double)); }

// --- values -----------------------------------------------------------------

VError VStream::PutValue(const VValue& value, bool withKind)
{
    if (withKind && fError == VE_OK) {
        const VValueInfo* info = value.GetValueInfo();
        unsigned short kind = info != nullptr ? info->GetKey() : static_cast<unsigned short>(VK_UNDEFINED);
        Put(kind);
    }
    return value.WriteToStream(this, 0);
}

VValue* VStream::GetValue()
{
    if (fError != VE_OK)
        return nullptr;
    if (!fIsReading) {
        _ThrowAndStore(kErrNotReading);
        return nullptr;
    }
    unsigned short kind = 0;
    if (GetData(&kind, sizeof(kind)) != VE_OK)
        return nullptr;
    if (fNeedSwap)
        _SwapBytes(&kind, sizeof(kind));
    VValue* value = VValue::NewValueFromValueKind(kind);
    if (value == nullptr)
        return nullptr;
    value->ReadFromStream(this, 0);
    return value;
}

VError VStream::PutHexBytes(const void* bytes, unsigned long count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (unsigned long i = 0; i < count && fError == VE_OK; ++i) {
        char high = kDigits[p[i] >> 4];
        char low = kDigits[p[i] & 0x0F];
        if (PutData(&high, 1) == VE_OK)
            PutData(&low, 1);
    }
    return fError;
}

VError VStream::PutContentInto(VStream* dest)
{
    if (dest == nullptr)
        return Raise(kErrNotWriting);
    VError err = OpenReading();
    if (err != VE_OK)
        return err;
    if (fError == VE_OK) {
        _StoreError(DoSetPos(0));
        if (fError == VE_OK)
            fPos = 0;
    }
    VError first = fError;
    long long remaining = DoGetSize();
    char buffer[4096];
    while (first == VE_OK && remaining > 0) {
        unsigned long piece = static_cast<unsigned long>(std::min<long long>(remaining, sizeof(buffer)));
        unsigned long got = 0;
        first = GetData(buffer, piece, &got);
        if (first != VE_OK)
            break;
        first = dest->PutData(buffer, got);
        remaining -= static_cast<long long>(piece);
    }
    DoCloseReading();
    _EndProgressSession();
    fIsReading = false;
    return first;
}

void* VStream::_AllocTemp(unsigned long size)
{
    return VMemory::NewPtr(size, static_cast<int>(FourCC("stm ")));
}

void VStream::_FreeTemp(void* block)
{
    VMemory::DisposePtr(block);
}

// --- text -------------------------------------------------------------------

namespace {

constexpr VError kErrNoConverter = QeltError(208);
constexpr VError kErrConversion = QeltError(210);
constexpr unsigned char kCR = 0x0D;
constexpr unsigned char kLF = 0x0A;

bool IsUTF16CharSet(CharSet charSet)
{
    return charSet == VTC_UTF_16_BIGENDIAN || charSet == VTC_UTF_16_SMALLENDIAN;
}

// The validating UTF-8 automaton: 256 byte classes, then 9 states of 16
// transitions; state 0 accepts, state 1 rejects.
const unsigned char kUTF8Automaton[256 + 9 * 16] = {
    // 0x00-0x7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x80-0x8F, 0x90-0x9F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    // 0xA0-0xBF
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    // 0xC0-0xC1, 0xC2-0xDF
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    // 0xE0, 0xE1-0xEC, 0xED, 0xEE-0xEF, 0xF0, 0xF1-0xF3, 0xF4, 0xF5-0xFF
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // state 0: accepting
    0, 1, 2, 3, 5, 8, 7, 1, 1, 1, 4, 6, 1, 1, 1, 1,
    // state 1: rejecting
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    // state 2: one continuation byte expected
    1, 0, 1, 1, 1, 1, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1,
    // state 3: two continuation bytes expected
    1, 2, 1, 1, 1, 1, 1, 2, 1, 2, 1, 1, 1, 1, 1, 1,
    // state 4: after E0 (A0-BF only)
    1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1,
    // state 5: after ED (80-9F only)
    1, 2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1,
    // state 6: after F0 (90-BF only)
    1, 1, 1, 1, 1, 1, 1, 3, 1, 3, 1, 1, 1, 1, 1, 1,
    // state 7: three continuation bytes expected
    1, 3, 1, 1, 1, 1, 1, 3, 1, 3, 1, 1, 1, 1, 1, 1,
    // state 8: after F4 (80-8F only)
    1, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
};

}  // namespace

bool DetectUTF8(const void* bytes, int count)
{
    if (count < 1)
        return true;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    unsigned int state = 0;
    for (int i = 0; i < count; ++i) {
        unsigned int charClass = kUTF8Automaton[p[i]];
        state = kUTF8Automaton[256 + state * 16 + charClass];
        if (state == 1)
            return false;
    }
    return state == 0;
}

VError VStream::_RetainDecoder()
{
    if (fDecoder != nullptr)
        return VE_OK;
    VToUnicodeConverter* decoder = VTextConverters::Get()->RetainToUnicodeConverter(fCharSet);
    if (decoder == nullptr || !decoder->IsValid()) {
        if (decoder != nullptr)
            decoder->Release();
        return Raise(kErrNoConverter);
    }
    fDecoder = decoder;
    return VE_OK;
}

VError VStream::_RetainEncoder()
{
    if (fEncoder != nullptr)
        return VE_OK;
    VFromUnicodeConverter* encoder = VTextConverters::Get()->RetainFromUnicodeConverter(fCharSet);
    if (encoder == nullptr || !encoder->IsValid()) {
        if (encoder != nullptr)
            encoder->Release();
        return Raise(kErrNoConverter);
    }
    fEncoder = encoder;
    return VE_OK;
}

void VStream::_ReleaseConverters()
{
    if (fDecoder != nullptr) {
        fDecoder->Release();
        fDecoder = nullptr;
    }
    if (fEncoder != nullptr) {
        fEncoder->Release();
        fEncoder = nullptr;
    }
}

VError VStream::SetCharSet(CharSet charSet)
{
    if (fError != VE_OK)
        return fError;
    _ReleaseConverters();
    fCharSet = charSet;
    if (fIsReading) {
        VError err = _RetainDecoder();
        if (err != VE_OK)
            _StoreError(err);
    } else if (fIsWriting) {
        VError err = _RetainEncoder();
        if (err != VE_OK)
            _StoreError(err);
    }
    return fError;
}

VError VStream::WriteBOM()
{
    unsigned long size = 0;
    const unsigned char* mark = VTextConverters::GetBOMForCharSet(fCharSet, &size);
    for (unsigned long i = 0; mark != nullptr && i < size; ++i)
        Put(mark[i]);
    return fError;
}

VError VStream::GuessCharSetFromLeadingBytes(CharSet defaultCharSet, bool analyseUTF8, bool* foundBOM)
{
    if (foundBOM != nullptr)
        *foundBOM = false;
    if (fError != VE_OK && fError != kErrEndOfData)
        return SetCharSet(defaultCharSet);
    _StoreError(VE_OK);

    unsigned char bytes[4] = {0, 0, 0, 0};
    unsigned long got = 0;
    VError err;
    {
        // A short read leaves no error in the caller's context.
        StErrorContextInstaller silent(false, true);
        err = GetData(bytes, sizeof(bytes), &got);
    }
    if (err != VE_OK && err != kErrEndOfData)
        return err;
    _StoreError(VE_OK);

    CharSet chosen = defaultCharSet;
    bool mark = true;
    if (got >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        chosen = VTC_UTF_8;
        if (got == 4)
            UngetData(bytes + 3, 1);
    } else if (got == 4 && bytes[0] == 0x00 && bytes[1] == 0x00 && bytes[2] == 0xFE && bytes[3] == 0xFF) {
        chosen = VTC_UTF_32_BIGENDIAN;
    } else if (got == 4 && bytes[0] == 0xFF && bytes[1] == 0xFE && bytes[2] == 0x00 && bytes[3] == 0x00) {
        chosen = VTC_UTF_32_SMALLENDIAN;
    } else if (got >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        chosen = VTC_UTF_16_BIGENDIAN;
        UngetData(bytes + 2, got - 2);
    } else if (got >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        chosen = VTC_UTF_16_SMALLENDIAN;
        UngetData(bytes + 2, got - 2);
    } else {
        mark = false;
    }
    if (mark) {
        if (foundBOM != nullptr)
            *foundBOM = true;
        return SetCharSet(chosen);
    }

    if (got == 4) {
        if (bytes[0] == 0 && bytes[1] != 0 && bytes[2] == 0 && bytes[3] != 0) {
            chosen = VTC_UTF_16_BIGENDIAN;
        } else if (bytes[0] != 0 && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0) {
            chosen = VTC_UTF_16_SMALLENDIAN;
        } else if (defaultCharSet == VTC_UTF_16_BIGENDIAN || defaultCharSet == VTC_UTF_16_SMALLENDIAN) {
            bool ascii = true;
            for (unsigned char b : bytes)
                ascii = ascii && b >= 0x01 && b <= 0x7F;
            if (ascii)
                chosen = VTC_UTF_8;
        }
    }
    UngetData(bytes, got);

    if (analyseUTF8 && fError == VE_OK) {
        long long left = DoGetSize() - GetPos();
        unsigned long want = left > 0 ? static_cast<unsigned long>(std::min<long long>(left, 2048)) : 0;
        unsigned char window[2048];
        unsigned long read = 0;
        if (want > 0) {
            StErrorContextInstaller silent(false, true);
            GetData(window, want, &read);
            if (fError == kErrEndOfData)
                _StoreError(VE_OK);
            UngetData(window, read);
        }
        if (read == 0 || DetectUTF8(window, static_cast<int>(read)))
            chosen = VTC_UTF_8;
    }
    return SetCharSet(chosen);
}

VError VStream::GetText(VString& text)
{
    if (fError != VE_OK)
        return fError;
    if (!fIsReading)
        return _ThrowAndStore(kErrNotReading);
    if (fDecoder == nullptr)
        return _ThrowAndStore(kErrNoConverter);
    unsigned char buffer[4096];
    unsigned long pending = 0;
    for (;;) {
        long long left = DoGetSize() - GetPos();
        unsigned long room = sizeof(buffer) - pending;
        unsigned long want = left > 0 ? static_cast<unsigned long>(std::min<long long>(left, room)) : 0;
        if (want > 0) {
            unsigned long got = 0;
            GetData(buffer + pending, want, &got);
            pending += got;
        }
        unsigned long consumed = 0;
        if (!fDecoder->ConvertString(buffer, pending, &consumed, text) || consumed == 0)
            break;
        if (consumed > pending)
            consumed = pending;
        std::memmove(buffer, buffer + consumed, pending - consumed);
        pending -= consumed;
        if (fError != VE_OK || GetPos() >= DoGetSize())
            break;
    }
    if (pending > 0 && fError == VE_OK) {
        VString message("unterminated unicode conversion.");
        _ThrowError(kErrConversion, &message);
        _StoreError(kErrConversion);
    }
    return fError;
}

VError VStream::GetText(VString& text, int maxChars, bool allowOvershoot)
{
    if (maxChars < 1 || fError != VE_OK)
        return fError;
    if (!fIsReading)
        return _ThrowAndStore(kErrNotReading);
    if (fDecoder == nullptr)
        return _ThrowAndStore(kErrNoConverter);
    const int startLength = text.GetLength();
    // Room for the characters asked, but never for more than the stream can
    // still deliver: a large maximum on a short stream allocates little.
    long long left = std::max<long long>(DoGetSize() - GetPos(), 0);
    long long room = std::min<long long>(maxChars, IsUTF16CharSet(fCharSet) ? left / 2 : left + 16);
    if (static_cast<long long>(startLength) + room > INT_MAX ||
        !text._ReallocBuffer(startLength + static_cast<int>(room), true))
        return _ThrowAndStore(kErrMemory);

    if (IsUTF16CharSet(fCharSet)) {
        UniChar* units = const_cast<UniChar*>(text.GetCPointer()) + startLength;
        unsigned long got = 0;
        // Asking for more than the room would only meet the end of data.
        unsigned long asked = static_cast<unsigned long>(maxChars) * 2;
        unsigned long fits = static_cast<unsigned long>(room) * 2;
        GetData(units, std::min(asked, fits), &got);
        if (asked > fits && fError == VE_OK)
            _ThrowAndStore(kErrEndOfData);
        if ((got & 1) != 0) {
            // Give back the half unit; an end of data met stays recorded.
            VError kept = fError;
            _StoreError(VE_OK);
            UngetData(reinterpret_cast<unsigned char*>(units) + got - 1, 1);
            if (fError == VE_OK)
                _StoreError(kept);
            --got;
        }
        unsigned long count = got / 2;
        if (fCharSet == VTC_UTF_16_BIGENDIAN) {
            for (unsigned long i = 0; i < count; ++i)
                units[i] = static_cast<UniChar>((units[i] >> 8) | (units[i] << 8));
        }
        text.Validate(startLength + static_cast<int>(count));
        return fError;
    }

    StErrorContextInstaller filter(kErrEndOfData, VE_OK);
    unsigned char window[32];
    unsigned long pending = 0;
    int appended = 0;
    for (;;) {
        long long wanted = static_cast<long long>(maxChars - appended) * 2 + 10;
        unsigned long ask = static_cast<unsigned long>(std::min<long long>(wanted, sizeof(window) - pending));
        unsigned long got = 0;
        if (ask > 0)
            GetData(window + pending, ask, &got);
        pending += got;
        const int before = text.GetLength();
        unsigned long consumed = 0;
        bool ok = fDecoder->ConvertString(window, pending, &consumed, text);
        if (consumed > pending)
            consumed = pending;
        int produced = text.GetLength() - before;
        if (ok && appended + produced < maxChars) {
            appended += produced;
            std::memmove(window, window + consumed, pending - consumed);
            pending -= consumed;
            if (fError != VE_OK || (got == 0 && consumed == 0))
                break;  // end of data (200 stays) or no progress possible
            continue;
        }
        if (ok && appended + produced == maxChars) {
            if (fError == kErrEndOfData)
                _StoreError(VE_OK);
            UngetData(window + consumed, pending - consumed);
            break;
        }
        // The decoding failed or went past the maximum.
        if (fError == kErrEndOfData)
            _StoreError(VE_OK);
        if (ok && allowOvershoot) {
            UngetData(window + consumed, pending - consumed);
            break;
        }
        text.Truncate(before, false);
        // Decode one character at a time until the maximum is reached.
        unsigned long used = 0;
        bool undecodable = false;
        while (appended < maxChars && used < pending) {
            bool progressed = false;
            for (unsigned long k = 1; used + k <= pending; ++k) {
                const int length = text.GetLength();
                unsigned long taken = 0;
                bool stepOk = fDecoder->ConvertString(window + used, k, &taken, text);
                int units = text.GetLength() - length;
                if (stepOk && units > 0) {
                    if (appended + units > maxChars) {
                        text.Truncate(length, false);
                        break;
                    }
                    appended += units;
                    used += taken > 0 ? taken : k;
                    progressed = true;
                    break;
                }
            }
            if (!progressed) {
                undecodable = appended < maxChars;
                break;
            }
        }
        if (undecodable) {
            _ThrowAndStore(kErrConversion);
        } else {
            UngetData(window + used, pending - used);
        }
        break;
    }
    return fError;
}

VError VStream::GetTextLine(VString& line, bool keepLineEnd, const UniChar* lineEndUnit)
{
    line.Clear();
    if (fError != VE_OK)
        return fError;
    if (!fIsReading)
        return _ThrowAndStore(kErrNotReading);
    // End of data only ends the line: it is not reported to the caller's context.
    StErrorContextInstaller filter(kErrEndOfData, VE_OK);
    if (IsUTF16CharSet(fCharSet))
        return _GetTextLineUTF16(line, keepLineEnd, lineEndUnit);
    return _GetTextLineBytes(line, keepLineEnd, lineEndUnit);
}

VError VStream::GetTTRLine(VArrayString& fields)
{
    fields.SetCount(0);
    VString line;
    VError err = GetTextLine(line, false, nullptr);
    if (err != VE_OK && err != kErrEndOfData)
        return err;
    const UniChar* units = line.GetCPointer();
    const int length = line.GetLength();
    int start = 0;
    for (int i = 0; i <= length; ++i) {
        if (i == length || units[i] == 0x09) {
            VString piece;
            piece.FromUniString(units + start, i - start);
            fields.AppendString(piece);
            start = i + 1;
        }
    }
    return err;
}

VError VStream::_GetTextLineBytes(VString& line, bool keepLineEnd, const UniChar* lineEndUnit)
{
    std::string bytes;
    bool readAny = false;
    bool appendCR = false;
    unsigned char chunk[256];
    for (;;) {
        unsigned long got = 0;
        GetData(chunk, sizeof(chunk), &got);
        if (got > 0)
            readAny = true;
        unsigned long i = 0;
        for (; i < got; ++i) {
            unsigned char b = chunk[i];
            if (lineEndUnit != nullptr ? b == static_cast<unsigned char>(*lineEndUnit & 0xFF)
                                       : (b == kLF || b == kCR))
                break;
        }
        if (i == got) {
            bytes.append(reinterpret_cast<const char*>(chunk), got);
            if (fError != VE_OK || got == 0) {
                if (fError == kErrEndOfData && keepLineEnd)
                    appendCR = true;
                break;
            }
            continue;
        }
        bytes.append(reinterpret_cast<const char*>(chunk), i);
        unsigned char b = chunk[i];
        if (lineEndUnit == nullptr && b == kLF) {
            UngetData(chunk + i + 1, got - i - 1);
            if (keepLineEnd)
                bytes.push_back(static_cast<char>(kCR));
        } else if (lineEndUnit == nullptr && b == kCR && i + 1 < got && chunk[i + 1] == kLF) {
            UngetData(chunk + i + 2, got - i - 2);
            if (keepLineEnd)
                bytes.push_back(static_cast<char>(kCR));
        } else if (lineEndUnit == nullptr && b == kCR && i + 1 == got && fError == VE_OK) {
            unsigned char next = 0;
            unsigned long one = 0;
            GetData(&next, 1, &one);
            if (one == 1 && next != kLF)
                UngetData(&next, 1);
            if (keepLineEnd)
                bytes.push_back(static_cast<char>(kCR));
        } else {
            UngetData(chunk + i + 1, got - i - 1);
            if (keepLineEnd)
                bytes.push_back(static_cast<char>(b));
        }
        break;
    }
    if (!bytes.empty())
        line.AppendBlock(bytes.data(), bytes.size(), fCharSet);
    if (appendCR)
        line.AppendUniChar(kCR);
    if (fError == kErrEndOfData && readAny)
        _StoreError(VE_OK);
    return fError;
}

VError VStream::_GetTextLineUTF16(VString& line, bool keepLineEnd, const UniChar* lineEndUnit)
{
    const bool swapped = fCharSet == VTC_UTF_16_BIGENDIAN;
    auto unitAt = [swapped](const unsigned char* p) -> UniChar {
        UniChar u;
        std::memcpy(&u, p, 2);
        return swapped ? static_cast<UniChar>((u >> 8) | (u << 8)) : u;
    };
    std::string bytes;  // the line's units in the stream's byte order
    bool readAny = false;
    bool appendCR = false;
    unsigned char chunk[512];
    for (;;) {
        unsigned long got = 0;
        GetData(chunk, sizeof(chunk), &got);
        if (got > 0)
            readAny = true;
        // A half unit at the very end of the data cannot be decoded: it is dropped.
        unsigned long units = got / 2;
        unsigned long i = 0;
        for (; i < units; ++i) {
            UniChar u = unitAt(chunk + 2 * i);
            if (u == kLF || (lineEndUnit != nullptr ? u == *lineEndUnit : u == kCR))
                break;
        }
        if (i == units) {
            bytes.append(reinterpret_cast<const char*>(chunk), units * 2);
            if (fError != VE_OK || got == 0) {
                if (fError == kErrEndOfData && keepLineEnd)
                    appendCR = true;
                break;
            }
            if ((got & 1) != 0)
                UngetData(chunk + got - 1, 1);
            continue;
        }
        bytes.append(reinterpret_cast<const char*>(chunk), i * 2);
        UniChar u = unitAt(chunk + 2 * i);
        unsigned long after = 2 * i + 2;
        if (u == kLF) {
            UngetData(chunk + after, got - after);
            if (keepLineEnd)
                appendCR = true;
        } else if (lineEndUnit == nullptr && u == kCR && i + 1 < units && unitAt(chunk + after) == kLF) {
            UngetData(chunk + after + 2, got - after - 2);
            if (keepLineEnd)
                appendCR = true;
        } else if (lineEndUnit == nullptr && u == kCR && i + 1 == units && fError == VE_OK) {
            // Look ahead one unit past the chunk for the LF of a pair.
            unsigned char rest[3];
            unsigned long restCount = got - after;  // 0 or 1 byte already read
            std::memcpy(rest, chunk + after, restCount);
            unsigned long more = 0;
            GetData(rest + restCount, 2 - restCount, &more);
            restCount += more;
            if (restCount == 2 && unitAt(rest) == kLF) {
                // consumed
            } else {
                UngetData(rest, restCount);
            }
            if (keepLineEnd)
                appendCR = true;
        } else {
            UngetData(chunk + after, got - after);
            if (keepLineEnd)
                bytes.append(reinterpret_cast<const char*>(chunk + 2 * i), 2);
        }
        break;
    }
    if (!bytes.empty())
        line.AppendBlock(bytes.data(), bytes.size(), fCharSet);
    if (appendCR)
        line.AppendUniChar(kCR);
    if (fError == kErrEndOfData && readAny)
        _StoreError(VE_OK);
    return fError;
}

VError VStream::PutText(const VString& text)
{
    if (fError != VE_OK)
        return fError;
    if (!fIsWriting)
        return _ThrowAndStore(kErrNotWriting);
    StStringConverter<char> converter(text, fCharSet, fCRMode);
    if (!converter.IsOK()) {
        // The converter has raised its own error.
        _StoreError(QeltError(300));
        return fError;
    }
    return PutData(converter.GetCPointer(), converter.GetSize());
}

VError VStream::PutPrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    VError err = PutVPrintf(format, args);
    va_end(args);
    return err;
}

VError VStream::PutVPrintf(const char* format, va_list args)
{
    if (fError != VE_OK)
        return fError;
    VStr<255> text;
    text.VPrintf(format, args);
    return PutText(text);
}

}  // namespace qelt
