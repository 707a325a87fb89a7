// Umbrella header of the files folder: includes every public header of it.
#pragma once

#include "files/VStream.h"
#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "files/VBlobStream.h"
#include "files/VFilePath.h"
#include "files/VURL.h"
