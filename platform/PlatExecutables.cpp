#include "platform/PlatExecutables.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/PlatRealPath.h"

namespace qelt::plat {

bool IsExecutableFile(const std::string& path)
{
    struct stat info;
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    // The kernel's own test, with the effective ids and every group the
    // process belongs to.
    return ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

bool SearchExecutable(const std::string& name, const char* searchPath, std::string& outPath)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return false;
    if (name.find('/') != std::string::npos) {
        if (name.size() > kMaxExecutablePath)
            return false;
        char resolved[PATH_MAX];
        if (::realpath(name.c_str(), resolved) == nullptr)
            return false;
        std::string candidate = resolved;
        if (candidate.size() > kMaxExecutablePath || !IsExecutableFile(candidate))
            return false;
        outPath = candidate;
        return true;
    }
    if (searchPath == nullptr || *searchPath == '\0')
        return false;

    const char* element = searchPath;
    for (;;) {
        const char* end = std::strchr(element, ':');
        size_t length = end != nullptr ? static_cast<size_t>(end - element) : std::strlen(element);
        std::string folder(element, length);
        if (folder.empty())
            folder = CurrentFolder();  // an empty element is the current folder, never the root
        if (!folder.empty()) {
            std::string candidate = folder;
            if (candidate.back() != '/')
                candidate.push_back('/');
            candidate.append(name);
            // A candidate that does not fit is skipped, never cut short.
            if (candidate.size() <= kMaxExecutablePath && IsExecutableFile(candidate)) {
                outPath = candidate;
                return true;
            }
        }
        if (end == nullptr)
            break;
        element = end + 1;
    }
    return false;
}

std::vector<std::string> ApplicationFolders()
{
    std::vector<std::string> folders;
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        std::string folder = home;
        if (folder.back() != '/')
            folder.push_back('/');
        folders.push_back(folder + "Applications");
    }
    folders.emplace_back("/Applications");
    folders.emplace_back("/usr/local/Applications");
    return folders;
}

bool FindApplicationBundle(const std::string& appName, std::string& outPath)
{
    if (appName.empty() || appName.find('/') != std::string::npos || appName == "." || appName == ".." ||
        appName.find('\0') != std::string::npos)
        return false;
    for (const std::string& folder : ApplicationFolders()) {
        std::string candidate = folder + "/" + appName;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            outPath = candidate;
            return true;
        }
    }
    return false;
}

int MakeSymbolicLink(const char* target, const char* linkPath)
{
    if (target == nullptr || linkPath == nullptr)
        return EINVAL;
    if (::symlink(target, linkPath) == 0)
        return 0;
    return errno != 0 ? errno : EIO;
}

}  // namespace qelt::plat
