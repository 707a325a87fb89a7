#include "values/VUUID.h"

#include <cstring>
#include <string>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VString.h"
#include "kernel/mac/XMacSystem.h"
#include "values/mac/XMacUUID.h"
#include "platform/PlatNumbers.h"

namespace qelt {

namespace {

CompareResult CompareBytes(const void* a, const void* b)
{
    int r = std::memcmp(a, b, 16);
    return r < 0 ? CR_SMALLER : (r > 0 ? CR_BIGGER : CR_EQUAL);
}

}  // namespace

// ---------------------------------------------------------------------------
// Descriptor

CompareResult VUUID_info::CompareTwoPtrToData(const void* inPtr1, const void* inPtr2, bool) const
{
    return CompareBytes(inPtr1, inPtr2);
}

CompareResult VUUID_info::CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2, bool) const
{
    return CompareBytes(inPtr1, inPtr2);
}

CompareResult VUUID_info::CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                         const VCompareOptions&) const
{
    return CompareBytes(inPtr1, inPtr2);
}

unsigned long VUUID_info::GetSizeOfValueDataPtr(const void*) const { return 16; }

unsigned long VUUID_info::GetAvgSpace() const { return 16; }

const VUUID_info VUUID::sInfo;
const VUUID VUUID::sNullUUID;

// ---------------------------------------------------------------------------
// Construction

VUUID::VUUID() { _SetFlags(static_cast<unsigned char>(_GetFlags() | kFlagNull)); }

VUUID::VUUID(unsigned char inGenerate)
{
    if (inGenerate != 0 && XMacUUID::Generate(&fBuffer))
        _SetNullFlag(false);
    else
        _SetFlags(static_cast<unsigned char>(_GetFlags() | kFlagNull));
}

VUUID::VUUID(const VUUIDBuffer& inBuffer) { FromBuffer(inBuffer); }

VUUID::VUUID(const char* inText)
{
    _SetFlags(static_cast<unsigned char>(_GetFlags() | kFlagNull));
    FromBuffer(inText);
}

VUUID::VUUID(const VUUID& inOther) : VValueSingle(), fBuffer(inOther.fBuffer)
{
    _SetFlags(static_cast<unsigned char>((inOther._GetFlags() & kFlagNull) | kFlagDirty));
}

VUUID& VUUID::operator=(const VUUID& inOther)
{
    FromVUUID(inOther);
    return *this;
}

VUUID::~VUUID() { delete fCachedString; }

bool VUUID::_IsAllZero() const
{
    for (unsigned char b : fBuffer.fBytes) {
        if (b != 0)
            return false;
    }
    return true;
}

void VUUID::_SetNullFlag(bool inIsNull)
{
    if (inIsNull)
        _SetFlags(static_cast<unsigned char>(_GetFlags() | kFlagNull));
    else
        _SetFlags(static_cast<unsigned char>(_GetFlags() & ~kFlagNull));
}

void VUUID::_GotValue(bool inIsNull)
{
    if (inIsNull)
        std::memset(fBuffer.fBytes, 0, sizeof(fBuffer.fBytes));
    _SetNullFlag(inIsNull);
    _SetFlags(static_cast<unsigned char>(_GetFlags() | kFlagDirty));
    if (fCachedString != nullptr) {
        GetString(*fCachedString);
        fCachedString->SetNull(inIsNull);
    }
}

void VUUID::DoNullChanged()
{
    // The hook runs before the new state is stored: the cached text, which
    // always carries the current state, tells which way it goes.
    std::memset(fBuffer.fBytes, 0, sizeof(fBuffer.fBytes));
    if (fCachedString != nullptr) {
        bool becomesNull = !fCachedString->IsNull();
        GetString(*fCachedString);
        fCachedString->SetNull(becomesNull);
    }
}

// ---------------------------------------------------------------------------
// Setting

void VUUID::FromBuffer(const VUUIDBuffer& inBuffer)
{
    fBuffer = inBuffer;
    _GotValue(_IsAllZero());
}

