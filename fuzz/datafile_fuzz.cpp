// Any bytes as the data file and any command name: the lookup, the lowercasing, the
// tokens, the frame and its checksum. Input: the name, a zero byte, the file; without
// a zero byte the whole input is the file and the name is empty.
//
// Checked on every input, in immediate and quiet mode:
//  - either the frame is sent, exactly L + 4 bytes of the frame buffer, or
//    "Error: command '<name>' not found!" is printed and nothing is sent;
//  - the fill index stays within the 260-byte frame.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/settings.h"
#include "datafile/command.h"
#include "fake_serial.h"
#include "invariant.h"
#include "protocol/frame.h"

using namespace talvo;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // What the run prints goes to a scratch file, where its length can be measured.
    std::FILE* out = std::tmpfile();
    if (out == nullptr || dup2(fileno(out), STDOUT_FILENO) < 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const void* zero = std::memchr(data, 0, size);
    std::string name;
    std::vector<char> file;
    if (zero != nullptr) {
        const std::uint8_t* at = static_cast<const std::uint8_t*>(zero);
        name.assign(data, at);
        file.assign(at + 1, data + size);
    } else {
        file.assign(data, data + size);
    }
    // As main does before the lookup.
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }

    fake::reset();
    settings = RunSettings{};
    settings.quiet = true;
    settings.immediate = true;
    std::fflush(stdout);
    if (ftruncate(STDOUT_FILENO, 0) != 0) std::abort();
    std::rewind(stdout);

    std::FILE* data_file = fmemopen(file.data(), file.size(), "rb");
    check(data_file != nullptr, "fmemopen");
    _run_command(data_file, name.c_str());
    std::fclose(data_file);
    std::fflush(stdout);
    const long printed = std::ftell(stdout);

    check(command_frame.fill_index >= 0 && command_frame.fill_index <= FRAME_BUFFER_SIZE,
          "fill index within the frame");
    const std::vector<std::uint8_t>& sent = fake::serial.written;
    if (sent.empty()) {
        const std::string message = "Error: command '" + name + "' not found!\n";
        check(printed == static_cast<long>(message.size()), "not-found message when nothing sent");
        check(command_frame.fill_index == 0, "no token taken when nothing sent");
    } else {
        const std::size_t length = command_frame.bytes[1];
        check(sent.size() == length + 4, "frame of L + 4 bytes");
        check(std::memcmp(sent.data(), command_frame.bytes, sent.size()) == 0,
              "frame sent as it stands in the buffer");
        check(printed == 0, "nothing printed in quiet immediate mode");
        check(!file.empty(), "a frame needs a line");
    }
    return 0;
}
