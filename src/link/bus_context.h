#pragma once
// The state of the bus for the command in progress: what to send, what to
// expect and what came back. One instance; cleared at the start of every command.

#include <array>
#include <cstdint>
#include <span>

#include "base/text.h"

namespace velkor::link {

inline constexpr std::size_t bus_buffer_size = 512;

// The longest long frame: 0x68 L L 0x68, 255 bytes of C, A, CI and data, CS, 0x16.
inline constexpr std::int32_t longest_long_frame = 261;

// What the request awaits.
enum class answer_mode : std::uint8_t {
    none,        // nothing
    ack,         // the single acknowledgement character E5 (whatever comes is kept)
    long_frame,  // a long frame
};

// The line a command goes over, chosen once from its bus name by the
// dispatcher (link/line_choice.h): the configured line of bus_0, or the file
// transport with the bus name as its path.
enum class line_choice { configured, file };

struct bus_context {
    text<512> bus_name;
    line_choice line = line_choice::configured;
    std::uint32_t baud_rate = 0;
    link::answer_mode answer_mode = link::answer_mode::none;
    std::array<std::uint8_t, bus_buffer_size> send_buffer{};
    std::int32_t send_length = 0;
    std::array<std::uint8_t, bus_buffer_size> receive_buffer{};
    std::int32_t receive_length = 0;  // 0: no answer
    // The selection in force for address 253: the 8 wire bytes of the last
    // select frame built in this command, wildcards included.
    std::array<std::uint8_t, 8> selection{};
    bool selected = false;

    std::span<const std::uint8_t> sent() const { return std::span(send_buffer).first(clamped(send_length)); }
    std::span<const std::uint8_t> received() const
    {
        return std::span(receive_buffer).first(clamped(receive_length));
    }
    void clear_receive()
    {
        receive_buffer.fill(0);
        receive_length = 0;
    }

private:
    static std::size_t clamped(std::int32_t n)
    {
        return n <= 0 ? 0 : n > static_cast<std::int32_t>(bus_buffer_size) ? bus_buffer_size : static_cast<std::size_t>(n);
    }
};

} // namespace velkor::link
