#include "link/transceiver.h"

#include <algorithm>
#include <cstdio>

#include "link/receive.h"
#include "log/stop.h"
#include "log/trace.h"
#include "port/file_transport.h"

namespace velkor::link {

namespace {

// Per character 1.2, 4.6 or 36.6 ms (11 bits at 9600, 2400 or 300 Bd) for the
// request and the longest answer, plus the slave's reaction time; 4800 Bd is
// timed like 2400, 19200 and 38400 like 9600, 600 and 1200 like 300. The
// polls are about two character times at the slow rates.
constexpr line_timing timings[] = {
    {300, 1000, 366, 2150, 73},  {600, 1000, 366, 2150, 37},  {1200, 1000, 366, 2150, 18},
    {2400, 500, 46, 587, 10},    {4800, 500, 46, 587, 10},    {9600, 500, 12, 185, 10},
    {19200, 500, 12, 185, 10},   {38400, 500, 12, 185, 10},
};
constexpr line_timing unlisted_rate{0, 1000, 366, 2150, 10};

} // namespace

const line_timing& timing_for(std::uint32_t baud_rate)
{
    for (const line_timing& t : timings) {
        if (t.baud_rate == baud_rate)
            return t;
    }
    return unlisted_rate;
}

int pause_ms(std::uint32_t baud_rate) { return timing_for(baud_rate).pause_ms; }

int answer_timeout_ms(std::uint32_t baud_rate, std::int32_t send_length, answer_mode mode)
{
    std::int32_t length = send_length < 0 ? 0 : send_length;
    if (length > static_cast<std::int32_t>(bus_buffer_size))
        length = static_cast<std::int32_t>(bus_buffer_size);
    const std::int32_t n = length + (mode == answer_mode::long_frame ? longest_long_frame : 1);
    const line_timing& t = timing_for(baud_rate);
    return n * t.char_tenths_ms / 10 + t.reaction_ms;
}

int poll_interval_ms(std::uint32_t baud_rate) { return timing_for(baud_rate).poll_ms; }

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
    if (timing.profile == timing_profile::standard) {
        transceive_standard(*this, bus);
        return;
    }
    clock.sleep_ms(pause_ms(bus.baud_rate));
    if (ending(*this, bus))
        return;
    bus.clear_receive();
    // An adapter pulled and plugged in again, or missing at start, is taken
    // up here; while it is away the exchange has no answer.
    if (on_configured_line(bus) && !line_available(*this)) {
        if (trace::transceiver && bus.answer_mode != answer_mode::none)
            std::puts("ERROR - NO ANSWER");
        return;
    }
    // Before the speed switch, which flushes the input.
    if (on_configured_line(bus))
        settle_line(*this, bus);
    line.set_speed(static_cast<int>(bus.baud_rate));

    // Whether all of it went out is not checked: a short write ends without an answer.
    // A late answer to an earlier request, or its echo, must not pass for this one's.
    const auto frame = bus.sent();
    if (on_configured_line(bus)) {
        line.discard_input();
        if (line.write(frame) < 0)
            line_lost(*this);
        else
            remember_unanswered(*this, bus);
    } else {
        port::file_transport_write(bus.bus_name.c_str(), frame);
    }
    if (trace::transceiver) {
        std::printf("TX: %d Bytes written\n", static_cast<int>(bus.send_length));
        hex_dump(frame);
    }

    if (bus.answer_mode == answer_mode::none)
        return;

    timeout_ms = answer_timeout_ms(bus.baud_rate, bus.send_length, bus.answer_mode);
    if (trace::transceiver)
        std::printf("timeout = %d ms\n", timeout_ms);
    if (!receive_answer(*this, bus) && trace::transceiver)
        std::puts("ERROR - NO ANSWER");
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
