#pragma once
// One exchange on the M-Bus line: pre-send pause, line speed, send, and the
// answer collected by a receive thread. classic bounds it by a time-out
// computed from the baud rate and the frame lengths; standard by the answer
// window of link/timing.h.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <pthread.h>
#include <span>

#include "link/bus_context.h"
#include "link/timing.h"
#include "log/clock.h"
#include "log/log.h"

namespace velkor::port {
struct serial_port;
}

namespace velkor::link {

// What the command flows see of the bus: one exchange on the bus_context.
// The daemon's is the transceiver below; tests play a scripted bus here.
struct bus_line {
    // Where the link reports answers that are not taken; none: not reported.
    const log::log_settings* log = nullptr;

    virtual ~bus_line() = default;
    virtual void transceive(bus_context& bus) = 0;
    // How often a command repeats an exchange that found no valid answer.
    virtual int retries() const { return 0; }
    // After a collision in the slave search, before the next probe.
    virtual void collision_wait(const bus_context&, velkor::clock& clock) { clock.sleep_ms(classic_collision_pause_ms); }
    // A command begins: its exchanges form one sequence from here on.
    virtual void begin_command() {}
    // The line was absent or lost since the command began, so what comes
    // after no longer belongs to one sequence: no further exchange runs.
    virtual bool line_failed() const { return false; }
    // The answer came on a repeat (after `tries` sends of the request), so it
    // may be the late one to an earlier try, and the slave's answer to the
    // last try may still be on its way.
    virtual void answer_may_follow(int /*tries*/) {}

    static constexpr int classic_collision_pause_ms = 1000;
};

// The serial device as the transceiver uses it; a test puts a fake behind it.
struct line_io {
    virtual ~line_io() = default;
    // Opens the device again when it is closed; false while it is not there.
    virtual bool ready() = 0;
    virtual void set_speed(int baud_rate) = 0;
    // Drops whatever waits in the input queue.
    virtual void discard_input() = 0;
    // Bytes waiting in the input queue; 0 when the line cannot tell.
    virtual int pending_input() { return 0; }
    // The bytes written, or -1 when the device is gone.
    virtual int write(std::span<const std::uint8_t> bytes) = 0;
    // Returns once the bytes written have left the port.
    virtual void drain() {}
    // Returns at once with what has arrived (possibly 0), or -1 when the
    // device is gone.
    virtual int read(std::span<std::uint8_t> buffer) = 0;
    // Returns when input has arrived or timeout_ms have passed; a line that
    // cannot tell sleeps the whole time.
    virtual void wait_input(velkor::clock& clock, int timeout_ms) { clock.sleep_ms(timeout_ms); }
    // Modem status lines (TIOCM_* bits); -1 when they cannot be read.
    virtual int modem_lines(int& bits) = 0;
    virtual void set_break(bool on) = 0;
};

// line_io over the daemon's serial port.
struct serial_line final : line_io {
    port::serial_port& port;
    const char* path;
    serial_line(port::serial_port& p, const char* device_path) : port(p), path(device_path) {}
    bool ready() override;
    void set_speed(int baud_rate) override;
    void discard_input() override;
    int pending_input() override;
    int write(std::span<const std::uint8_t> bytes) override;
    void drain() override;
    int read(std::span<std::uint8_t> buffer) override;
    void wait_input(velkor::clock& clock, int timeout_ms) override;
    int modem_lines(int& bits) override;
    void set_break(bool on) override;
};

// Timing of the link layer for one baud rate.
struct line_timing {
    std::uint32_t baud_rate;
    int pause_ms;        // before every send
    int char_tenths_ms;  // per byte of request and answer, in tenths of a ms
    int reaction_ms;     // added to the time-out
    int poll_ms;         // between reads of the receive
};
const line_timing& timing_for(std::uint32_t baud_rate);

int pause_ms(std::uint32_t baud_rate);
int answer_timeout_ms(std::uint32_t baud_rate, std::int32_t send_length, answer_mode mode);
int poll_interval_ms(std::uint32_t baud_rate);

struct transceiver final : bus_line {
    line_io& line;
    velkor::clock& clock;
    link_timing timing;
    int timeout_ms = 0;
    std::atomic<bool> receive_running{false};
    std::atomic<bool> stop_requested{false};
    int break_state = 0;
    bool cut_short = false;  // an exchange was skipped or cut short because the daemon is ending
    // standard: the speed last set on the line (0: none yet), and the signal
    // of the receive thread that the answer is complete.
    std::uint32_t speed_set = 0;
    std::mutex receive_mutex;
    std::condition_variable receive_done;
    // The command's line failed: it was absent or lost at one of its exchanges.
    bool failed = false;
    // Before the next request the line must fall quiet for one answer window,
    // counted from quiet_from_us at the earliest.
    bool quiet_first = false;
    std::int64_t quiet_from_us = 0;
    // standard: when the latest requests went out, and when the last answer
    // began and ended.
    std::array<std::int64_t, 8> sent_us{};
    std::uint32_t sends = 0;
    std::int64_t answer_began_us = 0;
    std::int64_t answer_ended_us = 0;
    // The frame last sent without awaiting an answer: its echo may be waiting.
    std::array<std::uint8_t, bus_buffer_size> unanswered{};
    std::int32_t unanswered_length = 0;

