// Helpers of the folder tests.
#pragma once

#include <string>

#include "FileTestSupport.h"
#include "files/VFolder.h"

namespace qelt::test {

// A folder object on a POSIX path, with or without its final '/'.
inline VRefPtr<VFolder> FolderAt(const std::string& posix)
{
    return AdoptRef(new VFolder(PosixToPath(posix.back() == '/' ? posix : posix + "/"), nullptr));
}

}  // namespace qelt::test
