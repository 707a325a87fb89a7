// Umbrella header of the platform folder: includes every public header of it.
#pragma once

#include "platform/PlatThreads.h"
#include "platform/PlatBundle.h"
#include "platform/PlatMemory.h"
#include "platform/PlatClock.h"
#include "platform/PlatSync.h"
#include "platform/PlatBacktrace.h"
#include "platform/PlatString.h"
#include "platform/PlatTextEncoding.h"
#include "platform/PlatTime.h"
#include "platform/PlatProcesses.h"
#include "platform/PlatNotification.h"
#include "platform/PlatUUID.h"
#include "platform/PlatLocale.h"
#include "platform/PlatMachine.h"
#include "platform/PlatExecutables.h"
#include "platform/PlatDebug.h"
