// velkor-sim: a bus of M-Bus meters on a pseudo-terminal.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "model/bus_file.h"
#include "model/frame_splitter.h"
#include "model/meter_bus.h"
#include "pty_link.h"
#include "tcp_gateway.h"
#include "velkor_version.h"

namespace {

using namespace velkor::sim;

constexpr int exit_usage = 2;
constexpr int exit_failure = 1;
// A frame that stops arriving for this long is given up, as a slave's
// receiver does after an idle line.
constexpr int partial_frame_ms = 1000;

volatile std::sig_atomic_t stop_signal = 0;
volatile std::sig_atomic_t unplug_requested = 0;

void on_signal(int signal)
{
    if (signal == SIGHUP)
        unplug_requested = 1;
    else
        stop_signal = signal;
}

// How answers go onto the line: byte by byte at the character time of the
// line speed (as a wire delivers them), in one write, or in chunks.
struct delivery {
    enum { paced, whole, chunks } kind = paced;
    int chunk_bytes = 1;
    int chunk_ms = 0;
};

void usage(std::FILE* out)
{
    std::fputs("usage: velkor-sim --bus FILE --link PATH [--log FILE] [--delivery MODE]\n"
               "       velkor-sim --bus FILE --tcp PORT [--baud N] [--log FILE] [--delivery MODE]\n"
               "       velkor-sim --bus FILE --check\n"
               "Plays the meters of the bus file on a pseudo-terminal reached through the\n"
               "symlink PATH (its name must contain \"ttyS\"), or as a TCP gateway. Prints\n"
               "\"ready\" once the symlink exists (\"ready tcp://127.0.0.1:PORT\" once it\n"
               "listens); logs every frame to stderr or the --log file.\n"
               "  --bus FILE    the meters and their telegrams (see README)\n"
               "  --link PATH   where to put the symlink to the pty, e.g. /tmp/ttyS-sim\n"
               "  --tcp PORT    serve the bus on 127.0.0.1:PORT instead, one client at a\n"
               "                time (0: a free port)\n"
               "  --baud N      the gateway's line speed with --tcp (default 2400)\n"
               "  --log FILE    append the frame log to FILE instead of stderr\n"
               "  --delivery MODE  paced (default: byte by byte, 11 bits per byte at the line\n"
               "                speed), whole (each answer in one write) or chunks:N:MS\n"
               "                (N bytes every MS milliseconds)\n"
               "  --check       only read the bus file and list its meters\n"
               "  --help        this text\n"
               "  --version     the version\n"
               "SIGHUP unplugs the line: the pty and the symlink go (the gateway drops its\n"
               "client and stops listening), and half a second later the line is back.\n",
               out);
}

struct options {
    std::string bus_file;
    std::string link_path;
    std::string log_file;
    int tcp_port = -1;  // -1: the pty
    std::uint32_t baud_rate = 2400;
    bool check = false;
    delivery answers;
};

// "paced", "whole" or "chunks:N:MS".
bool read_delivery(std::string_view text, delivery& d)
{
    if (text == "paced" || text == "whole") {
        d.kind = text == "paced" ? delivery::paced : delivery::whole;
        return true;
    }
    unsigned n = 0, ms = 0;
    char end = 0;
    if (std::sscanf(std::string(text).c_str(), "chunks:%u:%u%c", &n, &ms, &end) != 2 || n == 0 || n > 512 ||
        ms > 10000)
        return false;
    d.kind = delivery::chunks;
    d.chunk_bytes = static_cast<int>(n);
    d.chunk_ms = static_cast<int>(ms);
    return true;
}

// --tcp PORT or --baud N.
bool read_number(std::string_view name, const std::string& value, options& o)
{
    unsigned n = 0;
    char end = 0;
    if (std::sscanf(value.c_str(), "%u%c", &n, &end) != 1)
        return false;
    if (name == "--tcp") {
        o.tcp_port = static_cast<int>(n);
        return n <= 65535;
    }
    o.baud_rate = n;
    return n >= 300 && n <= 38400;
}

// 0, or exit_usage after a message.
int read_options(int argc, char** argv, options& o)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string value;
        const std::size_t eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        auto take_value = [&]() -> bool {
            if (eq != std::string_view::npos) {
                value = std::string(arg.substr(eq + 1));
                return true;
            }
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::puts("velkor-sim " VELKOR_VERSION);
            std::exit(0);
        } else if (arg == "--check") {
            o.check = true;
        } else if (name == "--delivery") {
            if (!take_value() || !read_delivery(value, o.answers)) {
                std::fprintf(stderr, "velkor-sim: --delivery takes paced, whole or chunks:N:MS\n");
                usage(stderr);
                return exit_usage;
            }
        } else if (name == "--tcp" || name == "--baud") {
            if (!take_value() || !read_number(name, value, o)) {
                std::fprintf(stderr, "velkor-sim: %s takes %s\n", std::string(name).c_str(),
                             name == "--tcp" ? "a port 0 to 65535" : "a baud rate 300 to 38400");
                usage(stderr);
                return exit_usage;
            }
        } else if (name == "--bus" || name == "--link" || name == "--log") {
            if (!take_value() || value.empty()) {
                std::fprintf(stderr, "velkor-sim: %s needs a value\n", std::string(name).c_str());
                usage(stderr);
                return exit_usage;
            }
            (name == "--bus" ? o.bus_file : name == "--link" ? o.link_path : o.log_file) = value;
        } else {
            std::fprintf(stderr, "velkor-sim: unknown argument %s\n", argv[i]);
            usage(stderr);
            return exit_usage;
        }
    }
    const bool tcp = o.tcp_port >= 0;
    if (o.bus_file.empty() || (!o.check && o.link_path.empty() == !tcp)) {
        std::fprintf(stderr, "velkor-sim: %s\n",
                     o.bus_file.empty() ? "--bus is missing" : tcp ? "--link and --tcp exclude each other" : "--link is missing");
        usage(stderr);
        return exit_usage;
    }
    if (!o.check && !tcp && o.link_path.find("ttyS") == std::string::npos) {
        std::fprintf(stderr, "velkor-sim: the link name %s must contain \"ttyS\" for the daemon to take it as its "
                             "serial line\n",
                     o.link_path.c_str());
        return exit_usage;
    }
    return 0;
}

