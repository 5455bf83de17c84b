// The built tool against the simulated phone on a pseudo-terminal: whole standard
// output byte for byte, and the exit status.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace talvo::e2e {
namespace {

using Bytes = std::vector<unsigned char>;

const char* const data_file_text =
    "; commands for the end-to-end runs\r\n"
    "readversion 02 03 10 20 30 xx 03\r\n"
    "reject 02 02 e0 5a xx 03\r\n"
    "nodata 02 02 e1 5a xx 03\r\n"
    "badsum 02 02 e2 5a xx 03\r\n"
    "broken 02 02 e3 5a xx 03\r\n"
    "silent 02 02 e4 5a xx 03\r\n"
    "lead 02 02 e5 5a xx 03\r\n";

const char* const rules_text =
    "# what the phone does, by the command's first payload byte\n"
    "e0 = reject\n"
    "e1 = nodata\n"
    "e2 = badsum\n"
    "e3 = broken\n"
    "e4 = silent\n"
    "e5 = lead00\n";

// The command frames of the data file above, and the simulated phone's answers.
const Bytes readversion_frame{0x02, 0x03, 0x10, 0x20, 0x30, 0x01, 0x03};
// The other commands carry two payload bytes, a code and 5a; the phone echoes both.
Bytes coded_command(unsigned char code)
{
    return {0x02, 0x02, code, 0x5a, static_cast<unsigned char>(0x5a ^ code), 0x03};
}

class EndToEnd : public testing::Test {
protected:
    ScratchDir dir;
    std::string data_file = dir.write("phone.dat", data_file_text);
    std::string rules = dir.write("rules.txt", rules_text);

    // The tool's output up to its send trace, with -d device.
    static std::string header(const std::string& device, const std::string& file)
    {
        return std::string(banner) + "Port: " + device + ", 19200 bps, input file: " + file + "\n";
    }
    static std::string sent(const Bytes& frame)
    {
        return "sending command: " + hex_trace(frame) + "\n";
    }
    static std::string answered(const Bytes& frame)
    {
        return "answer: " + hex_trace(frame) + "\n";
    }
};

TEST_F(EndToEnd, SuccessWithWholeTrace)
{
    PhoneSim phone({"-r", rules});
    ASSERT_FALSE(phone.device.empty());
    const ToolRun run = run_tool({"-d", phone.device, "-f", data_file, "readversion"});
    EXPECT_EQ(run.out, header(phone.device, data_file) + sent(readversion_frame) +
                           answered(frame({0x10, 0x20, 0x01, 0x00})) +
                           "command finished successfully!\n");
    EXPECT_EQ(run.status, 0);
}

struct OutcomeCase {
    const char* name;
    Bytes answer;
    const char* message;
};

TEST_F(EndToEnd, EachAnswerOutcome)
{
    Bytes bad_sum = frame({0xe2, 0x5a, 0x01, 0x00});
    bad_sum[6] ^= 0xff;
    Bytes lead{0x00};
    const Bytes ok_after_lead = frame({0xe5, 0x5a, 0x01, 0x00});
    lead.insert(lead.end(), ok_after_lead.begin(), ok_after_lead.end());
    const OutcomeCase cases[] = {
        {"reject", frame({0xe0, 0x5a, 0x01, 0x45}), "Error: command rejected from phone!\n"},
        {"nodata", frame({0xe1, 0x5a, 0x01, 0x76}), "command finished successfully!\n"},
        {"badsum", bad_sum, "Error: checksum in answer was wrong!\n"},
        {"broken", frame({0xe3, 0x5a, 0x00, 0x00}), "Error: answer from phone was broken!\n"},
        {"lead", lead, "command finished successfully!\n"},
    };
    PhoneSim phone({"-r", rules});
    ASSERT_FALSE(phone.device.empty());
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = run_tool({"-d", phone.device, "-f", data_file, c.name});
        const unsigned char first = c.answer[c.answer[0] == 0x00 ? 3 : 2];
        EXPECT_EQ(run.out, header(phone.device, data_file) + sent(coded_command(first)) +
                               answered(c.answer) + c.message);
        EXPECT_EQ(run.status, 0);
    }
}

