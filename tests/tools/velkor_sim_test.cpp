// velkor-sim over its pseudo-terminal, in real time.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "link/checks.h"
#include "link/frames.h"
#include "link/transceiver.h"
#include "model/bus_file.h"
#include "port/serial.h"
#include "support/fake_bus.h"
#include "support/process.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

const std::string demo_bus = VELKOR_SOURCE_DIR "/tools/velkor-sim/examples/demo.bus";

// Bytes arriving on fd until `want` are there or the line stays quiet for
// 300 ms after the last byte (2 s before the first; 0.5 s when none are due).
bytes receive(int fd, std::size_t want)
{
    bytes got;
    auto quiet_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(want ? 2000 : 500);
    while ((want == 0 || got.size() < want) && std::chrono::steady_clock::now() < quiet_until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        std::uint8_t buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
            quiet_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        }
    }
    return got;
}

bytes exchange(int fd, const std::string& request, std::size_t want)
{
    const bytes frame = hex(request);
    EXPECT_EQ(static_cast<ssize_t>(frame.size()), ::write(fd, frame.data(), frame.size()));
    return receive(fd, want);
}

TEST(velkor_sim, answers_over_its_pty_and_cleans_up_on_sigterm)
{
    temp_dir dir;
    const std::string link = dir.file("ttyS-sim"), log = dir.file("sim.log");
    process sim = process::start({built_program("velkor-sim"), "--bus", demo_bus, "--link", link, "--log", log});
    ASSERT_EQ("ready", sim.read_line(10000));

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(0, ::tcgetattr(fd, &t));
    ::cfmakeraw(&t);
    t.c_cflag |= PARENB;  // 8E1 as the daemon sets it: the simulator does not mind
    ::cfsetispeed(&t, B2400);
    ::cfsetospeed(&t, B2400);
    ASSERT_EQ(0, ::tcsetattr(fd, TCSANOW, &t));

    sim::meter_bus bus;
    sim::parse_error error;
    ASSERT_TRUE(sim::read_bus_file(demo_bus, bus, error));
    const bytes heat_1 = sim::outgoing_telegram(bus.meters[0], 0), heat_2 = sim::outgoing_telegram(bus.meters[0], 1);
    const bytes water = sim::outgoing_telegram(bus.meters[1], 0);

    EXPECT_EQ("E5", to_hex(exchange(fd, "10 40 01 41 16", 1)));
    EXPECT_EQ(to_hex(heat_1), to_hex(exchange(fd, "10 7B 01 7C 16", heat_1.size())));
    EXPECT_EQ(to_hex(heat_2), to_hex(exchange(fd, "10 5B 01 5C 16", heat_2.size())));
    // Garbage in front of a frame is skipped; broadcasts stay unanswered.
    EXPECT_EQ("", to_hex(exchange(fd, "00 13 10 40 FF 3F 16", 0)));
    // Select the water meter by the wildcard 5FFFFFFF, then read it at 253.
    EXPECT_EQ("E5", to_hex(exchange(fd, "68 0B 0B 68 53 FD 52 FF FF FF 5F FF FF FF FF FA 16", 1)));
    EXPECT_EQ(to_hex(water), to_hex(exchange(fd, "10 7B FD 78 16", water.size())));
    // All three answer the test address at once.
    EXPECT_EQ("E5 E5 E5", to_hex(exchange(fd, "10 40 FE 3E 16", 3)));
    ::close(fd);

    ::kill(sim.pid, SIGTERM);
    std::string out, err;
    EXPECT_EQ(0, sim.finish(out, err)) << err;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    const std::string logged = read_file(log);
    EXPECT_NE(std::string::npos, logged.find(" rx 10 40 01 41 16\n")) << logged;
    EXPECT_NE(std::string::npos, logged.find(" tx E5\n")) << logged;
    EXPECT_NE(std::string::npos, logged.find("rx 00 13  (no frame, dropped)")) << logged;
}

