// The phone's answer: reception into a 260-byte ring, the three-second deadline,
// and the checks that classify a complete frame.
#pragma once

#include <cstdint>

namespace talvo {

constexpr int ANSWER_BUFFER_SIZE = 260;
constexpr std::uint64_t ANSWER_DEADLINE_MS = 3000;  // still read at 3000, give up at 3001

struct AnswerBuffer {
    std::uint8_t bytes[ANSWER_BUFFER_SIZE] = {};
    int write_position = 0;      // wraps to 0 after 259
    int expected_end_index = 0;  // L + 3 once the length byte has been stored
};

using AnswerResult = int;

enum : AnswerResult {
    ANSWER_OK = 0,
    ANSWER_TIMEOUT = 1,
    ANSWER_PROM_WRITE_ERROR = 2,
    ANSWER_INVALID_COMMAND = 3,
    ANSWER_FIELD_OUT_OF_RANGE = 4,
    ANSWER_BROKEN = 5,
    ANSWER_BAD_CHECKSUM = 6,
    ANSWER_NO_DATA = 7,
    ANSWER_ABORTED = 8,
    ANSWER_UNKNOWN_ERROR = 9,
};

// Description of each code, in code order.
extern const char* const answer_result_text[10];

// The answer of this run.
extern AnswerBuffer answer_buffer;

// Receives the answer (trace unless quiet) and judges it.
AnswerResult _get_answer();

// Judges the buffer's current contents.
AnswerResult _check_answer();

}  // namespace talvo
