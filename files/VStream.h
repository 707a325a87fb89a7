// The abstract byte stream. It keeps the position, the open state, the
// byte-swap flag, the text char set with its converters, the line-end mode
// and one sticky error, and hands the transfer of bytes to the virtual
// operations of the concrete streams (memory, blob and file streams).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VValue;
class VString;
class VArrayString;
class VProgressIndicator;
class VToUnicodeConverter;
class VFromUnicodeConverter;

// True when the bytes are well-formed UTF-8 and do not end inside a
// character. A count below 1 answers true.
bool DetectUTF8(const void* bytes, int count);

class VStream : public VObject {
public:
    // What a stream tells of its bytes when it holds them in memory.
    struct UnderlyingData {
        bool fAvailable = false;
        const void* fData = nullptr;
        uint64_t fSize = 0;
    };

    VStream();
    ~VStream() override;
    VStream(const VStream&) = delete;
    VStream& operator=(const VStream&) = delete;

    virtual UnderlyingData GetUnderlyingData() const;

    // Attaches a progress indicator (retained; null detaches): each open
    // begins a session, each transfer is reported, and a report answering
    // stop fails the stream with 'qelt' 206.
    void SetProgressIndicator(VProgressIndicator* indicator);
    VProgressIndicator* GetProgressIndicator() const { return fProgress; }

    // Open state. A stream is never open in both directions.
    VError OpenReading();
    // Opens for reading and checks the leading four-character tag, which
    // also settles the byte order: data that starts with the tag in the other
    // order inverts the swap flag. 'qelt' 207 (not stored, stream left open
    // at position 0) when the tag is not there.
    VError OpenReading(unsigned int tag);
    VError OpenWriting();
    VError CloseReading();
    VError CloseWriting(bool flag = true);
    VError SetReadOnly(bool readOnly);
    VError SetWriteOnly(bool writeOnly);
    bool IsReading() const { return fIsReading; }
    bool IsWriting() const { return fIsWriting; }

    // Byte order of multi-byte numbers (the machine is little-endian).
    // The write window copies numbers as they are: it closes on a change.
    void SetNeedSwap(bool swap)
    {
        _CloseWriteWindow();
        fNeedSwap = swap;
    }
    bool NeedSwap() const { return fNeedSwap; }
    void SetBigEndian() { SetNeedSwap(true); }
    void SetLittleEndian() { SetNeedSwap(false); }

    // The sticky error: 0, or the first failure the stream recorded.
    VError GetLastError() const { return fError; }
    void ResetLastError() { _StoreError(VE_OK); }

    // Position and size.
    long long GetPos() const { return fWriteNext == nullptr ? fPos : fPos + (fWriteNext - fWriteStart); }
    VError SetPos(long long pos);
    VError SetPosByOffset(long long offset);
    VError SetSize(long long size);
    long long GetSize();
    VError Flush();

    // Binary transfer; bytes are never swapped.
    VError GetData(void* buffer, unsigned long size, unsigned long* read = nullptr);
    VError PutData(const void* buffer, unsigned long size)
    {
        return _PutInWindow(buffer, size) ? VE_OK : _PutData(buffer, size);
    }
    VError UngetData(const void* buffer, unsigned long size);

    // Writes one scalar, byte-swapped first when the swap flag is set.
    template <typename T>
    VError Put(const T& value)
    {
        T copy = value;
        if (fNeedSwap && sizeof(T) > 1)
            _SwapBytes(&copy, sizeof(T));
        return PutData(&copy, sizeof(T));
    }

    // Arrays of numbers; `count` is updated to the number of whole numbers
    // read. Readers swap in place, writers through a temporary copy.
    VError GetWords(short* buffer, int* count);
    VError GetLongs(int* buffer, int* count);
    VError GetLong8s(long long* buffer, int* count);
    VError GetReals(double* buffer, int* count);
    VError PutWords(const short* buffer, int count) { return _PutNumbers(buffer, count, sizeof(short)); }
    VError PutLongs(const int* buffer, int count) { return _PutNumbers(buffer, count, sizeof(int)); }
    VError PutLong8s(const long long* buffer, int count) { return _PutNumbers(buffer, count, sizeof(long long)); }
    VError PutReals(const double* buffer, int count) { return _PutNumbers(buffer, count, sizeof(double)); }

