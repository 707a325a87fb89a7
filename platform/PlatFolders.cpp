#include "platform/PlatFolders.h"

#include "platform/PlatBundle.h"
#include "platform/PlatFaults.h"
#include "platform/PlatFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

namespace qelt::plat {

namespace {

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// The last element of a path ("/a/b/" gives "b").
std::string LastElement(const std::string& path)
{
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    size_t start = path.rfind('/', end - 1);
    start = (start == std::string::npos) ? 0 : start + 1;
    return path.substr(start, end - start);
}

// The path without its final '/' (the root stays "/").
std::string WithoutFinalSlash(const char* path)
{
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

EntryTime TimeOf(const struct statx_timestamp& stamp, bool present)
{
    EntryTime t;
    t.seconds = stamp.tv_sec;
    t.nanoseconds = static_cast<int32_t>(stamp.tv_nsec);
    t.present = present;
    return t;
}

// Immutable flag of an open descriptor. A file system without flags counts
// as unlocked.
bool ReadLocked(int fd, int& ioFlags)
{
    ioFlags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &ioFlags) != 0)
        return false;
    return (ioFlags & FS_IMMUTABLE_FL) != 0;
}

// chmod through a descriptor, which may be an O_PATH one: the change lands
// on the inode the descriptor was opened on, never on what a link points to.
int ChmodDescriptor(int fd, mode_t mode)
{
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return chmod(proc.c_str(), mode) == 0 ? 0 : errno;
}

// Makes the entry `name` of folder dirFd removable and listable: clears its
// immutable flag and, for a folder the caller owns (or for root), adds the
// owner's missing permission bits. Links are never touched.
int UnlockEntry(int dirFd, const char* name)
{
    int pathFd = openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (pathFd < 0)
        return errno;
    struct stat st;
    int err = fstat(pathFd, &st) == 0 ? 0 : errno;
    if (err == 0 && !S_ISLNK(st.st_mode)) {
        if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) {
            std::string proc = "/proc/self/fd/" + std::to_string(pathFd);
            int fd = open(proc.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
            if (fd >= 0) {
                int flags = 0;
                if (ReadLocked(fd, flags)) {
                    flags &= ~FS_IMMUTABLE_FL;
                    if (ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
                        err = errno;
                }
                close(fd);
            }
        }
        uid_t euid = geteuid();
        if (err == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0700) != 0700 && (euid == 0 || st.st_uid == euid))
            err = ChmodDescriptor(pathFd, (st.st_mode & 07777) | 0700);
    }
    close(pathFd);
    return err;
}

// Removes the entry `name` of folder dirFd (not a folder); on failure makes
// it removable and tries once more.
int RemoveNonFolder(int dirFd, const char* name)
{
    if (int fault = FaultCheck("unlink"))
        return fault;
    if (unlinkat(dirFd, name, 0) == 0)
        return 0;
    int err = errno;
    if (err == ENOENT)
        return 0;
    if (UnlockEntry(dirFd, name) == 0 && unlinkat(dirFd, name, 0) == 0)
        return 0;
    return err;
}

// Removes everything inside the open folder rootFd, then nothing else. One
// descriptor is open at a time: going down closes the folder left, going up
// reopens the parent through ".." and checks it is the folder left.
int EmptyFolderTree(int rootFd)
{
    struct Level {
        std::string name;  // name in the parent
        dev_t device;
        ino_t inode;
    };
    std::vector<Level> stack;  // the folders below the root currently entered
    int current = rootFd;
    bool ownsCurrent = false;
    int err = 0;

    for (;;) {
        // Remove what this folder holds; stop at the first subfolder.
        int dupFd = dup(current);
        DIR* dir = dupFd >= 0 ? fdopendir(dupFd) : nullptr;
        if (dir == nullptr) {
            err = errno ? errno : EIO;
            if (dupFd >= 0)
                close(dupFd);
            break;
        }
        rewinddir(dir);  // the duplicate shares the position left by the last pass
        std::string descendInto;
        for (;;) {
            errno = 0;
            struct dirent* entry = readdir(dir);
            if (entry == nullptr) {
                if (errno != 0)
                    err = errno;
                break;
            }
            if (IsDotOrDotDot(entry->d_name))
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (fstatat(current, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    if (errno == ENOENT)
                        continue;
                    err = errno;
                    break;
                }
                type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
            }
            if (type == DT_DIR) {
                descendInto = entry->d_name;
                break;
            }
            err = RemoveNonFolder(current, entry->d_name);
            if (err != 0)
                break;
        }
        closedir(dir);
        if (err != 0)
            break;

        if (!descendInto.empty()) {
            err = UnlockEntry(current, descendInto.c_str());
            if (err != 0)
                break;
            int child = openat(current, descendInto.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) {
                err = errno;
                break;
            }
            struct stat st;
            fstat(child, &st);
            stack.push_back({descendInto, st.st_dev, st.st_ino});
            if (ownsCurrent)
                close(current);
            current = child;
            ownsCurrent = true;
            continue;
        }

        // This folder is empty now: go up and remove it.
        if (stack.empty())
            break;
        Level left = stack.back();
        stack.pop_back();
        int parent;
        if (stack.empty()) {
            parent = rootFd;
        } else {
            parent = openat(current, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            struct stat st;
            if (parent < 0 || fstat(parent, &st) != 0 || st.st_dev != stack.back().device ||
                st.st_ino != stack.back().inode) {
                // The tree was moved under the walk: stop rather than remove elsewhere.
                err = parent < 0 ? errno : ESTALE;
                if (parent >= 0)
                    close(parent);
                break;
            }
        }
        close(current);
        current = parent;
        ownsCurrent = !stack.empty();
        if ((err = FaultCheck("rmdir")) != 0)
            break;
        if (unlinkat(current, left.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            err = errno;
            break;
        }
    }
    if (ownsCurrent)
        close(current);
    return err;
}

std::string HomeFolder()
{
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] != 0)
        return home;
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return "/";
}

// $NAME when set to an absolute path, else the home folder and `fallback`.
std::string XdgFolder(const char* name, const char* fallback)
{
    const char* value = getenv(name);
    if (value != nullptr && value[0] == '/')
        return value;
    return HomeFolder() + "/" + fallback;
}

// A folder of the user-dirs.dirs file of the XDG configuration folder
// (key "XDG_DOCUMENTS_DIR" and the like), else the home folder and `fallback`.
// The whole text of a file, links followed; empty when it cannot be read.
std::string XdgUserFolder(const char* key, const char* fallback)
{
    const std::string text = ReadWholeFile((XdgFolder("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs").c_str());
    std::string folder = UserFolderFromDirsText(text, key, HomeFolder());
    return folder.empty() ? HomeFolder() + "/" + fallback : folder;
}

int MakeFolderWithParents(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    std::string parent = ParentPath(WithoutFinalSlash(path.c_str()));
    if (parent != path && parent != "/" && parent != ".") {
        int err = MakeFolderWithParents(parent);  // depth bounded by the standard folders' own depth
        if (err != 0)
            return err;
    }
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

}  // namespace

std::string UserFolderFromDirsText(const std::string& text, const char* key, const std::string& home)
{
    std::string prefix = std::string(key) + "=\"";
    for (size_t start = 0; start < text.size();) {
        size_t lineEnd = text.find('\n', start);
        if (lineEnd == std::string::npos)
            lineEnd = text.size();
        const std::string line = text.substr(start, lineEnd - start);
        start = lineEnd + 1;
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        size_t end = line.find('"', prefix.size());
        if (end == std::string::npos)
            break;
        std::string value = line.substr(prefix.size(), end - prefix.size());
        if (value.compare(0, 6, "$HOME/") == 0)
            return home + value.substr(5);
        if (value == "$HOME")
            return home;
        if (!value.empty() && value[0] == '/')
            return value;
        break;
    }
    return std::string();
}

std::string PathOfDescriptor(int fd)
{
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = readlink(proc.c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return std::string();
        if (static_cast<size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

FolderLister::FolderLister(const char* folderPath, unsigned options) : fOptions(options)
{
    if (folderPath == nullptr || folderPath[0] == 0)
        return;
    int fd = open(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    std::string base = PathOfDescriptor(fd);
    DIR* dir = (fstat(fd, &st) == 0 && !base.empty()) ? fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        close(fd);
        return;
    }
    fDir = dir;
    fDevice = st.st_dev;
    fInode = st.st_ino;
    fBasePath = std::move(base);
    if (fBasePath.empty() || fBasePath.back() != '/')
        fBasePath += '/';
}

FolderLister::~FolderLister()
{
    if (fDir != nullptr)
        closedir(static_cast<DIR*>(fDir));
}

bool FolderLister::Next(FolderEntry& outEntry)
{
    fCurrentName.clear();
    fCurrentResolved.clear();
    if (fDir == nullptr)
        return false;
    DIR* dir = static_cast<DIR*>(fDir);
    int dirFd = dirfd(dir);
    const bool invisible = (fOptions & kListInvisible) != 0;
    const bool resolve = (fOptions & kListResolveLinks) != 0;
    for (;;) {
        struct dirent* entry = readdir(dir);
        if (entry == nullptr)
            return false;
        const char* name = entry->d_name;
        if (IsDotOrDotDot(name))
            continue;
        unsigned char type = entry->d_type;
        if (type != DT_UNKNOWN && type != DT_DIR && type != DT_REG && type != DT_LNK)
            continue;
        if (!invisible && name[0] == '.')
            continue;
        struct stat st;
        bool haveStatus = false;
        if (type == DT_UNKNOWN) {
            if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            haveStatus = true;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : 0;
            if (type == 0)
                continue;
        }
        std::string path;
        if (type == DT_LNK && resolve) {
            // The target's real path and status; a dangling link is passed over.
            int fd = openat(dirFd, name, O_PATH | O_CLOEXEC);
            if (fd < 0)
                continue;
            path = PathOfDescriptor(fd);
            bool ok = !path.empty() && fstat(fd, &st) == 0;
            close(fd);
            if (!ok)
                continue;
            haveStatus = true;
            if (!invisible && LastElement(path)[0] == '.')
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : 0;
            if (type == 0)
                continue;
            fCurrentResolved = path;
        } else {
            path = fBasePath + name;
        }
        const bool isFolder = type == DT_DIR;
        if (isFolder ? (fOptions & kListFolders) == 0 : (fOptions & kListFiles) == 0)
            continue;
        fCurrentName = name;
        outEntry.path = std::move(path);
        outEntry.name = name;
        outEntry.isFolder = isFolder;
        if (haveStatus) {
            outEntry.device = st.st_dev;
            outEntry.inode = st.st_ino;
        } else {
            outEntry.device = fDevice;
            outEntry.inode = entry->d_ino;
        }
        return true;
    }
}

int FolderLister::GetTimes(EntryTime* outModified, EntryTime* outCreated, EntryTime* outAccessed) const
{
    if (fCurrentName.empty() || fDir == nullptr)
        return EINVAL;
    struct statx sx;
    int rc;
    if (!fCurrentResolved.empty())
        rc = statx(AT_FDCWD, fCurrentResolved.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx);
    else
        rc = statx(dirfd(static_cast<DIR*>(fDir)), fCurrentName.c_str(), AT_SYMLINK_NOFOLLOW,
                   STATX_BASIC_STATS | STATX_BTIME, &sx);
    if (rc != 0)
        return errno;
    if (outModified != nullptr)
        *outModified = TimeOf(sx.stx_mtime, true);
    if (outCreated != nullptr)
        *outCreated = TimeOf(sx.stx_btime, (sx.stx_mask & STATX_BTIME) != 0);
    if (outAccessed != nullptr)
        *outAccessed = TimeOf(sx.stx_atime, true);
    return 0;
}

int GetFolderStatus(const char* path, bool follow, FolderStatus& outStatus)
{
    outStatus = FolderStatus();
    struct stat st;
    // A final '/' would make lstat follow a link: the entry itself is asked for.
    if ((follow ? stat(path, &st) : lstat(WithoutFinalSlash(path).c_str(), &st)) != 0)
        return errno;
    outStatus.exists = true;
    outStatus.isFolder = S_ISDIR(st.st_mode);
    outStatus.isLink = S_ISLNK(st.st_mode);
    outStatus.mode = st.st_mode & 07777;
    outStatus.owner = st.st_uid;
    outStatus.group = st.st_gid;
    outStatus.device = st.st_dev;
    outStatus.inode = st.st_ino;
    return 0;
}

int MakeFolder(const char* path, unsigned mode)
{
    return mkdir(path, static_cast<mode_t>(mode)) == 0 ? 0 : errno;
}

int RemoveFolderOrLink(const char* path)
{
    std::string text = WithoutFinalSlash(path);
    struct stat st;
    if (lstat(text.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return unlink(text.c_str()) == 0 ? 0 : errno;
    return rmdir(text.c_str()) == 0 ? 0 : errno;
}

int SetFolderMode(const char* path, unsigned mode)
{
    return chmod(path, static_cast<mode_t>(mode & 07777)) == 0 ? 0 : errno;
}

int DeleteTreeForced(const char* path, int& outRestoreError)
{
    outRestoreError = 0;
    std::string target = WithoutFinalSlash(path);
    if (target.empty() || target == "/")
        return EINVAL;
    std::string parentPath = ParentPath(target);
    std::string name = LastElement(target);

    // The parent: made writable and unlocked for the duration when needed.
    int parentFd = open(parentPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0)
        return errno;
    struct stat parentStatus;
    if (fstat(parentFd, &parentStatus) != 0) {
        int err = errno;
        close(parentFd);
        return err;
    }
    int err = 0;
    bool widened = false;
    uid_t euid = geteuid();
    if ((parentStatus.st_mode & 0700) != 0700 && euid != 0 && parentStatus.st_uid == euid) {
        err = ChmodDescriptor(parentFd, (parentStatus.st_mode & 07777) | 0700);
        widened = err == 0;
    }
    int lockFd = -1;
    int parentFlags = 0;
    bool unlocked = false;
    if (err == 0) {
        std::string proc = "/proc/self/fd/" + std::to_string(parentFd);
        lockFd = open(proc.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (lockFd >= 0 && ReadLocked(lockFd, parentFlags)) {
            int flags = parentFlags & ~FS_IMMUTABLE_FL;
            if (ioctl(lockFd, FS_IOC_SETFLAGS, &flags) == 0)
                unlocked = true;
            else
                err = errno;
        }
    }

    if (err == 0) {
        struct stat st;
        if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            err = errno;
        } else if (!S_ISDIR(st.st_mode)) {
            err = RemoveNonFolder(parentFd, name.c_str());
        } else if ((err = UnlockEntry(parentFd, name.c_str())) == 0) {
            int rootFd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (rootFd < 0) {
                err = errno;
            } else {
                err = EmptyFolderTree(rootFd);
                close(rootFd);
                if (err == 0)
                    err = FaultCheck("rmdir");
                if (err == 0 && unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0)
                    err = errno;
            }
        }
    }

    // Put the parent back as it was, whatever happened above: mode first,
    // since a locked folder refuses a change of mode.
    if (widened && ChmodDescriptor(parentFd, parentStatus.st_mode & 07777) != 0)
        outRestoreError = errno ? errno : EPERM;
    if (unlocked && ioctl(lockFd, FS_IOC_SETFLAGS, &parentFlags) != 0 && outRestoreError == 0)
        outRestoreError = errno;
    if (lockFd >= 0)
        close(lockFd);
    close(parentFd);
    return err;
}

bool IsSameOrInside(const char* inner, const char* outer)
{
    struct stat outerStatus;
    if (stat(outer, &outerStatus) != 0)
        return false;
    std::string existing = WithoutFinalSlash(inner);
    struct stat st;
    while (stat(existing.c_str(), &st) != 0) {
        std::string parent = ParentPath(existing);
        if (parent == existing)
            return false;
        existing = parent;
    }
    char* real = realpath(existing.c_str(), nullptr);
    if (real == nullptr)
        return false;
    std::string path(real);
    free(real);
    for (;;) {
        if (stat(path.c_str(), &st) == 0 && st.st_dev == outerStatus.st_dev && st.st_ino == outerStatus.st_ino)
            return true;
        if (path == "/")
            return false;
        path = ParentPath(path);
    }
}

std::string FindFileIgnoringCase(const std::string& folder, const std::string& name)
{
    if (folder.empty() || name.empty() || name.find('/') != std::string::npos || IsDotOrDotDot(name.c_str()))
        return std::string();
    std::string parent = folder;
    if (parent.back() != '/')
        parent += '/';
    struct stat st;
    if (stat((parent + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return parent + name;
    DIR* dir = opendir(parent.c_str());
    if (dir == nullptr)
        return std::string();
    std::string found;
    while (struct dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0 && stat((parent + entry->d_name).c_str(), &st) == 0 &&
            S_ISREG(st.st_mode)) {
            found = parent + entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool IsPackageFolder(const char* path)
{
    std::string text = WithoutFinalSlash(path);
    struct stat st;
    if (stat(text.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (text.size() > 4 && text.compare(text.size() - 4, 4, ".app") == 0)
        return true;
    return stat((text + "/Contents/Info.plist").c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int GetSystemFolderPath(int kind, bool create, std::string& outPath)
{
    outPath.clear();
    bool creatable = true;
    switch (kind) {
        case 0:
            outPath = GetExecutableFolder();
            creatable = false;
            break;
        case 1:
            outPath = XdgUserFolder("XDG_DOCUMENTS_DIR", "Documents");
            break;
        case 2: {
            const char* tmp = getenv("TMPDIR");
            outPath = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
            creatable = false;
            break;
        }
        case 4:
        case 6:
            outPath = "/usr/local/share";
            break;
        case 5:
        case 7:
            outPath = XdgFolder("XDG_DATA_HOME", ".local/share");
            break;
        case 8:
            outPath = XdgUserFolder("XDG_DESKTOP_DIR", "Desktop");
            break;
        case 9:
            outPath = "/opt";
            break;
        case 10:
            outPath = "/var/cache";
            break;
        case 11:
            outPath = XdgFolder("XDG_CACHE_HOME", ".cache");
            break;
        case 12:
            outPath = XdgFolder("XDG_CONFIG_HOME", ".config");
            break;
        case 13:
            outPath = HomeFolder();
            creatable = false;
            break;
        default:
            return ENOENT;
    }
    if (outPath.empty())
        return ENOENT;
    int err = (create && creatable) ? MakeFolderWithParents(outPath) : 0;
    if (outPath.back() != '/')
        outPath += '/';
    return err;
}

void TakeFolderSnapshot(const std::string& folderKey, FolderSnapshot& outSnapshot)
{
    outSnapshot.clear();
    int fd = open(folderKey.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    while (struct dirent* entry = readdir(dir)) {
        if (IsDotOrDotDot(entry->d_name) || strcmp(entry->d_name, ".DS_Store") == 0)
            continue;
        struct stat st;
        if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        SnapshotEntry& info = outSnapshot[entry->d_name];
        info.seconds = st.st_mtim.tv_sec;
        info.nanoseconds = st.st_mtim.tv_nsec;
        info.isFolder = S_ISDIR(st.st_mode);
    }
    closedir(dir);
}

}  // namespace qelt::plat
