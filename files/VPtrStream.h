// A read-write stream over a growable block that it owns. The bytes stay
// across close and reopen; reopening only puts the position back to 0.
#pragma once

#include "files/VStream.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VPtrStream : public VStream {
public:
    // An empty stream; its block comes from the process memory manager.
    VPtrStream();
    ~VPtrStream() override;

    UnderlyingData GetUnderlyingData() const override;

    // The bytes in use (null while empty) and their count.
    const void* GetDataPtr() const { return fBuffer.GetDataPtr(); }
    unsigned long long GetDataSize() const { return _InPlaceSize(); }
    unsigned long long GetAllocatedSize() const { return fBuffer.GetAllocatedSize(); }

protected:
    // Final: VStream::PutData writes what fits in the block without it
    // (the write window).
    VError DoPutData(const void* bytes, unsigned long count) final;
    VError DoGetData(void* buffer, unsigned long* count) override;
    long long DoGetSize() override;
    VError DoSetSize(long long size) override;
    VError DoSetPos(long long pos) override;

private:
    VMemoryBufferDefault fBuffer;
};

}  // namespace qelt
