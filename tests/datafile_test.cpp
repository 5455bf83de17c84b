// Data-file lookup and tokens: which line a name finds, and the exact frame it sends.

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/settings.h"
#include "datafile/command.h"
#include "fake_serial.h"
#include "protocol/frame.h"

namespace talvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct RunOutput {
    std::string printed;
    Bytes sent;
};

// Runs the command name against a data file holding `content`, in immediate mode so
// that only the lookup and the frame are exercised.
RunOutput run(const std::string& content, const char* name)
{
    fake::reset();
    settings = RunSettings{};
    settings.quiet = true;
    settings.immediate = true;
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    std::fwrite(content.data(), 1, content.size(), file);
    testing::internal::CaptureStdout();
    _run_command(file, name);
    RunOutput out{testing::internal::GetCapturedStdout(), fake::serial.written};
    std::fclose(file);
    return out;
}

struct LookupCase {
    const char* what;
    std::string content;
    const char* name;
    std::optional<Bytes> sent;  // nullopt: not found
};

const std::optional<Bytes> not_found = std::nullopt;

std::string with_nul(const char* a, const char* b)
{
    return std::string(a) + '\0' + b;
}

const LookupCase lookup_cases[] = {
    {"plain line with placeholder", "readversion 02 03 10 20 30 xx 03\r\n", "readversion",
     Bytes{0x02, 0x03, 0x10, 0x20, 0x30, 0x01, 0x03}},
    {"file lowercased, XX placeholder", "ReadVersion 02 03 10 20 30 XX 03\r\n", "readversion",
     Bytes{0x02, 0x03, 0x10, 0x20, 0x30, 0x01, 0x03}},
    {"name is a prefix of a longer name", "readall 02 00 xx 03\r\nread 02 01 aa xx 03\r\n", "read",
     Bytes{0x02, 0x00, 0x02, 0x03}},
    {"first of two definitions", "r 02 00 xx 03\r\nr 02 01 aa xx 03\r\n", "r",
     Bytes{0x02, 0x00, 0x02, 0x03}},
    {"name holding a blank", "read all 02 00\r\n", "read all", Bytes{0x0a, 0x02, 0x00, 0, 0, 0}},
    {"empty name takes first non-comment line", "; c\r\n\r\nread 02 00 xx 03\r\n", "",
     Bytes{0, 0, 0, 0}},
    {"blank lines skipped", "\r\n\r\nread 02 00 xx 03\r\n", "read", Bytes{0x02, 0x00, 0x02, 0x03}},
    {"comment lines skipped",
     "#read 02 01 01 xx 03\r\n;read 02 01 02 xx 03\r\nread 02 00 xx 03\r\n", "read",
     Bytes{0x02, 0x00, 0x02, 0x03}},
    {"name starting with a comment character", "#read 02 00 xx 03\r\n", "#read", not_found},
    {"leading blanks never match", " read 02 00 xx 03\r\n", "read", not_found},
    {"only the name", "ping\r\n", "ping", Bytes{0, 0, 0, 0}},
    {"token forms", "t 02 04 5 0a1 zz 0x41 xx 03\r\n", "t",
     Bytes{0x02, 0x04, 0x05, 0x0a, 0x00, 0x00, 0x09, 0x03}},
    {"tabs and runs of blanks", "t\t02 \t 00\t\txx   03\r\n", "t", Bytes{0x02, 0x00, 0x02, 0x03}},
    {"5xx at the checksum place", "t 02 01 10 5xx 03\r\n", "t",
     Bytes{0x02, 0x01, 0x10, 0x16, 0x03}},
    {"placeholder before the checksum place", "read 02 03 10 xx 20 30 03\r\n", "read",
     Bytes{0x02, 0x03, 0x10, 0x00, 0x20, 0x30, 0x03}},
    {"placeholder after the checksum place", "read 02 01 10 20 xx 03\r\n", "read",
     Bytes{0x02, 0x01, 0x10, 0x33, 0x00}},
    {"L = 0", "z 02 00 xx 03\r\n", "z", Bytes{0x02, 0x00, 0x02, 0x03}},
    {"fewer bytes than L + 4", "s 02 03 10\r\n", "s", Bytes{0x02, 0x03, 0x10, 0, 0, 0, 0}},
    {"more bytes than L + 4", "m 02 00 xx 03 aa bb\r\n", "m", Bytes{0x02, 0x00, 0x02, 0x03}},
    {"LF-only file finds nothing", "read 02 00 xx 03\nread 02 00 xx 03\n", "read", not_found},
    {"last line without CR", "read 02 00 xx 03", "read", not_found},
    {"CR-only lines lose their first character", "a 02 00 xx 03\rread 02 00 xx 03\r", "ead",
     Bytes{0x02, 0x00, 0x02, 0x03}},
    {"CR-only: the intact name is gone", "a 02 00 xx 03\rread 02 00 xx 03\r", "read", not_found},
    {"zero byte inside a line ends the scan", with_nul("a", "b\r\nread 02 00 xx 03\r\n"), "read",
     not_found},
    {"zero byte after a CR is skipped", with_nul("a 01\r", "read 02 00 xx 03\r\n"), "read",
     Bytes{0x02, 0x00, 0x02, 0x03}},
    {"zero byte ends the lowercasing", with_nul("a\r", "READ 02 00 xx 03\r\n"), "read", not_found},
    {"empty file", "", "read", not_found},
    {"line reaching past byte 10000", std::string(9985, ';') + "\r\nread 02 00 xx 03\r\n", "read",
     not_found},
    {"line ending just inside byte 10000", std::string(9980, ';') + "\r\nread 02 00 xx 03\r\n",
     "read", Bytes{0x02, 0x00, 0x02, 0x03}},
};

