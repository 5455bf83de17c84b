// Running the built tool and the simulated phone as processes, for end-to-end tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace talvo::e2e {

// A scratch folder that lives as long as the object.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    std::string write(const std::string& name, const std::string& content) const;
};

// The simulated phone on a fresh pseudo-terminal.
struct PhoneSim {
    pid_t pid = -1;
    int stdout_fd = -1;
    std::string device;  // the pseudo-terminal's slave path that it printed
    // Extra options, e.g. {"-r", rules_path}; waits for the "phone: " line.
    explicit PhoneSim(const std::vector<std::string>& options = {});
    ~PhoneSim();
    // Waits up to timeout_ms for the simulator to end by itself; its exit status or -1.
    int wait_exit(int timeout_ms);
};

struct ToolRun {
    std::string out;     // all of standard output
    int status = -1;     // exit status, or -1 if it did not end normally
    double wall_ms = 0;  // from start to exit
    double cpu_ms = 0;   // processor time it used, user and system
};

// Runs the tool with these arguments (after the program name), in `cwd` if given.
// Kills it after timeout_ms.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd = "",
                 int timeout_ms = 10000);

// The same for any program.
ToolRun run_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& cwd = "", int timeout_ms = 10000);

// A program that runs beside the test: its standard input is a pipe held open here
// (so that a terminal program stays up), standard output and error both come back.
struct Background {
    pid_t pid = -1;
    int stdin_fd = -1;
    int out_fd = -1;
    std::string out;  // what it printed so far
    Background(const std::string& program, const std::vector<std::string>& args);
    ~Background();  // kills it if it still runs
    // Waits up to timeout_ms until its output holds `text`.
    bool wait_for_output(const std::string& text, int timeout_ms);
    // Closes its standard input and waits up to timeout_ms for it to end (then kills it).
    ToolRun finish(int timeout_ms);
};

// The title banner and usage text, as the tool prints them.
extern const char* const banner;
extern const char* const usage;

// "02 04 .. " as the traces print bytes.
std::string hex_trace(const std::vector<unsigned char>& bytes);

// A frame 02 L payload checksum 03, checksum computed.
std::vector<unsigned char> frame(const std::vector<unsigned char>& payload);

}  // namespace talvo::e2e
