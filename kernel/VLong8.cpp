#include "kernel/VLong8.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "values/VDuration.h"

namespace qelt {

VLong8::VLong8() : fValue(0)
{
}

VLong8::VLong8(long long inValue) : fValue(inValue)
{
}

VLong8::VLong8(const long long* inDataPtr, bool inClear) : fValue(0)
{
    if (!inClear)
        fValue = ReadRawScalar<long long>(inDataPtr);
}

VLong8::VLong8(const VLong8& inOther) = default;
VLong8& VLong8::operator=(const VLong8& inOther) = default;
VLong8::~VLong8() = default;

void VLong8::_Touch()
{
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

const VValueInfo* VLong8::GetValueInfo() const
{
    return &sInfo;
}

VValue* VLong8::Clone() const
{
    VLong8* copy = new VLong8(fValue);
    copy->_SetFlags(static_cast<unsigned char>((_GetFlags() & kFlagNull) | kFlagDirty));
    return copy;
}

void VLong8::Clear()
{
    fValue = 0;
    _Touch();
}

bool VLong8::CanBeEvaluated() const
{
    return true;
}

bool VLong8::GetBoolean() const { return fValue != 0; }
signed char VLong8::GetByte() const { return static_cast<signed char>(fValue); }
short VLong8::GetWord() const { return static_cast<short>(fValue); }
int VLong8::GetLong() const { return static_cast<int>(fValue); }
long long VLong8::GetLong8() const { return static_cast<long long>(fValue); }
double VLong8::GetReal() const { return static_cast<double>(fValue); }

void VLong8::GetDuration(VDuration& outValue) const
{
    VValueSingle& target = outValue;
    target.FromLong8(fValue);
}

void VLong8::GetString(VString& outValue) const
{
    outValue.FromLong8(fValue);
}

void VLong8::GetValue(VValueSingle& outValue) const
{
    outValue.FromLong8(fValue);
}

void VLong8::FromBoolean(unsigned char inValue)
{
    fValue = static_cast<long long>(inValue);
    _Touch();
}

void VLong8::FromByte(signed char inValue)
{
    fValue = static_cast<long long>(inValue);
    _Touch();
}

void VLong8::FromWord(short inValue)
{
    fValue = static_cast<long long>(inValue);
    _Touch();
}

void VLong8::FromLong(int inValue)
{
    fValue = static_cast<long long>(inValue);
    _Touch();
}

void VLong8::FromLong8(long long inValue)
{
    fValue = static_cast<long long>(inValue);
    _Touch();
}

void VLong8::FromReal(double inValue)
{
    // NaN gives 0; reals beyond the intermediate integer's range give its bound.
    fValue = static_cast<long long>(TruncateRealToLong8(inValue));
    _Touch();
}

void VLong8::FromDuration(const VDuration& inValue)
{
    const VValueSingle& source = inValue;
    SetNull(source.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = source.GetLong8();
}

void VLong8::FromString(const VString& inValue)
{
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    // A null string leaves the number as it was.
    if (!inValue.IsNull())
        fValue = inValue.GetLong8();
}

void VLong8::FromValue(const VValueSingle& inValue)
{
    fValue = static_cast<long long>(inValue.GetLong8());
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

bool VLong8::FromValueSameKind(const VValue* inValue)
{
    const VLong8* other = static_cast<const VLong8*>(inValue);
    fValue = other->fValue;
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

const void* VLong8::LoadFromPtr(const void* inData, bool)
{
    fValue = ReadRawScalar<long long>(inData);
    _Touch();
    return static_cast<const char*>(inData) + sizeof(long long);
}

void* VLong8::WriteToPtr(void* inData, bool, unsigned long) const
{
    std::memcpy(inData, &fValue, sizeof(long long));
    return static_cast<char*>(inData) + sizeof(long long);
}

unsigned long VLong8::GetSpace(unsigned long long&, unsigned long) const
{
    return sizeof(long long);
}

unsigned long VLong8::GetStreamSpace() const
{
    return 8;
}

VError VLong8::ReadFromStream(VStream* ioStream, int)
{
    long long number = 0;
    int count = 1;
    ioStream->GetLong8s(&number, &count);
    if (count == 1)
        fValue = number;
    return ioStream->GetLastError();
}

VError VLong8::WriteToStream(VStream* ioStream, int) const
{
    return ioStream->PutLong8s(&fValue, 1);
}

CompareResult VLong8::CompareTo(const VValueSingle& inValue, bool) const
{
    return CompareRawScalars<long long>(fValue, inValue.GetLong8());
}

CompareResult VLong8::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareRawScalars<long long>(fValue, static_cast<const VLong8*>(inValue)->fValue);
}

bool VLong8::EqualToSameKind(const VValue* inValue, bool) const
{
    return fValue == static_cast<const VLong8*>(inValue)->fValue;
}

CompareResult VLong8::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareRawScalars<long long>(fValue, ReadRawScalar<long long>(inPtrToValueData));
}

bool VLong8::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return fValue == ReadRawScalar<long long>(inPtrToValueData);
}

CompareResult VLong8::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue, false);
}

bool VLong8::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

CompareResult VLong8::CompareToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData, false);
}

bool VLong8::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

VError VLong8::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetNumber(static_cast<double>(fValue));
    return VE_OK;
}

VError VLong8::FromJSONValue(const VJSONValue& inJSONValue)
{
    // The number is floored, then kept only when it fits the member exactly:
    // out-of-range numbers and NaN store 0 rather than an undefined cast.
    using Limits = std::numeric_limits<long long>;
    const double floored = std::floor(inJSONValue.GetNumber());
    const double lowest = static_cast<double>(Limits::min());
    if (floored >= lowest && floored < -lowest)
        fValue = static_cast<long long>(floored);
    else
        fValue = 0;
    SetNull(inJSONValue.GetType() == JSON_null);
    SetDirty(true);
    return VE_OK;
}

}  // namespace qelt
