// Monotonic clock of the platform layer: time since an arbitrary fixed point,
// never going backwards, unaffected by changes of the wall clock.
#pragma once

#include <cstdint>

namespace qelt::plat {

// Milliseconds of the monotonic clock.
uint64_t MonotonicMilliseconds();

// Microseconds of the monotonic clock.
uint64_t MonotonicMicroseconds();

// Nanoseconds of the monotonic clock.
uint64_t MonotonicNanoseconds();

}  // namespace qelt::plat
