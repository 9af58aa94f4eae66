// Presence tests, line speed, freeze, the SND_UD control requests, frames
// from a file, and the function test.

#include <cstdio>

#include "base/convert.h"
#include "base/trace.h"
#include "control/command.h"
#include "decode/header.h"
#include "link/checks.h"

namespace velkor::control {

namespace {

std::uint8_t target_byte(const command& c) { return static_cast<std::uint8_t>(c.target); }

} // namespace

void function_test(command& c)
{
    // The state a slave's acknowledgement would leave; nothing is sent.
    c.d.bus.answer_mode = link::answer_mode::ack;
    c.d.bus.receive_buffer[0] = 0xE5;
    c.d.bus.receive_length = 1;
}

void hallo(command& c)
{
    if (!address_target_slave(c))
        return;
    link::build_snd_nke(c.d.bus, target_byte(c));
    exchange(c);
    acknowledgement_epilogue(c);
}

void hallo_ext(command& c)
{
    enum class answer { ok, none, invalid };
    answer outcome = answer::ok;
    link::build_snd_nke(c.d.bus, link::broadcast_address);
    exchange(c);
    if (!address_target_slave(c))
        outcome = answer::none;
    bool valid = false;
    if (outcome == answer::ok) {
        link::build_req_ud2(c.d.bus, target_byte(c), c.fcb);
        exchange(c);
        valid = link::check_long_frame(c.d.bus);
        if (c.d.bus.receive_length == 0)
            outcome = answer::none;
        else if (!valid)
            outcome = answer::invalid;
    }
    answer_acknowledgement(c,
                           outcome == answer::ok     ? "OK"
                           : outcome == answer::none ? "No Answer"
                                                     : "Collision",
                           valid ? 2 : 1);
}

void set_baudrate(command& c)
{
    if (!address_target_slave(c))
        return;
    enum class switched { yes, no_answer, not_confirmed };
    switched outcome = switched::yes;
    link::build_set_baudrate(c.d.bus, target_byte(c), c.param);
    exchange(c);
    if (acknowledged(c)) {
        c.d.clock->sleep_ms(1000);
        c.d.bus.baud_rate = static_cast<std::uint32_t>(c.param);
        link::build_snd_nke(c.d.bus, target_byte(c));
        exchange(c);
        if (!acknowledged(c))
            outcome = switched::not_confirmed;
    } else {
        outcome = switched::no_answer;
    }
    if (outcome == switched::yes)
        c.message.format("SET_BAUDRATE: set slave %s to %dBd", c.secAdr.c_str(), c.param);
    else if (outcome == switched::no_answer)
        c.message.format("SET_BAUDRATE: no answer from slave %s with %dBd", c.secAdr.c_str(), c.br);
    else
        c.message.format("SET_BAUDRATE: could not set slave %s to %dBd", c.secAdr.c_str(), c.param);
    report(c, __LINE__, 2);
    // Only a slave that answers at its new speed gets the acknowledgement answer.
    if (outcome == switched::yes)
        acknowledgement_epilogue(c);
}

void freeze_data(command& c)
{
    std::tm now{};
    decode::get_timestamp(1, now, c.d.clock->wall_time());
    if (trace::control) {
        text<32> stamp;
        decode::format_timestamp(now, stamp);
        std::printf("timestamp = %s\n", stamp.c_str());
    }
    link::build_freeze(c.d.bus, now);
    exchange(c);
}

void snd_ud(command& c, control_request build)
{
    if (!address_target_slave(c))
        return;
    build(c.d.bus, target_byte(c), c.param);
    exchange(c);
    acknowledgement_epilogue(c);
}

void send_frame_file(command& c)
{
    if (!address_target_slave(c))
        return;
    // "FILE", one separator character, then the path.
    const text<33> path(c.name.size() > 5 ? c.name.view().substr(5) : std::string_view{});
    if (trace::control)
        std::printf("file = %s\n", path.c_str());

    text<256> frame_text;  // a frame file holds at most 255 characters
    const int read = conv::read_text_file(path.c_str(), frame_text);
    if (read < 0) {
        c.message.format("FILE: %s not found", path.c_str());
        std::puts(c.message.c_str());
        log::log_write(c.d.log, "mbus_control", __LINE__, 1, c.message.view());
        log::log_write(c.d.log, "mbus_control", __LINE__, 2, c.message.view());
        return;
    }
    // A file that cannot hold a sound long frame is refused before anything
    // is sent: too long, a non-hex character in a digit position, too short.
    link::bus_context& bus = c.d.bus;
    int count = 0;
    const int parsed = conv::hex_text_to_bytes(bus.send_buffer, count, frame_text.view());
    bus.send_length = count;
    if (read > 0)
        c.message.format("FILE: %s is longer than 255 characters, not sent", path.c_str());
    else if (parsed != 0)
        c.message.format("FILE: %s holds characters that are not hex digits, not sent", path.c_str());
    else if (!link::finish_raw_frame(bus, target_byte(c)))
        c.message.format("FILE: %s holds no long frame, not sent", path.c_str());
    else
        c.message.clear();
    if (!c.message.empty()) {
        report(c, __LINE__, 1);
        return;
    }
    exchange(c);
    acknowledgement_epilogue(c);
}

} // namespace velkor::control
