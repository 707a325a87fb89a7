// Full paths. RealPath gives the resolved path of an item, as the system
// sees it: the item is opened without being read (O_PATH) and its
// descriptor's path is read back from /proc/self/fd. Links inside the path
// are resolved, "." and ".." steps and repeated '/' are gone.
// FullPathFromWorkingFolder only places a text: it touches nothing on disk.
#pragma once

#include <string>

namespace qelt::plat {

// The full path of the item at inPath; a symbolic link as the last element
// is followed unless inFollowLastLink is false (the link itself is named).
// A path given with a trailing '/' keeps one. 0, or the errno value (the
// path is then cleared).
int RealPath(const char* inPath, bool inFollowLastLink, std::string& outPath);

// The process's working folder (empty when it cannot be read, for example
// because it was removed).
std::string CurrentFolder();

// The text as a full path: a text beginning with '/' as it is, any other
// joined to the working folder with one '/'. Nothing is resolved or looked
// at on disk. False, with the path cleared, when the text is relative and
// the working folder cannot be read.
bool FullPathFromWorkingFolder(const std::string& inPath, std::string& outPath);

}  // namespace qelt::plat
