// velkor: the M-Bus master daemon. Reads its configuration, creates and
// drains the command FIFO, opens the serial line and serves command records
// until SIGTERM or SIGINT asks it to end; SIGHUP opens logs and line anew.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "base/stop.h"
#include "base/trace.h"
#include "control/command_line.h"
#include "control/daemon.h"
#include "control/dispatcher.h"
#include "control/fifo.h"
#include "control/service.h"
#include "link/configured_line.h"
#include "link/transceiver.h"
#include "velkor_version.h"

namespace {

using namespace velkor;

constexpr const char* version = "v" VELKOR_VERSION;

// SIGHUP's reopen and the status systemd shows, between two records.
void at_safe_point();

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
        at_safe_point();
    }
    bool done() override
    {
        at_safe_point();
        return false;
    }
};


// Large, and alive for the whole process.
control::daemon_state state;
link::configured_line bus_0_line{system_clock()};

void at_safe_point()
{
    if (control::reopen_requested.load())
        control::reopen_after_hangup(state.log, bus_0_line, state.config.serial_port_name.c_str());
    control::notify_serving(state.notifier, state.config.path_input.view(), state.config.serial_port_name.view(),
                            link::configured_line_open(bus_0_line));
}

// The safe point after a stop request: no receive runs any more (each is
// joined before its exchange returns), so the line goes back to the settings
// it had, and nothing half-written stays behind. The FIFO stays for the next run.
int end_daemon()
{
    const int number = stop::requested.load();
    control::notify(state.notifier, "STOPPING=1");
    link::close_configured_line(bus_0_line);
    results::remove_temporary_files(state.files);
    text<64> message;
    message.format("velkor: ended by signal %d", number);
    log::log_write(state.log, "mbus_control", __LINE__, 1, message.view(), log::entry_kind::notice);
    std::printf("velkor %s ended \n", version);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* path = control::default_config_path;
    switch (control::read_command_line(argc, argv, path)) {
    case control::command_line_outcome::serve: break;
    case control::command_line_outcome::answered: return 0;
    case control::command_line_outcome::refused: return 2;
    }
    // Traces reach a log file or pipe line by line, not when a buffer fills.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Before the first output: a standard output nobody reads must not end the daemon.
    const int handlers = stop::install_handlers() | control::install_reopen_handler();
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
    const bool existed = lock >= 0 && ::lstat(fifo, &before) == 0;
    if (lock < 0 || control::create_command_fifo(fifo) != 0) {
        std::fprintf(stderr, "velkor: cannot create %s%s: %s\n", fifo, lock < 0 ? ".lock" : "",
                     errno == EEXIST ? "it exists and is no FIFO" : std::strerror(errno));
        std::puts("exit mbus - error fifo init");
        return 1;
    }
    control::drain_command_fifo(fifo, !existed);

    link::line_io& line = link::open_configured_line(bus_0_line, state.config.serial_port_name.c_str(), state.log);
    link::transceiver transceiver(line, system_clock());
    transceiver.timing = state.config.timing;
    link::trace_timing(transceiver.timing);
    control::connect_daemon_state(state, transceiver, system_clock());
    control::list_clear(state.addresses);
    control::report_unwritable_folders(state);
    results::remove_temporary_files(state.files);  // left by a run that was killed
    results::remove_unfinished_results(state.files);
    control::notifier_open(state.notifier, std::getenv("NOTIFY_SOCKET"));
    control::notify(state.notifier, "READY=1");
    at_safe_point();

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
