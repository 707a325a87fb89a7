#include "files/VPtrStream.h"

#include <cstring>

#include "runtime/VErrorBase.h"

namespace qelt {

VPtrStream::VPtrStream() { _SetInPlaceBuffer(&fBuffer); }

VPtrStream::~VPtrStream() = default;

VStream::UnderlyingData VPtrStream::GetUnderlyingData() const
{
    UnderlyingData result;
    result.fAvailable = true;
    result.fData = fBuffer.GetDataPtr();
    result.fSize = _InPlaceSize();
    return result;
}

// Every operation that moves the position or the block closes the write
// window first, which brings the buffer's size up to date.
VError VPtrStream::DoPutData(const void* bytes, unsigned long count)
{
    _CloseWriteWindow();
    long long pos = GetPos();
    if (pos < 0) {
        _ThrowError(QeltError(3));
        return QeltError(3);
    }
    if (count == 0)
        return VE_OK;
    // Memory that cannot be had is reported by the base, which stores 100.
    if (!fBuffer.PutDataAmortized(static_cast<uint64_t>(pos), bytes, count))
        return QeltError(100);
    return VE_OK;
}

VError VPtrStream::DoGetData(void* buffer, unsigned long* count)
{
    _CloseWriteWindow();
    long long pos = GetPos();
    unsigned long long size = fBuffer.GetDataSize();
    unsigned long long available =
        (pos >= 0 && static_cast<unsigned long long>(pos) < size) ? size - static_cast<unsigned long long>(pos) : 0;
    unsigned long asked = *count;
    unsigned long n = asked <= available ? asked : static_cast<unsigned long>(available);
    if (n > 0)
        std::memcpy(buffer, static_cast<const char*>(fBuffer.GetDataPtr()) + pos, n);
    *count = n;
    if (n < asked) {
        _ThrowError(QeltError(200));
        return QeltError(200);
    }
    return VE_OK;
}

long long VPtrStream::DoGetSize()
{
    return static_cast<long long>(_InPlaceSize());
}

VError VPtrStream::DoSetSize(long long size)
{
    _CloseWriteWindow();
    if (size < 0) {
        _ThrowError(QeltError(3));
        return QeltError(3);
    }
    uint64_t wanted = static_cast<uint64_t>(size);
    if (fBuffer.GetAllocatedSize() != wanted && !fBuffer.SetCapacityExact(wanted))
        return QeltError(100);
    fBuffer.SetDataSize(wanted);
    return VE_OK;
}

VError VPtrStream::DoSetPos(long long pos)
{
    _CloseWriteWindow();
    if (pos <= static_cast<long long>(fBuffer.GetDataSize()))
        return VE_OK;
    // Beyond the end: the stream grows to reach the position.
    return DoSetSize(pos);
}

}  // namespace qelt
