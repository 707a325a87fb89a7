#include "kernel/VValue.h"

#include <cstring>
#include <map>
#include <new>

#include "files/VStream.h"
#include "json/VJSONValue.h"
#include "kernel/VEmpty.h"
#include "kernel/VReal.h"
#include "kernel/VString.h"
#include "kernel/VValueInfo.h"
#include "kernel/VProcessServices.h"
#include "kernel/VThrowError.h"
#include "values/VTime.h"
#include "values/VUUID.h"

namespace qelt {

namespace {

constexpr VError kErrorNotSupported = QeltError(2);

using InfoMap = std::map<unsigned short, const VValueInfo*>;

// The kind registry. Built on first use, so that descriptors constructed by
// static initialisers in any order find it; it is constructed before the
// first descriptor completes and therefore destroyed after the last one.
InfoMap* Registry(bool inCreate)
{
    static InfoMap* sMap = nullptr;
    if (sMap == nullptr && inCreate) {
        static InfoMap sStorage;
        sMap = &sStorage;
    }
    return sMap;
}

// The fallback descriptor, kind and key 65535: it stands for values that do
// not name a kind of their own. Its values are empty values.
using VValueInfo_fallback = VValueInfo_default<VEmpty, VK_UNDEFINED>;

// The stream's sticky error.
VError _StreamError(VStream* ioStream) { return ioStream == nullptr ? VE_OK : ioStream->GetLastError(); }

}  // namespace

// ---------------------------------------------------------------------------
// Flags

void VValue::SetNull(bool inSet)
{
    if (IsNull() == inSet)
        return;
    fFlags |= kFlagNull;
    DoNullChanged();
    if (inSet)
        fFlags |= kFlagNull;
    else
        fFlags &= static_cast<unsigned char>(~kFlagNull);
    if (!IsDirty()) {
        fFlags |= kFlagDirty;
        DoDirtyChanged();
    }
}

void VValue::SetDirty(bool inSet)
{
    if (IsDirty() == inSet)
        return;
    if (inSet)
        fFlags |= kFlagDirty;
    else
        fFlags &= static_cast<unsigned char>(~kFlagDirty);
    DoDirtyChanged();
}

void VValue::DoNullChanged() {}

void VValue::DoDirtyChanged() {}

// ---------------------------------------------------------------------------
// Defaults of the virtual operations

const VValueInfo* VValue::GetValueInfo() const
{
    // Constructed once (thread-safe local static), registered under 65535 by
    // its constructor and unregistered by its destructor at exit.
    static const VValueInfo_fallback sFallback;
    return &sFallback;
}

void VValue::Clear() {}

VValueSingle* VValue::IsVValueSingle() { return nullptr; }

const VValueSingle* VValue::IsVValueSingle() const { return nullptr; }

VError VValue::FromJSONString(const VString&, unsigned int)
{
    _ThrowError(kErrorNotSupported);
    return kErrorNotSupported;
}

VError VValue::GetJSONString(VString&, unsigned int) const
{
    _ThrowError(kErrorNotSupported);
    return kErrorNotSupported;
}

VError VValue::FromJSONValue(const VJSONValue&)
{
    _ThrowError(kErrorNotSupported);
    return kErrorNotSupported;
}

VError VValue::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    outJSONValue.SetUndefined();
    _ThrowError(kErrorNotSupported);
    return kErrorNotSupported;
}

CompareResult VValue::CompareToSameKindWithOptions(const VValue*, const VCompareOptions&) const { return CR_EQUAL; }

bool VValue::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    return CompareToSameKindWithOptions(inValue, inOptions) == CR_EQUAL;
}

CompareResult VValue::CompareToSameKindPtrWithOptions(const void*, const VCompareOptions&) const { return CR_EQUAL; }

bool VValue::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions& inOptions) const
{
    return CompareToSameKindPtrWithOptions(inPtrToValueData, inOptions) == CR_EQUAL;
}

CompareResult VValue::Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                           const VCompareOptions& inOptions) const
{
    return InvertCompResult(CompareToSameKindPtrWithOptions(inPtrToValueData, inOptions));
}

