#include "support/pty.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace velkor::testing {

pty_pair::pty_pair()
{
    const int m = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0)
        return;
    const char* name = (::grantpt(m) == 0 && ::unlockpt(m) == 0) ? ::ptsname(m) : nullptr;
    const int s = name ? ::open(name, O_RDWR | O_NOCTTY) : -1;
    device = folder.file("ttyS0");
    if (s < 0 || ::symlink(name, device.c_str()) != 0) {
        if (s >= 0)
            ::close(s);
        ::close(m);
        return;
    }
    termios raw{};
    ::tcgetattr(s, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(s, TCSANOW, &raw);
    master = m;
    slave = s;
}

pty_pair::~pty_pair()
{
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
}

std::vector<std::uint8_t> pty_pair::read_master(std::size_t count, int timeout_ms) const
{
    using namespace std::chrono;
    std::vector<std::uint8_t> out;
    const auto end = steady_clock::now() + milliseconds(timeout_ms);
    while (out.size() < count) {
        const auto left = duration_cast<milliseconds>(end - steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        std::uint8_t buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer < count - out.size() ? sizeof buffer : count - out.size());
        if (n <= 0)
            break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

bool pty_pair::write_master(std::span<const std::uint8_t> bytes) const
{
    return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

} // namespace velkor::testing
