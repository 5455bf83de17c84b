// talvo_phone_sim: a phone on a pseudo-terminal for talvo_cmd to talk to.
// Reads command frames from the line and answers each one as the rules say.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "phone_line.h"
#include "phone_rules.h"

namespace talvo {

namespace {

constexpr int EXIT_USAGE = 2;
// A frame that stops half way is dropped after this much silence, so that the next
// command after a tool died mid-write is read from its own start byte.
constexpr int PARTIAL_FRAME_MS = 1000;
// How long the last answer may wait for its reader before the line is closed.
constexpr int LAST_ANSWER_READ_MS = 2000;
constexpr int VANISH_READ_MS = 1000;

struct Options {
    const char* link = nullptr;
    const char* rules = nullptr;
    const char* timing = nullptr;
    long speed = 0;      // 0: answers are not paced
    long exchanges = 0;  // 0: no limit
    bool verbose = false;
};

Options options;
std::FILE* timing_log = nullptr;

// The command frame being read: 02, L, L payload bytes, checksum, 03.
struct Reader {
    std::uint8_t frame[260] = {};
    int have = 0;
    int need = 0;  // L + 4 once the length byte is in
    std::int64_t last_byte_ns = 0;
};

Reader reader;

void usage(std::FILE* out)
{
    std::fputs(
        "usage: talvo_phone_sim [-l link] [-r rules] [-b speed] [-n count] [-t file] [-v] [-h]\n"
        "  Plays a phone on a pseudo-terminal; prints \"phone: <slave path>\" first.\n"
        "  -l link   also make a symbolic link to the slave (removed at exit)\n"
        "  -r rules  answer commands as the rules file says (default: ok to all)\n"
        "  -b speed  pace answers at this line speed, 10 bit times a byte\n"
        "  -n count  exit after this many command frames\n"
        "  -t file   append the monotonic time (ns) of each answer's last byte\n"
        "  -v        log every exchange in hex on stderr\n"
        "  -h        this help\n",
        out);
}

bool read_count(const char* text, long& out)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 1 || value > 100000000L) return false;
    out = value;
    return true;
}

// 0: go on; otherwise the exit status + 1.
int parse_options(int argc, char** argv)
{
    int c = 0;
    opterr = 0;  // our own message
    while ((c = getopt(argc, argv, "l:r:b:n:t:vh")) != -1) {
        switch (c) {
        case 'l': options.link = optarg; break;
        case 'r': options.rules = optarg; break;
        case 't': options.timing = optarg; break;
        case 'v': options.verbose = true; break;
        case 'h': usage(stdout); return 1;
        case 'b':
            if (!read_count(optarg, options.speed)) {
                std::fprintf(stderr, "talvo_phone_sim: bad speed '%s'\n", optarg);
                return EXIT_USAGE + 1;
            }
            break;
        case 'n':
            if (!read_count(optarg, options.exchanges)) {
                std::fprintf(stderr, "talvo_phone_sim: bad count '%s'\n", optarg);
                return EXIT_USAGE + 1;
            }
            break;
        default:
            std::fprintf(stderr, "talvo_phone_sim: unknown option or missing value: -%c\n", optopt);
            usage(stderr);
            return EXIT_USAGE + 1;
        }
    }
    if (optind != argc) {
        usage(stderr);
        return EXIT_USAGE + 1;
    }
    return 0;
}

void log_bytes(const char* what, const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    char hex[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
        text += hex;
    }
    if (text.empty())
        text = "(nothing)";
    else
        text.pop_back();
    std::fprintf(stderr, "%s: %s\n", what, text.c_str());
}

