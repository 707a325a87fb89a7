// A read-write stream over a blob value: the caller's blob, or an empty one
// that the stream creates and owns. The bytes stay across close and reopen.
#pragma once

#include "files/VStream.h"

namespace qelt {

class VBlob;

class VBlobStream : public VStream {
public:
    // With a blob the stream works on it and never deletes it; without one
    // it creates an empty blob that owns its bytes and deletes it when it goes.
    explicit VBlobStream(VBlob* blob = nullptr);
    ~VBlobStream() override;

    VBlob* GetBlob() const { return fBlob; }

protected:
    VError DoPutData(const void* bytes, unsigned long count) override;
    VError DoGetData(void* buffer, unsigned long* count) override;
    long long DoGetSize() override;
    VError DoSetSize(long long size) override;
    VError DoSetPos(long long pos) override;

private:
    VBlob* fBlob;
    bool fOwned;
};

}  // namespace qelt
