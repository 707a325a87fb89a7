#include "platform/PlatFileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/PlatFaults.h"
#include "platform/PlatFile.h"
#include "platform/PlatThreads.h"

namespace qelt::plat {

namespace {

// Runs a step unless fault injection fails it; answers 0 or an errno value.
template <class F>
int Step(const char* operation, F&& call)
{
    if (int fault = FaultCheck(operation))
        return fault;
    return call() == 0 ? 0 : errno;
}

int Close(int fd)
{
    return ::close(fd) == 0 ? 0 : errno;
}

// Owns a descriptor for a scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fFd(fd) {}
    ~Fd()
    {
        if (fFd >= 0)
            ::close(fFd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fFd; }
    int Release()
    {
        int fd = fFd;
        fFd = -1;
        return fd;
    }

private:
    int fFd;
};


std::string Join(const std::string& folder, const char* name)
{
    std::string out = folder;
    if (out.empty() || out.back() != '/')
        out += '/';
    out += name;
    return out;
}


// Copies the data of `in` from its offset to `out` at its offset. `size`
// is the source's size when it was listed: once that much has moved the
// copy is complete, without one more transfer call to find the end (a file
// that reports no size is copied to its end).
int CopyData(int in, int out, off_t size)
{
    bool moved = false;
    off_t total = 0;
    for (;;) {
        ssize_t n;
        if (int fault = FaultCheck("copy")) {
            n = -1;
            errno = fault;
        } else {
            n = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
        }
        if (n > 0) {
            moved = true;
            total += n;
            if (size > 0 && total >= size)
                return 0;
            continue;
        }
        if (n == 0) {
            // Data moved, then the end: the kernel read the source to its
            // end, as a read would. An end at once may be a file that
            // reports no size (procfs): the reads below make sure.
            if (moved)
                return 0;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL || errno == ENOTSUP)
            break;
        return errno;
    }
    // Whatever copy_file_range left (a refusal, or a file that reported no
    // size) is read and written; for an empty file the first read finds the
    // end at once, so the block buffer is only allocated once there is
    // something to move.
    constexpr size_t kBlock = size_t{1} << 20;
    std::unique_ptr<char[]> buffer;
    char probe[1];
    for (;;) {
        char* into = buffer ? buffer.get() : probe;
        ssize_t n = ::read(in, into, buffer ? kBlock : sizeof probe);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        if (int err = WriteAll(out, into, static_cast<size_t>(n)))
            return err;
        if (!buffer) {
            buffer.reset(new (std::nothrow) char[kBlock]);
            if (!buffer)
                return ENOMEM;
        }
    }
}

// Copies the "user." extended attributes; a target that keeps none is fine.
int CopyUserAttributes(int in, int out)
{
    ssize_t size = ::flistxattr(in, nullptr, 0);
    if (size <= 0)
        return 0;
    std::vector<char> names(static_cast<size_t>(size));
    size = ::flistxattr(in, names.data(), names.size());
    if (size <= 0)
        return 0;
    std::vector<char> value;
    for (ssize_t at = 0; at < size;) {
        const char* name = names.data() + at;
        at += static_cast<ssize_t>(std::strlen(name)) + 1;
        if (std::strncmp(name, "user.", 5) != 0)
            continue;
        ssize_t length = ::fgetxattr(in, name, nullptr, 0);
        if (length < 0)
            continue;
        value.resize(static_cast<size_t>(length) + 1);
        length = ::fgetxattr(in, name, value.data(), value.size());
        if (length < 0)
            continue;
        if (int fault = FaultCheck("meta"))
            return fault;
        if (::fsetxattr(out, name, value.data(), static_cast<size_t>(length), 0) != 0) {
            if (errno == ENOTSUP || errno == EPERM)
                return 0;
            return errno;
        }
    }
    return 0;
}

// Owner (where permitted), mode and times of an open copy. The owner comes
// first because changing it clears the set-id bits.
int CopyDescriptorMetadata(const struct stat& st, int in, int out)
{
    if (int fault = FaultCheck("meta"))
        return fault;
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
        (void)::fchown(out, st.st_uid, st.st_gid);
    if (int err = CopyUserAttributes(in, out))
        return err;
    if (::fchmod(out, st.st_mode & 07777) != 0)
        return errno;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out, times) != 0)
        return errno;
    return 0;
}

