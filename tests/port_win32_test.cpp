// The Windows port on names that lead to no serial line: what it accepts as a port,
// that a refused file keeps its bytes, and that an empty read still takes its wait.
// It opens no COM port but COM0, which names none.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "serial/clock.h"
#include "serial/port.h"

namespace talvo {
namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A fresh folder under the temporary folder.
std::string scratch_folder()
{
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    const std::string folder =
        std::string(base) + "talvo_port_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Win32Port, ComZeroNamesNoPort)
{
    EXPECT_EQ(_open_port(0), 0);
}

TEST(Win32Port, RefusesWhatIsNotACharacterDevice)
{
    const std::string folder = scratch_folder();
    const std::string file = folder + "\\regular";
    {
        std::ofstream(file, std::ios::binary) << "keep me";
    }

    EXPECT_EQ(_open_device(file.c_str()), 0);
    EXPECT_EQ(read_file(file), "keep me");
    EXPECT_EQ(_open_device(folder.c_str()), 0);
    EXPECT_EQ(_open_device((folder + "\\missing").c_str()), 0);

    DeleteFileA(file.c_str());
    RemoveDirectoryA(folder.c_str());
}

// NUL is a character device that answers every read at once with nothing: the
// empty read must still wait about 10 ms, or the answer loop would spin.
TEST(Win32Port, EmptyReadTakesItsWaitEvenWhenTheDeviceAnswersAtOnce)
{
    ASSERT_EQ(_open_device("NUL"), 1);
    std::uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(_read_port(&byte, 1), 0u);
    const double waited = ms_since(start);
    EXPECT_GE(waited, 9.0);
    EXPECT_LT(waited, 500.0);

    const auto again = Clock::now();
    EXPECT_EQ(_read_port(&byte, 0), 0u);  // nothing asked, nothing read, no wait
    EXPECT_LT(ms_since(again), 5.0);

    const std::uint8_t frame[] = {0x02, 0x00, 0x02, 0x03};
    EXPECT_EQ(_write_port(frame, sizeof frame), sizeof frame);
    _close_port();
    _close_port();  // a second release finds nothing open
}

TEST(Win32Port, ClockCountsMilliseconds)
{
    const std::uint64_t first = _clock_ms();
    EXPECT_LT(first, 60000u);
    Sleep(50);
    const std::uint64_t later = _clock_ms();
    EXPECT_GE(later - first, 45u);
    EXPECT_LT(later - first, 1000u);
}

}  // namespace
}  // namespace talvo
