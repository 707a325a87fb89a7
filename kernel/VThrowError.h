// Raising an error from any floor of the toolbox: the kernel and the values
// call it with an error code and its text parameters, without naming the
// error objects or the task that keeps them. runtime/VErrorBase.cpp defines
// it on top of the task's error stack.
#pragma once

#include "kernel/VKernelTypes.h"

namespace qelt {

class VString;

// Raises the error `code` on the current task's error stack, with up to three
// text parameters ("p1", "p2", "p3"). Does nothing while the process object
// does not exist.
void _ThrowError(VError code, const VString* p1 = nullptr, const VString* p2 = nullptr,
                 const VString* p3 = nullptr);

}  // namespace qelt
