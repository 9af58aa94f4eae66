#include "port/serial.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "log/text.h"
#include "log/trace.h"

namespace velkor::port {

namespace {

// The line needs a moment after a speed change before the first character.
void settle()
{
    timespec ts{0, 10 * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// 8E1, receiver on, modem lines ignored, no flow control, no hang-up on close;
// raw in and out; reads return at once with whatever has arrived.
termios mbus_line_settings()
{
    termios t{};
    t.c_cflag = CS8 | PARENB | CREAD | CLOCAL;
    t.c_lflag = ISIG;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    return t;
}

void report(const serial_port& port, const char* message, log::entry_kind kind = log::entry_kind::failure)
{
    if (trace::serial)
        std::puts(message);
    if (port.log)
        log::log_write(*port.log, "serial", __LINE__, 1, message, kind);
}

// A failed attribute call on a device that is gone loses the port; any other
// failure is reported once per open (a device that is no terminal would
// otherwise fill the log) and the port goes on with what it has.
bool attribute_call(serial_port& port, const char* path, const char* call, int rc)
{
    if (rc == 0)
        return true;
    const int error = errno;
    if (serial_device_gone(error)) {
        serial_lost(port, path, error);
        return false;
    }
    if (!port.attribute_failed) {
        port.attribute_failed = true;
        text<400> message;
        message.format("SERIAL: %s on %s failed: %s", call, path, std::strerror(error));
        report(port, message.c_str());
    }
    return true;
}

constexpr int not_opened = -1;
constexpr int lost_at_open = -2;

// Opens and applies the line settings: the descriptor, not_opened, or
// lost_at_open when the device went away during the settings (already logged).
int open_device(serial_port& port, const char* path)
{
    port.fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.fd < 0)
        return not_opened;
    port.attribute_failed = false;
    if (trace::serial)
        std::printf("%s is open\n", path);
    if (!attribute_call(port, path, "tcgetattr", ::tcgetattr(port.fd, &port.saved)))
        return lost_at_open;
    port.active = mbus_line_settings();
    if (!attribute_call(port, path, "tcflush", ::tcflush(port.fd, TCIFLUSH)) ||
        !attribute_call(port, path, "tcsetattr", ::tcsetattr(port.fd, TCSANOW, &port.active)))
        return lost_at_open;
    return port.fd;
}

} // namespace

bool serial_device_gone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

void serial_lost(serial_port& port, const char* path, int error)
{
    text<400> message;
    message.format("SERIAL: %s lost: %s", path, std::strerror(error));
    report(port, message.c_str());
    if (port.fd >= 0)
        ::close(port.fd);
    port.fd = -1;
}

void set_serial_trace(int value)
{
    trace::serial = value;
    if (value)
        std::puts("DEBUG_SERIAL");
}

int serial_open(serial_port& port, const char* path, const log::log_settings& log)
{
    port.log = &log;
    const int rc = open_device(port, path);
    if (rc >= 0)
        return rc;
    if (rc == not_opened) {
        text<300> message;
        message.format("SERIAL: Can not open %s", path);
        report(port, message.c_str());
    }
    return -1;
}

int serial_reopen(serial_port& port, const char* path)
{
    if (port.fd >= 0)
        return port.fd;
    if (open_device(port, path) < 0)
        return -1;
    text<300> message;
    message.format("SERIAL: %s open again", path);
    report(port, message.c_str(), log::entry_kind::notice);
    return port.fd;
}

speed_t line_speed(int baud_rate)
{
    switch (baud_rate) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B9600;
    }
}

int serial_set_baudrate(serial_port& port, const char* path, int baud_rate)
{
    if (port.fd < 0)
        return 0;
    // Taken from the device so that nothing else set on it is lost.
    if (!attribute_call(port, path, "tcgetattr", ::tcgetattr(port.fd, &port.active)))
        return 0;
    const speed_t speed = line_speed(baud_rate);
    ::cfsetispeed(&port.active, speed);
    ::cfsetospeed(&port.active, speed);
    if (!attribute_call(port, path, "tcflush", ::tcflush(port.fd, TCIFLUSH)) ||
        !attribute_call(port, path, "tcsetattr", ::tcsetattr(port.fd, TCSANOW, &port.active)))
        return 0;
    settle();
    if (trace::serial)
        std::printf("SERIAL: for %s set baudrate to %dBd\n", path, baud_rate);
    return 0;
}

void serial_close(serial_port& port, const char* path)
{
    if (port.fd < 0)
        return;
    ::tcsetattr(port.fd, TCSANOW, &port.saved);
    ::close(port.fd);
    port.fd = -1;
    if (trace::serial)
        std::printf("SERIAL: %s is closed\n", path);
}

} // namespace velkor::port
