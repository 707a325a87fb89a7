// Text converters: reference-counted objects that turn bytes of one CharSet
// into UTF-16 units (VToUnicodeConverter) and UTF-16 units into bytes of one
// CharSet (VFromUnicodeConverter), and the built-in converters for the
// Unicode forms. Converters keep no conversion state between calls, so one
// instance may be used by several threads at once.
#pragma once

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VString;

// Bytes of one CharSet to UTF-16.
class VToUnicodeConverter : public VObject, public IRefCountable {
public:
    VToUnicodeConverter() = default;
    VToUnicodeConverter(const VToUnicodeConverter&) = delete;
    VToUnicodeConverter& operator=(const VToUnicodeConverter&) = delete;
    ~VToUnicodeConverter() override;

    // False for a converter that converts nothing.
    virtual bool IsValid() const;

    // Decodes the bytes and appends the text to ioString. outBytesConsumed
    // (may be null) receives the number of bytes used. False only when the
    // string could not grow ('qelt' 300 raised; the text decoded so far is kept).
    virtual bool ConvertString(const void* inSource, unsigned long inByteCount,
                               unsigned long* outBytesConsumed, VString& ioString);

    // One conversion step: decodes from the start of the source as far as
    // the target allows; never writes beyond inMaxUniChars units. The counts
    // are always set. Unconsumed bytes are to be offered again.
    virtual bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                         UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) = 0;

    // The size in bytes of one produced character (2).
    virtual unsigned long GetCharSize() const;
};

// UTF-16 to bytes of one CharSet.
class VFromUnicodeConverter : public VObject, public IRefCountable {
public:
    VFromUnicodeConverter() = default;
    VFromUnicodeConverter(const VFromUnicodeConverter&) = delete;
    VFromUnicodeConverter& operator=(const VFromUnicodeConverter&) = delete;
    ~VFromUnicodeConverter() override;

    virtual bool IsValid() const;

    // One conversion step: encodes from the start of the source as far as
    // the target allows; never writes beyond inBufferSize bytes.
    virtual bool Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars,
                         void* outBuffer, unsigned long inBufferSize, unsigned long* outProducedBytes) = 0;

    // The most bytes one UTF-16 unit needs in the target set.
    virtual unsigned long GetCharSize() const = 0;

    // Encodes the units after the first ioUsedBytes bytes of ioBlock (a
    // memory-manager block, may be null), growing it as needed and keeping
    // inSpareBytes free after the output. ioUsedBytes receives the new count.
    bool ConvertRealloc(const UniChar* inSource, int inUniChars, void*& ioBlock, unsigned long& ioUsedBytes,
                        unsigned long inSpareBytes);

    // Appends the encoded units to the data of the buffer; inSpareBytes are
    // reserved once after the output and counted in the data size.
    bool ConvertToBuffer(const UniChar* inSource, int inUniChars,
                         VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer, unsigned long inSpareBytes);
};

// UTF-16 in machine byte order (CharSet 2): a copy.
class VToUnicodeConverter_Null : public VToUnicodeConverter {
public:
    bool ConvertString(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                       VString& ioString) override;
    bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                 UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) override;
};

class VFromUnicodeConverter_Null : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars, void* outBuffer,
                 unsigned long inBufferSize, unsigned long* outProducedBytes) override;
    unsigned long GetCharSize() const override;
};

// UTF-16 in the other byte order (CharSet 1).
class VToUnicodeConverter_Swap : public VToUnicodeConverter {
public:
    bool ConvertString(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                       VString& ioString) override;
    bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                 UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) override;
};

class VFromUnicodeConverter_Swap : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars, void* outBuffer,
                 unsigned long inBufferSize, unsigned long* outProducedBytes) override;
    unsigned long GetCharSize() const override;
};

// UTF-32 (CharSets 3 and 4); the flag is set for the byte-swapped form.
class VToUnicodeConverter_UTF32 : public VToUnicodeConverter {
public:
    explicit VToUnicodeConverter_UTF32(bool inSwap) : fSwap(inSwap) {}
    bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                 UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) override;

private:
    bool fSwap;
};

class VFromUnicodeConverter_UTF32 : public VFromUnicodeConverter {
public:
    explicit VFromUnicodeConverter_UTF32(bool inSwap) : fSwap(inSwap) {}
    bool Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars, void* outBuffer,
                 unsigned long inBufferSize, unsigned long* outProducedBytes) override;
    unsigned long GetCharSize() const override;

private:
    bool fSwap;
};

// Raw 32-bit units, one per UTF-16 unit (CharSets 5 and 6).
class VToUnicodeConverter_UTF32_Raw : public VToUnicodeConverter {
public:
    explicit VToUnicodeConverter_UTF32_Raw(bool inSwap) : fSwap(inSwap) {}
    bool ConvertString(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                       VString& ioString) override;
    bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                 UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) override;

private:
    bool fSwap;
};

class VFromUnicodeConverter_UTF32_Raw : public VFromUnicodeConverter {
public:
    explicit VFromUnicodeConverter_UTF32_Raw(bool inSwap) : fSwap(inSwap) {}
    bool Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars, void* outBuffer,
                 unsigned long inBufferSize, unsigned long* outProducedBytes) override;
    unsigned long GetCharSize() const override;

private:
    bool fSwap;
};

// UTF-8 (CharSet 7).
class VToUnicodeConverter_UTF8 : public VToUnicodeConverter {
public:
    bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                 UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) override;
};

class VFromUnicodeConverter_UTF8 : public VFromUnicodeConverter {
public:
    bool Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars, void* outBuffer,
                 unsigned long inBufferSize, unsigned long* outProducedBytes) override;
    unsigned long GetCharSize() const override;

    // Encodes 32-bit units to UTF-8; a null target only counts the bytes.
    bool ConvertFrom_wchar(const wchar_t* inSource, int inWChars, int* outConsumedWChars, void* outBuffer,
                           unsigned long inBufferSize, unsigned long* outProducedBytes);
};

// No character set: converts nothing and reports itself not valid.
class VToUnicodeConverter_Void : public VToUnicodeConverter {
public:
    bool IsValid() const override;
    bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                 UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) override;
    unsigned long GetCharSize() const override;
};

class VFromUnicodeConverter_Void : public VFromUnicodeConverter {
public:
    bool IsValid() const override;
    bool Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars, void* outBuffer,
                 unsigned long inBufferSize, unsigned long* outProducedBytes) override;
    unsigned long GetCharSize() const override;
};

}  // namespace qelt
