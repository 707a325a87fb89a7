// Encoder of the character sets that have no built-in converter, served by
// the platform layer's text encodings.
#pragma once

#include <cstdint>

#include "kernel/VTextConverter.h"
#include "platform/PlatTextEncoding.h"

namespace qelt {

class XMacFromUnicodeConverter : public VFromUnicodeConverter {
public:
    explicit XMacFromUnicodeConverter(CharSet inCharSet);
    ~XMacFromUnicodeConverter() override;

    bool IsValid() const override;
    bool Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars, void* outBuffer,
                 unsigned long inBufferSize, unsigned long* outProducedBytes) override;
    // From the format of the encoding: the most bytes one unit needs.
    unsigned long GetCharSize() const override;

    // A new valid encoder with one reference, or null when the platform
    // cannot convert the set.
    static VFromUnicodeConverter* NewFromUnicodeConverter(CharSet inCharSet);

protected:
    // An encoder of the set over a codec the caller made, which it adopts
    // (tests give it codecs with chosen outcomes).
    XMacFromUnicodeConverter(CharSet inCharSet, plat::TextCodec* inCodec);

private:
    uint32_t fEncoding;
    plat::TextCodec* fInfo;
    plat::TextCodec* fConverter;
    uint32_t fUnicodeEncoding;
};

}  // namespace qelt
