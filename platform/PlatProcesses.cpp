#include "platform/PlatProcesses.h"

#include "platform/PlatFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace qelt::plat {

namespace {

// Parses a directory name made only of decimal digits; 0 for anything else.
int PidFromName(const char* name)
{
    long value = 0;
    if (*name == '\0')
        return 0;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            return 0;
    }
    return static_cast<int>(value);
}

// Reads a small file of /proc whole (at most about cap bytes); false when
// it cannot, or holds nothing.
bool ReadSmallFile(const char* path, std::string& out, size_t cap)
{
    out = ReadWholeFile(path, cap);
    return !out.empty();
}

// The command name and state letter of a process from /proc/<pid>/stat.
bool ReadStat(int pid, std::string* outName, char& outState)
{
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/stat", pid);
    std::string text;
    return ReadSmallFile(path, text, 4096) && ParseProcessStat(text, outName, outState);
}

bool IsLiveState(char state) { return state != 'Z' && state != 'X' && state != 'x'; }

}  // namespace

bool ParseProcessStat(const std::string& text, std::string* outName, char& outState)
{
    // The name sits between the first '(' and the last ')', since it may
    // itself hold parentheses and spaces.
    size_t open = text.find('(');
    size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close + 2 >= text.size())
        return false;
    outState = text[close + 2];
    if (outName != nullptr)
        *outName = text.substr(open + 1, close - open - 1);
    return true;
}

bool FirstCommandLineArgument(const std::string& args, std::string& outFirst)
{
    std::string first = args.substr(0, args.find('\0'));
    if (first.empty())
        return false;
    outFirst = first;
    return true;
}

bool ListProcesses(std::vector<int>& ioPids)
{
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr)
        return false;
    std::vector<int> found;
    while (struct dirent* entry = ::readdir(dir)) {
        int pid = PidFromName(entry->d_name);
        if (pid <= 0)
            continue;
        char state = 0;
        // A process that vanished between the listing and the read is gone.
        if (!ReadStat(pid, nullptr, state) || !IsLiveState(state))
            continue;
        found.push_back(pid);
    }
    ::closedir(dir);
    ioPids.insert(ioPids.end(), found.begin(), found.end());
    return true;
}

bool ProcessName(int pid, std::string& outName)
{
    if (pid <= 0)
        return false;
    char state = 0;
    std::string name;
    if (!ReadStat(pid, &name, state) || !IsLiveState(state))
        return false;
    outName = name;
    return true;
}

bool ProcessExecutablePath(int pid, std::string& outPath)
{
    if (pid <= 0)
        return false;
    char state = 0;
    if (!ReadStat(pid, nullptr, state) || !IsLiveState(state))
        return false;
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/exe", pid);
    char target[PATH_MAX];
    ssize_t n = ::readlink(path, target, sizeof(target) - 1);
    if (n > 0) {
        outPath.assign(target, static_cast<size_t>(n));
        return true;
    }
    // The link is not readable for processes of other users: the first
    // argument is the next best thing.
    std::snprintf(path, sizeof(path), "/proc/%d/cmdline", pid);
    std::string args;
    return ReadSmallFile(path, args, 65536) && FirstCommandLineArgument(args, outPath);
}

bool KillProcess(int pid)
{
    // 0 and negative ids name process groups: never signal those.
    if (pid <= 0)
        return false;
    return ::kill(pid, SIGKILL) == 0;
}

int CurrentProcessID() { return static_cast<int>(::getpid()); }

bool ProcessExists(int pid)
{
    // 0 and negative ids name process groups, not one process.
    if (pid <= 0)
        return false;
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

ChildWait WaitForChild(int pid, bool block)
{
    if (pid <= 0)
        return ChildWait::NoChild;
    siginfo_t info;
    std::memset(&info, 0, sizeof(info));
    int options = WEXITED | (block ? 0 : WNOHANG);
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid), &info, options);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return info.si_pid == pid ? ChildWait::Ended : ChildWait::Running;
    return errno == ECHILD ? ChildWait::NoChild : ChildWait::Failed;
}

bool DetachStandardStreams()
{
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return false;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fd != null)
            ::dup2(null, fd);
    }
    if (null > STDERR_FILENO)
        ::close(null);
    else
        ::fcntl(null, F_SETFD, 0);  // it is a standard stream now: children inherit it
    return true;
}

}  // namespace qelt::plat
