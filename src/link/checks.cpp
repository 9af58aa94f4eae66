#include "link/checks.h"

#include <cstdio>

#include "log/trace.h"

namespace velkor::link {

namespace {

constexpr std::uint8_t ack_byte = 0xE5;
constexpr std::uint8_t long_start = 0x68;
constexpr std::uint8_t stop_byte = 0x16;
constexpr std::uint8_t rsp_ud_c = 0x08;
constexpr std::uint8_t variable_data_ci = 0x72;
constexpr std::size_t smallest_long_frame = 9;  // 68 L L 68 C A CI CS 16

void say(const char* message)
{
    if (trace::encode)
        std::printf("%s\n", message);
}

} // namespace

int check_ack(const bus_context& bus)
{
    const auto answer = bus.received();
    if (answer.empty())
        return 0;
    return answer.size() == 1 && answer[0] == ack_byte ? 1 : -1;
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
    if (bus.answer_mode == answer_long)
        return long_frame_errors(bus) != 0;
    return bus.answer_mode != answer_none && bus.receive_length == 0;
}

int check_long_frame(const bus_context& bus)
{
    const int errors = long_frame_errors(bus);
    if (errors & frame_missing) {
        say("CHECK_UD2: MBus-Telegram dont received");
        return 0;
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
        return 0;
    }
    return 1;
}

} // namespace velkor::link
