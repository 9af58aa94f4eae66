// An exchange keeps to its own answer: from the slave asked, never a late one.

#include <array>
#include <deque>
#include <map>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/frames.h"
#include "support/fake_bus.h"
#include "support/fake_line.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

// RSP_UDs of 12345678-AAA-1-7 at address 5, of 87654321-AAA-1-7 at 7, and of 12345678-AAA-1-4 at 5.
const bytes ours = hex("68 0F 0F 68 08 05 72 78 56 34 12 21 04 01 07 2A 00 00 00 EA 16");
const bytes other = hex("68 0F 0F 68 08 07 72 21 43 65 87 21 04 01 07 2A 00 00 00 28 16");
const bytes ours_next = hex("68 0F 0F 68 08 05 72 78 56 34 12 21 04 01 04 2A 00 00 00 E7 16");

struct line_state : ::testing::Test {
    temp_dir dir;
    log::log_settings log;
    fake_clock clock;
    fake_line line{clock};
    link::transceiver t{line, clock};
    link::bus_context bus;

    line_state()
    {
        log.directory.assign(dir.path);
        log.size = log.size_dev = 100000;
        t.log = &log;
        t.timing.profile = link::timing_profile::standard;  // 9600 Bd: pause 50 ms, window 135 ms
        bus.bus_name.assign("/dev/ttyS1");
        bus.baud_rate = 9600;
    }
    std::size_t logged(const std::string& text)
    {
        const std::string all = read_file(dir.file("mbusLogDev"));
        std::size_t n = 0;
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++n;
        return n;
    }
};

TEST_F(line_state, only_the_slave_asked_answers)
{
    struct row {
        const char* selection;       // the 8 mask bytes in display order; empty: none
        std::uint8_t address;
        std::vector<bytes> answers;  // per try; the scripted bus repeats once
        std::size_t taken;           // index of the answer taken; answers.size(): none
        const char* logged;
    };
    const row rows[] = {
        {"", 5, {ours}, 0, nullptr},
        {"", 5, {other, {}}, 2, "answer from primary address 7 does not belong to primary address 5"},
        {"", 5, {other, ours}, 1, "primary address 7"},
        {"12 34 56 78 04 21 01 07", 253, {other, ours}, 1,
         "answer from secondary address 87654321-AAA-1-7 does not belong to secondary address 12345678-AAA-1-7"},
        {"12 34 FF FF FF FF FF FF", 253, {ours}, 0, nullptr},
        {"30 51 FF FF FF FF FF FF", 253, {ours, {}}, 2,
         "answer from secondary address 12345678-AAA-1-7 does not belong to mask 30 51 FF FF FF FF FF FF"},
        {"FF FF FF FF 04 21 FF 04", 253, {ours, {}}, 2, "mask FF FF FF FF 04 21 FF 04"},  // medium differs
        {"", 254, {other}, 0, nullptr},  // the test address takes anyone
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.logged ? r.logged : r.selection);
        scripted_bus scripted;
        scripted.log = &log;
        scripted.repeats = 1;
        for (const bytes& a : r.answers)
            scripted.answer_any(a);
        bus = {};
        std::array<std::uint8_t, 8> mask{};
        const bytes m = hex(r.selection);
        std::copy(m.begin(), m.end(), mask.begin());
        if (!m.empty())
            link::build_select(bus, mask);
        link::build_req_ud2(bus, r.address, 1);
        link::transceive_repeating(scripted, bus);
        EXPECT_EQ(r.taken < r.answers.size() ? to_hex(r.answers[r.taken]) : "", to_hex(bus.received()));
        EXPECT_EQ(r.logged != nullptr, logged(r.logged ? r.logged : "LINK:") > 0);
        ::unlink(dir.file("mbusLogDev").c_str());
    }
}

TEST_F(line_state, late_answer_is_waited_out_before_the_next_request)
{
    // Waiting at the end of the pause (50 ms), more at 60: quiet from 195 on.
    line.arrive({{10, hex("68 0F")}, {60, hex("0F 68 08")}});
    line.answers = {{{5, hex("E5")}}};
    link::build_snd_nke(bus, 5);
    t.transceive(bus);
    EXPECT_EQ(std::vector<int>{195}, line.written_ms);
    EXPECT_EQ("E5", to_hex(bus.received()));

    // The echo of a broadcast is no late answer: nothing waits, nothing is logged.
    line.answers = {{{1, hex("10 40 FF 3F 16")}}, {{5, hex("E5")}}};
    link::build_snd_nke(bus, link::broadcast_address);
    t.transceive(bus);
    link::build_snd_nke(bus, 5);
    t.transceive(bus);
    EXPECT_EQ(50, line.written_ms[2] - line.written_ms[1]);

    // classic waits the same way, from the end of its pause.
    t.timing.profile = link::timing_profile::classic;
    const int start = static_cast<int>(clock.monotonic_us() / 1000);
    line.arrive({{490, hex("E5")}});
    link::build_snd_nke(bus, link::broadcast_address);
    t.transceive(bus);
    EXPECT_EQ(start + 500 + 135, line.written_ms.back());
    EXPECT_EQ(2u, logged("LINK: late answer of "));
}

TEST_F(line_state, answer_that_came_on_a_repeat_lets_the_late_one_pass_first)
{
    // 200 ms late: the first try's answer lands in the repeat's window, the
    // repeat's own answer would land in the next request's.
    line.answers = {{{200, ours}}, {{200, ours}}, {{5, ours_next}}};
    link::build_req_ud2(bus, 5, 1);
    link::transceive_repeating(t, bus);
    EXPECT_EQ(to_hex(ours), to_hex(bus.received()));
    link::build_req_ud2(bus, 5, 0);
    link::transceive_repeating(t, bus);
    EXPECT_EQ(to_hex(ours_next), to_hex(bus.received()));
    EXPECT_EQ(1u, logged("LINK: late answer of 21 bytes"));
}

} // namespace
} // namespace velkor::testing
