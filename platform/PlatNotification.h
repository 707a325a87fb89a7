// System notifications of the platform layer. A dialog is shown only in a
// graphical session (DISPLAY or WAYLAND_DISPLAY) with a dialog program
// (zenity or kdialog) on the PATH. Otherwise a notification never blocks:
// its title and message go to standard error when that is open and the
// answer is "dismissed". When QELT_NOTIFICATION_LOG names a file, every
// notification is appended to it as one line (title, message and button
// titles separated by tabs); when QELT_NOTIFICATION_ANSWER is set, no dialog
// is shown and its number is the answer.
#pragma once

#include <string>
#include <vector>

namespace qelt::plat {

// The answer of a cancelled (dismissed) notification.
constexpr int kNotificationDismissed = 8;

struct NotificationButton {
    std::string title;  // empty for the system's own default button
    int answer = 0;     // the answer given when this button is chosen
};

struct NotificationRequest {
    std::string title;    // as given by the caller (for the log line)
    std::string message;  // as given by the caller (for the log line)
    std::string header;   // what the dialog shows as its header
    std::string text;     // what the dialog shows below the header
    // Default button first, then the alternate and the other button.
    std::vector<NotificationButton> buttons;
    bool caution = false;
};

// Shows a notification. With wait, blocks until the answer and stores it in
// outAnswer; without wait, returns at once, and outDialogPid is the id of the
// dialog process left on screen (0 when there is none). False when the
// dialog program could not be started.
bool ShowNotification(const NotificationRequest& request, bool wait, int& outAnswer, int& outDialogPid);

// True when the dialog process has ended (it is then reaped).
bool NotificationDialogEnded(int dialogPid);

// Closes a dialog left on screen and reaps it.
void CloseNotificationDialog(int dialogPid);

}  // namespace qelt::plat
