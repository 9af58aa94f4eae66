// velkor: the M-Bus master daemon. Reads its configuration, creates and
// drains the command FIFO, opens the serial line and serves command records
// for the life of the process.

#include <cstdio>
#include <cstring>

#include "control/daemon.h"
#include "control/dispatcher.h"
#include "control/fifo.h"
#include "link/transceiver.h"
#include "log/trace.h"
#include "port/serial.h"

namespace {

using namespace velkor;

constexpr const char* version = "v1.0";

// --config PATH (or --config=PATH); every other argument is ignored.
const char* config_path(int argc, char** argv)
{
    const char* path = control::default_config_path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc)
            path = argv[++i];
        else if (std::strncmp(argv[i], "--config=", 9) == 0)
            path = argv[i] + 9;
    }
    return path;
}

struct daemon_sink final : control::record_sink {
    control::daemon_state& d;
    link::transceiver& line;
    daemon_sink(control::daemon_state& state, link::transceiver& t) : d(state), line(t) {}
    void check_break() override { link::check_bus_break(line); }
    void dispatch(const control::command_record& record) override { control::dispatch_command(d, record); }
};

// Large, and alive for the whole process.
control::daemon_state state;
port::serial_port serial;

} // namespace

int main(int argc, char** argv)
{
    const char* path = config_path(argc, argv);
    // Traces reach a log file or pipe line by line, not when a buffer fills.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("velkor %s started \n", version);

    if (control::read_configuration(path, state.config) != 0)
        return 1;
    if (trace::fifo)
        std::puts("DEBUG_FIFO");
    if (trace::control)
        std::puts("DEBUG_MBUS_CONTROL");
    std::fflush(stdout);

    if (log::read_log_configuration(path, state.log) != 0)
        return 1;

    const char* fifo = state.config.path_input.c_str();
    if (control::create_command_fifo(fifo) != 0) {
        std::puts("exit mbus - error fifo init");
        return 1;
    }
    control::drain_command_fifo(fifo);

    port::serial_open(serial, state.config.serial_port_name.c_str(), state.log);
    link::serial_line line(serial, state.config.serial_port_name.c_str());
    link::transceiver transceiver(line, system_clock());
    transceiver.timing = state.config.timing;
    link::trace_timing(transceiver.timing);
    control::connect_daemon_state(state, transceiver, system_clock());
    control::list_clear(state.addresses);

    daemon_sink sink(state, transceiver);
    for (;;) {
        std::fflush(stdout);
        if (control::read_command_fifo(fifo, state.log, sink) != 0) {
            std::puts("exit mbus - error fifo read");
            return 1;
        }
    }
}
