// Small file operations of the updater that report their failures as errors
// with path parameters.
#include "updater/UpdaterFileHelpers.h"

#include "files/VFile.h"
#include "files/VFileIterator.h"
#include "files/VFolder.h"
#include "updater/UpdaterLog.h"

using namespace qelt;

namespace {

// Creates the folder with its parents when missing; the creation's error,
// raised again with the folder's path, when that fails.
VError EnsureFolder(const VFolder& inFolder)
{
    if (inFolder.Exists())
        return 0;
    VError error = inFolder.CreateRecursive();
    if (error != 0)
        ThrowErrorWithPath(error, inFolder.GetPath());
    return error;
}

}  // namespace

VError RobustCopyFile(const VFilePath& inSource, const VFilePath& inDestination, unsigned int inOptions)
{
    VFilePath folderPath(inDestination);
    folderPath.ToFolder();
    VRefPtr<VFolder> folder = AdoptRef(new VFolder(folderPath));
    if (VError error = EnsureFolder(*folder); error != 0)
        return error;
    VRefPtr<VFile> source = AdoptRef(new VFile(inSource));
    VFile* copy = nullptr;
    VError error = source->CopyTo(inDestination, &copy, inOptions);
    ReleaseRefCountable(copy);
    if (error != 0)
        return ThrowErrorWithPaths(VE_UPD_COPY_FILE_FAILED, inSource, inDestination);
    return 0;
}

bool RobustCopyFolderContent(const VFolder& inSource, const VFolder& inDestination, unsigned int inOptions)
{
    if (!inSource.Exists()) {
        ThrowErrorWithPath(QeltError(650), inSource.GetPath());
        return false;
    }
    if (EnsureFolder(inDestination) != 0)
        return false;
    VFolder destination(inDestination);
    VError error = inSource.CopyContentsTo(destination, inOptions);
    if (error != 0) {
        ThrowErrorWithPath(error, inDestination.GetPath());
        return false;
    }
    return true;
}

bool RobustCopyFolderContent(const VFilePath& inSource, const VFilePath& inDestination, unsigned int inOptions)
{
    VRefPtr<VFolder> source = AdoptRef(new VFolder(inSource));
    VRefPtr<VFolder> destination = AdoptRef(new VFolder(inDestination));
    return RobustCopyFolderContent(*source, *destination, inOptions);
}

VError FindFileByExt(const VFolder& inFolder, const VString& inExtension, VFilePath& outPath)
{
    outPath.Clear();
    for (VFileIterator file(&inFolder, kIterateFiles); file.IsValid(); ++file) {
        VString extension;
        file->GetPath().GetExtension(extension);
        if (extension.EqualToString(inExtension, false)) {
            outPath.FromFilePath(file->GetPath());
            return 0;
        }
    }
    return QeltError(600);
}

VError FindFileByExt(const VFilePath& inFolder, const VString& inExtension, VFilePath& outPath)
{
    if (!inFolder.IsValid() || !inFolder.IsFolder() || inFolder.GetPath(FPS_SYSTEM).IsEmpty())
        return QeltError(3);
    VRefPtr<VFolder> folder = AdoptRef(new VFolder(inFolder));
    return FindFileByExt(*folder, inExtension, outPath);
}
