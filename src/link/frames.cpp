#include "link/frames.h"

#include <algorithm>

#include "base/convert.h"
#include "decode/header.h"

namespace velkor::link {

namespace {

// Frame templates as they go on the wire; address, parameter, date and
// checksum bytes are 0 here and filled in by the builders.
using frame_bytes = std::span<const std::uint8_t>;

constexpr std::uint8_t snd_nke[] = {0x10, 0x40, 0x00, 0x00, 0x16};
constexpr std::uint8_t req_ud2[] = {0x10, 0x5B, 0x00, 0x00, 0x16};
constexpr std::uint8_t select_slave[] = {0x68, 0x0B, 0x0B, 0x68, 0x53, 0xFD, 0x52, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x16};
constexpr std::uint8_t set_primary[] = {0x68, 0x06, 0x06, 0x68, 0x53, 0xFD, 0x51, 0x01, 0x7A, 0x00, 0x00, 0x16};
constexpr std::uint8_t reset_all_primary[] = {0x68, 0x06, 0x06, 0x68, 0x53, 0xFF,
                                              0x51, 0x01, 0x7A, 0x00, 0x00, 0x16};
constexpr std::uint8_t set_secondary[] = {0x68, 0x0D, 0x0D, 0x68, 0x53, 0xFD, 0x51, 0x07, 0x79, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x16};
constexpr std::uint8_t set_baudrate[] = {0x68, 0x03, 0x03, 0x68, 0x73, 0x00, 0x00, 0x00, 0x16};
constexpr std::uint8_t freeze[] = {0x68, 0x0E, 0x0E, 0x68, 0x63, 0xFF, 0x51, 0x44, 0xED, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x40, 0xFD, 0xE1, 0x0B, 0x00, 0x16};
constexpr std::uint8_t reset_ctrl[] = {0x68, 0x07, 0x07, 0x68, 0x63, 0x00, 0x51, 0x41, 0xFD, 0x00, 0x07, 0x00, 0x16};
constexpr std::uint8_t set_temp[] = {0x68, 0x08, 0x08, 0x68, 0x63, 0x00, 0x51,
                                     0x41, 0xE7, 0xFA, 0x00, 0x00, 0x00, 0x16};
constexpr std::uint8_t reset_temp[] = {0x68, 0x07, 0x07, 0x68, 0x63, 0x00, 0x51, 0x41, 0xE7, 0xFA, 0x07, 0x00, 0x16};
constexpr std::uint8_t set_sensor[] = {0x68, 0x0B, 0x0B, 0x68, 0x63, 0x00, 0x51, 0x41, 0xFC,
                                       0x03, 0x70, 0x79, 0x54, 0x00, 0x00, 0x00, 0x16};
constexpr std::uint8_t appl_reset[] = {0x68, 0x04, 0x04, 0x68, 0x63, 0x00, 0x50, 0x00, 0x00, 0x16};
constexpr std::uint8_t ctrl[] = {0x68, 0x09, 0x09, 0x68, 0x63, 0x00, 0x51, 0x0D, 0xFD, 0x9A, 0x00, 0xE1, 0x00, 0x00, 0x16};
constexpr std::uint8_t ctrl_u[] = {0x68, 0x09, 0x09, 0x68, 0x63, 0x00, 0x51, 0x02, 0xFD, 0xC7, 0x00, 0x00, 0x00, 0x00, 0x16};
constexpr std::uint8_t ctrl_i[] = {0x68, 0x09, 0x09, 0x68, 0x63, 0x00, 0x51, 0x02, 0xFD, 0xD7, 0x00, 0x00, 0x00, 0x00, 0x16};

constexpr std::size_t a_field = 5;        // in short and long frames alike
constexpr std::size_t short_a_field = 2;  // short frame: 10 C A CS 16
constexpr std::size_t short_c_field = 1;

struct baud_code {
    int baud_rate;
    std::uint8_t ci;
};
constexpr baud_code baud_codes[] = {
    {300, 0xB8}, {600, 0xB9}, {1200, 0xBA}, {2400, 0xBB}, {4800, 0xBC}, {9600, 0xBD}, {19200, 0xBE}, {38400, 0xBF},
};
constexpr std::uint8_t default_baud_code = 0xBD;

// Copies a template into the send buffer; the builder then fills it in and seals it.
std::span<std::uint8_t> load(bus_context& bus, frame_bytes frame)
{
    std::copy(frame.begin(), frame.end(), bus.send_buffer.begin());
    bus.send_length = static_cast<std::int32_t>(frame.size());
    return std::span(bus.send_buffer).first(frame.size());
}

void seal(bus_context& bus, std::span<std::uint8_t> frame, answer_mode mode)
{
    frame[frame.size() - 2] = frame_checksum(frame);
    bus.answer_mode = mode;
}

std::uint8_t param_byte(std::int32_t param) { return conv::low_byte(static_cast<std::uint32_t>(param)); }

// Long-frame builders that carry the address and one parameter byte.
void build_address_param(bus_context& bus, frame_bytes frame, std::size_t param_at, std::uint8_t address,
                         std::int32_t param)
{
    auto f = load(bus, frame);
    f[a_field] = address;
    f[param_at] = param_byte(param);
    seal(bus, f, answer_mode::ack);
}

void build_address_word(bus_context& bus, frame_bytes frame, std::uint8_t address, std::int32_t param)
{
    auto f = load(bus, frame);
    f[a_field] = address;
    f[11] = conv::low_byte(static_cast<std::uint32_t>(param));
    f[12] = conv::second_byte(static_cast<std::uint32_t>(param));
    seal(bus, f, answer_mode::ack);
}

void build_select_wire(bus_context& bus, const std::array<std::uint8_t, 8>& wire)
{
    auto f = load(bus, select_slave);
    std::copy(wire.begin(), wire.end(), f.begin() + 7);
    seal(bus, f, answer_mode::ack);
    bus.selection = wire;
    bus.selected = true;
}

} // namespace

std::uint8_t frame_checksum(std::span<const std::uint8_t> frame)
{
    if (frame.empty())
        return 0;
    std::size_t first;
    if (frame[0] == 0x10)
        first = 1;
    else if (frame[0] == 0x68)
        first = 4;
    else
        return 0;
    std::uint8_t sum = 0;
    for (std::size_t i = first; i + 3 <= frame.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    return sum;
}

void build_snd_nke(bus_context& bus, std::uint8_t address)
{
    auto f = load(bus, snd_nke);
    f[short_a_field] = address;
    seal(bus, f, address == broadcast_address ? answer_mode::none : answer_mode::ack);
}

void build_req_ud2(bus_context& bus, std::uint8_t address, int fcb)
{
    auto f = load(bus, req_ud2);
    f[short_c_field] = fcb != 0 ? 0x7B : 0x5B;
    f[short_a_field] = address;
    seal(bus, f, answer_mode::long_frame);
}

void build_select(bus_context& bus, std::string_view secondary_address)
{
    std::array<std::uint8_t, 8> wire{};
    decode::secondary_address_to_bytes(secondary_address, wire);
    build_select_wire(bus, wire);
}

void build_select(bus_context& bus, const std::array<std::uint8_t, 8>& display_bytes)
{
    const auto& d = display_bytes;
    build_select_wire(bus, {d[3], d[2], d[1], d[0], d[5], d[4], d[6], d[7]});
}

void build_set_primary(bus_context& bus, std::uint8_t new_address)
{
    auto f = load(bus, set_primary);
    f[9] = new_address;
    seal(bus, f, answer_mode::ack);
}

void build_reset_all_primary(bus_context& bus)
{
    auto f = load(bus, reset_all_primary);
    seal(bus, f, answer_mode::ack);
}

void build_set_secondary(bus_context& bus, std::string_view new_secondary_address)
{
    std::array<std::uint8_t, 8> wire{};
    decode::secondary_address_to_bytes(new_secondary_address, wire);
    auto f = load(bus, set_secondary);
    std::copy(wire.begin(), wire.end(), f.begin() + 9);
    seal(bus, f, answer_mode::ack);
}

void build_set_baudrate(bus_context& bus, std::uint8_t address, int baud_rate)
{
    std::uint8_t code = default_baud_code;
    for (const auto& entry : baud_codes)
        if (entry.baud_rate == baud_rate)
            code = entry.ci;
    auto f = load(bus, set_baudrate);
    f[a_field] = address;
    f[6] = code;
    seal(bus, f, answer_mode::ack);
}

void build_freeze(bus_context& bus, const std::tm& time)
{
    // Type F date and time; the year is split over the day and month bytes.
    const auto year = static_cast<std::uint32_t>(time.tm_year - 100);
    const auto minute = static_cast<std::uint32_t>(time.tm_min);
    const auto hour = static_cast<std::uint32_t>(time.tm_hour);
    const auto day = static_cast<std::uint32_t>(time.tm_mday);
    const auto month = static_cast<std::uint32_t>(time.tm_mon + 1);
    auto f = load(bus, freeze);
    f[10] = static_cast<std::uint8_t>(minute & 0x3F);
    f[11] = static_cast<std::uint8_t>(hour & 0x1F);
    f[12] = static_cast<std::uint8_t>((day & 0x1F) | ((year & 0x07) << 5));
    f[13] = static_cast<std::uint8_t>((month & 0x0F) | (((year >> 3) & 0x0F) << 4));
    seal(bus, f, answer_mode::none);
}

void build_snd_ud_reset_ctrl(bus_context& bus, std::uint8_t address, std::int32_t param)
{
    build_address_param(bus, reset_ctrl, 9, address, param);
}

void build_snd_ud_set_temp(bus_context& bus, std::uint8_t address, std::int32_t param)
{
    build_address_param(bus, set_temp, 11, address, param);
}

void build_snd_ud_reset_temp(bus_context& bus, std::uint8_t address)
{
    auto f = load(bus, reset_temp);
    f[a_field] = address;
    seal(bus, f, answer_mode::ack);
}

void build_snd_ud_set_sensor(bus_context& bus, std::uint8_t address, std::int32_t param)
{
    build_address_param(bus, set_sensor, 14, address, param);
}

void build_snd_ud_appl_reset(bus_context& bus, std::uint8_t address, std::int32_t param)
{
    build_address_param(bus, appl_reset, 7, address, param);
}

void build_snd_ud_ctrl(bus_context& bus, std::uint8_t address, std::int32_t param)
{
    build_address_param(bus, ctrl, 12, address, param);
}

void build_snd_ud_ctrl_u(bus_context& bus, std::uint8_t address, std::int32_t param)
{
    build_address_word(bus, ctrl_u, address, param);
}

void build_snd_ud_ctrl_i(bus_context& bus, std::uint8_t address, std::int32_t param)
{
    build_address_word(bus, ctrl_i, address, param);
}

bool finish_raw_frame(bus_context& bus, std::uint8_t address)
{
    // A frame from a file is only trusted as far as its length and start byte:
    // anything shorter than 68 L L 68 C A CI CS 16 has no A field to set.
    if (bus.send_length < 9 || bus.send_length > static_cast<std::int32_t>(bus_buffer_size) ||
        bus.send_buffer[0] != 0x68)
        return false;
    auto f = std::span(bus.send_buffer).first(static_cast<std::size_t>(bus.send_length));
    f[a_field] = address;
    f[f.size() - 2] = frame_checksum(f);
    return true;
}

} // namespace velkor::link
