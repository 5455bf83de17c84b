// The built tool against phones that misbehave on purpose, and against a real serial
// terminal that competes for the port. Each run must end with the right message and
// status within its deadline, without spinning the processor.

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace talvo::e2e {
namespace {

using Bytes = std::vector<unsigned char>;

// Every command carries the code of its phone rule as its first payload byte.
const char* const data_file_text =
    "flood 02 02 f0 5a xx 03\r\n"
    "garbage 02 02 f1 5a xx 03\r\n"
    "slowok 02 02 f2 5a xx 03\r\n"
    "slowbroken 02 02 f3 5a xx 03\r\n"
    "trail 02 02 f4 5a xx 03\r\n"
    "vanish 02 02 f5 5a xx 03\r\n"
    "unplugged 02 02 f6 5a xx 03\r\n"
    "silent 02 02 f7 5a xx 03\r\n";

Bytes command(unsigned char code)
{
    return {0x02, 0x02, code, 0x5a, static_cast<unsigned char>(0x5a ^ code), 0x03};
}

// 600 bytes full of end bytes, but none at the index that the length byte announces:
// 02 at every index 0, length 10 (end expected at index 19) at every index 1, 55 at
// every index 19, 03 everywhere else. The first byte is no end byte either.
Bytes endless_garbage()
{
    Bytes b(600, 0x03);
    for (std::size_t k = 0; k < b.size(); ++k) {
        if (k % 260 == 0) b[k] = 0x02;
        if (k % 260 == 1) b[k] = 0x10;
        if (k % 260 == 19) b[k] = 0x55;
    }
    return b;
}

// 300 bytes that the phone sends after a good answer; a reader would print them.
Bytes trailing_bytes()
{
    Bytes b;
    for (int k = 0; k < 300; ++k) b.push_back(static_cast<unsigned char>(k % 2 == 0 ? 0x03 : 0x02));
    return b;
}

std::string hex_words(const Bytes& bytes)
{
    std::string text;
    char hex[4];
    for (unsigned char b : bytes) {
        std::snprintf(hex, sizeof hex, " %02x", b);
        text += hex;
    }
    return text;
}

std::string rules_text()
{
    return "f0 = flood 3600\n"
           "f1 = answer" +
           hex_words(endless_garbage()) +
           "\n"
           "f2 = ok gap 380\n"                  // 8 single bytes, 7 pauses: done after 2.66 s
           "f3 = answer 02 00 02 03 gap 900\n"  // 3 pauses of 0.9 s: done after 2.7 s
           "f4 = ok trail" +
           hex_words(trailing_bytes()) +
           "\n"
           "f5 = vanish 3\n"
           "f6 = vanish 0\n"
           "f7 = silent\n";
}

// "answer: " and the bytes, again at each wrap of the 260-byte buffer.
std::string wrapped_trace(const Bytes& bytes)
{
    std::string t;
    for (std::size_t at = 0; at < bytes.size(); at += 260) {
        const std::size_t end = std::min(bytes.size(), at + 260);
        t += "answer: " + hex_trace(Bytes(bytes.begin() + static_cast<long>(at),
                                          bytes.begin() + static_cast<long>(end)));
    }
    return t;
}

class Hostile : public testing::Test {
protected:
    ScratchDir dir;
    std::string data_file = dir.write("hostile.dat", data_file_text);
    std::string rules = dir.write("hostile_rules.txt", rules_text());
    PhoneSim phone{{"-r", rules}};

    void SetUp() override
    {
        ASSERT_FALSE(phone.device.empty());
    }

    std::string header() const
    {
        return std::string(banner) + "Port: " + phone.device +
               ", 19200 bps, input file: " + data_file + "\n";
    }
    static std::string sent(unsigned char code)
    {
        return "sending command: " + hex_trace(command(code)) + "\n";
    }
    ToolRun run(const char* name, int timeout_ms = 10000) const
    {
        return run_tool({"-d", phone.device, "-f", data_file, name}, "", timeout_ms);
    }
};

TEST_F(Hostile, FloodForTheWholeDeadline)
{
    const ToolRun r = run("flood");
    const std::string start = header() + sent(0xf0) + "answer: 55 ";
    const std::string end = "Error: time out!\n";
    ASSERT_GE(r.out.size(), start.size() + end.size());
    EXPECT_EQ(r.out.substr(0, start.size()), start);
    EXPECT_EQ(r.out.substr(r.out.size() - end.size()), end);
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(r.wall_ms, 3000.0);
    EXPECT_LT(r.wall_ms, 4500.0);

    // Nothing but 55s, with "answer: " before each pass through the buffer.
    const std::string body =
        r.out.substr(header().size() + sent(0xf0).size(),
                     r.out.size() - header().size() - sent(0xf0).size() - end.size());
    std::size_t received = 0;
    std::size_t at = 0;
    bool well_formed = true;
    while (at < body.size() && well_formed) {
        if (received % 260 == 0) {
            well_formed = body.compare(at, 8, "answer: ") == 0;
            at += 8;
        }
        well_formed = well_formed && body.compare(at, 3, "55 ") == 0;
        at += 3;
        ++received;
    }
    EXPECT_TRUE(well_formed) << "trace broken after " << received << " bytes";
    // 19200 bps carry 1920 bytes a second: the flood came faster than any phone could.
    EXPECT_GT(received, 3u * 1920u);
}

TEST_F(Hostile, GarbageWithoutAnEndByteWhereExpected)
{
    const ToolRun r = run("garbage");
    EXPECT_EQ(r.out,
              header() + sent(0xf1) + wrapped_trace(endless_garbage()) + "Error: time out!\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(r.wall_ms, 3000.0);
    EXPECT_LT(r.wall_ms, 4500.0);
}

TEST_F(Hostile, SingleBytesWithLongPausesStillInTime)
{
    struct Case {
        const char* name;
        unsigned char code;
        Bytes answer;
        const char* message;
        double last_byte_ms;  // when the phone sends the end byte
    };
    const Case cases[] = {
        {"slowok", 0xf2, frame({0xf2, 0x5a, 0x01, 0x00}), "command finished successfully!\n", 2660},
        {"slowbroken", 0xf3, Bytes{0x02, 0x00, 0x02, 0x03},
         "Error: answer from phone was broken!\n", 2700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun r = run(c.name);
        EXPECT_EQ(r.out,
                  header() + sent(c.code) + "answer: " + hex_trace(c.answer) + "\n" + c.message);
        EXPECT_EQ(r.status, 0);
        EXPECT_GE(r.wall_ms, c.last_byte_ms);
        EXPECT_LT(r.wall_ms, 3500.0);
    }
}

TEST_F(Hostile, BytesAfterTheEndByteAreLeftUnread)
{
    const ToolRun r = run("trail");
    // Had any trailing byte been read, the trace would show it.
    EXPECT_EQ(r.out, header() + sent(0xf4) +
                         "answer: " + hex_trace(frame({0xf4, 0x5a, 0x01, 0x00})) +
                         "\ncommand finished successfully!\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(r.wall_ms, 1500.0);  // done at the end byte, no waiting for the deadline
}

TEST_F(Hostile, PhoneVanishesWithoutSpinning)
{
    struct Case {
        const char* name;
        unsigned char code;
        std::string trace;
    };
    const Case cases[] = {
        {"vanish", 0xf5, "answer: 02 04 F5 "},  // three bytes of the answer, then gone
        {"unplugged", 0xf6, ""},                // gone before the first byte
    };
    // What a run costs that only starts and ends (more under the sanitizers).
    const double start_cost_ms = run_tool({"-h"}).cpu_ms;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PhoneSim own{{"-r", rules}};
        ASSERT_FALSE(own.device.empty());
        const ToolRun r = run_tool({"-d", own.device, "-f", data_file, c.name});
        EXPECT_EQ(r.out, std::string(banner) + "Port: " + own.device + ", 19200 bps, input file: " +
                             data_file + "\n" + sent(c.code) + c.trace + "Error: time out!\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_GE(r.wall_ms, 3000.0);
        EXPECT_LT(r.wall_ms, 4500.0);
        // Some 300 failed reads, each with its short wait: next to no processor time.
        EXPECT_LT(r.cpu_ms - start_cost_ms, 100.0) << "of " << r.cpu_ms << " ms";
        EXPECT_EQ(own.wait_exit(3000), 0);  // the phone really went away
    }
}

// The serial terminal from Debian, on the phone's pseudo-terminal. It locks the port
// as the tool does.
const char* const picocom = "/usr/bin/picocom";

TEST_F(Hostile, PortHeldByASerialTerminalIsNotAvailable)
{
    if (access(picocom, X_OK) != 0) GTEST_SKIP() << "picocom is not installed";
    Background terminal(picocom, {phone.device});
    ASSERT_TRUE(terminal.wait_for_output("Terminal ready", 5000)) << terminal.out;

    ToolRun r = run("trail");
    EXPECT_EQ(r.out, std::string(banner) + "Error: '" + phone.device + "' not available!\n");
    EXPECT_EQ(r.status, 1);
    r = run_tool({"-q", "-d", phone.device, "-f", data_file, "trail"});
    EXPECT_EQ(r.out, "Error: '" + phone.device + "' not available!\n");
    EXPECT_EQ(r.status, 1);

    // Once the terminal has let go, the port is there again.
    EXPECT_EQ(terminal.finish(5000).status, 0);
    r = run_tool({"-q", "-d", phone.device, "-f", data_file, "trail"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Hostile, SerialTerminalCannotTakeThePortFromTheTool)
{
    if (access(picocom, X_OK) != 0) GTEST_SKIP() << "picocom is not installed";
    // A silent phone keeps the tool on the port for its three seconds.
    Background tool(TALVO_CMD_PATH, {"-d", phone.device, "-f", data_file, "silent"});
    ASSERT_TRUE(tool.wait_for_output("sending command: ", 5000)) << tool.out;

    Background terminal(picocom, {"-q", phone.device});
    const ToolRun refused = terminal.finish(5000);
    EXPECT_NE(refused.status, 0) << refused.out;
    EXPECT_NE(refused.out.find("cannot lock"), std::string::npos) << refused.out;

    const ToolRun r = tool.finish(6000);
    EXPECT_EQ(r.out, header() + sent(0xf7) + "Error: time out!\n");
    EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace talvo::e2e
