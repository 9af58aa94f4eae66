// The serial port on a pseudo-terminal: the settings it applies, its speeds,
// and what it leaves behind.

#include <array>
#include <chrono>
#include <thread>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/trace.h"
#include "link/transceiver.h"
#include "port/serial.h"
#include "support/fake_bus.h"
#include "support/pty.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

struct serial_test : ::testing::Test {
    pty_pair pty;
    temp_dir log_dir;
    log::log_settings log;
    port::serial_port port;

    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        log.directory.assign(log_dir.path);
        log.size = log.size_dev = 100000;
    }
    void TearDown() override
    {
        trace::serial = 0;
        port::serial_close(port, pty.device.c_str());
    }
    termios line() const
    {
        termios t{};
        EXPECT_EQ(0, ::tcgetattr(pty.slave, &t));
        return t;
    }
};

TEST_F(serial_test, open_applies_raw_8e1_with_reads_that_return_at_once)
{
    ASSERT_GE(port::serial_open(port, pty.device.c_str(), log), 0);
    EXPECT_GE(port.fd, 0);

    const termios t = line();
    // Bytes with a parity or framing error are dropped, never passed on.
    EXPECT_EQ(static_cast<tcflag_t>(INPCK | IGNPAR), t.c_iflag);
    EXPECT_EQ(0u, t.c_oflag);
    EXPECT_EQ(static_cast<tcflag_t>(ISIG), t.c_lflag);
    for (const tcflag_t on : std::initializer_list<tcflag_t>{CREAD, CLOCAL})
        EXPECT_TRUE(t.c_cflag & on) << on;
    for (const tcflag_t off : std::initializer_list<tcflag_t>{PARODD, CSTOPB, CRTSCTS, HUPCL})
        EXPECT_FALSE(t.c_cflag & off) << off;
    // A pty always reports 8 bits without parity, so the character format is
    // checked on what was applied.
    EXPECT_EQ(static_cast<tcflag_t>(CS8 | PARENB | CREAD | CLOCAL | B9600), port.active.c_cflag & ~CIBAUD);
    EXPECT_EQ(static_cast<speed_t>(B9600), ::cfgetospeed(&t));
    EXPECT_EQ(static_cast<speed_t>(B9600), ::cfgetispeed(&t));
    for (std::size_t i = 0; i < NCCS; ++i)
        EXPECT_EQ(0, t.c_cc[i]) << i;

    std::uint8_t b[8];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, ::read(port.fd, b, sizeof b));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(serial_test, close_restores_the_settings_found_at_open)
{
    const termios before = line();
    ASSERT_GE(port::serial_open(port, pty.device.c_str(), log), 0);
    port::serial_set_baudrate(port, pty.device.c_str(), 2400);
    port::serial_close(port, pty.device.c_str());
    EXPECT_EQ(-1, port.fd);
    const termios after = line();
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(before.c_cc[VMIN], after.c_cc[VMIN]);
    EXPECT_EQ(::cfgetospeed(&before), ::cfgetospeed(&after));
}

TEST_F(serial_test, baud_rate_sets_the_m_bus_speeds_and_falls_back_to_9600)
{
    ASSERT_GE(port::serial_open(port, pty.device.c_str(), log), 0);
    struct row {
        int requested;
        speed_t speed;
    };
    const row rows[] = {{300, B300},     {600, B600},     {1200, B1200}, {2400, B2400}, {4800, B4800},
                        {9600, B9600},   {19200, B19200}, {38400, B38400}, {110, B9600}, {57600, B9600},
                        {-2400, B9600}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.requested);
        port::serial_set_baudrate(port, pty.device.c_str(), r.requested);
        const termios t = line();
        EXPECT_EQ(r.speed, ::cfgetospeed(&t));
        EXPECT_EQ(r.speed, ::cfgetispeed(&t));
        EXPECT_EQ(static_cast<tcflag_t>(ISIG), t.c_lflag);  // the rest of the line stays
        EXPECT_EQ(r.speed, port::line_speed(r.requested));
    }

    // The trace names the rate asked for, also when it fell back.
    ::testing::internal::CaptureStdout();
    trace::serial = 1;
    port::serial_set_baudrate(port, pty.device.c_str(), 57600);
    port::serial_set_baudrate(port, pty.device.c_str(), 300);
    trace::serial = 0;
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("SERIAL: for " + pty.device + " set baudrate to 57600Bd\n")) << out;
    EXPECT_NE(std::string::npos, out.find("SERIAL: for " + pty.device + " set baudrate to 300Bd\n")) << out;
}

