// Umbrella header of the files folder: includes every public header of it.
#pragma once

#include "files/VStream.h"
#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "files/VBlobStream.h"
#include "files/VFilePath.h"
#include "files/VURL.h"
#include "files/VFileError.h"
#include "files/IFileSystemObject.h"
#include "files/IFile.h"
#include "files/VFileDesc.h"
#include "files/VFile.h"
#include "files/VFileKind.h"
#include "files/VFileKindManager.h"
#include "files/VResourceFile.h"
#include "files/VFileStream.h"
