#include "kernel/VBoolean.h"

#include <cstring>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "values/VDuration.h"

namespace qelt {

template <>
VValue* VValueInfo_scalar<VBoolean, 1, unsigned char>::LoadFromPtr(const void* inPtr, bool) const
{
    VBoolean* value = new VBoolean();
    value->fValue = ReadRawScalar<unsigned char>(inPtr);
    return value;
}

namespace {

unsigned char ToBit(long long inValue)
{
    return inValue != 0 ? 1 : 0;
}

// ASCII letters compared without case; the whole text must match.
bool EqualsASCIINoCase(const VString& inText, const char* inWord)
{
    int length = static_cast<int>(std::strlen(inWord));
    if (inText.GetLength() != length)
        return false;
    const UniChar* p = inText.GetCPointer();
    for (int i = 0; i < length; ++i) {
        UniChar c = p[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<UniChar>(c + ('a' - 'A'));
        if (c != static_cast<unsigned char>(inWord[i]))
            return false;
    }
    return true;
}

// The signs of a comparison of two stored bytes: equal, else by this byte.
CompareResult CompareBooleanBytes(unsigned char inOwn, unsigned char inOther)
{
    if (inOwn == inOther)
        return CR_EQUAL;
    return inOwn != 0 ? CR_BIGGER : CR_SMALLER;
}

}  // namespace

VBoolean::VBoolean() : fValue(0)
{
}

VBoolean::VBoolean(bool inValue) : fValue(inValue ? 1 : 0)
{
}

VBoolean::VBoolean(const unsigned char* inDataPtr, bool inClear) : fValue(0)
{
    if (!inClear)
        fValue = ToBit(ReadRawScalar<unsigned char>(inDataPtr));
}

VBoolean::VBoolean(const VBoolean& inOther) = default;
VBoolean& VBoolean::operator=(const VBoolean& inOther) = default;
VBoolean::~VBoolean() = default;

void VBoolean::_Touch()
{
    SetNull(false);
    _SetFlags(_GetFlags() | kFlagDirty);
}

const VValueInfo* VBoolean::GetValueInfo() const
{
    return &sInfo;
}

VValue* VBoolean::Clone() const
{
    VBoolean* copy = new VBoolean();
    copy->fValue = fValue;
    copy->_SetFlags(static_cast<unsigned char>((_GetFlags() & kFlagNull) | kFlagDirty));
    return copy;
}

void VBoolean::Clear()
{
    fValue = 0;
    _Touch();
}

bool VBoolean::CanBeEvaluated() const
{
    return true;
}

bool VBoolean::GetBoolean() const { return fValue != 0; }
signed char VBoolean::GetByte() const { return static_cast<signed char>(fValue); }
short VBoolean::GetWord() const { return fValue; }
int VBoolean::GetLong() const { return fValue; }
long long VBoolean::GetLong8() const { return fValue; }
double VBoolean::GetReal() const { return fValue; }

void VBoolean::GetDuration(VDuration& outValue) const
{
    VValueSingle& target = outValue;
    target.FromBoolean(fValue);
}

void VBoolean::GetString(VString& outValue) const
{
    outValue.FromBoolean(fValue);
}

void VBoolean::GetValue(VValueSingle& outValue) const
{
    outValue.FromBoolean(fValue);
}

void VBoolean::FromBoolean(unsigned char inValue)
{
    fValue = ToBit(inValue);
    _Touch();
}

void VBoolean::FromByte(signed char inValue)
{
    fValue = ToBit(inValue);
    _Touch();
}

void VBoolean::FromWord(short inValue)
{
    fValue = ToBit(inValue);
    _Touch();
}

void VBoolean::FromLong(int inValue)
{
    fValue = ToBit(inValue);
    _Touch();
}

void VBoolean::FromLong8(long long inValue)
{
    fValue = ToBit(inValue);
    _Touch();
}

void VBoolean::FromReal(double inValue)
{
    // Only exactly 0.0 is false; NaN is true.
    fValue = (inValue == 0.0) ? 0 : 1;
    _Touch();
}

void VBoolean::FromDuration(const VDuration& inValue)
{
    const VValueSingle& source = inValue;
    SetNull(source.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = static_cast<unsigned char>(source.GetBoolean() ? 1 : 0);
}

void VBoolean::FromString(const VString& inValue)
{
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    fValue = inValue.GetBoolean() ? 1 : 0;
}

void VBoolean::FromValue(const VValueSingle& inValue)
{
    fValue = inValue.GetBoolean() ? 1 : 0;
    SetNull(inValue.IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
}

bool VBoolean::FromValueSameKind(const VValue* inValue)
{
    const VBoolean* other = static_cast<const VBoolean*>(inValue);
    fValue = other->fValue;
    SetNull(other->IsNull());
    _SetFlags(_GetFlags() | kFlagDirty);
    return true;
}

const void* VBoolean::LoadFromPtr(const void* inData, bool)
{
    fValue = ToBit(ReadRawScalar<unsigned char>(inData));
    _Touch();
    return static_cast<const char*>(inData) + 1;
}

void* VBoolean::WriteToPtr(void* inData, bool, unsigned long) const
{
    *static_cast<unsigned char*>(inData) = ToBit(fValue);
    return static_cast<char*>(inData) + 1;
}

unsigned long VBoolean::GetSpace(unsigned long long&, unsigned long) const
{
    return 1;
}

unsigned long VBoolean::GetStreamSpace() const
{
    return 2;
}

VError VBoolean::ReadFromStream(VStream* ioStream, int)
{
    short word = 0;
    int count = 1;
    ioStream->GetWords(&word, &count);
    if (count == 1)
        fValue = ToBit(word);
    return ioStream->GetLastError();
}

VError VBoolean::WriteToStream(VStream* ioStream, int) const
{
    short word = fValue;
    return ioStream->PutWords(&word, 1);
}

CompareResult VBoolean::CompareTo(const VValueSingle& inValue, bool) const
{
    return CompareBooleanBytes(fValue, inValue.GetBoolean() ? 1 : 0);
}

CompareResult VBoolean::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareBooleanBytes(fValue, static_cast<const VBoolean*>(inValue)->fValue);
}

bool VBoolean::EqualToSameKind(const VValue* inValue, bool) const
{
    return fValue == static_cast<const VBoolean*>(inValue)->fValue;
}

CompareResult VBoolean::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareBooleanBytes(fValue, ReadRawScalar<unsigned char>(inPtrToValueData));
}

bool VBoolean::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return fValue == ReadRawScalar<unsigned char>(inPtrToValueData);
}

CompareResult VBoolean::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareRawScalars<unsigned char>(fValue, static_cast<const VBoolean*>(inValue)->fValue);
}