TEST_F(serial_test, baud_rate_switch_discards_what_is_waiting)
{
    ASSERT_GE(port::serial_open(port, pty.device.c_str(), log), 0);
    ASSERT_TRUE(pty.write_master(hex("E5 E5 68")));
    pollfd p{port.fd, POLLIN, 0};
    ASSERT_EQ(1, ::poll(&p, 1, 1000));
    port::serial_set_baudrate(port, pty.device.c_str(), 9600);
    std::uint8_t b[8];
    EXPECT_EQ(0, ::read(port.fd, b, sizeof b));
}

TEST_F(serial_test, missing_device_gives_minus_one_and_one_log_entry_of_level_1)
{
    const std::string missing = log_dir.file("ttyS7");
    ::testing::internal::CaptureStdout();
    trace::serial = 1;
    EXPECT_EQ(-1, port::serial_open(port, missing.c_str(), log));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(-1, port.fd);

    const std::string message = "SERIAL: Can not open " + missing;
    const std::string reason = "SERIAL: " + missing + ": No such file or directory";
    EXPECT_EQ(message + "\n" + reason + "\n", out);
    for (const char* name : {"mbusLog", "mbusLogDev"}) {
        const std::string content = read_file(log_dir.file(name));
        EXPECT_EQ(2, std::count(content.begin(), content.end(), '\n')) << name << ": " << content;
        EXPECT_NE(std::string::npos, content.find(" | " + message + " [serial / ")) << name << ": " << content;
        EXPECT_NE(std::string::npos, content.find(" | " + reason + " [serial / ")) << name << ": " << content;
    }
}

std::size_t count_lines(const std::string& content, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = content.find(part); at != std::string::npos; at = content.find(part, at + 1))
        ++n;
    return n;
}

TEST_F(serial_test, lost_device_closes_the_port_once_and_comes_back_on_reopen)
{
    ASSERT_GE(port::serial_open(port, pty.device.c_str(), log), 0);
    EXPECT_TRUE(::fcntl(port.fd, F_GETFL) & O_NONBLOCK);  // never waits for carrier
    link::serial_line line(port, pty.device.c_str());
    std::array<std::uint8_t, 16> buffer;
    EXPECT_EQ(0, line.read(buffer));

    // The adapter is pulled: its pty goes away with the master.
    ::close(pty.master);
    pty.master = -1;
    EXPECT_EQ(-1, line.read(buffer));
    EXPECT_EQ(-1, port.fd);
    EXPECT_EQ(-1, line.read(buffer));
    EXPECT_EQ(-1, line.write(hex("10 40 01 41 16")));
    const std::string lost = "SERIAL: " + pty.device + " lost: ";
    EXPECT_EQ(1u, count_lines(read_file(log_dir.file("mbusLog")), lost)) << read_file(log_dir.file("mbusLog"));

    // Still away: each attempt fails without a word.
    ::unlink(pty.device.c_str());
    EXPECT_FALSE(line.ready());
    EXPECT_FALSE(line.ready());
    const std::string before = read_file(log_dir.file("mbusLog"));

    // Plugged in again at the same path.
    pty_pair replugged;
    ASSERT_TRUE(replugged.ok());
    ASSERT_EQ(0, ::symlink(std::filesystem::read_symlink(replugged.device).c_str(), pty.device.c_str()));
    EXPECT_TRUE(line.ready());
    EXPECT_TRUE(line.ready());
    const std::string after = read_file(log_dir.file("mbusLog"));
    const std::string added = after.substr(before.size());
    EXPECT_EQ(1u, count_lines(added, "\n")) << added;
    EXPECT_EQ(1u, count_lines(added, "SERIAL: " + pty.device + " open again")) << added;
    ASSERT_TRUE(replugged.write_master(hex("E5")));
    pollfd p{port.fd, POLLIN, 0};
    ASSERT_EQ(1, ::poll(&p, 1, 2000));
    EXPECT_EQ(1, line.read(buffer));
    port::serial_close(port, pty.device.c_str());
}

