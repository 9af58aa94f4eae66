#pragma once
// The serial device of the M-Bus line: 8 data bits, even parity, 1 stop bit,
// raw, reads that return at once with whatever has arrived.

#include <termios.h>

#include "log/log.h"

namespace velkor::port {

// An open port keeps the settings it found (to restore at close) and the ones
// it applies, so nothing is indexed by the number in the device name.
struct serial_port {
    int fd = -1;
    termios saved{};
    termios active{};
};

// Prints "DEBUG_SERIAL" when the value is non-zero.
void set_serial_trace(int value);

// Opens the device and applies the M-Bus line settings at 9600 Bd. Returns the
// descriptor (also kept in port.fd) or -1 after logging "SERIAL: Can not open %s".
int serial_open(serial_port& port, const char* path, const log::log_settings& log);

// The line speed of a requested baud rate: the eight M-Bus rates, else 9600 Bd.
speed_t line_speed(int baud_rate);

// Switches the line speed, discards pending input and settles for 10 ms.
// Returns 0 in every case.
int serial_set_baudrate(serial_port& port, const char* path, int baud_rate);

// Restores the saved settings and closes the descriptor.
void serial_close(serial_port& port, const char* path);

} // namespace velkor::port
