// The POSIX port against a pseudo-terminal: what it accepts as a port, how it shares
// it, how long its reads wait, and that the bytes cross.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "serial/port.h"

namespace talvo {
namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) slave = ptsname(master);
    }
    ~Pty()
    {
        if (master >= 0) close(master);
    }
};

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(PosixPort, RefusesWhatIsNotATerminal)
{
    char dir[] = "/tmp/talvo_port_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/regular";
    {
        std::ofstream(file, std::ios::binary) << "keep me";
    }
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    EXPECT_EQ(_open_device(file.c_str()), 0);
    EXPECT_EQ(_open_device(dir), 0);
    EXPECT_EQ(_open_device("/dev/null"), 0);
    EXPECT_EQ(_open_device((std::string(dir) + "/missing").c_str()), 0);
    EXPECT_EQ(_open_port(0), 0);

    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(read_file(file), "keep me");
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    std::remove(file.c_str());
    rmdir(dir);
}

TEST(PosixPort, PortHeldWithALockIsNotAvailable)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    const int holder = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(_open_device(pty.slave.c_str()), 0);
    close(holder);

    ASSERT_EQ(_open_device(pty.slave.c_str()), 1);
    const int other = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);  // root passes the exclusive mode; the lock still holds
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
    _close_port();
}

TEST(PosixPort, BytesCrossBothWays)
{
    Pty pty;
    ASSERT_EQ(_open_device(pty.slave.c_str()), 1);
    const std::uint8_t frame[] = {0x02, 0x03, 0x10, 0x20, 0x30, 0x01, 0x03};
    EXPECT_EQ(_write_port(frame, sizeof frame), sizeof frame);
    std::uint8_t got[16] = {};
    ASSERT_EQ(read(pty.master, got, sizeof got), static_cast<ssize_t>(sizeof frame));
    EXPECT_EQ(0, std::memcmp(got, frame, sizeof frame));

    // Bytes through the raw line come back unchanged, CR and zero included.
    const std::uint8_t answer[] = {0x0d, 0x00, 0x11, 0x13, 0x0a, 0x7f, 0x03};
    ASSERT_EQ(write(pty.master, answer, sizeof answer), static_cast<ssize_t>(sizeof answer));
    for (std::uint8_t expected : answer) {
        std::uint8_t b = 0;
        ASSERT_EQ(_read_port(&b, 1), 1u);
        EXPECT_EQ(b, expected);
    }
    std::uint8_t none = 0;
    EXPECT_EQ(_read_port(&none, 0), 0u);
    _close_port();
}

TEST(PosixPort, EmptyReadWaitsBrieflyEvenWhenThePeerIsGone)
{
    Pty pty;
    ASSERT_EQ(_open_device(pty.slave.c_str()), 1);
    std::uint8_t b = 0;
    auto start = Clock::now();
    EXPECT_EQ(_read_port(&b, 1), 0u);
    const double idle = ms_since(start);
    EXPECT_GE(idle, 9.0);
    EXPECT_LT(idle, 1000.0);

    // A byte that arrives during the wait ends it long before the wait is over.
    ASSERT_EQ(write(pty.master, "\x02", 1), 1);
    start = Clock::now();
    EXPECT_EQ(_read_port(&b, 1), 1u);
    EXPECT_LT(ms_since(start), 5.0);

    // With the other side closed every read fails; each still takes its wait.
    close(pty.master);
    pty.master = -1;
    start = Clock::now();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(_read_port(&b, 1), 0u);
    EXPECT_GE(ms_since(start), 45.0);
    _close_port();
}

}  // namespace
}  // namespace talvo
