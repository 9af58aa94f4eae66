#include "port/tcp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/convert.h"
#include "base/stop.h"
#include "base/trace.h"

namespace velkor::port {

namespace {

void report(const tcp_port& port, const char* message)
{
    if (trace::serial)
        std::puts(message);
    if (port.log)
        log::log_write(*port.log, "tcp", __LINE__, 1, message);
}

// A connect cut short because the daemon is ending lost nothing.
void report_lost(tcp_port& port, const char* reason)
{
    if (port.lost || stop::is_requested())
        return;
    port.lost = true;
    text<400> message;
    message.format("TCP: %s lost: %s", port.address.c_str(), reason);
    report(port, message.c_str());
}

std::int64_t now_ms()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// 0 once the non-blocking connect is through, else its error. A stop request
// ends the wait at once.
int finish_connect(int fd, std::int64_t deadline_ms)
{
    for (;;) {
        const std::int64_t left = deadline_ms - now_ms();
        if (left <= 0)
            return ETIMEDOUT;
        pollfd writable{fd, POLLOUT, 0};
        const int rc = ::poll(&writable, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR && !stop::is_requested())
            continue;
        if (rc < 0)
            return errno;
        if (rc == 0)
            return ETIMEDOUT;
        int error = 0;
        socklen_t length = sizeof error;
        return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : errno;
    }
}

int connect_to(const sockaddr* address, socklen_t length, std::int64_t deadline_ms, int& error)
{
    const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    error = ::connect(fd, address, length) == 0 ? 0 : errno == EINPROGRESS ? finish_connect(fd, deadline_ms) : errno;
    if (error == 0)
        return fd;
    ::close(fd);
    return -1;
}

// Requests go out at once, not gathered; a gateway that vanished without a
// word is found within about half a minute, idle or not.
void tune(int fd)
{
    const int on = 1, idle_s = 10, interval_s = 5, probes = 3, unacknowledged_ms = 10000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged_ms, sizeof unacknowledged_ms);
}

// The descriptor, or -1 with the reason.
int connect_gateway(const tcp_port& port, text<128>& reason)
{
    text<256> host;
    int number = 0;
    if (!split_tcp_address(port.address.view(), host, number)) {
        reason.assign("not HOST:PORT");
        return -1;
    }
    const std::int64_t deadline = now_ms() + tcp_connect_timeout_ms;
    int fd = -1, error = 0;
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<std::uint16_t>(number));
        fd = connect_to(reinterpret_cast<const sockaddr*>(&v4), sizeof v4, deadline, error);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<std::uint16_t>(number));
        fd = connect_to(reinterpret_cast<const sockaddr*>(&v6), sizeof v6, deadline, error);
    } else {
        // Looked up at every connect (which happens only after a loss), so a
        // gateway that got a new address is found again.
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        text<8> service;
        service.format("%d", number);
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
        if (rc != 0) {
            reason.assign(rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc));
            return -1;
        }
        error = EHOSTUNREACH;
        for (const addrinfo* a = found; a && fd < 0; a = a->ai_next)
            fd = connect_to(a->ai_addr, a->ai_addrlen, deadline, error);
        ::freeaddrinfo(found);
    }
    if (fd < 0)
        reason.assign(std::strerror(error));
    else
        tune(fd);
    return fd;
}

} // namespace

bool is_tcp_name(std::string_view name) { return name.substr(0, tcp_scheme.size()) == tcp_scheme; }

bool split_tcp_address(std::string_view address, text<256>& host, int& port_number)
{
    std::string_view name, digits;
    if (address.substr(0, 1) == "[") {
        const std::size_t close = address.find(']');
        if (close == std::string_view::npos || address.substr(close + 1, 1) != ":")
            return false;
        name = address.substr(1, close - 1);
        digits = address.substr(close + 2);
    } else {
        const std::size_t colon = address.rfind(':');
        if (colon == std::string_view::npos || address.find(':') != colon)
            return false;
        name = address.substr(0, colon);
        digits = address.substr(colon + 1);
    }
    int number = 0;
    if (name.empty() || name.size() > host.capacity() || !conv::whole_number(digits, 1, 65535, number))
        return false;
    host.assign(name);
    port_number = number;
    return true;
}

int tcp_open(tcp_port& port, const char* name, const log::log_settings& log)
{
    port.log = &log;
    port.address.assign(std::string_view(name).substr(is_tcp_name(name) ? tcp_scheme.size() : 0));
    port.lost = false;
    text<128> reason;
    port.fd = connect_gateway(port, reason);
    if (port.fd < 0)
        report_lost(port, reason.c_str());
    else if (trace::serial)
        std::printf("tcp://%s is open\n", port.address.c_str());
    return port.fd;
}

int tcp_reopen(tcp_port& port)
{
    if (port.fd >= 0)
        return port.fd;
    text<128> reason;
    port.fd = connect_gateway(port, reason);
    if (port.fd < 0) {
        report_lost(port, reason.c_str());
        return -1;
    }
    if (port.lost) {
        port.lost = false;
        text<300> message;
        message.format("TCP: %s open again", port.address.c_str());
        report(port, message.c_str());
    }
    return port.fd;
}

void tcp_lost(tcp_port& port, int error)
{
    if (port.fd >= 0)
        ::close(port.fd);
    port.fd = -1;
    report_lost(port, error == 0 ? "closed by the gateway" : std::strerror(error));
}

void tcp_close(tcp_port& port)
{
    if (port.fd < 0)
        return;
    ::close(port.fd);
    port.fd = -1;
    if (trace::serial)
        std::printf("tcp://%s is closed\n", port.address.c_str());
}

} // namespace velkor::port
