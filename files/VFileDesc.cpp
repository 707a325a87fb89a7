#include "files/VFileDesc.h"

#include "files/VFile.h"
#include "files/VFileError.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"

namespace qelt {

namespace {

constexpr VError kEndOfData = QeltError(200);

}  // namespace

VFileDesc::VFileDesc(const VFile* inFile, int inFd, FileAccess inAccess) : fAccess(inAccess), fFile(inFile), fDesc(inFd)
{
    if (fFile != nullptr)
        fFile->Retain();
}

VFileDesc::~VFileDesc()
{
    if (fFile != nullptr)
        fFile->Release();
}

VError VFileDesc::_Wrap(VError inResult, VError inFallback, long long inCount, bool inWithCount, long long inOffset,
                        bool inWithOffset, bool inWithSize) const
{
    auto parameters = [&](VValueBag& bag) {
        if (inWithCount)
            bag.SetAttribute("count", VLong(static_cast<int>(inCount)));
        if (inWithOffset)
            bag.SetAttribute("offset", VLong8(inOffset));
        if (inWithSize) {
            long long size = 0;
            if (fDesc.GetSize(&size) == VE_OK)
                bag.SetAttribute("size", VLong8(size));
        }
    };
    VFilePath path = (fFile != nullptr) ? fFile->GetPath() : VFilePath();
    return WrapFileError(path, inResult, inFallback, parameters);
}

long long VFileDesc::GetSize() const
{
    long long size = 0;
    VError err = fDesc.GetSize(&size);
    if (err != VE_OK) {
        _Wrap(err, QeltError(218), 0, false, 0, false, false);
        return 0;
    }
    return size;
}

VError VFileDesc::SetSize(long long inSize) const
{
    VError err = fDesc.SetSize(inSize);
    if (err == VE_OK || !IsNativeErrorSignature(err))
        return err;
    VFilePath path = (fFile != nullptr) ? fFile->GetPath() : VFilePath();
    return WrapFileError(path, err, QeltError(219),
                         [&](VValueBag& bag) { bag.SetAttribute("size", VLong8(inSize)); });
}

long long VFileDesc::GetPos() const
{
    long long pos = 0;
    VError err = fDesc.GetPos(&pos);
    if (err != VE_OK) {
        _Wrap(err, QeltError(213), 0, false, 0, false, false);
        return 0;
    }
    return pos;
}

VError VFileDesc::SetPos(long long inOffset, bool inFromStart) const
{
    long long offset = inFromStart ? inOffset : GetPos() + inOffset;
    return _Wrap(fDesc.SetPos(inOffset, inFromStart), QeltError(214), 0, false, offset, true, true);
}

VError VFileDesc::GetData(void* outBuffer, size_t inCount, long long inOffset, size_t* outCount) const
{
    size_t count = inCount;
    VError err = fDesc.GetData(outBuffer, count, inOffset, true);
    if (outCount != nullptr)
        *outCount = count;
    if (err == kEndOfData) {
        // The end of data is raised as a native failure would be.
        VFilePath path = (fFile != nullptr) ? fFile->GetPath() : VFilePath();
        return ThrowFileRefusal(path, kEndOfData, [&](VValueBag& bag) {
            bag.SetAttribute("count", VLong(static_cast<int>(inCount)));
            bag.SetAttribute("offset", VLong8(inOffset));
            long long size = 0;
            if (fDesc.GetSize(&size) == VE_OK)
                bag.SetAttribute("size", VLong8(size));
        });
    }
    return _Wrap(err, QeltError(215), static_cast<long long>(inCount), true, inOffset, true, true);
}

VError VFileDesc::GetDataAtPos(void* outBuffer, size_t inCount, long long inOffset, size_t* outCount) const
{
    size_t count = inCount;
    VError err = fDesc.GetData(outBuffer, count, inOffset, false);
    if (outCount != nullptr)
        *outCount = count;
    if (err == VE_OK || err == kEndOfData)
        return err;
    return _Wrap(err, QeltError(215), static_cast<long long>(inCount), true, GetPos() + inOffset, true, true);
}

VError VFileDesc::PutData(const void* inData, size_t inCount, long long inOffset, size_t* outCount) const
{
    size_t count = inCount;
    VError err = fDesc.PutData(inData, count, inOffset, true);
    if (outCount != nullptr)
        *outCount = count;
    return _Wrap(err, QeltError(216), static_cast<long long>(inCount), true, inOffset, true, true);
}

VError VFileDesc::PutDataAtPos(const void* inData, size_t inCount, long long inOffset, size_t* outCount) const
{
    size_t count = inCount;
    VError err = fDesc.PutData(inData, count, inOffset, false);
    if (outCount != nullptr)
        *outCount = count;
    if (err == VE_OK)
        return err;
    return _Wrap(err, QeltError(216), static_cast<long long>(inCount), true, GetPos() + inOffset, true, true);
}

VError VFileDesc::Flush() const { return _Wrap(fDesc.Flush(), QeltError(217), 0, false, 0, false, false); }

}  // namespace qelt
