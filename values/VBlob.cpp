#include "values/VBlob.h"

#include <climits>
#include <cstring>

#include "files/VStream.h"
#include "json/VJSONBlob.h"
#include "json/VJSONObject.h"
#include "kernel/VThrowError.h"

namespace qelt {

namespace {

constexpr VError kErrorMemory = QeltError(100);
constexpr VError kErrorFewerBytes = QeltError(200);
constexpr VError kErrorNotWritable = QeltError(204);

int ReadCount(const void* inPtr)
{
    int count;
    std::memcpy(&count, inPtr, sizeof(count));
    return count;
}

void WriteCount(void* outPtr, long long inSize)
{
    int count = inSize > INT_MAX ? INT_MAX : static_cast<int>(inSize);
    std::memcpy(outPtr, &count, sizeof(count));
}

int SwapCount(int inCount)
{
    unsigned int v = static_cast<unsigned int>(inCount);
    v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return static_cast<int>(v);
}

// GetData of a run of bytes: the copied count is that of the bytes there.
VError CopyOut(const void* inBytes, long long inAvailable, void* outData, long long inSize, int inOffset,
               long long* outRead)
{
    long long copied = 0;
    if (inOffset >= 0 && inOffset <= inAvailable && inSize > 0) {
        copied = inAvailable - inOffset < inSize ? inAvailable - inOffset : inSize;
        if (copied > 0)
            std::memcpy(outData, static_cast<const char*>(inBytes) + inOffset, static_cast<size_t>(copied));
    }
    if (outRead != nullptr)
        *outRead = copied;
    if (inOffset < 0 || inSize < 0)
        return kErrorFewerBytes;
    return copied == inSize ? VE_OK : kErrorFewerBytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// Descriptor

const VBlob_info VBlob::sInfo;

VValue* VBlob_info::Generate() const { return new VBlobWithPtr(); }

VValue* VBlob_info::Generate(VBlob*) const { return new VBlobWithPtr(); }

VValue* VBlob_info::LoadFromPtr(const void* inPtr, bool) const
{
    VBlobWithPtr* blob = new VBlobWithPtr();
    int count = ReadCount(inPtr);
    if (count >= 1)
        blob->FromData(static_cast<const char*>(inPtr) + sizeof(int), count);
    return blob;
}

void* VBlob_info::ByteSwapPtr(void* inPtr, bool) const
{
    int count = SwapCount(ReadCount(inPtr));
    std::memcpy(inPtr, &count, sizeof(count));
    return static_cast<char*>(inPtr) + sizeof(int);
}

unsigned long VBlob_info::GetSizeOfValueDataPtr(const void* inPtr) const
{
    int count = ReadCount(inPtr);
    return static_cast<unsigned long>(count > 0 ? count : 0) + sizeof(int);
}

// ---------------------------------------------------------------------------
// VBlob

VError VBlob::FromData(const void* inData, long long inSize)
{
    VError err = SetSize(inSize);
    if (err != VE_OK || inSize == 0)
        return err;
    return PutData(inData, inSize, 0);
}

const VValueInfo* VBlob::GetValueInfo() const { return &sInfo; }

bool VBlob::CanBeEvaluated() const { return false; }

CompareResult VBlob::CompareTo(const VValueSingle&, bool) const { return CR_UNRELEVANT; }

unsigned long VBlob::GetFullSpaceOnDisk(unsigned long long&) const
{
    return static_cast<unsigned long>(GetSize());
}

void VBlob::Clear() { FromData(nullptr, 0); }

void VBlob::DoNullChanged()
{
    // The setters of this class never pass through here: they clear the
    // null flag themselves. What arrives here is a change from outside, and
    // a blob made null holds no bytes.
    SetSize(0);
}

void VBlob::_Touch() { _SetFlags(static_cast<unsigned char>((_GetFlags() & ~kFlagNull) | kFlagDirty)); }

void VBlob::GetValue(VValueSingle&) const {}

void VBlob::FromValue(const VValueSingle&) {}

const void* VBlob::LoadFromPtr(const void*, bool) { return nullptr; }

void* VBlob::WriteToPtr(void*, bool, unsigned long) const { return nullptr; }

// ---------------------------------------------------------------------------
// VBlobWithPtr

VBlobWithPtr::VBlobWithPtr() : fBuffer(VObject::sCppMemMgr) {}

VBlobWithPtr::VBlobWithPtr(const void* inData, long long inSize) : fBuffer(VObject::sCppMemMgr)
{
    if (inSize > 0 && inData != nullptr && fBuffer.SetCapacityExact(static_cast<uint64_t>(inSize))) {
        std::memcpy(fBuffer.GetDataPtr(), inData, static_cast<size_t>(inSize));
        fBuffer.SetDataSize(static_cast<uint64_t>(inSize));
    }
}

VBlobWithPtr::VBlobWithPtr(const VBlobWithPtr& inOther) : VBlob(), fBuffer(inOther.fBuffer.GetAllocator())
{
    fBuffer = inOther.fBuffer;
    _SetFlags(static_cast<unsigned char>((inOther._GetFlags() & kFlagNull) | kFlagDirty));
}

VBlobWithPtr::VBlobWithPtr(const VBlob& inOther) : VBlob(), fBuffer(VObject::sCppMemMgr)
{
    if (!inOther.IsNull()) {
        long long size = inOther.GetSize();
        if (size > 0 && fBuffer.SetCapacityExact(static_cast<uint64_t>(size))) {
            long long read = 0;
            inOther.GetData(fBuffer.GetDataPtr(), size, 0, &read);
            fBuffer.SetDataSize(static_cast<uint64_t>(read));
        }
    }
    _SetFlags(static_cast<unsigned char>((inOther.IsNull() ? kFlagNull : 0) | kFlagDirty));
}

VBlobWithPtr& VBlobWithPtr::operator=(const VBlobWithPtr& inOther)
{
    FromValueSameKind(&inOther);
    return *this;
}

VBlobWithPtr::~VBlobWithPtr() = default;

long long VBlobWithPtr::GetSize() const { return static_cast<long long>(fBuffer.GetDataSize()); }

VError VBlobWithPtr::SetSize(long long inSize)
{
    if (inSize < 0)
        return kErrorFewerBytes;
    uint64_t oldSize = fBuffer.GetDataSize();
    uint64_t size = static_cast<uint64_t>(inSize);
    if (fBuffer.GetAllocatedSize() != size && !fBuffer.SetCapacityExact(size))
        return kErrorMemory;
    // Bytes gained read as zeros, never as what the block held before.
    if (size > oldSize)
        std::memset(static_cast<char*>(fBuffer.GetDataPtr()) + oldSize, 0, static_cast<size_t>(size - oldSize));
    fBuffer.SetDataSize(size);
    return VE_OK;
}

VError VBlobWithPtr::GetData(void* outData, long long inSize, int inOffset, long long* outRead) const
{
    return CopyOut(fBuffer.GetDataPtr(), GetSize(), outData, inSize, inOffset, outRead);
}

VError VBlobWithPtr::PutData(const void* inData, long long inSize, int inOffset)
{
    if (inOffset < 0 || inSize < 0 || (inSize > 0 && inData == nullptr))
        return kErrorNotWritable;
    uint64_t oldSize = fBuffer.GetDataSize();
    uint64_t end = static_cast<uint64_t>(inOffset) + static_cast<uint64_t>(inSize);
    if (fBuffer.GetAllocatedSize() < end && !fBuffer._EnlargeAmortized(end)) {
        _Touch();
        return kErrorMemory;
    }
    char* bytes = static_cast<char*>(fBuffer.GetDataPtr());
    // A gap between the old end and the offset reads as zeros.
    if (static_cast<uint64_t>(inOffset) > oldSize)
        std::memset(bytes + oldSize, 0, static_cast<size_t>(static_cast<uint64_t>(inOffset) - oldSize));
    if (inSize > 0)
        std::memmove(bytes + inOffset, inData, static_cast<size_t>(inSize));
    if (end > oldSize)
        fBuffer.SetDataSize(end);
    _Touch();
    return VE_OK;
}

VError VBlobWithPtr::FromData(const void* inData, long long inSize)
{
    if (inSize < 0 || (inSize > 0 && inData == nullptr))
        return kErrorNotWritable;
    uint64_t size = static_cast<uint64_t>(inSize);
    if (fBuffer.GetAllocatedSize() != size && !fBuffer.SetCapacityExact(size)) {
        _Touch();
        return kErrorMemory;
    }
    if (size > 0)
        std::memmove(fBuffer.GetDataPtr(), inData, static_cast<size_t>(size));
    fBuffer.SetDataSize(size);
    _Touch();
    return VE_OK;
}

VValue* VBlobWithPtr::Clone() const { return new VBlobWithPtr(*this); }

bool VBlobWithPtr::FromValueSameKind(const VValue* inValue)
{
    const VBlobWithPtr* other = dynamic_cast<const VBlobWithPtr*>(inValue);
    if (other == nullptr)
        return false;
    if (other == this)
        return true;
    fBuffer = other->fBuffer;
    _SetFlags(static_cast<unsigned char>((_GetFlags() & ~kFlagNull) | (other->_GetFlags() & kFlagNull) | kFlagDirty));
    return !(GetSize() == 0 && other->GetSize() != 0);
}

bool VBlobWithPtr::EqualToSameKind(const VValue* inValue, bool) const
{
    const VBlobWithPtr* other = dynamic_cast<const VBlobWithPtr*>(inValue);
    if (other == nullptr || other->IsNull())
        return false;
    if (GetSize() != other->GetSize())
        return false;
    return GetSize() == 0 ||
           std::memcmp(fBuffer.GetDataPtr(), other->fBuffer.GetDataPtr(), static_cast<size_t>(GetSize())) == 0;
}

bool VBlobWithPtr::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

void VBlobWithPtr::GetValue(VValueSingle& outValue) const
{
    const VValueInfo* info = outValue.GetValueInfo();
    VBlob* target = dynamic_cast<VBlob*>(&outValue);
    if (info != nullptr && info->GetKind() == 11 && target != nullptr && target != this)
        target->FromData(fBuffer.GetDataPtr(), GetSize());
}

void VBlobWithPtr::FromValue(const VValueSingle& inValue)
{
    if (&inValue == this)
        return;
    Clear();
    const VValueInfo* info = inValue.GetValueInfo();
    const VBlobWithPtr* source = dynamic_cast<const VBlobWithPtr*>(&inValue);
    if (info != nullptr && info->GetKind() == 11 && source != nullptr)
        PutData(source->fBuffer.GetDataPtr(), source->GetSize(), 0);
}

VError VBlobWithPtr::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    VRefPtr<VJSONObject> object =
        AdoptRef(VJSONBlob::Create(fBuffer.GetDataPtr(), static_cast<size_t>(fBuffer.GetDataSize())));
    if (object.Get() != nullptr)
        outJSONValue.SetObject(object.Get());
    else
        outJSONValue.SetNull();
    return VE_OK;
}

VError VBlobWithPtr::FromJSONValue(const VJSONValue& inJSONValue)
{
    const VJSONBlob* blob = VJSONBlob::CastJSONObject(inJSONValue.GetObject());
    Clear();
    if (blob == nullptr) {
        SetNull(true);
        return VE_OK;
    }
    return PutData(blob->GetData(), static_cast<long long>(blob->GetSize()), 0);
}

const void* VBlobWithPtr::LoadFromPtr(const void* inData, bool)
{
    int count = ReadCount(inData);
    const char* bytes = static_cast<const char*>(inData) + sizeof(int);
    if (count < 1)
        return bytes;
    FromData(bytes, count);
    return bytes + count;
}

void* VBlobWithPtr::WriteToPtr(void* inData, bool, unsigned long) const
{
    long long size = GetSize();
    WriteCount(inData, size);
    char* bytes = static_cast<char*>(inData) + sizeof(int);
    if (size > 0)
        GetData(bytes, size, 0, nullptr);
    return bytes + size;
}

unsigned long VBlobWithPtr::GetSpace(unsigned long long&, unsigned long) const
{
    return static_cast<unsigned long>(GetSize()) + sizeof(int);
}

unsigned long VBlobWithPtr::GetStreamSpace() const { return static_cast<unsigned long>(GetSize()) + sizeof(int); }

VError VBlobWithPtr::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    int numbers = 1;
    ioStream->GetLongs(&count, &numbers);
    VError err = ioStream->GetLastError();
    if (err != VE_OK)
        return err;
    if (numbers != 1)
        return kErrorFewerBytes;
    // The count comes from outside: it must be one the stream can deliver.
    long long remaining = ioStream->GetSize() - ioStream->GetPos();
    if (count < 0 || (remaining >= 0 && count > remaining)) {
        _ThrowError(kErrorFewerBytes);
        return kErrorFewerBytes;
    }
    if (count == 0)
        return SetSize(0);
    // A stream of unknown size is read in slices, so that one holding fewer
    // bytes than its count claims never causes an allocation of that count.
    const long long sliceSize = remaining >= 0 ? count : (1LL << 20);
    long long got = 0;
    while (got < count) {
        long long slice = count - got < sliceSize ? count - got : sliceSize;
        err = SetSize(got + slice);
        if (err != VE_OK)
            return err;
        unsigned long read = 0;
        char* destination = static_cast<char*>(fBuffer.GetDataPtr()) + got;
        err = ioStream->GetData(destination, static_cast<unsigned long>(slice), &read);
        got += static_cast<long long>(read);
        if (err != VE_OK || static_cast<long long>(read) < slice) {
            fBuffer.SetDataSize(static_cast<uint64_t>(got));
            return err != VE_OK ? err : kErrorFewerBytes;
        }
    }
    return VE_OK;
}

VError VBlobWithPtr::WriteToStream(VStream* ioStream, int) const
{
    long long size = GetSize();
    int count = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    VError err = ioStream->PutLongs(&count, 1);
    if (err != VE_OK)
        return err;
    if (count > 0)
        return ioStream->PutData(fBuffer.GetDataPtr(), static_cast<unsigned long>(count));
    return VE_OK;
}

// ---------------------------------------------------------------------------
// VConstBlobWithPtr

VConstBlobWithPtr::VConstBlobWithPtr(const void* inData, long long inSize)
    : fData(inData), fSize(inData != nullptr && inSize > 0 ? inSize : 0)
{
}

VConstBlobWithPtr::VConstBlobWithPtr(const VConstBlobWithPtr& inOther)
    : VBlob(), fData(inOther.fData), fSize(inOther.fSize)
{
    _SetFlags(static_cast<unsigned char>((inOther._GetFlags() & kFlagNull) | kFlagDirty));
}

VConstBlobWithPtr& VConstBlobWithPtr::operator=(const VConstBlobWithPtr& inOther)
{
    FromValueSameKind(&inOther);
    return *this;
}

VConstBlobWithPtr::~VConstBlobWithPtr() = default;

long long VConstBlobWithPtr::GetSize() const { return fSize; }

VError VConstBlobWithPtr::SetSize(long long) { return kErrorNotWritable; }

VError VConstBlobWithPtr::GetData(void* outData, long long inSize, int inOffset, long long* outRead) const
{
    return CopyOut(fData, fSize, outData, inSize, inOffset, outRead);
}

VError VConstBlobWithPtr::PutData(const void*, long long, int) { return kErrorNotWritable; }

VError VConstBlobWithPtr::FromData(const void*, long long) { return kErrorNotWritable; }

VValue* VConstBlobWithPtr::Clone() const { return new VConstBlobWithPtr(*this); }

bool VConstBlobWithPtr::FromValueSameKind(const VValue* inValue)
{
    const VConstBlobWithPtr* other = dynamic_cast<const VConstBlobWithPtr*>(inValue);
    if (other == nullptr)
        return false;
    fData = other->fData;
    fSize = other->fSize;
    _SetFlags(static_cast<unsigned char>((_GetFlags() & ~kFlagNull) | (other->_GetFlags() & kFlagNull) | kFlagDirty));
    return true;
}

void VConstBlobWithPtr::GetValue(VValueSingle& outValue) const
{
    const VValueInfo* info = outValue.GetValueInfo();
    VBlob* target = dynamic_cast<VBlob*>(&outValue);
    if (info != nullptr && info->GetKind() == 11 && target != nullptr && target != this)
        target->FromData(fData, fSize);
}

void VConstBlobWithPtr::FromValue(const VValueSingle&) {}

const void* VConstBlobWithPtr::LoadFromPtr(const void*, bool) { return nullptr; }

void* VConstBlobWithPtr::WriteToPtr(void* inData, bool, unsigned long) const
{
    WriteCount(inData, fSize);
    char* bytes = static_cast<char*>(inData) + sizeof(int);
    if (fSize > 0)
        std::memcpy(bytes, fData, static_cast<size_t>(fSize));
    return bytes + fSize;
}

unsigned long VConstBlobWithPtr::GetSpace(unsigned long long&, unsigned long) const
{
    return static_cast<unsigned long>(fSize) + sizeof(int);
}

unsigned long VConstBlobWithPtr::GetStreamSpace() const { return static_cast<unsigned long>(fSize) + sizeof(int); }

VError VConstBlobWithPtr::ReadFromStream(VStream*, int) { return kErrorNotWritable; }

VError VConstBlobWithPtr::WriteToStream(VStream* ioStream, int) const
{
    int count = fSize > INT_MAX ? INT_MAX : static_cast<int>(fSize);
    VError err = ioStream->PutLongs(&count, 1);
    if (err != VE_OK)
        return err;
    if (count > 0)
        return ioStream->PutData(fData, static_cast<unsigned long>(count));
    return VE_OK;
}

}  // namespace qelt
