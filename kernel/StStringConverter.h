// Scoped conversion of a VString into the bytes of a CharSet: the object
// holds the encoded bytes and a terminating zero for as long as it lives.
// Short texts are encoded into a buffer inside the object (no allocation);
// longer ones into one block of the memory manager, freed with the object.
#pragma once

#include <string>

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"

namespace qelt {

class VString;
class VFromUnicodeConverter;

class StStringConverterBase : public VObject {
public:
    static constexpr unsigned long kInlineSize = 512;

    StStringConverterBase(CharSet inCharSet, ECarriageReturnMode inLineEndMode);
    StStringConverterBase(const StStringConverterBase& inOther);
    StStringConverterBase(StStringConverterBase&& ioOther) noexcept;
    StStringConverterBase& operator=(const StStringConverterBase&) = delete;
    StStringConverterBase& operator=(StStringConverterBase&&) = delete;
    ~StStringConverterBase() override;

    // Encodes the units, followed by inNbTrailingZeros zero bytes. On
    // failure the output holds only the zero bytes and IsOK() is false.
    void _ConvertString(const UniChar* inUniPtr, int inLength, unsigned long inNbTrailingZeros);

    // The encoded bytes (the terminator follows them), their number and the
    // outcome of the last conversion.
    const char* GetCPointer() const { return reinterpret_cast<const char*>(fOutput); }
    unsigned long GetSize() const { return fSize; }
    bool IsOK() const { return fOK; }

protected:
    // Applies the line-end mode (to a copy) and encodes the string.
    void _ConvertVString(const VString& inString, unsigned long inNbTrailingZeros);

public:
    // The state, in this order; callers read the output, the size and the
    // ok flag directly after construction.
    unsigned char* fOutput;            // the inline buffer, or the heap block once a text did not fit
    unsigned long fSize;               // encoded bytes, terminator not counted
    ECarriageReturnMode fLineEndMode;  // applied before encoding
    bool fOK;                          // outcome of the last conversion
    unsigned long fCapacity;           // bytes available at the output
    unsigned char* fHeapBlock;         // memory-manager block, null until needed
    VFromUnicodeConverter* fConverter; // retained encoder of the set
    unsigned long fNbTrailingZeros;    // terminator bytes of the last conversion
    unsigned char fInlineBuffer[kInlineSize];
};

template <class T>
class StStringConverter : public StStringConverterBase {
public:
    StStringConverter(const VString& inString, CharSet inCharSet, ECarriageReturnMode inLineEndMode = eCRM_NONE)
        : StStringConverterBase(inCharSet, inLineEndMode)
    {
        ConvertString(inString);
    }
    StStringConverter(const StStringConverter&) = default;
    StStringConverter(StStringConverter&&) noexcept = default;
    ~StStringConverter() override = default;

    const T* ConvertString(const VString& inString)
    {
        _ConvertVString(inString, sizeof(T));
        return GetCPointer();
    }

    const T* GetCPointer() const { return reinterpret_cast<const T*>(fOutput); }
};

// The UTF-8 bytes of the string.
std::string to_string(const VString& inString);

}  // namespace qelt
