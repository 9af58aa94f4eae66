// The standard timing profile: an exchange that lasts as long as the wire and
// the slave need, and the repeats of an exchange that found no answer.

#include <array>
#include <cstdio>

#include "link/checks.h"
#include "link/receive.h"
#include "link/transceiver.h"
#include "log/trace.h"
#include "port/file_transport.h"

namespace velkor::link {

namespace {

int whole_ms(std::int64_t us) { return static_cast<int>(us / 1000); }

} // namespace

void transceive_standard(transceiver& t, bus_context& bus)
{
    t.clock.sleep_ms(t.timing.pause_ms);
    if (ending(t, bus))
        return;
    bus.clear_receive();
    if (on_configured_line(bus) && !line_available(t)) {
        t.speed_set = 0;
        if (trace::transceiver && bus.answer_mode != answer_mode::none)
            std::puts("ERROR - NO ANSWER");
        return;
    }
    if (on_configured_line(bus))
        settle_line(t, bus);
    // Switching costs the line a settling time, so only a new speed is set.
    const std::uint32_t rate = line_rate(bus.baud_rate);
    if (rate != t.speed_set) {
        t.line.set_speed(static_cast<int>(bus.baud_rate));
        t.speed_set = rate;
    }

    const auto frame = bus.sent();
    if (on_configured_line(bus)) {
        t.line.discard_input();
        if (t.line.write(frame) < 0)
            line_lost(t);
        else
            remember_unanswered(t, bus);
        // The window opens when the last bit has left, not when the frame was queued.
        t.line.drain();
    } else {
        port::file_transport_write(bus.bus_name.c_str(), frame);
    }
    const std::int64_t sent_at = t.clock.monotonic_us();
    t.sent_us[t.sends++ % t.sent_us.size()] = sent_at;
    if (trace::transceiver) {
        std::printf("TX: %d Bytes written\n", static_cast<int>(bus.send_length));
        hex_dump(frame);
    }
    if (bus.answer_mode == answer_mode::none)
        return;

    const int window = answer_window_ms(bus.baud_rate, t.timing.margin_ms);
    if (trace::transceiver)
        std::printf("window = %d ms\n", window);
    const answer_timing answer = receive_in_window(t, bus, sent_at);
    if (answer.first_byte_us >= 0) {
        t.answer_began_us = sent_at + answer.first_byte_us;
        t.answer_ended_us = sent_at + answer.complete_us;
    }
    if (!trace::transceiver)
        return;
    if (answer.first_byte_us < 0)
        std::printf("ERROR - NO ANSWER within %d ms\n", window);
    else
        std::printf("answer after %d ms, complete after %d ms\n", whole_ms(answer.first_byte_us),
                    whole_ms(answer.complete_us));
}

int transceiver::retries() const { return timing.profile == timing_profile::standard ? timing.retries : 0; }

// Whatever the colliding slaves still send is read and dropped until the line
// has been quiet for one answer window.
void transceiver::collision_wait(const bus_context& bus, velkor::clock& c)
{
    if (timing.profile != timing_profile::standard) {
        bus_line::collision_wait(bus, c);
        return;
    }
    if (on_configured_line(bus))
        drop_until_quiet(*this, bus);
    else
        c.sleep_ms(answer_window_ms(bus.baud_rate, timing.margin_ms));
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

} // namespace velkor::link
