#include "kernel/VIntlMgr.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "kernel/VCharClassTables.h"
#include "kernel/VCollator.h"
#include "kernel/VCompareOptions.h"
#include "kernel/VDialectTable.h"
#include "kernel/VMemory.h"
#include "platform/PlatLocale.h"
#include "kernel/VThrowError.h"
#include "kernel/VTaskServices.h"
#include "values/VTime.h"
#include "platform/PlatUTF8.h"

namespace qelt {

bool VIntlMgr::sICU_Available = false;

namespace {

constexpr VError kErrorIntlMgrCreation = QeltError(305);
constexpr int kTagCaseMapping = static_cast<int>(FourCC("tupc"));

// The user's dialect, resolved once per process.
std::once_flag sSystemDialectOnce;
unsigned int sSystemDialect = VIntlMgr::kUnresolvedDialect;

// UTF-8 bytes of a text, at most inMax bytes (a character that does not fit
// whole is left out; a lone surrogate becomes U+FFFD).
std::string ToUTF8(const VString& inText, size_t inMax)
{
    std::string out(inMax, '\0');
    const size_t count = inText.GetLength() > 0 ? static_cast<size_t>(inText.GetLength()) : 0;
    const plat::UTF8Result result =
        plat::EncodeUTF8(inText.GetCPointer(), count, out.data(), inMax, plat::UTF8Mode::kReplace, true);
    out.resize(result.produced);
    return out;
}

inline UniChar FoldASCII(UniChar c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<UniChar>(c - 32) : c;
}

// Equality of two texts with the ASCII letters compared without case.
bool EqualNoCase(const VString& inA, const VString& inB)
{
    if (inA.GetLength() != inB.GetLength())
        return false;
    for (int i = 0; i < inA.GetLength(); ++i) {
        if (FoldASCII(inA.GetCPointer()[i]) != FoldASCII(inB.GetCPointer()[i]))
            return false;
    }
    return true;
}

bool EqualNoCase(const VString& inA, const char* inB)
{
    VString b;
    b.FromCString(inB);
    return EqualNoCase(inA, b);
}

// The ASCII letters of a copy lowered.
VString LowerASCII(const VString& inText)
{
    VString result;
    for (int i = 0; i < inText.GetLength(); ++i) {
        UniChar c = inText.GetCPointer()[i];
        result.AppendUniChar((c >= 'A' && c <= 'Z') ? static_cast<UniChar>(c + 32) : c);
    }
    return result;
}

// The non-empty parts of a text between separators.
std::vector<VString> SplitNonEmpty(const VString& inText, UniChar inSeparator)
{
    std::vector<VString> parts;
    const UniChar* p = inText.GetCPointer();
    const int n = inText.GetLength();
    int start = 0;
    for (int i = 0; i <= n; ++i) {
        if (i == n || p[i] == inSeparator) {
            if (i > start) {
                VString part;
                part.FromUniString(p + start, i - start);
                parts.push_back(part);
            }
            start = i + 1;
        }
    }
    return parts;
}

bool Contains(const VString& inText, UniChar inChar)
{
    for (int i = 0; i < inText.GetLength(); ++i) {
        if (inText.GetCPointer()[i] == inChar)
            return true;
    }
    return false;
}

// A dialect the table knows: the code, else its primary language with the
// first sub-language, else 1033. outFound tells whether the table had it.
unsigned int KnownDialect(unsigned int inDialect, bool& outFound)
{
    outFound = true;
    if (VIntlMgr::IsDialectCode(inDialect))
        return inDialect;
    unsigned int primary = (inDialect & 0x3FF) | 0x400;
    if (VIntlMgr::IsDialectCode(primary))
        return primary;
    outFound = false;
    return VIntlMgr::kDefaultDialect;
}

// The dialect of one language identifier of the environment, or 0.
unsigned int DialectOfLanguage(const std::string& inLanguage)
{
    std::string canonical = plat::CanonicalLanguageIdentifier(inLanguage);
    if (canonical.empty())
        return 0;
    if (canonical.size() > 80)
        canonical.resize(80);
    VString text;
    text.FromBlock(canonical.data(), canonical.size(), VTC_UTF_8);
    unsigned int dialect = 0;
    if (!VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(text, dialect, true, true))
        return 0;
    return dialect;
}

}  // namespace

// ===========================================================================
// Creation

bool VIntlMgr::Init()
{
    return true;
}

void VIntlMgr::ICU_Cleanup() {}
void VIntlMgr::_InitICU() {}
void VIntlMgr::_InitMeCab() {}
int VIntlMgr::_GetMecabModel()
{
    return 0;
}

unsigned int VIntlMgr::ResolveDialectFromEnvironment(const char* inLanguage, const char* inLcAll,
                                                     const char* inLcMessages, const char* inLang)
{
    std::vector<std::string> languages = plat::PreferredLanguagesFromValues(inLanguage, inLcAll, inLcMessages, inLang);
    if (languages.empty())
        return kDefaultDialect;
    unsigned int dialect = DialectOfLanguage(languages.front());
    return dialect != 0 ? dialect : kDefaultDialect;
}

unsigned int VIntlMgr::ResolveDialectCode(unsigned int inDialect)
{
    if (inDialect == kUnresolvedDialect)
        inDialect = 0;
    if (inDialect != 0 && inDialect != kSystemDialectAlt)
        return inDialect;
    std::call_once(sSystemDialectOnce, [] {
        sSystemDialect = ResolveDialectFromEnvironment(std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                                                       std::getenv("LC_MESSAGES"), std::getenv("LANG"));
    });
    return sSystemDialect;
}

VIntlMgr* VIntlMgr::Create(unsigned int inDialect, unsigned int inCollationDialect, unsigned char inOptions)
{
    bool found = false;
    unsigned int dialect = KnownDialect(ResolveDialectCode(inDialect), found);
    unsigned int collation = KnownDialect(ResolveDialectCode(inCollationDialect), found);
    // Hungarian and Thai collations are not offered.
    if (found && (collation == 1038 || collation == 1054))
        collation = kDefaultDialect;

    if (VIntlMgr* current = GetCurrentTaskIntlMgr()) {
        VCollator* collator = current->fCollator;
        if (current->fDialect == dialect && collator != nullptr && collator->GetDialectCode() == collation &&
            collator->GetOptions() == inOptions) {
            VIntlMgr* copy = new (std::nothrow) VIntlMgr(*current);
            if (copy != nullptr && copy->fCollator != nullptr) {
                copy->Reset();
                return copy;
            }
            if (copy != nullptr)
                copy->Release();
        }
    }

    VIntlMgr* manager = new (std::nothrow) VIntlMgr(dialect, 1);
    if (manager == nullptr || !manager->_InitCollator(collation, inOptions)) {
        if (manager != nullptr)
            manager->Release();
        _ThrowError(kErrorIntlMgrCreation);
        return nullptr;
    }
    // The locale variables are read when first asked for (_LocaleVariables).
    return manager;
}

VIntlMgr::VIntlMgr(unsigned int inDialect, unsigned int inCollatorMode)
    : fImpl(inDialect),
      fCollatorMode(inCollatorMode),
      fDialect(inDialect),
      fLocaleVariables(std::make_shared<SharedLocaleVariables>())
{
}

VIntlMgr::VIntlMgr(const VIntlMgr& inOther)
    : VObject(inOther),
      IRefCountable(),
      fImpl(inOther.fImpl),
      fCollatorMode(inOther.fCollatorMode),
      fCollator(inOther.fCollator != nullptr ? inOther.fCollator->Clone() : nullptr),
      fDialect(inOther.fDialect),
      fLocaleVariables(inOther.fLocaleVariables)
{
}

VIntlMgr::~VIntlMgr()
{
    if (fCollator != nullptr)
        fCollator->Release();
}

VIntlMgr* VIntlMgr::Clone() const
{
    return new (std::nothrow) VIntlMgr(*this);
}

void VIntlMgr::Reset()
{
    if (fCollator != nullptr)
        fCollator->Reset();
}

bool VIntlMgr::_InitCollator(unsigned int inCollationDialect, unsigned char inOptions)
{
    (void)inOptions;  // every collator of this system has the options 1
    if (fCollator == nullptr)
        fCollator = VCollator_system::Create(inCollationDialect, inCollationDialect == fDialect ? this : nullptr);
    return fCollator != nullptr;
}

static void SetFromU16(VString& outText, const std::u16string& inText)
{
    outText.FromUniString(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int>(inText.size()));
}

unsigned int VIntlMgr::DateOrderFromOrderText(const VString& inOrder)
{
    static const char* const kOrders[] = {"Mdy", "dMy", "yMd", "Myd", "dyM", "ydM"};
    for (unsigned int i = 0; i < 6; ++i) {
        VString order;
        order.FromCString(kOrders[i]);
        if (inOrder.GetLength() == 3 && std::memcmp(inOrder.GetCPointer(), order.GetCPointer(), 6) == 0)
            return i;
    }
    return 0;
}

void VIntlMgr::ScanDatePattern(const VString& inPattern, VString& outOrder, VString& outSeparator, bool& outHasAMPM)
{
    outOrder.Clear();
    outSeparator.Clear();
    outHasAMPM = false;
    bool haveSeparator = false;
    UniChar quote = 0;
    for (int i = 0; i < inPattern.GetLength(); ++i) {
        UniChar c = inPattern.GetCPointer()[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            continue;
        }
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letter) {
            if (!haveSeparator) {
                outSeparator.FromUniChar(c);
                haveSeparator = true;
            }
            continue;
        }
        if (c == 'a')
            outHasAMPM = true;
        if ((c == 'M' || c == 'd' || c == 'y') && !Contains(outOrder, c))
            outOrder.AppendUniChar(c);
    }
}

