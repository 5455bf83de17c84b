// The one serial port of a run: open, configure, move bytes, release.
// One implementation per platform; the rest of the tool sees only these calls.
#pragma once

#include <cstdint>

namespace talvo {

// Opens COM<port_number> at the speed of the run settings. 1 on success, 0 on failure.
int _open_port(unsigned port_number);

// Opens the named serial device instead of a numbered COM port. 1 on success, 0 on failure.
int _open_device(const char* device_name);

// Applies speed, 8N1, raw binary transfer, no flow control, DTR and RTS on.
// Called by the opening; its outcome is not reported.
int _set_line(int speed);

// Writes count bytes and returns once they have left the system's queues.
// Returns the number written, 0 on failure.
std::uint32_t _write_port(const std::uint8_t* bytes, std::uint32_t count);

// Reads up to count bytes: at once when one is waiting, else after a wait of about
// 10 ms. Returns the number read; 0 when nothing came, on failure, or when count is 0.
std::uint32_t _read_port(std::uint8_t* buffer, std::uint32_t count);

// Drops DTR, discards pending input and releases the port.
void _close_port();

}  // namespace talvo
