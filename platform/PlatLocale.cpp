#include "platform/PlatLocale.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <unicode/coll.h>
#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/dtfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uset.h>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/usearch.h>
#include <unicode/ustring.h>

namespace qelt::plat {

namespace {

// A locale name of the environment without its encoding or modifier;
// empty for the C and POSIX locales.
std::string CleanLocaleName(const char* inValue)
{
    if (inValue == nullptr)
        return std::string();
    std::string name(inValue);
    size_t cut = name.find_first_of(".@");
    if (cut != std::string::npos)
        name.resize(cut);
    if (name == "C" || name == "POSIX")
        return std::string();
    return name;
}

void AppendCleaned(std::vector<std::string>& ioList, const char* inValue)
{
    std::string name = CleanLocaleName(inValue);
    if (!name.empty())
        ioList.push_back(name);
}

std::u16string ToU16(const icu::UnicodeString& inText)
{
    return std::u16string(inText.getBuffer(), static_cast<size_t>(inText.length()));
}

icu::UnicodeString FromU16(const std::u16string& inText)
{
    return icu::UnicodeString(inText.data(), static_cast<int32_t>(inText.size()));
}

icu::DateFormat::EStyle StyleOf(int inStyle)
{
    switch (inStyle) {
        case 1:
            return icu::DateFormat::kShort;
        case 2:
            return icu::DateFormat::kMedium;
        case 3:
            return icu::DateFormat::kLong;
        case 4:
            return icu::DateFormat::kFull;
        default:
            return icu::DateFormat::kNone;
    }
}

// The usual forms of the full-width and half-width block (U+FF00-U+FFEF),
// 0 where a unit has none; built once.
struct WidthTable {
    char16_t fMap[0x100] = {};
    WidthTable()
    {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
        for (int i = 0; i < 0x100; ++i) {
            UChar32 c = 0xFF00 + i;
            int type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
            if (U_FAILURE(status) || (type != U_DT_WIDE && type != U_DT_NARROW))
                continue;
            icu::UnicodeString decomposition;
            if (nfkc->getRawDecomposition(c, decomposition) && decomposition.length() == 1)
                fMap[i] = decomposition.charAt(0);
        }
    }
};

const WidthTable& GetWidthTable()
{
    static const WidthTable sTable;
    return sTable;
}

}  // namespace

// ---------------------------------------------------------------------------
// The user's languages

std::vector<std::string> PreferredLanguagesFromValues(const char* inLanguage, const char* inLcAll,
                                                      const char* inLcMessages, const char* inLang)
{
    std::vector<std::string> list;
    if (inLanguage != nullptr) {
        std::string all(inLanguage);
        size_t start = 0;
        while (start <= all.size()) {
            size_t end = all.find(':', start);
            if (end == std::string::npos)
                end = all.size();
            AppendCleaned(list, all.substr(start, end - start).c_str());
            start = end + 1;
        }
    }
    AppendCleaned(list, inLcAll);
    AppendCleaned(list, inLcMessages);
    AppendCleaned(list, inLang);
    return list;
}

std::vector<std::string> GetPreferredLanguages()
{
    return PreferredLanguagesFromValues(std::getenv("LANGUAGE"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                        std::getenv("LANG"));
}

std::string CanonicalLanguageIdentifier(const std::string& inIdentifier)
{
    std::string tag = CleanLocaleName(inIdentifier.c_str());
    for (char& c : tag) {
        if (c == '_')
            c = '-';
    }
    if (tag.empty() || tag.size() > 80)
        return std::string();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(tag, status);
    if (U_FAILURE(status) || locale.isBogus())
        return std::string();
    std::string language = locale.getLanguage();
    std::string script = locale.getScript();
    std::string region = locale.getCountry();
    if (language.empty())
        return std::string();
    if (script.empty() && language == "zh") {
        if (region.empty() || region == "CN")
            return "zh-Hans";
        if (region == "TW")
            return "zh-Hant";
    }
    std::string result = language;
    if (!script.empty())
        result += "-" + script;
    if (!region.empty())
        result += "-" + region;
    return result;
}

// ---------------------------------------------------------------------------
// Locales

PlatLocale* PlatLocale::Create(const std::string& inTag)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(inTag, status);
    if (U_FAILURE(status) || locale.isBogus())
        return nullptr;
    auto* impl = new icu::Locale(locale);
    if (impl == nullptr)
        return nullptr;
    return new (std::nothrow) PlatLocale(impl);
}

PlatLocale* PlatLocale::CreateCurrent()
{
    std::string name = CleanLocaleName(std::getenv("LC_ALL"));
    if (name.empty())
        name = CleanLocaleName(std::getenv("LC_TIME"));
    if (name.empty())
        name = CleanLocaleName(std::getenv("LANG"));
    if (name.empty()) {
        std::vector<std::string> languages = GetPreferredLanguages();
        if (!languages.empty())
            name = languages.front();
    }
    icu::Locale locale = name.empty() ? icu::Locale::getRoot() : icu::Locale::createFromName(name.c_str());
    if (locale.isBogus())
        return nullptr;
    auto* impl = new icu::Locale(locale);
    if (impl == nullptr)
        return nullptr;
    return new (std::nothrow) PlatLocale(impl);
}

PlatLocale* PlatLocale::Copy() const
{
    auto* impl = new icu::Locale(*static_cast<const icu::Locale*>(fImpl));
    if (impl == nullptr)
        return nullptr;
    return new (std::nothrow) PlatLocale(impl);
}

PlatLocale::~PlatLocale()
{
    delete static_cast<icu::Locale*>(fImpl);
}

void PlatLocale::Release() const
{
    if (fCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

std::string PlatLocale::GetLanguageCode() const
{
    return static_cast<const icu::Locale*>(fImpl)->getLanguage();
}

std::string PlatLocale::GetTag() const
{
    UErrorCode status = U_ZERO_ERROR;
    std::string tag = static_cast<const icu::Locale*>(fImpl)->toLanguageTag<std::string>(status);
    return U_SUCCESS(status) ? tag : std::string();
}

bool PlatLocale::GetNumberSymbols(std::u16string& outDecimal, std::u16string& outGrouping,
                                  std::u16string& outCurrency) const
{
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols(*static_cast<const icu::Locale*>(fImpl), status);
    if (U_FAILURE(status))
        return false;
    outDecimal = ToU16(symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
    outGrouping = ToU16(symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));
    outCurrency = ToU16(symbols.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol));
    return true;
}

// ---------------------------------------------------------------------------
// Date formatting

PlatDateFormatter* PlatDateFormatter::Create(const PlatLocale* inLocale, int inDateStyle, int inTimeStyle)
{
    if (inLocale == nullptr)
        return nullptr;
    const icu::Locale& locale = *static_cast<const icu::Locale*>(inLocale->GetImpl());
    icu::DateFormat::EStyle dateStyle = StyleOf(inDateStyle);
    icu::DateFormat::EStyle timeStyle = StyleOf(inTimeStyle);
    std::unique_ptr<icu::SimpleDateFormat> format;
    if (dateStyle == icu::DateFormat::kNone && timeStyle == icu::DateFormat::kNone) {
        UErrorCode status = U_ZERO_ERROR;
        format.reset(new icu::SimpleDateFormat(icu::UnicodeString(), locale, status));
        if (U_FAILURE(status))
            return nullptr;
    } else {
        icu::DateFormat* any = icu::DateFormat::createDateTimeInstance(dateStyle, timeStyle, locale);
        auto* simple = dynamic_cast<icu::SimpleDateFormat*>(any);
        if (simple == nullptr) {
            delete any;
            return nullptr;
        }
        format.reset(simple);
    }
    if (!format)
        return nullptr;
    auto* ownLocale = new icu::Locale(locale);
    if (ownLocale == nullptr)
        return nullptr;
    auto* result = new (std::nothrow) PlatDateFormatter(format.get(), ownLocale);
    if (result == nullptr) {
        delete ownLocale;
        return nullptr;
    }
    format.release();
    return result;
}

PlatDateFormatter::~PlatDateFormatter()
{
    delete static_cast<icu::SimpleDateFormat*>(fImpl);
    delete static_cast<icu::Locale*>(fLocale);
}

std::u16string PlatDateFormatter::GetPattern() const
{
    icu::UnicodeString pattern;
    static_cast<icu::SimpleDateFormat*>(fImpl)->toPattern(pattern);
    return ToU16(pattern);
}

bool PlatDateFormatter::SetPattern(const std::u16string& inPattern)
{
    static_cast<icu::SimpleDateFormat*>(fImpl)->applyPattern(FromU16(inPattern));
    return true;
}

bool PlatDateFormatter::SetPatternFromSkeleton(const std::u16string& inSkeleton)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(*static_cast<icu::Locale*>(fLocale), status));
    if (U_FAILURE(status) || !generator)
        return false;
    icu::UnicodeString pattern = generator->getBestPattern(FromU16(inSkeleton), status);
    if (U_FAILURE(status) || pattern.isEmpty())
        return false;
    static_cast<icu::SimpleDateFormat*>(fImpl)->applyPattern(pattern);
    return true;
}

