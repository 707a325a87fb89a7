#include "kernel/mac/XBSDSystem.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "platform/PlatExecutables.h"
#include "runtime/VErrorBase.h"

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