CompareResult VValue::CompareToSameKind(const VValue*, bool) const { return CR_EQUAL; }

CompareResult VValue::CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical) const
{
    return CompareToSameKind(inValue, inDiacritical);
}

bool VValue::EqualToSameKind(const VValue* inValue, bool inDiacritical) const
{
    return CompareToSameKind(inValue, inDiacritical) == CR_EQUAL;
}

bool VValue::FromValueSameKind(const VValue*) { return false; }

CompareResult VValue::CompareToSameKindPtr(const void*, bool) const { return CR_EQUAL; }

CompareResult VValue::Swap_CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    return InvertCompResult(CompareToSameKindPtr(inPtrToValueData, inDiacritical));
}

CompareResult VValue::CompareBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareToSameKindPtr(inPtrToValueData, inDiacritical);
}

CompareResult VValue::IsTheBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareToSameKindPtr(inPtrToValueData, inDiacritical);
}

bool VValue::EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareToSameKindPtr(inPtrToValueData, inDiacritical) == CR_EQUAL;
}

CompareResult VValue::CompareToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    return CompareToSameKind(inValue, inDiacritical);
}

CompareResult VValue::CompareBeginingToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    return CompareBeginingToSameKind(inValue, inDiacritical);
}

bool VValue::EqualToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    return EqualToSameKind(inValue, inDiacritical);
}

CompareResult VValue::CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareToSameKindPtr(inPtrToValueData, inDiacritical);
}

CompareResult VValue::Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return InvertCompResult(CompareToSameKindPtr(inPtrToValueData, inDiacritical));
}

CompareResult VValue::CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareBeginingToSameKindPtr(inPtrToValueData, inDiacritical);
}

CompareResult VValue::IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return IsTheBeginingToSameKindPtr(inPtrToValueData, inDiacritical);
}

bool VValue::EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return EqualToSameKindPtr(inPtrToValueData, inDiacritical);
}

bool VValue::Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return EqualToSameKindPtr(inPtrToValueData, inDiacritical);
}

const void* VValue::LoadFromPtr(const void* inData, bool) { return inData; }

void* VValue::WriteToPtr(void* inData, bool, unsigned long) const { return inData; }

unsigned long VValue::GetSpace(unsigned long long&, unsigned long) const { return 0; }

bool VValue::CanBeStreamed() const { return false; }

unsigned long VValue::GetFullSpaceOnDisk(unsigned long long& ioSize) const { return GetSpace(ioSize, 0); }

VError VValue::ReadFromStream(VStream* ioStream, int) { return _StreamError(ioStream); }

VError VValue::WriteToStream(VStream* ioStream, int) const { return _StreamError(ioStream); }

unsigned long VValue::GetStreamSpace() const
{
    unsigned long long size = 0;
    return GetSpace(size, 0);
}

int VValue::Flush(void*, void*) const { return 0; }

void VValue::SetReservedBlobNumber(int) {}

VValue* VValue::FullyClone(bool) const { return Clone(); }

void VValue::RestoreFromPop(void*) {}

void VValue::Detach(bool) {}

bool VValue::WillContainBlobData() const { return false; }

void VValue::SetOutsidePath(const VString&, bool) {}

void VValue::GetOutsidePath(VString&, bool*) {}

void VValue::SetOutsideSuffixe(const VString&) {}

bool VValue::IsOutsidePath() { return false; }

bool VValue::IsStoredOnDisk() { return false; }

VError VValue::ReloadFromOutsidePath() { return VE_OK; }

bool VValue::ForcePathIfEmpty() const { return false; }

void VValue::SetForcePathIfEmpty(bool) {}

void VValue::SetHintRecNum(int, int, int, bool) {}

void VValue::AssociateRecord(void*, int) {}

bool VValue::HasInternalPropertyChanged() const { return false; }

void VValue::ResetInternalPropertyChanged() {}

void VValue::AddJSONStamp() {}

VError VValue::ReadRawFromStream(VStream* ioStream, int inParam) { return ReadFromStream(ioStream, inParam); }

