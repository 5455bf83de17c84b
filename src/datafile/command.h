// Commands from the data file: find the named line, turn its tokens into the frame,
// run the exchange and report the outcome.
#pragma once

#include <cstdio>

namespace talvo {

constexpr int DATA_FILE_READ_LIMIT = 10000;  // only this much of the file is looked at

// Looks up name (already lowercased) in the open data file, sends its frame, awaits
// the answer unless immediate, and prints the outcome.
void _run_command(std::FILE* data_file, const char* name);

// The start of the next token after the word at position, within a line that ends
// with '\0'; nullptr when there is none.
const char* _next_token(const char* position);

// Turns one token into the frame byte at the fill index and advances the index;
// the placeholder xx has the checksum computed.
void _add_byte(const char* token);

}  // namespace talvo