// Copies a regular file into a new entry `to`, which must not exist.
int CopyRegularInto(const char* from, const struct stat& st, const char* to)
{
    Fd in(::open(from, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.Get() < 0)
        return errno;
    if (int fault = FaultCheck("open"))
        return fault;
    Fd out(::open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (out.Get() < 0)
        return errno;
    int err = CopyData(in.Get(), out.Get(), st.st_size);
    if (err == 0)
        err = CopyDescriptorMetadata(st, in.Get(), out.Get());
    int closeErr = Close(out.Release());
    if (err == 0)
        err = closeErr;
    if (err != 0)
        ::unlink(to);
    return err;
}


int CopyLinkInto(const char* from, const struct stat& st, const char* to)
{
    std::string text;
    if (int err = ReadLinkText(from, text))
        return err;
    if (int err = Step("symlink", [&] { return ::symlink(text.c_str(), to); }))
        return err;
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
        (void)::lchown(to, st.st_uid, st.st_gid);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    // Some file systems keep no times on links; that is no reason to fail.
    (void)::utimensat(AT_FDCWD, to, times, AT_SYMLINK_NOFOLLOW);
    return 0;
}

// Copies a non-folder entry into a new entry `to`.
int CopyLeafInto(const char* from, const struct stat& st, const char* to)
{
    switch (st.st_mode & S_IFMT) {
    case S_IFREG:
        return CopyRegularInto(from, st, to);
    case S_IFLNK:
        return CopyLinkInto(from, st, to);
    case S_IFIFO:
        if (int err = Step("open", [&] { return ::mkfifo(to, st.st_mode & 07777); }))
            return err;
        return 0;
    case S_IFSOCK:
        // A socket is a rendezvous of a running program, meaningless once
        // copied: it is left out.
        return 0;
    default:
        return Step("open", [&] { return ::mknod(to, st.st_mode, st.st_rdev); });
    }
}

// Copies the regular files met by a tree walk on a few helper threads while
// the walk goes on, so that the system calls of several files (open,
// create, transfer, metadata, close) overlap on a machine with cores to
// spare. The walking thread joins in once it is done. The first failure
// stops the rest: later files are skipped and Finish answers that failure
// once every helper has stopped. Without helpers (one core, or no thread to
// be had) each file is copied when it is handed over.
class FileCopyCrew {
public:
    FileCopyCrew() : fMaxHelpers(HelperCount()) {}
    ~FileCopyCrew() { (void)Finish(); }
    FileCopyCrew(const FileCopyCrew&) = delete;
    FileCopyCrew& operator=(const FileCopyCrew&) = delete;

    // Hands a file over; answers the first failure so far (0 while none).
    int Add(std::string from, const struct stat& st, std::string to)
    {
        if (int err = fError.load(std::memory_order_relaxed))
            return err;
        {
            std::lock_guard<std::mutex> hold(fLock);
            if (fThreads.size() < fMaxHelpers && fJobs.size() >= fThreads.size()) {
                try {
                    fThreads.emplace_back([this] { Work(); });
                } catch (...) {
                    fMaxHelpers = fThreads.size();
                }
            }
            if (!fThreads.empty()) {
                fJobs.push_back({std::move(from), std::move(to), st});
                fReady.notify_one();
                return 0;
            }
        }
        Record(CopyRegularInto(from.c_str(), st, to.c_str()));
        return fError.load(std::memory_order_relaxed);
    }

    // Copies what is left with the helpers, waits for them, and answers the
    // first failure (0 when every file was copied).
    int Finish()
    {
        {
            std::lock_guard<std::mutex> hold(fLock);
            fClosed = true;
        }
        fReady.notify_all();
        Work();
        for (std::thread& thread : fThreads)
            thread.join();
        fThreads.clear();
        return fError.load();
    }

private:
    struct Job {
        std::string from, to;
        struct stat st;
    };

    // Helpers beside the walking thread: the cores this process may run on,
    // less the walker's own, at most three (beyond that the file system's
    // locks, not the cores, set the pace).
    static size_t HelperCount()
    {
        return static_cast<size_t>(std::clamp(UsableProcessorCount() - 1, 0, kMaxHelpers));
    }

    void Record(int err)
    {
        int none = 0;
        if (err != 0)
            fError.compare_exchange_strong(none, err);
    }

    void Work()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> hold(fLock);
                fReady.wait(hold, [this] { return !fJobs.empty() || fClosed; });
                if (fJobs.empty())
                    return;
                job = std::move(fJobs.front());
                fJobs.pop_front();
            }
            if (fError.load(std::memory_order_relaxed) == 0)
                Record(CopyRegularInto(job.from.c_str(), job.st, job.to.c_str()));
        }
    }

    static constexpr int kMaxHelpers = 3;
    size_t fMaxHelpers;
    std::mutex fLock;
    std::condition_variable fReady;
    std::deque<Job> fJobs;
    std::vector<std::thread> fThreads;
    bool fClosed = false;
    std::atomic<int> fError{0};
};

