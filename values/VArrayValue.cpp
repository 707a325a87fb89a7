// The array value base: block management, element moves, copying, sorting,
// scrambling, appending and the common stream frame.
#include "values/VArrayValue.h"

#include <climits>
#include <cstdarg>
#include <cstring>
#include <typeinfo>

#include "files/VStream.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VMemory.h"
#include "kernel/VThrowError.h"

namespace qelt {

namespace {

constexpr VError kErrorMemory = QeltError(100);
constexpr VError kErrorFewerBytes = QeltError(200);
constexpr int kParamWithKind = static_cast<int>(FourCC("VVAL"));

}  // namespace

VArrayValue::VArrayValue(int inElemSize) : fElemSize(inElemSize) {}

VArrayValue::~VArrayValue()
{
    // The concrete arrays have released what their elements own already.
    VMemory::DisposePtr(fData);
}

void VArrayValue::Clear() { SetCount(0); }

const void* VArrayValue::LoadFromPtr(const void* inData, bool) { return inData; }

void* VArrayValue::WriteToPtr(void* inData, bool, unsigned long) const { return inData; }

int VArrayValue::GetCount() const { return fCount; }

long long VArrayValue::_BlockSizeFor(int inCount) const
{
    return static_cast<long long>(inCount) * static_cast<long long>(fElemSize);
}

void VArrayValue::_InitCount(int inCount)
{
    if (inCount <= 0)
        return;
    long long size = _BlockSizeFor(inCount);
    if (size <= 0) {
        fCount = inCount;
        return;
    }
    if (size > INT_MAX)
        return;
    fData = static_cast<unsigned char*>(VMemory::NewPtrClear(static_cast<size_t>(size), kMemTag_ValueArray));
    if (fData == nullptr)
        return;
    fDataSize = static_cast<int>(size);
    fCount = inCount;
}

bool VArrayValue::SetDataSize(int inBytes)
{
    if (inBytes < 0)
        inBytes = 0;
    if (inBytes == fDataSize && (fData != nullptr || inBytes == 0))
        return true;
    if (inBytes == 0) {
        VMemory::DisposePtr(fData);
        fData = nullptr;
        fDataSize = 0;
        return true;
    }
    if (fData == nullptr) {
        unsigned char* block =
            static_cast<unsigned char*>(VMemory::NewPtrClear(static_cast<size_t>(inBytes), kMemTag_ValueArray));
        if (block == nullptr)
            return false;
        fData = block;
        fDataSize = inBytes;
        return true;
    }
    unsigned char* block = static_cast<unsigned char*>(VMemory::SetPtrSize(fData, static_cast<size_t>(inBytes)));
    if (block == nullptr)
        return false;  // the old block stays, whole
    if (inBytes > fDataSize)
        std::memset(block + fDataSize, 0, static_cast<size_t>(inBytes - fDataSize));
    fData = block;
    fDataSize = inBytes;
    return true;
}

bool VArrayValue::SetCount(int inCount)
{
    if (inCount == fCount)
        return true;
    if (inCount < 0)
        inCount = 0;
    if (inCount == fCount)
        return true;
    long long size = _BlockSizeFor(inCount);
    if (size > INT_MAX)
        return false;
    int newSize = static_cast<int>(size);

    if (inCount < fCount) {
        // The kept elements go to a block of the new size before the dropped
        // tail releases what it owns, so that a failure leaves the array as
        // it was.
        unsigned char* block = nullptr;
        if (newSize > 0) {
            block = static_cast<unsigned char*>(VMemory::NewPtr(static_cast<size_t>(newSize), kMemTag_ValueArray));
            if (block == nullptr)
                return false;
            int kept = newSize < fDataSize ? newSize : fDataSize;
            if (kept > 0)
                std::memcpy(block, fData, static_cast<size_t>(kept));
            if (newSize > kept)
                std::memset(block + kept, 0, static_cast<size_t>(newSize - kept));
        }
        DeleteElements(inCount, fCount - inCount);
        VMemory::DisposePtr(fData);
        fData = block;
        fDataSize = newSize;
        fCount = inCount;
        return true;
    }

    if (newSize != fDataSize || (fData == nullptr && newSize > 0)) {
        if (!SetDataSize(newSize))
            return false;
    }
    fCount = inCount;
    return true;
}

bool VArrayValue::Insert(int inPosition, int inNumber)
{
    int old = fCount;
    if (inNumber < 1 || inPosition < 1 || inPosition > old + 1)
        return false;
    if (static_cast<long long>(old) + inNumber > INT_MAX)
        return false;
    if (!SetCount(old + inNumber))
        return false;
    if (old - inPosition >= 0)
        MoveElements(inPosition - 1, inPosition - 1 + inNumber, old - inPosition + 1);
    InitElements(inPosition - 1, inNumber);
    return true;
}

void VArrayValue::Delete(int inPosition, int inNumber)
{
    if (fData == nullptr)
        return;
    if (inNumber < 1 || inPosition < 1 || static_cast<long long>(inPosition) - 1 + inNumber > fCount)
        return;
    DeleteElements(inPosition - 1, inNumber);
    int tail = fCount - (inPosition + inNumber) + 1;
    if (tail > 0)
        MoveElements(inPosition - 1 + inNumber, inPosition - 1, tail);
    fCount -= inNumber;
    // A shrink that cannot be had keeps the larger block, which still holds
    // every element.
    long long size = _BlockSizeFor(fCount);
    SetDataSize(static_cast<int>(size));
}

void VArrayValue::MoveElements(int inFrom, int inTo, int inNumber)
{
    if (inFrom < 0 || inTo < 0 || inNumber <= 0 || inFrom == inTo || fData == nullptr)
        return;
    if (static_cast<long long>(inFrom) + inNumber > fCount || static_cast<long long>(inTo) + inNumber > fCount)
        return;
    std::memmove(fData + static_cast<size_t>(inTo) * fElemSize, fData + static_cast<size_t>(inFrom) * fElemSize,
                 static_cast<size_t>(inNumber) * fElemSize);
}

void VArrayValue::DeleteElements(int, int) {}

void VArrayValue::InitElements(int inFrom, int inNumber)
{
    if (inFrom < 0 || inNumber <= 0 || fData == nullptr)
        return;
    if (static_cast<long long>(inFrom) + inNumber > fCount)
        return;
    std::memset(fData + static_cast<size_t>(inFrom) * fElemSize, 0, static_cast<size_t>(inNumber) * fElemSize);
}

bool VArrayValue::Copy(const VArrayValue& inSource)
{
    if (&inSource == this)
        return true;
    // The bytes of another class's elements mean something else here (an
    // array of objects would take numbers for pointers).
    if (typeid(inSource) != typeid(*this))
        return false;
    if (fCount != 0)
        SetCount(0);
    fElemSize = inSource.fElemSize;
    unsigned char* source = inSource.LockAndGetData();
    if (!SetDataSize(inSource.fDataSize)) {
        inSource.UnlockData();
        SetCount(0);
        return false;
    }
    unsigned char* target = LockAndGetData();
    if (inSource.fDataSize > 0 && source != nullptr)
        std::memcpy(target, source, static_cast<size_t>(inSource.fDataSize));
    fCount = inSource.fCount;
    inSource.UnlockData();
    UnlockData();
    return true;
}

unsigned char* VArrayValue::LockAndGetData() const { return fData; }

void VArrayValue::UnlockData() const {}

void VArrayValue::Sort(int inFrom, int inTo, bool inDescending)
{
    if (inFrom < 1 || inTo > fCount || inFrom >= inTo)
        return;
    ISortable* list[2] = {this, nullptr};
    unsigned char descending = inDescending ? 1 : 0;
    ISortable::MultiCriteriaQSort(list, &descending, 1, inFrom - 1, inTo - 1);
}

void VArrayValue::SynchronizedSort(bool inDescending, VArrayValue* inFirst, ...)
{
    if (inFirst == nullptr)
        return;
    constexpr int kMaxArrays = 15;
    ISortable* list[kMaxArrays + 1];
    unsigned char descending[kMaxArrays];
    int count = inFirst->GetCount();
    int arrays = 0;
    list[arrays++] = inFirst;

    va_list args;
    va_start(args, inFirst);
    while (arrays < kMaxArrays) {
        VArrayValue* next = va_arg(args, VArrayValue*);
        if (next == nullptr)
            break;
        if (next->GetCount() < count) {
            // Permuting it like the first would run past its elements.
            va_end(args);
            return;
        }
        list[arrays++] = next;
    }
    va_end(args);
    list[arrays] = nullptr;
    for (int k = 0; k < arrays; ++k)
        descending[k] = inDescending ? 1 : 0;
    ISortable::MultiCriteriaQSort(list, descending, 1, 0, count - 1);
}

void VArrayValue::Unsort()
{
    if (fCount < 2 || fData == nullptr || fElemSize <= 0)
        return;
    unsigned char* scratch = static_cast<unsigned char*>(VMemory::NewPtr(static_cast<size_t>(fElemSize), kMemTag_Sort));
    if (scratch == nullptr)
        return;
    const size_t size = static_cast<size_t>(fElemSize);
    int f = 0;
    int b = fCount - 1;
    while (f < fCount - 1) {
        if (f != b) {
            std::memcpy(scratch, fData + f * size, size);
            std::memcpy(fData + f * size, fData + b * size, size);
            std::memcpy(fData + b * size, scratch, size);
        }
        f += 2;
        b -= 3;
        if (b < 0)
            b = fCount - 1;
    }
    VMemory::DisposePtr(scratch);
}

int VArrayValue::AppendBoolean(bool inValue)
{
    if (Insert(fCount + 1, 1))
        FromBoolean(inValue ? 1 : 0, fCount);
    return fCount;
}

int VArrayValue::AppendByte(signed char inValue)
{
    if (Insert(fCount + 1, 1))
        FromByte(inValue, fCount);
    return fCount;
}

int VArrayValue::AppendWord(short inValue)
{
    if (Insert(fCount + 1, 1))
        FromWord(inValue, fCount);
    return fCount;
}

int VArrayValue::AppendLong(int inValue)
{
    if (Insert(fCount + 1, 1))
        FromLong(inValue, fCount);
    return fCount;
}

int VArrayValue::AppendLong8(long long inValue)
{
    if (Insert(fCount + 1, 1))
        FromLong8(inValue, fCount);
    return fCount;
}

int VArrayValue::AppendReal(double inValue)
{
    if (Insert(fCount + 1, 1))
        FromReal(inValue, fCount);
    return fCount;
}

int VArrayValue::AppendDuration(const VDuration& inValue)
{
    if (Insert(fCount + 1, 1))
        FromDuration(inValue, fCount);
    return fCount;
}

int VArrayValue::AppendTime(const VTime& inValue)
{
    if (Insert(fCount + 1, 1))
        FromTime(inValue, fCount);
    return fCount;
}

int VArrayValue::AppendString(const VString& inValue)
{
    if (Insert(fCount + 1, 1))
        FromString(inValue, fCount);
    return fCount;
}

// ---------------------------------------------------------------------------
// Stream frame

VError VArrayValue::_WriteHeader(VStream* ioStream, int inParam) const
{
    if (inParam == kParamWithKind) {
        int kind = static_cast<int>(GetValueKind() & 0xFFFF);
        ioStream->PutLongs(&kind, 1);
    }
    int count = fCount;
    return ioStream->PutLongs(&count, 1);
}

VError VArrayValue::_CheckAvailable(VStream* ioStream, int inCount, long long inBytesNeeded)
{
    if (inCount < 0) {
        _ThrowError(kErrorFewerBytes);
        return kErrorFewerBytes;
    }
    long long remaining = ioStream->GetSize() - ioStream->GetPos();
    if (remaining >= 0 && inBytesNeeded > remaining) {
        _ThrowError(kErrorFewerBytes);
        return kErrorFewerBytes;
    }
    return VE_OK;
}

bool VArrayValue::_ResizeForRead(int inCount, VError& outError)
{
    outError = VE_OK;
    if (SetCount(inCount))
        return true;
    _ThrowError(kErrorMemory);
    outError = kErrorMemory;
    return false;
}

VError VArrayValue::_ReadHeaderAndResize(VStream* ioStream, long long inBytesPerElement, int& outCount)
{
    outCount = 0;
    int count = 0;
    int numbers = 1;
    ioStream->GetLongs(&count, &numbers);
    VError err = ioStream->GetLastError();
    if (err != VE_OK)
        return err;
    if (numbers != 1)
        return kErrorFewerBytes;
    err = _CheckAvailable(ioStream, count, static_cast<long long>(count) * inBytesPerElement);
    if (err != VE_OK)
        return err;
    if (!_ResizeForRead(count, err))
        return err;
    outCount = count;
    return VE_OK;
}

}  // namespace qelt
