// The file-object forms of the international manager's localisation folder
// lookups: they live with the folder objects, which the kernel does not see.
#include "files/VFile.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "kernel/VIntlMgr.h"
#include "platform/PlatFolders.h"

namespace qelt {

bool VIntlMgr::GetLocalizationFoldersWithDialect(unsigned int inDialect, const VFilePath& inPath,
                                                 std::vector<VRefPtr<VFolder>>& ioFolders)
{
    if (!inPath.IsValid())
        return false;
    VFilePath folderPath;
    if (!inPath.GetFolder(folderPath))
        folderPath = inPath;
    VString posix;
    folderPath.GetPosixPath(posix);
    std::vector<VString> found;
    GetLocalizationFolderPathsWithDialect(inDialect, posix, found);
    for (const VString& text : found) {
        VString folderText(text);
        if (folderText.IsEmpty() || folderText.GetUniChar(folderText.GetLength()) != '/')
            folderText.AppendUniChar('/');
        VFilePath path(folderText, FPS_POSIX);
        if (path.IsValid())
            ioFolders.push_back(AdoptRef(new VFolder(path, nullptr)));
    }
    return !ioFolders.empty();
}

VFile* VIntlMgr::RetainLocalizationFile(const VFilePath& inPath, const VString& inFileName, unsigned int inDialect,
                                        bool* outFound)
{
    std::vector<VRefPtr<VFolder>> folders;
    const bool any = GetLocalizationFoldersWithDialect(inDialect, inPath, folders);
    if (outFound != nullptr)
        *outFound = any;
    std::string name;
    XMacFile::EncodePathText(inFileName.GetCPointer(), inFileName.GetLength(), name);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        std::string path = plat::FindFileIgnoringCase((*it)->GetPlatform().GetPosixText(), name);
        if (path.empty())
            continue;
        VFilePath filePath;
        XMacFile::GetFilePathFromPosixPath(path.c_str(), false, filePath);
        if (filePath.IsValid())
            return new VFile(filePath);
    }
    return nullptr;
}

}  // namespace qelt