TEST_F(serial_test, write_waits_out_a_full_output_queue_but_not_for_ever)
{
    ASSERT_GE(port::serial_open(port, pty.device.c_str(), log), 0);
    link::serial_line line(port, pty.device.c_str());
    const bytes block(4096, 0x55);
    std::size_t queued = 0;
    for (ssize_t n; (n = ::write(port.fd, block.data(), block.size())) > 0;)
        queued += static_cast<std::size_t>(n);
    const bytes frame(300, 0x5B);

    // Nobody reads: waited out a while (what went, went), the port stays.
    const auto start = std::chrono::steady_clock::now();
    line.write(frame);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_GE(port.fd, 0);

    // The other side drains: the whole frame goes out.
    std::thread reader([&] { pty.read_master(queued + frame.size(), 10000); });
    EXPECT_EQ(static_cast<int>(frame.size()), line.write(frame));
    reader.join();
}

TEST_F(serial_test, missing_at_start_is_opened_later_without_more_log_lines)
{
    const std::string path = log_dir.file("ttyS3");
    EXPECT_EQ(-1, port::serial_open(port, path.c_str(), log));
    EXPECT_EQ(-1, port::serial_reopen(port, path.c_str()));
    EXPECT_EQ(2u, count_lines(read_file(log_dir.file("mbusLog")), "SERIAL:"));  // the failure and its reason
    ASSERT_EQ(0, ::symlink(std::filesystem::read_symlink(pty.device).c_str(), path.c_str()));
    EXPECT_GE(port::serial_reopen(port, path.c_str()), 0);
    EXPECT_EQ(1u, count_lines(read_file(log_dir.file("mbusLog")), "SERIAL: " + path + " open again"));
    port::serial_close(port, path.c_str());
}

TEST_F(serial_test, device_held_by_another_process_counts_as_away_until_it_is_free)
{
    ASSERT_GE(port::serial_open(port, pty.device.c_str(), log), 0);
    port::serial_port other;  // a second master, as another process would hold it
    EXPECT_EQ(-1, port::serial_open(other, pty.device.c_str(), log));
    EXPECT_EQ(-1, port::serial_reopen(other, pty.device.c_str()));
    const std::string in_use = "SERIAL: " + pty.device + " is in use by another process";
    EXPECT_EQ(1u, count_lines(read_file(log_dir.file("mbusLog")), in_use));
    EXPECT_EQ(1u, count_lines(read_file(log_dir.file("mbusLog")), "SERIAL:"));
    port::serial_close(port, pty.device.c_str());
    EXPECT_GE(port::serial_reopen(other, pty.device.c_str()), 0);
    EXPECT_EQ(1u, count_lines(read_file(log_dir.file("mbusLog")), "SERIAL: " + pty.device + " open again"));
    port::serial_close(other, pty.device.c_str());
}

TEST_F(serial_test, attribute_failures_are_logged_once_and_the_port_stays)
{
    const std::string path = log_dir.file("ttyS-not-a-terminal");
    write_file(path, "");
    ASSERT_GE(port::serial_open(port, path.c_str(), log), 0);
    port::serial_set_baudrate(port, path.c_str(), 2400);
    EXPECT_GE(port.fd, 0);
    const std::string content = read_file(log_dir.file("mbusLog"));
    EXPECT_EQ(1u, count_lines(content, "SERIAL: tcgetattr on " + path + " failed: ")) << content;
    EXPECT_EQ(1u, count_lines(content, "SERIAL:")) << content;
    ::close(port.fd);
    port.fd = -1;
}

} // namespace
} // namespace velkor::testing
