// The serial port on Windows, through the kernel32 communications calls.
// COM<n> is the device COM<n>; -d names any device (COM12, \\.\COM12).

#include <windows.h>

#include <cstdio>
#include <string>

#include "cli/settings.h"
#include "serial/clock.h"
#include "serial/port.h"

namespace talvo {

namespace {

HANDLE port_handle = INVALID_HANDLE_VALUE;

// Abort and discard whatever is pending in both directions.
constexpr DWORD PURGE_ALL = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

constexpr DWORD QUEUE_SIZE = 4096;

// What a one-byte read waits at most when nothing comes: 5 ms per byte plus 5 ms.
constexpr std::uint64_t READ_WAIT_MS = 10;

// Windows knows only COM1 to COM9 by their plain names: a plain COM12 would be looked
// up as a file. A bare COM with two digits or more therefore gets the device prefix;
// every other name is used as given.
std::string device_path(const char* name)
{
    const bool com = (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
                     (name[2] == 'M' || name[2] == 'm');
    if (!com || name[3] == '\0' || name[4] == '\0') return name;
    for (const char* c = name + 3; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return name;
    }
    return std::string("\\\\.\\") + name;
}

void clear_line_errors()
{
    DWORD errors = 0;
    (void)ClearCommError(port_handle, &errors, nullptr);
}

}  // namespace

int _open_port(unsigned port_number)
{
    // Port 0 is not refused here: COM0 is tried, and names no device.
    char name[32];
    std::snprintf(name, sizeof name, "COM%u", port_number);
    return _open_device(name);
}

int _open_device(const char* device_name)
{
    // Exclusive access, plain synchronous input and output.
    const std::string path = device_path(device_name);
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    // Only a character device is a port: a file, a pipe or a name that opens onto
    // nothing is refused before anything is written to it.
    if (GetFileType(handle) != FILE_TYPE_CHAR) {
        CloseHandle(handle);
        return 0;
    }
    port_handle = handle;

    // From here on only the opening counts: the set-up results are not examined.
    (void)SetupComm(port_handle, QUEUE_SIZE, QUEUE_SIZE);
    (void)PurgeComm(port_handle, PURGE_ALL);

    // A one-byte read returns as soon as a byte is there, empty after about 10 ms.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 5;
    timeouts.ReadTotalTimeoutConstant = 5;
    timeouts.WriteTotalTimeoutMultiplier = 0;  // writes have no time limit
    timeouts.WriteTotalTimeoutConstant = 0;
    (void)SetCommTimeouts(port_handle, &timeouts);

    (void)_set_line(settings.speed);
    // DTR up at the end of the opening, even when the line settings were refused.
    (void)EscapeCommFunction(port_handle, SETDTR);
    return 1;
}

int _set_line(int speed)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // When the current settings cannot be read, ours are applied all the same.
    (void)GetCommState(port_handle, &dcb);
    dcb.BaudRate = static_cast<DWORD>(speed);
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // Everything else stays as the driver reported it.
    return SetCommState(port_handle, &dcb) ? 1 : 0;
}

std::uint32_t _write_port(const std::uint8_t* bytes, std::uint32_t count)
{
    // Synchronous and without a time limit: it returns once the driver has completed
    // the write, so the purge at release cannot discard any of the frame.
    DWORD written = 0;
    if (!WriteFile(port_handle, bytes, count, &written, nullptr)) {
        clear_line_errors();
        return 0;
    }
    return written;
}

std::uint32_t _read_port(std::uint8_t* buffer, std::uint32_t count)
{
    // An overrun or framing error left from before must not block the read.
    clear_line_errors();
    if (count == 0) return 0;
    const std::uint64_t started = _clock_ms();
    DWORD got = 0;
    const BOOL read = ReadFile(port_handle, buffer, count, &got, nullptr);
    if (!read) {
        clear_line_errors();
        got = 0;
    }
    if (got == 0) {
        // A port that is gone fails at once, and a driver may come back at once with
        // nothing: the read still takes its wait, so that the answer loop idles until
        // its deadline instead of spinning.
        const std::uint64_t spent = _clock_ms() - started;
        if (spent < READ_WAIT_MS) Sleep(static_cast<DWORD>(READ_WAIT_MS - spent));
    }
    return got;
}

void _close_port()
{
    if (port_handle == INVALID_HANDLE_VALUE) return;
    (void)SetCommMask(port_handle, 0);
    (void)EscapeCommFunction(port_handle, CLRDTR);
    // Whatever is still queued is dropped, without waiting for output to drain.
    (void)PurgeComm(port_handle, PURGE_ALL);
    CloseHandle(port_handle);
    port_handle = INVALID_HANDLE_VALUE;
}

}  // namespace talvo
