#pragma once
// The daemon as a service: it tells systemd when it is ready, what it is
// doing and that it is stopping (the notify protocol: datagrams of
// "KEY=VALUE" lines to the socket $NOTIFY_SOCKET names), and SIGHUP makes it
// open its logs and its line anew, for log rotation or a replugged adapter.

#include <atomic>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>

#include "base/log.h"
#include "base/text.h"

namespace velkor::link {
struct configured_line;
}

namespace velkor::control {

// Where notifications go; silent while fd is -1.
struct service_notifier {
    int fd = -1;
    sockaddr_un address{};
    socklen_t length = 0;
    text<320> status;  // the STATUS= sent last: an unchanged one is not sent again
};

// Takes the socket name ($NOTIFY_SOCKET): a path, or '@' and the name of an
// abstract socket. Without a name, or with one no socket can have, the
// notifier stays silent. Returns whether it will send.
bool notifier_open(service_notifier& n, const char* socket_name);
void notifier_close(service_notifier& n);

// One datagram of newline-separated assignments ("READY=1\nSTATUS=serving");
// false when it could not go out or the notifier is silent.
bool notify(service_notifier& n, std::string_view assignments);

// STATUS=<status>, unless that is what systemd shows already.
void notify_status(service_notifier& n, std::string_view status);

// What the status says while the daemon waits for commands: the FIFO and
// the line it serves, and whether that line is lost.
void notify_serving(service_notifier& n, std::string_view fifo, std::string_view line, bool line_open);

// Set by SIGHUP; the daemon acts on it at its next safe point. A process-wide
// flag because a signal handler can reach nothing else.
inline std::atomic<bool> reopen_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// SIGHUP sets reopen_requested, without SA_RESTART, so that a wait for a
// record returns at once. Returns 0, or -1 with errno.
int install_reopen_handler();

// The safe point after SIGHUP: the line (a serial port goes back to the
// settings it had) is closed and opened again from bus_0 (a missing device or
// gateway is logged and left to the next exchange); the logs, opened for
// every entry, take the next entry into the files now at their paths. Logs
// that in one level-1 entry and clears the request.
void reopen_after_hangup(const log::log_settings& log, link::configured_line& line, const char* bus_0);

} // namespace velkor::control
