#pragma once
// The serial device of the M-Bus line: 8 data bits, even parity, 1 stop bit,
// raw, reads that return at once with whatever has arrived.

#include <termios.h>

#include "base/log.h"

namespace velkor::port {

// Why the device could not be had, as last reported; none once it opened.
enum class unavailable { none, not_opened, in_use };

// An open port keeps the settings it found (to restore at close) and the ones
// it applies, so nothing is indexed by the number in the device name. The log
// is the one given at open; a lost device and its return are reported there.
struct serial_port {
    int fd = -1;
    termios saved{};
    termios active{};
    const log::log_settings* log = nullptr;
    bool attribute_failed = false;  // one report per open
    unavailable reported = unavailable::none;
};

// Prints "DEBUG_SERIAL" when the value is non-zero.
void set_serial_trace(int value);

// Opens the device (never waiting for carrier, never becoming the controlling
// terminal), exclusively, and applies the M-Bus line settings at 9600 Bd.
// Returns the descriptor (also kept in port.fd) or -1 after logging "SERIAL:
// Can not open %s" and "SERIAL: <path>: <reason>", or "SERIAL: <path> is in
// use by another process". A failed attribute call is logged with "SERIAL:"
// and the port stays open.
int serial_open(serial_port& port, const char* path, const log::log_settings& log);

// Opens a closed port again with the log of its first open. On success logs
// "SERIAL: <path> open again"; an absent device is silent, so that it costs
// nothing but the attempt; one held by another process is logged once until
// the port opens. Returns the descriptor or -1.
int serial_reopen(serial_port& port, const char* path);

// Whether a failed call on the port means the device is gone.
bool serial_device_gone(int error);

// The device is gone: closes the port and logs "SERIAL: <path> lost: <error text>".
void serial_lost(serial_port& port, const char* path, int error);

// The line speed of a requested baud rate: the eight M-Bus rates, else 9600 Bd.
speed_t line_speed(int baud_rate);

// Switches the line speed, discards pending input and settles for 10 ms; a
// closed port is left alone; a failed call is logged, a device found gone lost.
void serial_set_baudrate(serial_port& port, const char* path, int baud_rate);

// Restores the saved settings and closes the descriptor.
void serial_close(serial_port& port, const char* path);

} // namespace velkor::port
