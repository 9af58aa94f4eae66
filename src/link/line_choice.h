#pragma once
// Which line a command's bus name selects. The one place that looks at the
// name: the dispatcher asks once per command and stores the answer in the
// bus_context, the link layer only reads it there.

#include "link/bus_context.h"

namespace velkor::link {

// Why a name selected its line.
enum class line_match {
    ttyS_name,     // the name contains "ttyS"
    bus_0_name,    // the name is bus_0's own text (also tcp://HOST:PORT)
    bus_0_device,  // both resolve to the same character device: a by-id or by-path link
    other,         // the file transport, with the name as its path
};

// bus_0 is the configured line's name as the configuration gives it.
line_match match_bus_name(const char* bus_name, const char* bus_0);

line_choice line_for(line_match match);

// "bus_0 <name>, <why>" or "file transport", for the controller trace.
void describe_line(line_match match, const char* bus_0, text<320>& out);

} // namespace velkor::link
