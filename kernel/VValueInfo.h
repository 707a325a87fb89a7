// The descriptor of a value kind: creates empty values of the kind, builds
// values from their raw bytes, swaps raw bytes to the other byte order and
// compares raw bytes without building values. Every descriptor registers
// itself in the process-wide kind registry of VValue while it lives.
#pragma once

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VValue.h"

namespace qelt {

class VValueInfo : public VObject {
public:
    // A descriptor of the kind, registered under the same number.
    explicit VValueInfo(unsigned short inKind);
    // A descriptor of the kind, registered under a key of its own.
    VValueInfo(unsigned short inKind, unsigned short inKey);
    // Erases the registry entry under this descriptor's key.
    ~VValueInfo() override;

    VValueInfo(const VValueInfo&) = delete;
    VValueInfo& operator=(const VValueInfo&) = delete;

    unsigned short GetKind() const { return fKind; }
    unsigned short GetKey() const { return fKey; }

    // A new empty value of the kind, owned by the caller.
    virtual VValue* Generate() const = 0;
    // The same; the blob is ignored by every kind of the toolbox.
    virtual VValue* Generate(VBlob* inBlob) const = 0;
    // A new value holding the raw value at inPtr, owned by the caller.
    virtual VValue* LoadFromPtr(const void* inPtr, bool inRefresh = false) const = 0;
    // Swaps the numbers of a raw form to the other byte order in place;
    // inFromNative is true when the raw form is in machine order before the
    // call. Returns the address just past the last byte swapped.
    virtual void* ByteSwapPtr(void* inPtr, bool inFromNative) const = 0;

    virtual CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                              bool inDiacritical = false) const;
    virtual CompareResult CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                                      bool inDiacritical = false) const;
    virtual CompareResult CompareTwoPtrToData_Like(const void* inPtr1, const void* inPtr2,
                                                   bool inDiacritical = false) const;
    virtual CompareResult CompareTwoPtrToDataBegining_Like(const void* inPtr1, const void* inPtr2,
                                                           bool inDiacritical = false) const;
    virtual CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                         const VCompareOptions& inOptions) const;
    // Byte count of the raw form at inPtr.
    virtual unsigned long GetSizeOfValueDataPtr(const void* inPtr) const;
    // Typical raw size in bytes.
    virtual unsigned long GetAvgSpace() const;

private:
    unsigned short fKind;
    unsigned short fKey;
};

// The default descriptor of a class that has nothing special to say about
// raw forms: it creates values with the default constructor, loads raw forms
// through the value's own LoadFromPtr and swaps nothing.
template <class VALUE, unsigned short KIND>
class VValueInfo_default : public VValueInfo {
public:
    VValueInfo_default() : VValueInfo(KIND) {}
    VValue* Generate() const override { return new VALUE(); }
    VValue* Generate(VBlob*) const override { return new VALUE(); }
    VValue* LoadFromPtr(const void* inPtr, bool inRefresh = false) const override
    {
        VALUE* value = new VALUE();
        value->LoadFromPtr(inPtr, inRefresh);
        return value;
    }
    void* ByteSwapPtr(void* inPtr, bool) const override { return inPtr; }
};

}  // namespace qelt
