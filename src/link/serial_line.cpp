#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "link/transceiver.h"
#include "port/serial.h"
#include "port/write_all.h"

namespace velkor::link {

bool serial_line::ready() { return port::serial_reopen(port, path) >= 0; }

void serial_line::set_speed(int baud_rate) { port::serial_set_baudrate(port, path, baud_rate); }

void serial_line::discard_input()
{
    if (port.fd >= 0)
        ::tcflush(port.fd, TCIFLUSH);
}

int serial_line::pending_input()
{
    int waiting = 0;
    return port.fd >= 0 && ::ioctl(port.fd, FIONREAD, &waiting) == 0 ? waiting : 0;
}

// The port is non-blocking: write_all waits a full output queue out.
int serial_line::write(std::span<const std::uint8_t> bytes)
{
    if (port.fd < 0)
        return -1;
    const port::write_result r = port::write_all(port.fd, bytes, false);
    if (r.error != 0 && (port::serial_device_gone(r.error) || r.hung_up))
        port::serial_lost(port, path, r.error == EAGAIN ? ENODEV : r.error);
    // -1 only for a device that is gone; a queue that stayed full wrote what it could.
    return port.fd < 0 ? -1 : static_cast<int>(r.written);
}

void serial_line::drain()
{
    if (port.fd >= 0)
        ::tcdrain(port.fd);
}

void serial_line::wait_input(velkor::clock&, int timeout_ms)
{
    pollfd ready{port.fd, POLLIN, 0};
    ::poll(&ready, 1, timeout_ms);
}

// VMIN 0 and VTIME 0 on the port make a read return at once; the poll keeps
// it so whatever the device is, because the receive thread must reach its
// stop check. A hung-up terminal reads as end of file with the poll saying
// so: the adapter was pulled.
int serial_line::read(std::span<std::uint8_t> buffer)
{
    if (port.fd < 0)
        return -1;
    pollfd ready{port.fd, POLLIN, 0};
    if (::poll(&ready, 1, 0) == 0)
        return 0;
    const ssize_t n = ::read(port.fd, buffer.data(), buffer.size());
    if (n > 0)
        return static_cast<int>(n);
    const int error = n < 0 ? errno : (ready.revents & (POLLHUP | POLLERR)) ? ENODEV : 0;
    if (!port::serial_device_gone(error))
        return 0;
    port::serial_lost(port, path, error);
    return -1;
}

int serial_line::modem_lines(int& bits)
{
    int status = 0;
    if (port.fd < 0 || ::ioctl(port.fd, TIOCMGET, &status) != 0)
        return -1;
    bits = status;
    return 0;
}

void serial_line::set_break(bool on)
{
    if (port.fd >= 0)
        ::ioctl(port.fd, on ? TIOCSBRK : TIOCCBRK);
}

} // namespace velkor::link
