// Wall clock, calendar arithmetic and the local time zone of the platform
// layer. The zone is the C library's (TZ, /etc/localtime): offsets come from
// localtime_r's tm_gmtoff at the instant asked about, so daylight saving is
// always that of the date in question, never today's.
#pragma once

#include <cstdint>
#include <string>

namespace qelt::plat {

// A broken-down calendar date and time of day.
struct CivilTime {
    int64_t year = 0;
    int month = 0;   // 1-12
    int day = 0;     // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Days since 1970-01-01 of a proleptic Gregorian date (any year, negative
// included). Month and day outside their ranges are not normalised.
int64_t DaysFromCivil(int64_t year, int month, int day);

// The proleptic Gregorian date of a day count since 1970-01-01.
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day);

// Milliseconds of the wall clock since 1970-01-01 00:00:00 UTC.
int64_t RealtimeMilliseconds();

// Seconds since 1970-01-01 00:00:00 UTC of a UTC date and time (the
// millisecond is ignored; fields out of range carry).
int64_t UnixSecondsFromUTC(const CivilTime& utc);

// Breaks a count of seconds since 1970 UTC down into UTC fields (millisecond 0).
void UTCFromUnixSeconds(int64_t seconds, CivilTime& utc);

// The current date and time in UTC and in the local zone.
void CurrentUTCTime(CivilTime& out);
void CurrentLocalTime(CivilTime& out);

// Offset east of UTC, in seconds, in force in the local zone at the given
// instant; *outIsDST (when given) tells whether daylight saving is in force.
long LocalOffsetAt(int64_t unixSeconds, bool* outIsDST = nullptr);

// The local zone's standard offset (daylight saving left out) around the
// given instant: the offset of the nearest moment of the same year without
// daylight saving, so a zone whose saving shift is not one hour is right too.
long StandardOffsetAt(int64_t unixSeconds);

// The first instant after fromSeconds (within a little more than a year) at
// which the local offset changes; INT64_MAX when it does not change.
int64_t NextOffsetChange(int64_t fromSeconds);

// Converts UTC fields to local fields in place (the millisecond is kept).
void UTCToLocal(CivilTime& io);

// Converts local fields to UTC fields in place (the millisecond is kept).
// Uses the C library's mktime with daylight saving decided by the library.
// False, with the fields unchanged, when the library cannot convert them.
bool LocalToUTC(CivilTime& io);

// mktime of local fields with daylight saving decided by the library:
// seconds since 1970 UTC; false when the library refuses the fields.
bool LocalToUnixSeconds(const CivilTime& local, int64_t& outSeconds);

// Makes the C library read the time-zone setting (TZ) again.
void ReloadTimeZone();

// Sleeps ms milliseconds, resuming after interruptions; a count of 0 or
// less returns at once.
void SleepMilliseconds(int64_t ms);

// Whole seconds since the machine booted; -1 when unknown.
int64_t UptimeSeconds();

// 31 random bits from the kernel's random source.
uint32_t SecureRandom31();

// The C library's random().
long LegacyRandom();

// The running kernel's version numbers; false when unknown.
bool KernelVersion(int& major, int& minor, int& patch);

// A readable name of the operating system and its version
// (the distribution's PRETTY_NAME and the kernel release).
std::string OSVersionText();

// The kernel's build text (its release string); empty when unknown.
std::string OSBuildText();

}  // namespace qelt::plat