void PlatDateFormatter::SetGMT(bool inGMT)
{
    auto* format = static_cast<icu::SimpleDateFormat*>(fImpl);
    if (inGMT)
        format->setTimeZone(*icu::TimeZone::getGMT());
    else
        format->adoptTimeZone(icu::TimeZone::createDefault());
}

std::u16string PlatDateFormatter::Format(double inMilliseconds) const
{
    icu::UnicodeString text;
    static_cast<icu::SimpleDateFormat*>(fImpl)->format(static_cast<UDate>(inMilliseconds), text);
    return ToU16(text);
}

bool PlatDateFormatter::GetAMPMSymbols(std::u16string& outAM, std::u16string& outPM) const
{
    const icu::DateFormatSymbols* symbols = static_cast<icu::SimpleDateFormat*>(fImpl)->getDateFormatSymbols();
    if (symbols == nullptr)
        return false;
    int32_t count = 0;
    const icu::UnicodeString* strings = symbols->getAmPmStrings(count);
    if (strings == nullptr || count < 2)
        return false;
    outAM = ToU16(strings[0]);
    outPM = ToU16(strings[1]);
    return true;
}

bool PlatDateFormatter::GetWeekdayNames(bool inShort, std::vector<std::u16string>& outNames) const
{
    outNames.clear();
    const icu::DateFormatSymbols* symbols = static_cast<icu::SimpleDateFormat*>(fImpl)->getDateFormatSymbols();
    if (symbols == nullptr)
        return false;
    int32_t count = 0;
    // ICU's array starts with an unused entry, then Sunday.
    const icu::UnicodeString* names = symbols->getWeekdays(
        count, icu::DateFormatSymbols::FORMAT,
        inShort ? icu::DateFormatSymbols::ABBREVIATED : icu::DateFormatSymbols::WIDE);
    if (names == nullptr || count < 8)
        return false;
    for (int i = 1; i < 8; ++i)
        outNames.push_back(ToU16(names[i]));
    return true;
}

