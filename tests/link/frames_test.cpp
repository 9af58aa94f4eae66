#include "link/frames.h"

#include <functional>
#include <gtest/gtest.h>

#include "support/fake_bus.h"

namespace velkor::link {
namespace {

using testing::hex;
using testing::to_hex;

struct frame_case {
    const char* name;
    std::function<void(bus_context&)> build;
    const char* bytes;
    link::answer_mode answer_mode;
};

std::tm known_time()
{
    std::tm t{};
    t.tm_year = 125;  // 2025: the year's bits spread over two bytes
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 20;
    t.tm_min = 55;
    return t;
}

const frame_case frame_cases[] = {
    {"snd_nke broadcast", [](bus_context& b) { build_snd_nke(b, 255); }, "10 40 FF 3F 16", answer_mode::none},
    {"snd_nke slave", [](bus_context& b) { build_snd_nke(b, 1); }, "10 40 01 41 16", answer_mode::ack},
    {"req_ud2 fcb 1", [](bus_context& b) { build_req_ud2(b, 5, 1); }, "10 7B 05 80 16", answer_mode::long_frame},
    {"req_ud2 fcb 0", [](bus_context& b) { build_req_ud2(b, 5, 0); }, "10 5B 05 60 16", answer_mode::long_frame},
    {"select text", [](bus_context& b) { build_select(b, "12345678-AAA-1-7"); },
     "68 0B 0B 68 53 FD 52 78 56 34 12 21 04 01 07 E3 16", answer_mode::ack},
    {"select display bytes",
     [](bus_context& b) { build_select(b, std::array<std::uint8_t, 8>{0x12, 0x34, 0x56, 0x78, 0x04, 0x21, 0x01, 0x07}); },
     "68 0B 0B 68 53 FD 52 78 56 34 12 21 04 01 07 E3 16", answer_mode::ack},
    {"set primary", [](bus_context& b) { build_set_primary(b, 5); }, "68 06 06 68 53 FD 51 01 7A 05 21 16",
     answer_mode::ack},
    {"reset all primary", [](bus_context& b) { build_reset_all_primary(b); }, "68 06 06 68 53 FF 51 01 7A 00 1E 16",
     answer_mode::ack},
    {"set secondary", [](bus_context& b) { build_set_secondary(b, "12345678-CBI-2-21"); },
     "68 0D 0D 68 53 FD 51 07 79 78 56 34 12 49 0C 02 15 A1 16", answer_mode::ack},
    {"baud rate 2400", [](bus_context& b) { build_set_baudrate(b, 1, 2400); }, "68 03 03 68 73 01 BB 2F 16",
     answer_mode::ack},
    {"baud rate 57600 falls back", [](bus_context& b) { build_set_baudrate(b, 1, 57600); },
     "68 03 03 68 73 01 BD 31 16", answer_mode::ack},
    {"freeze", [](bus_context& b) { build_freeze(b, known_time()); },
     "68 0E 0E 68 63 FF 51 44 ED 00 37 14 26 3C 40 FD E1 0B BA 16", answer_mode::none},
    {"reset ctrl", [](bus_context& b) { build_snd_ud_reset_ctrl(b, 3, 0x2A); },
     "68 07 07 68 63 03 51 41 FD 2A 07 26 16", answer_mode::ack},
    {"set temp", [](bus_context& b) { build_snd_ud_set_temp(b, 3, 0x2A); },
     "68 08 08 68 63 03 51 41 E7 FA 00 2A 03 16", answer_mode::ack},
    {"reset temp", [](bus_context& b) { build_snd_ud_reset_temp(b, 3); }, "68 07 07 68 63 03 51 41 E7 FA 07 E0 16",
     answer_mode::ack},
    {"set sensor", [](bus_context& b) { build_snd_ud_set_sensor(b, 3, 0x2A); },
     "68 0B 0B 68 63 03 51 41 FC 03 70 79 54 00 2A 5E 16", answer_mode::ack},
    {"appl reset param cut to low byte", [](bus_context& b) { build_snd_ud_appl_reset(b, 3, 0x1FF); },
     "68 04 04 68 63 03 50 FF B5 16", answer_mode::ack},
    {"ctrl param cut to low byte", [](bus_context& b) { build_snd_ud_ctrl(b, 3, 0x312A); },
     "68 09 09 68 63 03 51 0D FD 9A 00 E1 2A 66 16", answer_mode::ack},
    {"ctrl_u low byte first", [](bus_context& b) { build_snd_ud_ctrl_u(b, 3, 0x1234); },
     "68 09 09 68 63 03 51 02 FD C7 00 34 12 C3 16", answer_mode::ack},
    {"ctrl_i low byte first", [](bus_context& b) { build_snd_ud_ctrl_i(b, 3, 0x1234); },
     "68 09 09 68 63 03 51 02 FD D7 00 34 12 D3 16", answer_mode::ack},
};

TEST(frames, builders_write_exact_bytes_and_answer_mode)
{
    for (const auto& c : frame_cases) {
        SCOPED_TRACE(c.name);
        bus_context bus;
        // A longer frame left from before must not shine through.
        bus.send_buffer.fill(0xAA);
        bus.send_length = 40;
        bus.answer_mode = static_cast<answer_mode>(7);
        bus.receive_buffer[0] = 0xE5;
        bus.receive_length = 1;
        c.build(bus);
        EXPECT_EQ(c.bytes, to_hex(bus.sent()));
        EXPECT_EQ(c.answer_mode, bus.answer_mode);
        EXPECT_EQ(1, bus.receive_length) << "the receive side is not the builder's";
    }
}

TEST(frames, checksum_depends_on_start_byte)
{
    const struct {
        const char* frame;
        std::uint8_t sum;
    } cases[] = {
        {"10 40 FF 00 16", 0x3F},
        {"68 03 03 68 08 05 72 00 16", 0x7F},
        {"E5", 0},
        {"E5 01 02 03 04", 0},
        {"", 0},
        {"10", 0},
    };
    for (const auto& c : cases) {
        const auto f = hex(c.frame);
        EXPECT_EQ(c.sum, frame_checksum(f)) << c.frame;
    }
}

TEST(frames, finish_raw_frame_sets_address_and_checksum)
{
    bus_context bus;
    const auto raw = hex("68 0F 0F 68 08 01 72 78 56 34 12 21 04 01 07 2A 00 00 00 00 16");
    std::copy(raw.begin(), raw.end(), bus.send_buffer.begin());
    bus.send_length = static_cast<std::int32_t>(raw.size());
    bus.answer_mode = answer_mode::ack;

    EXPECT_TRUE(finish_raw_frame(bus, 9));
    auto expected = raw;
    expected[5] = 9;
    expected[expected.size() - 2] = frame_checksum(expected);
    EXPECT_EQ(to_hex(expected), to_hex(bus.sent()));
    EXPECT_EQ(answer_mode::ack, bus.answer_mode);
}

TEST(frames, finish_raw_frame_refuses_what_is_not_a_long_frame)
{
    const char* frames[] = {"", "68", "68 03 03 68 08", "68 03 03 68 08 05 72 7F", "10 7B 05 80 16",
                            "E5 03 03 68 08 05 72 7F 16"};
    for (const char* text : frames) {
        bus_context bus;
        const auto raw = hex(text);
        std::copy(raw.begin(), raw.end(), bus.send_buffer.begin());
        bus.send_length = static_cast<std::int32_t>(raw.size());
        const auto before = bus.send_buffer;
        EXPECT_FALSE(finish_raw_frame(bus, 9)) << text;
        EXPECT_TRUE(before == bus.send_buffer) << text;
    }
}

} // namespace
} // namespace velkor::link
