#include "files/VFileStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "kernel/VMemory.h"
#include "runtime/VErrorBase.h"

namespace qelt {

namespace {

constexpr VError kErrEndOfData = QeltError(200);
constexpr VError kErrNotWriting = QeltError(204);
constexpr VError kErrNoFile = QeltError(205);
constexpr uint64_t kLargestBuffer = 2147483647;
constexpr uint64_t kLargeFile = 2147483648ull;
const int kBufferTag = static_cast<int>(FourCC("stmf"));

}  // namespace

VFileStream::VFileStream(const VFile* inFile, unsigned int inOpenOptions) : fFile(inFile), fOpenOptions(inOpenOptions)
{
    if (fFile != nullptr)
        fFile->Retain();
}

VFileStream::~VFileStream()
{
    ReleaseBuffer();
    delete fDesc;
    if (fFile != nullptr)
        fFile->Release();
}

// ---- the buffer ----------------------------------------------------------------

void VFileStream::_Allocate(uint64_t inSize)
{
    fBuffer = nullptr;
    fBufferSize = 0;
    uint64_t size = inSize;
    while (size > 0) {
        fBuffer = static_cast<char*>(VMemory::NewPtr(static_cast<size_t>(size), kBufferTag));
        if (fBuffer != nullptr) {
            fBufferSize = size;
            break;
        }
        if (size == 1)
            break;
        size /= 2;
    }
    fBufferStart = 0;
    fBufferFill = 0;
}

uint64_t VFileStream::_ReadingBufferSize(uint64_t inMax) const
{
    uint64_t size = static_cast<uint64_t>(fFileSize < 0 ? 0 : fFileSize);
    if (size >= kLargeFile)
        return std::min(inMax, kLargestBuffer);
    return (size != 0 && size < inMax) ? size : inMax;
}

void VFileStream::ReleaseBuffer()
{
    VMemory::DisposePtr(fBuffer);
    fBuffer = nullptr;
    fBufferSize = 0;
    fBufferStart = 0;
    fBufferFill = 0;
}

void VFileStream::AllocateBuffer(uint64_t inWanted)
{
    if (fBuffer == nullptr)
        _Allocate((inWanted != 0 && inWanted <= fMaxBufferSize) ? inWanted : fMaxBufferSize);
    fBufferStart = 0;
    fBufferFill = 0;
}

void VFileStream::SetBufferSize(uint64_t inSize)
{
    if (IsWriting())
        Flush();
    ReleaseBuffer();
    fMaxBufferSize = inSize;
    if (IsReading()) {
        uint64_t size = static_cast<uint64_t>(fFileSize < 0 ? 0 : fFileSize);
        _Allocate(size >= kLargestBuffer ? std::min(inSize, kLargestBuffer)
                                         : ((size != 0 && size < inSize) ? size : inSize));
    } else if (IsWriting()) {
        _Allocate(std::min(inSize, kLargestBuffer));
    }
}

VError VFileStream::_WriteOut()
{
    if (fBufferFill == 0)
        return VE_OK;
    VError err = fDesc->PutData(fBuffer, static_cast<size_t>(fBufferFill), fBufferStart);
    if (err == VE_OK) {
        fBufferStart += static_cast<long long>(fBufferFill);
        fBufferFill = 0;
    }
    return err;
}

// ---- open and close ----------------------------------------------------------------

VError VFileStream::DoOpenReading()
{
    if (fFile == nullptr) {
        _ThrowError(kErrNoFile);
        return kErrNoFile;
    }
    if (fDesc == nullptr) {
        VError err = fFile->Open(FA_READ, &fDesc, kFileOptionReadAhead);
        if (err != VE_OK)
            return err;
    }
    fFileSize = fDesc->GetSize();
    if (fBuffer == nullptr)
        _Allocate(_ReadingBufferSize(fMaxBufferSize));
    fBufferStart = 0;
    fBufferFill = 0;
    return VE_OK;
}

VError VFileStream::DoOpenWriting()
{
    if (fFile == nullptr) {
        _ThrowError(kErrNoFile);
        return kErrNoFile;
    }
    if (fDesc != nullptr) {
        _ThrowError(kErrNotWriting);
        return kErrNotWriting;
    }
    VError err = fFile->Open(FA_SHARED, &fDesc, fOpenOptions);
    if (err != VE_OK)
        return err;
    fFileSize = fDesc->GetSize();
    if (fBuffer == nullptr)
        _Allocate(std::min(fMaxBufferSize, kLargestBuffer));
    fBufferStart = 0;
    fBufferFill = 0;
    return VE_OK;
}

VError VFileStream::DoCloseReading()
{
    ReleaseBuffer();
    delete fDesc;
    fDesc = nullptr;
    return VE_OK;
}

VError VFileStream::DoCloseWriting(bool inSetSize)
{
    ReleaseBuffer();
    VError err = VE_OK;
    if (inSetSize && fDesc != nullptr)
        err = fDesc->SetSize(fFileSize);
    delete fDesc;
    fDesc = nullptr;
    return err;
}

// ---- transfers ----------------------------------------------------------------------

VError VFileStream::DoGetData(void* outBuffer, unsigned long* ioCount)
{
    const uint64_t asked = *ioCount;
    char* out = static_cast<char*>(outBuffer);
    const long long pos = GetPos();
    uint64_t copied = 0;
    if (fBufferFill > 0 && pos >= fBufferStart && pos < fBufferStart + static_cast<long long>(fBufferFill)) {
        uint64_t available = fBufferFill - static_cast<uint64_t>(pos - fBufferStart);
        copied = std::min(asked, available);
        std::memcpy(out, fBuffer + (pos - fBufferStart), static_cast<size_t>(copied));
        if (copied == asked)
            return VE_OK;
    }
    const uint64_t rest = asked - copied;
    const long long at = pos + static_cast<long long>(copied);
    VError err = VE_OK;
    if (fBufferSize > 0 && rest <= fBufferSize) {
        // Refill: the fill is what the descriptor really delivered, so a file
        // that shrank since it was opened never shows stale bytes.
        fBufferStart = at;
        fBufferFill = 0;
        uint64_t want = (fFileSize > at) ? std::min(static_cast<uint64_t>(fFileSize - at), fBufferSize) : 0;
        size_t got = 0;
        if (want > 0)
            err = fDesc->GetData(fBuffer, static_cast<size_t>(want), at, &got);
        fBufferFill = got;
        uint64_t n = std::min<uint64_t>(got, rest);
        std::memcpy(out + copied, fBuffer, static_cast<size_t>(n));
        copied += n;
    } else {
        size_t got = 0;
        err = fDesc->GetData(out + copied, static_cast<size_t>(rest), at, &got);
        copied += got;
    }
    *ioCount = static_cast<unsigned long>(copied);
    if (err != VE_OK && err != kErrEndOfData)
        return err;
    return copied < asked ? kErrEndOfData : VE_OK;
}

VError VFileStream::DoPutData(const void* inBytes, unsigned long inCount)
{
    const char* src = static_cast<const char*>(inBytes);
    uint64_t left = inCount;
    const long long start = GetPos();
    long long at = start;
    if (fBufferSize > 0 && fBufferFill > 0) {
        const long long end = fBufferStart + static_cast<long long>(fBufferFill);
        if (at >= fBufferStart && at <= end) {
            uint64_t offset = static_cast<uint64_t>(at - fBufferStart);
            uint64_t n = std::min(left, fBufferSize - offset);
            std::memcpy(fBuffer + offset, src, static_cast<size_t>(n));
            fBufferFill = std::max(fBufferFill, offset + n);
            src += n;
            left -= n;
            at += static_cast<long long>(n);
        }
        if (left > 0) {
            // The buffer is full, or the bytes go elsewhere: write it out.
            if (VError err = _WriteOut(); err != VE_OK)
                return err;
        }
    }
    if (left > 0) {
        if (left >= fBufferSize) {
            if (VError err = fDesc->PutData(src, static_cast<size_t>(left), at); err != VE_OK)
                return err;
        } else {
            std::memcpy(fBuffer, src, static_cast<size_t>(left));
            fBufferStart = at;
            fBufferFill = left;
        }
    }
    if (start + static_cast<long long>(inCount) > fFileSize)
        fFileSize = start + static_cast<long long>(inCount);
    return VE_OK;
}

VError VFileStream::DoFlush()
{
    VError err = _WriteOut();
    VError flushErr = fDesc != nullptr ? fDesc->Flush() : VE_OK;
    fBufferStart = GetPos();
    fBufferFill = 0;
    return err != VE_OK ? err : flushErr;
}

// ---- position and size ------------------------------------------------------------------

VError VFileStream::DoSetPos(long long inPos)
{
    if (IsWriting()) {
        VError err = VE_OK;
        if (inPos > fBufferStart + static_cast<long long>(fBufferFill))
            err = DoFlush();
        if (err == VE_OK && inPos > fFileSize) {
            err = fDesc->SetSize(inPos);
            if (err == VE_OK)
                fFileSize = inPos;
        }
        return err;
    }
    if (inPos > fFileSize) {
        _ThrowError(kErrEndOfData);
        return kErrEndOfData;
    }
    return VE_OK;
}

VError VFileStream::DoSetSize(long long inSize)
{
    const long long end = fBufferStart + static_cast<long long>(fBufferFill);
    if (fBufferStart >= inSize)
        fBufferFill = 0;
    else if (end > inSize)
        fBufferFill = static_cast<uint64_t>(inSize - fBufferStart);
    VError err = fDesc->SetSize(inSize);
    if (err == VE_OK)
        fFileSize = inSize;
    return err;
}

long long VFileStream::DoGetSize() { return fFileSize; }

}  // namespace qelt
