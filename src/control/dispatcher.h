#pragma once
// The dispatcher: one command record run to completion.

#include "control/command_record.h"
#include "control/daemon.h"

namespace velkor::control {

void dispatch_command(daemon_state& d, const command_record& record);

} // namespace velkor::control
