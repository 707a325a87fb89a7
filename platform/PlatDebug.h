// Debugger presence and breaks of the platform layer, and the C-locale
// dates of the debug manager's asserts file.
#pragma once

#include <string>

namespace qelt::plat {

// True when a tracer (a debugger) is attached: TracerPid of
// /proc/self/status is not 0.
bool IsTracerAttached();

// Breaks into the debugger: raises SIGTRAP while a tracer is attached;
// without one, ends the process with status 1 (nothing would catch the trap).
void BreakIntoDebugger();

// Ends the process at once with the status: the C streams are flushed, but
// no static destructor runs, since other threads may still be using what
// they would destroy.
[[noreturn]] void EndProcess(int status);

// The current local time formatted with strftime in the C locale, whatever
// the process locale is; empty when the time cannot be formatted.
std::string FormatLocalTimeC(const char* format);

}  // namespace qelt::plat
