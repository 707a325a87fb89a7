#include "kernel/mac/XMacFromUnicodeConverter.h"

#include "kernel/mac/XMacToUnicodeConverter.h"
#include "kernel/VThrowError.h"

namespace qelt {

XMacFromUnicodeConverter::XMacFromUnicodeConverter(CharSet inCharSet)
    : fEncoding(XMacToUnicodeConverter::CharSetToTextEncoding(inCharSet)),
      fInfo(nullptr),
      fConverter(nullptr),
      fUnicodeEncoding(0)
{
    const int status = plat::CreateTextEncoder(fEncoding, &fInfo);
    if (status == plat::kTextStatusNoDirectCodec) {
        fUnicodeEncoding = plat::MakeTextEncoding(plat::kTextEncodingBaseUnicode, 0, plat::kTextFormatUTF16);
        if (plat::CreateTextConverter(fUnicodeEncoding, fEncoding, &fConverter) != plat::kTextStatusOK)
            fConverter = nullptr;
    } else if (status != plat::kTextStatusOK) {
        fInfo = nullptr;
    }
}

XMacFromUnicodeConverter::XMacFromUnicodeConverter(CharSet inCharSet, plat::TextCodec* inCodec)
    : fEncoding(XMacToUnicodeConverter::CharSetToTextEncoding(inCharSet)),
      fInfo(inCodec),
      fConverter(nullptr),
      fUnicodeEncoding(0)
{
}

XMacFromUnicodeConverter::~XMacFromUnicodeConverter()
{
    if (fInfo != nullptr)
        plat::DisposeTextCodec(fInfo);
    if (fConverter != nullptr)
        plat::DisposeTextCodec(fConverter);
}

bool XMacFromUnicodeConverter::IsValid() const { return fInfo != nullptr || fConverter != nullptr; }

unsigned long XMacFromUnicodeConverter::GetCharSize() const
{
    switch (plat::GetTextEncodingFormat(fEncoding)) {
        case 0:
            return 2;
        case 1:
        case 2:
            return 1;
        case 3:
            return 4;
        case 4:
        case 5:
            return 2;
        case 6:
        case 7:
            return 4;
        default:
            return 1;
    }
}

bool XMacFromUnicodeConverter::Convert(const UniChar* inSource, int inUniChars, int* outConsumedUniChars,
                                       void* outBuffer, unsigned long inBufferSize,
                                       unsigned long* outProducedBytes)
{
    *outConsumedUniChars = 0;
    *outProducedBytes = 0;
    if (inBufferSize == 0 || inUniChars <= 0)
        return true;
    plat::TextCodec* codec = fInfo != nullptr ? fInfo : fConverter;
    unsigned char* target = static_cast<unsigned char*>(outBuffer);
    int consumed = 0;
    unsigned long written = 0;
    while (consumed < inUniChars) {
        size_t bytesRead = 0;
        size_t bytesWritten = 0;
        int status = plat::kTextStatusNoConversionPath;
        if (codec != nullptr)
            status = plat::ConvertText(codec, inSource + consumed, static_cast<size_t>(inUniChars - consumed) * 2,
                                       &bytesRead, target + written, inBufferSize - written, &bytesWritten);
        if (status == plat::kTextStatusOK || status == plat::kTextStatusOutputFull ||
            status == plat::kTextStatusUnmappable) {
            consumed += static_cast<int>(bytesRead / 2);
            written += bytesWritten;
        }
        if (status == plat::kTextStatusOK || status == plat::kTextStatusOutputFull)
            break;
        if (status == plat::kTextStatusUnmappable) {
            // A "?" takes the place of the character the set cannot express,
            // while at most half of the target is used; otherwise the
            // character is left for the next call, which starts with room.
            if (consumed >= inUniChars || written * 2 >= inBufferSize)
                break;
            target[written++] = '?';
            const UniChar unit = inSource[consumed++];
            if (unit >= 0xD800 && unit <= 0xDBFF && consumed < inUniChars && inSource[consumed] >= 0xDC00 &&
                inSource[consumed] <= 0xDFFF)
                ++consumed;
            continue;
        }
        // Any other failure raises the platform's status and reports nothing
        // converted, even when a part of the text was converted before it:
        // the caller must not take a partial output for the whole.
        _ThrowError(MakeVError(kSignatureCARB, status));
        return false;
    }
    *outConsumedUniChars = consumed;
    *outProducedBytes = written;
    return true;
}

VFromUnicodeConverter* XMacFromUnicodeConverter::NewFromUnicodeConverter(CharSet inCharSet)
{
    XMacFromUnicodeConverter* converter = new XMacFromUnicodeConverter(inCharSet);
    if (converter->IsValid())
        return converter;
    delete converter;
    return nullptr;
}

}  // namespace qelt
