#include "port/serial.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "base/text.h"
#include "base/trace.h"

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
// raw in and out; reads return at once with whatever has arrived. A byte with
// a parity or framing error is dropped by the driver, so its frame fails its
// length or checksum instead of passing with a changed value.
termios mbus_line_settings()
{
    termios t{};
    t.c_iflag = INPCK | IGNPAR;
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
constexpr int in_use = -3;

// Another master on the same line would take this one's answers: the device
// is held exclusively (TIOCEXCL keeps out further opens but root's, the lock
// keeps out every other process that locks it too).
bool take_exclusively(serial_port& port)
{
    if (::flock(port.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(port.fd);
        port.fd = -1;
        return false;
    }
    ::ioctl(port.fd, TIOCEXCL);
    return true;
}

// Opens and applies the line settings: the descriptor, not_opened (errno
// tells why), in_use, or lost_at_open when the device went away during the
// settings (already logged).
int open_device(serial_port& port, const char* path)
{
    port.fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.fd < 0)
        return errno == EBUSY ? in_use : not_opened;
    if (!take_exclusively(port))
        return in_use;
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

// Why the device cannot be had, once until it opens: the in-use message,
// or "Can not open" with the system's reason in an entry of its own.
void report_unavailable(serial_port& port, const char* path, int rc, int error)
{
    const unavailable why = rc == in_use ? unavailable::in_use : unavailable::not_opened;
    if (rc == lost_at_open || port.reported == why)
        return;
    text<400> message;
    if (why == unavailable::in_use) {
        message.format("SERIAL: %s is in use by another process", path);
        report(port, message.c_str());
    } else if (port.reported == unavailable::none) {
        // Only at start: an adapter that is away later was reported lost.
        message.format("SERIAL: Can not open %s", path);
        report(port, message.c_str());
        message.format("SERIAL: %s: %s", path, std::strerror(error));
        report(port, message.c_str());
    }
    port.reported = why;
}

int serial_open(serial_port& port, const char* path, const log::log_settings& log)
{
    port.log = &log;
    port.reported = unavailable::none;
    const int rc = open_device(port, path);
    if (rc >= 0)
        return rc;
    report_unavailable(port, path, rc, errno);
    return -1;
}

int serial_reopen(serial_port& port, const char* path)
{
    if (port.fd >= 0)
        return port.fd;
    const int rc = open_device(port, path);
    if (rc < 0) {
        if (rc == in_use)
            report_unavailable(port, path, rc, 0);
        return -1;
    }
    port.reported = unavailable::none;
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

void serial_set_baudrate(serial_port& port, const char* path, int baud_rate)
{
    if (port.fd < 0)
        return;
    // Taken from the device so that nothing else set on it is lost.
    if (!attribute_call(port, path, "tcgetattr", ::tcgetattr(port.fd, &port.active)))
        return;
    const speed_t speed = line_speed(baud_rate);
    ::cfsetispeed(&port.active, speed);
    ::cfsetospeed(&port.active, speed);
    if (!attribute_call(port, path, "tcflush", ::tcflush(port.fd, TCIFLUSH)) ||
        !attribute_call(port, path, "tcsetattr", ::tcsetattr(port.fd, TCSANOW, &port.active)))
        return;
    settle();
    if (trace::serial)
        std::printf("SERIAL: for %s set baudrate to %dBd\n", path, baud_rate);
}

void serial_close(serial_port& port, const char* path)
{
    if (port.fd < 0)
        return;
    ::tcsetattr(port.fd, TCSANOW, &port.saved);
    // The flag stays with the terminal while another process holds it open.
    ::ioctl(port.fd, TIOCNXCL);
    ::close(port.fd);
    port.fd = -1;
    if (trace::serial)
        std::printf("SERIAL: %s is closed\n", path);
}

} // namespace velkor::port
