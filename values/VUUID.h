// A 128-bit identifier: the value kind 13. Its text is 32 upper-case
// hexadecimal digits, byte 0 first; a UUID of 16 zero bytes is the null UUID.
#pragma once

#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"

namespace qelt {

class VJSONValue;

class VString;
class VUUID;

// The 16 bytes of a UUID, byte 0 first.
struct VUUIDBuffer {
    unsigned char fBytes[16] = {0};
};

// The descriptor of kind 13: raw form of 16 bytes, ordered byte by byte.
class VUUID_info : public VValueInfo_default<VUUID, 13> {
public:
    CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                      bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                              bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                 const VCompareOptions& inOptions) const override;
    unsigned long GetSizeOfValueDataPtr(const void* inPtr) const override;
    unsigned long GetAvgSpace() const override;
};

class VUUID : public VValueSingle {
public:
    // Null, 16 zero bytes.
    VUUID();
    // With inGenerate set, a new UUID; otherwise the null UUID.
    explicit VUUID(unsigned char inGenerate);
    explicit VUUID(const VUUIDBuffer& inBuffer);
    explicit VUUID(const char* inText);
    // The bytes and the null flag; no cached text.
    VUUID(const VUUID& inOther);
    VUUID& operator=(const VUUID& inOther);
    ~VUUID() override;

    void FromBuffer(const VUUIDBuffer& inBuffer);
    // 32 hexadecimal digits of either case; 16 bytes or fewer as they are;
    // any other length leaves the bytes unchanged.
    void FromBuffer(const char* inText);
    void Regenerate();
    void Clear() override;
    void FromVUUID(const VUUID& inOther) override;
    bool FromValueSameKind(const VValue* inValue) override;
    void FromValue(const VValueSingle& inValue) override;
    // Tolerant reader: 32 hexadecimal digits anywhere in the text, or else
    // the text's own bytes padded with spaces.
    void FromString(const VString& inText) override;
    void BuildFromAnsiString(const VString& inText);
    // Sets the null flag, the dirty flag and the cached text.
    void _GotValue(bool inIsNull);

    void ToBuffer(VUUIDBuffer& outBuffer) const;
    const unsigned char* GetBytes() const { return fBuffer.fBytes; }
    void GetString(VString& outText) const override;
    VString* GetCachedConvertedString(bool inCreate);
    static bool IsUUIDString(const VString& inText, bool inAllowNull = false);

    void GetVUUID(VUUID& outValue) const override;
    void GetValue(VValueSingle& outValue) const override;
    VValue* Clone() const override;
    const VValueInfo* GetValueInfo() const override;
    bool CanBeEvaluated() const override;

    void GetXMLString(VString& outText, unsigned int inOptions) const override;
    bool FromXMLString(const VString& inText) override;
    VError GetJSONString(VString& outText, unsigned int inOptions) const override;
    VError FromJSONString(const VString& inText, unsigned int inOptions) override;
    // A null UUID gives JSON null; otherwise a JSON string of the text form.
    VError GetJSONValue(VJSONValue& outValue, unsigned int inOptions) const override;
    // JSON null makes the UUID null; any other value is read from its text.
    VError FromJSONValue(const VJSONValue& inValue) override;

    const void* LoadFromPtr(const void* inData, bool inRefresh = false) override;
    void* WriteToPtr(void* inData, bool inRefresh = false, unsigned long inMax = 0) const override;
    unsigned long GetSpace(unsigned long long& ioSize, unsigned long inMax = 0) const override;
    unsigned long GetStreamSpace() const override;
    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

    bool operator==(const VUUID& inOther) const;
    bool operator!=(const VUUID& inOther) const { return !(*this == inOther); }
    bool operator<(const VUUID& inOther) const;

    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* inValue,
                                               const VCompareOptions& inOptions) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                  const VCompareOptions& inOptions) const override;
    bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                       const VCompareOptions& inOptions) const override;

    static const VUUID_info sInfo;
    static const VUUID sNullUUID;

protected:
    // Becoming null zeroes the bytes (a null UUID always holds zero bytes)
    // and makes the cached text follow.
    void DoNullChanged() override;

private:
    bool _IsAllZero() const;
    // Sets the null flag without the null-changed hook (the bytes are set).
    void _SetNullFlag(bool inIsNull);

    VUUIDBuffer fBuffer;
    VString* fCachedString = nullptr;
};

}  // namespace qelt
