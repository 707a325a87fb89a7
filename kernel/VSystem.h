// System services of the kernel: a facade of static functions.
#pragma once

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace qelt {

class VString;

class VSystem {
public:
    // ---- Virtual memory: whole pages of the process's address space.
    // Every size handed to these functions is rounded up to whole pages.

    // The size of one page of virtual memory.
    static size_t GetVMPageSize();

    // size rounded up to a whole number of pages.
    static size_t RoundUpVMPageSize(size_t size);

    // Maps zero-filled pages for size bytes, anywhere when address is null,
    // else exactly at address (never over an existing mapping); null on failure.
    static void* VirtualAlloc(size_t size, const void* address);

    // The same, tried a second time when the first attempt fails. *outFirstTry
    // (when not null) tells whether the first attempt succeeded.
    static void* VirtualAllocPhysicalMemory(size_t size, const void* address, bool* outFirstTry);

    // Unmaps the pages of a block from VirtualAlloc (the flag is not used).
    static void VirtualFree(void* address, size_t size, bool physical);

    // Looks up the region at or after address: inside a region, size is the
    // region's size, base its start and state 0; before the next region, size
    // is the distance to it, base the address and state 1; on failure all 0.
    // Returns size != 0. Each pointer may be null.
    static bool VirtualQuery(const void* address, size_t* outSize, unsigned* outState, const void** outBase);

    // The process's virtual size in bytes, 0 on failure.
    static size_t VirtualMemoryUsedSize();

    // =====================================================================
    // Clocks, time zones and versions; processes and system notifications.
    // =====================================================================

    // The versions IsSystemVersionOrAbove knows.
    enum SystemVersion : int {
        MAC_OSX_10_9 = 11,
        MAC_OSX_10_10 = 12,
        MAC_OSX_10_11 = 13,
        MAC_OSX_10_12 = 14,
        MAC_OSX_10_13 = 15,
        MAC_OSX_10_14 = 16,
        MAC_OSX_10_15 = 17,
        MAC_OS_11 = 18,
        MAC_OS_12 = 19,
        MAC_OS_13 = 20,
        MAC_OS_14 = 21,
        MAC_OS_15 = 22
    };

    // The answer of a notification.
    enum ENotificationResponse : int {
        eNotificationNone = 0,
        eNotificationOK = 1,
        eNotificationCancel = 2,
        eNotificationYes = 3,
        eNotificationNo = 4,
        eNotificationAbort = 5,
        eNotificationRetry = 6,
        eNotificationIgnore = 7,
        eNotificationDismissed = 8
    };

    // Why WaitForProcess answered false.
    enum EWFP_Reason : int { eWFP_NoSuchChild = 1, eWFP_StillRunning = 2, eWFP_Other = 3, eWFP_Failed = 4 };

    // Milliseconds of the monotonic clock (compare as 32-bit differences).
    static uint32_t GetCurrentTime();
    // Ticks of 1/60 second of the monotonic clock.
    static uint32_t GetCurrentTicks();
    // Distance in ticks between now and inTicks, whichever is larger.
    static uint32_t GetCurrentDeltaTicks(uint32_t inTicks);
    // The profiling counter (nanoseconds here), stored and returned.
    static long long GetProfilingCounter(long long& outCounter);
    static long long GetProfilingFrequency();
    static long long GetMicrosecFromProfilingCounter();
    // Whole seconds since boot; negative when unknown.
    static long long GetUptime();
    // Sleeps inMilliseconds; 0 or less returns at once.
    static void Delay(int inMilliseconds);

    // Fixed user-interface timings (ticks of 1/60 second, or pixels).
    static uint32_t GetDoubleClicTicks();
    static uint32_t GetCaretTicks() { return 60; }
    static uint32_t GetTipsDelayTicks() { return 60; }
    static uint32_t GetTipsTimeoutTicks() { return 600; }
    static uint32_t GetSelectDelayTicks() { return 15; }
    static int GetDoubleClicOffsetWidth() { return 2; }
    static int GetDoubleClicOffsetHeight() { return 2; }
    static int GetDragOffset() { return 2; }

    // Seven-field dates (year, month, day, hour, minute, second, millisecond).
    static void GetSystemUTCTime(short* outDate);
    static void GetSystemLocalTime(short* outDate);
    // In place; the millisecond is left as it was, a time of day without a
    // date is left unchanged.
    static void LocalToUTCTime(short* ioDate);
    static void UTCToLocalTime(short* ioDate);

    // Offset of the local zone from GMT in seconds (east positive): the one
    // in force now, or the zone's standard one; cached until the next change.
    static int GetGMTOffset(bool inWithDayLight);
    static void UpdateGMTOffset();
    // The time zone setting may have changed: read it again.
    static void SystemDateTimeChanged();

    static bool IsSystemVersionOrAbove(SystemVersion inVersion);
    static int MAC_GetSystemVersionDecimal();
    static void GetOSVersionString(VString& outText);
    static void GetFullOSName(VString& outText);
    static void GetSystemBuildNumber(VString& outText);

    // false: 31 random bits from the kernel's source; true: random().
    static int Random(bool inUseRandom = false);
    static bool Init();
    static void DeInit();
    static void Beep();
    static void SetCenturyPivotYear(short inYear);
    static short GetCenturyPivotYear();

    // Processes (zombies are never listed).
    static void GetProcessList(std::vector<int>& ioPids);
    static void GetProcessName(int inPid, VString& ioName);
    static void GetProcessPath(int inPid, VString& ioPath);
    // False for a pid of 0 or less; else sends SIGKILL.
    static bool KillProcess(int inPid);
    // A negative timeout waits for the child to end; any other only looks.
    static bool WaitForProcess(int inPid, int inTimeout, EWFP_Reason* outReason);

    // Shows a notification; with outResponse waits for the answer.
    static bool DisplayNotification(const VString& inTitle, const VString& inMessage, unsigned int inFlags,
                                    ENotificationResponse* outResponse);
    static void CancelAllPendingUserNotifications();

    // =====================================================================
    // Machine information; executable search.
    // =====================================================================

    // Physical memory of the machine, its free part and this process's
    // resident size, in bytes; 0 when unknown.
    static uint64_t GetPhysicalMemSize();
    static uint64_t GetPhysicalFreeMemSize();
    static uint64_t GetApplicationPhysicalMemSize();

    // Processor counts (kept after the first call, except the enabled
    // cores); 1 when unknown.
    static int GetNumberOfLogicalProcessors();
    static int GetNumberOfPhysicalProcessors();
    static int GetEnabledCoresNumber();
    // The processor's brand text ("-" when unknown); the first call decides
    // whether the kept text is compact (trimmed, single spaces).
    static void GetProcessorTypeString(VString& ioText, bool inCompact);
    // The processors' load since the previous call; false on the first call.
    static bool GetProcessorsPercentageUse(double& outLoad);
    // This process's processor load; -1.0 when it cannot be read.
    static double GetApplicationProcessorsPercentageUse();

    // Names and models; each leaves the text unchanged when unknown.
    static void GetHostName(VString& ioName);
    static void GetLoginUserName(VString& ioName);
    static void GetCurrentUserName(VString& ioName);
    static void GetComputerManufacturer(VString& ioText);
    // The demangled symbol, or the name unchanged.
    static void DemangleSymbol(const char* inName, VString& outText);
    static bool AllowedToGetSystemInfo();

    // Received and sent bytes per second since the previous call; false (and
    // an empty vector) on the first call or when no rate can be computed.
    static bool GetInOutNetworkStats(std::vector<double>& outRates);
    // Appends one object per network adapter that has a usable address.
    static void GetNetworkAdaptersInformations(class VJSONArray& ioArray);
    // Appends one object per mounted file system with at least one block.
    static void GetDiskPartitionsInfos(class VJSONArray& ioArray);

    // Finds an executable by name as a shell does, then an application
    // bundle "Name.app" in the application folders. True with the full POSIX
    // path (a bundle's ends with '/'); false with the path emptied.
    static bool SearchExecutablePath(const VString& inName, VString& outPosixPath);
    // The same as a file path (a bundle's is a folder path); false with the
    // path cleared.
    static bool SearchExecutablePath(const VString& inName, class VFilePath& outPath);
};

using ENotificationResponse = VSystem::ENotificationResponse;
using EWFP_Reason = VSystem::EWFP_Reason;
using SystemVersion = VSystem::SystemVersion;

}  // namespace qelt
