// Milliseconds from the clock's first reading, from the performance counter: the tick
// count moves in steps of about 16 ms, too coarse for the read's 10 ms wait.
//
// The first reading in a run is the one the answer wait takes as its start, so a
// reading of 3001 means that 3001 whole milliseconds have really passed; counted from
// another base, two whole-millisecond readings could differ by 3001 a little after
// 3000 ms.

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

}  // namespace

std::uint64_t _clock_ms()
{
    // Whole seconds and the rest apart, so that the product cannot overflow.
    static const std::uint64_t first_reading = counter_now();
    const std::uint64_t elapsed = counter_now() - first_reading;
    return elapsed / ticks_per_second * 1000u +
           elapsed % ticks_per_second * 1000u / ticks_per_second;
}

}  // namespace talvo