    // A value: its optional 16-bit kind, then its own stream body.
    VError PutValue(const VValue& value, bool withKind = true);
    // A new value read back (kind, then body), owned by the caller; null on
    // error or for a kind without a registered class.
    VValue* GetValue();

    // Each byte as two upper-case hexadecimal digit characters.
    VError PutHexBytes(const void* bytes, unsigned long count);

    // Copies this whole stream into `dest`, which must be open for writing.
    VError PutContentInto(VStream* dest);

    // Text.
    CharSet GetCharSet() const { return fCharSet; }
    VError SetCharSet(CharSet charSet);
    ECarriageReturnMode GetCarriageReturnMode() const { return fCRMode; }
    void SetCarriageReturnMode(ECarriageReturnMode mode) { fCRMode = mode; }
    VError WriteBOM();
    VError GuessCharSetFromLeadingBytes(CharSet defaultCharSet, bool analyseUTF8 = false,
                                        bool* foundBOM = nullptr);
    VError GetText(VString& text);
    VError GetText(VString& text, int maxChars, bool allowOvershoot = false);
    VError GetTextLine(VString& line, bool keepLineEnd, const UniChar* lineEndUnit = nullptr);
    // Reads one line and splits it at every tab, empty pieces included.
    VError GetTTRLine(VArrayString& fields);
    // Writes the text in the stream's char set and line-end mode, without mark.
    VError PutText(const VString& text);
    // Formats as VString::Printf does (C directives, %S for a VString*) and
    // writes the text with PutText.
    VError PutPrintf(const char* format, ...);
    VError PutVPrintf(const char* format, va_list args);

protected:
    virtual VError DoOpenReading();
    virtual VError DoOpenWriting();
    virtual VError DoCloseReading();
    virtual VError DoCloseWriting(bool flag);
    virtual VError DoPutData(const void* bytes, unsigned long count) = 0;
    // Reads up to *count bytes at the position and sets *count to the number
    // read; 'qelt' 200 when fewer bytes were available.
    virtual VError DoGetData(void* buffer, unsigned long* count) = 0;
    virtual VError DoUngetData(const void* bytes, unsigned long count);
    virtual long long DoGetSize() = 0;
    virtual VError DoSetSize(long long size) = 0;
    virtual VError DoSetPos(long long pos);
    virtual VError DoFlush();

    // An in-memory stream names the buffer that DoPutData writes into, so
    // that PutData can write what fits without calling DoPutData. Only a
    // stream whose DoPutData does exactly what the buffer's PutDataAmortized
    // does for a non-negative position may name one.
    //
    // The write window. After a write that went the long way, PutData opens
    // a window on the named buffer: from the position to the end of the
    // block. While it is open, PutData and the number writers copy what fits
    // straight into the block and move the window's cursor, and nothing
    // else: the position is where the window opened plus what it wrote
    // (GetPos), and it is folded back when the window closes. So
    // the window is open only while the stream is writing, without a stored
    // error, without a progress indicator and without byte swapping, and it
    // is closed by every change to those (every stored error goes through
    // _StoreError, which closes it) and before anything else moves the
    // position or the block. The buffer's size in
    // use is brought up to the end of what the window wrote when it closes;
    // until then the stream reads it through _InPlaceSize.
    void _SetInPlaceBuffer(VMemoryBufferDefault* buffer)
    {
        _CloseWriteWindow();
        fInPlaceBuffer = buffer;
    }
    void _CloseWriteWindow()
    {
        if (fWriteNext != nullptr)
            _FoldWriteWindow();
    }
    // The named buffer's size in use, counting what the open window wrote.
    uint64_t _InPlaceSize() const;

