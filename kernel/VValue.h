// The base of every typed value: the null and dirty flags, the large set of
// virtual operations with their defaults, and the value-kind registry through
// which values are created by kind, loaded from raw bytes and compared.
#pragma once

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class VValueInfo;
class VValueSingle;
class VString;
class VStream;
class VBlob;
class VTime;
class VDuration;
class VUUID;
class VCompareOptions;
class VJSONValue;
enum JSONType : int32_t;

// The kinds of the system's values.
enum ValueKind : unsigned short {
    VK_EMPTY = 0,
    VK_BOOLEAN = 1,
    VK_BYTE = 2,
    VK_WORD = 3,
    VK_LONG = 4,
    VK_LONG8 = 5,
    VK_REAL = 6,
    VK_TIME = 8,
    VK_DURATION = 9,
    VK_STRING = 10,
    VK_BLOB = 11,
    VK_UUID = 13,
    VK_BAG = 200,
    VK_UNDEFINED = 65535  // the kind of the fallback descriptor
};

// Abstract base of all values. One data member: a flags byte. Bit 0x01 is the
// null flag, bit 0x02 the dirty flag; derived classes may keep flags of their
// own in the other bits, which the base never touches.
class VValue : public VObject {
public:
    static constexpr unsigned char kFlagNull = 0x01;
    static constexpr unsigned char kFlagDirty = 0x02;

    VValue() = default;
    VValue(const VValue&) = default;
    VValue& operator=(const VValue&) = default;
    ~VValue() override = default;

    bool IsNull() const { return (fFlags & kFlagNull) != 0; }
    bool IsDirty() const { return (fFlags & kFlagDirty) != 0; }

    // Sets the null flag; the hook DoNullChanged runs first, and a value that
    // changes its null state becomes dirty.
    void SetNull(bool inSet = true);
    // Sets or clears the dirty flag; DoDirtyChanged runs when it changes.
    void SetDirty(bool inSet = true);

    // -1 becomes 1, 1 becomes -1; every other result is returned unchanged.
    static CompareResult InvertCompResult(CompareResult inResult)
    {
        if (inResult == CR_SMALLER)
            return CR_BIGGER;
        if (inResult == CR_BIGGER)
            return CR_SMALLER;
        return inResult;
    }

    // Virtual operations, in this order; see each default in VValue.cpp.
    virtual const VValueInfo* GetValueInfo() const;
    virtual void Clear();
    virtual VValueSingle* IsVValueSingle();
    virtual const VValueSingle* IsVValueSingle() const;

    virtual VError FromJSONString(const VString& inJSONString, unsigned int inOptions);
    virtual VError GetJSONString(VString& outJSONString, unsigned int inOptions) const;
    virtual VError FromJSONValue(const VJSONValue& inJSONValue);
    virtual VError GetJSONValue(VJSONValue& outJSONValue, unsigned int inOptions) const;

    virtual CompareResult CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const;
    virtual bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const;
    virtual CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                          const VCompareOptions& inOptions) const;
    virtual bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions& inOptions) const;
    virtual CompareResult Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                               const VCompareOptions& inOptions) const;

    virtual CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const;
    virtual CompareResult CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical = false) const;
    virtual bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const;
    virtual bool FromValueSameKind(const VValue* inValue);

    virtual CompareResult CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const;
    virtual CompareResult Swap_CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const;
    virtual CompareResult CompareBeginingToSameKindPtr(const void* inPtrToValueData,
                                                       bool inDiacritical = false) const;
    virtual CompareResult IsTheBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const;
    virtual bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const;

    virtual CompareResult CompareToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const;
    virtual CompareResult CompareBeginingToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const;
    virtual bool EqualToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const;
    virtual CompareResult CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const;
    virtual CompareResult Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData,
                                                         bool inDiacritical = false) const;
    virtual CompareResult CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                            bool inDiacritical = false) const;
    virtual CompareResult IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                          bool inDiacritical = false) const;
    virtual bool EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const;
    virtual bool Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const;

    // Raw form: the value's bytes in machine order, without the null flag.
    virtual const void* LoadFromPtr(const void* inData, bool inRefresh = false);
    virtual void* WriteToPtr(void* inData, bool inRefresh = false, unsigned long inMax = 0) const;
    virtual unsigned long GetSpace(unsigned long long& ioSize, unsigned long inMax = 0) const;
    virtual bool CanBeStreamed() const;
    virtual unsigned long GetFullSpaceOnDisk(unsigned long long& ioSize) const;

    // Stream body: the value's bytes in the stream's order, without the null flag.
    virtual VError ReadFromStream(VStream* ioStream, int inParam = 0);
    virtual VError WriteToStream(VStream* ioStream, int inParam = 0) const;
    virtual unsigned long GetStreamSpace() const;

    // Hooks for values kept outside memory; nothing in the toolbox overrides them.
    virtual int Flush(void* inDataPtr, void* inContext) const;
    virtual void SetReservedBlobNumber(int inBlobNum);
    virtual VValue* FullyClone(bool inForAPush = false) const;
    virtual void RestoreFromPop(void* inContext);
    virtual void Detach(bool inMayEmpty = false);
    virtual bool WillContainBlobData() const;
    virtual void SetOutsidePath(const VString& inPath, bool inIsRelative = false);
    virtual void GetOutsidePath(VString& outPath, bool* outIsRelative = nullptr);
    virtual void SetOutsideSuffixe(const VString& inExtention);
    virtual bool IsOutsidePath();
    virtual bool IsStoredOnDisk();
    virtual VError ReloadFromOutsidePath();
    virtual bool ForcePathIfEmpty() const;
    virtual void SetForcePathIfEmpty(bool inForcePathIfEmpty);
    virtual void SetHintRecNum(int inTableNum, int inFieldNum, int inHint, bool inHintIsNewRec = false);
    virtual void AssociateRecord(void* inRecord, int inFieldNum);
    virtual bool HasInternalPropertyChanged() const;
    virtual void ResetInternalPropertyChanged();
    virtual void AddJSONStamp();
    virtual VError ReadRawFromStream(VStream* ioStream, int inParam = 0);
    virtual VBlob* GetDataBlob() const;

    virtual VValue* Clone() const = 0;
    virtual bool CanBeEvaluated() const;

    // The value-kind registry (process-wide, keyed by the descriptor's key).
    static void RegisterValueInfo(const VValueInfo* inInfo);
    static void UnregisterValueInfo(const VValueInfo* inInfo);
    static const VValueInfo* ValueInfoFromValueKind(unsigned short inKind);
    // A new empty value of the kind, owned by the caller; null when unregistered.
    static VValue* NewValueFromValueKind(unsigned short inKind);

