// The platform side of the system facade for clocks and time zones, the
// process list and system notifications. It calls the platform layer
// (qelt::plat) and keeps the list of notifications left on screen.
#pragma once

#include <string>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace qelt {

class VString;
class VCriticalSection;

class XMacSystem {
public:
    // Seven-field dates: year, month, day, hour, minute, second, millisecond.
    static void GetSystemUTCTime(short* outDate);
    static void GetSystemLocalTime(short* outDate);
    // In place; a date whose year is 0 is left unchanged when its month or
    // its hour is 0; the millisecond is left as it was.
    static void LocalToUTCTime(short* ioDate);
    static void UTCToLocalTime(short* ioDate);

    // The standard offset and the offset in force now, in seconds east of
    // GMT; *outNextChange (when given) gets the instant, in seconds since
    // 1970, of the next change of the offset (INT64_MAX when none is known).
    static void UpdateGMTOffset(int* outStandard, int* outWithDayLight, long long* outNextChange = nullptr);

    // Never under a translation layer here.
    static bool IsUnderRosettaTranslation();

    static void GetProcessList(std::vector<int>& ioPids);
    static void GetProcessName(int pid, VString& ioName);
    static void GetProcessPath(int pid, VString& ioPath);
    static bool KillProcess(int pid);
    // reason: 1 no such child, 2 still running (stored only for 1 to 3).
    static bool WaitForProcess(int pid, int timeout, int* outReason);

    static bool DisplayNotification(const VString& title, const VString& message, unsigned int flags,
                                    int* outResponse);
    static void CancelAllPendingUserNotifications();
    // Forgets a pending notification whose dialog has been answered.
    static void _UserNotificationCallBack(int dialogPid);

    // UTF-8 form of a string (unpaired surrogates become U+FFFD).
    static std::string ToUTF8(const VString& text);
    // A string from UTF-8 bytes.
    static void FromUTF8(const std::string& bytes, VString& outText);

private:
    static VCriticalSection& _PendingMutex();
    static std::vector<int>& _Pending();
    // Forgets the pending dialogs that have been answered meanwhile.
    static void _ForgetEndedDialogs();
};

}  // namespace qelt
