// Whole milliseconds from a fixed base: the time base of the answer deadline, which
// uses only the difference of two readings. (POSIX takes its first reading as the base.)
// One implementation per platform, next to the port; tests link a scripted one.
#pragma once

#include <cstdint>

namespace talvo {

std::uint64_t _clock_ms();

}  // namespace talvo