TEST_F(EndToEnd, QuietShowsOnlyErrors)
{
    PhoneSim phone({"-r", rules});
    ToolRun run = run_tool({"-q", "-d", phone.device, "-f", data_file, "readversion"});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 0);
    run = run_tool({"-d", phone.device, "-f", data_file, "reject", "-q"});
    EXPECT_EQ(run.out, "Error: command rejected from phone!\n");
    EXPECT_EQ(run.status, 0);
    run = run_tool({"-q", "-d", phone.device, "-f", data_file, "NoSuch"});
    EXPECT_EQ(run.out, "Error: command 'nosuch' not found!\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(EndToEnd, TimeOutAfterThreeSeconds)
{
    PhoneSim phone({"-r", rules});
    const ToolRun run = run_tool({"-d", phone.device, "-f", data_file, "silent"});
    EXPECT_EQ(run.out,
              header(phone.device, data_file) + sent(coded_command(0xe4)) + "Error: time out!\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_GE(run.wall_ms, 3000.0);
}

TEST_F(EndToEnd, ImmediateSendsAndLeaves)
{
    // The phone ends after one exchange: proof that the frame arrived whole.
    PhoneSim phone({"-r", rules, "-n", "1"});
    const ToolRun run = run_tool({"-i", "-d", phone.device, "-f", data_file, "READVERSION"});
    EXPECT_EQ(run.out, header(phone.device, data_file) + sent(readversion_frame));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(phone.wait_exit(3000), 0);
}

TEST_F(EndToEnd, CommandNotFoundStillOpensThePort)
{
    PhoneSim phone({"-r", rules});
    const ToolRun run = run_tool({"-d", phone.device, "-f", data_file, "ReadAll"});
    EXPECT_EQ(run.out, header(phone.device, data_file) + "Error: command 'readall' not found!\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(EndToEnd, DefaultDataFileInTheWorkingFolder)
{
    dir.write("talvo_cmd.dat", data_file_text);
    PhoneSim phone;
    const ToolRun run = run_tool({"-q", "-d", phone.device, "readversion"}, dir.path);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 0);
}

TEST_F(EndToEnd, PortThatCannotBeOpened)
{
    PhoneSim phone;
    ASSERT_FALSE(phone.device.empty());
    const int holder = open(phone.device.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    ToolRun run = run_tool({"-d", phone.device, "-f", data_file, "readversion"});
    EXPECT_EQ(run.out, std::string(banner) + "Error: '" + phone.device + "' not available!\n");
    EXPECT_EQ(run.status, 1);
    close(holder);

    run = run_tool({"-p", "0", "-f", data_file, "readversion"});
    EXPECT_EQ(run.out, std::string(banner) + "Error: 'com0' not available!\n");
    EXPECT_EQ(run.status, 1);

    // A regular file is no port, and it is left as it was.
    const std::string plain = dir.write("plain.bin", "unchanged");
    run = run_tool({"-q", "-d", plain, "-f", data_file, "readversion"});
    EXPECT_EQ(run.out, "Error: '" + plain + "' not available!\n");
    EXPECT_EQ(run.status, 1);
    std::ifstream in(plain, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "unchanged");
}

// -p 2 opens /dev/ttyS1. The run happens in a private mount namespace whose /dev is
// an empty scratch file system with only ttyS1 in it, bound to the phone's
// pseudo-terminal: no real serial device can be reached, whatever goes wrong.
TEST_F(EndToEnd, NumberedPortInAPrivateNamespace)
{
    PhoneSim phone({"-r", rules});
    ASSERT_FALSE(phone.device.empty());
    const std::string holder = dir.write("ttyS1", "");
    const std::string script =
        "set -e\n"
        "mount --bind \"$1\" \"$2\"\n"
        "mount -t tmpfs talvo-dev /dev\n"
        "touch /dev/ttyS1\n"
        "mount --bind \"$2\" /dev/ttyS1\n"
        "[ \"$(stat -L -c %t /dev/ttyS1)\" = 88 ]\n"  // a pseudo-terminal (major 136)
        "shift 2\n"
        "exec \"$@\"\n";
    const ToolRun probe =
        run_program("/usr/bin/unshare", {"-m", "--propagation", "private", "true"});
    if (probe.status != 0) GTEST_SKIP() << "no private mount namespace here";
    const ToolRun run =
        run_program("/usr/bin/unshare",
                    {"-m", "--propagation", "private", "/bin/sh", "-c", script, "sh", phone.device,
                     holder, TALVO_CMD_PATH, "-p", "2", "-f", data_file, "readversion"});
    EXPECT_EQ(run.out, std::string(banner) + "Port: com2, 19200 bps, input file: " + data_file +
                           "\n" + sent(readversion_frame) +
                           answered(frame({0x10, 0x20, 0x01, 0x00})) +
                           "command finished successfully!\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(EndToEnd, SetUpFailuresAndUsage)
{
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const std::string missing = dir.path + "/missing.dat";
    const Case cases[] = {
        {{}, std::string(banner) + usage, 0},
        {{"-h"}, std::string(banner) + usage, 0},
        {{"-q", "-b", "300", "x"}, std::string("Illegal parameter format:\n") + usage, 1},
        {{"-p", "9", "x"}, std::string("Illegal paramter format:\n") + usage, 1},
        {{"x", "-f"}, std::string("Illegal paramter format:\n") + usage, 1},
        {{"-q"}, std::string("Error: no command name given!\n") + usage, 1},
        {{"-f", missing, "x"},
         std::string(banner) + "Error: datafile '" + missing + "' not found.\n",
         1},
        {{"-q", "-f", missing, "x"}, "Error: datafile '" + missing + "' not found.\n", 1},
        {{"-q", "-f", dir.path, "x"}, "Error: datafile '" + dir.path + "' not found.\n", 1},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args) shown += "[" + a + "]";
        SCOPED_TRACE(shown);
        const ToolRun run = run_tool(c.args);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.status, c.status);
    }
}

}  // namespace
}  // namespace talvo::e2e
