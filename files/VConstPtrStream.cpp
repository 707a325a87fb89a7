#include "files/VConstPtrStream.h"

#include <cstring>

#include "runtime/VErrorBase.h"

namespace qelt {

VConstPtrStream::VConstPtrStream(const void* data, unsigned long long size)
    : fData(data), fSize(data != nullptr ? size : 0)
{
}

VConstPtrStream::~VConstPtrStream() = default;

VStream::UnderlyingData VConstPtrStream::GetUnderlyingData() const
{
    UnderlyingData result;
    result.fAvailable = true;
    result.fData = fData;
    result.fSize = fSize;
    return result;
}

VError VConstPtrStream::DoOpenWriting()
{
    _ThrowError(QeltError(204));
    return QeltError(204);
}

VError VConstPtrStream::DoPutData(const void*, unsigned long)
{
    _ThrowError(QeltError(204));
    return QeltError(204);
}

VError VConstPtrStream::DoSetSize(long long)
{
    _ThrowError(QeltError(204));
    return QeltError(204);
}

VError VConstPtrStream::DoGetData(void* buffer, unsigned long* count)
{
    long long pos = GetPos();
    unsigned long long available = (pos >= 0 && static_cast<unsigned long long>(pos) < fSize)
                                       ? fSize - static_cast<unsigned long long>(pos)
                                       : 0;
    unsigned long asked = *count;
    unsigned long n = asked <= available ? asked : static_cast<unsigned long>(available);
    if (n > 0)
        std::memcpy(buffer, static_cast<const char*>(fData) + pos, n);
    *count = n;
    if (n < asked) {
        _ThrowError(QeltError(200));
        return QeltError(200);
    }
    return VE_OK;
}

long long VConstPtrStream::DoGetSize()
{
    return static_cast<long long>(fSize);
}

VError VConstPtrStream::DoSetPos(long long pos)
{
    if (pos > 0 && static_cast<unsigned long long>(pos) > fSize) {
        _ThrowError(QeltError(200));
        return QeltError(200);
    }
    return VE_OK;
}

}  // namespace qelt
