// The converter singleton: hands out the text converters of every CharSet,
// and the static charset registry (names and MIB numbers) with the
// byte-order marks of the Unicode forms.
#pragma once

#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VTextConverter.h"

namespace qelt {

class VString;

class VTextConverters : public VObject {
public:
    // The singleton, created on the first call (safe from any thread).
    static VTextConverters* Get();

    ~VTextConverters() override;

    // A decoder or encoder of the set for the caller to release; never null
    // (a set without a converter gets a Void converter).
    VToUnicodeConverter* RetainToUnicodeConverter(CharSet inCharSet);
    VFromUnicodeConverter* RetainFromUnicodeConverter(CharSet inCharSet);

    // The shared UTF-8 converters, not retained.
    VToUnicodeConverter* GetStdLibToUnicodeConverter() const { return fToUTF8; }
    VFromUnicodeConverter* GetStdLibFromUnicodeConverter() const { return fFromUTF8; }

    // Replaces the string's text by the bytes decoded from the set.
    bool ConvertToVString(const void* inBuffer, unsigned long inBufferSize, CharSet inCharSet, VString& outString);

    // Encodes the string's units into the buffer (one Convert step).
    bool ConvertFromVString(const VString& inString, int* outCharsConsumed, void* outBuffer,
                            unsigned long inBufferSize, unsigned long* outBytesProduced, CharSet inCharSet);

    // Detects a byte-order mark at the start of the bytes. Without one the
    // outputs (both optional) receive 0 and 0 and the answer is false.
    static bool ParseBOM(const void* inBuffer, unsigned long inBufferSize, unsigned long* outBOMSize,
                         CharSet* outCharSet);

    // The byte-order mark of the set and its length; null and 0 without one.
    static const unsigned char* GetBOMForCharSet(CharSet inCharSet, unsigned long* outBOMSize);

    // Registry look-ups; the first matching row wins. Names are compared
    // without regard to letter case.
    static void GetNameFromCharSet(CharSet inCharSet, VString& outName);
    static CharSet GetCharSetFromName(const VString& inName);
    static int GetMIBEnumFromCharSet(CharSet inCharSet);
    static int GetMIBEnumFromName(const VString& inName);
    static CharSet GetCharSetFromMIBEnum(int inMIBEnum);
    static void GetNameFromMIBEnum(int inMIBEnum, VString& outName);

    // The names offered for web use, in registry order.
    static void EnumWebCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets);
    // One name per run of rows of one set, sorted by name.
    static void EnumCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets);

    static VTextConverters* sInstance;

private:
    VTextConverters();
    VTextConverters(const VTextConverters&) = delete;
    VTextConverters& operator=(const VTextConverters&) = delete;

    VToUnicodeConverter* fToSystem;
    VFromUnicodeConverter* fFromSystem;
    VToUnicodeConverter* fToNull;
    VFromUnicodeConverter* fFromNull;
    VToUnicodeConverter* fToSwap;
    VFromUnicodeConverter* fFromSwap;
    VToUnicodeConverter* fToUTF32Raw;
    VFromUnicodeConverter* fFromUTF32Raw;
    VToUnicodeConverter* fToUTF32;
    VFromUnicodeConverter* fFromUTF32;
    VToUnicodeConverter* fToUTF8;
    VFromUnicodeConverter* fFromUTF8;
};

}  // namespace qelt
