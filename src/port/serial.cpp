#include "port/serial.h"

#include <cerrno>
#include <cstdio>
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

} // namespace

void set_serial_trace(int value)
{
    trace::serial = value;
    if (value)
        std::puts("DEBUG_SERIAL");
}

int serial_open(serial_port& port, const char* path, const log::log_settings& log)
{
    port.fd = ::open(path, O_RDWR | O_NOCTTY);
    if (port.fd < 0) {
        text<300> message;
        message.format("SERIAL: Can not open %s", path);
        if (trace::serial)
            std::puts(message.c_str());
        log::log_write(log, "serial", __LINE__, 1, message.view());
        return -1;
    }
    if (trace::serial)
        std::printf("%s is open\n", path);

    ::tcgetattr(port.fd, &port.saved);
    port.active = mbus_line_settings();
    ::tcflush(port.fd, TCIFLUSH);
    ::tcsetattr(port.fd, TCSANOW, &port.active);
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
    // Taken from the device so that nothing else set on it is lost; when the
    // port is not open the last applied settings stay.
    ::tcgetattr(port.fd, &port.active);
    const speed_t speed = line_speed(baud_rate);
    ::cfsetispeed(&port.active, speed);
    ::cfsetospeed(&port.active, speed);
    ::tcflush(port.fd, TCIFLUSH);
    ::tcsetattr(port.fd, TCSANOW, &port.active);
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
