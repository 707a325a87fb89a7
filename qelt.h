// The whole toolbox.
#pragma once

#include "platform/platform.h"
#include "kernel/kernel.h"
#include "values/values.h"
#include "runtime/runtime.h"
#include "files/files.h"
#include "json/json.h"
#include "process/process.h"
#include "xml/xml.h"