bool VIntlMgr::_InitLocaleVariables()
{
    _LocaleVariables();
    return true;
}

const VIntlMgr::LocaleVariables& VIntlMgr::_LocaleVariables() const
{
    SharedLocaleVariables& shared = *fLocaleVariables;
    std::call_once(shared.fRead, [this, &shared] { _ReadLocaleVariables(shared.fValues); });
    return shared.fValues;
}

void VIntlMgr::_ReadLocaleVariables(LocaleVariables& outVariables) const
{
    plat::PlatLocale* locale = fImpl.RetainCFLocaleRef();
    if (locale == nullptr)
        return;
    std::u16string decimal, grouping, currency;
    if (locale->GetNumberSymbols(decimal, grouping, currency)) {
        SetFromU16(outVariables.fDecimalSeparator, decimal);
        SetFromU16(outVariables.fThousandsSeparator, grouping);
        // The generic currency sign stands for the euro.
        if (currency.size() == 1 && currency[0] == u'\u00A4')
            currency = u"\u20AC";
        SetFromU16(outVariables.fCurrency, currency);
    }
    VString order, separator;
    bool hasAMPM = false;
    if (plat::PlatDateFormatter* time = plat::PlatDateFormatter::Create(locale, eDateStyleNone, eDateStyleShort)) {
        std::u16string am, pm;
        if (time->GetAMPMSymbols(am, pm)) {
            SetFromU16(outVariables.fAMString, am);
            SetFromU16(outVariables.fPMString, pm);
        }
        VString pattern;
        SetFromU16(pattern, time->GetPattern());
        ScanDatePattern(pattern, order, separator, hasAMPM);
        outVariables.fUse12HourClock = hasAMPM;
        outVariables.fTimeSeparator = separator;
        delete time;
    }
    if (plat::PlatDateFormatter* date = plat::PlatDateFormatter::Create(locale, eDateStyleShort, eDateStyleNone)) {
        VString pattern;
        SetFromU16(pattern, date->GetPattern());
        ScanDatePattern(pattern, order, separator, hasAMPM);
        outVariables.fDateSeparator = separator;
        outVariables.fDateOrder = DateOrderFromOrderText(order);
        delete date;
    }
    struct {
        int fDate, fTime;
        VString* fTarget;
    } patterns[] = {{0, 1, &outVariables.fShortTimePattern}, {0, 2, &outVariables.fMediumTimePattern},
                    {0, 3, &outVariables.fLongTimePattern},  {0, 4, &outVariables.fFullTimePattern},
                    {1, 0, &outVariables.fShortDatePattern}, {2, 0, &outVariables.fMediumDatePattern},
                    {3, 0, &outVariables.fLongDatePattern},  {4, 0, &outVariables.fFullDatePattern}};
    for (auto& entry : patterns) {
        if (plat::PlatDateFormatter* formatter = plat::PlatDateFormatter::Create(locale, entry.fDate, entry.fTime)) {
            SetFromU16(*entry.fTarget, formatter->GetPattern());
            delete formatter;
        }
    }
    locale->Release();
}

