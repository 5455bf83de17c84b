// The frame shared by commands and answers:
//   02, L, L payload bytes, XOR checksum of everything before it, 03.
#pragma once

#include <cstdint>

namespace talvo {

constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ETX = 0x03;
constexpr int FRAME_BUFFER_SIZE = 260;  // the largest frame (L = 255) is 259 bytes

struct CommandFrame {
    std::uint8_t bytes[FRAME_BUFFER_SIZE] = {};
    int fill_index = 0;  // where the next byte from the data file goes
};

// The frame of this run.
extern CommandFrame command_frame;

// XORs bytes 0 to L+1 onto byte L+2 (L is byte 1); does not clear byte L+2 first.
void _calc_checksum();

// Sends bytes 0 to L+3 in one write, with the send trace unless quiet.
void _send_command();

}  // namespace talvo
