// Locale services of the platform layer, over ICU: the user's preferred
// languages, locales made from BCP 47 tags, number and date symbols, date
// formatters (by style, by pattern and from skeletons), collators at the
// strength a comparison asks, collation-aware search and case mapping.
//
// Texts cross this interface as UTF-16 units (char16_t). Every object here
// is safe to share between threads once made, except a date formatter,
// which belongs to the caller that made it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qelt::plat {

// ---------------------------------------------------------------------------
// The user's languages

// The user's preferred languages, most preferred first, read from the
// environment values LANGUAGE (a colon-separated list), LC_ALL, LC_MESSAGES
// and LANG, in that order; "C", "POSIX" and empty values are skipped, and an
// encoding (".UTF-8") or modifier ("@euro") is cut off. Null pointers stand
// for unset variables.
std::vector<std::string> PreferredLanguagesFromValues(const char* inLanguage, const char* inLcAll,
                                                      const char* inLcMessages, const char* inLang);

// The same, read from the process's environment.
std::vector<std::string> GetPreferredLanguages();

// The canonical language identifier of a locale name or tag: the language,
// then "-" and the region ("fr_CA" -> "fr-CA"); Chinese without a script
// takes the script its region writes ("zh_CN" -> "zh-Hans", "zh_TW" ->
// "zh-Hant"), a tag that names its script stays as it is. Empty when the
// text is not a language.
std::string CanonicalLanguageIdentifier(const std::string& inIdentifier);

// ---------------------------------------------------------------------------
// Locales

class PlatLocale {
public:
    // A new locale (count 1) for a BCP 47 tag; null when the tag is unusable.
    static PlatLocale* Create(const std::string& inTag);
    // The user's regional locale (LC_ALL, LC_TIME, LANG, then the first
    // preferred language; the root locale when none is set).
    static PlatLocale* CreateCurrent();

    // A new locale (count 1) equal to this one.
    PlatLocale* Copy() const;

    void Retain() const { fCount.fetch_add(1, std::memory_order_relaxed); }
    void Release() const;

    // The language code ("fr"), and the locale's BCP 47 tag ("fr-CA").
    std::string GetLanguageCode() const;
    std::string GetTag() const;

    // Decimal separator, grouping separator and currency symbol.
    bool GetNumberSymbols(std::u16string& outDecimal, std::u16string& outGrouping,
                          std::u16string& outCurrency) const;

    // The ICU locale behind (an icu::Locale), for the other classes here.
    const void* GetImpl() const { return fImpl; }

    PlatLocale(const PlatLocale&) = delete;
    PlatLocale& operator=(const PlatLocale&) = delete;

private:
    explicit PlatLocale(void* inImpl) : fImpl(inImpl) {}
    ~PlatLocale();

    mutable std::atomic<int> fCount{1};
    void* fImpl;  // icu::Locale*
};

// ---------------------------------------------------------------------------
// Date formatting

// Styles: 0 none, 1 short, 2 medium, 3 long, 4 full.
class PlatDateFormatter {
public:
    // A formatter for the locale with the two styles (both none: an empty
    // pattern); null when it cannot be made. The caller deletes it.
    static PlatDateFormatter* Create(const PlatLocale* inLocale, int inDateStyle, int inTimeStyle);
    ~PlatDateFormatter();

    std::u16string GetPattern() const;
    bool SetPattern(const std::u16string& inPattern);
    // The locale's best pattern for a skeleton ("yMMMd"); false when none.
    bool SetPatternFromSkeleton(const std::u16string& inSkeleton);

    // Shows times in GMT (true) or in the system's time zone (false).
    void SetGMT(bool inGMT);

    // The text of an instant given in milliseconds since 1970 UTC.
    std::u16string Format(double inMilliseconds) const;

    bool GetAMPMSymbols(std::u16string& outAM, std::u16string& outPM) const;

    // Week-day names (Sunday first, 7 entries) and month names (12 entries),
    // full or short.
    bool GetWeekdayNames(bool inShort, std::vector<std::u16string>& outNames) const;
    bool GetMonthNames(bool inShort, std::vector<std::u16string>& outNames) const;

    PlatDateFormatter(const PlatDateFormatter&) = delete;
    PlatDateFormatter& operator=(const PlatDateFormatter&) = delete;

private:
    PlatDateFormatter(void* inImpl, void* inLocale) : fImpl(inImpl), fLocale(inLocale) {}
    void* fImpl;    // icu::SimpleDateFormat*
    void* fLocale;  // icu::Locale* (own copy)
};

// ---------------------------------------------------------------------------
// Collation

// A collator for a locale. With diacritics counted it compares at tertiary
// strength (accents and letter case count) and folds full-width and
// half-width forms to their usual forms first; without, it compares at
// primary strength (accents, case and width are ignored).
class PlatCollator {
public:
    // Null when ICU cannot make a collator for the locale. The caller deletes it.
    static PlatCollator* Create(const PlatLocale* inLocale, bool inDiacritical);
    ~PlatCollator();

