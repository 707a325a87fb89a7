// The platform half of an international text manager: the locale of the
// manager's dialect, date, time and duration formatting with the platform's
// date formatter, the calendar names and case mapping.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace qelt {

class VString;
class VTime;
class VDuration;

namespace plat {
class PlatLocale;
class PlatDateFormatter;
}  // namespace plat

// The format argument of the formatting operations.
enum EOSFormats : int {
    eOS_SHORT_FORMAT = 0,
    eOS_MEDIUM_FORMAT = 1,
    eOS_LONG_FORMAT = 2  // for dates: the full form
};

// Styles of the platform's date formatter.
enum EDateFormatterStyle : int {
    eDateStyleNone = 0,
    eDateStyleShort = 1,
    eDateStyleMedium = 2,
    eDateStyleLong = 3,
    eDateStyleFull = 4
};

class XMacIntlMgr {
public:
    explicit XMacIntlMgr(unsigned int inDialect);
    // A copy takes only the dialect: locale and names are made again on use.
    XMacIntlMgr(const XMacIntlMgr& inOther);
    XMacIntlMgr& operator=(const XMacIntlMgr&) = delete;
    virtual ~XMacIntlMgr();

    unsigned int GetDialectCode() const { return fDialect; }

    // A new locale (count 1) for the dialect's BCP 47 code, or null.
    static plat::PlatLocale* CreateCFLocaleRef(unsigned int inDialect);
    // The manager's locale, made once on first call (null when it cannot be made).
    plat::PlatLocale* GetCFLocaleRef() const;
    // The same with one more reference for the caller.
    plat::PlatLocale* RetainCFLocaleRef() const;

    // Upper- or lower-cases without a locale; ioLength holds the target's
    // capacity on entry and the whole result's length on return; at most the
    // capacity is written. False when a non-empty text maps to nothing.
    static bool ToUpperLowerCase(const UniChar* inSource, int inLength, UniChar* outTarget, int& ioLength,
                                 bool inUpper);

    // Puts the units in a Unicode normal form: mode 1 NFKD, 2 NFD, 3 NFKC,
    // 4 NFC. True with the normalised text in outText; false when the text
    // is in that form already, or for any other mode.
    static bool Normalize(const UniChar* inSource, int inLength, int inMode, std::u16string& outText);

    void FormatVTime(const VTime& inTime, VString& outText, plat::PlatDateFormatter* inFormatter, bool inUTC) const;
    void FormatVTime(const VTime& inTime, VString& outText, EDateFormatterStyle inDateStyle,
                     EDateFormatterStyle inTimeStyle, bool inUTC) const;
    void FormatVTimeWithTemplate(const VTime& inTime, VString& outText, const VString& inTemplate, bool inUTC) const;
    void FormatVDuration(const VDuration& inDuration, VString& outText, EDateFormatterStyle inDateStyle,
                         EDateFormatterStyle inTimeStyle) const;

    void FormatDate(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC) const;
    void FormatTime(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC) const;
    void FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inFormat) const;

    // Month 1-12 and day 0-6 (0 Sunday); the output keeps its text when the
    // names cannot be had.
    void GetMonthName(int inMonth, bool inShort, VString& outName) const;
    void GetWeekDayName(int inDay, bool inShort, VString& outName) const;

    // Loads the four name arrays once; true when they are present.
    bool LoadCalendarSymbols() const;

private:
    // Formats an instant (milliseconds since 1970 UTC) with the manager's
    // formatter of the two styles, made on first use and kept; false, with
    // the output untouched, when no formatter can be made.
    bool _FormatWithStyles(double inMilliseconds, EDateFormatterStyle inDateStyle, EDateFormatterStyle inTimeStyle,
                           bool inGMT, VString& outText) const;

    unsigned int fDialect;
    mutable std::mutex fLock;  // guards the lazy locale and names
    mutable plat::PlatLocale* fLocale = nullptr;
    mutable bool fLocaleTried = false;
    mutable bool fSymbolsLoaded = false;
    mutable std::vector<std::u16string> fWeekDayNames;
    mutable std::vector<std::u16string> fMonthNames;
    mutable std::vector<std::u16string> fShortWeekDayNames;
    mutable std::vector<std::u16string> fShortMonthNames;
    // The formatters of each pair of styles (none to full), made once: a
    // formatter costs far more to make than to use. A formatter is not safe
    // for use by two threads at once, so each use holds the lock.
    static constexpr int kStyleCount = eDateStyleFull + 1;
    mutable std::mutex fFormattersLock;
    mutable std::unique_ptr<plat::PlatDateFormatter> fStyleFormatters[kStyleCount][kStyleCount];
};

}  // namespace qelt
