// Milliseconds since the process started: the time base of the answer deadline.
// One implementation per platform, next to the port; tests link a scripted one.
#pragma once

#include <cstdint>

namespace talvo {

std::uint64_t _clock_ms();

}  // namespace talvo
