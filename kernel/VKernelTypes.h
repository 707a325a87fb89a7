// Basic types shared by the whole toolbox: integer widths, UTF-16 units,
// four-character codes, the 64-bit error code and the comparison result.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelt {

// One UTF-16 code unit.
using UniChar = unsigned short;

// A four-character code, first character in the most significant byte.
using OsType = unsigned int;

// Builds a four-character code from a four-letter literal: FourCC("qelt").
constexpr OsType FourCC(const char (&s)[5])
{
    return (static_cast<OsType>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<OsType>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<OsType>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<OsType>(static_cast<unsigned char>(s[3]));
}

// A 64-bit error code: the component signature in the high 32 bits, the
// component's error number in the low 32 bits; 0 means no error.
using VError = unsigned long long;

constexpr VError VE_OK = 0;

constexpr OsType kSignatureQelt = FourCC("qelt");
constexpr OsType kSignaturePOSX = FourCC("POSX");
constexpr OsType kSignatureMACH = FourCC("MACH");
constexpr OsType kSignatureCARB = FourCC("CARB");
constexpr OsType kSignatureCOCO = FourCC("COCO");
constexpr OsType kSignatureXMLC = FourCC("xmlc");
constexpr OsType kSignaturePW32 = FourCC("PW32");
constexpr OsType kSignatureVQRT = FourCC("VqRT");
constexpr OsType kSignatureUPVQ = FourCC("UPVq");

constexpr VError MakeVError(OsType component, int number)
{
    return (static_cast<VError>(component) << 32) | static_cast<unsigned int>(number);
}

constexpr OsType VErrorComponent(VError err) { return static_cast<OsType>(err >> 32); }

constexpr int VErrorNumber(VError err) { return static_cast<int>(static_cast<unsigned int>(err & 0xFFFFFFFFu)); }

// A toolbox error: signature 'qelt' and the given number.
constexpr VError QeltError(int number) { return MakeVError(kSignatureQelt, number); }

// A POSIX errno value wrapped as a 'POSX' error.
constexpr VError PosixError(int errnoValue) { return MakeVError(kSignaturePOSX, errnoValue); }

// The result of every comparison.
enum CompareResult : int {
    CR_SMALLER = -1,
    CR_EQUAL = 0,
    CR_BIGGER = 1,
    CR_UNRELEVANT = -1000  // the values cannot be ordered
};

// Text encodings.
enum CharSet : int {
    VTC_SYSTEM = -2,  // the system's own encoding (Mac Roman)
    VTC_UNKNOWN = 0,
    VTC_UTF_16_BIGENDIAN = 1,
    VTC_UTF_16_SMALLENDIAN = 2,
    VTC_UTF_32_BIGENDIAN = 3,
    VTC_UTF_32_SMALLENDIAN = 4,
    VTC_UTF_32_RAW_SWAPPED = 5,
    VTC_UTF_32_RAW = 6,
    VTC_UTF_8 = 7,
    VTC_UTF_7 = 8,
    VTC_US_ASCII = 9,
    VTC_EBCDIC_037 = 10,
    VTC_IBM437 = 11,
    VTC_MacRoman = 100,
    VTC_Win32Ansi = 101,
    VTC_MacCentralEurRoman = 102,
    VTC_WinLatin2 = 103,
    VTC_MacCyrillic = 104,
    VTC_WinCyrillic = 105,
    VTC_MacGreek = 106,
    VTC_WinGreek = 107,
    VTC_MacTurkish = 108,
    VTC_WinTurkish = 109,
    VTC_MacArabic = 110,
    VTC_WinArabic = 111,
    VTC_MacHebrew = 112,
    VTC_WinHebrew = 113,
    VTC_MacBaltic = 114,
    VTC_WinBaltic = 115,
    VTC_MacChineseSimplified = 116,
    VTC_WinChineseSimplified = 117,
    VTC_MacChineseTraditional = 118,
    VTC_WinChineseTraditional = 119,
    VTC_MacJapanese = 120,
    VTC_ShiftJIS = 1000,
    VTC_Japanese_ISO2022 = 1001,
    VTC_Big5 = 1002,
    VTC_Korean_EUC = 1003,
    VTC_KOI8R = 1004,
    VTC_ISO_8859_1 = 1005,
    VTC_ISO_8859_2 = 1006,
    VTC_ISO_8859_3 = 1007,
    VTC_ISO_8859_4 = 1008,
    VTC_ISO_8859_5 = 1009,
    VTC_ISO_8859_6 = 1010,
    VTC_ISO_8859_7 = 1011,
    VTC_ISO_8859_8 = 1012,
    VTC_ISO_8859_9 = 1013,
    VTC_ISO_8859_10 = 1014,
    VTC_ISO_8859_13 = 1015,
    VTC_GB2312 = 1016,
    VTC_GB2312_80 = 1017,
    VTC_ISO_8859_15 = 1018,
    VTC_WINDOWS_31J = 1019,

    VTC_UTF_16 = VTC_UTF_16_SMALLENDIAN,  // machine order
    VTC_UTF_32 = VTC_UTF_32_SMALLENDIAN
};

}  // namespace qelt

namespace qelt {

// Line-end handling of text conversions; any other value also leaves line
// ends unchanged.
enum ECarriageReturnMode : int {
    eCRM_NONE = 1,  // unchanged
    eCRM_CRLF = 2,
    eCRM_CR = 3,
    eCRM_LF = 4
};

}  // namespace qelt
