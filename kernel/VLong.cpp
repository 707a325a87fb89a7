#include "kernel/VLong.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "values/VDuration.h"

namespace qelt {

VLong::VLong() : fValue(0)
{
}

VLong::VLong(int inValue) : fValue(inValue)
{
}

VLong::VLong(const int* inDataPtr, bool inClear) : fValue(0)
{
    if (!inClear)
        fValue = ReadRawScalar<int>(inDataPtr);
}

VLong::VLong(const VLong& inOther) = default;
VLong& VLong::operator=(const VLong& inOther) = default;
VLong::~VLong() = default;

void VLong::_Touch()
{
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

const VValueInfo* VLong::GetValueInfo() const
{
    return &sInfo;
}

VValue* VLong::Clone() const
{
    VLong* copy = new VLong(fValue);
    copy->_SetFlags(static_cast<unsigned char>((_GetFlags() & kFlagNull) | kFlagDirty));
    return copy;
}

void VLong::Clear()
{
    fValue = 0;
    _Touch();
}

bool VLong::CanBeEvaluated() const
{
    return true;
}

bool VLong::GetBoolean() const { return fValue != 0; }
signed char VLong::GetByte() const { return static_cast<signed char>(fValue); }
short VLong::GetWord() const { return static_cast<short>(fValue); }
int VLong::GetLong() const { return static_cast<int>(fValue); }
long long VLong::GetLong8() const { return static_cast<long long>(fValue); }
double VLong::GetReal() const { return static_cast<double>(fValue); }

void VLong::GetDuration(VDuration& outValue) const
{
    VValueSingle& target = outValue;
    target.FromLong(fValue);
}

void VLong::GetString(VString& outValue) const
{
    outValue.FromLong(fValue);
}

void VLong::GetValue(VValueSingle& outValue) const
{
    outValue.FromLong(fValue);
}

void VLong::FromBoolean(unsigned char inValue)
{
    fValue = static_cast<int>(inValue);
    _Touch();
}

void VLong::FromByte(signed char inValue)
{
    fValue = static_cast<int>(inValue);
    _Touch();
}

void VLong::FromWord(short inValue)
{
    fValue = static_cast<int>(inValue);
    _Touch();
}

void VLong::FromLong(int inValue)
{
    fValue = static_cast<int>(inValue);
    _Touch();
}

void VLong::FromLong8(long long inValue)
{
    fValue = static_cast<int>(inValue);
    _Touch();
}

void VLong::FromReal(double inValue)
{
    // NaN gives 0; reals beyond the intermediate integer's range give its bound.
    fValue = static_cast<int>(TruncateRealToLong(inValue));
    _Touch();
}

void VLong::FromDuration(const VDuration& inValue)
{
    const VValueSingle& source = inValue;
    SetNull(source.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = source.GetLong();
}

void VLong::FromString(const VString& inValue)
{
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = inValue.GetLong();
}

void VLong::FromValue(const VValueSingle& inValue)
{
    fValue = static_cast<int>(inValue.GetLong());
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

bool VLong::FromValueSameKind(const VValue* inValue)
{
    const VLong* other = static_cast<const VLong*>(inValue);
    fValue = other->fValue;
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

const void* VLong::LoadFromPtr(const void* inData, bool)
{
    fValue = ReadRawScalar<int>(inData);
    _Touch();
    return static_cast<const char*>(inData) + sizeof(int);
}

void* VLong::WriteToPtr(void* inData, bool, unsigned long) const
{
    std::memcpy(inData, &fValue, sizeof(int));
    return static_cast<char*>(inData) + sizeof(int);
}

unsigned long VLong::GetSpace(unsigned long long&, unsigned long) const
{
    return sizeof(int);
}

unsigned long VLong::GetStreamSpace() const
{
    return 4;
}

VError VLong::ReadFromStream(VStream* ioStream, int)
{
    int number = 0;
    int count = 1;
    ioStream->GetLongs(&number, &count);
    if (count == 1)
        fValue = number;
    return ioStream->GetLastError();
}

VError VLong::WriteToStream(VStream* ioStream, int) const
{
    return ioStream->PutLongs(&fValue, 1);
}

CompareResult VLong::CompareTo(const VValueSingle& inValue, bool) const
{
    return CompareRawScalars<int>(fValue, inValue.GetLong());
}

CompareResult VLong::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareRawScalars<int>(fValue, static_cast<const VLong*>(inValue)->fValue);
}

bool VLong::EqualToSameKind(const VValue* inValue, bool) const
{
    return fValue == static_cast<const VLong*>(inValue)->fValue;
}

CompareResult VLong::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareRawScalars<int>(fValue, ReadRawScalar<int>(inPtrToValueData));
}

bool VLong::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return fValue == ReadRawScalar<int>(inPtrToValueData);
}

CompareResult VLong::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue, false);
}

bool VLong::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

CompareResult VLong::CompareToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData, false);
}

bool VLong::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

VError VLong::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetNumber(static_cast<double>(fValue));
    return VE_OK;
}

VError VLong::FromJSONValue(const VJSONValue& inJSONValue)
{
    // The number is floored, then kept only when it fits the member exactly:
    // out-of-range numbers and NaN store 0 rather than an undefined cast.
    using Limits = std::numeric_limits<int>;
    const double floored = std::floor(inJSONValue.GetNumber());
    const double lowest = static_cast<double>(Limits::min());
    if (floored >= lowest && floored < -lowest)
        fValue = static_cast<int>(floored);
    else
        fValue = 0;
    SetNull(inJSONValue.GetType() == JSON_null);
    SetDirty(true);
    return VE_OK;
}

}  // namespace qelt
