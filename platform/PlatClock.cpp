#include "platform/PlatClock.h"

#include <time.h>

namespace qelt::plat {

uint64_t MonotonicNanoseconds()
{
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t MonotonicMicroseconds() { return MonotonicNanoseconds() / 1000ull; }

uint64_t MonotonicMilliseconds() { return MonotonicNanoseconds() / 1000000ull; }

}  // namespace qelt::plat
