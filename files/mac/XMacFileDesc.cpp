#include "files/mac/XMacFileDesc.h"

#include <cerrno>

#include "platform/PlatFile.h"
#include "runtime/VTaskMgr.h"

namespace qelt {

namespace {

constexpr VError kEndOfData = QeltError(200);

void LetOthersRun() { VTaskMgr::YieldNow(); }

}  // namespace

XMacFileDesc::~XMacFileDesc() { plat::CloseFile(fFd); }

VError XMacFileDesc::GetSize(long long* outSize) const
{
    int64_t size = 0;
    int err = plat::GetOpenFileSize(fFd, size);
    *outSize = size;
    return err == 0 ? VE_OK : PosixError(err);
}

VError XMacFileDesc::SetSize(long long inSize) const
{
    int err = plat::SetOpenFileSize(fFd, inSize);
    return err == 0 ? VE_OK : PosixError(err);
}

VError XMacFileDesc::GetPos(long long* outPos) const
{
    *outPos = fPos;
    return VE_OK;
}

VError XMacFileDesc::SetPos(long long inOffset, bool inFromStart)
{
    fPos = inFromStart ? inOffset : fPos + inOffset;
    return VE_OK;
}

VError XMacFileDesc::GetData(void* outBuffer, size_t& ioCount, long long inOffset, bool inAbsolute)
{
    long long start = inAbsolute ? inOffset : fPos + inOffset;
    if (start < 0)
        return PosixError(EINVAL);
    size_t done = 0;
    int err = plat::ReadAt(fFd, outBuffer, ioCount, start, done, &LetOthersRun);
    size_t asked = ioCount;
    ioCount = done;
    if (err != 0)
        return PosixError(err);
    if (!inAbsolute)
        fPos = start + static_cast<long long>(done);
    return done < asked ? kEndOfData : VE_OK;
}

VError XMacFileDesc::PutData(const void* inData, size_t& ioCount, long long inOffset, bool inAbsolute)
{
    long long start = inAbsolute ? inOffset : fPos + inOffset;
    if (start < 0)
        return PosixError(EINVAL);
    size_t done = 0;
    int err = plat::WriteAt(fFd, inData, ioCount, start, done, &LetOthersRun);
    ioCount = done;
    if (err != 0)
        return PosixError(err);
    if (!inAbsolute)
        fPos = start + static_cast<long long>(done);
    return VE_OK;
}

VError XMacFileDesc::Flush() const
{
    int err = plat::SyncFile(fFd);
    return err == 0 ? VE_OK : PosixError(err);
}

}  // namespace qelt