// Answers one command frame. False when the phone is gone (vanish) or stopped.
bool answer(const std::uint8_t* frame, std::int64_t received_ns, bool& vanished)
{
    const int length = frame[1];
    const Rule& rule = choose_rule(frame + 2, length);
    if (options.verbose) {
        log_bytes("command", frame, static_cast<std::size_t>(length) + 4);
        std::fprintf(stderr, "rule: %s\n", describe_rule(rule).c_str());
    }

    const std::int64_t t0 = received_ns + static_cast<std::int64_t>(rule.delay_ms) * 1000000;
    if (rule.delay_ms > 0 && !sleep_until(t0)) return false;

    std::int64_t last_byte_ns = 0;
    if (rule.kind == AnswerKind::flood) {
        const std::size_t sent =
            write_flood(now_ns() + static_cast<std::int64_t>(rule.amount) * 1000000);
        last_byte_ns = now_ns();
        if (options.verbose) std::fprintf(stderr, "answer: %zu bytes of 55\n", sent);
    } else {
        const Outgoing out = build_outgoing(rule, frame);
        const std::int64_t byte_ns = options.speed > 0 ? 10000000000LL / options.speed : 0;
        const std::int64_t step = byte_ns + static_cast<std::int64_t>(rule.gap_ms) * 1000000;
        const bool sent =
            write_paced(out.stream.data(), out.stream.size(), rule.delay_ms > 0 ? t0 : now_ns(),
                        step, out.answer_end, last_byte_ns);
        if (options.verbose) log_bytes("answer", out.stream.data(), out.stream.size());
        if (!sent) return false;
    }

    if (timing_log != nullptr && last_byte_ns != 0) {
        std::fprintf(timing_log, "%lld\n", static_cast<long long>(last_byte_ns));
        std::fflush(timing_log);
    }
    if (rule.kind == AnswerKind::vanish) {
        // Let the tool take what was sent, then pull the plug.
        wait_until_read(VANISH_READ_MS);
        if (options.verbose) std::fputs("vanished\n", stderr);
        vanished = true;
        return false;
    }
    return true;
}

// Reads and answers frames until a stop, the exchange count, or a vanish.
int serve()
{
    long exchanges = 0;
    std::uint8_t buffer[512];
    for (;;) {
        int timeout = -1;
        if (reader.have > 0) {
            const std::int64_t idle_ms = (now_ns() - reader.last_byte_ns) / 1000000;
            timeout =
                idle_ms >= PARTIAL_FRAME_MS ? 0 : static_cast<int>(PARTIAL_FRAME_MS - idle_ms);
        }
        const int ready = wait_readable(timeout);
        if (ready < 0) return 0;
        if (ready == 0) {
            if (options.verbose) log_bytes("dropped partial frame", reader.frame, reader.have);
            reader.have = 0;
            continue;
        }
        const ssize_t n = read(line_master(), buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            std::fprintf(stderr, "talvo_phone_sim: the line failed\n");
            return 1;
        }
        const std::int64_t received_ns = now_ns();
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint8_t b = buffer[i];
            if (reader.have == 0 && b != 0x02) continue;  // not a frame start
            reader.frame[reader.have++] = b;
            reader.last_byte_ns = received_ns;
            if (reader.have == 2) reader.need = b + 4;
            if (reader.have < 2 || reader.have < reader.need) continue;

            reader.have = 0;
            bool vanished = false;
            const bool going_on = answer(reader.frame, received_ns, vanished);
            ++exchanges;
            if (vanished) return 0;
            if (!going_on) return stop_requested() ? 0 : 1;
            if (options.exchanges > 0 && exchanges >= options.exchanges) {
                wait_until_read(LAST_ANSWER_READ_MS);
                return 0;
            }
        }
    }
}

}  // namespace

int run(int argc, char** argv)
{
    const int parsed = parse_options(argc, argv);
    if (parsed != 0) return parsed - 1;
    if (options.rules != nullptr && !load_rules(options.rules)) return EXIT_USAGE;
    if (options.timing != nullptr) {
        timing_log = std::fopen(options.timing, "a");
        if (timing_log == nullptr) {
            std::fprintf(stderr, "talvo_phone_sim: cannot open %s\n", options.timing);
            return EXIT_USAGE;
        }
    }
    if (!install_stop_signals()) return 1;
    if (!open_line(options.link)) {
        close_line();
        return 1;
    }
    std::printf("phone: %s\n", line_path());
    std::fflush(stdout);

    const int status = serve();
    close_line();
    if (timing_log != nullptr) std::fclose(timing_log);
    return status;
}

}  // namespace talvo

int main(int argc, char** argv)
{
    return talvo::run(argc, argv);
}
