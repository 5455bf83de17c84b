// The built tool on data files, names, devices and port numbers that no one would
// write on purpose: it answers each with its ordinary message and status, quickly,
// and never touches what is not a port.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace talvo::e2e {
namespace {

using Bytes = std::vector<unsigned char>;

const std::string readversion_line = "readversion 02 03 10 20 30 xx 03";
const Bytes readversion_frame{0x02, 0x03, 0x10, 0x20, 0x30, 0x01, 0x03};

// The same bytes on every run, every value among them.
std::string noise(std::size_t count, bool keep_zero_and_cr)
{
    std::string out;
    std::uint32_t state = 0x9E3779B9u;
    while (out.size() < count) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const char c = static_cast<char>(state >> 24);
        if (!keep_zero_and_cr && (c == '\0' || c == '\r')) continue;
        out += c;
    }
    return out;
}

std::string repeated(const std::string& piece, int times)
{
    std::string out;
    for (int k = 0; k < times; ++k) out += piece;
    return out;
}

std::string with_zeros(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (c == '@') c = '\0';
    }
    return out;
}

struct DataCase {
    const char* what;
    std::string content;
    std::string name;  // as given on the command line
    Bytes frame;       // what is sent; empty: the command is not found
    off_t size = 0;    // when larger than the content: the file is extended, sparse
};

const off_t hundred_mb = 100L * 1024 * 1024;

std::vector<DataCase> data_cases()
{
    const std::string eol = "\r\n";
    return {
        {"100 MB file, the command in its first line", readversion_line + eol, "readversion",
         readversion_frame, hundred_mb},
        {"100 MB file, the command after byte 10000",
         std::string(10000, ';') + eol + readversion_line + eol,
         "readversion",
         {},
         hundred_mb},
        {"binary garbage", noise(65536, true), "readversion", {}},
        {"binary garbage without zero or CR, then the command",
         noise(5000, false) + eol + readversion_line + eol, "readversion", readversion_frame},
        {"no CR at all", repeated(readversion_line + "\n", 100), "readversion", {}},
        {"zero byte inside an earlier line",
         with_zeros("a 01@ 02\r\n") + readversion_line + eol,
         "readversion",
         {}},
        {"zero byte in place of each line feed", with_zeros("a 01\r@" + readversion_line + "\r@"),
         "readversion", readversion_frame},
        {"zero bytes after the last line", readversion_line + eol + std::string(100, '\0') + "junk",
         "readversion", readversion_frame},
        {"a line of 1000 tokens", readversion_line + repeated(" ff", 993) + eol, "readversion",
         readversion_frame},
        {"a 100 KB command name",
         readversion_line + eol,
         std::string(std::size_t{100} * 1024, 'N'),
         {}},
        {"name with bytes above 127", "z\xc3\xa4hler 02 01 e4 xx 03\r\n", "Z\xc3\xa4HLER",
         Bytes{0x02, 0x01, 0xe4, 0xe7, 0x03}},
        {"bytes above 127 are not lowercased",
         "z\xc3\xa4hler 02 01 e4 xx 03\r\n",
         "Z\xc3\x84HLER",
         {}},
        {"name of bytes ff and fe", "\xff\xfe 02 00 xx 03\r\n", "\xff\xfe",
         Bytes{0x02, 0x00, 0x02, 0x03}},
    };
}

std::string lowercased(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

class BadInput : public testing::Test {
protected:
    ScratchDir dir;
};

TEST_F(BadInput, DataFilesAndNames)
{
    PhoneSim phone;  // answers every command with the plain success
    ASSERT_FALSE(phone.device.empty());
    int k = 0;
    for (const DataCase& c : data_cases()) {
        SCOPED_TRACE(c.what);
        const std::string file = dir.write("case" + std::to_string(k++) + ".dat", c.content);
        if (c.size > 0) {
            ASSERT_EQ(truncate(file.c_str(), c.size), 0);
        }

        const ToolRun r = run_tool({"-d", phone.device, "-f", file, c.name});
        std::string expected = std::string(banner) + "Port: " + phone.device +
                               ", 19200 bps, input file: " + file + "\n";
        if (c.frame.empty()) {
            expected += "Error: command '" + lowercased(c.name) + "' not found!\n";
        } else {
            const int length = c.frame[1];
            const Bytes answer =
                frame({length >= 1 ? c.frame[2] : Bytes::value_type{0},
                       length >= 2 ? c.frame[3] : Bytes::value_type{0}, 0x01, 0x00});
            expected += "sending command: " + hex_trace(c.frame) +
                        "\nanswer: " + hex_trace(answer) + "\ncommand finished successfully!\n";
        }
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.status, 0);
        EXPECT_LT(r.wall_ms, 2000.0);  // the whole file is never read
    }
}

TEST_F(BadInput, DevicesThatAreNoPorts)
{
    const std::string data_file = dir.write("phone.dat", readversion_line + "\r\n");
    const std::string fifo = dir.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& device : {std::string("/dev/null"), dir.path, fifo}) {
        SCOPED_TRACE(device);
        const ToolRun r = run_tool({"-q", "-d", device, "-f", data_file, "readversion"});
        EXPECT_EQ(r.out, "Error: '" + device + "' not available!\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_LT(r.wall_ms, 2000.0);  // a pipe with no reader would block an open
    }
    // Nothing was left in the pipe.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    char c = 0;
    EXPECT_LE(read(reader, &c, 1), 0);
    close(reader);
}

TEST_F(BadInput, PortNumbersBeyondAnyRange)
{
    // The data file does not exist: were a number taken, the run would stop there,
    // before any port is opened.
    const std::string missing = dir.path + "/missing.dat";
    for (const char* number : {"123456789012345678901234567890", "-123456789012345678901234567890",
                               "4294967298", "  +99999999999999999999999999999x"}) {
        SCOPED_TRACE(number);
        const ToolRun r = run_tool({"-p", number, "-f", missing, "readversion"});
        EXPECT_EQ(r.out, std::string("Illegal paramter format:\n") + usage);
        EXPECT_EQ(r.status, 1);
    }
}

}  // namespace
}  // namespace talvo::e2e
