#include "kernel/VTextConverters.h"

#include <cwchar>
#include <utility>

#include "kernel/VString.h"
#include "kernel/mac/XMacFromUnicodeConverter.h"
#include "kernel/mac/XMacToUnicodeConverter.h"

namespace qelt {

namespace {

// One row of the charset registry.
struct CharSetRow {
    CharSet fCharSet;
    unsigned int fMIBEnum;
    const wchar_t* fWideName;
    const char* fName;
    bool fWeb;
};

#define QELT_CS_ROW(cs, mib, name, web) {static_cast<CharSet>(cs), mib, L##name, name, web}

// The first matching row decides every look-up; the all-zero row ends it.
const CharSetRow kCharSetRegistry[] = {
    QELT_CS_ROW(4, 1017, "UCS4", false),
    QELT_CS_ROW(3, 1018, "UCS4BE", false),
    QELT_CS_ROW(4, 1019, "UCS4LE", false),
    QELT_CS_ROW(4, 1017, "UCS_4", false),
    QELT_CS_ROW(3, 1018, "UCS_4BE", false),
    QELT_CS_ROW(4, 1019, "UCS_4LE", false),
    QELT_CS_ROW(4, 1017, "UCS-4", false),
    QELT_CS_ROW(3, 1018, "UCS-4BE", false),
    QELT_CS_ROW(4, 1019, "UCS-4LE", false),
    QELT_CS_ROW(4, 1017, "UTF-32", false),
    QELT_CS_ROW(3, 1018, "UTF-32BE", false),
    QELT_CS_ROW(4, 1019, "UTF-32LE", false),
    QELT_CS_ROW(2, 1015, "UTF-16", false),
    QELT_CS_ROW(1, 1013, "UTF-16BE", false),
    QELT_CS_ROW(2, 1014, "UTF-16LE", false),
    QELT_CS_ROW(7, 106, "UTF-8", true),
    QELT_CS_ROW(8, 1012, "UTF-7", true),
    QELT_CS_ROW(8, 103, "UNICODE-1-1-UTF-7", true),
    QELT_CS_ROW(9, 3, "US-ASCII", false),
    QELT_CS_ROW(9, 3, "ANSI_X3.4-1968", false),
    QELT_CS_ROW(9, 3, "ANSI_X3.4-1986", false),
    QELT_CS_ROW(9, 3, "ASCII", false),
    QELT_CS_ROW(9, 3, "cp367", false),
    QELT_CS_ROW(9, 3, "csASCII", false),
    QELT_CS_ROW(9, 3, "IBM367", false),
    QELT_CS_ROW(9, 3, "iso-ir-6", false),
    QELT_CS_ROW(9, 3, "ISO_646.irv:1991", false),
    QELT_CS_ROW(9, 3, "ISO646-US", false),
    QELT_CS_ROW(9, 3, "us", false),
    QELT_CS_ROW(11, 2011, "IBM437", false),
    QELT_CS_ROW(11, 2011, "cp437", false),
    QELT_CS_ROW(11, 2011, "437", false),
    QELT_CS_ROW(11, 2011, "csPC8CodePage437", false),
    QELT_CS_ROW(10, 2028, "ebcdic-cp-us", false),
    QELT_CS_ROW(10, 2028, "cp037", false),
    QELT_CS_ROW(10, 2028, "csIBM037", false),
    QELT_CS_ROW(10, 2028, "ebcdic-cp-ca", false),
    QELT_CS_ROW(10, 2028, "ebcdic-cp-nl", false),
    QELT_CS_ROW(10, 2028, "ebcdic-cp-wt", false),
    QELT_CS_ROW(10, 2028, "IBM037", false),
    QELT_CS_ROW(100, 2027, "MacRoman", false),
    QELT_CS_ROW(100, 2027, "x-mac-roman", false),
    QELT_CS_ROW(100, 2027, "mac", false),
    QELT_CS_ROW(100, 2027, "macintosh", false),
    QELT_CS_ROW(100, 2027, "csMacintosh", false),
    QELT_CS_ROW(101, 2252, "windows-1252", false),
    QELT_CS_ROW(102, 1250, "MacCE", false),
    QELT_CS_ROW(102, 1250, "x-mac-ce", false),
    QELT_CS_ROW(103, 2250, "windows-1250", false),
    QELT_CS_ROW(104, 1251, "x-mac-cyrillic", false),
    QELT_CS_ROW(105, 2251, "windows-1251", false),
    QELT_CS_ROW(106, 1253, "x-mac-greek", false),
    QELT_CS_ROW(107, 2253, "windows-1253", false),
    QELT_CS_ROW(108, 1254, "x-mac-turkish", false),
    QELT_CS_ROW(109, 2254, "windows-1254", false),
    QELT_CS_ROW(110, 1256, "x-mac-arabic", false),
    QELT_CS_ROW(111, 2256, "windows-1256", false),
    QELT_CS_ROW(112, 1255, "x-mac-hebrew", false),
    QELT_CS_ROW(113, 2255, "windows-1255", false),
    QELT_CS_ROW(114, 1257, "x-mac-ce", false),
    QELT_CS_ROW(115, 2257, "windows-1257", false),
    QELT_CS_ROW(1000, 17, "Shift_JIS", true),
    QELT_CS_ROW(1000, 17, "csShiftJIS", false),
    QELT_CS_ROW(1000, 17, "MS_Kanji", false),
    QELT_CS_ROW(1000, 17, "Shift-JIS", false),
    QELT_CS_ROW(120, 1258, "x-mac-japanese", false),
    QELT_CS_ROW(1019, 2024, "Windows-31J", false),
    QELT_CS_ROW(1019, 2024, "csWindows31J", false),
    QELT_CS_ROW(1001, 39, "ISO-2022-JP", false),
    QELT_CS_ROW(1001, 39, "csISO2022JP", false),
    QELT_CS_ROW(1002, 2026, "Big5", true),
    QELT_CS_ROW(1002, 2026, "csBig5", false),
    QELT_CS_ROW(1003, 38, "EUC-KR", true),
    QELT_CS_ROW(1003, 38, "csEUCKR", false),
    QELT_CS_ROW(1004, 2084, "KOI8-R", true),
    QELT_CS_ROW(1004, 2084, "csKOI8R", false),
    QELT_CS_ROW(1005, 4, "ISO-8859-1", true),
    QELT_CS_ROW(1005, 4, "CP819", false),
    QELT_CS_ROW(1005, 4, "csISOLatin1", false),
    QELT_CS_ROW(1005, 4, "IBM819", false),
    QELT_CS_ROW(1005, 4, "iso-ir-100", false),
    QELT_CS_ROW(1005, 4, "ISO_8859-1", false),
    QELT_CS_ROW(1005, 4, "ISO_8859-1:1987", false),
    QELT_CS_ROW(1005, 4, "l1", false),
    QELT_CS_ROW(1005, 4, "latin1", false),
    QELT_CS_ROW(1006, 5, "ISO-8859-2", true),
    QELT_CS_ROW(1006, 5, "csISOLatin2", false),
    QELT_CS_ROW(1006, 5, "iso-ir-101", false),
    QELT_CS_ROW(1006, 5, "ISO_8859-2", false),
    QELT_CS_ROW(1006, 5, "ISO_8859-2:1987", false),
    QELT_CS_ROW(1006, 5, "l2", false),
    QELT_CS_ROW(1006, 5, "latin2", false),
    QELT_CS_ROW(1007, 6, "ISO-8859-3", true),
    QELT_CS_ROW(1007, 6, "csISOLatin3", false),
    QELT_CS_ROW(1007, 6, "ISO-8859-3:1988", false),
    QELT_CS_ROW(1007, 6, "iso-ir-109", false),
    QELT_CS_ROW(1007, 6, "ISO_8859-3", false),
    QELT_CS_ROW(1007, 6, "l3", false),
    QELT_CS_ROW(1007, 6, "latin3", false),
    QELT_CS_ROW(1008, 7, "ISO-8859-4", true),
    QELT_CS_ROW(1008, 7, "csISOLatin4", false),
    QELT_CS_ROW(1008, 7, "ISO-8859-4:1988", false),
    QELT_CS_ROW(1008, 7, "iso-ir-110", false),
    QELT_CS_ROW(1008, 7, "ISO_8859-4", false),
    QELT_CS_ROW(1008, 7, "l4", false),
    QELT_CS_ROW(1008, 7, "latin4", false),
    QELT_CS_ROW(1009, 8, "ISO-8859-5", true),
    QELT_CS_ROW(1009, 8, "csISOLatinCyrillic", false),
    QELT_CS_ROW(1009, 8, "cyrillic", false),
    QELT_CS_ROW(1009, 8, "ISO-8859-5:1988", false),
    QELT_CS_ROW(1009, 8, "iso-ir-144", false),
    QELT_CS_ROW(1009, 8, "ISO_8859-5", false),
    QELT_CS_ROW(1010, 9, "ISO-8859-6", true),
    QELT_CS_ROW(1010, 9, "arabic", false),
    QELT_CS_ROW(1010, 9, "ASMO-708", false),
    QELT_CS_ROW(1010, 9, "csISOLatinArabic", false),
    QELT_CS_ROW(1010, 9, "ECMA-114", false),
    QELT_CS_ROW(1010, 9, "ISO-8859-6:1987", false),
    QELT_CS_ROW(1010, 9, "iso-ir-127", false),
    QELT_CS_ROW(1010, 9, "ISO_8859-6", false),
    QELT_CS_ROW(1011, 10, "ISO-8859-7", true),
    QELT_CS_ROW(1011, 10, "csISOLatinGreek", false),
    QELT_CS_ROW(1011, 10, "ECMA-118", false),
    QELT_CS_ROW(1011, 10, "ELOT_928", false),
    QELT_CS_ROW(1011, 10, "greek", false),
    QELT_CS_ROW(1011, 10, "greek8", false),
    QELT_CS_ROW(1011, 10, "iso-ir-126", false),
    QELT_CS_ROW(1011, 10, "ISO_8859-7", false),
    QELT_CS_ROW(1011, 10, "ISO_8859-7:1987", false),
    QELT_CS_ROW(1012, 11, "ISO-8859-8", true),
    QELT_CS_ROW(1012, 11, "csISOLatinHebrew", false),
    QELT_CS_ROW(1012, 11, "hebrew", false),
    QELT_CS_ROW(1012, 11, "iso-ir-138", false),
    QELT_CS_ROW(1012, 11, "ISO_8859-8", false),
    QELT_CS_ROW(1012, 11, "ISO_8859-8:1988", false),
    QELT_CS_ROW(1013, 12, "ISO-8859-9", true),
    QELT_CS_ROW(1013, 12, "csISOLatin5", false),
    QELT_CS_ROW(1013, 12, "iso-ir-148", false),
    QELT_CS_ROW(1013, 12, "ISO_8859-9", false),
    QELT_CS_ROW(1013, 12, "ISO_8859-9:1989", false),
    QELT_CS_ROW(1013, 12, "l5", false),
    QELT_CS_ROW(1013, 12, "latin5", false),
    QELT_CS_ROW(1014, 13, "ISO-8859-10", true),
    QELT_CS_ROW(1014, 13, "csISOLatin6", false),
    QELT_CS_ROW(1014, 13, "iso-ir-157", false),
    QELT_CS_ROW(1014, 13, "ISO_8859-10", false),
    QELT_CS_ROW(1014, 13, "ISO_8859-10:1992", false),
    QELT_CS_ROW(1014, 13, "l6", false),
    QELT_CS_ROW(1014, 13, "latin6", false),
    QELT_CS_ROW(1015, 109, "ISO-8859-13", true),
    QELT_CS_ROW(1018, 111, "ISO-8859-15", true),
    QELT_CS_ROW(1018, 111, "Latin-9", false),
    QELT_CS_ROW(1016, 2025, "GB2312", true),
    QELT_CS_ROW(1016, 2025, "csGB2312", false),
    QELT_CS_ROW(1016, 2025, "x-mac-chinesesimp", false),
    QELT_CS_ROW(116, 2025, "x-mac-chinesesimp", false),
    QELT_CS_ROW(1017, 57, "GB_2312-80", false),
    QELT_CS_ROW(1017, 57, "csISO58GB231280", false),
    QELT_CS_ROW(117, 113, "GBK", true),
    QELT_CS_ROW(117, 113, "CP936", false),
    QELT_CS_ROW(117, 113, "MS936", false),
    QELT_CS_ROW(117, 113, "windows-936", false),
    {static_cast<CharSet>(0), 0, nullptr, nullptr, false},
};

#undef QELT_CS_ROW

constexpr size_t kCharSetRowCount = sizeof(kCharSetRegistry) / sizeof(kCharSetRegistry[0]) - 1;
static_assert(kCharSetRowCount == 162, "the charset registry has 162 rows");

// Names are compared through the collation of the current task's
// international manager, without regard to diacritics (and so to letter
// case): the registry's names are ASCII, a caller's may be any text.
bool NameEquals(const VString& inName, const char* inRowName)
{
    const VString rowName(inRowName);
    return inName.EqualToString(rowName, false);
}

void SetNameFromRow(const CharSetRow& inRow, VString& outName)
{
    outName.FromBlock(inRow.fWideName, std::wcslen(inRow.fWideName) * sizeof(wchar_t), VTC_UTF_32_RAW);
}

const unsigned char kBOM_UTF16BE[] = {0xFE, 0xFF};
const unsigned char kBOM_UTF16LE[] = {0xFF, 0xFE};
const unsigned char kBOM_UTF32BE[] = {0x00, 0x00, 0xFE, 0xFF};
const unsigned char kBOM_UTF32LE[] = {0xFF, 0xFE, 0x00, 0x00};
const unsigned char kBOM_UTF8[] = {0xEF, 0xBB, 0xBF};

template <class T>
T* Retained(T* inConverter)
{
    inConverter->Retain();
    return inConverter;
}

}  // namespace

VTextConverters* VTextConverters::sInstance = nullptr;

VTextConverters* VTextConverters::Get()
{
    // Made once, whichever thread asks first; it lives until the process ends.
    static VTextConverters* const instance = [] {
        VTextConverters* converters = new VTextConverters;
        sInstance = converters;
        return converters;
    }();
    return instance;
}

VTextConverters::VTextConverters()
{
    fToSystem = XMacToUnicodeConverter::NewToUnicodeConverter(VTC_SYSTEM);
    if (fToSystem == nullptr)
        fToSystem = new VToUnicodeConverter_Void;
    fFromSystem = XMacFromUnicodeConverter::NewFromUnicodeConverter(VTC_SYSTEM);
    if (fFromSystem == nullptr)
        fFromSystem = new VFromUnicodeConverter_Void;
    fToNull = new VToUnicodeConverter_Null;
    fFromNull = new VFromUnicodeConverter_Null;
    fToSwap = new VToUnicodeConverter_Swap;
    fFromSwap = new VFromUnicodeConverter_Swap;
    fToUTF32Raw = new VToUnicodeConverter_UTF32_Raw(false);
    fFromUTF32Raw = new VFromUnicodeConverter_UTF32_Raw(false);
    fToUTF32 = new VToUnicodeConverter_UTF32(false);
    fFromUTF32 = new VFromUnicodeConverter_UTF32(false);
    fToUTF8 = new VToUnicodeConverter_UTF8;
    fFromUTF8 = new VFromUnicodeConverter_UTF8;
}

VTextConverters::~VTextConverters()
{
    VToUnicodeConverter* decoders[] = {fToSystem, fToNull, fToSwap, fToUTF32Raw, fToUTF32, fToUTF8};
    VFromUnicodeConverter* encoders[] = {fFromSystem, fFromNull, fFromSwap, fFromUTF32Raw, fFromUTF32, fFromUTF8};
    for (VToUnicodeConverter* c : decoders)
        c->Release();
    for (VFromUnicodeConverter* c : encoders)
        c->Release();
    if (sInstance == this)
        sInstance = nullptr;
}

VToUnicodeConverter* VTextConverters::RetainToUnicodeConverter(CharSet inCharSet)
{
    switch (static_cast<int>(inCharSet)) {
        case VTC_SYSTEM:
            return Retained(fToSystem);
        case VTC_UTF_16_BIGENDIAN:
            return Retained(fToSwap);
        case VTC_UTF_16_SMALLENDIAN:
            return Retained(fToNull);
        case VTC_UTF_32_SMALLENDIAN:
            return Retained(fToUTF32);
        case VTC_UTF_32_RAW:
            return Retained(fToUTF32Raw);
        case VTC_UTF_8:
            return Retained(fToUTF8);
        case VTC_UNKNOWN:
            return new VToUnicodeConverter_Void;
        case VTC_UTF_32_BIGENDIAN:
            return new VToUnicodeConverter_UTF32(true);
        case VTC_UTF_32_RAW_SWAPPED:
            return new VToUnicodeConverter_UTF32_Raw(true);
        default: {
            VToUnicodeConverter* converter = XMacToUnicodeConverter::NewToUnicodeConverter(inCharSet);
            if (converter == nullptr)
                converter = new VToUnicodeConverter_Void;
            return converter;
        }
    }
}

VFromUnicodeConverter* VTextConverters::RetainFromUnicodeConverter(CharSet inCharSet)
{
    switch (static_cast<int>(inCharSet)) {
        case VTC_SYSTEM:
            return Retained(fFromSystem);
        case VTC_UTF_16_BIGENDIAN:
            return Retained(fFromSwap);
        case VTC_UTF_16_SMALLENDIAN:
            return Retained(fFromNull);
        case VTC_UTF_32_SMALLENDIAN:
            return Retained(fFromUTF32);
        case VTC_UTF_32_RAW:
            return Retained(fFromUTF32Raw);
        case VTC_UTF_8:
            return Retained(fFromUTF8);
        case VTC_UNKNOWN:
            return new VFromUnicodeConverter_Void;
        case VTC_UTF_32_BIGENDIAN:
            return new VFromUnicodeConverter_UTF32(true);
        case VTC_UTF_32_RAW_SWAPPED:
            return new VFromUnicodeConverter_UTF32_Raw(true);
        default: {
            VFromUnicodeConverter* converter = XMacFromUnicodeConverter::NewFromUnicodeConverter(inCharSet);
            if (converter == nullptr)
                converter = new VFromUnicodeConverter_Void;
            return converter;
        }
    }
}

bool VTextConverters::ConvertToVString(const void* inBuffer, unsigned long inBufferSize, CharSet inCharSet,
                                       VString& outString)
{
    outString.Truncate(0, true);
    VToUnicodeConverter* shared = nullptr;
    switch (static_cast<int>(inCharSet)) {
        case VTC_UTF_16_SMALLENDIAN:
            outString.FromBlock(inBuffer, inBufferSize, VTC_UTF_16_SMALLENDIAN);
            return (inBufferSize % 2) == 0;
        case VTC_SYSTEM:
            shared = fToSystem;
            break;
        case VTC_UTF_16_BIGENDIAN:
            shared = fToSwap;
            break;
        case VTC_UTF_32_SMALLENDIAN:
            shared = fToUTF32;
            break;
        case VTC_UTF_32_RAW:
            shared = fToUTF32Raw;
            break;
        case VTC_UTF_8:
            shared = fToUTF8;
            break;
        default:
            break;
    }
    if (shared != nullptr)
        return shared->ConvertString(inBuffer, inBufferSize, nullptr, outString);
    VToUnicodeConverter* converter = RetainToUnicodeConverter(inCharSet);
    const bool ok = converter->ConvertString(inBuffer, inBufferSize, nullptr, outString);
    converter->Release();
    return ok;
}

bool VTextConverters::ConvertFromVString(const VString& inString, int* outCharsConsumed, void* outBuffer,
                                         unsigned long inBufferSize, unsigned long* outBytesProduced,
                                         CharSet inCharSet)
{
    VFromUnicodeConverter* shared = nullptr;
    switch (static_cast<int>(inCharSet)) {
        case VTC_SYSTEM:
            shared = fFromSystem;
            break;
        case VTC_UTF_16_BIGENDIAN:
            shared = fFromSwap;
            break;
        case VTC_UTF_16_SMALLENDIAN:
            shared = fFromNull;
            break;
        case VTC_UTF_32_RAW:
            shared = fFromUTF32Raw;
            break;
        case VTC_UTF_8:
            shared = fFromUTF8;
            break;
        default:
            break;
    }
    if (shared != nullptr)
        return shared->Convert(inString.GetCPointer(), inString.GetLength(), outCharsConsumed, outBuffer,
                               inBufferSize, outBytesProduced);
    VFromUnicodeConverter* converter = RetainFromUnicodeConverter(inCharSet);
    const bool ok = converter->Convert(inString.GetCPointer(), inString.GetLength(), outCharsConsumed, outBuffer,
                                       inBufferSize, outBytesProduced);
    converter->Release();
    return ok;
}

bool VTextConverters::ParseBOM(const void* inBuffer, unsigned long inBufferSize, unsigned long* outBOMSize,
                               CharSet* outCharSet)
{
    const unsigned char* p = static_cast<const unsigned char*>(inBuffer);
    unsigned long size = 0;
    CharSet charSet = VTC_UNKNOWN;
    if (p != nullptr) {
        if (inBufferSize >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
            charSet = VTC_UTF_8;
            size = 3;
        } else if (inBufferSize >= 4 && p[0] == 0x00 && p[1] == 0x00 && p[2] == 0xFE && p[3] == 0xFF) {
            charSet = VTC_UTF_32_BIGENDIAN;
            size = 4;
        } else if (inBufferSize >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0x00 && p[3] == 0x00) {
            charSet = VTC_UTF_32_SMALLENDIAN;
            size = 4;
        } else if (inBufferSize >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
            charSet = VTC_UTF_16_BIGENDIAN;
            size = 2;
        } else if (inBufferSize >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
            charSet = VTC_UTF_16_SMALLENDIAN;
            size = 2;
        }
    }
    if (outBOMSize != nullptr)
        *outBOMSize = size;
    if (outCharSet != nullptr)
        *outCharSet = charSet;
    return size != 0;
}

const unsigned char* VTextConverters::GetBOMForCharSet(CharSet inCharSet, unsigned long* outBOMSize)
{
    const unsigned char* bom = nullptr;
    unsigned long size = 0;
    switch (static_cast<int>(inCharSet)) {
        case VTC_UTF_16_BIGENDIAN:
            bom = kBOM_UTF16BE;
            size = sizeof(kBOM_UTF16BE);
            break;
        case VTC_UTF_16_SMALLENDIAN:
            bom = kBOM_UTF16LE;
            size = sizeof(kBOM_UTF16LE);
            break;
        case VTC_UTF_32_BIGENDIAN:
            bom = kBOM_UTF32BE;
            size = sizeof(kBOM_UTF32BE);
            break;
        case VTC_UTF_32_SMALLENDIAN:
            bom = kBOM_UTF32LE;
            size = sizeof(kBOM_UTF32LE);
            break;
        case VTC_UTF_8:
            bom = kBOM_UTF8;
            size = sizeof(kBOM_UTF8);
            break;
        default:
            break;
    }
    if (outBOMSize != nullptr)
        *outBOMSize = size;
    return bom;
}

void VTextConverters::GetNameFromCharSet(CharSet inCharSet, VString& outName)
{
    outName.Clear();
    for (size_t i = 0; i < kCharSetRowCount; ++i) {
        if (kCharSetRegistry[i].fCharSet == inCharSet) {
            SetNameFromRow(kCharSetRegistry[i], outName);
            return;
        }
    }
}

CharSet VTextConverters::GetCharSetFromName(const VString& inName)
{
    for (size_t i = 0; i < kCharSetRowCount; ++i)
        if (NameEquals(inName, kCharSetRegistry[i].fName))
            return kCharSetRegistry[i].fCharSet;
    return VTC_UNKNOWN;
}

int VTextConverters::GetMIBEnumFromCharSet(CharSet inCharSet)
{
    for (size_t i = 0; i < kCharSetRowCount; ++i)
        if (kCharSetRegistry[i].fCharSet == inCharSet)
            return static_cast<int>(kCharSetRegistry[i].fMIBEnum);
    return 0;
}

int VTextConverters::GetMIBEnumFromName(const VString& inName)
{
    for (size_t i = 0; i < kCharSetRowCount; ++i)
        if (NameEquals(inName, kCharSetRegistry[i].fName))
            return static_cast<int>(kCharSetRegistry[i].fMIBEnum);
    return 0;
}

CharSet VTextConverters::GetCharSetFromMIBEnum(int inMIBEnum)
{
    for (size_t i = 0; i < kCharSetRowCount; ++i)
        if (static_cast<int>(kCharSetRegistry[i].fMIBEnum) == inMIBEnum)
            return kCharSetRegistry[i].fCharSet;
    return VTC_UNKNOWN;
}

void VTextConverters::GetNameFromMIBEnum(int inMIBEnum, VString& outName)
{
    outName.Clear();
    for (size_t i = 0; i < kCharSetRowCount; ++i) {
        if (static_cast<int>(kCharSetRegistry[i].fMIBEnum) == inMIBEnum) {
            SetNameFromRow(kCharSetRegistry[i], outName);
            return;
        }
    }
}

void VTextConverters::EnumWebCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets)
{
    outNames.clear();
    outCharSets.clear();
    for (size_t i = 0; i < kCharSetRowCount; ++i) {
        if (!kCharSetRegistry[i].fWeb)
            continue;
        VString name;
        SetNameFromRow(kCharSetRegistry[i], name);
        outNames.push_back(std::move(name));
        outCharSets.push_back(kCharSetRegistry[i].fCharSet);
    }
}

void VTextConverters::EnumCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets)
{
    std::vector<VString> names;
    std::vector<CharSet> charSets;
    bool first = true;
    CharSet previous = VTC_UNKNOWN;
    for (size_t i = 0; i < kCharSetRowCount; ++i) {
        const CharSetRow& row = kCharSetRegistry[i];
        if (!first && row.fCharSet == previous)
            continue;
        first = false;
        previous = row.fCharSet;
        VString name;
        SetNameFromRow(row, name);
        size_t at = 0;
        while (at < names.size() && names[at].CompareToString(name, false) == CR_SMALLER)
            ++at;
        names.insert(names.begin() + static_cast<long>(at), std::move(name));
        charSets.insert(charSets.begin() + static_cast<long>(at), row.fCharSet);
    }
    outNames.swap(names);
    outCharSets.swap(charSets);
}

}  // namespace qelt
