// Receiving the phone's answer byte by byte and judging it.

#include <cstdio>

#include "cli/settings.h"
#include "protocol/answer.h"
#include "protocol/frame.h"
#include "serial/clock.h"
#include "serial/port.h"

namespace talvo {

AnswerBuffer answer_buffer;

const char* const answer_result_text[10] = {
    "no error",
    "timeout while waiting for answer",
    "prom write error: wrong field length",
    "invalid command code",
    "field number out of range",
    "answer string was broken",
    "checksum invalid",
    "field does not contain data",
    "operation was aborted",
    "unknown error",
};

AnswerResult _check_answer()
{
    const std::uint8_t* b = answer_buffer.bytes;
    const int length = b[1];
    if (b[0] != STX || b[length + 3] != ETX) return ANSWER_BROKEN;
    if (b[4] != 0x01) return ANSWER_BROKEN;
    std::uint8_t sum = 0;
    for (int i = 0; i <= length + 1; ++i) sum ^= b[i];
    if (sum != b[length + 2]) return ANSWER_BAD_CHECKSUM;
    if (b[5] == 0x45) return ANSWER_INVALID_COMMAND;
    if (b[5] == 0x76 && length == 4) return ANSWER_NO_DATA;
    return ANSWER_OK;
}

AnswerResult _get_answer()
{
    AnswerBuffer& a = answer_buffer;
    const bool trace = !settings.quiet;
    const std::uint64_t start = _clock_ms();
    bool done = false;
    bool first_byte = true;     // a single 00 ahead of the answer is shown, not stored
    bool prefix_shown = false;  // ... and then "answer: " is not repeated for index 0

    for (;;) {
        if (_clock_ms() - start > ANSWER_DEADLINE_MS) break;
        if (done) break;
        std::uint8_t byte = 0;
        if (_read_port(&byte, 1) == 0) {
            if (trace) std::fflush(stdout);  // the line is idle: show what came so far
            continue;
        }
        if (first_byte) {
            first_byte = false;
            if (byte == 0x00) {
                if (trace) std::fputs("answer: 00 ", stdout);
                prefix_shown = true;
                continue;
            }
        }
        a.bytes[a.write_position] = byte;
        if (a.write_position == 0 && trace && !prefix_shown) std::fputs("answer: ", stdout);
        prefix_shown = false;
        if (a.write_position == 1) a.expected_end_index = byte + 3;
        if (trace) std::printf("%02hX ", static_cast<unsigned short>(byte));
        if (a.write_position == a.expected_end_index && byte == ETX) {
            done = true;
            if (trace) std::fputs("\n", stdout);
        }
        if (++a.write_position == ANSWER_BUFFER_SIZE) a.write_position = 0;
    }

    if (!done) return ANSWER_TIMEOUT;
    a.write_position = 0;
    return _check_answer();
}

}  // namespace talvo
