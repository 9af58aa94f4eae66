// The simulated meters on the link layer.

#include <gtest/gtest.h>

#include "model/meter_bus.h"
#include "support/fake_bus.h"

namespace velkor::sim {
namespace {

using testing::hex;
using testing::to_hex;

byte_string short_frame(std::uint8_t c, std::uint8_t a)
{
    byte_string f = {0x10, c, a, 0, 0x16};
    f[3] = checksum_of(f);
    return f;
}

byte_string long_frame(std::uint8_t c, std::uint8_t a, std::uint8_t ci, const byte_string& data = {})
{
    const auto l = static_cast<std::uint8_t>(3 + data.size());
    // Sized at once: inserting into the braced frame trips g++ 12's -Warray-bounds at -O3.
    byte_string f(data.size() + 9, 0);
    const std::uint8_t head[] = {0x68, l, l, 0x68, c, a, ci};
    std::copy(std::begin(head), std::end(head), f.begin());
    std::copy(data.begin(), data.end(), f.begin() + 7);
    f.back() = 0x16;
    f[f.size() - 2] = checksum_of(f);
    return f;
}

byte_string snd_nke(std::uint8_t a) { return short_frame(0x40, a); }
byte_string req_ud2(std::uint8_t a, int fcb) { return short_frame(fcb ? 0x7B : 0x5B, a); }

// Selection mask in wire order: ident LSB first, F nibbles and FF bytes as wildcards.
byte_string select_frame(const std::array<std::uint8_t, 8>& wire)
{
    return long_frame(0x53, selected_address, 0x52, byte_string(wire.begin(), wire.end()));
}

const auto meter_a = secondary_bytes(0x12345678, "ABC", 1, 7);
const auto meter_b = secondary_bytes(0x12399999, "XYZ", 2, 2);

// A meter with `count` telegrams, told apart by their access numbers 1, 2, ...
meter test_meter(const char* name, std::uint8_t primary, const std::array<std::uint8_t, 8>& secondary, int count = 1)
{
    std::vector<byte_string> telegrams;
    for (int i = 1; i <= count; ++i) {
        const byte_string records = hex("0C 13 78 56 34 12");
        telegrams.push_back(compose_telegram(primary, secondary, static_cast<std::uint8_t>(i), 0, records));
    }
    return make_meter(name, telegrams);
}

// Access number of a telegram answer, or -1 when the answer is not one telegram.
int access_of(const byte_string& answer)
{
    if (answer.size() < 21 || answer[0] != 0x68 || answer.size() != std::size_t{answer[1]} + 6u)
        return -1;
    return answer[15];
}

struct meter_bus_test : ::testing::Test {
    meter_bus bus;
    byte_string send(const byte_string& frame, std::uint32_t baud = 0) { return answer_frame(bus, frame, baud).bytes; }
};

TEST_F(meter_bus_test, snd_nke_acknowledged_by_the_addressed_meter_only_broadcast_unanswered)
{
    bus.meters = {test_meter("a", 1, meter_a), test_meter("b", 2, meter_b)};
    EXPECT_EQ("E5", to_hex(send(hex("10 40 01 41 16"))));
    EXPECT_EQ("E5", to_hex(send(snd_nke(2))));
    EXPECT_EQ("", to_hex(send(snd_nke(3))));
    EXPECT_EQ("", to_hex(send(hex("10 40 FF 3F 16"))));
    EXPECT_EQ("E5 E5", to_hex(send(snd_nke(test_address))));  // the test address reaches everyone
}

TEST_F(meter_bus_test, fcb_toggle_gives_the_next_telegram_and_repetition_the_same_one)
{
    bus.meters = {test_meter("a", 5, meter_a, 3)};
    const int fcbs[] = {1, 0, 0, 1, 0, 0};
    const int expected[] = {1, 2, 2, 3, 1, 1};  // after the last telegram the sequence starts over
    for (std::size_t i = 0; i < std::size(fcbs); ++i)
        EXPECT_EQ(expected[i], access_of(send(req_ud2(5, fcbs[i])))) << "request " << i;
    EXPECT_EQ("10 7B 05 80 16", to_hex(req_ud2(5, 1)));
}

TEST_F(meter_bus_test, snd_nke_restarts_the_sequence_also_as_broadcast)
{
    bus.meters = {test_meter("a", 5, meter_a, 3), test_meter("b", 6, meter_b, 3)};
    EXPECT_EQ(1, access_of(send(req_ud2(5, 1))));
    EXPECT_EQ(2, access_of(send(req_ud2(5, 0))));
    EXPECT_EQ(1, access_of(send(req_ud2(6, 1))));
    EXPECT_EQ("", to_hex(send(snd_nke(broadcast_address))));
    // Without the restart FCB 0 would repeat telegram 2.
    EXPECT_EQ(1, access_of(send(req_ud2(5, 0))));
    EXPECT_EQ(1, access_of(send(req_ud2(6, 1))));
    EXPECT_EQ(2, access_of(send(req_ud2(5, 1))));
    EXPECT_EQ("E5", to_hex(send(snd_nke(5))));
    EXPECT_EQ(1, access_of(send(req_ud2(5, 1))));
}

TEST_F(meter_bus_test, selection_with_wildcards)
{
    bus.meters = {test_meter("a", 1, meter_a), test_meter("b", 2, meter_b)};
    struct case_ {
        const char* mask;  // wire order
        const char* answer;
        const char* at_253;  // which meter REQ_UD2 to 253 reaches afterwards
    } cases[] = {
        {"78 56 34 12 43 04 01 07", "E5", "a"},          // complete address (ABC = 0x0443)
        {"FF FF 34 12 FF FF FF FF", "E5", "a"},          // 1234FFFF
        {"FF FF F9 12 FF FF FF FF", "E5", "b"},          // 12F9FFFF: digit by digit
        {"FF FF FF 1F FF FF FF FF", "E5 E5", "ab"},      // 1FFFFFFF: both answer at once
        {"FF FF FF 2F FF FF FF FF", "", ""},             // 2FFFFFFF: nobody, and both deselected
        {"FF FF FF FF 43 04 FF FF", "E5", "a"},          // manufacturer ABC
        {"FF FF FF FF FF FF 02 FF", "E5", "b"},          // version 2
        {"FF FF FF FF FF FF FF 07", "E5", "a"},          // medium 7
        {"FF FF FF FF FF FF FF FF", "E5 E5", "ab"},      // everything wildcard
        {"78 56 34 12 43 04 01 08", "", ""},             // one byte off
        {"7F 56 34 12 FF FF FF FF", "E5", "a"},          // low nibble wildcard in the last digit pair
        {"77 56 34 12 FF FF FF FF", "", ""},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 8> mask{};
        const byte_string m = hex(c.mask);
        std::copy(m.begin(), m.end(), mask.begin());
        EXPECT_EQ(c.answer, to_hex(send(select_frame(mask)))) << c.mask;
        std::string reached;
        const byte_string answer = send(req_ud2(selected_address, 1));
        for (std::size_t i = 0; i + 8 < answer.size(); ++i) {
            if (answer[i] == 0x68 && answer[i + 3] == 0x68)
                reached += answer[i + 5] == 1 ? "a" : "b";
        }
        EXPECT_EQ(c.at_253, reached) << c.mask;
    }
}

TEST_F(meter_bus_test, two_meters_at_one_address_collide_with_all_their_bytes)
{
    bus.meters = {test_meter("a", 7, meter_a), test_meter("b", 7, meter_b)};
    const byte_string answer = send(req_ud2(7, 1));
    const byte_string first = outgoing_telegram(bus.meters[0], 0), second = outgoing_telegram(bus.meters[1], 0);
    byte_string both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(to_hex(both), to_hex(answer));
    // The first meter to answer sets the bus answer's delay.
    bus.meters[0].delay_ms = 40;
    bus.meters[1].delay_ms = 5;
    const bus_answer acks = answer_frame(bus, snd_nke(7));
    EXPECT_EQ(2, acks.answering);
    EXPECT_EQ(40, acks.delay_ms);
}

TEST_F(meter_bus_test, faults)
{
    meter silent = test_meter("silent", 1, meter_a);
    silent.faults.silent = true;
    meter no_data = test_meter("no-data", 2, meter_b);
    no_data.faults.no_data = true;
    meter bad = test_meter("bad", 3, secondary_bytes(0x33333333, "ABC", 1, 7), 2);
    bad.faults.bad_checksum_telegram = 2;
    meter stops = test_meter("stops", 4, secondary_bytes(0x44444444, "ABC", 1, 7), 3);
    stops.faults.stop_after = 2;
    bus.meters = {silent, no_data, bad, stops};

    // Silent: nothing at all, not even to a selection of its exact address.
    EXPECT_EQ("", to_hex(send(snd_nke(1))));
    EXPECT_EQ("", to_hex(send(select_frame(meter_a))));
    EXPECT_EQ("", to_hex(send(req_ud2(1, 1))));

    // No data: acknowledges, never sends a telegram.
    EXPECT_EQ("E5", to_hex(send(snd_nke(2))));
    EXPECT_EQ("E5", to_hex(send(select_frame(meter_b))));
    EXPECT_EQ("", to_hex(send(req_ud2(selected_address, 1))));
    EXPECT_EQ("", to_hex(send(req_ud2(2, 0))));

    // Bad checksum on telegram 2, repetitions included; telegram 1 stays good.
    auto checksum_ok = [](const byte_string& t) { return t.size() > 2 && checksum_of(t) == t[t.size() - 2]; };
    EXPECT_TRUE(checksum_ok(send(req_ud2(3, 1))));
    EXPECT_FALSE(checksum_ok(send(req_ud2(3, 0))));
    EXPECT_FALSE(checksum_ok(send(req_ud2(3, 0))));
    EXPECT_TRUE(checksum_ok(send(req_ud2(3, 1))));

    // Stop after 2: telegrams 1 and 2, then silence until SND_NKE; still acknowledges.
    EXPECT_EQ(1, access_of(send(req_ud2(4, 1))));
    EXPECT_EQ(2, access_of(send(req_ud2(4, 0))));
    EXPECT_EQ("", to_hex(send(req_ud2(4, 1))));
    EXPECT_EQ("", to_hex(send(req_ud2(4, 0))));
    EXPECT_EQ("E5", to_hex(send(snd_nke(4))));
    EXPECT_EQ(1, access_of(send(req_ud2(4, 1))));
}

TEST_F(meter_bus_test, new_primary_address_to_the_selected_meter_and_to_everyone)
{
    bus.meters = {test_meter("a", 1, meter_a), test_meter("b", 2, meter_b)};
    ASSERT_EQ("E5", to_hex(send(select_frame(meter_a))));
    EXPECT_EQ("E5", to_hex(send(long_frame(0x53, selected_address, 0x51, hex("01 7A 09")))));
    EXPECT_EQ("", to_hex(send(snd_nke(1))));
    EXPECT_EQ("E5", to_hex(send(snd_nke(9))));
    EXPECT_EQ(9, send(req_ud2(9, 1)).at(a_field_offset));  // the telegram carries the new address
    // Addresses above 250 are refused without an acknowledgement.
    EXPECT_EQ("", to_hex(send(long_frame(0x53, 9, 0x51, hex("01 7A FD")))));
    EXPECT_EQ(9, bus.meters[0].primary_address);

    EXPECT_EQ("", to_hex(send(hex("68 06 06 68 53 FF 51 01 7A 00 1E 16"))));  // broadcast: all to 0
    EXPECT_EQ(0, bus.meters[0].primary_address);
    EXPECT_EQ(0, bus.meters[1].primary_address);
    EXPECT_EQ("E5 E5", to_hex(send(snd_nke(0))));
}

TEST_F(meter_bus_test, new_secondary_address_changes_selection_and_telegram)
{
    bus.meters = {test_meter("a", 1, meter_a)};
    const auto renamed = secondary_bytes(0x87654321, "QRS", 9, 4);
    ASSERT_EQ("E5", to_hex(send(select_frame(meter_a))));
    byte_string data = {0x07, 0x79};
    data.insert(data.end(), renamed.begin(), renamed.end());
    EXPECT_EQ("E5", to_hex(send(long_frame(0x53, selected_address, 0x51, data))));
    EXPECT_EQ("87654321-QRS-9-4", secondary_text(bus.meters[0].secondary));

    const byte_string t = send(req_ud2(1, 1));
    ASSERT_GE(t.size(), 21u);
    EXPECT_EQ(to_hex(renamed), to_hex(std::span(t).subspan(secondary_offset, 8)));
    EXPECT_EQ(checksum_of(t), t[t.size() - 2]);
    EXPECT_EQ("", to_hex(send(select_frame(meter_a))));
    EXPECT_EQ("E5", to_hex(send(select_frame(renamed))));
}

TEST_F(meter_bus_test, baud_rate_switch_is_acknowledged_then_only_the_new_rate_is_heard)
{
    bus.meters = {test_meter("a", 1, meter_a)};
    EXPECT_EQ("E5", to_hex(send(hex("68 03 03 68 73 01 BD 31 16"), 2400)));  // to 9600 Bd
    EXPECT_EQ(9600u, bus.meters[0].baud_rate);
    EXPECT_EQ("", to_hex(send(snd_nke(1), 2400)));
    EXPECT_EQ("E5", to_hex(send(snd_nke(1), 9600)));
    EXPECT_EQ("E5", to_hex(send(hex("68 03 03 68 73 01 BB 2F 16"), 9600)));  // back to 2400 Bd
    EXPECT_EQ("E5", to_hex(send(snd_nke(1), 2400)));
}

TEST_F(meter_bus_test, control_frames_acknowledged_broadcasts_and_broken_frames_not)
{
    bus.meters = {test_meter("a", 1, meter_a, 2)};
    const char* acknowledged[] = {
        "68 04 04 68 63 01 50 00",              // application reset
        "68 07 07 68 63 01 51 41 FD 05 07",     // reset control
        "68 08 08 68 63 01 51 41 E7 FA 00 2A",  // set temperature
        "68 09 09 68 63 01 51 02 FD C7 00 34 12",
    };
    EXPECT_EQ(1, access_of(send(req_ud2(1, 1))));
    for (const char* body : acknowledged) {
        byte_string f = hex(body);
        f.insert(f.end(), {0, 0x16});
        f[f.size() - 2] = checksum_of(f);
        EXPECT_EQ("E5", to_hex(send(f))) << body;
    }
    // Freeze to everyone: taken, not answered.
    EXPECT_EQ("", to_hex(send(long_frame(0x63, broadcast_address, 0x51, hex("44 ED 00 1E 08 21 3C 40 FD E1 0B")))));
    EXPECT_EQ("", to_hex(send(req_ud2(broadcast_address, 1))));
    EXPECT_EQ("", to_hex(send(hex("10 40 01 42 16"))));  // checksum wrong
    EXPECT_EQ("", to_hex(send(hex("10 40 01 41 17"))));  // stop byte wrong
    EXPECT_EQ("", to_hex(send(hex("E5"))));
    // The application reset restarted the sequence.
    EXPECT_EQ(1, access_of(send(req_ud2(1, 0))));
}

} // namespace
} // namespace velkor::sim
