// Umbrella header of the kernel folder: includes every public header of it.
#pragma once

#include "kernel/VKernelTypes.h"
