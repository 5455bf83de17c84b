// The serial port on POSIX systems, through termios.
// COM<n> is /dev/ttyS<n-1>; -d names any terminal device instead.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "cli/settings.h"
#include "serial/port.h"

namespace talvo {

namespace {

int port_fd = -1;

constexpr int READ_WAIT_MS = 10;

void set_modem_line(int line, bool on)
{
    int bits = line;
    (void)ioctl(port_fd, on ? TIOCMBIS : TIOCMBIC, &bits);  // a pseudo-terminal has none
}

speed_t speed_code(int speed)
{
    switch (speed) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    default: return B19200;
    }
}

// USB serial adapters otherwise hold received bytes back for their latency timer.
void request_low_latency()
{
#if defined(__linux__) && defined(TIOCGSERIAL)
    serial_struct serial{};
    if (ioctl(port_fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        (void)ioctl(port_fd, TIOCSSERIAL, &serial);
    }
#endif
}

// Sleeps until `ms` milliseconds after `since`, so that a failed read still takes its
// wait instead of returning at once and spinning the answer loop.
void wait_until(const timespec& since, int ms)
{
    timespec until = since;
    until.tv_nsec += static_cast<long>(ms) * 1000000L;
    until.tv_sec += until.tv_nsec / 1000000000L;
    until.tv_nsec %= 1000000000L;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace

int _open_port(unsigned port_number)
{
    if (port_number == 0) return 0;  // COM0 names no device
    char name[32];
    std::snprintf(name, sizeof name, "/dev/ttyS%u", port_number - 1);
    return _open_device(name);
}

int _open_device(const char* device_name)
{
    // Only a terminal is a port: anything else is refused before it is opened, so that
    // nothing is ever written to a regular file, a pipe or a directory.
    struct stat info {};
    if (stat(device_name, &info) != 0 || !S_ISCHR(info.st_mode)) return 0;

    // Do not wait for carrier and do not become the controlling terminal.
    const int fd = open(device_name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return 0;
    }
    (void)ioctl(fd, TIOCEXCL);
    // Blocking from here on: writes wait for the line, reads wait in poll().
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    port_fd = fd;
    (void)tcflush(port_fd, TCIOFLUSH);
    (void)_set_line(settings.speed);
    set_modem_line(TIOCM_DTR, true);
    return 1;
}

int _set_line(int speed)
{
    termios tio{};
    (void)tcgetattr(port_fd, &tio);  // on failure the fields below are applied anyway
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | HUPCL);
#ifdef CRTSCTS
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    (void)cfsetispeed(&tio, speed_code(speed));
    (void)cfsetospeed(&tio, speed_code(speed));
    const int result = tcsetattr(port_fd, TCSANOW, &tio);
    set_modem_line(TIOCM_DTR | TIOCM_RTS, true);
    request_low_latency();
    return result == 0 ? 1 : 0;
}

std::uint32_t _write_port(const std::uint8_t* bytes, std::uint32_t count)
{
    std::uint32_t written = 0;
    while (written < count) {
        const ssize_t n = write(port_fd, bytes + written, count - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        written += static_cast<std::uint32_t>(n);
    }
    // Return only when the bytes have left the queues: the release that follows in
    // immediate mode must not discard any of them.
    while (tcdrain(port_fd) != 0 && errno == EINTR) {
    }
    return written;
}

std::uint32_t _read_port(std::uint8_t* buffer, std::uint32_t count)
{
    if (count == 0) return 0;
    timespec started{};
    clock_gettime(CLOCK_MONOTONIC, &started);
    pollfd p{port_fd, POLLIN, 0};
    const int ready = poll(&p, 1, READ_WAIT_MS);
    if (ready > 0 && (p.revents & POLLIN) != 0) {
        const ssize_t n = read(port_fd, buffer, count);
        if (n > 0) return static_cast<std::uint32_t>(n);
    }
    if (ready != 0) wait_until(started, READ_WAIT_MS);  // failed or hung up: still wait
    return 0;
}

void _close_port()
{
    if (port_fd < 0) return;
    set_modem_line(TIOCM_DTR, false);
    // The write has drained already; only unread input is discarded. Flushing output
    // here would throw away a frame that the other end of a pseudo-terminal has not
    // read yet.
    (void)tcflush(port_fd, TCIFLUSH);
    close(port_fd);  // the lock goes with the descriptor
    port_fd = -1;
}

}  // namespace talvo
