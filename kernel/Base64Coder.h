// Base64 text of byte blocks and back, in the two alphabets of RFC 4648: the
// standard alphabet (padded with "=") and the URL- and filename-safe alphabet
// (never padded). Also writes digests as Base64 or hexadecimal text.
// A class of static functions only; it keeps no state.
#pragma once

#include "kernel/VKernelTypes.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VString;

class Base64Coder {
public:
    using Buffer = VMemoryBuffer<1024ul, 2ul, 1048576ul>;

    Base64Coder() = delete;

    // The 64 characters of each alphabet (plus a terminating zero).
    static const char sBase64Alphabet[65];
    static const char sBase64URLAlphabet[65];
    // Indexed by a text byte: the 6-bit value of an alphabet character, 255
    // for every other byte ("=" included).
    static const unsigned char sBase64Inverse[256];
    static const unsigned char sBase64URLInverse[256];

    // Replaces the buffer's content by the Base64 text of the bytes. A line
    // length above 0 (in groups of four characters, standard alphabet only)
    // puts CR LF after every that many groups, never after the last one.
    static bool _Encode(const void* inBytes, unsigned long inCount, Buffer& outBuffer, int inLineLength,
                        bool inURL);

    // Replaces the buffer's content by the bytes of the Base64 text; true
    // when the whole text decoded. On failure the buffer is emptied, or,
    // with inKeepPartial, holds exactly the bytes of the groups decoded
    // before the fault.
    static bool Decode(const void* inText, unsigned long inCount, Buffer& outBuffer, bool inURL,
                       bool inKeepPartial);

    // The workers of Decode (the buffer must be empty on entry).
    static bool _DecodeBase64(const unsigned char* inText, unsigned long inCount, Buffer& outBuffer);
    static bool _DecodeBase64URL(const unsigned char* inText, unsigned long inCount, Buffer& outBuffer);

    // Decodes inGroups groups of four characters with the inverse table,
    // advancing both indices as it goes; false at the first byte outside
    // the alphabet (the text index then stands just past it).
    static bool _DecodeQuads(const unsigned char* inInverse, const unsigned char* inText, unsigned long inGroups,
                             unsigned char* outBytes, unsigned long& ioTextIndex, unsigned long& ioOutIndex);

    // A digest as standard Base64 text without line breaks.
    static void DO_EncodeChecksumBase64(const unsigned char* inBytes, unsigned long inCount, VString& outResult);
    // A digest as lower-case hexadecimal text, two digits per byte.
    static void DO_EncodeChecksumHexa(const unsigned char* inBytes, unsigned long inCount, VString& outResult);

    // The string side of the coder (the bodies of VString's Base64 members):
    // sets the string to the Base64 text of the bytes; false, string unchanged,
    // when the text cannot be made.
    static bool EncodeBase64(VString& ioString, const void* inBytes, unsigned long inCount, bool inURL);
    // Replaces the string's text by the Base64 text of its bytes in the
    // character set; an empty or null string stays as it is.
    static bool EncodeBase64(VString& ioString, CharSet inCharSet, bool inURL);
    // Decodes the string's text into the buffer; a character above U+007F
    // raises 'qelt' 210 and leaves the buffer as it was.
    static bool DecodeBase64(const VString& inString, Buffer& outBuffer, bool inURL);
    // Replaces the string's Base64 text by the text those bytes carry in the
    // character set; an empty or null string stays as it is.
    static bool DecodeBase64(VString& ioString, CharSet inCharSet, bool inURL);
};

}  // namespace qelt