TEST(DataFile, LookupAndFrameTable)
{
    for (const LookupCase& c : lookup_cases) {
        SCOPED_TRACE(c.what);
        const RunOutput out = run(c.content, c.name);
        if (c.sent) {
            EXPECT_EQ(out.printed, "");
            EXPECT_EQ(out.sent, *c.sent);
        } else {
            EXPECT_EQ(out.printed, std::string("Error: command '") + c.name + "' not found!\n");
            EXPECT_TRUE(out.sent.empty());
        }
    }
}

TEST(DataFile, LargestFrameIsSentWhole)
{
    std::string line = "big 02 ff";
    std::uint8_t sum = 0x02 ^ 0xff;
    Bytes expected{0x02, 0xff};
    for (int i = 0; i < 255; ++i) {
        char token[8];
        std::snprintf(token, sizeof token, " %02x", i);
        line += token;
        sum ^= static_cast<std::uint8_t>(i);
        expected.push_back(static_cast<std::uint8_t>(i));
    }
    expected.push_back(sum);
    expected.push_back(0x03);
    const RunOutput out = run(line + " xx 03\r\n", "big");
    EXPECT_EQ(out.sent.size(), 259u);
    EXPECT_EQ(out.sent, expected);
}

TEST(DataFile, SurplusTokensStayOutsideTheFrame)
{
    // The frame fills up with ff; placeholders beyond its end must not touch it.
    std::string line = "long 02 01 aa xx 03";
    for (int i = 5; i < FRAME_BUFFER_SIZE; ++i) line += " ff";
    for (int i = 0; i < 745; ++i) line += " 5xx";
    const RunOutput out = run(line + "\r\n", "long");
    EXPECT_EQ(out.sent, (Bytes{0x02, 0x01, 0xaa, 0xa9, 0x03}));
    EXPECT_EQ(command_frame.fill_index, FRAME_BUFFER_SIZE);
}

TEST(DataFile, TracesTheFrameAndReportsTheAnswer)
{
    fake::reset();
    settings = RunSettings{};
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("readversion 02 03 10 20 30 xx 03\r\n", file);
    fake::arrive(5, {0x02, 0x04, 0x10, 0x20, 0x01, 0x00, 0x37, 0x03});
    testing::internal::CaptureStdout();
    _run_command(file, "readversion");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "sending command: 02 03 10 20 30 01 03 \n"
              "answer: 02 04 10 20 01 00 37 03 \n"
              "command finished successfully!\n");
    std::fclose(file);
}

}  // namespace
}  // namespace talvo