int FolderMetadata(const char* from, const struct stat& st, const char* to)
{
    if (int fault = FaultCheck("meta"))
        return fault;
    Fd in(::open(from, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    Fd out(::open(to, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (out.Get() < 0)
        return errno;
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
        (void)::fchown(out.Get(), st.st_uid, st.st_gid);
    if (in.Get() >= 0)
        if (int err = CopyUserAttributes(in.Get(), out.Get()))
            return err;
    if (::fchmod(out.Get(), st.st_mode & 07777) != 0)
        return errno;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.Get(), times) != 0)
        return errno;
    return 0;
}

// Copies the folder `from` into the new folder `to` (which must not exist),
// walking with an explicit stack. Folder modes and times are set last,
// deepest first, so that filling a folder does not change its times and a
// read-only folder can still be filled.
int CopyFolderInto(const std::string& from, const struct stat& rootStat, const std::string& to)
{
    struct Pending {
        std::string from, to;
    };
    struct Finished {
        std::string from, to;
        struct stat st;
    };
    std::vector<Pending> stack;
    std::vector<Finished> folders;
    FileCopyCrew files;
    int err = Step("mkdir", [&] { return ::mkdir(to.c_str(), 0700); });
    if (err != 0)
        return err;
    stack.push_back({from, to});
    folders.push_back({from, to, rootStat});
    while (!stack.empty() && err == 0) {
        Pending here = std::move(stack.back());
        stack.pop_back();
        DIR* dir = ::opendir(here.from.c_str());
        if (dir == nullptr) {
            err = errno;
            break;
        }
        for (;;) {
            errno = 0;
            struct dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                err = errno;
                break;
            }
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            std::string source = Join(here.from, name);
            std::string target = Join(here.to, name);
            struct stat st;
            if (::lstat(source.c_str(), &st) != 0) {
                err = errno;
                break;
            }
            if (S_ISDIR(st.st_mode)) {
                err = Step("mkdir", [&] { return ::mkdir(target.c_str(), 0700); });
                if (err != 0)
                    break;
                stack.push_back({source, target});
                folders.push_back({source, target, st});
            } else if (S_ISREG(st.st_mode)) {
                err = files.Add(std::move(source), st, std::move(target));
                if (err != 0)
                    break;
            } else {
                err = CopyLeafInto(source.c_str(), st, target.c_str());
                if (err != 0)
                    break;
            }
        }
        ::closedir(dir);
        if (err != 0)
            break;
    }
    // Every file is in (or the copy failed) before a folder gets its final
    // mode and times.
    if (int copied = files.Finish(); err == 0)
        err = copied;
    if (err != 0)
        return err;
    for (auto it = folders.rbegin(); it != folders.rend() && err == 0; ++it)
        err = FolderMetadata(it->from.c_str(), it->st, it->to.c_str());
    return err;
}

// Puts the finished temporary item `temp` at `to`: a rename that never
// replaces without `replace`; with it, an exchange with the old item, which
// is then removed (a file or link is simply renamed over).
int PutInPlace(const std::string& temp, const char* to, bool replace, bool isFolder)
{
    if (!replace)
        return Step("rename", [&] { return ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to, RENAME_NOREPLACE); });
    struct stat old;
    bool oldIsFolder = ::lstat(to, &old) == 0 && S_ISDIR(old.st_mode);
    if (!isFolder && !oldIsFolder)
        return Step("rename", [&] { return ::rename(temp.c_str(), to); });
    int err = Step("exchange", [&] { return ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to, RENAME_EXCHANGE); });
    if (err == ENOENT) // nothing to exchange with: the destination is free
        return Step("rename", [&] { return ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to, RENAME_NOREPLACE); });
    if (err != 0)
        return err;
    // The new item is in place; the old one now sits at the temporary name.
    RemoveTree(temp.c_str());
    return 0;
}

