#include "control/daemon.h"

namespace velkor::control {

void connect_daemon_state(daemon_state& d, link::bus_line& line, velkor::clock& clock)
{
    d.line = &line;
    d.clock = &clock;
    d.files.directory = d.config.path_output;
    d.files.log = &d.log;
    d.files.clock = &clock;
}

} // namespace velkor::control
