// Fault injection for the file operations of the platform layer.
//
// In builds made with the tests (compile definition QELT_FAULT_INJECTION,
// switched on by the CMake option of the same name, which follows
// QELT_TESTS; demo and installed builds leave it off), every changing step
// of the file engine (copy, move, exchange, trash, removal, descriptor
// writes) asks FaultCheck first. Without the definition FaultCheck is an
// inline 0 and the environment is never read.
//
// The variable QELT_TEST_FAULTS holds rules separated by ',':
//
//     OPERATION:N:ACTION      act on the N-th call (counted from 1)
//     OPERATION:N+:ACTION     act on the N-th call and every later one
//
// OPERATION is one of the names below, or "change", which counts every
// changing step whatever its name. ACTION is an errno name ("ENOSPC",
// "EXDEV", "EIO", ...) or a decimal errno value, which the step then fails
// with as if the system had answered so, or "kill", which sends SIGKILL to
// the process at that step (before it is carried out).
//
// Operation names: "open" (a file created or opened for writing), "copy"
// (one data transfer of a file copy: copy_file_range), "write" (one
// read/write block of a copy, one descriptor write), "mkdir", "symlink",
// "meta" (modes, times, extended attributes of a copy), "rename" (a rename
// or move into place), "exchange", "unlink", "rmdir", "trash" (the record
// of a trashed item).
//
// Example: QELT_TEST_FAULTS="copy:1:EXDEV,rename:2:kill". Counters start
// when the variable is first read; ResetFaults reads it again and restarts
// them (tests set the variable, then call it).
#pragma once

namespace qelt::plat {

#ifdef QELT_FAULT_INJECTION
// 0 to go on; else the errno value the step must fail with. May not return
// (rule "kill").
int FaultCheck(const char* operation);
// Reads QELT_TEST_FAULTS again and sets every counter back to 0.
void ResetFaults();
constexpr bool kFaultInjection = true;
#else
inline int FaultCheck(const char*) { return 0; }
inline void ResetFaults() {}
constexpr bool kFaultInjection = false;
#endif

}  // namespace qelt::plat
