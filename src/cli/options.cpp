#include "cli/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/banner.h"

namespace talvo {

namespace {

// Option names match without regard to case: -P works like -p.
bool is_option(const char* arg, const char* name)
{
    for (; *arg != '\0' && *name != '\0'; ++arg, ++name) {
        char c = *arg;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *name) return false;
    }
    return *arg == '\0' && *name == '\0';
}

// A port number is read like a C integer (leading white space, one sign, digits up to
// the first other character, no digits give 0) and accepted from 0 to 8. Anything
// negative or larger, however many digits it has, is refused.
bool read_port_number(const char* text, unsigned& port)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = (*text++ == '-');
    unsigned value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<unsigned>(*text - '0');
        if (value > 8) return false;  // stop before the digits can overflow
    }
    if (negative && value != 0) return false;
    port = value;
    return true;
}

bool read_speed(const char* text, int& speed)
{
    static const int speeds[] = {2400, 4800, 9600, 19200};
    static const char* const names[] = {"2400", "4800", "9600", "19200"};
    for (int k = 0; k < 4; ++k) {
        if (std::strcmp(text, names[k]) == 0) {
            speed = speeds[k];
            return true;
        }
    }
    return false;
}

}  // namespace

ParseOutcome parse_options(int argc, const char* const* argv, RunSettings& s)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool takes_value = is_option(arg, "-p") || is_option(arg, "-b") ||
                                 is_option(arg, "-f") || is_option(arg, "-d");
        if (takes_value && i + 1 >= argc) return ParseOutcome::bad_format;

        if (is_option(arg, "-p")) {
            if (!read_port_number(argv[++i], s.port_number)) return ParseOutcome::bad_format;
            s.use_device = false;
        } else if (is_option(arg, "-b")) {
            if (!read_speed(argv[++i], s.speed)) return ParseOutcome::bad_speed;
        } else if (is_option(arg, "-f")) {
            s.data_file = argv[++i];
        } else if (is_option(arg, "-d")) {
            s.device = argv[++i];
            s.use_device = true;
        } else if (is_option(arg, "-q")) {
            s.quiet = true;
        } else if (is_option(arg, "-i")) {
            s.immediate = true;
        } else if (is_option(arg, "-h") || is_option(arg, "--help")) {
            return ParseOutcome::help;
        } else {
            s.command_name = arg;
            s.has_command_name = true;
        }
    }
    return s.has_command_name ? ParseOutcome::ok : ParseOutcome::no_name;
}

void _usage()
{
    std::fputs(
        "Usage:\n\n"
        "talvo_cmd [-p <portnum>] [-b <speed>] [-q] [-i] [-f <file>] <command name>\n\n"
        "   -p <portnum> : use COM<portnum> for communication       default: 1\n"
        "   -d <device> : use the serial device <device> instead of COM<portnum>\n"
        "   -b <speed> : communication speed [2400,4800,9600,19200] default: 19200\n"
        "   -f <file> : take commands from <file>                   default: talvo_cmd.dat\n"
        "   -q : quiet mode, only print error messages\n"
        "   -i : exit immediatly, do not wait for answer\n"
        "\n",
        stdout);
}

void _parse_args(int argc, const char* const* argv)
{
    switch (parse_options(argc, argv, settings)) {
    case ParseOutcome::ok: return;
    case ParseOutcome::help:
        _banner();
        _usage();
        std::exit(0);
    case ParseOutcome::bad_format: std::fputs("Illegal paramter format:\n", stdout); break;
    case ParseOutcome::bad_speed: std::fputs("Illegal parameter format:\n", stdout); break;
    case ParseOutcome::no_name: std::fputs("Error: no command name given!\n", stdout); break;
    }
    _usage();
    std::exit(1);
}

}  // namespace talvo
