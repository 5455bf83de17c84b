// Command-line options and the usage text.
#pragma once

#include "cli/settings.h"

namespace talvo {

enum class ParseOutcome {
    ok,          // all arguments accepted, a command name among them
    bad_format,  // "Illegal paramter format:" (a missing value, a bad port number)
    bad_speed,   // "Illegal parameter format:" (a speed that is not one of the four)
    no_name,     // options but no command name
    help,        // -h or --help
};

// Reads the arguments into s, from the first after the program name, and stops at
// the first one that is refused. Prints nothing.
ParseOutcome parse_options(int argc, const char* const* argv, RunSettings& s);

// Parses into the run settings; on a refused option prints its message and the usage
// text and ends the process with status 1; on -h prints banner and usage, status 0.
void _parse_args(int argc, const char* const* argv);

// Prints the usage text.
void _usage();

}  // namespace talvo
