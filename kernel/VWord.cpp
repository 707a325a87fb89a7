#include "kernel/VWord.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "values/VDuration.h"

namespace qelt {

VWord::VWord() : fValue(0)
{
}

VWord::VWord(short inValue) : fValue(inValue)
{
}

VWord::VWord(const short* inDataPtr, bool inClear) : fValue(0)
{
    if (!inClear)
        fValue = ReadRawScalar<short>(inDataPtr);
}

VWord::VWord(const VWord& inOther) = default;
VWord& VWord::operator=(const VWord& inOther) = default;
VWord::~VWord() = default;

void VWord::_Touch()
{
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

const VValueInfo* VWord::GetValueInfo() const
{
    return &sInfo;
}

VValue* VWord::Clone() const
{
    VWord* copy = new VWord(fValue);
    copy->_SetFlags(static_cast<unsigned char>((_GetFlags() & kFlagNull) | kFlagDirty));
    return copy;
}

void VWord::Clear()
{
    fValue = 0;
    _Touch();
}

bool VWord::CanBeEvaluated() const
{
    return true;
}

bool VWord::GetBoolean() const { return fValue != 0; }
signed char VWord::GetByte() const { return static_cast<signed char>(fValue); }
short VWord::GetWord() const { return static_cast<short>(fValue); }
int VWord::GetLong() const { return static_cast<int>(fValue); }
long long VWord::GetLong8() const { return static_cast<long long>(fValue); }
double VWord::GetReal() const { return static_cast<double>(fValue); }

void VWord::GetDuration(VDuration& outValue) const
{
    VValueSingle& target = outValue;
    target.FromWord(fValue);
}

void VWord::GetString(VString& outValue) const
{
    outValue.FromWord(fValue);
}

void VWord::GetValue(VValueSingle& outValue) const
{
    outValue.FromWord(fValue);
}

void VWord::FromBoolean(unsigned char inValue)
{
    fValue = static_cast<short>(inValue);
    _Touch();
}

void VWord::FromByte(signed char inValue)
{
    fValue = static_cast<short>(inValue);
    _Touch();
}

void VWord::FromWord(short inValue)
{
    fValue = static_cast<short>(inValue);
    _Touch();
}

void VWord::FromLong(int inValue)
{
    fValue = static_cast<short>(inValue);
    _Touch();
}

void VWord::FromLong8(long long inValue)
{
    fValue = static_cast<short>(inValue);
    _Touch();
}

void VWord::FromReal(double inValue)
{
    // NaN gives 0; reals beyond the intermediate integer's range give its bound.
    fValue = static_cast<short>(TruncateRealToLong(inValue));
    _Touch();
}

void VWord::FromDuration(const VDuration& inValue)
{
    const VValueSingle& source = inValue;
    SetNull(source.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = source.GetWord();
}

void VWord::FromString(const VString& inValue)
{
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = inValue.GetWord();
}

void VWord::FromValue(const VValueSingle& inValue)
{
    fValue = static_cast<short>(inValue.GetWord());
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

bool VWord::FromValueSameKind(const VValue* inValue)
{
    const VWord* other = static_cast<const VWord*>(inValue);
    fValue = other->fValue;
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

const void* VWord::LoadFromPtr(const void* inData, bool)
{
    fValue = ReadRawScalar<short>(inData);
    _Touch();
    return static_cast<const char*>(inData) + sizeof(short);
}

void* VWord::WriteToPtr(void* inData, bool, unsigned long) const
{
    std::memcpy(inData, &fValue, sizeof(short));
    return static_cast<char*>(inData) + sizeof(short);
}

unsigned long VWord::GetSpace(unsigned long long&, unsigned long) const
{
    return sizeof(short);
}

unsigned long VWord::GetStreamSpace() const
{
    return 2;
}

VError VWord::ReadFromStream(VStream* ioStream, int)
{
    short word = 0;
    int count = 1;
    ioStream->GetWords(&word, &count);
    if (count == 1)
        fValue = word;
    return ioStream->GetLastError();
}

VError VWord::WriteToStream(VStream* ioStream, int) const
{
    return ioStream->PutWords(&fValue, 1);
}

CompareResult VWord::CompareTo(const VValueSingle& inValue, bool) const
{
    return CompareRawScalars<int>(fValue, inValue.GetLong());
}

CompareResult VWord::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareRawScalars<short>(fValue, static_cast<const VWord*>(inValue)->fValue);
}

bool VWord::EqualToSameKind(const VValue* inValue, bool) const
{
    return fValue == static_cast<const VWord*>(inValue)->fValue;
}

CompareResult VWord::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareRawScalars<short>(fValue, ReadRawScalar<short>(inPtrToValueData));
}

bool VWord::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return fValue == ReadRawScalar<short>(inPtrToValueData);
}

CompareResult VWord::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue, false);
}

bool VWord::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

CompareResult VWord::CompareToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData, false);
}

bool VWord::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

VError VWord::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetNumber(static_cast<double>(fValue));
    return VE_OK;
}

VError VWord::FromJSONValue(const VJSONValue& inJSONValue)
{
    // The number is floored, then kept only when it fits the member exactly:
    // out-of-range numbers and NaN store 0 rather than an undefined cast.
    using Limits = std::numeric_limits<short>;
    const double floored = std::floor(inJSONValue.GetNumber());
    const double lowest = static_cast<double>(Limits::min());
    if (floored >= lowest && floored < -lowest)
        fValue = static_cast<short>(floored);
    else
        fValue = 0;
    SetNull(inJSONValue.GetType() == JSON_null);
    SetDirty(true);
    return VE_OK;
}

}  // namespace qelt
