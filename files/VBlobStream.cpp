#include "files/VBlobStream.h"

#include <climits>

#include "runtime/VErrorBase.h"
#include "values/VBlob.h"

namespace qelt {

namespace {

// Blobs take signed 32-bit offsets: a position outside them cannot be reached.
bool FitsBlobOffset(long long pos)
{
    return pos >= 0 && pos <= INT_MAX;
}

}  // namespace

VBlobStream::VBlobStream(VBlob* blob) : fBlob(blob), fOwned(blob == nullptr)
{
    if (fOwned)
        fBlob = new VBlobWithPtr();
}

VBlobStream::~VBlobStream()
{
    if (fOwned)
        delete fBlob;
}

VError VBlobStream::DoPutData(const void* bytes, unsigned long count)
{
    long long pos = GetPos();
    if (!FitsBlobOffset(pos) || count > static_cast<unsigned long>(LLONG_MAX)) {
        _ThrowError(QeltError(100));
        return QeltError(100);
    }
    if (count == 0)
        return VE_OK;
    return fBlob->PutData(bytes, static_cast<long long>(count), static_cast<int>(pos));
}

VError VBlobStream::DoGetData(void* buffer, unsigned long* count)
{
    long long pos = GetPos();
    unsigned long asked = *count;
    if (asked == 0)
        return VE_OK;
    if (!FitsBlobOffset(pos) || asked > static_cast<unsigned long>(LLONG_MAX)) {
        *count = 0;
        return QeltError(200);
    }
    long long read = 0;
    VError err = fBlob->GetData(buffer, static_cast<long long>(asked), static_cast<int>(pos), &read);
    *count = read > 0 ? static_cast<unsigned long>(read) : 0;
    if (err == VE_OK && *count < asked)
        err = QeltError(200);
    return err;
}

long long VBlobStream::DoGetSize()
{
    return fBlob->GetSize();
}

VError VBlobStream::DoSetSize(long long size)
{
    return fBlob->SetSize(size);
}

VError VBlobStream::DoSetPos(long long pos)
{
    if (pos <= fBlob->GetSize())
        return VE_OK;
    if (!FitsBlobOffset(pos)) {
        _ThrowError(QeltError(100));
        return QeltError(100);
    }
    // Beyond the end: the blob grows to reach the position.
    return fBlob->SetSize(pos);
}

}  // namespace qelt
