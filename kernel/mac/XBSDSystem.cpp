#include "kernel/mac/XBSDSystem.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "platform/PlatExecutables.h"
#include "kernel/VThrowError.h"

namespace qelt {

bool XBSDSystem::SearchExecutablePath(const VString& inName, VString& outPosixPath)
{
    std::string found;
    StStringConverter<char> name(inName, VTC_UTF_8);
    if (name.IsOK() && name.GetSize() > 0) {
        std::string bytes(name.GetCPointer(), name.GetSize());
        if (!plat::SearchExecutable(bytes, std::getenv("PATH"), found))
            found.clear();
    }
    if (found.empty()) {
        outPosixPath.Clear();
        return false;
    }
    outPosixPath.FromBlock(found.data(), static_cast<unsigned long>(found.size()), VTC_UTF_8);
    return true;
}

bool XBSDSystem::SearchExecutablePath(const VString& inName, VFilePath& outPath)
{
    std::string name;
    XMacFile::EncodePathText(inName.GetCPointer(), inName.GetLength(), name);
    std::string found;
    if (!name.empty() && plat::SearchExecutable(name, std::getenv("PATH"), found)) {
        XMacFile::GetFilePathFromPosixPath(found.c_str(), false, outPath);
        if (outPath.IsValid())
            return true;
    }
    outPath.Clear();
    return false;
}

VError XBSDSystem::CreateSymbolicLink(const char* inTarget, const char* inLinkPath)
{
    int result = plat::MakeSymbolicLink(inTarget, inLinkPath);
    if (result == 0)
        return VE_OK;
    VError error = PosixError(result);
    _ThrowError(error);
    return error;
}

}  // namespace qelt
