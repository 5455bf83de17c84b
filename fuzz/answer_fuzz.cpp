// Any byte stream from the phone, with pauses, through the reception rules and the
// checks, on the scripted port and clock: one input runs in microseconds.
//
// Input: one byte of settings (bit 0: quiet; bits 1-4: how many milliseconds an empty
// read waits, 1 to 16), then the stream. FF FF is the byte FF; FF n (n below FF) is a
// pause of n * 16 ms before the next byte, so that the deadline can be reached.
//
// Checked on every input:
//  - the result is one of 0, 1, 3, 5, 6, 7;
//  - the write position stays in 0 to 259, the expected end index at most 258;
//  - the bytes taken from the port, replayed through a separate model of the ring,
//    give the same buffer; a complete frame ends exactly with the last byte taken,
//    and its result is the model's judgement of that buffer;
//  - a time-out comes only after more than 3000 ms, with no complete frame taken.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

#include "cli/settings.h"
#include "fake_serial.h"
#include "invariant.h"
#include "protocol/answer.h"

using namespace talvo;

namespace {

struct Model {
    std::uint8_t bytes[260] = {};
    int position = 0;
    int end_index = 0;
    long complete_at = -1;  // index of the byte that completed the frame
};

// The ring as the phone's bytes fill it: a single leading 00 is dropped, the length
// byte at index 1 sets where the end byte must come.
Model replay(const std::vector<fake::TimedByte>& stream, std::size_t taken)
{
    Model m;
    for (std::size_t k = 0; k < taken; ++k) {
        const std::uint8_t b = stream[k].value;
        if (k == 0 && b == 0x00) continue;
        m.bytes[m.position] = b;
        if (m.position == 1) m.end_index = b + 3;
        const bool complete = m.position == m.end_index && b == 0x03;
        m.position = (m.position + 1) % 260;
        if (complete) {
            m.complete_at = static_cast<long>(k);
            break;
        }
    }
    return m;
}

AnswerResult judge(const std::uint8_t* b)
{
    const int length = b[1];
    const bool framed = b[0] == 0x02 && b[length + 3] == 0x03 && b[4] == 0x01;
    if (!framed) return 5;
    const std::uint8_t sum =
        std::accumulate(b, b + length + 2, std::uint8_t{0}, [](std::uint8_t x, std::uint8_t y) {
            return static_cast<std::uint8_t>(x ^ y);
        });
    if (sum != b[length + 2]) return 6;
    if (b[5] == 'E') return 3;
    if (b[5] == 'v' && length == 4) return 7;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    fake::reset();
    settings = RunSettings{};
    settings.quiet = (data[0] & 1) != 0;
    fake::serial.empty_read_ms = 1 + ((data[0] >> 1) & 15);

    std::uint64_t at = fake::serial.now_ms;
    std::size_t i = 1;
    while (i < size) {
        if (data[i] == 0xff && i + 1 < size) {
            const std::uint8_t n = data[i + 1];
            i += 2;
            if (n == 0xff)
                fake::serial.incoming.push_back({at, 0xff});
            else
                at += std::uint64_t{16} * n;
            continue;
        }
        fake::serial.incoming.push_back({at, data[i++]});  // a lone FF at the end is FF
    }

    const std::uint64_t start = fake::serial.now_ms;
    const AnswerResult result = _get_answer();
    const std::uint64_t elapsed = fake::serial.now_ms - start;
    const AnswerBuffer& a = answer_buffer;

    check(result == 0 || result == 1 || result == 3 || result == 5 || result == 6 || result == 7,
          "result is one that reception returns");
    check(a.write_position >= 0 && a.write_position < ANSWER_BUFFER_SIZE,
          "write position in 0..259");
    check(a.expected_end_index >= 0 && a.expected_end_index <= 258, "expected end index <= 258");

    const std::size_t taken = fake::serial.next_incoming;
    const Model m = replay(fake::serial.incoming, taken);
    check(std::memcmp(m.bytes, a.bytes, sizeof m.bytes) == 0, "buffer as the model fills it");
    check(m.end_index == a.expected_end_index, "expected end index as the model has it");
    if (result == ANSWER_TIMEOUT) {
        check(m.complete_at < 0, "no complete frame before a time-out");
        check(elapsed > ANSWER_DEADLINE_MS, "a time-out only after 3000 ms");
        check(a.write_position == m.position, "write position kept at a time-out");
    } else {
        check(taken > 0 && m.complete_at == static_cast<long>(taken) - 1,
              "the frame ends with the last byte taken");
        check(fake::serial.incoming[taken - 1].at_ms - start <= ANSWER_DEADLINE_MS,
              "the end byte came in time");
        check(a.write_position == 0, "write position back at 0");
        check(result == judge(a.bytes), "result as the model judges the frame");
    }
    return 0;
}
