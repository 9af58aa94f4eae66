#pragma once
// A socket in systemd's place: it takes what the daemon notifies.

#include <cstddef>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace velkor::testing {

struct notify_socket {
    std::string name;  // as $NOTIFY_SOCKET gives it: a path, or '@' and an abstract name
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);

    explicit notify_socket(std::string socket_name) : name(std::move(socket_name))
    {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, name.data(), name.size());
        if (name[0] == '@')
            a.sun_path[0] = '\0';
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size()));
    }
    ~notify_socket() { ::close(fd); }

    // The next datagram, or "" when none comes within the time.
    std::string next(int timeout_ms = 10000)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) != 1)
            return "";
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
    }
};

} // namespace velkor::testing
