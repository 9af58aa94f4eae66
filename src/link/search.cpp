#include "link/search.h"

#include <cstdio>

#include "base/stop.h"
#include "base/trace.h"
#include "decode/header.h"
#include "link/checks.h"
#include "link/frames.h"

namespace velkor::link {

namespace {

constexpr std::uint8_t last_digit_position = 7;
constexpr std::uint8_t last_position = 11;  // medium byte
constexpr std::size_t first_byte_mask = 4;  // mask index of position 8 (manufacturer high)
constexpr std::uint8_t wildcard_digit = 0xF;
constexpr std::uint8_t wildcard_byte = 0xFF;
constexpr std::uint8_t last_digit = 9;
constexpr std::uint8_t last_byte = 0xFE;  // 0xFF is the wildcard, never a value

// The digit or mask byte that the position varies.
std::uint8_t& value_at(search_state& s, std::uint8_t position)
{
    return position <= last_digit_position ? s.digits[position] : s.mask[first_byte_mask + position - 8];
}

std::uint8_t last_value(std::uint8_t position) { return position <= last_digit_position ? last_digit : last_byte; }

void say(const char* message)
{
    if (trace::encode)
        std::printf("%s\n", message);
}

// Next value on this level, or back up to the first level that still has one.
// false when there is none: the search is over.
bool advance(search_state& s)
{
    while (value_at(s, s.position) == last_value(s.position) && s.position > 0)
        --s.position;
    std::uint8_t& value = value_at(s, s.position);
    if (value < last_value(s.position)) {
        ++value;
        return true;
    }
    say("slave search finished");
    return false;
}

bool read_selected(bus_context& bus, bus_line& line)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        build_req_ud2(bus, selected_address, 1);
        exchange_once(line, bus);
        if (check_long_frame(bus))
            return true;
    }
    return false;
}

} // namespace

bool search_step(search_state& state, bool& start, bus_context& bus, bus_line& line, velkor::clock& clock,
                 std::array<std::uint8_t, 8>& mask_out)
{
    if (start) {
        state.position = 0;
        state.digits[0] = 0;
        start = false;
        say("slave search started");
    }
    if (state.position > last_position)
        state.position = last_position;

    // Everything below the current position is a wildcard.
    for (std::size_t i = state.position + 1u; i < state.digits.size(); ++i)
        state.digits[i] = wildcard_digit;
    for (std::size_t i = first_byte_mask; i < state.mask.size(); ++i)
        if (i + 4 > state.position)
            state.mask[i] = wildcard_byte;
    for (std::size_t k = 0; k < first_byte_mask; ++k)
        state.mask[k] = static_cast<std::uint8_t>(16 * (state.digits[2 * k] & 0x0F) + (state.digits[2 * k + 1] & 0x0F));

    mask_out = state.mask;
    if (trace::encode)
        hex_dump(state.mask);

    build_select(bus, state.mask);
    exchange_once(line, bus);
    const ack answer = check_ack(bus);
    if (answer == ack::none)
        return advance(state);

    const bool found = answer == ack::ok && read_selected(bus, line);
    if (trace::encode)
        std::printf("stat = %d     err = %d\n", answer == ack::ok ? 1 : 2, found ? 0 : 1);

    if (found) {
        if (trace::encode) {
            text<32> secondary, primary;
            decode::render_secondary_address(bus.received(), secondary, primary);
            std::printf("found slave\t%s\t%s\n", secondary.c_str(), primary.c_str());
        }
        return advance(state);
    }

    // Several slaves answer this mask (or one that gives no data): look deeper.
    bus.clear_receive();
    if (!stop::is_requested())  // an ending daemon lets the line settle no more
        line.collision_wait(bus, clock);
    if (state.position < last_position) {
        ++state.position;
        value_at(state, state.position) = 0;
        return true;
    }
    // Nothing deeper to refine: report it and carry on with the rest of the bus.
    say("2 Slaves mit gleicher Sekundaeradresse gefunden!!");
    return advance(state);
}

} // namespace velkor::link