bool PlatDateFormatter::GetMonthNames(bool inShort, std::vector<std::u16string>& outNames) const
{
    outNames.clear();
    const icu::DateFormatSymbols* symbols = static_cast<icu::SimpleDateFormat*>(fImpl)->getDateFormatSymbols();
    if (symbols == nullptr)
        return false;
    int32_t count = 0;
    const icu::UnicodeString* names = symbols->getMonths(
        count, icu::DateFormatSymbols::FORMAT,
        inShort ? icu::DateFormatSymbols::ABBREVIATED : icu::DateFormatSymbols::WIDE);
    if (names == nullptr || count < 12)
        return false;
    for (int i = 0; i < 12; ++i)
        outNames.push_back(ToU16(names[i]));
    return true;
}

// ---------------------------------------------------------------------------
// Collation

bool HasWidthVariants(const char16_t* inText, int inLength)
{
    if (!PlatCollator::MayHoldWidthVariants(inText, inLength))
        return false;
    for (int i = 0; i < inLength; ++i) {
        char16_t c = inText[i];
        if (c == 0x3000 || (c >= 0xFF00 && c <= 0xFFEF))
            return true;
    }
    return false;
}

void FoldWidth(const char16_t* inText, int inLength, char16_t* outText)
{
    const WidthTable& table = GetWidthTable();
    for (int i = 0; i < inLength; ++i) {
        char16_t c = inText[i];
        if (c == 0x3000) {
            c = 0x20;
        } else if (c >= 0xFF00 && c <= 0xFFEF) {
            char16_t mapped = table.fMap[c - 0xFF00];
            if (mapped != 0)
                c = mapped;
        }
        outText[i] = c;
    }
}

