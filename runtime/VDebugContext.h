// The per-task state of the debug manager: each task carries one, all zero
// when the task is made, and only that task touches it, so it needs no lock.
#pragma once

#include <cstdint>

#include "kernel/VObject.h"

namespace qelt {

class VDebugContext : public VObject {
public:
    VDebugContext() = default;

    // While the low-level count is not 0, asserts and errors are not
    // reported and debug messages take the bare console path.
    void StartLowLevelMode() { ++fLowLevelMode; }
    void StopLowLevelMode() { --fLowLevelMode; }
    bool IsLowLevelMode() const { return fLowLevelMode != 0; }

    // While the quiet flag is set, the notification handler answers "go on"
    // without showing anything.
    void SetQuiet(bool inQuiet) { fQuiet = inQuiet ? 1 : 0; }
    bool IsQuiet() const { return fQuiet != 0; }

    // While the no-break count is not 0, every break is skipped.
    void StartNoBreak() { ++fNoBreak; }
    void StopNoBreak() { --fNoBreak; }
    bool CanBreak() const { return fNoBreak == 0; }

    // Set while the task is inside a report, so that an event raised during
    // the report is not reported again.
    bool IsReporting() const { return fReporting; }
    void SetReporting(bool inReporting) { fReporting = inReporting; }

private:
    int32_t fLowLevelMode = 0;
    int32_t fQuiet = 0;
    int32_t fNoBreak = 0;
    bool fReporting = false;
};

}  // namespace qelt
