#include "values/VArrayByte.h"

#include <climits>

#include "files/VStream.h"
#include "kernel/VByte.h"

namespace qelt {

VArrayByte::VArrayByte(int inCount) : VArrayValue(sizeof(signed char)) { _InitCount(inCount); }

VArrayByte::VArrayByte(const VArrayByte& inSource) : VArrayValue(sizeof(signed char)) { Copy(inSource); }

VArrayByte::~VArrayByte() = default;

const VValueInfo* VArrayByte::GetValueInfo() const { return &sInfo; }

VValue* VArrayByte::Clone() const { return new VArrayByte(*this); }

bool VArrayByte::CanBeEvaluated() const { return true; }

unsigned short VArrayByte::GetElemValueKind() const { return 2; }

signed char VArrayByte::GetByte(int inPosition) const
{
    return ValidIndex(inPosition) ? _Elems()[inPosition - 1] : static_cast<signed char>(0);
}

void VArrayByte::FromByte(signed char inValue, int inPosition)
{
    if (ValidIndex(inPosition))
        _Elems()[inPosition - 1] = inValue;
}

void VArrayByte::GetValue(VValueSingle& outValue, int inPosition) const { outValue.FromByte(GetByte(inPosition)); }

void VArrayByte::FromValue(const VValueSingle& inValue, int inPosition) { FromByte(inValue.GetByte(), inPosition); }

VValueSingle* VArrayByte::CloneValue(int inPosition) const
{
    VByte* value = new VByte();
    GetValue(*value, inPosition);
    return value;
}

CompareResult VArrayByte::CompareTo(const VValueSingle& inValue, bool, int inPosition) const
{
    return _CompareScalars<signed char>(GetByte(inPosition), inValue.GetByte());
}

int VArrayByte::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return Find(static_cast<signed char>(inValue.GetWord() & 0xFF), inStart, inForward, inMethod);
}

int VArrayByte::Find(signed char inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return _FindInBlock<signed char>(_Elems(), fCount, inValue, inStart, inForward, inMethod);
}

int VArrayByte::QuickFind(signed char inValue) const { return _QuickFindInBlock<signed char>(_Elems(), fCount, inValue); }

signed char VArrayByte::GetMax() const
{
    signed char result = -128;
    const signed char* elems = _Elems();
    for (int i = 0; i < fCount; ++i) {
        if (elems[i] > result)
            result = elems[i];
    }
    return result;
}

signed char VArrayByte::GetMin() const
{
    signed char result = 127;
    const signed char* elems = _Elems();
    for (int i = 0; i < fCount; ++i) {
        if (elems[i] < result)
            result = elems[i];
    }
    return result;
}

void VArrayByte::Sort(int inFrom, int inTo, bool inDescending)
{
    if (inFrom < 1 || inFrom >= inTo || inTo > fCount)
        return;
    QSort<signed char>(_Elems() + (inFrom - 1), inTo - inFrom + 1, inDescending);
}

void VArrayByte::SwapElements(unsigned char* inData, int i, int j)
{
    signed char* elems = reinterpret_cast<signed char*>(inData);
    signed char t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayByte::CompareElements(unsigned char* inData, int i, int j)
{
    const signed char* elems = reinterpret_cast<const signed char*>(inData);
    return _CompareScalars<signed char>(elems[i], elems[j]);
}

VError VArrayByte::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    VError err = _ReadHeaderAndResize(ioStream, sizeof(signed char), count);
    if (err != VE_OK || count == 0)
        return err;

    ioStream->GetData(fData, static_cast<unsigned long>(count));
    return ioStream->GetLastError();
}

VError VArrayByte::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    if (err == VE_OK && fCount > 0)
        ioStream->PutData(fData, static_cast<unsigned long>(fCount));
    return ioStream->GetLastError();
}

}  // namespace qelt
