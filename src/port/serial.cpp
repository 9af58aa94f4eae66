#include "port/serial.h"

// Placeholder until the serial port lands.
namespace velkor::port {
void set_serial_trace(int) {}
int serial_open(serial_port& port, const char* path, const log::log_settings& log)
{
    text<300> message;
    message.format("SERIAL: Can not open %s", path);
    log::log_write(log, "serial", __LINE__, 1, message.view());
    port.fd = -1;
    return -1;
}
speed_t line_speed(int) { return B9600; }
int serial_set_baudrate(serial_port&, const char*, int) { return 0; }
void serial_close(serial_port&, const char*) {}
} // namespace velkor::port
