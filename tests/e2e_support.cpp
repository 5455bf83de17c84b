#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ftw.h>

extern char** environ;  // NOLINT(readability-redundant-declaration): not every libc declares it

namespace talvo::e2e {

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// in_fd: null for standard input from /dev/null, else it receives the write end of a
// pipe that is the program's standard input; standard error then joins the output.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, int& out_fd,
            const std::string& cwd, int* in_fd = nullptr)
{
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
    int in_fds[2] = {-1, -1};
    if (in_fd != nullptr && pipe2(in_fds, O_CLOEXEC) != 0) {
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    if (in_fd != nullptr) {
        posix_spawn_file_actions_adddup2(&actions, in_fds[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    std::string shell_cd;
    std::vector<std::string> full{program};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<std::string> wrapped;
    if (!cwd.empty()) {
        // posix_spawn has no portable chdir action: let a shell change folder first.
        wrapped = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", cwd};
        wrapped.insert(wrapped.end(), full.begin(), full.end());
        full = wrapped;
    }
    std::vector<char*> argv;
    argv.reserve(full.size() + 1);
    for (std::string& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    out_fd = pipe_fds[0];
    if (in_fd != nullptr) {
        close(in_fds[0]);
        *in_fd = in_fds[1];
    }
    return pid;
}

double cpu_ms_of(const rusage& usage)
{
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Reads from fd until end of file or the deadline; true at end of file.
bool read_until_eof(int fd, std::string& out, Clock::time_point deadline)
{
    char buf[4096];
    for (;;) {
        const double left =
            std::chrono::duration<double, std::milli>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left) + 1) <= 0) continue;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return true;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

int remove_entry(const char* path, const struct stat*, int, FTW*)
{
    return std::remove(path);
}

}  // namespace

ScratchDir::ScratchDir()
{
    char templ[] = "/tmp/talvo_e2e_XXXXXX";
    if (mkdtemp(templ) != nullptr) path = templ;
}

ScratchDir::~ScratchDir()
{
    if (!path.empty()) nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ScratchDir::write(const std::string& name, const std::string& content) const
{
    std::string file = path + "/" + name;
    if (std::FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    return file;
}

PhoneSim::PhoneSim(const std::vector<std::string>& options)
{
    pid = spawn(TALVO_PHONE_SIM_PATH, options, stdout_fd, "");
    if (pid < 0) return;
    // The first line names the pseudo-terminal.
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    char c = 0;
    while (Clock::now() < deadline) {
        pollfd p{stdout_fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        if (read(stdout_fd, &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    const std::string prefix = "phone: ";
    if (line.compare(0, prefix.size(), prefix) == 0) device = line.substr(prefix.size());
}

PhoneSim::~PhoneSim()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    if (stdout_fd >= 0) close(stdout_fd);
}

int PhoneSim::wait_exit(int timeout_ms)
{
    const auto start = Clock::now();
    while (pid > 0 && ms_since(start) < timeout_ms) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(5000);
    }
    return -1;
}

ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd, int timeout_ms)
{
    return run_program(TALVO_CMD_PATH, args, cwd, timeout_ms);
}

ToolRun run_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& cwd, int timeout_ms)
{
    ToolRun run;
    const auto start = Clock::now();
    int out_fd = -1;
    const pid_t pid = spawn(program, args, out_fd, cwd);
    if (pid < 0) return run;
    const bool ended =
        read_until_eof(out_fd, run.out, start + std::chrono::milliseconds(timeout_ms));
    if (!ended) kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.wall_ms = ms_since(start);
    run.cpu_ms = cpu_ms_of(usage);
    close(out_fd);
    if (ended && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

Background::Background(const std::string& program, const std::vector<std::string>& args)
{
    pid = spawn(program, args, out_fd, "", &stdin_fd);
}

Background::~Background()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (stdin_fd >= 0) close(stdin_fd);
    if (out_fd >= 0) close(out_fd);
}

bool Background::wait_for_output(const std::string& text, int timeout_ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    char buf[4096];
    while (out.find(text) == std::string::npos) {
        const double left =
            std::chrono::duration<double, std::milli>(deadline - Clock::now()).count();
        if (left <= 0 || out_fd < 0) return false;
        pollfd p{out_fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left) + 1) <= 0) continue;
        const ssize_t n = read(out_fd, buf, sizeof buf);
        if (n <= 0) return out.find(text) != std::string::npos;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

ToolRun Background::finish(int timeout_ms)
{
    ToolRun run;
    if (pid <= 0) return run;
    const auto start = Clock::now();
    if (stdin_fd >= 0) close(stdin_fd);
    stdin_fd = -1;
    const bool ended = read_until_eof(out_fd, out, start + std::chrono::milliseconds(timeout_ms));
    if (!ended) kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    pid = -1;
    run.out = out;
    run.wall_ms = ms_since(start);
    run.cpu_ms = cpu_ms_of(usage);
    if (ended && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

const char* const banner = "Talvo command line communication tool v0.8 <talvo-cmd@example.org>\n\n";

const char* const usage =
    "Usage:\n\n"
    "talvo_cmd [-p <portnum>] [-b <speed>] [-q] [-i] [-f <file>] <command name>\n\n"
    "   -p <portnum> : use COM<portnum> for communication       default: 1\n"
    "   -d <device> : use the serial device <device> instead of COM<portnum>\n"
    "   -b <speed> : communication speed [2400,4800,9600,19200] default: 19200\n"
    "   -f <file> : take commands from <file>                   default: talvo_cmd.dat\n"
    "   -q : quiet mode, only print error messages\n"
    "   -i : exit immediatly, do not wait for answer\n"
    "\n";

std::string hex_trace(const std::vector<unsigned char>& bytes)
{
    std::string t;
    char hex[4];
    for (unsigned char b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X ", b);
        t += hex;
    }
    return t;
}

std::vector<unsigned char> frame(const std::vector<unsigned char>& payload)
{
    std::vector<unsigned char> f;
    f.push_back(0x02);
    f.push_back(static_cast<unsigned char>(payload.size()));
    unsigned char sum = 0x02 ^ f[1];
    for (unsigned char b : payload) {
        f.push_back(b);
        sum ^= b;
    }
    f.push_back(sum);
    f.push_back(0x03);
    return f;
}

}  // namespace talvo::e2e
