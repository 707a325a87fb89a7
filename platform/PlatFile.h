// Single files on disk for the file layer: opening with the toolbox's access
// modes and option bits, transfers at offsets, sizes, time stamps,
// attributes, permissions, links and volume space. Paths are UTF-8 POSIX
// texts; every function answers 0 or an errno value unless it says
// otherwise, and raises nothing.
#pragma once

#include <cstdint>
#include <string>

namespace qelt::plat {

// Access modes of OpenFile: 0 read only, 1 read and write with an exclusive
// lock, 2 read and write with a shared lock. The locks are flock locks taken
// without waiting: a conflicting lock held elsewhere gives EACCES at once.
// Option bits of OpenFile (the file layer's open options).
enum : unsigned {
    kOpenResourceFork = 0x01,  // no resource forks here: ENOTSUP
    kOpenCreate = 0x02,        // create a missing file with mode 0644
    kOpenTruncate = 0x04,      // cut to 0 bytes once the lock is held
    kOpenReadAhead = 0x08,     // a sequential-access hint
    kOpenNoCache = 0x20,       // a hint not to keep the data cached
    kOpenNoCache2 = 0x40,      // the same
    kOpenFollowLink = 0x80,    // without it, a symbolic link gives ELOOP
};

// Opens the file. The truncation of kOpenTruncate happens only after the lock
// is held, so a file locked elsewhere keeps its bytes. With regularOnly the
// file is opened without waiting (O_NONBLOCK) and anything but a regular
// file gives EINVAL (a FIFO never blocks the caller). outFd is -1 after a
// failure.
int OpenFile(const char* path, int access, unsigned options, bool regularOnly, int& outFd);

// The folder part of a path: "." for a bare name, "/" at the root; trailing
// '/' are ignored.
std::string ParentPath(const std::string& path);

// Writes all bytes from the descriptor's offset, going on after
// interruptions and partial writes.
int WriteAll(int fd, const void* data, size_t size);

// Closes a descriptor (the result is not interesting to callers).
void CloseFile(int fd);

// True when the descriptor is open on a terminal.
bool IsTerminal(int fd);

// Moves `count` bytes between `buffer` and the file at `offset`, in calls of
// at most kMaxTransfer bytes, calling `between` (when given) after each
// partial call and after an interruption. outDone receives the bytes really
// moved, also after a failure. A read that meets the end of the file stops
// there with 0 (outDone tells how far it got); a write the system took
// only in part ends with EINVAL when the system then took nothing more.
constexpr size_t kMaxTransfer = size_t{500} << 20;
int ReadAt(int fd, void* buffer, size_t count, int64_t offset, size_t& outDone, void (*between)() = nullptr);
int WriteAt(int fd, const void* buffer, size_t count, int64_t offset, size_t& outDone, void (*between)() = nullptr);

int GetOpenFileSize(int fd, int64_t& outSize);
int SetOpenFileSize(int fd, int64_t size);
int SyncFile(int fd);

// What statx tells of an entry. Times are nanoseconds since 1970 (UTC);
// hasBirth is false where the file system keeps no creation time.
enum class EntryKind { Missing, File, Folder, Link, Other };
struct EntryInfo {
    EntryKind kind = EntryKind::Missing;
    int64_t size = 0;
    uint32_t mode = 0;  // the permission bits (07777)
    uint32_t uid = 0, gid = 0;
    uint64_t device = 0, inode = 0;
    int64_t modified = 0, accessed = 0, born = 0;
    bool hasBirth = false;
};
int GetEntryInfo(const char* path, bool follow, EntryInfo& out);
// The kind of entry, links not followed (Missing when there is none).
EntryKind GetEntryKind(const char* path);

// Sets the modification and access times (nanoseconds since 1970), a null
// pointer leaving that time alone; a link's own times are set.
int SetEntryTimes(const char* path, const int64_t* modified, const int64_t* accessed);

// The immutable attribute (FS_IMMUTABLE_FL). A link has none: false, and
// setting it gives ENOTSUP.
int GetLocked(const char* path, bool follow, bool& outLocked);
int SetLocked(const char* path, bool follow, bool locked);

// Sets the permission bits; a symbolic link's own permissions: ENOTSUP.
int SetPermissions(const char* path, uint32_t mode);

// The calling user's effective access (4 read, 2 write, 1 execute) to the
// entry, links not followed: 7 for root; 0 on an immutable entry; the
// owner's, group's or others' bits otherwise. The group list grows as needed.
int GetEffectivePermission(const char* path, uint32_t& outPermission);

// Clears the immutable attribute (never following a link) and, when the
// caller is root or the owner, adds read and write (and search for a folder)
// for the owner.
int UnlockPath(const char* path);

// Free and total bytes of the file system holding path (or its parent, when
// path does not exist yet), or of the open descriptor when fd >= 0. With
// withQuotas, the bytes available to an unprivileged user.
int GetVolumeSpace(const char* path, int fd, bool withQuotas, int64_t& outFree, int64_t& outTotal);

// The text of a symbolic link.
int ReadLinkText(const char* path, std::string& outText);
// The whole content of a small regular file, a final link not followed
// (ELOOP): EFBIG when it holds more than maxSize bytes, EINVAL when it is
// not a regular file.
int ReadSmallFile(const char* path, size_t maxSize, std::string& outText);
// The whole content of a file, links followed, read with the system's calls
// (no file stream: the first stream of a process sets up the C++ library's
// locale machinery, which start-up code does not need); empty when the file
// cannot be opened or read. With inCap, reading stops once at least inCap
// bytes are in (for files of /proc, whose size is not known ahead).
std::string ReadWholeFile(const char* path, size_t inCap = static_cast<size_t>(-1));
// Makes a symbolic link at linkPath holding `text`; an existing file at
// linkPath is replaced by the final rename, never removed first.
int MakeLinkReplacing(const char* text, const char* linkPath);
// The real path the link at `path` leads to (all links resolved), and
// whether that is a folder.
int ResolveLink(const char* path, std::string& outTarget, bool& outIsFolder);

// Replaces the whole content of the file at `path` (following a final link
// to the file it names) with `size` bytes: the new content is written and
// synced beside it under a temporary name, with the old file's permission
// bits, and renamed over it, so a failure at any step leaves the old content
// whole. An exclusive flock lock is taken on the old file first, without
// waiting (EACCES when another holds one). A missing file is created with
// mode 0644. outWriting tells whether a failure came after the new file was
// made (while writing it out) rather than while opening.
int ReplaceFileContent(const char* path, const void* data, size_t size, bool& outWriting);

// Creates an empty file. Without replace an existing entry gives EEXIST;
// with it the new empty file is made beside and renamed over the old one.
int CreateEmptyFile(const char* path, bool replace);

// Makes the folder and its missing ancestors with the mode (umask applies);
// an existing folder is fine, an existing file in the chain gives ENOTDIR.
int MakeFolderChain(const std::string& path, unsigned mode);

// Removes a file or link (never a folder: EISDIR).
int DeleteFileEntry(const char* path);

// Opens the file or folder with the desktop's default application
// (xdg-open), detached: nothing waits for it. ENOTSUP without a graphical
// session (DISPLAY or WAYLAND_DISPLAY), ENOENT when xdg-open is not on the
// PATH, otherwise 0 once the opener is started.
int OpenWithDefaultApplication(const char* path);

// Shows the folder in the desktop's file viewer (xdg-open) when a graphical
// session exists; ENOTSUP otherwise.
int RevealFolder(const char* folderPath);

// The folder for temporary files: $TMPDIR when it names a folder, else /tmp.
std::string TemporaryFolder();

}  // namespace qelt::plat
