#pragma once
// The dispatcher: one command record run to completion.

#include <string_view>

#include "control/command_record.h"
#include "control/daemon.h"

namespace velkor::control {

// Before it runs, an older result file of the record's id goes: a command
// that writes nothing must not leave another command's answer in its place.
void dispatch_command(daemon_state& d, const command_record& record);

// Whether the dispatcher runs a command of this name, by its own tests:
// equality, or containing "SETSECADR_" or "FILE".
bool is_command_name(std::string_view cmd);

} // namespace velkor::control
