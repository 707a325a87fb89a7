// A read-only stream over a constant block that belongs to the caller.
#pragma once

#include "files/VStream.h"

namespace qelt {

class VConstPtrStream : public VStream {
public:
    // The block must outlive the stream; it is never written or freed.
    VConstPtrStream(const void* data, unsigned long long size);
    ~VConstPtrStream() override;

    UnderlyingData GetUnderlyingData() const override;

protected:
    VError DoOpenWriting() override;
    VError DoPutData(const void* bytes, unsigned long count) override;
    VError DoGetData(void* buffer, unsigned long* count) override;
    long long DoGetSize() override;
    VError DoSetSize(long long size) override;
    VError DoSetPos(long long pos) override;

private:
    const void* fData;
    unsigned long long fSize;
};

}  // namespace qelt
