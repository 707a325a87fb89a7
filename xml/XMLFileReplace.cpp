#include "xml/XMLFileReplace.h"

#include <string>

#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "platform/PlatFileOps.h"
#include "platform/PlatUTF8.h"
#include "runtime/VErrorContext.h"

namespace qelt {

VError WriteFileBesideAndRename(const VFile& inTarget, const std::function<VError(const VFile&)>& inWrite)
{
    VString path;
    inTarget.GetPlatformPath(path, FPS_POSIX);
    const std::string posix =
        plat::UTF16ToUTF8(path.GetCPointer(), static_cast<size_t>(path.GetLength()), plat::UTF8Mode::kPath);
    const std::string tempPosix = plat::SiblingTempName(posix.c_str());
    // The temporary name is ASCII and lies in the target's folder: the
    // folder part is kept as the target's own text.
    VString tempPath(path);
    tempPath.Truncate(tempPath.FindUniChar('/', tempPath.GetLength(), true));
    tempPath.AppendCString(tempPosix.c_str() + tempPosix.rfind('/') + 1);
    VRefPtr<VFile> temp = AdoptRef(new VFile(tempPath, FPS_POSIX));
    VError error = inWrite(*temp);
    if (error == 0)
        error = temp->Move(inTarget, kFileOptionReplace);
    if (error != 0) {
        StErrorContextInstaller quiet(false, true);
        temp->Delete();
    }
    return error;
}

}  // namespace qelt
