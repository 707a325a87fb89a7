// Executables and applications found by name, and symbolic links.
#pragma once

#include <string>
#include <vector>

namespace qelt::plat {

// The longest candidate path tried (longer candidates are skipped).
constexpr size_t kMaxExecutablePath = 1024;

// True when path names a regular file that the effective user, with the
// effective group and the supplementary groups, may execute.
bool IsExecutableFile(const std::string& path);

// Finds an executable the way a shell does. A name holding '/' is resolved
// (realpath) and tested. Otherwise each element of searchPath (':'-separated,
// as in PATH) is tried in order; an empty element means the current folder.
// outPath gets the full path found. A null or empty searchPath finds nothing.
bool SearchExecutable(const std::string& name, const char* searchPath, std::string& outPath);

// The folders searched for application bundles, in order: the user's
// "Applications" folder, then "/Applications" and "/usr/local/Applications".
std::vector<std::string> ApplicationFolders();

// Finds the bundle folder appName (for example "Tool.app") in the
// application folders; outPath gets its full path.
bool FindApplicationBundle(const std::string& appName, std::string& outPath);

// Makes a symbolic link at linkPath pointing to target: 0 or the errno value.
int MakeSymbolicLink(const char* target, const char* linkPath);

}  // namespace qelt::plat
