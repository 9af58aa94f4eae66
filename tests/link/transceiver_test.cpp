// The transceiver on a scripted line and on virtual time: every exchange takes
// the same course whatever the scheduler does, and seconds of protocol timing
// cost microseconds.

#include <algorithm>
#include <deque>
#include <filesystem>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include "base/trace.h"
#include "link/transceiver.h"
#include "support/fake_bus.h"
#include "support/fake_line.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

const bytes req_ud2 = hex("10 5B FE 59 16");
const bytes snd_nke = hex("10 40 FE 3E 16");
const bytes long_frame = hex("68 03 03 68 08 05 72 7F 16");

struct transceiver_test : ::testing::Test {
    lockstep_clock clock;
    fake_line line{clock};
    link::transceiver t{line, clock};
    link::bus_context bus;

    void SetUp() override
    {
        clock.watched = &t;
        bus.bus_name.assign("/dev/ttyS1");
    }
    void TearDown() override { trace::transceiver = 0; }

    void exchange(const bytes& request, link::answer_mode mode, std::uint32_t baud_rate)
    {
        std::copy(request.begin(), request.end(), bus.send_buffer.begin());
        bus.send_length = static_cast<std::int32_t>(request.size());
        bus.answer_mode = mode;
        bus.baud_rate = baud_rate;
        t.transceive(bus);
    }
    std::string received() const { return to_hex(bus.received()); }
};

std::string captured_stdout()
{
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

TEST(link_timing, follows_the_character_time_of_each_rate)
{
    struct row {
        std::uint32_t baud_rate;
        int pause, poll, req_ud2_timeout, ack_timeout;
    };
    const row rows[] = {
        {300, 1000, 73, 11885, 2369}, {600, 1000, 37, 11885, 2369}, {1200, 1000, 18, 11885, 2369},
        {2400, 500, 10, 1810, 614},   {4800, 500, 10, 1810, 614},   {9600, 500, 10, 504, 192},
        {19200, 500, 10, 504, 192},   {38400, 500, 10, 504, 192},   {110, 1000, 10, 11885, 2369},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.baud_rate);
        EXPECT_EQ(r.pause, link::pause_ms(r.baud_rate));
        EXPECT_EQ(r.poll, link::poll_interval_ms(r.baud_rate));
        EXPECT_EQ(r.req_ud2_timeout, link::answer_timeout_ms(r.baud_rate, 5, link::answer_mode::long_frame));
        EXPECT_EQ(r.ack_timeout, link::answer_timeout_ms(r.baud_rate, 5, link::answer_mode::ack));
    }
    // A send length outside the buffer cannot stretch or shrink the wait past it.
    const auto mode = link::answer_mode::long_frame;
    EXPECT_EQ(link::answer_timeout_ms(9600, 512, mode), link::answer_timeout_ms(9600, 100000, mode));
    EXPECT_EQ(link::answer_timeout_ms(9600, 0, mode), link::answer_timeout_ms(9600, -7, mode));
}

TEST_F(transceiver_test, without_answer_waits_ten_slices_and_stops_the_receive_within_a_poll)
{
    struct row {
        std::uint32_t baud_rate;
        int pause, slice, poll;
    };
    for (const row& r : {row{9600, 500, 50, 10}, row{2400, 500, 181, 10}, row{300, 1000, 1188, 73}}) {
        SCOPED_TRACE(r.baud_rate);
        line.reads = 0;
        clock.main_sleeps.clear();
        const int start = clock.now_ms();
        exchange(req_ud2, link::answer_mode::long_frame, r.baud_rate);

        std::vector<int> expected{r.pause};
        expected.insert(expected.end(), 10, r.slice);
        EXPECT_EQ(expected, clock.main_sleeps);
        EXPECT_EQ(0, bus.receive_length);
        EXPECT_FALSE(t.receive_running);
        const int timed_out_at = start + r.pause + 10 * r.slice;
        EXPECT_LE(clock.now_ms(), timed_out_at + r.poll);
        // Woken only at the poll interval while waiting.
        EXPECT_LE(line.reads, 10 * r.slice / r.poll + 2);
    }
}

TEST_F(transceiver_test, answer_ends_the_wait_at_the_next_slice)
{
    line.chunks = {hex("E5")};
    exchange(snd_nke, link::answer_mode::ack, 2400);
    EXPECT_EQ("E5", received());
    EXPECT_EQ((std::vector<int>{500, 61}), clock.main_sleeps);
    EXPECT_EQ(2, line.reads);  // the E5, then the quiet poll that ends it

    // A frame that starts after some quiet polls: done one slice after its end.
    line.reads = 0;
    clock.main_sleeps.clear();
    line.chunks = {{}, {}, {}, {}, {}, {}, {}, long_frame};
    exchange(req_ud2, link::answer_mode::long_frame, 9600);
    EXPECT_EQ(to_hex(long_frame), received());
    EXPECT_EQ((std::vector<int>{500, 50, 50}), clock.main_sleeps);
}