void VUUID::FromBuffer(const char* inText)
{
    size_t n = inText != nullptr ? std::strlen(inText) : 0;
    if (n == 32) {
        for (int i = 0; i < 16; ++i) {
            int high = plat::HexDigitValue(static_cast<unsigned char>(inText[2 * i]));
            int low = plat::HexDigitValue(static_cast<unsigned char>(inText[2 * i + 1]));
            fBuffer.fBytes[i] = static_cast<unsigned char>(((high < 0 ? 0 : high) << 4) | (low < 0 ? 0 : low));
        }
    } else if (n <= 16) {
        std::memset(fBuffer.fBytes, 0, sizeof(fBuffer.fBytes));
        if (n > 0)
            std::memcpy(fBuffer.fBytes, inText, n);
    }
    _GotValue(_IsAllZero());
}

void VUUID::Regenerate()
{
    XMacUUID::Generate(&fBuffer);
    _GotValue(false);
}

void VUUID::Clear() { _GotValue(true); }

void VUUID::FromVUUID(const VUUID& inOther)
{
    if (&inOther == this)
        return;
    fBuffer = inOther.fBuffer;
    _GotValue(inOther.IsNull());
}

bool VUUID::FromValueSameKind(const VValue* inValue)
{
    FromVUUID(*static_cast<const VUUID*>(inValue));
    return true;
}

void VUUID::FromValue(const VValueSingle& inValue)
{
    if (&inValue != this)
        inValue.GetVUUID(*this);
}

void VUUID::FromString(const VString& inText)
{
    VUUIDBuffer bytes;
    int digits = 0;
    const UniChar* units = inText.GetCPointer();
    int length = units != nullptr ? inText.GetLength() : 0;
    for (int i = 0; i < length && digits < 32; ++i) {
        int v = plat::HexDigitValue(units[i]);
        if (v < 0)
            continue;
        if (digits % 2 == 0)
            bytes.fBytes[digits / 2] = static_cast<unsigned char>(v * 16);
        else
            bytes.fBytes[digits / 2] = static_cast<unsigned char>(bytes.fBytes[digits / 2] + v);
        ++digits;
    }
    if (digits == 32) {
        fBuffer = bytes;
        _GotValue(false);
    } else {
        BuildFromAnsiString(inText);
    }
}

void VUUID::BuildFromAnsiString(const VString& inText)
{
    std::memset(fBuffer.fBytes, ' ', sizeof(fBuffer.fBytes));
    std::string bytes = XMacSystem::ToUTF8(inText);
    std::memcpy(fBuffer.fBytes, bytes.data(), bytes.size() < 16 ? bytes.size() : 16);
    _GotValue(false);
}

// ---------------------------------------------------------------------------
// Reading

void VUUID::ToBuffer(VUUIDBuffer& outBuffer) const { outBuffer = fBuffer; }

void VUUID::GetString(VString& outText) const
{
    static const char kDigits[] = "0123456789ABCDEF";
    char text[33];
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kDigits[fBuffer.fBytes[i] >> 4];
        text[2 * i + 1] = kDigits[fBuffer.fBytes[i] & 0x0F];
    }
    text[32] = '\0';
    outText.FromCString(text);
}

VString* VUUID::GetCachedConvertedString(bool inCreate)
{
    if (fCachedString == nullptr && inCreate) {
        fCachedString = new VString;
        GetString(*fCachedString);
        fCachedString->SetNull(IsNull());
    }
    return fCachedString;
}