namespace {

bool IsPrintableASCII(const char16_t* inText, int inLength)
{
    for (int i = 0; i < inLength; ++i) {
        if (inText[i] < 0x20 || inText[i] > 0x7E)
            return false;
    }
    return true;
}

// Whether some unit of the text is printable ASCII.
bool IsPrintableASCIIIn(const char16_t* inText, int inLength)
{
    for (int i = 0; i < inLength; ++i) {
        if (inText[i] >= 0x20 && inText[i] <= 0x7E)
            return true;
    }
    return false;
}

// Whether printable ASCII keeps the root collation's elements under the
// collator: its settings neither ignore punctuation, nor weigh case at the
// first level, nor read digits as numbers, and its tailoring changes none of
// these characters (a locale that orders them by code, joins letters into
// one element or gives a letter another case partner tailors them).
bool KeepsRootASCII(const UCollator* inCollator)
{
    UErrorCode status = U_ZERO_ERROR;
    if (ucol_getAttribute(inCollator, UCOL_ALTERNATE_HANDLING, &status) != UCOL_NON_IGNORABLE ||
        ucol_getAttribute(inCollator, UCOL_CASE_LEVEL, &status) != UCOL_OFF ||
        ucol_getAttribute(inCollator, UCOL_NUMERIC_COLLATION, &status) != UCOL_OFF || U_FAILURE(status))
        return false;
    // The tailored set holds the characters the tailoring changed and the
    // strings it joined (a contraction changes none of its characters alone).
    USet* tailored = ucol_getTailoredSet(inCollator, &status);
    bool plain = U_SUCCESS(status) && tailored != nullptr;
    const int32_t items = plain ? uset_getItemCount(tailored) : 0;
    for (int32_t item = 0; plain && item < items; ++item) {
        UChar32 first = 0, last = 0;
        UChar text[64];
        UErrorCode itemStatus = U_ZERO_ERROR;
        const int32_t length = uset_getItem(tailored, item, &first, &last, text, 64, &itemStatus);
        if (length == 0)
            plain = last < 0x20 || first > 0x7E;
        else
            plain = U_SUCCESS(itemStatus) && !IsPrintableASCIIIn(text, length);
    }
    if (tailored != nullptr)
        uset_close(tailored);
    return plain;
}

char16_t LowerASCII(char16_t inChar) { return inChar >= 'A' && inChar <= 'Z' ? inChar + ('a' - 'A') : inChar; }

// The first occurrence of the pattern, unit by unit, case-blind unless the
// case counts; -1 when none.
int FindASCII(const char16_t* inText, int inTextLength, const char16_t* inPattern, int inPatternLength,
              bool inCaseCounts)
{
    for (int start = 0; start + inPatternLength <= inTextLength; ++start) {
        int i = 0;
        if (inCaseCounts) {
            while (i < inPatternLength && inText[start + i] == inPattern[i])
                ++i;
        } else {
            while (i < inPatternLength && LowerASCII(inText[start + i]) == LowerASCII(inPattern[i]))
                ++i;
        }
        if (i == inPatternLength)
            return start;
    }
    return -1;
}

}  // namespace

PlatCollator* PlatCollator::Create(const PlatLocale* inLocale, bool inDiacritical)
{
    if (inLocale == nullptr)
        return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open(static_cast<const icu::Locale*>(inLocale->GetImpl())->getName(), &status);
    if (U_FAILURE(status) || collator == nullptr) {
        if (collator != nullptr)
            ucol_close(collator);
        return nullptr;
    }
    ucol_setStrength(collator, inDiacritical ? UCOL_TERTIARY : UCOL_PRIMARY);
    // Composed and decomposed forms of a letter are the same text.
    ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    if (U_FAILURE(status)) {
        ucol_close(collator);
        return nullptr;
    }
    auto* result = new (std::nothrow) PlatCollator(collator, inDiacritical, KeepsRootASCII(collator));
    if (result == nullptr)
        ucol_close(collator);
    return result;
}

