#include "platform/PlatTime.h"

#include <sys/random.h>
#include <sys/utsname.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace qelt::plat {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// The years the C library's broken-down time can hold without overflow.
bool FitsTm(int64_t year) { return year > static_cast<int64_t>(INT_MIN) + 1900 + 1 && year < INT_MAX - 1; }

}  // namespace

int64_t DaysFromCivil(int64_t y, int month, int day)
{
    // A month outside 1-12 carries into the year.
    int64_t m = month - 1;
    y += FloorDiv(m, 12);
    m = m - FloorDiv(m, 12) * 12 + 1;
    // Shift the year to begin in March so that the leap day ends it.
    y -= (m <= 2) ? 1 : 0;
    const int64_t era = FloorDiv(y, 400);
    const int64_t yoe = y - era * 400;                           // [0, 399]
    const int64_t mp = m > 2 ? m - 3 : m + 9;                     // March = 0
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = y + (month <= 2 ? 1 : 0);
}

int64_t RealtimeMilliseconds()
{
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t UnixSecondsFromUTC(const CivilTime& utc)
{
    return DaysFromCivil(utc.year, utc.month, utc.day) * kSecondsPerDay + static_cast<int64_t>(utc.hour) * 3600 +
           static_cast<int64_t>(utc.minute) * 60 + utc.second;
}

void UTCFromUnixSeconds(int64_t seconds, CivilTime& utc)
{
    int64_t days = FloorDiv(seconds, kSecondsPerDay);
    int64_t rest = seconds - days * kSecondsPerDay;
    CivilFromDays(days, utc.year, utc.month, utc.day);
    utc.hour = static_cast<int>(rest / 3600);
    utc.minute = static_cast<int>((rest % 3600) / 60);
    utc.second = static_cast<int>(rest % 60);
    utc.millisecond = 0;
}

void CurrentUTCTime(CivilTime& out)
{
    int64_t ms = RealtimeMilliseconds();
    int64_t seconds = FloorDiv(ms, 1000);
    UTCFromUnixSeconds(seconds, out);
    out.millisecond = static_cast<int>(ms - seconds * 1000);
}

void CurrentLocalTime(CivilTime& out)
{
    CurrentUTCTime(out);
    UTCToLocal(out);
}

long LocalOffsetAt(int64_t unixSeconds, bool* outIsDST)
{
    time_t t = static_cast<time_t>(unixSeconds);
    struct tm parts;
    if (::localtime_r(&t, &parts) == nullptr) {
        if (outIsDST != nullptr)
            *outIsDST = false;
        return 0;
    }
    if (outIsDST != nullptr)
        *outIsDST = parts.tm_isdst > 0;
    return parts.tm_gmtoff;
}

long StandardOffsetAt(int64_t unixSeconds)
{
    bool dst = false;
    long offset = LocalOffsetAt(unixSeconds, &dst);
    if (!dst)
        return offset;
    // Look at the same year around this instant, a fortnight apart, for a
    // moment without daylight saving: its offset is the zone's standard one.
    for (int step = 1; step <= 26; ++step) {
        for (int sign = -1; sign <= 1; sign += 2) {
            bool otherDST = true;
            long other = LocalOffsetAt(unixSeconds + sign * step * 14 * kSecondsPerDay, &otherDST);
            if (!otherDST)
                return other;
        }
    }
    // Daylight saving all year round: one hour less is the best guess.
    return offset - 3600;
}

int64_t NextOffsetChange(int64_t fromSeconds)
{
    const long start = LocalOffsetAt(fromSeconds);
    int64_t low = fromSeconds;
    int64_t high = -1;
    // Daily steps find the day of the change; halving finds the second.
    for (int i = 1; i <= 400; ++i) {
        int64_t probe = fromSeconds + i * kSecondsPerDay;
        if (LocalOffsetAt(probe) != start) {
            high = probe;
            break;
        }
        low = probe;
    }
    if (high < 0)
        return INT64_MAX;
    while (high - low > 1) {
        int64_t mid = low + (high - low) / 2;
        if (LocalOffsetAt(mid) != start)
            high = mid;
        else
            low = mid;
    }
    return high;
}

void UTCToLocal(CivilTime& io)
{
    int ms = io.millisecond;
    int64_t seconds = UnixSecondsFromUTC(io);
    long offset = LocalOffsetAt(seconds);
    UTCFromUnixSeconds(seconds + offset, io);
    io.millisecond = ms;
}

bool LocalToUnixSeconds(const CivilTime& local, int64_t& outSeconds)
{
    if (!FitsTm(local.year))
        return false;
    struct tm parts;
    std::memset(&parts, 0, sizeof(parts));
    parts.tm_year = static_cast<int>(local.year - 1900);
    parts.tm_mon = local.month - 1;
    parts.tm_mday = local.day;
    parts.tm_hour = local.hour;
    parts.tm_min = local.minute;
    parts.tm_sec = local.second;
    parts.tm_isdst = -1;
    errno = 0;
    time_t t = ::mktime(&parts);
    if (t == static_cast<time_t>(-1) && errno != 0)
        return false;
    outSeconds = static_cast<int64_t>(t);
    return true;
}

bool LocalToUTC(CivilTime& io)
{
    int64_t seconds = 0;
    if (!LocalToUnixSeconds(io, seconds))
        return false;
    int ms = io.millisecond;
    UTCFromUnixSeconds(seconds, io);
    io.millisecond = ms;
    return true;
}

void ReloadTimeZone() { ::tzset(); }

void SleepMilliseconds(int64_t ms)
{
    if (ms <= 0)
        return;
    struct timespec request;
    request.tv_sec = static_cast<time_t>(ms / 1000);
    request.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    struct timespec remaining;
    while (::nanosleep(&request, &remaining) != 0) {
        if (errno != EINTR)
            break;
        request = remaining;
    }
}

int64_t UptimeSeconds()
{
    struct timespec ts;
    if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
        return -1;
    return static_cast<int64_t>(ts.tv_sec);
}

uint32_t SecureRandom31()
{
    uint32_t value = 0;
    ssize_t got = ::getrandom(&value, sizeof(value), 0);
    if (got != static_cast<ssize_t>(sizeof(value)))
        value = static_cast<uint32_t>(::random()) ^ static_cast<uint32_t>(RealtimeMilliseconds());
    return value & 0x7FFFFFFFu;
}

long LegacyRandom() { return ::random(); }

bool KernelVersion(int& major, int& minor, int& patch)
{
    major = minor = patch = 0;
    struct utsname names;
    if (::uname(&names) != 0)
        return false;
    int n = std::sscanf(names.release, "%d.%d.%d", &major, &minor, &patch);
    return n >= 1;
}

std::string OSVersionText()
{
    std::string name;
    if (FILE* file = std::fopen("/etc/os-release", "r")) {
        char line[512];
        while (std::fgets(line, sizeof(line), file) != nullptr) {
            if (std::strncmp(line, "PRETTY_NAME=", 12) != 0)
                continue;
            std::string value(line + 12);
            while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
                value.pop_back();
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
                value = value.substr(1, value.size() - 2);
            name = value;
            break;
        }
        std::fclose(file);
    }
    if (name.empty())
        name = "Linux";
    struct utsname names;
    if (::uname(&names) == 0) {
        name += " (kernel ";
        name += names.release;
        name += ")";
    }
    return name;
}

std::string OSBuildText()
{
    struct utsname names;
    if (::uname(&names) != 0)
        return std::string();
    return std::string(names.release);
}

}  // namespace qelt::plat
