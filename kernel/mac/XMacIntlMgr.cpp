#include "kernel/mac/XMacIntlMgr.h"

#include <memory>

#include "kernel/VIntlMgr.h"
#include "kernel/VString.h"
#include "platform/PlatLocale.h"
#include "platform/PlatTime.h"
#include "values/VTime.h"

namespace qelt {

namespace {

void SetFromU16(VString& outText, const std::u16string& inText)
{
    outText.FromUniString(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int>(inText.size()));
}

std::u16string ToU16(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

// Milliseconds since 1970 UTC of a calendar date and clock time in GMT
// (milliseconds of the time are dropped).
double AbsoluteMilliseconds(long long inYear, int inMonth, int inDay, int inHour, int inMinute, int inSecond)
{
    long long days = plat::DaysFromCivil(inYear, inMonth, inDay);
    long long seconds = days * 86400LL + inHour * 3600LL + inMinute * 60LL + inSecond;
    return static_cast<double>(seconds) * 1000.0;
}

}  // namespace

XMacIntlMgr::XMacIntlMgr(unsigned int inDialect) : fDialect(inDialect) {}

XMacIntlMgr::XMacIntlMgr(const XMacIntlMgr& inOther) : fDialect(inOther.fDialect) {}

XMacIntlMgr::~XMacIntlMgr()
{
    if (fLocale != nullptr)
        fLocale->Release();
}

plat::PlatLocale* XMacIntlMgr::CreateCFLocaleRef(unsigned int inDialect)
{
    VString code;
    if (!VIntlMgr::GetBCP47LanguageCode(inDialect, code))
        return nullptr;
    std::string tag;
    for (int i = 0; i < code.GetLength(); ++i)
        tag.push_back(static_cast<char>(code.GetCPointer()[i] & 0x7F));
    return plat::PlatLocale::Create(tag);
}

plat::PlatLocale* XMacIntlMgr::GetCFLocaleRef() const
{
    std::lock_guard<std::mutex> guard(fLock);
    if (!fLocaleTried) {
        fLocaleTried = true;
        if (fDialect != VIntlMgr::ResolveDialectCode(0)) {
            fLocale = CreateCFLocaleRef(fDialect);
        } else {
            // The user's own locale, so that the user's regional settings
            // apply, when it speaks the dialect's language.
            plat::PlatLocale* current = plat::PlatLocale::CreateCurrent();
            const char* language = VIntlMgr::GetISO6391LanguageCode(fDialect);
            if (current != nullptr && language != nullptr) {
                std::string own = current->GetLanguageCode();
                bool same = own.size() == std::char_traits<char>::length(language);
                for (size_t i = 0; same && i < own.size(); ++i)
                    same = (own[i] | 0x20) == (language[i] | 0x20);
                if (same) {
                    fLocale = current;
                    current = nullptr;
                }
            }
            if (current != nullptr)
                current->Release();
            if (fLocale == nullptr)
                fLocale = CreateCFLocaleRef(fDialect);
        }
    }
    return fLocale;
}

plat::PlatLocale* XMacIntlMgr::RetainCFLocaleRef() const
{
    plat::PlatLocale* locale = GetCFLocaleRef();
    if (locale != nullptr)
        locale->Retain();
    return locale;
}

bool XMacIntlMgr::ToUpperLowerCase(const UniChar* inSource, int inLength, UniChar* outTarget, int& ioLength,
                                   bool inUpper)
{
    int capacity = ioLength;
    ioLength = 0;
    if (inSource == nullptr || inLength <= 0)
        return false;
    int length = 0;
    bool ok = plat::ChangeCase(reinterpret_cast<const char16_t*>(inSource), inLength,
                               reinterpret_cast<char16_t*>(outTarget), capacity, length, inUpper);
    ioLength = length;
    return ok && length > 0;
}

bool XMacIntlMgr::Normalize(const UniChar* inSource, int inLength, int inMode, std::u16string& outText)
{
    // Modes 1 to 4.
    static constexpr plat::NormalForm kForms[] = {plat::NormalForm::kNFKD, plat::NormalForm::kNFD,
                                                  plat::NormalForm::kNFKC, plat::NormalForm::kNFC};
    if (inMode < 1 || inMode > 4)
        return false;
    return plat::Normalize(reinterpret_cast<const char16_t*>(inSource), inLength, kForms[inMode - 1], outText);
}

void XMacIntlMgr::FormatVTime(const VTime& inTime, VString& outText, plat::PlatDateFormatter* inFormatter,
                              bool inUTC) const
{
    outText.Clear();
    if (inFormatter == nullptr)
        return;
    short year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    inTime.GetUTCTime(year, month, day, hour, minute, second, millisecond);
    inFormatter->SetGMT(inUTC);
    SetFromU16(outText, inFormatter->Format(AbsoluteMilliseconds(year, month, day, hour, minute, second)));
}

bool XMacIntlMgr::_FormatWithStyles(double inMilliseconds, EDateFormatterStyle inDateStyle,
                                    EDateFormatterStyle inTimeStyle, bool inGMT, VString& outText) const
{
    // A style out of range formats as none.
    int date = inDateStyle > eDateStyleNone && inDateStyle < kStyleCount ? inDateStyle : eDateStyleNone;
    int time = inTimeStyle > eDateStyleNone && inTimeStyle < kStyleCount ? inTimeStyle : eDateStyleNone;
    plat::PlatLocale* locale = GetCFLocaleRef();
    std::lock_guard<std::mutex> guard(fFormattersLock);
    std::unique_ptr<plat::PlatDateFormatter>& formatter = fStyleFormatters[date][time];
    if (!formatter)
        formatter.reset(plat::PlatDateFormatter::Create(locale, date, time));
    if (!formatter)
        return false;
    // Set on every use: the system's time zone is read afresh each time.
    formatter->SetGMT(inGMT);
    SetFromU16(outText, formatter->Format(inMilliseconds));
    return true;
}

void XMacIntlMgr::FormatVTime(const VTime& inTime, VString& outText, EDateFormatterStyle inDateStyle,
                              EDateFormatterStyle inTimeStyle, bool inUTC) const
{
    short year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    inTime.GetUTCTime(year, month, day, hour, minute, second, millisecond);
    // Without a formatter the output keeps its text.
    _FormatWithStyles(AbsoluteMilliseconds(year, month, day, hour, minute, second), inDateStyle, inTimeStyle, inUTC,
                      outText);
}

void XMacIntlMgr::FormatVTimeWithTemplate(const VTime& inTime, VString& outText, const VString& inTemplate,
                                          bool inUTC) const
{
    std::unique_ptr<plat::PlatDateFormatter> formatter(
        plat::PlatDateFormatter::Create(GetCFLocaleRef(), eDateStyleNone, eDateStyleNone));
    if (!formatter || !formatter->SetPatternFromSkeleton(ToU16(inTemplate)))
        return;
    FormatVTime(inTime, outText, formatter.get(), inUTC);
}

void XMacIntlMgr::FormatVDuration(const VDuration& inDuration, VString& outText, EDateFormatterStyle inDateStyle,
                                  EDateFormatterStyle inTimeStyle) const
{
    outText.Clear();
    int days = 0, hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
    inDuration.GetDuration(days, hours, minutes, seconds, milliseconds);
    // The duration's own clock time, shown in GMT.
    double ms = (static_cast<double>(days) * 86400.0 + hours * 3600.0 + minutes * 60.0 + seconds) * 1000.0;
    _FormatWithStyles(ms, inDateStyle, inTimeStyle, true, outText);
}

void XMacIntlMgr::FormatDate(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC) const
{
    switch (inFormat) {
        case eOS_SHORT_FORMAT:
            FormatVTime(inTime, outText, eDateStyleShort, eDateStyleNone, inUTC);
            break;
        case eOS_MEDIUM_FORMAT:
            FormatVTime(inTime, outText, eDateStyleMedium, eDateStyleNone, inUTC);
            break;
        case eOS_LONG_FORMAT:
            FormatVTime(inTime, outText, eDateStyleFull, eDateStyleNone, inUTC);
            break;
        default:
            break;  // the output keeps its text
    }
}

void XMacIntlMgr::FormatTime(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC) const
{
    switch (inFormat) {
        case eOS_SHORT_FORMAT:
            FormatVTime(inTime, outText, eDateStyleNone, eDateStyleShort, inUTC);
            break;
        case eOS_MEDIUM_FORMAT:
            FormatVTime(inTime, outText, eDateStyleNone, eDateStyleMedium, inUTC);
            break;
        case eOS_LONG_FORMAT:
            FormatVTime(inTime, outText, eDateStyleNone, eDateStyleLong, inUTC);
            break;
        default:
            FormatVTime(inTime, outText, eDateStyleNone, eDateStyleNone, inUTC);
            break;
    }
}

void XMacIntlMgr::FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inFormat) const
{
    switch (inFormat) {
        case eOS_SHORT_FORMAT:
            FormatVDuration(inDuration, outText, eDateStyleNone, eDateStyleShort);
            break;
        case eOS_MEDIUM_FORMAT:
            FormatVDuration(inDuration, outText, eDateStyleNone, eDateStyleMedium);
            break;
        case eOS_LONG_FORMAT:
            FormatVDuration(inDuration, outText, eDateStyleNone, eDateStyleLong);
            break;
        default:
            FormatVDuration(inDuration, outText, eDateStyleNone, eDateStyleNone);
            break;
    }
}

bool XMacIntlMgr::LoadCalendarSymbols() const
{
    plat::PlatLocale* locale = GetCFLocaleRef();
    std::lock_guard<std::mutex> guard(fLock);
    if (fSymbolsLoaded)
        return true;
    std::unique_ptr<plat::PlatDateFormatter> formatter(
        plat::PlatDateFormatter::Create(locale, eDateStyleNone, eDateStyleNone));
    if (!formatter)
        return false;
    if (fWeekDayNames.size() != 7)
        formatter->GetWeekdayNames(false, fWeekDayNames);
    if (fMonthNames.size() != 12)
        formatter->GetMonthNames(false, fMonthNames);
    if (fShortWeekDayNames.size() != 7)
        formatter->GetWeekdayNames(true, fShortWeekDayNames);
    if (fShortMonthNames.size() != 12)
        formatter->GetMonthNames(true, fShortMonthNames);
    fSymbolsLoaded = fWeekDayNames.size() == 7 && fMonthNames.size() == 12 && fShortWeekDayNames.size() == 7 &&
                     fShortMonthNames.size() == 12;
    return fSymbolsLoaded;
}

void XMacIntlMgr::GetMonthName(int inMonth, bool inShort, VString& outName) const
{
    if (inMonth < 1 || inMonth > 12 || !LoadCalendarSymbols())
        return;
    SetFromU16(outName, (inShort ? fShortMonthNames : fMonthNames)[static_cast<size_t>(inMonth - 1)]);
}

void XMacIntlMgr::GetWeekDayName(int inDay, bool inShort, VString& outName) const
{
    if (inDay < 0 || inDay > 6 || !LoadCalendarSymbols())
        return;
    SetFromU16(outName, (inShort ? fShortWeekDayNames : fWeekDayNames)[static_cast<size_t>(inDay)]);
}

}  // namespace qelt
