// The in-process bus line over the simulated meters.

#include <gtest/gtest.h>

#include "support/fake_bus.h"
#include "support/meter_line.h"

namespace velkor::testing {
namespace {

void load(link::bus_context& bus, const std::string& frame, link::answer_mode mode)
{
    const bytes f = hex(frame);
    std::copy(f.begin(), f.end(), bus.send_buffer.begin());
    bus.send_length = static_cast<std::int32_t>(f.size());
    bus.answer_mode = mode;
}

TEST(meter_line, collects_answers_as_the_transceiver_does_per_answer_mode)
{
    const std::string t1 = "68 0F 0F 68 08 05 72 78 56 34 12 43 04 01 07 01 00 00 00 E3 16";
    const std::string t2 = "68 0F 0F 68 08 05 72 99 99 39 12 43 04 01 07 01 00 00 00 4C 16";
    meter_line line = meter_line_from("meter a\n" + t1 + "\nmeter b\nfault no-data\n" + t2 + "\n");
    ASSERT_EQ(2u, line.meters.meters.size());
    link::bus_context bus;
    bus.baud_rate = 2400;

    // Mode 0: the meters act (the sequence restarts) but nothing is collected.
    load(bus, "10 40 05 45 16", link::answer_mode::none);
    line.transceive(bus);
    EXPECT_EQ(0, bus.receive_length);

    // Mode 1: both acknowledgements, the collision as the reader sees it.
    load(bus, "10 40 05 45 16", link::answer_mode::ack);
    line.transceive(bus);
    EXPECT_EQ("E5 E5", to_hex(bus.received()));

    // Mode 2: acknowledgements are no long frame; telegrams are kept from the first start on.
    load(bus, "10 7B 05 80 16", link::answer_mode::long_frame);
    line.transceive(bus);
    EXPECT_EQ(t1, to_hex(bus.received()));
    load(bus, "10 40 05 45 16", link::answer_mode::long_frame);
    line.transceive(bus);
    EXPECT_EQ(0, bus.receive_length);
    line.meters.meters[1].faults.no_data = false;
    load(bus, "10 5B 05 60 16", link::answer_mode::long_frame);
    line.transceive(bus);
    EXPECT_EQ(t1 + " " + t2, to_hex(bus.received()));

    ASSERT_EQ(5u, line.seen.size());
    EXPECT_EQ("10 7B 05 80 16", to_hex(line.seen[2]));
    EXPECT_EQ(2400u, line.baud_rates[4]);
    EXPECT_EQ(5u, line.notes.size());
}

} // namespace
} // namespace velkor::testing
