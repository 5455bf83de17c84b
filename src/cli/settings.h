// The settings of one run, filled from the command line and read everywhere else.
#pragma once

#include <string>

namespace talvo {

struct RunSettings {
    unsigned port_number = 1;  // COM<port_number>
    int speed = 19200;         // bits per second: 2400, 4800, 9600 or 19200
    std::string data_file = "talvo_cmd.dat";
    std::string device;       // -d: a device path that replaces COM<port_number>
    bool use_device = false;  // true while a -d path is in force (the later of -p and -d wins)
    std::string command_name;
    bool has_command_name = false;  // an empty argument is a name too
    bool quiet = false;             // only error messages (and the usage after a bad option)
    bool immediate = false;         // send and do not wait for the answer
};

// The one set of settings of the run.
extern RunSettings settings;

}  // namespace talvo
