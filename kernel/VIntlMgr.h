// The international text manager: answers every locale question for one
// dialect (collation and search through its collator, locale separators
// and symbols, date and time patterns and formatting, case mapping,
// character classes and words), and the static services of the dialect
// table (language codes, dialect resolution, localisation folders).
#pragma once

#include <string>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "kernel/VCollator.h"
#include "kernel/mac/XMacIntlMgr.h"

namespace qelt {

class VCollator;
class VCompareOptions;
class VTime;
class VDuration;
class VFile;
class VFilePath;
class VFolder;

// Unicode normalisation forms (the decomposed forms, then the composed).
enum NormalizationMode : int {
    eNormalizeNone = 0,
    eNormalizeKD = 1,
    eNormalizeD = 2,
    eNormalizeKC = 3,
    eNormalizeC = 4
};

// How FindStrings keeps a match relative to the words of the text.
enum EFindStringMode : int {
    eFindStringAny = 0,
    eFindStringWholeWord = 3,    // neither end lies inside a word
    eFindStringContains = 4,     // every match
    eFindStringWordStart = 5,    // the start does not lie inside a word
    eFindStringWordEnd = 6       // the end does not lie inside a word
};

// One run of text of one direction.
class VBidiRun {
public:
    VBidiRun() = default;
    VBidiRun(int inFirst, int inLength, int inReserved, int inRightToLeft)
        : fFirst(inFirst), fLength(inLength), fReserved(inReserved), fRightToLeft(inRightToLeft)
    {
    }
    virtual ~VBidiRun() = default;

    int fFirst = 0;
    int fLength = 0;
    int fReserved = 0;
    int fRightToLeft = 0;
};

using VWordBoundaries = std::vector<std::pair<int, int>>;

class VIntlMgr : public VObject, public IRefCountable {
public:
    static constexpr unsigned int kDefaultDialect = 1033;
    static constexpr unsigned int kSystemDialect = 0;
    static constexpr unsigned int kSystemDialectAlt = 0xFFFFFFFF;
    static constexpr unsigned int kUnresolvedDialect = 0xFFFFFFFE;

    // ---- Creation ------------------------------------------------------
    // Start-up hook of the process; does nothing and answers true.
    static bool Init();
    // Shut-down hook; nothing to free.
    static void ICU_Cleanup();
    static void _InitICU();
    static void _InitMeCab();
    static int _GetMecabModel();

    // A new manager (count 1) for the dialect and collation dialect (0,
    // 0xFFFFFFFF, 0xFFFFFFFE: the user's), or null after raising 'qelt' 305.
    static VIntlMgr* Create(unsigned int inDialect, unsigned int inCollationDialect, unsigned char inOptions);

    // The code, or the user's dialect for 0, 0xFFFFFFFF and 0xFFFFFFFE.
    static unsigned int ResolveDialectCode(unsigned int inDialect);

    // The dialect of the first usable language of the environment values
    // LANGUAGE, LC_ALL, LC_MESSAGES and LANG (null: unset), 1033 when none
    // resolves. The user's dialect is this, computed once per process.
    static unsigned int ResolveDialectFromEnvironment(const char* inLanguage, const char* inLcAll,
                                                      const char* inLcMessages, const char* inLang);

    VIntlMgr(unsigned int inDialect, unsigned int inCollatorMode);
    VIntlMgr(const VIntlMgr& inOther);
    VIntlMgr& operator=(const VIntlMgr&) = delete;
    ~VIntlMgr() override;

    VIntlMgr* Clone() const;
    void Reset();
    bool _InitCollator(unsigned int inCollationDialect, unsigned char inOptions);
    bool _InitLocaleVariables();

    using VObject::DebugDump;
    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;

    // ---- The user's languages ------------------------------------------
    static unsigned int GetSystemUIDialectCode();
    static void GetSystemUIDialectCodes(std::vector<unsigned int>& outDialects);
    static bool IsSystemUIDialectIdeographic();

    // ---- Locale variables ----------------------------------------------
    unsigned int GetDialectCode() const { return fDialect; }
    unsigned int GetCollatorMode() const { return fCollatorMode; }
    VCollator* GetCollator() const { return fCollator; }
    XMacIntlMgr& GetImpl() { return fImpl; }
    const XMacIntlMgr& GetImpl() const { return fImpl; }

