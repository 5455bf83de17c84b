// Answer reception and judging, driven by the scripted port and clock: the trace, the
// result codes, the order of the checks and the three-second deadline.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/settings.h"
#include "fake_serial.h"
#include "protocol/answer.h"

namespace talvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A frame 02 L payload.. checksum 03 with the checksum computed.
Bytes frame(const Bytes& payload)
{
    Bytes f{0x02, static_cast<std::uint8_t>(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    std::uint8_t sum = 0;
    for (std::uint8_t b : f) sum ^= b;
    f.push_back(sum);
    f.push_back(0x03);
    return f;
}

Bytes with_byte(Bytes f, std::size_t index, std::uint8_t value)
{
    f[index] = value;
    return f;
}

std::string trace_of(const Bytes& bytes)
{
    std::string t = "answer: ";
    char hex[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X ", b);
        t += hex;
    }
    return t;
}

struct Received {
    AnswerResult result;
    std::string printed;
};

Received receive(const Bytes& bytes, bool quiet = false)
{
    fake::reset();
    settings = RunSettings{};
    settings.quiet = quiet;
    fake::arrive(3, bytes);
    testing::internal::CaptureStdout();
    const AnswerResult result = _get_answer();
    return {result, testing::internal::GetCapturedStdout()};
}

struct AnswerCase {
    const char* what;
    Bytes bytes;
    AnswerResult result;
};

const Bytes ok_frame = frame({0x10, 0x20, 0x01, 0x00});

const AnswerCase answer_cases[] = {
    {"success", ok_frame, ANSWER_OK},
    {"status E rejects", frame({0x10, 0x20, 0x01, 0x45}), ANSWER_INVALID_COMMAND},
    {"status E with a longer payload", frame({0x10, 0x20, 0x01, 0x45, 0x99}),
     ANSWER_INVALID_COMMAND},
    {"status v with L = 4 is no data", frame({0x10, 0x20, 0x01, 0x76}), ANSWER_NO_DATA},
    {"status v with L = 5 is success", frame({0x10, 0x20, 0x01, 0x76, 0x00}), ANSWER_OK},
    {"wrong checksum", with_byte(ok_frame, 6, 0x00), ANSWER_BAD_CHECKSUM},
    {"wrong byte 4 is tested before the checksum", with_byte(with_byte(ok_frame, 4, 0x07), 6, 0x00),
     ANSWER_BROKEN},
    {"wrong byte 4 with its checksum right", frame({0x10, 0x20, 0x00, 0x00}), ANSWER_BROKEN},
    {"wrong start byte, end byte in place", with_byte(ok_frame, 0, 0x55), ANSWER_BROKEN},
    {"0x03 as the very first byte", Bytes{0x03}, ANSWER_BROKEN},
    {"L = 1: byte 4 is the end byte", frame({0x10}), ANSWER_BROKEN},
    {"L = 2: byte 4 is the checksum", frame({0x10, 0x20}), ANSWER_BROKEN},
    {"a 0x03 before the end index is payload", frame({0x03, 0x03, 0x01, 0x00, 0x03}), ANSWER_OK},
};

TEST(Answer, ResultTable)
{
    for (const AnswerCase& c : answer_cases) {
        SCOPED_TRACE(c.what);
        const Received r = receive(c.bytes);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.printed, trace_of(c.bytes) + "\n");
        EXPECT_EQ(answer_buffer.write_position, 0);
    }
}

TEST(Answer, QuietPrintsNothing)
{
    EXPECT_EQ(receive(ok_frame, true).printed, "");
    EXPECT_EQ(receive(Bytes{0x02, 0x04}, true).printed, "");
}

TEST(Answer, SilenceTimesOutWithoutOutput)
{
    const Received r = receive({});
    EXPECT_EQ(r.result, ANSWER_TIMEOUT);
    EXPECT_EQ(r.printed, "");
}

TEST(Answer, PartialAnswerLeavesItsTraceOpen)
{
    const Received r = receive({0x02, 0x04, 0x10});
    EXPECT_EQ(r.result, ANSWER_TIMEOUT);
    EXPECT_EQ(r.printed, "answer: 02 04 10 ");
    EXPECT_EQ(answer_buffer.write_position, 3);
}

// The clock moves 1 ms per empty read: the last byte arrives exactly at the deadline
// or one millisecond after it.
Received end_byte_at(std::uint64_t elapsed_ms)
{
    fake::reset();
    settings = RunSettings{};
    fake::serial.empty_read_ms = 1;
    fake::arrive(0, Bytes(ok_frame.begin(), ok_frame.end() - 1));
    fake::arrive(elapsed_ms, {0x03});
    testing::internal::CaptureStdout();
    const AnswerResult result = _get_answer();
    return {result, testing::internal::GetCapturedStdout()};
}

TEST(Answer, DeadlineIsStrict)
{
    EXPECT_EQ(end_byte_at(3000).result, ANSWER_OK);
    EXPECT_EQ(fake::serial.last_read_elapsed_ms, 3000u);

    const Received late = end_byte_at(3001);
    EXPECT_EQ(late.result, ANSWER_TIMEOUT);
    EXPECT_EQ(fake::serial.last_read_elapsed_ms, 3000u);  // no read once 3001 ms have passed
    EXPECT_EQ(fake::unread(), 1u);
}

TEST(Answer, BytesAfterTheEndByteStayUnread)
{
    Bytes stream = ok_frame;
    stream.insert(stream.end(), {0xaa, 0xbb, 0xcc});
    EXPECT_EQ(receive(stream).result, ANSWER_OK);
    EXPECT_EQ(fake::unread(), 3u);
}

TEST(Answer, SingleLeadingZeroIsShownButNotStored)
{
    Bytes stream{0x00};
    stream.insert(stream.end(), ok_frame.begin(), ok_frame.end());
    const Received r = receive(stream);
    EXPECT_EQ(r.result, ANSWER_OK);
    EXPECT_EQ(r.printed, trace_of(stream) + "\n");
}

TEST(Answer, OnlyTheFirstByteMayBeALeadingZero)
{
    // 00 00 02 ..: the second zero is stored at index 0 and the frame is misread.
    Bytes stream{0x00, 0x00};
    stream.insert(stream.end(), ok_frame.begin(), ok_frame.end());
    EXPECT_EQ(receive(stream).result, ANSWER_TIMEOUT);
}

TEST(Answer, EndlessBytesWrapTheBufferUntilTheDeadline)
{
    const Received r = receive(Bytes(600, 0x55));
    EXPECT_EQ(r.result, ANSWER_TIMEOUT);
    // "answer: " again at each wrap, on the same line.
    std::string expected;
    for (int pass = 0; pass < 3; ++pass) expected += trace_of(Bytes(pass < 2 ? 260 : 80, 0x55));
    EXPECT_EQ(r.printed, expected);
    EXPECT_EQ(answer_buffer.write_position, 80);
}

TEST(Answer, LaterPassThroughTheBufferCanComplete)
{
    Bytes stream(260, 0x55);
    stream.insert(stream.end(), ok_frame.begin(), ok_frame.end());
    const Received r = receive(stream);
    EXPECT_EQ(r.result, ANSWER_OK);
    EXPECT_EQ(r.printed, trace_of(Bytes(260, 0x55)) + trace_of(ok_frame) + "\n");
}

}  // namespace
}  // namespace talvo