CharSet VIntlMgr::DebugDump(char* ioBuffer, int& ioSize) const
{
    if (ioBuffer == nullptr || ioSize <= 0) {
        ioSize = 0;
        return VTC_UTF_8;
    }
    int written = std::snprintf(ioBuffer, static_cast<size_t>(ioSize), "intl dialect %u", fDialect);
    ioSize = written < 0 ? 0 : (written >= ioSize ? ioSize - 1 : written);
    return VTC_UTF_8;
}

// ===========================================================================
// The user's languages

unsigned int VIntlMgr::GetSystemUIDialectCode()
{
    std::vector<std::string> languages = plat::GetPreferredLanguages();
    if (languages.empty())
        return kDefaultDialect;
    unsigned int dialect = DialectOfLanguage(languages.front());
    return dialect != 0 ? dialect : kDefaultDialect;
}

void VIntlMgr::GetSystemUIDialectCodes(std::vector<unsigned int>& outDialects)
{
    outDialects.clear();
    for (const std::string& language : plat::GetPreferredLanguages()) {
        unsigned int dialect = DialectOfLanguage(language);
        outDialects.push_back(dialect != 0 ? dialect : kDefaultDialect);
    }
}

bool VIntlMgr::IsSystemUIDialectIdeographic()
{
    switch (GetSystemUIDialectCode()) {
        case 1028:
        case 1041:
        case 1042:
        case 2052:
        case 2066:
        case 3076:
        case 4100:
            return true;
        default:
            return false;
    }
}

// ===========================================================================
// Case mapping

void VIntlMgr::ToUpperLowerCase(VString& ioText, bool inStripDiacritics, bool inUpper) const
{
    (void)inStripDiacritics;
    const int length = ioText.GetLength();
    if (length <= 0)
        return;
    if (length < 256) {
        UniChar buffer[512];
        int resultLength = 512;
        if (XMacIntlMgr::ToUpperLowerCase(ioText.GetCPointer(), length, buffer, resultLength, inUpper) &&
            resultLength <= 512) {
            ioText.FromUniString(buffer, resultLength);
            return;
        }
    }
    // Longer texts, and results that do not fit the stack: a heap block of
    // twice the length, grown to the size the mapping reports.
    long long capacity = 2LL * length;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto* block = static_cast<UniChar*>(
            VMemory::NewPtr(static_cast<size_t>(capacity) * sizeof(UniChar), kTagCaseMapping));
        if (block == nullptr)
            return;
        int resultLength = static_cast<int>(capacity);
        bool ok = XMacIntlMgr::ToUpperLowerCase(ioText.GetCPointer(), length, block, resultLength, inUpper);
        if (ok && resultLength <= capacity) {
            ioText.FromUniString(block, resultLength);
            VMemory::DisposePtr(block);
            return;
        }
        VMemory::DisposePtr(block);
        if (!ok)
            return;
        capacity = resultLength;
    }
}

void VIntlMgr::NormalizeString(VString& ioText, NormalizationMode inMode) const
{
    // A text already in the form is left as it is (not even marked changed).
    std::u16string normalized;
    if (XMacIntlMgr::Normalize(ioText.GetCPointer(), ioText.GetLength(), inMode, normalized))
        ioText.FromUniString(reinterpret_cast<const UniChar*>(normalized.data()), static_cast<int>(normalized.size()));
}

// ===========================================================================
// Collation

CompareResult VIntlMgr::CompareString(const UniChar* inText1, int inSize1, const UniChar* inText2, int inSize2,
                                      const VCompareOptions& inOptions) const
{
    if (inOptions.IsLike())
        return CompareString_Like(inText1, inSize1, inText2, inSize2, inOptions.IsDiacritical());
    return CompareString(inText1, inSize1, inText2, inSize2, inOptions.IsDiacritical());
}

CompareResult VIntlMgr::CompareString_Like(const UniChar* inText, int inSize, const UniChar* inPattern,
                                           int inPatternSize, bool inWithDiacritics) const
{
    return fCollator != nullptr
               ? fCollator->CompareString_Like(inText, inSize, inPattern, inPatternSize, inWithDiacritics)
               : CR_EQUAL;
}