std::FILE* log_out = stderr;

void log_line(const char* tag, const std::string& text)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    std::fprintf(log_out, "%02d:%02d:%02d.%03d %s %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                 static_cast<int>(now.tv_nsec / 1000000), tag, text.c_str());
}

std::string meter_summary(const meter& m)
{
    std::string line = m.name + ": " + secondary_text(m.secondary) + ", primary " + std::to_string(m.primary_address) +
                       ", " + std::to_string(m.telegrams.size()) + " telegram(s)";
    if (m.baud_rate)
        line += ", " + std::to_string(m.baud_rate) + " Bd";
    if (m.delay_ms >= 0)
        line += ", delay " + std::to_string(m.delay_ms) + " ms";
    if (m.faults.silent)
        line += ", fault silent";
    if (m.faults.no_data)
        line += ", fault no-data";
    if (m.faults.bad_checksum_telegram)
        line += ", fault bad-checksum " + std::to_string(m.faults.bad_checksum_telegram);
    if (m.faults.stop_after)
        line += ", fault stop-after " + std::to_string(m.faults.stop_after);
    return line;
}

std::string line_summary(const line_switches& line)
{
    std::string text;
    if (line.echo)
        text = "line: echo";
    if (!line.noise.empty())
        text += (text.empty() ? "line: noise " : ", noise ") + hex_text(line.noise);
    return text;
}

bool write_all(int fd, const byte_string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

// Waits until the absolute time `at` (CLOCK_MONOTONIC); false when a signal
// asks to stop or unplug first.
bool wait_until(timespec at)
{
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        if (stop_signal || unplug_requested)
            return false;
    }
    return !stop_signal && !unplug_requested;
}

void advance(timespec& t, long long ns)
{
    ns += t.tv_nsec;
    t.tv_sec += static_cast<time_t>(ns / 1000000000LL);
    t.tv_nsec = static_cast<long>(ns % 1000000000LL);
}

// Where requests come from and answers go: the pty, or the gateway's client.
struct line_end {
    pty_link* pty = nullptr;
    tcp_gateway* tcp = nullptr;
    int fd() const { return pty ? pty->master : tcp->client; }
    // The speed the daemon set on the pty; a gateway keeps its own.
    std::uint32_t speed() const { return pty ? line_speed(*pty) : tcp->baud_rate; }
};

