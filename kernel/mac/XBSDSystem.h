// The portable side of the system services: the shell-style search of an
// executable by name, and symbolic links.
#pragma once

#include "kernel/VKernelTypes.h"

namespace qelt {

class VString;
class VFilePath;

class XBSDSystem {
public:
    // Finds the executable file of name as a shell does: a name holding '/'
    // is resolved and tested, any other name is looked for in the folders of
    // the "PATH" environment variable, in order. True with outPosixPath set
    // to the full POSIX path found; false with outPosixPath emptied.
    static bool SearchExecutablePath(const VString& inName, VString& outPosixPath);
    // The same as a file path, byte for byte whatever the names' encoding;
    // false with the path cleared.
    static bool SearchExecutablePath(const VString& inName, VFilePath& outPath);

    // Makes a symbolic link at linkPath pointing to target. Returns 0, or the
    // 'POSX' error of the system, which is also raised on the task's error stack.
    static VError CreateSymbolicLink(const char* inTarget, const char* inLinkPath);
};

}  // namespace qelt