bool VIntlMgr::EqualString_Like(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                bool inWithDiacritics) const
{
    return fCollator != nullptr &&
           fCollator->EqualString_Like(inText, inSize, inPattern, inPatternSize, inWithDiacritics);
}

int VIntlMgr::FindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                         bool inWithDiacritics, int* outLength) const
{
    if (fCollator == nullptr) {
        if (outLength != nullptr)
            *outLength = 0;
        return 0;
    }
    return fCollator->FindString(inText, inSize, inPattern, inPatternSize, inWithDiacritics, outLength);
}

int VIntlMgr::ReversedFindString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                 bool inWithDiacritics, int* outLength) const
{
    if (fCollator == nullptr) {
        if (outLength != nullptr)
            *outLength = 0;
        return 0;
    }
    return fCollator->ReversedFindString(inText, inSize, inPattern, inPatternSize, inWithDiacritics, outLength);
}

bool VIntlMgr::BeginsWithString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                                bool inWithDiacritics, int* outLength) const
{
    if (fCollator == nullptr) {
        if (outLength != nullptr)
            *outLength = 0;
        return false;
    }
    return fCollator->BeginsWithString(inText, inSize, inPattern, inPatternSize, inWithDiacritics, outLength);
}

bool VIntlMgr::EndsWithString(const UniChar* inText, int inSize, const UniChar* inPattern, int inPatternSize,
                              bool inWithDiacritics, int* outLength) const
{
    if (fCollator == nullptr) {
        if (outLength != nullptr)
            *outLength = 0;
        return false;
    }
    return fCollator->EndsWithString(inText, inSize, inPattern, inPatternSize, inWithDiacritics, outLength);
}

UniChar VIntlMgr::GetWildChar() const
{
    return fCollator != nullptr ? fCollator->GetWildChar() : VCollator::sDefaultWildChar;
}

void VIntlMgr::GetStringComparisonAlgorithmSignature(VString& outSignature) const
{
    if (fCollator != nullptr)
        fCollator->GetStringComparisonAlgorithmSignature(outSignature);
}

void VIntlMgr::GetKewordAlgorithmSignature(VString& outSignature) const
{
    if ((fCollatorMode & 0x1) != 0)
        outSignature.FromCString("AlphaNum");
    else if ((fCollatorMode & 0x6) == 0)
        outSignature.Clear();
}

bool VIntlMgr::DebugConvertString(void* inSource, int inSourceBytes, CharSet inSourceSet, void* outTarget,
                                  int& ioTargetBytes, CharSet inTargetSet)
{
    if (inSourceSet != inTargetSet)
        return false;
    int count = ioTargetBytes < inSourceBytes ? ioTargetBytes : inSourceBytes;
    if (count < 0)
        count = 0;
    if (count > 0 && inSource != nullptr && outTarget != nullptr)
        std::memmove(outTarget, inSource, static_cast<size_t>(count));
    ioTargetBytes = count;
    return true;
}

// ===========================================================================
// Dates and times

void VIntlMgr::FormatDate(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC) const
{
    fImpl.FormatDate(inTime, outText, inFormat, inUTC);
}

void VIntlMgr::FormatTime(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC) const
{
    fImpl.FormatTime(inTime, outText, inFormat, inUTC);
}

void VIntlMgr::FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inFormat) const
{
    fImpl.FormatDuration(inDuration, outText, inFormat);
}

void VIntlMgr::GetMonthName(int inMonth, bool inShort, VString& outName) const
{
    if (inMonth < 1 || inMonth > 12) {
        outName.Clear();
        return;
    }
    fImpl.GetMonthName(inMonth, inShort, outName);
}

void VIntlMgr::GetWeekDayName(int inDay, bool inShort, VString& outName) const
{
    if (inDay < 0 || inDay > 6) {
        outName.Clear();
        return;
    }
    fImpl.GetWeekDayName(inDay, inShort, outName);
}

static void AppendNumber(VString& ioText, long long inValue, int inWidth)
{
    char buffer[1100];
    if (inWidth > 999)
        inWidth = 999;
    std::snprintf(buffer, sizeof(buffer), "%0*lld", inWidth, inValue);
    ioText.AppendCString(buffer);
}

