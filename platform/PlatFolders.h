// Folders on the Linux file system: listing, forced removal of a tree, the
// standard folders of the user and the machine, and folder snapshots.
//
// Paths are UTF-8 POSIX texts of any length (nothing is cut). Functions
// return 0 or an errno value and raise nothing; the folder objects above
// turn those values into their errors.
//
// Walks never recurse on the C stack and keep one directory descriptor open
// at a time, so a tree of any depth is walked in constant stack space.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace qelt::plat {

// Options of a listing (the same bits as the folder iterators').
constexpr unsigned kListFolders = 2;      // folders qualify
constexpr unsigned kListFiles = 4;        // regular files and unresolved links qualify
constexpr unsigned kListInvisible = 8;    // names beginning with '.' qualify too
constexpr unsigned kListResolveLinks = 16;  // links stand for their targets

// A moment of a file's life in seconds and nanoseconds since 1970 UTC.
struct EntryTime {
    int64_t seconds = 0;
    int32_t nanoseconds = 0;
    bool present = false;
};

// One entry handed out by a FolderLister.
struct FolderEntry {
    std::string path;     // full path: the folder's real path and the name, or a link target's real path
    std::string name;     // the directory entry's own name
    bool isFolder = false;
    uint64_t device = 0;  // identity of what path names (a resolved link: its target)
    uint64_t inode = 0;
};

// Reads one folder's entries in the order the directory gives them and hands
// out those that qualify under the options:
// - ".", ".." and anything that is not a folder, a regular file or a link
//   (pipes, sockets, devices) never qualify;
// - without kListInvisible a name beginning with '.' is left out (for a
//   resolved link, the link's and its target's names are both tested);
// - with kListResolveLinks a link is replaced by its target's real path and
//   type; a dangling link, or one whose target is not a folder or a regular
//   file, is left out;
// - folders qualify with kListFolders, files and unresolved links with
//   kListFiles.
// The folder is opened following links, and entries are named under its
// real path: listing a folder reached through a link names entries under the
// link's target. A folder that cannot be opened lists nothing.
class FolderLister {
public:
    FolderLister(const char* folderPath, unsigned options);
    ~FolderLister();
    FolderLister(const FolderLister&) = delete;
    FolderLister& operator=(const FolderLister&) = delete;

    bool IsOpen() const { return fDir != nullptr; }
    // The real path of the listed folder, ending with '/'.
    const std::string& GetBasePath() const { return fBasePath; }
    // Device and inode of the listed folder (0 when it did not open).
    uint64_t GetDevice() const { return fDevice; }
    uint64_t GetInode() const { return fInode; }

    // The next qualifying entry; false at the end (or on a read error).
    bool Next(FolderEntry& outEntry);

    // Times of the entry handed out last (a resolved link's: its target's;
    // links are not followed otherwise). EINVAL before the first entry.
    int GetTimes(EntryTime* outModified, EntryTime* outCreated, EntryTime* outAccessed) const;

private:
    void* fDir = nullptr;  // DIR*
    unsigned fOptions = 0;
    std::string fBasePath;
    uint64_t fDevice = 0;
    uint64_t fInode = 0;
    std::string fCurrentName;
    std::string fCurrentResolved;  // the target's path when the current entry was a resolved link
};

// The real path of an open descriptor (through /proc/self/fd), empty on failure.
std::string PathOfDescriptor(int fd);

// Status of a path as the folder layer needs it. `follow` follows a final
// link; without it the entry itself is examined, a final '/' or not.
struct FolderStatus {
    bool exists = false;
    bool isFolder = false;
    bool isLink = false;
    uint32_t mode = 0;  // permission bits (07777)
    uint32_t owner = 0;
    uint32_t group = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
};
int GetFolderStatus(const char* path, bool follow, FolderStatus& outStatus);

// mkdir with the given mode (the process umask applies).
int MakeFolder(const char* path, unsigned mode);

// Removes an empty folder; a path naming a symbolic link (with or without a
// final '/') removes the link, never what it points to.
int RemoveFolderOrLink(const char* path);

// chmod of the path's permission bits (links followed).
int SetFolderMode(const char* path, unsigned mode);

// Removes the tree at path, locked (immutable) items and folders without
// owner permissions included, walking it physically: links are removed,
// never followed, and no mode is changed through a link. A link at path
// itself is removed alone. The parent folder is unlocked and given owner
// permissions for the duration when it needs them, and both are put back
// afterwards whatever the walk's outcome; a failure to put them back goes to
// outRestoreError (0 when none). The walk stops at the first entry it cannot
// remove; what was removed before stays removed.
int DeleteTreeForced(const char* path, int& outRestoreError);

// Whether `inner` is `outer` or lies inside it, by device and inode: the
// real path of inner (of its nearest existing ancestor when it does not
// exist yet) and each folder above it are compared with outer (links
// followed). False when outer does not exist.
bool IsSameOrInside(const char* inner, const char* outer);

// The path of the regular file `name` inside `folder`: the exact name
// first, else the first entry whose name matches without regard to ASCII
// letter case. Empty when there is none (or the name holds '/').
std::string FindFileIgnoringCase(const std::string& folder, const std::string& name);

// Whether the folder is an application package: its name ends with ".app"
// or it holds "Contents/Info.plist".
bool IsPackageFolder(const char* path);

// The standard folders, by kind: 0 the executable's folder, 1 the user's
// documents (XDG), 2 the temporary folder ($TMPDIR), 4 and 6
// /usr/local/share, 5 and 7 the user's data folder ($XDG_DATA_HOME), 8 the
// user's desktop (XDG), 9 /opt, 10 /var/cache, 11 $XDG_CACHE_HOME, 12
// $XDG_CONFIG_HOME, 13 $HOME; 3 and 14 on have none (ENOENT, path empty).
// With `create`, kinds 1 and 4 to 12 are created with their parents when
// missing (a failure is returned with the path filled in). The path ends
// with '/'.
int GetSystemFolderPath(int kind, bool create, std::string& outPath);

// Reads the text of a user-dirs.dirs file (lines KEY="VALUE"): the folder
// the first line of that key names, "$HOME" standing for home; empty when
// the key is missing or its value is neither absolute nor under "$HOME".
std::string UserFolderFromDirsText(const std::string& text, const char* key, const std::string& home);

// The entries of one folder as a change watcher compares them: name to
// modification time and folder flag, links not followed, "." ".." and
// ".DS_Store" left out. A folder that cannot be listed gives an empty map.
struct SnapshotEntry {
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
    bool isFolder = false;
};
using FolderSnapshot = std::map<std::string, SnapshotEntry>;
void TakeFolderSnapshot(const std::string& folderKey, FolderSnapshot& outSnapshot);

}  // namespace qelt::plat
