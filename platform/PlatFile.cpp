#include "platform/PlatFile.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <vector>

#include "platform/PlatExecutables.h"
#include "platform/PlatFaults.h"
#include "platform/PlatFileOps.h"

namespace qelt::plat {

namespace {

int64_t Nanoseconds(const struct statx_timestamp& t)
{
    return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct timespec ToTimespec(int64_t ns)
{
    struct timespec t;
    t.tv_sec = static_cast<time_t>(ns / 1000000000LL);
    t.tv_nsec = static_cast<long>(ns % 1000000000LL);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000L;
        t.tv_sec -= 1;
    }
    return t;
}


// Opens an entry to read or change its attribute flags.
int OpenForFlags(const char* path, bool follow)
{
    return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
}

// The process's file-creation mask, read from /proc (changing it to read it
// would race with other threads creating files); 022 when unknown.
mode_t CurrentUmask()
{
    FILE* status = std::fopen("/proc/self/status", "re");
    mode_t mask = 022;
    if (status == nullptr)
        return mask;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "Umask:", 6) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8)) & 0777;
            break;
        }
    }
    std::fclose(status);
    return mask;
}

}  // namespace

std::string ParentPath(const std::string& path)
{
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

int WriteAll(int fd, const void* data, size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        if (int fault = FaultCheck("write"))
            return fault;
        ssize_t n = ::write(fd, at, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        at += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int OpenFile(const char* path, int access, unsigned options, bool regularOnly, int& outFd)
{
    outFd = -1;
    if (options & kOpenResourceFork)
        return ENOTSUP;
    if (access < 0 || access > 2)
        return EINVAL;
    int flags = O_CLOEXEC;
    if (!(options & kOpenFollowLink))
        flags |= O_NOFOLLOW;
    if (regularOnly)
        flags |= O_NONBLOCK;
    if (access != 0) {
        flags |= O_RDWR;
        if (options & kOpenCreate)
            flags |= O_CREAT;
        if (int fault = FaultCheck("open"))
            return fault;
    }
    int fd = ::open(path, flags, (options & kOpenCreate) ? 0644 : 0);
    if (fd < 0)
        return errno;
    if (regularOnly) {
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return EINVAL;
        }
    }
    if (access != 0) {
        while (::flock(fd, (access == 1 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            if (errno == EINTR)
                continue;
            int err = (errno == EWOULDBLOCK) ? EACCES : errno;
            ::close(fd);
            return err;
        }
        if ((options & kOpenTruncate) && ::ftruncate(fd, 0) != 0) {
            int err = errno;
            ::close(fd);
            return err;
        }
    }
    if (options & kOpenReadAhead)
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (options & (kOpenNoCache | kOpenNoCache2))
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_NOREUSE);
    outFd = fd;
    return 0;
}

void CloseFile(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

namespace {

// Moves bytes at offsets in calls of at most kMaxTransfer bytes. A call that
// moves nothing ends the transfer: at the end of the file for a read (0),
// as a refusal for a write (EINVAL).
template <class Call>
int Transfer(size_t count, size_t& outDone, void (*between)(), bool isWrite, Call&& call)
{
    outDone = 0;
    while (outDone < count) {
        if (isWrite)
            if (int fault = FaultCheck("write"))
                return fault;
        size_t chunk = count - outDone < kMaxTransfer ? count - outDone : kMaxTransfer;
        ssize_t n = call(outDone, chunk);
        if (n < 0) {
            if (errno != EINTR)
                return errno;
        } else if (n == 0) {
            return isWrite ? EINVAL : 0;
        } else {
            outDone += static_cast<size_t>(n);
            if (outDone == count)
                return 0;
        }
        if (between != nullptr)
            between();
    }
    return 0;
}

}  // namespace

int ReadAt(int fd, void* buffer, size_t count, int64_t offset, size_t& outDone, void (*between)())
{
    char* at = static_cast<char*>(buffer);
    return Transfer(count, outDone, between, false, [&](size_t done, size_t chunk) {
        return ::pread(fd, at + done, chunk, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    });
}

int WriteAt(int fd, const void* buffer, size_t count, int64_t offset, size_t& outDone, void (*between)())
{
    const char* at = static_cast<const char*>(buffer);
    return Transfer(count, outDone, between, true, [&](size_t done, size_t chunk) {
        return ::pwrite(fd, at + done, chunk, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    });
}

int GetOpenFileSize(int fd, int64_t& outSize)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        outSize = 0;
        return errno;
    }
    outSize = st.st_size;
    return 0;
}

int SetOpenFileSize(int fd, int64_t size)
{
    if (size < 0)
        return EINVAL;
    if (int fault = FaultCheck("write"))
        return fault;
    while (::ftruncate(fd, static_cast<off_t>(size)) != 0)
        if (errno != EINTR)
            return errno;
    return 0;
}

int SyncFile(int fd)
{
    return ::fsync(fd) == 0 ? 0 : errno;
}

int GetEntryInfo(const char* path, bool follow, EntryInfo& out)
{
    out = EntryInfo();
    struct statx sx;
    unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (::statx(AT_FDCWD, path, follow ? 0 : AT_SYMLINK_NOFOLLOW, mask, &sx) != 0)
        return errno;
    switch (sx.stx_mode & S_IFMT) {
    case S_IFREG: out.kind = EntryKind::File; break;
    case S_IFDIR: out.kind = EntryKind::Folder; break;
    case S_IFLNK: out.kind = EntryKind::Link; break;
    default: out.kind = EntryKind::Other; break;
    }
    out.size = static_cast<int64_t>(sx.stx_size);
    out.mode = sx.stx_mode & 07777;
    out.uid = sx.stx_uid;
    out.gid = sx.stx_gid;
    out.device = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    out.inode = sx.stx_ino;
    out.modified = Nanoseconds(sx.stx_mtime);
    out.accessed = Nanoseconds(sx.stx_atime);
    out.hasBirth = (sx.stx_mask & STATX_BTIME) != 0;
    out.born = out.hasBirth ? Nanoseconds(sx.stx_btime) : 0;
    return 0;
}

EntryKind GetEntryKind(const char* path)
{
    struct stat st;
    if (::lstat(path, &st) != 0)
        return EntryKind::Missing;
    if (S_ISREG(st.st_mode))
        return EntryKind::File;
    if (S_ISDIR(st.st_mode))
        return EntryKind::Folder;
    if (S_ISLNK(st.st_mode))
        return EntryKind::Link;
    return EntryKind::Other;
}

int SetEntryTimes(const char* path, const int64_t* modified, const int64_t* accessed)
{
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = times[1].tv_sec = 0;
    if (accessed != nullptr)
        times[0] = ToTimespec(*accessed);
    if (modified != nullptr)
        times[1] = ToTimespec(*modified);
    if (int fault = FaultCheck("meta"))
        return fault;
    return ::utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int GetLocked(const char* path, bool follow, bool& outLocked)
{
    outLocked = false;
    struct stat st;
    if ((follow ? ::stat(path, &st) : ::lstat(path, &st)) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return 0;
    int fd = OpenForFlags(path, follow);
    if (fd < 0)
        return errno == EACCES ? 0 : errno;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0)
        outLocked = (flags & FS_IMMUTABLE_FL) != 0;
    ::close(fd);
    return 0;
}

int SetLocked(const char* path, bool follow, bool locked)
{
    struct stat st;
    if ((follow ? ::stat(path, &st) : ::lstat(path, &st)) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return locked ? ENOTSUP : 0;
    int fd = OpenForFlags(path, follow);
    if (fd < 0)
        return errno;
    int err = 0;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        err = (errno == ENOTTY || errno == ENOTSUP) ? (locked ? ENOTSUP : 0) : errno;
    } else {
        int wanted = locked ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        if (wanted != flags && ::ioctl(fd, FS_IOC_SETFLAGS, &wanted) != 0)
            err = errno;
    }
    ::close(fd);
    return err;
}

int SetPermissions(const char* path, uint32_t mode)
{
    struct stat st;
    if (::lstat(path, &st) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return ENOTSUP;
    if (int fault = FaultCheck("meta"))
        return fault;
    return ::fchmodat(AT_FDCWD, path, mode & 07777, 0) == 0 ? 0 : errno;
}

int GetEffectivePermission(const char* path, uint32_t& outPermission)
{
    outPermission = 0;
    struct stat st;
    if (::lstat(path, &st) != 0)
        return errno;
    uid_t me = ::geteuid();
    if (me == 0) {
        outPermission = 7;
        return 0;
    }
    bool locked = false;
    if (GetLocked(path, false, locked) == 0 && locked)
        return 0;
    if (st.st_uid == me) {
        outPermission = (st.st_mode >> 6) & 7;
        return 0;
    }
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> text(16384);
    int err = ::getpwuid_r(me, &pw, text.data(), text.size(), &found);
    if (found == nullptr)
        return err != 0 ? err : ENOENT;
    std::vector<gid_t> groups(64);
    for (;;) {
        int count = static_cast<int>(groups.size());
        if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) >= 0) {
            groups.resize(static_cast<size_t>(count));
            break;
        }
        // Too many groups for the room: count now says how many there are.
        if (count <= static_cast<int>(groups.size()) || count > 65536)
            return ENOMEM;
        groups.resize(static_cast<size_t>(count));
    }
    bool member = false;
    for (gid_t g : groups)
        member = member || g == st.st_gid;
    outPermission = member ? (st.st_mode >> 3) & 7 : st.st_mode & 7;
    return 0;
}

int UnlockPath(const char* path)
{
    struct stat st;
    if (::lstat(path, &st) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return 0;
    if (int err = SetLocked(path, false, false))
        return err;
    uid_t me = ::geteuid();
    if (me != 0 && me != st.st_uid)
        return 0;
    mode_t wanted = S_ISDIR(st.st_mode) ? 0700 : 0600;
    if ((st.st_mode & wanted) == wanted)
        return 0;
    // O_NOFOLLOW through a descriptor: the entry checked above is the one changed.
    int fd = OpenForFlags(path, false);
    if (fd < 0)
        return errno;
    int err = ::fchmod(fd, (st.st_mode & 07777) | wanted) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

int GetVolumeSpace(const char* path, int fd, bool withQuotas, int64_t& outFree, int64_t& outTotal)
{
    struct statvfs vs;
    int result;
    if (fd >= 0) {
        result = ::fstatvfs(fd, &vs);
    } else {
        result = ::statvfs(path, &vs);
        if (result != 0 && errno == ENOENT)
            result = ::statvfs(ParentPath(path).c_str(), &vs);
    }
    if (result != 0)
        return errno;
    outFree = static_cast<int64_t>(vs.f_frsize) * static_cast<int64_t>(withQuotas ? vs.f_bavail : vs.f_bfree);
    outTotal = static_cast<int64_t>(vs.f_frsize) * static_cast<int64_t>(vs.f_blocks);
    return 0;
}

int ReadSmallFile(const char* path, size_t maxSize, std::string& outText)
{
    outText.clear();
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno;
    struct stat st;
    int result = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
    char buffer[512];
    while (result == 0) {
        ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            result = errno;
        if (got <= 0)
            break;
        outText.append(buffer, static_cast<size_t>(got));
        if (outText.size() > maxSize)
            result = EFBIG;
    }
    ::close(fd);
    if (result != 0)
        outText.clear();
    return result;
}

std::string ReadWholeFile(const char* path, size_t inCap)
{
    std::string text;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    while (text.size() < inCap) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return text;
}

int ReadLinkText(const char* path, std::string& outText)
{
    outText.clear();
    for (size_t room = 256;; room *= 2) {
        std::vector<char> buffer(room);
        ssize_t n = ::readlink(path, buffer.data(), room);
        if (n < 0)
            return errno;
        if (static_cast<size_t>(n) < room) {
            outText.assign(buffer.data(), static_cast<size_t>(n));
            return 0;
        }
        if (room >= (size_t{1} << 20))
            return ENAMETOOLONG;
    }
}

int MakeLinkReplacing(const char* text, const char* linkPath)
{
    std::string temp = SiblingTempName(linkPath);
    if (int fault = FaultCheck("symlink"))
        return fault;
    if (::symlink(text, temp.c_str()) != 0)
        return errno;
    if (int fault = FaultCheck("rename")) {
        ::unlink(temp.c_str());
        return fault;
    }
    if (::rename(temp.c_str(), linkPath) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return err;
    }
    return 0;
}

int ResolveLink(const char* path, std::string& outTarget, bool& outIsFolder)
{
    outTarget.clear();
    outIsFolder = false;
    char* real = ::realpath(path, nullptr);
    if (real == nullptr)
        return errno;
    outTarget = real;
    std::free(real);
    struct stat st;
    outIsFolder = ::stat(outTarget.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return 0;
}

int ReplaceFileContent(const char* path, const void* data, size_t size, bool& outWriting)
{
    outWriting = false;
    // The file a final link names is the one replaced; the link stays.
    std::string target = path;
    struct stat st;
    if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(path, nullptr);
        if (real != nullptr) {
            target = real;
            std::free(real);
        }
    }
    mode_t mode = 0644;
    int lockFd = -1;
    if (int err = OpenFile(target.c_str(), 1, kOpenFollowLink, false, lockFd)) {
        if (err != ENOENT)
            return err;
    } else {
        struct stat old;
        if (::fstat(lockFd, &old) == 0)
            mode = old.st_mode & 07777;
    }
    std::string temp = SiblingTempName(target.c_str());
    int err = FaultCheck("open");
    int fd = err == 0 ? ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600) : -1;
    if (fd < 0) {
        if (err == 0)
            err = errno;
        CloseFile(lockFd);
        return err;
    }
    outWriting = true;
    err = WriteAll(fd, data, size);
    if (err == 0 && ::fchmod(fd, lockFd >= 0 ? mode : (0644 & ~CurrentUmask())) != 0)
        err = errno;
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0)
        err = FaultCheck("rename");
    if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err != 0)
        ::unlink(temp.c_str());
    CloseFile(lockFd);
    return err;
}

int CreateEmptyFile(const char* path, bool replace)
{
    if (int fault = FaultCheck("open"))
        return fault;
    if (!replace) {
        int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return errno;
        ::close(fd);
        return 0;
    }
    std::string temp = SiblingTempName(path);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    ::close(fd);
    int err = FaultCheck("rename");
    if (err == 0 && ::rename(temp.c_str(), path) != 0)
        err = errno;
    if (err != 0)
        ::unlink(temp.c_str());
    return err;
}

int MakeFolderChain(const std::string& path, unsigned mode)
{
    // Climbs to the first existing ancestor, then creates downwards.
    std::vector<std::string> missing;
    std::string at = path;
    while (at.size() > 1 && at.back() == '/')
        at.pop_back();
    for (;;) {
        struct stat st;
        if (::stat(at.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return ENOTDIR;
            break;
        }
        if (errno != ENOENT)
            return errno;
        missing.push_back(at);
        std::string up = ParentPath(at);
        if (up == at)
            break;
        at = up;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (int fault = FaultCheck("mkdir"))
            return fault;
        if (::mkdir(it->c_str(), mode) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

int DeleteFileEntry(const char* path)
{
    if (int fault = FaultCheck("unlink"))
        return fault;
    return ::unlink(path) == 0 ? 0 : errno;
}

int OpenWithDefaultApplication(const char* path)
{
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0'))
        return ENOTSUP;
    std::string opener;
    if (!SearchExecutable("xdg-open", std::getenv("PATH"), opener))
        return ENOENT;
    // Detached: the child starts the viewer in a new session and leaves at
    // once, so nothing is left for us to reap later.
    pid_t child = ::fork();
    if (child < 0)
        return errno;
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            char* const args[] = {const_cast<char*>(opener.c_str()), const_cast<char*>(path), nullptr};
            ::execv(opener.c_str(), args);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return 0;
}

int RevealFolder(const char* folderPath)
{
    const int result = OpenWithDefaultApplication(folderPath);
    return result == ENOENT ? ENOTSUP : result;
}

std::string TemporaryFolder()
{
    const char* env = std::getenv("TMPDIR");
    struct stat st;
    if (env != nullptr && env[0] == '/' && ::stat(env, &st) == 0 && S_ISDIR(st.st_mode)) {
        std::string out = env;
        while (out.size() > 1 && out.back() == '/')
            out.pop_back();
        return out;
    }
    return "/tmp";
}

}  // namespace qelt::plat
