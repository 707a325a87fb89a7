// Umbrella header of the runtime folder: includes every public header of it.
#pragma once

#include "runtime/ILocalizer.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorTexts.h"
#include "runtime/VErrorContext.h"
#include "runtime/VSpinLock.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VConditionVariable.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/VScheduler_void.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacStackCrawl.h"
#include "runtime/mac/XMacTask.h"
#include "runtime/mac/XMacTaskMgr.h"
#include "runtime/mac/XMacFiber.h"
#include "runtime/mac/XMacTask_fiber.h"
