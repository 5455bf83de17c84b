// The simulated phone's end of the line: a pseudo-terminal whose slave the tool
// opens as its serial port, the writes onto it, and the waits, which all end early
// on SIGINT or SIGTERM.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvo {

// Makes SIGINT and SIGTERM end every wait below; ignores SIGPIPE.
bool install_stop_signals();
bool stop_requested();

// CLOCK_MONOTONIC in nanoseconds.
std::int64_t now_ns();

// Sleeps until the absolute CLOCK_MONOTONIC time; false if a stop came first.
bool sleep_until(std::int64_t deadline_ns);

// Opens the master and the slave (held open for life, raw) and, when link_path is
// not null, points a symbolic link there. Prints why on stderr and returns false.
bool open_line(const char* link_path);

const char* line_path();
int line_master();

// Closes both ends and removes the link if it still points at this line.
void close_line();

// Waits for command bytes: 1 readable, 0 timeout (-1 waits for ever), -1 stopped.
int wait_readable(int timeout_ms);

// Writes all of it, through partial writes and a full pty; false if stopped or the
// line failed.
bool write_all(const std::uint8_t* bytes, std::size_t count);

// Writes byte k at t0 + k * step_ns (step 0: all in one write). Stores the time the
// write of byte `mark` returned in mark_ns when mark is in range.
bool write_paced(const std::uint8_t* bytes, std::size_t count, std::int64_t t0_ns,
                 std::int64_t step_ns, int mark, std::int64_t& mark_ns);

// 0x55 as fast as the line takes it until the deadline; returns the bytes written.
std::size_t write_flood(std::int64_t until_ns);

// Waits, at most cap_ms, until the reader has taken every byte of the slave's input
// (or flushed it), so that closing the master does not throw an answer away.
void wait_until_read(int cap_ms);

}  // namespace talvo
