// A scripted serial port and clock for unit tests: bytes become readable at given
// milliseconds, and every empty read moves the clock on by one read wait.
#pragma once

#include <cstdint>
#include <vector>

namespace talvo::fake {

struct TimedByte {
    std::uint64_t at_ms;  // readable from this clock reading on
    std::uint8_t value;
};

struct FakeSerial {
    std::uint64_t now_ms = 1000;       // what _clock_ms() answers
    std::uint64_t empty_read_ms = 10;  // how far an empty read moves the clock
    std::vector<TimedByte> incoming;   // in arrival order
    std::size_t next_incoming = 0;
    std::vector<std::uint8_t> written;  // everything _write_port was given
    int open_calls = 0;
    int close_calls = 0;
    int reads = 0;
    std::uint64_t last_read_elapsed_ms = 0;  // clock at the last read, minus start_ms
    std::uint64_t start_ms = 1000;
};

extern FakeSerial serial;

// Resets the port, the clock (to 1000 ms) and the frame and answer buffers.
void reset();

// Makes bytes readable all at once, `after_ms` after the current clock reading.
void arrive(std::uint64_t after_ms, const std::vector<std::uint8_t>& bytes);

std::size_t unread();

}  // namespace talvo::fake
