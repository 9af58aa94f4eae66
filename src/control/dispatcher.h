#pragma once
// The dispatcher: one command record run to completion.

#include "control/command_record.h"
#include "control/daemon.h"

namespace velkor::control {

// Before it runs, an older result file of the record's id goes: a command
// that writes nothing must not leave another command's answer in its place.
void dispatch_command(daemon_state& d, const command_record& record);

} // namespace velkor::control
