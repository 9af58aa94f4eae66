#include "port/write_all.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velkor::port {

write_result write_all(int fd, std::span<const std::uint8_t> bytes, bool socket)
{
    constexpr int drain_wait_ms = 1000;
    write_result r;
    while (r.written < bytes.size()) {
        const std::uint8_t* from = bytes.data() + r.written;
        const std::size_t left = bytes.size() - r.written;
        const ssize_t n = socket ? ::send(fd, from, left, MSG_DONTWAIT | MSG_NOSIGNAL) : ::write(fd, from, left);
        if (n > 0) {
            r.written += static_cast<std::size_t>(n);
            continue;
        }
        const int error = n < 0 ? errno : EAGAIN;
        if (error == EINTR)
            continue;
        pollfd writable{fd, POLLOUT, 0};
        if (error == EAGAIN && ::poll(&writable, 1, drain_wait_ms) == 1 && !(writable.revents & (POLLHUP | POLLERR)))
            continue;
        r.error = error;
        r.hung_up = (writable.revents & (POLLHUP | POLLERR)) != 0;
        break;
    }
    return r;
}

} // namespace velkor::port
