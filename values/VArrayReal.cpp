#include "values/VArrayReal.h"

#include <climits>

#include "files/VStream.h"
#include "kernel/VReal.h"

namespace qelt {

VArrayReal::VArrayReal(int inCount) : VArrayValue(sizeof(double)) { _InitCount(inCount); }

VArrayReal::VArrayReal(const VArrayReal& inSource) : VArrayValue(sizeof(double)) { Copy(inSource); }

VArrayReal::~VArrayReal() = default;

const VValueInfo* VArrayReal::GetValueInfo() const { return &sInfo; }

VValue* VArrayReal::Clone() const { return new VArrayReal(*this); }

bool VArrayReal::CanBeEvaluated() const { return true; }

unsigned short VArrayReal::GetElemValueKind() const { return 6; }

double VArrayReal::GetReal(int inPosition) const
{
    return ValidIndex(inPosition) ? _Elems()[inPosition - 1] : static_cast<double>(0);
}

void VArrayReal::FromReal(double inValue, int inPosition)
{
    if (ValidIndex(inPosition))
        _Elems()[inPosition - 1] = inValue;
}

void VArrayReal::GetValue(VValueSingle& outValue, int inPosition) const { outValue.FromReal(GetReal(inPosition)); }

void VArrayReal::FromValue(const VValueSingle& inValue, int inPosition) { FromReal(inValue.GetReal(), inPosition); }

VValueSingle* VArrayReal::CloneValue(int inPosition) const
{
    VReal* value = new VReal();
    GetValue(*value, inPosition);
    return value;
}

CompareResult VArrayReal::CompareTo(const VValueSingle& inValue, bool, int inPosition) const
{
    return _CompareScalars<double>(GetReal(inPosition), inValue.GetReal());
}

int VArrayReal::Find(const VValueSingle& inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return Find(inValue.GetReal(), inStart, inForward, inMethod);
}

int VArrayReal::Find(double inValue, int inStart, unsigned char inForward, CompareMethod inMethod)
{
    return _FindInBlock<double>(_Elems(), fCount, inValue, inStart, inForward, inMethod);
}

int VArrayReal::QuickFind(double inValue) const { return _QuickFindInBlock<double>(_Elems(), fCount, inValue); }

double VArrayReal::GetSum() const
{
    double sum = 0.0;
    const double* elems = _Elems();
    for (int i = 0; i < fCount; ++i)
        sum += elems[i];
    return sum;
}

double VArrayReal::GetAverage() const { return fCount > 0 ? GetSum() / fCount : 0.0; }

double VArrayReal::GetSquareSum() const
{
    if (fCount <= 0)
        return 0.0;
    double average = GetAverage();
    double sum = 0.0;
    const double* elems = _Elems();
    for (int i = 0; i < fCount; ++i)
        sum += (elems[i] - average) * (elems[i] - average);
    return sum;
}

double VArrayReal::GetStdDev() const { return fCount > 0 ? GetSquareSum() / fCount : 0.0; }

void VArrayReal::Sort(int inFrom, int inTo, bool inDescending)
{
    if (inFrom < 1 || inFrom >= inTo || inTo > fCount)
        return;
    QSort<double>(_Elems() + (inFrom - 1), inTo - inFrom + 1, inDescending);
}

void VArrayReal::SwapElements(unsigned char* inData, int i, int j)
{
    double* elems = reinterpret_cast<double*>(inData);
    double t = elems[i];
    elems[i] = elems[j];
    elems[j] = t;
}

CompareResult VArrayReal::CompareElements(unsigned char* inData, int i, int j)
{
    const double* elems = reinterpret_cast<const double*>(inData);
    return _CompareScalars<double>(elems[i], elems[j]);
}

VError VArrayReal::ReadFromStream(VStream* ioStream, int)
{
    int count = 0;
    VError err = _ReadHeaderAndResize(ioStream, sizeof(double), count);
    if (err != VE_OK || count == 0)
        return err;

    int read = count;
    ioStream->GetReals(reinterpret_cast<double*>(fData), &read);
    return ioStream->GetLastError();
}

VError VArrayReal::WriteToStream(VStream* ioStream, int inParam) const
{
    VError err = _WriteHeader(ioStream, inParam);
    if (err == VE_OK && fCount > 0)
        ioStream->PutReals(reinterpret_cast<const double*>(fData), fCount);
    return ioStream->GetLastError();
}

}  // namespace qelt
