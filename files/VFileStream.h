// A stream over a file. It opens a descriptor on the file when the stream
// opens and closes it when the stream closes, and keeps one memory buffer:
// a read cache while reading, a write-behind buffer while writing.
// Transfers larger than the buffer bypass it. Bytes still buffered when a
// writing stream is destroyed without CloseWriting or Flush are lost.
#pragma once

#include <cstdint>

#include "files/VStream.h"

namespace qelt {

class VFile;
class VFileDesc;

class VFileStream : public VStream {
public:
    // Retains the file; the open options go to VFile::Open when writing.
    explicit VFileStream(const VFile* inFile, unsigned int inOpenOptions = 0);
    ~VFileStream() override;

    // Sets the largest buffer and reallocates the buffer of an open stream
    // (a writing stream is flushed first).
    void SetBufferSize(uint64_t inSize);
    // Allocates inWanted bytes (the maximum when 0 or above it) when there is
    // no buffer; in every case drops what the buffer held.
    void AllocateBuffer(uint64_t inWanted);
    void ReleaseBuffer();

    uint64_t GetBufferSize() const { return fBufferSize; }
    static constexpr uint64_t kDefaultMaxBufferSize = 32768;

protected:
    VError DoOpenReading() override;
    VError DoOpenWriting() override;
    VError DoCloseReading() override;
    VError DoCloseWriting(bool inSetSize) override;
    VError DoPutData(const void* inBytes, unsigned long inCount) override;
    VError DoGetData(void* outBuffer, unsigned long* ioCount) override;
    long long DoGetSize() override;
    VError DoSetSize(long long inSize) override;
    VError DoSetPos(long long inPos) override;
    VError DoFlush() override;

private:
    // Asks for n bytes, halving the request after each refusal down to 1;
    // without any, the stream works unbuffered.
    void _Allocate(uint64_t inSize);
    uint64_t _ReadingBufferSize(uint64_t inMax) const;
    // Writes the buffered bytes at the buffer start; the buffer is then empty.
    VError _WriteOut();

    const VFile* fFile;
    VFileDesc* fDesc = nullptr;
    long long fFileSize = 0;
    long long fBufferStart = 0;
    uint64_t fBufferFill = 0;
    uint64_t fBufferSize = 0;
    uint64_t fMaxBufferSize = kDefaultMaxBufferSize;
    char* fBuffer = nullptr;
    unsigned int fOpenOptions;
};

}  // namespace qelt
