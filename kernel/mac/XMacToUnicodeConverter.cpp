#include "kernel/mac/XMacToUnicodeConverter.h"

#include "kernel/VString.h"
#include "kernel/VThrowError.h"

namespace qelt {

namespace {

// One row of the table of sets converted by the platform.
struct EncodingRow {
    int fCharSet;
    uint32_t fBase;
    uint32_t fVariant;
    uint32_t fFormat;
};

const EncodingRow kEncodingTable[] = {
    {VTC_UTF_7, 0x0100, 0, 1},
    {VTC_US_ASCII, 0x0600, 0, 0},
    {VTC_EBCDIC_037, 0x0C02, 0, 0},
    {VTC_IBM437, 0x0400, 0, 0},
    {VTC_MacRoman, 0x0000, 0, 0},
    {VTC_Win32Ansi, 0x0500, 0, 0},
    {VTC_MacCentralEurRoman, 0x001D, 0, 0},
    {VTC_WinLatin2, 0x0501, 0, 0},
    {VTC_MacCyrillic, 0x0007, 0, 0},
    {VTC_WinCyrillic, 0x0502, 0, 0},
    {VTC_MacGreek, 0x0006, 0, 0},
    {VTC_WinGreek, 0x0503, 0, 0},
    {VTC_MacTurkish, 0x0023, 0, 0},
    {VTC_WinTurkish, 0x0504, 0, 0},
    {VTC_MacArabic, 0x0004, 0, 0},
    {VTC_WinArabic, 0x0506, 0, 0},
    {VTC_MacHebrew, 0x0005, 0, 0},
    {VTC_WinHebrew, 0x0505, 0, 0},
    {VTC_MacBaltic, 0x001D, 0, 0},
    {VTC_WinBaltic, 0x0507, 0, 0},
    {VTC_MacChineseSimplified, 0x0019, 0, 0},
    {VTC_WinChineseSimplified, 0x0421, 0, 0},
    {VTC_MacChineseTraditional, 0x0002, 0, 0},
    {VTC_WinChineseTraditional, 0x0423, 0, 0},
    {VTC_MacJapanese, 0x0001, 0, 0},
    {VTC_ShiftJIS, 0x0A01, 0, 0},
    {VTC_Japanese_ISO2022, 0x0820, 0, 0},
    {VTC_Big5, 0x0A03, 0, 0},
    {VTC_Korean_EUC, 0x0940, 0, 0},
    {VTC_KOI8R, 0x0A02, 0, 0},
    {VTC_ISO_8859_1, 0x0201, 0, 0},
    {VTC_ISO_8859_2, 0x0202, 0, 0},
    {VTC_ISO_8859_3, 0x0203, 0, 0},
    {VTC_ISO_8859_4, 0x0204, 0, 0},
    {VTC_ISO_8859_5, 0x0205, 0, 0},
    {VTC_ISO_8859_6, 0x0206, 0, 0},
    {VTC_ISO_8859_7, 0x0207, 0, 0},
    {VTC_ISO_8859_8, 0x0208, 0, 0},
    {VTC_ISO_8859_9, 0x0209, 0, 0},
    {VTC_ISO_8859_10, 0x020A, 0, 0},
    {VTC_ISO_8859_13, 0x020D, 0, 0},
    {VTC_GB2312, 0x0421, 0, 0},
    {VTC_GB2312_80, 0x0630, 0, 0},
    {VTC_ISO_8859_15, 0x020F, 0, 0},
    {VTC_WINDOWS_31J, 0x0420, 0, 0},
};

}  // namespace

uint32_t XMacToUnicodeConverter::CharSetToTextEncoding(CharSet inCharSet)
{
    switch (static_cast<int>(inCharSet)) {
        case VTC_SYSTEM:
            return plat::MakeTextEncoding(0x0000, 0, 0);
        case VTC_UTF_16_SMALLENDIAN:
            return plat::MakeTextEncoding(plat::kTextEncodingBaseUnicode, 0, plat::kTextFormatUTF16);
        case VTC_UTF_32_SMALLENDIAN:
            return plat::MakeTextEncoding(plat::kTextEncodingBaseUnicode, 0, plat::kTextFormatUTF32);
        case VTC_UTF_8:
            return plat::MakeTextEncoding(plat::kTextEncodingBaseUnicode, 0, plat::kTextFormatUTF8);
        default:
            break;
    }
    for (const EncodingRow& row : kEncodingTable)
        if (row.fCharSet == static_cast<int>(inCharSet))
            return plat::MakeTextEncoding(row.fBase, row.fVariant, row.fFormat);
    return plat::kTextEncodingNone;
}

XMacToUnicodeConverter::XMacToUnicodeConverter(CharSet inCharSet)
    : fEncoding(CharSetToTextEncoding(inCharSet)), fInfo(nullptr), fConverter(nullptr), fUnicodeEncoding(0)
{
    const int status = plat::CreateTextDecoder(fEncoding, &fInfo);
    if (status == plat::kTextStatusNoDirectCodec) {
        fUnicodeEncoding = plat::MakeTextEncoding(plat::kTextEncodingBaseUnicode, 0, plat::kTextFormatUTF16);
        if (plat::CreateTextConverter(fEncoding, fUnicodeEncoding, &fConverter) != plat::kTextStatusOK)
            fConverter = nullptr;
    } else if (status != plat::kTextStatusOK) {
        fInfo = nullptr;
    }
}

XMacToUnicodeConverter::~XMacToUnicodeConverter()
{
    if (fInfo != nullptr)
        plat::DisposeTextCodec(fInfo);
    if (fConverter != nullptr)
        plat::DisposeTextCodec(fConverter);
}

bool XMacToUnicodeConverter::IsValid() const { return fInfo != nullptr || fConverter != nullptr; }

bool XMacToUnicodeConverter::Convert(const void* inSource, unsigned long inByteCount,
                                     unsigned long* outBytesConsumed, UniChar* outTarget, int inMaxUniChars,
                                     int* outProducedUniChars)
{
    const size_t targetBytes = inMaxUniChars > 0 ? static_cast<size_t>(inMaxUniChars) * 2 : 0;
    size_t bytesRead = 0;
    size_t bytesWritten = 0;
    plat::TextCodec* codec = fInfo != nullptr ? fInfo : fConverter;
    int status = plat::kTextStatusNoConversionPath;
    if (codec != nullptr)
        status = plat::ConvertText(codec, inSource, inByteCount, &bytesRead, outTarget, targetBytes, &bytesWritten);
    if (status == plat::kTextStatusOK || status == plat::kTextStatusOutputFull ||
        status == plat::kTextStatusPartialInput) {
        *outBytesConsumed = bytesRead;
        *outProducedUniChars = static_cast<int>(bytesWritten / 2);
        return true;
    }
    *outBytesConsumed = 0;
    *outProducedUniChars = 0;
    if (inByteCount == 0)
        return true;
    _ThrowError(MakeVError(kSignatureCARB, status));
    return false;
}

VToUnicodeConverter* XMacToUnicodeConverter::NewToUnicodeConverter(CharSet inCharSet)
{
    XMacToUnicodeConverter* converter = new XMacToUnicodeConverter(inCharSet);
    if (converter->IsValid())
        return converter;
    delete converter;
    return nullptr;
}

}  // namespace qelt
