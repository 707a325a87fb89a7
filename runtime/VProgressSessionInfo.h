// A summary of an indicator for an observer: the outermost record, the
// innermost enclosing one and the innermost one (fewer for short chains),
// the session count, the completion fraction and the changes stamp.
#pragma once

#include <cstdint>

#include "runtime/VProgressIndicatorInfo.h"

namespace qelt {

struct VProgressSessionInfo {
    VProgressIndicatorInfo fFirst;
    VProgressIndicatorInfo fSecond;
    VProgressIndicatorInfo fThird;
    int32_t fSessionCount = 0;
    int32_t fFilledCount = 0;
    float fPercentDone = 0;
    int32_t fChangesStamp = 0;
};

}  // namespace qelt
