// Umbrella header of the process folder: includes every public header of it.
#pragma once

#include "process/VProcess.h"
#include "process/VCommandLineOptions.h"
#include "process/VCommandLineParser.h"
#include "process/VProcessIPC.h"
#include "process/VArrayOf.h"
#include "process/VComponentManager.h"
#include "process/VBootLogListener.h"
#include "process/VProcessLauncher.h"
