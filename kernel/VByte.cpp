#include "kernel/VByte.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "values/VDuration.h"

namespace qelt {

VByte::VByte() : fValue(0)
{
}

VByte::VByte(signed char inValue) : fValue(inValue)
{
}

VByte::VByte(const signed char* inDataPtr, bool inClear) : fValue(0)
{
    if (!inClear)
        fValue = ReadRawScalar<signed char>(inDataPtr);
}

VByte::VByte(const VByte& inOther) = default;
VByte& VByte::operator=(const VByte& inOther) = default;
VByte::~VByte() = default;

void VByte::_Touch()
{
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

const VValueInfo* VByte::GetValueInfo() const
{
    return &sInfo;
}

VValue* VByte::Clone() const
{
    VByte* copy = new VByte(fValue);
    copy->_SetFlags(static_cast<unsigned char>((_GetFlags() & kFlagNull) | kFlagDirty));
    return copy;
}

void VByte::Clear()
{
    fValue = 0;
    _Touch();
}

bool VByte::CanBeEvaluated() const
{
    return true;
}

bool VByte::GetBoolean() const { return fValue != 0; }
signed char VByte::GetByte() const { return static_cast<signed char>(fValue); }
short VByte::GetWord() const { return static_cast<short>(fValue); }
int VByte::GetLong() const { return static_cast<int>(fValue); }
long long VByte::GetLong8() const { return static_cast<long long>(fValue); }
double VByte::GetReal() const { return static_cast<double>(fValue); }

void VByte::GetDuration(VDuration& outValue) const
{
    VValueSingle& target = outValue;
    target.FromWord(fValue);
}

void VByte::GetString(VString& outValue) const
{
    outValue.FromWord(fValue);
}

void VByte::GetValue(VValueSingle& outValue) const
{
    outValue.FromWord(fValue);
}

void VByte::FromBoolean(unsigned char inValue)
{
    fValue = static_cast<signed char>(inValue);
    _Touch();
}

void VByte::FromByte(signed char inValue)
{
    fValue = static_cast<signed char>(inValue);
    _Touch();
}

void VByte::FromWord(short inValue)
{
    fValue = static_cast<signed char>(inValue);
    _Touch();
}

void VByte::FromLong(int inValue)
{
    fValue = static_cast<signed char>(inValue);
    _Touch();
}

void VByte::FromLong8(long long inValue)
{
    fValue = static_cast<signed char>(inValue);
    _Touch();
}

void VByte::FromReal(double inValue)
{
    // NaN gives 0; reals beyond the intermediate integer's range give its bound.
    fValue = static_cast<signed char>(TruncateRealToLong(inValue));
    _Touch();
}

void VByte::FromDuration(const VDuration& inValue)
{
    const VValueSingle& source = inValue;
    SetNull(source.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = static_cast<signed char>(source.GetWord());
}

void VByte::FromString(const VString& inValue)
{
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = static_cast<signed char>(inValue.GetWord());
}

void VByte::FromValue(const VValueSingle& inValue)
{
    fValue = static_cast<signed char>(inValue.GetWord());
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

bool VByte::FromValueSameKind(const VValue* inValue)
{
    const VByte* other = static_cast<const VByte*>(inValue);
    fValue = other->fValue;
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

const void* VByte::LoadFromPtr(const void* inData, bool)
{
    fValue = ReadRawScalar<signed char>(inData);
    _Touch();
    return static_cast<const char*>(inData) + sizeof(signed char);
}

void* VByte::WriteToPtr(void* inData, bool, unsigned long) const
{
    std::memcpy(inData, &fValue, sizeof(signed char));
    return static_cast<char*>(inData) + sizeof(signed char);
}

unsigned long VByte::GetSpace(unsigned long long&, unsigned long) const
{
    return sizeof(signed char);
}

unsigned long VByte::GetStreamSpace() const
{
    return 2;
}

VError VByte::ReadFromStream(VStream* ioStream, int)
{
    short word = 0;
    int count = 1;
    ioStream->GetWords(&word, &count);
    if (count == 1)
        fValue = static_cast<signed char>(word & 0xFF);
    return ioStream->GetLastError();
}

VError VByte::WriteToStream(VStream* ioStream, int) const
{
    short word = fValue;
    return ioStream->PutWords(&word, 1);
}

CompareResult VByte::CompareTo(const VValueSingle& inValue, bool) const
{
    return CompareRawScalars<int>(fValue, inValue.GetLong());
}

CompareResult VByte::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareRawScalars<signed char>(fValue, static_cast<const VByte*>(inValue)->fValue);
}

bool VByte::EqualToSameKind(const VValue* inValue, bool) const
{
    return fValue == static_cast<const VByte*>(inValue)->fValue;
}

CompareResult VByte::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareRawScalars<signed char>(fValue, ReadRawScalar<signed char>(inPtrToValueData));
}

bool VByte::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return fValue == ReadRawScalar<signed char>(inPtrToValueData);
}

CompareResult VByte::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue, false);
}

bool VByte::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

CompareResult VByte::CompareToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData, false);
}

bool VByte::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

VError VByte::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetNumber(static_cast<double>(fValue));
    return VE_OK;
}

VError VByte::FromJSONValue(const VJSONValue& inJSONValue)
{
    // The number is floored, then kept only when it fits the member exactly:
    // out-of-range numbers and NaN store 0 rather than an undefined cast.
    using Limits = std::numeric_limits<signed char>;
    const double floored = std::floor(inJSONValue.GetNumber());
    const double lowest = static_cast<double>(Limits::min());
    if (floored >= lowest && floored < -lowest)
        fValue = static_cast<signed char>(floored);
    else
        fValue = 0;
    SetNull(inJSONValue.GetType() == JSON_null);
    SetDirty(true);
    return VE_OK;
}

}  // namespace qelt
