// talvo_bench: times talvo_cmd against the simulated phone on pseudo-terminals, and
// the floors this machine sets (an empty static program, 300 idle polls), in one run.
// Prints a table and writes the same figures as JSON. bench/run builds and starts it.
//
// Every measured program is started the same way: posix_spawn, standard input from
// /dev/null, standard output and error into a pipe read after the exit. The wall
// time runs from just before posix_spawn to just after wait4 returns, both read
// from CLOCK_MONOTONIC; processor time and peak memory come from wait4's rusage.
//
// Exit status: 0 when every measurement could be taken, whatever the figures; 1 when
// the benchmark itself broke (a program missing, a phone that does not start, a run
// that did not end as it must). Missed targets are reported, not failed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace talvo::bench {

namespace {

// ---------------------------------------------------------------- settings

struct Paths {
    std::string tool;    // talvo_cmd
    std::string phone;   // talvo_phone_sim
    std::string empty;   // the empty static program
    std::string polls;   // the 300-poll static program
    std::string wake;    // the static program that exits on one byte
    std::string python;  // the interpreter for the alternative
    std::string alt;     // the alternative's script
    std::string work;    // scratch folder for data, rules and logs
    std::string json;    // where the figures go
};

struct Counts {
    int exchanges;    // whole exchanges (each with its completion latency), empty program, Python
    int warm_up;      // untimed runs of each before those
    int timeouts;     // silent phone
    int vanishes;     // phone gone after the command
    int poll_floors;  // runs of the 300-poll program
    int line_runs;    // per line speed
    int rss_runs;     // exchanges, and empty programs, held at their exit for their peak memory
};

const Counts full_counts{300, 5, 7, 5, 7, 9, 5};
const Counts short_counts{10, 1, 2, 1, 1, 1, 1};

Paths paths;
Counts counts = full_counts;
bool short_mode = false;

// The data file of every run: a short command and the largest frame (L = 255).
const char* const short_command = "readversion";
const char* const short_frame_hex = "02031020300103";
const char* const big_command = "big";
constexpr int BIG_FRAME_SIZE = 259;
const int line_speeds[] = {2400, 19200};

// ---------------------------------------------------------------- time, text, stats

std::int64_t now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double ns_to_ms(std::int64_t ns)
{
    return static_cast<double>(ns) / 1e6;
}

double timeval_ms(const timeval& t)
{
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

void sleep_ms(int ms)
{
    timespec t{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

bool broken(const std::string& why)
{
    std::fprintf(stderr, "talvo_bench: %s\n", why.c_str());
    return false;
}

bool write_file(const std::string& path, const std::string& content)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return broken("cannot write " + path);
    const bool good = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && good;
}

std::string read_file(const std::string& path)
{
    std::string text;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return text;
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

std::string hex_byte(unsigned value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02x", value & 0xffu);
    return text;
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Nearest-rank percentile, p in (0, 100]; NaN for no samples.
double percentile(std::vector<double> samples, double p)
{
    if (samples.empty()) return NAN;
    std::sort(samples.begin(), samples.end());
    std::size_t rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
    if (rank < 1) rank = 1;
    return samples[std::min(rank, samples.size()) - 1];
}

double median(const std::vector<double>& samples)
{
    return percentile(samples, 50);
}

double minimum(const std::vector<double>& samples)
{
    return samples.empty() ? NAN : *std::min_element(samples.begin(), samples.end());
}

double maximum(const std::vector<double>& samples)
{
    return samples.empty() ? NAN : *std::max_element(samples.begin(), samples.end());
}

// ---------------------------------------------------------------- processes

struct Run {
    bool exited = false;  // ended by exit, not a signal
    int status = -1;
    std::int64_t start_ns = 0;
    std::int64_t end_ns = 0;  // right after wait4 returned
    double cpu_ms = 0;        // user + system
    std::string out;          // standard output and error
    double wall_ms() const
    {
        return ns_to_ms(end_ns - start_ns);
    }
};

// Starts argv[0] with standard input from in_fd (/dev/null when -1), standard output
// into out_fd and standard error into err_fd (each /dev/null when -1). -1 on failure.
pid_t spawn(const std::vector<std::string>& args, int out_fd, int err_fd, int in_fd = -1)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, in_fd, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (out_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (err_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    argv.reserve(copy.size() + 1);
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void drain(int fd, std::string& into)
{
    char buf[4096];
    ssize_t n = 0;
    while ((n = read(fd, buf, sizeof buf)) > 0) into.append(buf, static_cast<std::size_t>(n));
}

void finish(Run& run, int status, const rusage& usage)
{
    run.exited = WIFEXITED(status);
    run.status = run.exited ? WEXITSTATUS(status) : -1;
    run.cpu_ms = timeval_ms(usage.ru_utime) + timeval_ms(usage.ru_stime);
}

// Runs a program to its end. Its output must fit the pipe (64 KiB): these print a
// line at most.
Run run_program(const std::vector<std::string>& args)
{
    Run run;
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) return run;
    run.start_ns = now_ns();
    const pid_t pid = spawn(args, pipe_fds[1], pipe_fds[1]);
    if (pid > 0) {
        int status = 0;
        rusage usage{};
        pid_t got = -1;
        while ((got = wait4(pid, &status, 0, &usage)) < 0 && errno == EINTR) {
        }
        run.end_ns = now_ns();
        if (got == pid) finish(run, status, usage);
    }
    close(pipe_fds[1]);
    drain(pipe_fds[0], run.out);
    close(pipe_fds[0]);
    return run;
}

// The state letter of a process from /proc (R running, S sleeping, ...), or 0.
char process_state(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '\0';
}

// One run of the wake-and-exit floor: the program is started on a fresh raw
// pseudo-terminal, and once it sleeps in its read, one byte is written to it.
// latency_ns runs from the return of that write to the return of wait4, as the
// completion latency runs from the phone's write of the end byte.
Run run_wake_exit(std::int64_t& latency_ns)
{
    Run run;
    latency_ns = 0;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) close(master);
        broken("no pseudo-terminal for the wake-and-exit program");
        return run;
    }
    const char* name = ptsname(master);
    const int slave = name != nullptr ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave >= 0) {
        termios tio{};
        if (tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            (void)tcsetattr(slave, TCSANOW, &tio);
        }
        int pipe_fds[2];
        if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            run.start_ns = now_ns();
            const pid_t pid = spawn({paths.wake}, pipe_fds[1], pipe_fds[1], slave);
            if (pid > 0) {
                const std::int64_t give_up = now_ns() + 2000000000LL;
                while (process_state(pid) != 'S' && now_ns() < give_up) sleep_ms(1);
                const unsigned char byte = 0x03;
                std::int64_t written_ns = 0;
                if (write(master, &byte, 1) == 1) written_ns = now_ns();
                int status = 0;
                rusage usage{};
                pid_t got = -1;
                while ((got = wait4(pid, &status, 0, &usage)) < 0 && errno == EINTR) {
                }
                run.end_ns = now_ns();
                if (got == pid) finish(run, status, usage);
                if (written_ns != 0) latency_ns = run.end_ns - written_ns;
            }
            close(pipe_fds[1]);
            drain(pipe_fds[0], run.out);
            close(pipe_fds[0]);
        }
        close(slave);
    }
    close(master);
    return run;
}

// The peak resident memory of a program's own address space, in KiB: VmHWM, read
// from /proc while the program is held at its exit by ptrace (PTRACE_O_TRACEEXIT),
// before its memory is released. (wait4's ru_maxrss cannot tell it: a child made
// by posix_spawn or fork counts the parent's resident memory up to its exec.)
// Standard output and error go to `out`. -1 when it could not be read.
long peak_rss_kib(const std::vector<std::string>& args, Run& run)
{
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    argv.reserve(copy.size() + 1);
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDONLY);
        if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 ||
            dup2(pipe_fds[1], STDOUT_FILENO) < 0 || dup2(pipe_fds[1], STDERR_FILENO) < 0 ||
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    long hwm = -1;
    int status = 0;
    bool options_set = false;
    while (pid > 0 && waitpid(pid, &status, 0) == pid) {
        if (WIFEXITED(status) || WIFSIGNALED(status)) break;
        int pass_signal = 0;
        if (WIFSTOPPED(status)) {
            const int event = status >> 16;
            if (!options_set && WSTOPSIG(status) == SIGTRAP && event == 0) {
                // Stopped after the exec: from here on, stop once more at the exit.
                (void)ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
                options_set = true;
            } else if (event == PTRACE_EVENT_EXIT) {
                const std::string text = read_file("/proc/" + std::to_string(pid) + "/status");
                const std::size_t at = text.find("VmHWM:");
                if (at != std::string::npos) hwm = std::strtol(text.c_str() + at + 6, nullptr, 10);
            } else if (WSTOPSIG(status) != SIGTRAP) {
                pass_signal = WSTOPSIG(status);
            }
        }
        (void)ptrace(PTRACE_CONT, pid, nullptr, pass_signal);
    }
    run.exited = WIFEXITED(status);
    run.status = run.exited ? WEXITSTATUS(status) : -1;
    drain(pipe_fds[0], run.out);
    close(pipe_fds[0]);
    return hwm;
}

int pidfd_of(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// Runs the tool to its end while watching its port for writes (inotify IN_MODIFY on
// the pseudo-terminal's slave, which the kernel reports as each write(2) returns):
// sent_ns is the moment the last write was seen, the end of the send (0 if none).
Run run_timing_send(const std::vector<std::string>& args, const std::string& device,
                    std::int64_t& sent_ns)
{
    Run run;
    sent_ns = 0;
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, device.c_str(), IN_MODIFY) < 0) {
        broken("cannot watch " + device + ": " + std::strerror(errno));
        if (watch >= 0) close(watch);
        return run;
    }
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) return run;
    run.start_ns = now_ns();
    const pid_t pid = spawn(args, pipe_fds[1], pipe_fds[1]);
    const int pidfd = pid > 0 ? pidfd_of(pid) : -1;
    if (pid > 0 && pidfd < 0) broken("pidfd_open: " + std::string(std::strerror(errno)));
    bool ended = pidfd < 0;
    while (!ended) {
        pollfd p[2] = {{watch, POLLIN, 0}, {pidfd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if ((p[0].revents & POLLIN) != 0) {
            const std::int64_t seen = now_ns();
            alignas(inotify_event) char events[4096];
            if (read(watch, events, sizeof events) > 0) sent_ns = seen;
        }
        if ((p[1].revents & POLLIN) != 0) ended = true;
    }
    if (pid > 0) {
        int status = 0;
        rusage usage{};
        pid_t got = -1;
        while ((got = wait4(pid, &status, 0, &usage)) < 0 && errno == EINTR) {
        }
        run.end_ns = now_ns();
        if (got == pid) finish(run, status, usage);
    }
    if (pidfd >= 0) close(pidfd);
    close(watch);
    close(pipe_fds[1]);
    drain(pipe_fds[0], run.out);
    close(pipe_fds[0]);
    return run;
}

// ---------------------------------------------------------------- the simulated phone

struct Phone {
    pid_t pid = -1;
    int stdout_fd = -1;
    std::string device;
};

// Starts the simulated phone with these options and waits for its "phone: " line.
// Its standard error goes to the file err_path.
bool start_phone(Phone& phone, const std::vector<std::string>& options, const std::string& err_path)
{
    int out_fds[2];
    if (pipe2(out_fds, O_CLOEXEC) != 0) return broken("pipe failed");
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::vector<std::string> args{paths.phone};
    args.insert(args.end(), options.begin(), options.end());
    phone.pid = spawn(args, out_fds[1], err_fd);
    close(out_fds[1]);
    if (err_fd >= 0) close(err_fd);
    phone.stdout_fd = out_fds[0];
    if (phone.pid < 0) return broken("cannot start " + paths.phone);

    std::string line;
    const std::int64_t give_up = now_ns() + 5000000000LL;
    char c = 0;
    while (now_ns() < give_up) {
        pollfd p{phone.stdout_fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        if (read(phone.stdout_fd, &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    const std::string prefix = "phone: ";
    if (line.compare(0, prefix.size(), prefix) != 0)
        return broken("the simulated phone did not name its line (see " + err_path + ")");
    phone.device = line.substr(prefix.size());
    return true;
}

// Waits up to wait_ms for the phone to end by itself, then stops it.
void stop_phone(Phone& phone, int wait_ms)
{
    if (phone.pid > 0) {
        int status = 0;
        const std::int64_t give_up = now_ns() + static_cast<std::int64_t>(wait_ms) * 1000000;
        pid_t got = 0;
        while ((got = waitpid(phone.pid, &status, WNOHANG)) == 0 && now_ns() < give_up) sleep_ms(2);
        if (got == 0) {
            kill(phone.pid, SIGTERM);
            waitpid(phone.pid, &status, 0);
        }
        phone.pid = -1;
    }
    if (phone.stdout_fd >= 0) close(phone.stdout_fd);
    phone.stdout_fd = -1;
}

// ---------------------------------------------------------------- the runs

struct Figures {
    std::vector<double> exchange_ms, empty_ms, python_ms, latency_ms, wake_exit_ms, rss_kib,
        empty_rss_kib;
    std::vector<double> timeout_ms, timeout_cpu_ms, vanish_cpu_ms, vanish_ms, polls_cpu_ms,
        polls_ms;
    std::vector<double> line_ms[2];
    std::vector<double> line_to_send_ms[2], line_pacing_ms[2], line_to_exit_ms[2];
};

Figures figures;

std::string data_file()
{
    return paths.work + "/bench.dat";
}

// The largest frame both ways: 02 ff, 255 payload bytes (byte 4 of the frame 01,
// byte 5 00: a success), the checksum, 03.
std::vector<unsigned> big_payload()
{
    std::vector<unsigned> payload;
    payload.reserve(255);
    for (int i = 0; i < 255; ++i) payload.push_back(static_cast<unsigned>(0x40 + i) & 0xffu);
    payload[2] = 0x01;
    payload[3] = 0x00;
    return payload;
}

bool write_inputs()
{
    std::string big;
    for (unsigned b : big_payload()) big += " " + hex_byte(b);
    const std::string data = std::string("; talvo_bench\r\n") + short_command +
                             " 02 03 10 20 30 xx 03\r\n" + big_command + " 02 ff" + big +
                             " xx 03\r\n";
    return write_file(data_file(), data) &&
           write_file(paths.work + "/silent.rules", "* = silent\n") &&
           write_file(paths.work + "/vanish.rules", "* = vanish 0\n") &&
           write_file(paths.work + "/big.rules", "* = answer 02 ff" + big + " xx 03\n");
}

std::vector<std::string> tool_args(const std::string& device, const char* command, int speed)
{
    return {paths.tool, "-q",        "-b",   std::to_string(speed), "-d", device,
            "-f",       data_file(), command};
}

bool expect(const Run& run, int status, const std::string& out, const char* what)
{
    if (run.exited && run.status == status && run.out == out) return true;
    return broken(std::string(what) + ": ended with status " + std::to_string(run.status) +
                  " and printed '" + run.out + "'");
}

// Waits for the timing log to hold one more complete line than `lines` and returns
// its value (0 when none came within two seconds).
std::int64_t next_timing(const std::string& path, std::size_t& lines)
{
    const std::int64_t give_up = now_ns() + 2000000000LL;
    for (;;) {
        const std::string text = read_file(path);
        std::size_t start = 0;
        std::size_t count = 0;
        std::int64_t value = 0;
        for (std::size_t end = text.find('\n'); end != std::string::npos;
             end = text.find('\n', start)) {
            if (++count == lines + 1) value = std::strtoll(text.c_str() + start, nullptr, 10);
            start = end + 1;
        }
        if (count > lines) {
            lines = count;
            return value;
        }
        if (now_ns() > give_up) return 0;
        sleep_ms(1);
    }
}

// Whole exchanges with their completion latency, each followed by one run of the
// empty static program and one of the Python alternative: the three share the
// machine's noise.
bool measure_exchanges()
{
    const std::string timing = paths.work + "/answers.ns";
    (void)unlink(timing.c_str());
    Phone phone;
    Phone alt_phone;
    if (!start_phone(phone, {"-t", timing}, paths.work + "/phone.log") ||
        !start_phone(alt_phone, {}, paths.work + "/phone-alt.log"))
        return false;
    const std::vector<std::string> tool = tool_args(phone.device, short_command, 19200);
    const std::vector<std::string> empty{paths.empty};
    const std::vector<std::string> alt{paths.python, paths.alt, alt_phone.device, short_frame_hex};
    std::size_t lines = 0;
    bool good = true;
    for (int i = -counts.warm_up; good && i < counts.exchanges; ++i) {
        const Run t = run_program(tool);
        good = expect(t, 0, "", "an exchange");
        const std::int64_t last_byte_ns = good ? next_timing(timing, lines) : 0;
        if (good && last_byte_ns == 0) good = broken("the phone logged no answer time");
        const Run e = run_program(empty);
        good = good && expect(e, 0, "", "the empty program");
        const Run p = run_program(alt);
        good = good && expect(p, 0, "", "the Python alternative");
        std::int64_t wake_ns = 0;
        const Run w = run_wake_exit(wake_ns);
        good = good && expect(w, 0, "", "the wake-and-exit program");
        if (good && wake_ns == 0)
            good = broken("the byte for the wake-and-exit program was not written");
        if (!good || i < 0) continue;
        figures.exchange_ms.push_back(t.wall_ms());
        figures.latency_ms.push_back(ns_to_ms(t.end_ns - last_byte_ns));
        figures.empty_ms.push_back(e.wall_ms());
        figures.python_ms.push_back(p.wall_ms());
        figures.wake_exit_ms.push_back(ns_to_ms(wake_ns));
    }
    // Peak memory, in runs of their own: holding the tool at its exit delays it.
    for (int i = 0; good && i < counts.rss_runs; ++i) {
        Run r;
        const long kib = peak_rss_kib(tool, r);
        good = expect(r, 0, "", "an exchange held at its exit");
        if (good && kib < 0) good = broken("no VmHWM of the tool at its exit");
        if (good) figures.rss_kib.push_back(static_cast<double>(kib));
    }
    for (int i = 0; good && i < counts.rss_runs; ++i) {
        Run r;
        const long kib = peak_rss_kib(empty, r);
        good = expect(r, 0, "", "the empty program held at its exit");
        if (good && kib < 0) good = broken("no VmHWM of the empty program at its exit");
        if (good) figures.empty_rss_kib.push_back(static_cast<double>(kib));
    }
    stop_phone(phone, 0);
    stop_phone(alt_phone, 0);
    return good;
}

// Time-outs against a silent phone, runs whose phone vanishes after the command,
// and the 300-poll program, interleaved.
bool measure_waits()
{
    Phone silent;
    if (!start_phone(silent, {"-r", paths.work + "/silent.rules"},
                     paths.work + "/phone-silent.log"))
        return false;
    const std::vector<std::string> timeout_run = tool_args(silent.device, short_command, 19200);
    const int rounds = std::max({counts.timeouts, counts.vanishes, counts.poll_floors});
    bool good = true;
    for (int i = 0; good && i < rounds; ++i) {
        if (i < counts.timeouts) {
            std::int64_t sent_ns = 0;
            const Run t = run_timing_send(timeout_run, silent.device, sent_ns);
            good = expect(t, 0, "Error: time out!\n", "a time-out run");
            if (good && sent_ns == 0) good = broken("no write of the command was seen");
            if (!good) break;
            figures.timeout_ms.push_back(ns_to_ms(t.end_ns - sent_ns));
            figures.timeout_cpu_ms.push_back(t.cpu_ms);
        }
        if (i < counts.vanishes) {
            Phone gone;
            good = start_phone(gone, {"-r", paths.work + "/vanish.rules"},
                               paths.work + "/phone-vanish.log");
            if (!good) break;
            const Run v = run_program(tool_args(gone.device, short_command, 19200));
            stop_phone(gone, 2000);
            good = expect(v, 0, "Error: time out!\n", "a run whose phone vanished");
            if (!good) break;
            figures.vanish_cpu_ms.push_back(v.cpu_ms);
            figures.vanish_ms.push_back(v.wall_ms());
        }
        if (i < counts.poll_floors) {
            const Run f = run_program({paths.polls});
            good = expect(f, 0, "", "the 300-poll program");
            if (!good) break;
            figures.polls_cpu_ms.push_back(f.cpu_ms);
            figures.polls_ms.push_back(f.wall_ms());
        }
    }
    stop_phone(silent, 0);
    return good;
}

// The largest frame both ways, with the phone pacing its answer at the line speed:
// the runs of one speed in a row, as a script would make them. Each run is also cut
// in three: start to the end of the send, the phone's pacing up to the write of the
// answer's last byte, and from there to the exit.
bool measure_line_speeds()
{
    Phone phones[2];
    std::string timing[2];
    std::size_t lines[2] = {0, 0};
    bool good = true;
    for (int s = 0; good && s < 2; ++s) {
        timing[s] = paths.work + "/line-" + std::to_string(line_speeds[s]) + ".ns";
        (void)unlink(timing[s].c_str());
        good = start_phone(phones[s],
                           {"-b", std::to_string(line_speeds[s]), "-t", timing[s], "-r",
                            paths.work + "/big.rules"},
                           paths.work + "/phone-line.log");
    }
    for (int s = 0; good && s < 2; ++s) {
        for (int i = -1; good && i < counts.line_runs; ++i) {  // one untimed run first
            std::int64_t sent_ns = 0;
            const Run t = run_timing_send(tool_args(phones[s].device, big_command, line_speeds[s]),
                                          phones[s].device, sent_ns);
            good = expect(t, 0, "", "a line-speed run");
            const std::int64_t last_byte_ns = good ? next_timing(timing[s], lines[s]) : 0;
            if (good && (sent_ns == 0 || last_byte_ns == 0))
                good = broken("a line-speed run without its send or its last answer byte");
            if (!good || i < 0) continue;
            figures.line_ms[s].push_back(t.wall_ms());
            figures.line_to_send_ms[s].push_back(ns_to_ms(sent_ns - t.start_ns));
            figures.line_pacing_ms[s].push_back(ns_to_ms(last_byte_ns - sent_ns));
            figures.line_to_exit_ms[s].push_back(ns_to_ms(t.end_ns - last_byte_ns));
        }
    }
    for (Phone& phone : phones) stop_phone(phone, 0);
    return good;
}

// ---------------------------------------------------------------- report

struct Machine {
    long cores = 0;
    std::string cpu;
    std::string kernel;
    std::string date;
};

Machine read_machine()
{
    Machine m;
    m.cores = sysconf(_SC_NPROCESSORS_ONLN);
    const std::string info = read_file("/proc/cpuinfo");
    const std::size_t at = info.find("model name");
    if (at != std::string::npos) {
        const std::size_t colon = info.find(':', at);
        const std::size_t end = info.find('\n', at);
        if (colon != std::string::npos && colon < end)
            m.cpu = info.substr(colon + 2, end - colon - 2);
    }
    utsname u{};
    if (uname(&u) == 0) m.kernel = std::string(u.sysname) + " " + u.release;
    char date[32];
    const time_t t = time(nullptr);
    tm local{};
    gmtime_r(&t, &local);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", &local);
    m.date = date;
    return m;
}

struct Target {
    const char* key;
    std::string figure;     // what was measured, as shown
    std::string reference;  // the floor or the wire time it is read against
    std::string target;
    bool pass;
};

std::vector<Target> targets;

void judge(const char* key, const std::string& figure, const std::string& reference,
           const std::string& target, bool pass)
{
    targets.push_back({key, figure, reference, target, pass});
}

std::string ms(double value, int decimals = 2)
{
    return fixed(value, decimals) + " ms";
}

void judge_all()
{
    const Figures& f = figures;
    const double exchange = median(f.exchange_ms);
    const double empty = median(f.empty_ms);
    judge("exchange_median", ms(exchange), "empty static program " + ms(empty), "<= floor + 1 ms",
          exchange <= empty + 1.0);
    const double python = median(f.python_ms);
    judge("python_ratio", fixed(python / exchange, 1) + "x faster",
          "Python alternative " + ms(python, 1), ">= 10x", python >= 10.0 * exchange);
    const double p99 = percentile(f.latency_ms, 99);
    judge("latency_p99", ms(p99, 3), "wake-and-exit p99 " + ms(percentile(f.wake_exit_ms, 99), 3),
          "<= 1 ms", p99 <= 1.0);
    const double t_min = minimum(f.timeout_ms);
    const double t_med = median(f.timeout_ms);
    judge("timeout",
          ms(t_med, 1) + " (min " + fixed(t_min, 1) + ", max " + fixed(maximum(f.timeout_ms), 1) +
              ")",
          "", "median 3001-3012 ms, min >= 3001", t_med >= 3001 && t_med <= 3012 && t_min >= 3001);
    const double polls = median(f.polls_cpu_ms);
    const double t_cpu = median(f.timeout_cpu_ms);
    judge("timeout_cpu", ms(t_cpu, 1) + " (max " + fixed(maximum(f.timeout_cpu_ms), 1) + ")",
          "300 polls " + ms(polls, 1), "<= floor + 5 ms", t_cpu <= polls + 5.0);
    const double v_cpu = median(f.vanish_cpu_ms);
    judge("vanish_cpu", ms(v_cpu, 1) + " (max " + fixed(maximum(f.vanish_cpu_ms), 1) + ")",
          "300 polls " + ms(polls, 1), "<= floor + 5 ms", v_cpu <= polls + 5.0);
    const double rss = maximum(f.rss_kib);
    judge("peak_rss", fixed(rss / 1024.0, 2) + " MiB",
          "empty static program " + fixed(maximum(f.empty_rss_kib) / 1024.0, 2) + " MiB",
          "<= 4 MiB", rss <= 4096.0);
    for (int s = 0; s < 2; ++s) {
        const double wire = BIG_FRAME_SIZE * 10.0 * 1000.0 / line_speeds[s];
        const double whole = median(f.line_ms[s]);
        judge(s == 0 ? "line_2400" : "line_19200",
              ms(whole, 1) + " (ratio " + fixed(whole / wire, 3) + ")", "wire " + ms(wire, 1),
              "within 1% + 2 ms", std::fabs(whole - wire) <= 0.01 * wire + 2.0);
    }
}

void print_table(const Machine& m)
{
    const Figures& f = figures;
    std::printf(
        "\ntalvo_cmd benchmark%s: %d exchanges, %d time-outs, %d vanished phones, "
        "%d runs per line speed\n",
        short_mode ? " (short: figures not judged)" : "", counts.exchanges, counts.timeouts,
        counts.vanishes, counts.line_runs);
    std::printf("machine: %ld cores, %s, %s, %s\n\n", m.cores, m.cpu.c_str(), m.kernel.c_str(),
                m.date.c_str());
    std::printf("%-34s %s\n", "figure", "measured");
    const struct {
        const char* name;
        std::string value;
    } rows[] = {
        {"whole exchange, median / p90",
         ms(median(f.exchange_ms)) + " / " + ms(percentile(f.exchange_ms, 90))},
        {"empty static program, median", ms(median(f.empty_ms))},
        {"Python alternative, median", ms(median(f.python_ms))},
        {"completion latency, p50 / p99",
         ms(median(f.latency_ms), 3) + " / " + ms(percentile(f.latency_ms, 99), 3)},
        {"wake-and-exit program, p50 / p99",
         ms(median(f.wake_exit_ms), 3) + " / " + ms(percentile(f.wake_exit_ms, 99), 3)},
        {"time-out, min / median / max", ms(minimum(f.timeout_ms), 1) + " / " +
                                             ms(median(f.timeout_ms), 1) + " / " +
                                             ms(maximum(f.timeout_ms), 1)},
        {"processor time, time-out run",
         ms(median(f.timeout_cpu_ms), 1) + " median, " + ms(maximum(f.timeout_cpu_ms), 1) + " max"},
        {"processor time, vanished phone",
         ms(median(f.vanish_cpu_ms), 1) + " median, " + ms(maximum(f.vanish_cpu_ms), 1) + " max"},
        {"processor time, 300 polls", ms(median(f.polls_cpu_ms), 1) + " median"},
        {"peak resident memory", fixed(maximum(f.rss_kib), 0) + " KiB (empty static program " +
                                     fixed(maximum(f.empty_rss_kib), 0) + " KiB)"},
        {"line speed 2400 bps, median",
         ms(median(f.line_ms[0]), 1) + " (wire " + ms(BIG_FRAME_SIZE * 10000.0 / 2400, 1) + ")"},
        {"line speed 19200 bps, median",
         ms(median(f.line_ms[1]), 1) + " (wire " + ms(BIG_FRAME_SIZE * 10000.0 / 19200, 1) + ")"},
    };
    std::string parts[2];
    for (int s = 0; s < 2; ++s)
        parts[s] = ms(median(f.line_to_send_ms[s])) + " + " + ms(median(f.line_pacing_ms[s]), 1) +
                   " + " + ms(median(f.line_to_exit_ms[s]));
    for (const auto& row : rows) std::printf("%-34s %s\n", row.name, row.value.c_str());
    std::printf("%-34s %s\n", "  2400: to send + pacing + to exit", parts[0].c_str());
    std::printf("%-34s %s\n", "  19200: to send + pacing + to exit", parts[1].c_str());

    std::printf("\n%-16s %-32s %-34s %-34s %s\n", "target", "measured", "against", "target",
                "verdict");
    for (const Target& t : targets)
        std::printf("%-16s %-32s %-34s %-34s %s\n", t.key, t.figure.c_str(), t.reference.c_str(),
                    t.target.c_str(),
                    short_mode ? "(not judged)"
                    : t.pass   ? "pass"
                               : "MISS");
    std::printf("\n");
}

std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out + "\"";
}

std::string json_number(double value)
{
    return std::isfinite(value) ? fixed(value, 4) : "null";
}

std::string json_stats(const std::vector<double>& v)
{
    return "{\"runs\": " + std::to_string(v.size()) + ", \"min\": " + json_number(minimum(v)) +
           ", \"median\": " + json_number(median(v)) +
           ", \"p90\": " + json_number(percentile(v, 90)) +
           ", \"p99\": " + json_number(percentile(v, 99)) +
           ", \"max\": " + json_number(maximum(v)) + "}";
}

bool write_json(const Machine& m)
{
    const Figures& f = figures;
    std::string j = "{\n";
    j += "  \"mode\": " + json_string(short_mode ? "short" : "full") + ",\n";
    j += "  \"machine\": {\"cores\": " + std::to_string(m.cores) +
         ", \"cpu\": " + json_string(m.cpu) + ", \"kernel\": " + json_string(m.kernel) +
         ", \"date\": " + json_string(m.date) + "},\n";
    j += "  \"python\": " + json_string(paths.python) + ",\n";
    j += "  \"exchange_ms\": " + json_stats(f.exchange_ms) + ",\n";
    j += "  \"empty_static_ms\": " + json_stats(f.empty_ms) + ",\n";
    j += "  \"python_ms\": " + json_stats(f.python_ms) + ",\n";
    j += "  \"latency_ms\": " + json_stats(f.latency_ms) + ",\n";
    j += "  \"wake_exit_ms\": " + json_stats(f.wake_exit_ms) + ",\n";
    j += "  \"timeout_ms\": " + json_stats(f.timeout_ms) + ",\n";
    j += "  \"timeout_cpu_ms\": " + json_stats(f.timeout_cpu_ms) + ",\n";
    j += "  \"vanish_ms\": " + json_stats(f.vanish_ms) + ",\n";
    j += "  \"vanish_cpu_ms\": " + json_stats(f.vanish_cpu_ms) + ",\n";
    j += "  \"polls_ms\": " + json_stats(f.polls_ms) + ",\n";
    j += "  \"polls_cpu_ms\": " + json_stats(f.polls_cpu_ms) + ",\n";
    j += "  \"peak_rss_kib\": " + json_stats(f.rss_kib) + ",\n";
    j += "  \"empty_static_peak_rss_kib\": " + json_stats(f.empty_rss_kib) + ",\n";
    for (int s = 0; s < 2; ++s) {
        const double wire = BIG_FRAME_SIZE * 10.0 * 1000.0 / line_speeds[s];
        j += "  \"line_" + std::to_string(line_speeds[s]) +
             "\": {\"wire_ms\": " + json_number(wire) +
             ", \"ratio\": " + json_number(median(f.line_ms[s]) / wire) +
             ", \"whole_ms\": " + json_stats(f.line_ms[s]) +
             ", \"start_to_send_ms\": " + json_stats(f.line_to_send_ms[s]) +
             ", \"send_to_last_byte_ms\": " + json_stats(f.line_pacing_ms[s]) +
             ", \"last_byte_to_exit_ms\": " + json_stats(f.line_to_exit_ms[s]) + "},\n";
    }
    j += "  \"targets\": {";
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const Target& t = targets[i];
        j += std::string(i == 0 ? "\n" : ",\n") + "    " + json_string(t.key) +
             ": {\"measured\": " + json_string(t.figure) +
             ", \"against\": " + json_string(t.reference) +
             ", \"target\": " + json_string(t.target) +
             ", \"pass\": " + (t.pass ? "true" : "false") + "}";
    }
    j += "\n  }\n}\n";
    return write_file(paths.json, j);
}

// ---------------------------------------------------------------- entry

void usage()
{
    std::fputs(
        "usage: talvo_bench [--short] --tool P --phone P --empty P --polls P "
        "--wake P --python P --alt P --work DIR --json FILE\n",
        stderr);
}

bool parse(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--short") {
            short_mode = true;
            counts = short_counts;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string v = argv[++i];
        if (a == "--tool")
            paths.tool = v;
        else if (a == "--phone")
            paths.phone = v;
        else if (a == "--empty")
            paths.empty = v;
        else if (a == "--polls")
            paths.polls = v;
        else if (a == "--wake")
            paths.wake = v;
        else if (a == "--python")
            paths.python = v;
        else if (a == "--alt")
            paths.alt = v;
        else if (a == "--work")
            paths.work = v;
        else if (a == "--json")
            paths.json = v;
        else
            return false;
    }
    for (const std::string* p : {&paths.tool, &paths.phone, &paths.empty, &paths.polls, &paths.wake,
                                 &paths.python, &paths.alt, &paths.work, &paths.json})
        if (p->empty()) return false;
    return true;
}

bool executable(const std::string& path)
{
    if (access(path.c_str(), X_OK) == 0) return true;
    return broken("not an executable program: " + path);
}

}  // namespace

int run(int argc, char** argv)
{
    if (!parse(argc, argv)) {
        usage();
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    for (const std::string* p :
         {&paths.tool, &paths.phone, &paths.empty, &paths.polls, &paths.wake, &paths.python})
        if (!executable(*p)) return 1;
    if (!write_inputs()) return 1;

    std::printf("whole exchanges, completion latency, floors, Python alternative ...\n");
    std::fflush(stdout);
    if (!measure_exchanges()) return 1;
    std::printf("time-outs, vanished phones, 300-poll program ...\n");
    std::fflush(stdout);
    if (!measure_waits()) return 1;
    std::printf("line speeds ...\n");
    std::fflush(stdout);
    if (!measure_line_speeds()) return 1;

    const Machine machine = read_machine();
    judge_all();
    print_table(machine);
    if (!write_json(machine)) return 1;
    std::printf("figures written to %s\n", paths.json.c_str());
    return 0;
}

}  // namespace talvo::bench

int main(int argc, char** argv)
{
    return talvo::bench::run(argc, argv);
}
