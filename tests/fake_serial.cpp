#include "fake_serial.h"

#include "protocol/answer.h"
#include "protocol/frame.h"
#include "serial/clock.h"
#include "serial/port.h"

namespace talvo {

namespace fake {

FakeSerial serial;

void reset()
{
    serial = FakeSerial{};
    command_frame = CommandFrame{};
    answer_buffer = AnswerBuffer{};
}

void arrive(std::uint64_t after_ms, const std::vector<std::uint8_t>& bytes)
{
    for (std::uint8_t b : bytes) serial.incoming.push_back({serial.now_ms + after_ms, b});
}

std::size_t unread()
{
    return serial.incoming.size() - serial.next_incoming;
}

}  // namespace fake

using fake::serial;

std::uint64_t _clock_ms()
{
    return serial.now_ms;
}

int _open_port(unsigned)
{
    ++serial.open_calls;
    return 1;
}

int _open_device(const char*)
{
    ++serial.open_calls;
    return 1;
}

int _set_line(int)
{
    return 1;
}

std::uint32_t _write_port(const std::uint8_t* bytes, std::uint32_t count)
{
    serial.written.insert(serial.written.end(), bytes, bytes + count);
    return count;
}

std::uint32_t _read_port(std::uint8_t* buffer, std::uint32_t count)
{
    ++serial.reads;
    serial.last_read_elapsed_ms = serial.now_ms - serial.start_ms;
    if (count == 0) return 0;
    if (serial.next_incoming < serial.incoming.size() &&
        serial.incoming[serial.next_incoming].at_ms <= serial.now_ms) {
        buffer[0] = serial.incoming[serial.next_incoming++].value;
        return 1;
    }
    serial.now_ms += serial.empty_read_ms;
    return 0;
}

void _close_port()
{
    ++serial.close_calls;
}

}  // namespace talvo
