#include "support/meter_line.h"

#include <gtest/gtest.h>

namespace velkor::testing {

void meter_line::transceive(link::bus_context& bus)
{
    const auto frame = bus.sent();
    seen.emplace_back(frame.begin(), frame.end());
    baud_rates.push_back(bus.baud_rate);
    bus.clear_receive();

    const sim::bus_answer answer = sim::answer_frame(meters, frame, bus.baud_rate);
    notes.push_back(answer.note);
    if (bus.answer_mode == link::answer_mode::none)
        return;
    std::size_t from = 0;
    if (bus.answer_mode == link::answer_mode::long_frame) {
        const auto& b = answer.bytes;
        from = b.size();
        for (std::size_t i = 0; i + 3 < b.size(); ++i) {
            if (b[i] == 0x68 && b[i + 1] == b[i + 2] && b[i + 3] == 0x68) {
                from = i;
                break;
            }
        }
    }
    const std::size_t n = std::min(answer.bytes.size() - from, bus.receive_buffer.size());
    std::copy_n(answer.bytes.begin() + static_cast<std::ptrdiff_t>(from), n, bus.receive_buffer.begin());
    bus.receive_length = static_cast<std::int32_t>(n);
}

meter_line meter_line_from(const std::string& bus_file_text)
{
    sim::meter_bus bus;
    sim::parse_error error;
    const bool ok = sim::parse_bus_text(bus_file_text, bus, error);
    EXPECT_TRUE(ok) << sim::describe(error);
    return meter_line(std::move(bus));
}

} // namespace velkor::testing
