// Umbrella header of the process folder: includes every public header of it.
#pragma once

#include "process/VProcess.h"
#include "process/VBootLogListener.h"
