// Replacing a file's content safely: the new content is written to a new
// file beside the target, which is then renamed over it. A failure at any
// step leaves the old file whole and removes the new one.
#pragma once

#include <functional>

#include "kernel/VKernelTypes.h"

namespace qelt {

class VFile;

// inWrite fills the file it is given (the temporary one) and answers its
// error.
VError WriteFileBesideAndRename(const VFile& inTarget, const std::function<VError(const VFile&)>& inWrite);

}  // namespace qelt
