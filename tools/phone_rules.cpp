// Rules file parsing and answer building for the simulated phone.
//
// One rule a line:   <prefix bytes or *> = <answer kind> <modifiers...>
// ';' or '#' starts a comment, to the end of the line.

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "phone_rules.h"

namespace talvo {

namespace {

constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ETX = 0x03;
constexpr std::uint8_t STATUS_REJECT = 0x45;
constexpr std::uint8_t STATUS_NO_DATA = 0x76;
constexpr int MAX_MS = 3600 * 1000;  // an hour: enough for any test, no overflow
constexpr int MAX_GARBAGE = 1000 * 1000;
constexpr int DEFAULT_ANSWER_SIZE = 8;

std::vector<Rule> rules;
const Rule default_rule;

// Where the current file and line are, for error messages.
const char* rules_path = "";
int line_number = 0;

bool fail(const char* why, const std::string& word)
{
    if (word.empty())
        std::fprintf(stderr, "talvo_phone_sim: %s:%d: %s\n", rules_path, line_number, why);
    else
        std::fprintf(stderr, "talvo_phone_sim: %s:%d: %s '%s'\n", rules_path, line_number, why,
                     word.c_str());
    return false;
}

std::string lower(std::string word)
{
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

std::vector<std::string> split_words(const std::string& text)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        const std::size_t start = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

bool is_hex_byte(const std::string& word)
{
    return word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0])) &&
           std::isxdigit(static_cast<unsigned char>(word[1]));
}

bool is_xx(const std::string& word)
{
    return lower(word) == "xx";
}

std::uint8_t hex_value(const std::string& word)
{
    return static_cast<std::uint8_t>(std::strtoul(word.c_str(), nullptr, 16));
}

// Reads the byte list after words[i] (answer, trail); `xx` is the XOR of the list's
// bytes before it. Leaves i on the list's last word.
bool read_byte_list(const std::vector<std::string>& words, std::size_t& i,
                    std::vector<std::uint8_t>& out)
{
    const std::string& keyword = words[i];
    std::uint8_t running = 0;
    while (i + 1 < words.size() && (is_hex_byte(words[i + 1]) || is_xx(words[i + 1]))) {
        ++i;
        const std::uint8_t b = is_xx(words[i]) ? running : hex_value(words[i]);
        out.push_back(b);
        running ^= b;
    }
    if (out.empty()) return fail("hex bytes expected after", keyword);
    return true;
}

// Reads the decimal number after words[i] and leaves i on it.
bool read_number(const std::vector<std::string>& words, std::size_t& i, int low, int high, int& out)
{
    const std::string& keyword = words[i];
    if (i + 1 >= words.size()) return fail("number expected after", keyword);
    const std::string& word = words[++i];
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || !std::isdigit(static_cast<unsigned char>(word[0])) || *end != '\0' ||
        errno != 0 || value < low || value > high)
        return fail("bad number", word);
    out = static_cast<int>(value);
    return true;
}

bool parse_prefix(const std::string& text, Rule& rule)
{
    const std::vector<std::string> words = split_words(text);
    if (words.size() == 1 && words[0] == "*") return true;
    for (const std::string& word : words) {
        if (!is_hex_byte(word)) return fail("prefix byte expected, not", word);
        rule.prefix.push_back(hex_value(word));
    }
    return true;
}

bool parse_answer(const std::string& text, Rule& rule)
{
    const std::vector<std::string> words = split_words(text);
    bool kind_given = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string word = lower(words[i]);
        AnswerKind kind = AnswerKind::ok;
        bool is_kind = true;
        if (word == "ok")
            kind = AnswerKind::ok;
        else if (word == "reject")
            kind = AnswerKind::reject;
        else if (word == "nodata")
            kind = AnswerKind::nodata;
        else if (word == "badsum")
            kind = AnswerKind::badsum;
        else if (word == "broken")
            kind = AnswerKind::broken;
        else if (word == "silent")
            kind = AnswerKind::silent;
        else if (word == "answer")
            kind = AnswerKind::bytes;
        else if (word == "flood")
            kind = AnswerKind::flood;
        else if (word == "garbage")
            kind = AnswerKind::garbage;
        else if (word == "vanish")
            kind = AnswerKind::vanish;
        else
            is_kind = false;

        if (is_kind) {
            if (kind_given) return fail("a second answer kind", words[i]);
            kind_given = true;
            rule.kind = kind;
            bool good = true;
            if (kind == AnswerKind::bytes) good = read_byte_list(words, i, rule.bytes);
            if (kind == AnswerKind::flood) good = read_number(words, i, 0, MAX_MS, rule.amount);
            if (kind == AnswerKind::garbage)
                good = read_number(words, i, 0, MAX_GARBAGE, rule.amount);
            if (kind == AnswerKind::vanish)
                good = read_number(words, i, 0, DEFAULT_ANSWER_SIZE, rule.amount);
            if (!good) return false;
        } else if (word == "delay") {
            if (!read_number(words, i, 0, MAX_MS, rule.delay_ms)) return false;
        } else if (word == "gap") {
            if (!read_number(words, i, 0, MAX_MS, rule.gap_ms)) return false;
        } else if (word == "lead00") {
            rule.lead00 = true;
        } else if (word == "trail") {
            if (!read_byte_list(words, i, rule.trail)) return false;
        } else {
            return fail("unknown word", words[i]);
        }
    }
    return true;  // modifiers alone leave the answer `ok`
}