// Paced on a fixed schedule, so a late wake-up does not stretch the answer.
bool deliver(const line_end& link, const byte_string& bytes, const delivery& how)
{
    if (how.kind == delivery::whole)
        return write_all(link.fd(), bytes);
    const std::uint32_t baud = link.speed() ? link.speed() : 9600;
    const std::size_t step = how.kind == delivery::paced ? 1 : static_cast<std::size_t>(how.chunk_bytes);
    const long long gap_ns = how.kind == delivery::paced ? 11LL * 1000000000LL / baud : how.chunk_ms * 1000000LL;
    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        const std::size_t n = std::min(step, bytes.size() - at);
        if (!write_all(link.fd(), byte_string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                bytes.begin() + static_cast<std::ptrdiff_t>(at + n))))
            return false;
        advance(next, gap_ns * (how.kind == delivery::paced ? static_cast<long long>(n) : 1));
        if (at + n < bytes.size() && !wait_until(next))
            return true;  // the rest is lost with the line
    }
    return true;
}

// A slave waits at least 11 bit times before it answers and must begin within
// 330 bit times + 50 ms; without a delay of its own a meter takes a time
// between the first and 30 ms, spread evenly but the same on every run.
long long reaction_us(int delay_ms, std::uint32_t baud_rate)
{
    if (delay_ms >= 0)
        return delay_ms * 1000LL;
    static std::uint32_t seed = 1;
    seed = seed * 1103515245u + 12345u;
    const long long shortest = 11LL * 1000000 / (baud_rate ? baud_rate : 9600);
    const long long longest = 30000;
    return shortest >= longest ? shortest : shortest + (seed >> 8) % (longest - shortest + 1);
}

void serve_frames(meter_bus& bus, const line_end& link, frame_splitter& splitter, const delivery& how)
{
    byte_string frame, dropped;
    while (next_frame(splitter, frame, dropped)) {
        if (!dropped.empty()) {
            log_line("rx", hex_text(dropped) + "  (no frame, dropped)");
            dropped.clear();
        }
        log_line("rx", hex_text(frame));
        timespec heard{};
        ::clock_gettime(CLOCK_MONOTONIC, &heard);
        const bus_answer answer = answer_frame(bus, frame, link.speed());
        const long long delay_us = answer.bytes.empty() ? 0 : reaction_us(answer.delay_ms, link.speed());
        log_line("--", answer.note + (answer.bytes.empty() ? std::string()
                                                             : "; answer after " + std::to_string(delay_us) + " us"));
        if (!answer.bytes.empty()) {
            byte_string out = bus.line.noise;
            out.insert(out.end(), answer.bytes.begin(), answer.bytes.end());
            log_line("tx", hex_text(out) +
                               (answer.answering > 1 ? "  (" + std::to_string(answer.answering) + " meters collide)"
                                                     : std::string()));
            advance(heard, delay_us * 1000);
            if (!wait_until(heard))
                continue;
            if (!deliver(link, out, how))
                log_line("!!", std::string("write failed: ") + std::strerror(errno));
        }
    }
    if (!dropped.empty())
        log_line("rx", hex_text(dropped) + "  (no frame, dropped)");
}

std::string gateway_name(const tcp_gateway& gateway) { return "tcp://127.0.0.1:" + std::to_string(gateway.port); }

// Like an adapter pulled out and plugged in again: the pty and the symlink
// go, and after half a second a new pty is there under the same name. A
// gateway drops its client and refuses connections for that time.
bool replug(line_end& link)
{
    const std::string path = link.pty ? link.pty->link_path : gateway_name(*link.tcp);
    if (link.pty)
        close_pty_link(*link.pty);
    else
        close_tcp_gateway(*link.tcp);
    log_line("==", "unplugged " + path);
    unplug_requested = 0;
    timespec at{};
    ::clock_gettime(CLOCK_MONOTONIC, &at);
    advance(at, 500000000LL);
    if (!wait_until(at) && stop_signal)
        return false;
    std::string reason;
    if (link.pty ? open_pty_link(*link.pty, path, reason) != 0 : open_tcp_gateway(*link.tcp, link.tcp->port, reason) != 0) {
        log_line("!!", reason);
        return false;
    }
    log_line("==", "plugged in " + path + (link.pty ? " -> " + link.pty->slave_name : std::string()));
    return true;
}

