#include "values/VArrayLong8.h"

#include <climits>

#include "files/VStream.h"
#include "kernel/VLong8.h"

namespace qelt {

VArrayLong8::VArrayLong8(int inCount) : VArrayValue(sizeof(long long)) { _InitCount(inCount); }

VArrayLong8::VArrayLong8(const VArrayLong8& inSource) : VArrayValue(sizeof(long long)) { Copy(inSource); }

VArrayLong8::~VArrayLong8() = default;

const VValueInfo* VArrayLong8::GetValueInfo() const { return &sInfo; }

VValue* VArrayLong8::Clone() const { return new VArrayLong8(*this); }

bool VArrayLong8::CanBeEvaluated() const { return true; }

unsigned short VArrayLong8::GetElemValueKind() const { return 5; }

long long VArrayLong8::GetLong8(int inPosition) const
{
    return ValidIndex(inPosition) ? _Elems()[inPosition - 1] : static_cast<long long>(0);
}

void VArrayLong8::FromLong8(long long inValue, int inPosition)
{
    if (ValidIndex(inPosition))
        _Elems()[inPosition - 1] = inValue;
}

void VArrayLong8::GetValue(VValueSingle& outValue, int inPosition) const { outValue.FromLong8(GetLong8(inPosition)); }

void VArrayLong8::FromValue(const VValueSingle& inValue, int inPosition) { FromLong8(inValue.GetLong8(), inPosition); }

VValueSingle* VArrayLong8::CloneValue(int inPosition) const
{
    VLong8* value = new VLong8();
    GetValue(*value, inPosition);
    return value;
}

CompareResult VArrayLong8::CompareTo(const VValueSingle& inValue, bool, int inPosition) const
{
    return _CompareScalars<long long>(GetLong8(inPosition), inValue.GetLong8());
}

int VArrayLong8::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return Find(inValue.GetLong8(), inStart, inForward, inMethod);
}

int VArrayLong8::Find(long long inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return _FindInBlock<long long>(_Elems(), fCount, inValue, inStart, inForward, inMethod);
}

int VArrayLong8::QuickFind(long long inValue) const { return _QuickFindInBlock<long long>(_Elems(), fCount, inValue); }

void VArrayLong8::Sort(int inFrom, int inTo, bool inDescending)
{
    if (inFrom < 1 || inFrom >= inTo || inTo > fCount)
        return;
    QSort<long long>(_Elems() + (inFrom - 1), inTo - inFrom + 1, inDescending);
}

void VArrayLong8::SwapElements(unsigned char* inData, int i, int j)
{
    long long* elems = reinterpret_cast<long long*>(inData);
    long long t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayLong8::CompareElements(unsigned char* inData, int i, int j)
{
    const long long* elems = reinterpret_cast<const long long*>(inData);
    return _CompareScalars<long long>(elems[i], elems[j]);
}

VError VArrayLong8::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    VError err = _ReadHeaderAndResize(ioStream, sizeof(long long), count);
    if (err != VE_OK || count == 0)
        return err;

    int read = count;
    ioStream->GetLong8s(reinterpret_cast<long long*>(fData), &read);
    return ioStream->GetLastError();
}

VError VArrayLong8::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    if (err == VE_OK && fCount > 0)
        ioStream->PutLong8s(reinterpret_cast<const long long*>(fData), fCount);
    return ioStream->GetLastError();
}

}  // namespace qelt
