#include "support/fake_bus.h"

#include <gtest/gtest.h>

#include "decode/telegram_builder.h"

namespace velkor::testing {

bytes hex(const std::string& text) { return decode_testing::hex_bytes(text); }

std::string to_hex(std::span<const std::uint8_t> data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : data) {
        if (!s.empty())
            s += ' ';
        s += digits[b >> 4];
        s += digits[b & 0x0F];
    }
    return s;
}

scripted_bus& scripted_bus::expect(const bytes& request, const bytes& answer)
{
    script.push_back({request, answer});
    return *this;
}

scripted_bus& scripted_bus::answer_any(const bytes& answer)
{
    script.push_back({{}, answer});
    return *this;
}

scripted_bus& scripted_bus::lose_line()
{
    script.push_back({{}, {}, true});
    return *this;
}

void scripted_bus::transceive(link::bus_context& bus)
{
    const auto frame = bus.sent();
    sent.emplace_back(frame.begin(), frame.end());
    baud_rates.push_back(bus.baud_rate);
    answer_modes.push_back(bus.answer_mode);
    bus.clear_receive();

    bytes answer;
    if (!script.empty()) {
        step s = script.front();
        script.pop_front();
        if (!s.expect.empty()) {
            EXPECT_EQ(to_hex(s.expect), to_hex(frame)) << "request " << sent.size();
        }
        answer = s.answer;
        failed = failed || s.lose;
    } else if (responder) {
        answer = responder(frame);
    }
    if (bus.answer_mode == link::answer_mode::none)
        return;
    const std::size_t n = std::min(answer.size(), bus.receive_buffer.size());
    std::copy_n(answer.begin(), n, bus.receive_buffer.begin());
    bus.receive_length = static_cast<std::int32_t>(n);
}

void fake_clock::sleep_ms(int ms)
{
    std::lock_guard lock(mutex);
    sleeps.push_back(ms);
    now_us += static_cast<std::int64_t>(ms) * 1000;
}

std::int64_t fake_clock::monotonic_us()
{
    std::lock_guard lock(mutex);
    return now_us;
}

std::time_t fake_clock::wall_time()
{
    std::lock_guard lock(mutex);
    return wall;
}

std::vector<int> fake_clock::taken()
{
    std::lock_guard lock(mutex);
    return sleeps;
}

} // namespace velkor::testing