    const VString& GetAMString() const { return _LocaleVariables().fAMString; }
    const VString& GetPMString() const { return _LocaleVariables().fPMString; }
    bool Use24HoursClock() const { return !_LocaleVariables().fUse12HourClock; }
    bool Use12HoursClock() const { return _LocaleVariables().fUse12HourClock; }
    const VString& GetDecimalSeparator() const { return _LocaleVariables().fDecimalSeparator; }
    const VString& GetThousandsSeparator() const { return _LocaleVariables().fThousandsSeparator; }
    const VString& GetDateSeparator() const { return _LocaleVariables().fDateSeparator; }
    const VString& GetTimeSeparator() const { return _LocaleVariables().fTimeSeparator; }
    const VString& GetCurrency() const { return _LocaleVariables().fCurrency; }
    const VString& GetShortDatePattern() const { return _LocaleVariables().fShortDatePattern; }
    const VString& GetMediumDatePattern() const { return _LocaleVariables().fMediumDatePattern; }
    const VString& GetLongDatePattern() const { return _LocaleVariables().fLongDatePattern; }
    const VString& GetFullDatePattern() const { return _LocaleVariables().fFullDatePattern; }
    const VString& GetShortTimePattern() const { return _LocaleVariables().fShortTimePattern; }
    const VString& GetMediumTimePattern() const { return _LocaleVariables().fMediumTimePattern; }
    const VString& GetLongTimePattern() const { return _LocaleVariables().fLongTimePattern; }
    const VString& GetFullTimePattern() const { return _LocaleVariables().fFullTimePattern; }
    // 0 month day year, 1 day month year, 2 year month day, 3 month year
    // day, 4 day year month, 5 year day month.
    unsigned int GetDateOrder() const { return _LocaleVariables().fDateOrder; }

    // The date order of an order text made of M, d and y ("dMy" -> 1).
    static unsigned int DateOrderFromOrderText(const VString& inOrder);
    // Scans a platform date or time pattern: appends M, d and y to the order
    // text at their first occurrence, takes the first unquoted non-letter as
    // the separator and tells whether an unquoted "a" occurs.
    static void ScanDatePattern(const VString& inPattern, VString& outOrder, VString& outSeparator, bool& outHasAMPM);

    // ---- Case mapping and normalisation --------------------------------
    void ToUpperLowerCase(VString& ioText, bool inStripDiacritics, bool inUpper) const;
    void NormalizeString(VString& ioText, NormalizationMode inMode) const;