    transceiver(line_io& l, velkor::clock& c) : line(l), clock(c) {}
    void transceive(bus_context& bus) override;
    int retries() const override;
    void collision_wait(const bus_context& bus, velkor::clock& clock) override;
    void begin_command() override { failed = false; }
    bool line_failed() const override { return failed; }
    void answer_may_follow(int tries) override;
};

// Takes the serial device up for an exchange (opening it again when it is
// closed). false when it is not there: the command's line has then failed.
bool line_available(transceiver& t);

// The device went away during an exchange: the command's line has failed.
void line_lost(transceiver& t);

// Before a request: input already waiting is a late answer to an earlier one
// (the echo of a frame that awaited none aside). It is logged, and the request
// waits until the line has been quiet for one answer window.
void settle_line(transceiver& t, const bus_context& bus);

// After a frame went out: one that awaits no answer may come back as an echo
// before the next request.
void remember_unanswered(transceiver& t, const bus_context& bus);

// Reads and drops what arrives until the line has been quiet for one answer
// window, counted from from_us at the earliest, at most as long as a full
// buffer takes on the wire beyond it. The bytes dropped.
int drop_until_quiet(transceiver& t, const bus_context& bus, std::int64_t from_us = 0);

// The standard profile's exchange: pause, speed switch on a change, send until
// drained, and the answer within its window.
void transceive_standard(transceiver& t, bus_context& bus);

// Once the daemon is ending, no further frame goes on the line: true when the
// exchange is to be skipped (no answer, marked cut short).
bool ending(transceiver& t, bus_context& bus);

// One exchange, and only of what was asked: a long frame from another slave
// than the request addressed is logged and taken as no answer. Once the
// command's line has failed, nothing is sent and there is no answer.
void exchange_once(bus_line& line, bus_context& bus);

// One exchange, repeated up to line.retries() times while it finds no answer
// or an invalid long frame. A collision is never repeated; a repeated REQ_UD2
// keeps its frame-count bit, so the slave sends the same telegram again.
void transceive_repeating(bus_line& line, bus_context& bus);

// Prints "DEBUG_MBUS_TRANSCEIVER" when the value is non-zero.
void set_transceiver_trace(int value);

// Follows the CTS line: a break on the transmit line while it is raised.
void check_bus_break(transceiver& t);

// Rows of 10 bytes: "%03d:", " %02X" per byte, blanks to fill the last row.
void hex_dump(std::span<const std::uint8_t> bytes);

} // namespace velkor::link
