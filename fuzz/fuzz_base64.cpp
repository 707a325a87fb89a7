// Base64 decoding in both alphabets on arbitrary text, with and without the
// partial result; and the bytes, encoded then decoded, come back whole.
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "kernel/Base64Coder.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const bool url = (mode & 1) != 0;
    const uint8_t* text = data + 1;
    const unsigned long count = static_cast<unsigned long>(size - 1);

    Base64Coder::Buffer decoded;
    Base64Coder::Decode(text, count, decoded, url, (mode & 2) != 0);
    fuzz::Check(decoded.GetDataSize() <= count, "decoding never makes more bytes than characters");

    VString asText(text, count, VTC_ISO_8859_1);
    Base64Coder::Buffer viaString;
    Base64Coder::DecodeBase64(asText, viaString, url);

    // Round trip of the same bytes as data.
    Base64Coder::Buffer encoded;
    const int lineLength = url ? 0 : (mode >> 2) % 4;
    if (Base64Coder::_Encode(text, count, encoded, lineLength, url)) {
        Base64Coder::Buffer back;
        bool ok = Base64Coder::Decode(encoded.GetDataPtr(), static_cast<unsigned long>(encoded.GetDataSize()),
                                      back, url, false);
        fuzz::Check(ok, "encoded text decodes");
        fuzz::Check(back.GetDataSize() == count &&
                        (count == 0 || std::memcmp(back.GetDataPtr(), text, count) == 0),
                    "Base64 round trip gives the same bytes");
    }
    VString encodedString;
    if (Base64Coder::EncodeBase64(encodedString, text, count, url)) {
        Base64Coder::Buffer back;
        fuzz::Check(Base64Coder::DecodeBase64(encodedString, back, url), "encoded string decodes");
        fuzz::Check(back.GetDataSize() == count &&
                        (count == 0 || std::memcmp(back.GetDataPtr(), text, count) == 0),
                    "Base64 string round trip gives the same bytes");
    }
    return 0;
}
