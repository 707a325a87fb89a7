#include "runtime/VScheduler_void.h"

namespace qelt {

VScheduler_void::~VScheduler_void() = default;

}  // namespace qelt
