#include "tcp_gateway.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velkor::sim {

int open_tcp_gateway(tcp_gateway& gateway, int port, std::string& error)
{
    gateway.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // Comes back at once on the same port after an unplug or a restart.
    if (gateway.listener < 0 ||
        ::setsockopt(gateway.listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(gateway.listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(gateway.listener, 4) != 0 ||
        ::getsockname(gateway.listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "tcp port " + std::to_string(port) + ": " + std::strerror(errno);
        close_tcp_gateway(gateway);
        return -1;
    }
    gateway.port = ntohs(address.sin_port);
    return 0;
}

std::string accept_client(tcp_gateway& gateway)
{
    const int fd = ::accept4(gateway.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return errno == EAGAIN || errno == EINTR ? "" : std::string("accept: ") + std::strerror(errno);
    if (gateway.client >= 0) {
        ::close(fd);
        return "a second client refused";
    }
    // Paced answers go out byte by byte, as the line delivers them.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    gateway.client = fd;
    return "client connected";
}

void drop_client(tcp_gateway& gateway)
{
    if (gateway.client >= 0)
        ::close(gateway.client);
    gateway.client = -1;
}

void close_tcp_gateway(tcp_gateway& gateway)
{
    drop_client(gateway);
    if (gateway.listener >= 0)
        ::close(gateway.listener);
    gateway.listener = -1;
}

} // namespace velkor::sim
