// The pseudo-terminal that plays the phone's serial line.
//
// The slave stays open here for the simulator's whole life: reading the master then
// never fails while no tool has the port open, and the tool can open and close the
// port any number of times against one simulator. No lock is taken on it: the tool
// locks the port itself.
//
// On Linux the simulator also watches who else has the slave open (inotify counts
// opens and closes), for two reasons:
//  - The tool puts the port in exclusive mode. On a real port that mode ends with
//    the tool's last close, when the terminal goes away; here the simulator's own
//    descriptor keeps the terminal alive, so the mode would outlast the tool and
//    refuse the next run of any user but root. It is ended when no one else is left.
//  - Before closing the line (after the last exchange, or when vanishing) it waits
//    for the reader to take the answer, but not for a reader who has already gone.

#include <fcntl.h>
#include <poll.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "phone_line.h"

namespace talvo {

namespace {

int master_fd = -1;
int slave_fd = -1;
std::string slave_path;
std::string link_path;

// SIGINT/SIGTERM set the flag and make the pipe readable, so a poll wakes at once.
volatile std::sig_atomic_t stop_flag = 0;
int stop_pipe[2] = {-1, -1};

int open_watch = -1;  // inotify on the slave; -1 when not watched
int others_open = 0;  // descriptors of the slave open elsewhere, as the watch counts

void on_stop_signal(int)
{
    stop_flag = 1;
    const char byte = 1;
    const ssize_t ignored = write(stop_pipe[1], &byte, 1);
    (void)ignored;
}

void set_cloexec(int fd)
{
    (void)fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Milliseconds from now to the deadline, rounded up, for a poll timeout.
int ms_until(std::int64_t deadline_ns)
{
    const std::int64_t left = deadline_ns - now_ns();
    if (left <= 0) return 0;
    return static_cast<int>((left + 999999) / 1000000);
}

// Counts the opens and closes of the slave reported so far. When the last one
// elsewhere is closed, exclusive mode ends, as on a real port.
void read_open_watch()
{
#ifdef __linux__
    if (open_watch < 0) return;
    alignas(inotify_event) char buffer[4096];
    ssize_t n = 0;
    while ((n = read(open_watch, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                // The count is lost: stop relying on it.
                close(open_watch);
                open_watch = -1;
                return;
            }
            if ((event->mask & IN_OPEN) != 0) ++others_open;
            if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0 && others_open > 0)
                --others_open;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (others_open == 0) (void)ioctl(slave_fd, TIOCNXCL);
#endif
}

// Polls the master for `events`, and the stop pipe: 1 ready, 0 timeout, -1 stopped.
int wait_for(short events, int timeout_ms)
{
    const std::int64_t deadline = now_ns() + static_cast<std::int64_t>(timeout_ms) * 1000000;
    for (;;) {
        if (stop_flag) return -1;
        pollfd p[3] = {{master_fd, events, 0}, {stop_pipe[0], POLLIN, 0}, {open_watch, POLLIN, 0}};
        const int ready =
            poll(p, open_watch >= 0 ? 3 : 2, timeout_ms < 0 ? -1 : ms_until(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        if (stop_flag || (p[1].revents & POLLIN) != 0) return -1;
        if (open_watch >= 0 && (p[2].revents & POLLIN) != 0) read_open_watch();
        if ((p[0].revents & (events | POLLERR | POLLHUP)) != 0) return 1;
        if (ready == 0) return 0;
    }
}

}  // namespace

bool install_stop_signals()
{
    if (pipe(stop_pipe) != 0) return false;
    for (int fd : stop_pipe) {
        set_cloexec(fd);
        (void)fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: sleeps and polls return with EINTR
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool stop_requested()
{
    return stop_flag != 0;
}

std::int64_t now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool sleep_until(std::int64_t deadline_ns)
{
    // Long waits sit in poll on the stop pipe, which a signal cannot slip past; the
    // last two milliseconds are an absolute sleep for the exact moment.
    while (deadline_ns - now_ns() > 2000000) {
        pollfd p{stop_pipe[0], POLLIN, 0};
        if (stop_flag) return false;
        const int ready = poll(&p, 1, ms_until(deadline_ns) - 2);
        if (stop_flag || ready > 0) return false;
    }
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadline_ns / 1000000000);
    until.tv_nsec = static_cast<long>(deadline_ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        if (stop_flag) return false;
    }
    return stop_flag == 0;
}

bool open_line(const char* link)
{
    master_fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_fd < 0 || grantpt(master_fd) != 0 || unlockpt(master_fd) != 0) {
        std::fprintf(stderr, "talvo_phone_sim: no pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    set_cloexec(master_fd);
    const char* name = ptsname(master_fd);
    if (name == nullptr) {
        std::fprintf(stderr, "talvo_phone_sim: no slave name: %s\n", std::strerror(errno));
        return false;
    }
    slave_path = name;
    slave_fd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_fd < 0) {
        std::fprintf(stderr, "talvo_phone_sim: %s: %s\n", name, std::strerror(errno));
        return false;
    }
    // Raw from the start: no echo of commands back into the master, no line editing.
    termios tio{};
    if (tcgetattr(slave_fd, &tio) == 0) {
        cfmakeraw(&tio);
        (void)tcsetattr(slave_fd, TCSANOW, &tio);
    }
    (void)fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
#ifdef __linux__
    // Watched from after the simulator's own open: only other openers are counted.
    open_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const std::uint32_t mask = IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE;
    if (open_watch >= 0 && inotify_add_watch(open_watch, name, mask) < 0) {
        close(open_watch);
        open_watch = -1;
    }
#endif

    if (link == nullptr) return true;
    // Replace an old link, but never a file that is not a link.
    struct stat info {};
    if (lstat(link, &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            std::fprintf(stderr, "talvo_phone_sim: %s exists and is not a link\n", link);
            return false;
        }
        (void)unlink(link);
    }
    if (symlink(name, link) != 0) {
        std::fprintf(stderr, "talvo_phone_sim: link %s: %s\n", link, std::strerror(errno));
        return false;
    }
    link_path = link;
    return true;
}

const char* line_path()
{
    return slave_path.c_str();
}

int line_master()
{
    return master_fd;
}

void close_line()
{
    if (!link_path.empty()) {
        // Another simulator may have taken the link over since: leave its link alone.
        char target[4096];
        const ssize_t n = readlink(link_path.c_str(), target, sizeof target - 1);
        if (n >= 0 && slave_path == std::string(target, static_cast<std::size_t>(n)))
            (void)unlink(link_path.c_str());
        link_path.clear();
    }
    if (master_fd >= 0) close(master_fd);
    if (slave_fd >= 0) close(slave_fd);
    if (open_watch >= 0) close(open_watch);
    master_fd = slave_fd = open_watch = -1;
}

int wait_readable(int timeout_ms)
{
    return wait_for(POLLIN, timeout_ms);
}

bool write_all(const std::uint8_t* bytes, std::size_t count)
{
    std::size_t written = 0;
    while (written < count) {
        const ssize_t n = write(master_fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            if (stop_flag) return false;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (wait_for(POLLOUT, -1) < 0) return false;
            continue;
        }
        std::fprintf(stderr, "talvo_phone_sim: write: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

bool write_paced(const std::uint8_t* bytes, std::size_t count, std::int64_t t0_ns,
                 std::int64_t step_ns, int mark, std::int64_t& mark_ns)
{
    if (step_ns == 0) {
        if (!write_all(bytes, count)) return false;
        if (mark >= 0 && static_cast<std::size_t>(mark) < count) mark_ns = now_ns();
        return true;
    }
    for (std::size_t k = 0; k < count; ++k) {
        if (!sleep_until(t0_ns + static_cast<std::int64_t>(k) * step_ns)) return false;
        if (!write_all(bytes + k, 1)) return false;
        if (static_cast<int>(k) == mark) mark_ns = now_ns();
    }
    return true;
}

std::size_t write_flood(std::int64_t until_ns)
{
    std::uint8_t chunk[256];
    std::memset(chunk, 0x55, sizeof chunk);
    std::size_t total = 0;
    while (!stop_flag && now_ns() < until_ns) {
        const ssize_t n = write(master_fd, chunk, sizeof chunk);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The reader is behind: wait for room, but not past the end of the flood.
            if (wait_for(POLLOUT, ms_until(until_ns)) < 0) break;
        } else if (!(n < 0 && errno == EINTR)) {
            break;
        }
    }
    return total;
}

void wait_until_read(int cap_ms)
{
    const std::int64_t give_up = now_ns() + static_cast<std::int64_t>(cap_ms) * 1000000;
    // Bytes just written may still be on their way into the slave's queue: it has to
    // look empty twice, 5 ms apart.
    int empty_looks = 0;
    while (empty_looks < 2 && now_ns() < give_up) {
        read_open_watch();
        if (open_watch >= 0 && others_open == 0) return;  // no reader left to wait for
        int queued = 0;
        if (ioctl(slave_fd, FIONREAD, &queued) != 0) return;
        empty_looks = queued == 0 ? empty_looks + 1 : 0;
        if (!sleep_until(now_ns() + 5000000)) return;
    }
}

}  // namespace talvo
