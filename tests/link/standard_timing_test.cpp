// The standard timing profile on virtual time: answers arrive at set moments
// after the request, and every window is checked to the millisecond.

#include <deque>
#include <string>

#include <gtest/gtest.h>

#include "base/trace.h"
#include "link/receive.h"
#include "link/transceiver.h"
#include "support/fake_bus.h"
#include "support/fake_line.h"

namespace velkor::testing {
namespace {

const bytes snd_nke = hex("10 40 05 45 16");
const bytes req_ud2 = hex("10 7B 05 80 16");
const bytes long_frame = hex("68 03 03 68 08 05 72 7F 16");
constexpr auto ack_mode = link::answer_mode::ack;
constexpr auto long_mode = link::answer_mode::long_frame;

struct standard_test : ::testing::Test {
    fake_clock clock;
    fake_line line{clock};
    link::transceiver t{line, clock};
    link::bus_context bus;

    void SetUp() override
    {
        t.timing.profile = link::timing_profile::standard;
        bus.bus_name.assign("/dev/ttyS1");
        line.keeps_input = false;  // each answer on its own
    }
    void TearDown() override { trace::transceiver = 0; }

    void prepare(const bytes& request, link::answer_mode mode, std::uint32_t baud_rate)
    {
        std::copy(request.begin(), request.end(), bus.send_buffer.begin());
        bus.send_length = static_cast<std::int32_t>(request.size());
        bus.answer_mode = mode;
        bus.baud_rate = baud_rate;
    }
    // Milliseconds from the end of the send (after the pause) to the return.
    int exchange(const bytes& request, link::answer_mode mode, std::uint32_t baud_rate)
    {
        prepare(request, mode, baud_rate);
        t.transceive(bus);
        return static_cast<int>((clock.monotonic_us() - line.ready_at_us) / 1000);
    }
};

TEST(standard_windows, follow_the_bit_time_of_each_rate)
{
    struct row {
        std::uint32_t baud_rate;
        int margin, window, quiet, gap, wire_100;
    };
    const row rows[] = {
        {300, 50, 1200, 110, 110, 3667}, {600, 50, 650, 55, 55, 1834},  {1200, 50, 375, 28, 50, 917},
        {2400, 50, 238, 14, 50, 459},    {4800, 50, 169, 10, 50, 230},  {9600, 50, 135, 10, 50, 115},
        {19200, 50, 118, 10, 50, 58},    {38400, 50, 109, 10, 50, 29},  {110, 50, 135, 10, 50, 115},
        {9600, 0, 85, 10, 10, 115},      {2400, 200, 388, 14, 200, 459},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.baud_rate) + " Bd, margin " + std::to_string(r.margin));
        EXPECT_EQ(r.window, link::answer_window_ms(r.baud_rate, r.margin));
        EXPECT_EQ(r.quiet, link::quiet_end_ms(r.baud_rate));
        EXPECT_EQ(r.gap, link::answer_gap_ms(r.baud_rate, r.margin));
        EXPECT_EQ(r.wire_100, link::wire_time_ms(r.baud_rate, 100));
    }
}

TEST_F(standard_test, answer_is_taken_within_its_window_and_ends_as_soon_as_it_is_complete)
{
    struct row {
        const char* name;
        std::uint32_t baud_rate;
        link::answer_mode mode;
        std::vector<arrival> arrivals;
        std::string expected;
        int returned_after_ms;
    };
    const std::string frame = to_hex(long_frame);
    const row rows[] = {
        {"acknowledgement: three characters of quiet", 9600, ack_mode, {{40, hex("E5")}}, "E5", 50},
        {"acknowledgement at 2400", 2400, ack_mode, {{40, hex("E5")}}, "E5", 54},
        {"silence: the window", 9600, ack_mode, {}, "", 135},
        {"begins in the window's last millisecond", 9600, ack_mode, {{134, hex("E5")}}, "E5", 144},
        {"begins after the window", 9600, ack_mode, {{136, hex("E5")}}, "", 135},
        {"silence at 300", 300, ack_mode, {}, "", 1200},
        {"collision: until the line is quiet", 9600, ack_mode, {{20, hex("E5")}, {21, hex("A3 1F")}, {29, hex("00")}},
         "E5 A3 1F 00", 39},
        {"long frame: complete at its length", 9600, long_mode,
         {{30, hex("68 03 03 68 08")}, {35, hex("05 72 7F 16")}}, frame, 35},
        {"long frame: a gap within the margin", 9600, long_mode,
         {{30, hex("68 03 03 68 08")}, {79, hex("05 72 7F 16")}}, frame, 79},
        {"long frame: bytes stop past the margin", 9600, long_mode,
         {{30, hex("68 03 03 68 08")}, {81, hex("05 72 7F 16")}}, "68 03 03 68 08", 80},
        {"long frame: lone acknowledgement", 9600, long_mode, {{20, hex("E5")}}, "", 70},
        {"echo, then the answer", 9600, ack_mode, {{0, snd_nke}, {30, hex("E5")}}, "E5", 40},
        {"echo alone is no answer", 9600, ack_mode, {{0, snd_nke}}, "", 135},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        line.answers = {r.arrivals};
        EXPECT_EQ(r.returned_after_ms, exchange(snd_nke, r.mode, r.baud_rate));
        EXPECT_EQ(r.expected, to_hex(bus.received()));
        EXPECT_FALSE(t.receive_running);
    }
}