    // Stores `err` as the stream's error (VE_OK clears it). Closes the write
    // window whatever the error: the window reopens after the next write.
    void _StoreError(VError err)
    {
        fError = err;
        _CloseWriteWindow();
    }

    // Raises `err` on the task's error stack and stores it.
    VError _ThrowAndStore(VError err);
    static void _SwapBytes(void* value, unsigned long size);

private:
    // Progress reporting to the attached indicator, if any.
    void _BeginProgressSession(long long max, const char* message);
    void _EndProgressSession();
    bool _ReportProgress(unsigned long count);
    // Reports a write that succeeded; 'qelt' 206 raised and stored when the
    // indicator answers stop.
    VError _ReportWrite(unsigned long count);

    // Writes through the open write window; false, with nothing done, when
    // the window is closed or the bytes do not fit in it. A closed window is
    // two null pointers, which no size fits (a size of 0 wraps to the
    // largest). One comparison and a copy: this runs for every write.
    bool _PutInWindow(const void* buffer, unsigned long size)
    {
        char* next = fWriteNext;
        if (size - 1 >= static_cast<unsigned long>(fWriteEnd - next))
            return false;
        std::memcpy(next, buffer, size);
        fWriteNext = next + size;
        return true;
    }
    VError _PutData(const void* buffer, unsigned long size);
    void _OpenWriteWindow();
    void _FoldWriteWindow();
    VError _GetNumbers(void* buffer, int* count, unsigned long elementSize);
    // Numbers in the machine's order are written as they are; only a swap
    // needs the out-of-line copy. The window is never open with a swap.
    //
    // A single number takes the long way as a copy: the caller's variable
    // is then read only here, so a loop that writes its own counter keeps
    // the counter in a register instead of storing and reloading it around
    // every write. The size is known where the call is inlined, so only one
    // of the two calls remains.
    VError _PutNumbers(const void* buffer, int count, unsigned long elementSize)
    {
        const unsigned long size = count > 0 ? static_cast<unsigned long>(count) * elementSize : 0;
        if (_PutInWindow(buffer, size))
            return VE_OK;
        if (size != 0 && size <= sizeof(long long)) {
            long long copy;
            std::memcpy(&copy, buffer, size);
            return _PutNumbersOutOfWindow(&copy, count, elementSize);
        }
        return _PutNumbersOutOfWindow(buffer, count, elementSize);
    }
    VError _PutNumbersOutOfWindow(const void* buffer, int count, unsigned long elementSize);
    VError _PutSwappedNumbers(const void* buffer, int count, unsigned long elementSize);
    VError _RetainDecoder();
    VError _RetainEncoder();
    static void* _AllocTemp(unsigned long size);
    static void _FreeTemp(void* block);
    VError _GetTextLineBytes(VString& line, bool keepLineEnd, const UniChar* lineEndUnit);
    VError _GetTextLineUTF16(VString& line, bool keepLineEnd, const UniChar* lineEndUnit);
    void _ReleaseConverters();

    VProgressIndicator* fProgress = nullptr;
    VMemoryBufferDefault* fInPlaceBuffer = nullptr;
    // The write window: where it opened (at fPos), the byte at the current
    // position and the end of the block; all null while it is closed.
    char* fWriteStart = nullptr;
    char* fWriteNext = nullptr;
    char* fWriteEnd = nullptr;
    long long fPos = 0;
    bool fIsReading = false;
    bool fIsWriting = false;
    bool fWritingRefused = false;
    bool fReadingRefused = false;
    bool fNeedSwap = false;
    VError fError = VE_OK;
    CharSet fCharSet = VTC_SYSTEM;
    ECarriageReturnMode fCRMode = eCRM_LF;
    VToUnicodeConverter* fDecoder = nullptr;
    VFromUnicodeConverter* fEncoder = nullptr;
};

}  // namespace qelt
