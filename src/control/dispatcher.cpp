#include "control/dispatcher.h"

namespace velkor::control {

void connect_daemon_state(daemon_state& d, link::bus_line& line, velkor::clock& clock)
{
    d.line = &line;
    d.clock = &clock;
    d.files.directory = d.config.path_output;
    d.files.log = &d.log;
    d.files.clock = &clock;
}

// Placeholder until the dispatcher lands.
void dispatch_command(daemon_state&, const command_record&) {}

} // namespace velkor::control