TEST_F(standard_test, pauses_switches_the_speed_only_when_it_changes_and_drains_the_send)
{
    EXPECT_EQ(0, exchange(snd_nke, link::answer_mode::none, 2400));
    exchange(snd_nke, link::answer_mode::none, 2400);
    exchange(snd_nke, link::answer_mode::none, 9600);
    exchange(snd_nke, link::answer_mode::none, 110);  // runs at 9600 too
    EXPECT_EQ("ready, speed 2400, discard, write, drain, ready, discard, write, drain, ready, speed 9600, discard, "
              "write, drain, ready, discard, write, drain, ",
              line.calls);
    EXPECT_EQ((std::vector<int>{50, 50, 50, 50}), clock.taken());

    t.timing.pause_ms = 7;
    clock.sleeps.clear();
    exchange(snd_nke, link::answer_mode::none, 9600);
    EXPECT_EQ(std::vector<int>{7}, clock.taken());

    // A device that was away is back at its opening speed: set again.
    line.calls.clear();
    line.present = false;
    EXPECT_EQ(0, exchange(snd_nke, link::answer_mode::ack, 9600));
    line.present = true;
    exchange(snd_nke, link::answer_mode::none, 9600);
    EXPECT_EQ("ready, ready, speed 9600, discard, write, drain, ", line.calls);
}