TEST_F(transceiver_test, answer_mode_none_returns_after_the_pause_without_reading)
{
    for (const auto& [baud_rate, pause] : {std::pair{300u, 1000}, std::pair{38400u, 500}}) {
        clock.main_sleeps.clear();
        line.written.clear();
        bus.receive_buffer.fill(0xAA);
        bus.receive_length = 7;
        line.chunks = {hex("E5")};
        exchange(snd_nke, link::answer_mode::none, baud_rate);
        EXPECT_EQ(std::vector<int>{pause}, clock.main_sleeps);
        EXPECT_EQ(static_cast<int>(baud_rate), line.speeds.back());
        ASSERT_EQ(1u, line.written.size());
        EXPECT_EQ(to_hex(snd_nke), to_hex(line.written[0]));
        EXPECT_EQ("ready, speed " + std::to_string(baud_rate) + ", discard, write, ", line.calls);
        line.calls.clear();
        EXPECT_EQ(0, bus.receive_length);
        EXPECT_EQ(0, bus.receive_buffer[0]);
        EXPECT_EQ(0, line.reads);
    }
}

TEST_F(transceiver_test, long_frame_answer_runs_from_its_first_start_pattern_to_its_length)
{
    struct row {
        const char* name;
        std::vector<bytes> chunks;
        std::string expected;
        int reads;  // 0: runs into the time-out
    };
    const std::string frame = to_hex(long_frame);
    const row rows[] = {
        {"garbage before the frame", {hex("FF 10 E5 68 03 68 68 03 03 68 08 05 72 7F 16")}, frame, 1},
        {"E5 and the frame in one chunk", {hex("E5 68 03 03 68 08 05 72 7F 16")}, frame, 1},
        {"garbage chunk, then the frame", {hex("00 FF"), {}, long_frame}, frame, 3},
        {"frame over several chunks", {hex("68 03 03 68 08"), {}, hex("05 72"), hex("7F"), hex("16")}, frame, 5},
        {"0x16 inside the frame, then a quiet poll", {hex("68 03 03 68 16 16"), {}, hex("72 7F 16")},
         "68 03 03 68 16 16 72 7F 16", 3},
        {"bytes after the frame", {hex("68 03 03 68 08 05 72 7F 16 68 03 03 68"), hex("AA")}, frame, 1},
        {"start pattern split over two chunks", {hex("68 03"), hex("03 68 08 05 72 7F 16")}, frame, 2},
        {"start pattern byte by byte", {hex("68"), {}, hex("03"), hex("03"), hex("68 08 05 72 7F 16")}, frame, 5},
        {"false start across chunks", {hex("68 03"), hex("68 03 03 68 08 05 72 7F"), hex("16")}, frame, 3},
        {"shorter than its length", {hex("68 05 05 68 08 05 72 7F 16")}, "68 05 05 68 08 05 72 7F 16", 0},
        {"unequal length bytes", {hex("68 03 04 68 08 05 72 7F 16")}, "", 0},
        {"lone acknowledgement", {hex("E5")}, "", 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        line.reads = 0;
        line.chunks.assign(r.chunks.begin(), r.chunks.end());
        exchange(req_ud2, link::answer_mode::long_frame, 9600);
        EXPECT_EQ(r.expected, received());
        if (r.reads)
            EXPECT_EQ(r.reads, line.reads);
        else
            EXPECT_EQ(11u, clock.main_sleeps.size());  // the pause and ten slices
        clock.main_sleeps.clear();
    }
}

TEST_F(transceiver_test, echo_of_the_request_is_not_the_answer)
{
    const bytes selection = hex("68 0B 0B 68 53 FD 52 78 56 34 12 FF FF FF FF 3B 16");
    struct row {
        const char* name;
        bytes request;
        link::answer_mode mode;
        std::vector<bytes> chunks;
        std::string expected;
    };
    const row rows[] = {
        {"acknowledgement after the echo", snd_nke, link::answer_mode::ack, {hex("10 40 FE 3E 16 E5")}, "E5"},
        {"echo in pieces with a quiet poll", snd_nke, link::answer_mode::ack, {hex("10 40"), {}, hex("FE 3E 16"), hex("E5")},
         "E5"},
        {"collision after the echo", snd_nke, link::answer_mode::ack, {hex("10 40 FE 3E 16"), hex("E5 E5")}, "E5 E5"},
        {"echo and no answer", snd_nke, link::answer_mode::ack, {hex("10 40 FE 3E 16")}, ""},
        {"copy that breaks off is data", snd_nke, link::answer_mode::ack, {hex("10 40 FE 00")}, "10 40 FE 00"},
        {"copy cut short by the time-out", snd_nke, link::answer_mode::ack, {hex("10 40")}, "10 40"},
        {"long-frame request echoed, then E5", selection, link::answer_mode::ack, {selection, hex("E5")}, "E5"},
        {"long frame after the echo", req_ud2, link::answer_mode::long_frame, {hex("10 5B FE"), {}, hex("59 16"), long_frame},
         to_hex(long_frame)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        line.chunks.assign(r.chunks.begin(), r.chunks.end());
        exchange(r.request, r.mode, 9600);
        EXPECT_EQ(r.expected, received());
    }
}

TEST_F(transceiver_test, device_away_or_lost_gives_no_answer_at_once)
{
    line.present = false;
    bus.receive_length = 3;
    exchange(req_ud2, link::answer_mode::long_frame, 9600);
    EXPECT_EQ(0, bus.receive_length);
    EXPECT_EQ("ready, ", line.calls);
    EXPECT_EQ(std::vector<int>{500}, clock.main_sleeps);

    // Gone in the middle of an answer: what came is no answer, and the wait ends.
    line.present = true;
    clock.main_sleeps.clear();
    line.chunks = {hex("68 03 03")};
    line.gone_at_read = 2;
    exchange(req_ud2, link::answer_mode::long_frame, 9600);
    EXPECT_EQ("", received());
    EXPECT_EQ((std::vector<int>{500, 50}), clock.main_sleeps);
}

TEST_F(transceiver_test, input_waiting_before_the_request_is_discarded)
{
    line.waiting = hex("E5");  // a late acknowledgement of an earlier request
    exchange(snd_nke, link::answer_mode::ack, 9600);
    EXPECT_EQ("", received());
    line.waiting = long_frame;
    line.chunks = {hex("E5")};
    exchange(snd_nke, link::answer_mode::ack, 9600);
    EXPECT_EQ("E5", received());
}

TEST_F(transceiver_test, short_answer_keeps_every_byte_until_a_quiet_poll)
{
    struct row {
        std::vector<bytes> chunks;
        std::string expected;
    };
    const row rows[] = {
        {{hex("E5")}, "E5"},
        {{hex("E5 A3")}, "E5 A3"},              // two slaves at once
        {{hex("E5"), hex("A3 1F")}, "E5 A3 1F"},  // still arriving at the next poll
        {{{}, {}, {}, hex("E5")}, "E5"},          // quiet polls before the answer do not end it
        {{}, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.expected);
        line.chunks.assign(r.chunks.begin(), r.chunks.end());
        exchange(snd_nke, link::answer_mode::ack, 2400);
        EXPECT_EQ(r.expected, received());
    }
}

TEST_F(transceiver_test, bytes_beyond_the_receive_buffer_are_dropped)
{
    // The longest request at 300 Bd gives the receive time for hundreds of polls.
    bytes request(512, 0x5B);
    bytes stream(600);
    for (std::size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<std::uint8_t>(i);
    line.chunks = {bytes(stream.begin(), stream.begin() + 300), bytes(stream.begin() + 300, stream.end())};
    exchange(request, link::answer_mode::ack, 300);
    ASSERT_EQ(512, bus.receive_length);
    EXPECT_TRUE(std::equal(bus.receive_buffer.begin(), bus.receive_buffer.end(), stream.begin()));

    // The longest long frame ends at its length; what follows is dropped.
    bytes first = hex("68 FF FF 68");
    first.resize(300, 0x33);
    line.chunks = {first, hex("01 02")};
    line.reads = 0;
    exchange(request, link::answer_mode::long_frame, 300);
    ASSERT_EQ(261, bus.receive_length);
    EXPECT_EQ(0x33, bus.receive_buffer[260]);
    EXPECT_EQ(0, bus.receive_buffer[261]);
    EXPECT_EQ(1, line.reads);
}

TEST_F(transceiver_test, traces_the_exchange)
{
    ::testing::internal::CaptureStdout();
    link::set_transceiver_trace(1);
    line.chunks = {hex("E5")};
    exchange(snd_nke, link::answer_mode::ack, 2400);
    std::string out = captured_stdout();
    const char* answered[] = {
        "DEBUG_MBUS_TRANSCEIVER\n",
        "TX: 5 Bytes written\n000: 10 40 FE 3E 16               \n",
        "timeout = 614 ms\n",
        " gestartet\n",
        "RX: 1 Bytes readed from MBus\n000: E5                           \n",
        " regulaer beendet\n",
        "timeDiff read: 61 ms\n",
    };
    std::size_t at = 0;
    for (const char* text : answered) {
        const std::size_t found = out.find(text, at);
        EXPECT_NE(std::string::npos, found) << text << "\nin:\n" << out;
        at = found == std::string::npos ? at : found;
    }
    EXPECT_EQ(std::string::npos, out.find("NO ANSWER"));

    ::testing::internal::CaptureStdout();
    exchange(req_ud2, link::answer_mode::long_frame, 2400);
    out = captured_stdout();
    EXPECT_NE(std::string::npos, out.find("timeout = 1810 ms\n")) << out;
    EXPECT_NE(std::string::npos, out.find(" zwangsweise beendet\n")) << out;
    EXPECT_NE(std::string::npos, out.find("ERROR - NO ANSWER\n")) << out;
    EXPECT_EQ(std::string::npos, out.find("regulaer")) << out;
    EXPECT_EQ(std::string::npos, out.find("RX:")) << out;

    // An echo taken off is told.
    ::testing::internal::CaptureStdout();
    line.chunks = {hex("10 40 FE 3E 16 E5")};
    exchange(snd_nke, link::answer_mode::ack, 2400);
    out = captured_stdout();
    EXPECT_NE(std::string::npos, out.find("RX: echo of 5 Bytes removed\nRX: 1 Bytes readed from MBus\n")) << out;

    // Off: silent, and the exchange is the same.
    link::set_transceiver_trace(0);
    ::testing::internal::CaptureStdout();
    line.chunks = {hex("E5")};
    exchange(snd_nke, link::answer_mode::ack, 2400);
    EXPECT_EQ("", captured_stdout());
    EXPECT_EQ("E5", received());
}

TEST(link_hex_dump, prints_rows_of_ten_with_the_last_row_filled)
{
    bytes data(12);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(0xF0 + i);
    ::testing::internal::CaptureStdout();
    link::hex_dump(data);
    link::hex_dump({});
    link::hex_dump(std::span(data).first(10));
    EXPECT_EQ("000: F0 F1 F2 F3 F4 F5 F6 F7 F8 F9\n"
              "010: FA FB                        \n"
              "000: F0 F1 F2 F3 F4 F5 F6 F7 F8 F9\n",
              captured_stdout());
}

TEST_F(transceiver_test, file_transport_writes_the_request_and_reads_the_file_back)
{
    temp_dir dir;
    const std::string path = dir.file("bus");
    bus.bus_name.assign(path);
    bus.line = link::line_choice::file;

    write_file(path, "0123456789");
    exchange(req_ud2, link::answer_mode::long_frame, 2400);
    EXPECT_EQ(2400, line.speeds.back());  // the serial speed is set all the same
    EXPECT_TRUE(line.written.empty());
    EXPECT_EQ(to_hex(req_ud2) + " 35 36 37 38 39", received());
    EXPECT_EQ((std::vector<int>{500, 181}), clock.main_sleeps);

    write_file(path, std::string(600, 'x'));
    exchange(req_ud2, link::answer_mode::long_frame, 2400);
    EXPECT_EQ(512, bus.receive_length);
    EXPECT_EQ('x', bus.receive_buffer[511]);

    // A file that cannot be opened, and one that stays empty: no answer, no file made.
    for (const std::string& name : {dir.file("missing"), std::string("/dev/null")}) {
        bus.bus_name.assign(name);
        bus.receive_length = 3;
        exchange(req_ud2, link::answer_mode::long_frame, 2400);
        EXPECT_EQ(0, bus.receive_length) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST_F(transceiver_test, bus_break_follows_cts_and_reports_each_change_once)
{
    // Per command record: CTS up twice, down twice, up, unreadable, down.
    line.modem = {TIOCM_CTS, TIOCM_CTS | TIOCM_DSR, 0, 0, TIOCM_CTS, -1, TIOCM_DSR};
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 7; ++i)
        link::check_bus_break(t);
    EXPECT_EQ("MBUS BREAK started\nMBUS BREAK finished\nMBUS BREAK started\nMBUS BREAK finished\n",
              captured_stdout());
    EXPECT_EQ((std::vector<bool>{true, false, true, false}), line.breaks);
    EXPECT_EQ(0, t.break_state);
}

} // namespace
} // namespace velkor::testing
