// The user's trash, as the freedesktop.org trash specification lays it out.
//
// An item on the file system of the user's data folder ($XDG_DATA_HOME, else
// $HOME/.local/share) goes to "$XDG_DATA_HOME/Trash/files", its record to
// "Trash/info/<name>.trashinfo" with the item's absolute path. An item on
// another file system goes to the trash at the top of that file system:
// "$topdir/.Trash/$uid" when the administrator made "$topdir/.Trash" (a real
// folder with the sticky bit), else "$topdir/.Trash-$uid", with a path
// relative to $topdir. The record is created first with O_EXCL, which
// reserves the name; the item is then renamed into place (never replacing
// anything), and the record is removed again when that fails.
#pragma once

#include <string>

namespace qelt::plat {

// Moves the file, link or folder at `path` to the trash. 0, or an errno
// value with the item untouched: ENOENT when it is missing, ENOTSUP when no
// usable trash exists for it. outTrashed, when given, receives the item's
// path inside the trash.
int MoveToTrash(const char* path, std::string* outTrashed = nullptr);

// The "Path=" value of a trash record: every byte but the unreserved ones
// (letters, digits, "-._~") and '/' written as %XX.
std::string EncodeTrashPath(const std::string& path);

}  // namespace qelt::plat