void VIntlMgr::FormatDateTimeWithPattern(const VTime& inTime, const VString& inPattern, bool inUTC,
                                         const VString* inMonthName, VString& outText) const
{
    short year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    if (inUTC)
        inTime.GetUTCTime(year, month, day, hour, minute, second, millisecond);
    else
        inTime.GetLocalTime(year, month, day, hour, minute, second, millisecond);

    VString result;
    const UniChar* p = inPattern.GetCPointer();
    const int n = inPattern.GetLength();
    int i = 0;
    while (i < n) {
        UniChar c = p[i];
        if (c < 'A' || c > 'z') {
            result.AppendUniChar(c);
            ++i;
            continue;
        }
        int run = 1;
        while (i + run < n && p[i + run] == c)
            ++run;
        auto take = [&](int inMax) {
            int k = run < inMax ? run : inMax;
            i += k;
            return k;
        };
        switch (c) {
            case 'A': case 'F': case 'Q': case 'S': case 'V': case 'W': case 'Z':
            case 'c': case 'e': case 'q': case 'u': case 'v': case 'w': case 'z':
                ++i;
                break;
            case 'D': {
                int k = take(3);
                AppendNumber(result, VTime::ComputeYearDay(year, month, day), k);
                break;
            }
            case 'E': {
                int k = take(6);
                VString name;
                GetWeekDayName(VTime::ComputeWeekDay(year, month, day), k <= 3, name);
                if (k == 5 && name.GetLength() > 1)
                    name.Truncate(1);
                else if (k == 6 && name.GetLength() > 2)
                    name.Truncate(2);
                result.AppendString(name);
                break;
            }
            case 'G': {
                int k = take(5);
                result.AppendCString(k <= 3 ? "AD" : (k == 4 ? "Anno Domini" : "A"));
                break;
            }
            case 'H':
                AppendNumber(result, hour, take(2));
                break;
            case 'K':
                AppendNumber(result, hour % 12, take(2));
                break;
            case 'M':
            case 'L': {
                int k = take(5);
                if (k <= 2) {
                    AppendNumber(result, month, k);
                } else {
                    VString name;
                    if (inMonthName != nullptr)
                        name.FromString(*inMonthName);
                    else
                        GetMonthName(month, k == 3, name);
                    if (k == 5 && name.GetLength() > 1)
                        name.Truncate(1);
                    result.AppendString(name);
                }
                break;
            }
            case 'y':
            case 'Y': {
                int k = take(999);
                if (k == 1) {
                    AppendNumber(result, year, 1);
                } else {
                    AppendNumber(result, year, k);
                }
                break;
            }
            case 'a':
                ++i;
                result.AppendCString(hour > 11 ? "PM" : "AM");
                break;
            case 'd':
                AppendNumber(result, day, take(2));
                break;
            case 'g':
                AppendNumber(result, VTime::ComputeJulianDay(year, month, day), take(999));
                break;
            case 'h': {
                int h = hour % 12;
                AppendNumber(result, h == 0 ? 12 : h, take(2));
                break;
            }
            case 'k':
                AppendNumber(result, hour == 0 ? 24 : hour, take(2));
                break;
            case 'm':
                AppendNumber(result, minute, take(2));
                break;
            case 's':
                AppendNumber(result, second, take(2));
                break;
            default:
                result.AppendUniChar(c);
                ++i;
                break;
        }
    }
    outText.FromString(result);
}

// ===========================================================================
// Dialect table and language codes

bool VIntlMgr::IsDialectCode(unsigned int inDialect)
{
    return VDialectTable::FindRow(inDialect) != nullptr;
}

const char* VIntlMgr::GetISO6391LanguageCode(unsigned int inDialect)
{
    const VDialectRow* row = VDialectTable::FindRow(inDialect);
    return row != nullptr ? row->fISO6391 : nullptr;
}

const char* VIntlMgr::GetISO3166RegionCode(unsigned int inDialect)
{
    const VDialectRow* row = VDialectTable::FindRow(inDialect);
    return row != nullptr ? row->fRegion : nullptr;
}

// Clears the text, then sets it to the column's text of the dialect's row;
// true when that text is not empty.
static bool GetColumn(unsigned int inDialect, VString& outText, const char* VDialectRow::*inColumn)
{
    outText.Clear();
    const VDialectRow* row = VDialectTable::FindRow(inDialect);
    if (row == nullptr)
        return false;
    outText.FromCString(row->*inColumn);
    return !outText.IsEmpty();
}

bool VIntlMgr::GetISO6391LanguageCode(unsigned int inDialect, VString& outCode)
{
    return GetColumn(inDialect, outCode, &VDialectRow::fISO6391);
}

bool VIntlMgr::GetISO6392LanguageCode(unsigned int inDialect, VString& outCode)
{
    return GetColumn(inDialect, outCode, &VDialectRow::fISO6392);
}

bool VIntlMgr::GetISOLanguageName(unsigned int inDialect, VString& outName)
{
    return GetColumn(inDialect, outName, &VDialectRow::fName);
}

bool VIntlMgr::GetISO3166RegionCode(unsigned int inDialect, VString& outCode)
{
    return GetColumn(inDialect, outCode, &VDialectRow::fRegion);
}

bool VIntlMgr::GetRFC3066BisSubTagRegionCode(unsigned int inDialect, VString& outCode)
{
    return GetColumn(inDialect, outCode, &VDialectRow::fSubTag);
}

bool VIntlMgr::GetBCP47LanguageCode(unsigned int inDialect, VString& outCode)
{
    outCode.Clear();
    const VDialectRow* row = VDialectTable::FindRow(inDialect);
    if (row == nullptr)
        return false;
    outCode.FromCString(row->fISO6391);
    if (row->fRegion[0] != 0) {
        outCode.AppendUniChar('-');
        outCode.AppendCString(row->fRegion);
    }
    return !outCode.IsEmpty();
}

