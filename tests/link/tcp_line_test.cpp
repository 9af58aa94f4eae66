// The TCP line against a gateway played on a loopback socket: what the
// transceiver gets from it, and what the log says when the gateway goes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/tcp_line.h"
#include "support/fake_bus.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

// Until the daemon's end of the connection has something to read (or the end).
void await_input(const port::tcp_port& port)
{
    pollfd p{port.fd, POLLIN | POLLRDHUP, 0};
    ASSERT_EQ(1, ::poll(&p, 1, 5000));
}

// The messages of the TCP entries of a log, one a line.
std::string tcp_entries(const std::string& log)
{
    std::string messages;
    for (std::size_t at = log.find("TCP: "); at != std::string::npos; at = log.find("TCP: ", at + 1))
        messages += log.substr(at, log.find(" [", at) - at) + "\n";
    return messages;
}

TEST(tcp_line, drops_stale_input_times_the_drain_and_reports_a_loss_and_the_return_once)
{
    temp_dir dir;
    log::log_settings log;
    log.directory.assign(dir.path);
    log.size = log.size_dev = 100000;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, ::listen(listener, 2));
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
    const std::string gateway = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    port::tcp_port port;
    fake_clock clock;
    link::tcp_line line(port, clock);
    ASSERT_GE(port::tcp_open(port, ("tcp://" + gateway).c_str(), log), 0);
    int peer = ::accept(listener, nullptr, nullptr);

    const bytes late = hex("E5 E5"), request = hex("10 5B FE 59 16");
    ASSERT_EQ(2, ::write(peer, late.data(), late.size()));
    await_input(port);
    EXPECT_TRUE(line.ready());
    EXPECT_EQ(2, line.pending_input());  // a late answer is there to be seen, not gone
    line.discard_input();
    EXPECT_EQ(0, line.pending_input());
    line.set_speed(2400);
    EXPECT_EQ(5, line.write(request));
    line.drain();
    EXPECT_EQ(std::vector<int>{23}, clock.taken());  // five characters at 2400 Bd
    bytes got(8);
    EXPECT_EQ(5, ::read(peer, got.data(), got.size()));
    ASSERT_EQ(1, ::write(peer, "\xE5", 1));
    await_input(port);
    EXPECT_EQ(1, line.read(got));
    EXPECT_EQ(0xE5, got[0]);

    // Closed while idle: the next exchange takes a new connection.
    ::close(peer);
    await_input(port);
    EXPECT_TRUE(line.ready());
    peer = ::accept(listener, nullptr, nullptr);
    // Gone for good: lost once, and silent while it stays away.
    ::close(peer);
    ::close(listener);
    await_input(port);
    EXPECT_FALSE(line.ready());
    EXPECT_FALSE(line.ready());
    EXPECT_EQ(-1, line.read(got));
    const std::string entry = "TCP: " + gateway;
    EXPECT_EQ(entry + " lost: closed by the gateway\n" + entry + " open again\n" + entry + " lost: closed by the gateway\n",
              tcp_entries(read_file(dir.file("mbusLog"))));

    port::tcp_port refused;
    EXPECT_EQ(-1, port::tcp_open(refused, ("tcp://" + gateway).c_str(), log));
    EXPECT_NE(std::string::npos, read_file(dir.file("mbusLog")).find("TCP: " + gateway + " lost: Connection refused"));
}

} // namespace
} // namespace velkor::testing