// The daemon's own frame builders, port and transceiver against the simulator.
TEST(velkor_sim, serves_the_daemons_transceiver)
{
    temp_dir dir;
    const std::string link_path = dir.file("ttyS-sim"), bus_path = dir.file("test.bus");
    write_file(bus_path, read_file(demo_bus) +
                             "meter broken\n"
                             "fault bad-checksum 1\n"
                             "68 0F 0F 68 08 09 72 78 56 34 92 43 04 01 07 01 00 00 00 67 16\n");
    process sim = process::start({built_program("velkor-sim"), "--bus", bus_path, "--link", link_path, "--log", dir.file("log")});
    ASSERT_EQ("ready", sim.read_line(10000));

    log::log_settings log;
    log.directory.assign(dir.path);
    port::serial_port port;
    ASSERT_GE(port::serial_open(port, link_path.c_str(), log), 0);
    link::serial_line line(port, link_path.c_str());
    link::transceiver t(line, system_clock());
    link::bus_context bus;
    bus.bus_name.assign(link_path);
    bus.baud_rate = 9600;

    sim::meter_bus meters;
    sim::parse_error error;
    ASSERT_TRUE(sim::read_bus_file(bus_path, meters, error)) << sim::describe(error);
    const std::string heat_1 = to_hex(sim::outgoing_telegram(meters.meters[0], 0));
    const std::string heat_2 = to_hex(sim::outgoing_telegram(meters.meters[0], 1));

    link::build_select(bus, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    t.transceive(bus);
    EXPECT_EQ(link::ack::collision, link::check_ack(bus)) << to_hex(bus.received());  // four meters collide
    link::build_select(bus, {0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    t.transceive(bus);
    EXPECT_EQ(link::ack::ok, link::check_ack(bus));

    const struct {
        std::uint8_t address;
        int fcb;
        const std::string& telegram;
    } reads[] = {{0xFD, 1, heat_1}, {0xFD, 1, heat_1}, {0xFD, 0, heat_2}, {0x01, 1, heat_1}};
    for (const auto& r : reads) {
        link::build_req_ud2(bus, r.address, r.fcb);
        t.transceive(bus);
        EXPECT_TRUE(link::check_long_frame(bus));
        EXPECT_EQ(r.telegram, to_hex(bus.received()));
    }
    link::build_req_ud2(bus, 9, 1);
    t.transceive(bus);
    EXPECT_GT(bus.receive_length, 0);
    EXPECT_FALSE(link::check_long_frame(bus));  // the broken meter's checksum
    port::serial_close(port, link_path.c_str());
}

// Raw pty in 8E1 at the given speed.
int open_raw(const std::string& link, speed_t speed)
{
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

TEST(velkor_sim, echo_noise_paced_delivery_and_unplugging)
{
    temp_dir dir;
    const std::string link = dir.file("ttyS-sim"), log = dir.file("sim.log");
    write_file(dir.file("test.bus"), "line echo\nline noise AA BB\n" + read_file(demo_bus));
    process sim = process::start({built_program("velkor-sim"), "--bus", dir.file("test.bus"), "--link", link, "--log", log});
    ASSERT_EQ("ready", sim.read_line(10000));

    int fd = open_raw(link, B300);
    ASSERT_GE(fd, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("10 40 01 41 16 AA BB E5", to_hex(exchange(fd, "10 40 01 41 16", 8)));
    // Three answer bytes at 36.7 ms each: the last arrives two character times after the first.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(70));

    // Pulled: the link goes, and a new pty comes at the same name.
    ::kill(sim.pid, SIGHUP);
    EXPECT_TRUE(eventually(5000, [&] { return read_file(log).find("plugged in") != std::string::npos; }));
    std::uint8_t b[8];
    EXPECT_LE(::read(fd, b, sizeof b), 0);  // the old line is dead
    ::close(fd);
    fd = open_raw(link, B38400);
    ASSERT_GE(fd, 0);
    EXPECT_EQ("10 40 01 41 16 AA BB E5", to_hex(exchange(fd, "10 40 01 41 16", 8)));
    ::close(fd);
    EXPECT_NE(std::string::npos, read_file(log).find("unplugged " + link));
}

TEST(velkor_sim, answers_after_the_meters_reaction_time)
{
    temp_dir dir;
    const std::string link = dir.file("ttyS-sim"), log = dir.file("sim.log");
    std::string bus = read_file(demo_bus);
    bus.insert(bus.find("meter water\n") + 12, "delay 150\n");
    write_file(dir.file("test.bus"), bus);
    process sim = process::start({built_program("velkor-sim"), "--bus", dir.file("test.bus"), "--link", link, "--log", log});
    ASSERT_EQ("ready", sim.read_line(10000));
    const int fd = open_raw(link, B9600);
    ASSERT_GE(fd, 0);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("E5", to_hex(exchange(fd, "10 40 02 42 16", 1)));  // water: its own delay
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ("E5", to_hex(exchange(fd, "10 40 01 41 16", 1)));  // heat: the default spread
    ::close(fd);

    // 11 bit times at 9600 Bd are 1145 us; no answer comes later than 30 ms.
    const std::string logged = read_file(log);
    EXPECT_NE(std::string::npos, logged.find("water restarts; answer after 150000 us")) << logged;
    std::size_t at = 0, defaults = 0;
    while ((at = logged.find("heat restarts; answer after ", at)) != std::string::npos) {
        const long us = std::stol(logged.substr(at + 28));
        EXPECT_GE(us, 1145);
        EXPECT_LE(us, 30000);
        ++defaults, ++at;
    }
    EXPECT_EQ(5u, defaults);
}

TEST(velkor_sim, refuses_bad_files_and_link_names_with_status_2)
{
    temp_dir dir;
    write_file(dir.file("bad.bus"), "meter heat\naddress 1\n68 0F 0F 68 zz\n");
    const std::string prog = built_program("velkor-sim");
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{prog, "--bus", dir.file("bad.bus"), "--link", dir.file("ttyS-x")}, "line 3: bad hex \"zz\""},
        {{prog, "--bus", demo_bus, "--link", dir.file("serial-x")}, "must contain \"ttyS\""},
        {{prog, "--bus", demo_bus}, "--link is missing"},
        {{prog, "--link", dir.file("ttyS-x")}, "--bus is missing"},
        {{prog, "--bus", demo_bus, "--link", dir.file("ttyS-x"), "--fast"}, "unknown argument"},
        {{prog, "--bus", demo_bus, "--link", dir.file("ttyS-x"), "--delivery", "chunks:0:5"}, "--delivery takes"},
        {{prog, "--bus", demo_bus, "--link", dir.file("ttyS-x"), "--delivery=slow"}, "--delivery takes"},
        {{prog, "--bus", demo_bus, "--link", dir.file("ttyS-x"), "--tcp", "0"}, "exclude each other"},
        {{prog, "--bus", demo_bus, "--tcp", "65536"}, "--tcp takes"},
        {{prog, "--bus", demo_bus, "--tcp", "0", "--baud", "fast"}, "--baud takes"},
    };
    for (const auto& c : cases) {
        process sim = process::start(c.args);
        std::string out, err;
        EXPECT_EQ(2, sim.finish(out, err)) << c.message;
        EXPECT_NE(std::string::npos, err.find(c.message)) << err;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.file("ttyS-x"))));
    }
}

} // namespace
} // namespace velkor::testing