bool VBoolean::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

CompareResult VBoolean::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                        const VCompareOptions&) const
{
    return CompareRawScalars<unsigned char>(fValue, ReadRawScalar<unsigned char>(inPtrToValueData));
}

bool VBoolean::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

void VBoolean::GetXMLString(VString& outValue, unsigned int) const
{
    outValue.FromString(VString(fValue != 0 ? "true" : "false"));
}

bool VBoolean::FromXMLString(const VString& inValue)
{
    unsigned char bit;
    if (EqualsASCIINoCase(inValue, "1") || EqualsASCIINoCase(inValue, "true"))
        bit = 1;
    else if (EqualsASCIINoCase(inValue, "0") || EqualsASCIINoCase(inValue, "false"))
        bit = 0;
    else
        return false;
    fValue = bit;
    _Touch();
    return true;
}

VError VBoolean::GetJSONString(VString& outJSONString, unsigned int) const
{
    outJSONString.FromString(VString(fValue != 0 ? "true" : "false"));
    return VE_OK;
}

VError VBoolean::FromJSONString(const VString& inJSONString, unsigned int)
{
    if (!FromXMLString(inJSONString)) {
        fValue = 0;
        _Touch();
    }
    return VE_OK;
}

VError VBoolean::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    if (IsNull())
        outJSONValue.SetNull();
    else
        outJSONValue.SetBool(fValue != 0);
    return VE_OK;
}

VError VBoolean::FromJSONValue(const VJSONValue& inJSONValue)
{
    fValue = inJSONValue.GetBool() ? 1 : 0;
    SetNull(inJSONValue.GetType() == JSON_null);
    SetDirty(true);
    return VE_OK;
}

}  // namespace qelt
