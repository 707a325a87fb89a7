// The copy, move and exchange engine of the platform layer, shared by files,
// folders and the updater. Paths are UTF-8 POSIX texts; every function
// returns 0 or an errno value and changes nothing it was not asked to.
//
// The promises every function keeps:
// - A symbolic link is copied as a link (its text unchanged) and never
//   followed, so a copied tree never reaches outside itself.
// - Modes, owner (where permitted), access and modification times, and the
//   "user." extended attributes travel with a copy.
// - A new item is built beside its destination under a temporary name and
//   renamed into place once complete. The source is never changed by a copy,
//   and an existing destination is replaced only by that final rename (or
//   exchange), so a failure at any step leaves the old item whole.
// - File data moves with copy_file_range (which clones where the file system
//   can); a file system that refuses it (EXDEV, ENOSYS, EOPNOTSUPP, EINVAL),
//   or a copy that ends short, is finished with plain reads and writes.
// Every changing step passes through FaultCheck (platform/PlatFaults.h).
#pragma once

#include <string>

namespace qelt::plat {

// Whether two paths name the same entry (same device and inode, links not
// followed). False when either is missing.
bool IsSameEntry(const char* a, const char* b);

// Copies the file or symbolic link `from` to `to`. An existing `to` gives
// EEXIST unless `replace`; then it is swapped out by the final rename. A
// folder as `from` gives EISDIR; `from` and `to` naming one entry, EINVAL.
int CopyFileItem(const char* from, const char* to, bool replace);

// Copies the whole tree at `from` (a folder; a file or link is copied as by
// CopyFileItem) to `to`, walking it without recursion. The new tree is
// complete before it takes the destination's place: when `replace` and `to`
// exists, the two are exchanged and the old one removed afterwards. EEXIST
// when `to` exists without `replace`; EINVAL when `to` lies inside `from`.
// Its regular files are copied a few at a time on helper threads (as many as
// the process has cores beside its own, at most three), all finished before
// any folder gets its mode and times.
int CopyTree(const char* from, const char* to, bool replace);

// Removes a file, a link, or a folder with everything in it (links are
// removed, never followed). A missing path gives ENOENT.
int RemoveTree(const char* path);

// Moves `from` to `to`. Without `replace` an existing `to` is never replaced
// (renameat2 with RENAME_NOREPLACE: EEXIST); with it, a plain rename. Across
// file systems the item is copied (CopyTree), then the source removed.
int MovePath(const char* from, const char* to, bool replace);

// Swaps the two entries atomically (renameat2 with RENAME_EXCHANGE); both
// must exist on one file system.
int ExchangePaths(const char* a, const char* b);

// Makes the folder `path` as a program's own scratch folder: the marker, an
// empty regular file named `markerName`, is written inside it before the
// folder appears under its name (it is made under a temporary name beside,
// then renamed into place without replacing anything: EEXIST when `path`
// exists). So every folder found under such a name that holds the marker was
// made here, and a folder a user made under the same name never holds it.
int MakeMarkedFolder(const char* path, const char* markerName);

// True when `path` is a folder (a link is not followed) that holds a regular
// file named `markerName`.
bool IsMarkedFolder(const char* path, const char* markerName);

// A free name beside `path` (same folder) for a temporary item: the folder
// of `path`, "/.qlt-", random hexadecimal digits and ".tmp". Nothing is
// created.
std::string SiblingTempName(const char* path);

}  // namespace qelt::plat
