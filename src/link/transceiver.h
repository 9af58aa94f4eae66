#pragma once
// One exchange on the M-Bus line: pre-send pause, line speed, send, and the
// answer collected by a receive thread. One sequence for every line (serial
// device, gateway, file) and both timing profiles: the line is a line_io, the
// profile the exchange_rules of link/timing.h.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <pthread.h>
#include <span>

#include "base/clock.h"
#include "base/log.h"
#include "link/bus_context.h"
#include "link/timing.h"

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
};

// What sets a line apart in an exchange.
struct line_traits {
    // Each read hands over a whole answer as it stands (a file holds the
    // request and what follows it): no echo is taken off, no frame looked
    // for, nothing waited for.
    bool whole_answers = false;
    const char* name = "MBus";  // as the receive trace names it
};

// A line as the transceiver uses it: the serial device, a gateway, the file
// transport; a test puts a fake behind it.
struct line_io {
    virtual ~line_io() = default;
    virtual line_traits traits() const { return {}; }
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

// The file transport: the request is written over the start of the file the
// bus name gives, and the answer is what the file then holds, read once.
struct file_line final : line_io {
    // The serial speed is set all the same: it is the configured line's.
    line_io& speed_line;
    const char* path = "";
    bool answer_due = false;  // written since the last read

    explicit file_line(line_io& speed) : speed_line(speed) {}
    line_traits traits() const override { return {true, "File-IO"}; }
    bool ready() override { return true; }
    void set_speed(int baud_rate) override { speed_line.set_speed(baud_rate); }
    void discard_input() override { answer_due = false; }
    int write(std::span<const std::uint8_t> bytes) override;
    int read(std::span<std::uint8_t> buffer) override;
    int modem_lines(int&) override { return -1; }
    void set_break(bool) override {}
};

struct transceiver final : bus_line {
    line_io& configured;  // bus_0's line: the serial device or the gateway
    file_line file;       // the file transport, for bus names that are paths
    line_io* line;        // the one the exchange in progress uses (use_line)
    velkor::clock& clock;
    link_timing timing;
    std::atomic<bool> receive_running{false};
    std::atomic<bool> stop_requested{false};
    // The receive thread's signal that the answer is complete.
    std::mutex receive_mutex;
    std::condition_variable receive_done;
    int break_state = 0;
    bool cut_short = false;  // an exchange was skipped or cut short because the daemon is ending
    std::uint32_t speed_set = 0;  // the speed last set on the line (0: none yet)
    // The command's line failed: it was absent or lost at one of its exchanges.
    bool failed = false;
    // When the line was last busy: the end of the last frame sent, or the
    // last byte read. -1: not known (at start, after a loss).
    std::int64_t active_us = -1;
    // Before the next request the line must fall quiet for one answer window,
    // counted from quiet_from_us at the earliest.
    bool quiet_first = false;
    std::int64_t quiet_from_us = 0;
    // When the latest requests went out, and when the last answer began and ended.
    std::array<std::int64_t, 8> sent_us{};
    std::uint32_t sends = 0;
    std::int64_t answer_began_us = 0;
    std::int64_t answer_ended_us = 0;
    // The frame last sent without awaiting an answer: its echo may be waiting.
    std::array<std::uint8_t, bus_buffer_size> unanswered{};
    std::int32_t unanswered_length = 0;

    transceiver(line_io& configured_line, velkor::clock& c)
        : configured(configured_line), file(configured_line), line(&configured_line), clock(c)
    {
    }
    void transceive(bus_context& bus) override;
    int retries() const override;
    void collision_wait(const bus_context& bus, velkor::clock& clock) override;
    void begin_command() override { failed = false; }
    bool line_failed() const override { return failed; }
    void answer_may_follow(int tries) override;
};

// The line the command's bus_context chose, for the exchange to come.
line_io& use_line(transceiver& t, const bus_context& bus);

// Takes the line up for an exchange (opening it again when it is closed).
// false when it is not there: the command's line has then failed.
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
// window, counted from quiet_since_us (which may be past), at most as long as
// a full buffer takes on the wire beyond that. The bytes dropped.
int drop_until_quiet(transceiver& t, const bus_context& bus, std::int64_t quiet_since_us);

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