VBlob* VValue::GetDataBlob() const { return nullptr; }

bool VValue::CanBeEvaluated() const { return true; }

// ---------------------------------------------------------------------------
// Registry

void VValue::RegisterValueInfo(const VValueInfo* inInfo)
{
    if (inInfo == nullptr)
        return;
    try {
        InfoMap* map = Registry(true);
        (*map)[inInfo->GetKey()] = inInfo;
    } catch (const std::bad_alloc&) {
        // The kind stays unregistered; nothing is reported.
    }
}

void VValue::UnregisterValueInfo(const VValueInfo* inInfo)
{
    if (inInfo == nullptr)
        return;
    if (InfoMap* map = Registry(false))
        map->erase(inInfo->GetKey());
}

const VValueInfo* VValue::ValueInfoFromValueKind(unsigned short inKind)
{
    InfoMap* map = Registry(false);
    if (map == nullptr)
        return nullptr;
    auto found = map->find(inKind);
    return found == map->end() ? nullptr : found->second;
}

VValue* VValue::NewValueFromValueKind(unsigned short inKind)
{
    const VValueInfo* info = ValueInfoFromValueKind(inKind);
    return info == nullptr ? nullptr : info->Generate();
}

// ---------------------------------------------------------------------------
// VValueSingle

VValueSingle* VValueSingle::IsVValueSingle() { return this; }

const VValueSingle* VValueSingle::IsVValueSingle() const { return this; }

bool VValueSingle::CanBeStreamed() const { return true; }

VError VValueSingle::FromJSONString(const VString& inJSONString, unsigned int)
{
    FromString(inJSONString);
    return VE_OK;
}

VError VValueSingle::GetJSONString(VString& outJSONString, unsigned int) const
{
    GetString(outJSONString);
    return VE_OK;
}

// A single value that does not know JSON empties itself and says so quietly:
// callers that walk many values test the result rather than the error stack.
VError VValueSingle::FromJSONValue(const VJSONValue&)
{
    Clear();
    return kErrorNotSupported;
}

VError VValueSingle::GetJSONValue(VJSONValue& outJSONValue, unsigned int) const
{
    outJSONValue.SetNull();
    return kErrorNotSupported;
}

CharSet VValueSingle::DebugDump(char* inTextBuffer, int& inBufferSize) const
{
    if (!ProcessObjectExists() || inTextBuffer == nullptr || inBufferSize <= 0) {
        inBufferSize = 0;
        return VTC_UTF_16_SMALLENDIAN;
    }
    VString text;
    GetString(text);
    text.Truncate(inBufferSize / 2, true);
    // UTF-16 little-endian is the machine's own order: the units as they are.
    int bytes = text.GetLength() * 2;
    if (bytes > 0)
        std::memcpy(inTextBuffer, text.GetCPointer(), static_cast<size_t>(bytes));
    inBufferSize = bytes;
    return VTC_UTF_16_SMALLENDIAN;
}

bool VValueSingle::GetBoolean() const { return false; }

signed char VValueSingle::GetByte() const { return 0; }

short VValueSingle::GetWord() const { return 0; }

int VValueSingle::GetLong() const { return 0; }

long long VValueSingle::GetLong8() const { return 0; }

long long VValueSingle::GetLong8OrMilliSeconds() const { return GetLong8(); }

double VValueSingle::GetReal() const { return 0.0; }

void VValueSingle::GetDuration([[maybe_unused]] VDuration& outValue) const
{
    outValue.Clear();
}

void VValueSingle::GetTime([[maybe_unused]] VTime& outValue) const
{
    outValue.Clear();
}

void VValueSingle::GetString(VString& outValue) const { outValue.Clear(); }

void VValueSingle::GetVUUID([[maybe_unused]] VUUID& outValue) const
{
    outValue.Clear();
}

void VValueSingle::GetValue(VValueSingle& outValue) const { outValue.Clear(); }

void VValueSingle::FromBoolean(unsigned char) {}

void VValueSingle::FromByte(signed char) {}

void VValueSingle::FromWord(short) {}

