#include "kernel/VDialectTable.h"

namespace qelt {

namespace {

const VDialectRow kDialects[VDialectTable::kRowCount] = {
    {1078, "af", "afr", "afrikaans", "ZA", ""},
    {1052, "sq", "alb", "albanian", "AL", ""},
    {94, "am", "amh", "amharic", "", ""},
    {1, "ar", "ara", "arabic", "", ""},
    {1025, "ar", "ara", "arabic", "SA", "sa"},
    {2049, "ar", "ara", "arabic", "IQ", "iq"},
    {3073, "ar", "ara", "arabic", "EG", "eg"},
    {4097, "ar", "ara", "arabic", "LY", "ly"},
    {5121, "ar", "ara", "arabic", "DZ", "dz"},
    {6145, "ar", "ara", "arabic", "MA", "ma"},
    {7169, "ar", "ara", "arabic", "TN", "tn"},
    {8193, "ar", "ara", "arabic", "OM", "om"},
    {9217, "ar", "ara", "arabic", "YE", "ye"},
    {10241, "ar", "ara", "arabic", "SY", "sy"},
    {11265, "ar", "ara", "arabic", "JO", "jo"},
    {12289, "ar", "ara", "arabic", "LB", "lb"},
    {13313, "ar", "ara", "arabic", "KW", "kw"},
    {14337, "ar", "ara", "arabic", "AE", "ae"},
    {15361, "ar", "ara", "arabic", "BH", "bh"},
    {16385, "ar", "ara", "arabic", "QA", "qa"},
    {1067, "hy", "hye", "armenian", "AM", ""},
    {44, "az", "aze", "azerbaijani", "", ""},
    {1069, "eu", "baq", "spanish", "ES", "es"},
    {1059, "be", "bel", "belarusian", "BY", ""},
    {1093, "bn", "ben", "bangladesh", "BD", "bd"},
    {1026, "bg", "bul", "bulgarian", "BG", ""},
    {1027, "ca", "cat", "catalan", "ES", ""},
    {1028, "zh", "chi", "chinese", "TW", "Hant"},
    {2052, "zh", "chi", "chinese", "CN", "Hans"},
    {3076, "zh", "chi", "chinese", "HK", "hk"},
    {4100, "zh", "chi", "chinese", "SG", "sg"},
    {1050, "hr", "scr", "croatian", "HR", ""},
    {1029, "cs", "cze", "czech", "CZ", ""},
    {1030, "da", "dan", "danish", "DK", ""},
    {1043, "nl", "dut", "dutch", "NL", ""},
    {2067, "nl", "dut", "dutch", "BE", "be"},
    {1122, "fy", "dut", "dutch", "NL", "nl"},
    {1033, "en", "eng", "english", "US", ""},
    {2057, "en", "eng", "english", "GB", "gb"},
    {3081, "en", "eng", "english", "AU", "au"},
    {4105, "en", "eng", "english", "CA", "ca"},
    {5129, "en", "eng", "english", "NZ", "nz"},
    {6153, "en", "eng", "english", "IE", "ie"},
    {7177, "en", "eng", "english", "ZA", "za"},
    {8201, "en", "eng", "english", "JM", "jm"},
    {9225, "en", "eng", "english", "CB", "cb"},
    {10249, "en", "eng", "english", "BZ", "bz"},
    {11273, "en", "eng", "english", "TT", "tt"},
    {18441, "en", "eng", "english", "SG", "sg"},
    {1061, "et", "est", "estonian", "EE", ""},
    {1080, "fo", "fao", "faorese", "FO", ""},
    {1065, "fa", "per", "persian", "IR", ""},
    {1035, "fi", "fin", "finnish", "FI", ""},
    {1036, "fr", "fre", "french", "FR", ""},
    {2060, "fr", "fre", "french", "BE", "be"},
    {3084, "fr", "fre", "french", "CA", "ca"},
    {4108, "fr", "fre", "french", "CH", "ch"},
    {5132, "fr", "fre", "french", "LU", "lu"},
    {8192, "fr", "fre", "french", "NC", ""},
    {11264, "fr", "fre", "french", "NC", ""},
    {1169, "gd", "eng", "english", "GB", ""},
    {1110, "gl", "spa", "spanish", "ES", ""},
    {1031, "de", "ger", "german", "DE", ""},
    {2055, "de", "ger", "german", "CH", "ch"},
    {3079, "de", "ger", "german", "AT", "at"},
    {4103, "de", "ger", "german", "LU", "lu"},
    {5127, "de", "ger", "german", "LI", "li"},
    {1032, "el", "gre", "greek", "GR", ""},
    {1095, "gu", "guj", "india", "IN", ""},
    {1037, "he", "heb", "hebrew", "IL", ""},
    {1081, "hi", "hin", "india", "IN", ""},
    {1038, "hu", "hun", "hungarian", "HU", ""},
    {1039, "is", "ice", "iceland", "IS", ""},
    {1057, "id", "ind", "indonesian", "ID", ""},
    {2108, "ga", "gle", "ireland", "IE", ""},
    {1040, "it", "ita", "italian", "IT", ""},
    {2064, "it", "ita", "italian", "CH", "ch"},
    {1041, "ja", "jpn", "japanese", "JP", ""},
    {83, "kh", "khm", "khmer", "", ""},
    {1159, "rw", "kin", "kinyarwanda", "RW", ""},
    {1089, "sw", "swk", "kiswahili", "KE", ""},
    {1042, "ko", "kor", "korean", "", ""},
    {2066, "ko", "kor", "korean", "", ""},
    {1062, "lv", "lav", "latvian", "LV", ""},
    {1063, "lt", "lit", "lithuanian", "LT", ""},
    {1134, "lb", "ltz", "luxembourg", "LU", "lu"},
    {1071, "mk", "mkd", "macedonian", "MK", ""},
    {1086, "ms", "may", "malaysian", "MY", "my"},
    {58, "mt", "mlt", "malte", "", ""},
    {129, "mi", "mao", "new zealand", "", ""},
    {1102, "mr", "mar", "india", "IN", ""},
    {1100, "ml", "mal", "india", "IN", ""},
    {1104, "mn", "mon", "mongolian", "MN", ""},
    {1121, "ne", "nep", "nepali", "NP", ""},
    {1044, "no", "nor", "norwegian", "NO", ""},
    {1044, "nb", "nob", "bokmal", "NO", "no"},
    {2068, "nn", "nno", "nynorsk", "NO", "no"},
    {1154, "oc", "oci", "french", "FR", "fr"},
    {72, "or", "ori", "oriya", "", ""},
    {1065, "fa", "peo", "persian", "IR", "ir"},
    {1045, "pl", "pol", "polish", "PL", ""},
    {2070, "pt", "por", "portuguese", "PT", ""},
    {1046, "pt", "por", "portuguese", "BR", "br"},
    {70, "pa", "pan", "punjabi", "", ""},
    {1131, "qu", "que", "bolivia", "BO", ""},
    {1048, "ro", "rum", "romanian", "RO", ""},
    {1049, "ru", "rus", "russian", "RU", ""},
    {1083, "se", "sme", "Sami", "", ""},
    {2107, "se", "sme", "Sami", "", ""},
    {3131, "se", "sme", "Sami", "", ""},
    {4155, "smj", "smj", "Sami", "", ""},
    {5179, "smj", "smj", "Sami", "", ""},
    {6203, "sma", "sma", "Sami", "", ""},
    {7227, "sma", "sma", "Sami", "", ""},
    {8251, "sms", "sms", "Sami", "", ""},
    {9275, "smn", "smn", "Sami", "", ""},
    {1050, "sr", "scc", "serbian", "", ""},
    {2074, "sr", "scc", "serbian", "RS", "Latn"},
    {3098, "sr", "scc", "serbian", "RS", "Cyrl"},
    {1074, "tn", "afr", "afrikaans", "ZA", ""},
    {1115, "si", "sin", "sri lanka", "LK", ""},
    {1051, "sk", "slo", "slovak", "SK", ""},
    {1060, "sl", "slv", "slovenian", "SI", ""},
    {1034, "es", "spa", "spanish", "ES", "es"},
    {2058, "es", "spa", "spanish", "MX", "mx"},
    {3082, "es", "spa", "spanish", "", ""},
    {4106, "es", "spa", "spanish", "GT", "gt"},
    {5130, "es", "spa", "spanish", "CR", "cr"},
    {6154, "es", "spa", "spanish", "PA", "pa"},
    {7178, "es", "spa", "spanish", "DO", "do"},
    {8202, "es", "spa", "spanish", "VE", "ve"},
    {9226, "es", "spa", "spanish", "CO", "co"},
    {10250, "es", "spa", "spanish", "PE", "pe"},
    {11274, "es", "spa", "spanish", "AR", "ar"},
    {12298, "es", "spa", "spanish", "EC", "ec"},
    {13322, "es", "spa", "spanish", "CL", "cl"},
    {14346, "es", "spa", "spanish", "UY", "uy"},
    {15370, "es", "spa", "spanish", "PY", "py"},
    {16394, "es", "spa", "spanish", "BO", "bo"},
    {17418, "es", "spa", "spanish", "SV", "sv"},
    {18442, "es", "spa", "spanish", "HN", "hn"},
    {19466, "es", "spa", "spanish", "NI", "ni"},
    {20490, "es", "spa", "spanish", "PR", "pr"},
    {1053, "sv", "swe", "swedish", "SE", ""},
    {2077, "sv", "swe", "swedish", "FI", "fi"},
    {73, "ta", "tam", "indian", "", ""},
    {1054, "th", "tha", "thai", "TH", ""},
    {1055, "tr", "tur", "turkish", "TR", ""},
    {1058, "uk", "ukr", "ukrainian", "UA", ""},
    {1056, "ur", "urd", "pakistan", "PK", "pk"},
    {1066, "vi", "vie", "vietnamese", "VN", ""},
    {1106, "cy", "wel", "english", "GB", "gb"},
    {1076, "xh", "xho", "afrikaans", "ZA", ""},
    {1077, "zu", "zul", "afrikaans", "ZA", ""},
};

struct ScriptList {
    int fScript;
    const unsigned short* fCodes;
    int fCount;
};

const unsigned short kScript0[] = {
    1027,  1030,  1031,  1033,  1034,  1035,  1036,  1040,  1043,  1044,  1046,  1052,  1053,  1057,  1068,  1069,
    1070,  1078,  1083,  1086,  1106,  1122,  1134,  2055,  2057,  2058,  2060,  2064,  2067,  2068,  2070,  2077,
    2094,  2107,  2108,  3079,  3081,  3082,  3084,  3131,  4103,  4105,  4106,  4108,  4155,  5127,  5129,  5130,
    5132,  5146,  5179,  6153,  6154,  6203,  7177,  7178,  7227,  8192,  8201,  8202,  8251,  9225,  9226,  9275,
    10249, 10250, 11273, 11274, 12298, 13322, 14346, 15370, 16394, 17418, 18441, 18442, 19466, 20490};
const unsigned short kScript1[] = {1041};
const unsigned short kScript2[] = {1028, 4100};
const unsigned short kScript3[] = {2052, 3076};
const unsigned short kScript4[] = {1042, 2066};
const unsigned short kScript5[] = {1025, 2049, 3073, 4097, 5121, 6145, 7169, 8193,
                                   9217, 10241, 11265, 12289, 13313, 14337, 15361, 16385};
const unsigned short kScript6[] = {1037};
const unsigned short kScript7[] = {1032};
const unsigned short kScript8[] = {1026, 1049, 1058, 1059, 1064, 1071, 1092, 1104, 2092, 2115, 3098, 7194};
const unsigned short kScript9[] = {1029, 1038, 1045, 1051, 1061, 1062, 1063, 1091, 2074, 6170};
const unsigned short kScript10[] = {1050, 1060, 4122};
const unsigned short kScript11[] = {1039, 1080};
const unsigned short kScript12[] = {1065};
const unsigned short kScript13[] = {1048};
const unsigned short kScript14[] = {1054};
const unsigned short kScript15[] = {1066};
const unsigned short kScript16[] = {1055};

#define QELT_SCRIPT(n) {n, kScript##n, static_cast<int>(sizeof(kScript##n) / sizeof(kScript##n[0]))}
const ScriptList kScripts[] = {QELT_SCRIPT(0),  QELT_SCRIPT(1),  QELT_SCRIPT(2),  QELT_SCRIPT(3),  QELT_SCRIPT(4),
                               QELT_SCRIPT(5),  QELT_SCRIPT(6),  QELT_SCRIPT(7),  QELT_SCRIPT(8),  QELT_SCRIPT(9),
                               QELT_SCRIPT(10), QELT_SCRIPT(11), QELT_SCRIPT(12), QELT_SCRIPT(13), QELT_SCRIPT(14),
                               QELT_SCRIPT(15), QELT_SCRIPT(16)};
#undef QELT_SCRIPT

}  // namespace

const VDialectRow& VDialectTable::GetRow(int inIndex)
{
    if (inIndex < 0 || inIndex >= kRowCount)
        inIndex = 0;
    return kDialects[inIndex];
}

const VDialectRow* VDialectTable::FindRow(unsigned int inCode)
{
    for (const VDialectRow& row : kDialects) {
        if (row.fCode == inCode)
            return &row;
    }
    return nullptr;
}

int VDialectTable::GetScriptCode(unsigned int inCode)
{
    for (const ScriptList& list : kScripts) {
        for (int i = 0; i < list.fCount; ++i) {
            if (list.fCodes[i] == inCode)
                return list.fScript;
        }
    }
    return -1;
}

bool VDialectTable::EqualNoCase(const char* inA, const char* inB)
{
    if (inA == nullptr || inB == nullptr)
        return inA == inB;
    for (;; ++inA, ++inB) {
        unsigned char a = static_cast<unsigned char>(*inA);
        unsigned char b = static_cast<unsigned char>(*inB);
        if (a >= 'a' && a <= 'z')
            a = static_cast<unsigned char>(a - 32);
        if (b >= 'a' && b <= 'z')
            b = static_cast<unsigned char>(b - 32);
        if (a != b)
            return false;
        if (a == 0)
            return true;
    }
}

}  // namespace qelt