PlatCollator::~PlatCollator()
{
    if (fSearch != nullptr)
        usearch_close(static_cast<UStringSearch*>(fSearch));
    ucol_close(static_cast<UCollator*>(fImpl));
}

int PlatCollator::_CompareRaw(const char16_t* inA, int inLengthA, const char16_t* inB, int inLengthB) const
{
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult result = icu::Collator::fromUCollator(static_cast<const UCollator*>(fImpl))
                                  ->compare(inA, inLengthA, inB, inLengthB, status);
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

int PlatCollator::_CompareFolded(const char16_t* inA, int inLengthA, const char16_t* inB, int inLengthB) const
{
    if (!HasWidthVariants(inA, inLengthA) && !HasWidthVariants(inB, inLengthB))
        return _CompareRaw(inA, inLengthA, inB, inLengthB);
    std::u16string a(static_cast<size_t>(inLengthA), u'\0');
    std::u16string b(static_cast<size_t>(inLengthB), u'\0');
    FoldWidth(inA, inLengthA, a.data());
    FoldWidth(inB, inLengthB, b.data());
    return _CompareRaw(a.data(), inLengthA, b.data(), inLengthB);
}

bool PlatCollator::_FindWith(void* inSearch, const char16_t* inText, int inTextLength, const char16_t* inPattern,
                             int inPatternLength, int& outStart, int& outLength) const
{
    UErrorCode status = U_ZERO_ERROR;
    auto* search = static_cast<UStringSearch*>(inSearch);
    usearch_setText(search, inText, inTextLength, &status);
    usearch_setPattern(search, inPattern, inPatternLength, &status);
    if (U_FAILURE(status))
        return false;
    int32_t position = usearch_first(search, &status);
    if (U_FAILURE(status) || position == USEARCH_DONE)
        return false;
    outStart = position;
    outLength = usearch_getMatchedLength(search);
    return true;
}

bool PlatCollator::Find(const char16_t* inText, int inTextLength, const char16_t* inPattern, int inPatternLength,
                        int& outStart, int& outLength) const
{
    outStart = 0;
    outLength = 0;
    if (inText == nullptr || inPattern == nullptr || inTextLength <= 0 || inPatternLength <= 0)
        return false;
    if (fPlainASCII && IsPrintableASCII(inPattern, inPatternLength) && IsPrintableASCII(inText, inTextLength)) {
        const int start = FindASCII(inText, inTextLength, inPattern, inPatternLength, fCaseCounts);
        if (start < 0)
            return false;
        outStart = start;
        outLength = inPatternLength;
        return true;
    }
    std::u16string foldedText, foldedPattern;
    if (fFoldWidth && (HasWidthVariants(inText, inTextLength) || HasWidthVariants(inPattern, inPatternLength))) {
        foldedText.resize(static_cast<size_t>(inTextLength));
        foldedPattern.resize(static_cast<size_t>(inPatternLength));
        FoldWidth(inText, inTextLength, foldedText.data());
        FoldWidth(inPattern, inPatternLength, foldedPattern.data());
        inText = foldedText.data();
        inPattern = foldedPattern.data();
    }
    std::unique_lock<std::mutex> lock(fSearchLock, std::try_to_lock);
    if (lock.owns_lock()) {
        if (fSearch == nullptr) {
            UErrorCode status = U_ZERO_ERROR;
            fSearch = usearch_openFromCollator(inPattern, inPatternLength, inText, inTextLength,
                                               static_cast<UCollator*>(fImpl), nullptr, &status);
            if (U_FAILURE(status)) {
                if (fSearch != nullptr)
                    usearch_close(static_cast<UStringSearch*>(fSearch));
                fSearch = nullptr;
                return false;
            }
        }
        return _FindWith(fSearch, inText, inTextLength, inPattern, inPatternLength, outStart, outLength);
    }
    // Another thread uses the shared search object: use one of our own.
    UErrorCode status = U_ZERO_ERROR;
    UStringSearch* search = usearch_openFromCollator(inPattern, inPatternLength, inText, inTextLength,
                                                     static_cast<UCollator*>(fImpl), nullptr, &status);
    if (U_FAILURE(status)) {
        if (search != nullptr)
            usearch_close(search);
        return false;
    }
    bool found = _FindWith(search, inText, inTextLength, inPattern, inPatternLength, outStart, outLength);
    usearch_close(search);
    return found;
}

// ---------------------------------------------------------------------------
// Case mapping

bool ChangeCase(const char16_t* inText, int inLength, char16_t* outText, int inCapacity, int& outLength, bool inUpper)
{
    outLength = 0;
    if (inLength <= 0 || inText == nullptr)
        return false;
    if (inCapacity < 0 || outText == nullptr)
        inCapacity = 0;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = inUpper ? u_strToUpper(outText, inCapacity, inText, inLength, "", &status)
                             : u_strToLower(outText, inCapacity, inText, inLength, "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        // Too small a target: map into a buffer of the right size, then
        // hand out what fits.
        std::u16string whole(static_cast<size_t>(length), u'\0');
        status = U_ZERO_ERROR;
        length = inUpper ? u_strToUpper(whole.data(), length, inText, inLength, "", &status)
                         : u_strToLower(whole.data(), length, inText, inLength, "", &status);
        if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING)
            return false;
        if (inCapacity > 0)
            std::memcpy(outText, whole.data(), static_cast<size_t>(std::min(length, inCapacity)) * sizeof(char16_t));
    } else if (U_FAILURE(status)) {
        return false;
    }
    outLength = length;
    return length > 0;
}

