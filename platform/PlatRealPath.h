// The resolved path of an item, as the system sees it: the item is opened
// without being read (O_PATH) and its descriptor's path is read back from
// /proc/self/fd. Links inside the path are resolved, "." and ".." steps and
// repeated '/' are gone.
#pragma once

#include <string>

namespace qelt::plat {

// The full path of the item at inPath; a symbolic link as the last element
// is followed unless inFollowLastLink is false (the link itself is named).
// A path given with a trailing '/' keeps one. 0, or the errno value (the
// path is then cleared).
int RealPath(const char* inPath, bool inFollowLastLink, std::string& outPath);

}  // namespace qelt::plat