    // ---- Collation -------------------------------------------------------
    CompareResult CompareString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                                bool inWithDiacritics) const
    {
        return fCollator != nullptr ? fCollator->CompareString(inText1, inSize1, inText2, inSize2, inWithDiacritics)
                                    : CR_EQUAL;
    }
    CompareResult CompareString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                                const VCompareOptions& inOptions) const;
    bool EqualString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                     bool inWithDiacritics) const
    {
        return fCollator != nullptr && fCollator->EqualString(inText1, inSize1, inText2, inSize2, inWithDiacritics);
    }
    CompareResult CompareString_Like(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                     bool inWithDiacritics) const;
    bool EqualString_Like(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                          bool inWithDiacritics) const;
    // Search through the collator (1-based positions, 0 when none).
    int FindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                   bool inWithDiacritics, int* outLength) const;
    int ReversedFindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                           bool inWithDiacritics, int* outLength) const;
    bool BeginsWithString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                          bool inWithDiacritics, int* outLength) const;
    bool EndsWithString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                        bool inWithDiacritics, int* outLength) const;
    UniChar GetWildChar() const;
    void GetStringComparisonAlgorithmSignature(VString& outSignature) const;
    void GetKewordAlgorithmSignature(VString& outSignature) const;

    static bool DebugConvertString(void* inSource, int inSourceBytes, CharSet inSourceSet, void* outTarget,
                                   int& ioTargetBytes, CharSet inTargetSet);

    // ---- Dates and times -----------------------------------------------
    void FormatDate(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC) const;
    void FormatTime(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC) const;
    void FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inFormat) const;
    void FormatDateTimeWithPattern(const VTime& inTime, const VString& inPattern, bool inUTC,
                                   const VString* inMonthName, VString& outText) const;
    // Month 1-12, day 0-6 (0 Sunday); out of range: an empty name.
    void GetMonthName(int inMonth, bool inShort, VString& outName) const;
    void GetWeekDayName(int inDay, bool inShort, VString& outName) const;

    // ---- Dialect table and language codes --------------------------------
    static bool IsDialectCode(unsigned int inDialect);
    static const char* GetISO6391LanguageCode(unsigned int inDialect);
    static const char* GetISO3166RegionCode(unsigned int inDialect);
    static bool GetISO6391LanguageCode(unsigned int inDialect, VString& outCode);
    static bool GetISO6392LanguageCode(unsigned int inDialect, VString& outCode);
    static bool GetISOLanguageName(unsigned int inDialect, VString& outName);
    static bool GetISO3166RegionCode(unsigned int inDialect, VString& outCode);
    static bool GetRFC3066BisSubTagRegionCode(unsigned int inDialect, VString& outCode);
    static bool GetBCP47LanguageCode(unsigned int inDialect, VString& outCode);
    static bool GetRFC3066BisLanguageCodeWithDialectCode(unsigned int inDialect, VString& outCode,
                                                         char inSeparator = '-');
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const VString& inCode, unsigned int& outDialect,
                                                         bool inFallbackOnPrimary = true,
                                                         bool inPrimaryWithDefaultSub = true);
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const char* inLanguage, const char* inRegion,
                                                         unsigned int& outDialect, bool inFallbackOnPrimary = true,
                                                         bool inPrimaryWithDefaultSub = true);
    static bool GetDialectCodeWithISOLanguageName(const VString& inName, unsigned int& outDialect);
    static int Compare2RFC3066LanguageCodes(const VString& inA, const VString& inB);
    static bool IsRightToLeftDialect(unsigned int inDialect);
    static int DialectCodeToScriptCode(unsigned int inDialect);
    static void GetAllDialects(std::vector<unsigned int>& outDialects);
    static void GetDialectsHavingCollator(std::vector<std::pair<VString, unsigned int>>& outDialects);
    static bool GetLocalizedLanguageName(unsigned int inDialect, VString& outName);
    static bool GetLocalizedLanguageNameFromBCP47(const VString& inCode, VString& outName);

    // ---- Localisation folders ----------------------------------------------
    // The ".lproj" folder names tried for a dialect, in the order they are
    // tried (most specific first).
    static void GetLocalizationFolderNames(unsigned int inDialect, std::vector<VString>& outNames);
    // Appends the POSIX paths of the existing localisation folders of the
    // dialect inside the folder (each name is tried exactly, then without
    // regard to case); a folder is appended once. False when the folder path
    // is empty or nothing is found.
    static bool GetLocalizationFolderPathsWithDialect(unsigned int inDialect, const VString& inFolderPath,
                                                      std::vector<VString>& ioFolderPaths);
    // The same with folder objects, inside the folder of the path (defined
    // with the folder objects, in files/VIntlMgr_folders.cpp).
    static bool GetLocalizationFoldersWithDialect(unsigned int inDialect, const VFilePath& inPath,
                                                  std::vector<VRefPtr<VFolder>>& ioFolders);
    // The file of that name in the dialect's localisation folders, the most
    // general folder first (exact name, else without regard to case);
    // outFound tells whether any localisation folder exists.
    static VFile* RetainLocalizationFile(const VFilePath& inPath, const VString& inFileName, unsigned int inDialect,
                                         bool* outFound);

    // ---- Character classes, words and direction --------------------------
    bool IsAlpha(UniChar inChar) const;
    bool IsDigit(UniChar inChar) const;
    bool IsPunctuation(UniChar inChar) const;
    bool _CharTest(UniChar inChar, const unsigned short* inTable) const;
    bool IsSpace(UniChar inChar, bool inFlag = false) const;
    int CharDigitValue(UniChar inChar) const;
    bool IsUpper(UniChar inChar) const;
    bool IsLower(UniChar inChar) const;
    bool IsSymbol32(unsigned int inChar) const;
    static int CharType(unsigned int inChar);
    void AdjustUniCharPosToCharacterBoundary(const UniChar* inText, unsigned long inLength, int& ioPos,
                                             bool inForward) const;
    static bool IsAMacCharacter(unsigned char inChar, unsigned char inKind);
    bool _IsItaDeadChar(UniChar inChar) const;
    bool _HasApostropheSecondFollowedByVowel(const VString& inText, int inPos, int inLength) const;
    bool GetWordBoundariesWithOptions(const VString& inText, VWordBoundaries& outWords, unsigned int inOptions) const;
    bool _SplitWordRangeOnDot(const VString& inText, int inStart, unsigned long inLength, VWordBoundaries& outParts,
                              bool inKeepDots) const;
    bool FindWord(const VString& inText, const VString& inWord, const VCompareOptions& inOptions) const;
    void FindStrings(const VString& inText, const VString& inPattern, EFindStringMode inMode, bool inWithDiacritics,
                     VWordBoundaries& outMatches, bool inAll) const;
    bool TextLogicalToVisual(VString& ioText, int inDirection) const;
    bool GetBidiRuns(const UniChar* inText, unsigned long inLength, std::vector<VBidiRun>& outRuns,
                     std::vector<int>& outVisualOrder, int inBaseDirection, bool inDropFinalCR) const;

    static bool sICU_Available;

private:
    XMacIntlMgr fImpl;
    unsigned int fCollatorMode;
    VCollator* fCollator = nullptr;
    unsigned int fDialect;
    // The locale variables are read from the platform's locale data the
    // first time one is asked for (ten date formatters and the number
    // symbols: most of a process's start-up, which many runs never need),
    // once, whichever task asks; from then on they do not change. A copy
    // of the manager (each task has one) shares them with the original.
    struct LocaleVariables {
        VString fAMString;
        VString fPMString;
        bool fUse12HourClock = false;
        VString fDecimalSeparator;
        VString fThousandsSeparator;
        VString fDateSeparator;
        VString fTimeSeparator;
        VString fCurrency;
        VString fShortDatePattern;
        VString fMediumDatePattern;
        VString fLongDatePattern;
        VString fFullDatePattern;
        VString fShortTimePattern;
        VString fMediumTimePattern;
        VString fLongTimePattern;
        VString fFullTimePattern;
        unsigned int fDateOrder = 0;
    };
    const LocaleVariables& _LocaleVariables() const;
    void _ReadLocaleVariables(LocaleVariables& outVariables) const;

    struct SharedLocaleVariables {
        std::once_flag fRead;
        LocaleVariables fValues;
    };
    std::shared_ptr<SharedLocaleVariables> fLocaleVariables;
};

}  // namespace qelt