// True when `inner` lies inside the folder `outer` (or is it), by identity
// of each ancestor of `inner`'s real folder.
bool LiesInside(const char* innerPath, const struct stat& outer)
{
    std::string parent = ParentPath(innerPath);
    char resolved[PATH_MAX];
    if (::realpath(parent.c_str(), resolved) == nullptr)
        return false;
    std::string at = resolved;
    for (;;) {
        struct stat st;
        if (::lstat(at.c_str(), &st) == 0 && st.st_dev == outer.st_dev && st.st_ino == outer.st_ino)
            return true;
        if (at == "/")
            return false;
        at = ParentPath(at);
    }
}

}  // namespace

std::string SiblingTempName(const char* path)
{
    static const char kHex[] = "0123456789abcdef";
    unsigned char random[8];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // No random source: the process id and the clock still make the
        // name unlikely to be taken, and every user creates with O_EXCL.
        struct timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        unsigned long long mix = (static_cast<unsigned long long>(::getpid()) << 40) ^
                                 static_cast<unsigned long long>(now.tv_nsec) ^
                                 (static_cast<unsigned long long>(now.tv_sec) << 20);
        std::memcpy(random, &mix, sizeof random);
    }
    std::string name = Join(ParentPath(path), ".qlt-");
    for (unsigned char byte : random) {
        name += kHex[byte >> 4];
        name += kHex[byte & 15];
    }
    name += ".tmp";
    return name;
}

int MakeMarkedFolder(const char* path, const char* markerName)
{
    const std::string temp = SiblingTempName(path);
    if (int err = Step("mkdir", [&] { return ::mkdir(temp.c_str(), 0755); }))
        return err;
    const std::string marker = Join(temp, markerName);
    int err = Step("open", [&] {
        const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        return fd < 0 ? -1 : Close(fd) == 0 ? 0 : -1;
    });
    if (err == 0)
        err = Step("rename", [&] { return ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path, RENAME_NOREPLACE); });
    if (err != 0)
        RemoveTree(temp.c_str());
    return err;
}

