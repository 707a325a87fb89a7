// Decoder of the character sets that have no built-in converter, served by
// the platform layer's text encodings.
#pragma once

#include <cstdint>

#include "kernel/VTextConverter.h"
#include "platform/PlatTextEncoding.h"

namespace qelt {

class XMacToUnicodeConverter : public VToUnicodeConverter {
public:
    explicit XMacToUnicodeConverter(CharSet inCharSet);
    ~XMacToUnicodeConverter() override;

    // True when either conversion object could be made.
    bool IsValid() const override;
    bool Convert(const void* inSource, unsigned long inByteCount, unsigned long* outBytesConsumed,
                 UniChar* outTarget, int inMaxUniChars, int* outProducedUniChars) override;

    // The platform text encoding of a set (0xFFFF for none).
    static uint32_t CharSetToTextEncoding(CharSet inCharSet);

    // A new valid decoder with one reference, or null when the platform
    // cannot convert the set.
    static VToUnicodeConverter* NewToUnicodeConverter(CharSet inCharSet);

private:
    uint32_t fEncoding;
    plat::TextCodec* fInfo;       // direct conversion object, or null
    plat::TextCodec* fConverter;  // general converter, made only without a direct object
    uint32_t fUnicodeEncoding;    // the UTF-16 encoding used with the general converter
};

}  // namespace qelt
