#include "platform/PlatTrash.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/PlatFaults.h"
#include "platform/PlatFile.h"

namespace qelt::plat {

namespace {

// The longest name kept before a counter is added, so that the record's
// name (name, counter and ".trashinfo") stays within a file name's limit.
constexpr size_t kMaxBaseName = 200;
constexpr int kMaxAttempts = 10000;


int MakeTrashFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return 0;
    return errno;
}

// A trash folder is usable when it is a real folder (not a link) owned by us.
bool IsOwnFolder(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The mount point of the file system holding `folder` (a real path).
std::string TopFolder(const std::string& folder, dev_t device)
{
    std::string at = folder;
    while (at != "/") {
        std::string up = ParentPath(at);
        struct stat st;
        if (::lstat(up.c_str(), &st) != 0 || st.st_dev != device)
            break;
        at = up;
    }
    return at;
}

std::string DeletionDate()
{
    time_t now = ::time(nullptr);
    struct tm local;
    char text[32] = "";
    if (::localtime_r(&now, &local) != nullptr)
        ::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// Cuts a name to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutName(const std::string& name, size_t limit)
{
    if (name.size() <= limit)
        return name;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}


}  // namespace

std::string EncodeTrashPath(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '.' || c == '_' || c == '~' || c == '/';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

int MoveToTrash(const char* path, std::string* outTrashed)
{
    if (path == nullptr || *path == '\0')
        return ENOENT;
    // The item's absolute path, its last element not followed.
    std::string item = path;
    while (item.size() > 1 && item.back() == '/')
        item.pop_back();
    size_t slash = item.rfind('/');
    std::string name = (slash == std::string::npos) ? item : item.substr(slash + 1);
    if (name.empty() || name == "." || name == ".." || item == "/")
        return EINVAL;
    char resolved[PATH_MAX];
    if (::realpath(ParentPath(item).c_str(), resolved) == nullptr)
        return errno;
    std::string folder = resolved;
    std::string absolute = (folder == "/") ? "/" + name : folder + "/" + name;
    struct stat itemStat;
    if (::lstat(absolute.c_str(), &itemStat) != 0)
        return errno;

    // The trash for the item's file system.
    std::string dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        dataHome = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        dataHome = std::string(home) + "/.local/share";
    std::string trash;
    std::string recordPath;
    struct stat homeStat;
    if (!dataHome.empty() && MakeFolderChain(dataHome, 0700) == 0 && ::stat(dataHome.c_str(), &homeStat) == 0 &&
        homeStat.st_dev == itemStat.st_dev) {
        trash = dataHome + "/Trash";
        if (MakeTrashFolder(trash) != 0 || !IsOwnFolder(trash))
            return ENOTSUP;
        recordPath = absolute;
    } else {
        std::string top = TopFolder(folder, itemStat.st_dev);
        std::string uid = std::to_string(::geteuid());
        std::string topPrefix = (top == "/") ? "" : top;
        std::string shared = topPrefix + "/.Trash";
        struct stat sst;
        if (::lstat(shared.c_str(), &sst) == 0 && S_ISDIR(sst.st_mode) && (sst.st_mode & S_ISVTX) != 0 &&
            MakeTrashFolder(shared + "/" + uid) == 0 && IsOwnFolder(shared + "/" + uid)) {
            trash = shared + "/" + uid;
        } else {
            trash = topPrefix + "/.Trash-" + uid;
            if (MakeTrashFolder(trash) != 0 || !IsOwnFolder(trash))
                return ENOTSUP;
        }
        recordPath = absolute.substr(topPrefix.size() + 1);
    }
    std::string files = trash + "/files";
    std::string info = trash + "/info";
    if (MakeTrashFolder(files) != 0 || MakeTrashFolder(info) != 0 || !IsOwnFolder(files) || !IsOwnFolder(info))
        return ENOTSUP;

    std::string record = "[Trash Info]\nPath=" + EncodeTrashPath(recordPath) + "\nDeletionDate=" + DeletionDate() + "\n";
    std::string base = CutName(name, kMaxBaseName);
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        std::string candidate = (attempt == 1) ? CutName(name, NAME_MAX - 10) : base + "." + std::to_string(attempt);
        std::string infoPath = info + "/" + candidate + ".trashinfo";
        if (int fault = FaultCheck("trash"))
            return fault;
        int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        int err = WriteAll(fd, record.data(), record.size());
        if (::close(fd) != 0 && err == 0)
            err = errno;
        if (err != 0) {
            ::unlink(infoPath.c_str());
            return err;
        }
        std::string target = files + "/" + candidate;
        err = FaultCheck("rename");
        if (err == 0 && ::renameat2(AT_FDCWD, absolute.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
            err = errno;
        if (err == 0) {
            if (outTrashed != nullptr)
                *outTrashed = target;
            return 0;
        }
        ::unlink(infoPath.c_str());
        if (err != EEXIST)
            return err;
    }
    return EEXIST;
}

}  // namespace qelt::plat
