// Milliseconds from the clock's first reading, from the monotonic clock.
//
// The first reading in a run is the one the answer wait takes as its start. Counting
// from it, a reading of 3001 means that 3001 whole milliseconds have really passed.
// With a base elsewhere (the process start, say) readings tick over at that base's
// phase, and the difference of two of them can reach 3001 when only a little more
// than 3000 ms have passed.

#include <time.h>

#include <cstdint>

#include "serial/clock.h"

namespace talvo {

namespace {

std::int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

std::uint64_t _clock_ms()
{
    static const std::int64_t first_reading_ns = monotonic_ns();
    return static_cast<std::uint64_t>((monotonic_ns() - first_reading_ns) / 1000000);
}

}  // namespace talvo
