#include "kernel/mac/XMacSystem.h"

#include <algorithm>
#include <climits>

#include "kernel/VString.h"
#include "platform/PlatNotification.h"
#include "platform/PlatProcesses.h"
#include "platform/PlatTime.h"
#include "runtime/VCriticalSection.h"
#include "platform/PlatUTF8.h"

namespace qelt {

namespace {

void ToCivil(const short* date, plat::CivilTime& civil)
{
    civil.year = date[0];
    civil.month = date[1];
    civil.day = date[2];
    civil.hour = date[3];
    civil.minute = date[4];
    civil.second = date[5];
    civil.millisecond = date[6];
}

// Writes the fields back; the millisecond is written only when asked.
void FromCivil(const plat::CivilTime& civil, short* date, bool withMillisecond)
{
    date[0] = static_cast<short>(civil.year);
    date[1] = static_cast<short>(civil.month);
    date[2] = static_cast<short>(civil.day);
    date[3] = static_cast<short>(civil.hour);
    date[4] = static_cast<short>(civil.minute);
    date[5] = static_cast<short>(civil.second);
    if (withMillisecond)
        date[6] = static_cast<short>(civil.millisecond);
}

// A time of day without a date (and a few year-0 dates) is never converted.
bool KeepsUnconverted(const short* date) { return date[0] == 0 && (date[1] == 0 || date[3] == 0); }

// A converted year that a short cannot hold leaves the date as it was.
bool FitsShortYear(const plat::CivilTime& civil) { return civil.year >= SHRT_MIN && civil.year <= SHRT_MAX; }

}  // namespace

// ---------------------------------------------------------------------------
// Text

std::string XMacSystem::ToUTF8(const VString& text)
{
    if (text.GetCPointer() == nullptr || text.GetLength() <= 0)
        return std::string();
    return plat::UTF16ToUTF8(text.GetCPointer(), static_cast<size_t>(text.GetLength()), plat::UTF8Mode::kReplace);
}

void XMacSystem::FromUTF8(const std::string& bytes, VString& outText)
{
    outText.FromBlock(bytes.data(), bytes.size(), VTC_UTF_8);
}

// ---------------------------------------------------------------------------
// Dates and the GMT offset

void XMacSystem::GetSystemUTCTime(short* outDate)
{
    plat::CivilTime now;
    plat::CurrentUTCTime(now);
    FromCivil(now, outDate, true);
}

void XMacSystem::GetSystemLocalTime(short* outDate)
{
    plat::CivilTime now;
    plat::CurrentLocalTime(now);
    FromCivil(now, outDate, true);
}

void XMacSystem::LocalToUTCTime(short* ioDate)
{
    if (ioDate == nullptr || KeepsUnconverted(ioDate))
        return;
    plat::CivilTime civil;
    ToCivil(ioDate, civil);
    if (plat::LocalToUTC(civil) && FitsShortYear(civil))
        FromCivil(civil, ioDate, false);
}

void XMacSystem::UTCToLocalTime(short* ioDate)
{
    if (ioDate == nullptr || KeepsUnconverted(ioDate))
        return;
    plat::CivilTime civil;
    ToCivil(ioDate, civil);
    // The offset is the one in force at this very instant, so the repeated
    // hour of a daylight-saving change maps to the right local hour.
    plat::UTCToLocal(civil);
    if (FitsShortYear(civil))
        FromCivil(civil, ioDate, false);
}

void XMacSystem::UpdateGMTOffset(int* outStandard, int* outWithDayLight, long long* outNextChange)
{
    int64_t now = plat::RealtimeMilliseconds() / 1000;
    long withDayLight = plat::LocalOffsetAt(now);
    long standard = plat::StandardOffsetAt(now);
    if (outWithDayLight != nullptr)
        *outWithDayLight = static_cast<int>(withDayLight);
    if (outStandard != nullptr)
        *outStandard = static_cast<int>(standard);
    if (outNextChange != nullptr)
        *outNextChange = plat::NextOffsetChange(now);
}

bool XMacSystem::IsUnderRosettaTranslation() { return false; }

// ---------------------------------------------------------------------------
// Processes

void XMacSystem::GetProcessList(std::vector<int>& ioPids) { plat::ListProcesses(ioPids); }

void XMacSystem::GetProcessName(int pid, VString& ioName)
{
    std::string name;
    if (plat::ProcessName(pid, name))
        FromUTF8(name, ioName);
}

void XMacSystem::GetProcessPath(int pid, VString& ioPath)
{
    std::string path;
    if (plat::ProcessExecutablePath(pid, path))
        FromUTF8(path, ioPath);
}

bool XMacSystem::KillProcess(int pid) { return plat::KillProcess(pid); }

bool XMacSystem::WaitForProcess(int pid, int timeout, int* outReason)
{
    int reason = 4;
    switch (plat::WaitForChild(pid, timeout < 0)) {
        case plat::ChildWait::Ended:
            return true;
        case plat::ChildWait::Running:
            reason = 2;
            break;
        case plat::ChildWait::NoChild:
            reason = 1;
            break;
        case plat::ChildWait::Failed:
            reason = 4;
            break;
    }
    if (outReason != nullptr && reason >= 1 && reason <= 3)
        *outReason = reason;
    return false;
}

// ---------------------------------------------------------------------------
// Notifications

VCriticalSection& XMacSystem::_PendingMutex()
{
    static VCriticalSection sPendingUserNotificationsMutex;
    return sPendingUserNotificationsMutex;
}

std::vector<int>& XMacSystem::_Pending()
{
    static std::vector<int> sPendingUserNotifications;
    return sPendingUserNotifications;
}

void XMacSystem::_ForgetEndedDialogs()
{
    std::vector<int> ended;
    {
        StLocker locker(_PendingMutex());
        for (int pid : _Pending()) {
            if (plat::NotificationDialogEnded(pid))
                ended.push_back(pid);
        }
    }
    for (int pid : ended)
        _UserNotificationCallBack(pid);
}

void XMacSystem::_UserNotificationCallBack(int dialogPid)
{
    StLocker locker(_PendingMutex());
    std::vector<int>& pending = _Pending();
    auto it = std::find(pending.begin(), pending.end(), dialogPid);
    if (it != pending.end())
        pending.erase(it);
}

bool XMacSystem::DisplayNotification(const VString& title, const VString& message, unsigned int flags,
                                     int* outResponse)
{
    plat::NotificationRequest request;
    request.title = title.IsNull() ? std::string() : ToUTF8(title);
    request.message = message.IsNull() ? std::string() : ToUTF8(message);
    // An empty title makes the message the header.
    if (!request.title.empty()) {
        request.header = request.title;
        request.text = request.message;
    } else {
        request.header = request.message;
    }
    request.caution = (flags & 0x200) != 0;

    // The buttons of the layout: default first, then alternate and other.
    const bool affirmativeDefault = (flags & 0x10) != 0;
    using Button = plat::NotificationButton;
    const Button ok{"OK", 1}, cancel{"Cancel", 2}, yes{"Yes", 3}, no{"No", 4};
    switch (flags & 0x0F) {
        case 1:
            request.buttons = affirmativeDefault ? std::vector<Button>{ok, cancel} : std::vector<Button>{cancel, ok};
            break;
        case 2:
            request.buttons = affirmativeDefault ? std::vector<Button>{yes, no} : std::vector<Button>{no, yes};
            break;
        case 4:
            if (affirmativeDefault && (flags & 0x20) == 0)
                request.buttons = {yes, no, cancel};
            else if ((flags & 0x20) != 0 && !affirmativeDefault)
                request.buttons = {no, yes, cancel};
            else
                request.buttons = {cancel, no, yes};
            break;
        case 5:
            request.buttons = {Button{"Retry", 6}, Button{"Ignore", 7}, Button{"Abort", 5}};
            break;
        default:
            request.buttons = {ok};  // the system's single default button
            break;
    }

    _ForgetEndedDialogs();
    if (outResponse != nullptr)
        *outResponse = 0;
    int answer = 0;
    int dialogPid = 0;
    bool ok2 = plat::ShowNotification(request, outResponse != nullptr, answer, dialogPid);
    if (!ok2)
        return false;
    if (outResponse != nullptr) {
        *outResponse = answer;
    } else if (dialogPid > 0) {
        StLocker locker(_PendingMutex());
        _Pending().push_back(dialogPid);
    }
    return true;
}

void XMacSystem::CancelAllPendingUserNotifications()
{
    std::vector<int> copy;
    {
        StLocker locker(_PendingMutex());
        copy.swap(_Pending());
    }
    for (int pid : copy)
        plat::CloseNotificationDialog(pid);
}

}  // namespace qelt