bool VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(unsigned int inDialect, VString& outCode, char inSeparator)
{
    outCode.Clear();
    const VDialectRow* row = VDialectTable::FindRow(inDialect);
    if (row == nullptr || row->fISO6391[0] == 0)
        return false;
    outCode.FromCString(row->fISO6391);
    if (row->fSubTag[0] != 0) {
        outCode.AppendUniChar(static_cast<UniChar>(static_cast<unsigned char>(inSeparator)));
        outCode.AppendCString(row->fSubTag);
    }
    return true;
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const char* inLanguage, const char* inRegion,
                                                        unsigned int& outDialect, bool inFallbackOnPrimary,
                                                        bool inPrimaryWithDefaultSub)
{
    outDialect = kUnresolvedDialect;
    if (inLanguage == nullptr)
        return false;
    const bool hasRegion = inRegion != nullptr && inRegion[0] != 0;
    if (hasRegion) {
        for (int i = 0; i < VDialectTable::kRowCount; ++i) {
            const VDialectRow& row = VDialectTable::GetRow(i);
            if (VDialectTable::EqualNoCase(row.fISO6391, inLanguage) && VDialectTable::EqualNoCase(row.fSubTag, inRegion)) {
                outDialect = row.fCode;
                return true;
            }
        }
        if (!inFallbackOnPrimary)
            return false;
    }
    for (int i = 0; i < VDialectTable::kRowCount; ++i) {
        const VDialectRow& row = VDialectTable::GetRow(i);
        if (row.fSubTag[0] == 0 && VDialectTable::EqualNoCase(row.fISO6391, inLanguage)) {
            if (hasRegion || inPrimaryWithDefaultSub)
                outDialect = (row.fCode & 0x3FF) | 0x400;
            else
                outDialect = row.fCode;
            return true;
        }
    }
    return false;
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const VString& inCode, unsigned int& outDialect,
                                                        bool inFallbackOnPrimary, bool inPrimaryWithDefaultSub)
{
    outDialect = kUnresolvedDialect;
    std::vector<VString> dashParts = SplitNonEmpty(inCode, '-');
    std::vector<VString> underscoreParts = SplitNonEmpty(inCode, '_');
    if (dashParts.size() == 1 && underscoreParts.size() == 1 && !Contains(inCode, '-') && !Contains(inCode, '_')) {
        std::string language = ToUTF8(dashParts[0], 255);
        for (int i = 0; i < VDialectTable::kRowCount; ++i) {
            const VDialectRow& row = VDialectTable::GetRow(i);
            if (row.fSubTag[0] == 0 && VDialectTable::EqualNoCase(row.fISO6391, language.c_str())) {
                outDialect = inPrimaryWithDefaultSub ? ((row.fCode & 0x3FF) | 0x400) : row.fCode;
                return true;
            }
        }
        return false;
    }
    const std::vector<VString>* parts = nullptr;
    if (dashParts.size() == 2)
        parts = &dashParts;
    else if (underscoreParts.size() == 2)
        parts = &underscoreParts;
    if (parts == nullptr)
        return false;
    std::string language = ToUTF8((*parts)[0], 255);
    std::string region = ToUTF8((*parts)[1], 255);
    return GetDialectCodeWithRFC3066BisLanguageCode(language.c_str(), region.c_str(), outDialect, inFallbackOnPrimary,
                                                    inPrimaryWithDefaultSub);
}

bool VIntlMgr::GetDialectCodeWithISOLanguageName(const VString& inName, unsigned int& outDialect)
{
    VString name = LowerASCII(inName);
    for (int i = 0; i < VDialectTable::kRowCount; ++i) {
        const VDialectRow& row = VDialectTable::GetRow(i);
        if (row.fSubTag[0] == 0 && EqualNoCase(name, row.fName)) {
            outDialect = (row.fCode & 0xFF) | 0x400;
            return true;
        }
    }
    return false;
}

int VIntlMgr::Compare2RFC3066LanguageCodes(const VString& inA, const VString& inB)
{
    VString a = LowerASCII(inA);
    VString b = LowerASCII(inB);
    unsigned int dialect = 0;
    if (!GetDialectCodeWithRFC3066BisLanguageCode(a, dialect, true, true) ||
        !GetDialectCodeWithRFC3066BisLanguageCode(b, dialect, true, true))
        return -1;
    if (EqualNoCase(a, b))
        return 4;
    std::vector<VString> partsA = SplitNonEmpty(a, '-');
    std::vector<VString> partsB = SplitNonEmpty(b, '-');
    if (partsA.empty() || partsB.empty())
        return 0;
    bool sameLanguage = EqualNoCase(partsA[0], partsB[0]);
    if (partsA.size() == 2 && partsB.size() == 1)
        return sameLanguage ? 3 : 0;
    if (partsA.size() == 1 && partsB.size() == 2)
        return sameLanguage ? 2 : 0;
    if (partsA.size() == 2 && partsB.size() == 2)
        return sameLanguage ? 1 : 0;
    return 0;
}

bool VIntlMgr::IsRightToLeftDialect(unsigned int inDialect)
{
    switch (ResolveDialectCode(inDialect) & 0x3FF) {
        case 0x01:
        case 0x0D:
        case 0x20:
        case 0x29:
            return true;
        default:
            return false;
    }
}

int VIntlMgr::DialectCodeToScriptCode(unsigned int inDialect)
{
    return VDialectTable::GetScriptCode(inDialect);
}

void VIntlMgr::GetAllDialects(std::vector<unsigned int>& outDialects)
{
    for (int i = 0; i < VDialectTable::kRowCount; ++i)
        outDialects.push_back(VDialectTable::GetRow(i).fCode);
}

void VIntlMgr::GetDialectsHavingCollator(std::vector<std::pair<VString, unsigned int>>& outDialects)
{
    for (int i = 0; i < VDialectTable::kRowCount; ++i) {
        unsigned int code = VDialectTable::GetRow(i).fCode;
        VString language;
        language.FromCString(VDialectTable::FindRow(code)->fISO6391);
        outDialects.emplace_back(language, code);
    }
}

bool VIntlMgr::GetLocalizedLanguageName(unsigned int, VString&)
{
    return false;
}

bool VIntlMgr::GetLocalizedLanguageNameFromBCP47(const VString&, VString&)
{
    return false;
}

// ===========================================================================
// Localisation folders