    // -1, 0 or 1.
    int Compare(const char16_t* inA, int inLengthA, const char16_t* inB, int inLengthB) const
    {
        if (fFoldWidth && (MayHoldWidthVariants(inA, inLengthA) || MayHoldWidthVariants(inB, inLengthB)))
            return _CompareFolded(inA, inLengthA, inB, inLengthB);
        return _CompareRaw(inA, inLengthA, inB, inLengthB);
    }

    // A quick test that rules out width variants for most texts: false when
    // every unit lies below U+1000 (four units are tested at a time).
    static bool MayHoldWidthVariants(const char16_t* inText, int inLength)
    {
#if defined(__SSE2__)
        if (inLength >= 8) {
            // Eight units at a time; the last load overlaps the others.
            __m128i bits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inText + inLength - 8));
            for (int i = 0; i + 8 <= inLength; i += 8)
                bits = _mm_or_si128(bits, _mm_loadu_si128(reinterpret_cast<const __m128i*>(inText + i)));
            bits = _mm_and_si128(bits, _mm_set1_epi16(static_cast<short>(0xF000)));
            return _mm_movemask_epi8(_mm_cmpeq_epi16(bits, _mm_setzero_si128())) != 0xFFFF;
        }
#endif
        uint64_t bits = 0;
        if (inLength >= 4) {
            uint64_t word;
            for (int i = 0; i + 4 <= inLength; i += 4) {
                __builtin_memcpy(&word, inText + i, sizeof(word));
                bits |= word;
            }
            // The last four units, overlapping what was read already.
            __builtin_memcpy(&word, inText + inLength - 4, sizeof(word));
            bits |= word;
        } else {
            for (int i = 0; i < inLength; ++i)
                bits |= inText[i];
        }
        return (bits & 0xF000F000F000F000ULL) != 0;
    }

    // The first occurrence of the pattern in the text: true with its start
    // (0-based) and its length in the searched text.
    bool Find(const char16_t* inText, int inTextLength, const char16_t* inPattern, int inPatternLength,
              int& outStart, int& outLength) const;

    PlatCollator(const PlatCollator&) = delete;
    PlatCollator& operator=(const PlatCollator&) = delete;

private:
    PlatCollator(void* inImpl, bool inDiacritical, bool inPlainASCII)
        : fImpl(inImpl), fFoldWidth(inDiacritical), fCaseCounts(inDiacritical), fPlainASCII(inPlainASCII)
    {
    }
    int _CompareRaw(const char16_t* inA, int inLengthA, const char16_t* inB, int inLengthB) const;
    int _CompareFolded(const char16_t* inA, int inLengthA, const char16_t* inB, int inLengthB) const;
    bool _FindWith(void* inSearch, const char16_t* inText, int inTextLength, const char16_t* inPattern,
                   int inPatternLength, int& outStart, int& outLength) const;

    void* fImpl;  // UCollator*
    bool fFoldWidth;
    bool fCaseCounts;
    // Printable ASCII (U+0020 to U+007E) keeps the root collation's order
    // here: each character is one element of its own, none is ignored, no
    // two of them are joined, and only upper and lower case of a letter may
    // be equal. A search in such texts is then a search of the characters,
    // with or without regard to case, and needs no search object.
    bool fPlainASCII;
    // One search object reused under the lock; a caller that finds it busy
    // makes its own.
    mutable std::mutex fSearchLock;
    mutable void* fSearch = nullptr;  // UStringSearch*
};

// True when the text holds a full-width or half-width form (or U+3000).
bool HasWidthVariants(const char16_t* inText, int inLength);

// Folds full-width and half-width forms to their usual forms, unit for unit
// (the length never changes).
void FoldWidth(const char16_t* inText, int inLength, char16_t* outText);

// ---------------------------------------------------------------------------
// Case mapping

// Upper- or lower-cases the units without a locale. outLength receives the
// length of the whole result; at most inCapacity units are written. False
// when the mapping fails.
bool ChangeCase(const char16_t* inText, int inLength, char16_t* outText, int inCapacity, int& outLength,
                bool inUpper);

// ---------------------------------------------------------------------------
// Unicode normalisation

enum class NormalForm { kNFD, kNFC, kNFKD, kNFKC };

// Puts the units in a Unicode normal form. True with the normalised text in
// outText; false, with outText untouched, when the text is in that form
// already (most texts: a quick check decides without copying) or cannot be
// normalised.
bool Normalize(const char16_t* inText, int inLength, NormalForm inForm, std::u16string& outText);

// ---------------------------------------------------------------------------
// Localisation folders

// The path of the sub-folder inName of the folder inParent: the exact name
// first, else the first entry whose name matches without regard to ASCII
// letter case. Empty when there is none.
std::string FindSubFolder(const std::string& inParent, const std::string& inName);

}  // namespace qelt::plat
