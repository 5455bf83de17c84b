// Looking up a command in the data file and running it.

#include <cstdio>
#include <cstring>

#include "cli/settings.h"
#include "datafile/command.h"
#include "protocol/answer.h"
#include "protocol/frame.h"

namespace talvo {

namespace {

// Finds the first CR-terminated line that begins with name and is not a comment.
// Lines are cut in place at their CR; the byte after each CR is skipped unseen.
// A zero byte before a line's CR ends the search.
const char* find_line(char* text, int length, const char* name)
{
    const std::size_t name_length = std::strlen(name);
    int offset = 0;
    while (offset < length) {
        char* line_end = std::strchr(text + offset, '\r');
        if (line_end == nullptr) return nullptr;
        *line_end = '\0';
        const char* line = text + offset;
        if (line[0] != ';' && line[0] != '#' && std::strncmp(line, name, name_length) == 0)
            return line;
        offset = static_cast<int>(line_end - text) + 2;
    }
    return nullptr;
}

void report(AnswerResult result)
{
    const char* message = nullptr;
    switch (result) {
    case ANSWER_OK:
    case ANSWER_NO_DATA:
        if (!settings.quiet) std::fputs("command finished successfully!\n", stdout);
        return;
    case ANSWER_TIMEOUT: message = "Error: time out!\n"; break;
    case ANSWER_INVALID_COMMAND: message = "Error: command rejected from phone!\n"; break;
    case ANSWER_BROKEN: message = "Error: answer from phone was broken!\n"; break;
    case ANSWER_BAD_CHECKSUM: message = "Error: checksum in answer was wrong!\n"; break;
    default: message = "Huh, unknown return code from _get_answer()!\n"; break;
    }
    std::fputs(message, stdout);
}

}  // namespace

void _run_command(std::FILE* data_file, const char* name)
{
    char text[DATA_FILE_READ_LIMIT + 1];  // and a terminator after the bytes read
    std::fseek(data_file, 0, SEEK_SET);
    const int length = static_cast<int>(std::fread(text, 1, DATA_FILE_READ_LIMIT, data_file));
    text[length] = '\0';
    for (char* c = text; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    }

    const char* line = find_line(text, length, name);
    if (line == nullptr) {
        std::printf("Error: command '%s' not found!\n", name);
        return;
    }
    for (const char* token = _next_token(line); token != nullptr; token = _next_token(token))
        _add_byte(token);

    _send_command();
    if (settings.immediate) return;
    report(_get_answer());
}

}  // namespace talvo
