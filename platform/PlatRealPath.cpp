#include "platform/PlatRealPath.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qelt::plat {

namespace {

// The longest path read back from a descriptor.
constexpr size_t kMaxResolvedPath = 1u << 20;

}  // namespace

int RealPath(const char* inPath, bool inFollowLastLink, std::string& outPath)
{
    outPath.clear();
    if (inPath == nullptr || inPath[0] == 0)
        return ENOENT;
    const int flags = O_PATH | O_CLOEXEC | (inFollowLastLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(inPath, flags);
    if (fd < 0)
        return errno;
    char link[32];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    std::vector<char> buffer(512);
    int result = 0;
    for (;;) {
        const ssize_t n = ::readlink(link, buffer.data(), buffer.size());
        if (n < 0) {
            result = errno;
            break;
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            outPath.assign(buffer.data(), static_cast<size_t>(n));
            break;
        }
        if (buffer.size() >= kMaxResolvedPath) {
            result = ENAMETOOLONG;
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    ::close(fd);
    if (result != 0) {
        outPath.clear();
        return result;
    }
    const size_t length = std::strlen(inPath);
    if (inPath[length - 1] == '/' && (outPath.empty() || outPath.back() != '/'))
        outPath.push_back('/');
    return 0;
}

std::string CurrentFolder()
{
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof(buffer)) == nullptr)
        return std::string();
    return buffer;
}

bool FullPathFromWorkingFolder(const std::string& inPath, std::string& outPath)
{
    if (!inPath.empty() && inPath[0] == '/') {
        outPath = inPath;
        return true;
    }
    outPath = CurrentFolder();
    if (outPath.empty())
        return false;
    if (outPath.back() != '/')
        outPath.push_back('/');
    outPath += inPath;
    return true;
}

}  // namespace qelt::plat