TEST_F(standard_test, repeats_a_missing_or_invalid_answer_but_never_a_collision)
{
    const bytes bad_frame = hex("68 03 03 68 08 05 72 00 16");
    struct row {
        const char* name;
        bytes request;
        link::answer_mode mode;
        int retries;
        std::deque<std::vector<arrival>> answers;
        std::size_t sends;
        std::string expected;
    };
    const row rows[] = {
        {"no answer: every repeat", snd_nke, ack_mode, 2, {}, 3, ""},
        {"answered at the second try", snd_nke, ack_mode, 2, {{}, {{5, hex("E5")}}}, 2, "E5"},
        {"acknowledged at once", snd_nke, ack_mode, 2, {{{5, hex("E5")}}}, 1, "E5"},
        {"collision", snd_nke, ack_mode, 2, {{{5, hex("E5 E5")}}}, 1, "E5 E5"},
        {"invalid frame, then the telegram", req_ud2, long_mode, 2, {{{5, bad_frame}}, {{5, long_frame}}}, 2,
         to_hex(long_frame)},
        {"no repeats configured", req_ud2, long_mode, 0, {}, 1, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        t.timing.retries = r.retries;
        line.written.clear();
        line.answers = r.answers;
        prepare(r.request, r.mode, 9600);
        link::transceive_repeating(t, bus);
        ASSERT_EQ(r.sends, line.written.size());
        // The same frame again: a REQ_UD2 keeps its frame-count bit.
        for (const bytes& sent : line.written)
            EXPECT_EQ(to_hex(r.request), to_hex(sent));
        EXPECT_EQ(r.expected, to_hex(bus.received()));
    }
    t.timing.profile = link::timing_profile::classic;
    EXPECT_EQ(0, t.retries());
}

TEST_F(standard_test, collision_wait_lasts_until_the_line_has_been_quiet_for_a_window)
{
    prepare(snd_nke, link::answer_mode::ack, 9600);
    line.arrive({{20, hex("E5 E5")}, {60, hex("7F")}});
    const std::int64_t start = clock.monotonic_us();
    t.collision_wait(bus, clock);
    EXPECT_EQ(60 + 135, (clock.monotonic_us() - start) / 1000);
    EXPECT_TRUE(line.due.empty());

    // classic: one second, whatever the line does.
    t.timing.profile = link::timing_profile::classic;
    clock.sleeps.clear();
    t.collision_wait(bus, clock);
    EXPECT_EQ(std::vector<int>{1000}, clock.taken());
}

TEST_F(standard_test, pause_counts_the_quiet_line_since_its_last_activity)
{
    struct row {
        const char* name;
        link::answer_mode mode;  // of the exchange before
        std::vector<arrival> arrivals;
        bool collision_wait;
        std::uint32_t baud_rate;
        int pause_ms, expected;
    };
    const auto none = link::answer_mode::none;
    const row rows[] = {
        {"after a request that awaits nothing", none, {}, false, 9600, 50, 50},
        {"after an acknowledgement, complete 10 ms after it", ack_mode, {{40, hex("E5")}}, false, 9600, 50, 40},
        {"after a silent window", ack_mode, {}, false, 9600, 50, 0},
        {"after a collision wait", ack_mode, {{20, hex("E5 E5")}}, true, 9600, 50, 0},
        {"longer than the window", ack_mode, {}, false, 9600, 200, 65},
        {"never under 33 bit times", none, {}, false, 300, 50, 110},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        t.timing.pause_ms = r.pause_ms;
        line.answers = {r.arrivals};
        exchange(snd_nke, r.mode, r.baud_rate);
        if (r.collision_wait)
            t.collision_wait(bus, clock);
        const std::int64_t done = clock.monotonic_us();
        exchange(snd_nke, none, r.baud_rate);
        EXPECT_EQ(r.expected, (line.ready_at_us - done) / 1000);
    }
}

TEST_F(standard_test, collision_wait_ends_one_window_after_the_last_byte)
{
    struct row {
        const char* name;
        std::vector<arrival> arrivals;
        int ends_after_ms;  // the send
    };
    const row rows[] = {
        {"acknowledgements at once", {{20, hex("E5 E5")}}, 20 + 135},
        {"one more late in the window", {{20, hex("E5")}, {130, hex("E5")}}, 130 + 135},
        {"a stray byte after the window", {{20, hex("E5 E5")}, {150, hex("7F")}}, 150 + 135},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        line.answers = {r.arrivals};
        exchange(snd_nke, ack_mode, 9600);
        t.collision_wait(bus, clock);
        EXPECT_EQ(r.ends_after_ms, (clock.monotonic_us() - line.written_at_us) / 1000);
    }
}

TEST_F(standard_test, long_frame_of_known_length_is_read_when_its_last_byte_is_due)
{
    for (const auto& [baud_rate, length] : {std::pair{2400u, 41}, std::pair{9600u, 261}}) {
        SCOPED_TRACE(baud_rate);
        bytes frame(static_cast<std::size_t>(length), 0x08);
        frame[0] = frame[3] = 0x68;
        frame[1] = frame[2] = static_cast<std::uint8_t>(length - 6);
        // Byte by byte, each at the end of its character time, after 10 ms.
        std::vector<arrival> arrivals;
        for (int i = 0; i < length; ++i)
            arrivals.push_back({10 + static_cast<int>(((i + 1) * 11000000LL / baud_rate + 999) / 1000),
                                {frame[static_cast<std::size_t>(i)]}});
        line.answers = {arrivals};
        line.reads = 0;
        const int took = exchange(req_ud2, long_mode, baud_rate);
        EXPECT_EQ(to_hex(frame), to_hex(bus.received()));
        EXPECT_LE(took, arrivals.back().after_ms + 1);
        EXPECT_LE(line.reads, 8);  // up to its first byte, its four start bytes, once the rest is due
    }
}

TEST_F(standard_test, traces_name_the_profile_the_window_and_the_time_the_answer_took)
{
    ::testing::internal::CaptureStdout();
    link::set_transceiver_trace(1);
    link::trace_timing(t.timing);
    line.answers = {{{40, hex("E5")}}};
    exchange(snd_nke, link::answer_mode::ack, 9600);
    t.timing.retries = 1;
    prepare(snd_nke, link::answer_mode::ack, 2400);
    link::transceive_repeating(t, bus);
    link::trace_timing(link::link_timing{});
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    for (const char* text : {"link timing standard: pause 50 ms, margin 50 ms, retries 2\n", "window = 135 ms\n",
                             "answer after 40 ms, complete after 50 ms\n", "window = 238 ms\n",
                             "ERROR - NO ANSWER within 238 ms\n", "repeat 1 of 1\n", "link timing classic\n"})
        EXPECT_NE(std::string::npos, out.find(text)) << text << "\nin:\n" << out;
}

} // namespace
} // namespace velkor::testing
