// Hex tokens of a command line, one frame byte each.

#include <cstring>

#include "datafile/command.h"
#include "protocol/frame.h"

namespace talvo {

const char* _next_token(const char* position)
{
    if (position == nullptr) return nullptr;
    position = std::strpbrk(position, " \t");
    if (position == nullptr) return nullptr;
    position += std::strspn(position, " \t");
    return *position == '\0' ? nullptr : position;
}

void _add_byte(const char* token)
{
    // The frame holds 260 bytes; tokens beyond it are dropped. Only L + 4 <= 259 bytes
    // are ever sent, so what goes out is the same.
    if (command_frame.fill_index >= FRAME_BUFFER_SIZE) return;
    std::uint8_t& byte = command_frame.bytes[command_frame.fill_index];
    byte = 0;
    // Only the first two characters count; "xx" there (also as the second and third,
    // as in 5xx) is the checksum placeholder.
    for (int k = 0; k < 2; ++k) {
        const char c = token[k];
        if (c >= '0' && c <= '9') {
            byte = static_cast<std::uint8_t>(byte * 16 + (c - '0'));
        } else if (c >= 'a' && c <= 'f') {
            byte = static_cast<std::uint8_t>(byte * 16 + (c - 'a' + 10));
        } else if (c == 'x' && token[k + 1] == 'x') {
            _calc_checksum();
            break;
        }
    }
    ++command_frame.fill_index;
}

}  // namespace talvo
