#include "link/transceiver.h"

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>

#include "base/stop.h"
#include "base/trace.h"
#include "link/checks.h"
#include "link/receive.h"

namespace velkor::link {

namespace {

int whole_ms(std::int64_t us) { return static_cast<int>(us / 1000); }

// The pause, less the time the line has been quiet since its last activity
// where the rules count it; a silent window or a collision wait is such time.
void pause_before_request(transceiver& t, const exchange_rules& rules)
{
    std::int64_t pause_us = rules.pause_ms * 1000LL;
    if (rules.pause_counts_idle && t.active_us >= 0)
        pause_us -= t.clock.monotonic_us() - t.active_us;
    if (pause_us > 0)
        t.clock.sleep_ms(static_cast<int>((pause_us + 999) / 1000));
}

void trace_answer(const exchange_rules& rules, const answer_timing& answer)
{
    if (!rules.trace_times) {
        if (!answer.ended)
            std::puts("ERROR - NO ANSWER");
    } else if (answer.first_byte_us < 0) {
        std::printf("ERROR - NO ANSWER within %d ms\n", rules.limit_ms);
    } else {
        std::printf("answer after %d ms, complete after %d ms\n", whole_ms(answer.first_byte_us),
                    whole_ms(answer.complete_us));
    }
}

} // namespace

line_io& use_line(transceiver& t, const bus_context& bus)
{
    t.file.path = bus.bus_name.c_str();
    t.line = bus.line == line_choice::file ? static_cast<line_io*>(&t.file) : &t.configured;
    return *t.line;
}

void remember_unanswered(transceiver& t, const bus_context& bus)
{
    const auto frame = bus.sent();
    t.unanswered_length = 0;
    if (bus.answer_mode != answer_mode::none)
        return;  // its echo is taken off with the answer
    std::copy(frame.begin(), frame.end(), t.unanswered.begin());
    t.unanswered_length = static_cast<std::int32_t>(frame.size());
}

bool ending(transceiver& t, bus_context& bus)
{
    if (!stop::is_requested())
        return false;
    bus.clear_receive();
    t.cut_short = true;
    return true;
}

void transceiver::transceive(bus_context& bus)
{
    if (ending(*this, bus))
        return;
    line_io& io = use_line(*this, bus);
    const exchange_rules rules = rules_for(timing, bus);
    pause_before_request(*this, rules);
    if (ending(*this, bus))
        return;
    bus.clear_receive();
    // An adapter pulled and plugged in again, or missing at start, is taken
    // up here; while it is away the exchange has no answer.
    if (!line_available(*this)) {
        if (trace::transceiver && bus.answer_mode != answer_mode::none)
            std::puts("ERROR - NO ANSWER");
        return;
    }
    // Before the speed switch, which flushes the input.
    settle_line(*this, bus);
    // Switching costs the line a settling time: where the rules allow, only a new speed is set.
    const std::uint32_t rate = line_rate(bus.baud_rate);
    if (!rules.speed_on_change || rate != speed_set) {
        io.set_speed(static_cast<int>(bus.baud_rate));
        speed_set = rate;
    }

    // Whether all of it went out is not checked: a short write ends without an answer.
    // A late answer to an earlier request, or its echo, must not pass for this one's.
    const auto frame = bus.sent();
    io.discard_input();
    if (io.write(frame) < 0)
        line_lost(*this);
    else
        remember_unanswered(*this, bus);
    // The window opens when the last bit has left, not when the frame was queued.
    if (rules.drain)
        io.drain();
    const std::int64_t sent_at = clock.monotonic_us();
    sent_us[sends++ % sent_us.size()] = sent_at;
    active_us = sent_at;
    if (trace::transceiver) {
        std::printf("TX: %d Bytes written\n", static_cast<int>(bus.send_length));
        hex_dump(frame);
    }
    if (bus.answer_mode == answer_mode::none)
        return;

    if (trace::transceiver)
        std::printf("%s = %d ms\n", rules.trace_times ? "window" : "timeout", rules.limit_ms);
    const answer_timing answer = receive_answer(*this, bus, rules, sent_at);
    if (answer.first_byte_us >= 0) {
        answer_began_us = sent_at + answer.first_byte_us;
        answer_ended_us = sent_at + answer.complete_us;
    }
    if (trace::transceiver)
        trace_answer(rules, answer);
}

int transceiver::retries() const { return rules_for(timing, 0, 0, answer_mode::none).retries; }

// A fixed pause where the rules give one. Else whatever the colliding slaves
// still send is read and dropped until the line has been quiet for one answer
// window since its last byte, which is never before the request's own window
// has closed.
void transceiver::collision_wait(const bus_context& bus, velkor::clock& c)
{
    const exchange_rules rules = rules_for(timing, bus);
    if (rules.collision_pause_ms > 0) {
        c.sleep_ms(rules.collision_pause_ms);
        return;
    }
    use_line(*this, bus);
    drop_until_quiet(*this, bus, active_us >= 0 ? active_us : clock.monotonic_us());
}

void transceive_repeating(bus_line& line, bus_context& bus)
{
    exchange_once(line, bus);
    const int retries = line.retries();
    int repeat = 1;
    for (; repeat <= retries && worth_repeating(bus) && !line.line_failed(); ++repeat) {
        if (trace::transceiver)
            std::printf("repeat %d of %d\n", repeat, retries);
        exchange_once(line, bus);
    }
    if (repeat > 1 && !worth_repeating(bus))
        line.answer_may_follow(repeat);
}

// The break follows CTS on the configured line, whatever line commands use;
// a change is seen only when the next command arrives.
void check_bus_break(transceiver& t)
{
    int bits = 0;
    if (t.configured.modem_lines(bits) != 0)
        return;
    const bool cts = (bits & TIOCM_CTS) != 0;
    if (cts && t.break_state == 0) {
        t.break_state = 1;
        t.configured.set_break(true);
        std::puts("MBUS BREAK started");
    } else if (!cts && t.break_state == 1) {
        t.break_state = 0;
        t.configured.set_break(false);
        std::puts("MBUS BREAK finished");
    }
}

void set_transceiver_trace(int value)
{
    trace::transceiver = value;
    if (value)
        std::puts("DEBUG_MBUS_TRANSCEIVER");
}

void hex_dump(std::span<const std::uint8_t> bytes)
{
    constexpr std::size_t row_length = 10;
    for (std::size_t row = 0; row < bytes.size(); row += row_length) {
        std::printf("%03d:", static_cast<int>(row));
        for (std::size_t i = row; i < row + row_length; ++i) {
            if (i < bytes.size())
                std::printf(" %02X", static_cast<unsigned>(bytes[i]));
            else
                std::fputs("   ", stdout);
        }
        std::putchar('\n');
    }
}

} // namespace velkor::link
