// Clocks, time zones and versions; processes and system notifications.
#include "kernel/VSystem.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "kernel/VString.h"
#include "kernel/mac/XMacSystem.h"
#include "platform/PlatClock.h"
#include "platform/PlatTime.h"

namespace qelt {

namespace {

// The GMT-offset cache: the standard offset, the offset in force, the flag
// telling they are filled and the instant (seconds since 1970) of the next
// change of the offset, after which they are filled again.
std::atomic<int> sGMTOffset{0};
std::atomic<int> sGMTOffsetWithDayLight{0};
std::atomic<bool> sGMTOffsetValid{false};
std::atomic<long long> sGMTOffsetNextChange{LLONG_MAX};
std::atomic<short> sCenturyPivotYear{0};

void RefillGMTOffset()
{
    int standard = 0;
    int withDayLight = 0;
    long long nextChange = LLONG_MAX;
    XMacSystem::UpdateGMTOffset(&standard, &withDayLight, &nextChange);
    sGMTOffset.exchange(standard);
    sGMTOffsetWithDayLight.exchange(withDayLight);
    sGMTOffsetNextChange.exchange(nextChange);
}

}  // namespace

uint32_t VSystem::GetCurrentTime() { return static_cast<uint32_t>(plat::MonotonicMilliseconds()); }

uint32_t VSystem::GetCurrentTicks()
{
    return static_cast<uint32_t>(plat::MonotonicNanoseconds() * 60 / 1000000000ull);
}

uint32_t VSystem::GetCurrentDeltaTicks(uint32_t inTicks)
{
    uint32_t now = GetCurrentTicks();
    return now >= inTicks ? now - inTicks : inTicks - now;
}

long long VSystem::GetProfilingCounter(long long& outCounter)
{
    outCounter = static_cast<long long>(plat::MonotonicNanoseconds());
    return outCounter;
}

long long VSystem::GetProfilingFrequency() { return 1000000000LL; }

long long VSystem::GetMicrosecFromProfilingCounter()
{
    return static_cast<long long>(plat::MonotonicMicroseconds());
}

long long VSystem::GetUptime() { return plat::UptimeSeconds(); }

void VSystem::Delay(int inMilliseconds)
{
    // A negative delay returns at once (it never asks for an invalid sleep).
    plat::SleepMilliseconds(inMilliseconds);
}

uint32_t VSystem::GetDoubleClicTicks()
{
    // No user preference for it here: the default half second.
    return 30;
}

void VSystem::GetSystemUTCTime(short* outDate) { XMacSystem::GetSystemUTCTime(outDate); }

void VSystem::GetSystemLocalTime(short* outDate) { XMacSystem::GetSystemLocalTime(outDate); }

void VSystem::LocalToUTCTime(short* ioDate) { XMacSystem::LocalToUTCTime(ioDate); }

void VSystem::UTCToLocalTime(short* ioDate) { XMacSystem::UTCToLocalTime(ioDate); }

int VSystem::GetGMTOffset(bool inWithDayLight)
{
    // The cache is invalid once the next change of the offset has come.
    long long now = static_cast<long long>(plat::RealtimeMilliseconds() / 1000);
    if (!sGMTOffsetValid.load() || now >= sGMTOffsetNextChange.load()) {
        RefillGMTOffset();
        sGMTOffsetValid.store(true);
    }
    return inWithDayLight ? sGMTOffsetWithDayLight.load() : sGMTOffset.load();
}

void VSystem::UpdateGMTOffset() { RefillGMTOffset(); }

void VSystem::SystemDateTimeChanged()
{
    plat::ReloadTimeZone();
    RefillGMTOffset();
}

bool VSystem::IsSystemVersionOrAbove(SystemVersion)
{
    // Every version check is satisfied on this system.
    return true;
}

int VSystem::MAC_GetSystemVersionDecimal()
{
    int major = 0, minor = 0, patch = 0;
    if (!plat::KernelVersion(major, minor, patch))
        return 0;
    return major * 10000 + minor * 100 + patch;
}

void VSystem::GetOSVersionString(VString& outText)
{
    // Computed once, under the guard of a local static.
    static const std::string sVersionText = plat::OSVersionText();
    XMacSystem::FromUTF8(sVersionText, outText);
}

void VSystem::GetFullOSName(VString& outText)
{
    int major = 0, minor = 0, patch = 0;
    plat::KernelVersion(major, minor, patch);
    char text[128];
    std::snprintf(text, sizeof(text), "Linux %d.%d.%d", major, minor, patch);
    std::string name(text);
    name += " (";
    name += plat::OSBuildText();
    name += ")";
    XMacSystem::FromUTF8(name, outText);
}

void VSystem::GetSystemBuildNumber(VString& outText)
{
    std::string build = plat::OSBuildText();
    if (build.empty())
        return;  // left as it was
    if (build.size() > 15)
        build.resize(15);
    XMacSystem::FromUTF8(build, outText);
}

int VSystem::Random(bool inUseRandom)
{
    if (inUseRandom)
        return static_cast<int>(plat::LegacyRandom());
    return static_cast<int>(plat::SecureRandom31());
}

bool VSystem::Init()
{
    (void)Random(false);
    return true;
}

void VSystem::DeInit() {}

void VSystem::Beep()
{
    // The terminal's bell, when standard error is a terminal.
    if (::isatty(STDERR_FILENO) == 1) {
        ssize_t ignored = ::write(STDERR_FILENO, "\a", 1);
        (void)ignored;
    }
}

void VSystem::SetCenturyPivotYear(short inYear) { sCenturyPivotYear.store(inYear); }

short VSystem::GetCenturyPivotYear() { return sCenturyPivotYear.load(); }

void VSystem::GetProcessList(std::vector<int>& ioPids) { XMacSystem::GetProcessList(ioPids); }

void VSystem::GetProcessName(int inPid, VString& ioName) { XMacSystem::GetProcessName(inPid, ioName); }

void VSystem::GetProcessPath(int inPid, VString& ioPath) { XMacSystem::GetProcessPath(inPid, ioPath); }

bool VSystem::KillProcess(int inPid)
{
    // 0 and negative ids would signal whole process groups: refused.
    if (inPid <= 0)
        return false;
    return XMacSystem::KillProcess(inPid);
}

bool VSystem::WaitForProcess(int inPid, int inTimeout, EWFP_Reason* outReason)
{
    int reason = 0;
    bool ended = XMacSystem::WaitForProcess(inPid, inTimeout, &reason);
    if (!ended && outReason != nullptr && reason >= 1 && reason <= 3)
        *outReason = static_cast<EWFP_Reason>(reason);
    return ended;
}

bool VSystem::DisplayNotification(const VString& inTitle, const VString& inMessage, unsigned int inFlags,
                                  ENotificationResponse* outResponse)
{
    int answer = 0;
    bool ok = XMacSystem::DisplayNotification(inTitle, inMessage, inFlags, outResponse != nullptr ? &answer : nullptr);
    if (outResponse != nullptr)
        *outResponse = static_cast<ENotificationResponse>(answer);
    return ok;
}

void VSystem::CancelAllPendingUserNotifications() { XMacSystem::CancelAllPendingUserNotifications(); }

}  // namespace qelt