void VIntlMgr::GetLocalizationFolderNames(unsigned int inDialect, std::vector<VString>& outNames)
{
    outNames.clear();
    const VDialectRow* row = VDialectTable::FindRow(inDialect);
    if (row == nullptr)
        return;
    VString a;
    GetRFC3066BisLanguageCodeWithDialectCode(inDialect, a, '-');
    std::vector<VString> names;
    if (!a.IsEmpty())
        names.push_back(a);
    VString b;
    GetRFC3066BisLanguageCodeWithDialectCode(inDialect, b, '_');
    if (!b.IsEmpty() && !EqualNoCase(b, a))
        names.push_back(b);
    VString c;
    c.FromCString(row->fISO6391);
    if (!c.IsEmpty() && !EqualNoCase(c, a))
        names.push_back(c);
    if (row->fRegion[0] != 0) {
        VString d;
        d.FromCString(row->fISO6391);
        d.AppendUniChar('_');
        d.AppendCString(row->fRegion);
        if (!EqualNoCase(d, a))
            names.push_back(d);
    }
    if (row->fName[0] != 0) {
        VString e;
        e.FromCString(row->fName);
        UniChar first = e.GetCPointer()[0];
        if (first >= 'a' && first <= 'z')
            e.SetUniChar(1, static_cast<UniChar>(first - 32));
        names.push_back(e);
    }
    for (VString& name : names) {
        name.AppendCString(".lproj");
        outNames.push_back(name);
    }
}

bool VIntlMgr::GetLocalizationFolderPathsWithDialect(unsigned int inDialect, const VString& inFolderPath,
                                                     std::vector<VString>& ioFolderPaths)
{
    if (inFolderPath.IsEmpty())
        return false;
    std::string parent = ToUTF8(inFolderPath, 4096);
    std::vector<VString> names;
    GetLocalizationFolderNames(inDialect, names);
    std::vector<std::string> found;
    for (const VString& name : names) {
        std::string path = plat::FindSubFolder(parent, ToUTF8(name, 1024));
        if (path.empty())
            continue;
        bool seen = false;
        for (const std::string& other : found)
            seen = seen || other == path;
        if (seen)
            continue;
        found.push_back(path);
        VString text;
        text.FromBlock(path.data(), path.size(), VTC_UTF_8);
        ioFolderPaths.push_back(text);
    }
    return !ioFolderPaths.empty();
}

// ===========================================================================
// Character classes

bool VIntlMgr::_CharTest(UniChar inChar, const unsigned short* inTable) const
{
    return inTable != nullptr && IsInRangeTable(inChar, inTable);
}

bool VIntlMgr::IsAlpha(UniChar inChar) const
{
    return IsInRangeTable(inChar, kLetterTable);
}

bool VIntlMgr::IsDigit(UniChar inChar) const
{
    return IsInRangeTable(inChar, kDigitTable);
}

bool VIntlMgr::IsPunctuation(UniChar inChar) const
{
    return IsInRangeTable(inChar, kPunctuationTable);
}

bool VIntlMgr::IsSpace(UniChar inChar, bool inFlag) const
{
    (void)inFlag;
    return inChar == 0x20 || inChar == 0xA0 || (inChar >= 0x2000 && inChar <= 0x200B) || inChar == 0x3000;
}

int VIntlMgr::CharDigitValue(UniChar inChar) const
{
    return (inChar >= '0' && inChar <= '9') ? inChar - '0' : -1;
}

bool VIntlMgr::IsUpper(UniChar) const
{
    return false;
}

bool VIntlMgr::IsLower(UniChar) const
{
    return false;
}

bool VIntlMgr::IsSymbol32(unsigned int) const
{
    return false;
}

int VIntlMgr::CharType(unsigned int)
{
    return 0;
}

void VIntlMgr::AdjustUniCharPosToCharacterBoundary(const UniChar*, unsigned long, int&, bool) const {}

bool VIntlMgr::IsAMacCharacter(unsigned char inChar, unsigned char inKind)
{
    const bool digit = inChar >= '0' && inChar <= '9';
    const bool letter = (inChar >= 'a' && inChar <= 'z') || (inChar >= 'A' && inChar <= 'Z');
    const bool macLetter =
        (inChar >= 128 && inChar <= 159) || inChar == 174 || inChar == 190 || (inChar >= 203 && inChar <= 207);
    const bool underscore = inChar == '_';
    switch (inKind) {
        case 0:
            return inChar == 9 || inChar == 13 || (inChar >= 32 && inChar != 127);
        case 1:
            return digit || letter || macLetter || underscore;
        case 2:
            return letter || macLetter || underscore;
        case 3:
            return digit || letter || underscore;
        case 4:
            return letter || underscore;
        case 5:
            return digit;
        default:
            return false;
    }
}

// ===========================================================================
// Words

bool VIntlMgr::_IsItaDeadChar(UniChar inChar) const
{
    if (inChar < 32)
        return true;
    if (IsAlpha(inChar))
        return false;
    return !IsDigit(inChar);
}

bool VIntlMgr::_HasApostropheSecondFollowedByVowel(const VString& inText, int inPos, int inLength) const
{
    if (inLength < 4 || inPos < 0 || inPos >= inText.GetLength())
        return false;
    UniChar apostrophe = inText.GetCPointer()[inPos];
    if (apostrophe != 0x2019 && apostrophe != '\'')
        return false;
    // The range starts at the unit before the apostrophe (1-based inPos).
    int first = inPos;  // 0-based index of 1-based position inPos
    if (first < 1)
        return false;
    first -= 1;
    int count = inLength;
    if (first + count > inText.GetLength())
        count = inText.GetLength() - first;
    if (count < 3)
        return false;
    VString part;
    part.FromUniString(inText.GetCPointer() + first, count);
    ToUpperLowerCase(part, false, false);
    if (part.GetLength() < 3)
        return false;
    switch (part.GetCPointer()[2]) {
        case 'a':
        case 'e':
        case 'i':
        case 'o':
        case 'u':
        case 'h':
        case 'y':
            return true;
        default:
            return false;
    }
}

