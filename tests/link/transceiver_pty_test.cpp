// Exchanges in real time over a pseudo-terminal: the daemon side opens the
// "ttyS" link with the serial port, the test plays the meter on the master.
// Fast rates only; every exchange costs at least its 500 ms pause.

#include <chrono>
#include <poll.h>
#include <thread>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/transceiver.h"
#include "port/serial.h"
#include "support/fake_bus.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

using std::chrono::milliseconds;

struct transceiver_pty_test : ::testing::Test {
    pty_pair pty;
    temp_dir log_dir;
    log::log_settings log;
    port::serial_port port;
    link::serial_line line{port, pty.device.c_str()};
    link::transceiver t{line, system_clock()};
    link::bus_context bus;
    bytes request_seen;
    std::thread meter;

    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        log.directory.assign(log_dir.path);
        ASSERT_GE(port::serial_open(port, pty.device.c_str(), log), 0);
        bus.bus_name.assign(pty.device);
    }
    void TearDown() override
    {
        if (meter.joinable())
            meter.join();
        port::serial_close(port, pty.device.c_str());
    }

    // The meter waits for the request, then sends each chunk after a gap.
    void meter_answers(std::size_t request_length, std::vector<bytes> chunks, int gap_ms = 30)
    {
        meter = std::thread([this, request_length, chunks, gap_ms] {
            request_seen = pty.read_master(request_length, 3000);
            for (const bytes& chunk : chunks) {
                std::this_thread::sleep_for(milliseconds(gap_ms));
                pty.write_master(chunk);
            }
        });
    }

    // Returns the milliseconds the exchange took.
    long long exchange(const bytes& request, link::answer_mode mode, std::uint32_t baud_rate)
    {
        std::copy(request.begin(), request.end(), bus.send_buffer.begin());
        bus.send_length = static_cast<std::int32_t>(request.size());
        bus.answer_mode = mode;
        bus.baud_rate = baud_rate;
        const auto start = std::chrono::steady_clock::now();
        t.transceive(bus);
        const auto took = std::chrono::steady_clock::now() - start;
        if (meter.joinable())
            meter.join();
        return std::chrono::duration_cast<milliseconds>(took).count();
    }
    std::string received() const { return to_hex(bus.received()); }
};

const bytes snd_nke = hex("10 40 05 45 16");
const bytes req_ud2 = hex("10 7B 05 80 16");
const bytes long_frame = hex("68 0E 0E 68 08 05 72 78 56 34 12 24 40 01 07 55 00 00 54 16");

TEST_F(transceiver_pty_test, acknowledgement_and_collision)
{
    meter_answers(snd_nke.size(), {hex("E5")});
    exchange(snd_nke, link::answer_mode::ack, 9600);
    EXPECT_EQ(to_hex(snd_nke), to_hex(request_seen));
    EXPECT_EQ("E5", received());

    meter_answers(snd_nke.size(), {hex("E5 A3")});
    exchange(snd_nke, link::answer_mode::ack, 38400);
    EXPECT_EQ("E5 A3", received());
}

TEST_F(transceiver_pty_test, long_frame_after_noise_and_in_pieces)
{
    const std::string frame = to_hex(long_frame);
    struct row {
        const char* name;
        std::vector<bytes> chunks;
    };
    bytes ack_and_frame = hex("E5");
    ack_and_frame.insert(ack_and_frame.end(), long_frame.begin(), long_frame.end());
    const row rows[] = {
        {"garbage, then the frame", {hex("FF 00 68 FF"), long_frame}},
        {"E5 and the frame in one chunk", {ack_and_frame}},
        {"frame in three pieces",
         {bytes(long_frame.begin(), long_frame.begin() + 6), bytes(long_frame.begin() + 6, long_frame.begin() + 13),
          bytes(long_frame.begin() + 13, long_frame.end())}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        meter_answers(req_ud2.size(), r.chunks);
        const long long took = exchange(req_ud2, link::answer_mode::long_frame, 38400);
        EXPECT_EQ(frame, received());
        EXPECT_LT(took, 500 + 504);  // ended by the frame, not the time-out
    }
}

TEST_F(transceiver_pty_test, frame_with_0x16_inside_outlasts_a_quiet_poll)
{
    const bytes frame = hex("68 0E 0E 68 08 05 72 78 56 34 12 24 40 01 07 16 00 00 15 16");
    meter_answers(req_ud2.size(), {bytes(frame.begin(), frame.begin() + 16), bytes(frame.begin() + 16, frame.end())},
                  60);
    exchange(req_ud2, link::answer_mode::long_frame, 9600);
    EXPECT_EQ(to_hex(frame), received());
}

TEST_F(transceiver_pty_test, bytes_waiting_before_the_request_are_not_its_answer)
{
    ASSERT_TRUE(pty.write_master(hex("E5")));  // late, from an earlier exchange
    ASSERT_TRUE(eventually(2000, [&] {
        pollfd p{port.fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }));
    exchange(snd_nke, link::answer_mode::ack, 38400);
    EXPECT_EQ(0, bus.receive_length);
}

TEST_F(transceiver_pty_test, no_answer_times_out_without_busy_waiting)
{
    timespec cpu_before, cpu_after;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu_before);
    const long long took = exchange(req_ud2, link::answer_mode::long_frame, 9600);
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu_after);

    EXPECT_EQ(0, bus.receive_length);
    EXPECT_FALSE(t.receive_running);
    EXPECT_GE(took, 500 + 500);      // the pause and ten slices of 50 ms
    EXPECT_LT(took, 500 + 504 + 300);
    const long long cpu_ms = (cpu_after.tv_sec - cpu_before.tv_sec) * 1000LL +
                             (cpu_after.tv_nsec - cpu_before.tv_nsec) / 1000000LL;
    EXPECT_LT(cpu_ms, 50) << "a second of waiting should cost next to no CPU time";
}

TEST_F(transceiver_pty_test, broadcast_returns_right_after_the_pause)
{
    meter_answers(snd_nke.size(), {hex("E5")}, 0);
    const long long took = exchange(hex("10 40 FF 3F 16"), link::answer_mode::none, 38400);
    EXPECT_EQ("10 40 FF 3F 16", to_hex(request_seen));
    EXPECT_EQ(0, bus.receive_length);
    EXPECT_GE(took, 500);
    EXPECT_LT(took, 500 + 150);
}

TEST(serial_line, read_returns_at_once_whatever_the_descriptor_is)
{
    int fds[2];
    ASSERT_EQ(0, ::pipe(fds));
    port::serial_port port;
    port.fd = fds[0];  // blocking, and nothing arrives
    link::serial_line line(port, "pipe");
    std::array<std::uint8_t, 16> buffer;
    EXPECT_EQ(0, line.read(buffer));
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace
} // namespace velkor::testing
