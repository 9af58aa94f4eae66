#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/config_file.h"
#include "base/trace.h"
#include "control/settings.h"
#include "decode/header.h"
#include "link/transceiver.h"
#include "port/file_transport.h"
#include "port/serial.h"

namespace velkor::control {

namespace {

// A negative time or count means none.
int at_least_zero(int value) { return value < 0 ? 0 : value; }

void apply(settings& s, std::string_view key, std::string_view value)
{
    using log::config_int;
    if (key == "path_output") {
        log::config_text(s.path_output, value);
    } else if (key == "path_input") {
        log::config_text(s.path_input, value);
    } else if (key == "log_level") {
        s.log_level = config_int(value);
    } else if (key == "bus_0") {
        log::config_text(s.serial_port_name, value);
        const std::size_t digit = value.find_first_of("0123456789");
        if (digit != std::string_view::npos)
            s.serial_port_number = config_int(value.substr(digit));
    } else if (key == "primary_reset") {
        s.primary_reset = config_int(value);
    } else if (key == "primary_start") {
        s.primary_start = config_int(value);
    } else if (key == "link_timing") {
        s.timing.profile = link::timing_profile_named(value);
    } else if (key == "link_pause_ms") {
        s.timing.pause_ms = at_least_zero(config_int(value));
    } else if (key == "link_margin_ms") {
        s.timing.margin_ms = at_least_zero(config_int(value));
    } else if (key == "link_retries") {
        s.timing.retries = at_least_zero(config_int(value));
    } else if (key == "search_max_probes") {
        const int probes = config_int(value);
        s.search_max_probes = probes < 1 ? 1 : probes;
    } else if (key == "debug_fifo") {
        trace::fifo = config_int(value);
    } else if (key == "debug_mbus_control") {
        trace::control = config_int(value);
    } else if (key == "debug_mbus_encode") {
        decode::set_encode_trace(config_int(value));
    } else if (key == "debug_mbus_decode") {
        decode::set_decode_trace(config_int(value));
    } else if (key == "debug_mbus_transceiver") {
        link::set_transceiver_trace(config_int(value));
    } else if (key == "debug_serial") {
        port::set_serial_trace(config_int(value));
    } else if (key == "debug_fileio") {
        port::set_fileio_trace(config_int(value));
    }
}

} // namespace

int read_configuration(const char* path, settings& out)
{
    if (log::for_each_config_token(path, [&](std::string_view key, std::string_view value) { apply(out, key, value); }) !=
        0) {
        std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
        return -1;
    }
    return 0;
}

} // namespace velkor::control