bool IsMarkedFolder(const char* path, const char* markerName)
{
    struct stat st;
    if (::lstat(path, &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return ::lstat(Join(path, markerName).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsSameEntry(const char* a, const char* b)
{
    struct stat sa, sb;
    return ::lstat(a, &sa) == 0 && ::lstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int CopyFileItem(const char* from, const char* to, bool replace)
{
    struct stat st;
    if (::lstat(from, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    struct stat existing;
    if (::lstat(to, &existing) == 0) {
        if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino)
            return EINVAL;
        if (!replace)
            return EEXIST;
        if (S_ISDIR(existing.st_mode))
            return EISDIR;
    }
    std::string temp = SiblingTempName(to);
    if (int err = CopyLeafInto(from, st, temp.c_str()))
        return err;
    int err = PutInPlace(temp, to, replace, false);
    if (err != 0)
        ::unlink(temp.c_str());
    return err;
}

int CopyTree(const char* from, const char* to, bool replace)
{
    struct stat st;
    if (::lstat(from, &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return CopyFileItem(from, to, replace);
    struct stat existing;
    if (::lstat(to, &existing) == 0) {
        if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino)
            return EINVAL;
        if (!replace)
            return EEXIST;
    }
    if (LiesInside(to, st))
        return EINVAL;
    std::string temp = SiblingTempName(to);
    int err = CopyFolderInto(from, st, temp);
    if (err == 0)
        err = PutInPlace(temp, to, replace, true);
    if (err != 0) {
        struct stat left;
        if (::lstat(temp.c_str(), &left) == 0)
            RemoveTree(temp.c_str());
    }
    return err;
}

int RemoveTree(const char* path)
{
    struct stat st;
    if (::lstat(path, &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return Step("unlink", [&] { return ::unlink(path); });

    // Depth first with an explicit stack: a folder is removed once its
    // entries are gone. A folder is listed at most twice (on the way down
    // and, once emptied, on the way back).
    struct Item {
        std::string path;
        bool listed;
    };
    std::vector<Item> stack;
    stack.push_back({path, false});
    while (!stack.empty()) {
        Item& top = stack.back();
        if (top.listed) {
            std::string folder = top.path;
            stack.pop_back();
            if (int err = Step("rmdir", [&] { return ::rmdir(folder.c_str()); }))
                return err;
            continue;
        }
        top.listed = true;
        std::string folder = top.path;
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) {
            // A folder without read permission that we own: open it up.
            if (errno == EACCES && ::chmod(folder.c_str(), 0700) == 0)
                dir = ::opendir(folder.c_str());
            if (dir == nullptr)
                return errno;
        }
        int err = 0;
        std::vector<std::string> subfolders;
        for (;;) {
            errno = 0;
            struct dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                err = errno;
                break;
            }
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            std::string child = Join(folder, entry->d_name);
            struct stat cst;
            if (::lstat(child.c_str(), &cst) != 0) {
                if (errno == ENOENT)
                    continue;
                err = errno;
                break;
            }
            if (S_ISDIR(cst.st_mode)) {
                subfolders.push_back(std::move(child));
            } else if ((err = Step("unlink", [&] { return ::unlink(child.c_str()); })) != 0) {
                break;
            }
        }
        ::closedir(dir);
        if (err != 0)
            return err;
        for (std::string& sub : subfolders)
            stack.push_back({std::move(sub), false});
    }
    return 0;
}

int MovePath(const char* from, const char* to, bool replace)
{
    int err = replace ? Step("rename", [&] { return ::rename(from, to); })
                      : Step("rename", [&] { return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE); });
    if (err == EINVAL && !replace) {
        // A file system without RENAME_NOREPLACE: refuse a taken name
        // ourselves, then rename.
        struct stat st;
        if (::lstat(to, &st) == 0)
            return EEXIST;
        if (::lstat(from, &st) == 0)
            err = Step("rename", [&] { return ::rename(from, to); });
    }
    if (err != EXDEV)
        return err;
    if ((err = CopyTree(from, to, replace)) != 0)
        return err;
    return RemoveTree(from);
}

int ExchangePaths(const char* a, const char* b)
{
    return Step("exchange", [&] { return ::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE); });
}

}  // namespace qelt::plat
