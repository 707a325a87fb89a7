#include "kernel/VMemCppImpl_stdlib.h"

namespace qelt {

VMemCppImpl_stdlib::~VMemCppImpl_stdlib() = default;

}  // namespace qelt
