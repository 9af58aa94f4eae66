#include "control/service.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <unistd.h>

#include "link/configured_line.h"

namespace velkor::control {

namespace {

void on_hangup(int) { reopen_requested.store(true); }

} // namespace

bool notifier_open(service_notifier& n, const char* socket_name)
{
    notifier_close(n);
    if (socket_name == nullptr)
        return false;
    const std::size_t size = std::strlen(socket_name);
    if (size < 2 || size >= sizeof n.address.sun_path || (socket_name[0] != '/' && socket_name[0] != '@'))
        return false;
    n.address = sockaddr_un{};
    n.address.sun_family = AF_UNIX;
    std::memcpy(n.address.sun_path, socket_name, size);
    // An abstract socket's name starts with a zero byte and has no terminator.
    if (socket_name[0] == '@')
        n.address.sun_path[0] = '\0';
    n.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
    n.fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return n.fd >= 0;
}

void notifier_close(service_notifier& n)
{
    if (n.fd >= 0)
        ::close(n.fd);
    n.fd = -1;
    n.status.clear();
}

bool notify(service_notifier& n, std::string_view assignments)
{
    if (n.fd < 0)
        return false;
    ssize_t sent;
    do
        sent = ::sendto(n.fd, assignments.data(), assignments.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&n.address), n.length);
    while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(assignments.size());
}

void notify_status(service_notifier& n, std::string_view status)
{
    if (n.fd < 0 || status == n.status.view())
        return;
    n.status.assign(status);
    text<sizeof "STATUS=" + sizeof n.status.chars> line("STATUS=");
    line.append(status);
    notify(n, line.view());
}

void notify_serving(service_notifier& n, std::string_view fifo, std::string_view line, bool line_open)
{
    text<sizeof n.status.chars> status;
    status.format("serving %.*s on %.*s%s", static_cast<int>(fifo.size()), fifo.data(), static_cast<int>(line.size()),
                  line.data(), line_open ? "" : ", line lost");
    notify_status(n, status.view());
}

int install_reopen_handler()
{
    struct sigaction action{};
    action.sa_handler = on_hangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    return ::sigaction(SIGHUP, &action, nullptr);
}

void reopen_after_hangup(const log::log_settings& log, link::configured_line& line, const char* device)
{
    reopen_requested.store(false);
    link::close_configured_line(line);
    link::open_configured_line(line, device, log);
    const bool open = link::configured_line_open(line);
    text<320> message;
    if (open)
        message.format("velkor: SIGHUP: log files and line %s reopened", device);
    else
        message.format("velkor: SIGHUP: log files reopened, line %s not there", device);
    log::log_write(log, "mbus_control", __LINE__, 1, message.view(), log::entry_kind::notice);
}

} // namespace velkor::control
