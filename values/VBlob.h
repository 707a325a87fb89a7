// Blob values (kind 11): runs of bytes of any length. VBlob is the abstract
// interface; VBlobWithPtr owns its bytes in a growable memory buffer (the
// class made for kind 11); VConstBlobWithPtr is a read-only view on bytes
// that someone else owns.
#pragma once

#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VBlobWithPtr;

// The descriptor of kind 11: raw form of a 32-bit count in machine order
// followed by the bytes.
class VBlob_info : public VValueInfo {
public:
    VBlob_info() : VValueInfo(11, 11) {}
    VValue* Generate() const override;
    VValue* Generate(VBlob* inBlob) const override;
    VValue* LoadFromPtr(const void* inPtr, bool inRefresh = false) const override;
    // Swaps the count only; returns the address just past it.
    void* ByteSwapPtr(void* inPtr, bool inFromNative) const override;
    unsigned long GetSizeOfValueDataPtr(const void* inPtr) const override;
};

class VBlob : public VValueSingle {
public:
    VBlob() = default;
    VBlob(const VBlob&) = default;
    VBlob& operator=(const VBlob&) = default;
    ~VBlob() override = default;

    virtual long long GetSize() const = 0;
    // Sets the byte count; bytes gained read as zeros.
    virtual VError SetSize(long long inSize) = 0;
    // Copies up to inSize bytes from inOffset; 'qelt' 200 when fewer were there.
    virtual VError GetData(void* outData, long long inSize, int inOffset = 0,
                           long long* outRead = nullptr) const = 0;
    // Writes inSize bytes at inOffset (not negative); a gap before the offset
    // reads as zeros.
    virtual VError PutData(const void* inData, long long inSize, int inOffset = 0) = 0;
    virtual VError FromData(const void* inData, long long inSize);

    const VValueInfo* GetValueInfo() const override;
    bool CanBeEvaluated() const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    unsigned long GetFullSpaceOnDisk(unsigned long long& ioSize) const override;
    void Clear() override;
    void GetValue(VValueSingle& outValue) const override;
    void FromValue(const VValueSingle& inValue) override;
    const void* LoadFromPtr(const void* inData, bool inRefresh = false) override;
    void* WriteToPtr(void* inData, bool inRefresh = false, unsigned long inMax = 0) const override;

    static const VBlob_info sInfo;

protected:
    // A null blob holds no bytes.
    void DoNullChanged() override;
    // Clears the null flag and sets the dirty flag without the hook.
    void _Touch();
};

// The blob that owns its bytes.
class VBlobWithPtr : public VBlob {
public:
    // Empty, not null.
    VBlobWithPtr();
    // A copy of inSize bytes (empty when memory runs out).
    VBlobWithPtr(const void* inData, long long inSize);
    VBlobWithPtr(const VBlobWithPtr& inOther);
    explicit VBlobWithPtr(const VBlob& inOther);
    VBlobWithPtr& operator=(const VBlobWithPtr& inOther);
    ~VBlobWithPtr() override;

    long long GetSize() const override;
    VError SetSize(long long inSize) override;
    VError GetData(void* outData, long long inSize, int inOffset = 0, long long* outRead = nullptr) const override;
    VError PutData(const void* inData, long long inSize, int inOffset = 0) override;
    VError FromData(const void* inData, long long inSize) override;

    const void* GetDataPtr() const { return fBuffer.GetDataPtr(); }
    unsigned long long GetAllocatedSize() const { return fBuffer.GetAllocatedSize(); }

    VValue* Clone() const override;
    bool FromValueSameKind(const VValue* inValue) override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    void GetValue(VValueSingle& outValue) const override;
    void FromValue(const VValueSingle& inValue) override;
    // A JSON blob object over a copy of the bytes (null when it cannot be
    // made); reading back takes the bytes of a JSON blob object, and any
    // other value makes this blob null.
    VError GetJSONValue(VJSONValue& outJSONValue, unsigned int inOptions) const override;
    VError FromJSONValue(const VJSONValue& inJSONValue) override;

    const void* LoadFromPtr(const void* inData, bool inRefresh = false) override;
    void* WriteToPtr(void* inData, bool inRefresh = false, unsigned long inMax = 0) const override;
    unsigned long GetSpace(unsigned long long& ioSize, unsigned long inMax = 0) const override;
    unsigned long GetStreamSpace() const override;
    // Checks the count against the bytes the stream still holds before
    // allocating anything.
    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

private:
    VMemoryBufferDefault fBuffer;
};

// A read-only view on bytes that someone else owns; it must not outlive them.
class VConstBlobWithPtr : public VBlob {
public:
    VConstBlobWithPtr(const void* inData, long long inSize);
    VConstBlobWithPtr(const VConstBlobWithPtr& inOther);
    VConstBlobWithPtr& operator=(const VConstBlobWithPtr& inOther);
    ~VConstBlobWithPtr() override;

    long long GetSize() const override;
    VError SetSize(long long inSize) override;
    VError GetData(void* outData, long long inSize, int inOffset = 0, long long* outRead = nullptr) const override;
    VError PutData(const void* inData, long long inSize, int inOffset = 0) override;
    VError FromData(const void* inData, long long inSize) override;

    VValue* Clone() const override;
    bool FromValueSameKind(const VValue* inValue) override;
    void GetValue(VValueSingle& outValue) const override;
    void FromValue(const VValueSingle& inValue) override;

    const void* LoadFromPtr(const void* inData, bool inRefresh = false) override;
    void* WriteToPtr(void* inData, bool inRefresh = false, unsigned long inMax = 0) const override;
    unsigned long GetSpace(unsigned long long& ioSize, unsigned long inMax = 0) const override;
    unsigned long GetStreamSpace() const override;
    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;

private:
    const void* fData;
    long long fSize;
};

}  // namespace qelt
