#include "link/configured_line.h"

namespace velkor::link {

line_io& open_configured_line(configured_line& line, const char* bus_0, const log::log_settings& log)
{
    line.is_tcp = port::is_tcp_name(bus_0);
    line.serial_io.path = bus_0;
    if (line.is_tcp)
        port::tcp_open(line.tcp, bus_0, log);
    else
        port::serial_open(line.serial, bus_0, log);
    return line.io();
}

void close_configured_line(configured_line& line)
{
    if (line.is_tcp)
        port::tcp_close(line.tcp);
    else
        port::serial_close(line.serial, line.serial_io.path);
}

bool configured_line_open(const configured_line& line) { return line.is_tcp ? line.tcp.fd >= 0 : line.serial.fd >= 0; }

} // namespace velkor::link