protected:
    // Called when the null flag is about to change / has changed the dirty flag.
    virtual void DoNullChanged();
    virtual void DoDirtyChanged();

    void _SetFlags(unsigned char inFlags) { fFlags = inFlags; }
    unsigned char _GetFlags() const { return fFlags; }

    unsigned char fFlags = kFlagDirty;
};

// Abstract base of single values (scalars, strings, times, ...).
class VValueSingle : public VValue {
public:
    VValueSingle() = default;
    VValueSingle(const VValueSingle&) = default;
    VValueSingle& operator=(const VValueSingle&) = default;
    ~VValueSingle() override = default;

    VValueSingle* IsVValueSingle() override;
    const VValueSingle* IsVValueSingle() const override;
    bool CanBeStreamed() const override;
    VError FromJSONString(const VString& inJSONString, unsigned int inOptions) override;
    VError GetJSONString(VString& outJSONString, unsigned int inOptions) const override;
    VError FromJSONValue(const VJSONValue& inJSONValue) override;
    VError GetJSONValue(VJSONValue& outJSONValue, unsigned int inOptions) const override;
    CharSet DebugDump(char* inTextBuffer, int& inBufferSize) const override;

    virtual bool GetBoolean() const;
    virtual signed char GetByte() const;
    virtual short GetWord() const;
    virtual int GetLong() const;
    virtual long long GetLong8() const;
    virtual long long GetLong8OrMilliSeconds() const;
    virtual double GetReal() const;
    virtual void GetDuration(VDuration& outValue) const;
    virtual void GetTime(VTime& outValue) const;
    virtual void GetString(VString& outValue) const;
    virtual void GetVUUID(VUUID& outValue) const;
    virtual void GetValue(VValueSingle& outValue) const;

    virtual void FromBoolean(unsigned char inValue);
    virtual void FromByte(signed char inValue);
    virtual void FromWord(short inValue);
    virtual void FromLong(int inValue);
    virtual void FromLong8(long long inValue);
    virtual void FromReal(double inValue);
    virtual void FromDuration(const VDuration& inValue);
    virtual void FromTime(const VTime& inValue);
    virtual void FromString(const VString& inValue);
    virtual void FromVUUID(const VUUID& inValue);
    virtual void FromValue(const VValueSingle& inValue);

    virtual void GetXMLString(VString& outValue, unsigned int inOptions) const;
    virtual bool FromXMLString(const VString& inValue);

    virtual CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const = 0;
    virtual bool EqualTo(const VValueSingle& inValue, bool inDiacritical = false) const;

    // A new value of the kind holding this value's content and null state;
    // null when the kind is unknown or not a single value.
    VValueSingle* ConvertTo(unsigned short inKind) const;

    // A new value, owned by the caller, that a JSON scalar can hold: the
    // integer kinds become reals, a duration a real of seconds (or of
    // milliseconds when asked), UUIDs a string; other kinds are cloned.
    static VValueSingle* ConvertVValueToJSONScalar(const VValueSingle& inValue, bool inMilliseconds);
    // The JSON type that holds a kind directly; JSON_null when there is none.
    static JSONType ValueKindToJsonType(unsigned short inKind);
};

// Abstract base of the multi-valued values (the typed arrays).
class VValueMultiple : public VValue {
public:
    VValueMultiple() = default;
    VValueMultiple(const VValueMultiple&) = default;
    VValueMultiple& operator=(const VValueMultiple&) = default;
    ~VValueMultiple() override = default;

    VValue* Clone() const override;
    bool CanBeEvaluated() const override;

    virtual unsigned short GetValueKind() const;
    virtual int GetCount() const = 0;

    virtual void FromBoolean(unsigned char inValue, int inElement);
    virtual void FromByte(signed char inValue, int inElement);
    virtual void FromWord(short inValue, int inElement);
    virtual void FromLong(int inValue, int inElement);
    virtual void FromLong8(long long inValue, int inElement);
    virtual void FromReal(double inValue, int inElement);
    virtual void FromString(const VString& inValue, int inElement);
    virtual void FromDuration(const VDuration& inValue, int inElement);
    virtual void FromTime(const VTime& inValue, int inElement);

    virtual CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical, int inElement) const;
};

}  // namespace qelt