void VValueSingle::FromLong(int) {}

void VValueSingle::FromLong8(long long) {}

void VValueSingle::FromReal(double) {}

void VValueSingle::FromDuration(const VDuration&) {}

void VValueSingle::FromTime(const VTime&) {}

void VValueSingle::FromString(const VString&) {}

void VValueSingle::FromVUUID(const VUUID&) {}

void VValueSingle::FromValue(const VValueSingle&) {}

void VValueSingle::GetXMLString(VString& outValue, unsigned int) const { GetString(outValue); }

bool VValueSingle::FromXMLString(const VString& inValue)
{
    FromString(inValue);
    return true;
}

bool VValueSingle::EqualTo(const VValueSingle& inValue, bool inDiacritical) const
{
    return CompareTo(inValue, inDiacritical) == CR_EQUAL;
}

VValueSingle* VValueSingle::ConvertTo(unsigned short inKind) const
{
    VValue* value = NewValueFromValueKind(inKind);
    if (value == nullptr)
        return nullptr;
    VValueSingle* single = value->IsVValueSingle();
    if (single == nullptr) {
        delete value;
        return nullptr;
    }
    GetValue(*single);
    single->SetNull(IsNull());
    return single;
}

VValueSingle* VValueSingle::ConvertVValueToJSONScalar(const VValueSingle& inValue, bool inMilliseconds)
{
    switch (inValue.GetValueInfo()->GetKind()) {
        case 2:
        case 3:
        case 4:
        case 5:
        case 7:
        case 16: {
            VReal* real = new VReal(inValue.GetReal());
            real->SetNull(inValue.IsNull());
            real->SetDirty(true);
            return real;
        }
        case 9: {
            VReal* real = new VReal();
            if (inValue.IsNull()) {
                real->SetNull(true);
            } else {
                VDuration duration;
                inValue.GetDuration(duration);
                double ms = static_cast<double>(duration.ConvertToMilliseconds());
                real->FromReal(inMilliseconds ? ms : ms / 1000.0);
            }
            real->SetDirty(true);
            return real;
        }
        case 13:
        case 14:
        case 17:
        case 19:
        case 20: {
            VString* text = new VString();
            text->FromValue(inValue);
            return text;
        }
        default: {
            VValue* clone = inValue.Clone();
            if (clone == nullptr)
                return nullptr;
            VValueSingle* single = clone->IsVValueSingle();
            if (single == nullptr)
                delete clone;
            return single;
        }
    }
}

JSONType VValueSingle::ValueKindToJsonType(unsigned short inKind)
{
    switch (inKind) {
        case VK_BOOLEAN: return JSON_true;
        case VK_REAL: return JSON_number;
        case VK_TIME: return JSON_date;
        case VK_STRING: return JSON_string;
        default: return JSON_null;
    }
}

// ---------------------------------------------------------------------------
// VValueMultiple

VValue* VValueMultiple::Clone() const { return nullptr; }

bool VValueMultiple::CanBeEvaluated() const { return false; }

unsigned short VValueMultiple::GetValueKind() const { return VK_UNDEFINED; }

void VValueMultiple::FromBoolean(unsigned char inValue, int inElement) { FromWord(inValue, inElement); }

void VValueMultiple::FromByte(signed char inValue, int inElement) { FromLong(inValue, inElement); }

void VValueMultiple::FromWord(short inValue, int inElement) { FromLong(inValue, inElement); }

void VValueMultiple::FromLong(int inValue, int inElement) { FromReal(static_cast<double>(inValue), inElement); }

void VValueMultiple::FromLong8(long long inValue, int inElement)
{
    FromReal(static_cast<double>(inValue), inElement);
}

void VValueMultiple::FromReal(double, int) {}

void VValueMultiple::FromString(const VString&, int) {}

void VValueMultiple::FromDuration(const VDuration&, int) {}

void VValueMultiple::FromTime(const VTime&, int) {}

CompareResult VValueMultiple::CompareTo(const VValueSingle&, bool, int) const { return CR_UNRELEVANT; }

}  // namespace qelt
