#include "link/tcp_line.h"

#include <array>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "link/timing.h"
#include "port/write_all.h"

namespace velkor::link {

namespace {

bool try_again(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

} // namespace

// A gateway that closed the connection while the line was idle shows it
// here, so the exchange connects again instead of writing into the void.
// Bytes waiting are only looked at: a late answer among them is for the
// exchange to see.
bool tcp_line::ready()
{
    if (port.fd >= 0) {
        std::uint8_t first;
        const ssize_t n = ::recv(port.fd, &first, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && !try_again(errno)))
            port::tcp_lost(port, n == 0 ? 0 : errno);
    }
    return port::tcp_reopen(port) >= 0;
}

int tcp_line::pending_input()
{
    int waiting = 0;
    return port.fd >= 0 && ::ioctl(port.fd, FIONREAD, &waiting) == 0 ? waiting : 0;
}

// Bounded, so that a gateway that never stops sending cannot hold the daemon.
void tcp_line::discard_input()
{
    constexpr int most_reads = 64;
    std::array<std::uint8_t, 256> dropped;
    for (int i = 0; i < most_reads && port.fd >= 0; ++i) {
        const ssize_t n = ::recv(port.fd, dropped.data(), dropped.size(), MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && try_again(errno))
            return;
        port::tcp_lost(port, n == 0 ? 0 : errno);
    }
}

// As on the serial line: write_all waits a full send queue out.
int tcp_line::write(std::span<const std::uint8_t> bytes)
{
    last_write = static_cast<std::int32_t>(bytes.size());
    if (port.fd < 0)
        return bytes.empty() ? 0 : -1;
    const port::write_result r = port::write_all(port.fd, bytes, true);
    if (r.error != 0)
        port::tcp_lost(port, r.error == EAGAIN ? ETIMEDOUT : r.error);
    return r.written > 0 || bytes.empty() ? static_cast<int>(r.written) : -1;
}

// The request has left when the gateway has put it on its line: its wire time
// at the speed asked for. The network's own delay is left to the margin.
void tcp_line::drain() { clock.sleep_ms(wire_time_ms(static_cast<std::uint32_t>(baud_rate), last_write)); }

int tcp_line::read(std::span<std::uint8_t> buffer)
{
    if (port.fd < 0)
        return -1;
    const ssize_t n = ::recv(port.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n > 0)
        return static_cast<int>(n);
    if (n < 0 && try_again(errno))
        return 0;
    port::tcp_lost(port, n == 0 ? 0 : errno);
    return -1;
}

void tcp_line::wait_input(velkor::clock& c, int timeout_ms)
{
    if (port.fd < 0) {
        c.sleep_ms(timeout_ms);
        return;
    }
    pollfd ready{port.fd, POLLIN, 0};
    ::poll(&ready, 1, timeout_ms);
}

} // namespace velkor::link
