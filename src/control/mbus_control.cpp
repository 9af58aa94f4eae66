// velkor: the M-Bus master daemon. Reads its configuration, creates and
// drains the command FIFO, opens the serial line and serves command records
// until SIGTERM or SIGINT asks it to end.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "control/daemon.h"
#include "control/dispatcher.h"
#include "control/fifo.h"
#include "link/transceiver.h"
#include "log/stop.h"
#include "log/trace.h"
#include "port/serial.h"
#include "velkor_version.h"

namespace {

using namespace velkor;

constexpr const char* version = "v" VELKOR_VERSION;

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

// --help and --version answer and end the program; true when one was given.
bool answered_help_or_version(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: velkor [--config PATH]\n"
                        "The M-Bus master daemon: serves command records from its FIFO on the serial line.\n"
                        "  --config PATH  configuration file (default %s)\n"
                        "  --help         this text\n"
                        "  --version      the version\n"
                        "See velkor(8) and mbus.conf(5).\n",
                        control::default_config_path);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("velkor " VELKOR_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--config") == 0)
            ++i;
    }
    return false;
}

struct daemon_sink final : control::record_sink {
    control::daemon_state& d;
    link::transceiver& line;
    daemon_sink(control::daemon_state& state, link::transceiver& t) : d(state), line(t) {}
    void check_break() override { link::check_bus_break(line); }
    void dispatch(const control::command_record& record) override
    {
        line.cut_short = false;
        control::dispatch_command(d, record);
        // What the command wrote is not its whole work: no client may take it for that.
        if (line.cut_short && record.id != 0)
            results::drop_result(d.files, record.id, __LINE__, field_view(record.cmd.data(), record.cmd.size()),
                                 "cut short because the daemon is ending");
    }
};


// Large, and alive for the whole process.
control::daemon_state state;
port::serial_port serial;

// The safe point after a stop request: no receive runs any more (each is
// joined before its exchange returns), so the line goes back to the settings
// it had, and nothing half-written stays behind. The FIFO stays for the next run.
int end_daemon()
{
    const int number = stop::requested.load();
    port::serial_close(serial, state.config.serial_port_name.c_str());
    results::remove_temporary_files(state.files);
    text<64> message;
    message.format("velkor: ended by signal %d", number);
    log::log_write(state.log, "mbus_control", __LINE__, 1, message.view());
    std::printf("velkor %s ended \n", version);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (answered_help_or_version(argc, argv))
        return 0;
    const char* path = config_path(argc, argv);
    // Traces reach a log file or pipe line by line, not when a buffer fills.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Before the first output: a standard output nobody reads must not end the daemon.
    const int handlers = stop::install_handlers();
    std::printf("velkor %s started \n", version);
    if (handlers != 0)
        std::perror("velkor: signal handlers");

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
    // Before the FIFO is touched: a second daemon must leave it to the first.
    const int lock = control::lock_command_fifo(fifo);
    if (lock == control::served_elsewhere) {
        std::fprintf(stderr, "velkor: %s is served by another process\n", fifo);
        return 1;
    }
    struct stat before;
    const bool existed = ::lstat(fifo, &before) == 0;
    if (lock < 0 || control::create_command_fifo(fifo) != 0) {
        std::fprintf(stderr, "velkor: cannot create %s%s: %s\n", fifo, lock < 0 ? ".lock" : "",
                     errno == EEXIST ? "it exists and is no FIFO" : std::strerror(errno));
        std::puts("exit mbus - error fifo init");
        return 1;
    }
    control::drain_command_fifo(fifo, !existed);

    port::serial_open(serial, state.config.serial_port_name.c_str(), state.log);
    link::serial_line line(serial, state.config.serial_port_name.c_str());
    link::transceiver transceiver(line, system_clock());
    transceiver.timing = state.config.timing;
    link::trace_timing(transceiver.timing);
    control::connect_daemon_state(state, transceiver, system_clock());
    control::list_clear(state.addresses);
    control::report_unwritable_folders(state);
    results::remove_temporary_files(state.files);  // left by a run that was killed
    results::remove_unfinished_results(state.files);

    daemon_sink sink(state, transceiver);
    while (!stop::is_requested()) {
        std::fflush(stdout);
        if (control::read_command_fifo(fifo, state.log, sink) != 0 && !stop::is_requested()) {
            std::puts("exit mbus - error fifo read");
            return 1;
        }
    }
    return end_daemon();
}
