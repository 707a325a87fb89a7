#include "values/VArrayLong.h"

#include <climits>

#include "files/VStream.h"
#include "kernel/VLong.h"

namespace qelt {

VArrayLong::VArrayLong(int inCount) : VArrayValue(sizeof(int)) { _InitCount(inCount); }

VArrayLong::VArrayLong(const VArrayLong& inSource) : VArrayValue(sizeof(int)) { Copy(inSource); }

VArrayLong& VArrayLong::operator=(const VArrayLong& inSource)
{
    Copy(inSource);
    return *this;
}

VArrayLong::~VArrayLong() = default;

const VValueInfo* VArrayLong::GetValueInfo() const { return &sInfo; }

VValue* VArrayLong::Clone() const { return new VArrayLong(*this); }

bool VArrayLong::CanBeEvaluated() const { return true; }

unsigned short VArrayLong::GetElemValueKind() const { return 4; }

int VArrayLong::GetLong(int inPosition) const
{
    return ValidIndex(inPosition) ? _Elems()[inPosition - 1] : static_cast<int>(0);
}

void VArrayLong::FromLong(int inValue, int inPosition)
{
    if (ValidIndex(inPosition))
        _Elems()[inPosition - 1] = inValue;
}

void VArrayLong::GetValue(VValueSingle& outValue, int inPosition) const { outValue.FromLong(GetLong(inPosition)); }

void VArrayLong::FromValue(const VValueSingle& inValue, int inPosition) { FromLong(inValue.GetLong(), inPosition); }

VValueSingle* VArrayLong::CloneValue(int inPosition) const
{
    VLong* value = new VLong();
    GetValue(*value, inPosition);
    return value;
}

CompareResult VArrayLong::CompareTo(const VValueSingle& inValue, bool, int inPosition) const
{
    return _CompareScalars<int>(GetLong(inPosition), inValue.GetLong());
}

int VArrayLong::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return Find(inValue.GetLong(), inStart, inForward, inMethod);
}

int VArrayLong::Find(int inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return _FindInBlock<int>(_Elems(), fCount, inValue, inStart, inForward, inMethod);
}

int VArrayLong::QuickFind(int inValue) const { return _QuickFindInBlock<int>(_Elems(), fCount, inValue); }

int VArrayLong::GetMax() const
{
    int result = INT_MIN;
    const int* elems = _Elems();
    for (int i = 0; i < fCount; ++i) {
        if (elems[i] > result)
            result = elems[i];
    }
    return result;
}

int VArrayLong::GetMin() const
{
    int result = INT_MAX;
    const int* elems = _Elems();
    for (int i = 0; i < fCount; ++i) {
        if (elems[i] < result)
            result = elems[i];
    }
    return result;
}

void VArrayLong::Sort(int inFrom, int inTo, bool inDescending)
{
    if (inFrom < 1 || inFrom >= inTo || inTo > fCount)
        return;
    QSort<int>(_Elems() + (inFrom - 1), inTo - inFrom + 1, inDescending);
}

void VArrayLong::SwapElements(unsigned char* inData, int i, int j)
{
    int* elems = reinterpret_cast<int*>(inData);
    int t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayLong::CompareElements(unsigned char* inData, int i, int j)
{
    const int* elems = reinterpret_cast<const int*>(inData);
    return _CompareScalars<int>(elems[i], elems[j]);
}

VError VArrayLong::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    VError err = _ReadHeaderAndResize(ioStream, sizeof(int), count);
    if (err != VE_OK || count == 0)
        return err;

    int read = count;
    ioStream->GetLongs(reinterpret_cast<int*>(fData), &read);
    return ioStream->GetLastError();
}

VError VArrayLong::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    if (err == VE_OK && fCount > 0)
        ioStream->PutLongs(reinterpret_cast<const int*>(fData), fCount);
    return ioStream->GetLastError();
}

}  // namespace qelt
