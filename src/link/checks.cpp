#include "link/checks.h"

#include <cstdio>

#include "base/trace.h"
#include "decode/header.h"

namespace velkor::link {

namespace {

constexpr std::uint8_t ack_byte = 0xE5;
constexpr std::uint8_t long_start = 0x68;
constexpr std::uint8_t stop_byte = 0x16;
constexpr std::uint8_t rsp_ud_c = 0x08;
constexpr std::uint8_t variable_data_ci = 0x72;
constexpr std::size_t smallest_long_frame = 9;  // 68 L L 68 C A CI CS 16

constexpr std::size_t request_a_field = 2;  // short frame 10 C A CS 16
constexpr std::size_t answer_a_field = 5;
constexpr std::size_t identification_at = 7;  // ident (4), manufacturer (2), version, medium
constexpr std::size_t identification_end = 15;
constexpr std::uint8_t highest_primary = 250;
constexpr std::uint8_t selected = 0xFD;
constexpr std::uint8_t wildcard = 0xFF;

bool nibble_matches(unsigned mask, unsigned value) { return mask == 0xF || mask == value; }

// Identification number nibble by nibble, the other bytes whole.
bool identification_matches(const std::array<std::uint8_t, 8>& mask, std::span<const std::uint8_t> id)
{
    for (std::size_t i = 0; i < 4; ++i)
        if (!nibble_matches(mask[i] >> 4, id[i] >> 4u) || !nibble_matches(mask[i] & 0x0Fu, id[i] & 0x0Fu))
            return false;
    for (std::size_t i = 4; i < mask.size(); ++i)
        if (mask[i] != wildcard && mask[i] != id[i])
            return false;
    return true;
}

bool has_wildcard(const std::array<std::uint8_t, 8>& mask)
{
    for (std::size_t i = 0; i < mask.size(); ++i)
        if (i < 4 ? (mask[i] >> 4) == 0xF || (mask[i] & 0x0F) == 0xF : mask[i] == wildcard)
            return true;
    return false;
}

// A selection as the search shows its masks, or as the secondary address it names.
void describe_selection(const std::array<std::uint8_t, 8>& w, text<64>& out)
{
    if (has_wildcard(w)) {
        out.format("mask %02X %02X %02X %02X %02X %02X %02X %02X", w[3], w[2], w[1], w[0], w[5], w[4], w[6], w[7]);
        return;
    }
    std::array<std::uint8_t, identification_end> frame{};
    std::copy(w.begin(), w.end(), frame.begin() + identification_at);
    text<32> secondary, primary;
    decode::render_secondary_address(frame, secondary, primary);
    out.format("secondary address %s", secondary.c_str());
}

void say(const char* message)
{
    if (trace::encode)
        std::printf("%s\n", message);
}

} // namespace

ack check_ack(const bus_context& bus)
{
    const auto answer = bus.received();
    if (answer.empty())
        return ack::none;
    return answer.size() == 1 && answer[0] == ack_byte ? ack::ok : ack::collision;
}

int long_frame_errors(const bus_context& bus)
{
    if (bus.receive_length <= 0)
        return frame_missing;
    const auto frame = bus.received();
    const std::size_t n = frame.size();
    // A length the buffer cannot hold, or too short for a long frame: only the
    // bytes that did arrive are judged, and the length always fails.
    const bool length_usable =
        n >= smallest_long_frame && bus.receive_length <= static_cast<std::int32_t>(bus_buffer_size);
    auto at = [&](std::size_t i) -> int { return i < n ? frame[i] : -1; };

    int errors = 0;
    if (at(0) != long_start || at(1) != at(2) || at(3) != long_start || at(4) != rsp_ud_c ||
        at(6) != variable_data_ci)
        errors |= frame_header;
    if (length_usable) {
        std::uint8_t sum = 0;
        for (std::size_t i = 4; i + 2 < n; ++i)
            sum = static_cast<std::uint8_t>(sum + frame[i]);
        if (sum != frame[n - 2])
            errors |= frame_checksum_wrong;
        if (frame[n - 1] != stop_byte)
            errors |= frame_end_byte;
    }
    if (!length_usable || static_cast<std::size_t>(frame[1]) + 6 != n)
        errors |= frame_length;
    return errors;
}

bool worth_repeating(const bus_context& bus)
{
    if (bus.answer_mode == answer_mode::long_frame)
        return long_frame_errors(bus) != 0;
    return bus.answer_mode != answer_mode::none && bus.receive_length == 0;
}

bool check_long_frame(const bus_context& bus)
{
    const int errors = long_frame_errors(bus);
    if (errors & frame_missing) {
        say("CHECK_UD2: MBus-Telegram dont received");
        return false;
    }
    if (errors & frame_header)
        say("CHECK_UD2: Error in header");
    if (errors & frame_checksum_wrong)
        say("CHECK_UD2: Error in check sum");
    if (errors & frame_end_byte)
        say("CHECK_UD2: Error in end-byte (0x16)");
    if (errors & frame_length)
        say("CHECK_UD2: Error in telegram length");
    if (errors) {
        say("CHECK_UD2: MBus-Telegram received with errors");
        return false;
    }
    return true;
}

bool answer_belongs(const bus_context& bus, text<64>& answered, text<64>& asked)
{
    const auto request = bus.sent();
    if (bus.answer_mode != answer_mode::long_frame || request.size() <= request_a_field || long_frame_errors(bus) != 0)
        return true;
    // A short frame carries its A field at 2, a long one at 5.
    const std::size_t a_at = request[0] == 0x10 ? request_a_field : answer_a_field;
    const std::uint8_t address = a_at < request.size() ? request[a_at] : 0;
    const auto frame = bus.received();
    if (address <= highest_primary) {
        if (frame[answer_a_field] == address)
            return true;
        answered.format("primary address %u", static_cast<unsigned>(frame[answer_a_field]));
        asked.format("primary address %u", static_cast<unsigned>(address));
        return false;
    }
    if (address != selected || !bus.selected)
        return true;
    // A frame too short to name its slave cannot show that it is the one.
    if (frame.size() >= identification_end + 2 &&
        identification_matches(bus.selection, frame.subspan(identification_at, 8)))
        return true;
    text<32> secondary, primary;
    decode::render_secondary_address(frame, secondary, primary);
    answered.format("secondary address %s", secondary.c_str());
    describe_selection(bus.selection, asked);
    return false;
}

} // namespace velkor::link