int run(meter_bus& bus, line_end& link, const delivery& how)
{
    frame_splitter splitter;
    int quiet_ms = 0;
    while (!stop_signal) {
        if (unplug_requested) {
            if (!replug(link))
                return stop_signal ? 0 : exit_failure;
            splitter = {};
            quiet_ms = 0;
            continue;
        }
        pollfd p[2] = {{link.fd(), POLLIN, 0}, {link.tcp ? link.tcp->listener : -1, POLLIN, 0}};
        const int slice_ms = 100;
        int ready = ::poll(p, 2, slice_ms);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            log_line("!!", std::string("poll: ") + std::strerror(errno));
            return exit_failure;
        }
        if (p[1].revents & POLLIN) {
            const int before = link.fd();
            const std::string note = accept_client(*link.tcp);
            if (!note.empty())
                log_line("==", note);
            if (link.fd() != before)
                splitter = {};
            --ready;
        }
        // A client that reset the connection may show no input, only the error.
        const short readable = link.tcp ? POLLIN | POLLHUP | POLLERR : POLLIN;
        if (ready == 0 || !(p[0].revents & readable)) {
            if (ready > 0)
                ::usleep(slice_ms * 1000);  // hang-up without data: do not spin
            quiet_ms += slice_ms;
            if (!splitter.pending.empty() && quiet_ms >= partial_frame_ms) {
                byte_string dropped;
                abandon_pending(splitter, dropped);
                log_line("rx", hex_text(dropped) + "  (incomplete frame, dropped)");
            }
            continue;
        }
        std::uint8_t buffer[512];
        const ssize_t n = ::read(link.fd(), buffer, sizeof buffer);
        if (link.tcp && (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))) {
            log_line("==", "client left");
            drop_client(*link.tcp);
            splitter = {};
            continue;
        }
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                log_line("!!", std::string("read: ") + std::strerror(errno));
                return exit_failure;
            }
            ::usleep(10 * 1000);
            continue;
        }
        quiet_ms = 0;
        if (bus.line.echo && !write_all(link.fd(), byte_string(buffer, buffer + n)))
            log_line("!!", std::string("echo failed: ") + std::strerror(errno));
        feed(splitter, std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
        serve_frames(bus, link, splitter, how);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    options o;
    if (const int rc = read_options(argc, argv, o))
        return rc;

    meter_bus bus;
    parse_error error;
    if (!read_bus_file(o.bus_file, bus, error)) {
        std::fprintf(stderr, "velkor-sim: %s: %s\n", o.bus_file.c_str(), describe(error).c_str());
        return exit_usage;
    }
    if (o.check) {
        for (const meter& m : bus.meters)
            std::printf("%s\n", meter_summary(m).c_str());
        if (!line_summary(bus.line).empty())
            std::printf("%s\n", line_summary(bus.line).c_str());
        return 0;
    }
    if (!o.log_file.empty()) {
        log_out = std::fopen(o.log_file.c_str(), "a");
        if (!log_out) {
            std::fprintf(stderr, "velkor-sim: %s: %s\n", o.log_file.c_str(), std::strerror(errno));
            return exit_failure;
        }
    }
    std::setvbuf(log_out, nullptr, _IOLBF, 0);

    struct sigaction action{};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    pty_link pty;
    tcp_gateway gateway;
    gateway.baud_rate = o.baud_rate;
    line_end link;
    std::string reason;
    if (o.tcp_port >= 0 ? open_tcp_gateway(gateway, o.tcp_port, reason) != 0 : open_pty_link(pty, o.link_path, reason) != 0) {
        std::fprintf(stderr, "velkor-sim: %s\n", reason.c_str());
        return exit_failure;
    }
    if (o.tcp_port >= 0) {
        link.tcp = &gateway;
        log_line("==", "bus " + o.bus_file + " on " + gateway_name(gateway) + " at " + std::to_string(o.baud_rate) + " Bd");
    } else {
        link.pty = &pty;
        log_line("==", "bus " + o.bus_file + " on " + o.link_path + " -> " + pty.slave_name);
    }
    for (const meter& m : bus.meters)
        log_line("==", meter_summary(m));
    if (!line_summary(bus.line).empty())
        log_line("==", line_summary(bus.line));
    std::fputs(link.tcp ? ("ready " + gateway_name(gateway) + "\n").c_str() : "ready\n", stdout);
    std::fflush(stdout);

    const int rc = run(bus, link, o.answers);
    close_pty_link(pty);
    close_tcp_gateway(gateway);
    log_line("==", stop_signal ? "stopped by signal " + std::to_string(static_cast<int>(stop_signal)) : "stopped");
    return rc;
}
