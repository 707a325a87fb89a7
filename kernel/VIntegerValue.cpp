#include "kernel/VIntegerValue.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VByte.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VString.h"
#include "kernel/VValueInfo_scalar.h"
#include "kernel/VWord.h"
#include "values/VDuration.h"

namespace qelt {

namespace {

// Hands a number to another value through the setter of its width.
template <typename N, class TARGET>
void PutInteger(TARGET& outTarget, N inNumber)
{
    if constexpr (std::is_same_v<N, short>)
        outTarget.FromWord(inNumber);
    else if constexpr (std::is_same_v<N, int>)
        outTarget.FromLong(inNumber);
    else
        outTarget.FromLong8(inNumber);
}

// Takes a number from another value through the getter of the width N.
template <typename N, class SOURCE>
N GetInteger(const SOURCE& inSource)
{
    if constexpr (std::is_same_v<N, short>)
        return inSource.GetWord();
    else if constexpr (std::is_same_v<N, int>)
        return inSource.GetLong();
    else
        return inSource.GetLong8();
}

// Truncates a real toward zero through the 32-bit bounds, or the 64-bit ones
// for a 64-bit N; NaN gives 0.
template <typename N>
N TruncateReal(double inValue)
{
    if constexpr (std::is_same_v<N, long long>)
        return TruncateRealToLong8(inValue);
    else
        return TruncateRealToLong(inValue);
}

}  // namespace

template <class DERIVED, typename T>
VIntegerValue<DERIVED, T>::VIntegerValue(const T* inDataPtr, bool inClear) : fValue(0)
{
    if (!inClear)
        fValue = ReadRawScalar<T>(inDataPtr);
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::_Touch()
{
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

template <class DERIVED, typename T>
const VValueInfo* VIntegerValue<DERIVED, T>::GetValueInfo() const
{
    return &DERIVED::sInfo;
}

template <class DERIVED, typename T>
VValue* VIntegerValue<DERIVED, T>::Clone() const
{
    DERIVED* copy = new DERIVED(fValue);
    copy->_SetFlags(static_cast<unsigned char>((_GetFlags() & kFlagNull) | kFlagDirty));
    return copy;
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::Clear()
{
    fValue = 0;
    _Touch();
}

template <class DERIVED, typename T>
bool VIntegerValue<DERIVED, T>::CanBeEvaluated() const
{
    return true;
}

template <class DERIVED, typename T>
bool VIntegerValue<DERIVED, T>::GetBoolean() const
{
    return fValue != 0;
}

template <class DERIVED, typename T>
signed char VIntegerValue<DERIVED, T>::GetByte() const
{
    return static_cast<signed char>(fValue);
}

template <class DERIVED, typename T>
short VIntegerValue<DERIVED, T>::GetWord() const
{
    return static_cast<short>(fValue);
}

template <class DERIVED, typename T>
int VIntegerValue<DERIVED, T>::GetLong() const
{
    return static_cast<int>(fValue);
}

template <class DERIVED, typename T>
long long VIntegerValue<DERIVED, T>::GetLong8() const
{
    return static_cast<long long>(fValue);
}

template <class DERIVED, typename T>
double VIntegerValue<DERIVED, T>::GetReal() const
{
    return static_cast<double>(fValue);
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::GetDuration(VDuration& outValue) const
{
    VValueSingle& target = outValue;
    PutInteger<WideType>(target, fValue);
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::GetString(VString& outValue) const
{
    PutInteger<WideType>(outValue, fValue);
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::GetValue(VValueSingle& outValue) const
{
    PutInteger<WideType>(outValue, fValue);
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromBoolean(unsigned char inValue)
{
    fValue = static_cast<T>(inValue);
    _Touch();
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromByte(signed char inValue)
{
    fValue = static_cast<T>(inValue);
    _Touch();
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromWord(short inValue)
{
    fValue = static_cast<T>(inValue);
    _Touch();
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromLong(int inValue)
{
    fValue = static_cast<T>(inValue);
    _Touch();
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromLong8(long long inValue)
{
    fValue = static_cast<T>(inValue);
    _Touch();
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromReal(double inValue)
{
    // NaN gives 0; reals beyond the intermediate integer's range give its bound.
    fValue = static_cast<T>(TruncateReal<CompareType>(inValue));
    _Touch();
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromDuration(const VDuration& inValue)
{
    const VValueSingle& source = inValue;
    SetNull(source.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = static_cast<T>(GetInteger<WideType>(source));
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromString(const VString& inValue)
{
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = static_cast<T>(GetInteger<WideType>(inValue));
}

template <class DERIVED, typename T>
void VIntegerValue<DERIVED, T>::FromValue(const VValueSingle& inValue)
{
    fValue = static_cast<T>(GetInteger<WideType>(inValue));
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

template <class DERIVED, typename T>
bool VIntegerValue<DERIVED, T>::FromValueSameKind(const VValue* inValue)
{
    const VIntegerValue* other = static_cast<const DERIVED*>(inValue);
    fValue = other->fValue;
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

template <class DERIVED, typename T>
const void* VIntegerValue<DERIVED, T>::LoadFromPtr(const void* inData, bool)
{
    fValue = ReadRawScalar<T>(inData);
    _Touch();
    return static_cast<const char*>(inData) + sizeof(T);
}

template <class DERIVED, typename T>
void* VIntegerValue<DERIVED, T>::WriteToPtr(void* inData, bool, unsigned long) const
{
    std::memcpy(inData, &fValue, sizeof(T));
    return static_cast<char*>(inData) + sizeof(T);
}

template <class DERIVED, typename T>
unsigned long VIntegerValue<DERIVED, T>::GetSpace(unsigned long long&, unsigned long) const
{
    return sizeof(T);
}

template <class DERIVED, typename T>
unsigned long VIntegerValue<DERIVED, T>::GetStreamSpace() const
{
    return sizeof(WideType);
}

template <class DERIVED, typename T>
VError VIntegerValue<DERIVED, T>::ReadFromStream(VStream* ioStream, int)
{
    // The 8-bit value keeps the low-order byte of its 16-bit stream body.
    WideType number = 0;
    int count = 1;
    if constexpr (std::is_same_v<WideType, short>)
        ioStream->GetWords(&number, &count);
    else if constexpr (std::is_same_v<WideType, int>)
        ioStream->GetLongs(&number, &count);
    else
        ioStream->GetLong8s(&number, &count);
    if (count == 1)
        fValue = static_cast<T>(number);
    return ioStream->GetLastError();
}

template <class DERIVED, typename T>
VError VIntegerValue<DERIVED, T>::WriteToStream(VStream* ioStream, int) const
{
    // The 8-bit value is sign-extended to its 16-bit stream body.
    const WideType number = fValue;
    if constexpr (std::is_same_v<WideType, short>)
        return ioStream->PutWords(&number, 1);
    else if constexpr (std::is_same_v<WideType, int>)
        return ioStream->PutLongs(&number, 1);
    else
        return ioStream->PutLong8s(&number, 1);
}

template <class DERIVED, typename T>
CompareResult VIntegerValue<DERIVED, T>::CompareTo(const VValueSingle& inValue, bool) const
{
    return CompareRawScalars<CompareType>(fValue, GetInteger<CompareType>(inValue));
}

template <class DERIVED, typename T>
CompareResult VIntegerValue<DERIVED, T>::CompareToSameKind(const VValue* inValue, bool) const
{
    const VIntegerValue* other = static_cast<const DERIVED*>(inValue);
    return CompareRawScalars<T>(fValue, other->fValue);
}

template <class DERIVED, typename T>
bool VIntegerValue<DERIVED, T>::EqualToSameKind(const VValue* inValue, bool) const
{
    const VIntegerValue* other = static_cast<const DERIVED*>(inValue);
    return fValue == other->fValue;
}

template <class DERIVED, typename T>
CompareResult VIntegerValue<DERIVED, T>::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareRawScalars<T>(fValue, ReadRawScalar<T>(inPtrToValueData));
}

template <class DERIVED, typename T>
bool VIntegerValue<DERIVED, T>::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return fValue == ReadRawScalar<T>(inPtrToValueData);
}

template <class DERIVED, typename T>
CompareResult VIntegerValue<DERIVED, T>::CompareToSameKindWithOptions(const VValue* inValue,
                                                                      const VCompareOptions&) const
{
    return CompareToSameKind(inValue, false);
}

template <class DERIVED, typename T>
bool VIntegerValue<DERIVED, T>::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

template <class DERIVED, typename T>
CompareResult VIntegerValue<DERIVED, T>::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                                         const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData, false);
}

template <class DERIVED, typename T>
bool VIntegerValue<DERIVED, T>::EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                              const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

template <class DERIVED, typename T>
VError VIntegerValue<DERIVED, T>::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetNumber(static_cast<double>(fValue));
    return VE_OK;
}

template <class DERIVED, typename T>
VError VIntegerValue<DERIVED, T>::FromJSONValue(const VJSONValue& inJSONValue)
{
    // The number is floored, then kept only when it fits the member exactly:
    // out-of-range numbers and NaN store 0 rather than an undefined cast.
    using Limits = std::numeric_limits<T>;
    const double floored = std::floor(inJSONValue.GetNumber());
    const double lowest = static_cast<double>(Limits::min());
    if (floored >= lowest && floored < -lowest)
        fValue = static_cast<T>(floored);
    else
        fValue = 0;
    SetNull(inJSONValue.GetType() == JSON_null);
    SetDirty(true);
    return VE_OK;
}

template class VIntegerValue<VByte, signed char>;
template class VIntegerValue<VWord, short>;
template class VIntegerValue<VLong, int>;
template class VIntegerValue<VLong8, long long>;

}  // namespace qelt
