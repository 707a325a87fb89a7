// Small file operations of the updater that report their failures as errors
// with path parameters.
#pragma once

#include "files/VFilePath.h"
#include "kernel/VKernelTypes.h"

namespace qelt {
class VFolder;
class VString;
}  // namespace qelt

// Copies one file, creating the destination's folder with its parents first;
// 'UPVq' 8 with "srcPath" and "dstPath" when the copy fails.
qelt::VError RobustCopyFile(const qelt::VFilePath& inSource, const qelt::VFilePath& inDestination,
                            unsigned int inOptions);

// Copies the contents of one folder into another, creating the destination.
// A missing source gives 'qelt' 650 with its "path".
bool RobustCopyFolderContent(const qelt::VFolder& inSource, const qelt::VFolder& inDestination,
                             unsigned int inOptions);
bool RobustCopyFolderContent(const qelt::VFilePath& inSource, const qelt::VFilePath& inDestination,
                             unsigned int inOptions);

// The first file of the folder (in the iterator's order) whose extension is
// inExtension; 'qelt' 600 when there is none, 'qelt' 3 for a path that is
// not a valid folder path.
qelt::VError FindFileByExt(const qelt::VFolder& inFolder, const qelt::VString& inExtension,
                           qelt::VFilePath& outPath);
qelt::VError FindFileByExt(const qelt::VFilePath& inFolder, const qelt::VString& inExtension,
                           qelt::VFilePath& outPath);
