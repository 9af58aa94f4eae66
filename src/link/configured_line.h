#pragma once
// The daemon's configured line, as bus_0 names it: a serial device, or a
// transparent gateway for "tcp://HOST:PORT". Lives as long as the daemon.

#include "link/tcp_line.h"
#include "link/transceiver.h"
#include "port/serial.h"
#include "port/tcp.h"

namespace velkor::link {

struct configured_line {
    port::serial_port serial;
    port::tcp_port tcp;
    serial_line serial_io{serial, ""};
    tcp_line tcp_io;
    bool is_tcp = false;

    explicit configured_line(velkor::clock& clock) : tcp_io(tcp, clock) {}
    line_io& io() { return is_tcp ? static_cast<line_io&>(tcp_io) : serial_io; }
};

// Opens the line (a failure is logged, and the line is opened again before a
// later exchange). bus_0 must outlive the line.
line_io& open_configured_line(configured_line& line, const char* bus_0, const log::log_settings& log);

// The serial device gets back the settings it had.
void close_configured_line(configured_line& line);

// Whether the device or the gateway connection is open now.
bool configured_line_open(const configured_line& line);

} // namespace velkor::link
