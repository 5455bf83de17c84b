// The command frame: its checksum and its sending.

#include <cstdio>

#include "cli/settings.h"
#include "protocol/frame.h"
#include "serial/port.h"

namespace talvo {

CommandFrame command_frame;

void _calc_checksum()
{
    const int length = command_frame.bytes[1];
    for (int i = 0; i <= length + 1; ++i) command_frame.bytes[length + 2] ^= command_frame.bytes[i];
}

void _send_command()
{
    const std::uint32_t count = command_frame.bytes[1] + 4u;
    if (!settings.quiet) {
        std::fputs("sending command: ", stdout);
        for (std::uint32_t i = 0; i < count; ++i) std::printf("%02X ", command_frame.bytes[i]);
        std::fflush(stdout);  // the trace stands before the answer comes in
    }
    _write_port(command_frame.bytes, count);
    if (!settings.quiet) std::fputs("\n", stdout);
}

}  // namespace talvo
