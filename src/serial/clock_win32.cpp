// Milliseconds since process start, from the performance counter: the tick count
// moves in steps of about 16 ms, too coarse for the read's 10 ms wait.

#include <windows.h>

#include "serial/clock.h"

namespace talvo {

namespace {

std::uint64_t counter_now()
{
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart);
}

std::uint64_t counter_frequency()
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? static_cast<std::uint64_t>(frequency.QuadPart) : 1u;
}

const std::uint64_t ticks_per_second = counter_frequency();
const std::uint64_t process_start = counter_now();

}  // namespace

std::uint64_t _clock_ms()
{
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const std::uint64_t elapsed = counter_now() - process_start;
    return elapsed / ticks_per_second * 1000u +
           elapsed % ticks_per_second * 1000u / ticks_per_second;
}

}  // namespace talvo
