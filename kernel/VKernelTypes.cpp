#include "kernel/VKernelTypes.h"

namespace qelt {

static_assert(FourCC("qelt") == 0x71656C74u, "four-character codes are big-endian");
static_assert(VErrorNumber(QeltError(-1)) == -1, "error numbers read as signed");

}  // namespace qelt