bool VUUID::IsUUIDString(const VString& inText, bool inAllowNull)
{
    if (inText.GetLength() != 32 || inText.GetCPointer() == nullptr)
        return false;
    bool allZero = true;
    for (int i = 0; i < 32; ++i) {
        UniChar c = inText.GetCPointer()[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
        if (c != '0')
            allZero = false;
    }
    return inAllowNull || !allZero;
}

void VUUID::GetVUUID(VUUID& outValue) const { outValue.FromVUUID(*this); }

void VUUID::GetValue(VValueSingle& outValue) const { outValue.FromVUUID(*this); }

VValue* VUUID::Clone() const { return new VUUID(fBuffer); }

const VValueInfo* VUUID::GetValueInfo() const { return &sInfo; }

bool VUUID::CanBeEvaluated() const { return true; }

void VUUID::GetXMLString(VString& outText, unsigned int) const { GetString(outText); }

bool VUUID::FromXMLString(const VString& inText)
{
    FromString(inText);
    return true;
}

VError VUUID::GetJSONString(VString& outText, unsigned int inOptions) const
{
    // The text has only digits and letters: quoting is all there is to do.
    VString text;
    GetString(text);
    outText.Clear();
    if ((inOptions & 1) != 0)
        outText.AppendCString("\"");
    outText.AppendString(text);
    if ((inOptions & 1) != 0)
        outText.AppendCString("\"");
    return VE_OK;
}

VError VUUID::FromJSONString(const VString& inText, unsigned int)
{
    FromString(inText);
    return VE_OK;
}

VError VUUID::GetJSONValue(VJSONValue& outValue, unsigned int) const
{
    if (IsNull()) {
        outValue.SetNull();
    } else {
        VString text;
        GetString(text);
        outValue.SetString(text);
    }
    return VE_OK;
}

VError VUUID::FromJSONValue(const VJSONValue& inValue)
{
    if (inValue.GetType() == JSON_null) {
        SetNull(true);
        return VE_OK;
    }
    VString text;
    inValue.GetString(text, nullptr);
    FromString(text);
    return VE_OK;
}

// ---------------------------------------------------------------------------
// Raw form and stream body

const void* VUUID::LoadFromPtr(const void* inData, bool)
{
    std::memcpy(fBuffer.fBytes, inData, 16);
    _GotValue(_IsAllZero());
    return static_cast<const char*>(inData) + 16;
}

void* VUUID::WriteToPtr(void* inData, bool, unsigned long) const
{
    std::memcpy(inData, fBuffer.fBytes, 16);
    return static_cast<char*>(inData) + 16;
}

unsigned long VUUID::GetSpace(unsigned long long&, unsigned long) const { return 16; }

unsigned long VUUID::GetStreamSpace() const { return 16; }

VError VUUID::ReadFromStream(VStream* ioStream, int)
{
    VUUIDBuffer bytes;
    unsigned long read = 0;
    VError err = ioStream->GetData(bytes.fBytes, 16, &read);
    if (err == VE_OK && read == 16)
        fBuffer = bytes;
    _GotValue(false);
    return err;
}

VError VUUID::WriteToStream(VStream* ioStream, int) const { return ioStream->PutData(fBuffer.fBytes, 16); }

// ---------------------------------------------------------------------------
// Comparison (the null flags are not looked at)

bool VUUID::operator==(const VUUID& inOther) const
{
    return std::memcmp(fBuffer.fBytes, inOther.fBuffer.fBytes, 16) == 0;
}

bool VUUID::operator<(const VUUID& inOther) const
{
    return std::memcmp(fBuffer.fBytes, inOther.fBuffer.fBytes, 16) < 0;
}

CompareResult VUUID::CompareTo(const VValueSingle& inValue, bool) const
{
    const VValueInfo* info = inValue.GetValueInfo();
    if (info == nullptr || info->GetKind() != 13)
        return CR_UNRELEVANT;
    return CompareToSameKind(&inValue, false);
}

CompareResult VUUID::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareBytes(fBuffer.fBytes, static_cast<const VUUID*>(inValue)->fBuffer.fBytes);
}

bool VUUID::EqualToSameKind(const VValue* inValue, bool) const
{
    return *this == *static_cast<const VUUID*>(inValue);
}

CompareResult VUUID::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareBytes(fBuffer.fBytes, inPtrToValueData);
}

bool VUUID::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return std::memcmp(fBuffer.fBytes, inPtrToValueData, 16) == 0;
}

CompareResult VUUID::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue, false);
}

bool VUUID::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue, false);
}

CompareResult VUUID::CompareToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData, false);
}

bool VUUID::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData, false);
}

}  // namespace qelt
