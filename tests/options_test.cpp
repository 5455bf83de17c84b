// The option table: which argument lists are accepted, what they set, and which are
// refused with which message.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"

namespace talvo {
namespace {

struct OptionCase {
    std::vector<const char*> args;  // after the program name
    ParseOutcome outcome;
    unsigned port = 1;
    int speed = 19200;
    const char* file = "talvo_cmd.dat";
    bool quiet = false;
    bool immediate = false;
    const char* name = nullptr;    // expected command name, when accepted
    const char* device = nullptr;  // expected -d path in force, if any
};

ParseOutcome parse(const std::vector<const char*>& args, RunSettings& s)
{
    std::vector<const char*> argv{"talvo_cmd"};
    argv.insert(argv.end(), args.begin(), args.end());
    return parse_options(static_cast<int>(argv.size()), argv.data(), s);
}

const ParseOutcome ok = ParseOutcome::ok;
const ParseOutcome bad = ParseOutcome::bad_format;
const ParseOutcome bad_speed = ParseOutcome::bad_speed;

const OptionCase option_cases[] = {
    {{"readversion"}, ok, 1, 19200, "talvo_cmd.dat", false, false, "readversion"},
    {{"-p", "2", "x"}, ok, 2, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-P", "8", "-B", "2400", "-F", "a.dat", "-Q", "-I", "x"},
     ok,
     8,
     2400,
     "a.dat",
     true,
     true,
     "x"},
    {{"-p", "abc", "x"}, ok, 0, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-p", "3x", "x"}, ok, 3, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-p", " \t\n+4", "x"}, ok, 4, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-p", "-0", "x"}, ok, 0, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-p", "000000000000000000000000000007", "x"},
     ok,
     7,
     19200,
     "talvo_cmd.dat",
     false,
     false,
     "x"},
    {{"-p", "-q", "x"}, ok, 0, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-p", "9", "x"}, bad},
    {{"-p", "-1", "x"}, bad},
    {{"-p", "4294967297", "x"}, bad},  // would wrap to 1 in 32 bits
    {{"-p", "123456789012345678901234567890", "x"}, bad},
    {{"x", "-p"}, bad},
    {{"-b", "9600", "x"}, ok, 1, 9600, "talvo_cmd.dat", false, false, "x"},
    {{"-b", "4800", "-b", "19200", "x"}, ok, 1, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-b", "300", "x"}, bad_speed},
    {{"-b", "09600", "x"}, bad_speed},
    {{"-q", "-b", "300"}, bad_speed},
    {{"x", "-b"}, bad},
    {{"-f", "-q", "x"}, ok, 1, 19200, "-q", false, false, "x"},
    {{"x", "-f"}, bad},
    {{"-q", "-i", "x"}, ok, 1, 19200, "talvo_cmd.dat", true, true, "x"},
    {{"-qi", "x"}, ok, 1, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-p2", "name"}, ok, 1, 19200, "talvo_cmd.dat", false, false, "name"},
    {{"-qi", "name"}, ok, 1, 19200, "talvo_cmd.dat", false, false, "name"},
    {{"-x", "name"}, ok, 1, 19200, "talvo_cmd.dat", false, false, "name"},
    {{"name", "-x"}, ok, 1, 19200, "talvo_cmd.dat", false, false, "-x"},
    {{""}, ok, 1, 19200, "talvo_cmd.dat", false, false, ""},
    {{"-q"}, ParseOutcome::no_name, 1, 19200, "talvo_cmd.dat", true},
    {{"-q", "-i"}, ParseOutcome::no_name, 1, 19200, "talvo_cmd.dat", true, true},
    {{"-d", "/dev/pts/7", "x"}, ok, 1, 19200, "talvo_cmd.dat", false, false, "x", "/dev/pts/7"},
    {{"-d", "/dev/pts/7", "-p", "3", "x"}, ok, 3, 19200, "talvo_cmd.dat", false, false, "x"},
    {{"-p", "3", "-D", "COM12", "x"}, ok, 3, 19200, "talvo_cmd.dat", false, false, "x", "COM12"},
    {{"x", "-d"}, bad},
    {{"-h"}, ParseOutcome::help},
    {{"--HELP", "-p", "9"}, ParseOutcome::help},
    {{"-p", "9", "-h"}, bad},
};

TEST(Options, TableOfArgumentLists)
{
    for (const OptionCase& c : option_cases) {
        std::string shown;
        for (const char* a : c.args) shown += std::string("[") + a + "]";
        SCOPED_TRACE(shown);
        RunSettings s;
        ASSERT_EQ(parse(c.args, s), c.outcome);
        if (c.outcome != ok && c.outcome != ParseOutcome::no_name) continue;
        EXPECT_EQ(s.port_number, c.port);
        EXPECT_EQ(s.speed, c.speed);
        EXPECT_EQ(s.data_file, c.file);
        EXPECT_EQ(s.quiet, c.quiet);
        EXPECT_EQ(s.immediate, c.immediate);
        EXPECT_EQ(s.has_command_name, c.name != nullptr);
        if (c.name != nullptr) {
            EXPECT_EQ(s.command_name, c.name);
        }
        EXPECT_EQ(s.use_device, c.device != nullptr);
        if (c.device != nullptr) {
            EXPECT_EQ(s.device, c.device);
        }
    }
}

TEST(Options, RefusedOptionStopsBeforeLaterArguments)
{
    RunSettings s;
    ASSERT_EQ(parse({"-b", "300", "-p", "5", "x"}, s), bad_speed);
    EXPECT_EQ(s.port_number, 1u);
    EXPECT_FALSE(s.has_command_name);
}

}  // namespace
}  // namespace talvo
