#include <cstdio>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "link/transceiver.h"
#include "port/serial.h"

namespace velkor::link {

void serial_line::set_speed(int baud_rate) { port::serial_set_baudrate(port, path, baud_rate); }

void serial_line::discard_input() { ::tcflush(port.fd, TCIFLUSH); }

int serial_line::write(std::span<const std::uint8_t> bytes)
{
    return static_cast<int>(::write(port.fd, bytes.data(), bytes.size()));
}

void serial_line::drain() { ::tcdrain(port.fd); }

void serial_line::wait_input(velkor::clock&, int timeout_ms)
{
    pollfd ready{port.fd, POLLIN, 0};
    ::poll(&ready, 1, timeout_ms);
}

// VMIN 0 and VTIME 0 on the port make a read return at once; the poll keeps
// it so whatever the device is, because the receive thread must reach its
// stop check.
int serial_line::read(std::span<std::uint8_t> buffer)
{
    pollfd ready{port.fd, POLLIN, 0};
    if (port.fd >= 0 && ::poll(&ready, 1, 0) == 0)
        return 0;
    return static_cast<int>(::read(port.fd, buffer.data(), buffer.size()));
}

int serial_line::modem_lines(int& bits)
{
    int status = 0;
    if (::ioctl(port.fd, TIOCMGET, &status) != 0)
        return -1;
    bits = status;
    return 0;
}

void serial_line::set_break(bool on) { ::ioctl(port.fd, on ? TIOCSBRK : TIOCCBRK); }

// The break follows CTS; a change is seen only when the next command arrives.
void check_bus_break(transceiver& t)
{
    int bits = 0;
    if (t.line.modem_lines(bits) != 0)
        return;
    const bool cts = (bits & TIOCM_CTS) != 0;
    if (cts && t.break_state == 0) {
        t.break_state = 1;
        t.line.set_break(true);
        std::puts("MBUS BREAK started");
    } else if (!cts && t.break_state == 1) {
        t.break_state = 0;
        t.line.set_break(false);
        std::puts("MBUS BREAK finished");
    }
}

} // namespace velkor::link
