#pragma once
// The controller's settings, read once from the configuration file.

#include "base/text.h"
#include "link/timing.h"

namespace velkor::control {

inline constexpr const char* default_config_path = "/config/etc/mbus.conf";

struct settings {
    text<256> path_output;       // result files, "mbus_create", abort file
    text<256> path_input;        // command FIFO
    int log_level = 0;           // kept; nothing depends on it
    text<256> serial_port_name;  // bus_0, opened unchanged
    int serial_port_number = 1;  // from the first digit of bus_0 on
    int primary_reset = 0;
    int primary_start = 0;
    link::link_timing timing;    // link_timing, link_pause_ms, link_margin_ms, link_retries
    int search_max_probes = 20000;  // a search ends "incomplete" after so many probes
};

// Reads the controller keys and sets every module's trace switch. Returns 0,
// or -1 after writing the path and the system's error text to standard error.
int read_configuration(const char* path, settings& out);

} // namespace velkor::control