bool VIntlMgr::GetWordBoundariesWithOptions(const VString& inText, VWordBoundaries& outWords,
                                            unsigned int inOptions) const
{
    outWords.clear();
    const int length = inText.GetLength();
    if (inText.IsNull() || length <= 0)
        return true;
    if ((inOptions & 0x1) == 0)
        return false;
    const UniChar* p = inText.GetCPointer();
    int i = 0;
    while (i < length) {
        while (i < length && _IsItaDeadChar(p[i]))
            ++i;
        if (i >= length)
            break;
        int start = i;
        while (i < length && !_IsItaDeadChar(p[i]))
            ++i;
        outWords.emplace_back(start + 1, i - start);
    }
    return true;
}

bool VIntlMgr::_SplitWordRangeOnDot(const VString& inText, int inStart, unsigned long inLength,
                                    VWordBoundaries& outParts, bool inKeepDots) const
{
    const int textLength = inText.GetLength();
    int first = inStart - 1;
    if (first < 0 || first >= textLength)
        return false;
    long long endLL = static_cast<long long>(first) + static_cast<long long>(inLength);
    int end = endLL > textLength ? textLength : static_cast<int>(endLL);
    const UniChar* p = inText.GetCPointer();
    bool sawDot = false;
    for (int i = first; i < end; ++i) {
        if (p[i] == '.') {
            sawDot = true;
            break;
        }
    }
    if (!sawDot)
        return false;
    int partStart = first;
    for (int i = first; i <= end; ++i) {
        if (i == end || p[i] == '.') {
            if (i > partStart)
                outParts.emplace_back(partStart + 1, i - partStart);
            if (i < end && inKeepDots)
                outParts.emplace_back(i + 1, 1);
            partStart = i + 1;
        }
    }
    return true;
}

bool VIntlMgr::FindWord(const VString& inText, const VString& inWord, const VCompareOptions& inOptions) const
{
    const unsigned int mode = fCollatorMode;
    const bool diacritical = inOptions.IsDiacritical();
    if ((inOptions.IsLike() && Contains(inWord, GetWildChar())) || (mode & 0x4) != 0) {
        VWordBoundaries words;
        if (!GetWordBoundariesWithOptions(inText, words, mode) || words.empty())
            return false;
        for (const auto& word : words) {
            if (EqualString_Like(inText.GetCPointer() + word.first - 1, word.second, inWord.GetCPointer(),
                                 inWord.GetLength(), diacritical))
                return true;
        }
        return false;
    }
    if ((mode & 0x1) == 0 || inWord.IsEmpty())
        return false;
    const UniChar* p = inText.GetCPointer();
    const int length = inText.GetLength();
    int from = 0;
    while (from < length) {
        int matched = 0;
        int pos = FindString(p + from, length - from, inWord.GetCPointer(), inWord.GetLength(), diacritical, &matched);
        if (pos <= 0)
            return false;
        int start = from + pos - 1;
        int end = start + matched;
        bool before = start == 0 || _IsItaDeadChar(p[start - 1]);
        bool after = end >= length || _IsItaDeadChar(p[end]);
        if (before && after)
            return true;
        from = start + 1;
    }
    return false;
}

void VIntlMgr::FindStrings(const VString& inText, const VString& inPattern, EFindStringMode inMode,
                           bool inWithDiacritics, VWordBoundaries& outMatches, bool inAll) const
{
    outMatches.clear();
    if (inPattern.IsNull() || inPattern.IsEmpty())
        return;
    const UniChar* p = inText.GetCPointer();
    const int length = inText.GetLength();
    VWordBoundaries words;
    bool haveWords = false;
    int from = 0;
    while (from < length) {
        int matched = 0;
        int pos = FindString(p + from, length - from, inPattern.GetCPointer(), inPattern.GetLength(), inWithDiacritics,
                             &matched);
        if (pos <= 0)
            break;
        const int s = from + pos;  // 1-based
        const int e = s + matched;
        bool keep = true;
        if (inMode != eFindStringContains) {
            if (!haveWords) {
                GetWordBoundariesWithOptions(inText, words, fCollatorMode);
                haveWords = true;
            }
            auto inside = [&](int x) {
                for (const auto& word : words) {
                    if (word.first < x && x < word.first + word.second)
                        return true;
                }
                return false;
            };
            if (inMode == eFindStringWholeWord)
                keep = !inside(s) && !inside(e);
            else if (inMode == eFindStringWordStart)
                keep = !inside(s);
            else if (inMode == eFindStringWordEnd)
                keep = !inside(e);
        }
        if (keep) {
            outMatches.emplace_back(s, matched);
            if (!inAll)
                break;
        }
        from = s - 1 + (matched > 0 ? matched : 1);
    }
}

// ===========================================================================
// Text direction

bool VIntlMgr::TextLogicalToVisual(VString& ioText, int inDirection) const
{
    (void)inDirection;
    return ioText.IsEmpty() || (ioText.GetLength() == 1 && ioText.GetCPointer()[0] == 13);
}

bool VIntlMgr::GetBidiRuns(const UniChar* inText, unsigned long inLength, std::vector<VBidiRun>& outRuns,
                           std::vector<int>& outVisualOrder, int inBaseDirection, bool inDropFinalCR) const
{
    outRuns.clear();
    outVisualOrder.clear();
    long long length = static_cast<long long>(inLength);
    if (inDropFinalCR && inText != nullptr && inLength > 0 && inText[inLength - 1] == 13)
        --length;
    if (length > 0x7FFFFFFF)
        length = 0x7FFFFFFF;
    outRuns.emplace_back(0, static_cast<int>(length), 0, inBaseDirection & 1);
    outVisualOrder.push_back(0);
    return (inBaseDirection & 1) != 0;
}

}  // namespace qelt