// ---------------------------------------------------------------------------
// Unicode normalisation

bool Normalize(const char16_t* inText, int inLength, NormalForm inForm, std::u16string& outText)
{
    if (inText == nullptr || inLength <= 0)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = nullptr;
    switch (inForm) {
        case NormalForm::kNFD:
            normalizer = icu::Normalizer2::getNFDInstance(status);
            break;
        case NormalForm::kNFC:
            normalizer = icu::Normalizer2::getNFCInstance(status);
            break;
        case NormalForm::kNFKD:
            normalizer = icu::Normalizer2::getNFKDInstance(status);
            break;
        case NormalForm::kNFKC:
            normalizer = icu::Normalizer2::getNFKCInstance(status);
            break;
    }
    if (normalizer == nullptr || U_FAILURE(status))
        return false;
    // Read-only alias of the caller's units: nothing is copied for a text
    // that passes the quick check.
    const icu::UnicodeString text(false, inText, inLength);
    const int32_t span = normalizer->spanQuickCheckYes(text, status);
    if (U_FAILURE(status) || span >= inLength)
        return false;
    icu::UnicodeString normalized(text, 0, span);
    normalizer->normalizeSecondAndAppend(normalized, text.tempSubString(span), status);
    // A "maybe" of the quick check can still give the same text back.
    if (U_FAILURE(status) || normalized.isBogus() || normalized == text)
        return false;
    outText.assign(normalized.getBuffer(), static_cast<size_t>(normalized.length()));
    return true;
}

// ---------------------------------------------------------------------------
// Localisation folders

namespace {
bool IsFolder(const std::string& inPath)
{
    struct stat info;
    return ::stat(inPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
}  // namespace

std::string FindSubFolder(const std::string& inParent, const std::string& inName)
{
    if (inParent.empty() || inName.empty() || inName.find('/') != std::string::npos)
        return std::string();
    std::string parent = inParent;
    if (parent.back() != '/')
        parent.push_back('/');
    std::string exact = parent + inName;
    if (IsFolder(exact))
        return exact;
    DIR* dir = ::opendir(inParent.c_str());
    if (dir == nullptr)
        return std::string();
    std::string found;
    while (struct dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, inName.c_str()) == 0 && IsFolder(parent + entry->d_name)) {
            found = parent + entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace qelt::plat
