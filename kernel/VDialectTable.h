// The constant table of the dialects the toolbox knows: for each dialect
// code ((sub-language << 10) | primary language) its ISO 639-1 and ISO 639-2
// language codes, its English language name, its ISO 3166 region and its
// RFC 3066bis subtag (a lower-case region or a script). Rows keep a fixed
// order; look-ups by code take the first row with that code.
#pragma once

namespace qelt {

struct VDialectRow {
    unsigned int fCode;
    const char* fISO6391;
    const char* fISO6392;
    const char* fName;
    const char* fRegion;  // "" when none
    const char* fSubTag;  // "" when none
};

class VDialectTable {
public:
    static constexpr int kRowCount = 154;

    // Row inIndex (0 to kRowCount - 1).
    static const VDialectRow& GetRow(int inIndex);

    // The first row with the code, or null.
    static const VDialectRow* FindRow(unsigned int inCode);

    // The script (writing system) number of a dialect, -1 for any code the
    // script list does not hold.
    static int GetScriptCode(unsigned int inCode);

    // Compares two ASCII texts with the letters a-z folded to A-Z; other
    // bytes compare exactly.
    static bool EqualNoCase(const char* inA, const char* inB);
};

}  // namespace qelt
