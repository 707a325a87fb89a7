#include "values/VArrayDuration.h"

#include "files/VStream.h"
#include "values/VDuration.h"

namespace qelt {

VArrayDuration::VArrayDuration(int inCount) : VArrayValue(sizeof(long long)) { _InitCount(inCount); }

VArrayDuration::VArrayDuration(const VArrayDuration& inSource) : VArrayValue(sizeof(long long)) { Copy(inSource); }

VArrayDuration::~VArrayDuration() = default;

const VValueInfo* VArrayDuration::GetValueInfo() const { return &sInfo; }

VValue* VArrayDuration::Clone() const { return new VArrayDuration(*this); }

bool VArrayDuration::CanBeEvaluated() const { return true; }

unsigned short VArrayDuration::GetElemValueKind() const { return 9; }

void VArrayDuration::GetDuration(VDuration& outValue, int inPosition) const
{
    outValue.FromNbMilliseconds(ValidIndex(inPosition) ? _Elems()[inPosition - 1] : 0);
}

void VArrayDuration::FromDuration(const VDuration& inValue, int inPosition)
{
    if (ValidIndex(inPosition))
        _Elems()[inPosition - 1] = inValue.ConvertToMilliseconds();
}

void VArrayDuration::GetValue(VValueSingle& outValue, int inPosition) const
{
    VDuration element;
    GetDuration(element, inPosition);
    outValue.FromDuration(element);
}

void VArrayDuration::FromValue(const VValueSingle& inValue, int inPosition)
{
    VDuration value;
    inValue.GetDuration(value);
    FromDuration(value, inPosition);
}

CompareResult VArrayDuration::CompareTo(const VValueSingle& inValue, bool inDiacritical, int inPosition) const
{
    VDuration element;
    GetDuration(element, inPosition);
    return element.CompareTo(inValue, inDiacritical);
}

int VArrayDuration::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    VDuration value;
    inValue.GetDuration(value);
    return Find(value, inStart, inForward, inMethod);
}

int VArrayDuration::Find(const VDuration& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return _FindInBlock<long long>(_Elems(), fCount, inValue.ConvertToMilliseconds(), inStart, inForward, inMethod);
}

int VArrayDuration::QuickFind(const VDuration& inValue) const
{
    return _QuickFindInBlock<long long>(_Elems(), fCount, inValue.ConvertToMilliseconds());
}

VValueSingle* VArrayDuration::CloneValue(int inPosition) const
{
    VDuration* value = new VDuration();
    GetValue(*value, inPosition);
    return value;
}

void VArrayDuration::SwapElements(unsigned char* inData, int i, int j)
{
    long long* elems = reinterpret_cast<long long*>(inData);
    long long t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayDuration::CompareElements(unsigned char* inData, int i, int j)
{
    const long long* elems = reinterpret_cast<const long long*>(inData);
    return _CompareScalars<long long>(elems[i], elems[j]);
}

VError VArrayDuration::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    VError err = _ReadHeaderAndResize(ioStream, sizeof(long long), count);
    if (err != VE_OK || count == 0)
        return err;
    int read = count;
    ioStream->GetLong8s(reinterpret_cast<long long*>(fData), &read);
    return ioStream->GetLastError();
}

VError VArrayDuration::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    if (err == VE_OK && fCount > 0)
        ioStream->PutLong8s(reinterpret_cast<const long long*>(fData), fCount);
    return ioStream->GetLastError();
}

}  // namespace qelt
