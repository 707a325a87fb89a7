#include "platform/PlatNotification.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/PlatBundle.h"

extern char** environ;

namespace qelt::plat {

namespace {

// A field of the log line: tabs and line ends would break the line up.
std::string LogField(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return out;
}

void AppendToLog(const NotificationRequest& request)
{
    const char* path = std::getenv("QELT_NOTIFICATION_LOG");
    if (path == nullptr || *path == '\0')
        return;
    std::string line = LogField(request.title) + "\t" + LogField(request.message);
    for (const NotificationButton& button : request.buttons) {
        line += "\t";
        line += LogField(button.title);
    }
    line += "\n";
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
}

void WriteToStandardError(const NotificationRequest& request)
{
    if (::fcntl(STDERR_FILENO, F_GETFD) == -1)
        return;
    std::string text = request.title;
    if (!request.message.empty()) {
        if (!text.empty())
            text += ": ";
        text += request.message;
    }
    text += "\n";
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

// The answer forced by the environment: a whole number from 0 to 8.
bool ForcedAnswer(int& outAnswer)
{
    const char* value = std::getenv("QELT_NOTIFICATION_ANSWER");
    if (value == nullptr || *value == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(value, &end, 10);
    if (errno != 0 || end == value || *end != '\0' || n < 0 || n > 8)
        outAnswer = kNotificationDismissed;
    else
        outAnswer = static_cast<int>(n);
    return true;
}

bool HasGraphicalSession()
{
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The full path of a program found on the PATH; empty when not found.
std::string FindProgram(const char* name)
{
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return std::string();
    std::string all(path);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos)
            end = all.size();
        std::string folder = all.substr(start, end - start);
        if (!folder.empty()) {
            std::string candidate = folder + (folder.back() == '/' ? "" : "/") + name;
            struct stat info;
            if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

// Starts the program; its standard output goes to outReadFd when asked
// (else to /dev/null), its standard input comes from /dev/null.
bool Spawn(const std::vector<std::string>& args, int* outReadFd, pid_t& outPid)
{
    int pipeFds[2] = {-1, -1};
    if (outReadFd != nullptr && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outReadFd != nullptr)
        ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    else
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int err = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (outReadFd != nullptr) {
        ::close(pipeFds[1]);
        if (err != 0)
            ::close(pipeFds[0]);
        else
            *outReadFd = pipeFds[0];
    }
    if (err != 0)
        return false;
    outPid = pid;
    return true;
}

// Reads what the dialog printed (a few hundred bytes at most are kept).
std::string ReadAll(int fd)
{
    std::string out;
    char buffer[256];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (out.size() < 1024)
            out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// The exit status of a child, -1 when it did not exit normally.
int WaitExitStatus(pid_t pid)
{
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The dialog window's title: the caller's title, or, for a notification
// without one, the application's name, as the desktop shows it for any
// program (never the message itself, which may span several lines).
std::string WindowTitle(const NotificationRequest& request)
{
    return request.title.empty() ? GetApplicationName() : request.title;
}

std::vector<std::string> ZenityArguments(const std::string& program, const NotificationRequest& request)
{
    std::vector<std::string> args{program};
    const auto& buttons = request.buttons;
    if (buttons.size() < 2) {
        args.push_back(request.caution ? "--warning" : "--info");
    } else {
        args.push_back("--question");
        args.push_back("--ok-label=" + buttons[0].title);
        args.push_back("--cancel-label=" + buttons[1].title);
        if (buttons.size() >= 3)
            args.push_back("--extra-button=" + buttons[2].title);
    }
    args.push_back("--no-markup");
    args.push_back("--title=" + WindowTitle(request));
    args.push_back("--text=" + (request.text.empty() ? request.header : request.header + "\n\n" + request.text));
    return args;
}

std::vector<std::string> KdialogArguments(const std::string& program, const NotificationRequest& request)
{
    std::vector<std::string> args{program, "--title", WindowTitle(request)};
    const auto& buttons = request.buttons;
    std::string text = request.text.empty() ? request.header : request.header + "\n\n" + request.text;
    if (buttons.size() < 2) {
        args.push_back(request.caution ? "--sorry" : "--msgbox");
        args.push_back(text);
        return args;
    }
    args.push_back("--yes-label");
    args.push_back(buttons[0].title);
    args.push_back("--no-label");
    args.push_back(buttons[1].title);
    if (buttons.size() >= 3) {
        args.push_back("--cancel-label");
        args.push_back(buttons[2].title);
        args.push_back(request.caution ? "--warningyesnocancel" : "--yesnocancel");
    } else {
        args.push_back(request.caution ? "--warningyesno" : "--yesno");
    }
    args.push_back(text);
    return args;
}

int AnswerOfButton(const NotificationRequest& request, size_t index)
{
    if (request.buttons.empty())
        return index == 0 ? 1 : kNotificationDismissed;
    if (index < request.buttons.size())
        return request.buttons[index].answer;
    return kNotificationDismissed;
}

}  // namespace

bool ShowNotification(const NotificationRequest& request, bool wait, int& outAnswer, int& outDialogPid)
{
    outDialogPid = 0;
    outAnswer = kNotificationDismissed;
    AppendToLog(request);

    int forced = 0;
    if (ForcedAnswer(forced)) {
        WriteToStandardError(request);
        outAnswer = forced;
        return true;
    }

    std::string zenity, kdialog;
    if (HasGraphicalSession()) {
        zenity = FindProgram("zenity");
        if (zenity.empty())
            kdialog = FindProgram("kdialog");
    }
    if (zenity.empty() && kdialog.empty()) {
        WriteToStandardError(request);
        return true;
    }

    const bool useZenity = !zenity.empty();
    std::vector<std::string> args =
        useZenity ? ZenityArguments(zenity, request) : KdialogArguments(kdialog, request);
    pid_t pid = 0;
    int readFd = -1;
    if (!Spawn(args, (wait && useZenity) ? &readFd : nullptr, pid))
        return false;
    if (!wait) {
        outDialogPid = static_cast<int>(pid);
        return true;
    }

    std::string printed = readFd >= 0 ? ReadAll(readFd) : std::string();
    int status = WaitExitStatus(pid);
    if (status == 0) {
        outAnswer = AnswerOfButton(request, 0);
    } else if (useZenity) {
        // The extra button prints its title; the alternate button and a
        // closed window both end with 1, and are taken as the alternate.
        if (status == 1 && request.buttons.size() >= 3 && printed == request.buttons[2].title)
            outAnswer = AnswerOfButton(request, 2);
        else if (status == 1 && request.buttons.size() >= 2)
            outAnswer = AnswerOfButton(request, 1);
    } else {
        if (status == 1 && request.buttons.size() >= 2)
            outAnswer = AnswerOfButton(request, 1);
        else if (status == 2 && request.buttons.size() >= 3)
            outAnswer = AnswerOfButton(request, 2);
    }
    return true;
}

bool NotificationDialogEnded(int dialogPid)
{
    if (dialogPid <= 0)
        return true;
    int status = 0;
    pid_t r = ::waitpid(static_cast<pid_t>(dialogPid), &status, WNOHANG);
    return r == dialogPid || (r < 0 && errno == ECHILD);
}

void CloseNotificationDialog(int dialogPid)
{
    if (dialogPid <= 0)
        return;
    if (NotificationDialogEnded(dialogPid))
        return;
    ::kill(static_cast<pid_t>(dialogPid), SIGTERM);
    WaitExitStatus(static_cast<pid_t>(dialogPid));
}

}  // namespace qelt::plat