bool parse_line(std::string text)
{
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const std::size_t comment = text.find_first_of(";#");
    if (comment != std::string::npos) text.erase(comment);
    if (split_words(text).empty()) return true;

    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return fail("'=' missing", "");
    Rule rule;
    rule.line = line_number;
    if (!parse_prefix(text.substr(0, equals), rule)) return false;
    if (!parse_answer(text.substr(equals + 1), rule)) return false;
    rules.push_back(rule);
    return true;
}

void set_checksum(std::uint8_t* frame)
{
    const int length = frame[1];
    std::uint8_t sum = 0;
    for (int i = 0; i <= length + 1; ++i) sum ^= frame[i];
    frame[length + 2] = sum;
}

// Same sequence for every garbage answer, so that a failing test can be rerun.
std::vector<std::uint8_t> noise(int count)
{
    std::vector<std::uint8_t> out;
    std::uint32_t state = 0x2545F491u;
    for (int i = 0; i < count; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out.push_back(static_cast<std::uint8_t>(state >> 24));
    }
    return out;
}

}  // namespace

bool load_rules(const char* path)
{
    rules_path = path;
    line_number = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "talvo_phone_sim: %s: cannot open rules file\n", path);
        return false;
    }
    bool good = true;
    std::string line;
    int c = 0;
    while (good && (c = std::fgetc(file)) != EOF) {
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        ++line_number;
        good = parse_line(line);
        line.clear();
    }
    if (good && !line.empty()) {
        ++line_number;
        good = parse_line(line);
    }
    std::fclose(file);
    return good;
}

const Rule& choose_rule(const std::uint8_t* payload, int length)
{
    for (const Rule& rule : rules) {
        if (static_cast<int>(rule.prefix.size()) > length) continue;
        if (std::memcmp(rule.prefix.data(), payload, rule.prefix.size()) == 0) return rule;
    }
    return default_rule;
}

Outgoing build_outgoing(const Rule& rule, const std::uint8_t* frame)
{
    // The well-formed success echoes the first two payload bytes, the command code.
    const int length = frame[1];
    std::uint8_t answer[DEFAULT_ANSWER_SIZE] = {STX,
                                                4,
                                                length >= 1 ? frame[2] : std::uint8_t{0},
                                                length >= 2 ? frame[3] : std::uint8_t{0},
                                                0x01,
                                                0x00,
                                                0,
                                                ETX};
    if (rule.kind == AnswerKind::reject) answer[5] = STATUS_REJECT;
    if (rule.kind == AnswerKind::nodata) answer[5] = STATUS_NO_DATA;
    if (rule.kind == AnswerKind::broken) answer[4] = 0x00;
    set_checksum(answer);
    if (rule.kind == AnswerKind::badsum) answer[6] ^= 0xFF;

    std::vector<std::uint8_t> body;
    switch (rule.kind) {
    case AnswerKind::silent:
    case AnswerKind::flood: break;
    case AnswerKind::bytes: body = rule.bytes; break;
    case AnswerKind::garbage: body = noise(rule.amount); break;
    case AnswerKind::vanish: body.assign(answer, answer + rule.amount); break;
    default: body.assign(answer, answer + DEFAULT_ANSWER_SIZE); break;
    }

    Outgoing out;
    if (rule.kind == AnswerKind::silent || rule.kind == AnswerKind::flood) return out;
    if (rule.lead00) out.stream.push_back(0x00);
    out.stream.insert(out.stream.end(), body.begin(), body.end());
    if (!body.empty()) out.answer_end = static_cast<int>(out.stream.size()) - 1;
    if (rule.kind != AnswerKind::vanish)
        out.stream.insert(out.stream.end(), rule.trail.begin(), rule.trail.end());
    return out;
}

std::string describe_rule(const Rule& rule)
{
    static const char* const names[] = {"ok",     "reject", "nodata", "badsum",  "broken",
                                        "silent", "answer", "flood",  "garbage", "vanish"};
    std::string text = names[static_cast<int>(rule.kind)];
    if (rule.kind == AnswerKind::flood || rule.kind == AnswerKind::garbage ||
        rule.kind == AnswerKind::vanish)
        text += " " + std::to_string(rule.amount);
    if (rule.delay_ms > 0) text += " delay " + std::to_string(rule.delay_ms);
    if (rule.gap_ms > 0) text += " gap " + std::to_string(rule.gap_ms);
    if (rule.lead00) text += " lead00";
    if (!rule.trail.empty()) text += " trail";
    text += rule.line > 0 ? " (rule on line " + std::to_string(rule.line) + ")" : " (default)";
    return text;
}

}  // namespace talvo
