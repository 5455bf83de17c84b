// Entry and run sequence: settings, banner, data file, port, the one command, release.

#include <sys/stat.h>

#include <cstdio>

#include "cli/banner.h"
#include "cli/options.h"
#include "cli/settings.h"
#include "datafile/command.h"
#include "serial/port.h"

namespace talvo {
namespace {

// A directory opens as a stream on some systems but holds no commands: it counts as
// a data file that cannot be opened.
std::FILE* open_data_file(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return nullptr;
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

void lowercase(std::string& text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}

int run(int argc, const char* const* argv)
{
    if (argc < 2) {
        _banner();
        _usage();
        return 0;
    }
    _parse_args(argc, argv);
    if (!settings.quiet) _banner();

    std::FILE* data_file = open_data_file(settings.data_file.c_str());
    if (data_file == nullptr) {
        std::printf("Error: datafile '%s' not found.\n", settings.data_file.c_str());
        return 1;
    }

    const int opened = settings.use_device ? _open_device(settings.device.c_str())
                                           : _open_port(settings.port_number);
    if (opened != 1) {
        if (settings.use_device)
            std::printf("Error: '%s' not available!\n", settings.device.c_str());
        else
            std::printf("Error: 'com%u' not available!\n", settings.port_number);
        std::fclose(data_file);
        return 1;
    }
    if (!settings.quiet) {
        if (settings.use_device)
            std::printf("Port: %s, %i bps, input file: %s\n", settings.device.c_str(),
                        settings.speed, settings.data_file.c_str());
        else
            std::printf("Port: com%u, %i bps, input file: %s\n", settings.port_number,
                        settings.speed, settings.data_file.c_str());
    }

    lowercase(settings.command_name);
    _run_command(data_file, settings.command_name.c_str());

    _close_port();
    return std::fclose(data_file) == 0 ? 0 : -1;
}

}  // namespace
}  // namespace talvo

int main(int argc, char** argv)
{
    return talvo::run(argc, argv);
}
