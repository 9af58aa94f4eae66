// Presence tests, line speed, freeze, the SND_UD control requests, frames
// from a file, and the function test.

#include <cstdio>

#include "control/command.h"
#include "decode/header.h"
#include "link/checks.h"
#include "link/frames.h"
#include "log/convert.h"
#include "log/trace.h"

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

bool hallo(command& c)
{
    if (address_target_slave(c) != 0)
        return true;
    link::build_snd_nke(c.d.bus, target_byte(c));
    exchange(c);
    return false;
}

void hallo_ext(command& c)
{
    int outcome = 0;
    link::build_snd_nke(c.d.bus, link::broadcast_address);
    exchange(c);
    if (address_target_slave(c) != 0)
        outcome = 1;
    bool valid = false;
    if (outcome == 0) {
        link::build_req_ud2(c.d.bus, target_byte(c), c.fcb);
        exchange(c);
        valid = link::check_long_frame(c.d.bus);
        if (c.d.bus.receive_length == 0)
            outcome = 1;
        else if (!valid)
            outcome = 2;
    }
    answer_acknowledgement(c, outcome == 0 ? "OK" : outcome == 1 ? "No Answer" : "Collision", valid ? 2 : 1);
}

bool set_baudrate(command& c)
{
    if (address_target_slave(c) != 0)
        return true;
    int outcome = 0;
    link::build_set_baudrate(c.d.bus, target_byte(c), c.param);
    exchange(c);
    if (link::check_ack(c.d.bus) == link::ack::ok) {
        c.d.clock->sleep_ms(1000);
        c.d.bus.baud_rate = static_cast<std::uint32_t>(c.param);
        link::build_snd_nke(c.d.bus, target_byte(c));
        exchange(c);
        if (link::check_ack(c.d.bus) != link::ack::ok)
            outcome = 2;
    } else {
        outcome = 1;
    }
    if (outcome == 0)
        c.message.format("SET_BAUDRATE: set slave %s to %dBd", c.secAdr.c_str(), c.param);
    else if (outcome == 1)
        c.message.format("SET_BAUDRATE: no answer from slave %s with %dBd", c.secAdr.c_str(), c.br);
    else
        c.message.format("SET_BAUDRATE: could not set slave %s to %dBd", c.secAdr.c_str(), c.param);
    report(c, __LINE__, 2);
    return outcome != 0;
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

bool snd_ud(command& c)
{
    if (address_target_slave(c) != 0)
        return true;
    const std::string_view n = c.name.view();
    link::bus_context& bus = c.d.bus;
    const std::uint8_t a = target_byte(c);
    if (n == "SND_UD_RESET_CTRL")
        link::build_snd_ud_reset_ctrl(bus, a, c.param);
    else if (n == "SND_UD_SET_TEMP")
        link::build_snd_ud_set_temp(bus, a, c.param);
    else if (n == "SND_UD_RESET_TEMP")
        link::build_snd_ud_reset_temp(bus, a);
    else if (n == "SND_UD_SET_SENSOR")
        link::build_snd_ud_set_sensor(bus, a, c.param);
    else if (n == "SND_UD_APPL_RESET")
        link::build_snd_ud_appl_reset(bus, a, c.param);
    else if (n == "SND_UD_CTRL")
        link::build_snd_ud_ctrl(bus, a, c.param);
    else if (n == "SND_UD_CTRL_U")
        link::build_snd_ud_ctrl_u(bus, a, c.param);
    else
        link::build_snd_ud_ctrl_i(bus, a, c.param);
    exchange(c);
    return false;
}

bool send_frame_file(command& c)
{
    if (address_target_slave(c) != 0)
        return true;
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
        return true;
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
        return true;
    }
    exchange(c);
    return false;
}

} // namespace velkor::control
