// The simulated phone's rules: which answer it gives to which command frame, read
// from a small text file, and the bytes of that answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvo {

enum class AnswerKind { ok, reject, nodata, badsum, broken, silent, bytes, flood, garbage, vanish };

struct Rule {
    std::vector<std::uint8_t> prefix;  // leading payload bytes; empty matches every command
    AnswerKind kind = AnswerKind::ok;
    std::vector<std::uint8_t> bytes;  // the frame of `answer`, xx already resolved
    int amount = 0;                   // flood: ms; garbage and vanish: bytes
    int delay_ms = 0;                 // before the first byte
    int gap_ms = 0;                   // between bytes
    bool lead00 = false;              // one 0x00 before the answer
    std::vector<std::uint8_t> trail;  // after the answer, xx already resolved
    int line = 0;                     // in the rules file; 0 for the built-in default
};

// What goes out on the line for one command.
struct Outgoing {
    std::vector<std::uint8_t> stream;  // lead byte, answer, trail
    int answer_end = -1;               // index in stream of the answer's last byte; -1 none
};

// Reads the rules file. On a malformed line prints "file:line: why" on stderr and
// returns false.
bool load_rules(const char* path);

// The first rule whose prefix matches the payload, else the built-in `ok`.
const Rule& choose_rule(const std::uint8_t* payload, int length);

// The bytes for `rule` in reply to `frame` (a whole command frame). Flood is not
// built here: it has no fixed bytes.
Outgoing build_outgoing(const Rule& rule, const std::uint8_t* frame);

// A short description of a rule's answer for the exchange log, e.g. "reject (line 4)".
std::string describe_rule(const Rule& rule);

}  // namespace talvo
