#include "values/VArrayTime.h"

#include "files/VStream.h"
#include "values/VTime.h"

namespace qelt {

VArrayTime::VArrayTime(int inCount) : VArrayValue(sizeof(unsigned long long)) { _InitCount(inCount); }

VArrayTime::VArrayTime(const VArrayTime& inSource) : VArrayValue(sizeof(unsigned long long)) { Copy(inSource); }

VArrayTime::~VArrayTime() = default;

const VValueInfo* VArrayTime::GetValueInfo() const { return &sInfo; }

VValue* VArrayTime::Clone() const { return new VArrayTime(*this); }

bool VArrayTime::CanBeEvaluated() const { return true; }

unsigned short VArrayTime::GetElemValueKind() const { return 8; }

void VArrayTime::GetTime(VTime& outValue, int inPosition) const
{
    if (ValidIndex(inPosition))
        outValue.FromStamp(_Elems()[inPosition - 1]);
}

void VArrayTime::FromTime(const VTime& inValue, int inPosition)
{
    if (ValidIndex(inPosition))
        _Elems()[inPosition - 1] = inValue.GetStamp();
}

void VArrayTime::GetValue(VValueSingle& outValue, int inPosition) const
{
    VTime element;
    GetTime(element, inPosition);
    outValue.FromTime(element);
}

void VArrayTime::FromValue(const VValueSingle& inValue, int inPosition)
{
    VTime value;
    value.FromValue(inValue);
    FromTime(value, inPosition);
}

CompareResult VArrayTime::CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const
{
    VTime element;
    if (ValidIndex(inPosition))
        element.FromStamp(_Elems()[inPosition - 1]);
    else
        element.FromStamp(0);
    return element.CompareTo(inValue, inDiacritical);
}

int VArrayTime::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    VTime value;
    value.FromValue(inValue);
    return Find(value, inStart, inForward, inMethod);
}

int VArrayTime::Find(const VTime& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return _FindInBlock<unsigned long long>(_Elems(), fCount, inValue.GetStamp(), inStart, inForward, inMethod);
}

VValueSingle* VArrayTime::CloneValue(int inPosition) const
{
    VTime* value = new VTime();
    GetValue(*value, inPosition);
    return value;
}

void VArrayTime::SwapElements(unsigned char* inData, int i, int j)
{
    unsigned long long* elems = reinterpret_cast<unsigned long long*>(inData);
    unsigned long long t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayTime::CompareElements(unsigned char* inData, int i, int j)
{
    const unsigned long long* elems = reinterpret_cast<const unsigned long long*>(inData);
    return _CompareScalars<unsigned long long>(elems[i], elems[j]);
}

VError VArrayTime::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    VError err = _ReadHeaderAndResize(ioStream, sizeof(unsigned long long), count);
    if (err != VE_OK || count == 0)
        return err;
    int read = count;
    ioStream->GetLong8s(reinterpret_cast<long long*>(fData), &read);
    return ioStream->GetLastError();
}

VError VArrayTime::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    if (err == VE_OK && fCount > 0)
        ioStream->PutLong8s(reinterpret_cast<const long long*>(fData), fCount);
    return ioStream->GetLastError();
}

}  // namespace qelt
