// Milliseconds since process start, from the monotonic clock.

#include <time.h>

#include "serial/clock.h"

namespace talvo {

namespace {

std::uint64_t monotonic_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

const std::uint64_t process_start_ms = monotonic_ms();

}  // namespace

std::uint64_t _clock_ms()
{
    return monotonic_ms() - process_start_ms;
}

}  // namespace talvo
